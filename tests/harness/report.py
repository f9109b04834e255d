"""How a test script says how it went, one way for all of them: exit status 1 on failure,
77 (ctest's skip) on skip. Scripts that stop at their first failure use check, fail, skip
and passed; scripts that count through a table of cases a Report, whose check and fail
count and go on, stop counts and ends, and done() is the exit status.
"""
import sys


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
    sys.exit(77)


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
        return True if ok else self.fail(message)

    def stop(self, message):
        self.fail(message)
        sys.exit(1)

    def skip(self, why):
        print("%s: SKIP: %s" % (self.name, why))
        sys.exit(77)

    def done(self):
        if self.failures:
            print("%s: %d failure(s)" % (self.name, self.failures), file=sys.stderr)
            return 1
        print("%s: all good" % self.name)
        return 0
