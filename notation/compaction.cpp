// Stages P and Q: each measure thinned to the coarsest grid it needs, then
// the chords of the remaining sections finished (value exponents, notes in
// stem order with back links) and the placement lists released.
#include "compaction.h"

// True when a rest that has a place on the staff starts at this section.
static bool DrawnRestAt(const SSection& section) {
    for (const SChord* pChord = section.pChords; pChord; pChord = pChord->pNext)
        if (pChord->bRestStep != 0) return true;
    return false;
}

// The grid a measure needs: the finest level of any section where something
// is drawn (a chord with notes or a rest with a place on the staff), but
// never coarser than one section per beat of the meter.
static uint32_t FinestLevel(uint8_t R, const SMeasure* pMeasure, const SMeasureIndex& index, uint8_t bDenominator) {
    // A position's level depends only on its lowest set bit, and the lowest
    // bit of several positions or-ed together is the lowest of theirs: the
    // finest level of the chords is the level of that one number (the bar
    // line's when no chord starts off it).
    uint32_t nFinest = GridLevel(R, index.silences.nChordStarts);
    // Nothing is finer than the grid itself; a rest counts only where it is
    // finer than the chords.
    if (nFinest < R)
        ForEachInSet(index.rests.aqStarts, index.rests.nWords, [pMeasure, R, &nFinest](uint32_t k) {
            uint32_t nLevel = GridLevel(R, k);
            if (nLevel > nFinest && DrawnRestAt(pMeasure->pSections[k])) nFinest = nLevel;
        });
    if (bDenominator > nFinest) nFinest = bDenominator;
    return nFinest;
}

// Links every s-th section of the measure and nothing else. The sections
// left out stay in the array but are no longer reachable. The measure has
// at least one section (stage P leaves an empty one alone).
static void KeepEverySection(SMeasure* pMeasure, uint32_t s) {
    uint32_t nSections = pMeasure->bSections;
    uint32_t nKept = 1;
    uint32_t q = 0;
    for (; q + s < nSections; q += s, ++nKept) pMeasure->pSections[q].pNext = &pMeasure->pSections[q + s];
    pMeasure->pSections[q].pNext = nullptr;
    // Both the resolution and the meter's denominator are powers of two, so
    // the measure is a whole number of strides and this equals bSections / s.
    pMeasure->bSections = static_cast<uint8_t>(nKept);
}

// Stage P. A measure that repeats the previous meter shows no denominator,
// so the beat of the last meter shown stays in force until the next one.
void CompactSections(const SBuildContext& context, SBeatInForce& beat, SMeasure* pMeasure, const SMeasureIndex& index) {
    uint8_t R = context.bResolution;
    if (pMeasure->bDenominator != 0) beat.bDenominator = pMeasure->bDenominator;
    uint32_t nFinest = FinestLevel(R, pMeasure, index, beat.bDenominator);
    if (nFinest >= R || pMeasure->bSections == 0) return;
    KeepEverySection(pMeasure, R / nFinest);
}

// The rests that have a value lie where stage L started one. Each of them
// has a step (stage N gives every rest one, and stage O takes it only
// together with the value), so compaction kept its section. Every rest lies
// in a silence of its voice, and nothing else starts there: a silence is
// rests one after the other, each over its span (a dotted one over the rest
// it took in), and sections of no value (a rest another voice's shared rest
// stands for), whose exponent is 0 as it stands. So each takes the exponent
// of its value, without asking which, and the walk steps over its span (at
// least one section).
static void SetRestExponents(const SSpans& spans, const SVoiceSilences& silences) {
    for (uint32_t i = 0; i < silences.nSilences; ++i) {
        const SSilence& silence = silences.pSilences[i];
        SChord* pVoice = silence.pVoice;
        for (uint32_t k = silence.bFirst; k < silence.bEnd;) {
            SChord& rest = pVoice[k];
            rest.bValueLog2 = ValueExponent(rest.bValue);
            uint32_t nSpan = spans.abSpan[rest.bValue][rest.bDotted != 0];
            k += nSpan + (nSpan == 0);
        }
    }
}

static void FreeRawNotes(SSection& section) {
    SNote* pNote = section.pRawNotes;
    while (pNote) {
        SNote* pNext = pNote->pNext;
        FreeToTrack(pNote);
        pNote = pNext;
    }
    section.pRawNotes = nullptr;
}

// The chords hold their own copies of the notes, so the lists the placement
// left in the sections are freed. Only the sections listed as placed ever
// held any, and a note left there has a copy in a chord of its section
// (stage F), which compaction kept.
static void FreePlacedNotes(SMeasure* pMeasure, const SPlacedSections& placed) {
    // Read once: each free is a call that could, for all the compiler knows, change them.
    SSection* pSections = pMeasure->pSections;
    const uint8_t* pbEnd = placed.abSection + placed.nSections;
    for (const uint8_t* pb = placed.abSection; pb != pbEnd; ++pb) FreeRawNotes(pSections[*pb]);
}

void SettleRestsAndFreePlacedNotes(const SBuildContext& context, SMeasure* pMeasure, const SMeasureIndex& index) {
    SetRestExponents(*context.pSpans, index.silences);
    FreePlacedNotes(pMeasure, *index.pPlaced);
}

// Every section compaction kept holds the chords with notes.
void FinishChords(const SBuildContext& context, SMeasure* pMeasure, const SMeasureIndex& index) {
    ForEachSoundingChord(index.sounding, [](SChord* pChord, uint32_t) { FinishChord(pChord); });
    SettleRestsAndFreePlacedNotes(context, pMeasure, index);
}
