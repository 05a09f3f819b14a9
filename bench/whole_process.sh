#!/bin/sh
# The whole process, from start to exit: the command-line tool's `info`
# (which parses every track at R = 16, releasing each once it has its header)
# against Debian's midi2abc (package abcmidi) converting the same file, both
# on the generated full piece written to a file. Needs hyperfine; perf, when
# present, adds the page faults of one run of each.
#
#   bench/whole_process.sh [BUILD_DIR] [RUNS]
#
# BUILD_DIR is an optimised build with the benchmarks and the tool
# (default build-release).
set -eu
build=${1:-build-release}
runs=${2:-20}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
piece="$dir/full.mid"
"$build/bench/vastrel_profile_parse" --write "$piece"
hyperfine --warmup 3 --runs "$runs" -N \
    "$build/tools/vastrel info $piece" \
    "midi2abc $piece -o $dir/full.abc"
if command -v perf >/dev/null 2>&1; then
    for command in "$build/tools/vastrel info $piece" "midi2abc $piece -o $dir/full.abc"; do
        faults=$(perf stat -x, -e page-faults $command 2>&1 >/dev/null | grep page-faults | cut -d, -f1)
        echo "page faults: $faults  $command"
    done
fi
