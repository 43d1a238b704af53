#!/usr/bin/env bash
# The Debian package is made from a fresh clone of the repository (its
# committed state) by scripts/build-package.sh alone, as a new user's
# install-package.sh makes it: every file the install rules name must be
# built by the target it builds. Not installed. Exit 77 (skipped) where the
# source is no git repository.
#   test_package_clone.sh SOURCE_DIR
set -euo pipefail
source_dir=$1
command -v git >/dev/null && git -C "$source_dir" rev-parse HEAD >/dev/null 2>&1 || {
  echo "skipped: $source_dir is no git repository"
  exit 77
}
work=$(mktemp -d /tmp/qmidi-package-clone.XXXXXX)
trap 'rm -rf "$work"' EXIT
git clone --quiet --no-checkout "$source_dir" "$work/src"
git -C "$work/src" checkout --quiet --detach "$(git -C "$source_dir" rev-parse HEAD)"

# A compiler cache, where there is one, keeps the second run short; its base
# folder makes the clone's paths relative, so that a new temporary folder
# still finds what the last one compiled.
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR=$work
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
QMIDI_PACKAGE_BUILD=$work/build nice "$work/src/scripts/build-package.sh" "${launcher[@]}" >"$work/build.out" 2>&1 ||
  { tail -40 "$work/build.out"; echo "FAIL: build-package.sh in a fresh clone"; exit 1; }
deb=$(ls "$work"/build/qmidi_*.deb)
dpkg-deb -c "$deb" >"$work/contents"
failures=0
for f in usr/bin/qmidiexe usr/bin/qmidi-tool usr/bin/quormidi usr/lib/qmidi/qmidi-tool-backends.so \
         qt6/plugins/designer/libqmidictlx_designer.so libQMIDICTLXControl.so \
         usr/share/dbus-1/services/Qmidiexe.QMIDIOLE.service usr/share/qmidi/demo/DEMO.MID; do
  grep -q "$f" "$work/contents" || { echo "FAIL: the package lacks $f"; failures=$((failures + 1)); }
done
((failures == 0)) || exit 1
echo "ok: $(basename "$deb") from a fresh clone, $(wc -l <"$work/contents") entries"
