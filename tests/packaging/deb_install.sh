#!/usr/bin/env bash
# deb_install.sh PACKAGE.deb SOURCE_DIR BUILT_RENDERER
# Installs the package on this machine with apt-get, as a user would (a throwaway root would
# need a whole Debian with Qt and X), so its dependencies resolve the real way; uses what it
# installed; purges it and checks that none of its files is left. Exits 77 when not root or
# when zarvelin is here already in any form: a user's own install is never touched.
set -euo pipefail
deb=$(readlink -f "$1") src=$2 built_render=$3
. "$(dirname "$0")/../harness/report.sh"
[ "$(id -u)" -eq 0 ] || skip "installing a package system-wide needs root"
if dpkg-query -W -f='${Status}' zarvelin 2>/dev/null | grep -qv not-installed; then
  skip "zarvelin is installed on this machine already; leaving it alone"
fi
for f in /usr/bin/zarvelin /usr/bin/zarvelin-render; do
  [ ! -e "$f" ] || skip "$f exists outside any package; leaving it alone"
done
work=$(mktemp -d /tmp/zarvelin-deb.XXXXXX) installed=0
# Never leave this test's package behind, whatever failed.
trap '[ "$installed" = 0 ] || dpkg --purge zarvelin >/dev/null 2>&1; rm -rf "$work"' EXIT

# --no-remove: installing this package may never take another away.
DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-remove --no-install-recommends "$deb"
installed=1
[ "$(dpkg-query -W -f='${Version}' zarvelin)" = 1.0.0 ] || die "the installed version is not 1.0.0"
dpkg -L zarvelin > "$work/files"

# The installed program through the same scripted session as the build tree's.
"$src/tests/scripts/with-xvfb.sh" "$src/tests/scripts/with-pulse.sh" \
  /usr/bin/python3 "$src/tests/linux_face/end_to_end.py" /usr/bin/zarvelin ||
  die "the installed /usr/bin/zarvelin failed the scripted session"
# The installed renderer writes the build tree's bytes.
# shellcheck disable=SC2086
for args in "--sound binaural --frequency 7.80 --seconds 3" "--sound noise --frequency 0,1 --seconds 2.5"; do
  /usr/bin/zarvelin-render $args --output "$work/installed.wav"
  "$built_render" $args --output "$work/built.wav"
  cmp "$work/installed.wav" "$work/built.wav" ||
    die "zarvelin-render $args: the installed program's file differs"
done
for page in zarvelin zarvelin-render; do
  [ "$(man -w $page)" = /usr/share/man/man1/$page.1.gz ] || die "man -w $page does not find its page"
done

dpkg --purge zarvelin
installed=0
# A folder may stay only while something else owns or fills it.
while read -r path; do
  if [ -d "$path" ] && [ ! -L "$path" ]; then
    [ -n "$(ls -A "$path")" ] || dpkg -S "$path" >/dev/null 2>&1 || fail "left behind: empty folder $path"
  elif [ -e "$path" ] || [ -L "$path" ]; then
    fail "left behind: $path"
  fi
done < "$work/files"
report_end
