#!/usr/bin/env bash
# Fails when a C++ file of ours does not follow .clang-format; prints the files to reformat.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h' 2>/dev/null || find src tests bench -name '*.cpp' -o -name '*.h')
bad=$(clang-format --dry-run "${files[@]}" 2>&1 | grep -oE '^[^:]+:[0-9]+:[0-9]+: (warning|error)' | cut -d: -f1 | sort -u || true)
if [ -n "$bad" ]; then
    echo "Not formatted (run clang-format -i on them):"
    echo "$bad"
    exit 1
fi
echo "format: ${#files[@]} files follow .clang-format"
