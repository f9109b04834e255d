#!/usr/bin/env python3
"""The portable rooms stay portable: no file under settings/, sound/, visual/ or session/
includes a platform header (Windows, winmm, Qt, ALSA, X11/xcb, POSIX system headers) or
anything of the faces under ui/. And they depend one way: settings/ on nothing of the
others, sound/ and visual/ on settings/ only, session/ on all three. Also checks itself:
each kind of forbidden include, written into a throwaway portable room, must be caught.

usage: layering_test.py PROJECT_ROOT
"""
import pathlib
import re
import sys
import tempfile

PORTABLE_ROOMS = ("settings", "sound", "visual", "session")
# The rooms each room may include besides itself.
BELOW = {"settings": (), "sound": ("settings",), "visual": ("settings",),
         "session": ("settings", "sound", "visual")}
SOURCE_SUFFIXES = {".h", ".hpp", ".cpp", ".cc"}
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)

# What a portable file must not include, and why.
FORBIDDEN = [
    (re.compile(r"^(windows|winbase|winuser|wingdi|mmsystem|mmreg|commctrl|shellapi|process|io)\.h$", re.I), "Windows"),
    (re.compile(r"^Q[A-Za-z]+$|^Qt[A-Za-z]*/"), "Qt"),
    (re.compile(r"^alsa/|^asoundlib\.h$"), "ALSA"),
    (re.compile(r"^X11/|^xcb/|^wayland-"), "X11/Wayland"),
    (re.compile(r"^(unistd|pthread|poll|fcntl|dlfcn|sched)\.h$|^sys/"), "POSIX"),
    (re.compile(r"^ui/"), "a face (ui/)"),
]
# ui/control_table.h is the control window as plain data, shared by both faces; the
# portable rooms do not need it either.


def violations(root: pathlib.Path):
    found = []
    for room in PORTABLE_ROOMS:
        for path in sorted((root / room).rglob("*")):
            if path.suffix not in SOURCE_SUFFIXES:
                continue
            text = path.read_text(encoding="utf-8")
            for match in INCLUDE.finditer(text):
                header = match.group(2)
                for pattern, kind in FORBIDDEN:
                    if pattern.search(header):
                        found.append(f"{path.relative_to(root)}: includes <{header}> ({kind})")
                other = header.split("/", 1)[0]
                if "/" in header and other in BELOW and other != room and other not in BELOW[room]:
                    found.append(f"{path.relative_to(root)}: includes <{header}> (a room above {room}/)")
    return found


def self_check():
    """Every kind of forbidden include is caught, and a clean room passes."""
    cases = ["windows.h", "mmsystem.h", "QWidget", "QtGui/qguiapplication.h",
             "alsa/asoundlib.h", "X11/Xlib.h", "xcb/xcb.h", "unistd.h", "sys/eventfd.h",
             "ui/linux/control_window.h"]
    with tempfile.TemporaryDirectory() as tmp:
        root = pathlib.Path(tmp)
        for room in PORTABLE_ROOMS:
            (root / room).mkdir()
        clean = root / "sound" / "clean.cpp"
        clean.write_text('#include <cmath>\n#include "sound/block_synth.h"\n')
        if violations(root):
            return ["the check rejects a clean portable file"]
        missed = []
        for header in cases:
            bad = root / "visual" / "bad.cpp"
            bad.write_text(f"#include <{header}>\n")
            if not violations(root):
                missed.append(f"the check misses <{header}>")
        bad.unlink()
        for room, header in (("visual", "session/session_controller.h"), ("sound", "visual/strobe_level.h"),
                             ("settings", "sound/block_synth.h")):
            bad = root / room / "upward.h"
            bad.write_text(f'#include "{header}"\n')
            if not violations(root):
                missed.append(f"the check misses {room}/ including {header}")
            bad.unlink()
        return missed


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    problems = self_check() + violations(pathlib.Path(sys.argv[1]))
    for p in problems:
        print(p)
    print("layering: %d problem(s)" % len(problems))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
