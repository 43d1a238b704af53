#!/usr/bin/env python3
"""The live audio path: a private PulseAudio daemon with a null sink, a song
played by qmidi-tool through the soft synth (the mapper), and the sink's
monitor recorded. The song's notes must be heard at the song's times, and
the synth must not have fallen back to its WAV file."""
import array
import os
import struct
import subprocess
import sys

import live_pulse

tool = sys.argv[1]
RATE = live_pulse.RATE
NOTE_TIMES = [0.0, 0.5, 1.25]  # seconds, at 120 beats a minute


def vlq(n):
    out = [n & 0x7F]
    n >>= 7
    while n:
        out.insert(0, 0x80 | (n & 0x7F))
        n >>= 7
    return bytes(out)


def song():
    """Format 0, 480 ticks a quarter note: claves (short, dry) at NOTE_TIMES."""
    events, last = [], 0
    for start in NOTE_TIMES:
        on = int(start * 960)  # 960 ticks a second at 120 bpm
        events.append((on, bytes([0x99, 75, 127])))
        events.append((on + 96, bytes([0x89, 75, 0])))
    events.sort(key=lambda e: e[0])
    body = b"\x00\xff\x51\x03\x07\xa1\x20"
    for tick, data in events:
        body += vlq(tick - last) + data
        last = tick
    body += vlq(480) + b"\xff\x2f\x00"
    return b"MThd" + struct.pack(">IHHH", 6, 0, 1, 480) + b"MTrk" + struct.pack(">I", len(body)) + body


def onsets(samples):
    """Starts of sound: 5 ms windows whose level rises past a threshold after
    at least 100 ms below it."""
    win = RATE // 200
    levels = []
    for i in range(0, len(samples) - win, win):
        chunk = samples[i:i + win]
        levels.append(max(abs(min(chunk)), abs(max(chunk))))
    peak = max(levels) if levels else 0
    found, quiet = [], 20
    for i, level in enumerate(levels):
        if level > peak * 0.1:
            if quiet >= 20:
                found.append(i * win / RATE)
            quiet = 0
        else:
            quiet += 1
    return found, peak


def main():
    missing = live_pulse.missing_programs()
    if missing:
        print("missing " + ", ".join(missing) + " (packages pulseaudio, pulseaudio-utils)")
        return 1
    with live_pulse.null_sink() as (env, work, start_recording):
        path = os.path.join(work, "song.mid")
        with open(path, "wb") as f:
            f.write(song())
        stop = start_recording()
        played = subprocess.run([tool, "play", path, "--json"], env=env, capture_output=True, timeout=60)
        raw = stop()
        err = played.stderr.decode("utf-8", "replace")
        failures = []
        if played.returncode != 0:
            failures.append(f"play exited {played.returncode}: {err}")
        if "WAV" in err or "qmidi-synth.wav" in err:
            failures.append("the soft synth fell back to its WAV file: " + err)
        samples = array.array("h")
        samples.frombytes(raw[: len(raw) // 2 * 2])
        found, peak = onsets(samples)
        print(f"recorded {len(samples) / RATE:.2f} s, peak {peak}, onsets at {[round(t, 3) for t in found]}")
        if peak < 300:
            failures.append(f"nothing audible reached the sink (peak {peak})")
        elif len(found) != len(NOTE_TIMES):
            failures.append(f"{len(found)} onsets heard, {len(NOTE_TIMES)} notes played")
        else:
            for i in range(1, len(found)):
                heard = found[i] - found[0]
                want = NOTE_TIMES[i] - NOTE_TIMES[0]
                # A note sounds from the synth's next rendered block, after what
                # the audio buffer (about 46 ms) already holds.
                if abs(heard - want) > 0.06:
                    failures.append(f"note {i} heard {heard:.3f} s after the first, played {want:.3f} s after")
        for f in failures:
            print("FAIL:", f)
        return 1 if failures else 0


sys.exit(main())
