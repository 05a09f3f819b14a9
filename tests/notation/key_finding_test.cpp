// Key finding: the key signature of music from how long each pitch class
// sounds (a minor key as its relative major's signature, the spelling with
// fewer accidentals), and key changes only where the music settles in
// another key for a long stretch.
#include <gtest/gtest.h>

#include "../../notation/key_finding.h"

#include <string>
#include <vector>

namespace {

// Pitch classes of the major and harmonic minor scales above their tonic.
const int kMajorScale[] = {0, 2, 4, 5, 7, 9, 11};
const int kMinorScale[] = {0, 2, 3, 5, 7, 8, 11};

void Add(SPitchClassDurations& d, int pitchClass, uint64_t length) { d.aqDuration[(pitchClass % 12 + 12) % 12] += length; }

// The triad on scale degree `degree` (0-based) of the key.
void AddTriad(SPitchClassDurations& d, int tonic, bool minor, int degree, uint64_t length) {
    const int* scale = minor ? kMinorScale : kMajorScale;
    for (int k = 0; k < 3; ++k) Add(d, tonic + scale[(degree + 2 * k) % 7], length);
}

// One measure of four beats on a chord of the key: the triad held for the
// measure and a melody of four quarter notes stepping up from its root.
SPitchClassDurations Measure(int tonic, bool minor, int degree) {
    const int* scale = minor ? kMinorScale : kMajorScale;
    SPitchClassDurations d = {};
    AddTriad(d, tonic, minor, degree, 4);
    for (int k = 0; k < 4; ++k) Add(d, tonic + scale[(degree + k) % 7], 1);
    return d;
}

// A scale up and a cadence, I IV V I, in the key.
SPitchClassDurations ScaleAndCadence(int tonic, bool minor) {
    const int* scale = minor ? kMinorScale : kMajorScale;
    SPitchClassDurations d = {};
    for (int k = 0; k < 8; ++k) Add(d, tonic + scale[k % 7], 1);
    for (int degree : {0, 3, 4, 0}) AddTriad(d, tonic, minor, degree, 2);
    return d;
}

TEST(EstimateKey, ScalesAndCadencesGiveTheirSignature) {
    struct Case {
        std::string what;
        int tonic;
        bool minor;
        int8_t signature;
    };
    const Case cases[] = {
        {"C major", 0, false, 0},
        {"G major", 7, false, 1},
        {"E flat major", 3, false, -3},
        {"A minor: its relative major's signature, none", 9, true, 0},
        {"F sharp minor: three sharps", 6, true, 3},
        {"C minor: three flats", 0, true, -3},
        {"D flat major, not C sharp major's seven sharps", 1, false, -5},
        {"B major, not C flat major's seven flats", 11, false, 5},
        {"E flat minor: six flats rather than D sharp minor's six sharps", 3, true, -6},
    };
    for (const Case& c : cases) {
        SKeyEstimate key = EstimateKey(ScaleAndCadence(c.tonic, c.minor));
        EXPECT_EQ(key.cKey, c.signature) << c.what;
        EXPECT_EQ(key.bTonic, c.tonic) << c.what;
        EXPECT_EQ(key.bMinor != 0, c.minor) << c.what;
        EXPECT_GT(key.fCorrelation, 0.7f) << c.what;
    }
}

TEST(EstimateKey, MusicOfFewerThanThreePitchClassesTellsNoKey) {
    struct Case {
        std::string what;
        std::vector<int> pitchClasses;
    };
    const Case cases[] = {
        {"silence", {}},
        {"one repeated E flat", {3}},
        {"a fifth, E flat and B flat", {3, 10}},
    };
    for (const Case& c : cases) {
        SPitchClassDurations d = {};
        for (int pc : c.pitchClasses) Add(d, pc, 8);
        SKeyEstimate key = EstimateKey(d);
        EXPECT_EQ(key.cKey, 0) << c.what;
        EXPECT_EQ(key.fCorrelation, 0.0f) << c.what;
    }
}

TEST(EstimateKey, ChromaticNotesInAMelodyDoNotMoveTheKey) {
    // E flat major with a passing A natural and D flat in every bar, and a
    // melody that dwells on the dominant: still three flats.
    SPitchClassDurations d = ScaleAndCadence(3, false);
    Add(d, 9, 1);
    Add(d, 1, 1);
    Add(d, 10, 6);
    EXPECT_EQ(EstimateKey(d).cKey, -3);
}

// ---- Key changes ------------------------------------------------------------------

// A stretch of measures in a key, walking I IV V I.
struct Stretch {
    uint32_t measures;
    int tonic;
    bool minor;
};

std::vector<SPitchClassDurations> Piece(const std::vector<Stretch>& stretches) {
    static const int kDegrees[] = {0, 3, 4, 0};
    std::vector<SPitchClassDurations> windows;
    for (const Stretch& s : stretches)
        for (uint32_t k = 0; k < s.measures; ++k) windows.push_back(Measure(s.tonic, s.minor, kDegrees[k % 4]));
    return windows;
}

std::vector<std::pair<uint32_t, int>> Changes(const std::vector<SPitchClassDurations>& windows) {
    std::vector<unsigned char> scratch(KeyChangeScratchBytes(static_cast<uint32_t>(windows.size())) + 16);
    std::vector<SKeyChange> changes(windows.size() / kMinimumKeyStretch + 1);
    uint32_t n = FindKeyChanges(windows.data(), static_cast<uint32_t>(windows.size()), scratch.data(),
                                changes.data(), static_cast<uint32_t>(changes.size()));
    std::vector<std::pair<uint32_t, int>> result;
    for (uint32_t k = 0; k < n; ++k) result.emplace_back(changes[k].nWindow, changes[k].cKey);
    return result;
}

using ChangeList = std::vector<std::pair<uint32_t, int>>;

TEST(FindKeyChanges, OnlyALongStretchInAnotherKeyChangesIt) {
    struct Case {
        std::string what;
        std::vector<Stretch> piece;
        ChangeList changes;
    };
    const Case cases[] = {
        {"one key throughout", {{32, 3, false}}, {{0, -3}}},
        // The dominant's first two measures (its G and C chords) are also
        // C's V and I: the change is found once its F sharps have sounded.
        {"sixteen measures in the dominant and back",
         {{16, 0, false}, {16, 7, false}, {16, 0, false}},
         {{0, 0}, {18, 1}, {32, 0}}},
        {"eight measures in E flat inside C: the shortest stretch that changes",
         {{16, 0, false}, {8, 3, false}, {16, 0, false}},
         {{0, 0}, {16, -3}, {24, 0}}},
        {"four measures in E flat: too short",
         {{16, 0, false}, {4, 3, false}, {16, 0, false}},
         {{0, 0}}},
        {"four measures tonicising the dominant", {{12, 0, false}, {4, 7, false}, {12, 0, false}}, {{0, 0}}},
        {"A minor moving to its relative C major: the same signature",
         {{16, 9, true}, {16, 0, false}},
         {{0, 0}}},
        {"a piece that only ends in another key", {{28, 2, false}, {4, 9, false}}, {{0, 2}}},
        {"a piece shorter than a stretch", {{3, 6, true}}, {{0, 3}}},
        {"no music", {}, {}},
    };
    for (const Case& c : cases) EXPECT_EQ(Changes(Piece(c.piece)), c.changes) << c.what;
}

TEST(FindKeyChanges, AShortChromaticPassageCausesNoChange) {
    // Twenty-four measures of G major; measures 10 and 11 run through all
    // twelve pitch classes, measure 12 sits on an E flat chord.
    std::vector<SPitchClassDurations> windows = Piece({{24, 7, false}});
    for (uint32_t m : {10u, 11u}) {
        windows[m] = {};
        for (int pc = 0; pc < 12; ++pc) Add(windows[m], pc, 1);
    }
    windows[12] = Measure(3, false, 0);
    EXPECT_EQ(Changes(windows), (ChangeList{{0, 1}}));
}

TEST(FindKeyChanges, SilentMeasuresBelongToTheKeyAroundThem) {
    // Twelve measures in D, six of rest, twelve in B flat: the rests join
    // one of the two, and the change falls between measure 12 and 18.
    std::vector<SPitchClassDurations> windows = Piece({{12, 2, false}});
    windows.resize(18);
    std::vector<SPitchClassDurations> flat = Piece({{12, 10, false}});
    windows.insert(windows.end(), flat.begin(), flat.end());
    ChangeList changes = Changes(windows);
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0], (std::pair<uint32_t, int>{0, 2}));
    EXPECT_GE(changes[1].first, 12u);
    EXPECT_LE(changes[1].first, 18u);
    EXPECT_EQ(changes[1].second, -2);
}

TEST(FindKeyChanges, KeepsToTheCapacityGiven) {
    std::vector<SPitchClassDurations> windows = Piece({{16, 0, false}, {16, 7, false}, {16, 0, false}});
    std::vector<unsigned char> scratch(KeyChangeScratchBytes(static_cast<uint32_t>(windows.size())));
    SKeyChange changes[2] = {};
    EXPECT_EQ(FindKeyChanges(windows.data(), static_cast<uint32_t>(windows.size()), scratch.data(), changes, 2), 2u);
    EXPECT_EQ(changes[1].nWindow, 18u);
    EXPECT_EQ(changes[1].cKey, 1);
}

}  // namespace
