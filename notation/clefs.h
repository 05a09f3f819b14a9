// Clef selection (stage H): the ledger-line measure it decides by, and the
// clef it carries from measure to measure.
#ifndef VASTREL_CLEFS_H
#define VASTREL_CLEFS_H

#include "notation.h"

#include <stdint.h>

// Ledger lines a note on drawing position s needs on a five-line staff with
// its lines on steps 2 to 10: above the top line one for every two steps
// from step 12 up, below the bottom line one for every two steps from step
// 0 down. A measure needs as many as the farther end of its range.
constexpr uint32_t LedgerLines(int64_t s) {
    if (s >= 12) return static_cast<uint32_t>((s - 10) / 2);
    if (s <= 0) return static_cast<uint32_t>((2 - s) / 2);
    return 0;
}

// What stage H carries over the bar line: the clef in effect (kNoClef until
// a measure with notes has been seen) and whether the measure before held a
// note tied over the bar line.
struct SClefInEffect {
    int32_t nClef;
    bool bTiedOver;
};

// H: a clef per measure, steps and key glyphs shifted to drawing positions.
// Its pass over the notes (TallyStruckNotes, notation.h) finds the range and
// tallies the struck notes into the index.
void ChooseClefs(const SBuildContext& context, SClefInEffect& clef, SMeasure* pMeasure, SMeasureIndex& index);
// The same given the range that pass has found, for the builder when it
// runs the pass with stage G's rule.
void ChooseClefForRange(const SBuildContext& context, SClefInEffect& clef, SMeasure* pMeasure, SMeasureIndex& index,
                        SStepRange range);

#endif
