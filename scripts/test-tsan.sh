#!/usr/bin/env bash
# Builds the threaded parts with ThreadSanitizer in build-tsan/ and runs
# their tests: every test program labelled `tsan` in tests/ (timers, MIDI
# devices, soft synth, the player's threads, the WRD tick). Only those
# programs are built (the target tsan_tests), not the whole tree. Extra
# arguments go to CMake.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-tsan
cmake -S "$root" -B "$build" -G Ninja -DQMIDI_BENCH=OFF -DQMIDI_SANITIZE=thread \
  -DQMIDI_WERROR="${QMIDI_WERROR:-ON}" "$@" >/dev/null
ninja -C "$build" tsan_tests
cd "$build"
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$root/tests/tsan.supp" \
  ctest --output-on-failure -j2 -L tsan
