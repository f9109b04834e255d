#!/usr/bin/python3
"""Many Start/key cycles of the real program on an X server with the real sound server.
Run under tests/scripts/with-xvfb.sh and tests/scripts/with-pulse.sh.

    face_soak.py PROGRAM RENDER [--cycles N] [--restart-server-at K]
                 [--freeze-server-from K --freeze-server-for N]

Every cycle clicks Start, waits for the full-screen stimulation window, holds it a
moment, presses a key and waits for the window to go. Checked: every session showed its
window and ended; the resident memory at the end lies within 2 MB of its value after
the 10th cycle; the threads (/proc/PID/task) and descriptors (/proc/PID/fd) come back to
their idle counts of that moment (or of 5 cycles after a frozen server went on); the program ends with code 0 when its window is closed.
--restart-server-at K kills the sound server before cycle K and starts a new one: a
session after that must sound again, exactly as the renderer writes it.
--freeze-server-from K stops the sound server (SIGSTOP) for N cycles, then lets it go on.
Measured and printed, not held to a bound: Start click to full-screen window p50, p95,
p99, and how long the control window takes to repaint an uncovered patch (probed after
every key press while the session winds down).
"""
import argparse
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import time

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "linux_face"))
sys.path.insert(0, os.path.join(here, "..", "harness"))
import pulse_recording as pr  # noqa: E402
import xsession as xs  # noqa: E402
from repaint_probe import RepaintProbe  # noqa: E402

START_BUTTON = (215 + 35, 95 + 15)
RSS_SLACK_KB = 2048
FREQUENCY = 780   # the program's defaults: binaural beats and the stroboscope at 7,80



def fail(message):
    print("face_soak: FAIL: " + message, flush=True)
    sys.exit(1)


def percentile(values, p):
    s = sorted(values)
    return s[min(len(s) - 1, max(0, int(round(p / 100.0 * len(s) + 0.5)) - 1))]


def rss_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def counts(pid):
    return len(os.listdir("/proc/%d/task" % pid)), len(os.listdir("/proc/%d/fd" % pid))


def descriptors(pid):
    """What each open descriptor points at, for a failure message."""
    out = []
    for fd in sorted(os.listdir("/proc/%d/fd" % pid), key=int):
        try:
            out.append("%s->%s" % (fd, os.readlink("/proc/%d/fd/%s" % (pid, fd))))
        except OSError:
            pass
    return out


def settle_counts(pid, want=None, timeout=10.0):
    """Threads and descriptors once they stop changing (or equal `want`)."""
    deadline = time.monotonic() + timeout
    last = counts(pid)
    stable_since = time.monotonic()
    while time.monotonic() < deadline:
        time.sleep(0.05)
        now = counts(pid)
        if want is not None and now == want:
            return now
        if now != last:
            last, stable_since = now, time.monotonic()
        elif want is None and time.monotonic() - stable_since > 0.5:
            return now
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
    def __init__(self, program, log):
        self.d = xs.Display()
        self.width, self.height = map(int, xs.xdotool("getdisplaygeometry").split())
        self.space = self.d.keycode("space")
        self.proc = xs.start_program(program, log)
        self.control = xs.control_window()
        x, y, _, _ = xs.window_geometry(self.control)
        xs.wait_for(lambda: self.d.pixel(x + 2, y + 2) != (0, 0, 0), "the control window painted")
        # A patch of the frequency field's label row, left of the buttons.
        self.repaint = RepaintProbe(self.d, x + 20, y + 10)
        self.start_ms, self.repaint_ms, self.missed_repaints = [], [], 0
        self.refused = 0

    def key(self):
        self.d.fake_key(self.space, True)
        self.d.fake_key(self.space, False)

    def click_start(self):
        self.d.fake_click()

    def cycle(self, n, hold):
        """One session; returns the seconds from the key to the window gone."""
        xs.xdotool("mousemove", "--window", str(self.control), *map(str, START_BUTTON))
        clicked = time.monotonic()
        self.click_start()
        try:
            stim = xs.wait_for(lambda: self.d.full_screen_windows(self.width, self.height),
                               "the stimulation window", timeout=15, step=0.001)[0]
        except AssertionError:
            fail("cycle %d: no stimulation window within 15 s of Start" % n)
        self.start_ms.append((time.monotonic() - clicked) * 1000)
        time.sleep(hold)
        if self.proc.poll() is not None:
            fail("cycle %d: the program ended during a session" % n)
        self.key()
        try:
            xs.wait_for(lambda: not self.d.viewable(stim), "the window to go", timeout=15, step=0.001)
        except AssertionError:
            fail("cycle %d: the stimulation window stayed 15 s after the key" % n)
        xs.wait_for(lambda: self.d.viewable(self.control), "the control window", timeout=15)
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
        self.repaint.close()
        self.d.close_window(self.control)
        try:
            return self.proc.wait(timeout=15)
        except subprocess.TimeoutExpired:
            fail("the program did not end within 15 s of its window closing")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("program")
    ap.add_argument("render")
    ap.add_argument("--cycles", type=int, default=200)
    ap.add_argument("--restart-server-at", type=int, default=0)
    ap.add_argument("--freeze-server-from", type=int, default=0)
    ap.add_argument("--freeze-server-for", type=int, default=0)
    args = ap.parse_args()
    if args.cycles < 12:
        ap.error("--cycles takes at least 12: the memory is compared with cycle 10")

    log = os.path.join(tempfile.mkdtemp(prefix="zarvelin-soak-"), "program.log")
    server = SoundServer()
    soak = Soak(args.program, log)
    pid = soak.proc.pid
    began = time.monotonic()
    frozen = None
    # The idle threads and descriptors are taken after cycle 10, or 5 cycles after a
    # frozen server goes on or a killed one comes back: a device left in the frozen
    # server keeps its slot of the wave output, so the next session opens in a second
    # slot whose wake descriptor is kept for reuse from then on. A killed server does the
    # same whenever the last device's close outlasts the worker's wait for it, which a
    # loaded machine makes likely (five descriptors at the end against four after cycle
    # 10 was seen so).
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
        # The measure itself: a program that does not run does not repaint.
        os.kill(pid, signal.SIGSTOP)
        stalled = soak.repaint.measure(timeout=0.3)
        os.kill(pid, signal.SIGCONT)
        if stalled is not None:
            fail("the repaint probe saw a repaint from a stopped program: it measures nothing")
        xs.wait_for(lambda: soak.d.pixel(soak.repaint.x + 1, soak.repaint.y + 1) != (255, 0, 255),
                    "the repaint after the program went on")
        idle_at_start = settle_counts(pid)
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
                rss10 = rss_kb(pid)
            if n == idle_reference:
                idle10 = settle_counts(pid)
                fds10 = descriptors(pid)
        if frozen is not None:
            os.kill(frozen, signal.SIGCONT)
            frozen = None
        idle_end = settle_counts(pid, want=idle10)
        rss_end = rss_kb(pid)
        fds_end = descriptors(pid)
        code = soak.close()
    finally:
        if frozen is not None:
            os.kill(frozen, signal.SIGCONT)
        if soak.proc.poll() is None:
            soak.proc.kill()
            soak.proc.wait()
        server.stop_own()
        with open(log) as f:
            text = f.read()
        if text.strip():
            print("program output:\n" + text[-4000:])

    print("cycles: %d in %.0f s" % (args.cycles, time.monotonic() - began))
    print("Start click to full-screen window: p50 %.1f ms, p95 %.1f ms, p99 %.1f ms, max %.1f ms"
          % (percentile(soak.start_ms, 50), percentile(soak.start_ms, 95),
             percentile(soak.start_ms, 99), max(soak.start_ms)))
    if soak.repaint_ms:
        print("control window repaint after the key: p50 %.1f ms, p99 %.1f ms, max %.1f ms; "
              "%d of %d within 50 ms; %d not within 2 s"
              % (statistics.median(soak.repaint_ms), percentile(soak.repaint_ms, 99),
                 max(soak.repaint_ms), sum(1 for v in soak.repaint_ms if v <= 50),
                 len(soak.repaint_ms), soak.missed_repaints))
    print("resident memory: %d kB after cycle 10, %d kB at the end" % (rss10, rss_end))
    print("threads/descriptors: %s idle at start, %s after cycle %d, %s at the end"
          % (idle_at_start, idle10, idle_reference, idle_end))
    if sound_matched is not None:
        print("after the server restart: %d frames heard exactly as rendered" % sound_matched)
    if rss_end > rss10 + RSS_SLACK_KB:
        fail("resident memory grew by %d kB between cycle 10 and the end" % (rss_end - rss10))
    if idle_end != idle10:
        fail("threads/descriptors %s at the end, %s idle after cycle %d\n  descriptors then: %s\n"
             "  descriptors at the end: %s" % (idle_end, idle10, idle_reference, " ".join(fds10), " ".join(fds_end)))
    if code != 0:
        fail("exit code %d after closing" % code)
    print("face_soak: OK")


if __name__ == "__main__":
    main()
