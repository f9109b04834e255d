#!/usr/bin/env bash
# run.sh [BUILD_DIR]: prints the web face's figures (bench/web/web_bench.mjs) for the
# site built in BUILD_DIR (default build/web), beside a private PulseAudio sink.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$root/build/web}" && pwd)
[ -f "$build/site/zarvelin.wasm" ] && [ -x "$build/tests/web/web_reference" ] ||
  { echo "run.sh: no site or reference in $build (cmake --build --preset web --target all zarvelin_checks)" >&2; exit 1; }
"$root/tests/web/npm_ci.sh" "$build/tests/web/npm" >/dev/null
export ZARVELIN_WEB_SITE="$build/site" ZARVELIN_WEB_NPM="$build/tests/web/npm"
export ZARVELIN_WEB_REFERENCE="$build/tests/web/web_reference"
exec "$root/tests/scripts/with-pulse.sh" node "$here/web_bench.mjs"
