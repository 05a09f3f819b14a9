// Silences filled with rests: the voice heights they are placed by, their
// values on the grid, rests shared by several voices, their steps on the
// staff, and dotted rests.
#include "../support/test_support.h"

#include "../../notation/notation.h"

namespace {

// A rest as the model shows it: where it starts, its value and dot.
struct RestAt {
    uint32_t section;
    int value;
    int dotted;
    bool operator==(const RestAt& o) const {
        return section == o.section && value == o.value && dotted == o.dotted;
    }
};

std::ostream& operator<<(std::ostream& out, const RestAt& r) {
    return out << "{" << r.section << ", " << r.value << (r.dotted ? "." : "") << "}";
}

std::vector<RestAt> RestsOfVoice(const SMeasure* m, size_t voice) {
    std::vector<RestAt> rests;
    for (uint32_t k = 0; k < m->bSections; ++k) {
        const SChord* c = ChordAt(m, k, voice);
        if (!c->pNotes && c->bValue) rests.push_back({k, c->bValue, c->bDotted});
    }
    return rests;
}

// The sections a chord or rest lasts, on grid 16.
uint32_t SpanOf(const SChord* c) {
    uint32_t span = 16u / c->bValue;
    return c->bDotted ? span + span / 2 : span;
}

// Notes and rests of a voice follow one another without gap or overlap and
// end exactly at the bar line.
void ExpectVoiceFilled(const SMeasure* m, size_t voice) {
    uint32_t k = 0;
    while (k < m->bSections) {
        const SChord* c = ChordAt(m, k, voice);
        ASSERT_NE(c->bValue, 0) << "nothing starts at section " << k << " of voice " << voice;
        for (uint32_t i = k + 1; i < k + SpanOf(c) && i < m->bSections; ++i)
            EXPECT_EQ(ChordAt(m, i, voice)->bValue, 0) << "section " << i << " inside a value of voice " << voice;
        k += SpanOf(c);
    }
    EXPECT_EQ(k, m->bSections) << "voice " << voice << " runs past the bar line";
}

// ---- Stages J and K ---------------------------------------------------------------------

// A chord's average step stands on every section it sounds through; a
// silence takes the height of the chord before it, and only a silence at the
// start of the measure that of the chord after it.
TEST(VoiceHeights, ChordsAndTheSilencesAroundThem) {
    struct Case {
        const char* what;
        std::vector<NoteAt> notes;
        std::vector<std::pair<uint32_t, double>> heights;  // section, dPosition
    };
    const std::vector<Case> cases = {
        {"a half chord, a silence, a quarter",
         {{0, 8, C4}, {0, 8, G4}, {12, 4, E5}},
         {{0, 2.0}, {5, 2.0}, {7, 2.0}, {8, 2.0}, {11, 2.0}, {12, 9.0}, {15, 9.0}}},
        {"a silence first",
         {{8, 4, D5}, {8, 4, F4}},
         {{0, 5.5}, {7, 5.5}, {8, 5.5}, {11, 5.5}, {12, 5.5}}},
        {"a silence between two chords takes the earlier one's height",
         {{0, 2, E5}, {8, 8, D4}},
         {{0, 9.0}, {1, 9.0}, {2, 9.0}, {7, 9.0}, {8, 1.0}, {15, 1.0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedMidi midi(FileOf(c.notes));
        ScopedTrack track(midi.get(), 0, 16, 0, 'K');
        const SMeasure* m = track->pFirstMeasure;
        ASSERT_EQ(m->bVoices, 1);
        for (const auto& [section, height] : c.heights)
            EXPECT_DOUBLE_EQ(ChordAt(m, section, 0)->dPosition, height) << "section " << section;
    }
}

// Stage J alone: a chord's height covers exactly the sections it sounds
// through, whatever their number, and leaves the silence after it as it was.
TEST(VoiceHeights, EveryStretchLengthCoversItsSectionsExactly) {
    for (uint32_t length : {1u, 2u, 3u, 4u, 6u, 8u, 12u, 16u}) {
        SCOPED_TRACE(length);
        ScopedMidi midi(FileOf({{0, length, E5}}));
        ScopedTrack track(midi.get(), 0, 16, 0, 'J');
        const SMeasure* m = track->pFirstMeasure;
        ASSERT_EQ(m->bSections, 16);
        for (uint32_t section = 0; section < 16; ++section)
            EXPECT_DOUBLE_EQ(ChordAt(m, section, 0)->dPosition, section < length ? 9.0 : 0.0) << "section " << section;
    }
}

// ---- Stages L and O: rest values and dotted rests -----------------------------------------

TEST(RestValues, SilencesFillWithTheLongestRestsTheGridAllows) {
    struct Case {
        const char* what;
        uint8_t numerator, exponent;
        std::vector<NoteAt> notes;
        std::vector<RestAt> rests;  // after dotting
    };
    const std::vector<Case> cases = {
        // Eighth, quarter and half rests; the eighth and the quarter become
        // one dotted quarter at 2, and the walk goes on at 8.
        {"4/4, an eighth at the bar line", 4, 2, {{0, 2, C5}}, {{2, 4, 1}, {8, 2, 0}}},
        // Ten sections of silence open with a half (not a dotted half of
        // twelve, nor ten), then an eighth; the two are not dotted.
        {"3/4, an eighth at the end", 3, 2, {{10, 2, C5}}, {{0, 2, 0}, {8, 8, 0}}},
        {"4/4, a half rest then a quarter rest", 4, 2, {{12, 4, C5}}, {{0, 2, 1}}},
        {"4/4, two equal rests are not dotted", 4, 2, {{0, 4, C5}, {12, 4, C5}}, {{4, 4, 0}, {8, 4, 0}}},
        {"4/4, a rest before a note is not dotted", 4, 2, {{4, 4, C5}, {8, 8, C5}}, {{0, 4, 0}}},
        // Quarter rests at 4 and 8, an eighth rest at 12. The walk passes
        // over one and a half quarters after the first quarter rest, so the
        // second quarter rest never pairs with the eighth.
        {"4/4, the walk skips half a value after an unpaired rest",
         4,
         2,
         {{0, 4, C5}, {14, 2, C5}},
         {{4, 4, 0}, {8, 4, 0}, {12, 8, 0}}},
        // A sixteenth at 1 leaves a sixteenth rest at 0, which pairs with
        // nothing: a note follows it.
        {"4/4, a sixteenth off the beat", 4, 2, {{1, 15, C5}}, {{0, 16, 0}}},
        // 2/4: after a sixteenth, rests of a sixteenth, an eighth and a
        // quarter; the sixteenth and the eighth become a dotted eighth and
        // the walk goes on at 4.
        {"2/4, a sixteenth at the bar line", 2, 2, {{0, 1, C5}}, {{1, 8, 1}, {4, 4, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedMidi midi(FileOf(c.notes, c.numerator, c.exponent));
        ScopedTrack track(midi.get(), 0, 16, 0, 'O');
        const SMeasure* m = track->pFirstMeasure;
        ASSERT_EQ(m->bVoices, 1);
        EXPECT_EQ(RestsOfVoice(m, 0), c.rests);
        ExpectVoiceFilled(m, 0);
    }
}

// Before dotting, a dotted rest's second part is a plain rest of its own; the
// merge clears its value and its step.
TEST(RestValues, TheSecondPartOfADottedRestDisappears) {
    ScopedMidi midi(FileOf({{0, 2, C5}}));
    ScopedTrack before(midi.get(), 0, 16, 0, 'N');
    EXPECT_EQ(RestsOfVoice(before->pFirstMeasure, 0), (std::vector<RestAt>{{2, 8, 0}, {4, 4, 0}, {8, 2, 0}}));
    EXPECT_EQ(ChordAt(before->pFirstMeasure, 4, 0)->bRestStep, 6);

    ScopedTrack after(midi.get(), 0, 16, 0, 'O');
    const SMeasure* m = after->pFirstMeasure;
    EXPECT_EQ(ChordAt(m, 4, 0)->bValue, 0);
    EXPECT_EQ(ChordAt(m, 4, 0)->bRestStep, 0);
    // The dotted rest keeps the step of its first part.
    EXPECT_EQ(ChordAt(m, 2, 0)->bRestStep, 6);
    EXPECT_EQ(ChordAt(m, 8, 0)->bRestStep, 6);
}

// Stage L notes the sections where it starts a rest, one bit each, and
// those where a second voice starts one too; the later stages read them back
// in order, across the words of 64 sections.
TEST(RestStarts, ReadBackInOrder) {
    std::vector<std::vector<uint32_t>> cases = {
        {}, {0}, {63}, {64}, {255}, {1, 2, 62, 63, 64, 65, 127, 128, 191, 192, 254, 255}, {}};
    for (uint32_t k = 0; k < 256; ++k) cases.back().push_back(k);
    for (uint32_t k = 0; k < 256; k += 37) cases.push_back({k});
    for (const std::vector<uint32_t>& starts : cases) {
        SCOPED_TRACE(testing::Message() << starts.size() << " starts, the first " << (starts.empty() ? -1 : int(starts[0])));
        SRestStarts rests = {};
        rests.nWords = SetWords(255);
        // Every start noted once, the even ones a second time: those are
        // where rests meet.
        std::vector<uint32_t> meet, firstWord;
        for (uint32_t k : starts) AddToSetNotingRepeats(rests.aqStarts, rests.aqMeet, k);
        for (uint32_t k : starts) {
            if (k % 2 == 0) {
                AddToSetNotingRepeats(rests.aqStarts, rests.aqMeet, k);
                meet.push_back(k);
            }
            if (k < 64) firstWord.push_back(k);
        }
        std::vector<uint32_t> read, readMeet, readFirstWord;
        ForEachInSet(rests.aqStarts, rests.nWords, [&read](uint32_t k) { read.push_back(k); });
        EXPECT_EQ(read, starts);
        ForEachInSet(rests.aqMeet, rests.nWords, [&readMeet](uint32_t k) { readMeet.push_back(k); });
        EXPECT_EQ(readMeet, meet);
        EXPECT_EQ(AnyInSet(rests.aqMeet), !meet.empty());
        // A measure of at most 64 sections reads one word only, so what a
        // longer measure left in the others is never seen.
        ForEachInSet(rests.aqStarts, SetWords(64), [&readFirstWord](uint32_t k) { readFirstWord.push_back(k); });
        EXPECT_EQ(readFirstWord, firstWord);
    }
}

// ---- Stage M: shared rests -----------------------------------------------------------------

// Three voices start together at section 0: an eighth on step 7 (voice 0), a
// middle voice on step 3 (voice 1) and a sixteenth on step 0 (voice 2). Voices
// 0 and 2 then rest alike: eighth rests at 2, quarter rests at 4, half rests
// at 8. Whether the middle voice stands between them decides what is shared.
// Voice 1 a quarter, then another quarter at 4.
const std::vector<NoteAt> kQuarters = {{0, 2, C5}, {0, 4, F4}, {0, 1, C4}, {4, 4, F4}};
// Voice 1 a half held through sections 0 to 7.
const std::vector<NoteAt> kHalf = {{0, 2, C5}, {0, 8, F4}, {0, 1, C4}};
// Only the outer voices: an eighth on step 7 and a sixteenth on step 0.
const std::vector<NoteAt> kOuter = {{0, 2, C5}, {0, 1, C4}};

TEST(SharedRests, EqualRestsMergeUnlessSomethingOfAnotherValueStandsBetween) {
    struct Case {
        const char* what;
        std::vector<NoteAt> notes;
        uint32_t section;
        std::vector<int> values;  // bValue per voice at the section
        std::vector<int> shared;  // bSharedRest per voice
        double height;            // dPosition of voice 0 there
        std::vector<int> steps;   // bRestStep per voice
    };
    const std::vector<Case> cases = {
        // The held quarter of voice 1 (height 3, no value here) lies between.
        {"eighth rests around a held note", kQuarters, 2, {8, 0, 8}, {0, 0, 0}, 7.0, {9, 0, 3}},
        // A quarter note between quarter rests is no obstacle.
        {"quarter rests around a quarter note", kQuarters, 4, {4, 4, 0}, {1, 0, 0}, 3.5, {8, 0, 0}},
        // Three half rests: drawn once, at the mean of 7, 3 and 0.
        {"three half rests", kQuarters, 8, {2, 0, 0}, {1, 0, 0}, 10.0 / 3, {6, 0, 0}},
        {"quarter rests around a held half", kHalf, 4, {4, 0, 4}, {0, 0, 0}, 7.0, {9, 0, 3}},
        {"eighth rests with nothing between", kOuter, 2, {8, 0}, {1, 0}, 3.5, {6, 0}},
        {"quarter rests with nothing between", kOuter, 4, {4, 0}, {1, 0}, 3.5, {6, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedMidi midi(FileOf(c.notes));
        ScopedTrack track(midi.get(), 0, 16, 0, 'N');
        const SMeasure* m = track->pFirstMeasure;
        ASSERT_EQ(m->bVoices, c.values.size());
        for (size_t v = 0; v < c.values.size(); ++v) {
            SCOPED_TRACE(testing::Message() << "voice " << v);
            const SChord* chord = ChordAt(m, c.section, v);
            EXPECT_EQ(chord->bValue, c.values[v]);
            EXPECT_EQ(chord->bSharedRest, c.shared[v]);
            EXPECT_EQ(chord->bRestStep, c.steps[v]);
        }
        EXPECT_DOUBLE_EQ(ChordAt(m, c.section, 0)->dPosition, c.height);
    }
}

// A shared rest is never dotted, and no rest is dotted by taking in a shared
// one; rests of one voice alone still are.
TEST(SharedRests, SharedRestsStayUndotted) {
    struct Case {
        const char* what;
        std::vector<NoteAt> notes;
        std::vector<RestAt> upper;  // voice 0's rests after dotting
        std::vector<RestAt> lower;  // the last voice's rests
    };
    const std::vector<Case> cases = {
        // Voice 0's eighth rest at 2 is blocked, its quarter rest at 4
        // shared: the two stay apart. Voice 2's sixteenth rest at 1 and its
        // blocked eighth rest at 2 become a dotted eighth.
        {"a lone rest before a shared one", kQuarters, {{2, 8, 0}, {4, 4, 0}, {8, 2, 0}}, {{1, 8, 1}}},
        // Shared eighth and quarter rests; voice 1's sixteenth rest is followed
        // by nothing of its own.
        {"two shared rests", kOuter, {{2, 8, 0}, {4, 4, 0}, {8, 2, 0}}, {{1, 16, 0}}},
        // A sixteenth (step 7) over an eighth (step 0), then a quarter of the
        // lower voice at 4. The shared eighth rest at 2 is followed by voice
        // 0's own quarter rest at 4, and preceded by its sixteenth rest at 1:
        // it pairs with neither. The half rests at 8 are shared again.
        {"a shared rest between lone ones",
         {{0, 1, C5}, {0, 2, C4}, {4, 4, D4}},
         {{1, 16, 0}, {2, 8, 0}, {4, 4, 0}, {8, 2, 0}},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedMidi midi(FileOf(c.notes));
        ScopedTrack track(midi.get(), 0, 16, 0, 'O');
        const SMeasure* m = track->pFirstMeasure;
        EXPECT_EQ(RestsOfVoice(m, 0), c.upper);
        EXPECT_EQ(RestsOfVoice(m, m->bVoices - 1), c.lower);
    }
}

// Stage M on its own, over a hand-made section of four voices: a rest of
// voice 0 at height hc takes in the later rests of its value unless a chord
// of another value stands strictly between. Once a rest has taken another
// in, the later ones are still tested against its own height.
TEST(SharedRests, BlockingTestOverHandMadeVoices) {
    struct Entry {
        bool rest;
        int value;
        double height;
    };
    struct Case {
        const char* what;
        std::vector<Entry> voices;
        std::vector<int> absorbed;  // 1 for each voice taken into voice 0's rest
        double mean;                // voice 0's height afterwards
    };
    const std::vector<Case> cases = {
        {"nothing between", {{true, 4, 5}, {true, 4, 9}, {true, 4, 2}}, {0, 1, 1}, 16.0 / 3},
        {"an obstacle above blocks only the rest above it",
         {{true, 4, 5}, {false, 2, 7}, {true, 4, 9}, {true, 4, 6}},
         {0, 0, 0, 1},
         5.5},
        {"an obstacle at a rest's own height is not between",
         {{true, 4, 5}, {false, 2, 9}, {true, 4, 9}, {true, 4, 2}},
         {0, 0, 1, 1},
         16.0 / 3},
        // Voice 0's own height is 5: after taking in 9 the mean is 7, and the
        // chord at 5 would lie between 7 and 2, but not between 5 and 2.
        {"the first rest's own height after a merge",
         {{true, 4, 5}, {false, 2, 5}, {true, 4, 9}, {true, 4, 2}},
         {0, 0, 1, 1},
         16.0 / 3},
        {"a note of the rests' value is no obstacle",
         {{true, 4, 5}, {false, 4, 3}, {true, 4, 2}},
         {0, 0, 1},
         3.5},
        {"rests of another value are obstacles to each other",
         {{true, 4, 5}, {true, 8, 3}, {true, 4, 2}, {true, 8, 9}},
         {0, 0, 0, 0},
         5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Grid 8 in one 4/4 measure of 8 sections: a quarter spans two.
        const uint8_t kGrid = 8, kSections = 8;
        size_t n = c.voices.size();
        std::vector<std::vector<SChord>> voices(n, std::vector<SChord>(kSections));
        std::vector<SNote> notes(n);
        std::vector<SSection> sections(kSections);
        for (size_t v = 0; v < n; ++v) {
            for (size_t k = 0; k < kSections; ++k) {
                voices[v][k].dPosition = c.voices[v].height;
                voices[v][k].pNext = v + 1 < n ? &voices[v + 1][k] : nullptr;
            }
            voices[v][0].bValue = static_cast<uint8_t>(c.voices[v].value);
            if (!c.voices[v].rest) voices[v][0].pNotes = &notes[v];
        }
        for (size_t k = 0; k < kSections; ++k) {
            sections[k].pChords = &voices[0][k];
            sections[k].pNext = k + 1 < kSections ? &sections[k + 1] : nullptr;
        }
        SMeasure measure = {};
        measure.bVoices = static_cast<uint8_t>(n);
        measure.bSections = kSections;
        measure.pSections = sections.data();
        STrack track = {};
        track.bResolution = kGrid;
        track.pFirstMeasure = &measure;
        SBuildContext context = {nullptr, &track, kGrid, 0};
        RunStages(context, 'M', 'M');

        bool anyAbsorbed = false;
        for (size_t v = 1; v < n; ++v) {
            SCOPED_TRACE(testing::Message() << "voice " << v);
            if (!c.voices[v].rest) continue;
            EXPECT_EQ(voices[v][0].bValue == 0, c.absorbed[v] == 1);
            if (c.absorbed[v] == 1) {
                anyAbsorbed = true;
                // Absorbed over its whole length, so that the ranking passes it over.
                EXPECT_EQ(voices[v][0].bMark, 1);
                EXPECT_EQ(voices[v][1].bMark, 1);
                EXPECT_EQ(voices[v][2].bMark, 0);
            }
        }
        EXPECT_EQ(voices[0][0].bSharedRest, anyAbsorbed ? 1 : 0);
        EXPECT_DOUBLE_EQ(voices[0][0].dPosition, c.mean);
        // The shared rest's height stands on both of its sections.
        EXPECT_DOUBLE_EQ(voices[0][1].dPosition, c.mean);
    }
}

// ---- Stage N: rest steps ----------------------------------------------------------------------

// The chords of a section are ranked by height and the rests spread over the
// staff by rank: steps 6; 4 and 8; 3, 6 and 9. Whole and half rests take the
// even step below an odd one.
TEST(RestSteps, RankAmongTheVoicesOfTheSection) {
    struct Case {
        const char* what;
        uint8_t numerator;
        std::vector<NoteAt> notes;
        uint32_t section;
        size_t voice;
        int value;
        int step;
    };
    const std::vector<Case> cases = {
        {"one voice, an eighth rest", 4, {{0, 2, C5}}, 2, 0, 8, 6},
        // 8/4: a note at 16 leaves a whole rest at 0, alone in its voice.
        {"one voice, a whole rest", 8, {{16, 4, C5}}, 0, 0, 1, 6},
        // Voice 1's eighth ends at 2 below voice 0's held quarter.
        {"a rest below a held note", 4, {{0, 4, C5}, {0, 2, E4}}, 2, 1, 8, 4},
        // Voice 0's eighth ends at 2 above voice 1's held quarter.
        {"a rest above a held note", 4, {{0, 2, C5}, {0, 4, E4}}, 2, 0, 8, 8},
        // 8/4: voices 0 and 1 strike a whole and a half at 0 (steps 7 and 4);
        // voice 2 opens at 16 on step 1, so its first half measure is a whole
        // rest, at the bottom of three: step 3, taken down to 2.
        {"three entries, a whole rest at the bottom",
         8,
         {{0, 16, C5}, {0, 8, G4}, {16, 16, D5}, {16, 8, A4}, {16, 4, D4}},
         0,
         2,
         1,
         2},
        // In the same measure voice 1 rests a half at 8, ranked in the middle: 6.
        {"three entries, a half rest in the middle",
         8,
         {{0, 16, C5}, {0, 8, G4}, {16, 16, D5}, {16, 8, A4}, {16, 4, D4}},
         8,
         1,
         2,
         6},
        // A whole note of the middle voice (step 3) keeps the half rests of
        // the outer voices at 8 apart: steps 3 and 9 become 2 and 8.
        {"three entries, a half rest at the bottom", 4, {{0, 2, C5}, {0, 16, F4}, {0, 1, C4}}, 8, 2, 2, 2},
        {"three entries, a half rest at the top", 4, {{0, 2, C5}, {0, 16, F4}, {0, 1, C4}}, 8, 0, 2, 8},
        // Voice 0 beams eighths on steps 9 and 1 and then 5; voice 1 strikes a
        // sixteenth on step 5 and rests from section 1. At section 2 both
        // stand at 5: the stem-down rest ranks below the stem-up chord.
        {"equal heights, stem down first",
         4,
         {{0, 2, E5}, {0, 2, D4}, {0, 1, A4}, {2, 2, A4}},
         2,
         1,
         8,
         4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedMidi midi(FileOf(c.notes, c.numerator, 2));
        ScopedTrack track(midi.get(), 0, 16, 0, 'N');
        const SMeasure* m = track->pFirstMeasure;
        const SChord* chord = ChordAt(m, c.section, c.voice);
        ASSERT_NE(chord, nullptr);
        EXPECT_EQ(chord->pNotes, nullptr);
        EXPECT_EQ(chord->bValue, c.value);
        EXPECT_EQ(chord->bRestStep, c.step);
    }
}

}  // namespace
