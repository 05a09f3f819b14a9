// Stage S in the readable notation: strings and frets from the sounding
// pitch. A guitar track (a guitar program, IsGuitarTrack) is fingered over
// the whole track at once (fingering.h), so that notes
// sounding together never share a string and the hand moves as little as
// the music allows; every other pitched track gets each chord's strings on
// its own, as the classic rule gives them but read from the sounding pitch;
// a drum staff gets none. The record below is what stage S carries from
// measure to measure for that.
#ifndef VASTREL_GUITAR_H
#define VASTREL_GUITAR_H

#include "fingering.h"
#include "notation.h"

// General MIDI's guitars: nylon, steel, jazz, clean, muted, overdriven,
// distortion and harmonics (programs 25 to 32 as the standard counts them).
inline bool IsGuitarProgram(uint8_t bProgram) { return bProgram >= 24 && bProgram <= 31; }

// Whether the track is read as guitar music: a guitar program (not a drum
// staff) whose notes a guitar in standard tuning plays, all but at most one
// in ten of them at or above its lowest string (kLowestGuitarKey, E2). A
// bass line or a low part given a guitar sound lies largely below E2: no
// guitarist plays it as written, and on the guitar's treble clef with an 8
// below it hangs under ledger lines, so it is read as any other pitched
// track. Counted once over the grid's notes (as transposed) before the
// stages run.
bool PlaysAsGuitarPart(const SBuildContext& context);

// Whether the track is read as guitar music, as PlaysAsGuitarPart decided
// it: its note staff is in the treble clef with an 8 below.
inline bool IsGuitarPart(const SBuildContext& context) { return context.bGuitarPart; }

// Whether the track is played on a guitar: a guitar program, not a drum
// staff, in the readable notation with tablature. Its strings are fingered
// over the whole track (whatever lies in the guitar's range, a low part's
// too: its notes sounding together never share a string), and it is never
// split over a grand staff.
inline bool IsGuitarTrack(const SBuildContext& context) {
    return context.options.bGuitarTablature && IsGuitarProgram(context.pTrack->bProgram) &&
           !context.pTrack->bPercussion;
}

// How stage S fingers the track, decided at its first measure.
enum EStringRule : uint8_t {
    kStringsUndecided = 0,
    kStringsClassic,    // the classic rule: keys read an octave above their sound, chord by chord
    kStringsAtSound,    // the classic rule on the sounding pitch
    kStringsOverTrack,  // a guitar's track: the whole track fingered at once when the walk ends
    kStringsNone,       // a drum staff: no strings
};

// One piece of a note of the guitar's track: the piece in the model and the
// note it belongs to (tied pieces belong to one note, which keeps its string).
struct SStringPiece {
    SNote* pNote;
    uint32_t nFretNote;
};

// A chord with notes and the section it starts at, for the measure's pass in
// time order.
struct SChordAt {
    SChord* pChord;
    uint32_t nSection;
};

// What stage S carries over the bar lines. For a guitar's track: every note of
// the track so far (times in grid slots from the start of the track), the
// pieces that copy its string back, and the tie each pitch holds into the
// next piece. The arrays live in the measure index's heap, which goes when
// the walk ends, after stage S has given the notes their strings.
struct SStringsOverTrack {
    EStringRule eRule;
    uint32_t nMeasureSlot;   // grid slot where the measure S is at starts
    uint32_t nMeasureSlots;  // and how many it holds
    uint8_t bNumerator;      // the meter in force (a measure that repeats it shows none)
    uint8_t bDenominator;
    SFretNote* pNotes;
    uint32_t nNotes, nNoteCapacity;
    SStringPiece* pPieces;
    uint32_t nPieces, nPieceCapacity;
    SChordAt* pChords;  // the measure's chords, in section order
    uint32_t nChordCapacity;
    uint32_t anTiedNote[256];  // per (transposed) pitch: 1 + the note a tie continues into its next piece, or 0
};

// S, readable: at each measure, before its chords (decides the rule at the
// first); the rule for one chord with notes; the measure's notes gathered for
// a guitar's track, once its chords are in stem order; at the end of the walk,
// the track fingered and its strings copied to every piece.
void StartMeasureStrings(const SBuildContext& context, SStringsOverTrack& strings, const SMeasure* pMeasure);
void GatherGuitarNotes(const SBuildContext& context, SStringsOverTrack& strings, SMeasureIndex& index);
void FingerGuitarPart(SStringsOverTrack& strings, SMeasureIndex& index);

// The rule for one chord, as the rule of the track says.
inline void FingerChordByRule(const SStringsOverTrack& strings, SChord* pChord) {
    if (strings.eRule == kStringsClassic) FingerChord(pChord);
    else if (strings.eRule == kStringsAtSound) FingerChord(pChord, kOctaveOfWrittenGuitar);
}

#endif
