// Stages P and Q: each measure thinned to the coarsest grid it needs, then
// the chords of the remaining sections finished (value exponents, notes in
// stem order with back links) and the placement lists released.
#include "notation.h"

// True when something is drawn starting at this section: a chord with notes
// or a rest that has a place on the staff.
static bool SomethingStartsAt(const SSection* pSection) {
    for (const SChord* pChord = pSection->pChords; pChord; pChord = pChord->pNext)
        if (pChord->pNotes || pChord->bRestStep != 0) return true;
    return false;
}

// The grid a measure needs: the finest level of any section where something
// starts, but never coarser than one section per beat of the meter.
static uint32_t FinestLevel(const SMeasure* pMeasure, uint8_t bResolution, uint8_t bDenominator) {
    uint32_t nFinest = 1;  // the bar line itself
    uint32_t p = 0;
    for (const SSection* pSection = pMeasure->pSections; pSection; pSection = pSection->pNext, ++p) {
        if (!SomethingStartsAt(pSection)) continue;
        uint32_t nLevel = GridLevel(bResolution, p);
        if (nLevel > nFinest) nFinest = nLevel;
    }
    if (bDenominator > nFinest) nFinest = bDenominator;
    return nFinest;
}

// Links every s-th section of the measure and nothing else. The sections
// left out stay in the array but are no longer reachable.
static void KeepEverySection(SMeasure* pMeasure, uint32_t s) {
    uint32_t nSections = pMeasure->bSections;
    uint32_t nKept = 0;
    for (uint32_t q = 0; q < nSections; q += s) {
        SSection* pSection = &pMeasure->pSections[q];
        pSection->pNext = q + s < nSections ? &pMeasure->pSections[q + s] : nullptr;
        ++nKept;
    }
    // Both the resolution and the meter's denominator are powers of two, so
    // the measure is a whole number of strides and this equals bSections / s.
    pMeasure->bSections = static_cast<uint8_t>(nKept);
}

// Stage P. A measure that repeats the previous meter shows no denominator,
// so the beat of the last meter shown stays in force until the next one.
void CompactSections(SMeasureWalk& walk, SMeasure* pMeasure) {
    uint8_t R = walk.context.bResolution;
    if (pMeasure->bDenominator != 0) walk.bBeatDenominator = pMeasure->bDenominator;
    uint32_t nFinest = FinestLevel(pMeasure, R, walk.bBeatDenominator);
    if (nFinest >= R || pMeasure->bSections == 0) return;
    KeepEverySection(pMeasure, R / nFinest);
}

// Exponent e with 2^e = bValue (0 for a whole note).
static uint8_t ValueExponent(uint8_t bValue) {
    uint8_t e = 0;
    while ((1u << (e + 1)) <= bValue) ++e;
    return e;
}

// Stage Q. The chords hold their own copies of the notes, so the lists the
// placement left in the sections are freed here.
void FinishChords(SMeasureWalk& walk, SMeasure* pMeasure) {
    // Every section compaction kept holds the chords with notes.
    const SSoundingChords& sounding = SoundingChords(walk, pMeasure);
    for (uint32_t i = 0; i < sounding.anVoiceStart[sounding.nVoices]; ++i) OrderChordNotes(sounding.apChords[i]);
    for (SSection* pSection = pMeasure->pSections; pSection; pSection = pSection->pNext) {
        for (SChord* pChord = pSection->pChords; pChord; pChord = pChord->pNext)
            if (pChord->bValue != 0) pChord->bValueLog2 = ValueExponent(pChord->bValue);
        SNote* pNote = pSection->pRawNotes;
        while (pNote) {
            SNote* pNext = pNote->pNext;
            FreeToTrack(pNote);
            pNote = pNext;
        }
        pSection->pRawNotes = nullptr;
    }
}
