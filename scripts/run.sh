#!/usr/bin/env bash
# Installs what is needed, builds Torvane and starts it with the bundled sample disk image.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTORVANE_TESTS=ON -DTORVANE_BENCH=OFF
cmake --build build --target torvane torvane_fixtures
exec ./build/src/torvane --image "$PWD/build/fixtures/sample.img" "$@"
