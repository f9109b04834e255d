#!/usr/bin/python3
"""Many Start/key cycles of the real program, on either face, on an X server with the
real sound server (with-xvfb.sh, with-pulse.sh; with-openbox.sh for the Windows face).

    face_soak.py PROGRAM [RENDER] [--wine WINE-RUN PROBE.exe] [--cycles N]
                 [--restart-server-at K] [--freeze-server-from K --freeze-server-for N]

Checked: every session shows and ends by a key; the footprint settles (as the face's
driver judges it); the close ends the program with 0; on Windows the control window
answers during every Start; after the server is killed and restarted a session sounds
exactly as RENDER writes it. --freeze-server-from stops the server (SIGSTOP) for N
cycles. Printed, not bound: Start to full-screen window, and the control window's
repaint after the key (Linux) or its answer during Start (Windows)."""
import argparse
import os
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "linux_face"))
from end_to_end import Run  # noqa: E402  (first: it puts the harness and the Windows driver on the path)
import linux_driver  # noqa: E402
import pulse_recording as pr  # noqa: E402
import xsession as xs  # noqa: E402
from report import fail, passed  # noqa: E402

FREQUENCY = 780   # the program's defaults: binaural beats and the stroboscope at 7,80
COVER = 0xFF00FF  # magenta: nowhere in the control window


def figures(what, values):
    s = sorted(values)
    at = lambda p: s[min(len(s) - 1, max(0, int(round(p / 100.0 * len(s) + 0.5)) - 1))]  # noqa: E731
    return "%s: p50 %.1f ms, p95 %.1f ms, p99 %.1f ms, max %.1f ms" % (what, at(50), at(95), at(99), s[-1])


def settle(face, want=None, timeout=30.0):
    """The footprint once its counts held still for half a second (or equal `want`'s)."""
    counts = lambda f: {k: v for k, v in f.items() if k in ("threads", "descriptors", "handles")}  # noqa: E731
    last, since, deadline = face.footprint(), time.monotonic(), time.monotonic() + timeout
    while time.monotonic() < deadline:
        time.sleep(0.05)
        now = face.footprint()
        if counts(now) != counts(last):
            since = time.monotonic()
        elif (want is None and time.monotonic() - since > 0.5) or (want is not None and counts(now) == counts(want)):
            return now
        last = now
    return last


class RepaintProbe:
    """How long the program takes to repaint a patch of its window just uncovered: a window
    of ours in a colour it never paints is mapped over the patch and unmapped; the patch
    keeps our colour till the UI thread answers the Expose (a Qt window has no background
    the server could clear to)."""

    def __init__(self, d, x, y):
        self.d, self.x, self.y = d, x, y
        self.cover = xs.X11.XCreateSimpleWindow(d.dpy, d.root, x, y, 24, 12, 0, 0, COVER)

    def covered(self):
        return self.d.pixel(self.x + 1, self.y + 1) == (255, 0, 255)

    def measure(self, timeout):
        """Seconds from uncovering the patch to its repaint, None if not within `timeout`."""
        xs.X11.XMapRaised(self.d.dpy, self.cover)
        xs.X11.XSync(self.d.dpy, 0)
        xs.wait_for(self.covered, "the cover window to show", timeout=2, step=0.001)
        xs.X11.XUnmapWindow(self.d.dpy, self.cover)
        xs.X11.XSync(self.d.dpy, 0)
        t0 = time.monotonic()
        return time.monotonic() - t0 if xs.wait_for(lambda: not self.covered(), timeout=timeout, step=0) else None


class Soak(Run):
    def __init__(self, face):
        super().__init__(face)
        self.space = self.d.keycode("space")
        x, y = self.d.origin(self.control)
        xs.wait_for(lambda: self.d.pixel(x + 2, y + 2) != (0, 0, 0), "the control window painted")
        # A patch of the frequency field's label row, left of the buttons.
        self.repaint = RepaintProbe(self.d, x + 20, y + 10) if face.repaint_probe else None
        self.start_ms, self.repaint_ms, self.missed_repaints, self.answer_ms, self.lost_keys = [], [], 0, [], 0

    def key(self):
        self.d.fake_key(self.space, True)
        self.d.fake_key(self.space, False)

    def wait(self, condition, n, what):
        return xs.wait_for(condition, lambda: "cycle %d: %s%s" % (n, what, self.face.keyboard_owners()),
                           timeout=15, step=0.001)

    def cycle(self, n, hold):
        xs.xdotool("mousemove", "--window", str(self.control), *map(str, xs.START_BUTTON))
        clicked = time.monotonic()
        self.d.fake_click()
        if hasattr(self.face, "ping"):
            # While the Start takes effect (or waits for the last session's workers) the
            # control window's thread goes on answering.
            took = self.face.ping()
            if took is None:
                fail("cycle %d: the control window did not answer during Start" % n)
            self.answer_ms.append(took)
        stim = self.wait(self.full_screen, n, "the stimulation window")[0]
        self.start_ms.append((time.monotonic() - clicked) * 1000)
        time.sleep(hold)
        if not self.running():
            fail("cycle %d: the program ended during a session" % n)
        # A person presses once the window is in front.
        self.wait(lambda: self.face.in_front(stim, "stimulation"), n, "the session to come to the front")
        self.key()
        if not xs.wait_for(lambda: not self.d.viewable(stim), timeout=3, step=0.001):
            # Under Wine a window manager's late focus events can still route a key
            # elsewhere after the window is in front (about once in 400 cycles); a person
            # would press again. A program that ignores keys loses every one.
            if self.lost_keys >= self.face.keys_may_go_astray:
                fail("cycle %d: the stimulation window stayed 3 s after the key%s" % (n, self.face.keyboard_owners()))
            self.lost_keys += 1
            print("cycle %d: the key went astray%s; pressed again" % (n, self.face.keyboard_owners()))
            self.key()
        self.expect_idle(stim, "the key in cycle %d" % n)
        if self.repaint is not None:
            # While the session winds down: does the control window still repaint at once?
            took = self.repaint.measure(timeout=2.0)
            if took is None:
                self.missed_repaints += 1
            else:
                self.repaint_ms.append(took * 1000)

    def session_sound(self, render, hold=2.0):
        """One session recorded from the Start click: it must sound, and sound as rendered."""
        rec = pr.Recorder()
        try:
            rec.wait_for_data(10)
            self.cycle(-1, hold)
            time.sleep(0.5)
        finally:
            data = rec.stop()
        if pr.first_sound(data) is None:
            fail("the session after the sound server came back was silent")
        expected = pr.render_frames(render, "binaural", FREQUENCY, int((hold + 2) * pr.RATE))
        ok, lines, runs = pr.check(pr.BLOCK_FRAMES, data, [expected])
        if not ok:
            fail("the sound after the restart is not the rendered sound:\n" + "\n".join(lines))
        print("after the server restart: %d frames heard exactly as rendered" % sum(r[3] for r in runs))


def sound_server_pid_file():
    return os.path.join(os.environ["XDG_RUNTIME_DIR"], "pulse", "pid")


def sound_server_pid():
    with open(sound_server_pid_file()) as f:
        return int(f.read().split()[0])


def gone(pid):
    """Reaped, or a zombie its parent has not reaped yet."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] == "Z"
    except (FileNotFoundError, ProcessLookupError):
        # Reaped before the open, or between the open and the read.
        return True


def restart_sound_server():
    """Kills the private server with-pulse.sh started and starts a new one like it."""
    old = sound_server_pid()
    os.kill(old, signal.SIGKILL)
    xs.wait_for(lambda: gone(old), "the server to die")
    # A killed server leaves its pid file; while its parent has not reaped it, the new
    # server would take the zombie for itself running and exit.
    os.unlink(sound_server_pid_file())
    log = open(os.path.join(os.environ.get("ZARVELIN_PULSE_DIR", os.environ["XDG_RUNTIME_DIR"]), "pulse2.log"), "w")
    server = subprocess.Popen(
        ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit", "--log-target=stderr",
         "--load=module-null-sink " + os.environ["ZARVELIN_NULL_SINK"], "--load=module-native-protocol-unix",
         "--load=module-always-sink"], stdout=log, stderr=subprocess.STDOUT)
    xs.wait_for(lambda: subprocess.run(["pactl", "info"], capture_output=True).returncode == 0, "the new sound server")
    subprocess.run(["pactl", "set-default-sink", "null"], check=True)
    subprocess.run(["pactl", "set-sink-volume", "null", "100%"], check=True)
    return server


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("program")
    ap.add_argument("render", nargs="?")
    ap.add_argument("--wine", nargs=2, metavar=("WINE-RUN", "PROBE"))
    ap.add_argument("--cycles", type=int, default=200)
    ap.add_argument("--restart-server-at", type=int, default=0)
    ap.add_argument("--freeze-server-from", type=int, default=0)
    ap.add_argument("--freeze-server-for", type=int, default=0)
    args = ap.parse_args()
    if args.restart_server_at and not args.render:
        ap.error("--restart-server-at needs RENDER: the sound after the restart is compared with it")
    # The idle footprint is taken after cycle 10, or 5 cycles after a frozen server goes
    # on or a killed one comes back: a device left in such a server keeps its slot of the
    # wave output, so the next session opens a second slot, whose wake descriptor stays.
    thawed = args.freeze_server_from + args.freeze_server_for if args.freeze_server_for else 0
    idle_reference = max(10, args.restart_server_at + 5 if args.restart_server_at else 0, thawed + 5 if thawed else 0)
    if idle_reference >= args.cycles:
        ap.error("give more cycles than %d: the footprint is compared with cycle %d" % (idle_reference, idle_reference))
    face = linux_driver.face(args.program, args.wine)
    frozen = server = None
    began = time.monotonic()
    try:
        soak = Soak(face)
        if soak.repaint is not None:
            # The measure itself: a program that does not run does not repaint.
            os.kill(face.proc.pid, signal.SIGSTOP)
            stalled = soak.repaint.measure(timeout=0.3)
            os.kill(face.proc.pid, signal.SIGCONT)
            if stalled is not None:
                fail("the repaint probe saw a repaint from a stopped program: it measures nothing")
            xs.wait_for(lambda: not soak.repaint.covered(), "the repaint after the program went on")
        footprints = {"idle at start": settle(face)}
        for n in range(1, args.cycles + 1):
            if n == args.restart_server_at:
                server = restart_sound_server()
                soak.session_sound(args.render)
            if n == args.freeze_server_from:
                frozen = sound_server_pid()
                os.kill(frozen, signal.SIGSTOP)
            if frozen is not None and n == thawed:
                os.kill(frozen, signal.SIGCONT)
                frozen = None
            # Hold times spread over the block, from a fifth of one to a block and a half.
            soak.cycle(n, 0.056 + (n * 0.0379) % 0.36)
            if n in (10, idle_reference):
                footprints["after cycle %d" % n] = settle(face)
        at10, idle = footprints["after cycle 10"], footprints["after cycle %d" % idle_reference]
        footprints["at the end"] = end = settle(face, want=idle)
        print("cycles: %d in %.0f s" % (args.cycles, time.monotonic() - began))
        print(figures("Start click to full-screen window", soak.start_ms))
        if soak.answer_ms:
            print(figures("the control window answering during Start", soak.answer_ms))
        if soak.repaint_ms:
            print(figures("control window repaint after the key", soak.repaint_ms) + "; %d of %d within 50 ms; "
                  "%d not within 2 s" % (sum(v <= 50 for v in soak.repaint_ms), len(soak.repaint_ms),
                                         soak.missed_repaints))
        print("footprint: %r" % footprints)
        grew = face.footprint_grew(at10, idle, end)
        if grew:
            fail("; ".join(grew))
        soak.close()
    except AssertionError as e:
        fail(str(e))
    finally:
        if frozen is not None:
            os.kill(frozen, signal.SIGCONT)
        text = face.output()
        if server is not None and server.poll() is None:
            server.terminate()
            server.wait(timeout=10)
        if text.strip():
            print("program output:\n" + text[-4000:])
    passed("face_soak")


if __name__ == "__main__":
    main()
