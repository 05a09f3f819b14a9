// Guitar strings and frets: which string a pitch prefers, the fret on a
// string, and how the notes of one chord share out the six strings.
#include "../../notation/tablature.h"

#include <vector>

#include "../../notation/notation.h"
#include "../support/test_support.h"

namespace {

struct Fingering {
    int string;
    int fret;
    bool operator==(const Fingering& o) const { return string == o.string && fret == o.fret; }
};

std::ostream& operator<<(std::ostream& out, const Fingering& f) {
    return out << "string " << f.string << " fret " << f.fret;
}

// A one-measure, one-section track built by hand: one chord per voice, each
// holding the given pitches in the given list order.
class HandBuiltSection {
public:
    explicit HandBuiltSection(const std::vector<std::vector<uint8_t>>& chords)
        : chords_(chords.size()), notes_(chords.size()) {
        for (size_t v = 0; v < chords.size(); ++v) {
            notes_[v].resize(chords[v].size());
            for (size_t i = 0; i < chords[v].size(); ++i) {
                notes_[v][i].bPitch = chords[v][i];
                notes_[v][i].pNext = i + 1 < chords[v].size() ? &notes_[v][i + 1] : nullptr;
            }
            chords_[v].pNotes = chords[v].empty() ? nullptr : &notes_[v][0];
            chords_[v].bValue = 4;
            chords_[v].bVoice = static_cast<uint8_t>(v);
            chords_[v].pNext = v + 1 < chords.size() ? &chords_[v + 1] : nullptr;
        }
        section_.pChords = chords_.empty() ? nullptr : &chords_[0];
        measure_.pSections = &section_;
        measure_.bSections = 1;
        measure_.bVoices = static_cast<uint8_t>(chords.size());
        track_.pFirstMeasure = &measure_;
        track_.bResolution = 16;
    }

    void AssignStrings() {
        SBuildContext context = {nullptr, &track_, 16, 0};
        RunStages(context, 'S', 'S');
    }

    // Stages Q to S in one walk, where the builder fingers each chord as Q
    // finishes it (the chords stand stem down, so Q keeps their order).
    void FinishAndAssignStrings() {
        SBuildContext context = {nullptr, &track_, 16, 0};
        RunStages(context, 'Q', 'S');
    }

    std::vector<Fingering> Of(size_t voice) const {
        std::vector<Fingering> result;
        for (const SNote& n : notes_[voice]) result.push_back({n.bString, n.bFret});
        return result;
    }

private:
    STrack track_{};
    SMeasure measure_{};
    SSection section_{};
    std::vector<SChord> chords_;
    std::vector<std::vector<SNote>> notes_;
};

}  // namespace

TEST(Tablature, PreferredStringAndItsFret) {
    struct Case {
        int pitch;
        int string;  // 0: none
        int fret;    // on that string
    };
    const std::vector<Case> cases = {
        {0, 0, 0},  {51, 0, 0},  {52, 6, 0},   {56, 6, 4},  {57, 5, 0},  {61, 5, 4},
        {62, 4, 0}, {66, 4, 4},  {67, 3, 0},   {70, 3, 3},  {71, 2, 0},  {75, 2, 4},
        {76, 1, 0}, {99, 1, 23}, {100, 1, 24}, {101, 0, 0}, {127, 0, 0}, {255, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("pitch " + std::to_string(c.pitch));
        uint8_t string = PreferredString(static_cast<uint8_t>(c.pitch));
        EXPECT_EQ(string, c.string);
        if (c.string != 0) {
            EXPECT_EQ(FretOnString(static_cast<uint8_t>(c.pitch), string), c.fret);
        }
    }
}

TEST(Tablature, FretOnString) {
    struct Case {
        int pitch;
        int string;
        int fret;  // 255: cannot be played there
    };
    const std::vector<Case> cases = {
        {52, 6, 0},   {76, 6, 24},  {77, 6, 255},  {51, 6, 255}, {80, 2, 9},   {64, 5, 7},    {65, 5, 8},
        {64, 1, 255}, {100, 1, 24}, {101, 1, 255}, {60, 0, 255}, {60, 7, 255}, {255, 1, 255}, {0, 6, 255},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("pitch " + std::to_string(c.pitch) + " on string " + std::to_string(c.string));
        EXPECT_EQ(FretOnString(static_cast<uint8_t>(c.pitch), static_cast<uint8_t>(c.string)), c.fret);
    }
}

TEST(Tablature, NotesOfAChordShareTheStrings) {
    struct Case {
        const char* name;
        std::vector<uint8_t> pitches;  // in list order
        std::vector<Fingering> expected;
    };
    const std::vector<Case> cases = {
        {"stem-up order: the lower note keeps string 4", {64, 65}, {{4, 2}, {5, 8}}},
        {"stem-down order: the higher note keeps string 4", {65, 64}, {{4, 3}, {5, 7}}},
        {"nothing lies below string 6", {52, 53}, {{6, 0}, {0, 0}}},
        {"nothing lies below string 6, other order", {53, 52}, {{6, 1}, {0, 0}}},
        {"string 1 taken: 80 moves to string 2", {76, 80}, {{1, 0}, {2, 9}}},
        {"strings 1 to 5 taken: 77 would need fret 25 on string 6",
         {76, 71, 67, 62, 57, 77},
         {{1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {0, 0}}},
        {"out of range pitches get nothing and take nothing", {51, 101, 60}, {{0, 0}, {0, 0}, {5, 3}}},
        {"a unison spreads over the next lower strings", {64, 64, 64}, {{4, 2}, {5, 7}, {6, 12}}},
        // 57 takes its own string in the first pass, before the second 64
        // looks for a lower one.
        {"preferred strings are handed out before any move", {64, 64, 57}, {{4, 2}, {6, 12}, {5, 0}}},
        {"a lower string too far away is skipped", {100, 100}, {{1, 24}, {0, 0}}},
        {"a move skips the strings already taken", {62, 57, 64}, {{4, 0}, {5, 0}, {6, 12}}},
    };
    for (bool withQ : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (withQ ? ", from stage Q" : ""));
            HandBuiltSection section({c.pitches});
            if (withQ) section.FinishAndAssignStrings();
            else section.AssignStrings();
            EXPECT_EQ(section.Of(0), c.expected);
        }
    }
}

// The stage looks a lone note's string and fret up in a table; every pitch
// byte gets what trying the open strings from the highest down gives.
TEST(Tablature, ALoneNoteOfEveryPitchGetsItsFirstChoice) {
    const int open[6] = {76, 71, 67, 62, 57, 52};
    for (int pitch = 0; pitch < 256; ++pitch) {
        SCOPED_TRACE("pitch " + std::to_string(pitch));
        Fingering expected = {0, 0};
        for (int s = 1; s <= 6 && pitch <= 100; ++s)
            if (pitch >= open[s - 1]) {
                expected = {s, pitch - open[s - 1]};
                break;
            }
        HandBuiltSection section(std::vector<std::vector<uint8_t>>{{static_cast<uint8_t>(pitch)}});
        section.AssignStrings();
        EXPECT_EQ(section.Of(0), std::vector<Fingering>{expected});
        EXPECT_EQ(PreferredString(static_cast<uint8_t>(pitch)), expected.string);
    }
}

TEST(Tablature, StringsAreReservedPerChordOnly) {
    // Two voices sounding in one section are two chords: both may use string 1.
    HandBuiltSection section({{76, 81}, {76}, {}});
    section.AssignStrings();
    EXPECT_EQ(section.Of(0), (std::vector<Fingering>{{1, 0}, {2, 10}}));
    EXPECT_EQ(section.Of(1), (std::vector<Fingering>{{1, 0}}));
}

TEST(Tablature, ParsedChordsFollowTheirStems) {
    // The note order of a finished chord decides: a low chord stands stem up
    // (lowest first), a high one stem down (highest first).
    struct Case {
        const char* name;
        std::vector<uint8_t> keys;
        char transpose;
        std::vector<std::pair<int, Fingering>> expected;  // pitch after transposition, its fingering
    };
    const std::vector<Case> cases = {
        {"64+65, stem up", {64, 65}, 0, {{64, {4, 2}}, {65, {5, 8}}}},
        {"76+77, stem down", {76, 77}, 0, {{77, {1, 1}}, {76, {2, 5}}}},
        {"transposition counts: 59+60 up a fifth", {59, 60}, 5, {{64, {4, 2}}, {65, {5, 8}}}},
        {"E2 has no string, E3 is the open low string", {40, 52}, 0, {{40, {0, 0}}, {52, {6, 0}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MidiFile file;
        file.AddTrack().Chord(0, kQuarter, {c.keys[0], c.keys[1]}).EndAt(kWhole);
        ScopedMidi midi(file);
        ScopedTrack track(midi.get(), 0, 16, c.transpose);
        SChord* chord = ChordAt(track->pFirstMeasure, 0, 0);
        ASSERT_NE(chord, nullptr);
        std::vector<SNote*> notes = Notes(chord);
        ASSERT_EQ(notes.size(), c.expected.size());
        for (const auto& [pitch, fingering] : c.expected) {
            SNote* note = nullptr;
            for (SNote* n : notes)
                if (n->bPitch == pitch) note = n;
            ASSERT_NE(note, nullptr) << "pitch " << pitch;
            EXPECT_EQ((Fingering{note->bString, note->bFret}), fingering) << "pitch " << pitch;
        }
    }
}
