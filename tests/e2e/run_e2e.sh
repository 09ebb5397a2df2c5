#!/usr/bin/env bash
# End to end under Wine against the fake bank server on loopback.
#   run_e2e.sh WINE_RUN HTTP_E2E_TESTS_EXE CLI_EXE WORK_DIR
# Runs http_e2e_tests.exe (which makes the test CA trusted in the prefix) and
# the console checker against the fake bank server, in a Wine prefix of the
# run's own (bank_server.sh).
set -u
run=$1 tests_exe=$2 cli=$3
source "$(dirname "${BASH_SOURCE[0]}")/bank_server.sh"
e2e_begin "$4" 380
mkdir -p "$work/www/perbank/download/812" "$work/cli"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

"$run" "$tests_exe" </dev/null || fail "http_e2e_tests.exe"

# The console checker takes its document from the server, then from the
# local copy it left in its current directory, then from its resources. A
# document without a registry group passes the registry check; the built-in
# one does not in a fresh prefix, so that line tells the sources apart.
printf '<checkitems><item name="x" type="other"/></checkitems>' >"$work/www/perbank/download/812/item.xml"
cli() {  # name, config url
    (cd "$work/cli" && WAYFARER_TEST_CONFIG_URL=$2 "$run" "$cli" /check </dev/null 2>"$work/$1.err" |
        tr -d '\r' >"$work/$1.out")
}
notice="下载发生错误：下载配置文件失败，请确认你的电脑能够访问银行网站"
# name | url path | notice shown | registry line | local copy afterwards | source line
cases=(
    "server|/perbank/download/812/item.xml|no|注册表：正常|yes|银行服务器"
    "local_copy|/missing/perbank/download/812/item.xml|yes|注册表：正常|yes|本地副本"
    "remove|-|-|-|no|-"
    "built_in|/short/perbank/download/812/item.xml|yes|注册表：不正常|no|内置默认配置"
)
for case in "${cases[@]}"; do
    IFS='|' read -r name path shown registry copy source <<<"$case"
    if [ "$name" = remove ]; then
        rm -f "$work/cli/item.xml"
        continue
    fi
    cli "$name" "https://localhost:$port$path"
    if [ "$shown" = yes ]; then
        grep -qxF "$notice" "$work/$name.out" || fail "$name: the notice was not shown"
    else
        grep -qxF "$notice" "$work/$name.out" && fail "$name: the notice was shown"
    fi
    grep -qxF "配置文件：$source" "$work/$name.out" || fail "$name: the source line is not 配置文件：$source"
    [ "$(grep '^注册表：' "$work/$name.out" | tail -n 1)" = "$registry" ] ||
        fail "$name: expected '$registry', got '$(grep '^注册表：' "$work/$name.out" | tail -n 1)'"
    if [ "$copy" = yes ]; then
        [ -f "$work/cli/item.xml" ] || fail "$name: no local copy in the current directory"
        grep -q checkitems "$work/cli/item.xml" 2>/dev/null && fail "$name: the local copy is not scrambled"
    fi
done
grep -q "^GET /perbank/download/812/item.xml$" "$work/requests.log" || fail "the server saw no request for the document"
grep -vq "^GET " "$work/requests.log" && fail "the server saw a request other than GET"

if [ "$failures" -ne 0 ]; then
    echo "$failures failure(s); outputs in $work"
    exit 1
fi
echo "end to end against the fake bank server: all passed"
