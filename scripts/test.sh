#!/bin/sh
# Builds and runs every test:
#   1. the plain build;
#   2. the same suites under AddressSanitizer and UndefinedBehaviorSanitizer;
#   3. the MusicXML export imported by MuseScore;
#   4. the two Windows DLLs (MinGW and Microsoft ABI), their tests under wine;
#   5. the install tree, the Debian package and the Windows archive, each used
#      by a program built from it alone;
#   6. a bounded run of the fuzz target;
#   7. the score viewer built as WebAssembly and tested in headless Chromium.
# Run scripts/setup-debian.sh first on a fresh machine.
set -e
cd "$(dirname "$0")/.."
JOBS=${JOBS:-$(nproc)}
LOGS=$(mktemp -d)
trap 'rm -rf "$LOGS"' EXIT

# run_suite NAME COMMAND...: runs a test command, shows its output and keeps
# it for the count at the end; fails as the command does.
run_suite() {
  name=$1
  shift
  status=0
  "$@" >"$LOGS/$name.log" 2>&1 || status=$?
  cat "$LOGS/$name.log"
  return $status
}

echo "== plain build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$JOBS"
run_suite plain ctest --test-dir build --output-on-failure -j "$JOBS"

echo "== MusicXML through MuseScore"
BUILD_DIR=build sh scripts/musescore-roundtrip.sh

echo "== sanitizers"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVSX_SANITIZE=ON -DVSX_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-asan -j "$JOBS"
export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1
run_suite asan ctest --test-dir build-asan --output-on-failure -j "$JOBS"

echo "== Windows DLLs under wine"
run_suite windows sh scripts/test-windows.sh

echo "== packages: install tree, Debian package, Windows archive"
run_suite package sh scripts/test-package.sh

echo "== fuzzing (bounded)"
FUZZ_SECONDS=${FUZZ_SECONDS:-120} sh scripts/fuzz.sh ci

echo "== score viewer in the browser"
sh scripts/build-viewer.sh
run_suite viewer node --test viewer/test/

# Every suite passed (a failure stops the script above): the count of all of
# them (ctest's summaries, and node's test runner's "# pass N").
total=$(cat "$LOGS"/*.log | sed -n -e 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' -e 's/^# pass \([0-9]*\)$/\1/p' | awk '{s += $1} END {print s + 0}')
echo "all test runs: $total passed, 0 failed"
