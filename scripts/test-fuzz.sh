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
seed fuzz_song "$root/demo/DEMO.MID" $(find "$data/smf/unit-cases" -name '*.mid' | sort | head -n 60)
seed fuzz_lyrics "$corpus"/kar/* "$data/smf/jazz-soft/midi/test-karaoke-kar.mid" "$root/demo/DEMO.MID"
seed fuzz_rcp "$data"/recomposer/*.rcp
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
