#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the programs need.
# Idempotent: packages already installed are skipped.
set -euo pipefail

packages=(
  # build and test tools
  g++ cmake ninja-build pkg-config git
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  # engine libraries and their data
  libpng-dev
  qt6-base-dev libgl-dev
  # the control's Qt Designer plugin
  qt6-tools-dev
  libfluidsynth-dev libasound2-dev timgm6mb-soundfont
  libfreetype-dev libfontconfig-dev fonts-ipafont-mincho fonts-ipafont-gothic
  # rendering songs to audio and video files; ffmpeg/ffprobe decode them in
  # the tests, fluidsynth's own renderer is the benchmark's yardstick
  libsndfile1-dev libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libavutil-dev
  ffmpeg fluidsynth
  # running tests without a desktop; the jukebox's desktop tests run a
  # window manager, read window places and drive its media controls
  dbus xvfb xauth python3 openbox x11-utils playerctl
  # installation checks and the Debian package
  desktop-file-utils libxml2-utils shared-mime-info dpkg-dev file binutils
  # the live audio test: a private sound server with a null sink
  pulseaudio pulseaudio-utils
  # the automation example and its test (D-Bus from Python)
  python3-dbus python3-gi
)

missing=()
for p in "${packages[@]}"; do
  [[ "$p" == \#* ]] && continue
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]} == 0)); then
  echo "setup: all ${#packages[@]} packages are installed"
  exit 0
fi

sudo=""
if [[ $(id -u) -ne 0 ]]; then sudo="sudo"; fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y --no-install-recommends "${missing[@]}"
