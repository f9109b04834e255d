#!/usr/bin/env bash
# render_speed.sh [ZARVELIN_RENDER] [SECONDS] [SOUND]
# Times a render with the built renderer, end to end (computing, writing the file,
# putting it in place), and prints how many times faster than real time it ran.
# Default: a 10-minute noise render with build/linux/zarvelin-render.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
render=${1:-$here/../build/linux/zarvelin-render}
seconds=${2:-600}
sound=${3:-noise}
[ -x "$render" ] || { echo "render_speed.sh: no renderer at $render; build it first" >&2; exit 2; }
dir=$(mktemp -d /tmp/zarvelin-render-speed.XXXXXX)
trap 'rm -rf "$dir"' EXIT
start=$(date +%s.%N)
"$render" --sound "$sound" --seconds "$seconds" --output "$dir/speed.wav" 2>/dev/null
end=$(date +%s.%N)
/usr/bin/python3 - "$start" "$end" "$seconds" "$sound" "$(nproc)" <<'PY'
import sys
start, end, seconds, sound, cores = float(sys.argv[1]), float(sys.argv[2]), float(sys.argv[3]), sys.argv[4], sys.argv[5]
took = end - start
print(f"{seconds:g} s of {sound} rendered in {took:.3f} s on {cores} cores: {seconds / took:.0f}x real time")
PY
