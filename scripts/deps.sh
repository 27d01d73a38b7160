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

# Root installs directly (a bare system has no sudo); anyone else through sudo.
sudo=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    echo "deps.sh: installing ${missing[*]} needs root: run this as root, or install sudo" >&2
    exit 1
  fi
  sudo=(sudo)
fi
# apt's own lines show what it fetches, unpacks and sets up: a first install takes minutes.
# -q drops only the progress meter, which is unreadable in a log.
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get -q update
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -q install -y "${missing[@]}"
