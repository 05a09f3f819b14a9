// The grid of one parse: note collection files every note under the slot
// where it starts, and the builder reads the notes back slot by slot.
#ifndef VASTREL_CORE_GRID_H
#define VASTREL_CORE_GRID_H

#include <stdint.h>

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

#endif
