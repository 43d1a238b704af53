#!/usr/bin/env bash
# Builds the core (support/ and engine/ without the host) with ASan+UBSan and
# runs its tests. First shows that the core-only configuration needs none of
# the backends' libraries: configured with FreeType, fontconfig and libpng
# hidden, it must succeed (the core includes none of their headers, which
# the test core_include_rule checks).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cmake -S "$root" -B "$root/build-core-bare" -G Ninja -DQMIDI_CORE_ONLY=ON -DQMIDI_BENCH=OFF \
  -DCMAKE_DISABLE_FIND_PACKAGE_PNG=ON -DCMAKE_DISABLE_FIND_PACKAGE_Freetype=ON \
  -DCMAKE_DISABLE_FIND_PACKAGE_Fontconfig=ON >/dev/null
QMIDI_BUILD_DIR=$root/build-asan "$root/scripts/build.sh" \
  -DQMIDI_CORE_ONLY=ON -DQMIDI_BENCH=OFF -DQMIDI_SANITIZE=address,undefined \
  -DQMIDI_WERROR="${QMIDI_WERROR:-ON}" "$@"
cd "$root/build-asan"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j2 -L core
