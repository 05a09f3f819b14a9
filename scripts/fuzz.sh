#!/bin/sh
# The fuzz target (fuzz/parse_fuzzer.cpp): built with clang's libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer straight from the library
# sources, on the arena heap that poisons the bytes between its blocks and
# every block given back (misuse of the library's memory is seen, leaked
# heaps too, at a fraction of the cost of a malloc per block), and seeded
# with the files fuzz/make_seeds.cpp writes and, when present, the shared
# corpus of real files (read in place).
#
#   scripts/fuzz.sh [ci]         bounded run for CI: FUZZ_SECONDS (default 120)
#   scripts/fuzz.sh long         FUZZ_RUNS executions (default 10 million) shared by FUZZ_JOBS
#                                parallel jobs (default: one per core), at low priority; takes
#                                hours: run it in the background (nohup ... &)
#   scripts/fuzz.sh build        the target and the seeds only
#   scripts/fuzz.sh repro FILE.. each input once (a crash artifact, a regression)
#   scripts/fuzz.sh run ARGS..   the target with libFuzzer arguments of your own
#
# FUZZ_DIR (default build-fuzz) holds the objects, the binary, the seeds, the
# corpus the fuzzer grows and crash artifacts. Needs clang and its runtime
# (Debian: clang libclang-rt-14-dev, listed in scripts/setup-debian.sh), the
# GoogleTest library for the model checker shared with the tests, and pugixml
# to read back the MusicXML every input is exported as.
set -e
ROOT=$(cd "$(dirname "$0")/.." && pwd)
OUT=${FUZZ_DIR:-$ROOT/build-fuzz}
CXX=${FUZZ_CXX:-clang++}
SHARED_CORPUS=$ROOT/../shared/corpus
MODE=${1:-ci}
[ $# -gt 0 ] && shift
if [ "$MODE" = long ]; then MAX_LEN=${FUZZ_MAX_LEN:-2048}; else MAX_LEN=${FUZZ_MAX_LEN:-16384}; fi

CXXFLAGS="-std=c++17 -g -O1 -fno-omit-frame-pointer -Wall -Wextra -I$ROOT/interface"
SANITIZE="-fsanitize=address,undefined -fno-sanitize-recover=undefined"
HEADER_DIRS="$ROOT/interface $ROOT/core $ROOT/smf $ROOT/track $ROOT/notation $ROOT/position $ROOT/platform $ROOT/resources
  $ROOT/musicxml $ROOT/tests/support $ROOT/tests/robustness $ROOT/fuzz"

# The library is instrumented for coverage, without comparison tracing (it
# doubles the cost of the long loops over grid slots, and the dictionary
# supplies the format's magic bytes); the harness and the model checker only
# for the sanitizers, so that their branches do not count as coverage.
LIBRARY_COVERAGE="-fsanitize=fuzzer-no-link -fno-sanitize-coverage=trace-cmp"

# compile COVERAGE SOURCE..: objects of the sources, rebuilt when the source,
# a header or the flags changed; their paths are added to $objects.
compile() {
    coverage=$1
    shift
    for source in "$@"; do
        object=$OUT/obj/$(basename "$(dirname "$source")")_$(basename "$source" .cpp).o
        objects="$objects $object"
        if [ ! -e "$object" ] || [ "$source" -nt "$object" ] || [ $rebuild_all = yes ]; then
            echo "compiling $source"
            # shellcheck disable=SC2086
            $CXX $CXXFLAGS $SANITIZE $coverage -c "$source" -o "$object"
        fi
    done
}

build() {
    mkdir -p "$OUT/obj" "$OUT/seeds" "$OUT/corpus" "$OUT/artifacts"
    target=$OUT/parse_fuzzer
    # Changed flags or a changed header rebuild everything.
    flags="$CXX $CXXFLAGS $SANITIZE $LIBRARY_COVERAGE"
    rebuild_all=no
    if [ ! -e "$target" ] || [ "$(cat "$OUT/obj/flags" 2>/dev/null)" != "$flags" ] ||
        [ -n "$(find $HEADER_DIRS \( -name '*.h' -o -name '*.def' \) -newer "$target" 2>/dev/null | head -1)" ]; then
        rebuild_all=yes
    fi
    objects=""
    compile "$LIBRARY_COVERAGE" "$ROOT"/core/*.cpp "$ROOT"/interface/*.cpp "$ROOT"/smf/*.cpp "$ROOT"/track/*.cpp \
        "$ROOT"/notation/*.cpp "$ROOT"/position/*.cpp "$ROOT"/platform/platform_portable.cpp "$ROOT"/platform/heap_accounting.cpp \
        "$ROOT"/musicxml/*.cpp
    compile "" "$ROOT"/tests/support/model_invariants.cpp "$ROOT"/fuzz/parse_fuzzer.cpp
    echo "$flags" >"$OUT/obj/flags"
    # shellcheck disable=SC2086
    $CXX $SANITIZE -fsanitize=fuzzer $objects -lgtest -lpugixml -lpthread -o "$target"

    seeder=$OUT/make_seeds
    if [ ! -x "$seeder" ] || [ "$ROOT/fuzz/make_seeds.cpp" -nt "$seeder" ] ||
        [ "$ROOT/midiwriter/midi_writer.cpp" -nt "$seeder" ]; then
        $CXX -std=c++17 -O1 -Wall -Wextra "$ROOT/fuzz/make_seeds.cpp" "$ROOT/midiwriter/midi_writer.cpp" -o "$seeder"
    fi
    "$seeder" "$OUT/seeds"
}

# New inputs go to the first folder only; the seeds and the shared corpus are read.
corpora() {
    echo "$OUT/corpus $OUT/seeds"
    [ -d "$SHARED_CORPUS" ] && echo "$SHARED_CORPUS"
    return 0
}

# Inputs are cut to FUZZ_MAX_LEN bytes: a real file's first 16 KiB hold its
# conductor and the start of its tracks; the long run keeps to 2 KiB, which
# is several times faster and reaches the same code.
# A few bytes of delta time can ask for a grid of millions of slots, which
# the sanitizers take tens of seconds to build and walk: the timeout allows
# for that, and fast inputs are mutated more often than slow ones.
OPTIONS="-dict=$ROOT/fuzz/midi.dict -max_len=$MAX_LEN -timeout=${FUZZ_TIMEOUT:-90}
  -rss_limit_mb=${FUZZ_RSS_MB:-4096} -entropic_scale_per_exec_time=1 -artifact_prefix=$OUT/artifacts/
  -print_final_stats=1"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

case $MODE in
build)
    build
    ;;
ci)
    build
    # shellcheck disable=SC2046,SC2086
    "$OUT/parse_fuzzer" $OPTIONS -max_total_time=${FUZZ_SECONDS:-120} $(corpora)
    ;;
long)
    build
    cd "$OUT"
    # Each job makes its share of the executions and writes fuzz-N.log (the
    # logs of an earlier run go first, so that the sum counts this one only);
    # the jobs pick up each other's new inputs from the shared corpus folder.
    rm -f fuzz-*.log
    jobs=${FUZZ_JOBS:-$(nproc)}
    runs=$(( (${FUZZ_RUNS:-10000000} + jobs - 1) / jobs ))
    # shellcheck disable=SC2046,SC2086
    nice -n 19 "$OUT/parse_fuzzer" $OPTIONS -runs=$runs -jobs=$jobs -workers=$jobs $(corpora)
    # The figures of every job, summed.
    grep -h "stat::number_of_executed_units" fuzz-*.log |
        awk '{ total += $2 } END { print "executions of all jobs:", total }'
    ;;
repro)
    build
    # shellcheck disable=SC2086
    "$OUT/parse_fuzzer" $OPTIONS "$@"
    ;;
run)
    build
    "$OUT/parse_fuzzer" "$@"
    ;;
*)
    echo "usage: $0 [ci|long|build|repro FILE..|run ARGS..]" >&2
    exit 2
    ;;
esac
