"""check_zip.py zarvelin-1.0.0-win32.zip
The zip holds exactly the two programs, the licence and the README at its top; the texts
have Windows line ends and say what they must; the programs are Windows executables for
the zip's processor (32-bit for win32, the shipped zip; x86-64 for win64, the build Wine
runs where no 32-bit program can) that import no DLL beyond the system's."""
import os
import re
import subprocess
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from report import Report  # noqa: E402

path, report = sys.argv[1], Report("check_zip")
pe_format = {"zarvelin-1.0.0-win32.zip": "pei-i386", "zarvelin-1.0.0-win64.zip": "pei-x86-64"}.get(
    os.path.basename(path)) or report.stop("zip named " + path)
system_dlls = {"kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "winmm.dll", "msvcrt.dll",
               "shell32.dll", "advapi32.dll"}
with zipfile.ZipFile(path) as z, tempfile.TemporaryDirectory() as tmp:
    wanted = ["LICENSE.txt", "README.txt", "zarvelin-render.exe", "zarvelin.exe"]
    if sorted(z.namelist()) != wanted:
        report.stop("the zip holds %s, wanted exactly %s" % (sorted(z.namelist()), wanted))
    for program in wanted[2:]:
        dump = subprocess.run(["objdump", "-p", z.extract(program, tmp)], capture_output=True, text=True,
                              check=True).stdout
        report.check("file format %s\n" % pe_format in dump, "%s is not %s" % (program, pe_format))
        dlls = {d.lower() for d in re.findall(r"DLL Name: (\S+)", dump)}
        report.check(dlls <= system_dlls, "%s needs DLLs Windows lacks: %s" % (program, sorted(dlls - system_dlls)))
    licence, readme = z.read("LICENSE.txt"), z.read("README.txt")

for name, data in (("LICENSE.txt", licence), ("README.txt", readme)):
    report.check(data.endswith(b"\r\n") and b"\n" not in data.replace(b"\r\n", b"")
                 and b"\r" not in data.replace(b"\r\n", b""), name + " has line ends other than CRLF")
# Notepad before Windows 10 1903 reads a text without a byte-order mark as the ANSI code
# page, and the Russian half, warning included, as mojibake.
report.check(readme.startswith(b"\xef\xbb\xbf"), "README.txt does not start with the UTF-8 byte-order mark")
for words in ("photosensitive epilepsy", "светочувствительной эпилепсией", "full scale", "полной громкости",
              "No installation", "Установка не нужна", "zarvelin-render.exe --frequency", "MIT"):
    report.check(words in readme.decode("utf-8-sig", "replace"), "README.txt does not say %r" % words)
report.check(b"MIT License" in licence, "LICENSE.txt is not the MIT licence")
sys.exit(report.done())
