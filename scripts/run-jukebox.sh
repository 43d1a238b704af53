#!/usr/bin/env bash
# Starts the jukebox with the demo song (or the songs given) in play list 0
# and automatic play on. The engine is registered with a private session bus
# (dbus-run-session), which starts it when the jukebox first asks for it;
# without a display everything runs under a virtual X server (xvfb-run).
# Options for quormidi itself follow "--", for example:
#
#   scripts/run-jukebox.sh                       # the demo; press F8 to play
#   scripts/run-jukebox.sh A.MID B.RCP -- --start
#
# The settings of these runs live in $build/jukebox-demo (QUORMIDI_DEMO_HOME),
# apart from the user's own; QUORMIDI_WRD=False starts with WRD display off.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QMIDI_BUILD_DIR:-$root/build}
if [ ! -x "$build/jukebox/quormidi" ] || [ ! -x "$build/engine/host/qmidiexe" ]; then
  "$root/scripts/build.sh" quormidi qmidiexe
fi

songs=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do songs+=("$(realpath "$1")"); shift; done
if [ "${1:-}" = "--" ]; then shift; fi
if [ ${#songs[@]} -eq 0 ]; then songs=("$root/demo/DEMO.MID"); fi

home=${QUORMIDI_DEMO_HOME:-$build/jukebox-demo}
export XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data
mkdir -p "$XDG_CONFIG_HOME/QUOR" "$XDG_DATA_HOME"
quote() { local s=${1//\\/\\\\}; printf '"%s"' "${s//\"/\\\"}"; }
{
  echo "[General]"
  for i in "${!songs[@]}"; do echo "L0K$i=$(quote "${songs[$i]}")"; done
  echo "LIBNO=0"
  echo "swJidou=True"
  echo "swWRD=${QUORMIDI_WRD:-True}"
} > "$XDG_CONFIG_HOME/QUOR/QUORMIDI.conf"

# The bus of this run reads the engine's service file from XDG_DATA_HOME.
QT_QPA_PLATFORM=offscreen "$build/engine/host/qmidiexe" -REGSERVER

run=(dbus-run-session -- "$build/jukebox/quormidi" "$@")
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  run=(xvfb-run -a -s "-screen 0 1024x768x24" "${run[@]}")
fi
exec "${run[@]}"
