// Strings and frets of a six-string guitar in standard tuning, for the
// tablature drawn beside the staff.
#ifndef VASTREL_TABLATURE_H
#define VASTREL_TABLATURE_H

#include <stdint.h>

// Open-string pitches (MIDI keys), string 1 (the highest) first.
inline constexpr int32_t g_anOpenStrings[6] = {76, 71, 67, 62, 57, 52};
inline constexpr int32_t kHighestFret = 24;

// The preferred string of every pitch byte and the fret there, worked out
// while compiling: a chord's notes look them up instead of trying the
// strings one by one. The preferred string always reaches its pitch: the
// strings lie at most five semitones apart and string 1 stops at its 24th
// fret.
struct SFingering {
    uint8_t bString;  // 1..6, or 0
    uint8_t bFret;    // 0..24; 0 without a string
};
struct SFirstChoices {
    SFingering aOfPitch[256];
};

constexpr SFirstChoices FirstChoiceTable() {
    SFirstChoices table = {};
    for (int32_t nPitch = 0; nPitch < 256; ++nPitch) {
        if (nPitch > g_anOpenStrings[0] + kHighestFret) continue;
        for (uint8_t s = 1; s <= 6; ++s)
            if (nPitch >= g_anOpenStrings[s - 1]) {
                table.aOfPitch[nPitch] = SFingering{s, static_cast<uint8_t>(nPitch - g_anOpenStrings[s - 1])};
                break;
            }
    }
    return table;
}

inline constexpr SFirstChoices kFirstChoices = FirstChoiceTable();

// The string whose open pitch is the highest not above the pitch: 1..6, or 0
// when the pitch lies below the low E or beyond the 24th fret of string 1.
inline uint8_t PreferredString(uint8_t bPitch) { return kFirstChoices.aOfPitch[bPitch].bString; }

// The fret that sounds the pitch on the string (0..24), or 255 when the
// string does not exist or cannot reach the pitch.
uint8_t FretOnString(uint8_t bPitch, uint8_t bString);

#endif
