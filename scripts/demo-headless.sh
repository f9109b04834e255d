#!/usr/bin/env bash
# demo-headless.sh [OUT_DIR] — a scripted session for a machine with no display.
# Starts a private Xvfb and a PulseAudio null sink, runs the built program, clicks Start
# with the defaults (binaural beats and the stroboscope at 7,80 Hz), lets it run three
# seconds, presses a key and closes the program. Leaves in OUT_DIR (default out/demo):
#   control-window.png   the control window
#   strobe-1..4.png      the screen during the session
#   session.wav          what the sound server played, 44.1 kHz stereo 16-bit
# The program is build/linux/zarvelin, or the one named by ZARVELIN_PROGRAM.
# The sound server is whichever this machine has: a private PulseAudio when `pulseaudio`
# is installed, else a private PipeWire (pipewire, wireplumber, pipewire-pulse) in its
# own D-Bus session; ZARVELIN_SOUND_SERVER=pulseaudio|pipewire chooses. Either way the
# user's own sound server is never touched.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

# A private PipeWire with a null sink, for the inner run: the same folders and names as
# tests/scripts/with-pulse.sh gives PulseAudio. Runs inside dbus-run-session.
if [ "${ZARVELIN_DEMO_INNER:-}" = pipewire ]; then
  shift_args=("$@")
  dir=$(mktemp -d /tmp/zarvelin-pipewire.XXXXXX)
  export HOME="$dir/home" XDG_RUNTIME_DIR="$dir/run"
  mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
  chmod 700 "$XDG_RUNTIME_DIR"
  unset PULSE_SERVER PULSE_SINK PIPEWIRE_REMOTE
  pids=()
  cleanup() {
    [ ${#pids[@]} -eq 0 ] || kill "${pids[@]}" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$dir"
  }
  trap cleanup EXIT
  pipewire >"$dir/pipewire.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 1 50); do [ -S "$XDG_RUNTIME_DIR/pipewire-0" ] && break; sleep 0.1; done
  wireplumber >"$dir/wireplumber.log" 2>&1 &
  pids+=($!)
  pipewire-pulse >"$dir/pipewire-pulse.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 1 100); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
  pactl info >/dev/null 2>&1 || { echo "demo-headless.sh: the private PipeWire did not start:" >&2; cat "$dir"/*.log >&2; exit 1; }
  pactl load-module module-null-sink sink_name=null rate=44100 channels=2 >/dev/null
  for _ in $(seq 1 50); do pactl list short sinks | grep -q $'\tnull\t' && break; sleep 0.1; done
  pactl set-default-sink null
  pactl set-sink-volume null 100%
  printf 'pcm.!default { type pulse }\nctl.!default { type pulse }\n' > "$HOME/.asoundrc"
  ZARVELIN_DEMO_INNER=1 "$0" "${shift_args[@]}"
  exit 0
fi

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
  server=${ZARVELIN_SOUND_SERVER:-}
  if [ -z "$server" ]; then
    if command -v pulseaudio >/dev/null; then server=pulseaudio
    elif command -v pipewire-pulse >/dev/null; then server=pipewire
    else
      echo "demo-headless.sh: no sound server here: install pulseaudio, or pipewire with pipewire-pulse and wireplumber" >&2
      exit 2
    fi
  fi
  case $server in
    pulseaudio) server_tools=(pulseaudio) ;;
    pipewire) server_tools=(pipewire pipewire-pulse wireplumber dbus-run-session) ;;
    *) echo "demo-headless.sh: ZARVELIN_SOUND_SERVER='$server'; give pulseaudio or pipewire" >&2; exit 2 ;;
  esac
  for tool in Xvfb "${server_tools[@]}" pactl parec xdotool import; do
    command -v "$tool" >/dev/null || { echo "demo-headless.sh: '$tool' is missing (Debian: xvfb pulseaudio-utils xdotool imagemagick, and pulseaudio or pipewire-pulse with wireplumber)" >&2; exit 2; }
  done
  mkdir -p "$(dirname "$out")"
  out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")
  # Everything is made in a scratch folder first and moved into place once complete.
  work=$(mktemp -d "${out%/}.partial.XXXXXX")
  trap 'rm -rf "$work"' EXIT
  if [ "$server" = pulseaudio ]; then
    ZARVELIN_DEMO_INNER=1 "$root/tests/scripts/with-xvfb.sh" "$root/tests/scripts/with-pulse.sh" \
      "$0" "$work" "$program"
  else
    ZARVELIN_DEMO_INNER=pipewire "$root/tests/scripts/with-xvfb.sh" dbus-run-session -- \
      "$0" "$work" "$program"
  fi
  mkdir -p "$out"
  mv -f "$work"/* "$out"/
  echo "demo: control window, strobe frames and sound in $out"
  ls -l "$out"
  exit 0
fi

# Inside the private X and sound servers.
work=$1
program=$2
/usr/bin/python3 - "$program" "$work" "$root/tests" <<'PY'
import os, subprocess, sys, time
program, work, tests = sys.argv[1:4]
sys.path.insert(0, os.path.join(tests, "linux_face"))
sys.path.insert(0, os.path.join(tests, "harness"))
import pulse_recording as pr
import xsession as xs

# The sound is recorded from before the program starts until it has ended.
rec = pr.Recorder(latency_ms=20)
rec.wait_for_data()
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
    data = rec.stop()
pr.write_wav(os.path.join(work, "session.wav"), data)
PY
rm -f "$work/program.log"
