#!/usr/bin/env python3
"""Two ports on the soft synth, live: a song played by qmidi-tool with both
ports on the mapper through a private PulseAudio null sink. Port B's volume
0 and hard pan on channel 1 must leave port A's channel 1 note loud and
centred; a song whose only notes are on port B must sound."""
import array
import math
import os
import struct
import subprocess
import sys

import live_pulse

tool = sys.argv[1]


def smf(*tracks):
    data = b"MThd" + struct.pack(">IHHH", 6, 1, len(tracks), 480)
    for t in tracks:
        data += b"MTrk" + struct.pack(">I", len(t)) + t
    return data


TEMPO = b"\x00\xff\x51\x03\x07\xa1\x20"
END = b"\x00\xff\x2f\x00"
# Port A: a piano note on channel 1 for a second (960 ticks = 0x87 0x40).
PORT_A_NOTE = TEMPO + b"\x00\xc0\x00\x00\x90\x3c\x7f\x87\x40\x80\x3c\x00" + END
# Port B: channel 1 silenced, panned hard left.
PORT_B_QUIET = b"\x00\xff\x21\x01\x01\x00\xb0\x07\x00\x00\xb0\x0a\x00" + END
# Port B alone: a note on its channel 1.
PORT_B_NOTE = b"\x00\xff\x21\x01\x01" + TEMPO + b"\x00\xc0\x00\x00\x90\x40\x7f\x87\x40\x80\x40\x00" + END


def levels(raw):
    s = array.array("h")
    s.frombytes(raw[: len(raw) // 4 * 4])
    left, right = s[0::2], s[1::2]
    rms = lambda x: math.sqrt(sum(v * v for v in x) / max(1, len(x)))
    return rms(left), rms(right), max((abs(v) for v in s), default=0)


def play(env, start_recording, path):
    stop = start_recording()
    played = subprocess.run([tool, "play", path, "--devices", "-1,-1", "--json"], env=env, capture_output=True,
                            timeout=60)
    raw = stop()
    err = played.stderr.decode("utf-8", "replace")
    problems = []
    if played.returncode != 0:
        problems.append(f"play exited {played.returncode}: {err}")
    if "qmidi-synth.wav" in err:
        problems.append("the soft synth fell back to its WAV file: " + err)
    return levels(raw), problems


def main():
    missing = live_pulse.missing_programs()
    if missing:
        print("missing " + ", ".join(missing) + " (packages pulseaudio, pulseaudio-utils)")
        return 1
    failures = []
    with live_pulse.null_sink(channels=2) as (env, work, start_recording):
        both = os.path.join(work, "both.mid")
        with open(both, "wb") as f:
            f.write(smf(PORT_A_NOTE, PORT_B_QUIET))
        (left, right, peak), problems = play(env, start_recording, both)
        failures += problems
        print(f"port A note with port B quiet: left {left:.0f}, right {right:.0f}, peak {peak}")
        if peak < 400:
            failures.append(f"port A's note is not loud (peak {peak})")
        elif abs(left - right) > 0.25 * max(left, right):
            failures.append(f"port A's note is not centred (left {left:.0f}, right {right:.0f})")
        only_b = os.path.join(work, "b.mid")
        with open(only_b, "wb") as f:
            f.write(smf(PORT_B_NOTE))
        (left, right, peak), problems = play(env, start_recording, only_b)
        failures += problems
        print(f"port B alone: left {left:.0f}, right {right:.0f}, peak {peak}")
        if peak < 400:
            failures.append(f"a song whose notes are on port B only is silent (peak {peak})")
    for f in failures:
        print("FAIL:", f)
    return 1 if failures else 0


sys.exit(main())
