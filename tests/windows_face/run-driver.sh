#!/usr/bin/env bash
# run-driver.sh WINE-RUN DRIVER.exe ZARVELIN.exe [gtest options]
# Runs the Win32 test driver under Wine against zarvelin.exe. A Wine server keeps the
# desktop of the X display it started on, so the run waits for any earlier one in the
# prefix to wind down first (another test's, on another Xvfb), and for its own after.
set -uo pipefail
wine_run=$1; shift
"$wine_run" --can-run || exit 77
"$wine_run" --wait-server 120
"$wine_run" "$@"
status=$?
"$wine_run" --wait-server 60
exit $status
