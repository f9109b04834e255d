#!/usr/bin/env bash
# render_speed.sh [ZARVELIN_RENDER] [SECONDS] [SOUND]
# Times a render with the built renderer, end to end (computing, writing the file,
# putting it in place), and prints how many times faster than real time it ran.
# Also prints the processor time it took and the load average: on a shared machine
# the wall-clock figure falls when other work holds the cores.
# Default: a 10-minute noise render with build/linux/zarvelin-render.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
render=${1:-$here/../build/linux/zarvelin-render}
seconds=${2:-600}
sound=${3:-noise}
[ -x "$render" ] || { echo "render_speed.sh: no renderer at $render; build it first" >&2; exit 2; }
dir=$(mktemp -d /tmp/zarvelin-render-speed.XXXXXX)
trap 'rm -rf "$dir"' EXIT
/usr/bin/python3 - "$render" "$seconds" "$sound" "$dir/speed.wav" <<'PY'
import os, resource, subprocess, sys, time
render, seconds, sound, out = sys.argv[1], float(sys.argv[2]), sys.argv[3], sys.argv[4]
load = os.getloadavg()[0]
start = time.monotonic()
subprocess.run([render, '--sound', sound, '--seconds', sys.argv[2], '--output', out],
               check=True, stderr=subprocess.DEVNULL)
took = time.monotonic() - start
used = resource.getrusage(resource.RUSAGE_CHILDREN)
cpu = used.ru_utime + used.ru_stime
print(f"{seconds:g} s of {sound} rendered in {took:.3f} s: {seconds / took:.0f}x real time "
      f"({cpu:.3f} s of processor time, {seconds / cpu:.0f}x per core; "
      f"{os.cpu_count()} cores, load average {load:.2f} before the run)")
PY
