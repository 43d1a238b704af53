#!/usr/bin/env bash
# Checks an installation in PREFIX as a user of it would, from a folder of its
# own (WORK) and with the source and build trees out of reach:
#   installed_checks.sh PREFIX WORK SOURCE_DIR BUILD_DIR
# SOURCE_DIR and BUILD_DIR are only names to look for in the installed files.
set -uo pipefail
prefix=$1 work=$2 source_dir=$3 build_dir=$4
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }
cd "$work" || exit 1
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/state XDG_CACHE_HOME=$work/cache
export XDG_RUNTIME_DIR=$work/runtime QT_QPA_PLATFORM=offscreen
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
unset QMIDI_CAPTURE QMIDI_FRAMES QMIDI_STATUS_LOG DBUS_SESSION_BUS_ADDRESS

for tree in "$source_dir" "$build_dir"; do
  if [[ -n $(ls -A "$tree" 2>/dev/null) ]]; then echo "note: $tree is reachable (no private mount namespace here)"; fi
done

# --- What was installed where ----------------------------------------------
libdir=$(dirname "$(find "$prefix" -name 'libQMIDICTLXControl.so' | head -1)")
[[ -n "$libdir" && "$libdir" != . ]] || { fail "libQMIDICTLXControl.so not installed"; libdir=$prefix/lib; }
for f in bin/qmidiexe bin/qmidi-tool lib/qmidi/qmidi-tool-backends.so \
         include/QMIDICTLXControl/QMIDICTLXControl.h \
         share/dbus-1/services/Qmidiexe.QMIDIOLE.service share/applications/qmidiexe.desktop \
         share/mime/packages/qmidi.xml share/icons/hicolor/scalable/apps/qmidiexe.svg \
         share/man/man1/qmidiexe.1 share/man/man1/qmidi-tool.1 share/qmidi/demo/DEMO.MID; do
  [[ -e "$prefix/$f" ]] || fail "missing $f"
done
for f in cmake/QMIDICTLXControl/QMIDICTLXControlConfig.cmake \
         cmake/QMIDICTLXControl/QMIDICTLXControlConfigVersion.cmake pkgconfig/QMIDICTLXControl.pc; do
  [[ -e "$libdir/$f" ]] || fail "missing ${libdir#"$prefix"/}/$f"
done
# Every program built has its desktop entry, icon and manual page, and only those.
if [[ -x "$prefix/bin/quormidi" ]]; then
  for f in share/applications/quormidi.desktop share/icons/hicolor/scalable/apps/quormidi.svg \
           share/man/man1/quormidi.1; do
    [[ -e "$prefix/$f" ]] || fail "missing $f"
  done
else
  [[ ! -e "$prefix/share/applications/quormidi.desktop" ]] || fail "quormidi.desktop without quormidi"
fi

# --- No installed file names the source or the build tree ------------------
# Programs and libraries are looked at without their debugging sections
# (which name the sources, as a debugger needs): what they can read at run
# time, their strings and run paths, must not.
named=0
while IFS= read -r -d '' f; do
  look=$f
  if [[ $(head -c 4 "$f" | od -An -c | tr -d ' ') == '177ELF' ]]; then
    strip -o "$work/stripped" "$f" 2>/dev/null || { fail "cannot strip $f"; continue; }
    look=$work/stripped
  fi
  for tree in "$source_dir" "$build_dir"; do
    if grep -qF "$tree" "$look"; then fail "${f#"$prefix"/} names $tree"; named=1; fi
  done
done < <(find "$prefix" -type f -print0)
((named)) || pass "no installed file names the source or build tree"

# --- The engine plays the demo on capture devices --------------------------
mkdir -p "$work/capture" "$work/frames"
QMIDI_CAPTURE=$work/capture QMIDI_FRAMES=$work/frames QMIDI_FRAMES_INTERVAL=0 \
  timeout 180 "$prefix/bin/qmidiexe" "$prefix/share/qmidi/demo/DEMO.MID" >"$work/engine.out" 2>&1
rc=$?
if ((rc != 0)); then fail "qmidiexe exit status $rc"; cat "$work/engine.out"; fi
# Note-ons (status 9n, velocity above 0) on the mapper, the default port A.
notes=$(awk '$1 ~ /^[0-9]+$/ && $2 ~ /^9[0-9a-f]..[0-9a-f][0-9a-f]$/ && substr($2, 5, 2) != "00"' \
          "$work/capture/mapper.log" 2>/dev/null | wc -l)
if ((notes > 0)); then pass "qmidiexe played $notes note-ons"; else fail "no note-on in the capture log"; fi
grep -qx close "$work/capture/mapper.log" 2>/dev/null || fail "the mapper was not closed at the end"
# The demo's WRD script and its picture were found beside the installed song.
frames=$(find "$work/frames" -name '*.png' | wc -l)
if ((frames > 1)); then pass "the WRD screen changed $frames times"; else fail "no WRD frames ($frames)"; fi
# The trace log of an installed program is in the user's state folder.
[[ -f "$XDG_STATE_HOME/QUOR/QUORTRC.LOG" ]] || fail "no trace log in \$XDG_STATE_HOME/QUOR"
[[ ! -e "$prefix/bin/QUORTRC.LOG" ]] || fail "the trace log was written into bin/"

# --- The tool and its module -----------------------------------------------
if "$prefix/bin/qmidi-tool" --help >"$work/help.out" 2>&1 && grep -q '^  devices' "$work/help.out"; then
  pass "qmidi-tool --help"
else
  fail "qmidi-tool --help"; cat "$work/help.out"
fi
if QMIDI_CAPTURE=$work/tool-capture "$prefix/bin/qmidi-tool" devices >"$work/devices.out" 2>&1 &&
   grep -q 'Capture mapper' "$work/devices.out"; then
  pass "qmidi-tool devices (module from lib/qmidi)"
else
  fail "qmidi-tool devices"; cat "$work/devices.out"
fi

# --- The D-Bus activation file and interface descriptions ------------------
service=$prefix/share/dbus-1/services/Qmidiexe.QMIDIOLE.service
exec_line=$(grep '^Exec=' "$service")
[[ "$exec_line" == "Exec=$prefix/bin/qmidiexe -AUTOMATION" ]] || fail "service file: $exec_line"
grep -qx 'Name=Qmidiexe.QMIDIOLE' "$service" || fail "service file names no Qmidiexe.QMIDIOLE"
# The installed descriptions are what the installed engine writes itself.
XDG_DATA_HOME=$work/regserver timeout 60 "$prefix/bin/qmidiexe" -REGSERVER >/dev/null 2>&1 ||
  fail "qmidiexe -REGSERVER"
written=$(cd "$work/regserver/dbus-1/interfaces" 2>/dev/null && ls | tr "\n" " ")
installed=$(cd "$prefix/share/dbus-1/interfaces" 2>/dev/null && ls | tr "\n" " ")
[[ "$written" == "$installed" ]] || fail "interface files: engine writes [$written], installed [$installed]"
for f in $installed; do
  cmp -s "$work/regserver/dbus-1/interfaces/$f" "$prefix/share/dbus-1/interfaces/$f" || fail "$f differs"
  xmllint --noout "$prefix/share/dbus-1/interfaces/$f" || fail "$f is not well-formed"
done
if [[ -f "$work/regserver/dbus-1/services/Qmidiexe.QMIDIOLE.service" ]]; then
  grep -qxF "$exec_line" "$work/regserver/dbus-1/services/Qmidiexe.QMIDIOLE.service" ||
    fail "the engine registers itself with another Exec line than the installed one"
fi
pass "interface descriptions: ${installed:-none written by this engine}"

# --- The control library, through its CMake package and through pkg-config -
tiny=$work/tiny
if CMAKE_PREFIX_PATH=$prefix cmake -S "$tiny" -B "$work/tiny-build" -G Ninja >"$work/tiny.out" 2>&1 &&
   cmake --build "$work/tiny-build" >>"$work/tiny.out" 2>&1; then
  out=$("$work/tiny-build/control_user" 2>&1)
  if grep -qx 'class TQMIDICTLX' <<<"$out" && grep -qx 'engineError -999' <<<"$out" &&
     grep -qx 'SCOREWIDTH 400' <<<"$out"; then
    pass "find_package(QMIDICTLXControl): built and ran"
  else
    fail "control_user (CMake) said: $out"
  fi
else
  fail "a program using find_package(QMIDICTLXControl) did not build"; tail -20 "$work/tiny.out"
fi
export PKG_CONFIG_PATH=$libdir/pkgconfig
if flags=$(pkg-config --cflags --libs QMIDICTLXControl) &&
   g++ -std=c++17 -fPIC "$tiny/main.cpp" -o "$work/control_user_pc" $flags -Wl,-rpath,"$libdir" \
     >"$work/tiny-pc.out" 2>&1; then
  out=$("$work/control_user_pc" 2>&1)
  if grep -qx 'class TQMIDICTLX' <<<"$out" && grep -qx 'engineError -999' <<<"$out"; then
    pass "pkg-config QMIDICTLXControl: built and ran"
  else
    fail "control_user (pkg-config) said: $out"
  fi
else
  fail "a program using pkg-config QMIDICTLXControl did not build"; cat "$work/tiny-pc.out"
fi
[[ $(pkg-config --modversion QMIDICTLXControl) == 1.0 ]] || fail "pkg-config version"
unset PKG_CONFIG_PATH

# The bus starts the installed engine for the control through the installed
# activation file, when this engine serves automation (its -REGSERVER wrote
# the interface descriptions).
if [[ -n "$installed" && -x "$work/tiny-build/control_user" ]]; then
  out=$(XDG_DATA_DIRS=$prefix/share:/usr/share QMIDI_CAPTURE=$work/bus-capture \
        timeout 120 dbus-run-session -- "$work/tiny-build/control_user" 2>&1)
  if grep -qx 'engineError 0' <<<"$out"; then
    pass "the session bus started the installed engine for the control"
  else
    fail "the control did not reach an engine started from the installed service: $out"
  fi
fi

# --- Desktop entries, icons, the MIME description --------------------------
for d in "$prefix"/share/applications/*.desktop; do
  name=$(basename "$d" .desktop)
  if out=$(desktop-file-validate "$d" 2>&1) && [[ -z "$out" ]]; then pass "desktop-file-validate $name"; else fail "$name.desktop: $out"; fi
  program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$d")
  [[ -x "$prefix/bin/$program" ]] || fail "$name.desktop runs $program, which is not installed"
  icon=$(sed -n 's/^Icon=//p' "$d")
  [[ -f "$prefix/share/icons/hicolor/scalable/apps/$icon.svg" ]] || fail "$name.desktop: no icon $icon"
done
for svg in "$prefix"/share/icons/hicolor/scalable/apps/*.svg; do
  xmllint --noout "$svg" || fail "$(basename "$svg") is not well-formed"
done
mime_xml=$prefix/share/mime/packages/qmidi.xml
xmllint --noout "$mime_xml" || fail "qmidi.xml is not well-formed"
types=$(sed -n 's/^MimeType=//p' "$prefix/share/applications/qmidiexe.desktop" | tr ';' ' ')
# The database the desktop builds from the installed description (as the
# package's trigger does) recognises songs by name and by their first bytes.
if XDG_DATA_DIRS=$prefix/share:/usr/share update-mime-database "$prefix/share/mime" >"$work/mime.out" 2>&1 && [[ ! -s "$work/mime.out" ]]; then
  mkdir -p "$work/songs"
  printf 'RCM-PC98V2.0(C)COME ON MUSIC\r\n' >"$work/songs/unnamed.dat"
  head -c 600 /dev/zero >>"$work/songs/unnamed.dat"
  cp "$work/songs/unnamed.dat" "$work/songs/SONG.R36"
  printf 'plain text\r\n' >"$work/songs/song.rcp"
  printf 'COME ON MUSIC RECOMPOSER RCP3.0\0' >"$work/songs/rcp3.dat"
  head -c 600 /dev/zero >>"$work/songs/rcp3.dat"
  printf 'plain text\r\n' >"$work/songs/Song.G18"
  printf '@MESSAGE(HELLO)\r\n' >"$work/songs/DEMO.WRD"
  cp "$prefix/share/qmidi/demo/DEMO.MID" "$work/songs/DEMO.MID"
  XDG_DATA_DIRS=$prefix/share:/usr/share "$work/tiny-build/control_user" mime \
    "$work"/songs/{unnamed.dat,SONG.R36,song.rcp,rcp3.dat,Song.G18,DEMO.WRD,DEMO.MID} >"$work/mime-types.out" 2>&1
  expect() {
    grep -qx "$work/songs/$1 $2" "$work/mime-types.out" || fail "$1 is not $2: $(grep "/$1 " "$work/mime-types.out")"
  }
  expect unnamed.dat application/x-recomposer
  expect SONG.R36 application/x-recomposer
  expect song.rcp application/x-recomposer
  expect rcp3.dat application/x-recomposer
  expect Song.G18 application/x-recomposer
  expect DEMO.WRD text/x-wrd
  expect DEMO.MID audio/midi
  # Each type the engine's entry opens is defined here or by the system.
  for t in $types; do
    grep -q "type=\"$t\"" "$mime_xml" || [[ -f "/usr/share/mime/$t.xml" ]] ||
      grep -q "^$t " /usr/share/mime/aliases 2>/dev/null || fail "qmidiexe.desktop opens $t, which nothing defines"
  done
  pass "MIME description: $(tr '\n' ' ' <"$work/mime-types.out" | sed "s|$work/songs/||g")"
else
  fail "update-mime-database: $(cat "$work/mime.out")"
fi

# --- The jukebox starts without a display ----------------------------------
if [[ -x "$prefix/bin/quormidi" ]]; then
  # A session of its own: ending it ends the jukebox, its bus and its engine,
  # not dbus-run-session alone.
  XDG_DATA_DIRS=$prefix/share:/usr/share QMIDI_CAPTURE=$work/jukebox-capture \
    setsid dbus-run-session -- "$prefix/bin/quormidi" >"$work/jukebox.out" 2>&1 &
  jukebox=$!
  sleep 5
  if kill -0 "$jukebox" 2>/dev/null; then
    pass "quormidi runs offscreen"
    kill -- "-$jukebox"; wait "$jukebox" 2>/dev/null
  else
    wait "$jukebox"; fail "quormidi ended at once (status $?): $(cat "$work/jukebox.out")"
    kill -- "-$jukebox" 2>/dev/null
  fi
else
  echo "note: no quormidi in this build"
fi

# Nothing the checks started is left running (an engine the bus started
# ends with its last object or with its bus).
for _ in $(seq 50); do
  left=$(for exe in /proc/[0-9]*/exe; do
           [[ $(readlink "$exe" 2>/dev/null) == "$prefix"/* ]] && echo "${exe//[^0-9]/}"
         done)
  [[ -z "$left" ]] && break
  sleep 0.2
done
if [[ -n "$left" ]]; then
  fail "processes of the installation are still running: $left"
  kill $left 2>/dev/null
fi

if ((failures)); then echo "$failures check(s) failed"; exit 1; fi
echo "all checks passed"
