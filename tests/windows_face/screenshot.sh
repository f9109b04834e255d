#!/usr/bin/env bash
# screenshot.sh ZARVELIN.exe OUTPUT.png
# Shows zarvelin.exe under Wine on a private Xvfb and saves its control window.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
exe=$(realpath "$1"); out=$(realpath -m "$2")
exec "$here/tests/scripts/with-xvfb.sh" bash -c '
  "$0" "$1" & pid=$!
  sleep 8
  # The window sits at x = 1920/2 - 250, y = 50, 500 x 170.
  import -window root -crop 500x170+710+50 +repage "$2"
  kill $pid 2>/dev/null; wait $pid 2>/dev/null || true
' "$here/scripts/wine-run.sh" "$exe" "$out"
