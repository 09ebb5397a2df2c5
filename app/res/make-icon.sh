#!/usr/bin/env bash
# Draws the window icon wayfarer.ico (a white shield with a check mark on the
# bank's blue) with ImageMagick, in the sizes Windows asks for.
#   app/res/make-icon.sh   (needs: apt-get install -y imagemagick)
set -eu
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
convert -size 240x240 gradient:'#2a6ad0-#002a80' \
    \( -size 240x240 xc:none -fill white -draw 'roundrectangle 0,0 239,239 44,44' \) \
    -compose DstIn -composite -compose over \
    -background none -gravity center -extent 256x256 \
    -fill white -stroke none \
    -draw 'path "M 128,40 L 200,68 L 200,128 C 200,172 168,204 128,220 C 88,204 56,172 56,128 L 56,68 Z"' \
    -stroke '#0a3c9a' -strokewidth 20 -fill none \
    -draw 'stroke-linecap round stroke-linejoin round polyline 96,130 120,154 162,106' \
    -depth 8 "$work/256.png"
sizes=()
for s in 16 24 32 48 64; do
    convert "$work/256.png" -resize "${s}x${s}" -depth 8 "$work/$s.png"
    sizes+=("$work/$s.png")
done
convert "${sizes[@]}" -depth 8 "$work/256.png" "$here/wayfarer.ico"
