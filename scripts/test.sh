#!/usr/bin/env bash
# Sets up the machine, builds everything with the flags run.sh builds with
# (warnings are errors unless QMIDI_WERROR=OFF), and runs every test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
cd "$root/build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2
