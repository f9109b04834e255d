#!/usr/bin/env python3
"""usage: layering_test.py PROJECT_ROOT
No file under settings/, sound/, visual/ or session/ includes a platform header or anything
of the faces under ui/ (not even ui/control_table.h); settings/ includes nothing of the
others, sound/ and visual/ settings/ only. The check first proves itself on a throwaway
tree: a clean file passes and each kind of forbidden include is caught."""
import pathlib
import re
import sys
import tempfile

# The rooms each room may include besides itself.
BELOW = {"settings": (), "sound": ("settings",), "visual": ("settings",),
         "session": ("settings", "sound", "visual")}
INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]([^>"]+)[>"]', re.M)
FORBIDDEN = [
    (re.compile(r"^(windows|winbase|winuser|wingdi|mmsystem|mmreg|commctrl|shellapi|process|io)\.h$", re.I), "Windows"),
    (re.compile(r"^Q[A-Za-z]+$|^Qt[A-Za-z]*/"), "Qt"),
    (re.compile(r"^alsa/|^asoundlib\.h$"), "ALSA"),
    (re.compile(r"^X11/|^xcb/|^wayland-"), "X11/Wayland"),
    (re.compile(r"^(unistd|pthread|poll|fcntl|dlfcn|sched)\.h$|^sys/"), "POSIX"),
    (re.compile(r"^ui/"), "a face (ui/)"),
]
CAUGHT = [("visual", header) for header in (
    "windows.h", "mmsystem.h", "QWidget", "QtGui/qguiapplication.h", "alsa/asoundlib.h", "X11/Xlib.h",
    "xcb/xcb.h", "unistd.h", "sys/eventfd.h", "ui/linux/control_window.h", "session/session_controller.h")]
CAUGHT += [("sound", "visual/strobe_level.h"), ("settings", "sound/block_synth.h")]


def violations(root):
    found = []
    for room, below in BELOW.items():
        for path in sorted((root / room).rglob("*")):
            if path.suffix not in (".h", ".hpp", ".cpp", ".cc"):
                continue
            for header in INCLUDE.findall(path.read_text(encoding="utf-8")):
                why = [kind for pattern, kind in FORBIDDEN if pattern.search(header)]
                other = header.split("/")[0]
                if "/" in header and other in BELOW and other not in (room, *below):
                    why.append("a room above %s/" % room)
                found += ["%s: includes <%s> (%s)" % (path.relative_to(root), header, w) for w in why]
    return found


def self_check():
    with tempfile.TemporaryDirectory() as tmp:
        root = pathlib.Path(tmp)
        for room in BELOW:
            (root / room).mkdir()
        (root / "sound" / "clean.cpp").write_text('#include <cmath>\n#include "sound/block_synth.h"\n'
                                                  '#  include "settings/settings.h"\n')
        missed = ["the check rejects a clean portable file"] if violations(root) else []
        for room, header in CAUGHT:
            bad = root / room / "bad.h"
            bad.write_text(('#include "%s"\n' if header.split("/")[0] in BELOW else "#include <%s>\n") % header)
            missed += [] if violations(root) else ["the check misses %s/ including <%s>" % (room, header)]
            bad.unlink()
    return missed


if len(sys.argv) != 2:
    print(__doc__.splitlines()[0], file=sys.stderr)
    sys.exit(2)
problems = self_check() + violations(pathlib.Path(sys.argv[1]))
print("\n".join(problems + ["layering: %d problem(s)" % len(problems)]))
sys.exit(1 if problems else 0)
