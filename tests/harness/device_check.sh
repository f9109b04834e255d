#!/usr/bin/env bash
# device_check.sh [--emulator RUNNER] PROBE no-device|server-killed|server-frozen|server-frozen-at-open
# Runs inside tests/scripts/with-pulse.sh (with --no-device for no-device), for either
# face's audio probe (the Windows one through its Wine runner). Checks that
# the audio worker ends by itself, promptly, when there is no device or the sound server
# dies or freezes mid-stream, instead of hanging the session. A frozen server is thawed
# once the worker has given up, and the next session must have sound again.
# server-frozen-at-open: the server is frozen before the session, so its device never
# opens; the session's end must end the worker at once, not its bound on the opening.
set -euo pipefail
run=()
if [ "${1:-}" = --emulator ]; then run=("$2"); shift 2; fi
probe=$1 case_=$2
# Where the runner cannot run the probe here, the check is skipped (77), saying why.
if [ ${#run[@]} -gt 0 ]; then "${run[0]}" --can-run || exit 77; fi
# Where programs run slowly (the emulated 32-bit machine sets this whole factor), the
# session after the loss lasts that much longer, so a slow stream start still streams.
last_seconds=$((2 * ${ZARVELIN_TIME_SCALE:-1}))
out=$(mktemp /tmp/zarvelin-device.XXXXXX)
trap 'rm -f "$out"' EXIT
# The probe's clock: CLOCK_MONOTONIC natively; Wine's steady clock is CLOCK_MONOTONIC_RAW.
clock=CLOCK_MONOTONIC
[ ${#run[@]} -gt 0 ] && clock=CLOCK_MONOTONIC_RAW
now_ns() { /usr/bin/python3 -c "import time; print(time.clock_gettime_ns(time.$clock))"; }
report_name="device_check $case_"
. "$(dirname "$0")/report.sh"
report_context() { cat "$out"; }
value() { sed -n "s/^$1=//p" "$out" | tr -d '\r'; }

if [ "$case_" = server-frozen-at-open ]; then
  server_pid=$(cat "$XDG_RUNTIME_DIR/pulse/pid")
  kill -STOP "$server_pid"
  "${run[@]}" "$probe" --frequency 780 --sound binaural --seconds 0.5 --sessions 2 --pause 1 --last-seconds "$last_seconds" >"$out" &
  probe_pid=$!
  for _ in $(seq 1 200); do
    grep -q '^end_ns=' "$out" && break
    kill -0 "$probe_pid" 2>/dev/null || break
    sleep 0.05
  done
  kill -CONT "$server_pid"
  wait "$probe_pid" || die "the probe failed (a hung worker, or no second session)"
  grep -q '^end_ns=' "$out" || die "the first session's worker never ended"
  [ "$(value ended_early)" = 0 ] || die "the worker ended before its session did"
  [ "$(value queued_frames)" = 0 ] || die "blocks were queued on a device that never opened"
  took_ms=$(( ($(value end_ns) - $(value drop_ns)) / 1000000 ))
  # Waiting out the opening would take seconds; the session's end takes milliseconds.
  [ "$took_ms" -le 1000 ] || die "the worker took $took_ms ms after its session ended"
  [ "$(value s2_ended_early)" = 0 ] || die "the session after the thaw lost its device"
  [ "$(value s2_queued_frames)" -ge $((5 * 12288)) ] || die "the session after the thaw did not stream"
  echo "device_check $case_: worker ended ${took_ms} ms after its session"; cat "$out"
  exit 0
fi

# The session would run 30 s; every case must end it long before.
"${run[@]}" "$probe" --frequency 780 --sound binaural --seconds 30 --sessions 2 --pause 1 --last-seconds "$last_seconds" >"$out" &
probe_pid=$!
lost_ns=$(now_ns)

server_pid=""
if [ "$case_" != no-device ]; then
  server_pid=$(cat "$XDG_RUNTIME_DIR/pulse/pid")
  # Mid-stream: the stream is connected and has played past its first blocks.
  for _ in $(seq 1 100); do
    [ -n "$(pactl list short sink-inputs 2>/dev/null)" ] && break
    sleep 0.05
  done
  [ -n "$(pactl list short sink-inputs)" ] || die "the probe never connected to the server"
  sleep 1
  lost_ns=$(now_ns)
  case $case_ in
    server-killed) kill -KILL "$server_pid" ;;
    server-frozen) kill -STOP "$server_pid" ;;
    *) die "unknown case" ;;
  esac
fi

# Only a hang guard: the worker's own bounds add up to a few seconds.
for _ in $(seq 1 200); do
  kill -0 "$probe_pid" 2>/dev/null || break
  if [ "$case_" = server-frozen ] && grep -q '^ended_early=' "$out"; then
    kill -CONT "$server_pid"
  fi
  sleep 0.1
done
if kill -0 "$probe_pid" 2>/dev/null; then
  kill -KILL "$probe_pid"
  [ -n "$server_pid" ] && kill -CONT "$server_pid" 2>/dev/null
  die "the audio worker was still running 20 s after the device was lost"
fi
wait "$probe_pid" || die "the probe failed"
[ -n "$server_pid" ] && kill -CONT "$server_pid" 2>/dev/null || true

[ "$(value ended_early)" = 1 ] || die "the worker did not end while the session ran"
end_ns=$(value end_ns)
took_ms=$(( (end_ns - lost_ns) / 1000000 ))
# The device wait (2 s) and the stop (2 s) are the worker's bounds; 4 s more only
# absorbs scheduling.
[ "$took_ms" -le 8000 ] || die "the worker took $took_ms ms to end after the device was lost"
if [ "$case_" = no-device ]; then
  [ "$(value queued_frames)" = 0 ] || die "blocks were queued on a device that never opened"
else
  [ "$(value queued_frames)" -ge $((3 * 12288)) ] || die "the stream never got going before the loss"
fi
if [ "$case_" = server-frozen ]; then
  # Two seconds of a working device queue about nine blocks.
  [ "$(value s2_ended_early)" = 0 ] || die "the session after the thaw lost its device too"
  [ "$(value s2_queued_frames)" -ge $((5 * 12288)) ] || die "the session after the thaw did not stream"
fi
echo "device_check $case_: worker ended ${took_ms} ms after the loss"; cat "$out"
