// Pitch spelling: how a MIDI key is written in a key (letter as a staff
// step, and the alteration of that letter), the glyphs of a key signature,
// and stage D with the memory it carries from measure to measure. Shared by
// the builder and the tests.
#ifndef VASTREL_PITCH_SPELLING_H
#define VASTREL_PITCH_SPELLING_H

#include "notation.h"

// How one pitch class is written in one key.
struct SKeyPitchStep {
    int8_t cStep;          // letter as a staff step within the octave: -1 (the B below) .. 7 (the C above)
    int32_t nAlteration;   // kAccidentalNone .. kAccidentalDoubleFlat (score_model.h)
};

// Rows: keys -7..+7 (row key + 7); columns: pitch classes, 0 = the class of key 60.
extern const SKeyPitchStep g_aKeyPitchSteps[15][12];

// The key a measure is spelled in: -7..+7 as it is, any other value taken
// back into that range by the remainder rule measure creation uses.
int NormalisedKey(int nKey);

// Writes the note's cStep (treble coordinates) for the pitch in the key and
// returns the alteration code of that spelling.
int32_t SpellPitch(uint8_t bPitch, int8_t cKey, SNote* pNote);

// Appends |key| glyphs of kind nKind (kAccidentalSharp, kAccidentalFlat or
// kAccidentalNatural) to the
// measure's key-signature list: at the sharp positions for a key above 0,
// at the flat positions otherwise.
void AddKeyAccidentals(int8_t cKey, SMeasure* pMeasure, int32_t nKind);

// ---- Stage D -------------------------------------------------------------------------

// The measure before the first had no key.
static const int kNoKey = 127;

// Staff steps stage D remembers an accidental for (-42..118).
static const uint32_t kAccidentalSteps = 161;

// What the measures before showed.
struct SShownBefore {
    uint8_t bNumerator;    // meter last shown
    uint8_t bDenominator;
    uint16_t wTempo;       // tempo last shown
    int nKey;              // key of the previous measure (kNoKey before the first)
};

// What stage D carries over the bar line: what was shown before; and for
// every staff step the section that last spelt a note on it (sections
// numbered through the walk), the alteration it left and how many heads
// stand on the step there.
struct SSpellingMemory {
    SShownBefore shown;
    int32_t* pnAlterations;
    uint8_t* pbHeadsOnStep;
    uint32_t anLastSpelt[kAccidentalSteps];  // 0 before any
    uint32_t nNextMeasureSection;            // the number of the next measure's first section
};

// D: meter, tempo and key shown only where they change, key glyphs, staff
// steps and accidentals of the placed notes.
void SpellPitches(const SBuildContext& context, SSpellingMemory& memory, SMeasure* pMeasure,
                  const SMeasureIndex& index);
// The memory before the first measure (from the track's heap), and given back after the last.
void StartSpelling(SSpellingMemory& memory);
void FinishSpelling(SSpellingMemory& memory);

#endif
