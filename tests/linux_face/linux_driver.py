"""How the face tests start and read the Linux face: the program started straight on
the X server, its footprint read from /proc. face() gives either face's driver."""
import os
import subprocess
import tempfile

import xsession as xs
from report import skip


def face(program, wine=None):
    """The Linux face, or with `wine` (WINE-RUN, PROBE.exe) the Windows face under Wine;
    a skip where Wine cannot run this build."""
    if not wine:
        return LinuxFace(program)
    from wine_driver import WineFace
    if not WineFace.can_run(wine[0]):
        skip("Wine cannot run this build here")
    return WineFace(wine[0], program, wine[1])


class LinuxFace:
    name = "linux"
    # The window paints the grey the clock gives at each display frame: the greys are
    # read from the X server with their times, and not every tick reaches the screen.
    shows_every_tick = False
    # Without a window manager a window of the soak's own sits where it is put.
    repaint_probe = True
    # A key pressed with the stimulation window in front always reaches it.
    keys_may_go_astray = 0

    def __init__(self, program):
        self.program = program
        self.log = os.path.join(tempfile.mkdtemp(prefix="zarvelin-face-"), "program.log")

    def start(self):
        """Starts the program; returns its control window's X window."""
        self.proc = xs.start_program(self.program, self.log)
        return xs.control_window()

    def start_again(self):
        """A second start while the first runs: its exit status, None if it did not end."""
        try:
            return subprocess.run([self.program], env=dict(os.environ, QT_QPA_PLATFORM="xcb"),
                                  timeout=60, capture_output=True).returncode
        except subprocess.TimeoutExpired:
            return None

    def in_front(self, window, role):
        """The window has the keyboard: the X focus."""
        return xs.focused_window() == window

    def kill(self):
        """Killed outright: the lock goes with the process, the socket file stays."""
        self.proc.kill()
        self.proc.wait()

    def footprint(self):
        """Resident kB, threads and descriptors."""
        pid = self.proc.pid
        with open("/proc/%d/status" % pid) as f:
            rss = next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))
        return {"rss_kb": rss, "threads": len(os.listdir("/proc/%d/task" % pid)),
                "descriptors": len(os.listdir("/proc/%d/fd" % pid))}

    def footprint_grew(self, at10, idle, end):
        """What grew: resident memory by more than 2 MB since cycle 10; threads or
        descriptors at all since the idle reference."""
        out = ["%s %d at the end, %d idle" % (k, end[k], idle[k]) for k in ("threads", "descriptors")
               if end[k] != idle[k]]
        if end["rss_kb"] > at10["rss_kb"] + 2048:
            out.append("resident memory grew by %d kB" % (end["rss_kb"] - at10["rss_kb"]))
        return out

    def keyboard_owners(self):
        return "; the X focus on window %d" % xs.focused_window()

    def output(self):
        """Ends the program if it still runs; what it wrote."""
        return xs.end_program(self.proc, self.log)
