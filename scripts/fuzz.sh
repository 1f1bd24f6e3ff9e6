#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for the given number of
# seconds (default 30) on its seed corpus. Any crash, sanitizer report, leak or
# timeout fails. Longer runs: scripts/fuzz.sh 3600, or -runs= via FUZZ_ARGS.
# FUZZ_WORKERS=N runs N processes per target on one shared corpus (each with
# the same FUZZ_ARGS, so -runs= counts per process); the report gives the sum.
# Example, ten million executions per target on four processes each:
#   FUZZ_WORKERS=4 FUZZ_ARGS=-runs=2500000 scripts/fuzz.sh 100000
# FUZZ_TARGETS="fuzz_lznt1 fuzz_ntfs_record" runs only the targets named;
# FUZZ_BUILD_DIR (default build-fuzz) lets two runs go side by side.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_PER_TARGET=${1:-30}
JOBS=$(nproc)
BUILD=${FUZZ_BUILD_DIR:-build-fuzz}
WORKERS=${FUZZ_WORKERS:-1}
CC=clang CXX=clang++ cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTORVANE_FUZZ=ON -DTORVANE_GUI=OFF -DTORVANE_TESTS=OFF -DTORVANE_BENCH=OFF
cmake --build "$BUILD" -j "$JOBS"
shopt -s nullglob
targets=("$BUILD"/fuzz/fuzz_*)
if [ "${#targets[@]}" -eq 0 ]; then
  echo "no fuzz targets"
  exit 0
fi
failed=0
pids=()
names=()
logs=()
for t in "${targets[@]}"; do
  [ -x "$t" ] || continue
  name=$(basename "$t")
  if [ -n "${FUZZ_TARGETS:-}" ] && [[ " $FUZZ_TARGETS " != *" $name "* ]]; then continue; fi
  work="$BUILD/runs/$name"
  rm -f "$work"/log "$work"/log.*
  mkdir -p "$work/corpus"
  seeds=()
  [ -d "fuzz/corpus/$name" ] && seeds=("fuzz/corpus/$name")
  for ((w = 1; w <= WORKERS; w++)); do
    log="$work/log"
    [ "$WORKERS" -gt 1 ] && log="$work/log.$w"
    ( "$t" -max_total_time="$SECONDS_PER_TARGET" -timeout=30 -rss_limit_mb=2048 -print_final_stats=1 \
          -artifact_prefix="$work/" ${FUZZ_ARGS:-} "$work/corpus" "${seeds[@]}" > "$log" 2>&1 ) &
    pids+=($!)
    names+=("$name")
    logs+=("$log")
    # keep at most $JOBS fuzzers running at once
    while [ "$(jobs -rp | wc -l)" -ge "$JOBS" ]; do sleep 1; done
  done
done
declare -A total
declare -A bad
for i in "${!pids[@]}"; do
  name=${names[$i]}
  if wait "${pids[$i]}"; then
    n=$(grep -o 'stat::number_of_executed_units: [0-9]*' "${logs[$i]}" | tail -1 | grep -o '[0-9]*$' || echo 0)
    total[$name]=$(( ${total[$name]:-0} + ${n:-0} ))
  else
    echo "fuzz $name: FAILED (${logs[$i]})"; tail -50 "${logs[$i]}"; failed=1; bad[$name]=1
  fi
done
for name in "${!total[@]}"; do
  [ -n "${bad[$name]:-}" ] && continue
  echo "fuzz $name: ok (executed units: ${total[$name]} in $WORKERS process(es))"
done | sort
exit $failed
