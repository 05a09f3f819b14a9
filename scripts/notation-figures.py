#!/usr/bin/env python3
"""How readable the notation of real files is, measured on the MusicXML of
three readers of the same MIDI files: MuseScore 3's own MIDI import, the
vastrel exporter's classic notation (--classic) and its readable one.

On pitched parts only (drums aside: a part on channel 10, a percussion clef or
unpitched notes), for the whole corpus and for its piano files (the manifest's
instrument family "piano": every program 0-7):

  parts on two staves             parts drawn on two staves or more
  ledger lines per note           ledger lines each note needs above or below
                                  the five lines of the clef in force on its
                                  staff (octave clefs included)
  notes on 3+ ledger lines        share of the notes that need three or more
  accidentals per note            <accidental> elements per note
  clef changes per 100            a clef that differs from the one in force on
  staff-measures                  its staff, per 100 measures of every staff

    scripts/notation-figures.py [--corpus DIR] [--tool PATH] [--cache DIR] [--markdown]

MuseScore's import is slow: it is kept in the cache directory (default
/tmp/notation-figures-mscore) and made again only for files missing there.
Only files all three readers open count, so the columns compare like with like.
"""
import argparse
import csv
import os
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

AIMS = {
    "ledger": 0.45,
    "ledger3": 4.0,
    "accidentals": 0.045,
    "clefs": 2.0,
}

DRUM_CHANNEL = 9  # channel 10 as the file counts it

# ---- The MIDI file: which tracks are pitched ----------------------------------------


def read_chunks(data):
    """The header's format and the track chunks' event bytes, as far as the
    file holds them (a RIFF head is passed over)."""
    if data[:4] == b"RIFF" and data[8:12] == b"RMID":
        data = data[20:]
    if data[:4] != b"MThd" or len(data) < 14:
        return None, []
    fmt = struct.unpack(">H", data[8:10])[0]
    pos = 8 + struct.unpack(">I", data[4:8])[0]
    chunks = []
    while pos + 8 <= len(data):
        length = struct.unpack(">I", data[pos + 4:pos + 8])[0]
        if data[pos:pos + 4] == b"MTrk":
            chunks.append(data[pos + 8:pos + 8 + length])
        pos += 8 + length
    return fmt, chunks


def read_varlen(events, pos):
    """A variable-length quantity at pos, and the position after it."""
    value = 0
    while events[pos] & 0x80:
        value = (value << 7) | (events[pos] & 0x7F)
        pos += 1
    return (value << 7) | events[pos], pos + 1


def note_channels(events):
    """The channels on which a chunk strikes a note (a note-on of velocity
    above 0), read until the data ends or an event is malformed."""
    channels = set()
    pos, running = 0, 0
    try:
        while pos < len(events):
            _, pos = read_varlen(events, pos)  # delta time
            status = events[pos]
            if status & 0x80:
                pos += 1
            else:
                status = running
            if status == 0xFF:
                kind = events[pos]
                length, pos = read_varlen(events, pos + 1)
                pos += length
                running = 0
                if kind == 0x2F:
                    break
            elif status in (0xF0, 0xF7):
                length, pos = read_varlen(events, pos)
                pos += length
                running = 0
            elif status >= 0xF0:
                running = 0
                pos += {0xF1: 1, 0xF2: 2, 0xF3: 1}.get(status, 0)
            elif status >= 0x80:
                running = status
                size = 1 if status & 0xE0 == 0xC0 else 2
                if status & 0xF0 == 0x90 and events[pos + 1] > 0:
                    channels.add(status & 0x0F)
                pos += size
            else:
                break
    except IndexError:
        pass
    return channels


def pitched_tracks(path, classic):
    """The track numbers the tool offers whose notes are pitched: format 0's
    channels other than 10; format 1's music chunks with notes not all on
    channel 10 (and, in the readable notation, a conductor chunk that is the
    only chunk and holds notes)."""
    with open(path, "rb") as f:
        fmt, chunks = read_chunks(f.read())
    if fmt is None or not chunks:
        return []
    if fmt == 0:
        channels = note_channels(chunks[0])
        return sorted(c for c in channels if c != DRUM_CHANNEL)
    if len(chunks) == 1:
        return [] if classic or not note_channels(chunks[0]) - {DRUM_CHANNEL} else [0]
    tracks = []
    for number, events in enumerate(chunks[1:]):
        channels = note_channels(events)
        if channels and channels != {DRUM_CHANNEL}:
            tracks.append(number)
    return tracks


# ---- The MusicXML: the figures of one document ----------------------------------------

STEPS = {"C": 0, "D": 1, "E": 2, "F": 3, "G": 4, "A": 5, "B": 6}
# The diatonic degree (octave * 7 + step) of the line each clef sign marks.
CLEF_PITCH = {"G": 4 * 7 + 4, "F": 3 * 7 + 3, "C": 4 * 7 + 0}


def bottom_line(clef):
    """The degree of the bottom staff line under a clef (sign, line, octave
    change), or None for a clef without pitches (percussion, tablature)."""
    sign, line, octave = clef
    if sign not in CLEF_PITCH:
        return None
    return CLEF_PITCH[sign] - 2 * (line - 1) + 7 * octave


def ledger_lines(degree, bottom):
    """Ledger lines a note needs: one for every line below the bottom line
    or above the top one (four lines and so eight degrees up) down or up to it."""
    if degree < bottom:
        return (bottom - degree) // 2
    if degree > bottom + 8:
        return (degree - bottom - 8) // 2
    return 0


def read_clef(element):
    sign = element.findtext("sign", "G").strip()
    line = int(element.findtext("line", {"G": "2", "F": "4", "C": "3"}.get(sign, "3")).strip() or 0)
    octave = int(element.findtext("clef-octave-change", "0").strip() or 0)
    return sign, line, octave


class Figures:
    def __init__(self):
        self.parts = 0
        self.two_staves = 0
        self.notes = 0
        self.ledgers = 0
        self.ledger3 = 0
        self.accidentals = 0
        self.clef_changes = 0
        self.staff_measures = 0

    def add(self, other):
        for key, value in vars(other).items():
            setattr(self, key, getattr(self, key) + value)

    def row(self):
        n = self.notes or 1
        sm = self.staff_measures or 1
        return {
            "two": self.two_staves,
            "parts": self.parts,
            "notes": self.notes,
            "ledger": self.ledgers / n,
            "ledger3": 100.0 * self.ledger3 / n,
            "accidentals": self.accidentals / n,
            "clefs": 100.0 * self.clef_changes / sm,
        }


def is_drum_part(part, drum_ids):
    if part.get("id") in drum_ids:
        return True
    for clef in part.iter("clef"):
        if clef.findtext("sign", "").strip() == "percussion":
            return True
    return part.find(".//unpitched") is not None


def measure_part(part):
    """The figures of one pitched part."""
    figures = Figures()
    figures.parts = 1
    staves = 1
    clefs = {}  # staff number -> clef in force
    pitched_staves = set()
    measures = 0
    for measure in part.iter("measure"):
        measures += 1
        for element in measure:
            if element.tag == "attributes":
                count = element.findtext("staves")
                if count:
                    staves = max(staves, int(count))
                for clef_element in element.findall("clef"):
                    staff = int(clef_element.get("number", "1"))
                    clef = read_clef(clef_element)
                    if staff in clefs and clefs[staff] != clef:
                        figures.clef_changes += 1
                    clefs[staff] = clef
            elif element.tag == "note":
                pitch = element.find("pitch")
                if pitch is None:
                    continue
                staff = int(element.findtext("staff", "1"))
                bottom = bottom_line(clefs.get(staff, ("G", 2, 0)))
                if bottom is None:
                    continue  # a tablature copy, or a drum
                pitched_staves.add(staff)
                degree = 7 * int(pitch.findtext("octave")) + STEPS[pitch.findtext("step").strip()]
                lines = ledger_lines(degree, bottom)
                figures.notes += 1
                figures.ledgers += lines
                figures.ledger3 += lines >= 3
                figures.accidentals += len(element.findall("accidental"))
    note_staves = len(pitched_staves) or 1
    if staves > 1:
        # Staves without pitches (tablature) are not staves of the notation.
        staves_of_notes = sum(1 for s in range(1, staves + 1) if bottom_line(clefs.get(s, ("G", 2, 0))) is not None)
        note_staves = max(note_staves, staves_of_notes)
    figures.two_staves = 1 if note_staves >= 2 else 0
    figures.staff_measures = measures * note_staves
    return figures


def measure_document(path):
    root = ET.parse(path).getroot()
    drum_ids = set()
    for score_part in root.iter("score-part"):
        for channel in score_part.iter("midi-channel"):
            if channel.text and int(channel.text) == DRUM_CHANNEL + 1:
                drum_ids.add(score_part.get("id"))
    figures = Figures()
    for part in root.iter("part"):
        if is_drum_part(part, drum_ids):
            continue
        figures.add(measure_part(part))
    return figures


# ---- The three readers ------------------------------------------------------------------


def musescore_import(midi, cache):
    out = os.path.join(cache, os.path.basename(midi)[:-4] + ".musicxml")
    failed = out + ".failed"
    if os.path.exists(out) and os.path.getsize(out) > 0:
        return out
    if os.path.exists(failed):
        return None
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    env.setdefault("XDG_RUNTIME_DIR", tempfile.mkdtemp())
    try:
        subprocess.run(["mscore3", "-o", out, midi], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=300, check=False)
    except subprocess.TimeoutExpired:
        pass
    if os.path.exists(out) and os.path.getsize(out) > 0:
        return out
    open(failed, "w").close()
    return None


def vastrel_export(tool, midi, classic, work):
    tracks = pitched_tracks(midi, classic)
    if not tracks:
        return None
    out = os.path.join(work, ("classic-" if classic else "readable-") + os.path.basename(midi) + ".musicxml")
    command = [tool, "musicxml", midi, "-o", out] + (["--classic"] if classic else [])
    for track in tracks:
        command += ["--track", str(track)]
    result = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
    return out if result.returncode == 0 and os.path.exists(out) else None


def piano_files(corpus):
    manifest = os.path.join(corpus, "MANIFEST.tsv")
    with open(manifest, newline="") as f:
        return {row["file"] for row in csv.DictReader(f, delimiter="\t") if row["instrument_family"] == "piano"}


COLUMNS = ["MuseScore 3", "vastrel classic", "vastrel readable"]


def table(totals, markdown):
    rows = [
        ("parts on two staves", lambda r: "%d of %d" % (r["two"], r["parts"]), None),
        ("ledger lines per note", lambda r: "%.3f" % r["ledger"], "at most %.2f" % AIMS["ledger"]),
        ("notes on 3 or more ledger lines", lambda r: "%.1f %%" % r["ledger3"], "at most %g %%" % AIMS["ledger3"]),
        ("accidentals shown per note", lambda r: "%.3f" % r["accidentals"], "at most %.3f" % AIMS["accidentals"]),
        ("clef changes per 100 staff-measures", lambda r: "%.2f" % r["clefs"], "at most %g" % AIMS["clefs"]),
    ]
    header = ["figure"] + COLUMNS + ["aim"]
    body = []
    for name, cell, aim in rows:
        body.append([name] + [cell(totals[c].row()) for c in COLUMNS] + [aim or "every keyboard part with both hands"])
    if markdown:
        lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
        lines += ["| " + " | ".join(r) + " |" for r in body]
        return "\n".join(lines)
    widths = [max(len(r[i]) for r in [header] + body) for i in range(len(header))]
    return "\n".join("  ".join(c.ljust(w) for c, w in zip(r, widths)) for r in [header] + body)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--corpus", default=os.path.join(here, "..", "..", "shared", "corpus"))
    parser.add_argument("--tool", default=os.path.join(here, "..", "build", "tools", "vastrel"))
    parser.add_argument("--cache", default="/tmp/notation-figures-mscore")
    parser.add_argument("--markdown", action="store_true", help="print the tables as Markdown")
    parser.add_argument("--per-file", action="store_true", help="print each file's readable figures too")
    args = parser.parse_args()
    os.makedirs(args.cache, exist_ok=True)
    pianos = piano_files(args.corpus)
    groups = {"whole corpus": {c: Figures() for c in COLUMNS}, "piano files": {c: Figures() for c in COLUMNS}}
    counted = {"whole corpus": 0, "piano files": 0}
    with tempfile.TemporaryDirectory() as work:
        for name in sorted(os.listdir(args.corpus)):
            if not name.endswith(".mid"):
                continue
            midi = os.path.join(args.corpus, name)
            documents = {
                "MuseScore 3": musescore_import(midi, args.cache),
                "vastrel classic": vastrel_export(args.tool, midi, True, work),
                "vastrel readable": vastrel_export(args.tool, midi, False, work),
            }
            if not all(documents.values()):
                continue
            try:
                figures = {c: measure_document(documents[c]) for c in COLUMNS}
            except ET.ParseError as error:
                print("%s: %s" % (name, error), file=sys.stderr)
                continue
            if args.per_file:
                r = figures["vastrel readable"].row()
                print("%-60s notes %6d  ledger %.3f  3+ %5.1f%%  acc %.3f  clefs %.2f" %
                      (name, r["notes"], r["ledger"], r["ledger3"], r["accidentals"], r["clefs"]))
            for group in groups:
                if group == "piano files" and name not in pianos:
                    continue
                counted[group] += 1
                for c in COLUMNS:
                    groups[group][c].add(figures[c])
    for group, totals in groups.items():
        notes = totals["vastrel readable"].notes
        print("\n%s: %d files, %d pitched notes (readable)\n" % (group.capitalize(), counted[group], notes))
        print(table(totals, args.markdown))


if __name__ == "__main__":
    main()
