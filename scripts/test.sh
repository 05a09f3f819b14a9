#!/bin/sh
# Builds and runs every test:
#   1. the plain build;
#   2. the same suites under AddressSanitizer and UndefinedBehaviorSanitizer;
#   3. the MusicXML export imported by MuseScore;
#   4. the two Windows DLLs (MinGW and Microsoft ABI), their tests under wine;
#   5. a bounded run of the fuzz target.
# Run scripts/setup-debian.sh first on a fresh machine.
set -e
cd "$(dirname "$0")/.."
JOBS=${JOBS:-$(nproc)}

echo "== plain build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$JOBS"
(cd build && ctest --output-on-failure -j "$JOBS")

echo "== MusicXML through MuseScore"
BUILD_DIR=build sh scripts/musescore-roundtrip.sh

echo "== sanitizers"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVSX_SANITIZE=ON -DVSX_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-asan -j "$JOBS"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j "$JOBS")

echo "== Windows DLLs under wine"
sh scripts/test-windows.sh

echo "== fuzzing (bounded)"
FUZZ_SECONDS=${FUZZ_SECONDS:-120} sh scripts/fuzz.sh ci
