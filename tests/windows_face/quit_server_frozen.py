"""The Windows program closed while a frozen sound server holds its device: a session
plays, the server freezes (tests/scripts/with-frozen-server.sh), a key ends the session,
the control window is closed, and the program must end with code 0, and not before the
server goes on: a device thread the server holds, torn down under Wine, can fault and take
the process with it. The status is the Wine runner's, so a fault in the exit shows in it.
Usage: quit_server_frozen.py WINE-RUN PROBE.exe ZARVELIN.exe   (under with-xvfb.sh,
with-openbox.sh, with-pulse.sh and with-frozen-server.sh)"""
import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.join(HERE, "..", "linux_face"), os.path.join(HERE, "..", "harness")]
import xsession as xs  # noqa: E402
from end_to_end import Run  # noqa: E402
from report import check, fail, passed  # noqa: E402
from wine_driver import WineFace  # noqa: E402


def server_state(pid):
    """The server's state as Linux shows it: 'T' while frozen."""
    with open("/proc/%d/stat" % pid) as f:
        return f.read().rsplit(")", 1)[1].split()[0]


def main():
    face = WineFace.from_command_line(__doc__.strip().split("Usage: ")[1])
    with open(os.path.join(os.environ["XDG_RUNTIME_DIR"], "pulse", "pid")) as f:
        server = int(f.read())
    run = Run(face)
    try:
        stim = run.start_session()
        check(server_state(server) != "T", "the server froze before the session began: start the freeze later")
        xs.wait_for(lambda: subprocess.run(["timeout", "2", "pactl", "list", "short", "sink-inputs"],
                                           capture_output=True, text=True).stdout.strip(), "the session's stream")
        xs.wait_for(lambda: server_state(server) == "T", "the server to freeze", timeout=120)
        time.sleep(0.5)  # blocks outstanding that the server never takes
        xs.xdotool("key", "space")
        xs.wait_for(lambda: not run.d.viewable(stim), "the key to end the session")
        check(server_state(server) == "T", "the server went on before the close: freeze it for longer")
        run.d.close_window(run.control)
        # The exit may wait for the server to answer or for the sound system to give up.
        try:
            code = face.proc.wait(timeout=300)
        except subprocess.TimeoutExpired:
            fail("the program did not end within 300 s of its window closing")
        check(code == 0, "closed while the server held its device, the program ended with status %d" % code)
        check(server_state(server) != "T", "the program ended while the frozen server still held its device")
    finally:
        face.output()
    passed("closed while the server held its device, the program ended with 0")


if __name__ == "__main__":
    main()
