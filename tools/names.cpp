// Names a musician reads: written note names recovered from staff steps,
// accidentals, note values, clefs and keys.
#include "names.h"

#include <cmath>
#include <cstdio>

int ClefShift(int clef) {
    switch (clef) {
    case 2: return 12;   // bass: C4 sits one ledger line above the staff
    case 3: return -7;   // treble sounding an octave higher: drawn an octave lower
    case 4: return 19;   // bass sounding an octave lower: drawn an octave higher
    default: return 0;   // treble
    }
}

std::string ClefName(int clef) {
    switch (clef) {
    case 1: return "treble";
    case 2: return "bass";
    case 3: return "treble 8va";
    case 4: return "bass 8vb";
    default: return "clef " + std::to_string(clef);
    }
}

std::string AccidentalText(int accidental) {
    switch (accidental) {
    case 1: return "#";
    case 2: return "b";
    case 3: return "x";
    case 4: return "bb";
    case 5: return "n";
    default: return "";
    }
}

// Division and remainder rounding towards minus infinity, so that the steps
// below C4 land in octave 3 and lower.
static int FloorDiv(int a, int b) {
    int q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

std::string WrittenName(int step, int clef, int accidental) {
    static const char kLetters[] = "CDEFGAB";
    int treble = step - ClefShift(clef);
    int octave = 4 + FloorDiv(treble, 7);
    int letter = treble - 7 * FloorDiv(treble, 7);
    std::string name(1, kLetters[letter]);
    name += AccidentalText(accidental);
    name += std::to_string(octave);
    return name;
}

std::string ValueText(int value, int dotted) {
    std::string text = "/" + std::to_string(value);
    if (dotted) text += ".";
    return text;
}

std::string KeyCount(int key) {
    if (key == 0) return "no sharps or flats";
    int count = key > 0 ? key : -key;
    std::string text = std::to_string(count) + (key > 0 ? " sharp" : " flat");
    if (count != 1) text += "s";
    return text;
}

std::string KeyName(int key) {
    static const char* const kMajor[] = {"Cb", "Gb", "Db", "Ab", "Eb", "Bb", "F", "C",
                                         "G",  "D",  "A",  "E",  "B",  "F#", "C#"};
    static const char* const kMinor[] = {"Ab", "Eb", "Bb", "F",  "C",  "G",  "D", "A",
                                         "E",  "B",  "F#", "C#", "G#", "D#", "A#"};
    if (key < -7 || key > 7) return "";
    return std::string(kMajor[key + 7]) + " major / " + kMinor[key + 7] + " minor";
}

std::string TrimmedNumber(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.4f", value);
    std::string text = buffer;
    while (!text.empty() && text.back() == '0') text.pop_back();
    if (!text.empty() && text.back() == '.') text.pop_back();
    if (text == "-0") text = "0";
    return text;
}
