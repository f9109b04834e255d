#!/usr/bin/python3
"""Many Start/key cycles of the real program, on either face, on an X server with the
real sound server. Run under tests/scripts/with-xvfb.sh and tests/scripts/with-pulse.sh
(and with-openbox.sh for the Windows face under Wine).

    face_soak.py PROGRAM [RENDER] [--wine WINE-RUN PROBE.exe] [--cycles N]
                 [--restart-server-at K] [--freeze-server-from K --freeze-server-for N]

Every cycle clicks Start, waits for the full-screen stimulation window, holds it a
moment, presses a key once the window is in front and waits for the window to go and
the control window to come back to the front. Checked: every session showed its window
and ended; the footprint settles (the face's driver says how: on Linux the resident
memory within 2 MB of cycle 10 and the threads and descriptors back to their idle counts
of cycle 10, or of 5 cycles after a frozen server went on; on Windows the threads, the
handles Wine does not count, and the private bytes within 4 MiB of cycle 10); the
program ends with code 0 when its window is closed. On Windows the control window must
answer a message during every Start.
--restart-server-at K kills the sound server before cycle K and starts a new one: a
session after that must sound again, exactly as RENDER writes it.
--freeze-server-from K stops the sound server (SIGSTOP) for N cycles, then lets it go on.
Measured and printed, not held to a bound: Start click to full-screen window p50, p95,
p99, how long the control window takes to repaint an uncovered patch (Linux, probed
after every key press while the session winds down) or to answer during Start (Windows).
"""
import argparse
import os
import signal
import statistics
import subprocess
import sys
import time

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "linux_face"))
sys.path.insert(0, os.path.join(here, "..", "harness"))
sys.path.insert(0, os.path.join(here, "..", "windows_face"))
import pulse_recording as pr  # noqa: E402
import xsession as xs  # noqa: E402
from linux_driver import LinuxFace  # noqa: E402
from repaint_probe import RepaintProbe  # noqa: E402
from report import passed, skip  # noqa: E402
from report import fail as report_fail  # noqa: E402


def fail(message):
    report_fail(message, who="face_soak: FAIL")

FREQUENCY = 780   # the program's defaults: binaural beats and the stroboscope at 7,80


def percentile(values, p):
    s = sorted(values)
    return s[min(len(s) - 1, max(0, int(round(p / 100.0 * len(s) + 0.5)) - 1))]


def settle(face, want=None, timeout=30.0):
    """The footprint once its counts stop changing (or equal those of `want`)."""
    def counts(f):
        return {k: v for k, v in f.items() if k in ("threads", "descriptors", "handles")}
    deadline = time.monotonic() + timeout
    last = face.footprint()
    stable_since = time.monotonic()
    while time.monotonic() < deadline:
        time.sleep(0.05)
        now = face.footprint()
        if want is not None and counts(now) == counts(want):
            return now
        if counts(now) != counts(last):
            stable_since = time.monotonic()
        elif want is None and time.monotonic() - stable_since > 0.5:
            return now
        last = now
    return last


def process_gone(pid):
    """True once pid has exited: reaped already, or a zombie its parent has not reaped.
    The parent may reap it between any two reads, so a vanished file counts as gone."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] == "Z"
    except FileNotFoundError:
        return True


class SoundServer:
    """The private server with-pulse.sh started, and any this soak starts after it."""

    def __init__(self):
        self.run_dir = os.environ["XDG_RUNTIME_DIR"]
        self.own = None

    def pid(self):
        with open(os.path.join(self.run_dir, "pulse", "pid")) as f:
            return int(f.read().split()[0])

    def kill_and_restart(self):
        old = self.pid()
        os.kill(old, signal.SIGKILL)
        xs.wait_for(lambda: process_gone(old), "the server to die")
        log = open(os.path.join(os.environ.get("ZARVELIN_PULSE_DIR", self.run_dir), "pulse2.log"), "w")
        self.own = subprocess.Popen(
            ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
             "--log-target=stderr",
             "--load=module-null-sink " + os.environ["ZARVELIN_NULL_SINK"],
             "--load=module-native-protocol-unix", "--load=module-always-sink"],
            stdout=log, stderr=subprocess.STDOUT)
        xs.wait_for(lambda: subprocess.run(["pactl", "info"], capture_output=True).returncode == 0,
                    "the new sound server")
        subprocess.run(["pactl", "set-default-sink", "null"], check=True)
        subprocess.run(["pactl", "set-sink-volume", "null", "100%"], check=True)

    def stop_own(self):
        if self.own is not None and self.own.poll() is None:
            self.own.terminate()
            self.own.wait(timeout=10)


class Soak:
    def __init__(self, face):
        self.face = face
        self.d = xs.Display()
        self.width, self.height = map(int, xs.xdotool("getdisplaygeometry").split())
        self.space = self.d.keycode("space")
        self.control = face.start()
        x, y = self.d.origin(self.control)
        xs.wait_for(lambda: self.d.pixel(x + 2, y + 2) != (0, 0, 0), "the control window painted")
        # A patch of the frequency field's label row, left of the buttons.
        self.repaint = RepaintProbe(self.d, x + 20, y + 10) if face.repaint_probe else None
        self.start_ms, self.repaint_ms, self.missed_repaints, self.answer_ms = [], [], 0, []
        self.lost_keys = 0

    def key(self):
        self.d.fake_key(self.space, True)
        self.d.fake_key(self.space, False)

    def wait(self, condition, n, what, timeout=15):
        try:
            return xs.wait_for(condition, what, timeout=timeout, step=0.001)
        except AssertionError:
            fail("cycle %d: %s within %d s%s" % (n, what, timeout, self.face.keyboard_owners()))

    def cycle(self, n, hold):
        """One session: Start clicked, the window shown, held, a key, the window gone."""
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
        stim = self.wait(lambda: self.d.full_screen_windows(self.width, self.height), n,
                         "no stimulation window")[0]
        self.start_ms.append((time.monotonic() - clicked) * 1000)
        time.sleep(hold)
        if self.face.proc.poll() is not None:
            fail("cycle %d: the program ended during a session" % n)
        # Keys go to the window with the focus: a person presses once the window is in
        # front.
        self.wait(lambda: self.face.in_front(stim, "stimulation"), n, "the session never came to the front")
        self.key()
        try:
            xs.wait_for(lambda: not self.d.viewable(stim), "", timeout=3, step=0.001)
        except AssertionError:
            if self.lost_keys >= self.face.keys_may_go_astray:
                fail("cycle %d: the stimulation window stayed 3 s after the key%s"
                     % (n, self.face.keyboard_owners()))
            # Under Wine a window manager's late focus events can still route a key
            # elsewhere after the window is in front (about once in 400 cycles); a person
            # would press again. A program that ignores keys loses every one.
            self.lost_keys += 1
            print("cycle %d: the key went astray%s; pressed again" % (n, self.face.keyboard_owners()))
            self.key()
        self.wait(lambda: not self.d.viewable(stim), n, "the stimulation window stayed after the key")
        # A window manager takes the frame away a moment later; a click lands on it till then.
        self.wait(lambda: not self.d.covered(self.width, self.height), n, "the screen stayed covered")
        self.wait(lambda: self.d.viewable(self.control) and self.face.in_front(self.control, "control"), n,
                  "the control window never came back to the front")
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
        return sum(n for _, _, _, n in runs)

    def close(self):
        if self.repaint is not None:
            self.repaint.close()
        self.d.close_window(self.control)
        try:
            return self.face.proc.wait(timeout=15)
        except subprocess.TimeoutExpired:
            fail("the program did not end within 15 s of its window closing")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("program")
    ap.add_argument("render", nargs="?", help="the renderer, for the sound after a restart")
    ap.add_argument("--wine", nargs=2, metavar=("WINE-RUN", "PROBE"),
                    help="the program is zarvelin.exe, run by WINE-RUN and read by PROBE")
    ap.add_argument("--cycles", type=int, default=200)
    ap.add_argument("--restart-server-at", type=int, default=0)
    ap.add_argument("--freeze-server-from", type=int, default=0)
    ap.add_argument("--freeze-server-for", type=int, default=0)
    args = ap.parse_args()
    if args.cycles < 12:
        ap.error("--cycles takes at least 12: the footprint is compared with cycle 10")
    if args.restart_server_at and not args.render:
        ap.error("--restart-server-at needs RENDER: the sound after the restart is compared with it")
    if args.wine:
        from wine_driver import WineFace
        if not WineFace.can_run(args.wine[0]):
            skip("Wine cannot run this build here")
        face = WineFace(args.wine[0], args.program, args.wine[1])
    else:
        face = LinuxFace(args.program)

    server = SoundServer()
    soak = Soak(face)
    began = time.monotonic()
    frozen = None
    # The idle footprint is taken after cycle 10, or 5 cycles after a frozen server goes
    # on or a killed one comes back: a device left in the frozen server keeps its slot
    # of the wave output, so the next session opens in a second slot whose wake
    # descriptor is kept for reuse from then on. A killed server does the same whenever
    # the last device's close outlasts the worker's wait for it, which a loaded machine
    # makes likely (five descriptors at the end against four after cycle 10 was seen so).
    idle_reference = 10
    if args.restart_server_at:
        idle_reference = max(10, args.restart_server_at + 5)
        if idle_reference >= args.cycles:
            ap.error("give more cycles than 5 after the server restarts")
    if args.freeze_server_for:
        idle_reference = max(10, args.freeze_server_from + args.freeze_server_for + 5)
        if idle_reference >= args.cycles:
            ap.error("give more cycles than 5 after the server goes on again")
    try:
        if soak.repaint is not None:
            # The measure itself: a program that does not run does not repaint.
            pid = face.proc.pid
            os.kill(pid, signal.SIGSTOP)
            stalled = soak.repaint.measure(timeout=0.3)
            os.kill(pid, signal.SIGCONT)
            if stalled is not None:
                fail("the repaint probe saw a repaint from a stopped program: it measures nothing")
            xs.wait_for(lambda: soak.d.pixel(soak.repaint.x + 1, soak.repaint.y + 1) != (255, 0, 255),
                        "the repaint after the program went on")
        idle_at_start = settle(face)
        sound_matched = None
        for n in range(1, args.cycles + 1):
            if n == args.restart_server_at:
                server.kill_and_restart()
                sound_matched = soak.session_sound(args.render)
            if n == args.freeze_server_from:
                frozen = server.pid()
                os.kill(frozen, signal.SIGSTOP)
            if frozen is not None and n == args.freeze_server_from + args.freeze_server_for:
                os.kill(frozen, signal.SIGCONT)
                frozen = None
            # Hold times spread over the block, from a fifth of one to a block and a half.
            soak.cycle(n, 0.056 + (n * 0.0379) % 0.36)
            if n == 10:
                at10 = settle(face)
            if n == idle_reference:
                idle = settle(face)
        if frozen is not None:
            os.kill(frozen, signal.SIGCONT)
            frozen = None
        end = settle(face, want=idle)
        code = soak.close()
    finally:
        if frozen is not None:
            os.kill(frozen, signal.SIGCONT)
        text = face.output()
        server.stop_own()
        if text.strip():
            print("program output:\n" + text[-4000:])

    print("cycles: %d in %.0f s" % (args.cycles, time.monotonic() - began))
    print("Start click to full-screen window: p50 %.1f ms, p95 %.1f ms, p99 %.1f ms, max %.1f ms"
          % (percentile(soak.start_ms, 50), percentile(soak.start_ms, 95),
             percentile(soak.start_ms, 99), max(soak.start_ms)))
    if soak.answer_ms:
        print("the control window answering during Start: p50 %.1f ms, p99 %.1f ms, max %.1f ms"
              % (percentile(soak.answer_ms, 50), percentile(soak.answer_ms, 99), max(soak.answer_ms)))
    if soak.repaint_ms:
        print("control window repaint after the key: p50 %.1f ms, p99 %.1f ms, max %.1f ms; "
              "%d of %d within 50 ms; %d not within 2 s"
              % (statistics.median(soak.repaint_ms), percentile(soak.repaint_ms, 99),
                 max(soak.repaint_ms), sum(1 for v in soak.repaint_ms if v <= 50),
                 len(soak.repaint_ms), soak.missed_repaints))
    print("footprint: %r idle at start, %r after cycle 10, %r after cycle %d, %r at the end"
          % (idle_at_start, at10, idle, idle_reference, end))
    if sound_matched is not None:
        print("after the server restart: %d frames heard exactly as rendered" % sound_matched)
    grew = face.footprint_grew(at10, idle, end)
    if grew:
        fail("; ".join(grew))
    if code != 0:
        fail("exit code %d after closing" % code)
    passed("face_soak")


if __name__ == "__main__":
    main()
