#!/bin/sh
# Installs what the build, the tests and the tools need on a fresh Debian
# machine (run as root, or with sudo available). With --all, also what the
# whole test run needs beyond that: MuseScore, the Windows cross builds and wine.
# With --bench, also what the benchmark scripts compare and count with
# (docs/benchmarks.md): hyperfine, midi2abc, valgrind and perf.
set -e
cd "$(dirname "$0")/.."
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
PACKAGES="build-essential cmake googletest libgtest-dev libbenchmark-dev clang libclang-rt-14-dev nlohmann-json3-dev libcli11-dev libpugixml-dev python3"
# pkg-config for the installed vastrel.pc; dpkg-dev and file for the Debian
# package (cpack finds its dependencies with dpkg-shlibdeps).
PACKAGES="$PACKAGES pkg-config dpkg-dev file"
# MuseScore, to check that a real notation program imports our MusicXML.
[ "$1" = "--all" ] && PACKAGES="$PACKAGES musescore3"
# The score viewer (scripts/build-viewer.sh): emscripten, the acorn its
# JavaScript tools need, Node and npm where the machine has none; with
# --all, Chromium for the viewer's browser tests.
PACKAGES="$PACKAGES emscripten node-acorn"
command -v node >/dev/null 2>&1 || PACKAGES="$PACKAGES nodejs"
command -v npm >/dev/null 2>&1 || PACKAGES="$PACKAGES npm"
[ "$1" = "--all" ] && PACKAGES="$PACKAGES chromium"
[ "$1" = "--bench" ] && PACKAGES="$PACKAGES hyperfine abcmidi valgrind linux-perf"
missing=""
for p in $PACKAGES; do
  dpkg -s "$p" >/dev/null 2>&1 || missing="$missing $p"
done
if [ -n "$missing" ]; then
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $missing
fi
if [ "$1" = "--all" ]; then
  sh scripts/setup-windows.sh
fi
