#!/usr/bin/env bash
# with-weston.sh COMMAND...
# Runs COMMAND with WAYLAND_DISPLAY on a private weston (desktop shell, plain background,
# no panel, no animations) whose output (1024x768, or ZARVELIN_WESTON_SIZE=WIDTHxHEIGHT
# within the X screen) is a window of class "Weston Compositor" on DISPLAY: run it under
# with-xvfb.sh. xdotool input into that window reaches the compositor's clients, and its
# pixels are what the compositor shows. WAYLAND_DISPLAY is an absolute path, so a later
# change of XDG_RUNTIME_DIR (with-pulse.sh) does not lose it.
set -euo pipefail
[ -n "${DISPLAY:-}" ] || { echo "with-weston: DISPLAY is unset; run it under with-xvfb.sh" >&2; exit 1; }
command -v weston >/dev/null || { echo "with-weston: weston is missing (Debian: weston)" >&2; exit 1; }
size=${ZARVELIN_WESTON_SIZE:-1024x768}
[[ $size =~ ^[0-9]+x[0-9]+$ ]] || { echo "with-weston: ZARVELIN_WESTON_SIZE='$size'; give WIDTHxHEIGHT" >&2; exit 2; }
dir=$(mktemp -d /tmp/zarvelin-weston.XXXXXX)
chmod 700 "$dir"
printf '%s\n' '[core]' idle-time=0 '[shell]' background-color=0xff203040 panel-position=none \
  locking=false animation=none close-animation=none startup-animation=none focus-animation=none >"$dir/weston.ini"
socket=wayland-zarvelin
XDG_RUNTIME_DIR="$dir" weston --backend=x11-backend.so --socket="$socket" --use-pixman --width="${size%x*}" \
  --height="${size#*x}" --idle-time=0 --config="$dir/weston.ini" >"$dir/weston.log" 2>&1 &
pid=$!
trap 'kill $pid 2>/dev/null; wait $pid 2>/dev/null; rm -rf "$dir"' EXIT
# Running once its socket is there and its output window is mapped.
running() { [ -S "$dir/$socket" ] && xdotool search --class "^Weston Compositor$" >/dev/null 2>&1; }
for _ in $(seq 1 100); do running && break; kill -0 $pid 2>/dev/null || break; sleep 0.1; done
[ -S "$dir/$socket" ] && kill -0 $pid 2>/dev/null || { echo "with-weston: weston did not start:" >&2; cat "$dir/weston.log" >&2; exit 1; }
export WAYLAND_DISPLAY="$dir/$socket"
"$@"
