// Damaged copies of sound files, every one of them: each byte in turn set
// to the values that mean the most to the format, and the file cut short at
// every length. Each copy is loaded and every track parsed, read, checked and
// followed by playback; it must come out as a sound model or as a refusal
// with a table message, with nothing left behind, and never read outside the
// file (which the sanitizer builds would see).
#include <string>
#include <vector>

#include "../support/test_support.h"
#include "hostile_input.h"

namespace {

const uint32_t W = kWhole, H = kHalf, Q = kQuarter, E = kEighth;

// Two music tracks behind a conductor, the last one ending inside a measure.
MidiFile TwoParts() {
    MidiFile file;
    file.Conductor().Name(0, "Duet for flute and bass").Tempo(0, 500000).TimeSignature(0, 3, 2).KeySignature(0, 1);
    MidiTrack& upper = file.AddTrack().Name(0, "Flute, upper part").Program(0, 73);
    for (uint32_t i = 0; i < 6; ++i) upper.Note(i * E, E, static_cast<uint8_t>(67 + i));
    upper.Chord(3 * Q, H + Q, {72, 76}).Note(3 * Q + H, W, 79);
    file.AddTrack()
        .Name(0, "Bass guitar, lower part")
        .Note(0, 3 * Q, 43)
        .Note(3 * Q, Q + E, 47)
        .Chord(4 * Q + E, E, {50, 52});
    return file;
}

// One channel pair of a format 0 file under running status.
MidiFile OneChunk() {
    MidiFile file(120, 0);
    MidiTrack& chunk = file.Conductor().TimeSignature(0, 6, 3).UseRunningStatus();
    chunk.Note(0, 180, 60, 0).Note(180, 60, 62, 0).Chord(0, 360, {36, 48}, 1).Note(240, 300, 64, 0);
    return file;
}

// Cheap enough for every build: one grid per copy, and copies whose damage
// asks for millions of sections end as refusals for want of memory.
ExerciseLimits Limits() {
    ExerciseLimits limits;
    limits.invariantBudget = 2000000;
    limits.allocationBudget = 20000;
    return limits;
}

void ExpectSound(const Bytes& bytes, const ParsePlan& plan, const std::string& what) {
    TempFile temp(bytes);
    HostileRun run = ExerciseFile(temp.Path(), {plan}, Limits());
    for (const std::string& problem : run.problems) ADD_FAILURE() << what << ": " << problem;
}

struct Original {
    const char* name;
    Bytes bytes;
};

std::vector<Original> Originals() {
    return {{"two parts", TwoParts().Build()},
            {"two parts behind a RIFF head", TwoParts().WrapInRiff().Build()},
            {"one chunk", OneChunk().Build()}};
}

// Values that change what a byte means: a data byte at its limits, a status
// where data was, the end of a variable-length quantity or its continuation.
const uint8_t kDamage[] = {0x00, 0x01, 0x7F, 0x80, 0x90, 0xF0, 0xFF};

TEST(Corruption, EveryByteSetToAMeaningfulValue) {
    for (const Original& original : Originals()) {
        for (size_t at = 0; at < original.bytes.size(); ++at) {
            for (size_t d = 0; d < std::size(kDamage); ++d) {
                if (original.bytes[at] == kDamage[d]) continue;
                Bytes damaged = original.bytes;
                damaged[at] = kDamage[d];
                // Each copy gets one grid and transposition, taken in turn.
                const ParsePlan plan = FullPlans()[(at * std::size(kDamage) + d) % FullPlans().size()];
                ExpectSound(damaged, plan,
                            std::string(original.name) + ", byte " + std::to_string(at) + " set to " +
                                std::to_string(kDamage[d]));
            }
        }
    }
}

TEST(Corruption, EveryLengthCutShort) {
    for (const Original& original : Originals()) {
        for (size_t length = 0; length < original.bytes.size(); ++length) {
            Bytes cut(original.bytes.begin(), original.bytes.begin() + static_cast<long>(length));
            ExpectSound(cut, FullPlans()[length % FullPlans().size()],
                        std::string(original.name) + ", cut to " + std::to_string(length) + " bytes");
        }
    }
}

}  // namespace
