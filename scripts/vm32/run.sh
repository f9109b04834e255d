#!/usr/bin/env bash
# run.sh COMMAND [ARGS...]
# Runs COMMAND, as root, in the caller's folder, on the 32-bit test machine: a Debian 12
# system under qemu's full-system emulation (no KVM needed) whose kernel runs 32-bit
# programs, so 32-bit Wine runs there where the host's kernel refuses them. The project
# is shared at its own path, so build trees and test scripts work as on the host; files
# written in the project stay, everything else goes with the machine. Exits with
# COMMAND's status; the machine's disk comes from scripts/vm32/build-image.sh.
#   ZARVELIN_VM32_DIR      where the disk is (default /var/cache/zarvelin-vm32)
#   ZARVELIN_VM32_TIMEOUT  seconds before the machine is stopped (default 3600)
#   ZARVELIN_VM32_KEEP=1   keep what the run writes on the disk (the image build only)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
project=$(cd "$here/../.." && pwd -P)
dir="${ZARVELIN_VM32_DIR:-/var/cache/zarvelin-vm32}"
[ $# -gt 0 ] || { echo "usage: run.sh COMMAND [ARGS...]" >&2; exit 2; }
[ -f "$dir/disk.img" ] ||
  { echo "vm32: no test machine in $dir (make it with scripts/vm32/build-image.sh)" >&2; exit 1; }
case "$(pwd -P)/" in
  "$project"/*) ;;
  *) echo "vm32: run it from inside the project ($project); only that is shared" >&2; exit 2 ;;
esac

run=$(mktemp -d /tmp/zarvelin-vm32.XXXXXX)
qemu=""
cleanup() {
  [ -z "$qemu" ] || kill "$qemu" 2>/dev/null || true
  rm -rf "$run"
}
trap cleanup EXIT
echo "$project" >"$run/project"
{ printf 'cd %q || exit 1\n' "$(pwd -P)"; printf '%q ' "$@"; echo; } >"$run/command.sh"
# The machine's own Wine prefix, kept on its disk; the caller's ZARVELIN_ settings pass.
{
  echo "HOME=/root"
  echo "LANG=C.UTF-8"
  echo "TERM=dumb"
  echo "ZARVELIN_WINEPREFIX=/var/lib/zarvelin-wine"
  echo "WINEPREFIX=/var/lib/zarvelin-wine"
  echo "WINEARCH=win32"
  echo "WINEDEBUG=-all"
  # Programs run about ten times slower here: the sound tests stretch the sessions they
  # give a real device to start streaming three times, enough for a Wine stream that
  # takes seconds to start here.
  echo "ZARVELIN_TIME_SCALE=3"
  env | grep -E '^(ZARVELIN_[A-Z0-9_]+|CI)=' | grep -vE '^ZARVELIN_(WINEPREFIX|WINE_ARCH|VM32_[A-Z_]+)=' |
    while IFS='=' read -r name value; do printf '%s=%q\n' "$name" "$value"; done || true
} >"$run/environment"

snapshot=on
[ "${ZARVELIN_VM32_KEEP:-0}" = 1 ] && snapshot=off
: >"$run/output.log"
qemu-system-x86_64 -machine q35 -accel tcg,thread=multi -cpu max,smap=off -smp "$(nproc)" -m 4096 \
  -kernel "$dir/vmlinuz" -initrd "$dir/initrd.img" \
  -append "root=/dev/vda rw console=ttyS0 quiet panic=-1 init=/usr/local/sbin/zarvelin-vm32-init" \
  -drive "file=$dir/disk.img,format=raw,if=virtio,snapshot=$snapshot" \
  -virtfs "local,path=$run,mount_tag=zrun,security_model=none" \
  -virtfs "local,path=$project,mount_tag=zproject,security_model=none" \
  -nic none -display none -monitor none -serial "file:$run/console.log" -no-reboot &
qemu=$!
# The command's output as it comes (the machine writes it back in spurts).
tail -n +1 -f --pid="$qemu" "$run/output.log" &
tailer=$!
timeout_s="${ZARVELIN_VM32_TIMEOUT:-3600}"
waited=0
while kill -0 "$qemu" 2>/dev/null && [ "$waited" -lt "$timeout_s" ]; do
  sleep 1
  waited=$((waited + 1))
done
if kill -0 "$qemu" 2>/dev/null; then
  echo "vm32: the machine was still running after ${timeout_s} s; stopped" >&2
  kill "$qemu" 2>/dev/null || true
fi
wait "$qemu" 2>/dev/null || true
qemu=""
wait "$tailer" 2>/dev/null || true
if [ ! -s "$run/status" ]; then
  echo "vm32: the command did not finish on the test machine; its console said:" >&2
  tail -n 30 "$run/console.log" >&2
  exit 1
fi
exit "$(cat "$run/status")"
