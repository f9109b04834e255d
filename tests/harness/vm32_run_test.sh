#!/usr/bin/env bash
# vm32_run_test.sh: the emulated 32-bit machine (scripts/vm32/run.sh) runs 32-bit programs
# in the caller's folder of the shared project, keeps what they write there, and gives back
# their output and exit status (a status lost on the way would pass failed tests).
# Skipped (77) where the machine's disk has not been made.
set -uo pipefail
project=$(cd "$(dirname "$0")/../.." && pwd -P)
run="$project/scripts/vm32/run.sh"
dir="${ZARVELIN_VM32_DIR:-/var/cache/zarvelin-vm32}"
. "$(dirname "$0")/report.sh"
[ -f "$dir/disk.img" ] || skip "no emulated machine in $dir (scripts/vm32/build-image.sh makes it)"

work=$(mktemp -d "$project/build/vm32-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

# One boot: a 32-bit program, the folder, a file left behind, output, a status of 3.
out=$("$run" bash -c 'pwd; /lib/i386-linux-gnu/ld-linux.so.2 --version >/dev/null && echo runs-32-bit;
                      echo "written inside" >left-behind; exit 3')
status=$?
expect "the command's status comes back" 3 "$status"
expect "the command ran in the caller's folder" "$work" "$(sed -n 1p <<<"$out")"
expect "the kernel runs 32-bit programs" runs-32-bit "$(sed -n 2p <<<"$out")"
expect "a file written in the project stays" "written inside" "$(cat left-behind 2>/dev/null)"

# Outside the project nothing is shared: refused before any boot, with a message.
msg=$(cd / && "$run" true 2>&1)
status=$?
expect "a folder outside the project is refused" 2 "$status"
case "$msg" in *"inside the project"*) ;; *) fail "the refusal does not say why: $msg" ;; esac
report_end
