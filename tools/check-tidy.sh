#!/usr/bin/env bash
# Fails when clang-tidy finds something in the program's sources (the checks in .clang-tidy).
# Reads the compile database of a configured build folder, whose generated Qt files exist (built).
# Usage: check-tidy.sh BUILD_DIR
set -euo pipefail
build=$(realpath "$1")
cd "$(dirname "$0")/.."
# GCC's warning options that clang does not know are no concern of clang-tidy's.
if ! out=$(run-clang-tidy -p "$build" -j "$(nproc)" -quiet -extra-arg=-Wno-unknown-warning-option \
    "$PWD/src/" 2>&1); then
    grep -E -A4 '(warning|error):' <<<"$out" || echo "$out"
    exit 1
fi
echo "tidy: $(find src -name '*.cpp' | wc -l) source files pass .clang-tidy"
