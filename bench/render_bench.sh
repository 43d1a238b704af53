#!/usr/bin/env bash
# Rendering speed, measured in one run so that both sides see the same load:
#  1. qmidi-tool render-audio against FluidSynth's own file renderer
#     (fluidsynth -F) on the same General MIDI song and sound font, 44.1 kHz
#     16-bit WAV, both with FluidSynth's default reverb and chorus;
#  2. qmidi-tool render-video of the demo at 30 fps, scale 2;
#  3. the batch form of render-audio: eight piano pieces of tests/data
#     (Bach, Debussy) into a folder with --jobs 1 and --jobs 2, as songs per
#     minute (one engine per worker thread: the second should nearly double
#     the first on two free cores).
# Each is run ROUNDS times (alternating); the best wall time and its CPU time
# are printed, with the speed against the song's own length.
#
#   bench/render_bench.sh [SONG.mid] [SOUNDFONT.sf2]
#
# Environment: QMIDI_TOOL (default build/tools/qmidi-tool), ROUNDS (default 3).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tool=${QMIDI_TOOL:-$root/build/tools/qmidi-tool}
song=${1:-$root/tests/data/smf/timing/bartok/concerto_for_orchestra_1.mid}
font=${2:-/usr/share/sounds/sf2/default-GM.sf2}
demo=$root/demo/DEMO.MID
rounds=${ROUNDS:-3}
command -v fluidsynth >/dev/null || { echo "render_bench: needs the fluidsynth program (scripts/setup.sh)" >&2; exit 1; }
[[ -x $tool ]] || { echo "render_bench: build qmidi-tool first ($tool)" >&2; exit 1; }
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# Runs a command; prints "wall user+sys" in seconds.
measure() {
  local TIMEFORMAT='%R %U %S' t
  t=$( { time "$@" >/dev/null 2>&1; } 2>&1 )
  awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }' <<<"$t"
}

# The best (least wall time) of the lines given.
best() { sort -n | head -1; }

# A WAV file's length in seconds.
seconds() { ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 "$1"; }

batch=()
for name in bach/bach_846 bach/bach_847 bach/bach_850 debussy/passepied debussy/prelude debussy/menuet \
            debussy/childrens_corner_1 debussy/childrens_corner_3; do
  batch+=("$root/tests/data/smf/timing/$name.mid")
done

ours=() theirs=() video=() jobs1=() jobs2=()
for ((i = 0; i < rounds; i++)); do
  ours+=("$(measure "$tool" render-audio "$song" "$out/ours.wav" --soundfont "$font")")
  theirs+=("$(measure fluidsynth -ni -q -r 44100 -T wav -O s16 -F "$out/theirs.wav" "$font" "$song")")
  video+=("$(measure "$tool" render-video "$demo" "$out/demo.mp4" --fps 30 --scale 2)")
  jobs1+=("$(measure "$tool" render-audio --jobs 1 --soundfont "$font" "${batch[@]}" "$out/b1")")
  jobs2+=("$(measure "$tool" render-audio --jobs 2 --soundfont "$font" "${batch[@]}" "$out/b2")")
done

report() {  # name, best line, seconds of sound
  read -r wall cpu <<<"$2"
  awk -v n="$1" -v w="$wall" -v c="$cpu" -v s="$3" \
    'BEGIN { printf "%-34s %7.2f s wall %7.2f s CPU  %6.1fx real time (%.1f s of sound)\n", n, w, c, s / w, s }'
}
echo "song: $song"
echo "sound font: $font   load average: $(cut -d' ' -f1-3 /proc/loadavg)"
report "qmidi-tool render-audio" "$(printf '%s\n' "${ours[@]}" | best)" "$(seconds "$out/ours.wav")"
report "fluidsynth -F" "$(printf '%s\n' "${theirs[@]}" | best)" "$(seconds "$out/theirs.wav")"
report "qmidi-tool render-video (demo)" "$(printf '%s\n' "${video[@]}" | best)" "$(seconds "$out/demo.mp4")"
per_minute() {  # name, best line
  read -r wall cpu <<<"$2"
  awk -v n="$1" -v w="$wall" -v c="$cpu" -v k="${#batch[@]}" \
    'BEGIN { printf "%-34s %7.2f s wall %7.2f s CPU  %6.1f songs a minute\n", n, w, c, k * 60 / w }'
}
b1=$(printf '%s\n' "${jobs1[@]}" | best)
b2=$(printf '%s\n' "${jobs2[@]}" | best)
per_minute "render-audio batch of ${#batch[@]}, --jobs 1" "$b1"
per_minute "render-audio batch of ${#batch[@]}, --jobs 2" "$b2"
awk -v a="${b1%% *}" -v b="${b2%% *}" 'BEGIN { printf "%-34s %7.2fx\n", "--jobs 2 against --jobs 1", a / b }'
