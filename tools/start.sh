#!/usr/bin/env bash
# Builds Brimvale and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DBRIMVALE_BUILD_TESTS=OFF -DBRIMVALE_BUILD_BENCH=OFF >/dev/null
cmake --build build/release --target brimvale
exec build/release/bin/brimvale "$@"
