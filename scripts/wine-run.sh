#!/usr/bin/env bash
# wine-run.sh PROGRAM.exe [ARGS...]   runs a Windows program under Wine
# wine-run.sh --can-run               exits 0 where Wine can run this prefix's programs,
#                                     else says why and exits 77 (a test's "skipped")
# wine-run.sh --wait-server [SECONDS] waits, bounded, for the prefix's Wine server to end
# wine-run.sh --prefix                prints the prefix's folder
# The program runs in the project's own quiet prefix (scripts/wine-prefix.sh), made on
# first use. Its windows are managed, as on a desktop: the tests that show windows run
# a window manager (tests/scripts/with-openbox.sh). Without one Wine waits about 2 s in
# every hide of a window; with windows left unmanaged instead, the X server's focus
# events of a window hidden and shown again within moments arrive late and hand the
# foreground to the desktop, so keys reach no window of the program.
set -euo pipefail
. "$(dirname "$0")/wine-prefix.sh"
export WINEDEBUG="${WINEDEBUG:--all}"
case "${1:-}" in
  --can-run)
    why=$(zarvelin_wine_can_run) && exit 0
    echo "SKIP: $why"
    exit 77 ;;
  --prefix)
    echo "$WINEPREFIX"
    exit 0 ;;
  --wait-server)
    [ -f "$WINEPREFIX/system.reg" ] || exit 0
    timeout "${2:-60}" wineserver -w 2>/dev/null || true
    exit 0 ;;
esac
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  exec 9>"$WINEPREFIX.lock"
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$ZARVELIN_WINE" wineboot -i >/dev/null 2>&1 || true
    wineserver -w || true
  fi
  flock -u 9
fi
exec "$ZARVELIN_WINE" "$@"
