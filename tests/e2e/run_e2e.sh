#!/usr/bin/env bash
# End to end under Wine against the fake bank server on loopback.
#   run_e2e.sh WINE_RUN HTTP_E2E_TESTS_EXE CLI_EXE WORK_DIR
# Makes a test CA and two server certificates for "localhost" (one from a CA
# nobody trusts), starts fake_bank_server.py on free ports of 127.0.0.1, runs
# http_e2e_tests.exe (which makes the test CA trusted in the prefix) and the
# console checker against it, and stops the server. The run has a Wine
# prefix of its own, removed at the end with everything the CA touched.
set -u
run=$1 tests_exe=$2 cli=$3 work=$4
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
rm -rf "$work"
mkdir -p "$work/certs" "$work/www/perbank/download/812" "$work/cli"
export WAYFARER_WINEPREFIX="$work/wineprefix"
server_pid=
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
    WINEPREFIX="$WAYFARER_WINEPREFIX" wineserver -k >/dev/null 2>&1
    WINEPREFIX="$WAYFARER_WINEPREFIX" wineserver -w >/dev/null 2>&1
    rm -rf "$WAYFARER_WINEPREFIX" "$WAYFARER_WINEPREFIX.lock"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

# Certificates, valid for two days: what the server shows and what Wine trusts.
make_ca() {  # name, subject
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=$2" \
        -keyout "$work/certs/$1.key" -out "$work/certs/$1.pem" \
        -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
}
make_server() {  # name, ca
    openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" \
        -keyout "$work/certs/$1.key" -out "$work/certs/$1.csr" 2>/dev/null
    printf 'subjectAltName=DNS:localhost\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\nkeyUsage=digitalSignature,keyEncipherment\n' \
        >"$work/certs/$1.ext"
    openssl x509 -req -days 2 -in "$work/certs/$1.csr" -CA "$work/certs/$2.pem" -CAkey "$work/certs/$2.key" \
        -CAcreateserial -extfile "$work/certs/$1.ext" -out "$work/certs/$1.pem" 2>/dev/null
}
make_ca ca "Wayfarer Test CA" && make_server server ca &&
    make_ca stranger "Wayfarer Untrusted CA" && make_server untrusted stranger &&
    openssl x509 -in "$work/certs/ca.pem" -outform DER -out "$work/certs/ca.der" ||
    { echo "FAIL: openssl could not make the test certificates"; exit 1; }

python3 "$here/fake_bank_server.py" --root "$work/www" --log "$work/requests.log" \
    --cert "$work/certs/server.pem" --key "$work/certs/server.key" \
    --untrusted-cert "$work/certs/untrusted.pem" --untrusted-key "$work/certs/untrusted.key" \
    --port-file "$work/ports" --lifetime 380 </dev/null >"$work/server.out" 2>&1 &
server_pid=$!
for _ in $(seq 100); do
    [ -s "$work/ports" ] && break
    sleep 0.1
done
[ -s "$work/ports" ] || { echo "FAIL: the fake bank server did not start"; cat "$work/server.out"; exit 1; }
read -r port untrusted_port <"$work/ports"

export WAYFARER_E2E_PORT=$port WAYFARER_E2E_UNTRUSTED_PORT=$untrusted_port
export WAYFARER_E2E_ROOT=$(winpath "$work/www") WAYFARER_E2E_LOG=$(winpath "$work/requests.log")
export WAYFARER_E2E_CA=$(winpath "$work/certs/ca.der")
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
# name | url path | notice shown | registry line | local copy afterwards
cases=(
    "server|/perbank/download/812/item.xml|no|注册表：正常|yes"
    "local_copy|/missing/perbank/download/812/item.xml|yes|注册表：正常|yes"
    "remove|-|-|-|no"
    "built_in|/short/perbank/download/812/item.xml|yes|注册表：不正常|no"
)
for case in "${cases[@]}"; do
    IFS='|' read -r name path shown registry copy <<<"$case"
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
