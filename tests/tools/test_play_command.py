#!/usr/bin/env python3
"""qmidi-tool play: exit codes, the JSON keys, what the capture devices
receive (port A and B, the reset sequence, the wind-down), and a silent run
that touches no device."""
import json
import os
import struct
import subprocess
import sys
import tempfile

tool = sys.argv[1]
failures = []


def check(cond, what):
    if not cond:
        failures.append(what)


def run(*args, timeout=60):
    p = subprocess.run([tool, *args], capture_output=True, timeout=timeout)
    return p.returncode, p.stdout.decode("utf-8"), p.stderr.decode("utf-8")


def vlq(n):
    out = [n & 0x7F]
    n >>= 7
    while n:
        out.insert(0, 0x80 | (n & 0x7F))
        n >>= 7
    return bytes(out)


def smf(division, *tracks):
    data = b"MThd" + struct.pack(">IHHH", 6, 1, len(tracks), division)
    for t in tracks:
        data += b"MTrk" + struct.pack(">I", len(t)) + t
    return data


def log(folder, name):
    path = os.path.join(folder, name)
    if not os.path.exists(path):
        return []
    with open(path) as f:
        return [line.split() for line in f.read().splitlines()]


# Port A: a GS reset (dropped in mode 3), then 1.2 s of notes; port B: a GM
# system on (never sent on port B) and one note.
a = b"\x00\xff\x51\x03\x07\xa1\x20" + b"\x00\xf0\x0a\x41\x10\x42\x12\x40\x00\x7f\x00\x41\xf7"
for i in range(12):
    a += b"\x00\x90" + bytes([0x3C + i]) + b"\x64" + vlq(48) + b"\x80" + bytes([0x3C + i]) + b"\x00"
a += b"\x00\xff\x2f\x00"
b = (b"\x00\xff\x21\x01\x01" + b"\x00\xf0\x05\x7e\x7f\x09\x01\xf7"
     + b"\x00\x91\x40\x50" + vlq(96) + b"\x81\x40\x00" + b"\x00\xff\x2f\x00")

with tempfile.TemporaryDirectory() as d:
    song = os.path.join(d, "PLAY.MID")
    with open(song, "wb") as f:
        f.write(smf(240, a, b))  # 240 ticks a beat at 120 bpm: one note every 0.1 s

    rc, _, err = run("play")
    check(rc == 2, "no song: usage error")
    for bad in (["--period", "0"], ["--devices", "0,1,2,3,4"], ["--mode", "x"], ["--devices", "256"]):
        rc, _, _ = run("play", song, *bad)
        check(rc == 2, "usage error for %s" % bad)
    rc, _, err = run("play", os.path.join(d, "missing.mid"), "--capture", os.path.join(d, "c0"))
    check(rc == 1 and "missing.mid: no such file" in err, "missing song: exit 1")
    rc, _, err = run("play", song, "--devices", "/no/such/midi", "--capture", os.path.join(d, "c0"))
    check(rc == 1, "unknown device path: exit 1")

    cap = os.path.join(d, "cap")
    rc, out, err = run("play", song, "--mode", "3", "--period", "2", "--devices", "0,1,256,3",
                       "--capture", cap, "--json")
    check(rc == 0, "play exit status %d %s" % (rc, err))
    j = json.loads(out)
    check(set(j) == {"errorcode", "title", "lengthMs", "ticks", "markers", "detected", "interrupted",
                     "ended", "progress"}, "play JSON keys %s" % sorted(j))
    check(j["ended"] is True and j["interrupted"] is False, "played to the end")
    check(j["ticks"] >= 12 * 48, "ticks played %d" % j["ticks"])
    check(len(j["progress"]) >= 1, "progress printed once a second")
    for p in j["progress"]:
        check(set(p) == {"ms", "position", "tempo", "timeSignature", "level"}, "progress keys")
        check(p["tempo"] == 120 and p["timeSignature"] == 4004, "progress values %s" % p)
    dev0 = log(cap, "dev0.log")
    dev1 = log(cap, "dev1.log")
    sent0 = [l[1] for l in dev0 if len(l) == 2]
    sent1 = [l[1] for l in dev1 if len(l) == 2]
    check(dev0[0] == ["open"] and dev0[-2:] == [["reset"], ["close"]], "dev0 opened, reset, closed")
    check(sent0[0] == "f07e7f0901f7", "mode 3 starts with GM system on: %s" % sent0[:1])
    check("f04110421240007f0041f7" not in sent0, "the song's GS reset is not sent in mode 3")
    notes = [m for m in sent0 if m.startswith("90")]
    check(notes == ["90%02x64" % (0x3C + i) for i in range(12)], "port A notes %s" % notes)
    check(sent0[-32:-16] == ["b%x7800" % c for c in range(16)], "all sound off on port A")
    check(not any(m.startswith("f0") for m in sent1), "no system exclusive on port B")
    check("914050" in sent1 and "914050" not in sent0, "port B note on port B only")
    check(log(cap, "dev2.log") == [], "an output out of use is not opened")
    check(log(cap, "dev3.log")[0] == ["open"] and "914050" in [l[1] for l in log(cap, "dev3.log") if len(l) == 2],
          "port B second gets port B")
    # The notes keep their spacing: 100 ms apart (the player's clock is the log's).
    times = [int(l[0]) for l in dev0 if len(l) == 2 and l[1].startswith("90")]
    gaps = [b - a for a, b in zip(times, times[1:])]
    check(all(90000 <= g <= 110000 for g in gaps), "note spacing %s" % gaps)

    rc, out, err = run("play", song, "--silent", "--capture", os.path.join(d, "silent"))
    check(rc == 0 and "ended" in out, "silent run ends: %d %s" % (rc, err))
    check(all(log(os.path.join(d, "silent"), n) == [] for n in ("dev0.log", "mapper.log")),
          "silent run touches no device")

if failures:
    print("\n".join(failures))
    sys.exit(1)
print("ok")
