// Stages D and E: how pitches are written as staff steps and accidentals,
// key-signature glyphs, meter and tempo shown only where they change, the
// two-notes-per-step limit and the descending pitch order of a section.
#include "../support/test_support.h"

#include <iterator>
#include <sstream>

#include "../../notation/pitch_spelling.h"
#include "../../platform/fault_injection.h"

namespace {

// The pitch a spelling stands for: the letter's natural pitch plus its alteration.
int PitchOfSpelling(int step, int alteration) {
    static const int kLetterPitch[7] = {0, 2, 4, 5, 7, 9, 11};  // C D E F G A B
    static const int kAlterationShift[5] = {0, +1, -1, +2, -2};
    int octave = step >= 0 ? step / 7 : (step - 6) / 7;
    return 60 + 12 * octave + kLetterPitch[step - 7 * octave] + kAlterationShift[alteration];
}

SBuildContext ContextOf(const ScopedMidi& midi, const ScopedTrack& track) {
    return SBuildContext{midi.get(), track.get(), track->bResolution, 0};
}

// Every measure's key-signature glyphs: "#10 #7", "b6", "n10 n7 n11", "" for none.
std::vector<std::string> GlyphLists(const STrack* track) {
    std::vector<std::string> lists;
    for (SMeasure* m : Measures(track)) {
        std::ostringstream out;
        for (SKeyAccidental* g = m->pKeyAccidentals; g; g = g->pNext) {
            if (g != m->pKeyAccidentals) out << ' ';
            out << (g->nKind == 1 ? "#" : g->nKind == 2 ? "b" : g->nKind == 5 ? "n" : "?") << int(g->bPosition);
        }
        lists.push_back(out.str());
    }
    return lists;
}

// The raw notes of the track in time order.
std::vector<SNote*> RawNotesInOrder(const STrack* track) {
    std::vector<SNote*> notes;
    for (SMeasure* m : Measures(track))
        for (size_t k = 0; k < m->bSections; ++k)
            for (SNote* n : RawNotes(SectionAt(m, k))) notes.push_back(n);
    return notes;
}

}  // namespace

// ---- The pitch table ------------------------------------------------------------------

// A second transcription of the table, one string per key, "step/alteration"
// for pitch classes 0..11, compared entry by entry with the library's.
TEST(PitchTable, MatchesSecondTranscription) {
    static const char* const kRows[15] = {
        "1/4 1/2 2/4 2/2 3/2 3/0 4/2 4/0 5/2 6/4 6/2 7/2",     // -7
        "0/0 1/2 1/0 2/2 3/2 3/0 4/2 5/4 5/2 6/4 6/2 7/2",     // -6
        "0/0 1/2 2/4 2/2 3/2 3/0 4/2 4/0 5/2 5/0 6/2 7/2",     // -5
        "0/0 1/2 1/0 2/2 2/0 3/0 4/2 4/0 5/2 6/4 6/2 7/2",     // -4
        "0/0 1/2 1/0 2/2 3/2 3/0 4/2 4/0 5/2 5/0 6/2 6/0",     // -3
        "0/0 1/2 1/0 2/2 2/0 3/0 3/1 4/0 5/2 5/0 6/2 7/2",     // -2
        "0/0 0/1 1/0 2/2 2/0 3/0 4/2 4/0 5/2 5/0 6/2 6/0",     // -1
        "0/0 1/2 1/0 2/2 2/0 3/0 3/1 4/0 4/1 5/0 6/2 6/0",     // 0
        "0/0 0/1 1/0 1/1 2/0 3/0 3/1 4/0 5/2 5/0 6/2 6/0",     // +1
        "0/0 0/1 1/0 2/2 2/0 3/0 3/1 4/0 4/1 5/0 5/1 6/0",     // +2
        "0/0 0/1 1/0 1/1 2/0 2/1 3/1 4/0 4/1 5/0 6/2 6/0",     // +3
        "-1/1 0/1 1/0 1/1 2/0 3/0 3/1 4/0 4/1 5/0 5/1 6/0",    // +4
        "0/0 0/1 1/0 1/1 2/0 2/1 3/1 3/3 4/1 5/0 5/1 6/0",     // +5
        "-1/1 0/1 0/3 1/1 2/0 2/1 3/1 4/0 4/1 5/0 5/1 6/0",    // +6
        "-1/1 0/1 1/0 1/1 2/0 2/1 3/1 3/3 4/1 4/3 5/1 6/0",    // +7
    };
    for (int row = 0; row < 15; ++row) {
        std::istringstream in(kRows[row]);
        for (int pc = 0; pc < 12; ++pc) {
            int step = 99, alteration = 99;
            char slash = 0;
            ASSERT_TRUE(in >> step >> slash >> alteration) << "row " << row - 7;
            EXPECT_EQ(g_aKeyPitchSteps[row][pc].cStep, step) << "key " << row - 7 << " class " << pc;
            EXPECT_EQ(g_aKeyPitchSteps[row][pc].nAlteration, alteration) << "key " << row - 7 << " class " << pc;
        }
    }
}

// Every pitch a transposed note can have, in every key (and in keys outside
// -7..7, which are taken back into range), is written as a letter and an
// alteration that together sound that pitch, on a step the accidental
// memory covers.
TEST(SpellPitch, EveryPitchSoundsAsWritten) {
    for (int key = -128; key <= 127; ++key) {
        for (int pitch = 0; pitch <= 255; ++pitch) {
            SNote note = {};
            int alteration = SpellPitch(static_cast<uint8_t>(pitch), static_cast<int8_t>(key), &note);
            ASSERT_GE(alteration, 0);
            ASSERT_LE(alteration, 4);
            ASSERT_GE(note.cStep, -36) << "key " << key << " pitch " << pitch;
            ASSERT_LE(note.cStep, 114) << "key " << key << " pitch " << pitch;
            ASSERT_EQ(PitchOfSpelling(note.cStep, alteration), pitch) << "key " << key << " pitch " << pitch;
        }
    }
}

// ---- Meter, tempo and key shown only where they change -----------------------------------

// Each measure gets a time signature and a tempo (quarters per minute) at its
// start; the expected pairs and tempi are what the measures show afterwards.
TEST(SpellPitches, MeterAndTempoShownOnlyWhereTheyChange) {
    struct Measure {
        int numerator, denominator, bpm;
    };
    struct Case {
        std::vector<Measure> given, shown;
    } const cases[] = {
        {{{3, 4, 120}, {3, 4, 120}, {3, 8, 90}, {3, 8, 90}}, {{3, 4, 120}, {0, 0, 0}, {3, 8, 90}, {0, 0, 0}}},
        {{{4, 4, 90}, {3, 4, 120}, {4, 4, 120}}, {{4, 4, 90}, {3, 4, 120}, {4, 4, 0}}},
        {{{2, 4, 120}, {4, 8, 120}, {2, 4, 90}}, {{2, 4, 120}, {4, 8, 0}, {2, 4, 90}}},  // same length, other meter
    };
    for (const Case& c : cases) {
        MidiFile file;
        MidiTrack& music = file.AddTrack();
        uint32_t tick = 0;
        for (const Measure& m : c.given) {
            uint8_t exponent = 0;
            while ((1 << exponent) < m.denominator) ++exponent;
            file.Conductor().TimeSignature(tick, static_cast<uint8_t>(m.numerator), exponent);
            file.Conductor().Tempo(tick, static_cast<uint32_t>(60000000 / m.bpm));
            music.Note(tick, kSixteenth, 60);
            tick += static_cast<uint32_t>(m.numerator * kWhole / m.denominator);
        }
        ScopedMidi midi(file);
        ScopedTrack track(midi.get(), 0, 16, 0, 'D');
        auto measures = Measures(track.get());
        ASSERT_EQ(measures.size(), c.shown.size());
        for (size_t i = 0; i < measures.size(); ++i) {
            EXPECT_EQ(measures[i]->bNumerator, c.shown[i].numerator) << "measure " << i;
            EXPECT_EQ(measures[i]->bDenominator, c.shown[i].denominator) << "measure " << i;
            EXPECT_EQ(measures[i]->wTempo, c.shown[i].bpm) << "measure " << i;
        }
    }
}

TEST(SpellPitches, KeySignatureGlyphsWhereTheKeyChanges) {
    struct Case {
        std::vector<int> keys;   // one key per measure
        std::vector<std::string> glyphs;
    } const cases[] = {
        {{0}, {""}},
        {{-3}, {"b6 b9 b5"}},
        {{3, 0}, {"#10 #7 #11", "n10 n7 n11"}},
        {{-2, 0}, {"b6 b9", "n6 n9"}},
        {{2, -1}, {"#10 #7", "b6"}},   // no naturals between two non-zero keys
        {{0, 0}, {"", ""}},
        {{1, 1, 0}, {"#10", "", "n10"}},   // cancels the key in force, not the last list
        {{7}, {"#10 #7 #11 #8 #5 #9 #6"}},
        {{-7}, {"b6 b9 b5 b8 b4 b7 b3"}},
        {{0, -1, -1, 4}, {"", "b6", "", "#10 #7 #11 #8"}},
    };
    for (const Case& c : cases) {
        MidiFile file;
        MidiTrack& music = file.AddTrack();
        for (size_t i = 0; i < c.keys.size(); ++i) {
            file.Conductor().KeySignature(static_cast<uint32_t>(i * kWhole), static_cast<int8_t>(c.keys[i]));
            music.Note(static_cast<uint32_t>(i * kWhole), kQuarter, 60);
        }
        ScopedMidi midi(file);
        ScopedTrack track(midi.get(), 0, 16, 0, 'D');
        EXPECT_EQ(GlyphLists(track.get()), c.glyphs) << "first key " << c.keys[0];
        auto measures = Measures(track.get());
        for (size_t i = 0; i < measures.size(); ++i) EXPECT_EQ(measures[i]->cKey, c.keys[i]) << "key is never blanked";
    }
}

// ---- Accidentals ----------------------------------------------------------------------------

// One note per quarter, four to a 4/4 measure; each measure may set a key.
// An accidental holds for its staff step to the end of the measure (across
// sections, not across octaves); the bar line restores the key signature.
TEST(SpellPitches, AccidentalMemory) {
    struct Case {
        std::vector<int> keys;          // key of each measure
        std::vector<int> pitches;       // one per quarter
        std::vector<int> accidentals;   // printed, per note
        std::vector<int> steps;
        const char* what;
    } const cases[] = {
        {{1, 1}, {66, 65, 66, 78, 77}, {0, 5, 1, 0, 5}, {3, 3, 3, 10, 10},
         "G major: F sharp silent, F natural, F sharp again, other octave; bar line"},
        {{0, 0}, {61, 61, 62, 62, 61}, {2, 0, 5, 0, 2}, {1, 1, 1, 1, 1}, "D flat remembered, cancelled, reset"},
        {{4}, {60, 59}, {1, 5}, {-1, -1}, "B sharp is not in four sharps; then B natural"},
        {{-7}, {71, 72, 83}, {0, 4, 0}, {7, 8, 14}, "seven flats: C flat, D double flat, C flat higher"},
        {{5}, {67, 66}, {3, 1}, {3, 3}, "F double sharp over the key's F sharp, then F sharp"},
        {{3, 0}, {66, 66, 66, 66, 65, 66}, {0, 0, 0, 0, 0, 1}, {3, 3, 3, 3, 3, 3},
         "after a return to C major F is plain and F sharp prints"},
        {{-2, 0}, {68, 69, 68, 68, 68}, {2, 5, 2, 0, 1}, {5, 5, 5, 5, 4}, "A flat in two flats, A natural; G sharp in C"},
    };
    for (const Case& c : cases) {
        MidiFile file;
        MidiTrack& music = file.AddTrack();
        for (size_t i = 0; i < c.keys.size(); ++i)
            file.Conductor().KeySignature(static_cast<uint32_t>(i * kWhole), static_cast<int8_t>(c.keys[i]));
        for (size_t i = 0; i < c.pitches.size(); ++i)
            music.Note(static_cast<uint32_t>(i * kQuarter), kQuarter, static_cast<uint8_t>(c.pitches[i]));
        ScopedMidi midi(file);
        ScopedTrack track(midi.get(), 0, 16, 0, 'D');
        std::vector<int> accidentals, steps;
        for (SNote* n : RawNotesInOrder(track.get())) {
            accidentals.push_back(n->nAccidental);
            steps.push_back(n->cStep);
        }
        EXPECT_EQ(accidentals, c.accidentals) << c.what;
        EXPECT_EQ(steps, c.steps) << c.what;
    }
}

// The major scale of every key lies on seven consecutive steps and needs no
// accidental: the table's spellings agree with the key-signature glyphs.
TEST(SpellPitches, ScaleOfTheKeyPrintsNoAccidentals) {
    static const int kMajor[7] = {0, 2, 4, 5, 7, 9, 11};
    for (int key = -7; key <= 7; ++key) {
        int tonic = 60 + ((7 * key) % 12 + 12) % 12;
        MidiFile file;
        file.Conductor().KeySignature(0, static_cast<int8_t>(key));
        MidiTrack& music = file.AddTrack();
        for (int i = 0; i < 7; ++i)
            music.Note(static_cast<uint32_t>(i * kEighth), kEighth, static_cast<uint8_t>(tonic + kMajor[i]));
        ScopedMidi midi(file);
        ScopedTrack track(midi.get(), 0, 16, 0, 'D');
        auto notes = RawNotesInOrder(track.get());
        ASSERT_EQ(notes.size(), 7u) << "key " << key;
        for (int i = 0; i < 7; ++i) {
            EXPECT_EQ(notes[i]->nAccidental, 0) << "key " << key << " degree " << i + 1;
            EXPECT_EQ(notes[i]->cStep, notes[0]->cStep + i) << "key " << key << " degree " << i + 1;
        }
    }
}

// F (65), F sharp (66) and F again (65) start in one sixteenth slot (the
// second F restruck a few ticks later): all sit on step 3, and the third is
// dropped; the first two keep their accidentals.
TEST(SpellPitches, ThirdNoteOnOneStepIsDropped) {
    MidiFile file;
    file.AddTrack().Note(0, 4, 65).Note(0, kSixteenth, 66).Note(8, kSixteenth, 65).Chord(kQuarter, kQuarter, {65, 66});
    ScopedMidi midi(file);
    ScopedTrack track(midi.get(), 0, 16, 0, 'C');
    SMeasure* measure = track->pFirstMeasure;
    ASSERT_EQ(Pitches(RawNotes(SectionAt(measure, 0))), (std::vector<int>{65, 66, 65}));

    RunStages(ContextOf(midi, track), 'D', 'D');
    auto notes = RawNotes(SectionAt(measure, 0));
    EXPECT_EQ(Pitches(notes), (std::vector<int>{65, 66}));
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0]->nAccidental, 0);
    EXPECT_EQ(notes[1]->nAccidental, 1);
    // The next section counts afresh; the dropped F left the memory at F
    // sharp, so the F there needs a natural sign.
    auto later = RawNotes(SectionAt(measure, 4));
    ASSERT_EQ(Pitches(later), (std::vector<int>{65, 66}));
    EXPECT_EQ(later[0]->nAccidental, 5);
    EXPECT_EQ(later[1]->nAccidental, 1);
}

// ---- Stage E ------------------------------------------------------------------------------

// Notes put straight into sections 0, 4 and 8 (pitch and value, told apart by
// their values) come out of the exchange sort in the order given as text.
TEST(SortSectionNotes, DescendingInExchangeOrder) {
    struct Case {
        std::vector<std::pair<int, int>> given;   // pitch, value
        const char* sorted;
        const char* what;
    } const cases[] = {
        {{{60, 4}, {67, 8}, {64, 16}}, "67/8 64/16 60/4", "highest pitch first"},
        {{{5, 16}, {5, 8}, {7, 4}}, "7/4 5/8 5/16", "not stable: P Q R with P, Q equal ends R Q P"},
        {{{5, 16}, {5, 8}}, "5/16 5/8", "equal pitches alone are never exchanged"},
    };
    MidiFile file;
    file.AddTrack().Note(kWhole - kSixteenth, kSixteenth, 40);
    ScopedMidi midi(file);
    ScopedTrack track(midi.get(), 0, 16, 0, 'D');
    SMeasure* measure = track->pFirstMeasure;
    for (size_t i = 0; i < std::size(cases); ++i) {
        SNote** tail = &SectionAt(measure, 4 * i)->pRawNotes;
        for (auto [pitch, value] : cases[i].given)  // dot and ties told by the pitch, to follow it
            tail = AppendPlacedNote(tail, static_cast<uint8_t>(pitch), static_cast<uint8_t>(value), pitch & 1,
                                    (pitch >> 1) & 1, (pitch >> 2) & 1);
    }
    SNote* firstNode = SectionAt(measure, 0)->pRawNotes;

    RunStages(ContextOf(midi, track), 'E', 'E');
    for (size_t i = 0; i < std::size(cases); ++i) {
        std::ostringstream out;
        for (SNote* n : RawNotes(SectionAt(measure, 4 * i))) {
            out << (out.tellp() ? " " : "") << int(n->bPitch) << '/' << int(n->bValue);
            EXPECT_EQ(n->bDotted + 2 * n->bTieIn + 4 * n->bTieOut, n->bPitch & 7) << "dot and ties move along";
        }
        EXPECT_EQ(out.str(), cases[i].sorted) << cases[i].what;
    }
    EXPECT_EQ(SectionAt(measure, 0)->pRawNotes, firstNode) << "contents move, nodes stay";
}

// ---- Allocation failures ------------------------------------------------------------------

TEST(PitchStages, AllocationFailureIsReported) {
    // D takes its accidental memory from the track; E sorts in place and
    // needs no memory at all.
    struct Case {
        char stage;
        int expectedId;
    } const cases[] = {{'D', 267}, {'E', 0}};
    for (const Case& c : cases) {
        MidiFile file;
        file.Conductor().KeySignature(0, 3);
        file.AddTrack().Chord(0, kQuarter, {60, 64, 67});
        ScopedMidi midi(file);
        ScopedTrack track(midi.get(), 0, 16, 0, 'C');
        PlatformFailAfter(0);
        int id = ErrorIdOf([&] { RunStages(ContextOf(midi, track), c.stage, c.stage); });
        PlatformStopFailing();
        EXPECT_EQ(id, c.expectedId) << "stage " << c.stage;
    }
}
