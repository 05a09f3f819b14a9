#!/bin/sh
# Proves each way vastrel ships by building a program from nothing but what
# was shipped, and running it:
#   1. the install tree (cmake --install into an empty prefix): its layout and
#      soname, then tests/package built with find_package(vastrel) and again
#      with pkg-config and the compiler alone;
#   2. the Debian package (cpack): its description, dependencies and files,
#      extracted with dpkg-deb -x into a throwaway root (never installed on
#      this machine); the tool run from there, the consumer built against
#      that tree both ways;
#   3. the Windows archive (scripts/make-windows-archive.sh): unpacked into an
#      empty folder, tests/windows/caller.cpp built for each ABI from the
#      archive's files and the cross compiler, and run under wine.
# Uses the plain build in build/ (or BUILD_DIR) and the Windows builds of
# scripts/test-windows.sh, building what they lack. Every step counts as one
# test; the first that fails stops the run. Ends with a ctest-style count.
set -e
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD=$ROOT/${BUILD_DIR:-build}
JOBS=${JOBS:-$(nproc)}
WORK=$(mktemp -d)
EXAMPLE=$ROOT/examples/little-waltz.mid
NOT_MIDI=$ROOT/LICENSE
export WINEDEBUG=-all WINEARCH=win32 WINEPREFIX="$WORK/wineprefix"

step=""
passed=0
finish() {
  status=$?
  [ -d "$WINEPREFIX" ] && { wineserver -k >/dev/null 2>&1 || true; }
  rm -rf "$WORK"
  [ $status -eq 0 ] || echo "FAILED: $step"
  exit $status
}
trap finish EXIT
trap 'exit 1' INT TERM

# begin NAME: the step that runs now; the one before it passed.
begin() {
  if [ -n "$step" ]; then
    passed=$((passed + 1))
    echo "ok: $step"
  fi
  step=$1
}

# has_lines FILE LINE...: every LINE is a line of FILE.
has_lines() {
  file=$1
  shift
  for line in "$@"; do
    grep -qxF -- "$line" "$file" || { echo "missing: $line"; return 1; }
  done
}

# run_consumer PROGRAM LIBDIR [LD_LIBRARY_PATH]: the consumer reads the
# example and is refused the licence, with the library of LIBDIR (the shipped
# one, not another).
run_consumer() {
  LD_LIBRARY_PATH=$3 ldd "$1" | grep -F "libvastrel.so.$MAJOR => $2/libvastrel.so.$MAJOR"
  LD_LIBRARY_PATH=$3 "$1" "$EXAMPLE" "$NOT_MIDI"
}

# consumer_with_cmake NAME PREFIX LIBDIR: tests/package configured against
# PREFIX alone with find_package, built and run (it finds the library
# through the run path CMake gives it).
consumer_with_cmake() {
  cmake -S "$ROOT/tests/package" -B "$WORK/$1" -DCMAKE_PREFIX_PATH="$2" -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF \
        -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF >/dev/null
  grep -qxF "vastrel_DIR:PATH=$2/$LIBDIR/cmake/vastrel" "$WORK/$1/CMakeCache.txt"
  cmake --build "$WORK/$1" >/dev/null
  run_consumer "$WORK/$1/consumer" "$2/$LIBDIR"
}

# consumer_with_pkgconfig NAME PREFIX [SYSROOT]: the consumer compiled with
# the flags pkg-config gives from PREFIX's vastrel.pc only, and run with
# the library folder on the loader's path, as such a build needs.
consumer_with_pkgconfig() {
  flags=$(PKG_CONFIG_LIBDIR="$2/$LIBDIR/pkgconfig" PKG_CONFIG_SYSROOT_DIR="$3" pkg-config --cflags --libs vastrel)
  echo "pkg-config --cflags --libs vastrel: $flags"
  # shellcheck disable=SC2086
  c++ -std=c++17 -Wall -Wextra -Werror "$ROOT/tests/package/consumer.cpp" $flags -o "$WORK/$1"
  run_consumer "$WORK/$1" "$2/$LIBDIR" "$2/$LIBDIR"
}

# ---- 1. The install tree -------------------------------------------------------

begin "build the library and the tool"
[ -f "$BUILD/CMakeCache.txt" ] || cmake -S "$ROOT" -B "$BUILD" >/dev/null
cmake --build "$BUILD" -j "$JOBS" --target vastrel vastrel_tool >/dev/null
VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")
MAJOR=${VERSION%%.*}
LIBDIR=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$BUILD/CMakeCache.txt")

begin "cmake --install into an empty prefix"
PREFIX=$WORK/prefix
cmake --install "$BUILD" --prefix "$PREFIX" >/dev/null
(cd "$PREFIX" && find . ! -type d | sort) >"$WORK/installed"
cat "$WORK/installed"
has_lines "$WORK/installed" ./bin/vastrel ./include/vastrel/vastrel.h ./include/vastrel/score_model.h \
  "./$LIBDIR/libvastrel.so" "./$LIBDIR/libvastrel.so.$MAJOR" "./$LIBDIR/libvastrel.so.$VERSION" \
  "./$LIBDIR/cmake/vastrel/vastrelConfig.cmake" "./$LIBDIR/cmake/vastrel/vastrelConfigVersion.cmake" \
  "./$LIBDIR/cmake/vastrel/vastrelTargets.cmake" "./$LIBDIR/pkgconfig/vastrel.pc" ./share/doc/vastrel/copyright
readelf -d "$PREFIX/$LIBDIR/libvastrel.so.$VERSION" | grep -F "Library soname: [libvastrel.so.$MAJOR]"
"$PREFIX/bin/vastrel" info "$EXAMPLE" >/dev/null

begin "consumer from the install tree with find_package"
consumer_with_cmake cmake-prefix "$PREFIX"

begin "consumer from the install tree with pkg-config"
consumer_with_pkgconfig pkgconfig-prefix "$PREFIX"

# ---- 2. The Debian package -------------------------------------------------------

begin "the Debian package"
cpack --config "$BUILD/CPackConfig.cmake" -B "$WORK/deb" >/dev/null
DEB=$WORK/deb/vastrel_${VERSION}_amd64.deb
dpkg-deb -I "$DEB"
dpkg-deb -f "$DEB" Package Version Section Description Depends >"$WORK/control"
grep -q "^Description: ." "$WORK/control"
for dependency in libc6 libstdc++6 libgcc-s1; do
  grep -q "^Depends:.*\b$dependency\b" "$WORK/control"
done
dpkg-deb -c "$DEB" | awk '{ print $6 }' >"$WORK/packaged"
has_lines "$WORK/packaged" ./usr/bin/vastrel ./usr/include/vastrel/vastrel.h ./usr/include/vastrel/score_model.h \
  "./usr/$LIBDIR/libvastrel.so" "./usr/$LIBDIR/libvastrel.so.$MAJOR" "./usr/$LIBDIR/libvastrel.so.$VERSION" \
  "./usr/$LIBDIR/cmake/vastrel/vastrelConfig.cmake" "./usr/$LIBDIR/pkgconfig/vastrel.pc" \
  ./usr/share/doc/vastrel/copyright

begin "the package's files in a throwaway root"
DEBROOT=$WORK/debroot
dpkg-deb -x "$DEB" "$DEBROOT"
cmp "$DEBROOT/usr/share/doc/vastrel/copyright" "$ROOT/LICENSE"
grep -qxF "prefix=/usr" "$DEBROOT/usr/$LIBDIR/pkgconfig/vastrel.pc"
"$DEBROOT/usr/bin/vastrel" show "$EXAMPLE" >/dev/null

begin "consumer from the package with find_package"
consumer_with_cmake cmake-deb "$DEBROOT/usr"

begin "consumer from the package with pkg-config"
consumer_with_pkgconfig pkgconfig-deb "$DEBROOT/usr" "$DEBROOT"

# ---- 3. The Windows archive -------------------------------------------------------

begin "the Windows archive"
ARCHIVE=$(OUT="$WORK/out" JOBS=$JOBS sh scripts/make-windows-archive.sh)
[ "$(basename "$ARCHIVE")" = "vastrel-$VERSION-win32.zip" ]
mkdir "$WORK/unpacked"
unzip -q "$ARCHIVE" -d "$WORK/unpacked"
W=$WORK/unpacked/vastrel-$VERSION-win32
(cd "$WORK/unpacked" && find . ! -type d | sort) >"$WORK/archived"
cat "$WORK/archived"
printf '%s\n' LICENSE.txt README-windows.txt include/score_model.h include/vastrel.h mingw/libgcc_s_dw2-1.dll \
  mingw/libvastrel.dll.a mingw/libwinpthread-1.dll mingw/vastrel.dll msvc/vastrel.dll msvc/vastrel.lib |
  sed "s|^|./vastrel-$VERSION-win32/|" | diff - "$WORK/archived"
grep -qxF "## Windows$(printf '\r')" "$W/README-windows.txt"

# build_caller COMPILER OPTIONS...: the caller of the Windows tests, built
# with the archive's include folder and linked as OPTIONS say (with one ABI
# folder's import library). Its own support file, the list of the string
# table it checks, comes from tests/windows.
build_caller() {
  compiler=$1
  shift
  "$compiler" -std=c++17 -O2 -Wall -Wextra -Werror "-I$W/include" \
    "-DVSX_STRINGS_DEF=\"$ROOT/resources/strings.def\"" "$ROOT/tests/windows/caller.cpp" "$@"
}

# run_caller ABI: runs the caller beside the DLL under wine; as in the
# Windows tests, a failure is tried once more (wine has been seen to crash a
# program on its way out, after its checks).
run_caller() {
  (cd "$W/$1" && { wine ./caller.exe || wine ./caller.exe; }) | tee "$WORK/caller-$1.log"
  grep -q "^caller: [1-9][0-9]* passed, 0 failed" "$WORK/caller-$1.log"
}

begin "a MinGW caller from the archive, under wine"
mkdir -p "$WINEPREFIX"
wineserver -p
wineboot -i >/dev/null 2>&1 || true
build_caller i686-w64-mingw32-g++-posix -msse2 -mfpmath=sse "$W/mingw/libvastrel.dll.a" -static-libstdc++ -shared-libgcc \
  -o "$W/mingw/caller.exe"
run_caller mingw

begin "a caller for Microsoft's ABI from the archive, under wine"
# No Windows SDK here: the C headers of cmake/msvc-abi/include and import
# libraries of the system DLLs made from their lists stand in for it.
SDK=$WORK/sdk
mkdir "$SDK"
for dll in msvcrt ntdll kernel32 user32; do
  llvm-dlltool -m i386 -k -d "$ROOT/cmake/msvc-abi/$dll.def" -l "$SDK/$dll.lib"
done
build_caller clang++ --target=i686-pc-windows-msvc -fuse-ld=lld-link -nostartfiles -nostdlib -DVSX_MSVC_ABI \
  -isystem "$ROOT/cmake/msvc-abi/include" -fno-stack-protector -D_DLL -D_MT -Xclang --dependent-lib=msvcrt \
  -Wl,/nodefaultlib -Xlinker /subsystem:console "$W/msvc/vastrel.lib" "$SDK/msvcrt.lib" "$SDK/ntdll.lib" \
  "$SDK/kernel32.lib" "$SDK/user32.lib" -o "$W/msvc/caller.exe"
run_caller msvc

begin ""
echo "package: 100% tests passed, 0 tests failed out of $passed"
