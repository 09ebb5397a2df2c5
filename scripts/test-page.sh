#!/usr/bin/env bash
# The page tests: the assistant's page in Debian's Chromium, driven by
# playwright-core (tests/page). Installs what they need when it is missing
# (Chromium and the CJK font from Debian, the npm packages with `npm ci`),
# then runs them and writes a JUnit report. Usage: scripts/test-page.sh REPORT.xml
set -euo pipefail
report=${1:?usage: scripts/test-page.sh REPORT.xml}
mkdir -p "$(dirname "$report")"
report=$(cd "$(dirname "$report")" && pwd)/$(basename "$report")
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
missing=()
[ -x /usr/bin/chromium ] || missing+=(chromium)
if [ "$(dpkg-query -W -f='${db:Status-Status}' fonts-wqy-microhei 2>/dev/null)" != "installed" ]; then
    missing+=(fonts-wqy-microhei) # Chinese text in the screenshots
fi
if [ ${#missing[@]} -gt 0 ]; then
    echo "test-page: installing ${missing[*]}"
    $sudo apt-get update -qq
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# node_modules is rebuilt whenever the manifest or the lock file changed.
modules=tests/page/node_modules
stamp="$modules/.installed-from"
want=$(cat tests/page/package.json tests/page/package-lock.json | sha256sum | cut -d' ' -f1)
if [ ! -f "$stamp" ] || [ "$(cat "$stamp")" != "$want" ]; then
    echo "test-page: npm ci"
    (cd tests/page && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
    echo "$want" >"$stamp"
fi

exec node --test \
    --test-reporter=spec --test-reporter-destination=stdout \
    --test-reporter=junit --test-reporter-destination="$report" \
    tests/page/
