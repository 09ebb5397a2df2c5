#!/usr/bin/env bash
# clang-tidy's bugprone checks over the project's sources: portable ones from
# the native build, Windows ones from the windows-test build (as mingw sees them).
set -u
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
checks='-*,bugprone-*,-bugprone-easily-swappable-parameters'
status=0
tidy() {  # tidy BUILD_DIR EXTRA_ARGS... -- FILES...
    local dir=$1
    shift
    local args=()
    while [ "$1" != "--" ]; do args+=("$1"); shift; done
    shift
    local out
    out=$(clang-tidy -quiet -p "$dir" --checks="$checks" "${args[@]}" "$@" 2>/dev/null | grep -E 'warning:|error:' | grep -v '/usr/')
    if [ -n "$out" ]; then
        echo "$out"
        status=1
    fi
}
sources() {  # the project's sources in a build's compilation database
    grep -o '"file": *"[^"]*"' "$1/compile_commands.json" | sed 's/.*"\([^"]*\)"$/\1/' |
        grep "^$root/" | grep -E '\.(cpp|cc)$' | grep -v googletest | sort -u
}
mapfile -t portable < <(sources build/native)
mapfile -t windows < <(comm -13 <(sources build/native) <(sources build/windows-test))
tidy build/native -- "${portable[@]}"
mingw=(--extra-arg=--target=i686-w64-mingw32 --extra-arg=-nostdinc++ --extra-arg=-Wno-unknown-warning-option)
while read -r dir; do
    mingw+=("--extra-arg=-isystem$dir")
done < <(echo | i686-w64-mingw32-g++-posix -xc++ -E -v - 2>&1 | sed -n '/search starts here:/,/End of search list/p' | grep '^ ' | sed 's/^ //')
tidy build/windows-test "${mingw[@]}" -- "${windows[@]}"
exit $status
