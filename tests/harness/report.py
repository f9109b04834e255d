"""How a test script says how it went, one way for all of them.

    report = Report("sound_check")
    report.fail("what is wrong")       # counted; the script goes on to its next case
    report.stop("what is wrong")       # counted, and the script ends now with 1
    report.skip("why it cannot run")   # ends with 77, which ctest counts as skipped
    sys.exit(report.done())            # 0 when nothing failed, else 1, with the count

Every line goes to standard error with the script's name, so a failing test's output
names the check and the case at once.
"""
import sys

SKIPPED = 77


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
