#!/usr/bin/env bash
# Builds the core (support/ and engine/ without the host) with ASan+UBSan and
# runs its tests.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
QMIDI_BUILD_DIR=$root/build-asan "$root/scripts/build.sh" \
  -DQMIDI_CORE_ONLY=ON -DQMIDI_BENCH=OFF -DQMIDI_SANITIZE=address,undefined \
  -DQMIDI_WERROR="${QMIDI_WERROR:-ON}"
cd "$root/build-asan"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j2 -L core
