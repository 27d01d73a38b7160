#!/usr/bin/env bash
# Installs what is missing, builds everything, runs the whole test suite, then the fuzz targets.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
ctest --test-dir build --output-on-failure
bash scripts/fuzz.sh
