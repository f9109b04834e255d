#!/usr/bin/env bash
# zip_wine.sh ZIP WINE_RUN NATIVE_RENDER
# Unpacks the zip, as a user would, into a folder on the Wine prefix's C: drive whose name
# has Cyrillic letters and a space, and runs both programs from there: the renderer writes
# beside itself the bytes of the Linux build's zarvelin-render (NATIVE_RENDER) in each mode;
# the GUI program opens its window and ends with code 0 when it is closed. Run under
# with-xvfb.sh, with-openbox.sh and with-pulse.sh. Exits 77 where Wine cannot run them.
set -uo pipefail
zip=$(readlink -f "$1") wine_run=$(readlink -f "$2") native_render=$3
"$wine_run" --can-run || exit 77
. "$(dirname "$0")/../harness/report.sh"
[ -x "$native_render" ] ||
  die "the Linux build's renderer $native_render is missing: build the linux preset first (scripts/test.sh does)"
folder="Программы Zarvelin $$"
dir="$("$wine_run" --prefix)/drive_c/$folder"
"$wine_run" cmd /c exit >/dev/null 2>&1   # makes the prefix on first use
trap 'rm -rf "$dir"' EXIT
mkdir -p "$dir"
/usr/bin/python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$zip" "$dir"

# The renderer by its full Windows path, in each mode (two sines; a gate at zero; a noise
# envelope), against the Linux build's bytes.
for sound in binaural beeps noise; do
  args=(--frequency "7,80" --sound "$sound" --seconds 1.5)
  "$wine_run" "C:\\$folder\\zarvelin-render.exe" "${args[@]}" --output "C:\\$folder\\сеанс $sound.wav" ||
    die "zarvelin-render.exe ($sound) ended with code $?"
  "$native_render" "${args[@]}" --output "$dir/native.wav" || die "the Linux build's renderer ($sound) ended with code $?"
  cmp "$dir/native.wav" "$dir/сеанс $sound.wav" || die "zarvelin-render.exe ($sound) wrote other bytes than the Linux build's"
done

# The GUI program: its control window appears; closing it (taskkill without /F posts
# WM_CLOSE, as the close box does) ends the program with 0.
"$wine_run" "C:\\$folder\\zarvelin.exe" &
pid=$!
# Polled, not `xdotool search --sync`: that gives up on the X error of a window Wine
# destroys while the search walks the tree. The bound only catches a hang (the emulated
# machine starts Wine's first window in tens of seconds).
for _ in $(seq 600); do
  [ -n "$(xdotool search --name '^Zarvelin$' 2>/dev/null)" ] && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.2
done
[ -n "$(xdotool search --name '^Zarvelin$' 2>/dev/null)" ] || { kill "$pid"; die "zarvelin.exe showed no window named Zarvelin"; }
"$wine_run" taskkill /IM zarvelin.exe >/dev/null 2>&1 || die "taskkill could not reach zarvelin.exe"
for _ in $(seq 600); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && { kill "$pid"; die "zarvelin.exe did not end after its window was closed"; }
wait "$pid"
code=$?
[ "$code" = 0 ] || die "zarvelin.exe ended with code $code"
report_end
