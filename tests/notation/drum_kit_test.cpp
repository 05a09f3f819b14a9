// The drum kit table against the conventions drummers read: every General
// MIDI key's place, head, limb and name, the order of the toms and cymbals,
// and no two instruments of one groove drawn alike.
#include "../../notation/drum_kit.h"

#include <gtest/gtest.h>

#include <cctype>
#include <iterator>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

// Places on the staff, as a range of staff steps (lines on 2, 4, 6, 8, 10).
struct Place {
    const char* what;
    int lowest;
    int highest;
};
const Place kBelowStaff = {"below the staff", -20, 1};
const Place kBottomSpace = {"the bottom space", 3, 3};
const Place kSnareSpace = {"the third space", 7, 7};
const Place kUnderSnare = {"in the staff below the snare", 2, 6};
const Place kOverSnare = {"between the snare and the top line", 8, 10};
const Place kTopLine = {"the top line", 10, 10};
const Place kAboveTopLine = {"above the top line", 11, 30};
const Place kInStaff = {"in the staff", 2, 10};

const ENoteheadCode N = kNoteheadNormal;
const ENoteheadCode X = kNoteheadX;
const ENoteheadCode CX = kNoteheadCircleX;
const ENoteheadCode T = kNoteheadTriangle;
const ENoteheadCode D = kNoteheadDiamond;
const ENoteheadCode S = kNoteheadSlash;

const bool FOOT = true;
const bool HAND = false;

struct Expected {
    int key;
    const char* name;
    Place place;
    ENoteheadCode head;
    bool foot;
    EDrumMarkCode mark;
};

// Written from the conventions, key by key.
const Expected kExpected[] = {
    {35, "Acoustic bass drum", kBottomSpace, N, FOOT, kDrumMarkNone},
    {36, "Bass drum 1", kBottomSpace, N, FOOT, kDrumMarkNone},
    {37, "Side stick", kSnareSpace, CX, HAND, kDrumMarkNone},
    {38, "Acoustic snare", kSnareSpace, N, HAND, kDrumMarkNone},
    {39, "Hand clap", kOverSnare, S, HAND, kDrumMarkNone},
    {40, "Electric snare", kSnareSpace, N, HAND, kDrumMarkNone},
    {41, "Low floor tom", kUnderSnare, N, HAND, kDrumMarkNone},
    {42, "Closed hi-hat", kAboveTopLine, X, HAND, kDrumMarkNone},
    {43, "High floor tom", kUnderSnare, N, HAND, kDrumMarkNone},
    {44, "Pedal hi-hat", kBelowStaff, X, FOOT, kDrumMarkNone},
    {45, "Low tom", kUnderSnare, N, HAND, kDrumMarkNone},
    {46, "Open hi-hat", kAboveTopLine, X, HAND, kDrumMarkOpen},
    {47, "Low-mid tom", kOverSnare, N, HAND, kDrumMarkNone},
    {48, "Hi-mid tom", kOverSnare, N, HAND, kDrumMarkNone},
    {49, "Crash cymbal 1", kAboveTopLine, X, HAND, kDrumMarkNone},
    {50, "High tom", kOverSnare, N, HAND, kDrumMarkNone},
    {51, "Ride cymbal 1", kTopLine, X, HAND, kDrumMarkNone},
    {52, "Chinese cymbal", kAboveTopLine, X, HAND, kDrumMarkNone},
    {53, "Ride bell", kTopLine, D, HAND, kDrumMarkNone},
    {54, "Tambourine", kOverSnare, D, HAND, kDrumMarkNone},
    {55, "Splash cymbal", kAboveTopLine, X, HAND, kDrumMarkNone},
    {56, "Cowbell", kInStaff, T, HAND, kDrumMarkNone},
    {57, "Crash cymbal 2", kAboveTopLine, X, HAND, kDrumMarkNone},
    {58, "Vibraslap", kInStaff, D, HAND, kDrumMarkNone},
    {59, "Ride cymbal 2", kTopLine, X, HAND, kDrumMarkNone},
    {60, "Hi bongo", kOverSnare, N, HAND, kDrumMarkNone},
    {61, "Low bongo", kOverSnare, N, HAND, kDrumMarkNone},
    {62, "Mute hi conga", kUnderSnare, N, HAND, kDrumMarkStopped},
    {63, "Open hi conga", kUnderSnare, N, HAND, kDrumMarkNone},
    {64, "Low conga", kUnderSnare, N, HAND, kDrumMarkNone},
    {65, "High timbale", kUnderSnare, N, HAND, kDrumMarkNone},
    {66, "Low timbale", kUnderSnare, N, HAND, kDrumMarkNone},
    {67, "High agogo", kInStaff, T, HAND, kDrumMarkNone},
    {68, "Low agogo", kInStaff, T, HAND, kDrumMarkNone},
    {69, "Cabasa", kInStaff, D, HAND, kDrumMarkNone},
    {70, "Maracas", kInStaff, D, HAND, kDrumMarkNone},
    {71, "Short whistle", kAboveTopLine, S, HAND, kDrumMarkNone},
    {72, "Long whistle", kAboveTopLine, S, HAND, kDrumMarkNone},
    {73, "Short guiro", kAboveTopLine, S, HAND, kDrumMarkNone},
    {74, "Long guiro", kAboveTopLine, S, HAND, kDrumMarkNone},
    {75, "Claves", kAboveTopLine, T, HAND, kDrumMarkNone},
    {76, "Hi wood block", kAboveTopLine, T, HAND, kDrumMarkNone},
    {77, "Low wood block", kAboveTopLine, T, HAND, kDrumMarkNone},
    {78, "Mute cuica", kAboveTopLine, N, HAND, kDrumMarkStopped},
    {79, "Open cuica", kAboveTopLine, N, HAND, kDrumMarkNone},
    {80, "Mute triangle", kAboveTopLine, T, HAND, kDrumMarkStopped},
    {81, "Open triangle", kAboveTopLine, T, HAND, kDrumMarkNone},
};

const SDrum& Drum(int key) { return DrumOfKey(static_cast<uint8_t>(key)); }
int StepOf(int key) { return Drum(key).cStep; }

TEST(DrumKit, EveryGeneralMidiKeyHasItsPlaceHeadLimbAndName) {
    ASSERT_EQ(std::size(kExpected), static_cast<size_t>(kLastDrumKey - kFirstDrumKey + 1));
    for (const Expected& e : kExpected) {
        SCOPED_TRACE(e.name);
        const SDrum& drum = Drum(e.key);
        EXPECT_TRUE(IsDrumKitKey(static_cast<uint8_t>(e.key)));
        EXPECT_STREQ(drum.pszName, e.name);
        EXPECT_GE(drum.cStep, e.place.lowest) << e.place.what;
        EXPECT_LE(drum.cStep, e.place.highest) << e.place.what;
        EXPECT_EQ(drum.bNotehead, e.head);
        EXPECT_EQ(drum.bFoot != 0, e.foot);
        EXPECT_EQ(drum.bMark, e.mark);
    }
}

// Each list runs from the highest place to the lowest, strictly.
TEST(DrumKit, DrumsAndCymbalsStandInTheirOrderFromHighToLow) {
    const std::vector<std::vector<int>> orders = {
        // Toms, high to low, around the snare; the bass drum and pedal hi-hat lowest.
        {50, 48, 47, 38, 45, 43, 41, 36, 44},
        // Further crashes above the first; the hi-hat above the ride.
        {52, 55, 57, 49, 42, 51},
        // Latin drums by pitch: bongos, timbales, congas.
        {60, 61, 65, 66, 63, 64},
        {67, 68},  // high and low agogo
        {76, 77},  // high and low wood block
    };
    for (const std::vector<int>& order : orders)
        for (size_t i = 1; i < order.size(); ++i)
            EXPECT_GT(StepOf(order[i - 1]), StepOf(order[i])) << Drum(order[i - 1]).pszName << " over " << Drum(order[i]).pszName;
}

// Instruments General MIDI names twice (two bass drums, two snares, one
// sound held or struck short) are one place on the staff; the Latin hand
// drums take the toms' places, rarely heard at the same time.
const std::set<std::pair<int, int>> kDrawnAlike = {
    {35, 36}, {38, 40}, {51, 59}, {42, 46}, {62, 63}, {71, 72}, {73, 74}, {78, 79}, {80, 81},
    {48, 60}, {47, 61}, {45, 65}, {43, 66}, {41, 62}, {41, 63},
};

TEST(DrumKit, NoTwoInstrumentsShareBothPlaceAndHead) {
    for (int a = kFirstDrumKey; a <= kLastDrumKey; ++a)
        for (int b = a + 1; b <= kLastDrumKey; ++b) {
            bool alike = StepOf(a) == StepOf(b) && Drum(a).bNotehead == Drum(b).bNotehead;
            EXPECT_EQ(alike, kDrawnAlike.count({a, b}) == 1) << Drum(a).pszName << " and " << Drum(b).pszName;
        }
}

// Beyond their heads, what plays together in a pop or rock groove stands on
// places of its own, so that no chord puts two heads on one spot.
TEST(DrumKit, AGroovesInstrumentsEachHaveAPlaceOfTheirOwn) {
    const std::vector<std::vector<int>> grooves = {
        {36, 38, 42, 44, 49, 51, 39, 54, 56, 69},  // kit with clap, tambourine, cowbell, cabasa
        {35, 40, 46, 57, 53, 70},                  // the other kick and snare, open hi-hat, maracas
        {36, 37, 42, 49},                          // side stick in a ballad
        {36, 38, 41, 43, 45, 47, 48, 50, 42, 49},  // a fill round the toms
    };
    for (const std::vector<int>& groove : grooves) {
        std::set<int> steps;
        for (int key : groove) EXPECT_TRUE(steps.insert(StepOf(key)).second) << Drum(key).pszName;
    }
}

TEST(DrumKit, OnlyBassDrumsAndPedalHiHatAreFeet) {
    for (int key = kFirstDrumKey; key <= kLastDrumKey; ++key)
        EXPECT_EQ(Drum(key).bFoot != 0, key == 35 || key == 36 || key == 44) << Drum(key).pszName;
}

TEST(DrumKit, NamesAreUniqueAndInSentenceCase) {
    std::set<std::string> names;
    for (int key = kFirstDrumKey; key <= kLastDrumKey; ++key) {
        std::string name = Drum(key).pszName ? Drum(key).pszName : "";
        ASSERT_FALSE(name.empty()) << key;
        EXPECT_TRUE(names.insert(name).second) << name;
        EXPECT_TRUE(std::isupper(static_cast<unsigned char>(name[0]))) << name;
        for (size_t i = 1; i < name.size(); ++i)
            EXPECT_FALSE(std::isupper(static_cast<unsigned char>(name[i]))) << name;
    }
    EXPECT_EQ(names.count(kOtherPercussion.pszName), 0u);
}

TEST(DrumKit, AKeyOutsideTheKitIsAPlainHeadOnTheMiddleLine) {
    for (int key : {0, 27, 34, 82, 87, 127, 255}) {
        const SDrum& drum = Drum(key);
        EXPECT_FALSE(IsDrumKitKey(static_cast<uint8_t>(key)));
        EXPECT_STREQ(drum.pszName, "Percussion") << key;
        EXPECT_EQ(drum.cStep, 6) << key;
        EXPECT_EQ(drum.bNotehead, kNoteheadNormal) << key;
        EXPECT_EQ(drum.bFoot, 0) << key;
        EXPECT_EQ(drum.bMark, kDrumMarkNone) << key;
    }
}

}  // namespace
