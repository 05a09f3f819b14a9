#!/bin/sh
# Round trip through a real notation program: writes the bundled example (and
# any MIDI files named on the command line) as MusicXML with the vastrel tool,
# the example once more with its guitar tablature staves, a piano piece of
# the shared corpus on a grand staff (when the corpus is there), imports each score
# into MuseScore 3 without a display, and checks that the import reports no
# error and keeps every staff's measures and the number of notes. A drum
# groove written here (channel 10) goes the same way, and its part must come
# back as a drum staff: MuseScore's percussion staff with its drumset, each
# drum we wrote with the key we gave it and every x head kept. Then
# renders the example to docs/example.png for the README.
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

# Measures of every staff and pitched notes, in our MusicXML (a part has as
# many staves as its first measure says) and in the score MuseScore made of it.
cat >"$WORK/counts.py" <<'EOF'
import collections
import sys
import xml.etree.ElementTree as ET

def ours(path):
    root = ET.parse(path).getroot()
    measures = []
    for part in root.findall("part"):
        staves = int(part.findtext("measure/attributes/staves") or 1)
        measures += [len(part.findall("measure"))] * staves
    notes = sum(1 for note in root.iter("note") if note.find("pitch") is not None or note.find("unpitched") is not None)
    return measures, notes

def musescore(path):
    score = ET.parse(path).getroot().find("Score")
    staves = score.findall("Staff")
    return [len(staff.findall("Measure")) for staff in staves], sum(1 for staff in staves for _ in staff.iter("Note"))

# Strings and frets on the tablature staves: ours count strings from 1,
# MuseScore's from 0, both from the highest. MuseScore fingers anew where
# notes struck together cross strings (a higher note on a lower string) or
# share one (two voices), as the model's fingering may have them; a note
# struck alone (alone in its section, which its id names) keeps the model's
# string and fret.
def our_lone_frets(path):
    sections = {}
    for note in ET.parse(path).getroot().iter("note"):
        # The TAB staff's copies (ids ending in -tab), not a grand staff's lower staff.
        if note.get("id", "").endswith("-tab") and note.find("pitch") is not None:
            section = note.get("id").rsplit("-v", 1)[0]
            place = (int(note.findtext("notations/technical/string")) - 1, int(note.findtext("notations/technical/fret")))
            sections.setdefault(section, []).append(place)
    return collections.Counter(notes[0] for notes in sections.values() if len(notes) == 1)

def musescore_frets(path):
    return collections.Counter((int(note.findtext("string")), int(note.findtext("fret")))
                               for note in ET.parse(path).getroot().iter("Note") if note.find("fret") is not None)

# A percussion part of ours (a percussion clef) must be a drum staff in
# MuseScore's score: a percussion staff type, a drumset holding every key our
# instruments name (midi-unpitched counts from 1), and as many cross heads as
# we wrote x heads.
def drum_staff(ours_path, musescore_path):
    root = ET.parse(ours_path).getroot()
    if root.find("part/measure/attributes/clef[sign='percussion']") is None:
        return None
    keys = {int(u.text) - 1 for u in root.iter("midi-unpitched")}
    crosses = sum(1 for head in root.iter("notehead") if head.text == "x")
    score = ET.parse(musescore_path).getroot().find("Score")
    percussion = score.find(".//StaffType[@group='percussion']") is not None
    drums = {int(d.get("pitch")) for d in score.iter("Drum")}
    their_crosses = sum(1 for note in score.iter("Note") if note.findtext("head") == "cross")
    if not percussion or not keys <= drums or their_crosses != crosses:
        return "MuseScore has no drum staff (percussion %s, drums %s of %s, %d of %d x heads)" % (
            percussion, sorted(keys & drums), sorted(keys), their_crosses, crosses)
    return ""

written, imported = ours(sys.argv[1]), musescore(sys.argv[2])
label = "%s: measures per staff %s, %d notes" % (sys.argv[3], written[0], written[1])
# A piano piece must come back as a part of two staves: MuseScore makes one
# staff of the score for each of the part's staves, so the two are as many
# as the part said, with as many measures.
if len(sys.argv) > 4 and sys.argv[4] == "grand":
    parts = ET.parse(sys.argv[1]).getroot().findall("part")
    if not any(part.findtext("measure/attributes/staves") == "2" and part.find("measure/attributes/part-symbol") is not None
               for part in parts):
        sys.exit("FAIL %s: no part on a grand staff" % label)
if written != imported:
    sys.exit("FAIL %s; MuseScore has measures %s, %d notes" % (label, imported[0], imported[1]))
if our_lone_frets(sys.argv[1]) - musescore_frets(sys.argv[2]):
    sys.exit("FAIL %s; MuseScore moved notes struck alone to other strings or frets" % label)
drums = drum_staff(sys.argv[1], sys.argv[2])
if drums:
    sys.exit("FAIL %s; %s" % (label, drums))
print("ok   " + label + ("" if drums is None else ", a drum staff"))
EOF

# Two bars of a rock groove on channel 10 (format 1, 96 ticks a quarter):
# closed hi-hat eighths (an open one at the end), snare on two and four,
# bass drum on one, three and three-and, a crash on the first beat.
cat >"$WORK/groove.py" <<'EOF'
import struct
import sys

def varlen(n):
    out = [n & 0x7F]
    while n > 127:
        n >>= 7
        out.insert(0, 0x80 | (n & 0x7F))
    return bytes(out)

hits = []
for bar in range(2):
    start = bar * 384
    for eighth in range(8):
        hits.append((start + eighth * 48, 46 if bar == 1 and eighth == 7 else 42))
    hits += [(start + 96, 38), (start + 288, 38), (start, 36), (start + 192, 36), (start + 240, 36)]
hits.append((0, 49))
events = sorted([(t, 0x99, k, 100) for t, k in hits] + [(t + 12, 0x89, k, 0) for t, k in hits])
data, now = b"", 0
for t, status, key, velocity in events:
    data += varlen(t - now) + bytes([status, key, velocity])
    now = t
data += b"\x00\xff\x2f\x00"
conductor = b"\x00\xff\x58\x04\x04\x02\x18\x08\x00\xff\x2f\x00"
with open(sys.argv[1], "wb") as f:
    f.write(b"MThd" + struct.pack(">IHHH", 6, 1, 2, 96))
    for chunk in (conductor, data):
        f.write(b"MTrk" + struct.pack(">I", len(chunk)) + chunk)
EOF
python3 "$WORK/groove.py" "$WORK/drum-groove.mid"

failed=0
# Each entry: a MIDI file, ":tab" for the score with tablature staves, and
# ":N" after that for track N alone; ":grand" for one that must hold a part
# on a grand staff.
# A corpus guitar track with its tablature, when the corpus is at hand: the
# readable strings of the sounding pitch, on a TAB staff tuned E2 ... E4.
GUITAR=../shared/corpus/gh-midifilejs__AtTheLake.mid
# (Its channel 13, a steel guitar: channel 10, though it names a steel
# guitar's program, plays the drum kit and is a drum staff.)
[ -f "$GUITAR" ] && set -- "$GUITAR:tab:12" "$@"
# A piano piece in one track, both hands: read back as a part of two staves.
PIANO=../shared/corpus/npm-midiconvert__bwv-847.mid
[ -f "$PIANO" ] && set -- "$PIANO:grand" "$@"
for entry in examples/little-waltz.mid examples/little-waltz.mid:tab "$WORK/drum-groove.mid" "$@"; do
  midi=${entry%%:*}
  name=$(basename "$midi" .mid)
  options=""
  check=""
  case "$entry" in
    *:tab:*) name=$name-tab; options="--tablature --track ${entry##*:}" ;;
    *:tab) name=$name-tab; options=--tablature ;;
    *:grand) check=grand ;;
  esac
  # shellcheck disable=SC2086
  if ! "$TOOL" musicxml "$midi" $options -o "$WORK/$name.musicxml"; then
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
  python3 "$WORK/counts.py" "$WORK/$name.musicxml" "$WORK/$name.mscx" "$midi${options:+ $options}" $check || failed=1
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
