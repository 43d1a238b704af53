#!/usr/bin/env bash
# Sets up the machine, builds, and runs the main program.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
exec "$root/build/tools/qmidi-tool" --help
