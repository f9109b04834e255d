#!/usr/bin/env bash
# run-driver.sh WINE-RUN DRIVER.exe ZARVELIN.exe [gtest options]
# Runs the Win32 test driver under Wine against zarvelin.exe, then waits for the
# prefix's Wine server to wind down, so the next test starts one bound to its own
# X display rather than inheriting this one's.
set -uo pipefail
wine_run=$1; shift
"$wine_run" "$@"
status=$?
prefix="${ZARVELIN_WINEPREFIX:-/tmp/zarvelin-wine-$(id -u)}"
WINEPREFIX="$prefix" timeout 60 wineserver -w 2>/dev/null || true
exit $status
