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

resources = sys.argv[1]
report = Report("check_icons")


def files_under(root):
    found = {}
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            found[os.path.relpath(path, root)] = open(path, "rb").read()
    return found


with tempfile.TemporaryDirectory() as fresh:
    subprocess.run([sys.executable, os.path.join(resources, "make_icon.py"), fresh], check=True)
    drawn = files_under(fresh)
committed = files_under(os.path.join(resources, "icons"))
committed = {os.path.join("icons", k): v for k, v in committed.items()}
committed["zarvelin.ico"] = open(os.path.join(resources, "zarvelin.ico"), "rb").read()

for name in sorted(set(drawn) | set(committed)):
    if name not in committed:
        report.fail("%s is drawn but not committed" % name)
    elif name not in drawn:
        report.fail("%s is committed but no longer drawn" % name)
    elif drawn[name] != committed[name]:
        report.fail("%s differs from what make_icon.py draws: run it again" % name)

ico = committed["zarvelin.ico"]
reserved, kind, count = struct.unpack_from("<HHH", ico, 0)
w, h, colours, _, planes, bits, size, offset = struct.unpack_from("<BBBBHHII", ico, 6)
header = struct.unpack_from("<IiiHH", ico, offset)
if (kind, count, w, h, colours, bits) != (1, 1, 32, 32, 16, 4) or header[4] != 4:
    report.fail("zarvelin.ico is not one 32x32 16-colour image: %r"
                    % ((kind, count, w, h, colours, bits, header),))

expected_sizes = {16, 32, 48, 64, 128, 256}
seen_sizes = set()
for name, data in committed.items():
    if not name.endswith(".png"):
        continue
    if data[:8] != b"\x89PNG\r\n\x1a\n" or data[12:16] != b"IHDR":
        report.fail("%s is not a PNG" % name)
        continue
    pw, ph, depth, colour_type = struct.unpack_from(">IIBB", data, 16)
    folder = name.split(os.sep)[2]
    if folder != "%dx%d" % (pw, ph) or pw != ph or (depth, colour_type) != (8, 6):
        report.fail("%s is %dx%d (depth %d, type %d) in folder %s"
                        % (name, pw, ph, depth, colour_type, folder))
    seen_sizes.add(pw)
if seen_sizes != expected_sizes:
    report.fail("PNG sizes %s, wanted %s" % (sorted(seen_sizes), sorted(expected_sizes)))

svg_name = os.path.join("icons", "hicolor", "scalable", "apps", "org.zarvelin.Zarvelin.svg")
try:
    root = ET.fromstring(committed[svg_name])
    if root.get("viewBox") != "0 0 32 32":
        report.fail("the SVG's view box is %r" % root.get("viewBox"))
except (KeyError, ET.ParseError) as e:
    report.fail("the SVG: %s" % e)

sys.exit(report.done())
