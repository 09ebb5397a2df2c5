#!/usr/bin/env bash
# Installs everything the build and the tests need on Debian 12, as root,
# without questions. Does nothing when all of it is already there.
# Only Debian's archive (and, for the page tests, the npm registry) is used.
set -euo pipefail

packages=(
    cmake ninja-build g++ make file util-linux python3 openssl
    clang libclang-rt-14-dev clang-tidy # fuzzing, lint
    googletest                          # sources, built with each compiler
    g++-mingw-w64-i686 binutils-mingw-w64-i686
    wine wine32:i386 xvfb xauth fonts-wine fonts-wqy-microhei
    chromium                            # the page tests
    libbenchmark-dev libpugixml-dev libtinyxml2-dev libexpat1-dev pkg-config
    locales                             # zh_CN.UTF-8, the locale Wine runs in
)

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi

# Wine takes its code page (936) and the encoding of Unix file names from
# the locale; without the locale on this machine, Chinese file names fail.
generate_locale() {
    if locale -a 2>/dev/null | grep -qix 'zh_CN\.utf-\?8'; then
        return
    fi
    echo "setup: generating the zh_CN.UTF-8 locale"
    if ! grep -qx 'zh_CN.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
        echo 'zh_CN.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
    fi
    $sudo locale-gen >/dev/null
}

missing=()
for p in "${packages[@]}"; do
    if [ "$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null)" != "installed" ]; then
        missing+=("$p")
    fi
done
if [ ${#missing[@]} -eq 0 ]; then
    generate_locale
    exit 0
fi

echo "setup: installing ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -qq
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "setup: done"
generate_locale
