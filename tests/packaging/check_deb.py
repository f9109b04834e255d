"""check_deb.py PACKAGE.deb
lintian finds no error and no missing hardening (its other notes are printed); the control fields are the release's;
the dependencies came from the binaries (shlibdeps); the package holds exactly the two
programs as executables, stripped, and the files a desktop needs."""
import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from report import Report  # noqa: E402

deb = sys.argv[1]
report = Report("check_deb")

if os.path.basename(deb) != "zarvelin_1.0.0_amd64.deb":
    report.fail("package file named %s" % os.path.basename(deb))

lint = subprocess.run(["lintian", "--allow-root", "--display-info", deb],
                      capture_output=True, text=True)
print(lint.stdout, end="")
tags = re.findall(r"^([EWIPXON]): ", lint.stdout, re.M)
if "E" in tags:
    report.fail("lintian reports errors")
hardening = sorted(set(re.findall(r"^\w: \S+: (hardening-\S+)", lint.stdout, re.M)))
if hardening:
    report.fail("the programs lack hardening: " + ", ".join(hardening))
if lint.returncode not in (0, 1) or (lint.returncode == 1 and "E" not in tags):
    report.fail("lintian failed to run: %s" % lint.stderr.strip())


def field(name):
    return subprocess.run(["dpkg-deb", "-f", deb, name], capture_output=True,
                          text=True, check=True).stdout.strip()


wanted = {"Package": "zarvelin", "Version": "1.0.0", "Architecture": "amd64",
          "Section": "sound", "Priority": "optional"}
for name, value in wanted.items():
    if field(name) != value:
        report.fail("%s is %r, wanted %r" % (name, field(name), value))
if "@" not in field("Maintainer"):
    report.fail("no maintainer address")
description = field("Description")
for words in ("seizures", "photosensitive epilepsy", "MIT"):
    if words not in description:
        report.fail("the description does not say %r" % words)
# What the programs link, as dpkg-shlibdeps finds it: the C library, Qt, ALSA, Wayland;
# and the exact Qt whose private interface the Wayland grey uses.
depends = field("Depends")
for library in ("libc6", "libqt6widgets6", "libasound2", "libstdc++6", "libwayland-client0",
                "qt6-base-abi"):
    if not re.search(r"(^|, )%s( \(|,|$)" % re.escape(library), depends):
        report.fail("Depends lacks %s: %s" % (library, depends))

with tempfile.TemporaryDirectory() as root:
    subprocess.run(["dpkg-deb", "-x", deb, root], check=True)
    found = set()
    executables = set()
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            rel = "/" + os.path.relpath(path, root)
            found.add(rel)
            if os.access(path, os.X_OK):
                executables.add(rel)
    if executables != {"/usr/bin/zarvelin", "/usr/bin/zarvelin-render"}:
        report.fail("executables in the package: %s" % sorted(executables))
    for program in sorted(executables):
        sections = subprocess.run(["readelf", "-S", "-W", root + program], capture_output=True,
                                  text=True, check=True).stdout
        if ".symtab" in sections or ".debug_" in sections:
            report.fail("%s is not stripped" % program)
    needed = ["/usr/share/applications/org.zarvelin.Zarvelin.desktop",
              "/usr/share/metainfo/org.zarvelin.Zarvelin.metainfo.xml",
              "/usr/share/icons/hicolor/scalable/apps/org.zarvelin.Zarvelin.svg",
              "/usr/share/man/man1/zarvelin.1.gz", "/usr/share/man/man1/zarvelin-render.1.gz",
              "/usr/share/doc/zarvelin/copyright", "/usr/share/doc/zarvelin/changelog.gz",
              "/usr/share/doc/zarvelin/LICENSE", "/usr/share/doc/zarvelin/README.md",
              "/usr/share/lintian/overrides/zarvelin"]
    needed += ["/usr/share/icons/hicolor/%dx%d/apps/org.zarvelin.Zarvelin.png" % (n, n)
               for n in (16, 32, 48, 64, 128, 256)]
    for path in needed:
        if path not in found:
            report.fail("%s is missing" % path)
    extra = found - set(needed) - executables
    if extra:
        report.fail("unexpected files: %s" % sorted(extra))

sys.exit(report.done())
