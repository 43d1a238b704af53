#!/usr/bin/env python3
"""The live audio path: a private PulseAudio daemon with a null sink, a song
played by qmidi-tool through the soft synth (the mapper), and the sink's
monitor recorded. The song's notes must be heard at the song's times, and
the synth must not have fallen back to its WAV file."""
import array
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

tool = sys.argv[1]
RATE = 44100
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


def wait_for(predicate, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.1)
    return False


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
    for program in ("pulseaudio", "parec", "pactl"):
        if not shutil.which(program):
            print(f"missing {program} (packages pulseaudio, pulseaudio-utils)")
            return 1
    work = tempfile.mkdtemp(prefix="qmidi-live-audio-")
    env = dict(os.environ, XDG_RUNTIME_DIR=os.path.join(work, "run"), HOME=work,
               PULSE_SERVER="unix:" + os.path.join(work, "run", "pulse", "native"))
    env.pop("QMIDI_CAPTURE", None)
    os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700)
    daemon = subprocess.Popen(
        ["pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "-n", "--use-pid-file=no",
         "--load=module-null-sink sink_name=qmidi_null",
         "--load=module-native-protocol-unix", "--log-target=file:" + os.path.join(work, "pulse.log")],
        env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    recorder = None
    try:
        if not wait_for(lambda: subprocess.run(["pactl", "info"], env=env, capture_output=True).returncode == 0, 15):
            print("the private PulseAudio daemon did not start")
            return 1
        path = os.path.join(work, "song.mid")
        with open(path, "wb") as f:
            f.write(song())
        raw = os.path.join(work, "monitor.raw")
        recorder = subprocess.Popen(["parec", "-d", "qmidi_null.monitor", "--format=s16le",
                                     f"--rate={RATE}", "--channels=1", "--latency-msec=20", "--raw", raw], env=env)
        # The monitor delivers silence as soon as the recorder is connected.
        if not wait_for(lambda: os.path.exists(raw) and os.path.getsize(raw) > RATE // 5, 20):
            print("the recorder did not start")
            return 1
        played = subprocess.run([tool, "play", path, "--json"], env=env, capture_output=True, timeout=60)
        time.sleep(0.5)
        recorder.terminate()
        recorder.wait(10)
        err = played.stderr.decode("utf-8", "replace")
        failures = []
        if played.returncode != 0:
            failures.append(f"play exited {played.returncode}: {err}")
        if "WAV" in err or "qmidi-synth.wav" in err:
            failures.append("the soft synth fell back to its WAV file: " + err)
        samples = array.array("h")
        with open(raw, "rb") as f:
            samples.frombytes(f.read())
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
    finally:
        if recorder and recorder.poll() is None:
            recorder.kill()
        daemon.terminate()
        try:
            daemon.wait(10)
        except subprocess.TimeoutExpired:
            daemon.kill()
        shutil.rmtree(work, ignore_errors=True)


sys.exit(main())
