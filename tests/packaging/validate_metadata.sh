#!/usr/bin/env bash
# validate_metadata.sh DIR: the desktop entry and the AppStream metadata in DIR pass
# desktop-file-validate and appstreamcli (offline) with no error and no warning.
set -uo pipefail
dir=$1
id=org.zarvelin.Zarvelin
status=0
out=$(desktop-file-validate "$dir/$id.desktop" 2>&1) || status=1
if [ -n "$out" ]; then echo "desktop-file-validate: $out"; status=1; fi
# appstreamcli exits non-zero on errors and warnings; info and pedantic notes pass.
appstreamcli validate --no-net --explain "$dir/$id.metainfo.xml" || status=1
# The two files must name each other and the icon the package installs.
grep -qx "Icon=$id" "$dir/$id.desktop" || { echo "the desktop entry's Icon is not $id"; status=1; }
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$dir/$id.metainfo.xml" ||
  { echo "the metadata does not launch $id.desktop"; status=1; }
exit $status
