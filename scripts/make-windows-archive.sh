#!/bin/sh
# Makes the Windows release archive out/vastrel-<version>-win32.zip (another
# folder with OUT=...) and prints its path:
#
#   vastrel-<version>-win32/
#     README-windows.txt  the Windows section of README.md
#     LICENSE.txt
#     include/            vastrel.h and score_model.h, the same for both builds
#     msvc/               vastrel.dll and vastrel.lib, for callers built with
#                         Microsoft's compiler
#     mingw/              vastrel.dll, libvastrel.dll.a, libgcc_s_dw2-1.dll and
#                         libwinpthread-1.dll, for callers built with MinGW-w64 g++
#
# The DLLs come from the install step of build-win-msvc and build-win-mingw,
# the builds of scripts/test-windows.sh: what is built there is reused, a
# missing build is configured the same way. Run scripts/setup-windows.sh first
# on a fresh machine.
set -e
cd "$(dirname "$0")/.."
ROOT=$(pwd)
JOBS=${JOBS:-$(nproc)}
OUT=${OUT:-$ROOT/out}
STAGE=$(mktemp -d)
trap 'rm -rf "$STAGE"' EXIT

# install_dll <build folder> <toolchain file>: builds the DLL and installs it,
# without its debugging information, into $STAGE/<build folder>.
install_dll() {
  dir="$ROOT/$1"
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S "$ROOT" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/$2" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
          -DVSX_BUILD_TOOLS=OFF -DVSX_BUILD_BENCHMARKS=OFF >/dev/null
  fi
  cmake --build "$dir" -j "$JOBS" --target vastrel >/dev/null
  cmake --install "$dir" --prefix "$STAGE/$1" --strip >/dev/null
}

# text_file <destination>: standard input with Windows line ends.
text_file() {
  sed 's/$/\r/' >"$1"
}

install_dll build-win-msvc toolchain-i686-msvc-clang.cmake
install_dll build-win-mingw toolchain-i686-w64-mingw32.cmake

VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$ROOT/build-win-msvc/CMakeCache.txt")
NAME=vastrel-$VERSION-win32
PACKAGE=$STAGE/$NAME
mkdir -p "$PACKAGE/include" "$PACKAGE/msvc" "$PACKAGE/mingw"
cp "$STAGE/build-win-msvc/include/vastrel/"*.h "$PACKAGE/include/"
cp "$STAGE/build-win-msvc/bin/vastrel.dll" "$STAGE/build-win-msvc/lib/vastrel.lib" "$PACKAGE/msvc/"
cp "$STAGE/build-win-mingw/bin/"*.dll "$STAGE/build-win-mingw/lib/libvastrel.dll.a" "$PACKAGE/mingw/"
{
  echo "vastrel $VERSION for 32-bit Windows"
  echo
  awk '/^## / { inside = ($0 == "## Windows") } inside' README.md
} | text_file "$PACKAGE/README-windows.txt"
text_file "$PACKAGE/LICENSE.txt" <LICENSE

mkdir -p "$OUT"
rm -f "$OUT/$NAME.zip"
(cd "$STAGE" && zip -qrX "$OUT/$NAME.zip" "$NAME")
echo "$OUT/$NAME.zip"
