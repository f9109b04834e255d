#!/usr/bin/env bash
# render_speed.sh [BUILD_DIR] [RUNS] [SECONDS...]
# Times zarvelin-render end to end (computing, writing the file, putting it in place)
# for every sound mode, 10 minutes and one hour unless lengths are given, and prints a
# markdown table: wall time, processor time and peak memory of the program
# (/usr/bin/time -v), and where the time goes, from render_stages: the same pipeline
# computing only (chunks thrown away) and writing only (the same bytes from one chunk).
# Each figure is the median of RUNS runs (default 3). On a shared machine the wall
# times rise when other work holds the cores: the load average is printed first.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build/linux}
runs=${2:-3}
shift $(( $# > 2 ? 2 : $# ))
lengths=("${@:-600 3600}")
read -r -a lengths <<<"${lengths[*]}"
for program in zarvelin-render render_stages; do
  [ -x "$build/$program" ] || { echo "render_speed.sh: no $program in $build; build it first" >&2; exit 2; }
done
[ -x /usr/bin/time ] || { echo "render_speed.sh: needs /usr/bin/time (apt-get install time)" >&2; exit 2; }
dir=$(mktemp -d "${TMPDIR:-/tmp}/zarvelin-render-speed.XXXXXX")
trap 'rm -rf "$dir"' EXIT
/usr/bin/python3 - "$build" "$runs" "$dir" "${lengths[@]}" <<'PY'
import os, re, statistics, subprocess, sys
build, runs, folder, lengths = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4:]
render, stages = os.path.join(build, 'zarvelin-render'), os.path.join(build, 'render_stages')
out = os.path.join(folder, 'speed.wav')

def timed_render(seconds, sound):
    r = subprocess.run(['/usr/bin/time', '-v', render, '--sound', sound, '--seconds', seconds, '--output', out],
                       capture_output=True, text=True, check=True)
    os.remove(out)
    def field(name):
        return re.search(re.escape(name) + r': (.*)', r.stderr).group(1)
    clock = [float(x) for x in field('Elapsed (wall clock) time (h:mm:ss or m:ss)').split(':')]
    wall = sum(v * 60 ** i for i, v in enumerate(reversed(clock)))
    cpu = float(field('User time (seconds)')) + float(field('System time (seconds)'))
    return wall, cpu, int(field('Maximum resident set size (kbytes)')) / 1024

def timed_stages(seconds, sound):
    r = subprocess.run([stages, seconds, sound, folder], capture_output=True, text=True, check=True)
    got = {}
    for line in r.stdout.splitlines():
        name, _, wall, _, cpu = line.split()[:5]
        got[name] = (float(wall), float(cpu))
    return got

print(f"{os.cpu_count()} cores, load average {os.getloadavg()[0]:.2f} before the runs; median of {runs}\n")
print("| length | sound | wall | processor | peak memory | real time x | computing only (all cores): wall / processor "
      "| computing, one core | writing only: wall |")
print("|---|---|---|---|---|---|---|---|---|")
for seconds in lengths:
    for sound in ('none', 'binaural', 'beeps', 'noise'):
        ends = [timed_render(seconds, sound) for _ in range(runs)]
        parts = [timed_stages(seconds, sound) for _ in range(runs)]
        wall = statistics.median(e[0] for e in ends)
        cpu = statistics.median(e[1] for e in ends)
        peak = max(e[2] for e in ends)
        med = lambda stage, i: statistics.median(p[stage][i] for p in parts)
        label = f"{float(seconds) / 60:g} min"
        print(f"| {label} | {sound} | {wall:.2f} s | {cpu:.2f} s | {peak:.1f} MiB | {float(seconds) / wall:.0f}x "
              f"| {med('compute-all-cores', 0):.3f} / {med('compute-all-cores', 1):.3f} s "
              f"| {med('compute-one-core', 0):.3f} s | {med('write-only', 0):.3f} s |")
PY
