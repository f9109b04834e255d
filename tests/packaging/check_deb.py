"""check_deb.py PACKAGE.deb
lintian finds no error and no missing hardening (its other notes are printed); the control
fields are the release's, the dependencies found in the binaries (shlibdeps); the package
holds exactly the two programs, stripped, and the files a desktop needs."""
import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from report import Report  # noqa: E402

deb, report = sys.argv[1], Report("check_deb")


def run(*command):
    return subprocess.run(command, capture_output=True, text=True, check=True).stdout


lint = subprocess.run(["lintian", "--allow-root", "--display-info", "--fail-on", "error", deb],
                      capture_output=True, text=True)
print(lint.stdout, end="")
report.check(lint.returncode in (0, 2), "lintian failed to run: " + lint.stderr.strip())
report.check(lint.returncode == 0 and not re.search(r"^E: ", lint.stdout, re.M), "lintian reports errors")
hardening = sorted(set(re.findall(r"^\w: \S+: (hardening-\S+)", lint.stdout, re.M)))
report.check(not hardening, "the programs lack hardening: " + ", ".join(hardening))

# Each control field against what it must match. Depends is what dpkg-shlibdeps found the
# programs link (C library, Qt, ALSA, Wayland) and the exact Qt whose private interface
# the Wayland grey uses.
fields = dict(re.findall(r"^(\S+): (.*(?:\n .*)*)", run("dpkg-deb", "-f", deb), re.M))
wanted = [("Package", "zarvelin"), ("Version", r"1\.0\.0"), ("Architecture", "amd64"),
          ("Section", "sound"), ("Priority", "optional")]
wanted = [(name, "^%s$" % value) for name, value in wanted] + [("Maintainer", "@")]
wanted += [("Description", words) for words in ("seizures", r"photosensitive\s+epilepsy", "MIT")]
wanted += [("Depends", r"(^|, )%s( \(|,|$)" % re.escape(library)) for library in
           ("libc6", "libqt6widgets6", "libasound2", "libstdc++6", "libwayland-client0", "qt6-base-abi")]
for name, pattern in wanted:
    report.check(re.search(pattern, fields.get(name, "")), "%s %r does not match %r"
                 % (name, fields.get(name), pattern))

app, share = "org.zarvelin.Zarvelin", "/usr/share/"
programs = {"/usr/bin/zarvelin", "/usr/bin/zarvelin-render"}
needed = programs | {share + p for p in (
    "applications/%s.desktop" % app, "metainfo/%s.metainfo.xml" % app,
    "icons/hicolor/scalable/apps/%s.svg" % app, "man/man1/zarvelin.1.gz",
    "man/man1/zarvelin-render.1.gz", "doc/zarvelin/copyright", "doc/zarvelin/changelog.gz",
    "doc/zarvelin/LICENSE", "doc/zarvelin/README.md", "lintian/overrides/zarvelin")}
needed |= {share + "icons/hicolor/%dx%d/apps/%s.png" % (n, n, app) for n in (16, 32, 48, 64, 128, 256)}
with tempfile.TemporaryDirectory() as root:
    run("dpkg-deb", "-x", deb, root)
    found = {os.path.join(folder, name)[len(root):]: os.path.join(folder, name)
             for folder, _, names in os.walk(root) for name in names}
    report.check(set(found) == needed, "missing %s, unexpected %s"
                 % (sorted(needed - set(found)), sorted(set(found) - needed)))
    executables = {path for path, full in found.items() if os.access(full, os.X_OK)}
    report.check(executables == programs, "executables in the package: %s" % sorted(executables))
    for program in sorted(executables):
        sections = run("readelf", "-S", "-W", found[program])
        report.check(".symtab" not in sections and ".debug_" not in sections, program + " is not stripped")

sys.exit(report.done())
