#!/usr/bin/env bash
# Builds with ThreadSanitizer in build-tsan/ and runs the tests of the
# threaded parts (timers, MIDI devices, and the player once it exists).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
QMIDI_BUILD_DIR=$root/build-tsan "$root/scripts/build.sh" -DQMIDI_BENCH=OFF -DQMIDI_SANITIZE=thread
cd "$root/build-tsan"
TSAN_OPTIONS="halt_on_error=1 suppressions=$root/tests/tsan.supp" \
  ctest --output-on-failure -j2 -R "${QMIDI_TSAN_TESTS:-ManualTimer|RealTimer|CaptureMidi|RawMidi|CompositeMidi|MidiBytes|SoftSynth|MachineMidi|DevicesCommand|Player|WrdRun}"
