// A drum track on a percussion staff: the drum staff's own rules for hit
// lengths, places, the clef and stems (drum_staff.h).
#include "drum_staff.h"

#include "drum_kit.h"

#include "../track/track.h"

// The beat of a meter in sections of grid R: the denominator's value, and in
// a compound meter (6, 9, 12... eighths or shorter) the dotted value of three
// of them, which is what a player counts. Never less than one section.
static uint32_t BeatSections(const SMeasure* pMeasure, uint8_t bResolution) {
    uint32_t nBeat = pMeasure->bDenominator ? bResolution / pMeasure->bDenominator : 0;
    bool bCompound = pMeasure->bDenominator >= 8 && pMeasure->bNumerator > 3 && pMeasure->bNumerator % 3 == 0;
    if (bCompound) nBeat *= 3;
    return nBeat ? nBeat : 1;
}

uint32_t DrumVoice(uint8_t bKey) { return DrumOfKey(bKey).bFoot ? 1u : 0u; }

void LengthenDrumHits(const SSlot* pFirst, uint32_t nSlots, const SMeasure* pMeasure, uint8_t bResolution) {
    uint32_t nBeat = BeatSections(pMeasure, bResolution);
    // Walked from the bar line back, so that the next hit of each limb is
    // known when a slot's hits are measured.
    uint32_t anNextHit[2] = {nSlots, nSlots};
    for (uint32_t p = nSlots; p-- > 0;) {
        SRawNote* pNotes = pFirst[p].pNotes;
        if (!pNotes) continue;
        uint32_t nNextBeat = (p / nBeat + 1) * nBeat;
        if (nNextBeat > nSlots) nNextBeat = nSlots;
        for (SRawNote* pNote = pNotes; pNote; pNote = pNote->pNext) {
            uint32_t nNext = anNextHit[DrumVoice(pNote->bPitch)];
            uint32_t wLength = (nNext < nNextBeat ? nNext : nNextBeat) - p;
            uint8_t bUnit = bResolution;
            HalveNonZeroWhileEven(wLength, bUnit);
            pNote->wLength = wLength;
            pNote->bUnit = bUnit;
        }
        for (SRawNote* pNote = pNotes; pNote; pNote = pNote->pNext) anNextHit[DrumVoice(pNote->bPitch)] = p;
    }
}

void MergeDoubledHits(SSlot* pFirst, uint32_t nSlots) {
    for (SSlot* pSlot = pFirst; pSlot != pFirst + nSlots; ++pSlot) {
        if (!pSlot->pNotes || !pSlot->pNotes->pNext) continue;  // most slots hold one hit or none
        uint64_t aqStruck[2] = {0, 0};
        for (SRawNote** ppNote = &pSlot->pNotes; *ppNote;) {
            uint32_t nKey = (*ppNote)->bPitch & 0x7F;
            uint64_t qBit = uint64_t{1} << (nKey & 63);
            if (aqStruck[nKey >> 6] & qBit) {
                *ppNote = (*ppNote)->pNext;
                continue;
            }
            aqStruck[nKey >> 6] |= qBit;
            ppNote = &(*ppNote)->pNext;
        }
    }
}

void PlaceDrumNotes(SMeasure* pMeasure, const SMeasureIndex& index) {
    // A drum staff has no key: the exporter and the page show none, and no
    // later stage draws glyphs for it.
    pMeasure->cKey = 0;
    const SPlacedSections& placed = *index.pPlaced;
    for (uint32_t i = 0; i < placed.nSections; ++i)
        for (SNote* pNote = pMeasure->pSections[placed.abSection[i]].pRawNotes; pNote; pNote = pNote->pNext) {
            const SDrum& drum = DrumOfKey(pNote->bPitch);
            pNote->cStep = drum.cStep;
            pNote->nAccidental = kAccidentalNone;
            pNote->bNotehead = drum.bNotehead;
            pNote->bDrumMark = drum.bMark;
        }
}

void KeepPercussionClef(int32_t& nClefInEffect, SMeasure* pMeasure) {
    pMeasure->nClef = nClefInEffect == kClefPercussion ? kClefUnchanged : kClefPercussion;
    nClefInEffect = kClefPercussion;
}

void ChooseDrumStems(SMeasure* pMeasure, const SMeasureIndex& index) {
    // Chords come stem down: only the hands' voice is turned.
    if (index.sounding.nVoices == 0) return;
    SChord* pHands = index.sounding.apVoice[0];
    for (uint32_t k = 0; k < pMeasure->bSections; ++k) pHands[k].bStemUp = 1;
}
