#!/usr/bin/env bash
# Installs what is needed, builds Torvane and runs every test:
#   1. the normal build: core tests, widget tests (offscreen), end-to-end tests;
#   2. the core tests again under AddressSanitizer and UndefinedBehaviorSanitizer;
#   3. the tests of what runs on several threads (jobs, search sessions, drive
#      selection, scan-log loads, opening found files, stopping partition
#      searches) under ThreadSanitizer;
#   4. every fuzz target for a short time on its seed corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
JOBS=$(nproc)

echo "== build and test"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$JOBS"
ctest --test-dir build --output-on-failure -j "$JOBS"

echo "== sanitizer build (core tests)"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTORVANE_SANITIZE=ON \
      -DTORVANE_GUI=OFF -DTORVANE_BENCH=OFF
cmake --build build-asan -j "$JOBS"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$JOBS" -L core

echo "== thread sanitizer build (jobs, search sessions, drive selection)"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTORVANE_GUI=OFF -DTORVANE_BENCH=OFF \
      -DCMAKE_CXX_FLAGS=-fsanitize=thread -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread
TSAN_TARGETS=(test_base search_session_test session_open_file_test scan_log_session_test drive_selection_test
              partsearch_disk_test deep_scan_test deep_ntfs_stop_test logical_sweep_test)
cmake --build build-tsan -j "$JOBS" --target "${TSAN_TARGETS[@]}"
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir build-tsan --output-on-failure -j "$JOBS" \
        -R '^(Job|Jobs|SearchSession|Fixtures/SearchSession|SessionOpenFile|Fixtures/SessionOpenFile|ScanLogLoad|ScanSources|DiskNodeScan.Stop|DiskNodeDeepScan.Stop|RemovableMedia.Stop|DeepScan|DeepNtfsStop|LogicalDriveSweep.Stop)'

echo "== fuzz targets (short runs)"
bash scripts/fuzz.sh "${TORVANE_FUZZ_SECONDS:-30}"
