#!/usr/bin/python3
"""The built renderer end to end: the Linux program, or with --emulator the Windows one
run through that runner (skipped, 77, where it cannot run them), given Windows paths."""
import argparse
import fractions
import grp
import os
import pty
import pwd
import resource
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from report import Report  # noqa: E402

MANUAL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "packaging", "man",
                      "zarvelin-render.1")
LONGEST = 24347   # seconds: what a WAV file's sizes can hold
OLD = b"the previous render"
report = Report("render_e2e")
ap = argparse.ArgumentParser()
ap.add_argument("--render", required=True)
ap.add_argument("--synth-dump", required=True)
ap.add_argument("--part-writer")
ap.add_argument("--emulator")
ap.add_argument("--cases", help="the cases to run, by name, comma-separated (default: all)")
ap.add_argument("--no-sent-sigpipe", action="store_true",
                help="raise SIGPIPE only by a write to a closed pipe, never by a signal sent from outside")
args = ap.parse_args()
run_with = [os.path.realpath(args.emulator)] if args.emulator else []
WINDOWS = bool(args.emulator)
render, dump = os.path.realpath(args.render), os.path.realpath(args.synth_dump)


def path(rel):
    """A path below the work folder as the program takes it."""
    return rel.replace("/", "\\") if WINDOWS else rel


def lines(stream):
    return stream.decode(errors="replace").replace("\r\n", "\n").splitlines()


def execute(command, stdout=subprocess.PIPE, **kw):
    """Runs a program to its end. Its standard error goes through a file, never a pipe:
    the Wine server and services that a prefix's first program starts inherit it, and
    would hold a pipe open long after the program ended."""
    with tempfile.TemporaryFile() as err:
        r = subprocess.run(command, stdout=stdout, stderr=err, timeout=300, **kw)
        err.seek(0)
        r.stderr = err.read()
    r.said = lines(r.stderr)
    return r


def run(*argv, **kw):
    return execute([*run_with, render, *argv], **kw)


def start(*argv, **kw):
    """The renderer left running; said() reads its standard error once it has ended."""
    err = tempfile.TemporaryFile()
    proc = subprocess.Popen([*run_with, render, *argv], stderr=err, **kw)
    proc.said = lambda: (err.seek(0), lines(err.read()))[1]
    return proc


def header(frames):
    """A WAV header as the format defines it: PCM, 2 channels, 44100 Hz, 16 bits."""
    return struct.pack("<4sI4s4sIHHIIHH4sI", b"RIFF", 36 + 4 * frames, b"WAVE", b"fmt ", 16, 1, 2,
                       44100, 4 * 44100, 4, 16, b"data", 4 * frames)


def contents(name):
    with open(name, "rb") as f:
        return f.read()


def holds(name, frames):
    data = contents(name)
    return data[:44] == header(frames) and len(data) == 44 + 4 * frames


def leftovers(*kept):
    return sorted(set(os.listdir("files")) - set(kept))


def readlink(name):
    try:
        return os.readlink(name)
    except OSError:
        return "(no link)"


def old(name):
    with open(name, "wb") as f:
        f.write(OLD)


def bytes_equal_synthesis():
    # Every sound mode, the frequency's limits and both decimal marks, the defaults and
    # the '=' forms, lengths rounded to frames, a last chunk cut short, names outside
    # ASCII: header and data byte for byte the straightforward synthesis (synth_dump).
    sessions = [  # arguments, hundredths of a hertz, sound mode (0 none .. 3 noise), seconds
        ("--sound none --frequency 7.80", 780, 0, "1"), ("", 780, 1, "2"),
        ("--sound=binaural --frequency=0,1", 10, 1, "1.5"), ("--sound binaural --frequency 50", 5000, 1, "0.75"),
        ("--sound beeps --frequency 7,8", 780, 2, "2"), ("--sound beeps --frequency 0.19", 19, 2, "1"),
        ("--sound noise --frequency 7.80", 780, 3, "3"), ("--sound noise --frequency 50,00", 5000, 3, "1.3"),
        ("--sound noise --frequency 0.10", 10, 3, "0.279"),
        ("--sound binaural --frequency 12.34", 1234, 1, "0.27863945578"),
        ("--sound noise --frequency 3,33", 333, 3, "13.7"), ("--sound beeps --frequency 49.99", 4999, 2, "11.15")]
    frames = [int(fractions.Fraction(s[3]) * 44100 + fractions.Fraction(1, 2)) for s in sessions]
    # Every session's synthesis from one run (a program start under Wine is slow).
    synthesis = execute([*run_with, dump, *(str(x) for (_, f, mode, _), n in zip(sessions, frames)
                                            for x in (f, mode, n))], check=True).stdout
    at = 0
    for i, ((given, _, _, seconds), n) in enumerate(zip(sessions, frames)):
        expected, at = header(n) + synthesis[at:at + 4 * n], at + 4 * n
        argv = [*given.split(), "--seconds", seconds]
        name = "files/" + ("сеанс.wav" if i % 2 else "café 7,80.wav")
        r = run("--output", path(name), *argv)
        if report.check(r.returncode == 0, "%s: render failed: %s" % (argv, r.said)):
            data = contents(name)
            first = next((k for k, (a, b) in enumerate(zip(data, expected)) if a != b), min(len(data), len(expected)))
            report.check(data == expected, "%s: %d bytes, expected %d; they differ from byte %d"
                         % (argv, len(data), len(expected), first))
            os.remove(name)
    # The last session through a pipe and into a file the caller opened: the same bytes
    # (no text mode on the way), and no file written.
    piped = run(*argv, "--output", "-", cwd="files")
    report.check(piped.returncode == 0 and piped.stderr == b"" and piped.stdout == expected,
                 "--output - into a pipe: %s, not the render" % piped.said)
    with open("redirected.wav", "wb") as f:
        run(*argv, "--output", "-", stdout=f, cwd="files", check=True)
    report.check(contents("redirected.wav") == expected, "--output - into a file: not the render")
    # Outputs that begin with dashes, after a space or an '='.
    for argv, name in ((["--output", "-dash.wav"], "files/-dash.wav"), (["--output=--odd.wav"], "files/--odd.wav")):
        r = run("--seconds", "0.1", *argv, cwd="files")
        report.check(r.returncode == 0 and holds(name, 4410), "%s: %s" % (argv, r.said))
        os.remove(name)
    report.check(not leftovers(), "files left behind after good renders: %s" % leftovers())


def shown_plainly(stream):
    """Whether `stream` is text with no control character but its line ends."""
    try:
        return all(line.isprintable() for line in stream.decode().replace("\r\n", "\n").split("\n"))
    except UnicodeDecodeError:
        return False


def refused(argv, words, code=2, kept=("keep.wav",), **kw):
    """A render that must fail with files/keep.wav there before: nothing written, one plain
    line holding every one of `words`."""
    r = run(*argv, **kw)
    got = (r.returncode, r.stdout or b"", contents("files/keep.wav"), leftovers(*kept))
    report.check(got == (code, b"", OLD, []), "%r: exit, stdout, keep.wav, files left: %r, expected %r"
                 % (argv, got, (code, b"", OLD, [])))
    report.check(len(r.said) == 1 and all(w in r.said[0] for w in words) and shown_plainly(r.stderr),
                 "%r: expected one plain line with %s, got %r" % (argv, words, r.stderr))


def bad_arguments():
    # Each refusal names the word at fault and says what would do.
    target = path("files/keep.wav")
    old("files/keep.wav")
    out = ["--seconds", "1", "--output", target]
    cases = [  # arguments, words the one line holds
        (["--frequency", "60", *out], ["--frequency '60' is out of range", "from 0.10 to 50.00"]),
        (["--frequency", "0.05", *out], ["'0.05' is out of range"]),
        (["--frequency", "7.805", *out], ["'7.805' has more than two decimals", "at most two decimals"]),
        (["--frequency", "abc", *out], ["'abc' is not a frequency", "such as 7.80"]),
        (["--sound", "rain", *out], ["--sound 'rain' is not a sound", "none, binaural, beeps, noise"]),
        (["--seconds", "0", "--output", target], ["--seconds '0' is not positive", "at most 24347 "]),
        (["--seconds", "-1", "--output", target], ["'-1' is not a positive number"]),
        (["--seconds", "0.00001", "--output", target], ["'0.00001' is shorter than one sound frame"]),
        (["--seconds", "25000", "--output", target], ["'25000' is longer than 24347 seconds"]),
        (["--seconds", "24347.001", "--output", target], ["'24347.001' is longer than 24347 seconds"]),
        ([*out, "--volume", "3"], ["unknown option '--volume'", "accepted: --frequency HZ"]),
        ([*out, "--loud=3"], ["unknown option '--loud';"]),
        ([*out, "-x"], ["unknown option '-x'"]),
        ([*out, "extra"], ["unexpected argument 'extra'", "accepted: --frequency HZ"]),
        (["--seconds", "1", "--output"], ["--output needs a value", "--output FILE"]),
        (["--seconds", "--output", target], ["--seconds needs a value"]),
        (["--seconds", "1", "--output="], ["--output is empty", "path of the WAV file"]),
        (["--seconds", "1"], ["missing --output", "such as --output session.wav"]),
        (["--output", target], ["missing --seconds", "positive length"]),
        ([], ["missing --seconds"]),
        (["--seconds", "2", *out], ["--seconds is given more than once", "each option once"]),
        (["--frequency", "7.8", "--frequency", "7.9", *out], ["--frequency is given more than once"]),
        (["--seconds", "1", "--output", path("files/no/such/x.wav")], ["does not exist", "an existing folder"]),
        (["--seconds", "1", "--output", path("files/keep.wav/x.wav")], ["does not exist"]),
        (["--seconds", "1", "--output", path("files/нет/x.wav")],
         ["'%s' of --output does not exist" % path("files/нет")]),
        (["--seconds", "1", "--output", "files"], ["'files' is a folder", "the path of a file"]),
        (["--seconds", "1", "--output", path("files/")], ["is a folder"]),
        # Control characters are shown, never sent (Wine hands the program its arguments
        # as UTF-16, so no stray byte reaches it there).
        (["--seconds", "1", "--output", "\x1b[2J\r/x.wav"] if WINDOWS else
         ["--seconds", "1", "--output", os.fsdecode(b"\x1b[2J\x9b\r/x.wav")],
         [r"'\x1b[2J\r'" if WINDOWS else r"'\x1b[2J\x9b\r'"]),
    ]
    if not WINDOWS:
        os.symlink("loop2.wav", "files/loop1.wav")
        os.symlink("loop1.wav", "files/loop2.wav")
        cases += [(["--seconds", "1", "--output", "/dev/null"], ["'/dev/null'", "not a regular file"]),
                  (["--seconds", "1", "--output", "files/loop1.wav"], ["loop"])]
    kept = ("keep.wav", "loop1.wav", "loop2.wav")
    for argv, words in cases:
        refused(argv, words, kept=kept)
    # Standard output on a terminal: no binary on the screen.
    master, slave = pty.openpty()
    refused(["--seconds", "1", "--output", "-"], ["terminal"], kept=kept, stdout=slave)
    os.close(slave)
    os.set_blocking(master, False)
    try:
        report.check(os.read(master, 65536) == b"", "--output - showed the render on a terminal")
    except OSError:
        pass
    os.close(master)


def help_and_manual():
    # --help wins over anything else given; it names every option, every exit status and
    # the longest render, which the manual page states too.
    usage = None
    for argv in (["--help"], ["-h"], ["--seconds", "1", "--output", path("files/x.wav"), "--help"],
                 ["--help", "--bogus"]):
        r = run(*argv)
        usage = usage or r.stdout
        report.check(r.returncode == 0 and r.stderr == b"" and r.stdout == usage,
                     "%s: exit %d, %s, not the usage" % (argv, r.returncode, r.stderr))
    for words in ("--frequency", "--sound", "--seconds", "--output", "--help", "0 done", "2 bad arguments",
                  "1 the file could not be written", "130 interrupted", "at most %d;" % LONGEST):
        report.check(words in usage.decode(), "--help does not say %r" % words)
    report.check(not leftovers(), "--help wrote %s" % leftovers())
    with open(MANUAL) as f:
        report.check("at most %d " % LONGEST in f.read(),
                     "the manual page does not state the longest render as %d seconds" % LONGEST)


def failed_writes():
    # A write failing half way (the file size limit), a folder no file can be made in:
    # exit 1, one line, the old file kept, nothing left.
    old("files/keep.wav")
    os.mkdir("files/ro", 0o555)
    limit = dict(preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (51200, 51200)))
    for output, kw in (("files/keep.wav", limit), ("/proc/zarvelin-render-test.wav", {}),
                       *([("files/ro/x.wav", {})] if os.getuid() != 0 else [])):   # root writes anywhere
        refused(["--sound", "noise", "--seconds", "10", "--output", output], [], code=1, kept=("keep.wav", "ro"), **kw)
    report.check(not os.listdir("files/ro"), "a read-only folder: left %s" % os.listdir("files/ro"))


PROBES = {"mode": lambda n: "%o" % (os.stat(n).st_mode & 0o7777), "link": readlink,
          "owner": lambda n: "%s:%s" % (pwd.getpwuid(os.stat(n).st_uid).pw_name,
                                        grp.getgrgid(os.stat(n).st_gid).gr_name)}


def replaced_file_keeps_what_it_was():
    # The file replaced keeps its mode and owner (where this user may give them), a link
    # stays a link to the new file. Who renders ("me+wine" also under Wine, which keeps no
    # Unix mode or owner), the set-up in a folder of its own (in the render's shell),
    # --output, what holds after. Another user's file needs root.
    cases = [
        ("me", "printf old >p.wav; chmod 600 p.wav", "p.wav", "mode p.wav 600"),
        ("me", "printf old >r.wav; chmod 4551 r.wav", "r.wav", "mode r.wav 4551"),  # set-id bits, read-only
        ("me", "umask 027", "n.wav", "mode n.wav 640"),  # a new file
        ("root", "printf old >o.wav; chown nobody:nogroup o.wav; chmod 640 o.wav", "o.wav",
         "owner o.wav nobody:nogroup, mode o.wav 640"),  # another user's
        ("nobody", "printf old >g.wav; chown root:nogroup g.wav; chmod 660 g.wav", "g.wav",
         "owner g.wav nobody:nogroup, mode g.wav 660"),  # root's, in a shared group
        ("me+wine", "printf old >t.wav; chmod 640 t.wav; ln -s t.wav l.wav", "l.wav",
         "link l.wav t.wav, mode t.wav 640"),
        ("me+wine", 'mkdir s; printf old >s/t.wav; ln -s "$PWD/s/t.wav" s/l.wav; ln -s s/l.wav l.wav', "l.wav",
         "link l.wav s/l.wav, link s/l.wav {here}/s/t.wav"),
        ("me", "ln -s t.wav l.wav", "l.wav", "link l.wav t.wav"),  # to nothing yet (Windows: replaced)
    ]
    os.chmod(".", 0o755)
    for n, (who, setup, output, after) in enumerate(cases):
        if WINDOWS and who != "me+wine":
            continue
        if who in ("root", "nobody") and os.getuid() != 0:
            report.note("%r needs root; skipped" % setup)
            continue
        here = os.path.abspath("keep%d" % n)
        os.mkdir(here)
        os.chmod(here, 0o777)
        as_ = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"] if who == "nobody" else []
        r = execute(["sh", "-ec", setup + '\nexec "$@"', "sh", *as_, *run_with, render, "--seconds", "0.1",
                     "--output", output], cwd=here)
        holder = os.path.realpath(os.path.join(here, output))
        if report.check(r.returncode == 0 and holds(holder, 4410), "%s: %s does not hold the render: %s"
                        % (setup, holder, r.said)):
            for probe, name, wanted in (x.split(" ") for x in after.format(here=here).split(", ")):
                got = PROBES[probe](os.path.join(here, name))
                report.check(WINDOWS and probe != "link" or got == wanted,
                             "%s: %s's %s is %s, expected %s" % (setup, name, probe, got, wanted))
        parts = [f for _, _, names in os.walk(here) for f in names if f.endswith(".part")]
        report.check(not parts, "%s: part files left: %s" % (setup, parts))


def reader_gone():
    # A reader that leaves early ends the render with one line and exit 1 (under Wine the
    # gone reader shows as ERROR_PIPE_NOT_CONNECTED), having been given the header of the
    # longest render there is, every frame counted.
    proc = start("--sound", "noise", "--seconds", str(LONGEST), "--output", "-", stdout=subprocess.PIPE)
    head = proc.stdout.read(44)
    proc.stdout.close()
    proc.wait()
    said = proc.said()
    report.check(proc.returncode == 1 and len(said) == 1 and "closed by its reader" in said[0],
                 "a reader gone: exit %d, %s" % (proc.returncode, said))
    report.check(head == header(LONGEST * 44100), "the streamed header is not the longest render's: %r" % head)


def under_way(proc):
    """Waits until the render has its file open in files/ (named or not)."""
    folder, fds = os.path.abspath("files") + "/", "/proc/%d/fd/" % proc.pid
    deadline = time.monotonic() + 60  # a hang guard: Wine may take seconds to start
    while time.monotonic() < deadline:
        if proc.poll() is not None:
            return False
        try:
            if (any(n.endswith(".part") for n in os.listdir("files")) if WINDOWS else
                    any(readlink(fds + fd).startswith(folder) for fd in os.listdir(fds))):
                return True
        except FileNotFoundError:  # it ended just now: the poll above says so next
            pass
        time.sleep(0.02)
    return False


def ended_from_outside():
    # Each way a render can be ended from outside: Ctrl+C, and elsewhere every stop
    # signal, exit 130 having removed their file; SIGKILL (and under Wine SIGTERM) cannot
    # be answered, and leave nothing because the file never had a name, or is deleted
    # when its last handle closes. The longest render there is, so each ends mid-way.
    # Where files/ can hold a file with no name (O_TMPFILE), a render in progress shows none.
    unnamed = False
    if not WINDOWS:
        try:
            os.close(os.open("files", os.O_TMPFILE | os.O_WRONLY, 0o600))
            unnamed = True
        except OSError:
            report.note("files/ has no unnamed files; the renderer falls back to part files there")
    ways = ([("INT", 130), ("TERM", 143), ("KILL", 137)] if WINDOWS else
            [("INT", 130), ("TERM", 130), ("HUP", 130), ("QUIT", 130), ("PIPE", 130), ("KILL", 137)])
    if args.no_sent_sigpipe:
        ways = [w for w in ways if w[0] != "PIPE"]
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
        got = (rc, code != 130 or any("interrupted" in s for s in said), contents("files/keep.wav"))
        report.check(got == (code, True, OLD), "SIG%s: exit, interrupted said, target: %r, expected %r (%s)"
                     % (sig, got, (code, True, OLD), said))
        if unnamed or WINDOWS or sig != "KILL":
            # Wine's server closes a killed program's handles a moment after it ends.
            for _ in range(300):
                if not leftovers("keep.wav"):
                    break
                time.sleep(0.05)
            report.check(not leftovers("keep.wav"), "SIG%s: left behind %s" % (sig, leftovers("keep.wav")))
        # The next render to the same target replaces it and leaves nothing else either.
        r = run("--seconds", "0.1", "--output", path("files/keep.wav"))
        report.check(r.returncode == 0 and holds("files/keep.wav", 4410),
                     "SIG%s: the following render did not replace the target: %s" % (sig, r.said))
        report.check(not leftovers("keep.wav"), "SIG%s: after the next render: %s" % (sig, leftovers("keep.wav")))


def dead_writers_part_file():
    # Where there are no unnamed files, a killed writer leaves its part file; the next
    # render to the same target removes it once that writer is gone, never before.
    old("files/keep.wav")
    writer = subprocess.Popen([args.part_writer, "files/keep.wav"], stdout=subprocess.PIPE, text=True)
    try:   # the writer, left running, would hold this test's output open
        part = writer.stdout.readline().strip()
        report.check(os.path.basename(part).startswith(".keep.wav.%d." % writer.pid) and part.endswith(".part"),
                     "the part file %r does not carry its writer's process id %d" % (part, writer.pid))
        run("--seconds", "0.1", "--output", "files/keep.wav", check=True)
        report.check(os.path.exists(part), "a render removed the part file of a writer still running")
    finally:
        writer.kill()
        writer.wait()
    run("--seconds", "0.2", "--output", "files/keep.wav", check=True)
    report.check(not os.path.exists(part), "the dead writer's part file was not removed by the next render")
    report.check(holds("files/keep.wav", 8820), "the render after a dead writer did not replace the target")
    report.check(not leftovers("keep.wav"), "after a dead writer's part file: %s" % leftovers("keep.wav"))


def windows_part_files_and_attributes():
    # A part file whose writer is gone (no process has that id) is removed by the next
    # render to the same target; one for another target is left alone.
    other = ".other.wav.4294967288.000000000abc.part"
    for debris in (".keep.wav.4294967288.000000000abc.part", other):
        with open("files/" + debris, "wb") as f:
            f.write(b"debris")
    run("--seconds", "0.5", "--output", path("files/keep.wav"), check=True)
    report.check(leftovers("keep.wav") == [other], "the gone writer's part files: %s" % leftovers("keep.wav"))
    # The old file's system attribute is kept (where this file system keeps Wine's
    # attributes).
    def system_file():
        return execute([*run_with, "attrib", path("files/keep.wav")]).stdout.lstrip(b"A").startswith(b"S")
    execute([*run_with, "attrib", "+s", path("files/keep.wav")])
    if system_file():
        run("--seconds", "0.1", "--output", path("files/keep.wav"), check=True)
        report.check(system_file(), "the system attribute was lost")
    else:
        report.note("this file system keeps no Wine attributes; the attribute case is skipped")


def main():
    if run_with:
        can_run = subprocess.run([*run_with, "--can-run"], capture_output=True, text=True)
        if can_run.returncode != 0:
            report.skip(can_run.stdout.strip())
    cases = {fn.__name__: fn for fn in (
        bytes_equal_synthesis, bad_arguments, help_and_manual, replaced_file_keeps_what_it_was, reader_gone,
        ended_from_outside,
        *([windows_part_files_and_attributes] if WINDOWS else [failed_writes, dead_writers_part_file]))}
    wanted = args.cases.split(",") if args.cases else list(cases)
    unknown = sorted(set(wanted) - set(cases))
    if unknown:
        print("render_e2e: no case %s here; the cases: %s" % (", ".join(unknown), ", ".join(cases)), file=sys.stderr)
        return 2
    work = tempfile.mkdtemp(prefix="zarvelin-render-e2e.")
    try:
        # Whatever a render writes by a name of its own choosing lands here.
        os.chdir(work)
        for fn in [fn for name, fn in cases.items() if name in wanted]:
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
