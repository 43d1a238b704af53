#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs each for a
# few seconds (QMIDI_FUZZ_SECONDS, 5) over its seed corpus: the test data in
# tests/data, the demo, and the small seeds in fuzz/corpus/. A crash, leak or
# sanitizer report fails the script; the input that caused it is kept in
# build-fuzz/fuzz-artifacts/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-fuzz
seconds=${QMIDI_FUZZ_SECONDS:-5}
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DQMIDI_FUZZ=ON -DQMIDI_BENCH=OFF \
  -DQMIDI_WERROR="${QMIDI_WERROR:-ON}" >/dev/null
ninja -C "$build" fuzzers

seeds=$build/fuzz-seeds
artifacts=$build/fuzz-artifacts
rm -rf "$seeds"
mkdir -p "$artifacts"
data=$root/tests/data
corpus=$root/fuzz/corpus

# seed TARGET FILE...: copies the files into the target's seed folder.
seed() {
  local target=$1
  shift
  mkdir -p "$seeds/$target"
  cp "$@" "$seeds/$target/"
}

# A fuzz_wrd_run input: offset byte, picture kind byte, the picture's length
# (16 bits, little-endian), the picture, the script.
run_seed() {
  local name=$1 kind=$2 picture=$3 script=$4 size
  size=$(stat -c %s "$picture")
  mkdir -p "$seeds/fuzz_wrd_run"
  {
    printf "\\x00\\x$(printf %02x "$kind")\\x$(printf %02x $((size & 255)))\\x$(printf %02x $((size >> 8)))"
    cat "$picture" "$script"
  } >"$seeds/fuzz_wrd_run/$name"
}

seed fuzz_cp932 "$corpus"/cp932/* "$corpus"/wrd/* "$root/demo/DEMO.WRD"
seed fuzz_wrd "$corpus"/wrd/* "$root/demo/DEMO.WRD"
seed fuzz_song "$root/demo/DEMO.MID" $(find "$data/smf/unit-cases" -name '*.mid' | sort | head -n 60) \
  "$data"/recomposer/expected/*.mid
seed fuzz_lyrics "$corpus"/kar/* "$data/smf/jazz-soft/midi/test-karaoke-kar.mid" "$root/demo/DEMO.MID"
seed fuzz_rcp "$data"/recomposer/*.rcp
# An RCP 3.0 song using every command (loops, a same-measure jump by event
# index, exclusives with continuations, a tempo ramp, port B, a muted
# track), and set-up data long enough for a GSD and a CM6 file.
python3 - "$seeds/fuzz_rcp" <<'PY'
import struct, sys
out = sys.argv[1]
head = bytearray(0xC98)
head[0:31] = b"COME ON MUSIC RECOMPOSER RCP3.0"
struct.pack_into("<HHH", head, 0x208, 2, 48, 120)
head[0x20E:0x212] = bytes([4, 4, 0, 0xFE])
head[0x298:0x2A0] = b"MYGS.GSD"
head[0xB18 + 23:0xB18 + 32] = bytes([0x41, 0x10, 0x42, 0x12, 0x83, 0x40, 0x80, 0x81, 0x84])
def ev(code, vel=0, step=0, gate=0):
    return struct.pack("<BBHH", code, vel, step, gate)
body = (ev(0xF9) + ev(60, 100, 300, 200) + ev(0xE7, 255, 0, 96) + ev(0xF8, 0, 3) + ev(0xFD) + ev(0xFC, 0, 0, 0x31)
        + ev(0x90, 0x20, 0, 0x04) + ev(0x98, 0x22, 0, 0x11) + bytes([0xF7, 0x41, 0x10, 0x42, 0x12, 0x84])
        + ev(0xE6, 0, 0, 18) + ev(62, 90, 10, 5) + ev(0xFE))
track = lambda ch, mode, events: struct.pack("<IBBBBbB", 46 + len(events), 1, 0, ch, 0, 0, mode) + b" " * 36 + events
with open(out + "/commands.g36", "wb") as f:
    f.write(bytes(head) + track(0, 0, body) + track(17, 1, ev(64, 100, 10, 5) + ev(0xFE)))
with open(out + "/setup.bin", "wb") as f:
    f.write(bytes((i * 7) & 0x7F for i in range(0x5900)))
PY
seed fuzz_mag "$data"/mag/*.mag "$root/demo/SCENE.MAG"
seed fuzz_com "$corpus"/com/*
seed fuzz_dib $(find "$data/bmp" -name '*.bmp' | sort)
mkdir -p "$seeds/fuzz_pho"
python3 -c "import sys; sys.stdout.buffer.write(bytes((i * 7 + i // 80) & 255 for i in range(96000)))" \
  >"$seeds/fuzz_pho/stripes.pho"
run_seed mag.bin 0 "$root/demo/SCENE.MAG" "$corpus/wrd/pictures.wrd"
run_seed com.bin 1 "$corpus/com/plain.com" "$corpus/wrd/pictures.wrd"
run_seed title.bin 2 "$root/demo/SCENE.MAG" "$root/demo/DEMO.WRD"
run_seed graphics.bin 1 "$corpus/com/coded.com" "$corpus/wrd/graphics.wrd"
run_seed text.bin 0 "$root/demo/SCENE.MAG" "$corpus/wrd/text.wrd"

for fuzzer in "$build"/fuzz/fuzz_*; do
  [[ -x "$fuzzer" ]] || continue
  target=$(basename "$fuzzer")
  [[ -d "$seeds/$target" ]] || { echo "test-fuzz: no seeds for $target" >&2; exit 1; }
  # New inputs go to a scratch folder; the seeds stay as they are.
  work=$build/fuzz-work/$target
  rm -rf "$work"
  mkdir -p "$work"
  echo "test-fuzz: $target for ${seconds}s over $(ls "$seeds/$target" | wc -l) seeds"
  "$fuzzer" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -print_final_stats=0 \
    -artifact_prefix="$artifacts/$target-" "$work" "$seeds/$target" 2>"$build/fuzz-work/$target.log" &
  pid=$!
  wait "$pid" || {
    tail -n 60 "$build/fuzz-work/$target.log" >&2
    echo "test-fuzz: $target failed; the input is in $artifacts" >&2
    exit 1
  }
  # Scratch files a target writes carry its process number: none may outlive it.
  left=$(find /dev/shm /tmp -maxdepth 1 -name "fuzz_*_$pid*" 2>/dev/null)
  if [[ -n "$left" ]]; then
    echo "test-fuzz: $target left files behind: $left" >&2
    exit 1
  fi
done
echo "test-fuzz: every fuzz target ran clean"
