#!/usr/bin/env bash
# validate_metadata.sh DIR: the desktop entry and the AppStream metadata in DIR pass
# desktop-file-validate and appstreamcli (offline; it fails errors and warnings, passes
# notes), and name each other and the icon the package installs.
set -uo pipefail
id=org.zarvelin.Zarvelin
file=$1/$id
. "$(dirname "$0")/../harness/report.sh"
out=$(desktop-file-validate "$file.desktop" 2>&1) && [ -z "$out" ] || fail "desktop-file-validate: $out"
appstreamcli validate --no-net --explain "$file.metainfo.xml" || fail "appstreamcli refuses the metadata"
grep -qx "Icon=$id" "$file.desktop" || fail "the desktop entry's Icon is not $id"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$file.metainfo.xml" ||
  fail "the metadata does not launch $id.desktop"
report_end
