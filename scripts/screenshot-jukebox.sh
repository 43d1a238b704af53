#!/usr/bin/env bash
# Takes docs/quormidi.png (or the file given): the jukebox's main window a few
# seconds into the demo song, under a virtual X server, captured by Qt's own
# grab of the window. The engine plays into capture logs, so nothing sounds,
# and WRD display is off so that the status lines move.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QMIDI_BUILD_DIR:-$root/build}
out=$(realpath -m "${1:-$root/docs/quormidi.png}")
export QMIDI_CAPTURE=$build/jukebox-demo/capture QUORMIDI_WRD=False
mkdir -p "$QMIDI_CAPTURE"
unset DISPLAY WAYLAND_DISPLAY
"$root/scripts/run-jukebox.sh" "$root/demo/DEMO.MID" -- --start --grab "$out" --grab-after "${QUORMIDI_GRAB_AFTER:-6000}"
test -s "$out"
echo "screenshot-jukebox.sh: $out"
