// Note collection: the chosen track or channel read twice onto the time
// grid of the parse (module state g_pSlots, g_pRawNotes, g_nSlots).
#ifndef VASTREL_TRACK_H
#define VASTREL_TRACK_H

#include "../core/bits.h"
#include "../core/module_state.h"

// Counts the notes and the end time, then pairs note-ons with the events that
// end them and files each note under the grid slot where it starts; names the
// track and its instrument, transposes and gives every note its length as a
// reduced fraction of a whole note.
void CollectTrackNotes(SMidiFile* pFile, unsigned char* pChunk, uint8_t bResolution, uint8_t bChannel,
                       bool bLastTrack, int8_t cTranspose);

// Destroys the grid of the last parse, if any.
void DestroyTransientHeap();

// Reduces length/unit while both are even: 6/16 becomes 3/8, 3/16 stays.
// Both lose the power of two they share, the lowest bit set in either (two
// shifts instead of two divisions). Note collection reduces the length of
// every note it files this way, with HalveNonZeroWhileEven: a note lasts a
// slot at least and its unit is the grid, so neither is 0 and the test is
// spared. HalveWhileEven, which leaves a length or unit of 0 as it is, is the
// rule as the tests of lengths state it.
inline void HalveNonZeroWhileEven(uint32_t& wLength, uint8_t& bUnit) {
    uint32_t nShift = LowestBit(wLength | bUnit);
    wLength >>= nShift;
    bUnit = static_cast<uint8_t>(bUnit >> nShift);
}
inline void HalveWhileEven(uint32_t& wLength, uint8_t& bUnit) {
    if (!wLength || !bUnit) return;
    HalveNonZeroWhileEven(wLength, bUnit);
}

#endif
