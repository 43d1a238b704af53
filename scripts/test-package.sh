#!/usr/bin/env bash
# Builds the Debian package, installs it on this machine (twice: the second
# run must change nothing that matters), plays the demo with the engine from
# PATH headless on capture devices, then removes the package and checks that
# its files are gone. Changes the machine's installed packages: run by hand,
# not by CI. Needs root or sudo.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QMIDI_PACKAGE_BUILD:-$root/build-package}
sudo=""
if [[ $(id -u) -ne 0 ]]; then sudo="sudo"; fi
work=$(mktemp -d /tmp/qmidi-package-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

"$root/scripts/install-package.sh" >"$work/install-1.out" 2>&1 ||
  { tail -30 "$work/install-1.out"; echo "FAIL: install-package.sh"; exit 1; }
pass "install-package.sh built and installed $(basename "$build"/qmidi_*.deb)"
"$root/scripts/install-package.sh" >"$work/install-2.out" 2>&1 ||
  { tail -30 "$work/install-2.out"; echo "FAIL: install-package.sh, second run"; exit 1; }
pass "install-package.sh again"

deb=$(ls "$build"/qmidi_*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for want in 'timgm6mb-soundfont | fluid-soundfont-gm' fonts-ipafont-mincho fonts-ipafont-gothic dbus \
            libqt6widgets6 libfluidsynth3 libasound2 libfreetype6; do
  grep -qF "$want" <<<"$depends" || fail "Depends lacks $want"
done
[[ $(dpkg-query -W -f='${Status}' qmidi 2>/dev/null) == "install ok installed" ]] || fail "qmidi is not installed"
dpkg -L qmidi >"$work/files"

# The installed files name neither the source nor the build tree.
while IFS= read -r f; do
  [[ -f "$f" ]] || continue
  if grep -qF -e "$root" -e "$build" "$f"; then fail "$f names the source or build tree"; fi
done <"$work/files"

# The engine from PATH plays the demo, headless, from a folder of its own.
engine=$(command -v qmidiexe)
[[ "$engine" == /usr/bin/qmidiexe ]] || fail "qmidiexe on PATH is $engine"
mkdir -p "$work/home" "$work/capture"
(cd "$work" && env -i PATH=/usr/bin:/bin HOME="$work/home" QT_QPA_PLATFORM=offscreen \
   QMIDI_CAPTURE="$work/capture" timeout 180 qmidiexe /usr/share/qmidi/demo/DEMO.MID) >"$work/engine.out" 2>&1
rc=$?
((rc == 0)) || { fail "qmidiexe exit status $rc"; cat "$work/engine.out"; }
notes=$(awk '$2 ~ /^9[0-9a-f]..[0-9a-f][0-9a-f]$/ && substr($2, 5, 2) != "00"' "$work/capture/mapper.log" 2>/dev/null | wc -l)
if ((notes > 0)); then pass "qmidiexe from PATH played $notes note-ons of the demo"; else fail "no note-on captured"; fi
[[ -f "$work/home/.local/state/QUOR/QUORTRC.LOG" ]] || fail "no trace log under ~/.local/state/QUOR"
[[ ! -e /usr/bin/QUORTRC.LOG ]] || fail "the trace log was written into /usr/bin"
if QMIDI_CAPTURE="$work/tool" qmidi-tool devices | grep -q 'Capture mapper'; then
  pass "qmidi-tool devices (module from /usr/lib/qmidi)"
else
  fail "qmidi-tool devices"
fi
grep -qx 'Exec=/usr/bin/qmidiexe -AUTOMATION' /usr/share/dbus-1/services/Qmidiexe.QMIDIOLE.service ||
  fail "the D-Bus activation file does not name /usr/bin/qmidiexe"
out=$(desktop-file-validate /usr/share/applications/qmidiexe.desktop 2>&1) && [[ -z "$out" ]] ||
  fail "desktop-file-validate: $out"
# The package's triggers updated the system's MIME database.
[[ -f /usr/share/mime/application/x-recomposer.xml ]] || fail "the MIME database lacks application/x-recomposer"
[[ $(pkg-config --modversion QMIDICTLXControl 2>/dev/null) == 1.0 ]] || fail "pkg-config finds no QMIDICTLXControl"
man -w qmidiexe >/dev/null 2>&1 || [[ ! -x /usr/bin/man ]] || fail "man finds no qmidiexe page"

# Removal leaves none of the package's files behind.
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get remove -y qmidi >"$work/remove.out" 2>&1 || { cat "$work/remove.out"; fail "apt-get remove"; }
[[ $(dpkg-query -W -f='${Status}' qmidi 2>/dev/null) != "install ok installed" ]] || fail "qmidi is still installed"
left=0
while IFS= read -r f; do
  if [[ -e "$f" && ! -d "$f" ]]; then fail "left behind: $f"; left=1; fi
done <"$work/files"
[[ -d /usr/lib/qmidi || -d /usr/share/qmidi || -d /usr/include/QMIDICTLXControl ]] &&
  { fail "a folder of the package is left"; left=1; }
[[ ! -e /usr/share/mime/application/x-recomposer.xml ]] || fail "the MIME database still has application/x-recomposer"
((left)) || pass "apt-get remove left none of the package's $(wc -l <"$work/files") files and folders"

if ((failures)); then echo "$failures check(s) failed"; exit 1; fi
echo "all package checks passed"
