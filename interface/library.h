// What the subsystems share inside the library: the module state, the one
// way to raise a failure, and allocation from the heaps it owns.
#ifndef VASTREL_LIBRARY_H
#define VASTREL_LIBRARY_H

#include "vastrel.h"

#include "../platform/platform.h"

#include <stddef.h>
#include <stdint.h>

// ---- Message ids of the string table ---------------------------------------

enum EMessageId {
    kMsgCannotOpenFile = 230,
    kMsgNoMemoryForBuffer = 231,
    kMsgCannotReadFile = 254,
    kMsgBufferNotPrepared = 255,
    kMsgInvalidTrackNumber = 256,
    kMsgInvalidResolution = 257,
    kMsgInvalidTrackHeader = 258,
    kMsgNoTrackHeap = 259,
    kMsgNoTrackRecord = 260,
    kMsgBufferEmpty = 261,
    kMsgHeaderNotFound = 262,
    kMsgInvalidHeaderLength = 263,
    kMsgFormatNotSupported = 264,
    kMsgInvalidDivision = 265,
    kMsgTrackParsingError = 266,
    kMsgNoMemory = 267,
    kMsgInvalidTimeSignature = 268,
    kMsgInvalidTempo = 269,
    kMsgNoTransientHeap = 270,
    kMsgNoTransientSlots = 271,
    kMsgNoTransientNotes = 272,
    kMsgNoMeasureSections = 273,
    kMsgIncompatibleMeters = 274,
};

static const unsigned kFirstInstrumentId = 101;  // string id of program 0

// Loads message nId from the string table and throws it as CVastrelException.
[[noreturn]] void RaiseError(int nId);

// ---- Grid and transient records of one parse ----------------------------------

// One note between its note-on and the event that ends it.
struct SRawNote {
    uint8_t bPitch;      // MIDI key, transposed at the end of the track
    uint32_t wLength;    // length in units of 1/bUnit of a whole note (wider than 16 bits, so
                         // that a note of more than 65535 grid slots keeps its length)
    uint8_t bUnit;       // the unit as a denominator; starts as the resolution
    uint8_t bTieIn;      // continues a note of the previous measure
    uint8_t bTieOut;     // continues into the next measure
    uint32_t dwOn;       // tick of the note-on
    uint32_t dwOff;      // tick of the event that ended it, or the end of the track
    SRawNote* pNext;     // next note starting in the same slot
};

// One grid slot of 4·D/R ticks; slot j starts at tick j·4·D/R rounded down,
// which stage A works out as it lays out the sections.
struct SSlot {
    SRawNote* pNotes;    // notes starting here, in note-on order
};

// ---- Module state (one set per loaded library) -------------------------------

extern void* g_hModule;                  // handle given at process attach
extern STrack* g_pCurrentTrack;          // the track under construction or last built
extern void* g_hTransientHeap;           // holds the grid of one parse
extern SSlot* g_pSlots;                  // the grid slots
extern SRawNote* g_pRawNotes;            // the notes of the grid, one array
extern uint32_t g_nSlots;                // number of grid slots; 0 for a track without notes
extern unsigned char* g_pEndOfTrackEvent;  // delta time of the last track's end-of-track event, or null
extern SMeasure* g_pCachedMeasure;       // position cache: the measure returned last,
extern STrack* g_pCachedTrack;           //   the track it belongs to,
extern uint32_t g_nCachedFileSize;       //   and the size of that track's file

// ---- Allocation --------------------------------------------------------------

// A zero-filled block of the current track's heap; raises nErrorId when none.
// Inline, like FreeToTrack, since a large parse asks for half a million.
inline void* AllocateFromTrack(size_t nBytes, int nErrorId = kMsgNoMemory) {
    void* pBlock = g_pCurrentTrack ? PlatformAllocate(g_pCurrentTrack->hHeap, nBytes, true) : nullptr;
    if (!pBlock) RaiseError(nErrorId);
    return pBlock;
}

inline void FreeToTrack(void* pBlock) {
    if (g_pCurrentTrack) PlatformFree(g_pCurrentTrack->hHeap, pBlock);
}

template <typename T>
T* AllocateRecords(size_t nCount, int nErrorId = kMsgNoMemory) {
    if (nCount > SIZE_MAX / sizeof(T)) RaiseError(nErrorId);
    return static_cast<T*>(AllocateFromTrack(sizeof(T) * nCount, nErrorId));
}

// ---- Bits ------------------------------------------------------------------------

// The position of the lowest set bit of a word that has one: that bit alone,
// times a de Bruijn sequence, leaves a pattern of its own in the top six
// bits for each of the 64 positions (no division, no compiler intrinsic).
inline uint32_t LowestBit(uint64_t q) {
    static const uint8_t kPosition[64] = {
        0,  1,  48, 2,  57, 49, 28, 3,  61, 58, 50, 42, 38, 29, 17, 4,  62, 55, 59, 36, 53, 51,
        43, 22, 45, 39, 33, 30, 24, 18, 12, 5,  63, 47, 56, 27, 60, 41, 37, 16, 54, 35, 52, 21,
        44, 32, 23, 11, 46, 26, 40, 15, 34, 20, 31, 10, 25, 14, 19, 9,  13, 8,  7,  6};
    return kPosition[((q & (0 - q)) * 0x03F79D71B4CB0A89u) >> 58];
}

// Calls visit(k) for every bit k set in a set of nWords 64-bit words (bit k
// is bit k % 64 of word k / 64), in ascending order.
template <typename Visit>
inline void ForEachInSet(const uint64_t* pqSet, uint32_t nWords, Visit visit) {
    for (uint32_t w = 0; w < nWords; ++w)
        for (uint64_t q = pqSet[w]; q; q &= q - 1) visit(w * 64 + LowestBit(q));
}

// ---- Readable extent of a loaded file ------------------------------------------
// The loaded file record carries one private field behind the public ones:
// how many bytes past the Standard MIDI File data are readable, because a
// parse of the last track may have lengthened its end-of-track event into
// the spare bytes behind the file.

struct SLoadedFile {
    SMidiFile file;       // the public record; first, so the two addresses agree
    uint32_t nGrowth;     // bytes of rewritten end-of-track event past nDataSize (0..3)
};

inline SLoadedFile* LoadedFile(SMidiFile* pFile) { return reinterpret_cast<SLoadedFile*>(pFile); }

// First byte past what the event readers may read.
inline unsigned char* EndOfReadableData(SMidiFile* pFile) {
    return pFile->pData + pFile->nDataSize + LoadedFile(pFile)->nGrowth;
}

// Spare bytes behind the file that a rewrite may use.
static const uint32_t kSpareBytes = 3;

// ---- Instrument names ----------------------------------------------------------

// A 128-byte buffer from the track's heap holding string 101 + program.
char* LoadInstrumentName(uint8_t bProgram);

// ---- Parsing in stages (for the tests: stop after any builder stage) -------------

STrack* ParseTrackThrough(SMidiFile* pFile, unsigned short wTrack, unsigned char bResolution,
                          char cTranspose, char cLastStage);

// Forgets the position cache when it belongs to this track.
void ForgetCachedPosition(const STrack* pTrack);

#endif
