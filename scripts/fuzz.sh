#!/usr/bin/env bash
# Builds the fuzz targets into build-fuzz/ (with clang when it is installed) and runs each over
# the checked-in corpus plus a bounded number of new cases. A crash, a sanitizer report, a hang
# or a runaway allocation fails the run. FUZZ_SECONDS sets each target's time (default 20),
# FUZZ_SEED the fuzzer's seed (default 1, so a run repeats; another seed explores elsewhere).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-20}
compiler=()
command -v clang++ >/dev/null && compiler=(-DCMAKE_CXX_COMPILER=clang++)
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFUZZ=ON -DHARDENING=OFF -DBUILD_TESTING=OFF \
  "${compiler[@]}" >/dev/null
targets=(chunk_walker_fuzz loop_table_fuzz verify_reader_fuzz)
cmake --build build-fuzz -j2 --target "${targets[@]}" >/dev/null
for target in "${targets[@]}"; do
  corpus=fuzz/corpus/${target%_fuzz}
  if [ ${#compiler[@]} -gt 0 ]; then
    # New cases go to a scratch folder, so the checked-in corpus stays as it is.
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' EXIT
    echo "fuzzing $target for ${seconds} s"
    build-fuzz/fuzz/$target -seed="${FUZZ_SEED:-1}" -max_total_time="$seconds" -timeout=10 \
      -rss_limit_mb=1024 -max_len=65536 -print_final_stats=0 "$scratch" "$corpus" 2>build-fuzz/$target.log ||
      { tail -40 build-fuzz/$target.log; echo "$target: the fuzzer found a fault"; exit 1; }
    grep -E '^(#[0-9]+\s+DONE|Done)' build-fuzz/$target.log | tail -1 || true
    rm -rf "$scratch"
  else
    build-fuzz/fuzz/$target "$corpus"
  fi
done
echo "fuzzing: 3 passed, 0 failed"
