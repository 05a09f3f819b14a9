// Stages P and Q: each measure thinned to the coarsest grid it needs, then
// the chords of the remaining sections finished (value exponents, notes in
// stem order with back links) and the placement lists released.
#include "notation.h"

// True when a rest that has a place on the staff starts at this section.
static bool DrawnRestAt(const SSection& section) {
    for (const SChord* pChord = section.pChords; pChord; pChord = pChord->pNext)
        if (pChord->bRestStep != 0) return true;
    return false;
}

// The grid a measure needs: the finest level of any section where something
// is drawn (a chord with notes or a rest with a place on the staff), but
// never coarser than one section per beat of the meter.
static uint32_t FinestLevel(SMeasureWalk& walk, const SMeasure* pMeasure, uint8_t bDenominator) {
    uint8_t R = walk.context.bResolution;
    uint32_t nFinest = 1;  // the bar line itself
    const SSoundingChords& sounding = SoundingChords(walk, pMeasure);
    for (uint32_t v = 0; v < sounding.nVoices; ++v)
        for (uint32_t i = sounding.anVoiceStart[v]; i < sounding.anVoiceStart[v + 1]; ++i) {
            uint32_t nLevel = GridLevel(R, SectionOf(sounding, v, sounding.apChords[i]));
            if (nLevel > nFinest) nFinest = nLevel;
        }
    for (uint32_t k = NextRestStart(walk, pMeasure, 0); k < pMeasure->bSections;
         k = NextRestStart(walk, pMeasure, k + 1)) {
        if (!DrawnRestAt(pMeasure->pSections[k])) continue;
        uint32_t nLevel = GridLevel(R, k);
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
    uint32_t nFinest = FinestLevel(walk, pMeasure, walk.bBeatDenominator);
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
    for (uint32_t i = 0; i < sounding.anVoiceStart[sounding.nVoices]; ++i) {
        SChord* pChord = sounding.apChords[i];
        OrderChordNotes(pChord);
        pChord->bValueLog2 = ValueExponent(pChord->bValue);
    }
    for (SSection* pSection = pMeasure->pSections; pSection; pSection = pSection->pNext) {
        // The rests that have a value lie where stage L started one.
        if (RestMayStartAt(walk, pMeasure, static_cast<uint32_t>(pSection - pMeasure->pSections)))
            for (SChord* pChord = pSection->pChords; pChord; pChord = pChord->pNext)
                if (!pChord->pNotes && pChord->bValue != 0) pChord->bValueLog2 = ValueExponent(pChord->bValue);
        SNote* pNote = pSection->pRawNotes;
        while (pNote) {
            SNote* pNext = pNote->pNext;
            FreeToTrack(pNote);
            pNote = pNext;
        }
        pSection->pRawNotes = nullptr;
    }
}
