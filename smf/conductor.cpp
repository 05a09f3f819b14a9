// The conductor pass: the first track chunk read once into the file-wide
// maps of time signatures, key signatures and tempi, the sequence name, and
// the six meter-compatibility flags.
#include "midi_file.h"

#include "../core/errors.h"
#include "../platform/platform.h"

#include <string.h>

static const unsigned char kMetaSequenceName = 0x03;
static const unsigned char kMetaTempo = 0x51;
static const unsigned char kMetaTimeSignature = 0x58;
static const unsigned char kMetaKeySignature = 0x59;

// Tempi faster than this many microseconds per quarter cannot be shown in 16 bits.
static const uint32_t kFastestTempo = 920;

template <typename T>
static T* NewEntry(SMidiFile* pFile, uint32_t nBytes = sizeof(T)) {
    void* pBlock = PlatformAllocate(pFile->hHeap, nBytes, true);
    if (!pBlock) RaiseError(kMsgNoMemory);
    return static_cast<T*>(pBlock);
}

template <typename T>
static void FreeList(SMidiFile* pFile, T** ppHead) {
    for (T* pEntry = *ppHead; pEntry;) {
        T* pNext = pEntry->pNext;
        PlatformFree(pFile->hHeap, pEntry);
        pEntry = pNext;
    }
    *ppHead = nullptr;
}

// Tail pointers so that appending stays linear in the number of events.
struct SConductorTails {
    STimeSignature** ppTimeSignature;
    SKeySignature** ppKeySignature;
    STempo** ppTempo;
};

static void ReadSequenceName(SMidiFile* pFile, const unsigned char* pText, uint32_t nLength) {
    if (pFile->pszName) return;  // the first name event names the file
    char* pszName = NewEntry<char>(pFile, nLength + 1);
    memcpy(pszName, pText, nLength);
    pFile->pszName = pszName;
}

static void ReadTempo(SMidiFile* pFile, SConductorTails& tails, uint32_t dwTime, const unsigned char* p) {
    uint32_t nMicroseconds = (static_cast<uint32_t>(p[0]) << 16) | (p[1] << 8) | p[2];
    if (nMicroseconds < kFastestTempo) RaiseError(kMsgInvalidTempo);
    STempo* pTempo = NewEntry<STempo>(pFile);
    pTempo->dwTime = dwTime;
    // Equal to 60000000 / t in integers for every t the check lets through.
    pTempo->wTempo = static_cast<uint16_t>(60.0 / (nMicroseconds * 1e-6));
    *tails.ppTempo = pTempo;
    tails.ppTempo = &pTempo->pNext;
}

static void ReadTimeSignature(SMidiFile* pFile, SConductorTails& tails, uint32_t dwTime, const unsigned char* p) {
    unsigned char bExponent = p[1];
    if (bExponent == 0 || bExponent > 6) RaiseError(kMsgInvalidTimeSignature);
    STimeSignature* pSignature = NewEntry<STimeSignature>(pFile);
    pSignature->dwTime = dwTime;
    pSignature->bNumerator = p[0];
    pSignature->bDenominator = static_cast<uint8_t>(1u << bExponent);
    *tails.ppTimeSignature = pSignature;
    tails.ppTimeSignature = &pSignature->pNext;
}

static void ReadKeySignature(SMidiFile* pFile, SConductorTails& tails, uint32_t dwTime, const unsigned char* p) {
    SKeySignature* pKey = NewEntry<SKeySignature>(pFile);
    pKey->dwTime = dwTime;
    pKey->cKey = static_cast<int8_t>(p[0]);
    *tails.ppKeySignature = pKey;
    tails.ppKeySignature = &pKey->pNext;
}

// Bytes of event data that each map entry reads.
static uint32_t BytesUsedBy(unsigned char bType) {
    switch (bType) {
        case kMetaTempo: return 3;
        case kMetaTimeSignature: return 2;
        case kMetaKeySignature: return 1;
        default: return 0;
    }
}

static void FinishConductorPass(SMidiFile* pFile) {
    if (!pFile->pszName) {
        static const char kDefaultName[] = "Untitled midi";
        pFile->pszName = NewEntry<char>(pFile, sizeof kDefaultName);
        memcpy(pFile->pszName, kDefaultName, sizeof kDefaultName);
    }
    pFile->bMeter2 = IsMeterCompatible(pFile, 2);
    pFile->bMeter4 = IsMeterCompatible(pFile, 4);
    pFile->bMeter8 = IsMeterCompatible(pFile, 8);
    pFile->bMeter16 = IsMeterCompatible(pFile, 16);
    pFile->bMeter32 = IsMeterCompatible(pFile, 32);
    pFile->bMeter64 = IsMeterCompatible(pFile, 64);
    if (!pFile->bMeter2 && !pFile->bMeter4 && !pFile->bMeter8 && !pFile->bMeter16 &&
        !pFile->bMeter32 && !pFile->bMeter64)
        RaiseError(kMsgIncompatibleMeters);
}

void ReadConductorMaps(SMidiFile* pFile) {
    if (!pFile->pFirstTrack) RaiseError(kMsgBufferNotPrepared);
    if (!IsTrackChunkAt(pFile, pFile->pFirstTrack)) RaiseError(kMsgInvalidTrackHeader);

    FreeList(pFile, &pFile->pTimeSignatures);
    FreeList(pFile, &pFile->pKeySignatures);
    FreeList(pFile, &pFile->pTempos);
    SConductorTails tails = {&pFile->pTimeSignatures, &pFile->pKeySignatures, &pFile->pTempos};

    SByteCursor cursor = TrackEvents(pFile, pFile->pFirstTrack);
    uint32_t dwTicks = 0;
    unsigned char bRunningStatus = 0;
    for (;;) {
        unsigned char bStatus = ReadEventHead(cursor, &dwTicks, &bRunningStatus);
        if (bStatus != kStatusMeta) {
            bRunningStatus = SkipEvent(bStatus, cursor);
            continue;
        }
        unsigned char bType = ReadByte(cursor);
        uint32_t nLength = ReadVarLen(cursor);
        if (bType == kMetaEndOfTrack) break;
        // The event's data must lie inside the file, and hold what its entry reads.
        if (nLength > BytesLeft(cursor) || nLength < BytesUsedBy(bType)) RaiseError(kMsgTrackParsingError);
        const unsigned char* pEventData = cursor.pNext;
        switch (bType) {
            case kMetaSequenceName: ReadSequenceName(pFile, pEventData, nLength); break;
            case kMetaTempo: ReadTempo(pFile, tails, dwTicks, pEventData); break;
            case kMetaTimeSignature: ReadTimeSignature(pFile, tails, dwTicks, pEventData); break;
            case kMetaKeySignature: ReadKeySignature(pFile, tails, dwTicks, pEventData); break;
            default: break;
        }
        SkipBytes(cursor, nLength);
        bRunningStatus = 0;
    }
    FinishConductorPass(pFile);
}

uint8_t IsMeterCompatible(const SMidiFile* pFile, uint8_t nUnit) {
    for (const STimeSignature* p = pFile->pTimeSignatures; p; p = p->pNext) {
        if (p->bDenominator <= nUnit) continue;
        uint32_t nRatio = p->bDenominator / nUnit;
        if (p->bNumerator % nRatio != 0) return 0;
    }
    return 1;
}
