#!/usr/bin/env bash
# Times qmidi-tool's conversion of the test corpus against TiMidity++'s event
# listing of the same files, in one run, and prints the ratio.
#
#   bench/convert_vs_timidity.sh [QMIDI_TOOL]    (default build/tools/qmidi-tool)
#
# Every Standard MIDI File under tests/data/smf and tests/data/recomposer and
# every Recomposer song under tests/data/recomposer is handled by one process
# per file on both sides, as a batch conversion of a collection runs:
#   qmidi-tool stream FILE   the song converted as the engine converts it
#                            before playing, every record listed
#   qmidi-tool convert F.rcp the Recomposer song written as a Standard MIDI File
#   timidity -idq -Ol -o /dev/null FILE   TiMidity++ reads the song and lists
#                            its events (package timidity; no sound font needed)
# The figure compared is CPU time (user + system of all the processes).
# TiMidity++ sleeps one second before it exits, so its processes run side by
# side and its wall time is not comparable; qmidi-tool's wall time is shown too.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tool=${1:-$root/build/tools/qmidi-tool}
rounds=${QMIDI_BENCH_ROUNDS:-3}
[[ -x "$tool" ]] || { echo "no qmidi-tool at $tool (build first)" >&2; exit 1; }
command -v timidity >/dev/null || {
  echo "TiMidity++ is missing: apt-get install --no-install-recommends timidity" >&2
  exit 1
}

mapfile -t songs < <(find "$root/tests/data/smf" "$root/tests/data/recomposer" -type f \
  \( -iname '*.mid' -o -iname '*.rcp' -o -iname '*.r36' \) | sort)
mapfile -t recomposer < <(printf '%s\n' "${songs[@]}" | grep -iE '\.(rcp|r36)$' || true)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# TiMidity++ reads its system configuration first; an empty one of its own
# after it keeps a missing sound font from mattering.
: >"$scratch/timidity.cfg"

qmidi_pass() {
  local f
  for f in "${songs[@]}"; do "$tool" stream "$f" >/dev/null 2>&1 || true; done
  for f in "${recomposer[@]}"; do "$tool" convert "$f" "$scratch/out.mid" >/dev/null 2>&1 || true; done
}
timidity_pass() {
  printf '%s\0' "${songs[@]}" |
    xargs -0 -n 1 -P 64 timidity -c "$scratch/timidity.cfg" -idq -Ol -o /dev/null >/dev/null 2>&1 || true
}

# seconds WHAT: runs a pass and prints "wall cpu" in seconds.
seconds() {
  local TIMEFORMAT='%R %U %S' t
  t=$( { time "$1" >/dev/null 2>&1; } 2>&1)
  awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }' <<<"$t"
}

bytes=$(cat "${songs[@]}" | wc -c)
echo "corpus: ${#songs[@]} songs (${#recomposer[@]} Recomposer, also converted), $bytes bytes"
echo "qmidi-tool: $tool ($(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown))"
echo "timidity:   $(timidity -v 2>/dev/null | head -n 1)"
qmidi_pass
timidity_pass  # page cache warm on both sides
best_q=; best_t=; wall_q=
for ((i = 1; i <= rounds; ++i)); do
  read -r wq cq < <(seconds qmidi_pass)
  read -r _ ct < <(seconds timidity_pass)
  printf 'round %d: qmidi-tool %.3f s CPU (%.3f s wall), timidity %.3f s CPU\n' "$i" "$cq" "$wq" "$ct"
  if [[ -z "$best_q" ]] || awk -v a="$cq" -v b="$best_q" 'BEGIN { exit !(a < b) }'; then best_q=$cq; wall_q=$wq; fi
  if [[ -z "$best_t" ]] || awk -v a="$ct" -v b="$best_t" 'BEGIN { exit !(a < b) }'; then best_t=$ct; fi
done
awk -v q="$best_q" -v t="$best_t" -v w="$wall_q" -v n="${#songs[@]}" 'BEGIN {
  printf "best of the rounds: qmidi-tool %.2f ms CPU per song (%.2f ms wall), timidity %.2f ms CPU per song\n",
    1000 * q / n, 1000 * w / n, 1000 * t / n
  printf "ratio qmidi-tool / timidity (CPU): %.2f\n", q / t
}'
