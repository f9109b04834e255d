#!/usr/bin/env bash
# render_wine_e2e.sh WINE_RUN ZARVELIN_RENDER_EXE
# The Windows renderer under Wine: a file Python's wave module reads as the
# frames asked for, an existing file replaced (a rename over an existing file is
# where Windows differs), bad arguments rejected with exit 2 and nothing written,
# an existing target untouched by a rejected render, a part file left by a writer that
# is gone removed by the next render, no part file left by any render, and none by a
# render killed outright (its part file is marked for deletion until it is renamed).
# Exits 77 (skipped) where Wine cannot run this build's programs.
set -uo pipefail
wine_run=$(realpath "$1")
"$wine_run" --can-run || exit 77
render=$(realpath "$2")
py=/usr/bin/python3
work=$(mktemp -d /tmp/zarvelin-render-wine.XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
mkdir files
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
run() { "$wine_run" "$render" "$@"; }
leftovers() { ls -A files | grep -v -x -e "${1:-}" ; }

check_wav() { # file frames
  "$py" - "$1" "$2" <<'PY'
import sys, wave
with wave.open(sys.argv[1], 'rb') as w:
    p = w.getparams()
    assert (p.nchannels, p.sampwidth, p.framerate, p.comptype) == (2, 2, 44100, 'NONE'), p
    assert p.nframes == int(sys.argv[2]), (p.nframes, sys.argv[2])
    data = w.readframes(p.nframes)
    assert len(data) == 4 * p.nframes
    assert any(data), 'all silent'
PY
}

# A noise render whose last block is partial, written fresh and then over itself.
for pass in fresh replace; do
  if [ "$pass" = replace ]; then printf 'the previous render' > files/noise.wav; fi
  if run --frequency 50,00 --sound noise --seconds 1.3 --output 'files\noise.wav' 2>err; then
    check_wav files/noise.wav 57330 || fail "$pass: the file is not the render asked for"
  else
    fail "$pass: render failed: $(cat err)"
  fi
  [ -z "$(leftovers noise.wav)" ] || fail "$pass: left behind: $(leftovers noise.wav)"
done

# Bad arguments: exit 2, one line, nothing written; the existing file untouched.
cp files/noise.wav before.wav
for args in "--frequency 7.805 --seconds 1 --output files\\noise.wav" \
            "--sound rain --seconds 1 --output files\\noise.wav" \
            "--seconds 0 --output files\\noise.wav" \
            "--seconds 1 --output files\\none\\x.wav" \
            "--seconds 24347.001 --output files\\noise.wav" \
            "--seconds 1 --output files\\noise.wav --loud"; do
  # shellcheck disable=SC2086
  run $args 2>err
  rc=$?
  [ "$rc" = 2 ] || fail "'$args': exit $rc, expected 2"
  [ "$(grep -c . err)" = 1 ] || fail "'$args': expected one line, got: $(cat err)"
  cmp -s before.wav files/noise.wav || fail "'$args': the existing file changed"
  [ -z "$(leftovers noise.wav)" ] || fail "'$args': left behind: $(leftovers noise.wav)"
done

# What the old file was is kept: its system attribute (where this file system keeps
# Wine's attributes), and a (Unix) symbolic link, which stays a link to the new file.
"$wine_run" attrib +s 'files\noise.wav' >/dev/null 2>&1
if "$wine_run" attrib 'files\noise.wav' 2>/dev/null | grep -q '^A*S'; then
  run --seconds 0.5 --output 'files\noise.wav' 2>err || fail "render over a system file: $(cat err)"
  "$wine_run" attrib 'files\noise.wav' 2>/dev/null | grep -q '^A*S' || fail "the system attribute was lost"
else
  echo "note: this file system keeps no Wine attributes; the attribute case is skipped"
fi
mkdir linked && printf 'the previous render' > linked/t.wav && ln -s t.wav linked/l.wav
run --seconds 0.5 --output 'linked\l.wav' 2>err || fail "render to a link: $(cat err)"
[ -L linked/l.wav ] && [ "$(readlink linked/l.wav)" = t.wav ] || fail "the link was replaced by a file"
check_wav linked/t.wav 22050 || fail "the link's target does not hold the render"

# Standard output: byte for byte the file; a reader gone early ends it with one line.
run --frequency 50,00 --sound noise --seconds 1.3 --output 'files\noise.wav' 2>err || fail "render: $(cat err)"
run --frequency 50,00 --sound noise --seconds 1.3 --output - 2>err | cat > piped.wav
[ "${PIPESTATUS[0]}" = 0 ] || fail "--output - into a pipe: $(cat err)"
cmp -s piped.wav files/noise.wav || fail "--output - differs from the file (text mode?)"
run --sound noise --seconds 3000 --output - 2>err | head -c 44 > /dev/null
rc=${PIPESTATUS[0]}
[ "$rc" = 1 ] && grep -q "closed by its reader" err || fail "a reader gone: exit $rc, $(cat err)"

# A part file whose writer is gone (no process has that id) is removed by the next
# render to the same target; one for another target is left alone.
printf 'debris' > files/.noise.wav.4294967288.000000000abc.part
printf 'debris' > files/.other.wav.4294967288.000000000abc.part
mkdir killed
run --seconds 0.5 --output 'killed\kept.wav' 2>err || fail "render to kept.wav: $(cat err)"
cp killed/kept.wav kept.before
# exec: the background job's process becomes the program's own (wine-run.sh execs Wine).
(exec "$wine_run" "$render" --sound noise --seconds 3000 --output 'killed\kept.wav' >/dev/null 2>&1) &
writer=$!
for _ in $(seq 1 200); do ls -A killed | grep -q '\.part$' && break; sleep 0.05; done
if ls -A killed | grep -q '\.part$'; then
  kill -KILL "$writer"
  wait "$writer" 2>/dev/null
  for _ in $(seq 1 100); do [ "$(ls -A killed)" = kept.wav ] && break; sleep 0.05; done
  [ "$(ls -A killed)" = kept.wav ] || fail "a killed render left: $(ls -A killed | grep -v -x kept.wav)"
  cmp -s killed/kept.wav kept.before || fail "a killed render changed the old file"
else
  kill -KILL "$writer" 2>/dev/null
  fail "a long render showed no part file"
fi

run --help >out 2>err || fail "--help: exit $?"
grep -q -- "--frequency" out || fail "--help printed no usage"
grep -q -- "130 interrupted" out || fail "--help does not list exit status 130"

if [ "$failures" != 0 ]; then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "render under Wine: all good"
