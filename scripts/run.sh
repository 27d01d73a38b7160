#!/usr/bin/env bash
# Installs what is missing, builds everything and starts the timecode generator in build/bin,
# where the build has written both tone banks, so Generate writes build/bin/TC.wav.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
cd build/bin
exec ./vrellok
