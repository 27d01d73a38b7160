#!/usr/bin/env bash
# Configures and builds into build/ (programs and tone banks land in build/bin): everything, or
# only the targets named (bash scripts/build.sh vrellok tone_bank_files).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
targets=()
[ $# -eq 0 ] || targets=(--target "$@")
cmake --build build -j2 "${targets[@]}"
