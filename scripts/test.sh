#!/bin/sh
# Builds and runs every test: the plain build, then the same suites under
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -e
cd "$(dirname "$0")/.."
JOBS=${JOBS:-$(nproc)}

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$JOBS"
(cd build && ctest --output-on-failure -j "$JOBS")

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVSX_SANITIZE=ON -DVSX_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-asan -j "$JOBS"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j "$JOBS")
