#!/usr/bin/env bash
# Configures and builds into build/ (or $QMIDI_BUILD_DIR) with Ninja.
#   scripts/build.sh [TARGET...] [-DNAME=VALUE...]
# Targets name what to build (everything when none is given); arguments
# starting with "-" go to CMake, for example -DQMIDI_SANITIZE=address,undefined.
# Every script configures with the same flags (warnings are errors unless
# QMIDI_WERROR=OFF), so that switching between them rebuilds nothing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QMIDI_BUILD_DIR:-$root/build}
targets=()
cmake_args=()
for a in "$@"; do
  if [[ "$a" == -* ]]; then cmake_args+=("$a"); else targets+=("$a"); fi
done
cmake -S "$root" -B "$build" -G Ninja -DQMIDI_WERROR="${QMIDI_WERROR:-ON}" "${cmake_args[@]}" >/dev/null
ninja -C "$build" "${targets[@]}"
