"""check_icons.py RESOURCES_DIR
The icons committed under RESOURCES_DIR are exactly what make_icon.py draws now; the
Windows icon is one 32x32 image of 16 colours; each PNG is square RGBA of the size its
folder names; the SVG is well-formed with a 32-unit view box."""
import os
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from report import Report  # noqa: E402

resources, report = sys.argv[1], Report("check_icons")


def files_under(root, prefix=""):
    return {os.path.join(prefix, os.path.relpath(os.path.join(folder, name), root)):
            open(os.path.join(folder, name), "rb").read() for folder, _, names in os.walk(root) for name in names}


with tempfile.TemporaryDirectory() as fresh:
    subprocess.run([sys.executable, os.path.join(resources, "make_icon.py"), fresh], check=True)
    drawn = files_under(fresh)
committed = files_under(os.path.join(resources, "icons"), "icons")
committed["zarvelin.ico"] = open(os.path.join(resources, "zarvelin.ico"), "rb").read()
for name in sorted(set(drawn) | set(committed)):
    report.check(drawn.get(name) == committed.get(name), "%s (committed: %s, drawn: %s) is not what "
                 "make_icon.py draws now: run it again" % (name, name in committed, name in drawn))

ico = committed["zarvelin.ico"]
kind, count, w, h, colours = struct.unpack_from("<2xHHBBB", ico)
bits, offset = struct.unpack_from("<6xHxxxxI", ico, 6)
header_bits = struct.unpack_from("<14xH", ico, offset)[0]
report.check((kind, count, w, h, colours, bits, header_bits) == (1, 1, 32, 32, 16, 4, 4),
             "zarvelin.ico is not one 32x32 16-colour image")

# Which sizes there are is held by check_deb's list of the package's files.
for name, data in committed.items():
    if name.endswith(".png"):
        w, h, depth, colour_type = struct.unpack_from(">IIBB", data, 16)
        report.check(data[:16] == b"\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR" and w == h and (depth, colour_type) == (8, 6)
                     and name.split(os.sep)[2] == "%dx%d" % (w, h), "%s is not an RGBA PNG of its folder's size" % name)

try:
    view_box = ET.fromstring(committed["icons/hicolor/scalable/apps/org.zarvelin.Zarvelin.svg"]).get("viewBox")
    report.check(view_box == "0 0 32 32", "the SVG's view box is %r" % view_box)
except (KeyError, ET.ParseError) as e:
    report.fail("the SVG: %s" % e)
sys.exit(report.done())
