# Sourced by the shell test scripts: how a test says how it went, one way for all, named
# by report_name (the script's file name unless set before). fail and expect count and go
# on; die counts and ends with 1, after report_context if the script has one; skip ends
# with 77 (ctest's skip); report_end ends with 0, or 1 and the count.
report_name=${report_name:-$(basename "$0")}
report_failures=0
fail() {
  echo "$report_name: FAIL: $*" >&2
  report_failures=$((report_failures + 1))
}
die() {
  fail "$@"
  if declare -F report_context >/dev/null; then report_context >&2; fi
  exit 1
}
skip() {
  echo "$report_name: SKIP: $*"
  exit 77
}
expect() {
  [ "$2" = "$3" ] || fail "$1: expected '$2', got '$3'"
}
report_end() {
  if [ "$report_failures" != 0 ]; then
    echo "$report_name: $report_failures failure(s)" >&2
    exit 1
  fi
  echo "$report_name: all good"
  exit 0
}
