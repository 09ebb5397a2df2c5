#!/usr/bin/env bash
# The installation queue end to end under Wine against the fake bank server.
#   run_install_e2e.sh WINE_RUN INSTALL_E2E_TESTS_EXE WORK_DIR
# The tests run against the fake bank server in a Wine prefix of the run's
# own (bank_server.sh), removed at the end with everything they installed.
set -u
run=$1 tests_exe=$2
source "$(dirname "${BASH_SOURCE[0]}")/bank_server.sh"
e2e_begin "$3" 380
"$run" "$tests_exe" </dev/null || { echo "FAIL: install_e2e_tests.exe; outputs in $work"; exit 1; }
echo "installation queue end to end: all passed"
