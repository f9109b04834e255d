#!/usr/bin/env bash
# demo-headless.sh [OUT_DIR] — a scripted session for a machine with no display.
# Starts a private Xvfb and a PulseAudio null sink, runs the built program, clicks Start
# with the defaults (binaural beats and the stroboscope at 7,80 Hz), lets it run three
# seconds, presses a key and closes the program. Leaves in OUT_DIR (default out/demo):
#   control-window.png   the control window
#   strobe-1..4.png      the screen during the session
#   session.wav          what the sound server played, 44.1 kHz stereo 16-bit
# The program is build/linux/zarvelin, or the one named by ZARVELIN_PROGRAM.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

if [ "${ZARVELIN_DEMO_INNER:-}" != 1 ]; then
  if [ $# -gt 1 ]; then
    echo "demo-headless.sh: too many arguments; usage: demo-headless.sh [OUT_DIR]" >&2
    exit 2
  fi
  out=${1:-out/demo}
  if [ -e "$out" ] && [ ! -d "$out" ]; then
    echo "demo-headless.sh: '$out' exists and is not a folder; name a folder for the results" >&2
    exit 2
  fi
  program=${ZARVELIN_PROGRAM:-$root/build/linux/zarvelin}
  if [ ! -x "$program" ]; then
    echo "demo-headless.sh: no program at '$program'; build it first (cmake --preset linux && cmake --build build/linux)" >&2
    exit 2
  fi
  for tool in Xvfb pulseaudio parec xdotool import; do
    command -v "$tool" >/dev/null || { echo "demo-headless.sh: '$tool' is missing (Debian: xvfb pulseaudio pulseaudio-utils xdotool imagemagick)" >&2; exit 2; }
  done
  mkdir -p "$(dirname "$out")"
  out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")
  # Everything is made in a scratch folder first and moved into place once complete.
  work=$(mktemp -d "${out%/}.partial.XXXXXX")
  trap 'rm -rf "$work"' EXIT
  ZARVELIN_DEMO_INNER=1 "$root/tests/scripts/with-xvfb.sh" "$root/tests/scripts/with-pulse.sh" \
    "$0" "$work" "$program"
  mkdir -p "$out"
  mv -f "$work"/* "$out"/
  echo "demo: control window, strobe frames and sound in $out"
  ls -l "$out"
  exit 0
fi

# Inside the private X and sound servers.
work=$1
program=$2
parec -d null.monitor --format=s16le --rate=44100 --channels=2 --latency-msec=20 > "$work/session.raw" &
rec=$!
trap 'kill $rec 2>/dev/null || true' EXIT

/usr/bin/python3 - "$program" "$work" "$root/tests/linux_face" <<'PY'
import os, subprocess, sys, time
program, work, helpers = sys.argv[1:4]
sys.path.insert(0, helpers)
import xsession as xs

d = xs.Display()
width, height = map(int, xs.xdotool("getdisplaygeometry").split())
proc = xs.start_program(program, os.path.join(work, "program.log"))
try:
    control = xs.control_window()
    x, y, w, h = xs.window_geometry(control)
    xs.wait_for(lambda: d.pixel(x + 2, y + 2) != (0, 0, 0), "the control window painted")
    time.sleep(0.3)
    subprocess.run(["import", "-window", str(control), os.path.join(work, "control-window.png")], check=True)
    xs.click_in(control, 215 + 35, 95 + 15)
    started = time.monotonic()
    stim = xs.wait_for(lambda: d.full_screen_windows(width, height), "the stimulation window")[0]
    for i in range(1, 5):
        time.sleep(0.35)
        subprocess.run(["import", "-window", "root", os.path.join(work, "strobe-%d.png" % i)], check=True)
    time.sleep(max(0.0, 3.0 - (time.monotonic() - started)))
    xs.xdotool("key", "space")
    xs.wait_for(lambda: not d.viewable(stim), "the stimulation window to go")
    time.sleep(0.5)  # the tail of the sound, then the silence after the key
    d.close_window(control)
    code = proc.wait(timeout=15)
    if code != 0:
        sys.exit("demo: the program ended with code %d" % code)
finally:
    if proc.poll() is None:
        proc.kill()
PY

kill $rec 2>/dev/null || true
wait $rec 2>/dev/null || true
/usr/bin/python3 - "$work/session.raw" "$work/session.wav" <<'PY'
import sys, wave
raw, out = sys.argv[1:3]
data = open(raw, "rb").read()
data = data[:len(data) // 4 * 4]
with wave.open(out, "wb") as w:
    w.setnchannels(2)
    w.setsampwidth(2)
    w.setframerate(44100)
    w.writeframes(data)
PY
rm -f "$work/session.raw" "$work/program.log"
