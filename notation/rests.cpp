// Stages J to O: every silence of a voice filled with rests, the rests of
// several voices that fall together drawn once, each rest given its place on
// the staff, and a rest followed by one of half or double its value written
// as one dotted rest.
#include "notation.h"

// Sections a rest of value bValue covers on grid R (rests are never dotted
// before stage O, and never shorter than one section).
static uint32_t RestSpan(uint8_t bResolution, uint8_t bValue) {
    return ChordSpan(bResolution, bValue, 0);
}

// ---- Stage J: height where a voice sounds ------------------------------------------

static double AverageStep(const SChord* pChord) {
    int32_t nSum = 0, nCount = 0;
    for (const SNote* pNote = pChord->pNotes; pNote; pNote = pNote->pNext) {
        nSum += pNote->cStep;
        ++nCount;
    }
    return static_cast<double>(nSum) / nCount;
}

// A chord's height stands on every section it sounds through, marked, so that
// the silence after it can take its height over.
static void MeasureHeightsOfVoice(SChord* pVoice, uint32_t nSections, uint8_t R) {
    uint32_t k = 0;
    while (k < nSections) {
        SChord* pChord = &pVoice[k];
        pChord->bMark = 0;
        if (!pChord->pNotes) {
            ++k;
            continue;
        }
        double dHeight = AverageStep(pChord);
        uint32_t nSpan = ChordSpan(R, pChord->bValue, pChord->bDotted);
        for (uint32_t i = k; i < k + nSpan && i < nSections; ++i) {
            pVoice[i].dPosition = dHeight;
            pVoice[i].bMark = 1;
        }
        k += nSpan;
    }
}

void MeasureVoiceHeights(SMeasureWalk& walk, SMeasure* pMeasure) {
    uint8_t R = walk.context.bResolution;
    ForEachVoice(pMeasure, [R](SChord* pVoice, uint32_t nSections) { MeasureHeightsOfVoice(pVoice, nSections, R); });
}

// ---- Stage K: height carried into silences ------------------------------------------

// A silence takes the height of the chord before it in its voice; only a
// silence at the start of the measure looks ahead to the chord after it.
static void CarryHeightsOfVoice(SChord* pVoice, uint32_t nSections) {
    const SChord* pLastSounding = nullptr;
    uint32_t k = 0;
    while (k < nSections) {
        if (pVoice[k].bMark) {
            pLastSounding = &pVoice[k];
            ++k;
            continue;
        }
        uint32_t s = k + 1;
        while (s < nSections && !pVoice[s].bMark) ++s;
        const SChord* pSource = pLastSounding ? pLastSounding : (s < nSections ? &pVoice[s] : nullptr);
        // A voice that sounds nowhere in the measure has no height to give.
        if (pSource)
            for (uint32_t i = k; i < s; ++i) pVoice[i].dPosition = pSource->dPosition;
        k = s;
    }
}

void CarryVoiceHeights(SMeasureWalk&, SMeasure* pMeasure) { ForEachVoice(pMeasure, CarryHeightsOfVoice); }

// ---- Stage L: rest values -------------------------------------------------------------

// A silence is filled from the left with the longest rests that fit both what
// is left of the silence and the beat they start on: a rest never starts
// between the beats of a value longer than the grid allows at its position.
static void FillRestsOfVoice(SChord* pVoice, uint32_t nSections, uint8_t R) {
    uint32_t k = 0;
    while (k < nSections) {
        SChord* pChord = &pVoice[k];
        if (pChord->pNotes) {
            k += ChordSpan(R, pChord->bValue, pChord->bDotted);
            continue;
        }
        uint32_t j = k + 1;
        while (j < nSections && !pVoice[j].pNotes) ++j;
        while (k < j) {
            uint32_t nLength = j - k;
            uint32_t nGridRoom = R / GridLevel(R, k);
            if (nGridRoom < nLength) nLength = nGridRoom;
            while (R % nLength != 0) --nLength;
            pVoice[k].bValue = static_cast<uint8_t>(R / nLength);
            k += nLength;
        }
    }
}

void FillRests(SMeasureWalk& walk, SMeasure* pMeasure) {
    uint8_t R = walk.context.bResolution;
    ForEachVoice(pMeasure, [R](SChord* pVoice, uint32_t nSections) { FillRestsOfVoice(pVoice, nSections, R); });
}

// ---- Stage M: shared rests ---------------------------------------------------------------

static bool IsRest(const SChord* pChord) { return !pChord->pNotes && pChord->bValue != 0; }

// The nearest heights above and below a rest's own height at which something
// of another value stands in the section, that is, what would lie between
// this rest and another rest merged into it. Chords of the rest's own value
// and chords already taken into a shared rest are no obstacle.
struct SObstacles {
    bool bAbove;
    double dAbove;  // lowest obstacle strictly above the rest
    bool bBelow;
    double dBelow;  // highest obstacle strictly below the rest
};

static SObstacles ObstaclesAround(const SSection& section, const SChord* pRest) {
    SObstacles obstacles = {false, 0.0, false, 0.0};
    double dHeight = pRest->dPosition;
    for (const SChord* d = section.pChords; d; d = d->pNext) {
        if (d->bValue == pRest->bValue || d->bMark) continue;
        if (d->dPosition > dHeight && (!obstacles.bAbove || d->dPosition < obstacles.dAbove)) {
            obstacles.bAbove = true;
            obstacles.dAbove = d->dPosition;
        } else if (d->dPosition < dHeight && (!obstacles.bBelow || d->dPosition > obstacles.dBelow)) {
            obstacles.bBelow = true;
            obstacles.dBelow = d->dPosition;
        }
    }
    return obstacles;
}

// Something lies strictly between the two heights.
static bool IsBlocked(const SObstacles& obstacles, double dHeight, double dOtherHeight) {
    if (dOtherHeight > dHeight) return obstacles.bAbove && obstacles.dAbove < dOtherHeight;
    if (dOtherHeight < dHeight) return obstacles.bBelow && obstacles.dBelow > dOtherHeight;
    return false;
}

// Rests of one value that several voices start together are drawn once, at
// the mean of their heights, unless a chord of another value stands between
// them. Each later rest is tested against the height of the rest that takes
// it in, as that rest stood before any merging, so the test for one voice
// does not depend on which voices were taken in before it. Taking a rest in
// changes no obstacle of the section (it has the rest's value and becomes
// marked), so the obstacles are found once per rest.
static void ShareRestsOfSection(const SMeasure* pMeasure, uint32_t k, uint8_t R) {
    const SSection& section = pMeasure->pSections[k];
    uint32_t nSections = pMeasure->bSections;
    for (SChord* c = section.pChords; c; c = c->pNext) {
        if (!IsRest(c)) continue;
        SObstacles obstacles = ObstaclesAround(section, c);
        uint32_t nSpan = RestSpan(R, c->bValue);
        double dSum = c->dPosition;
        uint32_t nCount = 1;
        for (SChord* c2 = c->pNext; c2; c2 = c2->pNext) {
            if (!IsRest(c2) || c2->bValue != c->bValue) continue;
            if (IsBlocked(obstacles, c->dPosition, c2->dPosition)) continue;
            dSum += c2->dPosition;
            ++nCount;
            // c2 is the k-th chord of its voice's array: its voice goes on at c2 + 1.
            for (uint32_t i = 0; i < nSpan && k + i < nSections; ++i) c2[i].bMark = 1;
            c2->bValue = 0;
        }
        if (nCount > 1) {
            double dMean = dSum / nCount;
            c->bSharedRest = 1;
            for (uint32_t i = 0; i < nSpan && k + i < nSections; ++i) c[i].dPosition = dMean;
        }
    }
}

// The marks left by the height stages are cleared first. A rest taken in
// marks chords of its own measure only, so each measure is cleared just
// before it is worked on.
void ShareRests(SMeasureWalk& walk, SMeasure* pMeasure) {
    for (SChord* pVoice = VoiceChords(pMeasure, 0); pVoice; pVoice = pVoice->pNext)
        for (uint32_t k = 0; k < pMeasure->bSections; ++k) pVoice[k].bMark = 0;
    for (uint32_t k = 0; k < pMeasure->bSections; ++k) ShareRestsOfSection(pMeasure, k, walk.context.bResolution);
}

// ---- Stage N: rest heights ----------------------------------------------------------------

// A voice count is eight bits wide, so a section never ranks more entries.
static const uint32_t kMaxRanked = 255;

// Ranks the section's chords from the lowest voice height to the highest and
// spreads the rests evenly over the staff's eleven steps by their rank. A
// whole or half rest hangs from or sits on a line, so it takes an even step.
static void PlaceRestsOfSection(const SSection& section) {
    // Only rests get a step: a section where none starts has nothing to rank.
    bool bAnyRest = false;
    for (const SChord* pChord = section.pChords; pChord && !bAnyRest; pChord = pChord->pNext)
        bAnyRest = !pChord->bMark && IsRest(pChord);
    if (!bAnyRest) return;
    SChord* ranked[kMaxRanked];
    uint32_t n = 0;
    for (SChord* pChord = section.pChords; pChord && n < kMaxRanked; pChord = pChord->pNext)
        if (!pChord->bMark) ranked[n++] = pChord;

    // Plain exchange sort; it fixes the order among equal keys. At equal
    // height a stem-down chord ranks below a stem-up one.
    for (uint32_t p = 0; p + 1 < n; ++p) {
        for (uint32_t q = p + 1; q < n; ++q) {
            SChord* a = ranked[p];
            SChord* b = ranked[q];
            if (a->dPosition > b->dPosition || (a->dPosition == b->dPosition && a->bStemUp && !b->bStemUp)) {
                ranked[p] = b;
                ranked[q] = a;
            }
        }
    }

    for (uint32_t i = 0; i < n; ++i) {
        SChord* pChord = ranked[i];
        if (!IsRest(pChord)) continue;
        uint32_t nStep = 11 * (i + 1) / (n + 1) + 1;
        if ((pChord->bValue == 1 || pChord->bValue == 2) && nStep % 2 == 1) {
            --nStep;
            if (nStep == 0) nStep = 2;
        }
        pChord->bRestStep = static_cast<uint8_t>(nStep);
    }
}

void PlaceRests(SMeasureWalk&, SMeasure* pMeasure) {
    for (uint32_t k = 0; k < pMeasure->bSections; ++k) PlaceRestsOfSection(pMeasure->pSections[k]);
}

// ---- Stage O: dotted rests -----------------------------------------------------------------

// A rest followed straight away by a rest of half or double its value becomes
// one dotted rest of the longer value. Shared rests stay as they are: their
// voices need not be silent for the same time afterwards.
static void DotRestsOfVoice(SChord* pVoice, uint32_t nSections, uint8_t R) {
    uint32_t k = 0;
    while (k < nSections) {
        SChord* c = &pVoice[k];
        if (!IsRest(c) || c->bSharedRest) {
            ++k;
            continue;
        }
        uint32_t x = k + RestSpan(R, c->bValue);
        if (x >= nSections) {
            ++k;
            continue;
        }
        SChord* d = &pVoice[x];
        // Compared exactly: twice d's value equals c's, or twice c's equals d's.
        uint32_t nValue = c->bValue, nNextValue = d->bValue;
        if (IsRest(d) && !d->bSharedRest && (nNextValue == 2 * nValue || 2 * nNextValue == nValue)) {
            c->bValue = static_cast<uint8_t>(nValue < nNextValue ? nValue : nNextValue);
            c->bDotted = 1;
            d->bRestStep = 0;
            d->bValue = 0;
        }
        // One and a half times c's length, merged or not.
        k += ChordSpan(R, c->bValue, 1);
    }
}

void DotRests(SMeasureWalk& walk, SMeasure* pMeasure) {
    uint8_t R = walk.context.bResolution;
    ForEachVoice(pMeasure, [R](SChord* pVoice, uint32_t nSections) { DotRestsOfVoice(pVoice, nSections, R); });
}
