// Section compaction (each measure thinned to the coarsest grid it needs)
// and the final pass over the chords that remain.
#include <string>
#include <vector>

#include "../support/test_support.h"

namespace {

struct Meter {
    uint32_t tick;
    uint8_t numerator;
    uint8_t denominatorExponent;
};

struct Tone {
    uint32_t tick;
    uint32_t length;
    uint8_t key;
};

// One music track on a conductor with the given meters (none: 4/4).
MidiFile OneTrack(const std::vector<Meter>& meters, const std::vector<Tone>& tones) {
    MidiFile file;
    for (const Meter& m : meters) file.Conductor().TimeSignature(m.tick, m.numerator, m.denominatorExponent);
    MidiTrack& track = file.AddTrack();
    for (const Tone& t : tones) track.Note(t.tick, t.length, t.key);
    return file;
}

// Array indices of the sections still linked in a measure.
std::vector<int> KeptIndices(const SMeasure* measure) {
    std::vector<int> indices;
    for (SSection* s : LinkedSections(measure)) indices.push_back(static_cast<int>(s - measure->pSections));
    return indices;
}

std::vector<int> Every(int stride, int sections) {
    std::vector<int> indices;
    for (int k = 0; k < sections; k += stride) indices.push_back(k);
    return indices;
}

struct CompactionCase {
    const char* name;
    std::vector<Meter> meters;
    std::vector<Tone> tones;
    unsigned char resolution;
    std::vector<std::vector<int>> kept;  // per measure, the array indices that stay linked
};

}  // namespace

TEST(Compaction, KeepsTheCoarsestGridEachMeasureNeeds) {
    const uint32_t Q = kQuarter, E = kEighth, S = kSixteenth, W = kWhole, H = kHalf;
    const std::vector<CompactionCase> cases = {
        {"4/4 quarters: stride 4", {}, {{0, Q, 60}, {Q, Q, 62}, {2 * Q, Q, 64}, {3 * Q, Q, 65}}, 16, {{0, 4, 8, 12}}},
        {"an eighth at section 2: stride 2",
         {},
         {{0, E, 60}, {E, E, 62}, {Q, Q, 64}, {2 * Q, H, 65}},
         16,
         {Every(2, 16)}},
        {"2/2 whole note: raised to the half-note beat", {{0, 2, 1}}, {{0, W, 60}}, 16, {{0, 8}}},
        {"a sixteenth at an odd section keeps every section",
         {},
         {{0, Q, 60}, {Q + S, S, 62}, {2 * Q, H, 64}},
         16,
         {Every(1, 16)}},
        {"a rest at an odd section keeps every section", {}, {{0, S, 60}}, 16, {Every(1, 16)}},
        {"6/8 dotted quarters: stride 2", {{0, 6, 3}}, {{0, 3 * E, 60}, {3 * E, 3 * E, 62}}, 16, {Every(2, 12)}},
        {"a repeated meter keeps the beat of the last one named",
         {{0, 2, 1}},
         {{0, W, 60}, {W, W, 62}},
         16,
         {{0, 8}, {0, 8}}},
        {"a repeated 3/8 after a change keeps eighths",
         {{0, 4, 2}, {W, 3, 3}},
         {{0, W, 60}, {W, 3 * E, 62}, {W + 3 * E, 3 * E, 64}},
         16,
         {{0, 4, 8, 12}, {0, 2, 4}, {0, 2, 4}}},
        {"3/4 quarters at resolution 64: stride 16",
         {{0, 3, 2}},
         {{0, Q, 60}, {Q, Q, 62}, {2 * Q, Q, 64}},
         64,
         {{0, 16, 32}}},
        {"resolution 4 in 4/4 needs every section", {}, {{0, H, 60}, {H, H, 62}}, 4, {{0, 1, 2, 3}}},
        {"a 64th at resolution 64 keeps all 64", {}, {{0, Q, 60}, {Q + S / 4, S / 4, 62}}, 64, {Every(1, 64)}},
        {"a measure without notes keeps its beats",
         {},
         {{0, W, 60}, {2 * W, W, 62}},
         16,
         {{0, 4, 8, 12}, {0, 4, 8, 12}, {0, 4, 8, 12}}},
        {"a half tied over the bar line from beat 4",
         {},
         {{3 * Q, H, 60}, {W + Q, 3 * Q, 62}},
         16,
         {{0, 4, 8, 12}, {0, 4, 8, 12}}},
    };
    for (const CompactionCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedMidi midi(OneTrack(c.meters, c.tones));
        ScopedTrack track(midi.get(), 0, c.resolution, 0, 'P');
        std::vector<SMeasure*> measures = Measures(track.get());
        ASSERT_EQ(measures.size(), c.kept.size());
        const uint32_t sectionTicks = 4 * midi->wDivision / c.resolution;
        for (size_t i = 0; i < measures.size(); ++i) {
            SCOPED_TRACE("measure " + std::to_string(i));
            EXPECT_EQ(KeptIndices(measures[i]), c.kept[i]);
            EXPECT_EQ(measures[i]->bSections, c.kept[i].size());
            // A kept section keeps its own start.
            for (SSection* s : LinkedSections(measures[i]))
                EXPECT_EQ(s->dwTime, measures[i]->dwTime + (s - measures[i]->pSections) * sectionTicks);
        }
    }
}

TEST(Compaction, LeavesTheTrackSectionCountAlone) {
    // Two loads: parsing the last track lengthens it in the loaded copy.
    const MidiFile file = OneTrack({}, {{0, kWhole, 60}, {kWhole, kHalf, 62}});
    ScopedMidi first(file), second(file);
    ScopedTrack before(first.get(), 0, 16, 0, 'O');
    ScopedTrack after(second.get(), 0, 16, 0, 'P');
    EXPECT_EQ(after->nSections, before->nSections);
    EXPECT_EQ(after->nMeasures, before->nMeasures);
}

TEST(FinalPass, ValueExponents) {
    struct Case {
        const char* name;
        uint32_t length;  // ticks of a note at the start of the measure
        int value;
        int dotted;
        int exponent;
    };
    const std::vector<Case> cases = {
        {"whole", kWhole, 1, 0, 0},
        {"half", kHalf, 2, 0, 1},
        {"quarter", kQuarter, 4, 0, 2},
        {"eighth", kEighth, 8, 0, 3},
        {"sixteenth", kSixteenth, 16, 0, 4},
        {"32nd", kSixteenth / 2, 32, 0, 5},
        {"64th", kSixteenth / 4, 64, 0, 6},
        {"dotted quarter", 3 * kEighth, 4, 1, 2},
        {"dotted half", 3 * kQuarter, 2, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedMidi midi(OneTrack({}, {{0, c.length, 60}}));
        ScopedTrack track(midi.get(), 0, 64, 0, 'Q');
        SChord* chord = ChordAt(track->pFirstMeasure, 0, 0);
        ASSERT_NE(chord, nullptr);
        EXPECT_EQ(chord->bValue, c.value);
        EXPECT_EQ(chord->bDotted, c.dotted);
        EXPECT_EQ(chord->bValueLog2, c.exponent);
        // The rests that fill the measure get their exponents too; where
        // nothing starts the exponent stays 0.
        for (SSection* s : LinkedSections(track->pFirstMeasure))
            for (SChord* other : Chords(s)) EXPECT_EQ(1 << other->bValueLog2, other->bValue ? other->bValue : 1);
    }
}

TEST(FinalPass, EmptiesEveryPlacementList) {
    // Chords, a tie over the bar line and a meter change: every kind of
    // section that holds placed notes.
    MidiFile file;
    file.Conductor().TimeSignature(0, 3, 2).TimeSignature(3 * kQuarter, 6, 3);
    file.AddTrack()
        .Chord(0, kQuarter, {60, 64, 67})
        .Note(kQuarter, kHalf + kQuarter, 72)
        .Chord(4 * kQuarter, 3 * kEighth, {48, 55})
        .Note(4 * kQuarter + kEighth, kSixteenth, 79);
    ScopedMidi midi(file);

    ScopedTrack placed(midi.get(), 0, 16, 0, 'P');
    size_t placedNotes = 0;
    for (SMeasure* m : Measures(placed.get()))
        for (SSection* s : LinkedSections(m)) placedNotes += RawNotes(s).size();
    ASSERT_GT(placedNotes, 0u) << "the lists must hold notes before the final pass";

    ScopedTrack finished(midi.get(), 0, 16, 0, 'Q');
    size_t chordNotes = 0;
    for (SMeasure* m : Measures(finished.get())) {
        for (SSection* s : LinkedSections(m)) {
            EXPECT_EQ(s->pRawNotes, nullptr);
            for (SChord* c : Chords(s)) chordNotes += Notes(c).size();
        }
    }
    EXPECT_EQ(chordNotes, placedNotes) << "the chords keep their own copies";
}

TEST(FinalPass, PutsEveryChordInStemOrder) {
    // Chords in a later measure and a later voice than the first: the pass
    // must reach every chord of every kept section.
    struct Case {
        const char* name;
        std::vector<uint8_t> keys;
        std::vector<int> order;  // pitches in list order after the pass
    };
    const std::vector<Case> cases = {
        {"low chord, stem up: lowest first", {60, 64, 67}, {60, 64, 67}},
        {"high chord, stem down: highest first", {79, 83, 86}, {86, 83, 79}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MidiFile file;
        MidiTrack& track = file.AddTrack();
        track.Note(0, kWhole, 72);
        track.Note(kWhole, kHalf, 72);
        track.Chord(kWhole + kHalf, kQuarter, {c.keys[0], c.keys[1], c.keys[2]});
        track.Note(kWhole + kHalf + kQuarter, kQuarter, 72);
        ScopedMidi midi(file);
        ScopedTrack parsed(midi.get(), 0, 16, 0, 'Q');
        std::vector<SMeasure*> measures = Measures(parsed.get());
        ASSERT_EQ(measures.size(), 2u);
        SChord* chord = ChordAt(measures[1], 8, 0);
        ASSERT_NE(chord, nullptr);
        std::vector<SNote*> notes = Notes(chord);
        EXPECT_EQ(Pitches(notes), c.order);
        for (size_t i = 0; i < notes.size(); ++i) EXPECT_EQ(notes[i]->pPrev, i ? notes[i - 1] : nullptr);
    }
}
