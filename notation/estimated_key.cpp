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

// Where the last note was added: its bar run, and the bar it started in
// (inside the durations' room). Notes are added as they end, so their
// starts come nearly in time order, and most fall in the bar of the note
// before.
struct SBarCursor {
    uint32_t nRun;
    uint32_t nBar;
    uint64_t qBarStart;   // of bar nBar, in 64ths of a tick
    uint64_t qBarEnd;     // 0 before the first note
};

// Adds a note sounding from tick dwStart to dwEnd to each bar it sounds in,
// for as long as it sounds there.
static void AddNote(SMidiFile* pFile, const SBarMap& map, SBarCursor& at, SBarDurations& durations, uint8_t bKey,
                    uint32_t dwStart, uint32_t dwEnd) {
    uint64_t qStart = dwStart * kTickParts, qEnd = dwEnd * kTickParts;
    uint32_t nClass = bKey % 12;
    if (qEnd <= qStart) return;
    if (qStart >= at.qBarStart && qEnd <= at.qBarEnd) {
        durations.pBars[at.nBar].aqDuration[nClass] += qEnd - qStart;
        return;
    }
    while (at.nRun + 1 < map.nRuns && map.pRuns[at.nRun + 1].qStart <= qStart) ++at.nRun;
    while (map.pRuns[at.nRun].qStart > qStart) --at.nRun;
    bool bFirstBar = true;
    for (uint32_t r = at.nRun; r < map.nRuns && qStart < qEnd; ++r) {
        const SBarRun& run = map.pRuns[r];
        uint64_t qRunEnd = r + 1 < map.nRuns ? map.pRuns[r + 1].qStart : UINT64_MAX;
        uint64_t nBarsIn = (qStart - run.qStart) / run.qLength;
        uint64_t nBar = run.nFirstBar + nBarsIn;
        uint64_t qBarStart = run.qStart + nBarsIn * run.qLength;
        while (qStart < qEnd && qStart < qRunEnd) {
            if (nBar >= kMostKeyBars) return;
            MakeRoom(pFile, durations, static_cast<uint32_t>(nBar));
            uint64_t qBarEnd = qBarStart + run.qLength;
            if (bFirstBar) at = {at.nRun, static_cast<uint32_t>(nBar), qBarStart, qBarEnd};
            bFirstBar = false;
            uint64_t qStop = qEnd < qBarEnd ? qEnd : qBarEnd;
            durations.pBars[nBar].aqDuration[nClass] += qStop - qStart;
            if (nBar + 1 > durations.nUsed) durations.nUsed = static_cast<uint32_t>(nBar + 1);
            qStart = qStop;
            ++nBar;
            qBarStart = qBarEnd;
        }
    }
}

static const unsigned char kNoteOff = 0x80;
static const unsigned char kNoteOn = 0x90;

// What the walk over the chunks keeps: the start tick + 1 of the sounding
// note of each channel and key (0 for none; every entry 0 again after each
// chunk), the channels that have started a note in the chunk, and where the
// last note was added.
struct SOpenNotes {
    uint32_t adwOpen[16][128];
    uint16_t wChannels;
    SBarCursor at;
};

// A channel message with its data bytes at pData: a note-on or note-off of
// a pitched channel ends the note sounding on its key, and a note-on of a
// velocity above 0 starts one. A note struck again while it sounds ends
// there.
static inline void TakeChannelMessage(SMidiFile* pFile, const SBarMap& map, SBarDurations& durations,
                                      SOpenNotes& open, unsigned char bStatus, const unsigned char* pData,
                                      uint32_t dwTicks) {
    unsigned char bKind = bStatus & 0xF0;
    uint32_t nChannel = bStatus & 0x0F;
    if ((bKind != kNoteOn && bKind != kNoteOff) || nChannel == kDrumChannel) return;
    uint8_t bKey = pData[0] & 0x7F;
    uint32_t& dwOpen = open.adwOpen[nChannel][bKey];
    if (dwOpen) AddNote(pFile, map, open.at, durations, bKey, dwOpen - 1, dwTicks);
    // A note-on of velocity 0 is a note-off; a note struck at the last tick
    // a 32-bit count holds (dwTicks + 1 wraps to 0) sounds for no time.
    dwOpen = bKind == kNoteOn && pData[1] != 0 ? dwTicks + 1 : 0;
    open.wChannels = static_cast<uint16_t>(open.wChannels | (1u << nChannel));
}

// Ends the notes still sounding at tick dwEnd, and leaves every entry 0.
static void EndOpenNotes(SMidiFile* pFile, const SBarMap& map, SBarDurations& durations, SOpenNotes& open,
                         uint32_t dwEnd) {
    for (uint32_t c = 0; c < 16; ++c) {
        if (!(open.wChannels >> c & 1)) continue;
        for (uint32_t k = 0; k < 128; ++k) {
            uint32_t& dwOpen = open.adwOpen[c][k];
            if (dwOpen) AddNote(pFile, map, open.at, durations, static_cast<uint8_t>(k), dwOpen - 1, dwEnd);
            dwOpen = 0;
        }
    }
    open.wChannels = 0;
}

// The notes of one track chunk, drums left out; a note still sounding at
// the end of the track ends with it.
static void AddChunkNotes(SMidiFile* pFile, unsigned char* pChunk, const SBarMap& map, SBarDurations& durations,
                          SOpenNotes& open) {
    open.wChannels = 0;
    unsigned char* pEndOfTrack;
    uint32_t dwEnd = WalkTrackEvents(
        TrackEvents(pFile, pChunk),
        [&](unsigned char bStatus, const unsigned char* pData, uint32_t dwTicks) {
            TakeChannelMessage(pFile, map, durations, open, bStatus, pData, dwTicks);
        },
        [](unsigned char, const SByteCursor&) {}, &pEndOfTrack);
    EndOpenNotes(pFile, map, durations, open, dwEnd);
}

// Every chunk of the file: format 0's one chunk, or format 1's conductor
// (a file may keep notes there) and the tracks after it.
static void AddFileNotes(SMidiFile* pFile, const SBarMap& map, SBarDurations& durations) {
    unsigned char* pChunk = pFile->pFirstTrack;
    uint32_t nChunks = pFile->wFormat == 0 ? 1 : pFile->wTracks + 1u;
    SOpenNotes open;
    memset(&open, 0, sizeof open);
    for (uint32_t n = 0; n < nChunks && pChunk && IsTrackChunkAt(pFile, pChunk); ++n) {
        try {
            AddChunkNotes(pFile, pChunk, map, durations, open);
        } catch (const CVastrelException&) {
            // The notes read before the fault count; those still sounding
            // there are dropped.
            for (uint32_t c = 0; c < 16; ++c)
                if (open.wChannels >> c & 1) memset(open.adwOpen[c], 0, sizeof open.adwOpen[c]);
        }
        pChunk = NextChunk(pFile, pChunk);
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
