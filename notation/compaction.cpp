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

// The sections where chords with notes start, or-ed together, as stage J
// noted them when it ran on the measure in this walk.
static uint32_t ChordStarts(SMeasureWalk& walk, const SMeasure* pMeasure) {
    if (walk.silences.pMeasure == pMeasure) return walk.silences.nChordStarts;
    uint32_t nStarts = 0;
    const SSoundingChords& sounding = SoundingChords(walk, pMeasure);
    for (uint32_t v = 0; v < sounding.nVoices; ++v)
        for (uint32_t i = sounding.anVoiceStart[v]; i < sounding.anVoiceStart[v + 1]; ++i)
            nStarts |= SectionOf(sounding, v, sounding.apChords[i]);
    return nStarts;
}

// The grid a measure needs: the finest level of any section where something
// is drawn (a chord with notes or a rest with a place on the staff), but
// never coarser than one section per beat of the meter.
static uint32_t FinestLevel(SMeasureWalk& walk, const SMeasure* pMeasure, uint8_t bDenominator) {
    uint8_t R = walk.context.bResolution;
    // A position's level depends only on its lowest set bit, and the lowest
    // bit of several positions or-ed together is the lowest of theirs: the
    // finest level of the chords is the level of that one number (the bar
    // line's when no chord starts off it).
    uint32_t nFinest = GridLevel(R, ChordStarts(walk, pMeasure));
    // Nothing is finer than the grid itself; a rest counts only where it is
    // finer than the chords.
    if (nFinest < R)
        ForEachRestStart(walk, pMeasure, [pMeasure, R, &nFinest](uint32_t k) {
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
void CompactSections(SMeasureWalk& walk, SMeasure* pMeasure) {
    uint8_t R = walk.context.bResolution;
    if (pMeasure->bDenominator != 0) walk.bBeatDenominator = pMeasure->bDenominator;
    uint32_t nFinest = FinestLevel(walk, pMeasure, walk.bBeatDenominator);
    if (nFinest >= R || pMeasure->bSections == 0) return;
    KeepEverySection(pMeasure, R / nFinest);
}

// Exponent e with 2^e = bValue (0 for a whole note), for every value a byte
// holds: one more than the exponent of half the value (0 for no value).
struct SExponentTable {
    uint8_t abExponent[256];
};

static constexpr SExponentTable MakeExponentTable() {
    SExponentTable table = {};
    for (uint32_t b = 2; b < 256; ++b) table.abExponent[b] = static_cast<uint8_t>(table.abExponent[b / 2] + 1);
    return table;
}

static constexpr SExponentTable kExponents = MakeExponentTable();

static uint8_t ValueExponent(uint8_t bValue) { return kExponents.abExponent[bValue]; }

// The rests of a section that have a value get its exponent.
static void FinishRestsAt(SSection& section) {
    for (SChord* pChord = section.pChords; pChord; pChord = pChord->pNext)
        if (!pChord->pNotes && pChord->bValue != 0) pChord->bValueLog2 = ValueExponent(pChord->bValue);
}

// The rests that have a value lie where stage L started one. Each of them
// has a step (stage N gives every rest one, and stage O takes it only
// together with the value), so compaction kept its section.
static void FinishRests(const SMeasureWalk& walk, SMeasure* pMeasure) {
    const SVoiceSilences& silences = walk.silences;
    if (silences.pMeasure == pMeasure) {
        // Every rest lies in a silence of its voice, and nothing else starts
        // there: a silence is rests one after the other, each over its span
        // (a dotted one over the rest it took in), and sections of no value
        // (a rest another voice's shared rest stands for), whose exponent is
        // 0 as it stands. So each takes the exponent of its value, without
        // asking which, and the walk steps over its span (stage J's table;
        // no value spans one section).
        const SSpans& spans = walk.spans;
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
        return;
    }
    if (walk.pRestsOf == pMeasure) {
        ForEachStartedRest(walk, [pMeasure](uint32_t k) { FinishRestsAt(pMeasure->pSections[k]); });
        return;
    }
    for (SSection* pSection = pMeasure->pSections; pSection; pSection = pSection->pNext) FinishRestsAt(*pSection);
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
static void FreePlacedNotes(SMeasureWalk& walk, SMeasure* pMeasure) {
    const SPlacedSections& placed = walk.placed;
    if (placed.pMeasure == pMeasure) {
        // Read once: each free is a call that could, for all the compiler knows, change them.
        SSection* pSections = pMeasure->pSections;
        const uint8_t* pbEnd = placed.abSection + placed.nSections;
        for (const uint8_t* pb = placed.abSection; pb != pbEnd; ++pb) FreeRawNotes(pSections[*pb]);
        return;
    }
    for (SSection* pSection = pMeasure->pSections; pSection; pSection = pSection->pNext) FreeRawNotes(*pSection);
}

// Q's rule for one chord with notes: a single note (most chords) is in stem
// order either way and has no note before it.
static void FinishChord(SChord* pChord) {
    if (pChord->pNotes->pNext) OrderChordNotes(pChord);
    else pChord->pNotes->pPrev = nullptr;
    pChord->bValueLog2 = ValueExponent(pChord->bValue);
}

// Whether stages R and S run after this one in the walk.
static bool HeadsAndStringsFollow(const SMeasureWalk& walk) { return WalkRuns(walk, 'R') && WalkRuns(walk, 'S'); }

// Stages Q, R and S chord by chord, in that order for each chord: what R and
// S make of a chord depends on that chord alone, once Q has put its notes in
// stem order. A single note has no head to move and takes its first string.
static void FinishChordsHeadsAndStrings(SMeasure* pMeasure, const SSoundingChords& sounding) {
    for (uint32_t v = 0; v < sounding.nVoices; ++v) {
        const SChord* pVoice = sounding.apVoice[v];
        SChord* const* ppEnd = sounding.apChords + sounding.anVoiceStart[v + 1];
        for (SChord* const* ppChord = sounding.apChords + sounding.anVoiceStart[v]; ppChord != ppEnd; ++ppChord) {
            SChord* pChord = *ppChord;
            pChord->bValueLog2 = ValueExponent(pChord->bValue);
            SNote* pFirst = pChord->pNotes;
            if (!pFirst->pNext) {
                pFirst->pPrev = nullptr;
                FingerLoneNote(pFirst);
                continue;
            }
            OrderChordNotes(pChord);
            if (DisplaceChordHeads(pChord)) pMeasure->pSections[pChord - pVoice].bHeadsLeft = 1;
            FingerChordNotes(pChord);
        }
    }
}

// Stage Q.
void FinishChords(SMeasureWalk& walk, SMeasure* pMeasure) {
    // Every section compaction kept holds the chords with notes.
    const SSoundingChords& sounding = SoundingChords(walk, pMeasure);
    if (HeadsAndStringsFollow(walk)) {
        FinishChordsHeadsAndStrings(pMeasure, sounding);
        walk.pChordsSettledOf = pMeasure;
    } else {
        SChord* const* ppEnd = sounding.apChords + sounding.anVoiceStart[sounding.nVoices];
        for (SChord* const* ppChord = sounding.apChords; ppChord != ppEnd; ++ppChord) FinishChord(*ppChord);
    }
    FinishRests(walk, pMeasure);
    FreePlacedNotes(walk, pMeasure);
}
