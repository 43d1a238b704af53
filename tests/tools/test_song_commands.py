#!/usr/bin/env python3
"""qmidi-tool info and stream: exit codes, the exact JSON keys, and values
for a song built here and for a shared Recomposer song."""
import json
import os
import struct
import subprocess
import sys
import tempfile

tool, testdata = sys.argv[1], sys.argv[2]
failures = []


def check(cond, what):
    if not cond:
        failures.append(what)


def run(*args):
    p = subprocess.run([tool, *args], capture_output=True)
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


title = "\u66f2\u540d".encode("cp932")  # 曲名
track = (b"\x00\xff\x03" + vlq(len(title)) + title
         + b"\x00\xff\x01\x05Memo!"
         + b"\x00\xff\x58\x04\x03\x02\x18\x08"
         + b"\x00\xf0\x05\x7e\x7f\x09\x01\xf7"      # GM system on
         + b"\x00\x90\x3c\x64" + b"\x83\x60\x80\x3c\x00"  # note of 480 ticks
         + b"\x00\xff\x2f\x00")

with tempfile.TemporaryDirectory() as d:
    song = os.path.join(d, "Song.v2.mid")
    with open(song, "wb") as f:
        f.write(smf(480, track))
    wrd = os.path.join(d, "SONG.WRD")
    with open(wrd, "w") as f:
        f.write("@WAIT(1)\n")

    rc, out, _ = run("info", song, "--json")
    check(rc == 0, "info exit status")
    info = json.loads(out)
    check(set(info) == {"title", "memo", "cm6", "gsd", "gsdB", "hyosi", "beatsPerBar", "wrd", "lyricTitle",
                        "lyricArtist", "lyricEncoding", "lyricLines", "lyricSyllables", "errorcode"},
          "info keys: %s" % sorted(info))
    check(info["title"] == "\u66f2\u540d", "info title %r" % info["title"])
    check(info["memo"] == "  Memo!  ", "info memo %r" % info["memo"])
    check(info["hyosi"] == 0x03021808 and info["beatsPerBar"] == 3, "info time signature")
    check(info["wrd"] == wrd, "info wrd %r" % info["wrd"])
    check(info["errorcode"] == 0, "info errorcode")

    rc, out, _ = run("info", song)
    check(rc == 0 and "\u66f2\u540d" in out and "3/4" in out, "info text form")

    for mode, kept in ((0, True), (3, False)):
        rc, out, _ = run("stream", song, "--mode", str(mode), "--json")
        check(rc == 0, "stream exit status, mode %d" % mode)
        s = json.loads(out)
        check(set(s) == {"errorcode", "division", "tickDivision", "maxTimeIdx", "maxTempo", "dataLength",
                         "longMax", "detected", "records", "timeTable"}, "stream keys: %s" % sorted(s))
        check(s["division"] == 480 and s["tickDivision"] == 960, "stream divisions")
        recs = s["records"]
        check(all(set(r) == {"offset", "flags", "delta", "data", "payload"} for r in recs), "record keys")
        check(recs[0] == {"offset": 0, "flags": 1, "delta": 0, "data": 500000, "payload": ""}, "tempo record")
        longs = [r for r in recs if r["flags"] & 0x87 == 0x80]
        check(bool(longs) == kept, "GM system on kept in mode %d only if 0" % mode)
        if longs:
            check(longs[0]["payload"] == "f07e7f0901f70000" and longs[0]["data"] == 6, "long payload")
        check(sum(r["delta"] for r in recs) == 480 + 288, "deltas add up to the song and its closing")
        check(recs[-1]["offset"] + (8 if recs[-1]["flags"] & 0x30 == 0x30 else 4) == s["dataLength"],
              "data length")
        markers = sum(1 for r in recs if r["flags"] & 0x40)
        check(markers == s["maxTimeIdx"] == len(s["timeTable"]), "one time-table entry per marker")
        check(all(len(e) == 3 for e in s["timeTable"]), "time-table entries")
        check(s["timeTable"][-1][1] == s["maxTempo"], "maxTempo is the last position")

    rc, out, _ = run("stream", song)
    check(rc == 0 and "tempo 500000" in out, "stream text form")
    rc, _, _ = run("stream", os.path.join(d, "missing.mid"))
    check(rc == 1, "missing song exit status")
    rc, _, _ = run("stream")
    check(rc == 2, "usage exit status")
    rc, _, _ = run("stream", song, "--mode", "x")
    check(rc == 2, "bad mode exit status")

    bad = os.path.join(d, "bad.mid")
    with open(bad, "wb") as f:
        f.write(b"RIFF\x00\x00MThd" + bytes(30))
    rc, out, _ = run("stream", bad, "--json")
    check(rc == 1 and json.loads(out)["errorcode"] == 9105 and json.loads(out)["records"] == [],
          "refused song")

rc, out, _ = run("info", os.path.join(testdata, "recomposer", "sted-cli_test.rcp"), "--json")
rcp = json.loads(out)
check(rc == 0 and rcp["title"] == "Test song" and "\u30e1\u30e2\u306e\u30c6\u30b9\u30c8" in rcp["memo"],
      "Recomposer title and memo: %r" % rcp)

# A karaoke file: the song title is its first track name, the lyric title
# its "@T" header; the comment in its first track is not a lyric line.
rc, out, _ = run("info", os.path.join(testdata, "smf", "jazz-soft", "midi", "test-karaoke-kar.mid"), "--json")
kar = json.loads(out)
check(rc == 0 and kar["title"] == "Karaoke .KAR Test" and kar["lyricTitle"] == "Mary Was A Little Lame"
      and kar["lyricLines"] == 5 and kar["lyricSyllables"] == 26 and kar["lyricEncoding"] == "ascii",
      "karaoke file: %r" % kar)

for f in failures:
    print("FAILED:", f)
sys.exit(1 if failures else 0)
