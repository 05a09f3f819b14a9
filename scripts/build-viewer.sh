#!/bin/sh
# Builds the score viewer into build-viewer/site/, a static page to serve
# (scripts/serve-viewer.sh): the library, its MusicXML exporter and the
# page's glue compiled to WebAssembly with emscripten (in build-viewer/wasm/),
# the page's own modules, Verovio from npm and the bundled example.
# Run scripts/setup-debian.sh first on a fresh machine.
set -e
cd "$(dirname "$0")/.."
# Debian's emscripten runs its JavaScript tools with the machine's Node and
# finds acorn among Debian's Node modules.
export NODE_PATH="${NODE_PATH:+$NODE_PATH:}/usr/share/nodejs"
JOBS=${JOBS:-2}

# JavaScript dependencies exactly as the lock file pins them, installed
# again only when the lock file changed.
if ! cmp -s viewer/package-lock.json viewer/node_modules/.package-lock.json.installed 2>/dev/null; then
  (cd viewer && npm ci --no-audit --no-fund --loglevel=error)
  cp viewer/package-lock.json viewer/node_modules/.package-lock.json.installed
fi

emcmake cmake -S . -B build-viewer/wasm -DCMAKE_BUILD_TYPE=Release \
  -DVSX_BUILD_TOOLS=OFF -DVSX_BUILD_TESTS=OFF -DVSX_BUILD_BENCHMARKS=OFF -Wno-dev >/dev/null
cmake --build build-viewer/wasm -j "$JOBS" --target vastrel_wasm

site=build-viewer/site
rm -rf "$site"
mkdir -p "$site/src" "$site/verovio" "$site/examples"
cp viewer/index.html "$site/"
cp viewer/src/*.js viewer/src/*.css "$site/src/"
cp build-viewer/wasm/wasm/vastrel-wasm.mjs build-viewer/wasm/wasm/vastrel-wasm.wasm "$site/src/"
cp viewer/node_modules/verovio/dist/verovio-module.mjs viewer/node_modules/verovio/dist/verovio.mjs "$site/verovio/"
cp examples/little-waltz.mid "$site/examples/"
echo "viewer built in $site (scripts/serve-viewer.sh serves it)"
