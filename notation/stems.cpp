// Stages I and R and the note-order rule: a stem direction for every beam
// group, the notes of each chord in the order its stem wants, and note heads a
// second (or a unison) apart moved to the other side of the stem.
#include "notation.h"

// ---- Stage I: stem direction ----------------------------------------------------------

// Steps of the notes that start in one place, summed and counted.
struct SStepTally {
    int32_t nSum;
    int32_t nCount;
};

static void TallyNotes(const SChord* pChord, SStepTally& tally) {
    for (const SNote* pNote = pChord->pNotes; pNote; pNote = pNote->pNext) {
        tally.nSum += pNote->cStep;
        ++tally.nCount;
    }
}

// The notes that the other voices start in sections k to k + n - 1. A section's
// chord list holds one chord per voice in voice order, so voice v is skipped
// by its place in the list. Notes that started earlier and still sound are
// not counted: only what is struck under the group competes for the space.
static SStepTally OtherVoicesUnder(const SMeasure* pMeasure, uint32_t nVoice, uint32_t k, uint32_t n) {
    SStepTally tally = {0, 0};
    for (uint32_t j = k; j < k + n; ++j) {
        uint32_t nIndex = 0;
        for (const SChord* pChord = pMeasure->pSections[j].pChords; pChord; pChord = pChord->pNext, ++nIndex)
            if (nIndex != nVoice) TallyNotes(pChord, tally);
    }
    return tally;
}

// One voice alone: stems go up below the middle line. The middle of the
// group's range, rounded toward zero, decides.
static uint8_t StemForRange(int32_t nLowest, int32_t nHighest) {
    return (nLowest + nHighest) / 2 < 6 ? 1 : 0;
}

// Against other voices: the higher part takes the stems up. At exactly equal
// heights the even voices go up and the odd ones down, so that two voices in
// unison still point apart.
static uint8_t StemAgainstOthers(const SStepTally& group, const SStepTally& others, uint32_t nVoice) {
    // group.nSum / group.nCount compared with others.nSum / others.nCount,
    // exactly: both counts are positive, so cross-multiply.
    int64_t nGroup = static_cast<int64_t>(group.nSum) * others.nCount;
    int64_t nOthers = static_cast<int64_t>(others.nSum) * group.nCount;
    if (nGroup != nOthers) return nGroup > nOthers ? 1 : 0;
    return nVoice % 2 == 0 ? 1 : 0;
}

// Walks one voice group by group: a group runs from a chord with notes to the
// first chord with notes that has no beam to the next one (a lone chord is a
// group of its own). Every section of the group, the silent ones between its
// chords included, gets the group's direction.
static void ChooseVoiceStems(const SMeasure* pMeasure, uint32_t nVoice, SChord* pVoice) {
    uint32_t nSections = pMeasure->bSections;
    uint32_t k = 0;
    while (k < nSections) {
        if (!pVoice[k].pNotes) {
            ++k;
            continue;
        }
        SStepTally group = {0, 0};
        int32_t nLowest = 127, nHighest = -128;
        uint32_t j = k;
        for (;;) {
            const SChord* pChord = &pVoice[j];
            if (pChord->pNotes) {
                TallyNotes(pChord, group);
                for (const SNote* pNote = pChord->pNotes; pNote; pNote = pNote->pNext) {
                    if (pNote->cStep < nLowest) nLowest = pNote->cStep;
                    if (pNote->cStep > nHighest) nHighest = pNote->cStep;
                }
                if (!pChord->bBeamNext) break;
            }
            if (j + 1 >= nSections) break;
            ++j;
        }
        uint32_t n = j - k + 1;

        SStepTally others = OtherVoicesUnder(pMeasure, nVoice, k, n);
        uint8_t bStemUp =
            others.nCount == 0 ? StemForRange(nLowest, nHighest) : StemAgainstOthers(group, others, nVoice);
        for (uint32_t i = k; i < k + n; ++i) pVoice[i].bStemUp = bStemUp;
        k += n;
    }
}

void ChooseStems(SMeasureWalk&, SMeasure* pMeasure) {
    uint32_t nVoice = 0;
    for (SChord* pVoice = VoiceChords(pMeasure, 0); pVoice; pVoice = pVoice->pNext, ++nVoice)
        ChooseVoiceStems(pMeasure, nVoice, pVoice);
}

// ---- Note order --------------------------------------------------------------------------

// Voice assignment leaves a chord's notes highest first, which suits a stem
// down (the stem hangs from the top note). A stem-up chord is read from the
// bottom, so its list is turned round.
void OrderChordNotes(SChord* pChord) {
    SNote* pPrevious = nullptr;
    for (SNote* pNote = pChord->pNotes; pNote; pNote = pNote->pNext) {
        pNote->pPrev = pPrevious;
        pPrevious = pNote;
    }
    if (!pChord->bStemUp || !pChord->pNotes) return;
    // pPrevious is the last note: it becomes the head, and every note's two
    // links change places.
    pChord->pNotes = pPrevious;
    for (SNote* pNote = pPrevious; pNote;) {
        SNote* pOlderNext = pNote->pNext;
        pNote->pNext = pNote->pPrev;
        pNote->pPrev = pOlderNext;
        pNote = pNote->pNext;
    }
}

// ---- Stage R: displaced heads ----------------------------------------------------------

// Two heads a second apart (or on one step) cannot sit side by side on the
// same side of the stem: the later one in list order moves across, and in a
// cluster the heads alternate. With the stem down a moved head lands left of
// the stem, which the section records so that the drawing leaves room for it.
static void DisplaceChordHeads(const SChord* pChord, SSection* pSection) {
    const SNote* pPrevious = pChord->pNotes;
    if (!pPrevious) return;
    for (SNote* pNote = pPrevious->pNext; pNote; pPrevious = pNote, pNote = pNote->pNext) {
        int nDistance = pNote->cStep - pPrevious->cStep;
        if (nDistance > -2 && nDistance < 2) pNote->bHeadFlipped = pPrevious->bHeadFlipped ? 0 : 1;
        if (pNote->bHeadFlipped && !pChord->bStemUp) pSection->bHeadsLeft = 1;
    }
}

void DisplaceHeads(SMeasureWalk&, SMeasure* pMeasure) {
    for (SSection* pSection = pMeasure->pSections; pSection; pSection = pSection->pNext)
        for (const SChord* pChord = pSection->pChords; pChord; pChord = pChord->pNext)
            DisplaceChordHeads(pChord, pSection);
}
