#!/usr/bin/python3
"""sink_times.py: records the private sink's monitor (tests/harness/pulse_recording.py's
Recorder) while the web benchmark runs, reading its events from stdin, one a line:
`start NS` (a Start click sent) and `stop NS` (a key sent), NS on the steady clock
(CLOCK_MONOTONIC, as node's process.hrtime). At the end of stdin it prints, as JSON, for
each start the time to the first sounding frame at the sink (null if none came), and for
each stop the time from the key to the last sounding frame, in milliseconds."""
import json
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tests", "harness"))
import pulse_recording as pr  # noqa: E402


def main():
    rec = pr.Recorder()
    rec.wait_for_data()
    print("ready", flush=True)
    events = [line.split() for line in sys.stdin if line.strip()]
    time.sleep(0.5)
    data = rec.stop()
    frames = len(data) // pr.FRAME
    starts, stops = [], []
    for kind, ns in events:
        ns = int(ns)
        at = rec.frames_by(ns)
        if kind == "start":
            first = pr.first_sound(data[at * pr.FRAME:])
            starts.append(None if first is None else (rec.frame_time_ns(at + first) - ns) / 1e6)
        else:
            # The last sounding frame before the next stretch of at least 100 ms of silence.
            i = at
            quiet = int(0.1 * pr.RATE)
            last = None
            while i < frames:
                chunk = data[i * pr.FRAME:(i + quiet) * pr.FRAME]
                tail = pr.last_sound(chunk)
                if tail is None:
                    break
                last = i + tail
                i = last + 1
            if last is not None and rec.frame_time_ns(last) is not None:
                stops.append((rec.frame_time_ns(last) - ns) / 1e6)
            else:
                stops.append(0.0)
    print(json.dumps({"start_ms": starts, "stop_ms": stops}), flush=True)


if __name__ == "__main__":
    main()
