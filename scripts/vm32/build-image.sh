#!/usr/bin/env bash
# build-image.sh
# Makes the 32-bit test machine's disk where it is missing or out of date: a Debian 12
# system with a kernel that runs 32-bit programs, 32-bit Wine and what the Windows tests
# use (X, a window manager, a sound server, ctest), and a Wine prefix made on its first
# boot. It lives in $ZARVELIN_VM32_DIR (default /var/cache/zarvelin-vm32), outside the
# project, and is remade whenever this script, the machine's init or the package list
# changes. Needs root, debootstrap and qemu-system-x86 (scripts/install-deps.sh).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir="${ZARVELIN_VM32_DIR:-/var/cache/zarvelin-vm32}"
mirror="${ZARVELIN_VM32_MIRROR:-http://deb.debian.org/debian}"

# What the Windows tests run besides Wine, as on the build machine (scripts/install-deps.sh),
# and what the Linux build's zarvelin-render needs, the reference for the zip's renderer.
packages=(linux-image-amd64 kmod udev iproute2 procps psmisc python3 cmake
          xvfb xauth x11-utils xdotool openbox pulseaudio pulseaudio-utils
          fonts-dejavu-core ca-certificates libsleef3)
# Wine with its recommends, as installed on the build machine: its sound reaches
# PulseAudio through libpulse0:i386.
wine_packages=(wine wine32:i386)

stamp=$( { cat "$0" "$here/init"; echo "${packages[*]} ${wine_packages[*]}"; } | sha256sum | cut -c1-16)
if [ -f "$dir/disk.img" ] && [ "$(cat "$dir/stamp" 2>/dev/null)" = "$stamp" ]; then
  exit 0
fi
[ "$(id -u)" -eq 0 ] || { echo "build-image: needs root (debootstrap and chroot)" >&2; exit 1; }
for tool in debootstrap qemu-system-x86_64 mkfs.ext4; do
  command -v "$tool" >/dev/null ||
    { echo "build-image: $tool is missing (run scripts/install-deps.sh)" >&2; exit 1; }
done

echo "build-image: making the 32-bit test machine in $dir (a few minutes, once)"
mkdir -p "$dir"
root="$dir/rootfs"
# A build killed midway may have left the host's /proc, /sys and /dev bound inside the
# tree: unbind them first, and never let the removal cross into another file system.
for m in proc sys dev; do umount -l "$root/$m" 2>/dev/null || true; done
rm -rf --one-file-system "$root" "$dir/disk.img" "$dir/stamp" "$dir/vmlinuz" "$dir/initrd.img"
log="$dir/build.log"
: >"$log"
step() { # DESCRIPTION COMMAND...
  local what=$1; shift
  if ! "$@" >>"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "build-image: $what failed (whole log: $log)" >&2
    exit 1
  fi
}
step "debootstrap" debootstrap --variant=minbase --arch=amd64 bookworm "$root" "$mirror"

in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin \
  DEBIAN_FRONTEND=noninteractive LANG=C.UTF-8 "$@"; }
# The host's kernel file systems for apt's maintainer scripts, unmounted whatever happens.
mounted=()
cleanup() {
  local m
  for m in "${mounted[@]}"; do umount -l "$m" 2>/dev/null || true; done
}
trap cleanup EXIT
for m in proc sys dev; do
  mount --bind "/$m" "$root/$m"
  mounted=("$root/$m" "${mounted[@]}")
done
printf 'deb %s bookworm main\ndeb %s bookworm-updates main\ndeb %s bookworm-security main\n' \
  "$mirror" "$mirror" "${mirror%/debian}/debian-security" >"$root/etc/apt/sources.list"
# The initramfs carries the virtio disk and ext4 drivers whatever the build host has.
mkdir -p "$root/etc/initramfs-tools/conf.d"
echo MODULES=most >"$root/etc/initramfs-tools/conf.d/zarvelin"
step "adding the i386 architecture" in_root dpkg --add-architecture i386
step "apt-get update" in_root apt-get update -q
step "installing the test tools" in_root apt-get install -y -q --no-install-recommends "${packages[@]}"
step "installing Wine" in_root apt-get install -y -q "${wine_packages[@]}"
in_root apt-get clean >>"$log" 2>&1 || true
install -m 755 "$here/init" "$root/usr/local/sbin/zarvelin-vm32-init"
cp -L "$root/vmlinuz" "$dir/vmlinuz"
cp -L "$root/initrd.img" "$dir/initrd.img"
cleanup
mounted=()

# Room for the run's own files besides what is installed.
size_mb=$(( $(du -sm "$root" | cut -f1) + 1536 ))
step "making the disk" mkfs.ext4 -q -F -L zarvelin-vm32 -d "$root" "$dir/disk.img" "${size_mb}M"
rm -rf --one-file-system "$root"

# The Wine prefix, made once on the machine itself and kept on its disk; every test run
# starts from this state (run.sh boots with the disk read-only underneath).
echo "build-image: first boot: making the Wine prefix"
if ! ZARVELIN_VM32_KEEP=1 "$here/run.sh" sh -c \
    'wine wineboot -i >/dev/null 2>&1; wineserver -w; test -f "$WINEPREFIX/system.reg" && wine cmd /c ver'; then
  echo "build-image: the Wine prefix could not be made on the test machine" >&2
  exit 1
fi
echo "$stamp" >"$dir/stamp"
echo "build-image: ready"
