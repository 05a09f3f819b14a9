#!/bin/sh
# Cross-builds vastrel.dll twice, for callers built with MinGW
# (build-win-mingw) and for callers built with Microsoft's compiler
# (build-win-msvc), and runs the tests of each under wine with ctest.
# Run scripts/setup-windows.sh first on a fresh machine.
#
# Each build has its own wine prefix. Its wine server is started once before
# ctest and kept running (otherwise each test program would start wine's
# background services itself, and ctest would wait on them), and is stopped
# at the end however the tests went.
set -e
cd "$(dirname "$0")/.."
ROOT=$(pwd)
JOBS=${JOBS:-$(nproc)}
export WINEDEBUG=-all WINEARCH=win32

stop_wine() {
  if [ -n "$WINEPREFIX" ] && [ -d "$WINEPREFIX" ]; then
    wineserver -k >/dev/null 2>&1 || true
  fi
}
trap stop_wine EXIT INT TERM

# build_and_test <build folder> <toolchain file>
build_and_test() {
  dir="$ROOT/$1"
  cmake -S "$ROOT" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/$2" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DVSX_BUILD_TOOLS=OFF -DVSX_BUILD_BENCHMARKS=OFF >/dev/null
  cmake --build "$dir" -j "$JOBS"

  export WINEPREFIX="$dir/wineprefix"
  mkdir -p "$WINEPREFIX"
  wineserver -p
  wineboot -i >/dev/null 2>&1 || true  # slow once: makes the prefix
  status=0
  # A test that fails is run once more before it counts: wine has been seen
  # to crash a program on its way out once in thousands of runs, after the
  # test had finished. A fault of the library fails both times.
  (cd "$dir" && ctest --output-on-failure -j "$JOBS" --timeout 300 --repeat until-pass:2) || status=$?
  stop_wine
  return $status
}

build_and_test build-win-mingw toolchain-i686-w64-mingw32.cmake
build_and_test build-win-msvc toolchain-i686-msvc-clang.cmake
