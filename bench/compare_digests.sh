#!/bin/sh
# Shows that two builds of the library make the very same model: the model
# digest of vastrel_profile_parse from both, on the generated pieces at every
# grid and on every file of the shared corpus at R = 16 and 64.
#
#   bench/compare_digests.sh BASE/vastrel_profile_parse NEW/vastrel_profile_parse [CORPUS_DIR]
#
# With READABLE=1 in the environment both parse in the readable notation.
#
# Prints every difference and ends with a count; exits 1 when any differs.
set -u
base=$1
new=$2
corpus=${3:-$(dirname "$0")/../../shared/corpus}
differences=0
compared=0

digest() {  # program, then its arguments: the digest line, or the error it printed
    "$@" --digest ${READABLE:+--readable} 2>&1 | grep -E '^model digest|\([0-9]+\)$' || echo "no digest"
}

check() {  # a label, then the arguments for both programs
    label=$1
    shift
    a=$(digest "$base" "$@")
    b=$(digest "$new" "$@")
    compared=$((compared + 1))
    if [ "$a" != "$b" ]; then
        differences=$((differences + 1))
        echo "DIFFERS $label: $a / $b"
    fi
}

for r in 2 4 8 16 32 64; do
    check "full R=$r" --resolution "$r"
    check "small R=$r" --resolution "$r" --small
done
if [ -d "$corpus" ]; then
    for f in "$corpus"/*.mid "$corpus"/*.MID "$corpus"/*.midi; do
        [ -f "$f" ] || continue
        for r in 16 64; do check "$(basename "$f") R=$r" --resolution "$r" "$f"; done
    done
fi
echo "$compared digests compared, $differences differ"
[ "$differences" -eq 0 ]
