#!/usr/bin/env bash
# validate_metadata.sh DIR: the desktop entry and the AppStream metadata in DIR pass
# desktop-file-validate and appstreamcli (offline) with no error and no warning.
set -uo pipefail
dir=$1
id=org.zarvelin.Zarvelin
. "$(dirname "$0")/../harness/report.sh"
out=$(desktop-file-validate "$dir/$id.desktop" 2>&1) && [ -z "$out" ] ||
  fail "desktop-file-validate: $out"
# appstreamcli exits non-zero on errors and warnings; info and pedantic notes pass.
appstreamcli validate --no-net --explain "$dir/$id.metainfo.xml" || fail "appstreamcli refuses the metadata"
# The two files must name each other and the icon the package installs.
grep -qx "Icon=$id" "$dir/$id.desktop" || fail "the desktop entry's Icon is not $id"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$dir/$id.metainfo.xml" ||
  fail "the metadata does not launch $id.desktop"
report_end
