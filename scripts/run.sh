#!/usr/bin/env bash
# The program's main job: installs what is missing, builds the Linux face and opens it, on
# X or on Wayland.
# On a machine with no display it says so and runs a scripted session headless instead
# (Xvfb, a PulseAudio null sink, xdotool), leaving screenshots and the recorded sound in
# the folder it names.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh run
mkdir -p build
if ! { cmake --preset linux && cmake --build --preset linux -j"$(nproc)" --target zarvelin zarvelin-render; } >build/run-build.log 2>&1; then
  tail -n 40 build/run-build.log >&2
  echo "run.sh: the build failed; the whole log is in build/run-build.log" >&2
  exit 1
fi

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  exec build/linux/zarvelin
fi

# A Wayland session with no X server: the compositor's socket is WAYLAND_DISPLAY, a name
# in XDG_RUNTIME_DIR or an absolute path. Qt would try X first unless told.
if [ -n "${WAYLAND_DISPLAY:-}" ]; then
  socket=$WAYLAND_DISPLAY
  case "$socket" in /*) ;; *) socket="${XDG_RUNTIME_DIR:-/nonexistent}/$socket" ;; esac
  if [ -S "$socket" ]; then
    if ! ls /usr/lib/*/qt6/plugins/platforms/libqwayland-*.so >/dev/null 2>&1; then
      echo "run.sh: Qt's Wayland plugin is missing; install it (Debian: apt-get install qt6-wayland)" >&2
      exit 1
    fi
    QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-wayland} exec build/linux/zarvelin
  fi
fi

echo "No display here (neither an X server on DISPLAY nor a Wayland compositor on WAYLAND_DISPLAY): running a scripted session headless instead."
exec scripts/demo-headless.sh "${1:-out/demo}"
