#!/usr/bin/env bash
# with-xvfb.sh COMMAND...
# Runs COMMAND with DISPLAY on a private Xvfb server (1920x1080x24, no window manager) on
# the first free display number.
set -euo pipefail
dir=$(mktemp -d /tmp/zarvelin-xvfb.XXXXXX)
# -noreset: an X server resets when its last client leaves, turning away whoever connects
# meanwhile; the readiness check below is such a client, and the next one would be refused.
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset 3>"$dir/display" 2>"$dir/xvfb.log" &
pid=$!
trap 'kill $pid 2>/dev/null; wait $pid 2>/dev/null; rm -rf "$dir"' EXIT
for _ in $(seq 1 100); do [ -s "$dir/display" ] && break; sleep 0.1; done
[ -s "$dir/display" ] || { echo "with-xvfb: Xvfb did not start:" >&2; cat "$dir/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$dir/display")"
# The number comes as the sockets open, but a client is served once the root window
# answers (on a loaded machine one that connects at once may be turned away).
answers() { xprop -root _NET_SUPPORTED >/dev/null 2>&1; }
for _ in $(seq 1 100); do answers && break; kill -0 $pid 2>/dev/null || break; sleep 0.1; done
answers || { echo "with-xvfb: Xvfb on $DISPLAY does not answer:" >&2; cat "$dir/xvfb.log" >&2; exit 1; }
"$@"
