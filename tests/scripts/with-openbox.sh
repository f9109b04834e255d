#!/usr/bin/env bash
# with-openbox.sh COMMAND...
# Runs COMMAND with the openbox window manager on DISPLAY (run it under with-xvfb.sh):
# windows get frames and placement, and Alt+F4 closes the focused window.
set -euo pipefail
[ -n "${DISPLAY:-}" ] || { echo "with-openbox: DISPLAY is unset; run it under with-xvfb.sh" >&2; exit 1; }
command -v openbox >/dev/null || { echo "with-openbox: openbox is missing (Debian: openbox)" >&2; exit 1; }
dir=$(mktemp -d /tmp/zarvelin-openbox.XXXXXX)
# Its own configuration folder: the stock key bindings, no session.
export XDG_CONFIG_HOME="$dir/config"
mkdir -p "$XDG_CONFIG_HOME"
openbox --sm-disable >"$dir/openbox.log" 2>&1 &
pid=$!
trap 'kill $pid 2>/dev/null; wait $pid 2>/dev/null; rm -rf "$dir"' EXIT
# Running once the root window names its check window.
running() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; }
for _ in $(seq 1 100); do running && break; kill -0 $pid 2>/dev/null || break; sleep 0.1; done
running || { echo "with-openbox: openbox did not start:" >&2; cat "$dir/openbox.log" >&2; exit 1; }
"$@"
