#!/usr/bin/env bash
# zip_wine.sh ZIP WINE_RUN
# Unpacks the zip into a folder whose name has Cyrillic letters and a space on the Wine
# prefix's C: drive, as a user would, and runs both programs from there: the renderer
# writes a WAV file beside itself, the GUI program opens its window and ends with code 0
# when it is closed. Run under with-xvfb.sh and with-pulse.sh. Exits 77 (skipped) where
# Wine cannot run the zip's programs.
set -uo pipefail
zip=$(readlink -f "$1")
wine_run=$(readlink -f "$2")
"$wine_run" --can-run || exit 77

fail() { echo "FAIL: $*"; exit 1; }
prefix=$("$wine_run" --prefix)
"$wine_run" cmd /c exit >/dev/null 2>&1   # makes the prefix on first use
folder_name="Программы Zarvelin $$"
dir="$prefix/drive_c/$folder_name"
trap 'rm -rf "$dir"' EXIT
mkdir -p "$dir"
/usr/bin/python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$zip" "$dir"
win_dir="C:\\$folder_name"

# The renderer, called by its full Windows path with the output beside it.
"$wine_run" "$win_dir\\zarvelin-render.exe" --frequency 7,80 --sound beeps --seconds 1.5 \
  --output "$win_dir\\сеанс 1.wav" || fail "zarvelin-render.exe ended with code $?"
/usr/bin/python3 - "$dir/сеанс 1.wav" <<'PY' || fail "the rendered file is not the WAV asked for"
import sys, wave
with wave.open(sys.argv[1], "rb") as w:
    p = w.getparams()
    assert (p.nchannels, p.sampwidth, p.framerate, p.nframes) == (2, 2, 44100, 66150), p
    assert any(w.readframes(p.nframes)), "all silent"
PY
echo "PASS: zarvelin-render.exe wrote its file in '$folder_name'"

# The GUI program: its control window appears; closing it ends the program with 0.
"$wine_run" "$win_dir\\zarvelin.exe" &
pid=$!
window=""
for _ in $(seq 1 300); do
  window=$(xdotool search --name '^Zarvelin$' 2>/dev/null | head -n1) && [ -n "$window" ] && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
[ -n "$window" ] || { kill "$pid" 2>/dev/null; fail "zarvelin.exe showed no window named Zarvelin"; }
# taskkill without /F posts WM_CLOSE to the program's windows, as the close box does.
"$wine_run" taskkill /IM zarvelin.exe >/dev/null 2>&1 || fail "taskkill could not reach zarvelin.exe"
for _ in $(seq 1 150); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$pid" 2>/dev/null; then kill "$pid"; fail "zarvelin.exe did not end after its window was closed"; fi
wait "$pid"
code=$?
[ "$code" = 0 ] || fail "zarvelin.exe ended with code $code"
echo "PASS: zarvelin.exe opened its window in '$folder_name' and ended with 0"
