#!/usr/bin/env bash
# device_check.sh [--emulator RUNNER] PROBE no-device|server-killed|server-frozen|server-frozen-at-open
# Inside tests/scripts/with-pulse.sh (--no-device for no-device), for either face's audio
# probe: the worker must end by itself, promptly, when there is no device or the server
# dies or freezes mid-stream. A server frozen before the session never opens the device:
# the session's end must end the worker at once, not its bound on the opening. A frozen
# server is thawed once the worker has ended, and the next session must have sound.
set -euo pipefail
run=()
if [ "${1:-}" = --emulator ]; then run=("$2"); shift 2; fi
probe=$1 case_=$2
case $case_ in no-device|server-killed|server-frozen|server-frozen-at-open) ;; *) echo "unknown case $case_" >&2; exit 2 ;; esac
# Skipped (77) where the runner cannot run the probe, saying why.
[ ${#run[@]} -eq 0 ] || "${run[0]}" --can-run || exit 77
report_name="device_check $case_"
. "$(dirname "$0")/report.sh"
out=$(mktemp /tmp/zarvelin-device.XXXXXX)
server_pid=""
[ "$case_" = no-device ] || server_pid=$(cat "$XDG_RUNTIME_DIR/pulse/pid")
frozen=""
trap 'rm -f "$out"; [ -z "$frozen" ] || kill -CONT "$server_pid" || true' EXIT
report_context() { cat "$out"; }
value() { sed -n "s/^$1=//p" "$out" | tr -d '\r'; }
# The probe's clock: CLOCK_MONOTONIC natively; Wine's steady clock is CLOCK_MONOTONIC_RAW.
clock=CLOCK_MONOTONIC${run:+_RAW}
now_ns() { /usr/bin/python3 -c "import time; print(time.clock_gettime_ns(time.$clock))"; }
# The first session would run 30 s (0.5 s at open); every case must end it long before.
# The last session lasts longer where programs run slowly (the emulated 32-bit machine's
# factor), so that a slow stream start still streams.
seconds=30
if [ "$case_" = server-frozen-at-open ]; then seconds=0.5 frozen=1; kill -STOP "$server_pid"; fi
"${run[@]}" "$probe" --frequency 780 --sound binaural --seconds $seconds --sessions 2 --pause 1 \
  --last-seconds $((2 * ${ZARVELIN_TIME_SCALE:-1})) >"$out" &
probe_pid=$!
lost_ns=$(now_ns)
if [ "$case_" = server-killed ] || [ "$case_" = server-frozen ]; then
  # Mid-stream: the stream is connected and has played past its first blocks.
  for _ in $(seq 1 600); do [ -n "$(pactl list short sink-inputs)" ] && break; sleep 0.05; done
  [ -n "$(pactl list short sink-inputs)" ] || die "the probe never connected to the server"
  sleep 1
  lost_ns=$(now_ns)
  if [ "$case_" = server-killed ]; then kill -KILL "$server_pid"; else frozen=1; kill -STOP "$server_pid"; fi
fi
# Only a hang guard: the worker's own bounds add up to a few seconds. The server thaws
# once the first session's worker has ended.
for _ in $(seq 1 400); do
  kill -0 "$probe_pid" 2>/dev/null || break
  if [ -n "$frozen" ] && grep -q '^ended_early=' "$out"; then kill -CONT "$server_pid"; frozen=""; fi
  sleep 0.05
done
kill -0 "$probe_pid" 2>/dev/null && { kill -KILL "$probe_pid"; die "the audio worker was still running 20 s on"; }
wait "$probe_pid" || die "the probe failed (a hung worker, or no second session)"

if [ "$case_" = server-frozen-at-open ]; then
  [ "$(value ended_early)" = 0 ] || die "the worker ended before its session did"
  # Waiting out the opening would take seconds; the session's end takes milliseconds.
  took_ms=$(( ($(value end_ns) - $(value drop_ns)) / 1000000 )) bound=1000
else
  [ "$(value ended_early)" = 1 ] || die "the worker did not end while the session ran"
  # The device wait (2 s) and the stop (2 s) are the worker's bounds; 4 s more only
  # absorbs scheduling. With no device the clock starts with the session, not with the
  # probe's (or Wine's) own start.
  from_ns=$lost_ns
  [ "$(value open_ns)" -le "$from_ns" ] || from_ns=$(value open_ns)
  took_ms=$(( ($(value end_ns) - from_ns) / 1000000 )) bound=8000
fi
[ "$took_ms" -le $bound ] || die "the worker took $took_ms ms to end (at most $bound)"
case $case_ in
  no-device|server-frozen-at-open) [ "$(value queued_frames)" = 0 ] || die "blocks were queued on a device that never opened" ;;
  *) [ "$(value queued_frames)" -ge $((3 * 12288)) ] || die "the stream never got going before the loss" ;;
esac
if [ "$case_" = server-frozen ] || [ "$case_" = server-frozen-at-open ]; then
  # Two seconds of a working device queue about nine blocks.
  [ "$(value s2_ended_early)" = 0 ] || die "the session after the thaw lost its device"
  [ "$(value s2_queued_frames)" -ge $((5 * 12288)) ] || die "the session after the thaw did not stream"
fi
echo "device_check $case_: the worker ended in ${took_ms} ms"; cat "$out"
