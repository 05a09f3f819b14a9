// Hand separation: every note of a keyboard part to the hand a pianist would
// play it with (a line kept in its hand, the split moving with the music,
// held notes counted in a hand's reach), and the choice of a grand staff.
#include <gtest/gtest.h>

#include "../../notation/hands.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

namespace {

// Onsets and lengths in sixteenth notes.
const uint32_t kSixteenth = 1;
const uint32_t kEighth = 2;
const uint32_t kQuarter = 4;
const uint32_t kHalf = 8;
const uint32_t kWhole = 16;

// The MIDI key of a name such as "C4" (middle C, 60), "F#3" or "Bb2".
uint8_t K(const std::string& name) {
    static const int kLetter[] = {9, 11, 0, 2, 4, 5, 7};  // A B C D E F G
    int key = kLetter[name[0] - 'A'];
    size_t at = 1;
    if (name[at] == '#') ++key, ++at;
    else if (name[at] == 'b') --key, ++at;
    return static_cast<uint8_t>(key + 12 * (std::stoi(name.substr(at)) + 1));
}

struct Part {
    std::vector<SHandNote> notes;
    // Notes of equal length one after the other from `start`.
    Part& Line(uint32_t start, uint32_t length, std::initializer_list<const char*> keys) {
        for (const char* key : keys) notes.push_back({start, start + length, K(key)}), start += length;
        return *this;
    }
    // Notes struck together.
    Part& Chord(uint32_t start, uint32_t length, std::initializer_list<const char*> keys) {
        for (const char* key : keys) notes.push_back({start, start + length, K(key)});
        return *this;
    }
};

std::string Describe(const SHandNote& note, int hand) {
    return std::to_string(note.bKey) + " at " + std::to_string(note.dwOn) + (hand == kUpperHand ? " right" : " left");
}

// Separates the two parts merged into one track and lists the notes that
// went to the other hand than the part they came from.
std::vector<std::string> Misplaced(const Part& right, const Part& left) {
    std::vector<std::pair<SHandNote, int>> all;
    for (const SHandNote& n : right.notes) all.push_back({n, kUpperHand});
    for (const SHandNote& n : left.notes) all.push_back({n, kLowerHand});
    std::stable_sort(all.begin(), all.end(), [](const auto& a, const auto& b) { return a.first.dwOn < b.first.dwOn; });
    std::vector<SHandNote> notes;
    for (const auto& n : all) notes.push_back(n.first);
    std::vector<unsigned char> scratch(HandScratchBytes(static_cast<uint32_t>(notes.size())));
    std::vector<uint8_t> hands(notes.size(), 9);
    SeparateHands(notes.data(), static_cast<uint32_t>(notes.size()), scratch.data(), hands.data());
    std::vector<std::string> misplaced;
    for (size_t k = 0; k < all.size(); ++k)
        if (hands[k] != all[k].second) misplaced.push_back(Describe(all[k].first, hands[k]));
    return misplaced;
}

TEST(SeparateHands, GivesEveryNoteTheHandAPianistWould) {
    struct Case {
        std::string what;
        Part right, left;
    };
    const Case cases[] = {
        {"a held bass under a melody that walks down below middle C",
         Part().Line(0, kQuarter, {"E4", "D4", "C4", "B3", "A3", "B3", "C4", "D4"}),
         Part().Chord(0, kWhole, {"C3"}).Chord(kWhole, kWhole, {"F2"})},
        {"a right-hand line from G4 down to F3 and back, the left hand silent",
         Part().Line(0, kEighth, {"G4", "F4", "E4", "D4", "C4", "B3", "A3", "G3", "F3", "G3", "A3", "B3", "C4", "D4",
                                  "E4", "F4", "G4"}),
         Part()},
        {"a left-hand arpeggio rising to G4 under a chord the right hand holds",
         Part().Chord(0, kWhole, {"C5", "E5", "G5"}).Chord(kWhole, kWhole, {"B4", "D5", "G5"}),
         Part()
             .Line(0, kEighth, {"C3", "E3", "G3", "C4", "E4", "G4", "E4", "C4"})
             .Line(kWhole, kEighth, {"G2", "D3", "G3", "B3", "D4", "G4", "D4", "B3"})},
        {"lines in contrary motion that both cross middle C",
         Part().Line(0, kQuarter, {"G5", "E5", "C5", "A4", "F4", "D4", "B3", "D4", "F4", "A4", "C5"}),
         Part().Line(0, kQuarter, {"C2", "E2", "G2", "B2", "D3", "F3", "G3", "F3", "D3", "B2", "G2"})},
        {"chords in both hands, the left hand's up to middle C",
         Part()
             .Chord(0, kQuarter, {"E4", "G4", "C5"})
             .Chord(kQuarter, kQuarter, {"F4", "A4", "C5"})
             .Chord(2 * kQuarter, kQuarter, {"D4", "G4", "B4"})
             .Chord(3 * kQuarter, kQuarter, {"G4", "C5", "E5"}),
         Part()
             .Chord(0, kQuarter, {"C3", "G3"})
             .Chord(kQuarter, kQuarter, {"F2", "C3", "A3"})
             .Chord(2 * kQuarter, kQuarter, {"G2", "D3", "B3"})
             .Chord(3 * kQuarter, kQuarter, {"E3", "C4"})},
        {"a chord wider than a hand, under a melody, split at its gap",
         Part().Line(0, kQuarter, {"C5", "D5", "E5", "G5"}),
         Part().Chord(0, kWhole, {"C2", "G2", "E3"})},
        {"two-part invention: the subject in the right hand, then imitated an octave lower in the left",
         Part()
             .Line(kSixteenth, kSixteenth, {"C5", "D5", "E5", "F5", "D5", "E5", "C5"})
             .Line(8 * kSixteenth, kEighth, {"G5", "C6", "B5", "C6"})
             .Line(kWhole, kSixteenth, {"D6", "G5", "A5", "B5", "C6", "A5", "B5", "G5"})
             .Line(kWhole + 8 * kSixteenth, kSixteenth, {"D6", "C6", "B5", "A5", "G5", "F5", "E5", "D5"}),
         Part()
             .Line(9 * kSixteenth, kSixteenth, {"C4", "D4", "E4", "F4", "D4", "E4", "C4"})
             .Line(kWhole, kEighth, {"G4", "G3", "B3", "G3"})
             .Line(kWhole + 8 * kSixteenth, kSixteenth, {"C4", "D4", "E4", "F4", "D4", "E4", "C4"})
             .Line(kWhole + 15 * kSixteenth, kSixteenth, {"B3"})},
        {"an Alberti bass under a melody: the broken chord stays in the left hand",
         Part().Chord(0, kHalf, {"E5"}).Line(kHalf, kQuarter, {"D5", "C5"}).Chord(kWhole, kHalf, {"B4"}).Line(
             kWhole + kHalf, kQuarter, {"C5", "D5"}),
         Part()
             .Line(0, kEighth, {"C3", "G3", "E3", "G3", "C3", "G3", "E3", "G3"})
             .Line(kWhole, kEighth, {"B2", "G3", "D3", "G3", "B2", "G3", "D3", "G3"})},
        {"a melody that dips below middle C while the left hand holds a low chord",
         Part().Line(0, kQuarter, {"G4", "E4", "C4", "A3", "G3", "A3", "B3", "C4"}),
         Part().Chord(0, kWhole, {"C2", "G2"}).Chord(kWhole, kWhole, {"F2", "C3"})},
        {"both hands in the treble: a left-hand figure above middle C under a high melody",
         Part().Line(0, kQuarter, {"G5", "A5", "B5", "C6", "B5", "A5", "G5", "E5"}),
         Part()
             .Line(0, kEighth, {"E4", "G4", "C5", "G4", "E4", "G4", "C5", "G4"})
             .Line(kWhole, kEighth, {"F4", "A4", "C5", "A4", "E4", "G4", "C5", "G4"})},
        {"both hands close together around middle C",
         Part().Line(0, kEighth, {"E4", "F4", "G4", "E4", "D4", "E4", "C4", "D4"}),
         Part().Line(0, kQuarter, {"C3", "G3", "A3", "B3"})},
    };
    for (const Case& c : cases) {
        std::vector<std::string> misplaced = Misplaced(c.right, c.left);
        EXPECT_TRUE(misplaced.empty()) << c.what << ": " << ::testing::PrintToString(misplaced);
    }
}

TEST(SeparateHands, LargeClustersAndLongTracksStayCheap) {
    // A cluster of 40 keys (every splits index past the kept ones stays
    // valid), then a 13,000-note two-hand texture, timed.
    std::vector<SHandNote> notes;
    for (int k = 0; k < 40; ++k) notes.push_back({0, 4, static_cast<uint8_t>(40 + k)});
    for (uint32_t k = 0; k < 6500; ++k) {
        uint32_t on = 4 + k * 2;
        notes.push_back({on, on + 2, static_cast<uint8_t>(72 + (k * 5) % 12)});
        notes.push_back({on, on + 4, static_cast<uint8_t>(43 + (k * 7) % 12)});
    }
    std::vector<unsigned char> scratch(HandScratchBytes(static_cast<uint32_t>(notes.size())));
    std::vector<uint8_t> hands(notes.size(), 9);
    auto start = std::chrono::steady_clock::now();
    SeparateHands(notes.data(), static_cast<uint32_t>(notes.size()), scratch.data(), hands.data());
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 0.5);
    size_t wrong = 0;
    for (size_t k = 0; k < notes.size(); ++k) {
        ASSERT_LE(hands[k], 1) << k;
        if (k >= 40) wrong += hands[k] != (notes[k].bKey >= 60 ? kUpperHand : kLowerHand);
    }
    EXPECT_EQ(wrong, 0u);
    // The cluster is shared: neither hand holds all forty keys.
    EXPECT_NE(std::count(hands.begin(), hands.begin() + 40, kUpperHand), 40);
    EXPECT_NE(std::count(hands.begin(), hands.begin() + 40, kLowerHand), 40);
}

TEST(NeedsGrandStaff, KeyboardsWithBothHandsAndOtherPartsTooWideForOneStaff) {
    struct Case {
        std::string what;
        uint8_t program;
        Part right, left;
        bool expected;
    };
    Part melody = Part().Line(0, kQuarter, {"C5", "D5", "E5", "F5", "G5", "F5", "E5", "D5", "C5"});
    Part bass = Part().Line(0, kHalf, {"C3", "G2", "C3", "F2"});
    const Case cases[] = {
        {"piano with both hands", 0, melody, bass, true},
        {"piano playing a melody alone", 0, melody, Part(), false},
        {"church organ with both hands", 19, melody, bass, true},
        {"harp with both hands", 46, melody, bass, true},
        {"harmonica is no keyboard", 22, melody, Part().Line(0, kHalf, {"C4", "G3", "C4", "F4"}), false},
        {"strings spanning C3 to G5 in every measure", 48, melody, bass, true},
        {"strings within two octaves", 48, melody, Part().Line(0, kHalf, {"C4", "G3", "C4", "F4"}), false},
    };
    for (const Case& c : cases) {
        std::vector<SHandNote> notes = c.right.notes;
        notes.insert(notes.end(), c.left.notes.begin(), c.left.notes.end());
        std::stable_sort(notes.begin(), notes.end(), [](const SHandNote& a, const SHandNote& b) { return a.dwOn < b.dwOn; });
        std::vector<unsigned char> scratch(HandScratchBytes(static_cast<uint32_t>(notes.size())));
        std::vector<uint8_t> hands(notes.size());
        SeparateHands(notes.data(), static_cast<uint32_t>(notes.size()), scratch.data(), hands.data());
        EXPECT_EQ(NeedsGrandStaff(c.program, notes.data(), static_cast<uint32_t>(notes.size()), hands.data(), kWhole),
                  c.expected)
            << c.what;
    }
}

TEST(IsKeyboardProgram, NamesThePartsWrittenOnAGrandStaff) {
    std::vector<int> keyboards;
    for (int program = 0; program < 128; ++program)
        if (IsKeyboardProgram(static_cast<uint8_t>(program))) keyboards.push_back(program);
    EXPECT_EQ(keyboards, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 17, 18, 19, 20, 21, 23, 46}));
}

}  // namespace
