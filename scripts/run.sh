#!/usr/bin/env bash
# Installs what is missing, builds everything and starts the timecode generator in build/bin,
# where the build has written both tone banks, so Generate writes build/bin/TC.wav. Arguments go
# to vrellok, so `bash scripts/run.sh --length 100000` runs its command line instead.
set -euo pipefail
cd "$(dirname "$0")/.."

# The dialog needs a display; without one, say so before minutes of building, not after. A
# command line (any argument) runs without one.
display_answers() {
  if [ -n "${WAYLAND_DISPLAY:-}" ]; then
    local socket=$WAYLAND_DISPLAY
    [ "${socket#/}" != "$socket" ] || socket=${XDG_RUNTIME_DIR:-/run/user/$(id -u)}/$socket
    [ -S "$socket" ] && return 0
  fi
  [ -n "${DISPLAY:-}" ] || return 1
  # Where x11-utils is installed, ask the X server itself; otherwise the variable has to do.
  if command -v xdpyinfo >/dev/null; then
    timeout 5 xdpyinfo >/dev/null 2>&1
  else
    return 0
  fi
}
# A Qt platform named outright (offscreen, vnc) needs no display either.
if [ $# -eq 0 ] && [ -z "${QT_QPA_PLATFORM:-}" ] && ! display_answers; then
  echo "run.sh: no display to show vrellok's dialog on; run it in a desktop session, or give options for its command line (bash scripts/run.sh --help)" >&2
  exit 1
fi

bash scripts/build.sh
cd build/bin
exec ./vrellok "$@"
