#!/usr/bin/env bash
# Draws the page's images into app/res/page/images with ImageMagick 6
# (Debian: imagemagick, fonts-wqy-microhei). The images are committed; run
# this only to change them. Sprite offsets here are the ones the page's style
# sheet uses: change both together.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
out="$here/page/images"
# /usr/bin: a stand-in may shadow convert on PATH. No dithering: GIF
# palettes of these smooth gradients look cleaner banded than speckled.
im="/usr/bin/convert +dither"
font=/usr/share/fonts/truetype/wqy/wqy-microhei.ttc
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$out"

navy='#0a3480'
blue='#1a4f9f'
sky='#2f6fce'
orange='#f06000'

# Background of the whole page: the bank's header band with the crescent
# emblem and the product name, a calm grey-blue field below.
$im -size 74x830 gradient:"$navy"-'#1d5fc0' -rotate -90 \
    -fill 'rgba(255,255,255,0.06)' -draw 'circle 700,-120 700,70' \
    -fill 'rgba(255,255,255,0.04)' -draw 'circle 540,150 540,40' "$tmp/band0.png"
$im -size 830x565 xc:'#e8eef6' \
    "$tmp/band0.png" -geometry +0+0 -composite \
    -fill '#0a3480' -draw 'rectangle 0,74 830,74' \
    "$tmp/bg0.png"
# emblem: a white disc with a crescent cut out of it
$im -size 40x40 xc:none -fill white -draw 'circle 20,20 20,2' \
    -fill '#173f8f' -draw 'circle 27,15 27,0' \
    -fill '#f5a623' -draw 'circle 29,28 29,25' "$tmp/emblem.png"
$im "$tmp/bg0.png" "$tmp/emblem.png" -geometry +18+17 -composite \
    -font "$font" -fill white -pointsize 21 -annotate +66+44 'Lunmar银行' \
    -fill 'rgba(255,255,255,0.45)' -draw 'rectangle 186,24 186,46' \
    -fill '#cfe0f7' -pointsize 15 -annotate +198+42 '网银助手' \
    -quality 92 "$out/appbg.jpg"

# Sprite sheet. Column 0: tabs (120x34: normal 0, selected -34, hover -68),
# big buttons (96x30: blue -102, blue hover -132, orange -162, orange hover
# -192), small button (48x20: -222, hover -242), progress frame (235x16:
# -262). Column 240: guide bullets (16x16: closed 0, open -16, step -32) and
# box icons (20x20: -48 system, -68 network, -88 browser, -108 controls).
tab() { # tab FILE TOP BOTTOM BORDER
    $im -size 120x34 gradient:"$2"-"$3" \
        \( -size 120x34 xc:black -fill white -draw 'roundrectangle 0,0 119,40 5,5' -alpha off \) \
        -alpha off -compose CopyOpacity -composite -compose Over \
        -fill none -stroke "$4" -draw 'roundrectangle 0,0 119,40 5,5' "$1"
}
tab "$tmp/tab0.png" '#3d76c9' '#245aa9' '#4f86d4'
tab "$tmp/tab1.png" '#ffffff' '#ffffff' '#ffffff'
tab "$tmp/tab2.png" '#5290e0' '#2f68ba' '#6a9fe4'
button() { # button FILE W H TOP BOTTOM BORDER
    local w=$2 h=$3
    $im -size "${w}x${h}" gradient:"$4"-"$5" \
        \( -size "${w}x${h}" xc:black -fill white -draw "roundrectangle 0,0 $((w - 1)),$((h - 1)) 3,3" -alpha off \) \
        -alpha off -compose CopyOpacity -composite -compose Over \
        -fill none -stroke "$6" -draw "roundrectangle 0,0 $((w - 1)),$((h - 1)) 3,3" \
        -stroke 'rgba(255,255,255,0.35)' -draw "line 3,1 $((w - 4)),1" "$1"
}
button "$tmp/b0.png" 96 30 '#3b7bd6' '#1d55a8' '#174a94'
button "$tmp/b1.png" 96 30 '#4f8fe6' '#2663b8' '#174a94'
button "$tmp/b2.png" 96 30 '#ff9440' "$orange" '#c94f00'
button "$tmp/b3.png" 96 30 '#ffa55c' '#f46f14' '#c94f00'
button "$tmp/s0.png" 48 20 '#ffffff' '#e4ecf7' '#8fa9cf'
button "$tmp/s1.png" 48 20 '#f4f9ff' '#d3e3f7' '#5f87c2'
$im -size 235x16 xc:none -fill '#e6edf6' -stroke '#9cb3d3' \
    -draw 'roundrectangle 0,0 234,15 3,3' \
    -stroke none -fill '#d5e0ee' -draw 'rectangle 2,1 232,1' "$tmp/frame.png"
$im -size 16x16 xc:none -fill "$blue" -draw 'polygon 5,3 12,8 5,13' "$tmp/closed.png"
$im -size 16x16 xc:none -fill "$orange" -draw 'polygon 3,5 13,5 8,12' "$tmp/open.png"
$im -size 16x16 xc:none -fill "$sky" -draw 'circle 8,8 8,5' "$tmp/step.png"
$im -size 20x20 xc:none -fill "$blue" -draw 'roundrectangle 1,2 18,14 2,2' \
    -fill '#dbe8fa' -draw 'rectangle 3,4 16,12' \
    -fill "$blue" -draw 'rectangle 8,14 11,17' -draw 'rectangle 5,17 14,18' "$tmp/i-sys.png"
$im -size 20x20 xc:none -fill none -stroke "$blue" -strokewidth 1.6 \
    -draw 'circle 10,10 10,2' -draw 'ellipse 10,10 3.5,8 0,360' \
    -draw 'line 2.5,10 17.5,10' -draw 'line 4,6 16,6' -draw 'line 4,14 16,14' "$tmp/i-net.png"
$im -size 20x20 xc:none -fill "$blue" -draw 'roundrectangle 1,2 18,17 2,2' \
    -fill white -draw 'rectangle 3,6 16,15' \
    -fill '#f5a623' -draw 'circle 4,4 4,3' -fill '#dbe8fa' -draw 'rectangle 5,8 14,9' \
    -draw 'rectangle 5,11 11,12' "$tmp/i-web.png"
$im -size 20x20 xc:none -fill "$blue" -draw 'circle 6,10 6,4' \
    -fill white -draw 'circle 6,10 6,8' \
    -fill "$blue" -draw 'rectangle 10,9 19,11' -draw 'rectangle 15,11 16,14' \
    -draw 'rectangle 18,11 19,15' "$tmp/i-key.png"
$im -size 260x280 xc:none \
    "$tmp/tab0.png" -geometry +0+0 -composite \
    "$tmp/tab1.png" -geometry +0+34 -composite \
    "$tmp/tab2.png" -geometry +0+68 -composite \
    "$tmp/b0.png" -geometry +0+102 -composite \
    "$tmp/b1.png" -geometry +0+132 -composite \
    "$tmp/b2.png" -geometry +0+162 -composite \
    "$tmp/b3.png" -geometry +0+192 -composite \
    "$tmp/s0.png" -geometry +0+222 -composite \
    "$tmp/s1.png" -geometry +0+242 -composite \
    "$tmp/frame.png" -geometry +0+262 -composite \
    "$tmp/closed.png" -geometry +240+0 -composite \
    "$tmp/open.png" -geometry +240+16 -composite \
    "$tmp/step.png" -geometry +240+32 -composite \
    "$tmp/i-sys.png" -geometry +240+48 -composite \
    "$tmp/i-net.png" -geometry +240+68 -composite \
    "$tmp/i-web.png" -geometry +240+88 -composite \
    "$tmp/i-key.png" -geometry +240+108 -composite \
    -channel A -threshold 50% +channel "$out/sps.gif"

# Status strip of the check panel, repeated across.
$im -size 4x56 gradient:'#fbfdff'-'#eaf0f8' -fill '#d3dfee' -draw 'rectangle 0,55 3,55' "$out/graybg.gif"
# Panel emblems: a shield with a magnifier for the checks, a question mark
# for the guide (both on the strip's colours).
$im -size 44x44 xc:none -fill "$blue" \
    -draw 'path "M 22,3 L 39,9 L 38,24 C 36,33 30,38 22,42 C 14,38 8,33 6,24 L 5,9 Z"' \
    -fill none -stroke white -strokewidth 2.6 -draw 'circle 20,20 20,12' \
    -strokewidth 3.2 -draw 'line 26,26 31,31' \
    -channel A -threshold 50% +channel -background '#f3f7fb' -alpha remove -alpha off \
    "$out/superscan.gif"
$im -size 44x44 xc:none -fill "$sky" -draw 'circle 22,22 22,3' \
    -fill white -font "$font" -pointsize 26 -gravity center -annotate +0+1 '?' \
    -channel A -threshold 50% +channel -background '#f3f7fb' -alpha remove -alpha off \
    "$out/help.gif"
# Check boxes: title bar over a white body with a thin frame.
box() { # box FILE W H
    local w=$2 h=$3
    $im -size "${w}x${h}" xc:white \
        \( -size "$((w - 2))x29" gradient:'#f5f9fe'-'#e2ebf7' \) -geometry +1+1 -composite \
        -fill "$blue" -draw 'rectangle 1,1 3,29' \
        -fill '#cfdcec' -draw "rectangle 1,30 $((w - 2)),30" \
        -fill none -stroke '#c3d3e8' -draw "rectangle 0,0 $((w - 1)),$((h - 1))" "$1"
}
box "$out/brand.gif" 390 154
box "$out/brand2.gif" 390 180
# Section title of the guide, full width.
$im -size 792x32 gradient:'#f5f9fe'-'#e2ebf7' \
    -fill "$blue" -draw 'rectangle 0,0 2,31' \
    -fill none -stroke '#c3d3e8' -draw 'rectangle 0,0 791,31' "$out/longbrand.gif"
# Progress fill: a glossy bar, uniform across so any width looks the same.
$im -size 4x12 gradient:'#8cc0f5'-'#1f62c4' -fill 'rgba(255,255,255,0.35)' \
    -draw 'rectangle 0,0 3,4' "$out/loading.gif"

# The guide's pictures of the two main buttons, with the pointer on them.
$im -size 13x19 xc:none -fill black -stroke white -strokewidth 1 \
    -draw 'polygon 1,1 1,15 4,12 7,18 9,17 6,11 11,11' "$tmp/pointer.png"
guide() { # guide FILE BUTTON TEXT
    $im -size 124x44 xc:'#ffffff' "$2" -geometry +6+6 -composite \
        -font "$font" -pointsize 13 -fill white -gravity northwest \
        -annotate +28+12 "$3" \
        "$tmp/pointer.png" -geometry +88+22 -composite "$1"
}
guide "$out/a.gif" "$tmp/b0.png" '重新检测'
guide "$out/b.gif" "$tmp/b2.png" '一键设置'

# Kept in the resources but not shown by the page.
$im -size 240x34 xc:none "$tmp/tab0.png" -geometry +0+0 -composite \
    "$tmp/tab1.png" -geometry +120+0 -composite "$out/tabs.png"
$im "$out/tabs.png" -channel A -threshold 50% +channel "$out/tabs.gif"
$im -size 16x16 xc:none -fill none -stroke '#003399' -strokewidth 2.4 \
    -draw 'polyline 3,8 7,12 13,4' -channel A -threshold 50% +channel "$out/v.gif"
$im -size 16x16 xc:none -fill none -stroke '#FA5E00' -strokewidth 2.4 \
    -draw 'line 4,4 12,12' -draw 'line 12,4 4,12' -channel A -threshold 50% +channel "$out/x.gif"
echo "images written to $out"
