// The measure index's heap, and the rows that list a part of the index from
// the model for a walk that leaves out the stage that finds it on its way.
// Each gives what that stage would have found, as far as the stages after it
// read it.
#include "notation.h"

#include "../platform/platform.h"

void* GrowIndexArray(SMeasureIndex& index, uint32_t* pnCapacity, size_t nEntries, size_t nSize) {
    if (!index.hHeap) {
        index.hHeap = PlatformCreateHeap();
        if (!index.hHeap) RaiseError(kMsgNoTransientHeap);
    }
    size_t nCapacity = nEntries > 2u * *pnCapacity ? nEntries : 2u * *pnCapacity;
    void* pArray = PlatformAllocate(index.hHeap, nCapacity * nSize, false);
    if (!pArray) RaiseError(kMsgNoMemory);
    *pnCapacity = static_cast<uint32_t>(nCapacity);
    return pArray;
}

uint32_t LinkedExtent(const SMeasure* pMeasure) {
    const SSection* pLast = pMeasure->pSections;
    if (!pLast) return 0;
    while (pLast->pNext) pLast = pLast->pNext;
    return static_cast<uint32_t>(pLast - pMeasure->pSections) + 1;
}

// Every section that holds a placed note; a section where one is tied on may
// hold a value tied to a later one of the measure (stage C finds out).
void ListPlacedSections(const SMeasure* pMeasure, SPlacedSections& placed) {
    const SSection* pSections = pMeasure->pSections;
    uint32_t n = 0;
    for (uint64_t& q : placed.aqTiedOn) q = 0;
    for (const SSection* pSection = pSections; pSection; pSection = pSection->pNext) {
        if (!pSection->pRawNotes) continue;
        uint32_t k = static_cast<uint32_t>(pSection - pSections);
        placed.abSection[n++] = static_cast<uint8_t>(k);
        for (const SNote* pNote = pSection->pRawNotes; pNote; pNote = pNote->pNext)
            if (pNote->bTieOut) AddToSet(placed.aqTiedOn, k);
    }
    placed.nSections = n;
}

void CountPlacedNotes(const SMeasure* pMeasure, SMeasureIndex& index) {
    const SPlacedSections& placed = *index.pPlaced;
    uint32_t nNotes = 0;
    for (uint32_t i = 0; i < placed.nSections; ++i)
        for (const SNote* pNote = pMeasure->pSections[placed.abSection[i]].pRawNotes; pNote; pNote = pNote->pNext)
            ++nNotes;
    index.nPlacedNotes = nNotes;
}

void ListSoundingChords(const SMeasure* pMeasure, SMeasureIndex& index) {
    SSoundingChords& sounding = index.sounding;
    uint32_t nSections = LinkedExtent(pMeasure);
    MakeRoomInIndex(index, sounding.apChords, sounding.nCapacity, static_cast<size_t>(pMeasure->bVoices) * nSections);
    uint32_t n = 0, v = 0;
    for (SChord* pVoice = VoiceChords(pMeasure, 0); pVoice; pVoice = pVoice->pNext, ++v) {
        sounding.apVoice[v] = pVoice;
        sounding.anVoiceStart[v] = n;
        for (uint32_t k = 0; k < nSections; ++k)
            if (pVoice[k].pNotes) sounding.apChords[n++] = &pVoice[k];
    }
    sounding.anVoiceStart[v] = n;
    sounding.nVoices = v;
}

void ListStruckNotes(const SMeasure* pMeasure, SMeasureIndex& index) {
    TallyStruckNotes(index, LinkedExtent(pMeasure));
}

// A rest is a chord without notes that has a value.
void ListRestStarts(const SMeasure* pMeasure, SMeasureIndex& index) {
    SRestStarts& rests = index.rests;
    rests = SRestStarts{};
    const SSection* pSections = pMeasure->pSections;
    for (const SSection* pSection = pSections; pSection; pSection = pSection->pNext) {
        uint32_t k = static_cast<uint32_t>(pSection - pSections);
        for (const SChord* pChord = pSection->pChords; pChord; pChord = pChord->pNext)
            if (!pChord->pNotes && pChord->bValue != 0) AddToSetNotingRepeats(rests.aqStarts, rests.aqMeet, k);
    }
    rests.nWords = SetWords(LinkedExtent(pMeasure));
}
