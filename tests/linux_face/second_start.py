"""A second start of the real program while it runs, on either face, on X under a window
manager: the second start ends with 0 and the first comes to the front, its control
window restored when idle, its running session (which a key still ends) when not. Then
the first is killed outright (on Linux leaving its lock file and socket behind, on
Windows its mutex abandoned) and a new start runs all the same, and ends with 0 when
closed. Run under with-xvfb.sh, with-openbox.sh and with-pulse.sh.
Usage: second_start.py [--wine WINE-RUN PROBE.exe] PATH_TO_ZARVELIN"""
import argparse

from end_to_end import Run  # first: it puts the harness and the Windows driver on the path
import linux_driver
import xsession as xs
from report import check, fail, passed

# (case, minimised first, a session running)
CASES = [("idle, minimised", True, False), ("idle, in front", False, False),
         ("a session running", False, True)]


def main():
    ap = argparse.ArgumentParser(usage=__doc__.split("Usage: ")[1])
    ap.add_argument("--wine", nargs=2)
    ap.add_argument("program")
    args = ap.parse_args()
    face = linux_driver.face(args.program, args.wine)
    try:
        run = Run(face)
        d = run.d
        for case, minimised, session in CASES:
            if minimised:
                xs.xdotool("windowminimize", str(run.control))
                xs.wait_for(lambda: not d.viewable(run.control), case + ": the window to minimise")
            stim = run.start_session() if session else None
            code = face.start_again()
            check(code == 0, "%s: the second start ended with %r" % (case, code))
            front, role = (stim, "stimulation") if session else (run.control, "control")
            xs.wait_for(lambda: d.viewable(front) and face.in_front(front, role),
                        case + ": the first instance to come to the front")
            # Counted once the window restored from minimised is mapped again.
            check(len(xs.titled_zarvelin()) == 1, "%s: %d control windows" % (case, len(xs.titled_zarvelin())))
            check(len(run.full_screen()) == (1 if session else 0), case + ": a second session on the screen")
            if session:
                xs.xdotool("key", "space")
                run.expect_idle(stim, case + ": a key")
            check(run.running(), case + ": the first instance ended")
        face.kill()
        xs.wait_for(lambda: not xs.titled_zarvelin(), "the killed instance's window to go")
        run.control = face.start()
        run.close()
    except AssertionError as e:
        fail(str(e))
    finally:
        print(face.output(), end="")
    passed("second starts handed over to the first; a killed instance blocked nothing")


if __name__ == "__main__":
    main()
