"""check_zip.py zarvelin-1.0.0-win32.zip
The zip holds exactly the two programs, the licence and the README at its top; the
texts have Windows line ends and say what they must; the programs are Windows
executables for the zip's processor (32-bit for win32, the shipped zip; x86-64 for
win64, the build Wine runs where no 32-bit program can) that import no DLL beyond the
system's."""
import os
import re
import subprocess
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from report import Report  # noqa: E402

path = sys.argv[1]
report = Report("check_zip")
formats = {"zarvelin-1.0.0-win32.zip": ("pei-i386", "a 32-bit"),
           "zarvelin-1.0.0-win64.zip": ("pei-x86-64", "an x86-64")}
if os.path.basename(path) not in formats:
    report.fail("zip named %s" % os.path.basename(path))
pe_format, pe_kind = formats.get(os.path.basename(path), formats["zarvelin-1.0.0-win32.zip"])
with zipfile.ZipFile(path) as z:
    names = sorted(z.namelist())
    wanted = sorted(["zarvelin.exe", "zarvelin-render.exe", "LICENSE.txt", "README.txt"])
    if names != wanted:
        report.fail("the zip holds %s, wanted exactly %s" % (names, wanted))
    texts = {n: z.read(n) for n in ("LICENSE.txt", "README.txt") if n in names}
    with tempfile.TemporaryDirectory() as tmp:
        programs = [n for n in ("zarvelin.exe", "zarvelin-render.exe") if n in names]
        for n in programs:
            z.extract(n, tmp)
        system_dlls = {"kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "winmm.dll",
                       "msvcrt.dll", "shell32.dll", "advapi32.dll"}
        for n in programs:
            dump = subprocess.run(["objdump", "-p", os.path.join(tmp, n)],
                                  capture_output=True, text=True, check=True).stdout
            if "file format %s" % pe_format not in dump:
                report.fail("%s is not %s Windows executable" % (n, pe_kind))
            dlls = {d.lower() for d in re.findall(r"DLL Name: (\S+)", dump)}
            if not dlls <= system_dlls:
                report.fail("%s needs DLLs Windows lacks: %s" % (n, sorted(dlls - system_dlls)))

for name, data in texts.items():
    if b"\n" in data.replace(b"\r\n", b"") or b"\r" in data.replace(b"\r\n", b""):
        report.fail("%s has line ends other than CRLF" % name)
    if not data.endswith(b"\r\n"):
        report.fail("%s does not end its last line" % name)
# Notepad before Windows 10 1903 reads a text without a byte-order mark as the ANSI code
# page, and the Russian half, warning included, as mojibake.
if "README.txt" in texts and not texts["README.txt"].startswith(b"\xef\xbb\xbf"):
    report.fail("README.txt does not start with the UTF-8 byte-order mark")
readme = texts.get("README.txt", b"").decode("utf-8-sig", "replace")
for words in ("photosensitive epilepsy", "светочувствительной эпилепсией", "full scale",
              "полной громкости", "No installation", "Установка не нужна",
              "zarvelin-render.exe --frequency", "MIT"):
    if words not in readme:
        report.fail("README.txt does not say %r" % words)
if "MIT License" not in texts.get("LICENSE.txt", b"").decode("ascii", "replace"):
    report.fail("LICENSE.txt is not the MIT licence")

sys.exit(report.done())
