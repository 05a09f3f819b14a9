// Note collection on the time grid: one track chunk (format 1) or one
// channel of the single chunk (format 0) read twice. The first pass counts
// the notes and finds the end time; the second pairs every note-on with the
// event that ends it, files the note under the grid slot where it starts and
// measures it once it ends. One slot lasts 4·D/R ticks (D ticks per quarter,
// R slots per whole note).
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
    uint8_t bChannelMask;       // 0x0F in format 0 (one channel is read), 0 in format 1 (all are)
    uint8_t bChannelWanted;     // the channel in format 0, 0 in format 1
    uint32_t nNotes;            // note-ons counted by the first pass
    uint64_t nSlotTicksTimesR;  // 4·D: the ticks of R slots
    double dSlotsPerTick;       // R/(4·D), as MeasureLength has always rounded it
};

// The sounding note of one key and the slot it starts in.
struct SOpenNote {
    SRawNote* pNote;            // null while the key is silent
    uint32_t nSlot;
};

// The second pass's state.
struct SPairing {
    SOpenNote* aOpenNotes;      // by key
    uint32_t nNotesUsed;        // raw notes handed out
    uint32_t nLastSlot;         // slot of the note appended last, for an O(1) append
    SRawNote* pLastAppended;
};

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
    return (bStatus & c.bChannelMask) == c.bChannelWanted;
}

// Slots, possibly fractional, from the start of the track to tick t.
static double SlotsAt(const SCollection& c, uint32_t dwTicks) {
    return dwTicks * static_cast<double>(c.bResolution) / (c.pFile->wDivision * 4.0);
}

// The slot tick t starts in: t·R/(4·D) rounded down, in whole numbers, the
// same as the floor of SlotsAt(t) for every tick. There t·R is exact (below
// 2^40) and the quotient is rounded once: below 2^20, the most slots a grid
// has, by less than 2^-33, while a quotient that is not whole lies at least
// 1/(4·D) > 2^-18 from the next whole number, so both floors agree; and no
// rounding carries a quotient across g_nSlots, a whole number, so a note at
// or past the grid's end (past the end only where a track's tick sum wraps)
// goes into the last slot either way.
static uint32_t SlotOf(const SCollection& c, uint32_t dwTicks) {
    uint64_t nSlot = dwTicks * static_cast<uint64_t>(c.bResolution) / c.nSlotTicksTimesR;
    return nSlot < g_nSlots ? static_cast<uint32_t>(nSlot) : g_nSlots - 1;
}

// Steps over a system event (rare next to channel messages) on a copy of the
// cursor, so that the event loops can keep theirs in registers.
static unsigned char SkipSystemEvent(unsigned char bStatus, SByteCursor& cursor) {
    SByteCursor copy = cursor;
    unsigned char bRunningStatus = SkipEvent(bStatus, copy);
    cursor.pNext = copy.pNext;
    return bRunningStatus;
}

// ---- First pass: counting ------------------------------------------------------------

// Only note-ons of the chosen channels and the end time matter here: every
// other channel message is stepped over by its length alone.
static void CountNotes(SCollection& c) {
    SByteCursor cursor = TrackEvents(c.pFile, c.pChunk);
    uint32_t dwTicks = 0;
    unsigned char bRunningStatus = 0;
    uint32_t nNotes = 0;
    for (;;) {
        unsigned char bStatus = ReadEventHead(cursor, &dwTicks, &bRunningStatus);
        if (bStatus >= 0xF0) {
            bRunningStatus = SkipSystemEvent(bStatus, cursor);
            if (bRunningStatus == kStatusMeta) break;
            continue;
        }
        uint32_t nData = ChannelDataBytes(bStatus);
        if (nData > BytesLeft(cursor)) RaiseTrackParsingError();
        if ((bStatus & 0xF0) == 0x90 && IsOnChosenChannel(c, bStatus) && cursor.pNext[1] != 0) ++nNotes;
        cursor.pNext += nData;
    }
    c.nNotes = nNotes;
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
    c.nSlotTicksTimesR = 4ull * c.pFile->wDivision;
    c.dSlotsPerTick = 1.0 / (c.pFile->wDivision * 4.0 / c.bResolution);
}

// ---- Second pass: pairing ---------------------------------------------------------------

// Files a note at the end of its slot's list. Notes arrive in time order, so
// the list's tail is nearly always the note appended just before.
static void AppendToSlot(SPairing& pairing, uint32_t nSlot, SRawNote* pNote) {
    SRawNote** ppTail;
    if (pairing.pLastAppended && pairing.nLastSlot == nSlot) {
        ppTail = &pairing.pLastAppended->pNext;
    } else {
        ppTail = &g_pSlots[nSlot].pNotes;
        while (*ppTail) ppTail = &(*ppTail)->pNext;
    }
    *ppTail = pNote;
    pairing.nLastSlot = nSlot;
    pairing.pLastAppended = pNote;
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
static void MeasureLength(const SCollection& c, uint32_t nSlot, SRawNote* pNote) {
    double dSlots = static_cast<uint32_t>(pNote->dwOff - pNote->dwOn) * c.dSlotsPerTick;
    int64_t nRounded = 1;
    if (dSlots > 1.0) {
        // Below 2^37 (2^32 ticks of 16 slots at most): truncation is the floor.
        // A half goes up or not as the lengths come, so the comparison is
        // added rather than branched on.
        int64_t nWhole = static_cast<int64_t>(dSlots);
        nRounded = nWhole + (dSlots - static_cast<double>(nWhole) >= 0.5);
    }
    // A note never runs past the grid (only notes of files whose tick
    // sum wraps would).
    uint32_t nRoom = g_nSlots - nSlot;
    pNote->wLength = nRounded > static_cast<int64_t>(nRoom) ? nRoom : static_cast<uint32_t>(nRounded);
    pNote->bUnit = c.bResolution;
    HalveWhileEven(pNote->wLength, pNote->bUnit);
}

// The note ends at tick t and gets its length.
static void CloseNote(const SCollection& c, SOpenNote& open, uint32_t dwTicks) {
    open.pNote->dwOff = dwTicks;
    MeasureLength(c, open.nSlot, open.pNote);
    open.pNote = nullptr;
}

// A note-off, or a note-on of any velocity, ends the sounding note of its key;
// a note-on with a velocity starts a new one. A note transposed out of range
// stays out of the grid, but still ends like any other.
static void PairNoteEvent(const SCollection& c, SPairing& pairing, unsigned char bKind, unsigned char bKey,
                          unsigned char bVelocity, uint32_t dwTicks) {
    SOpenNote& open = pairing.aOpenNotes[bKey];
    if (open.pNote) CloseNote(c, open, dwTicks);
    if (bKind != 0x90 || bVelocity == 0 || pairing.nNotesUsed >= c.nNotes) return;

    // A note-on at the very end of the track has no slot of its own: it goes
    // into the last one.
    uint32_t nSlot = SlotOf(c, dwTicks);
    SRawNote* pNote = &g_pRawNotes[pairing.nNotesUsed++];
    pNote->dwOn = dwTicks;
    pNote->bPitch = bKey;
    if (Transpose(c, pNote)) AppendToSlot(pairing, nSlot, pNote);
    open.pNote = pNote;
    open.nSlot = nSlot;
}

static void ReadTrackName(const SCollection& c, SByteCursor cursor, uint32_t nLength) {
    if (c.pFile->wFormat == 0 || g_pCurrentTrack->pszName) return;
    if (nLength > BytesLeft(cursor)) RaiseError(kMsgTrackParsingError);
    char* pszName = static_cast<char*>(AllocateFromTrack(static_cast<size_t>(nLength) + 1));
    memcpy(pszName, cursor.pNext, nLength);
    g_pCurrentTrack->pszName = pszName;
}

// Every note event of the chosen channels, the first program change and the
// track's name; the end-of-track event is remembered for the last track.
static void PairNotes(const SCollection& c, SPairing& pairing) {
    SByteCursor cursor = TrackEvents(c.pFile, c.pChunk);
    uint32_t dwTicks = 0;
    unsigned char bRunningStatus = 0;
    for (;;) {
        unsigned char* pEvent = cursor.pNext;
        unsigned char bStatus = ReadEventHead(cursor, &dwTicks, &bRunningStatus);
        if (bStatus < 0xF0) {
            uint32_t nData = ChannelDataBytes(bStatus);
            if (nData > BytesLeft(cursor)) RaiseTrackParsingError();
            unsigned char bKind = bStatus & 0xF0;
            if ((bKind == 0x80 || bKind == 0x90) && IsOnChosenChannel(c, bStatus)) {
                PairNoteEvent(c, pairing, bKind, cursor.pNext[0], cursor.pNext[1], dwTicks);
            } else if (bKind == 0xC0 && IsOnChosenChannel(c, bStatus)) {
                // The first program change to a number other than 0 names the instrument.
                if (g_pCurrentTrack->bProgram == 0) g_pCurrentTrack->bProgram = cursor.pNext[0];
            }
            cursor.pNext += nData;
        } else if (bStatus == kStatusMeta) {
            unsigned char bType = ReadByte(cursor);
            uint32_t nLength = ReadVarLen(cursor);
            if (bType == kMetaEndOfTrack) {
                // Its delta time is where the last track's end is rewritten.
                if (c.bLastTrack) g_pEndOfTrackEvent = pEvent;
                return;
            }
            if (bType == kMetaTrackName) ReadTrackName(c, cursor, nLength);
            SkipBytes(cursor, nLength);
            bRunningStatus = 0;
        } else {
            bRunningStatus = SkipSystemEvent(bStatus, cursor);
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
static void CloseSoundingNotes(const SCollection& c, SPairing& pairing) {
    for (uint32_t nKey = 0; nKey < 256; ++nKey)
        if (pairing.aOpenNotes[nKey].pNote) CloseNote(c, pairing.aOpenNotes[nKey], g_pCurrentTrack->dwEndTime);
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

    c.bChannelMask = pFile->wFormat == 0 ? 0x0F : 0;
    c.bChannelWanted = pFile->wFormat == 0 ? bChannel : 0;

    CountNotes(c);
    if (c.nNotes == 0) {
        g_nSlots = 0;
        return;
    }
    SetUpGrid(c);
    SPairing pairing;
    memset(&pairing, 0, sizeof pairing);
    pairing.aOpenNotes = AllocateTransient<SOpenNote>(256, kMsgNoMemory);
    PairNotes(c, pairing);
    NameTrack(c);
    CloseSoundingNotes(c, pairing);
}
