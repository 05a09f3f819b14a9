// Strings and frets of a six-string guitar in standard tuning, for the
// tablature drawn beside the staff.
#ifndef VASTREL_TABLATURE_H
#define VASTREL_TABLATURE_H

#include <stdint.h>

// Open-string pitches (MIDI keys), string 1 (the highest) first.
extern const int32_t g_anOpenStrings[6];

// The string whose open pitch is the highest not above the pitch: 1..6, or 0
// when the pitch lies below the low E or beyond the 24th fret of string 1.
uint8_t PreferredString(uint8_t bPitch);

// The fret that sounds the pitch on the string (0..24), or 255 when the
// string does not exist or cannot reach the pitch.
uint8_t FretOnString(uint8_t bPitch, uint8_t bString);

#endif
