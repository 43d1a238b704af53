#!/usr/bin/env bash
# Builds QMIDI (Release) and makes its Debian package, without installing
# it: build-package/qmidi_<version>_<arch>.deb (QMIDI_PACKAGE_BUILD names
# another folder). Only what the installation takes is built (the target
# qmidi_installed), so that it works from a fresh clone. Extra arguments go
# to CMake (a compiler launcher, for example).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QMIDI_PACKAGE_BUILD:-$root/build-package}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQMIDI_BENCH=OFF \
  -DCMAKE_INSTALL_PREFIX=/usr "$@" >/dev/null
cmake --build "$build" --target qmidi_installed -- -j"$(nproc)"
rm -f "$build"/qmidi_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
debs=("$build"/qmidi_*.deb)
[[ ${#debs[@]} -eq 1 && -f "${debs[0]}" ]] || { echo "build-package: no single package in $build" >&2; exit 1; }
echo "build-package: ${debs[0]}"
