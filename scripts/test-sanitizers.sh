#!/usr/bin/env bash
# Builds the core (support/ and engine/ without the host) with ASan+UBSan and
# runs its tests. FreeType, fontconfig and libpng are hidden from it, so the
# job also shows that the core builds without them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
QMIDI_BUILD_DIR=$root/build-asan "$root/scripts/build.sh" \
  -DQMIDI_CORE_ONLY=ON -DQMIDI_BENCH=OFF -DQMIDI_SANITIZE=address,undefined \
  -DCMAKE_DISABLE_FIND_PACKAGE_PNG=ON -DCMAKE_DISABLE_FIND_PACKAGE_Freetype=ON \
  -DCMAKE_DISABLE_FIND_PACKAGE_Fontconfig=ON "$@"
cd "$root/build-asan"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j2 -L core
