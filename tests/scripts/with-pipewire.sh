#!/usr/bin/env bash
# with-pipewire.sh --alsa-native|--pulse-layer COMMAND...
# Runs COMMAND beside a private PipeWire (pipewire, wireplumber to link streams,
# pipewire-pulse for the PulseAudio protocol) whose only sink is a null sink "null" at
# 44100 Hz; record it with `parec -d null.monitor`. HOME, XDG_CONFIG_HOME and
# XDG_RUNTIME_DIR point into a temporary folder whose .asoundrc routes ALSA's "default":
#   --alsa-native  through PipeWire's own ALSA plugin (type pipewire)
#   --pulse-layer  through ALSA's pulse plugin to pipewire-pulse (type pulse)
# pipewire-alsa and pipewire-pulse would take over ALSA's default and PulseAudio's socket,
# so they come from the system if there, else unpacked from $ZARVELIN_PIPEWIRE_DIR_<ALSA|PULSE>
# or /opt/zarvelin/<package> (scripts/install-deps.sh); without them the script skips (77).
set -euo pipefail
usage() { echo "usage: with-pipewire.sh --alsa-native|--pulse-layer COMMAND..." >&2; exit 2; }
case "${1:-}" in
  --alsa-native) route=native ;;
  --pulse-layer) route=pulse ;;
  *) usage ;;
esac
shift
[ $# -gt 0 ] || usage

skip() { echo "with-pipewire: SKIP: $*" >&2; exit 77; }
first_file() { for f; do [ -f "$f" ] && echo "$f" && return; done; true; }
for tool in dbus-daemon pipewire wireplumber pactl parec; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (packages dbus-daemon, pipewire, wireplumber, pulseaudio-utils; scripts/install-deps.sh installs them)"
done
# pipewire-pulse is only `pipewire` run with its own configuration file.
conf=usr/share/pipewire/pipewire-pulse.conf
pulse_conf=$(first_file "/$conf" ${ZARVELIN_PIPEWIRE_DIR_PULSE:+"$ZARVELIN_PIPEWIRE_DIR_PULSE/$conf"} "/opt/zarvelin/pipewire-pulse/$conf")
[ -n "$pulse_conf" ] || skip "PipeWire's pulse server configuration was not found; scripts/install-deps.sh unpacks pipewire-pulse into /opt/zarvelin/pipewire-pulse"
if [ "$route" = native ]; then
  lib="usr/lib/$(gcc -print-multiarch 2>/dev/null || echo x86_64-linux-gnu)/alsa-lib/libasound_module_pcm_pipewire.so"
  plugin=$(first_file "/$lib" ${ZARVELIN_PIPEWIRE_DIR_ALSA:+"$ZARVELIN_PIPEWIRE_DIR_ALSA/$lib"} "/opt/zarvelin/pipewire-alsa/$lib")
  [ -n "$plugin" ] || skip "PipeWire's ALSA plugin was not found; scripts/install-deps.sh unpacks pipewire-alsa into /opt/zarvelin/pipewire-alsa"
fi

dir=$(mktemp -d /tmp/zarvelin-pipewire.XXXXXX)
export HOME="$dir/home" XDG_RUNTIME_DIR="$dir/run" XDG_CONFIG_HOME="$dir/home/.config"
export XDG_STATE_HOME="$dir/home/.local/state" XDG_DATA_HOME="$dir/home/.local/share"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME/pipewire/pipewire.conf.d"
chmod 700 "$XDG_RUNTIME_DIR"
unset PULSE_SERVER PULSE_SINK PIPEWIRE_REMOTE PIPEWIRE_RUNTIME_DIR
export DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/bus"
pids=()
cleanup() {
  local i
  for (( i=${#pids[@]}-1; i>=0; i-- )); do
    kill "${pids[$i]}" 2>/dev/null && wait "${pids[$i]}" 2>/dev/null
  done
  rm -rf "$dir"
}
trap cleanup EXIT

# The graph runs at 44100 Hz only, so nothing is resampled, and its one sink is a null
# sink that drives the graph by its own timer.
cat > "$XDG_CONFIG_HOME/pipewire/pipewire.conf.d/50-zarvelin-null-sink.conf" <<'EOF'
context.properties = { default.clock.rate = 44100  default.clock.allowed-rates = [ 44100 ] }
context.objects = [ { factory = adapter args = {
    factory.name = support.null-audio-sink  node.name = "null"  node.description = "Null sink"
    media.class = "Audio/Sink"  object.linger = true  audio.rate = 44100  audio.channels = 2
    audio.position = [ FL FR ]  priority.driver = 1000  priority.session = 1000 } } ]
EOF
if [ "$route" = native ]; then
  cat > "$HOME/.asoundrc" <<EOF
pcm_type.pipewire { lib "$plugin" }
ctl_type.pipewire { lib "${plugin/pcm_pipewire/ctl_pipewire}" }
pcm.!default { type pipewire playback_node "-1" capture_node "-1" }
ctl.!default { type pipewire }
EOF
else
  printf 'pcm.!default { type pulse }\nctl.!default { type pulse }\n' > "$HOME/.asoundrc"
fi

start() { local name=$1; shift; "$@" >"$dir/$name.log" 2>&1 & pids+=($!); }  # a server, its log
ready() { for _ in $(seq 1 100); do "$@" && return; sleep 0.1; done; "$@"; }    # within 10 s
dead() { echo "with-pipewire: $1 did not start:" >&2; cat "$dir/$1.log" >&2; exit 1; }
# The sink is the default once the session manager has seen it.
null_is_default() { [ "$(pactl get-default-sink 2>/dev/null)" = null ] || { pactl set-default-sink null 2>/dev/null; false; }; }

# wireplumber stops at once without a session bus: it gets a private one.
start dbus dbus-daemon --session --nofork --nopidfile --address="$DBUS_SESSION_BUS_ADDRESS"
ready test -S "$dir/bus" || dead dbus
start pipewire pipewire
ready test -S "$XDG_RUNTIME_DIR/pipewire-0" || dead pipewire
start wireplumber wireplumber
start pipewire-pulse pipewire -c "$pulse_conf"
ready pactl info >/dev/null 2>&1 || dead pipewire-pulse
ready null_is_default || dead wireplumber
pactl set-sink-volume null 100%
# PipeWire cycles at the shortest latency any stream asks for; at a recorder's 5 ms a busy
# machine misses cycles and plays silence, so recorders ask for 50 ms (2048 frames).
export ZARVELIN_RECORD_LATENCY_MS=50
"$@"
