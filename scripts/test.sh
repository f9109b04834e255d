#!/usr/bin/env bash
# Runs every test: installs what is missing, then builds and tests each preset in turn:
#   linux     the native build: core, session, renderer, Linux face (Qt, ALSA, Xvfb)
#   sanitize  the same core, session and renderer tests under ASan and UBSan
#   tsan      the session and worker logic under ThreadSanitizer
#   windows   the 32-bit Windows build under Wine: core tests, renderer, the Win32 program
# Ends with one line "N passed, N failed" over all presets; exits non-zero on any failure.
set -uo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh || { echo "test.sh: could not install the packages the tests need" >&2; exit 1; }

jobs=$(nproc 2>/dev/null || echo 2)
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(linux sanitize tsan windows)
passed=0 failed=0 broken=()

mkdir -p build
for preset in "${presets[@]}"; do
  echo "=== $preset: configure and build"
  if ! cmake --preset "$preset" >"build/$preset.log" 2>&1 ||
     ! cmake --build --preset "$preset" -j"$jobs" >>"build/$preset.log" 2>&1; then
    tail -n 60 "build/$preset.log"
    echo "=== $preset: build failed"
    broken+=("$preset")
    continue
  fi
  rm -f "build/$preset.log"
  echo "=== $preset: test"
  log=$(mktemp)
  ctest --preset "$preset" --timeout 900 2>&1 | tee "$log"
  summary=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n1)
  rm -f "$log"
  if [ -z "$summary" ]; then
    broken+=("$preset")
    continue
  fi
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$summary")
  bad=$(sed -E 's/.* ([0-9]+) tests? failed.*/\1/' <<<"$summary")
  passed=$((passed + total - bad))
  failed=$((failed + bad))
done

# Wine leaves its server behind for a few seconds; end it so nothing outlives the run.
command -v wineserver >/dev/null && WINEPREFIX="${ZARVELIN_WINEPREFIX:-/tmp/zarvelin-wine-$(id -u)}" wineserver -k 2>/dev/null

[ ${#broken[@]} -eq 0 ] || echo "presets that did not build or run: ${broken[*]}"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ ${#broken[@]} -eq 0 ]
