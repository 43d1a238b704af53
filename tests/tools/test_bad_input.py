#!/usr/bin/env python3
"""qmidi-tool given what it cannot use: unknown options and extra arguments
(usage, exit status 2), inputs that are missing, empty, folders or FIFOs
(the file's name and what is wrong on standard error, exit status 1, never
a wait), outputs that are FIFOs, folders or symbolic links (never replaced),
a path longer than 255 bytes, and a Recomposer song that breaks off."""
import os
import shutil
import stat
import subprocess
import sys
import tempfile

tool, testdata = sys.argv[1], sys.argv[2]
failures = []


def check(cond, what):
    if not cond:
        failures.append(what)


def run(*args):
    try:
        p = subprocess.run([tool, *args], capture_output=True, timeout=60)
    except subprocess.TimeoutExpired:
        return None, "", "timed out"
    return p.returncode, p.stdout.decode("utf-8", "replace"), p.stderr.decode("utf-8", "replace")


def smf():
    track = (b"\x00\xff\x03\x04Song" + b"\x00\x90\x3c\x64" + b"\x60\x80\x3c\x00" + b"\x00\xff\x2f\x00")
    return b"MThd\x00\x00\x00\x06\x00\x00\x00\x01\x00\x60" + b"MTrk" + len(track).to_bytes(4, "big") + track


with tempfile.TemporaryDirectory() as d:
    song = os.path.join(d, "song.mid")
    with open(song, "wb") as f:
        f.write(smf())
    rcp = os.path.join(testdata, "recomposer", "sted-cli_test.rcp")
    mag = os.path.join(d, "demo")
    rc, _, err = run("make-demo", mag)
    check(rc == 0, "make-demo: %s" % err)
    picture = os.path.join(mag, "SCENE.MAG")
    out = os.path.join(d, "out")

    # --- unknown options and extra arguments: usage and status 2 ---------------
    commands = [
        ["info", song], ["stream", song], ["wrd", song], ["image", picture, out + ".png"],
        ["convert", rcp, out + ".mid"], ["find", d, "SONG.MID"], ["make-demo", out], ["devices"],
        ["play", song, "--silent"], ["render-wrd", song, "--out", out], ["text", "x", out + ".png"],
        ["render-audio", song, out + ".wav"], ["render-video", song, out + ".mp4"],
        ["subtitles", song, out + ".srt"],
    ]
    for c in commands:
        rc, stdout, err = run(*c, "--bogus", "3")
        check(rc == 2 and "unknown option --bogus" in err and "Usage: qmidi-tool " + c[0] in err,
              "%s --bogus 3: status %s, %r" % (c[0], rc, err))
    rc, _, err = run("convert", "--frob", rcp, out + ".mid")
    check(rc == 2 and "unknown option --frob" in err, "convert --frob: %s %r" % (rc, err))
    rc, _, err = run("info", song, "extra")
    check(rc == 2 and '"extra"' in err, "info with an extra argument: %s %r" % (rc, err))
    rc, _, err = run("wrd", song, "--xymode=1")
    check(rc == 2, "a flag given a value: %s %r" % (rc, err))

    # --- inputs that cannot be read -------------------------------------------------
    empty = os.path.join(d, "empty.mid")
    open(empty, "wb").close()
    fifo = os.path.join(d, "pipe.mid")
    os.mkfifo(fifo)
    folder = os.path.join(d, "folder.mid")
    os.mkdir(folder)
    missing = os.path.join(d, "missing.mid")
    for path, words in ((empty, "is empty"), (fifo, "is not a regular file"), (folder, "is a folder"),
                        (missing, "no such file")):
        for c in (["info", path], ["stream", path], ["wrd", path], ["play", path, "--silent"],
                  ["render-audio", path, out + ".wav"], ["render-wrd", path, "--out", out],
                  ["subtitles", path, out + ".srt"]):
            rc, stdout, err = run(*c)
            check(rc == 1 and path in err and words in err, "%s on %s: status %s, %r" % (c[0], words, rc, err))
    for c in (["image", fifo, out + ".png"], ["convert", os.path.join(d, "pipe.rcp"), out + ".mid"]):
        if c[0] == "convert":
            os.mkfifo(c[1])
        rc, _, err = run(*c)
        check(rc == 1 and c[1] in err and "not a regular file" in err, "%s on a FIFO: %s %r" % (c[0], rc, err))
    notsong = os.path.join(d, "text.mid")
    with open(notsong, "w") as f:
        f.write("not a song at all, long enough to be looked at " * 4)
    rc, stdout, err = run("stream", notsong)
    check(rc == 1 and notsong in err and "could not be converted" in err and "(91" in err and
          "failed" not in stdout, "stream of a file that is no song: %s %r %r" % (rc, stdout, err))

    # --- outputs that are not regular files are never replaced ----------------------
    target_folder = os.path.join(d, "elsewhere")
    os.mkdir(target_folder)
    for c, suffix in ((["image", picture], ".png"), (["convert", rcp], ".mid"),
                      (["render-audio", song], ".wav"), (["render-video", song], ".mp4")):
        name = c[0]
        pipe = os.path.join(d, name + "-pipe" + suffix)
        os.mkfifo(pipe)
        rc, _, err = run(*c, pipe)
        check(rc == 1 and stat.S_ISFIFO(os.lstat(pipe).st_mode) and pipe in err,
              "%s onto a FIFO: status %s, still a FIFO %s, %r" % (name, rc, stat.S_ISFIFO(os.lstat(pipe).st_mode), err))
        dirout = os.path.join(d, name + "-dir" + suffix)
        os.mkdir(dirout)
        rc, _, err = run(*c, dirout)
        check(rc == 1 and os.path.isdir(dirout), "%s onto a folder: %s %r" % (name, rc, err))
        real = os.path.join(target_folder, name + suffix)
        link = os.path.join(d, name + "-link" + suffix)
        os.symlink(real, link)
        rc, _, err = run(*c, link)
        check(rc == 0 and os.path.islink(link) and os.path.getsize(real) > 0,
              "%s through a symbolic link: status %s, link kept %s, %r" % (name, rc, os.path.islink(link), err))

    # --- a path longer than 255 bytes ---------------------------------------------------
    deep = d
    while len(deep.encode()) < 400:
        deep = os.path.join(deep, "\u6f14\u594f\u66f2\u96c6" * 4)
    os.makedirs(deep)
    long_song = os.path.join(deep, "\u66f2.mid")
    shutil.copy(song, long_song)
    rc, stdout, err = run("info", long_song, "--json")
    check(rc == 0 and '"title":"Song"' in stdout.replace(" ", ""), "info on a long path: %s %r" % (rc, err))
    rc, stdout, err = run("stream", long_song)
    check(rc == 0, "stream on a long path: %s %r" % (rc, err))

    # --- a Recomposer song that breaks off converts what is there, with a warning -------
    with open(rcp, "rb") as f:
        whole = f.read()
    cut = os.path.join(d, "CUT.RCP")
    with open(cut, "wb") as f:
        f.write(whole[:1414 + 600])
    rc, stdout, err = run("convert", cut, out + "-cut.mid")
    check(rc == 0 and "warning" in err and cut in err and "cut short" in err and os.path.getsize(out + "-cut.mid") > 14,
          "convert of a cut song: %s %r" % (rc, err))
    rc, stdout, err = run("convert", rcp, out + "-whole.mid")
    check(rc == 0 and err == "", "convert of a whole song says nothing: %s %r" % (rc, err))

for f in failures:
    print("FAILED:", f)
sys.exit(1 if failures else 0)
