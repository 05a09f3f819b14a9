// Strings and frets a guitarist can play: every note of a guitar track gets
// a string and a fret of a six-string guitar in standard tuning, chosen over
// the whole track at once so that notes sounding together never share a
// string, a chord lies under one hand, and the hand moves as little as the
// music allows. The classic tablature (tablature.h) reads keys an octave
// higher and fingers each chord on its own; this one reads keys as they
// sound, the way MIDI files store guitar.
//
// The method is a shortest path through the track, slice by slice (a slice
// is the notes that start together), as published work on guitar fingering
// frames it (Sayegh's optimum path paradigm; Radicioni and Lombardo's graph
// of fingered positions, whose weights follow Heijink and Meulenbroek's
// study of the left hand; Tuohy and Potter's playability measure). Each
// step of the path is one way of fingering a slice; its cost is what the
// left hand pays to reach and hold it. The costs, small integers:
//
//   within a slice (what the chord asks of the hand)
//   - a note left without a string: 100000. Dropping a note outweighs every
//     other cost, so the path drops the fewest notes the music allows.
//   - a fretted note: 2; an open string: 0. Open strings need no finger and
//     leave the hand free to move, so a guitarist takes them where they fit.
//   - the span of the fretted notes (highest fret - lowest fret): 0 to 3
//     cost nothing, since four fingers cover four adjacent frets; 4 costs
//     12 and 5 costs 30 (a stretch); 6 and 7 cost 200 and 500, a stretch
//     only a chord that nothing nearer sounds asks for (a cluster of
//     semitones: A3 B flat 3 C4 lies over six frets however it is taken);
//     more than 7 is out of reach and never chosen. Four fingers at most: notes on the lowest fret may
//     share one finger as a barre, unless an open string lies between them.
//   between slices (what moving the hand costs)
//   - the hand is a window of four frets, placed by its index finger (the
//     "position"); a slice whose fretted notes lie in the window costs no
//     movement. Moving it costs 4 plus 2 per fret: Heijink and Meulenbroek
//     found the distance the hand travels the main source of difficulty,
//     and any shift at all interrupts a line, hence the fixed part. The
//     window may land where the move is least, or with the index on the
//     lowest fretted note, or with the little finger on the highest, so a
//     run up or down the neck is taken in one shift rather than fret by fret.
//   - the position itself: a quarter per fret, at every slice, so the lower
//     positions win where they serve as well (they are where most guitar
//     music is read and played), yet a run high on the neck stays in its
//     position rather than slide down string by string to save it.
//   - notes still held from earlier slices keep their strings (a new note
//     may not take one: the string would stop the held note) and, when
//     fretted, keep a finger down: they count into the span of the slice,
//     and a slice whose notes lie more than five frets from a held fretted
//     note costs 400 (the held note would have to be let go).
//
// The path keeps the best kFingeringBeam partial fingerings after each slice
// (a beam), each with its hand position and the strings still sounding,
// merging two that leave the same hand and strings behind. For every slice
// the fingerings of its notes are listed once per set of strings held by the
// beam's partial fingerings, the cheapest few kept.
//
// A slice of more than six notes keeps six: a repeated key first, then an
// inner note whose pitch class another note doubles, then the inner notes
// from the second lowest up; the bass and the top voice stay. A slice that
// cannot be fingered whole beside the held strings drops the fewest notes
// that make it playable.
#ifndef VASTREL_FINGERING_H
#define VASTREL_FINGERING_H

#include <stdint.h>

// Open-string keys as they sound (E2 A2 D3 G3 B3 E4), string 1 (the highest)
// first; frets run from 0 (open) to 24.
inline constexpr uint8_t g_abSoundingOpenStrings[6] = {64, 59, 55, 50, 45, 40};
inline constexpr uint8_t kLowestGuitarKey = 40;   // E2, string 6 open
inline constexpr uint8_t kHighestGuitarKey = 88;  // E6, string 1 fret 24

// One note to finger. The caller fills the times and the key; the fingering
// fills the string and the fret.
struct SFretNote {
    uint32_t dwOnset;    // when the note starts, in grid slots or ticks
    uint32_t dwRelease;  // when it stops sounding, same unit; at or after dwOnset
    uint8_t bKey;        // sounding MIDI key
    uint8_t bString;     // out: 1 (high E) to 6 (low E); 0 outside 40..88 or dropped
    uint8_t bFret;       // out: 0 to 24; 0 without a string
};

// How many partial fingerings the path keeps after each slice.
inline constexpr uint32_t kFingeringBeam = 8;

// Working memory of one slice: which fingering each kept partial fingering
// chose and the one it came from, read back once the last slice is done.
struct SFingeringStep {
    uint32_t adwChoice[kFingeringBeam];
};

// Fingers the notes of one track. pNotes holds all its notes, every voice,
// in order of onset (notes of one onset adjacent, in any order); a note held
// from an earlier onset is simply an earlier note whose dwRelease lies past
// the later onset, so the caller passes nothing else for it. Times should be
// the written ones (grid slots): a release a few ticks past the next onset
// in played legato counts as held. pSteps is working memory of nNotes
// records (the track heap's or the caller's). Returns how many notes of keys
// 40 to 88 were left without a string; those and the notes outside the range
// have string 0 and fret 0.
uint32_t FingerNotes(SFretNote* pNotes, uint32_t nNotes, SFingeringStep* pSteps);

#endif
