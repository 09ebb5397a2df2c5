#!/usr/bin/env bash
# Builds and runs every suite, goes on past a failing one, and ends with one
# line "N passed, N failed, N skipped" over all of them. Exit code 0 only when
# nothing failed. Called by `make test`.
set -u
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
reports="$root/build/reports"
rm -rf "$reports"
mkdir -p "$reports"
: "${WAYFARER_FUZZ_SECONDS:=20}"

failed_steps=0
# counts REPORT: "TESTS FAILURES SKIPPED" of a JUnit report (CTest's or node's):
# one <testcase> per test, with a <failure> or <skipped> inside when so.
counts() {
    [ -f "$1" ] || return 0
    local t f k
    t=$(grep -o '<testcase[ >]' "$1" | wc -l)
    f=$(grep -o '<failure[ >/]' "$1" | wc -l)
    k=$(grep -o '<skipped[ >/]' "$1" | wc -l)
    echo "$t $f $k"
}
failures_in() {
    local c
    c=$(counts "$1")
    set -- $c
    echo "${2:-0}"
}

step() {  # step NAME COMMAND...: a step that fails counts as one failure
    local name=$1
    shift
    echo "== $name"
    if ! "$@"; then
        echo "!! $name failed"
        failed_steps=$((failed_steps + 1))
        return 1
    fi
}

suite() {  # suite PRESET [CONFIGURE ARGS...]: configure, build, test
    local preset=$1
    shift
    step "configure $preset" cmake --preset "$preset" -Wno-dev "$@" >"$reports/$preset.configure.log" 2>&1 \
        || { tail -20 "$reports/$preset.configure.log"; return 1; }
    step "build $preset" cmake --build --preset "$preset" || return 1
    echo "== test $preset"
    if ! ctest --preset "$preset" --output-junit "$reports/$preset.xml"; then
        # Failing tests are counted from the report; a run that failed
        # without any (a crash while listing tests, say) counts once here.
        if [ "$(failures_in "$reports/$preset.xml")" = 0 ]; then
            echo "!! test $preset failed without a failing test in its report"
            failed_steps=$((failed_steps + 1))
        fi
    fi
}

suite native
suite windows-test
# The product is a 32-bit Windows program: make sure that is what the build makes.
pe32() {
    local f bad=0
    for f in "$@"; do
        if ! file -b "$f" | grep -q '^PE32 executable.*Intel 80386'; then
            echo "not a 32-bit x86 PE: $f: $(file -b "$f")"
            bad=1
        fi
    done
    [ $# -gt 0 ] && [ $bad -eq 0 ]
}
step "windows-test programs are 32-bit PE" pe32 build/windows-test/tests/*/*.exe
WINEPREFIX="$root/build/wineprefix" wineserver -k 2>/dev/null || true
step "clang-tidy bugprone checks" scripts/tidy.sh
suite fuzz -DWAYFARER_FUZZ_SECONDS="$WAYFARER_FUZZ_SECONDS"
suite bench
# Suites of other kinds hook in with a script that writes a JUnit report.
for hook in scripts/test-*.sh; do
    [ "$hook" = scripts/test-all.sh ] && continue
    [ -x "$hook" ] || continue
    name=$(basename "$hook" .sh)
    name=${name#test-}
    echo "== test $name"
    if ! "$hook" "$reports/$name.xml"; then
        if [ "$(failures_in "$reports/$name.xml")" = 0 ]; then
            echo "!! test $name failed without a failing test in its report"
            failed_steps=$((failed_steps + 1))
        fi
    fi
done
step "configure windows" cmake --preset windows -Wno-dev >"$reports/windows.configure.log" 2>&1 &&
    step "build windows" cmake --build --preset windows

passed=0
failed=0
skipped=0
for f in "$reports"/*.xml; do
    [ -f "$f" ] || continue
    read -r t fl sk < <(counts "$f")
    passed=$((passed + t - fl - sk))
    failed=$((failed + fl))
    skipped=$((skipped + sk))
done
failed=$((failed + failed_steps))
echo
echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
