"""How a test script says how it went, one way for all of them.

Scripts that stop at their first failure (the face and soak checks of both faces):

    report.check(condition, "what is wrong")   # a line and exit status 1 unless it holds
    report.fail("what is wrong")               # a line and exit status 1
    report.skip("why it cannot run")           # exit status 77, which ctest counts as skipped
    report.passed("end to end")                # "end to end: OK"

Scripts that go through a table of cases and count (sound, render, packaging):

    r = Report("sound_check")
    r.fail("what is wrong")       # counted; the script goes on to its next case
    r.stop("what is wrong")       # counted, and the script ends now with 1
    r.skip("why it cannot run")   # ends with 77
    sys.exit(r.done())            # 0 when nothing failed, else 1, with the count

Every failure line names the script or the check, so a failing test's output says at
once what failed and where.
"""
import sys

SKIPPED = 77
SKIP = SKIPPED


def fail(message, who="FAIL"):
    print("%s: %s" % (who, message), flush=True)
    sys.exit(1)


def check(condition, message):
    """Fails with `message` unless `condition` holds; returns the condition's value."""
    if not condition:
        fail(message)
    return condition


def skip(why):
    print("SKIP: " + why, flush=True)
    sys.exit(SKIPPED)


def passed(what):
    print(what + ": OK", flush=True)


class Report:
    def __init__(self, name):
        self.name = name
        self.failures = 0
        # Each line as it comes: a test stopped at its time limit shows how far it got.
        sys.stdout.reconfigure(line_buffering=True)

    def note(self, message):
        print("%s: %s" % (self.name, message))

    def fail(self, message):
        self.failures += 1
        print("%s: FAIL: %s" % (self.name, message), file=sys.stderr, flush=True)
        return False

    def check(self, ok, message):
        """`ok`, with `message` counted as a failure when it is false."""
        return True if ok else self.fail(message)

    def stop(self, message):
        self.fail(message)
        sys.exit(1)

    def skip(self, why):
        print("%s: SKIP: %s" % (self.name, why))
        sys.exit(SKIPPED)

    def done(self):
        if self.failures:
            print("%s: %d failure(s)" % (self.name, self.failures), file=sys.stderr)
            return 1
        print("%s: all good" % self.name)
        return 0
