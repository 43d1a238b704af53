#!/usr/bin/env bash
# Configures and builds into build/ (or $QMIDI_BUILD_DIR) with Ninja.
# Extra arguments go to CMake, for example -DQMIDI_SANITIZE=address,undefined.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QMIDI_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja "$@" >/dev/null
ninja -C "$build"
