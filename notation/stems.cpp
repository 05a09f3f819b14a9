// Stages I and R: a stem direction for every beam group, and note heads a
// second (or a unison) apart moved to the other side of the stem. (The notes
// of each chord in the order its stem wants: OrderChordNotes, notation.h.)
#include "notation.h"

// ---- Stage I: stem direction ----------------------------------------------------------

// Notes that started earlier and still sound are not counted: only what is
// struck under a beam group competes with it for the space. The index holds
// the notes of every voice struck at each section, tallied by stage H's pass
// over the notes (TallyStruckNotes, notation.h), which finds the measure's
// range as well, so that this stage need not walk them again.

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

// Walks voice v group by group: a group runs from a chord with notes to the
// first chord with notes that has no beam to the next one (a lone chord is a
// group of its own). Every section of the group, the silent ones between its
// chords included, gets the group's direction. What the other voices strike
// under the group is everything struck there (with the shift stage H noted
// since the tally) less the group's own notes.
// A voice's chords come zero-filled, stem down, and no stage before this one
// turns a stem, so only the groups whose stems go up are written.
static void ChooseVoiceStems(const SSoundingChords& sounding, uint32_t v, uint32_t nSections,
                             const SStepTally* aStruck, int32_t nStruckShift) {
    SChord* pVoice = sounding.apVoice[v];
    uint32_t nEnd = sounding.anVoiceStart[v + 1];
    uint32_t i = sounding.anVoiceStart[v];
    while (i < nEnd) {
        uint32_t nFirst = SectionOf(sounding, v, sounding.apChords[i]);
        uint32_t nLast = nFirst;
        SStepTally group = {0, 0};
        int32_t nLowest = 127, nHighest = -128;
        for (;;) {
            const SChord* pChord = sounding.apChords[i++];
            nLast = SectionOf(sounding, v, pChord);
            for (const SNote* pNote = pChord->pNotes; pNote; pNote = pNote->pNext) {
                group.nSum += pNote->cStep;
                ++group.nCount;
                if (pNote->cStep < nLowest) nLowest = pNote->cStep;
                if (pNote->cStep > nHighest) nHighest = pNote->cStep;
            }
            if (!pChord->bBeamNext) break;
            if (i == nEnd) {
                nLast = nSections - 1;  // a beam that finds no chord runs to the bar line
                break;
            }
        }
        SStepTally struck = {0, 0};
        for (uint32_t k = nFirst; k <= nLast; ++k) {
            struck.nSum += aStruck[k].nSum;
            struck.nCount += aStruck[k].nCount;
        }
        SStepTally others = {struck.nSum + nStruckShift * struck.nCount - group.nSum, struck.nCount - group.nCount};
        uint8_t bStemUp =
            others.nCount == 0 ? StemForRange(nLowest, nHighest) : StemAgainstOthers(group, others, v);
        if (bStemUp)
            for (uint32_t k = nFirst; k <= nLast; ++k) pVoice[k].bStemUp = 1;
    }
}

void ChooseStems(SMeasure* pMeasure, const SMeasureIndex& index) {
    const SSoundingChords& sounding = index.sounding;
    for (uint32_t v = 0; v < sounding.nVoices; ++v)
        ChooseVoiceStems(sounding, v, pMeasure->bSections, index.struck.aAt, index.struck.nShift);
}

// ---- Stage R: displaced heads ----------------------------------------------------------

// Two heads a second apart (or on one step) cannot sit side by side on the
// same side of the stem: the later one in list order moves across, and in a
// cluster the heads alternate (DisplaceChordHeads, notation.h). With the stem
// down a moved head lands left of the stem, and the section records it, so
// that the drawing leaves room for it. Chords with notes only; compaction
// keeps every section where one starts.
void DisplaceHeads(SMeasure* pMeasure, const SMeasureIndex& index) {
    ForEachSoundingChord(index.sounding, [pMeasure](SChord* pChord, uint32_t k) {
        if (DisplaceChordHeads(pChord)) pMeasure->pSections[k].bHeadsLeft = 1;
    });
}
