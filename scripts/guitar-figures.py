#!/usr/bin/env python3
"""How playable the strings and frets of the guitar tracks are.

Reads every guitar track (General MIDI programs 24 to 31, counted from 0;
drum tracks that name such a program aside) of
the MIDI files in a folder through `vastrel show --json`, once in the
readable notation and once in the classic model (--classic), and prints for
each:

  - notes of keys 40 to 88 (E2 to E6, the range of a guitar in standard
    tuning), how many of them have a string, and how many a string and fret
    that sound them (tuning E2 A2 D3 G3 B3 E4, string 1 the highest);
  - of the notes left without a string, those struck where the notes
    sounding cannot each have a string of their own (two notes below A2,
    seven notes);
  - onsets where two notes sounding together lie on one string (a note
    struck or still held: a tied note is one note over all its pieces);
  - chords (two notes of that range or more struck together) and how many
    of them have their fretted notes within four
    frets (highest fretted minus lowest fretted at most 3; open strings
    free);
  - the mean fret movement from chord to chord: how far the lowest fretted
    note moves from one onset with a fretted note to the next.

    scripts/guitar-figures.py [CORPUS_DIR] [--tool build/tools/vastrel] [--resolution 16]
"""
import argparse
import json
import os
import subprocess
import sys

SOUNDING_OPEN = {1: 64, 2: 59, 3: 55, 4: 50, 5: 45, 6: 40}
LOWEST, HIGHEST = 40, 88


def run_json(tool, args):
    result = subprocess.run([tool] + args + ["--json"], capture_output=True, text=True)
    if result.returncode != 0:
        return None
    return json.loads(result.stdout)


def guitar_tracks(tool, path):
    info = run_json(tool, ["info", path])
    if not info:
        return []
    # A track on channel 10 plays the drum kit whatever program it names.
    return [t["number"] for t in info["tracks"]
            if 24 <= t["program"] <= 31 and t["noteCount"] > 0 and not t.get("percussion")]


def notes_of(show):
    """Notes as (onset, release, key, string, fret), a tied note's pieces joined."""
    division = show["file"]["division"]
    open_ties = {}  # key -> the note its last piece ties on from
    notes = []
    track = show["track"]
    # The classic model has one staff, its measures on the track.
    for staff in track.get("staves") or [{"measures": track["measures"]}]:
        for measure in staff["measures"]:
            for section in measure["sections"]:
                for chord in section["chords"]:
                    if chord["value"] == 0:  # a longer value goes on
                        continue
                    ticks = division * 4 / chord["value"] * (1.5 if chord["dotted"] else 1)
                    for n in chord["notes"]:
                        onset, release = section["time"], section["time"] + ticks
                        note = open_ties.get(n["pitch"])
                        if n["tieIn"] and note is not None and abs(note[1] - onset) <= 1:
                            note[1] = release
                        else:
                            note = [onset, release, n["pitch"], n["string"], n["fret"]]
                            notes.append(note)
                        if n["tieOut"]:
                            open_ties[n["pitch"]] = note
                        else:
                            open_ties.pop(n["pitch"], None)
    notes.sort(key=lambda note: note[0])
    return notes


def fit_on_strings(keys):
    """Whether the keys can sound together, each on a string of its own."""
    choices = [[s for s, key in SOUNDING_OPEN.items() if key <= k <= key + 24] for k in keys]

    def place(i, used):
        return i == len(choices) or any(place(i + 1, used | {s}) for s in choices[i] if s not in used)
    return place(0, frozenset())


def figures(notes):
    f = dict(notes=0, stringed=0, unplayable=0, sounds_right=0, onsets=0, shared_string=0, chords=0, within_four=0, moves=0, movement=0)
    in_range = [n for n in notes if LOWEST <= n[2] <= HIGHEST]
    f["notes"] = len(in_range)
    f["stringed"] = sum(1 for n in in_range if n[3])
    f["sounds_right"] = sum(1 for n in in_range if n[3] and SOUNDING_OPEN[n[3]] + n[4] == n[2])
    onsets = sorted(set(n[0] for n in notes))
    f["onsets"] = len(onsets)
    sounding = []  # notes that may still sound
    i = 0
    previous_low = None
    for onset in onsets:
        struck = []
        while i < len(notes) and notes[i][0] == onset:
            struck.append(notes[i])
            i += 1
        # One tick of slack: section times are whole ticks of a finer grid.
        sounding = [n for n in sounding if n[1] > onset + 1] + struck
        for n in struck:
            if LOWEST <= n[2] <= HIGHEST and not n[3] and not fit_on_strings(
                    [m[2] for m in sounding if LOWEST <= m[2] <= HIGHEST]):
                f["unplayable"] += 1
        strings = [n[3] for n in sounding if n[3]]
        if len(strings) != len(set(strings)):
            f["shared_string"] += 1
        fretted = [n[4] for n in struck if n[3] and n[4] > 0]
        if len([n for n in struck if LOWEST <= n[2] <= HIGHEST]) >= 2:
            f["chords"] += 1
            if not fretted or max(fretted) - min(fretted) <= 3:
                f["within_four"] += 1
        if fretted:
            if previous_low is not None:
                f["moves"] += 1
                f["movement"] += abs(min(fretted) - previous_low)
            previous_low = min(fretted)
    return f


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    here = os.path.dirname(os.path.abspath(__file__))
    parser.add_argument("corpus", nargs="?", default=os.path.join(here, "..", "..", "shared", "corpus"))
    parser.add_argument("--tool", default=os.path.join(here, "..", "build", "tools", "vastrel"))
    parser.add_argument("--resolution", default="16")
    args = parser.parse_args()
    totals = {"classic": {}, "readable": {}}
    tracks = 0
    for name in sorted(os.listdir(args.corpus)):
        if not name.lower().endswith((".mid", ".midi", ".kar", ".rmi")):
            continue
        path = os.path.join(args.corpus, name)
        for track in guitar_tracks(args.tool, path):
            tracks += 1
            for label, extra in (("classic", ["--classic"]), ("readable", [])):
                show = run_json(args.tool, ["show", path, "--track", str(track), "--resolution", args.resolution] + extra)
                if not show:
                    continue
                for key, value in figures(notes_of(show)).items():
                    totals[label][key] = totals[label].get(key, 0) + value
    print("%d guitar tracks" % tracks)
    for label in ("classic", "readable"):
        t = totals[label]
        print("%s: %d notes left without a string, %d of them where the notes sounding cannot each have one" % (
            label, t["notes"] - t["stringed"], t["unplayable"]))
    print("%-9s %6s %8s %16s %14s %6s %14s %9s" % ("", "notes", "strings", "sound right", "shared string",
                                                  "chords", "within four", "movement"))
    for label in ("classic", "readable"):
        t = totals[label]
        print("%-9s %6d %8d %16s %14d %6d %14s %9.2f" % (
            label, t["notes"], t["stringed"],
            "%d (%.1f %%)" % (t["sounds_right"], 100.0 * t["sounds_right"] / max(1, t["notes"])),
            t["shared_string"], t["chords"],
            "%d (%.1f %%)" % (t["within_four"], 100.0 * t["within_four"] / max(1, t["chords"])),
            t["movement"] / max(1, t["moves"])))
    bad = totals["readable"]
    return 0 if bad.get("sounds_right") == bad.get("stringed") and bad.get("shared_string") == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
