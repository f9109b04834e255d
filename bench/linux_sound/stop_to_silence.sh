#!/usr/bin/env bash
# stop_to_silence.sh [RUNS] [BUILD_DIR]
# Measures, over RUNS sessions (default 10), how long the sound server keeps sounding
# after the session flag drops: from the drop to the last sounding frame at the null
# sink's monitor, counted in frames there. Also shows how long the audio worker takes to
# return after the drop. Prints each run, then p50 and max. A measurement, not a test:
# the figures depend on the machine's load. The drop falls at a random point of the block
# playing, so the spread runs up to one block (279 ms).
set -euo pipefail
runs=${1:-10}
build=${2:-build/linux}
root=$(cd "$(dirname "$0")/../.." && pwd)
check="$root/tests/linux_sound/stream_check.py"
probe="$root/$build/stream_probe"
[ -x "$probe" ] || { echo "bench: no stream probe at $probe; build the linux preset first" >&2; exit 2; }
results=$(mktemp /tmp/zarvelin-bench.XXXXXX)
trap 'rm -f "$results"' EXIT

for i in $(seq 1 "$runs"); do
  # A session length off the block grid, different each run, so the drop lands
  # anywhere in a block.
  seconds=$(/usr/bin/python3 -c "import random; print(round(random.uniform(2.0, 3.0), 3))")
  line=$("$root/tests/scripts/with-pulse.sh" /usr/bin/python3 "$check" \
           --probe "$probe" --sound binaural --frequency 780 --seconds "$seconds" \
           --max-tail-frames 1000000)
  echo "run $i: $line"
  echo "$line" >>"$results"
done

/usr/bin/python3 - "$results" <<'PY'
import statistics, sys
rows = [dict(kv.split("=") for kv in line.split()) for line in open(sys.argv[1])]
for key, what in (("tail_ms", "flag drop to silence at the server"),
                  ("stop_ms", "flag drop to the worker's return"),
                  ("start_ms", "device open to first sound at the server")):
    values = sorted(float(r[key]) for r in rows)
    print("%-42s p50 %6.1f ms   max %6.1f ms   (%d runs)"
          % (what, statistics.median(values), values[-1], len(values)))
PY
