#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing. The README's
# "Dependencies" section says what each is for.
set -euo pipefail

packages=(
  # the build
  cmake g++ make
  pkg-config
  qt6-base-dev qt6-svg-dev libgl-dev
  qt6-multimedia-dev libqt6multimedia6  # loop's audition; the second ships the backend plugins
  libsndfile1-dev
  # the tests
  libgtest-dev
  fonts-dejavu-core
  desktop-file-utils appstream groff-base
  strace
  pulseaudio pulseaudio-utils  # the audition tests' own sound server, and parec recording it
  # the fuzz targets: clang with libFuzzer and its sanitizers
  clang libclang-rt-14-dev
  sox  # wave files in the layouts other programs write
  lintian dpkg-dev file
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
