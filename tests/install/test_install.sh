#!/usr/bin/env bash
# Installs the build into a temporary prefix with `cmake --install`, then
# checks the installation from there (installed_checks.sh) with the source
# and build trees hidden behind empty folders when a private mount namespace
# can be had, so that anything still reaching into them fails.
#   test_install.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$(cd "$1" && pwd -P)
build_dir=$(cd "$2" && pwd -P)
here=$(cd "$(dirname "$0")" && pwd -P)
work=$(mktemp -d /tmp/qmidi-install-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build_dir" --prefix "$prefix" >"$work/install.out" 2>&1 ||
  { cat "$work/install.out"; exit 1; }
cp -r "$here/tiny" "$work/tiny"
cp "$here/installed_checks.sh" "$work/checks.sh"

# The build tree first: it may lie inside the source tree.
hide="mount -t tmpfs -o size=1m qmidi-hidden \"\$2\" && mount -t tmpfs -o size=1m qmidi-hidden \"\$1\""
if unshare -m --propagation private true 2>/dev/null &&
   unshare -m --propagation private sh -c "$hide" sh "$source_dir" "$build_dir" 2>/dev/null; then
  unshare -m --propagation private bash -c \
    "$hide && exec bash \"\$3\" \"\$4\" \"\$5\" \"\$6\" \"\$7\"" \
    bash "$source_dir" "$build_dir" "$work/checks.sh" "$prefix" "$work" "$source_dir" "$build_dir"
  exit $?
fi
echo "note: no private mount namespace; the trees stay in place and only the installed files are searched for them"
cd "$work"
bash "$work/checks.sh" "$prefix" "$work" "$source_dir" "$build_dir"
