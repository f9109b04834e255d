# Sourced by the shell test scripts: how a test says how it went, one way for all.
#   report_name=NAME         (defaults to the script's file name)
#   fail MESSAGE             counted; the script goes on to its next case
#   die MESSAGE              counted, then the script ends now with 1; a script may define
#                            report_context to print what explains the failure
#   skip WHY                 ends with 77, which ctest counts as skipped
#   expect WHAT WANTED GOT   fails unless the two are equal
#   report_end               exits 0 when nothing failed, else 1 with the count
# Lines go to standard error with the script's name.
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
