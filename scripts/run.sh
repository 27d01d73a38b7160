#!/usr/bin/env bash
# Installs what is missing, builds the timecode generator and both tone banks (the rest is left
# to scripts/test.sh, so the dialog is up in a few minutes on a fresh machine) and starts it in
# build/bin, where the banks are, so Generate writes build/bin/TC.wav. Arguments go
# to vrellok, so `bash scripts/run.sh --length 100000` runs its command line instead.
set -euo pipefail
cd "$(dirname "$0")/.."

# The dialog needs a display; without one, say so before minutes of building, not after. A
# command line (any argument) runs without one. The check is the programs' own: a Wayland socket
# in XDG_RUNTIME_DIR, or for DISPLAY=:n the X server's socket /tmp/.X11-unix/Xn, that something
# listens on (as /proc/net/unix lists it: a socket file left by a server that is gone does not
# count). A remote DISPLAY is left to Qt.
listening() {
  [ -r /proc/net/unix ] || { [ -S "$1" ]; return; }
  awk -v path="$1" -v abstract="@$1" \
    '($8 == path || $8 == abstract) && $4 == "00010000" { found = 1 } END { exit !found }' \
    /proc/net/unix
}
display_answers() {
  local platform=${QT_QPA_PLATFORM:-}
  case $platform in
    '' | xcb* | wayland*) ;;
    *) return 0 ;;  # offscreen, vnc, ...: no display server needed
  esac
  if [[ $platform != xcb* && -n ${WAYLAND_DISPLAY:-} ]]; then
    local socket=$WAYLAND_DISPLAY
    [[ $socket == /* || -z ${XDG_RUNTIME_DIR:-} ]] || socket=$XDG_RUNTIME_DIR/$socket
    [[ $socket == /* ]] && listening "$socket" && return 0
  fi
  [[ $platform != wayland* ]] || return 1
  local display=${DISPLAY:-}
  [[ $display == *:* ]] || return 1
  local host=${display%:*} number=${display##*:}
  number=${number%%.*}
  [[ $number =~ ^[0-9]+$ ]] || return 1
  [[ -z $host || $host == unix ]] || return 0
  listening "/tmp/.X11-unix/X$number"
}
if [ $# -eq 0 ] && ! display_answers; then
  echo "run.sh: no display to show vrellok's dialog on; run it in a desktop session, or give options for its command line (bash scripts/run.sh --help)" >&2
  exit 1
fi

bash scripts/build.sh vrellok tone_bank_files
cd build/bin
exec ./vrellok "$@"
