#!/usr/bin/env bash
# The program's main job: installs what is missing, builds the Linux face and opens it.
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

echo "No display here (DISPLAY is unset or unreachable): running a scripted session headless instead."
exec scripts/demo-headless.sh "${1:-out/demo}"
