// Stem directions per beam group, the order of a chord's notes with its back
// links, and note heads a second apart moved across the stem.
#include "../support/test_support.h"

#include "../../notation/notation.h"

namespace {

// One quarter-note chord at the start of a 4/4 measure.
MidiFile ChordFile(const std::vector<uint8_t>& keys) {
    std::vector<NoteAt> notes;
    for (uint8_t key : keys) notes.push_back({0, 4, key});
    return FileOf(notes);
}

// bStemUp of every section of one voice, as a string of 0 and 1.
std::string StemsOfVoice(const SMeasure* measure, size_t voice) {
    std::string stems;
    for (size_t k = 0; k < measure->bSections; ++k) stems += ChordAt(measure, k, voice)->bStemUp ? '1' : '0';
    return stems;
}

// ---- Stage I --------------------------------------------------------------------------

// A voice alone: the middle of the group's lowest and highest step decides,
// not the average of its notes.
TEST(StemDirection, OneVoiceFollowsTheMiddleOfItsRange) {
    struct Case {
        const char* what;
        std::vector<NoteAt> notes;
        uint8_t stemUp;
    };
    const std::vector<Case> cases = {
        {"steps 2 and 9 (sum 11)", {{0, 4, E4}, {0, 4, E5}}, 1},
        {"steps 3 and 9 (sum 12)", {{0, 4, F4}, {0, 4, E5}}, 0},
        {"single note on the middle line", {{0, 4, B4}}, 0},
        {"single note on step 5", {{0, 4, A4}}, 1},
        {"single note below the staff", {{0, 4, G3}}, 1},
        // Average 19/3 lies above the middle line, the range's middle does not.
        {"steps 2, 8 and 9", {{0, 4, E4}, {0, 4, D5}, {0, 4, E5}}, 1},
        // A beamed pair counts as one range: steps 2 and 9 over two chords.
        {"beamed eighths on steps 2 and 9", {{0, 2, E4}, {2, 2, E5}}, 1},
        {"beamed eighths on steps 3 and 9", {{0, 2, F4}, {2, 2, E5}}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedMidi midi(FileOf(c.notes));
        ScopedTrack track(midi.get(), 0, 16, 0, 'I');
        const SMeasure* m = track->pFirstMeasure;
        ASSERT_EQ(m->bVoices, 1);
        EXPECT_EQ(ChordAt(m, 0, 0)->bStemUp, c.stemUp);
        // Both chords of a beamed pair, and the section between them, agree.
        if (c.notes.back().section == 2) {
            EXPECT_EQ(StemsOfVoice(m, 0).substr(0, 3), std::string(3, '0' + c.stemUp));
        }
    }
}

// Two or three voices striking together: the higher average takes the stem up;
// at exactly equal averages even voices go up and odd ones down.
TEST(StemDirection, VoicesStruckTogetherCompareAverages) {
    struct Case {
        const char* what;
        std::vector<NoteAt> notes;
        size_t section;                // where the compared chords start
        std::vector<uint8_t> stemUp;   // per voice, at that section
    };
    const std::vector<Case> cases = {
        // Voice 0: a quarter on steps 7 and 3 (average 5); voice 1: an eighth on 5.
        {"equal averages", {{0, 4, C5}, {0, 4, F4}, {0, 2, A4}}, 0, {1, 0}},
        {"first voice higher", {{0, 4, E5}, {0, 2, E4}}, 0, {1, 0}},
        // Voice 0 spans steps 10 and 0 (average 5) around voice 1 on step 8.
        {"first voice lower on average", {{0, 4, F5}, {0, 4, C4}, {0, 2, D5}}, 0, {0, 1}},
        // Voice 0 averages 5/2, voice 1 averages 8/3: truncated, both would be 2.
        {"averages compared exactly",
         {{0, 4, A4}, {0, 4, C4}, {0, 2, G4}, {0, 2, F4}, {0, 2, D4}},
         0,
         {0, 1}},
        // Voice 0 holds a half from section 0; voices 1 and 2 start at 4 with
        // equal averages (steps 9 and 1 against step 5). Voice 0 starts
        // nothing there, so only voices 1 and 2 compare: 2 is even and goes up.
        {"three voices, the upper two tied", {{0, 8, C4}, {4, 4, E5}, {4, 4, D4}, {4, 2, A4}}, 4, {0, 0, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedMidi midi(FileOf(c.notes));
        ScopedTrack track(midi.get(), 0, 16, 0, 'I');
        const SMeasure* m = track->pFirstMeasure;
        ASSERT_EQ(m->bVoices, c.stemUp.size());
        for (size_t v = 0; v < c.stemUp.size(); ++v) {
            const SChord* chord = ChordAt(m, c.section, v);
            if (!chord->pNotes) continue;  // a held note of an earlier section
            EXPECT_EQ(chord->bStemUp, c.stemUp[v]) << "voice " << v;
        }
    }
}

// Voice 0 holds a whole note on step 7; voice 1 beams two eighths on steps 9
// and 10 at sections 4 and 6. Nothing else starts under voice 1's group, so
// the one-voice rule turns its stems down (9 + 10 > 11), although its notes
// lie above the whole note. The whole note, alone at section 0, points down too.
TEST(StemDirection, ANoteHeldFromEarlierDoesNotCompete) {
    ScopedMidi midi(FileOf({{0, 16, C5}, {4, 2, E5}, {6, 2, F5}}));
    ScopedTrack track(midi.get(), 0, 16, 0, 'I');
    const SMeasure* m = track->pFirstMeasure;
    ASSERT_EQ(m->bVoices, 2);
    ASSERT_TRUE(ChordAt(m, 4, 1)->bBeamNext);
    EXPECT_EQ(StemsOfVoice(m, 0), "0000000000000000");
    EXPECT_EQ(StemsOfVoice(m, 1), "0000000000000000");

    // The same group on steps 5 and 6 (sum 11), still above nothing that
    // starts under it, turns up on all its sections (4 to 6) and no others.
    ScopedMidi lower(FileOf({{0, 16, C5}, {4, 2, A4}, {6, 2, B4}}));
    ScopedTrack lowerTrack(lower.get(), 0, 16, 0, 'I');
    EXPECT_EQ(StemsOfVoice(lowerTrack->pFirstMeasure, 1), "0000111000000000");
}

// Four beamed eighths above a half note that starts under them: the whole
// group, the silent sections between its chords included, points up; the
// section after its last chord keeps 0, and so does the section after a
// second, lower group that the one-voice rule also turns up.
TEST(StemDirection, AGroupSetsEverySectionItSpans) {
    ScopedMidi midi(FileOf({{0, 2, C5},
                            {2, 2, D5},
                            {4, 2, E5},
                            {6, 2, F5},
                            {0, 8, C4},
                            {8, 2, C4},
                            {10, 2, D4},
                            {12, 2, E4},
                            {14, 2, D4}}));
    ScopedTrack track(midi.get(), 0, 16, 0, 'I');
    const SMeasure* m = track->pFirstMeasure;
    ASSERT_EQ(m->bVoices, 2);
    EXPECT_EQ(StemsOfVoice(m, 0), "1111111011111110");
    // The half note lies below the group that starts over it.
    EXPECT_EQ(ChordAt(m, 0, 1)->bStemUp, 0);
}

// In a bass clef measure the stems follow the steps as the clef draws them:
// the tally of what every voice strikes moves with the notes, or the lower
// voice would find the other one far below and turn up.
TEST(StemDirection, StemsFollowTheStepsTheClefDraws) {
    enum : uint8_t { A2 = 45, C3 = 48, D3 = 50 };  // drawn on bass steps 3, 5, 6
    struct Case {
        const char* what;
        std::vector<NoteAt> notes;
        std::vector<uint8_t> stemUp;  // per voice, at section 0
    };
    const std::vector<Case> cases = {
        {"one voice below the middle line", {{0, 4, C3}}, {1}},
        {"one voice on the middle line", {{0, 4, D3}}, {0}},
        {"two voices", {{0, 4, C3}, {0, 2, A2}}, {1, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedMidi midi(FileOf(c.notes));
        ScopedTrack track(midi.get(), 0, 16, 0, 'I');
        const SMeasure* m = track->pFirstMeasure;
        ASSERT_EQ(m->nClef, 2);  // bass
        ASSERT_EQ(m->bVoices, c.stemUp.size());
        for (size_t v = 0; v < c.stemUp.size(); ++v) EXPECT_EQ(ChordAt(m, 0, v)->bStemUp, c.stemUp[v]) << "voice " << v;
    }
}

// ---- Note order ------------------------------------------------------------------------

// pPrev runs back along pNext, and the first note has none.
void ExpectLinked(const SChord* chord) {
    const SNote* previous = nullptr;
    for (const SNote* n = chord->pNotes; n; n = n->pNext) {
        EXPECT_EQ(n->pPrev, previous);
        previous = n;
    }
}

TEST(NoteOrder, StemUpChordsListTheirLowestNoteFirst) {
    struct Case {
        const char* what;
        std::vector<uint8_t> keys;
        uint8_t stemUp;
        std::vector<int> pitches;  // in list order after the final pass
    };
    const std::vector<Case> cases = {
        {"C4-E4-G4, stem up", {C4, E4, G4}, 1, {C4, E4, G4}},
        {"C5-E5-G5, stem down", {C5, E5, G5}, 0, {G5, E5, C5}},
        {"one note, stem up", {A4}, 1, {A4}},
        {"two notes, stem down", {B4, D5}, 0, {D5, B4}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedMidi midi(ChordFile(c.keys));
        ScopedTrack track(midi.get(), 0);
        const SChord* chord = LinkedSections(track->pFirstMeasure)[0]->pChords;
        EXPECT_EQ(chord->bStemUp, c.stemUp);
        EXPECT_EQ(Pitches(Notes(chord)), c.pitches);
        ExpectLinked(chord);
    }
}

// ---- Stage R ----------------------------------------------------------------------------

TEST(DisplacedHeads, SecondsAndUnisonsAlternateAcrossTheStem) {
    struct Case {
        const char* what;
        std::vector<uint8_t> keys;
        std::vector<uint8_t> flipped;  // in list order after the final pass
        uint8_t headsLeft;
    };
    const std::vector<Case> cases = {
        // Stem up, listed C4, D4, E4.
        {"C4-D4-E4, stem up", {C4, D4, E4}, {0, 1, 0}, 0},
        // Stem down, listed C6, B5, A5: the moved head lands left of the stem.
        {"A5-B5-C6, stem down", {A5, B5, C6}, {0, 1, 0}, 1},
        {"C and C sharp on one step, stem up", {C4, Cs4}, {0, 1}, 0},
        {"C and C sharp on one step, stem down", {C6, Cs6}, {0, 1}, 1},
        {"a cluster of four seconds", {C4, D4, E4, F4}, {0, 1, 0, 1}, 0},
        {"a second above a third", {C4, E4, F4}, {0, 0, 1}, 0},
        {"a third", {C4, E4}, {0, 0}, 0},
        {"thirds, stem down", {F5, A5, C6}, {0, 0, 0}, 0},
    };
    // In a whole build stage Q moves the heads as it finishes each chord;
    // run on its own after Q, stage R must come to the same.
    for (bool alone : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (alone ? ", R alone" : ""));
            ScopedMidi midi(ChordFile(c.keys));
            ScopedTrack track(midi.get(), 0, 16, 0, alone ? 'Q' : 'S');
            if (alone) RunStages(SBuildContext{midi.get(), track.get(), 16, 0}, 'R', 'R');
            const SSection* section = LinkedSections(track->pFirstMeasure)[0];
            std::vector<uint8_t> flipped;
            for (const SNote* n : Notes(section->pChords)) flipped.push_back(n->bHeadFlipped);
            EXPECT_EQ(flipped, c.flipped);
            EXPECT_EQ(section->bHeadsLeft, c.headsLeft);
        }
    }
}

}  // namespace
