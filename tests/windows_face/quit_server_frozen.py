"""The Windows program closed while a frozen sound server holds its device: a session
plays, the server freezes (tests/scripts/with-frozen-server.sh), a key ends the session,
the control window is closed, and the program must end with code 0. Run straight under
the Wine runner, so a fault in the process's exit shows in its status (a driver inside
Wine would see the exit code the program passed before the fault).
Usage: quit_server_frozen.py WINE-RUN ZARVELIN.exe   (under with-xvfb.sh, with-openbox.sh,
with-pulse.sh and with-frozen-server.sh)"""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "linux_face"))
import xsession as xs  # noqa: E402

START_BUTTON = (215 + 35, 95 + 15)


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def server_state(pid):
    """The server's state as Linux shows it: 'T' while frozen."""
    with open("/proc/%d/stat" % pid) as f:
        return f.read().rsplit(")", 1)[1].split()[0]


def stream_playing():
    out = subprocess.run(["timeout", "2", "pactl", "list", "short", "sink-inputs"],
                         capture_output=True, text=True)
    return out.returncode == 0 and out.stdout.strip() != ""


def main(wine_run, exe):
    if subprocess.run([wine_run, "--can-run"]).returncode != 0:
        sys.exit(77)
    subprocess.run([wine_run, "--wait-server", "120"], check=True)
    with open(os.path.join(os.environ["XDG_RUNTIME_DIR"], "pulse", "pid")) as f:
        server = int(f.read())
    d = xs.Display()
    width, height = map(int, xs.xdotool("getdisplaygeometry").split())
    proc = subprocess.Popen([wine_run, exe])
    try:
        control = xs.wait_for(lambda: xs.control_window(), "the control window", timeout=120)
        xs.click_in(control, *START_BUTTON)
        stim = xs.wait_for(lambda: d.full_screen_windows(width, height), "the stimulation window")[0]
        if server_state(server) == "T":
            fail("the server froze before the session began: start the freeze later")
        xs.wait_for(stream_playing, "the session's stream")
        xs.wait_for(lambda: server_state(server) == "T", "the server to freeze", timeout=120)
        time.sleep(0.5)  # blocks outstanding that the server never takes
        xs.xdotool("key", "space")
        xs.wait_for(lambda: not d.viewable(stim), "the key to end the session")
        if server_state(server) != "T":
            fail("the server went on before the close: freeze it for longer")
        d.close_window(control)
        # The exit may wait for the server to answer or for the sound system to give up.
        code = proc.wait(timeout=300)
    finally:
        if proc.poll() is None:
            proc.kill()
    subprocess.run([wine_run, "--wait-server", "60"])
    if code != 0:
        fail("closed while the server held its device, the program ended with status %d" % code)
    print("closed while the server held its device, the program ended with 0")


if __name__ == "__main__":
    main(*sys.argv[1:3])
