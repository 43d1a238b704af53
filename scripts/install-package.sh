#!/usr/bin/env bash
# Builds QMIDI (Release), makes its Debian package (scripts/build-package.sh)
# and installs it on this machine with apt-get, which brings the sound font,
# the Japanese fonts and the libraries it depends on. Run again after a
# change: it rebuilds what changed and installs the package anew. Needs root
# or sudo.
#   scripts/install-package.sh            # build-package/qmidi_<version>_<arch>.deb
# QMIDI_PACKAGE_BUILD names another build folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QMIDI_PACKAGE_BUILD:-$root/build-package}
sudo=""
if [[ $(id -u) -ne 0 ]]; then sudo="sudo"; fi

"$root/scripts/setup.sh"
QMIDI_PACKAGE_BUILD=$build "$root/scripts/build-package.sh"
debs=("$build"/qmidi_*.deb)
echo "install-package: installing ${debs[0]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get install -y --reinstall "${debs[0]}"
