#!/usr/bin/env bash
# sound_test.sh EMULATOR PROBE FRAMES play MODE FREQUENCY MILLISECONDS SESSIONS MIN_FRAMES [RENDER]
# sound_test.sh EMULATOR PROBE FRAMES no-device
# Run inside tests/scripts/with-pulse.sh (play) or with-pulse.sh --no-device (no-device).
# play: records the null sink's monitor while the probe plays SESSIONS sessions, then
#   checks the recording against the frames each session computed (the probe says how
#   many blocks that was): every sound heard must be exactly the expected samples, and each
#   session must be heard for at least MIN_FRAMES frames. Given the renderer RENDER, the
#   first session's frames must also be exactly what it writes for the same settings.
# no-device: with no sound server the worker of every session ends by itself, having
#   computed nothing, and the probe exits normally.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
emulator=$1 probe=$2 frames=$3 what=$4
shift 4
work=$(mktemp -d /tmp/zarvelin-sound-test.XXXXXX)
recorder=""
cleanup() {
  if [ -n "$recorder" ]; then kill "$recorder" 2>/dev/null || true; wait "$recorder" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

case "$what" in
play)
  mode=$1 frequency=$2 ms=$3 sessions=$4 min_frames=$5 render=${6:-}
  parec -d null.monitor --format=s16le --rate=44100 --channels=2 >"$work/recording.raw" &
  recorder=$!
  # The recording must be running before the first sample plays.
  for _ in $(seq 1 100); do
    [ -n "$(pactl list short source-outputs)" ] && break
    sleep 0.1
  done
  [ -n "$(pactl list short source-outputs)" ] || { echo "parec did not start recording" >&2; exit 1; }

  "$emulator" "$probe" "$mode" "$frequency" "$ms" "$sessions" | tr -d '\r' | tee "$work/probe.txt"
  # What is still in the server's buffers reaches the monitor within a moment.
  sleep 1
  kill "$recorder"; wait "$recorder" 2>/dev/null || true; recorder=""

  expected=()
  draws=0
  for s in $(seq 1 "$sessions"); do
    blocks=$(sed -n "s/^session $s: blocks \([0-9]*\)$/\1/p" "$work/probe.txt")
    if [ -z "$blocks" ] || [ "$blocks" -lt 3 ]; then
      echo "FAIL: session $s computed ${blocks:-no} blocks; a live device takes at least 3 in this time" >&2
      exit 1
    fi
    count=$((blocks * 12288))
    "$emulator" "$frames" "$mode" "$frequency" "$count" "$work/expected$s.raw" "$draws"
    expected+=("$work/expected$s.raw")
    draws=$((draws + count))
  done
  if [ -n "$render" ]; then
    # The renderer writes round(seconds * 44100) frames; six decimals pin the count down.
    seconds=$(awk -v n="$(($(stat -c %s "$work/expected1.raw") / 4))" 'BEGIN { printf "%.6f", n / 44100 }')
    hz=$(printf '%d.%02d' $((frequency / 100)) $((frequency % 100)))
    "$emulator" "$render" --frequency "$hz" --sound "$mode" --seconds "$seconds" --output "$work/render.wav"
    /usr/bin/python3 - "$work/render.wav" "$work/expected1.raw" <<'PY'
import sys
wav = open(sys.argv[1], "rb").read()
expected = open(sys.argv[2], "rb").read()
at = wav.find(b"data", 12)
size = int.from_bytes(wav[at + 4:at + 8], "little")
payload = wav[at + 8:at + 8 + size]
if payload != expected:
    sys.exit(f"FAIL: the renderer's {len(payload)} bytes differ from the session's {len(expected)} bytes")
print(f"renderer: the same {size // 4} frames")
PY
  fi
  /usr/bin/python3 "$here/compare_runs.py" "$min_frames" "$work/recording.raw" "${expected[@]}"
  ;;
no-device)
  "$emulator" "$probe" binaural 780 1500 2 | tr -d '\r' | tee "$work/probe.txt"
  for s in 1 2; do
    grep -qx "session $s: blocks 0" "$work/probe.txt" ||
      { echo "FAIL: session $s should have ended without computing a block" >&2; exit 1; }
  done
  ;;
*)
  echo "sound_test.sh: unknown check \"$what\": use play or no-device" >&2
  exit 2
  ;;
esac
