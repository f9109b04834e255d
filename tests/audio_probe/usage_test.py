#!/usr/bin/python3
"""usage_test.py [EMULATOR] PROBE: the audio probe refuses every bad command line with
exit 2 and one message naming the word at fault, before touching any device. A Windows
probe (through an emulator) is skipped, 77, where Wine cannot run it."""
import subprocess
import sys
import tempfile
import unittest

PROBE = sys.argv[1:]
GOOD = ["--sound", "binaural", "--frequency", "780", "--seconds", "1"]


def with_(option, value):
    args = dict(zip(GOOD[::2], GOOD[1::2]), **{option: value})
    return [word for pair in args.items() for word in pair]


class Usage(unittest.TestCase):
    def test_bad_command_lines(self):
        cases = [
            # name, arguments, words the first line must hold, words the rest must hold
            ("mode unknown", with_("--sound", "loud"), ["'loud'", "--sound"], ["none|binaural|beeps|noise"]),
            ("mode in capitals", with_("--sound", "Binaural"), ["'Binaural'"], []),
            ("frequency below range", with_("--frequency", "9"), ["'9'", "--frequency"], ["10..5000"]),
            ("frequency above range", with_("--frequency", "5001"), ["'5001'"], []),
            ("frequency in hertz", with_("--frequency", "7.8"), ["'7.8'"], []),
            ("frequency signed", with_("--frequency", "-780"), ["'-780'"], []),
            ("no time", with_("--seconds", "0"), ["'0'", "--seconds"], []),
            ("time with trailing text", with_("--seconds", "2s"), ["'2s'"], []),
            ("too many sessions", with_("--sessions", "21"), ["'21'"], ["1..20"]),
            ("negative pause", with_("--pause", "-1"), ["'-1'", "--pause"], []),
            ("unknown option", GOOD + ["--volume", "3"], ["--volume"], []),
            ("option without value", GOOD + ["--pause"], ["--pause"], []),
            ("mode missing", ["--frequency", "780", "--seconds", "1"], ["--sound is missing"], []),
            ("frequency missing", ["--sound", "none", "--seconds", "1"], ["--frequency is missing"], []),
            ("time missing", ["--sound", "none", "--frequency", "780"], ["--seconds is missing"], []),
        ]
        for name, args, first_words, usage_words in cases:
            with self.subTest(name):
                # Standard error into a file: the Wine server a prefix's first program
                # starts inherits it and would hold a pipe open.
                with tempfile.TemporaryFile("w+") as err:
                    r = subprocess.run(PROBE + args, stdout=subprocess.PIPE, stderr=err, text=True, timeout=60)
                    err.seek(0)
                    text = err.read().replace("\r", "")
                first, _, rest = text.partition("\n")
                self.assertEqual((r.returncode, r.stdout), (2, ""), text)
                self.assertTrue(all(w in first for w in first_words) and all(w in rest for w in usage_words), text)


if __name__ == "__main__":
    if len(PROBE) > 1:
        can_run = subprocess.run([PROBE[0], "--can-run"], capture_output=True, text=True)
        if can_run.returncode != 0:
            print("usage_test: SKIP: " + can_run.stdout.strip())
            sys.exit(77)
    unittest.main(argv=sys.argv[:1])
