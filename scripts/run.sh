#!/usr/bin/env bash
# Sets up the machine, builds, and plays the demo song with the engine
# (or the song given as the first argument, with its play options after it).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" qmidiexe  # only the engine: the tests and benchmarks wait for test.sh
build=${QMIDI_BUILD_DIR:-$root/build}
if [ $# -eq 0 ]; then set -- "$root/demo/DEMO.MID"; fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  # No display: Qt draws offscreen and the WRD screen is written as PNG files
  # (the engine says where).
  export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
  export QMIDI_FRAMES=${QMIDI_FRAMES:-$build/frames}
fi
exec "$build/engine/host/qmidiexe" "$@"
