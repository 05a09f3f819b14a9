// The estimated keys of a file: one walk over the note events of every
// track chunk, summing how long each pitch class sounds in each bar, then
// the key finding over the bars (key_finding.h).
#include "estimated_key.h"

#include "key_finding.h"

#include "../core/errors.h"
#include "../core/loaded_file.h"
#include "../interface/vastrel.h"
#include "../platform/platform.h"
#include "../smf/midi_file.h"
#include "../track/channels.h"

#include <string.h>

// ---- The bars of the meter map ---------------------------------------------------------
// Bars are laid out as the measures are: from tick 0 in 4/4 until a time
// signature takes over at the first bar line at or after its event. Times
// are counted in 64ths of a tick, in which every bar of every meter (at
// most a 64th note as its unit) is a whole number long.

// A run of bars of one meter.
struct SBarRun {
    uint64_t qStart;      // first bar line of the run, in 64ths of a tick
    uint64_t qLength;     // one bar, in 64ths of a tick
    uint32_t nFirstBar;   // number of the run's first bar
};

struct SBarMap {
    SBarRun* pRuns;
    uint32_t nRuns;
};

static const uint64_t kTickParts = 64;

static void* AllocateFromFile(SMidiFile* pFile, size_t nBytes) {
    void* pBlock = PlatformAllocate(pFile->hHeap, nBytes, true);
    if (!pBlock) RaiseError(kMsgNoMemory);
    return pBlock;
}

// A bar of numerator/denominator, in 64ths of a tick: numerator·4·D/denominator ticks.
static uint64_t BarLength(const SMidiFile* pFile, uint8_t bNumerator, uint8_t bDenominator) {
    return static_cast<uint64_t>(bNumerator) * 4u * pFile->wDivision * kTickParts / bDenominator;
}

// The runs up to bar kMostKeyBars. A meter of no beats (which no parse
// accepts anyway) is passed over.
static SBarMap MapBars(SMidiFile* pFile) {
    uint32_t nMeters = 1;
    for (const STimeSignature* p = pFile->pTimeSignatures; p; p = p->pNext) ++nMeters;
    SBarMap map = {static_cast<SBarRun*>(AllocateFromFile(pFile, nMeters * sizeof(SBarRun))), 0};
    uint64_t qAt = 0;
    uint32_t nBar = 0;
    uint64_t qLength = BarLength(pFile, 4, 4);
    const STimeSignature* pNext = pFile->pTimeSignatures;
    for (;;) {
        for (; pNext && pNext->dwTime * kTickParts <= qAt; pNext = pNext->pNext)
            if (pNext->bNumerator && pNext->bDenominator) qLength = BarLength(pFile, pNext->bNumerator, pNext->bDenominator);
        if (qLength == 0) qLength = kTickParts;  // a file of division 0 has no time to speak of
        SBarRun& run = map.pRuns[map.nRuns++];
        run = {qAt, qLength, nBar};
        if (!pNext) return map;
        // The next time signature takes over at the first bar line at or after it.
        uint64_t nBars = (pNext->dwTime * kTickParts - qAt + qLength - 1) / qLength;
        if (nBar + nBars >= kMostKeyBars) return map;
        qAt += nBars * qLength;
        nBar += static_cast<uint32_t>(nBars);
    }
}

// ---- Durations per bar -------------------------------------------------------------------

// The twelve durations of every bar reached so far, in a block that doubles
// as notes reach further bars.
struct SBarDurations {
    SPitchClassDurations* pBars;
    uint32_t nBars;       // bars with room (all zero past the last note)
    uint32_t nUsed;       // one past the last bar a note sounds in
};

static void MakeRoom(SMidiFile* pFile, SBarDurations& durations, uint32_t nBar) {
    if (nBar < durations.nBars) return;
    uint32_t nBars = durations.nBars ? durations.nBars : 64;
    while (nBars <= nBar) nBars *= 2;
    if (nBars > kMostKeyBars) nBars = kMostKeyBars;
    auto* pBars = static_cast<SPitchClassDurations*>(AllocateFromFile(pFile, nBars * sizeof(SPitchClassDurations)));
    if (durations.pBars) {
        memcpy(pBars, durations.pBars, durations.nBars * sizeof(SPitchClassDurations));
        PlatformFree(pFile->hHeap, durations.pBars);
    }
    durations.pBars = pBars;
    durations.nBars = nBars;
}

// Adds a note sounding from tick dwStart to dwEnd to each bar it sounds in,
// for as long as it sounds there. The run is the one of the note's start;
// notes of a chunk come in time order, so it only moves on.
static void AddNote(SMidiFile* pFile, const SBarMap& map, uint32_t& nRun, SBarDurations& durations, uint8_t bKey,
                    uint32_t dwStart, uint32_t dwEnd) {
    uint64_t qStart = dwStart * kTickParts, qEnd = dwEnd * kTickParts;
    if (qEnd <= qStart) return;
    uint32_t nClass = bKey % 12;
    while (nRun + 1 < map.nRuns && map.pRuns[nRun + 1].qStart <= qStart) ++nRun;
    for (uint32_t r = nRun; r < map.nRuns && qStart < qEnd; ++r) {
        const SBarRun& run = map.pRuns[r];
        uint64_t qRunEnd = r + 1 < map.nRuns ? map.pRuns[r + 1].qStart : UINT64_MAX;
        uint64_t nBar = run.nFirstBar + (qStart - run.qStart) / run.qLength;
        uint64_t qBarEnd = run.qStart + ((qStart - run.qStart) / run.qLength + 1) * run.qLength;
        while (qStart < qEnd && qStart < qRunEnd) {
            if (nBar >= kMostKeyBars) return;
            MakeRoom(pFile, durations, static_cast<uint32_t>(nBar));
            uint64_t qStop = qEnd < qBarEnd ? qEnd : qBarEnd;
            durations.pBars[nBar].aqDuration[nClass] += qStop - qStart;
            if (nBar + 1 > durations.nUsed) durations.nUsed = static_cast<uint32_t>(nBar + 1);
            qStart = qStop;
            ++nBar;
            qBarEnd += run.qLength;
        }
    }
}

static const unsigned char kNoteOff = 0x80;
static const unsigned char kNoteOn = 0x90;

// The notes of one track chunk, drums left out. A note struck again while
// it sounds ends there; a note still sounding at the end of the track ends
// with it.
static void AddChunkNotes(SMidiFile* pFile, unsigned char* pChunk, const SBarMap& map, SBarDurations& durations) {
    // Start tick + 1 of the sounding note of each channel and key; 0 for none.
    uint32_t adwOpen[16][128];
    memset(adwOpen, 0, sizeof adwOpen);
    uint32_t nRun = 0;
    SByteCursor cursor = TrackEvents(pFile, pChunk);
    uint32_t dwTicks = 0;
    unsigned char bRunningStatus = 0;
    for (;;) {
        unsigned char bStatus = ReadEventHead(cursor, &dwTicks, &bRunningStatus);
        unsigned char bKind = bStatus & 0xF0;
        uint32_t nChannel = bStatus & 0x0F;
        if ((bKind == kNoteOn || bKind == kNoteOff) && nChannel != kDrumChannel) {
            if (BytesLeft(cursor) < 2) RaiseTrackParsingError();
            uint8_t bKey = cursor.pNext[0] & 0x7F;
            uint32_t& dwOpen = adwOpen[nChannel][bKey];
            if (dwOpen) AddNote(pFile, map, nRun, durations, bKey, dwOpen - 1, dwTicks);
            // A note-on of velocity 0 is a note-off.
            dwOpen = bKind == kNoteOn && cursor.pNext[1] != 0 ? dwTicks + 1 : 0;
            // A note struck at the last tick a 32-bit count holds sounds for no time.
            if (dwTicks == UINT32_MAX) dwOpen = 0;
        }
        bRunningStatus = SkipEvent(bStatus, cursor);
        if (bRunningStatus == kStatusMeta) break;
    }
    for (uint32_t c = 0; c < 16; ++c)
        for (uint32_t k = 0; k < 128; ++k)
            if (adwOpen[c][k]) AddNote(pFile, map, nRun, durations, static_cast<uint8_t>(k), adwOpen[c][k] - 1, dwTicks);
}

// Every chunk of the file: format 0's one chunk, or format 1's conductor
// (a file may keep notes there) and the tracks after it.
static void AddFileNotes(SMidiFile* pFile, const SBarMap& map, SBarDurations& durations) {
    unsigned char* pChunk = pFile->pFirstTrack;
    uint32_t nChunks = pFile->wFormat == 0 ? 1 : pFile->wTracks + 1u;
    for (uint32_t n = 0; n < nChunks && IsTrackChunkAt(pFile, pChunk); ++n) {
        try {
            AddChunkNotes(pFile, pChunk, map, durations);
        } catch (const CVastrelException&) {
            // The notes read before the fault count.
        }
        uint64_t nSkip = kChunkHeadBytes + static_cast<uint64_t>(ReadBigEndian32(pChunk + 4));
        if (nSkip > static_cast<uint64_t>(pFile->pData + pFile->nDataSize - pChunk)) return;
        pChunk += nSkip;
    }
}

// ---- The keys -------------------------------------------------------------------------------

// The first tick at or after bar nBar's line.
static uint32_t TickOfBar(const SBarMap& map, uint32_t nBar) {
    uint32_t r = map.nRuns - 1;
    while (map.pRuns[r].nFirstBar > nBar) --r;
    const SBarRun& run = map.pRuns[r];
    uint64_t qAt = run.qStart + (nBar - run.nFirstBar) * run.qLength;
    return static_cast<uint32_t>((qAt + kTickParts - 1) / kTickParts);
}

// The key changes found over the bars, as a key-signature list in the file's heap.
static SKeySignature* FindKeys(SMidiFile* pFile, const SBarMap& map, const SBarDurations& durations) {
    // Music in which too few pitch classes sound for any key keeps the
    // classic spelling, and is not said to be in an estimated key.
    SPitchClassDurations whole = {};
    for (uint32_t b = 0; b < durations.nUsed; ++b)
        for (uint32_t pc = 0; pc < 12; ++pc) whole.aqDuration[pc] += durations.pBars[b].aqDuration[pc];
    if (EstimateKey(whole).fCorrelation == 0.0f) return nullptr;
    void* pScratch = AllocateFromFile(pFile, KeyChangeScratchBytes(durations.nUsed));
    uint32_t nMost = durations.nUsed / kMinimumKeyStretch + 1;
    auto* pChanges = static_cast<SKeyChange*>(AllocateFromFile(pFile, nMost * sizeof(SKeyChange)));
    uint32_t nChanges = FindKeyChanges(durations.pBars, durations.nUsed, pScratch, pChanges, nMost);
    PlatformFree(pFile->hHeap, pScratch);
    SKeySignature* pFirst = nullptr;
    SKeySignature** ppTail = &pFirst;
    for (uint32_t i = 0; i < nChanges; ++i) {
        auto* pKey = static_cast<SKeySignature*>(AllocateFromFile(pFile, sizeof(SKeySignature)));
        pKey->dwTime = TickOfBar(map, pChanges[i].nWindow);
        pKey->cKey = pChanges[i].cKey;
        *ppTail = pKey;
        ppTail = &pKey->pNext;
    }
    PlatformFree(pFile->hHeap, pChanges);
    return pFirst;
}

const SKeySignature* EstimatedKeys(SMidiFile* pFile) {
    SLoadedFile* pLoaded = LoadedFile(pFile);
    if (pLoaded->bKeysEstimated) return pLoaded->pEstimatedKeys;
    SBarMap map = MapBars(pFile);
    SBarDurations durations = {nullptr, 0, 0};
    AddFileNotes(pFile, map, durations);
    pLoaded->pEstimatedKeys = FindKeys(pFile, map, durations);
    pLoaded->bKeysEstimated = 1;
    if (durations.pBars) PlatformFree(pFile->hHeap, durations.pBars);
    PlatformFree(pFile->hHeap, map.pRuns);
    return pLoaded->pEstimatedKeys;
}
