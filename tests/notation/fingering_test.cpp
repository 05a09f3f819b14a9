// Guitar fingering over time: the strings and frets of chord shapes a
// guitarist knows, held notes keeping their strings, runs staying in
// position, notes the guitar cannot play, and the rules over a long random
// piece (with the time it takes).
#include "../../notation/fingering.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

const uint32_t kQuarter = 4;  // grid slots
const uint32_t kWhole = 4 * kQuarter;

struct Placed {
    int string;
    int fret;
    bool operator==(const Placed& o) const { return string == o.string && fret == o.fret; }
};

std::ostream& operator<<(std::ostream& out, const Placed& p) {
    return out << "string " << p.string << " fret " << p.fret;
}

struct Fingered {
    std::vector<SFretNote> notes;
    uint32_t dropped = 0;
    std::vector<Placed> Of() const {
        std::vector<Placed> result;
        for (const SFretNote& n : notes) result.push_back({n.bString, n.bFret});
        return result;
    }
};

Fingered Finger(std::vector<SFretNote> notes) {
    std::stable_sort(notes.begin(), notes.end(),
                     [](const SFretNote& a, const SFretNote& b) { return a.dwOnset < b.dwOnset; });
    std::vector<SFingeringStep> steps(notes.size() + 1);
    Fingered result;
    result.dropped = FingerNotes(notes.data(), static_cast<uint32_t>(notes.size()), steps.data());
    result.notes = notes;
    return result;
}

// Notes that start together, each lasting the same.
std::vector<SFretNote> Chord(uint32_t at, uint32_t length, std::vector<int> keys) {
    std::vector<SFretNote> notes;
    for (int key : keys) notes.push_back({at, at + length, static_cast<uint8_t>(key), 0, 0});
    return notes;
}

std::vector<SFretNote> operator+(std::vector<SFretNote> a, const std::vector<SFretNote>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// One note after the other, each a quarter, from the given slot on.
std::vector<SFretNote> Line(uint32_t at, std::vector<int> keys) {
    std::vector<SFretNote> notes;
    for (int key : keys) {
        notes.push_back({at, at + kQuarter, static_cast<uint8_t>(key), 0, 0});
        at += kQuarter;
    }
    return notes;
}

// A chord's shape as guitarists write it, string 6 first: a fret per
// string, x for a string not played.
std::string Shape(const std::vector<SFretNote>& notes) {
    std::string shape = "xxxxxx";
    for (const SFretNote& n : notes)
        if (n.bString != 0) shape[6 - n.bString] = static_cast<char>(n.bFret < 10 ? '0' + n.bFret : '+');
    return shape;
}

// The rules every fingering keeps: a placed note sounds its key, a note in
// the guitar's range is placed unless counted as dropped, and no two notes
// sounding together share a string.
void ExpectPlayable(const Fingered& f) {
    uint32_t unplaced = 0;
    for (size_t i = 0; i < f.notes.size(); ++i) {
        const SFretNote& n = f.notes[i];
        bool inRange = n.bKey >= 40 && n.bKey <= 88;
        if (n.bString == 0) {
            EXPECT_EQ(n.bFret, 0) << "note " << i;
            if (inRange) ++unplaced;
            continue;
        }
        ASSERT_TRUE(inRange) << "note " << i << " key " << int(n.bKey) << " has a string";
        ASSERT_LE(n.bString, 6);
        EXPECT_LE(n.bFret, 24);
        EXPECT_EQ(g_abSoundingOpenStrings[n.bString - 1] + n.bFret, n.bKey) << "note " << i;
        for (size_t j = i + 1; j < f.notes.size() && f.notes[j].dwOnset < n.dwRelease; ++j)
            EXPECT_NE(f.notes[j].bString, n.bString)
                << "notes " << i << " and " << j << " sound together on string " << int(n.bString);
    }
    EXPECT_EQ(unplaced, f.dropped);
}

// The fewest four-fret windows a line's pressed frets fall into, taken in
// order: how many positions a guitarist plays it in.
int Positions(const std::vector<SFretNote>& notes) {
    int positions = 0, low = 0, high = 0;
    for (const SFretNote& n : notes) {
        if (n.bFret == 0) continue;
        if (positions > 0 && std::max(high, int(n.bFret)) - std::min(low, int(n.bFret)) <= 3) {
            low = std::min(low, int(n.bFret));
            high = std::max(high, int(n.bFret));
            continue;
        }
        ++positions;
        low = high = n.bFret;
    }
    return positions;
}

}  // namespace

TEST(Fingering, ChordShapesAGuitaristKnows) {
    struct Case {
        const char* name;
        std::vector<int> keys;
        const char* shape;  // string 6 first
    };
    const std::vector<Case> cases = {
        {"low E: the open sixth string", {40}, "0xxxxx"},
        {"E major, open", {40, 47, 52, 56, 59, 64}, "022100"},
        {"C major, open", {48, 52, 55, 60, 64}, "x32010"},
        {"G major, open", {43, 47, 50, 55, 59, 67}, "320003"},
        {"F major: the index finger bars the first fret", {41, 48, 53, 57, 60, 65}, "133211"},
        {"B flat, A shape at the first fret", {46, 53, 58, 62, 65}, "x13331"},
        {"A major barred at the fifth fret: six notes need all six strings", {45, 52, 57, 61, 64, 69}, "577655"},
        {"B flat barred at the sixth fret", {46, 53, 58, 62, 65, 70}, "688766"},
        {"the top of the neck: string 1 fret 24", {88}, "xxxxx+"},
        {"a cluster of semitones, A3 B flat 3 C4: a stretch over six frets rather than a note left out", {57, 58, 60},
         "xx731x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fingered f = Finger(Chord(0, kWhole, c.keys));
        ExpectPlayable(f);
        EXPECT_EQ(f.dropped, 0u);
        EXPECT_EQ(Shape(f.notes), c.shape);
    }
}

TEST(Fingering, NotesSoundingTogetherKeepTheirStrings) {
    struct Case {
        const char* name;
        std::vector<SFretNote> notes;
        std::vector<Placed> expected;  // in onset order, notes of one onset as given; empty: only the rules
        uint32_t dropped;
    };
    const std::vector<Case> cases = {
        // C3 would take string 5, which the open A holds; the bass moves to
        // string 6 fret 5 so that the line stays under the hand.
        {"melody over a held bass",
         Chord(0, kWhole, {45}) + Line(kQuarter, {48, 50, 52}),
         {{6, 5}, {5, 3}, {4, 0}, {4, 2}},
         0},
        {"a bass let go frees its string",
         Chord(0, kQuarter, {45}) + Line(kQuarter, {48, 50, 52}),
         {{5, 0}, {5, 3}, {4, 0}, {4, 2}},
         0},
        // E3 and F3 both want string 4: one of them goes to string 5.
        {"two voices that would share a string", Chord(0, kWhole, {52}) + Line(kQuarter, {53, 55}), {}, 0},
        {"an inner voice entering under a held chord",
         Chord(0, kWhole, {40, 59, 64}) + Line(kQuarter, {55, 57, 55}),
         {{6, 0}, {2, 0}, {1, 0}, {3, 0}, {3, 2}, {3, 0}},
         0},
        // G2 lies only on string 6, which the low E still holds.
        {"a note only a held string reaches is dropped",
         Chord(0, kWhole, {40}) + Line(kQuarter, {43, 45}),
         {{6, 0}, {0, 0}, {5, 0}},
         1},
        {"keys outside E2 to E6 get no string and take none",
         Chord(0, kQuarter, {39, 60, 89, 20, 127}),
         {{0, 0}, {2, 1}, {0, 0}, {0, 0}, {0, 0}},
         0},
        // Seven notes: the inner E3 doubles both other Es and goes.
        {"seven notes keep the six that give the chord its sound",
         Chord(0, kQuarter, {40, 45, 50, 52, 55, 59, 64}),
         {{6, 0}, {5, 0}, {4, 0}, {0, 0}, {3, 0}, {2, 0}, {1, 0}},
         1},
        {"a repeated key is played once when more than six notes start together",
         Chord(0, kQuarter, {40, 40, 45, 50, 55, 59, 64}),
         {{6, 0}, {0, 0}, {5, 0}, {4, 0}, {3, 0}, {2, 0}, {1, 0}},
         1},
        {"a unison of two voices takes two strings", Chord(0, kQuarter, {64, 64}), {{1, 0}, {2, 5}}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fingered f = Finger(c.notes);
        ExpectPlayable(f);
        EXPECT_EQ(f.dropped, c.dropped);
        if (!c.expected.empty()) {
            EXPECT_EQ(f.Of(), c.expected);
        }
    }
}

TEST(Fingering, RunsStayInPosition) {
    struct Case {
        const char* name;
        std::vector<int> keys;
        int positions;  // at most
    };
    const std::vector<Case> cases = {
        {"C major, C3 to C5", {48, 50, 52, 53, 55, 57, 59, 60, 62, 64, 65, 67, 69, 71, 72}, 2},
        {"C major, C5 down to C3", {72, 71, 69, 67, 65, 64, 62, 60, 59, 57, 55, 53, 52, 50, 48}, 2},
        {"A minor pentatonic, A2 to A4", {45, 48, 50, 52, 55, 57, 60, 62, 64, 67, 69}, 2},
        {"a chromatic line from A4 and back", {69, 70, 71, 72, 71, 70, 69}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fingered f = Finger(Line(0, c.keys));
        ExpectPlayable(f);
        EXPECT_EQ(f.dropped, 0u);
        EXPECT_LE(Positions(f.notes), c.positions);
        // No leap of the hand between neighbours.
        int previous = 0;
        for (const SFretNote& n : f.notes) {
            if (n.bFret == 0) continue;
            if (previous != 0) {
                EXPECT_LE(std::abs(n.bFret - previous), 4) << Shape({n});
            }
            previous = n.bFret;
        }
    }
}

namespace {

// A piece of guitar music at random, made on a guitar so that a playable
// fingering exists: the hand sits at a position that moves now and then,
// every note is an open string or a fret under the hand; a bass on string
// 5 or 6 on every beat, sometimes held over the next, under single notes or
// chords of two or three on strings 1 to 4; now and then a key the guitar
// does not have. Only the keys and times go to the fingering.
std::vector<SFretNote> RandomPiece(uint32_t notes, uint32_t seed) {
    std::mt19937 random(seed);
    auto pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    auto key = [&](int string, int position) {
        int fret = pick(0, 3) == 0 ? 0 : position + pick(0, 3);
        return static_cast<uint8_t>(g_abSoundingOpenStrings[string - 1] + fret);
    };
    std::vector<SFretNote> piece;
    uint32_t at = 0;
    int position = 1;
    while (piece.size() < notes) {
        if (pick(0, 7) == 0) position = std::min(12, std::max(1, position + pick(-3, 3)));
        uint32_t beats = pick(0, 3) == 0 ? 2 : 1;
        piece.push_back({at, at + beats * kQuarter, key(pick(5, 6), position), 0, 0});
        for (uint32_t eighth = 0; eighth < 2 * beats; ++eighth) {
            uint32_t start = at + eighth * kQuarter / 2;
            int strings[4] = {1, 2, 3, 4};
            std::shuffle(strings, strings + 4, random);
            int voices = pick(0, 4) == 0 ? pick(2, 3) : 1;
            for (int v = 0; v < voices; ++v)
                piece.push_back({start, start + kQuarter / 2, key(strings[v], position), 0, 0});
        }
        if (pick(0, 50) == 0) piece.push_back({at, at + kQuarter, static_cast<uint8_t>(pick(0, 1) ? 30 : 95), 0, 0});
        at += beats * kQuarter;
    }
    return piece;
}

struct Figures {
    double withinFourFrets;  // share of onsets whose pressed frets span at most four frets
    double meanMove;         // mean change of the lowest pressed fret from one onset with one to the next
};

Figures Measure(const std::vector<SFretNote>& notes) {
    size_t onsets = 0, within = 0, moves = 0;
    double moved = 0;
    int previousLow = 0;
    for (size_t i = 0; i < notes.size();) {
        size_t end = i;
        int low = 0, high = 0;
        while (end < notes.size() && notes[end].dwOnset == notes[i].dwOnset) {
            int fret = notes[end].bFret;
            if (fret > 0) {
                low = low == 0 ? fret : std::min(low, fret);
                high = std::max(high, fret);
            }
            ++end;
        }
        ++onsets;
        if (high - low <= 3) ++within;
        if (low > 0) {
            if (previousLow > 0) {
                moved += std::abs(low - previousLow);
                ++moves;
            }
            previousLow = low;
        }
        i = end;
    }
    return {onsets ? double(within) / onsets : 1.0, moves ? moved / moves : 0.0};
}

}  // namespace

TEST(Fingering, TheRulesHoldOverALongRandomPiece) {
    for (uint32_t seed : {1u, 2u, 3u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        Fingered f = Finger(RandomPiece(3000, seed));
        ExpectPlayable(f);
        Figures figures = Measure(f.notes);
        EXPECT_GE(figures.withinFourFrets, 0.97);
        EXPECT_LE(f.dropped, f.notes.size() / 200);
        std::printf("seed %u: %zu notes, %u dropped, %.1f %% of onsets within four frets, mean move %.2f frets\n",
                    seed, f.notes.size(), f.dropped, 100 * figures.withinFourFrets, figures.meanMove);
    }
}

// Not a test of speed (machines differ): prints how long a 13,000-note
// track takes, in processor time (other work on the machine does not count),
// the best of a few runs.
TEST(Fingering, TimeOfA13000NoteTrack) {
    std::vector<SFretNote> piece = RandomPiece(13000, 7);
    std::vector<SFingeringStep> steps(piece.size());
    double best = 1e9;
    for (int run = 0; run < 10; ++run) {
        std::vector<SFretNote> notes = piece;
        std::clock_t start = std::clock();
        FingerNotes(notes.data(), static_cast<uint32_t>(notes.size()), steps.data());
        best = std::min(best, 1000.0 * double(std::clock() - start) / CLOCKS_PER_SEC);
    }
    std::printf("%zu notes fingered in %.2f ms\n", piece.size(), best);
}
