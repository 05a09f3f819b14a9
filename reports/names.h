// Names a musician reads: written note names recovered from staff steps,
// accidentals, note values, clefs and keys.
#ifndef VASTREL_REPORTS_NAMES_H
#define VASTREL_REPORTS_NAMES_H

#include <string>

// "treble", "bass", "treble 8va", "bass 8vb", "percussion" ("clef N" for an unknown code).
std::string ClefName(int clef);

// The MIDI channels of a channel mask (bit c: channel c + 1), as a reader
// counts them: "channel 10", "channels 1, 2, 10"; "" for none.
std::string ChannelsText(unsigned mask);

// Printed accidental: "" none, "#", "b", "x" double sharp, "bb", "n" natural.
std::string AccidentalText(int accidental);

// The written name of a note at a staff step in a clef, with the accidental
// as printed: "F#4", "Bb2", "C5".
std::string WrittenName(int step, int clef, int accidental);

// A note value and its dot as "/4", "/8.", "/1".
std::string ValueText(int value, int dotted);

// "no sharps or flats", "1 sharp", "3 flats".
std::string KeyCount(int key);

// "G major / E minor" for 1 sharp; "" outside -7..7.
std::string KeyName(int key);

// A number without trailing zeros: 1, 1.5, 2.25, 1.0625.
std::string TrimmedNumber(double value);

#endif
