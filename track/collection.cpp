// Note collection on the time grid: one track chunk (format 1) or one
// channel of the single chunk (format 0) read twice. The first pass counts
// the notes and finds the end time; the second pairs every note-on with the
// event that ends it and files the note under the grid slot where it starts.
// One slot lasts 4·D/R ticks (D ticks per quarter, R slots per whole note).
#include "track.h"

#include "../platform/platform.h"
#include "../smf/midi_file.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

static const unsigned char kMetaTrackName = 0x03;
static const int kChannelNameBytes = 11;

// The longest grid a parse lays out: 65536 measures of 4/4 on a sixteenth
// grid, some 36 hours at 120 beats a minute. A longer end time (in practice a
// corrupt delta) cannot be given its slots.
static const uint32_t kMostSlots = 1u << 20;

// What both passes need to know about the chunk.
struct SCollection {
    SMidiFile* pFile;
    unsigned char* pChunk;
    uint8_t bResolution;
    uint8_t bChannel;
    bool bLastTrack;
    int8_t cTranspose;
    uint32_t nNotes;           // note-ons counted by the first pass
    SRawNote** apOpenNotes;    // the sounding note of each key, or null
    uint32_t nNotesUsed;       // raw notes handed out by the second pass
    uint32_t nLastSlot;        // slot of the note appended last, for an O(1) append
    SRawNote* pLastAppended;
};

// Both are divided by the lowest bit set in either: the power of two they share.
void HalveWhileEven(uint32_t& wLength, uint8_t& bUnit) {
    if (!wLength || !bUnit) return;
    uint32_t nEither = wLength | bUnit;
    uint32_t nShared = nEither & (0u - nEither);
    wLength /= nShared;
    bUnit = static_cast<uint8_t>(bUnit / nShared);
}

void DestroyTransientHeap() {
    if (!g_hTransientHeap) return;
    PlatformDestroyHeap(g_hTransientHeap);
    g_hTransientHeap = nullptr;
    g_pSlots = nullptr;
    g_pRawNotes = nullptr;
}

// nCount zero-filled records of the transient heap. On a 32-bit system a
// huge count (a file of hundreds of megabytes of note-ons) would wrap the
// byte size, so it is refused like any other allocation that fails.
template <typename T>
static T* AllocateTransient(size_t nCount, int nErrorId) {
    if (nCount > SIZE_MAX / sizeof(T)) RaiseError(nErrorId);
    void* pBlock = PlatformAllocate(g_hTransientHeap, sizeof(T) * nCount, true);
    if (!pBlock) RaiseError(nErrorId);
    return static_cast<T*>(pBlock);
}

// Format 0 keeps only the chosen channel; format 1 takes every channel.
static bool IsOnChosenChannel(const SCollection& c, unsigned char bStatus) {
    return c.pFile->wFormat != 0 || (bStatus & 0x0F) == c.bChannel;
}

// Slots, possibly fractional, from the start of the track to tick t.
static double SlotsAt(const SCollection& c, uint32_t dwTicks) {
    return dwTicks * static_cast<double>(c.bResolution) / (c.pFile->wDivision * 4.0);
}

// ---- First pass: counting ------------------------------------------------------------

static void CountNotes(SCollection& c) {
    SByteCursor cursor = TrackEvents(c.pFile, c.pChunk);
    uint32_t dwTicks = 0;
    unsigned char bRunningStatus = 0;
    for (;;) {
        unsigned char bStatus = ReadEventHead(cursor, &dwTicks, &bRunningStatus);
        if ((bStatus & 0xF0) == 0x90 && BytesLeft(cursor) >= 2 && cursor.pNext[1] != 0 &&
            IsOnChosenChannel(c, bStatus)) {
            ++c.nNotes;
            SkipBytes(cursor, 2);
            continue;
        }
        bRunningStatus = SkipEvent(bStatus, cursor);
        if (bRunningStatus == kStatusMeta) break;
    }
    g_pCurrentTrack->dwEndTime = dwTicks;
}

// ---- Setting up the grid ---------------------------------------------------------------

static void SetUpGrid(SCollection& c) {
    double dSlots = ceil(SlotsAt(c, g_pCurrentTrack->dwEndTime));
    if (dSlots > kMostSlots) RaiseError(kMsgNoTransientSlots);
    // A track that ends at tick 0 still gets the one slot its notes start in.
    g_nSlots = dSlots < 1.0 ? 1 : static_cast<uint32_t>(dSlots);

    DestroyTransientHeap();
    g_hTransientHeap = PlatformCreateHeap();
    if (!g_hTransientHeap) RaiseError(kMsgNoTransientHeap);
    g_pSlots = AllocateTransient<SSlot>(g_nSlots, kMsgNoTransientSlots);
    g_pRawNotes = AllocateTransient<SRawNote>(c.nNotes, kMsgNoTransientNotes);
    g_pCurrentTrack->nNotes = static_cast<int32_t>(c.nNotes);
    c.apOpenNotes = AllocateTransient<SRawNote*>(256, kMsgNoMemory);
}

// ---- Second pass: pairing ---------------------------------------------------------------

// Files a note at the end of its slot's list. Notes arrive in time order, so
// the list's tail is nearly always the note appended just before.
static void AppendToSlot(SCollection& c, uint32_t nSlot, SRawNote* pNote) {
    SRawNote** ppTail;
    if (c.pLastAppended && c.nLastSlot == nSlot) {
        ppTail = &c.pLastAppended->pNext;
    } else {
        ppTail = &g_pSlots[nSlot].pNotes;
        while (*ppTail) ppTail = &(*ppTail)->pNext;
    }
    *ppTail = pNote;
    c.nLastSlot = nSlot;
    c.pLastAppended = pNote;
}

// A note-off, or a note-on of any velocity, ends the sounding note of its key;
// a note-on with a velocity starts a new one.
static void PairNoteEvent(SCollection& c, unsigned char bStatus, uint32_t dwTicks, SByteCursor& cursor) {
    unsigned char bKey = ReadByte(cursor);
    unsigned char bVelocity = ReadByte(cursor);
    SRawNote*& pOpen = c.apOpenNotes[bKey];
    if (pOpen) {
        pOpen->dwOff = dwTicks;
        pOpen->bClosed = 1;
        pOpen = nullptr;
    }
    if ((bStatus & 0xF0) != 0x90 || bVelocity == 0 || c.nNotesUsed >= c.nNotes) return;

    // A note-on at the very end of the track has no slot of its own: it goes
    // into the last one.
    double dSlot = floor(SlotsAt(c, dwTicks));
    uint32_t nSlot = dSlot < g_nSlots ? static_cast<uint32_t>(dSlot) : g_nSlots - 1;
    SRawNote* pNote = &g_pRawNotes[c.nNotesUsed++];
    pNote->dwOn = dwTicks;
    pNote->bPitch = bKey;
    AppendToSlot(c, nSlot, pNote);
    pOpen = pNote;
}

static void ReadTrackName(SCollection& c, SByteCursor& cursor, uint32_t nLength) {
    if (c.pFile->wFormat == 0 || g_pCurrentTrack->pszName) return;
    if (nLength > BytesLeft(cursor)) RaiseError(kMsgTrackParsingError);
    char* pszName = static_cast<char*>(AllocateFromTrack(static_cast<size_t>(nLength) + 1));
    memcpy(pszName, cursor.pNext, nLength);
    g_pCurrentTrack->pszName = pszName;
}

static void PairNotes(SCollection& c) {
    SByteCursor cursor = TrackEvents(c.pFile, c.pChunk);
    uint32_t dwTicks = 0;
    unsigned char bRunningStatus = 0;
    for (;;) {
        // The end-of-track event's delta time is where the last track's end is rewritten.
        if (c.bLastTrack) g_pEndOfTrackEvent = cursor.pNext;
        unsigned char bStatus = ReadEventHead(cursor, &dwTicks, &bRunningStatus);
        if (bStatus == kStatusMeta) {
            unsigned char bType = ReadByte(cursor);
            uint32_t nLength = ReadVarLen(cursor);
            if (bType == kMetaEndOfTrack) return;
            if (bType == kMetaTrackName) ReadTrackName(c, cursor, nLength);
            SkipBytes(cursor, nLength);
            bRunningStatus = 0;
        } else if ((bStatus & 0xF0) == 0xC0 && IsOnChosenChannel(c, bStatus)) {
            unsigned char bProgram = ReadByte(cursor);
            // The first program change to a number other than 0 names the instrument.
            if (g_pCurrentTrack->bProgram == 0) g_pCurrentTrack->bProgram = bProgram;
        } else if (((bStatus & 0xF0) == 0x80 || (bStatus & 0xF0) == 0x90) && IsOnChosenChannel(c, bStatus)) {
            PairNoteEvent(c, bStatus, dwTicks, cursor);
        } else {
            bRunningStatus = SkipEvent(bStatus, cursor);
        }
    }
}

// ---- End of track ----------------------------------------------------------------------

static void NameTrack(const SCollection& c) {
    STrack* pTrack = g_pCurrentTrack;
    if (!pTrack->pszName) {
        if (c.pFile->wFormat == 0) {
            pTrack->pszName = static_cast<char*>(AllocateFromTrack(kChannelNameBytes));
            snprintf(pTrack->pszName, kChannelNameBytes, "Channel %02d", (c.bChannel & 0x0F) + 1);
        } else {
            static const char kUntitled[] = "Untitled track";
            pTrack->pszName = static_cast<char*>(AllocateFromTrack(sizeof kUntitled));
            memcpy(pTrack->pszName, kUntitled, sizeof kUntitled);
        }
    }
    if (!pTrack->pszInstrument) pTrack->pszInstrument = LoadInstrumentName(pTrack->bProgram);
}

// Notes still sounding end with the track.
static void CloseNote(const SCollection&, SRawNote* pNote) {
    if (!pNote->bClosed) {
        pNote->dwOff = g_pCurrentTrack->dwEndTime;
        pNote->bClosed = 1;
    }
}

// Keys pushed outside 0..255 by the transposition leave the grid.
static bool Transpose(const SCollection& c, SRawNote* pNote) {
    int nPitch = pNote->bPitch + c.cTranspose;
    if (nPitch < 0 || nPitch > 255) return false;
    pNote->bPitch = static_cast<uint8_t>(nPitch);
    return true;
}

// Length in slots, rounded to the nearest whole slot (a half rounds up, and
// anything up to one slot is one slot), then as a reduced fraction of a whole.
// The reciprocal first, then the product: 147 ticks at D = 392, R = 16 are
// 1.4999999999999998 slots, one slot, not two.
static void MeasureLength(const SCollection& c, double dSlotsPerTick, uint32_t nSlot, SRawNote* pNote) {
    double dSlots = static_cast<uint32_t>(pNote->dwOff - pNote->dwOn) * dSlotsPerTick;
    double dRounded;
    if (dSlots <= 1.0) {
        dRounded = 1.0;
    } else {
        double dWhole = floor(dSlots);
        dRounded = dSlots - dWhole < 0.5 ? dWhole : dWhole + 1.0;
    }
    // A note never runs past the grid (only notes of files whose tick
    // sum wraps would).
    double dRoom = g_nSlots - nSlot;
    if (dRounded > dRoom) dRounded = dRoom;
    pNote->wLength = static_cast<uint32_t>(dRounded);
    pNote->bUnit = c.bResolution;
    HalveWhileEven(pNote->wLength, pNote->bUnit);
}

// One walk over the grid: every slot gets its start tick, and every note of
// it is closed, transposed (or dropped) and measured.
static void FinishSlots(const SCollection& c) {
    uint64_t nSlotTicksTimesR = 4ull * c.pFile->wDivision;
    double dSlotsPerTick = 1.0 / (c.pFile->wDivision * 4.0 / c.bResolution);
    for (uint32_t j = 0; j < g_nSlots; ++j) {
        g_pSlots[j].dwTime = static_cast<uint32_t>(j * nSlotTicksTimesR / c.bResolution);
        SRawNote** ppLink = &g_pSlots[j].pNotes;
        while (SRawNote* pNote = *ppLink) {
            CloseNote(c, pNote);
            if (!Transpose(c, pNote)) {
                *ppLink = pNote->pNext;
                continue;
            }
            MeasureLength(c, dSlotsPerTick, j, pNote);
            ppLink = &pNote->pNext;
        }
    }
}

void CollectTrackNotes(SMidiFile* pFile, unsigned char* pChunk, uint8_t bResolution, uint8_t bChannel,
                       bool bLastTrack, int8_t cTranspose) {
    g_pEndOfTrackEvent = nullptr;
    SCollection c;
    memset(&c, 0, sizeof c);
    c.pFile = pFile;
    c.pChunk = pChunk;
    c.bResolution = bResolution;
    c.bChannel = bChannel;
    c.bLastTrack = bLastTrack;
    c.cTranspose = cTranspose;

    CountNotes(c);
    if (c.nNotes == 0) {
        g_nSlots = 0;
        return;
    }
    SetUpGrid(c);
    PairNotes(c);
    NameTrack(c);
    FinishSlots(c);
}
