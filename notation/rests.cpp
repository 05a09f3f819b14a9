// Stages J to O: every silence of a voice filled with rests, the rests of
// several voices that fall together drawn once, each rest given its place on
// the staff, and a rest followed by one of half or double its value written
// as one dotted rest.
#include "notation.h"

// ---- Where a voice sounds --------------------------------------------------------------

// A voice sounds from each chord with notes through the sections its value
// covers; a chord that starts while an earlier one still covers its section
// adds nothing to where the voice sounds. The sections no stretch covers are
// its silences. Calls sound(chord, first, end) for every stretch [first, end)
// where voice v sounds, with the chord that starts it, and silence(first,
// end) for every silence, in order, ends cut at the bar line. Returns the
// sections where its chords start, or-ed together.
template <typename VisitStretch, typename VisitSilence>
static uint32_t FollowVoice(const SSoundingChords& sounding, uint32_t v, uint32_t nSections, const SSpans& spans,
                        VisitStretch sound, VisitSilence silence) {
    uint32_t nCovered = 0;  // sections before this one are covered already
    uint32_t nStarts = 0;
    // The ends are read once: storing a silence's bytes could otherwise change them.
    SChord* const* ppEnd = sounding.apChords + sounding.anVoiceStart[v + 1];
    const SChord* pVoice = sounding.apVoice[v];
    for (SChord* const* ppChord = sounding.apChords + sounding.anVoiceStart[v]; ppChord != ppEnd; ++ppChord) {
        SChord* pChord = *ppChord;
        uint32_t nFirst = static_cast<uint32_t>(pChord - pVoice);  // as SectionOf gives it
        nStarts |= nFirst;
        if (nFirst < nCovered) continue;
        uint32_t nEnd = nFirst + spans.abSpan[pChord->bValue][pChord->bDotted != 0];
        if (nEnd > nSections) nEnd = nSections;
        if (nFirst > nCovered) silence(nCovered, nFirst);
        sound(pChord, nFirst, nEnd);
        nCovered = nEnd;
    }
    if (nCovered < nSections) silence(nCovered, nSections);
    return nStarts;
}

// Follows every voice of the measure's nSections sections, noting its
// silences and where its chords start in the index, and calling sound(chord,
// n) for every chord that starts a stretch of n sections where its voice
// sounds.
template <typename VisitStretch>
static void NoteSilences(const SBuildContext& context, uint32_t nSections, SMeasureIndex& index, VisitStretch sound) {
    const SSoundingChords& sounding = index.sounding;
    SVoiceSilences& silences = index.silences;
    // Room for every silence of the measure: a voice has at most one for
    // every two sections, as a section where it sounds follows each silence
    // but the last.
    MakeRoomInIndex(index, silences.pSilences, silences.nCapacity,
                    static_cast<size_t>(sounding.nVoices) * ((nSections + 1) / 2));
    const SSpans& spans = *context.pSpans;
    silences.nSilences = 0;
    silences.nChordStarts = 0;
    for (uint32_t v = 0; v < sounding.nVoices; ++v) {
        SChord* pVoice = sounding.apVoice[v];
        silences.nChordStarts |= FollowVoice(
            sounding, v, nSections, spans,
            [sound](SChord* pChord, uint32_t nFirst, uint32_t nEnd) { sound(pChord, nEnd - nFirst); },
            [&silences, pVoice](uint32_t nFirst, uint32_t nEnd) {
                silences.pSilences[silences.nSilences++] =
                    SSilence{pVoice, static_cast<uint8_t>(nFirst), static_cast<uint8_t>(nEnd)};
            });
    }
}

// The silences as stage J notes them, without the heights: the sections
// after the last linked one start nothing drawn, so the silences up to it
// are all the later stages look at.
void ListSilences(const SBuildContext& context, const SMeasure* pMeasure, SMeasureIndex& index) {
    NoteSilences(context, LinkedExtent(pMeasure), index, [](SChord*, uint32_t) {});
}

// ---- Stage J: height where a voice sounds ------------------------------------------

static double AverageStep(const SChord* pChord) {
    // Most chords hold one note: its step is the average, exactly as the
    // division by one would give it.
    if (!pChord->pNotes->pNext) return pChord->pNotes->cStep;
    int32_t nSum = 0, nCount = 0;
    for (const SNote* pNote = pChord->pNotes; pNote; pNote = pNote->pNext) {
        nSum += pNote->cStep;
        ++nCount;
    }
    return static_cast<double>(nSum) / nCount;
}

// The sections from pChord on, nLeft of them, get the height. Every section
// of every voice gets one, which makes this most of the work of stages J and
// K. It stores four at a time, the last four ending on the last section
// (overlapping stores of the same height are harmless), so that the number
// of sections, which changes from chord to chord, costs few branches.
static void SetHeight(SChord* pChord, uint32_t nLeft, double dHeight) {
    if (nLeft == 0) return;
    if (nLeft <= 4) {
        // One to four sections, in four stores that overlap as the count
        // asks, without a branch on it.
        pChord[0].dPosition = dHeight;
        pChord[(nLeft - 1) / 2].dPosition = dHeight;
        pChord[nLeft / 2].dPosition = dHeight;
        pChord[nLeft - 1].dPosition = dHeight;
        return;
    }
    SChord* pLast4 = pChord + nLeft - 4;
    for (; pChord < pLast4; pChord += 4) {
        pChord[0].dPosition = dHeight;
        pChord[1].dPosition = dHeight;
        pChord[2].dPosition = dHeight;
        pChord[3].dPosition = dHeight;
    }
    pLast4[0].dPosition = dHeight;
    pLast4[1].dPosition = dHeight;
    pLast4[2].dPosition = dHeight;
    pLast4[3].dPosition = dHeight;
}

// A chord's height stands on every section it sounds through, so that the
// silence after it can take its height over. The silences are noted on the
// way for the stages after.
void MeasureVoiceHeights(const SBuildContext& context, SMeasure* pMeasure, SMeasureIndex& index) {
    NoteSilences(context, pMeasure->bSections, index,
                 [](SChord* pChord, uint32_t nSections) { SetHeight(pChord, nSections, AverageStep(pChord)); });
}

// ---- Stage K: height carried into silences ------------------------------------------

// A silence takes the height of the section before it in its voice; only a
// silence at the start of the measure looks ahead to the section after it.
// A voice that sounds nowhere in the measure has no height to give.
void CarryVoiceHeights(SMeasure* pMeasure, const SMeasureIndex& index) {
    const SVoiceSilences& silences = index.silences;
    uint32_t nSections = pMeasure->bSections;
    for (uint32_t i = 0; i < silences.nSilences; ++i) {
        const SSilence& silence = silences.pSilences[i];
        SChord* pVoice = silence.pVoice;
        uint32_t nFirst = silence.bFirst, nEnd = silence.bEnd;
        const SChord* pSource = nFirst > 0 ? &pVoice[nFirst - 1] : nEnd < nSections ? &pVoice[nEnd] : nullptr;
        if (pSource) SetHeight(pVoice + nFirst, nEnd - nFirst, pSource->dPosition);
    }
}

// ---- Stage L: rest values -------------------------------------------------------------

// The highest power of two up to n, for every byte n > 0 (0 for 0): looked
// up, as rests are many.
struct SFloorPowers {
    uint8_t abOf[256];
};

static constexpr SFloorPowers FloorPowerTable() {
    SFloorPowers table = {};
    for (uint32_t n = 1; n < 256; ++n) table.abOf[n] = static_cast<uint8_t>(HighestPowerOfTwo(n));
    return table;
}

static constexpr SFloorPowers kFloorPowers = FloorPowerTable();

// A silence is filled from the left with the longest rests that fit both what
// is left of the silence and the beat they start on: a rest never starts
// between the beats of a value longer than the grid allows at its position.
static void FillSilence(SChord* pVoice, uint32_t nFirst, uint32_t nEnd, uint8_t R, uint64_t* pqStarts,
                        uint64_t* pqMeet) {
    uint32_t k = nFirst;
    while (k < nEnd) {
        uint32_t nLength = nEnd - k;
        uint32_t nGridRoom = PointStep(R, k);  // R / GridLevel(R, k) sections
        if (nGridRoom < nLength) nLength = nGridRoom;
        // The longest value that fits: R is a power of two, so the lengths
        // that divide it are the powers of two up to it, and the longest is
        // the highest bit of nLength (which is at most R).
        nLength = kFloorPowers.abOf[nLength];
        pVoice[k].bValue = static_cast<uint8_t>(R / nLength);
        AddToSetNotingRepeats(pqStarts, pqMeet, k);
        k += nLength;
    }
}

void FillRests(const SBuildContext& context, SMeasure* pMeasure, SMeasureIndex& index) {
    const SVoiceSilences& silences = index.silences;
    uint8_t R = context.bResolution;
    // Gathered here, where no chord can alias them, and kept in the index after.
    uint64_t aqStarts[4] = {}, aqMeet[4] = {};
    for (uint32_t i = 0; i < silences.nSilences; ++i) {
        const SSilence& silence = silences.pSilences[i];
        FillSilence(silence.pVoice, silence.bFirst, silence.bEnd, R, aqStarts, aqMeet);
    }
    SRestStarts& rests = index.rests;
    rests.nWords = SetWords(pMeasure->bSections);
    for (uint32_t w = 0; w < 4; ++w) {
        rests.aqStarts[w] = aqStarts[w];
        rests.aqMeet[w] = aqMeet[w];
    }
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
    for (const SChord* pChord = section.pChords; pChord; pChord = pChord->pNext) {
        if (pChord->bValue == pRest->bValue || pChord->bMark) continue;
        double dOther = pChord->dPosition;
        if (dOther > dHeight && (!obstacles.bAbove || dOther < obstacles.dAbove)) {
            obstacles.bAbove = true;
            obstacles.dAbove = dOther;
        } else if (dOther < dHeight && (!obstacles.bBelow || dOther > obstacles.dBelow)) {
            obstacles.bBelow = true;
            obstacles.dBelow = dOther;
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
// marked), so the obstacles are found once per rest, and only for a rest
// that has another of its value to take in.
static void ShareRestsOfSection(const SMeasure* pMeasure, uint32_t k, const SSpans& spans) {
    const SSection& section = pMeasure->pSections[k];
    uint32_t nSections = pMeasure->bSections;
    for (SChord* pRest = section.pChords; pRest; pRest = pRest->pNext) {
        if (!IsRest(pRest)) continue;
        SObstacles obstacles = {};
        bool bObstaclesFound = false;
        uint32_t nSpan = spans.abSpan[pRest->bValue][0];  // rests are not dotted before stage O
        double dSum = pRest->dPosition;
        uint32_t nCount = 1;
        for (SChord* pOther = pRest->pNext; pOther; pOther = pOther->pNext) {
            if (!IsRest(pOther) || pOther->bValue != pRest->bValue) continue;
            if (!bObstaclesFound) {
                obstacles = ObstaclesAround(section, pRest);
                bObstaclesFound = true;
            }
            if (IsBlocked(obstacles, pRest->dPosition, pOther->dPosition)) continue;
            dSum += pOther->dPosition;
            ++nCount;
            // pOther is the k-th chord of its voice's array: its voice goes on at pOther + 1.
            for (uint32_t i = 0; i < nSpan && k + i < nSections; ++i) pOther[i].bMark = 1;
            pOther->bValue = 0;
        }
        if (nCount > 1) {
            double dMean = dSum / nCount;
            pRest->bSharedRest = 1;
            for (uint32_t i = 0; i < nSpan && k + i < nSections; ++i) pRest[i].dPosition = dMean;
        }
    }
}

// bMark has one meaning: the sections of a rest taken into another voice's
// shared rest, which nothing draws (stage N leaves them out). Chords start
// with it clear, and a rest taken in marks chords of its own measure only.
// A rest is shared only where rests of two voices or more start.
void ShareRests(const SBuildContext& context, SMeasure* pMeasure, const SMeasureIndex& index) {
    const SRestStarts& rests = index.rests;
    // Most measures have no section where rests of two voices start.
    if (!AnyInSet(rests.aqMeet)) return;
    const SSpans& spans = *context.pSpans;
    ForEachInSet(rests.aqMeet, rests.nWords,
                 [pMeasure, &spans](uint32_t k) { ShareRestsOfSection(pMeasure, k, spans); });
}

// ---- Stage N: rest heights ----------------------------------------------------------------

// A voice count is eight bits wide, so a section never ranks more entries.
static const uint32_t kMaxRanked = 255;

// Ranks the section's chords from the lowest voice height to the highest and
// spreads the rests evenly over the staff's eleven steps by their rank. A
// whole or half rest hangs from or sits on a line, so it takes an even step.
// The section's chords are the k-th of every voice's array, in voice order:
// found from the arrays, they need not be reached one through the other.
static void PlaceRestsOfSection(const SSoundingChords& sounding, uint32_t k) {
    SChord* apRanked[kMaxRanked];
    uint32_t nRanked = 0;
    bool bAnyRest = false;
    for (uint32_t v = 0; v < sounding.nVoices && nRanked < kMaxRanked; ++v) {
        SChord* pChord = sounding.apVoice[v] + k;
        if (pChord->bMark) continue;
        apRanked[nRanked++] = pChord;
        bAnyRest = bAnyRest || IsRest(pChord);
    }
    // Only rests get a step: a section where none starts has nothing to rank.
    if (!bAnyRest) return;

    // Plain exchange sort; it fixes the order among equal keys. At equal
    // height a stem-down chord ranks below a stem-up one.
    for (uint32_t i = 0; i + 1 < nRanked; ++i) {
        for (uint32_t j = i + 1; j < nRanked; ++j) {
            SChord* pLower = apRanked[i];
            SChord* pHigher = apRanked[j];
            if (pLower->dPosition > pHigher->dPosition ||
                (pLower->dPosition == pHigher->dPosition && pLower->bStemUp && !pHigher->bStemUp)) {
                apRanked[i] = pHigher;
                apRanked[j] = pLower;
            }
        }
    }

    for (uint32_t nRank = 0; nRank < nRanked; ++nRank) {
        SChord* pChord = apRanked[nRank];
        if (!IsRest(pChord)) continue;
        uint32_t nStep = 11 * (nRank + 1) / (nRanked + 1) + 1;
        if ((pChord->bValue == 1 || pChord->bValue == 2) && nStep % 2 == 1) {
            --nStep;
            if (nStep == 0) nStep = 2;
        }
        pChord->bRestStep = static_cast<uint8_t>(nStep);
    }
}

// Only where stage L started a rest.
void PlaceRests(const SMeasureIndex& index) {
    const SSoundingChords& sounding = index.sounding;
    ForEachInSet(index.rests.aqStarts, index.rests.nWords,
                 [&sounding](uint32_t k) { PlaceRestsOfSection(sounding, k); });
}

// ---- Stage O: dotted rests -----------------------------------------------------------------

// A rest followed straight away by a rest of half or double its value becomes
// one dotted rest of the longer value. Shared rests stay as they are: their
// voices need not be silent for the same time afterwards.
// Stage O at section k of a voice; returns the section where its walk goes
// on: one and a half times the length of a rest that has one after it,
// merged or not, the end of any other rest (nothing of the voice starts
// inside it), or the next section.
static uint32_t DotRestAt(SChord* pVoice, uint32_t k, uint32_t nSections, const SSpans& spans) {
    SChord* pRest = &pVoice[k];
    if (!IsRest(pRest)) return k + 1;
    uint32_t nNext = k + spans.abSpan[pRest->bValue][0];
    if (pRest->bSharedRest || nNext >= nSections) return nNext;
    SChord* pNextRest = &pVoice[nNext];
    // Compared exactly: twice the next rest's value equals this one's, or the other way round.
    uint32_t nValue = pRest->bValue, nNextValue = pNextRest->bValue;
    if (IsRest(pNextRest) && !pNextRest->bSharedRest && (nNextValue == 2 * nValue || 2 * nNextValue == nValue)) {
        pRest->bValue = static_cast<uint8_t>(nValue < nNextValue ? nValue : nNextValue);
        pRest->bDotted = 1;
        pNextRest->bRestStep = 0;
        pNextRest->bValue = 0;
    }
    return k + spans.abSpan[pRest->bValue][1];
}

// Each voice is walked from its start; every rest of a voice lies in one of
// its silences, so the walk looks only there.
void DotRests(const SBuildContext& context, SMeasure* pMeasure, const SMeasureIndex& index) {
    const SVoiceSilences& silences = index.silences;
    uint32_t nSections = pMeasure->bSections;
    const SSpans& spans = *context.pSpans;
    uint32_t k = 0;  // where the walk of the voice goes on
    for (uint32_t i = 0; i < silences.nSilences; ++i) {
        const SSilence& silence = silences.pSilences[i];
        if (i > 0 && silence.pVoice != silences.pSilences[i - 1].pVoice) k = 0;
        if (k < silence.bFirst) k = silence.bFirst;
        SChord* pVoice = silence.pVoice;
        while (k < silence.bEnd) k = DotRestAt(pVoice, k, nSections, spans);
    }
}
