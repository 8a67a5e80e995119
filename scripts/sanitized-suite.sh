#!/usr/bin/env bash
# The suite built with clang under AddressSanitizer and UndefinedBehaviorSanitizer
# and run, then each fuzz target for a bounded time.
#   scripts/sanitized-suite.sh [seconds per fuzz target, default 60]
# Extra CMake arguments (a compiler launcher, the test port) come from
# VANTRA_SANITIZED_CMAKE_ARGS; the build directory is build-asan.
set -euo pipefail
cd "$(dirname "$0")/.."
fuzz_seconds=${1:-60}
build=build-asan

# The benchmarks and the wine tests add nothing under the sanitizers.
# shellcheck disable=SC2086
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DVANTRA_SANITIZE=ON -DVANTRA_FUZZ=ON \
    -DVANTRA_BUILD_BENCH=OFF -DVANTRA_WINDOWS_TESTS=OFF ${VANTRA_SANITIZED_CMAKE_ARGS:-}
cmake --build "$build" -j2

export ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1
export LSAN_OPTIONS="suppressions=$PWD/tests/sanitizers/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$build" --output-on-failure -j2

# The ZIP target writes a package and its files on every run: in memory, not on disk.
scratch_root=/tmp
[ -w /dev/shm ] && scratch_root=/dev/shm
for target in zip chunked settings; do
    found=$(mktemp -d)
    scratch=$(mktemp -d -p "$scratch_root")
    echo "fuzz_$target for ${fuzz_seconds} s"
    TMPDIR=$scratch "$build/tests/fuzz/fuzz_$target" -max_total_time="$fuzz_seconds" -timeout=30 \
        -print_final_stats=1 -artifact_prefix="$build/fuzz-$target-" \
        "$found" "tests/fuzz/corpus/$target"
    rm -rf "$found" "$scratch"
done
