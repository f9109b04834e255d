#!/usr/bin/env bash
# install_deps_simulated.sh INSTALL_DEPS
# Runs the set-up script in simulation (apt-get -s) over made-up dpkg databases, built
# from this machine's by taking packages out and putting PipeWire's in:
#   pipewire-alsa and pipewire-pulse, no pulseaudio: a sound server is there, so
#     pulseaudio is not asked for, the rest is planned and nothing would be removed;
#   pipewire-alsa alone, no pulseaudio: pulseaudio is needed, apt would remove
#     pipewire-alsa for it, and the script stops, naming it, before changing anything.
set -uo pipefail
script=$(readlink -f "$1")
work=$(mktemp -d /tmp/zarvelin-deps.XXXXXX)
trap 'rm -rf "$work"' EXIT
. "$(dirname "$0")/../harness/report.sh"

# make_status DIR "PACKAGES TO TAKE OUT" "PACKAGES TO PUT IN"
make_status() {
  mkdir -p "$1"
  /usr/bin/python3 - "$1/status" "$2" "$3" <<'PY'
import subprocess, sys
out, take_out, put_in = sys.argv[1], set(sys.argv[2].split()), sys.argv[3].split()
stanzas = open("/var/lib/dpkg/status", encoding="utf-8").read().strip().split("\n\n")
def name(stanza):
    for line in stanza.splitlines():
        if line.startswith("Package: "):
            return line[9:].strip()
kept = [s for s in stanzas if name(s) not in take_out]
have = {name(s) for s in kept}
# Each added package as apt knows it, marked installed; its dependencies too when absent.
todo = list(put_in)
while todo:
    pkg = todo.pop()
    if pkg in have:
        continue
    show = subprocess.run(["apt-cache", "show", "--no-all-versions", pkg], capture_output=True,
                          text=True, check=True).stdout.strip().split("\n\n")[0]
    lines = [l for l in show.splitlines()
             if not l.startswith(("Filename:", "Size:", "MD5sum:", "SHA256:", "Description-md5:"))]
    lines.insert(1, "Status: install ok installed")
    kept.append("\n".join(lines))
    have.add(pkg)
    for field in lines:
        if field.startswith(("Depends:", "Pre-Depends:")):
            for dep in field.split(":", 1)[1].split(","):
                first = dep.split("|")[0].strip().split(" ")[0].split(":")[0]
                if first and first not in have:
                    todo.append(first)
open(out, "w", encoding="utf-8").write("\n\n".join(kept) + "\n")
PY
}

run_script() { # DIR -> output in DIR/out, exit code echoed
  ZARVELIN_DEPS_SIMULATE=1 ZARVELIN_DPKG_ADMINDIR="$1" "$script" all >"$1/out" 2>&1
  echo $?
}

# A desktop with PipeWire as its sound server (sox taken out, so there is something to plan).
make_status "$work/pipewire" "pulseaudio pipewire-pulse sox" "pipewire-alsa pipewire-pulse" ||
  die "could not make the database"
rc=$(run_script "$work/pipewire")
cat "$work/pipewire/out"
[ "$rc" = 0 ] || fail "with PipeWire: the script stopped (exit $rc)"
grep -q "would install: .*\bsox\b" "$work/pipewire/out" || fail "with PipeWire: sox is not in the plan"
grep -q "would remove nothing" "$work/pipewire/out" || fail "with PipeWire: no plan reported"
if grep -qE "would install: .*\bpulseaudio( |;)" "$work/pipewire/out"; then
  fail "with PipeWire's pulse server present, pulseaudio is still asked for"
fi

# pipewire-alsa with no pulse server: apt's own plan for pulseaudio removes pipewire-alsa...
make_status "$work/alsa-only" "pulseaudio pipewire-pulse" "pipewire-alsa" ||
  die "could not make the database"
apt-get -s -o "Dir::State::status=$work/alsa-only/status" install pulseaudio 2>&1 |
  grep -q "^Remv pipewire-alsa" || fail "apt would not remove pipewire-alsa for pulseaudio: nothing to catch"
# ...and the script catches it and stops without a plan.
rc=$(run_script "$work/alsa-only")
cat "$work/alsa-only/out"
[ "$rc" != 0 ] || fail "with pipewire-alsa: the script went on although apt would remove it"
grep -q "would remove these packages: .*pipewire-alsa" "$work/alsa-only/out" ||
  fail "with pipewire-alsa: the message does not name pipewire-alsa"
grep -q "would install" "$work/alsa-only/out" && fail "with pipewire-alsa: a plan was still given"

[ "$report_failures" = 0 ] && echo "PASS: nothing would be removed; the removal was caught"
report_end
