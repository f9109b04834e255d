#!/usr/bin/env bash
# deb_install.sh PACKAGE.deb SOURCE_DIR BUILT_RENDERER
# Installs the package system-wide with apt-get (as a user would, so its dependencies
# resolve the real way), uses what it installed, removes it with dpkg and checks that
# none of its files is left. A throwaway root would need a whole Debian with Qt and an
# X stack bootstrapped into it; installing on this machine is what a user does.
# Exits 77 (skipped) when not root, or when zarvelin is already on this machine in any
# form, so a user's own install is never touched.
set -euo pipefail
deb=$(readlink -f "$1")
src=$2
built_render=$3

. "$(dirname "$0")/../harness/report.sh"
[ "$(id -u)" -eq 0 ] || skip "installing a package system-wide needs root"
if dpkg-query -W -f='${Status}' zarvelin 2>/dev/null | grep -qv "not-installed"; then
  skip "zarvelin is already installed on this machine ($(dpkg-query -W -f='${Version} ${Status}' zarvelin)); leaving it alone"
fi
for f in /usr/bin/zarvelin /usr/bin/zarvelin-render; do
  [ ! -e "$f" ] || skip "$f exists outside any package; leaving it alone"
done

work=$(mktemp -d /tmp/zarvelin-deb.XXXXXX)
installed=0
cleanup() {
  # Never leave this test's package behind, whatever failed.
  [ "$installed" = 1 ] && dpkg --purge zarvelin >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

export DEBIAN_FRONTEND=noninteractive
# --no-remove: installing this package may never take another away.
apt-get install -y -q --no-remove --no-install-recommends "$deb"
installed=1
dpkg-query -W -f='${Version}\n' zarvelin | grep -qx 1.0.0 || die "the installed version is not 1.0.0"
dpkg -L zarvelin | sort > "$work/files"

# The installed program, used as a person would (the same end-to-end script as the
# build tree's program runs under).
"$src/tests/scripts/with-xvfb.sh" "$src/tests/scripts/with-pulse.sh" \
  /usr/bin/python3 "$src/tests/linux_face/end_to_end.py" /usr/bin/zarvelin ||
  die "the installed /usr/bin/zarvelin failed the scripted session"
echo "PASS: /usr/bin/zarvelin ran the scripted session"

# The installed renderer writes the same bytes as the build tree's.
for args in "--sound binaural --frequency 7.80 --seconds 3" "--sound noise --frequency 0,1 --seconds 2.5"; do
  # shellcheck disable=SC2086
  /usr/bin/zarvelin-render $args --output "$work/installed.wav"
  # shellcheck disable=SC2086
  "$built_render" $args --output "$work/built.wav"
  cmp "$work/installed.wav" "$work/built.wav" || die "zarvelin-render $args: the installed program's file differs"
done
echo "PASS: /usr/bin/zarvelin-render writes the build tree's bytes"

page=$(man -w zarvelin-render) || die "man -w zarvelin-render finds no page"
[ "$page" = /usr/share/man/man1/zarvelin-render.1.gz ] || die "man -w zarvelin-render gives $page"
man -w zarvelin >/dev/null || die "man -w zarvelin finds no page"
echo "PASS: man finds $page"

dpkg --purge zarvelin
installed=0
left=()
while read -r path; do
  [ "$path" = /. ] && continue
  if [ -d "$path" ] && [ ! -L "$path" ]; then
    # A folder may stay only when something else still owns or fills it.
    if [ -z "$(ls -A "$path")" ] && ! dpkg -S "$path" >/dev/null 2>&1; then
      left+=("$path (empty folder)")
    fi
  elif [ -e "$path" ] || [ -L "$path" ]; then
    left+=("$path")
  fi
done < "$work/files"
[ ${#left[@]} -eq 0 ] || die "left behind after removal: ${left[*]}"
echo "PASS: removed; none of its $(wc -l < "$work/files") paths is left"
