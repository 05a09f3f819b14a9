#!/usr/bin/env python3
"""Counts how well ties and voices hold together in what `vastrel show --json`
makes of MIDI files: the figures a musician notices first when a score is
drawn from a real file.

    scripts/voice-audit.py [--tool build/tools/vastrel] [--resolution 16]
                           [--classic] [--jobs 2] [--json] FILE_OR_DIR...

For every track of every file (a refused track or one without notes is
skipped) it reads the model and counts, for every note tied to a next piece:

  kept        the next piece starts where this one ends, in the same voice
  inside      the next piece is in another voice of the same measure
  bar line    the next piece opens the next measure in another voice
  gap         the next piece starts later than this one ends
  nothing     no next piece of that pitch follows at all

and, for every voice of every measure, whether its notes and rests fill the
measure exactly ("holes": a stretch of the measure where the voice shows
nothing, or where two of its values overlap; rests shared by several voices
stand for a voice where they fill a stretch it leaves empty exactly), with the mean number of voices
per measure. Voices are counted by their place in a section's chord list
(the k-th chord of every section is voice k).

Positions are in grid slots (a section's arrayIndex), a value of v spanning
R / v slots and half as much again with a dot, so no tick rounding enters.
"""
import argparse
import json
import os
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor
from fractions import Fraction


def span(resolution, value, dotted):
    plain = Fraction(resolution, value)
    return plain * 3 / 2 if dotted else plain


def tracks_of(tool, path):
    """The track numbers the tool offers for a file (none when it refuses it)."""
    out = subprocess.run([tool, "info", "--json", path], capture_output=True, text=True)
    if out.returncode != 0:
        return []
    info = json.loads(out.stdout)
    return [t["number"] for t in info.get("tracks", []) if t.get("noteCount", 0)]


def staves_of(model):
    """The measures of every staff: the readable model lists staves, the
    classic one measures."""
    track = model["track"]
    if "staves" in track:
        return [staff["measures"] for staff in track["staves"]]
    return [track["measures"]]


def tiles(start, end, shared):
    """Whether rests shared by several voices tile [start, end) exactly."""
    if start == end:
        return True
    return any(a == start and b <= end and tiles(b, end, shared) for a, b in shared)


def fills(own, shared, length):
    """Whether a voice's own values, in order, fill the measure exactly, a
    rest shared by several voices standing for it where it shows nothing."""
    at = Fraction(0)
    for start, end in own:
        if start < at or not tiles(at, start, shared):
            return False
        at = end
    return at <= length and tiles(at, length, shared)


def audit_measures(measures, resolution, counts):
    numerator, denominator = 4, 4
    lengths = []
    for m in measures:
        if m.get("numerator"):
            numerator, denominator = m["numerator"], m["denominator"]
        lengths.append(Fraction(resolution * numerator, denominator))
    # (measure, start slot, pitch) -> voice of the piece tied in there
    tied_in = {}
    for i, m in enumerate(measures):
        for s in m["sections"]:
            for k, c in enumerate(s["chords"]):
                for n in c["notes"]:
                    if n["tieIn"]:
                        tied_in[(i, Fraction(s["arrayIndex"]), n["pitch"])] = k
    later_in = {}
    for (i, start, pitch) in tied_in:
        later_in.setdefault((i, pitch), []).append(start)
    for i, m in enumerate(measures):
        length = lengths[i]
        counts["measures"] += 1
        counts["voices"] += m["voices"]
        cover = {}
        shared = []  # a rest that stands for equal rests of several voices
        for s in m["sections"]:
            start = Fraction(s["arrayIndex"])
            for k, c in enumerate(s["chords"]):
                if not c["value"]:
                    continue
                end = start + span(resolution, c["value"], c["dotted"])
                cover.setdefault(k, []).append((start, end))
                if c.get("sharedRest"):
                    shared.append((k, start, end))
                for n in c["notes"]:
                    if not n["tieOut"]:
                        continue
                    counts["ties"] += 1
                    if end < length:
                        where = (i, end, n["pitch"])
                        changed = "inside"
                    else:
                        where = (i + 1, end - length, n["pitch"])
                        changed = "bar line"
                    if where in tied_in:
                        counts["kept" if tied_in[where] == k else changed] += 1
                    elif any(t > where[1] for t in later_in.get((where[0], where[2]), [])) or (
                        (where[0] + 1, where[2]) in later_in
                    ):
                        counts["gap"] += 1
                    else:
                        counts["nothing"] += 1
        for k in range(m["voices"]):
            if not fills(sorted(cover.get(k, [])), [(a, b) for j, a, b in shared if j != k], length):
                counts["holes"] += 1


def audit_track(tool, path, track, resolution, extra):
    out = subprocess.run(
        [tool, "show", "--json", "-t", str(track), "-r", str(resolution), *extra, path],
        capture_output=True,
        text=True,
    )
    counts = dict.fromkeys(
        ["tracks", "ties", "kept", "inside", "bar line", "gap", "nothing", "holes", "measures", "voices"], 0
    )
    if out.returncode != 0:
        return counts
    model = json.loads(out.stdout)
    counts["tracks"] = 1
    for measures in staves_of(model):
        audit_measures(measures, resolution, counts)
    return counts


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--tool", default="build/tools/vastrel")
    parser.add_argument("--resolution", type=int, default=16)
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    parser.add_argument("--json", action="store_true", help="print the totals as JSON")
    parser.add_argument("--classic", action="store_true", help="read the classic notation")
    parser.add_argument("paths", nargs="+")
    args = parser.parse_args()
    extra = ["--classic"] if args.classic else []
    files = []
    for p in args.paths:
        if os.path.isdir(p):
            files += sorted(os.path.join(p, f) for f in os.listdir(p) if f.lower().endswith((".mid", ".midi", ".kar")))
        else:
            files.append(p)
    jobs = [(f, t) for f in files for t in tracks_of(args.tool, f)]
    totals = None
    with ThreadPoolExecutor(args.jobs) as pool:
        for counts in pool.map(lambda j: audit_track(args.tool, j[0], j[1], args.resolution, extra), jobs):
            totals = counts if totals is None else {k: totals[k] + counts[k] for k in totals}
    totals = totals or {}
    if args.json:
        print(json.dumps(totals, indent=1))
        return
    ties = max(totals.get("ties", 0), 1)
    print(f"tracks {totals.get('tracks', 0)}, measures {totals.get('measures', 0)}")
    print(f"ties {totals.get('ties', 0)}")
    for key in ["kept", "inside", "bar line", "gap", "nothing"]:
        print(f"  {key:9} {totals.get(key, 0):7}  {100 * totals.get(key, 0) / ties:6.2f} %")
    print(f"voice holes {totals.get('holes', 0)}")
    print(f"voices per measure {totals.get('voices', 0) / max(totals.get('measures', 0), 1):.3f}")


if __name__ == "__main__":
    sys.exit(main())
