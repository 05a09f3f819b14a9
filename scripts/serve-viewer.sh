#!/bin/sh
# Serves the built viewer (scripts/build-viewer.sh) on http://127.0.0.1:PORT/
# (default 8080), on the loopback address only. Ctrl-C stops it.
set -e
cd "$(dirname "$0")/.."
[ -f build-viewer/site/index.html ] || { echo "serve-viewer: build the page first: scripts/build-viewer.sh" >&2; exit 1; }
exec node viewer/serve.js build-viewer/site "${1:-8080}"
