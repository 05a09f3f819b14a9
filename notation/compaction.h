// Stages P and Q: section compaction with the beat it carries from measure
// to measure, and the final pass with its rule for one chord (which the
// builder composes with stage R's and S's rules when they run in the same
// walk).
#ifndef VASTREL_COMPACTION_H
#define VASTREL_COMPACTION_H

#include "notation.h"

// What stage P carries over the bar line: the denominator of the last meter
// shown (a measure that repeats its meter shows none).
struct SBeatInForce {
    uint8_t bDenominator;
};

// P: keep only the coarsest grid each measure needs.
void CompactSections(const SBuildContext& context, SBeatInForce& beat, SMeasure* pMeasure, const SMeasureIndex& index);

// Q: value exponents, note order, raw lists freed: its rule for every chord
// with notes (FinishChord), then the value exponents of the measure's rests
// and the placed notes freed (SettleRestsAndFreePlacedNotes).
void FinishChords(const SBuildContext& context, SMeasure* pMeasure, const SMeasureIndex& index);
void SettleRestsAndFreePlacedNotes(const SBuildContext& context, SMeasure* pMeasure, const SMeasureIndex& index);

// Exponent e with 2^e = bValue (0 for a whole note), for every value a byte
// holds: one more than the exponent of half the value (0 for no value).
struct SExponentTable {
    uint8_t abExponent[256];
};

constexpr SExponentTable MakeExponentTable() {
    SExponentTable table = {};
    for (uint32_t b = 2; b < 256; ++b) table.abExponent[b] = static_cast<uint8_t>(table.abExponent[b / 2] + 1);
    return table;
}

inline constexpr SExponentTable kExponents = MakeExponentTable();

inline uint8_t ValueExponent(uint8_t bValue) { return kExponents.abExponent[bValue]; }

// Q's rule for one chord with notes: its value exponent, and its notes in
// stem order with back links (a single note, most chords, is in stem order
// either way and has no note before it).
inline void FinishChord(SChord* pChord) {
    pChord->bValueLog2 = ValueExponent(pChord->bValue);
    SNote* pFirst = pChord->pNotes;
    if (!pFirst->pNext) pFirst->pPrev = nullptr;
    else OrderChordNotes(pChord);
}

#endif
