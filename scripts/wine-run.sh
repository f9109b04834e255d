#!/usr/bin/env bash
# Runs a 32-bit Windows program under Wine in the project's own quiet 32-bit prefix,
# made on first use. Windows are unmanaged there: with no window manager on the X
# server, Wine otherwise waits about 2 s in every hide of a managed window.
set -euo pipefail
. "$(dirname "$0")/wine-prefix.sh"
export WINEDEBUG="${WINEDEBUG:--all}"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  exec 9>"$WINEPREFIX.lock"
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1 || true
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
    wineserver -w || true
  fi
  flock -u 9
fi
exec wine "$@"
