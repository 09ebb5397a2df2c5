#!/usr/bin/env bash
# The console checker's self-update end to end under Wine.
#   update_e2e.sh WINE_RUN UPDATE_E2E_TESTS_EXE WORK_DIR
# Runs update_e2e_tests.exe (which makes the test CA trusted and serves the
# documents and executables of its cases from the served folder) against
# the fake bank server, in a Wine prefix of the run's own (bank_server.sh):
# the update registers files for the next start of Windows, which must not
# reach a shared prefix.
set -u
run=$1 tests_exe=$2 work=$3
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=bank_server.sh
. "$here/bank_server.sh"
e2e_begin "$work" 580
"$run" "$tests_exe" </dev/null
