#!/usr/bin/env bash
# install-deps.sh [run|all]
# Installs, with apt-get, whatever Debian 12 packages this machine lacks: for `run`, what
# the Linux program and its headless demo need; for `all` (the default), also the Windows
# cross build and Wine, for the tests. Needs root (or sudo). Does nothing when all are
# present.
#
# It never removes a package: apt's plan is simulated first, and if it would remove
# anything (pulseaudio and pipewire-alsa exclude each other, for instance) the script
# stops and names what would go; the real install runs with --no-remove besides. A sound
# server (pulseaudio) is installed only where none is: PipeWire with pipewire-pulse
# counts as one.
#
# For checking the plan without touching the machine:
#   ZARVELIN_DEPS_SIMULATE=1      only simulate (apt-get -s): say what would be installed
#   ZARVELIN_DPKG_ADMINDIR=DIR    take the installed packages from DIR/status instead of
#                                 the system's dpkg database
set -euo pipefail
group="${1:-all}"
simulate="${ZARVELIN_DEPS_SIMULATE:-0}"
admindir="${ZARVELIN_DPKG_ADMINDIR:-/var/lib/dpkg}"
apt_state=(-o "Dir::State::status=$admindir/status")

packages=(
  # the native build
  cmake g++ make pkg-config googletest libgtest-dev libbenchmark-dev
  qt6-base-dev qt6-base-private-dev qt6-wayland libxcb1-dev libwayland-dev wayland-protocols
  libasound2-dev libsleef-dev
  # a desktop with no display: X server, input, screenshots, a sound server
  xvfb xdotool libx11-6 libxtst6 x11-utils x11-apps imagemagick fonts-dejavu-core
  pulseaudio-utils libasound2-plugins alsa-utils sox
  python3 psmisc procps
)
if [ "$group" = all ]; then
  # the tests: a Wayland compositor and a window manager to run the face under, the
  # packaging checks, and a private PipeWire (the server and its session manager, as a
  # PulseAudio desktop of Debian 12 has them too; the parts that would take over the
  # desktop's sound are unpacked below instead)
  packages+=(weston openbox lintian desktop-file-utils appstream man-db
             pipewire wireplumber dbus-daemon)
fi
if [ "$group" = all ]; then
  # the web face (the web preset): clang 16 for wasm32-wasi with its C and C++ libraries,
  # and for its tests Debian's chromium and node with npm (which installs playwright-core
  # from tests/web/package-lock.json when the tests run); npm comes with some node builds
  packages+=(clang-16 lld-16 wasi-libc libc++-16-dev-wasm32 libc++abi-16-dev-wasm32
             libclang-rt-16-dev-wasm32 chromium nodejs)
  command -v npm >/dev/null || packages+=(npm)
fi
wine_packages=()
if [ "$group" = all ]; then
  packages+=(g++-mingw-w64-i686-posix binutils-mingw-w64-i686
             g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64)
  # Where this kernel runs no 32-bit programs, the 32-bit Windows tests run on an
  # emulated Debian machine whose kernel does (scripts/vm32).
  packages+=(qemu-system-x86 debootstrap e2fsprogs)
  # Wine comes with its recommends: its sound reaches PulseAudio through libpulse0:i386.
  # The 64-bit loader runs the windows64 build where the kernel runs no 32-bit programs.
  wine_packages=(wine wine32:i386 wine64)
fi

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

installed() {
  dpkg-query --admindir="$admindir" -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}
absent() {
  local p
  for p in "$@"; do installed "$p" || echo "$p"; done
}
# A sound server for the program's ALSA output and the headless demo: PulseAudio, unless
# this machine already has one (PipeWire's pulse server counts).
if ! installed pulseaudio && ! installed pipewire-pulse; then
  packages+=(pulseaudio)
elif ! installed pulseaudio; then
  # The headless demo starts a private PipeWire: it needs the session manager and a
  # private D-Bus session besides.
  packages+=(wireplumber dbus-daemon)
fi
mapfile -t missing < <(absent "${packages[@]}")
missing_wine=()
[ ${#wine_packages[@]} -eq 0 ] || mapfile -t missing_wine < <(absent "${wine_packages[@]}")

# pipewire-alsa and pipewire-pulse, for the PipeWire tests only, are unpacked into
# /opt/zarvelin/<package> (tests/scripts/with-pipewire.sh looks there), never installed:
# the one makes itself ALSA's default for the whole system, the other's user service
# claims the PulseAudio socket at every login. Unpacked, they change nothing until a
# test asks for them. Each must be the version of the installed pipewire.
unpack_dir=/opt/zarvelin
unpack_pipewire_parts() {
  [ "$group" = all ] || return 0
  local version pkg dest tmp
  version=$(dpkg-query --admindir="$admindir" -W -f='${Version}' pipewire 2>/dev/null) || return 0
  [ -n "$version" ] || return 0
  for pkg in pipewire-alsa pipewire-pulse; do
    dest="$unpack_dir/$pkg"
    installed "$pkg" && continue
    [ "$(cat "$dest/.version" 2>/dev/null)" = "$version" ] && continue
    if [ "$simulate" = 1 ]; then
      echo "install-deps: (simulated) would unpack $pkg $version into $dest"
      continue
    fi
    tmp=$(mktemp -d)
    chmod 755 "$tmp"   # apt's download user must be able to write here
    if ! (cd "$tmp" && apt-get download -q "$pkg=$version" >/dev/null 2>&1 ||
          { $sudo apt-get update -q >/dev/null && apt-get download -q "$pkg=$version"; }); then
      # Only the PipeWire tests need it; they skip, saying what is missing.
      echo "install-deps: could not download $pkg $version to unpack it; the PipeWire tests will be skipped" >&2
      rm -rf "$tmp"
      continue
    fi
    $sudo rm -rf "$dest.new"
    $sudo mkdir -p "$dest.new"
    $sudo dpkg-deb -x "$tmp"/"$pkg"_*.deb "$dest.new"
    echo "$version" | $sudo tee "$dest.new/.version" >/dev/null
    $sudo rm -rf "$dest"
    $sudo mv "$dest.new" "$dest"
    rm -rf "$tmp"
    echo "install-deps: unpacked $pkg $version into $dest"
  done
}

if [ ${#missing[@]} -eq 0 ] && [ ${#missing_wine[@]} -eq 0 ]; then
  unpack_pipewire_parts
  exit 0
fi

# Wine for 32-bit programs comes from the i386 architecture.
if [ ${#missing_wine[@]} -gt 0 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  if [ "$simulate" = 1 ]; then
    echo "install-deps: (simulated) would add the i386 architecture for ${missing_wine[*]}; left out of the simulation"
    missing_wine=()
  else
    $sudo dpkg --add-architecture i386
  fi
fi
export DEBIAN_FRONTEND=noninteractive
[ "$simulate" = 1 ] || $sudo apt-get update -q

# apt's plan for one install, simulated: stop if it would take any package away.
check_plan() { # apt-get install options and packages...
  local plan removed
  if ! plan=$(apt-get -s "${apt_state[@]}" install "$@" 2>&1); then
    echo "install-deps: apt cannot install what is needed here:" >&2
    echo "$plan" >&2
    exit 1
  fi
  removed=$(sed -nE 's/^Remv ([^ ]+).*/\1/p' <<<"$plan" | tr '\n' ' ')
  if [ -n "$removed" ]; then
    echo "install-deps: installing what is missing would remove these packages: $removed" >&2
    echo "install-deps: nothing was changed. This set-up never removes a package; install the rest yourself or make room for them (for example, pulseaudio and pipewire-alsa exclude each other)." >&2
    exit 1
  fi
  sed -nE 's/^Inst ([^ ]+).*/\1/p' <<<"$plan" | tr '\n' ' '
}
plan_main="" plan_wine=""
[ ${#missing[@]} -eq 0 ] || plan_main=$(check_plan --no-install-recommends "${missing[@]}")
[ ${#missing_wine[@]} -eq 0 ] || plan_wine=$(check_plan "${missing_wine[@]}")
if [ "$simulate" = 1 ]; then
  echo "install-deps: (simulated) would install: ${plan_main}${plan_wine}; would remove nothing"
  unpack_pipewire_parts
  exit 0
fi

echo "Installing: ${missing[*]} ${missing_wine[*]}"
[ ${#missing[@]} -eq 0 ] || $sudo apt-get install -y -q --no-remove --no-install-recommends "${missing[@]}"
[ ${#missing_wine[@]} -eq 0 ] || $sudo apt-get install -y -q --no-remove "${missing_wine[@]}"
unpack_pipewire_parts
