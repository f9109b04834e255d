#!/usr/bin/env bash
# render_e2e.sh ZARVELIN_RENDER SYNTH_DUMP PART_FILE_WRITER
# The built renderer end to end: every sound mode at a few frequencies read back by
# Python's wave module and compared with the straightforward synthesis; bad arguments,
# unwritable targets and renders ended by any signal (SIGKILL included) leave no file
# and no temporary file behind, and an existing target untouched; part files of dead
# writers are removed by the next render, those of live ones kept.
set -uo pipefail
render=$(realpath "$1")
dump=$(realpath "$2")
part_writer=$(realpath "$3")
manual=$(realpath "$(dirname "$0")/../../packaging/man/zarvelin-render.1")
py=/usr/bin/python3
work=$(mktemp -d /tmp/zarvelin-render-e2e.XXXXXX)
trap 'rm -rf "$work"' EXIT
# Whatever a render writes by a name of its own choosing lands here, not in the caller's
# folder.
cd "$work" || exit 1
# Renders go to their own folder, so anything else found there was left behind.
dir="$work/files"
mkdir "$dir"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# Files in the work folder other than those named: a leftover temporary is a fault.
only_files() {
  local want=" $* " f
  for f in "$dir"/* "$dir"/.[!.]*; do
    [ -e "$f" ] || continue
    case "$want" in *" $(basename "$f") "*) ;; *) echo "$(basename "$f")";; esac
  done
}

# --- sound read back equals the synthesizer's frames -------------------------------
# sound mode-number frequency-text hundredths seconds
cases=(
  "none 0 7.80 780 1"
  "binaural 1 7.80 780 2"
  "binaural 1 0,1 10 1.5"
  "binaural 1 50 5000 0.75"
  "beeps 2 7,8 780 2"
  "beeps 2 0.19 19 1"
  "noise 3 7.80 780 3"
  "noise 3 50,00 5000 1.3"
  "noise 3 0.10 10 0.279"
  "binaural 1 12.34 1234 0.27863945578"
  "noise 3 3,33 333 13.7"
  "beeps 2 49.99 4999 11.15"
)
for c in "${cases[@]}"; do
  read -r sound mode ftext f seconds <<<"$c"
  out="$dir/$sound-$f.wav"
  if ! "$render" --frequency "$ftext" --sound "$sound" --seconds "$seconds" --output "$out" 2>"$work/err"; then
    fail "$c: render failed: $(cat "$work/err")"; continue
  fi
  frames=$("$py" -c "from fractions import Fraction as F; import sys; print(int(F(sys.argv[1]) * 44100 + F(1, 2)))" "$seconds")
  "$dump" "$f" "$mode" "$frames" >"$work/expected.raw" || { fail "$c: synth_dump failed"; continue; }
  if ! "$py" - "$out" "$work/expected.raw" "$frames" <<'PY'
import sys, wave
path, raw, frames = sys.argv[1], sys.argv[2], int(sys.argv[3])
with wave.open(path, 'rb') as w:
    p = w.getparams()
    assert (p.nchannels, p.sampwidth, p.framerate, p.comptype) == (2, 2, 44100, 'NONE'), p
    assert p.nframes == frames, (p.nframes, frames)
    data = w.readframes(p.nframes + 1)
expected = open(raw, 'rb').read()
assert len(data) == len(expected) == 4 * frames, (len(data), len(expected))
if data != expected:
    first = next(i for i in range(len(data)) if data[i] != expected[i])
    raise SystemExit('first differing frame %d' % (first // 4))
# The whole file is header + data, nothing trailing.
import os
assert os.path.getsize(path) == 44 + 4 * frames
PY
  then fail "$c: file differs from the synthesizer's frames"; fi
  rm -f "$out"
done
[ -z "$(only_files)" ] || fail "files left behind after good renders: $(only_files)"

# --- bad arguments: exit 2, one line on stderr, no file -----------------------------
target="$dir/bad.wav"
bad=(
  "--frequency 60 --seconds 1 --output $target"
  "--frequency 0.05 --seconds 1 --output $target"
  "--frequency 7.805 --seconds 1 --output $target"
  "--frequency abc --seconds 1 --output $target"
  "--sound rain --seconds 1 --output $target"
  "--seconds 0 --output $target"
  "--seconds -1 --output $target"
  "--seconds 0.00001 --output $target"
  "--seconds 25000 --output $target"
  "--seconds 24347.001 --output $target"
  "--seconds 1 --output $target --volume 3"
  "--seconds 1 --output"
  "--seconds 1"
  "--seconds 1 --output $dir/no/such/folder/x.wav"
  "--seconds 1 --output $dir"
  "--seconds 1 --output /dev/null"
)
for args in "${bad[@]}"; do
  # shellcheck disable=SC2086
  "$render" $args >"$work/out" 2>"$work/err"
  rc=$?
  [ "$rc" = 2 ] || fail "'$args': exit $rc, expected 2"
  [ "$(wc -l <"$work/err")" = 1 ] || fail "'$args': expected one line on stderr, got: $(cat "$work/err")"
  [ -s "$work/out" ] && fail "'$args': wrote to stdout"
  rm -f "$work/out" "$work/err"
  left=$(only_files)
  [ -z "$left" ] || { fail "'$args': left behind: $left"; rm -rf "${dir:?}"/* "$dir"/.[!.]*; }
done
[ -e /dev/null ] && [ -c /dev/null ] || fail "/dev/null is no longer a device"

"$render" --help >"$work/out" 2>"$work/err" || fail "--help exit status $?"
grep -q -- "--frequency" "$work/out" || fail "--help prints no usage on stdout"
grep -q -- "130 interrupted" "$work/out" || fail "--help does not list exit status 130"
# The longest render: the usage and the manual page state the number the check holds to.
longest=$(sed -n 's/.*at most \([0-9][0-9]*\).*/\1/p' "$work/out")
[ "$longest" = 24347 ] || fail "--help states the longest render as '$longest'"
grep -q "at most $longest " "$manual" \
  || fail "the manual page does not state the longest render as $longest seconds"
[ -s "$work/err" ] && fail "--help wrote to stderr"
rm -f "$work/out" "$work/err"

# --- an existing target stays as it was whenever the render fails --------------------
existing="$dir/keep.wav"
printf 'the previous render' >"$existing"
"$render" --seconds 0 --output "$existing" 2>/dev/null
[ "$(cat "$existing")" = "the previous render" ] || fail "a rejected render changed the target"

# A write that fails half way (the file size limit) reports exit 1 and keeps the target.
(ulimit -f 100; exec "$render" --sound noise --seconds 10 --output "$existing") 2>"$work/err"
rc=$?
[ "$rc" = 1 ] || fail "write failure half way: exit $rc, expected 1 ($(cat "$work/err"))"
[ "$(wc -l <"$work/err")" = 1 ] || fail "write failure: expected one line, got: $(cat "$work/err")"
[ "$(cat "$existing")" = "the previous render" ] || fail "a failed write changed the target"
rm -f "$work/err"
[ "$(only_files keep.wav)" = "" ] || fail "a failed write left: $(only_files keep.wav)"

# A good render replaces the target.
"$render" --seconds 0.5 --output "$existing" || fail "replacing an existing file failed"
"$py" -c "import wave,sys; assert wave.open(sys.argv[1]).getnframes() == 22050" "$existing" \
  || fail "the replaced target is not the new render"

# --- unwritable targets: exit 1, nothing left ----------------------------------------
"$render" --seconds 1 --output /proc/zarvelin-render-test.wav 2>"$work/err"
rc=$?
[ "$rc" = 1 ] || fail "unwritable folder: exit $rc, expected 1"
[ "$(wc -l <"$work/err")" = 1 ] || fail "unwritable folder: expected one line, got: $(cat "$work/err")"
rm -f "$work/err"
if [ "$(id -u)" != 0 ]; then
  mkdir "$work/ro" && chmod 555 "$work/ro"
  "$render" --seconds 1 --output "$work/ro/x.wav" 2>/dev/null
  rc=$?
  [ "$rc" = 1 ] || fail "read-only folder: exit $rc, expected 1"
  [ -z "$(ls -A "$work/ro")" ] || fail "read-only folder: something was written"
  chmod 755 "$work/ro" && rmdir "$work/ro"
fi

# --- a replaced file keeps what it was -----------------------------------------------
# Each case sets up a folder of its own, renders 0.1 s to --output as WHO (me, or only
# when run as root: root, or nobody in a folder anyone may write), then the render must
# be in FILE and CHECK hold.
old() { printf 'the previous render' >"$1"; }
mode() { [ "$(stat -c %a "$1")" = "$2" ] || { echo "$1 has mode $(stat -c %a "$1"), expected $2"; return 1; }; }
owner() { [ "$(stat -c %U:%G "$1")" = "$2" ] || { echo "$1 is $(stat -c %U:%G "$1")'s, expected $2's"; return 1; }; }
link() { [ -L "$1" ] && [ "$(readlink "$1")" = "$2" ] || { echo "$1 is no longer a link to $2"; return 1; }; }
# who | what | setup | --output | FILE | CHECK
keep_cases=(
  "me|a private file|old p.wav; chmod 600 p.wav|p.wav|p.wav|mode p.wav 600"
  "me|set-id bits, read-only|old r.wav; chmod 4551 r.wav|r.wav|r.wav|mode r.wav 4551"
  "me|a new file, umask 027|umask 027|n.wav|n.wav|mode n.wav 640"
  "root|another user's file|old o.wav; chown nobody:nogroup o.wav; chmod 640 o.wav|o.wav|o.wav|owner o.wav nobody:nogroup && mode o.wav 640"
  "nobody|root's file in a shared group|old g.wav; chown root:nogroup g.wav; chmod 660 g.wav|g.wav|g.wav|owner g.wav nobody:nogroup && mode g.wav 660"
  "me|a symbolic link|old t.wav; chmod 640 t.wav; ln -s t.wav l.wav|l.wav|t.wav|link l.wav t.wav && mode t.wav 640"
  "me|links, relative then absolute|mkdir s; old s/t.wav; ln -s \"\$PWD/s/t.wav\" s/l.wav; ln -s s/l.wav l.wav|l.wav|s/t.wav|link l.wav s/l.wav && link s/l.wav \"\$PWD/s/t.wav\""
  "me|a link to a file not there yet|ln -s t.wav l.wav|l.wav|t.wav|link l.wav t.wav"
)
chmod 755 "$work"
n=0
for c in "${keep_cases[@]}"; do
  IFS='|' read -r who what setup output file check <<<"$c"
  case "$who" in me) as=();; root) as=();; nobody) as=(setpriv --reuid=nobody --regid=nogroup --clear-groups);; esac
  if [ "$who" != me ] && [ "$(id -u)" != 0 ]; then echo "note: '$what' needs root; skipped"; continue; fi
  n=$((n + 1)); case_dir="$work/keep$n"
  mkdir "$case_dir" && chmod 777 "$case_dir"
  if ! (cd "$case_dir" && eval "$setup" && exec "${as[@]}" "$render" --seconds 0.1 --output "$output") 2>"$work/err"; then
    fail "$what: render failed: $(cat "$work/err")"; continue
  fi
  "$py" -c "import wave,sys; assert wave.open(sys.argv[1]).getnframes() == 4410" "$case_dir/$file" \
    || fail "$what: $file does not hold the render"
  result=$(cd "$case_dir" && eval "$check") || fail "$what: $result"
  [ -z "$(find "$case_dir" -name '*.part')" ] || fail "$what: part files left"
done

# A loop of links is refused like any path that cannot be a file.
ln -s loop2.wav "$dir/loop1.wav"; ln -s loop1.wav "$dir/loop2.wav"
"$render" --seconds 1 --output "$dir/loop1.wav" 2>"$work/err"
rc=$?
[ "$rc" = 2 ] && grep -q "loop" "$work/err" || fail "a loop of links: exit $rc, $(cat "$work/err")"
rm -f "$dir/loop1.wav" "$dir/loop2.wav"

# --- standard output ------------------------------------------------------------------
# Through a pipe and into a file the shell opened: byte for byte what --output FILE
# writes (a last chunk cut short included).
args=(--sound noise --frequency 3,33 --seconds 13.7)
"$render" "${args[@]}" --output "$dir/file.wav" || fail "render to a file failed"
"$render" "${args[@]}" --output - 2>"$work/err" | cat >"$work/piped.wav"
[ "${PIPESTATUS[0]}" = 0 ] && [ ! -s "$work/err" ] || fail "--output - into a pipe: $(cat "$work/err")"
cmp -s "$work/piped.wav" "$dir/file.wav" || fail "--output - into a pipe differs from the file"
"$render" "${args[@]}" --output - >"$work/redirected.wav" || fail "--output - into a file failed"
cmp -s "$work/redirected.wav" "$dir/file.wav" || fail "--output - into a file differs from the file"
[ -z "$(only_files file.wav keep.wav)" ] || fail "--output - wrote a file: $(only_files file.wav keep.wav)"
rm -f "$dir/file.wav"
# A reader that leaves early ends the render with one clear line and exit 1, having been
# given a header that already counts every frame.
"$render" --sound noise --seconds 24347 --output - 2>"$work/err" | head -c 44 >"$work/head.wav"
rc=${PIPESTATUS[0]}
[ "$rc" = 1 ] && [ "$(wc -l <"$work/err")" = 1 ] && grep -q "closed by its reader" "$work/err" \
  || fail "a reader gone: exit $rc, $(cat "$work/err")"
"$py" -c "import wave,sys; assert wave.open(sys.argv[1]).getnframes() == 24347 * 44100" "$work/head.wav" \
  || fail "the streamed header does not count the whole render"
# Standard output on a terminal is refused: no binary on the screen.
"$py" - "$render" <<'PY' || fail "--output - on a terminal was not refused"
import os, pty, subprocess, sys
master, slave = pty.openpty()
run = subprocess.run([sys.argv[1], '--seconds', '1', '--output', '-'], stdout=slave, stderr=subprocess.PIPE)
os.close(slave)
os.set_blocking(master, False)
try:
    shown = os.read(master, 65536)
except OSError:
    shown = b''
assert run.returncode == 2 and shown == b'', (run.returncode, shown[:40])
assert run.stderr.count(b'\n') == 1 and b'terminal' in run.stderr, run.stderr
PY

# --- messages show control characters, never send them --------------------------------
"$render" --seconds 1 --output $'\e[2J\x9b\r/x.wav' 2>"$work/err"
[ $? = 2 ] && grep -qF "'\x1b[2J\x9b\r'" "$work/err" || fail "escaped folder name not shown: $(cat -v "$work/err")"
[ "$(LC_ALL=C tr -d '\n -~' <"$work/err" | wc -c)" = 0 ] || fail "a control character reached stderr: $(cat -v "$work/err")"

# --- ended from outside: the old file intact, no temporary file, ever ----------------
# Whether this folder's file system has unnamed files (O_TMPFILE): then a render in
# progress shows no name in the folder at all.
unnamed=$("$py" -c "
import os, sys
try:
    os.close(os.open(sys.argv[1], os.O_TMPFILE | os.O_WRONLY, 0o600)); print(1)
except OSError:
    print(0)" "$dir")
[ "$unnamed" = 1 ] || echo "note: $dir has no unnamed files; the renderer falls back to part files there"

# Waits until render PID has its output file open in $dir (named or not): under way.
under_way() {
  local _ fd
  for _ in $(seq 1 400); do
    for fd in /proc/"$1"/fd/*; do
      case "$(readlink "$fd" 2>/dev/null)" in "$dir"/*) return 0;; esac
    done
    sleep 0.01
  done
  return 1
}

# Each way a render can be ended from outside: the handled ones exit 130 having removed
# their file; SIGKILL cannot be handled, and leaves nothing because the file never had
# a name. The longest render there is, so each is surely ended mid-way.
for sig in INT TERM HUP QUIT PIPE KILL; do
  printf 'the previous render' >"$existing"
  "$render" --sound noise --seconds 24347 --output "$existing" 2>"$work/err" &
  pid=$!
  under_way "$pid" || fail "SIG$sig: the render never opened its file"
  if [ "$unnamed" = 1 ] && [ -n "$(only_files keep.wav)" ]; then
    fail "SIG$sig: a render in progress shows a name in the folder: $(only_files keep.wav)"
  fi
  kill -s "$sig" "$pid"
  wait "$pid"
  rc=$?
  if [ "$sig" = KILL ]; then expected=137; else expected=130; fi
  [ "$rc" = "$expected" ] || fail "SIG$sig: exit $rc, expected $expected ($(cat "$work/err"))"
  [ "$(cat "$existing")" = "the previous render" ] || fail "SIG$sig: the target changed"
  if [ "$unnamed" = 1 ] || [ "$sig" != KILL ]; then
    [ -z "$(only_files keep.wav)" ] || fail "SIG$sig: left behind: $(only_files keep.wav)"
  fi
  # The next render to the same target replaces it and leaves nothing else either.
  "$render" --seconds 0.1 --output "$existing" || fail "SIG$sig: the following render failed"
  "$py" -c "import wave,sys; assert wave.open(sys.argv[1]).getnframes() == 4410" "$existing" \
    || fail "SIG$sig: the following render did not replace the target"
  [ -z "$(only_files keep.wav)" ] || fail "SIG$sig: after the following render: $(only_files keep.wav)"
done

# Where there are no unnamed files, a killed writer leaves its part file; the next
# render to the same target removes it once that writer is gone, never before.
printf 'the previous render' >"$existing"
"$part_writer" "$existing" >"$work/part" &
writer=$!
for _ in $(seq 1 200); do [ -s "$work/part" ] && break; sleep 0.01; done
part=$(cat "$work/part")
case "$(basename "$part")" in
  .keep.wav."$writer".*.part) ;;
  *) fail "the part file '$part' does not carry its writer's process id $writer";;
esac
[ -e "$part" ] || fail "the part writer's file is missing"
"$render" --seconds 0.1 --output "$existing" || fail "render beside a live writer failed"
[ -e "$part" ] || fail "a render removed the part file of a writer still running"
kill -KILL "$writer"; wait "$writer" 2>/dev/null
[ -e "$part" ] || fail "the killed writer's part file should still be there before the next render"
"$render" --seconds 0.2 --output "$existing" || fail "render after a dead writer failed"
[ -e "$part" ] && fail "the dead writer's part file was not removed by the next render"
"$py" -c "import wave,sys; assert wave.open(sys.argv[1]).getnframes() == 8820" "$existing" \
  || fail "the render after a dead writer did not replace the target"
[ -z "$(only_files keep.wav)" ] || fail "after a dead writer's part file: $(only_files keep.wav)"

if [ "$failures" != 0 ]; then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "render end to end: all good"
