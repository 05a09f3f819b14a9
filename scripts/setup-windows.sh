#!/bin/sh
# Installs what the Windows cross builds and their tests under wine need on a
# Debian machine (run as root, or with sudo available): MinGW-w64 for i686 in
# its posix-thread variant, GoogleTest's sources, clang with lld and the LLVM
# tools for the build for Microsoft's ABI, 32-bit wine, and zip and unzip for
# the release archive.
set -e
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo

# wine32 is a package of the i386 architecture.
update=""
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  update=yes
fi

PACKAGES="cmake make g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
mingw-w64-i686-dev googletest clang lld llvm wine wine32:i386 zip unzip"
missing=""
for p in $PACKAGES; do
  dpkg -s "$p" >/dev/null 2>&1 || missing="$missing $p"
done
if [ -n "$missing" ] || [ -n "$update" ]; then
  $SUDO apt-get update -qq
fi
if [ -n "$missing" ]; then
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
fi
