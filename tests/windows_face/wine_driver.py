"""How the face tests start and read the Windows face: zarvelin.exe under Wine on the
test's X server, worked with the same X input as the Linux face; what X cannot see (the
window's own drawing context, the cursor, enabled and focus state, the controls, the
footprint) comes from face_probe.exe, a small Win32 program in the same Wine prefix."""
import subprocess
import sys

import xsession as xs


def text(hex_utf8):
    return "" if hex_utf8 == "-" else bytes.fromhex(hex_utf8).decode("utf-8")


class WineFace:
    name = "windows"
    # With the UI thread woken every millisecond, every 2 ms fill reaches the window's
    # drawing context: the probe's greys meet every tick of the curve.
    shows_every_tick = True
    # Under a window manager a window of the soak's own would be framed and placed by it.
    repaint_probe = False
    # Under Wine a window manager's late focus events can route a key elsewhere after
    # the window came to the front: once per soak a key may go astray.
    keys_may_go_astray = 1

    def __init__(self, wine_run, exe, probe_exe):
        self.wine_run, self.exe, self.probe_exe = wine_run, exe, probe_exe
        self.proc = self.probe = None

    @staticmethod
    def can_run(wine_run):
        return subprocess.run([wine_run, "--can-run"]).returncode == 0

    @classmethod
    def from_command_line(cls, usage):
        """The face WINE-RUN PROBE.exe ZARVELIN.exe names; else exits 2 with `usage`."""
        from report import skip
        if len(sys.argv) != 4:
            print(usage)
            sys.exit(2)
        if not cls.can_run(sys.argv[1]):
            skip("Wine cannot run this build here")
        return cls(sys.argv[1], sys.argv[3], sys.argv[2])

    def ask(self, command):
        """face_probe.exe's answer to one command: its lines up to the "." line."""
        print(command, file=self.probe.stdin, flush=True)
        out = []
        for line in iter(self.probe.stdout.readline, ".\n"):
            if line == "":
                raise RuntimeError("face_probe.exe ended during %r" % command)
            out.append(line.rstrip("\n"))
        if out and out[0].startswith("error:"):
            raise RuntimeError("face_probe.exe: %s" % out[0])
        return out

    def words(self, command):
        return self.ask(command)[0].split()

    def start(self):
        if self.probe is None:
            # A Wine server keeps the desktop of the X display it started on: wait for any
            # earlier one in the prefix (another test's, on another Xvfb) to wind down.
            subprocess.run([self.wine_run, "--wait-server", "120"], check=True)
            self.probe = subprocess.Popen([self.wine_run, self.probe_exe], stdin=subprocess.PIPE,
                                          stdout=subprocess.PIPE, text=True, encoding="utf-8")
        self.proc = subprocess.Popen([self.wine_run, self.exe])
        # A fresh prefix can take a while to come up.
        xs.wait_for(lambda: self.words("find")[0] != "none", "zarvelin.exe's two windows",
                    timeout=120, step=0.1)
        return xs.control_window()

    def start_again(self):
        try:
            return subprocess.run([self.wine_run, self.exe], timeout=60).returncode
        except subprocess.TimeoutExpired:
            return None

    def in_front(self, window, role):
        """The window (`role`: "control" or "stimulation") is Wine's foreground window,
        which keys reach; the X focus can sit a while longer on the window manager's."""
        return self.state()["foreground"] == role

    def kill(self):
        """Ended outright (TerminateProcess): its mutex is left abandoned."""
        said = self.words("kill")
        self.proc.wait(timeout=30)
        if said != ["killed"]:
            raise AssertionError("the program could not be killed: %r" % said)

    def state(self):
        """enabled, cursor as 0/1; focus, foreground as a window's role."""
        w = self.words("state")
        return {k: int(v) if v.isdigit() else v for k, v in zip(w[::2], w[1::2])}

    def greys(self, count):
        """`count` greys of the stimulation window, read through its own drawing context."""
        w = self.words("greys %d" % count)
        if w[0] == "bad":
            raise AssertionError("pixel (%s,%s) of the stimulation window is not grey: %s" % tuple(w[1:4]))
        return [int(v) for v in w]

    def frequency(self):
        """The display's text; the slider's range, position, thumb; the arrows' range,
        position, and 1 if their buddy is the slider."""
        slider, arrows, display = (line.split() for line in self.ask("frequency"))
        return {"slider": [int(v) for v in slider], "arrows": [int(v) for v in arrows],
                "display": text(display[0])}

    def lists(self, items=False):
        """Per list: item count, selection, its text (and with `items` every item's)."""
        rows = [line.split() for line in self.ask("listitems" if items else "lists")]
        return [{"count": int(w[0]), "selected": int(w[1]), "text": text(w[2]),
                 "items": [text(v) for v in w[3:]]} for w in rows]

    def message(self):
        """The message box's text, or None while no message box shows."""
        w = self.words("message")
        return text(w[1]) if w[0] == "box" else None

    def threads(self):
        """The program's threads: id -> where it started ("module+address")."""
        return dict(line.split() for line in self.ask("threads"))

    def footprint(self):
        threads, handles, private = map(int, self.words("footprint"))
        return {"threads": threads, "handles": handles, "private_kb": private // 1024}

    def ping(self):
        """Milliseconds the control window's thread took to answer a message; None if it
        did not within 5 s."""
        w = self.words("ping")
        return float(w[1]) if w[0] == "answered" else None

    def keyboard_owners(self):
        s = self.state()
        return "; foreground: %s, focus: %s, the X focus on window %d" % (
            s["foreground"], s["focus"], xs.focused_window())

    def footprint_grew(self, at10, settled, end):
        """Threads at all; handles by more than 8 where Wine counts them (it reports 0);
        private bytes by more than 4 MiB: a leaked block buffer (48 kB) adds 4.2 MiB over
        90 cycles, Wine's sound client once held 2.5 MiB more after a server freeze."""
        out = []
        if settled["private_kb"] == 0:
            out.append("the program's private bytes could not be read")
        if end["threads"] > settled["threads"]:
            out.append("threads %d at the end, %d settled" % (end["threads"], settled["threads"]))
        if settled["handles"] and end["handles"] > settled["handles"] + 8:
            out.append("handles %d at the end, %d settled" % (end["handles"], settled["handles"]))
        if end["private_kb"] > settled["private_kb"] + 4096:
            out.append("private bytes grew by %d KiB" % (end["private_kb"] - settled["private_kb"]))
        return out

    def output(self):
        """Ends the program if it still runs, and the probe (at the end of its input)."""
        if self.proc is not None and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        if self.probe is not None:
            self.probe.stdin.close()
            try:
                self.probe.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.probe.kill()
                self.probe.wait()
            self.probe = None
        subprocess.run([self.wine_run, "--wait-server", "60"])
        return ""
