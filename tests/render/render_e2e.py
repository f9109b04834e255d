#!/usr/bin/python3
"""The built renderer end to end, the Linux program or the Windows one under Wine.

    render_e2e.py --render PATH --synth-dump PATH [--part-writer PATH] [--emulator RUNNER]

With --emulator the programs run through that runner (scripts/wine-run.sh; where it
cannot run them the test is skipped, 77) and take Windows paths. Both platforms: every
sound mode read back by Python's wave module equal to the straightforward synthesis
(synth_dump, built for the same platform); bad arguments refused with exit 2, one line
that names the word at fault and what is accepted, nothing written and an existing file
untouched; --help and the manual page stating the longest render; a file replaced only
by a complete render; --output - into a pipe and into a file equal to the file; a
reader that quits early; control characters shown, never sent; renders ended from
outside leaving the old file and no temporary. Then each platform's own cases.
"""
import argparse
import fractions
import grp
import os
import pty
import pwd
import re
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import wave

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from report import Report  # noqa: E402

MANUAL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "packaging",
                      "man", "zarvelin-render.1")
LONGEST = 24347   # seconds: what a WAV file's sizes can hold
OLD = b"the previous render"
report = Report("render_e2e")
ap = argparse.ArgumentParser()
ap.add_argument("--render", required=True)
ap.add_argument("--synth-dump", required=True)
ap.add_argument("--part-writer")
ap.add_argument("--emulator")
args = ap.parse_args()
run_with = [os.path.realpath(args.emulator)] if args.emulator else []
WINDOWS = bool(args.emulator)
PLATFORM = "windows" if WINDOWS else "posix"
render, dump = os.path.realpath(args.render), os.path.realpath(args.synth_dump)


def path(rel):
    """A path below the work folder as the program takes it."""
    return rel.replace("/", "\\") if WINDOWS else rel


def execute(command, stdout=subprocess.PIPE, **kw):
    """Runs a program to its end. Its standard error goes through a file, never a pipe:
    the Wine server and services that a prefix's first program starts inherit it, and
    would hold a pipe open long after the program ended."""
    with tempfile.TemporaryFile() as err:
        r = subprocess.run(command, stdout=stdout, stderr=err, timeout=300, **kw)
        err.seek(0)
        r.stderr = err.read()
    return r


def run(*argv, **kw):
    return execute([*run_with, render, *argv], **kw)


def start(*argv, **kw):
    """The renderer left running; said() reads its standard error once it has ended."""
    err = tempfile.TemporaryFile()
    proc = subprocess.Popen([*run_with, render, *argv], stderr=err, **kw)
    proc.said = lambda: (err.seek(0), lines(err.read()))[1]
    return proc


def lines(stream):
    return stream.decode(errors="replace").replace("\r\n", "\n").splitlines()


def frames_in(name):
    with wave.open(name, "rb") as w:
        return w.getnframes()


def leftovers(*kept, folder="files"):
    return sorted(set(os.listdir(folder)) - set(kept))


def old(name):
    with open(name, "wb") as f:
        f.write(OLD)


def unchanged(name):
    with open(name, "rb") as f:
        return f.read() == OLD


CASES = []


def case(*platforms):
    def add(fn):
        if PLATFORM in platforms:
            CASES.append(fn)
        return fn
    return add


@case("posix", "windows")
def bytes_equal_synthesis():
    cases = [  # sound, frequency as given, in hundredths, seconds
        ("none", "7.80", 780, "1"), ("binaural", "7.80", 780, "2"),
        ("binaural", "0,1", 10, "1.5"), ("binaural", "50", 5000, "0.75"),
        ("beeps", "7,8", 780, "2"), ("beeps", "0.19", 19, "1"),
        ("noise", "7.80", 780, "3"), ("noise", "50,00", 5000, "1.3"),
        ("noise", "0.10", 10, "0.279"), ("binaural", "12.34", 1234, "0.27863945578"),
        ("noise", "3,33", 333, "13.7"), ("beeps", "49.99", 4999, "11.15")]
    frames = [int(fractions.Fraction(c[3]) * 44100 + fractions.Fraction(1, 2)) for c in cases]
    # Every session's synthesis from one run (a program start under Wine is slow).
    sessions = [str(x) for (sound, _, f, _), n in zip(cases, frames)
                for x in (f, ["none", "binaural", "beeps", "noise"].index(sound), n)]
    synthesis = execute([*run_with, dump, *sessions], check=True).stdout
    at = 0
    for (sound, text, f, seconds), n in zip(cases, frames):
        expected, at = synthesis[at:at + 4 * n], at + 4 * n
        name = "files/%s-%d.wav" % (sound, f)
        what = "%s at %s for %s s" % (sound, text, seconds)
        r = run("--frequency", text, "--sound", sound, "--seconds", seconds, "--output", path(name))
        if not report.check(r.returncode == 0, "%s: render failed: %s" % (what, lines(r.stderr))):
            continue
        with wave.open(name, "rb") as w:
            p = w.getparams()
            data = w.readframes(p.nframes + 1)
        report.check((p.nchannels, p.sampwidth, p.framerate, p.comptype, p.nframes)
                     == (2, 2, 44100, "NONE", n), "%s: the file is %s" % (what, p))
        if data != expected:
            first = next((i for i in range(min(len(data), len(expected))) if data[i] != expected[i]),
                         min(len(data), len(expected)))
            report.fail("%s: differs from the synthesis from frame %d" % (what, first // 4))
        report.check(os.path.getsize(name) == 44 + 4 * n, "%s: more than header and data" % what)
        os.remove(name)
    report.check(not leftovers(), "files left behind after good renders: %s" % leftovers())


@case("posix", "windows")
def bad_arguments():
    target = path("files/keep.wav")
    old("files/keep.wav")
    out = ["--seconds", "1", "--output", target]
    cases = [  # arguments, words the one line holds
        (["--frequency", "60"] + out, ["'60'", "0.10 to 50.00"]),
        (["--frequency", "0.05"] + out, ["'0.05'", "0.10 to 50.00"]),
        (["--frequency", "7.805"] + out, ["'7.805'", "two decimals"]),
        (["--frequency", "abc"] + out, ["'abc'", "such as 7.80"]),
        (["--sound", "rain"] + out, ["'rain'", "none, binaural, beeps, noise"]),
        (["--seconds", "0", "--output", target], ["'0'", "at most 24347"]),
        (["--seconds", "-1", "--output", target], ["'-1'", "at most 24347"]),
        (["--seconds", "0.00001", "--output", target], ["'0.00001'", "one sound frame"]),
        (["--seconds", "25000", "--output", target], ["'25000'", "at most 24347"]),
        (["--seconds", "24347.001", "--output", target], ["'24347.001'", "at most 24347"]),
        (out + ["--volume", "3"], ["'--volume'", "accepted: --frequency"]),
        (["--seconds", "1", "--output"], ["--output needs a value", "accepted"]),
        (["--seconds", "1"], ["missing --output", "such as --output"]),
        (["--seconds", "1", "--output", path("files/no/such/x.wav")], ["does not exist", "an existing folder"]),
        (["--seconds", "1", "--output", "files"], ["'files' is a folder", "the path of a file"]),
    ]
    if not WINDOWS:
        cases.append((["--seconds", "1", "--output", "/dev/null"], ["'/dev/null'", "not a regular file"]))
    for argv, words in cases:
        r = run(*argv)
        said = lines(r.stderr)
        report.check(r.returncode == 2, "%s: exit %d, expected 2" % (argv, r.returncode))
        report.check(len(said) == 1 and all(w in said[0] for w in words),
                     "%s: expected one line with %s, got %s" % (argv, words, said))
        report.check(r.stdout == b"", "%s: wrote to stdout" % argv)
        report.check(unchanged("files/keep.wav"), "%s: the existing file changed" % argv)
        report.check(not leftovers("keep.wav"), "%s: left behind %s" % (argv, leftovers("keep.wav")))
    report.check(WINDOWS or os.path.exists("/dev/null") and not os.path.isfile("/dev/null"),
                 "/dev/null is no longer a device")


@case("posix", "windows")
def help_and_manual():
    r = run("--help")
    usage = r.stdout.decode()
    report.check(r.returncode == 0 and r.stderr == b"", "--help: exit %d, %s" % (r.returncode, r.stderr))
    for words in ("--frequency", "130 interrupted", "at most %d;" % LONGEST):
        report.check(words in usage, "--help does not say %r" % words)
    with open(MANUAL) as f:
        report.check("at most %d " % LONGEST in f.read(),
                     "the manual page does not state the longest render as %d seconds" % LONGEST)


@case("posix", "windows")
def replacing():
    old("files/keep.wav")
    r = run("--seconds", "0.5", "--output", path("files/keep.wav"))
    report.check(r.returncode == 0 and frames_in("files/keep.wav") == 22050,
                 "replacing a file: exit %d, %s" % (r.returncode, lines(r.stderr)))
    report.check(not leftovers("keep.wav"), "replacing a file left %s" % leftovers("keep.wav"))


@case("posix")
def failed_writes():
    # A write that fails half way (the file size limit): exit 1, the old file kept.
    old("files/keep.wav")
    r = run("--sound", "noise", "--seconds", "10", "--output", "files/keep.wav",
            preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (51200, 51200)))
    report.check(r.returncode == 1 and len(lines(r.stderr)) == 1,
                 "a write failing half way: exit %d, %s" % (r.returncode, lines(r.stderr)))
    report.check(unchanged("files/keep.wav"), "a failed write changed the target")
    report.check(not leftovers("keep.wav"), "a failed write left %s" % leftovers("keep.wav"))
    r = run("--seconds", "1", "--output", "/proc/zarvelin-render-test.wav")
    report.check(r.returncode == 1 and len(lines(r.stderr)) == 1,
                 "an unwritable folder: exit %d, %s" % (r.returncode, lines(r.stderr)))
    if os.getuid() != 0:
        os.mkdir("ro", 0o555)
        r = run("--seconds", "1", "--output", "ro/x.wav")
        report.check(r.returncode == 1 and not os.listdir("ro"), "a read-only folder: exit %d" % r.returncode)


def mode(name):
    return "%o" % (os.stat(name).st_mode & 0o7777)


def owner(name):
    st = os.stat(name)
    return "%s:%s" % (pwd.getpwuid(st.st_uid).pw_name, grp.getgrgid(st.st_gid).gr_name)


def link(name):
    return os.readlink(name) if os.path.islink(name) else None


@case("posix")
def replaced_file_keeps_what_it_was():
    # who renders, what, set-up in its own folder, --output, the file holding the render,
    # what must hold after. Another user's file needs root.
    cases = [
        ("me", "a private file", "printf old >p.wav; chmod 600 p.wav", "p.wav", "p.wav",
         lambda: [("p.wav's mode", mode("p.wav"), "600")]),
        ("me", "set-id bits, read-only", "printf old >r.wav; chmod 4551 r.wav", "r.wav", "r.wav",
         lambda: [("r.wav's mode", mode("r.wav"), "4551")]),
        ("me", "a new file, umask 027", "", "n.wav", "n.wav",
         lambda: [("n.wav's mode", mode("n.wav"), "640")]),
        ("root", "another user's file", "printf old >o.wav; chown nobody:nogroup o.wav; chmod 640 o.wav",
         "o.wav", "o.wav", lambda: [("o.wav's owner", owner("o.wav"), "nobody:nogroup"),
                                    ("its mode", mode("o.wav"), "640")]),
        ("nobody", "root's file in a shared group",
         "printf old >g.wav; chown root:nogroup g.wav; chmod 660 g.wav", "g.wav", "g.wav",
         lambda: [("g.wav's owner", owner("g.wav"), "nobody:nogroup"),
                  ("its mode", mode("g.wav"), "660")]),
        ("me", "a symbolic link", "printf old >t.wav; chmod 640 t.wav; ln -s t.wav l.wav", "l.wav",
         "t.wav", lambda: [("l.wav's target", link("l.wav"), "t.wav"),
                           ("t.wav's mode", mode("t.wav"), "640")]),
        ("me", "links, relative then absolute",
         'mkdir s; printf old >s/t.wav; ln -s "$PWD/s/t.wav" s/l.wav; ln -s s/l.wav l.wav', "l.wav",
         "s/t.wav", lambda: [("l.wav's target", link("l.wav"), "s/l.wav"),
                               ("s/l.wav's target", link("s/l.wav"), os.path.abspath("s/t.wav"))]),
        ("me", "a link to a file not there yet", "ln -s t.wav l.wav", "l.wav", "t.wav",
         lambda: [("l.wav's target", link("l.wav"), "t.wav")]),
    ]
    os.chmod(".", 0o755)
    top = os.getcwd()
    for n, (who, what, setup, output, holder, holds) in enumerate(cases):
        if who != "me" and os.getuid() != 0:
            report.note("'%s' needs root; skipped" % what)
            continue
        folder = os.path.join(top, "keep%d" % n)
        os.mkdir(folder)
        os.chmod(folder, 0o777)
        os.chdir(folder)
        try:
            subprocess.run(setup, shell=True, check=True)
            as_ = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"] if who == "nobody" else []
            r = execute([*as_, render, "--seconds", "0.1", "--output", output],
                        umask=0o027 if "umask" in what else -1)
            if report.check(r.returncode == 0, "%s: render failed: %s" % (what, lines(r.stderr))):
                report.check(frames_in(holder) == 4410, "%s: %s does not hold the render" % (what, holder))
                for label, got, wanted in holds():
                    report.check(got == wanted, "%s: %s is %s, expected %s" % (what, label, got, wanted))
            parts = [f for _, _, names in os.walk(".") for f in names if f.endswith(".part")]
            report.check(not parts, "%s: part files left: %s" % (what, parts))
        finally:
            os.chdir(top)
    # A loop of links is refused like any path that cannot be a file.
    os.symlink("loop2.wav", "files/loop1.wav")
    os.symlink("loop1.wav", "files/loop2.wav")
    r = run("--seconds", "1", "--output", "files/loop1.wav")
    report.check(r.returncode == 2 and "loop" in r.stderr.decode(),
                 "a loop of links: exit %d, %s" % (r.returncode, lines(r.stderr)))
    for name in ("files/loop1.wav", "files/loop2.wav"):
        os.remove(name)


@case("posix", "windows")
def standard_output():
    # Through a pipe and into a file the caller opened: byte for byte what --output FILE
    # writes (a last chunk cut short included).
    argv = ["--sound", "noise", "--frequency", "3,33", "--seconds", "13.7"]
    run(*argv, "--output", path("files/file.wav"), check=True)
    with open("files/file.wav", "rb") as f:
        written = f.read()
    os.remove("files/file.wav")
    piped = run(*argv, "--output", "-")
    report.check(piped.returncode == 0 and piped.stderr == b"", "--output - into a pipe: %s" % piped.stderr)
    report.check(piped.stdout == written, "--output - into a pipe differs from the file (text mode?)")
    with open("redirected.wav", "wb") as f:
        run(*argv, "--output", "-", stdout=f, check=True)
    with open("redirected.wav", "rb") as f:
        report.check(f.read() == written, "--output - into a file differs from the file")
    report.check(not leftovers(), "--output - wrote a file: %s" % leftovers())
    # A reader that leaves early ends the render with one line and exit 1 (under Wine the
    # gone reader shows as ERROR_PIPE_NOT_CONNECTED), having been given a header that
    # already counts every frame.
    proc = start("--sound", "noise", "--seconds", str(LONGEST), "--output", "-", stdout=subprocess.PIPE)
    header = proc.stdout.read(44)
    proc.stdout.close()
    proc.wait()
    said = proc.said()
    report.check(proc.returncode == 1 and len(said) == 1 and "closed by its reader" in said[0],
                 "a reader gone: exit %d, %s" % (proc.returncode, said))
    with open("head.wav", "wb") as f:
        f.write(header)
    report.check(frames_in("head.wav") == LONGEST * 44100, "the streamed header does not count the whole render")


@case("posix")
def terminal_refused():
    # Standard output on a terminal is refused: no binary on the screen.
    master, slave = pty.openpty()
    r = run("--seconds", "1", "--output", "-", stdout=slave)
    os.close(slave)
    os.set_blocking(master, False)
    try:
        shown = os.read(master, 65536)
    except OSError:
        shown = b""
    said = lines(r.stderr)
    report.check(r.returncode == 2 and shown == b"" and len(said) == 1 and "terminal" in said[0],
                 "--output - on a terminal: exit %d, %r shown, %s" % (r.returncode, shown[:40], said))


@case("posix", "windows")
def control_characters_shown():
    # Wine hands the program its arguments as UTF-16, so no stray byte reaches it there.
    name, shown = (("\x1b[2J\r/x.wav", r"'\x1b[2J\r'") if WINDOWS else
                   (os.fsdecode(b"\x1b[2J\x9b\r/x.wav"), r"'\x1b[2J\x9b\r'"))
    r = run("--seconds", "1", "--output", name)
    text = r.stderr.replace(b"\r\n", b"\n")
    report.check(r.returncode == 2 and shown.encode() in text, "an escaped folder name: %r" % text)
    report.check(all(32 <= b < 127 or b == 10 for b in text), "a control character reached stderr: %r" % text)


def under_way(proc):
    """Waits until the render has its file open in files/ (named or not)."""
    folder = os.path.abspath("files")
    for _ in range(400):
        if WINDOWS:
            if any(n.endswith(".part") for n in os.listdir("files")):
                return True
        else:
            for fd in os.listdir("/proc/%d/fd" % proc.pid):
                try:
                    if os.readlink("/proc/%d/fd/%s" % (proc.pid, fd)).startswith(folder + "/"):
                        return True
                except OSError:
                    pass
        time.sleep(0.02)
    return False


def unnamed_files():
    """Whether files/ can hold a file with no name (O_TMPFILE): then a render in progress
    shows no name there at all."""
    try:
        os.close(os.open("files", os.O_TMPFILE | os.O_WRONLY, 0o600))
        return True
    except (OSError, AttributeError):
        return False


@case("posix", "windows")
def ended_from_outside():
    # Each way a render can be ended from outside: Ctrl+C, and elsewhere every stop
    # signal, exit 130 having removed their file; SIGKILL (and under Wine SIGTERM) cannot
    # be answered, and leave nothing because the file never had a name, or is deleted
    # when its last handle closes. The longest render there is, so each ends mid-way.
    unnamed = not WINDOWS and unnamed_files()
    if not WINDOWS and not unnamed:
        report.note("files/ has no unnamed files; the renderer falls back to part files there")
    ways = {"posix": [("INT", 130), ("TERM", 130), ("HUP", 130), ("QUIT", 130), ("PIPE", 130),
                      ("KILL", 137)],
            "windows": [("INT", 130), ("TERM", 143), ("KILL", 137)]}[PLATFORM]
    for sig, code in ways:
        old("files/keep.wav")
        proc = start("--sound", "noise", "--seconds", str(LONGEST), "--output", path("files/keep.wav"))
        if not under_way(proc):
            proc.kill()
            report.fail("SIG%s: the render never opened its file" % sig)
        elif unnamed:
            report.check(not leftovers("keep.wav"), "SIG%s: a render in progress shows a name: %s"
                         % (sig, leftovers("keep.wav")))
        proc.send_signal(getattr(signal, "SIG" + sig))
        rc = proc.wait()
        rc = 128 - rc if rc < 0 else rc
        said = proc.said()
        report.check(rc == code, "SIG%s: exit %d, expected %d (%s)" % (sig, rc, code, said))
        report.check(code != 130 or any("interrupted" in s for s in said), "SIG%s: said %s" % (sig, said))
        report.check(unchanged("files/keep.wav"), "SIG%s: the target changed" % sig)
        if unnamed or WINDOWS or sig != "KILL":
            # Wine's server closes a killed program's handles a moment after it ends.
            for _ in range(100):
                if not leftovers("keep.wav"):
                    break
                time.sleep(0.05)
            report.check(not leftovers("keep.wav"), "SIG%s: left behind %s" % (sig, leftovers("keep.wav")))
        # The next render to the same target replaces it and leaves nothing else either.
        r = run("--seconds", "0.1", "--output", path("files/keep.wav"))
        report.check(r.returncode == 0 and frames_in("files/keep.wav") == 4410,
                     "SIG%s: the following render did not replace the target" % sig)
        report.check(not leftovers("keep.wav"), "SIG%s: after the next render: %s" % (sig, leftovers("keep.wav")))


@case("posix")
def dead_writers_part_file():
    # Where there are no unnamed files, a killed writer leaves its part file; the next
    # render to the same target removes it once that writer is gone, never before.
    old("files/keep.wav")
    writer = subprocess.Popen([args.part_writer, "files/keep.wav"], stdout=subprocess.PIPE, text=True)
    part = writer.stdout.readline().strip()
    report.check(os.path.basename(part).startswith(".keep.wav.%d." % writer.pid) and part.endswith(".part"),
                 "the part file %r does not carry its writer's process id %d" % (part, writer.pid))
    run("--seconds", "0.1", "--output", "files/keep.wav", check=True)
    report.check(os.path.exists(part), "a render removed the part file of a writer still running")
    writer.kill()
    writer.wait()
    run("--seconds", "0.2", "--output", "files/keep.wav", check=True)
    report.check(not os.path.exists(part), "the dead writer's part file was not removed by the next render")
    report.check(frames_in("files/keep.wav") == 8820, "the render after a dead writer did not replace the target")
    report.check(not leftovers("keep.wav"), "after a dead writer's part file: %s" % leftovers("keep.wav"))


@case("windows")
def windows_part_files_and_attributes():
    # A part file whose writer is gone (no process has that id) is removed by the next
    # render to the same target; one for another target is left alone.
    for debris in (".keep.wav.4294967288.000000000abc.part", ".other.wav.4294967288.000000000abc.part"):
        with open("files/" + debris, "wb") as f:
            f.write(b"debris")
    run("--seconds", "0.5", "--output", path("files/keep.wav"), check=True)
    report.check(leftovers("keep.wav") == [".other.wav.4294967288.000000000abc.part"],
                 "the gone writer's part files: %s" % leftovers("keep.wav"))
    os.remove("files/.other.wav.4294967288.000000000abc.part")
    # The old file's system attribute is kept (where this file system keeps Wine's
    # attributes).
    def system_file():
        shown = execute([*run_with, "attrib", path("files/keep.wav")]).stdout
        return re.match(rb"A*S", shown) is not None
    execute([*run_with, "attrib", "+s", path("files/keep.wav")])
    if system_file():
        run("--seconds", "0.1", "--output", path("files/keep.wav"), check=True)
        report.check(system_file(), "the system attribute was lost")
    else:
        report.note("this file system keeps no Wine attributes; the attribute case is skipped")
    # A Unix symbolic link stays a link, to the new file.
    os.mkdir("linked")
    old("linked/t.wav")
    os.symlink("t.wav", "linked/l.wav")
    r = run("--seconds", "0.5", "--output", path("linked/l.wav"))
    report.check(r.returncode == 0, "a render to a link: %s" % lines(r.stderr))
    report.check(os.path.islink("linked/l.wav") and os.readlink("linked/l.wav") == "t.wav",
                 "the link was replaced by a file")
    report.check(frames_in("linked/t.wav") == 22050, "the link's target does not hold the render")


def main():
    if run_with:
        can_run = subprocess.run([*run_with, "--can-run"], capture_output=True, text=True)
        if can_run.returncode != 0:
            report.skip(can_run.stdout.strip())
    work = tempfile.mkdtemp(prefix="zarvelin-render-e2e.")
    try:
        # Whatever a render writes by a name of its own choosing lands here.
        os.chdir(work)
        for fn in CASES:
            os.mkdir("files")
            report.note(fn.__name__.replace("_", " "))
            try:
                fn()
            except Exception as e:  # one case's surprise must not hide the others
                report.fail("%s: %r" % (fn.__name__, e))
            shutil.rmtree("files")
    finally:
        os.chdir("/")
        shutil.rmtree(work, ignore_errors=True)
    return report.done()


if __name__ == "__main__":
    sys.exit(main())
