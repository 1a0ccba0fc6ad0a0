#!/usr/bin/env bash
# Builds Brimvale with its tests and runs every test; then clang-tidy on the sources; then the
# engine's and the command line's tests under ThreadSanitizer, and every test under
# AddressSanitizer with UndefinedBehaviorSanitizer. Warnings are errors in every build.
# With --quick, for a developer's loop: the first build and its tests alone, but for the file
# systems made real (e2e_filesystems*) and the package, the slowest. Other arguments go to each
# ctest run.
#     tools/test.sh [--quick] [CTEST ARGUMENTS...]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
quick=false
arguments=()
for argument in "$@"; do
    if [ "$argument" = --quick ]; then
        quick=true
    else
        arguments+=("$argument")
    fi
done
set -- "${arguments[@]}"

tools/deps.sh
cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRIMVALE_WERROR=ON >/dev/null
cmake --build build/test
if $quick; then
    (cd build/test && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --no-tests=error \
        -j "$(nproc)" -E '^(e2e_filesystems.*|package)$' "$@")
    exit 0
fi
(cd build/test && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --no-tests=error -j "$(nproc)" "$@")

tools/check-tidy.sh build/test

# A sanitizer's report ends the process that made it, with a status that fails its test.
export TSAN_OPTIONS="halt_on_error=1:exitcode=66:second_deadlock_stack=1"
export ASAN_OPTIONS="halt_on_error=1:exitcode=1:detect_leaks=1:check_initialization_order=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export LSAN_OPTIONS="suppressions=$root/tools/sanitizers/lsan.supp:print_suppressions=0"

sanitized_build() { # NAME KIND [TARGET...]
    local dir=build/$1 kind=$2
    shift 2
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRIMVALE_BUILD_BENCH=OFF \
        -DBRIMVALE_WERROR=ON -DBRIMVALE_SANITIZE="$kind" >/dev/null
    cmake --build "$dir" ${1:+--target "$@"}
}

echo "== ThreadSanitizer: the engine's and the command line's tests"
mapfile -t tsan_targets < <(cd tests && ls join/test_*.cpp cli/test_*.cpp | sed 's|/|_|; s|\.cpp$||')
sanitized_build tsan thread "${tsan_targets[@]}"
(cd build/tsan && ctest --output-on-failure --no-tests=error -j "$(nproc)" -L 'join|cli' "$@")

echo "== AddressSanitizer and UndefinedBehaviorSanitizer: every test"
sanitized_build asan address
(cd build/asan && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --no-tests=error -j "$(nproc)" "$@")
