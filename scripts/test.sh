#!/usr/bin/env bash
# Runs every test: installs what is missing, then builds and tests each preset in turn:
#   linux     the native build: core, session, renderer, Linux face (Qt, ALSA, Xvfb)
#   sanitize  the same core, session and renderer tests under ASan and UBSan
#   tsan      the session and worker logic under ThreadSanitizer
#   windows   the 32-bit Windows build under Wine: core tests, renderer, the Win32 program
#   windows64 the same Windows programs built for x86-64, under 64-bit Wine, at full
#             speed: run besides where this kernel runs no 32-bit programs
#   web       the core in WebAssembly and the page, in Debian's Chromium
# Where this kernel runs no 32-bit programs, the windows preset's tests of what a 32-bit
# build can get wrong (label vm32) run on an emulated Debian machine whose kernel does
# (scripts/vm32), made on first use; the windows64 preset runs every Windows test at full
# speed. Independent tests run in parallel; none is ever run a second time.
# ZARVELIN_VM32=1 takes the emulated machine's path even where this kernel runs 32-bit
# programs (to check that path on such a machine).
# Ends with one line "N passed, N failed, N skipped" over all presets; exits non-zero on any failure.
set -uo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh || { echo "test.sh: could not install the packages the tests need" >&2; exit 1; }

jobs=$(nproc 2>/dev/null || echo 2)
passed=0 failed=0 skipped=0 broken=()

# Wine runs 32-bit Windows programs as 32-bit Linux processes. A kernel started without
# its 32-bit compatibility (ia32_emulation=off) refuses them all with "Exec format
# error": the Windows preset is then built but its programs cannot be run here, and
# the same programs built for x86-64 run under 64-bit Wine in their place.
runs_32bit() {
  local loader=/lib/i386-linux-gnu/ld-linux.so.2
  [ "${ZARVELIN_VM32:-0}" = 1 ] && return 1
  [ -x "$loader" ] && "$loader" --version >/dev/null 2>&1
}
presets=("$@")
if [ ${#presets[@]} -eq 0 ]; then
  presets=(linux sanitize tsan windows)
  runs_32bit || presets+=(windows64)
  presets+=(web)
fi

# run_ctest PRESET [ctest options...] [--vm32]: runs the preset's tests (on the emulated
# 32-bit machine with --vm32) and adds their counts to the totals.
run_ctest() {
  local preset=$1 runner=() args=() log summary own_skips total bad
  shift
  for a in "$@"; do
    if [ "$a" = --vm32 ]; then runner=(scripts/vm32/run.sh); else args+=("$a"); fi
  done
  log=$(mktemp)
  "${runner[@]}" ctest --preset "$preset" --timeout 900 -j"$jobs" "${args[@]}" 2>&1 | tee "$log"
  summary=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n1)
  # ctest counts a test that skipped itself (exit 77) among the passed; we do not.
  own_skips=$(grep -cE '^[[:space:]]*[0-9]+ - .*\(Skipped\)$' "$log")
  rm -f "$log"
  if [ -z "$summary" ]; then
    broken+=("$preset")
    return
  fi
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$summary")
  bad=$(sed -E 's/.* ([0-9]+) tests? failed.*/\1/' <<<"$summary")
  passed=$((passed + total - bad - own_skips))
  failed=$((failed + bad))
  skipped=$((skipped + own_skips))
}

mkdir -p build
for preset in "${presets[@]}"; do
  echo "=== $preset: configure and build"
  if ! cmake --preset "$preset" >"build/$preset.log" 2>&1 ||
     ! cmake --build --preset "$preset" -j"$jobs" --target all zarvelin_checks >>"build/$preset.log" 2>&1; then
    tail -n 60 "build/$preset.log"
    echo "=== $preset: build failed"
    broken+=("$preset")
    continue
  fi
  rm -f "build/$preset.log"
  if [ "$preset" = windows ] && ! runs_32bit; then
    # The tests that run on the build machine itself (label "host") run here; those that
    # run 32-bit Wine run on the emulated machine, where a kernel runs 32-bit programs.
    vm32=1
    scripts/vm32/build-image.sh || vm32=0
    echo "=== windows: test (host)"
    run_ctest "$preset" -L host
    if [ "$vm32" = 0 ]; then
      n=$(ctest --preset "$preset" -N -L vm32 2>/dev/null | sed -nE 's/^Total Tests: ([0-9]+)/\1/p')
      echo "=== windows: the emulated machine could not be made: ${n:-0} tests that need 32-bit Wine counted as failed"
      failed=$((failed + ${n:-0}))
      continue
    fi
    echo "=== windows: test what 32 bits can get wrong (label vm32, on the emulated machine)"
    # The zip the Wine test unpacks was built by the host tests just now.
    run_ctest "$preset" -L vm32 -FS '.*' --vm32
    continue
  fi
  echo "=== $preset: test"
  run_ctest "$preset"
done

# Wine leaves its server behind for a few seconds; end it so nothing outlives the run.
if command -v wineserver >/dev/null; then
  runs_32bit && (. scripts/wine-prefix.sh && wineserver -k 2>/dev/null)
  [ -x /usr/lib/wine/wine64 ] && (ZARVELIN_WINE_ARCH=win64 && . scripts/wine-prefix.sh && wineserver -k 2>/dev/null)
fi

[ ${#broken[@]} -eq 0 ] || echo "presets that did not build or run: ${broken[*]}"
echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ] && [ ${#broken[@]} -eq 0 ]
