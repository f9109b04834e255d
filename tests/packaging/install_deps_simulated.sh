#!/usr/bin/env bash
# install_deps_simulated.sh INSTALL_DEPS
# Runs the set-up script in simulation (apt-get -s) over made-up dpkg databases, made from
# this machine's by taking packages out and putting PipeWire's in:
#   pipewire-alsa and pipewire-pulse, no pulseaudio (sox out, so there is something to plan):
#     a sound server is there, so pulseaudio is not asked for, and nothing would be removed;
#   pipewire-alsa alone: apt would remove it for pulseaudio, and the script stops, naming
#     it, before changing anything.
set -uo pipefail
script=$(readlink -f "$1")
work=$(mktemp -d /tmp/zarvelin-deps.XXXXXX)
trap 'rm -rf "$work"' EXIT
. "$(dirname "$0")/../harness/report.sh"

# simulate NAME "PACKAGES TO TAKE OUT" "PACKAGES TO PUT IN": the database in $work/NAME,
# the script run over it, its output in $work/NAME/out and its exit code in $rc.
simulate() {
  mkdir -p "$work/$1"
  /usr/bin/python3 - "$work/$1/status" "$2" "$3" <<'PY' || die "could not make the database for $1"
import re, subprocess, sys
out, take_out, todo = sys.argv[1], sys.argv[2].split(), sys.argv[3].split()
stanzas = open("/var/lib/dpkg/status", encoding="utf-8").read().strip().split("\n\n")
kept = [s for s in stanzas if re.search(r"^Package: (\S+)", s, re.M)[1] not in take_out]
have = {re.search(r"^Package: (\S+)", s, re.M)[1] for s in kept}
# Each added package as apt knows it, marked installed; its dependencies too when absent.
while todo:
    pkg = todo.pop()
    if pkg in have:
        continue
    show = subprocess.run(["apt-cache", "show", "--no-all-versions", pkg], capture_output=True,
                          text=True, check=True).stdout.strip().split("\n\n")[0]
    show = re.sub(r"^(Filename|Size|MD5sum|SHA256|Description-md5):.*\n", "", show + "\n", flags=re.M)
    kept.append(show.replace("\n", "\nStatus: install ok installed\n", 1).strip())
    have.add(pkg)
    for depends in re.findall(r"^(?:Pre-)?Depends: (.*)", show, re.M):
        todo += [d.split("|")[0].split()[0].split(":")[0] for d in depends.split(",")]
open(out, "w", encoding="utf-8").write("\n\n".join(kept) + "\n")
PY
  ZARVELIN_DEPS_SIMULATE=1 ZARVELIN_DPKG_ADMINDIR="$work/$1" "$script" all >"$work/$1/out" 2>&1
  rc=$?
  cat "$work/$1/out"
}

simulate pipewire "pulseaudio pipewire-pulse sox" "pipewire-alsa pipewire-pulse"
[ "$rc" = 0 ] || fail "with PipeWire: the script stopped (exit $rc)"
grep -q "would install: .*\bsox\b.*; would remove nothing" "$work/pipewire/out" ||
  fail "with PipeWire: no plan that installs sox and removes nothing"
grep -qE "would install: .*\bpulseaudio( |;)" "$work/pipewire/out" &&
  fail "with PipeWire's pulse server present, pulseaudio is still asked for"

simulate alsa-only "pulseaudio pipewire-pulse" "pipewire-alsa"
# apt's own plan for pulseaudio removes pipewire-alsa (else there is nothing to catch)...
apt-get -s -o "Dir::State::status=$work/alsa-only/status" install pulseaudio 2>&1 |
  grep -q "^Remv pipewire-alsa" || fail "apt would not remove pipewire-alsa for pulseaudio: nothing to catch"
# ...and the script stops, naming it, without a plan.
[ "$rc" != 0 ] || fail "with pipewire-alsa: the script went on although apt would remove it"
grep -q "would remove these packages: .*pipewire-alsa" "$work/alsa-only/out" ||
  fail "with pipewire-alsa: the message does not name pipewire-alsa"
grep -q "would install" "$work/alsa-only/out" && fail "with pipewire-alsa: a plan was still given"
report_end
