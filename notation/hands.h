// Hand separation: which notes of a keyboard part the right hand plays (the
// upper staff of a grand staff) and which the left (the lower staff), and
// whether a track needs the two staves at all.
//
// Method: a shortest path (Viterbi) over the onsets. Published separations
// either learn the hands from performances (recurrent networks, Hadjakos and
// others; Nakamura's merged-output hidden Markov model of both hands'
// fingering) or score the candidate assignments with costs of pitch
// distance, reach and crossing and keep the cheapest sequence by dynamic
// programming, as rule-based voice separation does (Temperley's streams,
// Kilian and Hoos's cost function, Chew and Wu's contigs: pitch proximity
// keeps a line together). The learned models need trained weights and a
// performer's timing; the library gets neither, only a file's notes, so the
// cost model it is, with the costs taken from what a hand can do:
// - the notes struck at one onset form a slice; the hands share a slice
//   only as a split between two neighbouring pitches (lower notes to the
//   left hand), or one hand takes all of it: m notes give m + 1 candidate
//   splits (the widest gaps only when a slice has more than 15 notes);
// - a path through one split per slice carries what it leaves behind: the
//   keys each hand is over and the notes each hand still holds. Each step
//   costs
//   · the reach: a hand's notes of one onset spanning more than an octave
//     cost a little per semitone, more than a tenth (16 semitones, what most
//     hands reach) cost as much as forty semitones of movement; the notes a
//     hand still holds count with what it strikes, up to a fixed cost where
//     the fingers would have to let them go (the pedal may hold them);
//   · the movement: a hand covers an octave without moving, so it is over
//     the keys it struck lately, as far as they lie within an octave of the
//     new ones (a broken chord or an arpeggio figure inside an octave costs
//     nothing after its first round); every semitone the new keys lie
//     outside that costs one, half for a hand that rested through the slice
//     before, and a leap of more than an octave between one onset and the
//     next costs double beyond the octave;
//   · the lines: a note follows one that ends where it starts (or was struck
//     at the onset before), nearest pairs first, within an octave; a step of
//     a line given to the other hand costs 8 within a fourth, 4 for a wider
//     leap. This is what keeps a line in one hand, and it is counted at
//     both ends of a borrowed stretch: a hand that waits while the other
//     plays notes of its line and takes the line back has broken it twice;
//   · the crossing: a left hand sounding above the right hand costs 10 and
//     two per semitone of overlap;
//   · an idle hand: when one hand plays nothing and holds nothing, a chord
//     in the other hand wider than a fifth costs two per semitone beyond,
//     since the free hand could take part of it;
//   · the register, a faint pull (0.05 per semitone) of the left hand below
//     middle C and the right hand above it, only the last word between paths
//     otherwise equal (a fixed split point is the last resort);
// - the cheapest path over all slices wins. The costs depend on more than
//   the split before (where a hand is, what it holds), so this is a beam
//   rather than an exact Viterbi: the three cheapest paths into each split
//   of a slice go on, which lets a path that pays now and saves later (the
//   left hand keeping the bass of a broken chord while the right hand takes
//   its upper notes) survive. Paths that reach the same state (hands over
//   the same keys, holding the same notes) are one; a path dearer than the
//   cheapest by more than a chord out of reach is dropped; and a split that
//   leaves one hand more than a tenth is not tried while another is in
//   reach. The work is O(notes x splits per slice x paths of the slice
//   before): about four steps of the costs above per slice of piano music.
// A note is given a hand once, at its onset, so a held note or one tied over
// bar lines stays in its hand: the caller passes each sounding note once,
// before notes are cut at bar lines.
#ifndef VASTREL_HANDS_H
#define VASTREL_HANDS_H

#include <stddef.h>
#include <stdint.h>

// One note of a track, as it sounds.
struct SHandNote {
    uint32_t dwOn;     // onset, in any unit of time (grid slots or ticks); the array is sorted by it
    uint32_t dwOff;    // release, after dwOn, in the same unit
    uint8_t bKey;      // MIDI key
};

// The hands, as the staves they are written on.
enum EHand {
    kUpperHand = 0,    // right hand, upper staff
    kLowerHand = 1,    // left hand, lower staff
};

// Bytes of scratch SeparateHands needs for nNotes notes.
uint64_t HandScratchBytes(uint32_t nNotes);

// Writes kUpperHand or kLowerHand for every note to pbHand[0..nNotes-1].
// Notes with the same dwOn are one slice: the caller passes onsets already
// on the grid (notes meant together must have the same onset). pScratch
// holds HandScratchBytes(nNotes) bytes, aligned for a 32-bit word.
void SeparateHands(const SHandNote* pNotes, uint32_t nNotes, void* pScratch, uint8_t* pbHand);

// ---- Whether a track needs two staves --------------------------------------------

// The General MIDI programs (0-based) played with both hands on a keyboard
// and written on a grand staff: the pianos, electric pianos, harpsichord and
// clavinet (0-7), the celesta (8), the marimba (12, its solo music is written
// on two staves), the organs (16-20), the accordions (21 and 23; not the
// harmonica, 22) and the harp (46). The other chromatic percussion
// (glockenspiel, music box, vibraphone, xylophone, bells, dulcimer) is
// written on one staff, like every other instrument, unless its range asks
// for two.
bool IsKeyboardProgram(uint8_t bProgram);

// A staff holds about 28 semitones with at most two ledger lines on either
// side (the treble staff from the A below middle C to the D two octaves and
// a sixth above, the bass staff from the C two octaves below middle C to the
// E above it): music wider than that within one measure needs notes on three
// or more ledger lines, or two staves.
static const uint32_t kOneStaffRange = 28;

// Whether a track is written on a grand staff, given its notes (sorted by
// onset), the hands SeparateHands gave them, its General MIDI program and
// the length of a measure in the notes' unit of time (dwMeasure > 0):
// - a keyboard instrument (IsKeyboardProgram) when both hands play: the
//   hand with fewer notes has at least 4 of them and a sixteenth of all;
// - any other pitched instrument when the notes of measures wider than
//   kOneStaffRange (lowest to highest key struck in the measure) are at
//   least a quarter of all its notes: one staff would carry notes on three
//   or more ledger lines, or change clef, all the time.
// Drum tracks are the caller's to leave out.
bool NeedsGrandStaff(uint8_t bProgram, const SHandNote* pNotes, uint32_t nNotes, const uint8_t* pbHand,
                     uint32_t dwMeasure);

#endif
