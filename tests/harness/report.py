"""How the face and soak scripts of both faces say what failed and what passed: one
line for a failure, exit status 1; one line for a pass; 77, the skip status, where the
platform cannot run the test."""
import sys

SKIP = 77


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
    sys.exit(SKIP)


def passed(what):
    print(what + ": OK", flush=True)
