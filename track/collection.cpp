// Note collection on the time grid: one track chunk (format 1) or one
// channel of the single chunk (format 0) read twice. The first pass counts
// the notes and finds the end time; the second pairs every note-on with the
// event that ends it, files the note under the grid slot where it starts and
// measures it once it ends. One slot lasts 4·D/R ticks (D ticks per quarter,
// R slots per whole note).
#include "track.h"

#include "../core/allocation.h"
#include "../core/errors.h"
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
    uint8_t abStatus[256];      // what each channel status is to the passes (kDataBytes, kNoteEvent, ...)
    uint32_t nNotes;            // note-ons counted by the first pass
    uint16_t wNoteChannels;     //   and their channels (bit c: channel c + 1)
    uint32_t nSlots;            // g_nSlots, the grid's length
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
    SSlot* aSlots;              // g_pSlots
    SRawNote* pNextNote;        // the next raw note of g_pRawNotes to hand out
    SRawNote* pNotesEnd;        // and the end of the array
    uint32_t nSlotsCleared;     // slots from the first whose lists are set
    uint32_t nLastSlot;         // slot of the note appended last (none at first), for an O(1) append
    SRawNote* pLastAppended;
};

void DestroyTransientHeap() {
    if (!g_hTransientHeap) return;
    PlatformDestroyHeap(g_hTransientHeap);
    g_hTransientHeap = nullptr;
    g_pSlots = nullptr;
    g_pRawNotes = nullptr;
}

// What a channel message's status is to the passes, looked up once per event:
// its data bytes, and whether it is a note event, a note-on or a program
// change of a chosen channel.
static const uint8_t kDataBytes = 0x03;       // the low bits: 1 or 2
static const uint8_t kNoteEvent = 0x04;       // 0x8n or 0x9n
static const uint8_t kNoteOn = 0x08;          // 0x9n
static const uint8_t kProgramChange = 0x10;   // 0xCn

// Format 0 keeps only the chosen channel (one of its 16); format 1 takes every
// channel.
static void ChooseChannels(SCollection& c, bool bOneChannel, uint8_t bChannel) {
    for (uint32_t nStatus = 0x80; nStatus < 0xF0; ++nStatus) {
        uint8_t bMeaning = static_cast<uint8_t>(ChannelDataBytes(static_cast<unsigned char>(nStatus)));
        if (!bOneChannel || (nStatus & 0x0F) == bChannel) {
            if ((nStatus & 0xE0) == 0x80) bMeaning |= kNoteEvent;
            if ((nStatus & 0xF0) == 0x90) bMeaning |= kNoteOn;
            if ((nStatus & 0xF0) == 0xC0) bMeaning |= kProgramChange;
        }
        c.abStatus[nStatus] = bMeaning;
    }
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
    return nSlot < c.nSlots ? static_cast<uint32_t>(nSlot) : c.nSlots - 1;
}

// The chunk's events up to its end-of-track event (WalkTrackEvents), read
// the same way by both passes: every channel message goes to
// onChannel(bStatus, bMeaning, pData, dwTicks) with its status's meaning
// from c.abStatus.
template <typename FChannel, typename FSystem>
static uint32_t WalkEvents(const SCollection& c, FChannel onChannel, FSystem onSystem, unsigned char** ppEndOfTrack) {
    return WalkTrackEvents(
        TrackEvents(c.pFile, c.pChunk),
        [&](unsigned char bStatus, const unsigned char* pData, uint32_t dwTicks) {
            onChannel(bStatus, c.abStatus[bStatus], pData, dwTicks);
        },
        onSystem, ppEndOfTrack);
}

// ---- First pass: counting ------------------------------------------------------------

// Only note-ons of the chosen channels and the end time matter here.
static void CountNotes(SCollection& c) {
    uint32_t nNotes = 0;
    uint32_t dwChannels = 0;
    unsigned char* pEndOfTrack;
    g_pCurrentTrack->dwEndTime = WalkEvents(
        c,
        [&](unsigned char bStatus, uint8_t bMeaning, const unsigned char* pData, uint32_t) {
            // Counted without a branch: note-ons and other events come in no
            // order a branch could learn. The last data byte is a note-on's
            // velocity.
            unsigned char bLastData = pData[(bMeaning & kDataBytes) - 1];
            uint32_t nNoteOn = ((bMeaning & kNoteOn) != 0) & (bLastData != 0);
            nNotes += nNoteOn;
            dwChannels |= nNoteOn << (bStatus & 0x0F);
        },
        [](unsigned char, const SByteCursor&) {}, &pEndOfTrack);
    c.nNotes = nNotes;
    c.wNoteChannels = static_cast<uint16_t>(dwChannels);
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
    // Pairing writes every slot and every raw note in full: their memory
    // need not be cleared first.
    g_pSlots = AllocateTransient<SSlot>(g_nSlots, kMsgNoTransientSlots, false);
    g_pRawNotes = AllocateTransient<SRawNote>(c.nNotes, kMsgNoTransientNotes, false);
    g_pCurrentTrack->nNotes = static_cast<int32_t>(c.nNotes);
    c.nSlots = g_nSlots;
    c.nSlotTicksTimesR = 4ull * c.pFile->wDivision;
    c.dSlotsPerTick = 1.0 / (c.pFile->wDivision * 4.0 / c.bResolution);
}

// ---- Second pass: pairing ---------------------------------------------------------------

// The slots' memory is not cleared beforehand: the pass empties their lists
// a run at a time just ahead of the notes it files, a kilobyte (128 slots)
// at least, so that every slot is set once and by the end of the pass.
static const uint32_t kSlotsClearedAtOnce = 128;

// Empties the lists of the slots not yet reached, at least up to (not
// including) slot nTo.
static void ClearSlotsTo(const SCollection& c, SPairing& pairing, uint32_t nTo) {
    uint32_t nFrom = pairing.nSlotsCleared;
    if (nTo - nFrom < kSlotsClearedAtOnce) nTo = nFrom + kSlotsClearedAtOnce;
    if (nTo > c.nSlots) nTo = c.nSlots;
    memset(pairing.aSlots + nFrom, 0, (nTo - nFrom) * sizeof(SSlot));
    pairing.nSlotsCleared = nTo;
}

// Files a note at the end of its slot's list. Notes arrive in time order, so
// the list's tail is nearly always the note appended just before. (Only a
// track whose tick sum wraps goes back to an earlier slot.)
static void AppendToSlot(const SCollection& c, SPairing& pairing, uint32_t nSlot, SRawNote* pNote) {
    SRawNote** ppTail;
    if (nSlot == pairing.nLastSlot) {
        ppTail = &pairing.pLastAppended->pNext;
    } else {
        if (nSlot >= pairing.nSlotsCleared) ClearSlotsTo(c, pairing, nSlot + 1);
        ppTail = &pairing.aSlots[nSlot].pNotes;
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
    uint32_t nRoom = c.nSlots - nSlot;
    uint32_t wLength = nRounded > static_cast<int64_t>(nRoom) ? nRoom : static_cast<uint32_t>(nRounded);
    uint8_t bUnit = c.bResolution;
    HalveNonZeroWhileEven(wLength, bUnit);  // a slot at least, and R >= 2
    pNote->wLength = wLength;
    pNote->bUnit = bUnit;
}

// The note ends at tick t and gets its length.
static void CloseNote(const SCollection& c, SOpenNote& open, uint32_t dwTicks) {
    open.pNote->dwOff = dwTicks;
    MeasureLength(c, open.nSlot, open.pNote);
    open.pNote = nullptr;
}

// A raw note starting at tick t, written in full (its memory was not cleared).
static SRawNote* StartRawNote(SPairing& pairing, unsigned char bKey, uint32_t dwTicks) {
    SRawNote* pNote = pairing.pNextNote++;
    pNote->bPitch = bKey;
    pNote->bTieIn = 0;
    pNote->bTieOut = 0;
    pNote->dwOn = dwTicks;
    pNote->pNext = nullptr;
    return pNote;
}

// A note-off (0x8n), or a note-on (0x9n) of any velocity, ends the sounding
// note of its key; a note-on with a velocity starts a new one. A note
// transposed out of range stays out of the grid, but still ends like any
// other. (Inline: every note event comes here, and a call costs a fifth more.)
static inline void PairNoteEvent(const SCollection& c, SPairing& pairing, bool bNoteOn, unsigned char bKey,
                                 unsigned char bVelocity, uint32_t dwTicks) {
    SOpenNote& open = pairing.aOpenNotes[bKey];
    if (open.pNote) CloseNote(c, open, dwTicks);
    if (!bNoteOn || bVelocity == 0 || pairing.pNextNote == pairing.pNotesEnd) return;

    // A note-on at the very end of the track has no slot of its own: it goes
    // into the last one.
    uint32_t nSlot = SlotOf(c, dwTicks);
    SRawNote* pNote = StartRawNote(pairing, bKey, dwTicks);
    if (Transpose(c, pNote)) AppendToSlot(c, pairing, nSlot, pNote);
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

// A meta event that names the track (read on a copy of the cursor, which
// stands after the status byte).
static void ReadMetaEvent(const SCollection& c, unsigned char bStatus, SByteCursor cursor) {
    if (bStatus != kStatusMeta) return;
    unsigned char bType = ReadByte(cursor);
    uint32_t nLength = ReadVarLen(cursor);
    if (bType == kMetaTrackName) ReadTrackName(c, cursor, nLength);
}

// Every note event of the chosen channels, the first program change and the
// track's name; the end-of-track event is remembered for the last track.
static void PairNotes(const SCollection& c, SPairing& pairing) {
    unsigned char* pEndOfTrack;
    WalkEvents(
        c,
        [&](unsigned char, uint8_t bMeaning, const unsigned char* pData, uint32_t dwTicks) {
            if (bMeaning & kNoteEvent) {
                PairNoteEvent(c, pairing, bMeaning & kNoteOn, pData[0], pData[1], dwTicks);
            } else if (bMeaning & kProgramChange) {
                // The first program change to a number other than 0 names the instrument.
                if (g_pCurrentTrack->bProgram == 0) g_pCurrentTrack->bProgram = pData[0];
            }
        },
        [&](unsigned char bStatus, const SByteCursor& cursor) { ReadMetaEvent(c, bStatus, cursor); }, &pEndOfTrack);
    // Its delta time is where the last track's end is rewritten.
    if (c.bLastTrack) g_pEndOfTrackEvent = pEndOfTrack;
    if (pairing.nSlotsCleared < c.nSlots) ClearSlotsTo(c, pairing, c.nSlots);
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

    ChooseChannels(c, pFile->wFormat == 0, bChannel);

    CountNotes(c);
    g_pCurrentTrack->wChannels = c.wNoteChannels;
    if (c.nNotes == 0) {
        g_nSlots = 0;
        return;
    }
    SetUpGrid(c);
    SPairing pairing;
    memset(&pairing, 0, sizeof pairing);
    pairing.nLastSlot = UINT32_MAX;
    pairing.aSlots = g_pSlots;
    pairing.pNextNote = g_pRawNotes;
    pairing.pNotesEnd = g_pRawNotes + c.nNotes;
    pairing.aOpenNotes = AllocateTransient<SOpenNote>(256, kMsgNoMemory);
    PairNotes(c, pairing);
    NameTrack(c);
    CloseSoundingNotes(c, pairing);
}
