// Stage F: which voice each note joins, and how a voice's previous chord is
// stretched or cut to meet the next one.
#include "../support/test_support.h"

#include <sstream>

#include "../../notation/notation.h"
#include "../../platform/fault_injection.h"
#include "../../platform/platform.h"

namespace {

struct TestNote {
    uint32_t tick, length;
    uint8_t key;
};

// The voices of a measure, one group per voice ("|" between them), each chord
// that starts a value as "section:value[pitches]", a dotted value with ".":
// "0:8.[60] 3:16[62] | 2:4[55]". Checks on the way that every section holds
// exactly one chord per voice.
std::string DescribeVoices(const SMeasure* measure) {
    std::ostringstream out;
    for (size_t v = 0; v < measure->bVoices; ++v) {
        if (v) out << " | ";
        bool first = true;
        for (size_t k = 0; k < measure->bSections; ++k) {
            SChord* chord = ChordAt(measure, k, v);
            if (!chord) return "missing chord at section " + std::to_string(k);
            if (chord->bValue == 0) {
                if (chord->pNotes) return "notes in a chord without value";
                continue;
            }
            if (!first) out << ' ';
            first = false;
            out << k << ':' << int(chord->bValue) << (chord->bDotted ? "." : "") << '[';
            std::vector<int> pitches = Pitches(Notes(chord));
            for (size_t i = 0; i < pitches.size(); ++i) out << (i ? " " : "") << pitches[i];
            out << ']';
        }
    }
    for (size_t k = 0; k < measure->bSections; ++k)
        if (Chords(SectionAt(measure, k)).size() != measure->bVoices) return "section with a wrong chord count";
    return out.str();
}

MidiFile FileOfTicks(const std::vector<TestNote>& notes) {
    MidiFile file;
    MidiTrack& music = file.AddTrack();
    for (const TestNote& n : notes) music.Note(n.tick, n.length, n.key);
    return file;
}

}  // namespace

TEST(AssignVoices, VoiceChoice) {
    struct Case {
        const char* what;
        uint8_t resolution;
        std::vector<TestNote> notes;
        const char* voices;
    } const cases[] = {
        {"same value joins, another value opens a voice", 16,
         {{0, kQuarter, 72}, {0, kQuarter, 67}, {0, kEighth, 60}},
         "0:4[72 67] | 0:8[60]"},
        {"gap 0: the next note follows in the same voice", 16,
         {{0, kQuarter, 60}, {4 * kSection, kQuarter, 62}},
         "0:4[60] 4:4[62]"},
        {"running by a quarter of a quarter: cut to a dotted eighth", 16,
         {{0, kQuarter, 60}, {3 * kSection, kSixteenth, 62}},
         "0:8.[60] 3:16[62]"},
        {"running by half of a dotted quarter: the dot goes", 16,
         {{0, kQuarter + kEighth, 60}, {4 * kSection, kQuarter, 62}},
         "0:4[60] 4:4[62]"},
        {"running by half a quarter does not qualify: a new voice", 16,
         {{0, kQuarter, 60}, {2 * kSection, kEighth, 62}},
         "0:4[60] | 2:8[62]"},
        {"gap after an eighth, span 3: stretched to a dotted eighth", 16,
         {{0, kEighth, 60}, {3 * kSection, kSixteenth, 62}},
         "0:8.[60] 3:16[62]"},
        {"gap after a sixteenth, span 2: stretched to an eighth", 16,
         {{0, kSixteenth, 60}, {2 * kSection, kEighth, 62}},
         "0:8[60] 2:8[62]"},
        {"span 4 would need a quarter: the eighth stays, the voice goes on", 16,
         {{0, kEighth, 60}, {4 * kSection, kQuarter, 62}},
         "0:8[60] 4:4[62]"},
        {"finer grid: span 6 of 32 stretches to a dotted eighth", 32,
         {{0, kEighth, 60}, {kEighth + kSixteenth, kSixteenth, 62}},
         "0:8.[60] 6:16[62]"},
        {"the voice with the smaller gap wins, even the higher-numbered one", 16,
         {{0, kEighth, 72}, {0, kEighth + kSixteenth, 60}, {4 * kSection, kQuarter, 64}},
         "0:8[72] | 0:8.[60] 4:4[64]"},
        {"equal gaps: the lower voice wins", 16,
         {{0, kQuarter, 72}, {2 * kSection, kEighth, 60}, {5 * kSection, kSixteenth, 64}},
         "0:4[72] 5:16[64] | 2:8[60]"},
        {"a voice whose chord here has another value is not usable", 16,
         {{0, kQuarter, 60}, {4 * kSection, kQuarter, 72}, {4 * kSection, kEighth, 67}},
         "0:4[60] 4:4[72] | 4:8[67]"},
        {"a voice whose chord here has the note's value takes it", 16,
         {{0, kQuarter, 60}, {4 * kSection, kQuarter, 72}, {4 * kSection, kQuarter, 67}},
         "0:4[60] 4:4[72 67]"},
        {"a cut voice then takes a second note of the same value", 16,
         {{0, kQuarter, 60}, {3 * kSection, kSixteenth, 72}, {3 * kSection, kSixteenth, 67}},
         "0:8.[60] 3:16[72 67]"},
        {"a stretched voice then takes a second note of the same value", 16,
         {{0, kSixteenth, 60}, {2 * kSection, kEighth, 72}, {2 * kSection, kEighth, 67}},
         "0:8[60] 2:8[72 67]"},
        {"a voice opened for one note takes the next of its value too", 16,
         {{0, kQuarter, 72}, {0, kEighth, 67}, {0, kEighth, 64}},
         "0:4[72] | 0:8[67 64]"},
        {"a note of another value between two equal ones: the chords interleave", 16,
         {{0, kQuarter, 72}, {0, kEighth, 67}, {0, kQuarter, 60}, {0, kEighth, 55}},
         "0:4[72 60] | 0:8[67 55]"},
        {"a quarter into a running voice: the voice's chord at j is empty, so it is usable", 16,
         {{0, kQuarter, 60}, {0, kHalf, 48}, {3 * kSection, kSixteenth, 64}},
         "0:8.[60] 3:16[64] | 0:2[48]"},
    };
    for (const Case& c : cases) {
        ScopedMidi midi(FileOfTicks(c.notes));
        ScopedTrack track(midi.get(), 0, c.resolution, 0, 'F');
        EXPECT_EQ(DescribeVoices(track->pFirstMeasure), c.voices) << c.what;
    }
}

// Cutting or stretching a chord rewrites the dot of its notes, not their
// values. The notes are copies; the raw notes stay in their section.
TEST(AssignVoices, NotesKeepTheirValueWhenTheChordChanges) {
    struct Case {
        uint32_t length, next;
        int chordValue, chordDotted, noteValue, noteDotted;
    } const cases[] = {
        {kQuarter, 3 * kSection, 8, 1, 4, 1},              // quarter cut to a dotted eighth
        {kQuarter + kEighth, 4 * kSection, 4, 0, 4, 0},    // dotted quarter cut to a quarter
        {kSixteenth, 2 * kSection, 8, 0, 16, 0},           // sixteenth stretched to an eighth
    };
    for (const Case& c : cases) {
        ScopedMidi midi(FileOfTicks({{0, c.length, 60}, {0, c.length, 64}, {c.next, kSixteenth, 62}}));
        ScopedTrack track(midi.get(), 0, 16, 0, 'F');
        SChord* chord = ChordAt(track->pFirstMeasure, 0, 0);
        EXPECT_EQ(chord->bValue, c.chordValue) << c.length;
        EXPECT_EQ(chord->bDotted, c.chordDotted) << c.length;
        auto notes = Notes(chord);
        ASSERT_EQ(Pitches(notes), (std::vector<int>{64, 60}));
        for (SNote* n : notes) {
            EXPECT_EQ(n->bValue, c.noteValue) << c.length;
            EXPECT_EQ(n->bDotted, c.noteDotted) << c.length;
        }
        EXPECT_NE(RawNotes(SectionAt(track->pFirstMeasure, 0)).at(0), notes[0]);
    }
}

// Voices belong to one measure: each bar starts again from none.
TEST(AssignVoices, EveryMeasureStartsWithoutVoices) {
    ScopedMidi midi(FileOfTicks({{0, kQuarter, 72}, {0, kEighth, 60}, {3 * kQuarter, kQuarter, 62},
                            {kWhole, kQuarter, 64}, {kWhole + 3 * kQuarter + kEighth, kEighth, 65}}));
    ScopedTrack track(midi.get(), 0, 16, 0, 'F');
    auto measures = Measures(track.get());
    ASSERT_EQ(measures.size(), 2u);
    EXPECT_EQ(DescribeVoices(measures[0]), "0:4[72] 12:4[62] | 0:8[60]");
    // The quarter at 0 has ended long before section 14: the gap stays open
    // (span 14 makes no value) and the eighth still follows in voice 0.
    EXPECT_EQ(DescribeVoices(measures[1]), "0:4[64] 14:8[65]");
}

// The voice count is eight bits: once a measure has 255 voices, a note that
// would open another is left out of the score. The notes are put straight
// into the first section with made-up values, 300 pairs of value and dot that
// all differ, so each would need a voice of its own.
TEST(AssignVoices, AtMost255VoicesPerMeasure) {
    MidiFile file;
    file.AddTrack().Note(kHalf, kQuarter, 60);
    ScopedMidi midi(file);
    ScopedTrack track(midi.get(), 0, 16, 0, 'E');
    SMeasure* measure = track->pFirstMeasure;
    SSection* first = SectionAt(measure, 0);
    SNote** tail = &first->pRawNotes;
    for (int i = 0; i < 300; ++i) tail = AppendPlacedNote(tail, 70, static_cast<uint8_t>(1 + i / 2), i % 2, 0, 0);

    RunStages(SBuildContext{midi.get(), track.get(), 16, 0}, 'F', 'F');
    EXPECT_EQ(measure->bVoices, 255);
    for (size_t k = 0; k < measure->bSections; ++k)
        EXPECT_EQ(Chords(SectionAt(measure, k)).size(), 255u) << "section " << k;
    size_t placed = 0;
    for (SChord* chord : Chords(first)) placed += Notes(chord).size();
    EXPECT_EQ(placed, 255u);
    // The notes left out are gone from the placed notes as well.
    EXPECT_EQ(RawNotes(first).size(), 255u);
    // A full measure still continues its voices: the quarter at the half
    // follows the half note of voice 2, which ends right there.
    EXPECT_EQ(Pitches(Notes(ChordAt(measure, 8, 2))), (std::vector<int>{60}));
}

// Stage F lists the chords it gives notes for the stages after it: the same
// chords, in the same order (voice after voice, by section within a voice),
// as a look at every chord of every voice finds.
TEST(AssignVoices, ListsTheChordsItGivesNotes) {
    struct Case {
        const char* what;
        uint8_t resolution;
        std::vector<TestNote> notes;
    } const cases[] = {
        {"three voices that start and stop apart, a measure without notes", 16,
         {{0, kQuarter, 72}, {0, kEighth, 60}, {kEighth, kHalf, 55}, {3 * kSection, kSixteenth, 74},
          {kHalf, kQuarter, 62}, {kHalf + kQuarter, kQuarter, 64}, {kHalf + kQuarter, kQuarter, 67},
          {2 * kWhole, kWhole, 48}}},
        {"runs of sixty-fourths on the finest grid, the last section included", 64,
         {{0, kWhole / 64, 60}, {kWhole / 64, kWhole / 64, 62}, {kHalf, kWhole / 32, 70},
          {kWhole - kWhole / 64, kWhole / 64, 50}, {kWhole - kWhole / 64, kWhole / 64, 40}}},
    };
    for (const Case& c : cases) {
        ScopedMidi midi(FileOfTicks(c.notes));
        ScopedTrack track(midi.get(), 0, c.resolution, 0, 'E');
        SSpans spans;
        for (uint32_t b = 0; b < 256; ++b)
            for (uint8_t dotted : {0, 1})
                spans.abSpan[b][dotted] =
                    static_cast<uint8_t>(ChordSpan(c.resolution, static_cast<uint8_t>(b), dotted));
        SBuildContext context = {midi.get(), track.get(), c.resolution, 0};
        context.pSpans = &spans;
        for (SMeasure* measure : Measures(track.get())) {
            SPlacedSections placed;
            SMeasureIndex voicing = {}, looking = {};
            ListPlacedSections(measure, placed);
            voicing.pPlaced = &placed;
            CountPlacedNotes(measure, voicing);
            AssignVoices(context, measure, voicing);
            ListSoundingChords(measure, looking);
            const SSoundingChords& listed = voicing.sounding;
            const SSoundingChords& found = looking.sounding;
            ASSERT_EQ(listed.nVoices, found.nVoices) << c.what;
            for (uint32_t v = 0; v < found.nVoices; ++v) {
                EXPECT_EQ(listed.apVoice[v], found.apVoice[v]) << c.what << ", voice " << v;
                EXPECT_EQ(listed.anVoiceStart[v], found.anVoiceStart[v]) << c.what << ", voice " << v;
            }
            uint32_t nChords = found.anVoiceStart[found.nVoices];
            ASSERT_EQ(listed.anVoiceStart[listed.nVoices], nChords) << c.what;
            for (uint32_t i = 0; i < nChords; ++i) EXPECT_EQ(listed.apChords[i], found.apChords[i]) << c.what;
            PlatformDestroyHeap(voicing.hHeap);
            PlatformDestroyHeap(looking.hHeap);
        }
    }
}

TEST(AssignVoices, AllocationFailureIsReported) {
    ScopedMidi midi(FileOfTicks({{0, kQuarter, 60}, {0, kEighth, 64}}));
    ScopedTrack track(midi.get(), 0, 16, 0, 'E');
    PlatformFailAfter(0);
    int id = ErrorIdOf([&] { RunStages(SBuildContext{midi.get(), track.get(), 16, 0}, 'F', 'F'); });
    PlatformStopFailing();
    EXPECT_EQ(id, 267);
}
