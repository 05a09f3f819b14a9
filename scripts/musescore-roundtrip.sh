#!/bin/sh
# Round trip through a real notation program: writes the bundled example (and
# any MIDI files named on the command line) as MusicXML with the vastrel tool,
# imports each score into MuseScore 3 without a display, and checks that the
# import reports no error and keeps every part's measures and the number of
# notes. Then renders the example to docs/example.png for the README.
#
#   scripts/musescore-roundtrip.sh [FILE.mid ...]
#   BUILD_DIR=build-other scripts/musescore-roundtrip.sh
#
# Installs Debian's musescore3 when it is missing; builds the tool when the
# build directory has none.
set -e
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
TOOL=$BUILD_DIR/tools/vastrel
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo

if ! command -v mscore3 >/dev/null 2>&1; then
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq musescore3
fi
if [ ! -x "$TOOL" ]; then
  cmake -S . -B "$BUILD_DIR" >/dev/null
  cmake --build "$BUILD_DIR" --target vastrel_tool -j "${JOBS:-2}"
fi

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
# No display: Qt draws off screen, and wants a private runtime directory.
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$WORK"

# Measures of every part and pitched notes, in our MusicXML and in the score
# MuseScore made of it (one staff per part).
cat >"$WORK/counts.py" <<'EOF'
import sys
import xml.etree.ElementTree as ET

def ours(path):
    root = ET.parse(path).getroot()
    measures = [len(part.findall("measure")) for part in root.findall("part")]
    notes = sum(1 for note in root.iter("note") if note.find("pitch") is not None)
    return measures, notes

def musescore(path):
    score = ET.parse(path).getroot().find("Score")
    staves = score.findall("Staff")
    return [len(staff.findall("Measure")) for staff in staves], sum(1 for staff in staves for _ in staff.iter("Note"))

written, imported = ours(sys.argv[1]), musescore(sys.argv[2])
label = "%s: measures per part %s, %d notes" % (sys.argv[3], written[0], written[1])
if written != imported:
    sys.exit("FAIL %s; MuseScore has measures %s, %d notes" % (label, imported[0], imported[1]))
print("ok   " + label)
EOF

failed=0
for midi in examples/little-waltz.mid "$@"; do
  name=$(basename "$midi" .mid)
  if ! "$TOOL" musicxml "$midi" -o "$WORK/$name.musicxml"; then
    echo "FAIL $midi: the tool wrote no score"
    failed=1
    continue
  fi
  timeout 300 mscore3 -o "$WORK/$name.mscx" "$WORK/$name.musicxml" >"$WORK/$name.log" 2>&1 || true
  if [ ! -s "$WORK/$name.mscx" ] || grep -q -E "Error at line|not a valid MusicXML|cannot add|empty score" "$WORK/$name.log"; then
    echo "FAIL $midi: MuseScore could not import the score"
    grep -v XDG_RUNTIME_DIR "$WORK/$name.log" | head -20
    failed=1
    continue
  fi
  python3 "$WORK/counts.py" "$WORK/$name.musicxml" "$WORK/$name.mscx" "$midi" || failed=1
done

# The picture in the README: the example's first page, trimmed to the music.
"$TOOL" musicxml examples/little-waltz.mid -o "$WORK/example.musicxml"
timeout 300 mscore3 -T 24 -r 130 -o "$WORK/example.png" "$WORK/example.musicxml" >"$WORK/render.log" 2>&1 || true
if [ -s "$WORK/example-1.png" ]; then
  mkdir -p docs
  cp "$WORK/example-1.png" docs/example.png
  echo "ok   docs/example.png"
else
  echo "FAIL the example was not rendered"
  cat "$WORK/render.log"
  failed=1
fi
exit $failed
