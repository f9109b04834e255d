#!/usr/bin/env bash
# with-pipewire.sh --alsa-native|--pulse-layer COMMAND...
# Runs COMMAND beside a private PipeWire server (pipewire, wireplumber to link streams to
# the sink, pipewire-pulse for the PulseAudio protocol) whose only sink is a null sink
# "null" clocked at 44100 Hz; record what plays with `parec -d null.monitor`, which goes
# through pipewire-pulse. HOME, XDG_CONFIG_HOME and XDG_RUNTIME_DIR point into a temporary
# folder whose .asoundrc routes ALSA's "default":
#   --alsa-native  through PipeWire's own ALSA plugin (type pipewire)
#   --pulse-layer  through ALSA's pulse plugin to pipewire-pulse (type pulse)
#
# Two parts of PipeWire take over a desktop's sound when installed, so beside PulseAudio
# they are unpacked, not installed: pipewire-alsa (Debian marks it as conflicting with
# pulseaudio; it makes itself ALSA's default) and pipewire-pulse (its user service claims
# the PulseAudio socket at every login). Each is taken from the system if it is there,
# else from $ZARVELIN_PIPEWIRE_DIR_<ALSA|PULSE> or /opt/zarvelin/<package>, a
# `dpkg-deb -x` of the package that scripts/install-deps.sh makes. pipewire-pulse is
# only `pipewire` run with its own configuration file. Without them the script exits 77
# (skipped) saying what is missing.
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
for tool in dbus-daemon pipewire wireplumber pactl parec; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (packages dbus-daemon, pipewire, wireplumber, pulseaudio-utils; scripts/install-deps.sh installs them)"
done

pulse_conf=""
for f in /usr/share/pipewire/pipewire-pulse.conf \
         ${ZARVELIN_PIPEWIRE_DIR_PULSE:+"$ZARVELIN_PIPEWIRE_DIR_PULSE/usr/share/pipewire/pipewire-pulse.conf"} \
         /opt/zarvelin/pipewire-pulse/usr/share/pipewire/pipewire-pulse.conf; do
  if [ -f "$f" ]; then pulse_conf=$f; break; fi
done
[ -n "$pulse_conf" ] || skip "PipeWire's pulse server configuration was not found; scripts/install-deps.sh unpacks pipewire-pulse into /opt/zarvelin/pipewire-pulse"

plugin=""
if [ "$route" = native ]; then
  multiarch=$(gcc -print-multiarch 2>/dev/null || echo x86_64-linux-gnu)
  for d in "/usr/lib/$multiarch/alsa-lib" \
           ${ZARVELIN_PIPEWIRE_DIR_ALSA:+"$ZARVELIN_PIPEWIRE_DIR_ALSA/usr/lib/$multiarch/alsa-lib"} \
           "/opt/zarvelin/pipewire-alsa/usr/lib/$multiarch/alsa-lib"; do
    if [ -f "$d/libasound_module_pcm_pipewire.so" ]; then plugin="$d/libasound_module_pcm_pipewire.so"; break; fi
  done
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
context.properties = {
    default.clock.rate          = 44100
    default.clock.allowed-rates = [ 44100 ]
}
context.objects = [
    { factory = adapter
        args = {
            factory.name     = support.null-audio-sink
            node.name        = "null"
            node.description = "Null sink"
            media.class      = "Audio/Sink"
            object.linger    = true
            audio.rate       = 44100
            audio.channels   = 2
            audio.position   = [ FL FR ]
            priority.driver  = 1000
            priority.session = 1000
        }
    }
]
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

start() { # start NAME COMMAND...: runs a server in the background, its log in the folder
  local name=$1; shift
  "$@" >"$dir/$name.log" 2>&1 &
  pids+=($!)
}
dead() { echo "with-pipewire: $1 did not start:" >&2; cat "$dir/$1.log" >&2; exit 1; }

# wireplumber stops at once without a session bus: it gets a private one.
start dbus dbus-daemon --session --nofork --nopidfile --address="$DBUS_SESSION_BUS_ADDRESS"
for _ in $(seq 1 100); do [ -S "$dir/bus" ] && break; sleep 0.05; done
[ -S "$dir/bus" ] || dead dbus
start pipewire pipewire
for _ in $(seq 1 100); do [ -S "$XDG_RUNTIME_DIR/pipewire-0" ] && break; sleep 0.05; done
[ -S "$XDG_RUNTIME_DIR/pipewire-0" ] || dead pipewire
start wireplumber wireplumber
start pipewire-pulse pipewire -c "$pulse_conf"
for _ in $(seq 1 100); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
pactl info >/dev/null 2>&1 || dead pipewire-pulse
# The sink is the default once the session manager has seen it.
for _ in $(seq 1 100); do
  [ "$(pactl get-default-sink 2>/dev/null)" = null ] && break
  pactl set-default-sink null 2>/dev/null || true
  sleep 0.1
done
[ "$(pactl get-default-sink)" = null ] || dead wireplumber
pactl set-sink-volume null 100%
# PipeWire runs the whole graph in cycles as short as the shortest latency any stream
# asks for. A recorder asking for 5 ms would make the graph wake every 256 frames, and on
# a busy machine without realtime scheduling the servers then miss cycles: the sink
# plays silence where a stream's data was late, and the recording shows gaps no sound
# card would. Recorders ask for 50 ms (a 2048-frame cycle) instead.
export ZARVELIN_RECORD_LATENCY_MS=50
export ZARVELIN_PIPEWIRE_DIR="$dir"
"$@"
