#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for the given number of
# seconds (default 30) on its seed corpus. Any crash, sanitizer report, leak or
# timeout fails. Longer runs: scripts/fuzz.sh 3600, or -runs= via FUZZ_ARGS.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_PER_TARGET=${1:-30}
JOBS=$(nproc)
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTORVANE_FUZZ=ON -DTORVANE_GUI=OFF -DTORVANE_TESTS=OFF -DTORVANE_BENCH=OFF
cmake --build build-fuzz -j "$JOBS"
shopt -s nullglob
targets=(build-fuzz/fuzz/fuzz_*)
if [ "${#targets[@]}" -eq 0 ]; then
  echo "no fuzz targets"
  exit 0
fi
failed=0
pids=()
names=()
for t in "${targets[@]}"; do
  [ -x "$t" ] || continue
  name=$(basename "$t")
  work="build-fuzz/runs/$name"
  mkdir -p "$work/corpus"
  seeds=()
  [ -d "fuzz/corpus/$name" ] && seeds=("fuzz/corpus/$name")
  ( "$t" -max_total_time="$SECONDS_PER_TARGET" -timeout=30 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/" \
        ${FUZZ_ARGS:-} "$work/corpus" "${seeds[@]}" > "$work/log" 2>&1 ) &
  pids+=($!)
  names+=("$name")
  # keep at most $JOBS fuzzers running at once
  while [ "$(jobs -rp | wc -l)" -ge "$JOBS" ]; do sleep 1; done
done
for i in "${!pids[@]}"; do
  if wait "${pids[$i]}"; then
    echo "fuzz ${names[$i]}: ok ($(grep -o 'stat::number_of_executed_units: [0-9]*' build-fuzz/runs/${names[$i]}/log | tail -1))"
  else
    echo "fuzz ${names[$i]}: FAILED"; tail -50 "build-fuzz/runs/${names[$i]}/log"; failed=1
  fi
done
exit $failed
