#!/usr/bin/env bash
# Builds the threaded parts with ThreadSanitizer in build-tsan/ and runs
# their tests: the manual and real timers, the MIDI device backends, the
# soft synth, the player's threads (also against the offline driver) and the
# WRD tick. Only the test programs that run them are built, not the whole
# tree. Extra arguments go to CMake.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-tsan
targets=(test_platform_core test_platform test_player_setup test_stream_player test_play_modes
         test_output_status test_player_songs test_player_machine test_wrd_executor test_offline_player)
cmake -S "$root" -B "$build" -G Ninja -DQMIDI_BENCH=OFF -DQMIDI_SANITIZE=thread "$@" >/dev/null
ninja -C "$build" "${targets[@]}"
cd "$build"
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$root/tests/tsan.supp" \
  ctest --output-on-failure -j2 \
  -R "${QMIDI_TSAN_TESTS:-ManualTimer|MidiBytes|CaptureMidi|CompositeMidi|RawMidi|RealTimer|SoftSynth|MachineMidi|PlayerSetup|StreamPlayer|PlayModes|OutputStatus|PlayerSongs|MachinePlayer|WrdRun|OfflinePlayer|OfflineDriver}"
