"""The Windows program closed while a frozen sound server holds its device: a session
plays, the server freezes (SIGSTOP) once the stream is there, a key ends the session, the
control window is closed, and the program must end with code 0, and not before the
server goes on: a device thread the server holds, torn down under Wine, can fault and take
the process with it. The status is the Wine runner's, so a fault in the exit shows in it.
Usage: quit_server_frozen.py WINE-RUN PROBE.exe ZARVELIN.exe   (under with-xvfb.sh,
with-openbox.sh and with-pulse.sh)"""
import os
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.join(HERE, "..", "linux_face"), os.path.join(HERE, "..", "harness")]
import xsession as xs  # noqa: E402
from end_to_end import Run  # noqa: E402
from report import check, fail, passed  # noqa: E402
from wine_driver import WineFace  # noqa: E402


HOLD_S = 15  # how long the server stays frozen after the close


def main():
    face = WineFace.from_command_line(__doc__.strip().split("Usage: ")[1])
    with open(os.path.join(os.environ["XDG_RUNTIME_DIR"], "pulse", "pid")) as f:
        server = int(f.read())
    run = Run(face)
    try:
        stim = run.start_session()
        xs.wait_for(lambda: subprocess.run(["timeout", "2", "pactl", "list", "short", "sink-inputs"],
                                           capture_output=True, text=True).stdout.strip(), "the session's stream")
        os.kill(server, signal.SIGSTOP)
        try:
            time.sleep(0.5)  # blocks outstanding that the server never takes
            xs.xdotool("key", "space")
            xs.wait_for(lambda: not run.d.viewable(stim), "the key to end the session")
            run.d.close_window(run.control)
            # The exit waits for the server to answer (or the sound system to give up).
            time.sleep(HOLD_S)
            check(face.proc.poll() is None, "the program ended while the frozen server still held its device")
        finally:
            os.kill(server, signal.SIGCONT)
        try:
            code = face.proc.wait(timeout=300)
        except subprocess.TimeoutExpired:
            fail("the program did not end within 300 s of the server going on")
        check(code == 0, "closed while the server held its device, the program ended with status %d" % code)
    finally:
        face.output()
    passed("closed while the server held its device, the program ended with 0")


if __name__ == "__main__":
    main()
