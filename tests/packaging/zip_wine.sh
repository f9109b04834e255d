#!/usr/bin/env bash
# zip_wine.sh ZIP WINE_RUN NATIVE_RENDER
# Unpacks the zip into a folder whose name has Cyrillic letters and a space on the Wine
# prefix's C: drive, as a user would, and runs both programs from there: the renderer
# writes beside itself the same bytes as the Linux build's zarvelin-render (NATIVE_RENDER)
# for the same settings, the GUI program opens its window and ends with code 0 when it
# is closed. Run under with-xvfb.sh and with-pulse.sh. Exits 77 (skipped) where Wine
# cannot run the zip's programs.
set -uo pipefail
zip=$(readlink -f "$1")
wine_run=$(readlink -f "$2")
native_render=$3
"$wine_run" --can-run || exit 77

. "$(dirname "$0")/../harness/report.sh"
[ -x "$native_render" ] ||
  die "the Linux build's renderer $native_render is missing: build the linux preset first (scripts/test.sh does)"
prefix=$("$wine_run" --prefix)
"$wine_run" cmd /c exit >/dev/null 2>&1   # makes the prefix on first use
folder_name="Программы Zarvelin $$"
dir="$prefix/drive_c/$folder_name"
trap 'rm -rf "$dir"' EXIT
mkdir -p "$dir"
/usr/bin/python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$zip" "$dir"
win_dir="C:\\$folder_name"

# The renderer, called by its full Windows path with the output beside it, in each mode
# (two sines; a gate at zero; a noise envelope), against the Linux build's bytes.
for sound in binaural beeps noise; do
  "$wine_run" "$win_dir\\zarvelin-render.exe" --frequency 7,80 --sound "$sound" --seconds 1.5 \
    --output "$win_dir\\сеанс $sound.wav" || die "zarvelin-render.exe ($sound) ended with code $?"
  /usr/bin/python3 - "$dir/сеанс $sound.wav" <<'PY' || die "the rendered file ($sound) is not the WAV asked for"
import sys, wave
with wave.open(sys.argv[1], "rb") as w:
    p = w.getparams()
    assert (p.nchannels, p.sampwidth, p.framerate, p.nframes) == (2, 2, 44100, 66150), p
    assert any(w.readframes(p.nframes)), "all silent"
PY
  "$native_render" --frequency 7,80 --sound "$sound" --seconds 1.5 --output "$dir/native.wav" ||
    die "the Linux build's zarvelin-render ($sound) ended with code $?"
  cmp "$dir/native.wav" "$dir/сеанс $sound.wav" ||
    die "zarvelin-render.exe ($sound) wrote other bytes than the Linux build's renderer"
  echo "PASS: zarvelin-render.exe ($sound) wrote in '$folder_name' the Linux build's bytes"
done

# The GUI program: its control window appears; closing it ends the program with 0.
"$wine_run" "$win_dir\\zarvelin.exe" &
pid=$!
window=""
for _ in $(seq 1 300); do
  window=$(xdotool search --name '^Zarvelin$' 2>/dev/null | head -n1) && [ -n "$window" ] && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
[ -n "$window" ] || { kill "$pid" 2>/dev/null; die "zarvelin.exe showed no window named Zarvelin"; }
# taskkill without /F posts WM_CLOSE to the program's windows, as the close box does.
"$wine_run" taskkill /IM zarvelin.exe >/dev/null 2>&1 || die "taskkill could not reach zarvelin.exe"
for _ in $(seq 1 150); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$pid" 2>/dev/null; then kill "$pid"; die "zarvelin.exe did not end after its window was closed"; fi
wait "$pid"
code=$?
[ "$code" = 0 ] || die "zarvelin.exe ended with code $code"
echo "PASS: zarvelin.exe opened its window in '$folder_name' and ended with 0"
