#!/usr/bin/env bash
# with-pulse.sh [--no-device] COMMAND...
# Runs COMMAND beside a private PulseAudio server whose only sink is the null sink "null"
# (record it with `parec -d null.monitor`). HOME and XDG_RUNTIME_DIR point into a
# temporary folder (also in ZARVELIN_PULSE_DIR, for tools that reset HOME) whose .asoundrc
# routes ALSA's "default" to the server; Wine finds it through XDG_RUNTIME_DIR. With
# --no-device no server starts and ALSA's default names a card that does not exist.
# The null sink runs without rewinds: a sink mixes a new stream into what it rendered
# ahead, but its monitor has passed that on as silence already, so a recording would
# miss the first frames of every stream. ZARVELIN_NULL_SINK holds the module's arguments
# for tests that start a server of their own.
set -euo pipefail
no_device=0
if [ "${1:-}" = "--no-device" ]; then no_device=1; shift; fi
dir=$(mktemp -d /tmp/zarvelin-pulse.XXXXXX)
export HOME="$dir/home" XDG_RUNTIME_DIR="$dir/run" ZARVELIN_PULSE_DIR="$dir"
export ZARVELIN_NULL_SINK="sink_name=null rate=44100 channels=2 norewinds=1"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
unset PULSE_SERVER PULSE_SINK
pid=""
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; rm -rf "$dir"' EXIT
if [ "$no_device" = 1 ]; then
  printf 'pcm.!default { type hw card 9 }\nctl.!default { type hw card 9 }\n' > "$HOME/.asoundrc"
else
  printf 'pcm.!default { type pulse }\nctl.!default { type pulse }\n' > "$HOME/.asoundrc"
  pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --log-target=stderr \
    --load="module-null-sink $ZARVELIN_NULL_SINK" --load=module-native-protocol-unix \
    --load=module-always-sink 2>"$dir/pulse.log" &
  pid=$!
  for _ in $(seq 1 100); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
  pactl info >/dev/null 2>&1 || { echo "with-pulse: the sound server did not start:" >&2; cat "$dir/pulse.log" >&2; exit 1; }
  pactl set-default-sink null
  pactl set-sink-volume null 100%
fi
"$@"
