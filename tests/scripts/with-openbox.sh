#!/usr/bin/env bash
# with-openbox.sh COMMAND...
# Runs COMMAND with the openbox window manager on the X server of DISPLAY (run it under
# with-xvfb.sh): windows get frames and placement, and Alt+F4 is the window manager's
# close, sent to the window that has the focus.
set -euo pipefail
[ -n "${DISPLAY:-}" ] || { echo "with-openbox: DISPLAY is unset; run it under with-xvfb.sh" >&2; exit 1; }
command -v openbox >/dev/null || { echo "with-openbox: openbox is missing (Debian: openbox)" >&2; exit 1; }
dir=$(mktemp -d /tmp/zarvelin-openbox.XXXXXX)
# Its own configuration folder: the stock key bindings (Alt+F4 closes), no session.
export XDG_CONFIG_HOME="$dir/config"
mkdir -p "$XDG_CONFIG_HOME"
openbox --sm-disable >"$dir/openbox.log" 2>&1 &
pid=$!
trap 'kill $pid 2>/dev/null; wait $pid 2>/dev/null; rm -rf "$dir"' EXIT
# The window manager is running once the root window names its check window.
for _ in $(seq 1 100); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
  kill -0 $pid 2>/dev/null || break
  sleep 0.1
done
xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" \
  || { echo "with-openbox: openbox did not start:" >&2; cat "$dir/openbox.log" >&2; exit 1; }
"$@"
