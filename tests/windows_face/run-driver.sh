#!/usr/bin/env bash
# run-driver.sh WINE-RUN DRIVER.exe ZARVELIN.exe [gtest options]
# Runs the Win32 test driver under Wine against zarvelin.exe. A Wine server keeps the
# desktop of the X display it started on, so the run waits for any earlier one in the
# prefix to wind down first (another test's, on another Xvfb), and for its own after.
set -uo pipefail
wine_run=$1; shift
. "$(dirname "$0")/../../scripts/wine-prefix.sh"
[ -f "$WINEPREFIX/system.reg" ] && timeout 120 wineserver -w 2>/dev/null
"$wine_run" "$@"
status=$?
timeout 60 wineserver -w 2>/dev/null || true
exit $status
