#!/usr/bin/env bash
# The jukebox on a desktop: a virtual X server with a window manager
# (openbox), a private session bus that starts the engine on capture
# devices. Three runs of quormidi keep the window where it was (stored and
# real place within 2 pixels), and the caption is exactly the caption: the
# program's title, then the playing song's title, nothing appended.
#   test_jukebox_desktop.sh QUORMIDI QMIDIEXE
set -euo pipefail
quormidi=$1 qmidiexe=$2
for tool in xvfb-run openbox xwininfo xprop dbus-run-session; do
  command -v "$tool" >/dev/null || { echo "missing $tool (scripts/setup.sh installs it)"; exit 1; }
done
if [ "${3:-}" != "--inside" ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  export XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data QMIDI_CAPTURE=$work/capture
  mkdir -p "$XDG_CONFIG_HOME/QUOR" "$XDG_DATA_HOME"
  QT_QPA_PLATFORM=offscreen "$qmidiexe" -REGSERVER >/dev/null
  # Two short titled songs: one note a beat at 120 bpm.
  python3 - "$work" <<'PY'
import struct, sys
for name, title, beats in (("FIRST.MID", b"First Song", 2), ("SECOND.MID", b"Second Song", 16)):
    track = b"\x00\xff\x03" + bytes([len(title)]) + title
    for beat in range(beats):
        track += (b"\x00" if beat == 0 else b"\x30") + b"\x90\x3c\x64\x30\x80\x3c\x00"
    track += b"\x00\xff\x2f\x00"
    with open(sys.argv[1] + "/" + name, "wb") as f:
        f.write(b"MThd" + struct.pack(">IHHH", 6, 0, 1, 96) + b"MTrk" + struct.pack(">I", len(track)) + track)
PY
  printf '[General]\nForm1Left=100\nForm1Top=120\n' > "$XDG_CONFIG_HOME/QUOR/QUORMIDI.conf"
  xvfb-run -a -s "-screen 0 1024x768x24" dbus-run-session -- bash "$0" "$quormidi" "$qmidiexe" --inside "$work"
  exit $?
fi
work=$4
conf=$XDG_CONFIG_HOME/QUOR/QUORMIDI.conf
openbox --sm-disable >/dev/null 2>&1 &
wm=$!
trap 'kill $wm 2>/dev/null || true' EXIT
sleep 1

value() { sed -n "s/^$1=//p" "$conf" | tr -d '"'; }
window_of() {  # the mapped window of process $1
  for _ in $(seq 100); do
    for id in $(xprop -root _NET_CLIENT_LIST | grep -o '0x[0-9a-f]*'); do
      xprop -id "$id" _NET_WM_PID | grep -q "= $1\$" || continue
      xwininfo -id "$id" | grep -q "IsViewable" && { echo "$id"; return; }
    done
    sleep 0.1
  done
  return 1
}
caption() { xprop -id "$1" _NET_WM_NAME | sed 's/^[^"]*"//; s/"$//'; }
failures=0
check() { if ! eval "$1"; then echo "FAILED: $2"; failures=$((failures + 1)); fi; }

for run in 1 2 3; do
  args=(--grab "$work/run$run.png" --grab-after 3500)
  # The second song's caption is its title alone, nothing of the first's.
  [ "$run" = 3 ] && args=(--grab "$work/run3.png" --grab-after 9000 "$work/FIRST.MID" "$work/SECOND.MID" --start)
  # On the X server, whatever platform the tests run with elsewhere.
  env -u QT_QPA_PLATFORM "$quormidi" "${args[@]}" &
  pid=$!
  id=$(window_of "$pid") || { echo "FAILED: run $run: no window"; exit 1; }
  sleep 0.5
  x=$(xwininfo -id "$id" | sed -n 's/.*Absolute upper-left X: *//p')
  y=$(xwininfo -id "$id" | sed -n 's/.*Absolute upper-left Y: *//p')
  expected="QUORMIDI v1.01"
  [ "$run" = 3 ] && expected="Second Song"
  for _ in $(seq 80); do
    name=$(caption "$id")
    [ "$name" = "$expected" ] && break
    sleep 0.1
  done
  check "[ \"\$name\" = \"\$expected\" ]" "run $run: the caption reads '$name', not '$expected'"
  wait "$pid"
  left=$(value Form1Left) top=$(value Form1Top)
  echo "run $run: shown at $x,$y; stored $left,$top"
  check "[ \$(( (x - left) * (x - left) )) -le 4 ] && [ \$(( (y - top) * (y - top) )) -le 4 ]" \
    "run $run: the window was at $x,$y, the stored place is $left,$top"
done
[ "$failures" = 0 ] && echo "desktop: all checks passed"
exit "$failures"
