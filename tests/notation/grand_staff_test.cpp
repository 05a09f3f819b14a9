// The grand staff of the readable notation: which tracks get two staves,
// how their notes are shared out between the hands, and that the two
// staves share the track's measures, each with its own clef and its own
// answer to a position lookup.
#include "../support/test_support.h"

#include "../../notation/grand_staff.h"

#include <algorithm>
#include <set>
#include <sstream>

namespace {

// One struck note of a hand: its measure (from 0) and section, and its key.
struct Struck {
    int measure;
    int section;
    int key;
    bool operator<(const Struck& o) const {
        return std::tie(measure, section, key) < std::tie(o.measure, o.section, o.key);
    }
};

// The keys a staff strikes (pieces tied from before left out), as
// "measure:section:key" in time order.
std::string StruckOn(const STrack* staff) {
    std::set<Struck> struck;
    int m = 0;
    for (const SMeasure* measure : Measures(staff)) {
        for (const SSection* section : LinkedSections(measure)) {
            int k = static_cast<int>(section - measure->pSections);
            for (const SChord* chord : Chords(section))
                for (const SNote* note : Notes(chord))
                    if (!note->bTieIn) struck.insert({m, k, note->bPitch});
        }
        ++m;
    }
    std::ostringstream out;
    for (const Struck& s : struck) out << (out.tellp() ? " " : "") << s.measure << ':' << s.section << ':' << s.key;
    return out.str();
}

// The clefs a staff shows, measure by measure ("" where unchanged).
std::vector<int> Clefs(const STrack* staff) {
    std::vector<int> clefs;
    for (const SMeasure* measure : Measures(staff)) clefs.push_back(measure->nClef);
    return clefs;
}

// Keys of MIDI notes below the test support's table.
enum : uint8_t { C2 = 36, G2 = 43, C3 = 48, D3 = 50, E3 = 52, F3 = 53, G3_ = 55, A3 = 57, B3 = 59 };

}  // namespace

// Two hands of one track as a pianist shares them out: in every case the
// notes are given by hand, and the staves must hold exactly those.
TEST(GrandStaff, SplitsBetweenTheHandsAsAPianistWould) {
    struct Note {
        uint32_t tick, length;
        uint8_t key;
    };
    struct Case {
        const char* what;
        std::vector<Note> right, left;
    };
    std::vector<Note> melody, heldBass;
    // A melody of eighths over a bass held a whole measure at a time.
    const uint8_t kTune[] = {C5, D5, E5, G5, E5, D5, C5, G4, A4, B4, C5, D5, E5, C5, G4, C5};
    for (uint32_t i = 0; i < 32; ++i) melody.push_back({i * kEighth, kEighth, kTune[i % 16]});
    for (uint32_t i = 0; i < 4; ++i) heldBass.push_back({i * kWhole, kWhole, i % 2 ? G2 : C3});
    // Two lines that cross: the upper falls A4 G4 F4 E4 D4 and back while
    // the lower climbs C3 E3 G3 C4 E4 and back. Where they cross, on the
    // fifth beat, the hands do not: the right hand takes the upper note
    // (E4) and the left the lower (D4), and each goes on with its line.
    std::vector<Note> falling, climbing;
    const uint8_t kFalling[] = {A4, G4, F4, E4, E4, E4, F4, G4, A4};
    const uint8_t kClimbing[] = {C3, E3, G3_, C4, D4, C4, G3_, E3, C3};
    for (uint32_t i = 0; i < 9; ++i) {
        falling.push_back({i * kQuarter, kQuarter, kFalling[i]});
        climbing.push_back({i * kQuarter, kQuarter, kClimbing[i]});
    }
    // Both hands in the first and the last measure; in the second the
    // right hand alone runs down across middle C and back, as one hand
    // plays it, while the left rests.
    std::vector<Note> run = {{0, kHalf, E5}, {kHalf, kHalf, G4}, {2 * kWhole, kHalf, E5}, {2 * kWhole + kHalf, kHalf, C5}};
    const uint8_t kRun[] = {G4, F4, E4, D4, C4, B3, A3, G3_, A3, B3, C4, D4, E4, F4, G4, A4};
    for (uint32_t i = 0; i < 16; ++i) run.push_back({kWhole + i * kSixteenth, kSixteenth, kRun[i]});
    std::vector<Note> runBass;
    for (uint32_t i = 0; i < 4; ++i) {
        runBass.push_back({i * kQuarter, kQuarter, i % 2 ? G2 : C3});
        runBass.push_back({2 * kWhole + i * kQuarter, kQuarter, i % 2 ? G2 : C3});
    }
    const Case cases[] = {
        {"a held bass under a moving melody", melody, heldBass},
        {"crossing lines", falling, climbing},
        {"a one-hand passage across middle C", run, runBass},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MidiFile file;
        MidiTrack& track = file.AddTrack();
        MidiFile rightOnly, leftOnly;
        MidiTrack& right = rightOnly.AddTrack();
        MidiTrack& left = leftOnly.AddTrack();
        for (const Note& n : c.right) track.Note(n.tick, n.length, n.key), right.Note(n.tick, n.length, n.key);
        for (const Note& n : c.left) track.Note(n.tick, n.length, n.key), left.Note(n.tick, n.length, n.key);
        ScopedMidi midi(file), rightMidi(rightOnly), leftMidi(leftOnly);
        ScopedOptionsTrack both(midi.get()), upper(rightMidi.get()), lower(leftMidi.get());
        ASSERT_NE(both->pNextStaff, nullptr);
        EXPECT_EQ(both->bStaff, 1);
        EXPECT_EQ(both->pNextStaff->bStaff, 2);
        // Each hand alone is one staff, and strikes what its staff holds.
        EXPECT_EQ(upper->pNextStaff, nullptr);
        EXPECT_EQ(StruckOn(both.get()), StruckOn(upper.get()));
        EXPECT_EQ(StruckOn(both->pNextStaff), StruckOn(lower.get()));
        // Both staves give the track's note count.
        EXPECT_EQ(both->nNotes, static_cast<int>(c.right.size() + c.left.size()));
        EXPECT_EQ(both->pNextStaff->nNotes, both->nNotes);
    }
}

// The two staves share the track's measures: as many, at the same ticks, in
// the same meters and keys, and the same end; the lower staff opens with the
// bass clef, and neither staff takes the other's clef for a passage that
// stays within reach of its own.
TEST(GrandStaff, StavesShareTheMeasures) {
    MidiFile file;
    file.Conductor().TimeSignature(0, 3, 2).TimeSignature(3 * kQuarter * 2, 2, 2).KeySignature(0, -3);
    MidiTrack& track = file.AddTrack();
    for (uint32_t i = 0; i < 24; ++i) {
        track.Note(i * kQuarter / 2, kQuarter / 2, static_cast<uint8_t>(i % 2 ? G4 : C5));
        if (i % 4 == 0) track.Note(i * kQuarter / 2, kQuarter * 2, static_cast<uint8_t>(i % 8 ? G2 : C3));
    }
    track.Note(20 * kQuarter / 2, kQuarter * 2, C4);  // the left hand up to middle C: still the bass clef
    ScopedMidi midi(file);
    ScopedOptionsTrack grand(midi.get());
    ASSERT_NE(grand->pNextStaff, nullptr);
    const STrack* lower = grand->pNextStaff;
    std::vector<SMeasure*> above = Measures(grand.get()), below = Measures(lower);
    ASSERT_EQ(above.size(), below.size());
    EXPECT_EQ(grand->nMeasures, lower->nMeasures);
    for (size_t m = 0; m < above.size(); ++m) {
        SCOPED_TRACE(m);
        EXPECT_EQ(above[m]->dwTime, below[m]->dwTime);
        EXPECT_EQ(above[m]->bNumerator, below[m]->bNumerator);
        EXPECT_EQ(above[m]->bDenominator, below[m]->bDenominator);
        EXPECT_EQ(above[m]->cKey, below[m]->cKey);
        EXPECT_EQ(above[m]->pSections[0].dwTime, below[m]->pSections[0].dwTime);
    }
    EXPECT_EQ(grand->dwEndTime, lower->dwEndTime);
    std::vector<int> upperClefs = Clefs(grand.get()), lowerClefs = Clefs(lower);
    EXPECT_EQ(upperClefs.front(), kClefTreble);
    EXPECT_EQ(lowerClefs.front(), kClefBass);
    for (size_t m = 1; m < upperClefs.size(); ++m) {
        EXPECT_EQ(upperClefs[m], kClefUnchanged) << m;
        EXPECT_EQ(lowerClefs[m], kClefUnchanged) << m;
    }
    // The key signature's glyphs sit where the bass clef draws them.
    ASSERT_NE(below[0]->pKeyAccidentals, nullptr);
    EXPECT_EQ(below[0]->pKeyAccidentals->bPosition + 2, above[0]->pKeyAccidentals->bPosition);
}

// Which tracks stay on one staff.
TEST(GrandStaff, OneStaffWhereTwoWouldNotHelp) {
    struct Case {
        const char* what;
        uint8_t channel;
        const char* name;
        bool line;           // one line only, leaping over the keyboard
        bool grand;
    } const cases[] = {
        {"both hands of a piano", 0, "Piano", false, true},
        {"a drum track, however wide", 9, "Drums", false, false},
        {"a track that holds the right hand already", 0, "Piano right", false, false},
        {"a track that holds the left hand already", 0, "LH", false, false},
        {"a single line that leaps over the keyboard", 0, "Piano", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MidiFile file;
        MidiTrack& track = file.AddTrack().Name(0, c.name);
        for (uint32_t i = 0; i < 16; ++i) {
            uint32_t tick = i * kQuarter;
            if (c.line) {
                track.Note(tick, kQuarter, static_cast<uint8_t>(i % 2 ? C2 + i : C6 - i), c.channel);
            } else {
                track.Note(tick, kQuarter, static_cast<uint8_t>(i % 2 ? E5 : G5), c.channel);
                track.Note(tick, kQuarter, static_cast<uint8_t>(i % 2 ? C2 : G2), c.channel);
            }
        }
        ScopedMidi midi(file);
        ScopedOptionsTrack readable(midi.get());
        EXPECT_EQ(readable->pNextStaff != nullptr, c.grand);
        // The classic model never has a second staff.
        ScopedTrack classic(midi.get(), 0);
        EXPECT_EQ(classic->pNextStaff, nullptr);
        EXPECT_EQ(classic->bStaff, 0);
    }
}

TEST(GrandStaff, NamesOneHand) {
    struct Case {
        const char* name;
        bool hand;
    } const cases[] = {
        {"Piano right", true}, {"Piano left", true}, {"upper:", true}, {"lower:", true}, {"Klavier rechts", true},
        {"RH", true},          {"Piano (l.h.)", true}, {"Piano", false}, {"Rhythm piano", false},
        {"Channel 01", false}, {nullptr, false},
    };
    for (const Case& c : cases) EXPECT_EQ(NamesOneHand(c.name), c.hand) << (c.name ? c.name : "null");
}

// Each staff answers a position lookup with its own measure and section,
// whichever staff was asked before (the lookup keeps the measure it found
// last for the next request); releasing the track forgets both.
TEST(GrandStaff, PositionPerStaff) {
    MidiFile file;
    MidiTrack& track = file.AddTrack();
    for (uint32_t i = 0; i < 32; ++i) track.Note(i * kEighth, kEighth, static_cast<uint8_t>(i % 2 ? E5 : C5));
    for (uint32_t i = 0; i < 4; ++i) track.Note(i * kWhole, kWhole, static_cast<uint8_t>(i % 2 ? G2 : C3));
    ScopedMidi midi(file);
    ScopedOptionsTrack grand(midi.get());
    ASSERT_NE(grand->pNextStaff, nullptr);
    STrack* staves[] = {grand.get(), grand->pNextStaff};
    for (long musicTime : {0L, 384L, 3000L, 3072L, 9000L, 6000L, 0L, 12287L}) {
        for (STrack* staff : staves) {
            SCOPED_TRACE(testing::Message() << "time " << musicTime << ", staff " << int(staff->bStaff));
            SMeasure* measure = nullptr;
            SSection* section = nullptr;
            float fraction = -1;
            VSX_GetPositionByMusicTime(midi.get(), staff, musicTime, &measure, &section, &fraction);
            std::vector<SMeasure*> measures = Measures(staff);
            ASSERT_NE(std::find(measures.begin(), measures.end(), measure), measures.end());
            uint32_t tick = static_cast<uint32_t>(musicTime * 96 / 768);
            EXPECT_EQ(measure->dwTime, tick / kWhole * kWhole);
            std::vector<SSection*> sections = LinkedSections(measure);
            ASSERT_NE(std::find(sections.begin(), sections.end(), section), sections.end());
            EXPECT_LE(section->dwTime, tick);
            // The upper staff has a section at every eighth, the lower (whole
            // notes) only at the beats.
            EXPECT_EQ(section->dwTime, tick / (staff->bStaff == 2 ? kQuarter : kEighth) * (staff->bStaff == 2 ? kQuarter : kEighth));
        }
    }
}
