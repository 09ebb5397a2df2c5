#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's throwaway prefix.
#   scripts/wine-run.sh PROGRAM.exe [ARGS...]
# Creates the prefix once (build/wineprefix, or $WAYFARER_WINEPREFIX), keeps one
# wineserver running so that pipes do not stall after every program, and passes
# the program's output and exit code through. Safe to run concurrently.
# Never touches ~/.wine: WINEPREFIX is always set here.
set -u
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX="${WAYFARER_WINEPREFIX:-$root/build/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=;mshtml="
unset DISPLAY WAYLAND_DISPLAY  # console programs need none; windows get xvfb-run from the caller
# The bank's customers run Chinese Windows: ANSI code page 936. Given through
# env so that this shell does not try to load a locale it may not have.
locale="${WAYFARER_WINE_LOCALE:-zh_CN.UTF-8}"
w() { env LANG="$locale" LC_ALL="$locale" "$@"; }

if [ $# -lt 1 ]; then
    echo "usage: $0 PROGRAM.exe [ARGS...]" >&2
    exit 2
fi

mkdir -p "$(dirname "$WINEPREFIX")"
{
    flock 9
    if [ ! -f "$WINEPREFIX/.wayfarer-ready" ]; then
        rm -rf "$WINEPREFIX"
        if ! w wineboot --init </dev/null >/dev/null 2>&1 9>&-; then
            echo "wine-run: wineboot failed for $WINEPREFIX" >&2
            exit 125
        fi
        w wine reg add 'HKCU\Software\Wine' /v Version /d win10 /f </dev/null >/dev/null 2>&1 9>&-
        wineserver -w
        touch "$WINEPREFIX/.wayfarer-ready"
    fi
    # A persistent server (ending 5 minutes after its last client) started with
    # its output detached, so Wine's background processes hold none of our pipes
    # (nor the lock: they outlive this script).
    if wineserver -p300 </dev/null >/dev/null 2>&1 9>&-; then
        w wine cmd /c exit </dev/null >/dev/null 2>&1 9>&-
    fi
} 9>"$WINEPREFIX.lock"

exec env LANG="$locale" LC_ALL="$locale" wine "$@"
