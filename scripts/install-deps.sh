#!/usr/bin/env bash
# install-deps.sh [run|all]
# Installs, with apt-get, whatever Debian 12 packages this machine lacks: for `run`, what
# the Linux program and its headless demo need; for `all` (the default), also the Windows
# cross build and Wine, for the tests. Needs root (or sudo). Does nothing when all are
# present.
set -euo pipefail
group="${1:-all}"

packages=(
  # the native build
  cmake g++ make pkg-config googletest libgtest-dev libbenchmark-dev
  qt6-base-dev libxcb1-dev libasound2-dev libsleef-dev
  # a desktop with no display: X server, input, screenshots, a sound server
  xvfb xdotool libx11-6 libxtst6 x11-utils x11-apps imagemagick fonts-dejavu-core
  pulseaudio pulseaudio-utils libasound2-plugins alsa-utils sox
  python3 psmisc procps
)
if [ "$group" = all ]; then
  # the tests: a Wayland compositor and a window manager to run the face under, and the
  # packaging checks
  packages+=(weston openbox lintian desktop-file-utils appstream man-db)
fi
wine_packages=()
if [ "$group" = all ]; then
  packages+=(g++-mingw-w64-i686-posix binutils-mingw-w64-i686)
  # Wine comes with its recommends: its sound reaches PulseAudio through libpulse0:i386.
  wine_packages=(wine wine32:i386)
fi

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

absent() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}
mapfile -t missing < <(absent "${packages[@]}")
missing_wine=()
[ ${#wine_packages[@]} -eq 0 ] || mapfile -t missing_wine < <(absent "${wine_packages[@]}")
[ ${#missing[@]} -eq 0 ] && [ ${#missing_wine[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]} ${missing_wine[*]}"
# Wine for 32-bit programs comes from the i386 architecture.
if [ ${#missing_wine[@]} -gt 0 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -q
export DEBIAN_FRONTEND=noninteractive
[ ${#missing[@]} -eq 0 ] || $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
[ ${#missing_wine[@]} -eq 0 ] || $sudo apt-get install -y -q "${missing_wine[@]}"
