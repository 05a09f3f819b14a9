// Names a musician reads: written note names recovered from staff steps,
// accidentals, note values, clefs and keys.
#include "names.h"

#include <cmath>
#include <cstdio>

#include "score_model.h"
#include "staff_steps.h"

std::string ClefName(int clef) {
    switch (clef) {
    case kClefTreble: return "treble";
    case kClefBass: return "bass";
    case kClefTrebleOctaveUp: return "treble 8va";
    case kClefBassOctaveDown: return "bass 8vb";
    case kClefPercussion: return "percussion";
    default: return "clef " + std::to_string(clef);
    }
}

std::string ChannelsText(unsigned mask) {
    std::string list;
    int count = 0;
    for (int c = 0; c < 16; ++c) {
        if (!(mask & (1u << c))) continue;
        list += (count++ ? ", " : "") + std::to_string(c + 1);
    }
    return count == 0 ? "" : (count == 1 ? "channel " : "channels ") + list;
}

std::string AccidentalText(int accidental) {
    switch (accidental) {
    case kAccidentalSharp: return "#";
    case kAccidentalFlat: return "b";
    case kAccidentalDoubleSharp: return "x";
    case kAccidentalDoubleFlat: return "bb";
    case kAccidentalNatural: return "n";
    default: return "";
    }
}

std::string WrittenName(int step, int clef, int accidental) {
    static const char kLetters[] = "CDEFGAB";
    const int treble = TrebleStep(step, StepShiftOfClef(clef));
    std::string name(1, kLetters[LetterOf(treble)]);
    name += AccidentalText(accidental);
    name += std::to_string(OctaveOf(treble));
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
