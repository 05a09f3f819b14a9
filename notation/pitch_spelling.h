// Pitch spelling: how a MIDI key is written in a key (letter as a staff
// step, and the alteration of that letter), and the glyphs of a key
// signature. Shared by stage D and its tests.
#ifndef VASTREL_PITCH_SPELLING_H
#define VASTREL_PITCH_SPELLING_H

#include "notation.h"

// Alteration codes, also used as printed accidentals (kNatural is printed only).
enum EAccidental {
    kNoAccidental = 0,
    kSharp = 1,
    kFlat = 2,
    kDoubleSharp = 3,
    kDoubleFlat = 4,
    kNatural = 5,
};

// How one pitch class is written in one key.
struct SKeyPitchStep {
    int8_t cStep;          // letter as a staff step within the octave: -1 (the B below) .. 7 (the C above)
    int32_t nAlteration;   // kNoAccidental .. kDoubleFlat
};

// Rows: keys -7..+7 (row key + 7); columns: pitch classes, 0 = the class of key 60.
extern const SKeyPitchStep g_aKeyPitchSteps[15][12];

// Treble staff steps of the key-signature glyphs, in drawing order.
extern const uint8_t g_abSharpSteps[7];
extern const uint8_t g_abFlatSteps[7];

// The key a measure is spelled in: -7..+7 as it is, any other value taken
// back into that range by the remainder rule measure creation uses.
int NormalisedKey(int nKey);

// Writes the note's cStep (treble coordinates) for the pitch in the key and
// returns the alteration code of that spelling.
int32_t SpellPitch(uint8_t bPitch, int8_t cKey, SNote* pNote);

// Appends |key| glyphs of kind nKind (kSharp, kFlat or kNatural) to the
// measure's key-signature list: at the sharp positions for a key above 0,
// at the flat positions otherwise.
void AddKeyAccidentals(int8_t cKey, SMeasure* pMeasure, int32_t nKind);

#endif
