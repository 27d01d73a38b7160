#!/usr/bin/env bash
# Builds the fuzz targets into build-fuzz/ (with clang when it is installed) and runs each over
# the checked-in corpus plus a bounded number of new cases, printing how many runs a second it
# made. A crash, a sanitizer report, a hang or a runaway allocation fails the run.
# FUZZ_SECONDS sets each target's time (default 20), FUZZ_SEED the fuzzer's seed (default 1, so a
# run repeats; another seed explores elsewhere). FUZZ_MERGE=1 adds the new cases that reached
# code the corpus did not to fuzz/corpus/, to be committed.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-20}
compiler=()
command -v clang++ >/dev/null && compiler=(-DCMAKE_CXX_COMPILER=clang++)
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFUZZ=ON -DHARDENING=OFF -DBUILD_TESTING=OFF \
  "${compiler[@]}" >/dev/null
targets=(chunk_walker_fuzz loop_table_fuzz verify_reader_fuzz)
# The longest input each target is given. The verifier's holds two frames of timecode at
# 8000 Hz: enough to reach every step of the reading, small enough for hundreds of runs a second.
declare -A max_len=([chunk_walker_fuzz]=65536 [loop_table_fuzz]=65536 [verify_reader_fuzz]=12288)
cmake --build build-fuzz -j2 --target "${targets[@]}" >/dev/null

# Everything this run makes goes on any exit, Ctrl+C included: the new cases, and the folder the
# targets lay each input down in (in memory, under /dev/shm where it exists).
work=$(mktemp -d -p /dev/shm fuzz-run.XXXXXX 2>/dev/null || mktemp -d)
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
export FUZZ_FOLDER_PARENT=$work
# A small quarantine: freed memory is reused sooner, which keeps the resident size and the page
# faults of each run down; a use after free is still caught within the run.
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=16}

for target in "${targets[@]}"; do
  corpus=fuzz/corpus/${target%_fuzz}
  program=build-fuzz/fuzz/$target
  if [ ${#compiler[@]} -eq 0 ]; then
    "$program" "$corpus"
    continue
  fi
  # New cases go to a scratch folder, so the checked-in corpus stays as it is.
  found=$work/$target
  mkdir -p "$found"
  log=build-fuzz/$target.log
  echo "fuzzing $target for ${seconds} s"
  status=0
  "$program" -seed="${FUZZ_SEED:-1}" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 \
    -max_len="${max_len[$target]}" -print_final_stats=1 -interrupted_exit_code=130 \
    "$found" "$corpus" 2>"$log" || status=$?
  [ "$status" -ne 130 ] || exit 130  # Ctrl+C: stopped, not failed
  if [ "$status" -ne 0 ]; then
    tail -40 "$log"
    echo "$target: the fuzzer found a fault"
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  coverage=$(grep -E '^#[0-9]+\s+DONE' "$log" | grep -oE 'cov: [0-9]+' || true)
  echo "$target: $runs runs, $rate runs a second, $coverage"
  if [ "${FUZZ_MERGE:-0}" = 1 ]; then
    "$program" -merge=1 -max_len="${max_len[$target]}" "$corpus" "$found" 2>>"$log" >/dev/null
    echo "$target: corpus now $(ls "$corpus" | wc -l) inputs, $(du -sh "$corpus" | cut -f1)"
  fi
  rm -rf "$found"
done
echo "fuzzing: ${#targets[@]} passed, 0 failed"
