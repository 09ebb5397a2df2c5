# Sourced by the end-to-end runners. Gives a run a Wine prefix of its own
# (removed at the end, with everything the tests wrote into it), a test CA
# with a server certificate for "localhost" and one from a CA nobody trusts,
# and the fake bank server on free ports of 127.0.0.1.
#   e2e_begin WORK_DIR LIFETIME_SECONDS
# afterwards: $work/www is served, $work/requests.log logs, $port and
# $untrusted_port are the ports, and WAYFARER_E2E_* describe them to the
# test programs (paths as Wine sees them).
e2e_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
e2e_server_pid=

winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

e2e_end() {
    [ -n "$e2e_server_pid" ] && kill "$e2e_server_pid" 2>/dev/null && wait "$e2e_server_pid" 2>/dev/null
    WINEPREFIX="$WAYFARER_WINEPREFIX" wineserver -k >/dev/null 2>&1
    WINEPREFIX="$WAYFARER_WINEPREFIX" wineserver -w >/dev/null 2>&1
    rm -rf "$WAYFARER_WINEPREFIX" "$WAYFARER_WINEPREFIX.lock"
}

e2e_make_cert() {  # name, subject, issuer name ("" for a CA)
    if [ -z "$3" ]; then
        openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=$2" \
            -keyout "$work/certs/$1.key" -out "$work/certs/$1.pem" \
            -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
        return
    fi
    printf 'subjectAltName=DNS:localhost\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\nkeyUsage=digitalSignature,keyEncipherment\n' \
        >"$work/certs/$1.ext"
    openssl req -newkey rsa:2048 -nodes -subj "/CN=$2" -keyout "$work/certs/$1.key" -out "$work/certs/$1.csr" 2>/dev/null &&
        openssl x509 -req -days 2 -in "$work/certs/$1.csr" -CA "$work/certs/$3.pem" -CAkey "$work/certs/$3.key" \
            -CAcreateserial -extfile "$work/certs/$1.ext" -out "$work/certs/$1.pem" 2>/dev/null
}

e2e_begin() {
    work=$1
    local lifetime=$2
    rm -rf "$work"
    mkdir -p "$work/certs" "$work/www"
    export WAYFARER_WINEPREFIX="$work/wineprefix"
    trap e2e_end EXIT
    e2e_make_cert ca "Wayfarer Test CA" "" && e2e_make_cert server localhost ca &&
        e2e_make_cert stranger "Wayfarer Untrusted CA" "" && e2e_make_cert untrusted localhost stranger &&
        openssl x509 -in "$work/certs/ca.pem" -outform DER -out "$work/certs/ca.der" ||
        { echo "FAIL: openssl could not make the test certificates"; exit 1; }

    python3 "$e2e_here/fake_bank_server.py" --root "$work/www" --log "$work/requests.log" \
        --cert "$work/certs/server.pem" --key "$work/certs/server.key" \
        --untrusted-cert "$work/certs/untrusted.pem" --untrusted-key "$work/certs/untrusted.key" \
        --port-file "$work/ports" --lifetime "$lifetime" </dev/null >"$work/server.out" 2>&1 &
    e2e_server_pid=$!
    for _ in $(seq 100); do
        [ -s "$work/ports" ] && break
        sleep 0.1
    done
    [ -s "$work/ports" ] || { echo "FAIL: the fake bank server did not start"; cat "$work/server.out"; exit 1; }
    read -r port untrusted_port <"$work/ports"

    export WAYFARER_E2E_PORT=$port WAYFARER_E2E_UNTRUSTED_PORT=$untrusted_port
    export WAYFARER_E2E_ROOT WAYFARER_E2E_LOG WAYFARER_E2E_CA
    WAYFARER_E2E_ROOT=$(winpath "$work/www")
    WAYFARER_E2E_LOG=$(winpath "$work/requests.log")
    WAYFARER_E2E_CA=$(winpath "$work/certs/ca.der")
}
