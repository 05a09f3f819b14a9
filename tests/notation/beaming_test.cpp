// Beaming: which consecutive short chords of a voice share a beam, by the
// group table of the meter, and the voice number written into every chord.
// Each input is one melodic line (so one voice) given in sections of the
// grid; the expected beams are drawn one character per section:
//   '.' nothing starts here   'o' a chord without beams
//   '[' beamed to the next    ']' beamed to the previous   '=' both
// and '|' separates measures.
#include "../support/test_support.h"

namespace {

// The beams of one voice over every measure of the track.
std::string BeamPicture(const STrack* track, size_t voice) {
    std::string picture;
    for (const SMeasure* m : Measures(track)) {
        if (!picture.empty()) picture += '|';
        for (uint32_t k = 0; k < m->bSections; ++k) {
            const SChord* c = ChordAt(m, k, voice);
            if (!c || !c->pNotes) {
                picture += '.';
                if (c && (c->bBeamPrev || c->bBeamNext)) picture += '!';  // a beam on an empty chord
            } else if (c->bBeamPrev && c->bBeamNext) {
                picture += '=';
            } else if (c->bBeamPrev) {
                picture += ']';
            } else if (c->bBeamNext) {
                picture += '[';
            } else {
                picture += 'o';
            }
        }
    }
    return picture;
}

std::string Repeat(const std::string& s, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += s;
    return out;
}

struct Note {
    uint32_t section;  // start, in sections of the grid from the start of the track
    uint32_t length;   // in sections
};

// Notes every `step` sections from `first` up to (not including) `end`, each `step` long.
std::vector<Note> Every(uint32_t first, uint32_t end, uint32_t step) {
    std::vector<Note> notes;
    for (uint32_t s = first; s < end; s += step) notes.push_back({s, step});
    return notes;
}

struct BeamCase {
    const char* what;
    uint8_t numerator, denominatorExponent;
    uint8_t resolution;
    uint32_t measures;  // the track lasts exactly this many measures
    std::vector<Note> notes;
    std::string beams;
};

// Parses one line of notes (key 72, a single voice) through beaming, and
// once more through stage H, whose walk over the notes links the beams
// itself when it follows stage G: the two must agree.
std::string BeamsOf(const BeamCase& c) {
    MidiFile file;
    file.Conductor().TimeSignature(0, c.numerator, c.denominatorExponent);
    MidiTrack& track = file.AddTrack();
    const uint32_t sectionTicks = kWhole / c.resolution;
    for (const Note& n : c.notes) track.Note(n.section * sectionTicks, n.length * sectionTicks, 72);
    const uint32_t measureTicks = c.numerator * kWhole / (1u << c.denominatorExponent);
    track.EndAt(c.measures * measureTicks);
    ScopedMidi midi(file);
    ScopedTrack parsed(midi.get(), 0, c.resolution, 0, 'G');
    ScopedTrack throughH(midi.get(), 0, c.resolution, 0, 'H');
    if (!parsed->pFirstMeasure) return "(no measures)";
    std::string beams = BeamPicture(parsed.get(), 0);
    std::string beamsThroughH = BeamPicture(throughH.get(), 0);
    return beams == beamsThroughH ? beams : beams + " (through stage H: " + beamsThroughH + ")";
}

TEST(Beaming, GroupsFollowTheMeter) {
    const BeamCase cases[] = {
        {"4/4 eighths: two groups of four", 4, 2, 16, 1, Every(0, 16, 2), "[.=.=.].[.=.=.]."},
        {"4/4 sixteenths: one group per quarter", 4, 2, 16, 1, Every(0, 16, 1), "[==][==][==][==]"},
        {"3/4 eighths: in pairs, one per beat", 3, 2, 16, 1, Every(0, 12, 2), "[.].[.].[.]."},
        {"3/4 sixteenths: one group per quarter", 3, 2, 16, 1, Every(0, 12, 1), "[==][==][==]"},
        {"6/8 eighths: two groups of three", 6, 3, 16, 1, Every(0, 12, 2), "[.=.].[.=.]."},
        {"6/8 sixteenths: six to a dotted quarter", 6, 3, 16, 1, Every(0, 12, 1), "[====][====]"},
        {"3/8 eighths: the whole measure", 3, 3, 16, 1, Every(0, 6, 2), "[.=.]."},
        {"3/8 sixteenths: in pairs", 3, 3, 16, 1, Every(0, 6, 1), "[][][]"},
        {"2/2 eighths: four to a half", 2, 1, 16, 1, Every(0, 16, 2), "[.=.=.].[.=.=.]."},
        {"2/2 sixteenths: eight to a half", 2, 1, 16, 1, Every(0, 16, 1), "[======][======]"},
        {"9/8 eighths: three to a dotted quarter", 9, 3, 16, 1, Every(0, 18, 2), "[.=.].[.=.].[.=.]."},
        {"5/8 eighths: in pairs, the fifth alone", 5, 3, 16, 1, Every(0, 10, 2), "[.].[.].o."},
        {"4/4 32nds: eight to a quarter", 4, 2, 32, 1, Every(0, 32, 1), Repeat("[======]", 4)},
        {"4/4 64ths: eight to an eighth", 4, 2, 64, 1, Every(0, 64, 1), Repeat("[======]", 8)},
        {"6/8 32nds: four to an eighth", 6, 3, 32, 1, Every(0, 24, 1), Repeat("[==]", 6)},
        {"2/2 32nds: eight to a quarter", 2, 1, 64, 1, Every(0, 64, 2), Repeat("[.=.=.=.=.=.=.].", 4)},
        {"2/2 64ths are never beamed", 2, 1, 64, 1, Every(0, 64, 1), Repeat("o", 64)},
        {"3/2 64ths are never beamed", 3, 1, 64, 1, Every(0, 32, 1), Repeat("o", 32) + Repeat(".", 64)},
        // Denominator 64: only the 32nd (half of d) and 64th (d) entries exist.
        {"6/64 64ths: in threes", 6, 6, 64, 1, Every(0, 6, 1), "[=][=]"},
        {"6/64 32nds: three to the measure", 6, 6, 64, 1, Every(0, 6, 2), "[.=.]."},
        {"3/64 64ths: three to the measure", 3, 6, 64, 1, Every(0, 3, 1), "[=]"},
    };
    for (const BeamCase& c : cases) EXPECT_EQ(BeamsOf(c), c.beams) << c.what;
}

TEST(Beaming, JoinsOnlyNeighboursWithinOneGroup) {
    const BeamCase cases[] = {
        // The later chord's group decides: an eighth after a sixteenth on the
        // second beat is still inside its half-note group.
        {"sixteenth then eighth over a beat", 4, 2, 16, 1, {{3, 1}, {4, 2}}, "...[]..........."},
        {"sixteenth then sixteenth over a beat", 4, 2, 16, 1, {{3, 1}, {4, 1}}, "...oo..........."},
        {"eighth then sixteenth over a beat", 4, 2, 16, 1, {{2, 2}, {4, 1}}, "..o.o..........."},
        {"eighths over the middle of the measure", 4, 2, 16, 1, {{6, 2}, {8, 2}}, "......o.o......."},
        // The distance test takes the plain value of the earlier chord.
        {"dotted eighth then sixteenth", 4, 2, 16, 1, {{0, 3}, {3, 1}}, "o..o............"},
        {"sixteenth then dotted eighth", 4, 2, 16, 1, {{4, 1}, {5, 3}}, "....[].........."},
        // Silences break beams.
        {"eighth, eighth rest, eighth", 4, 2, 16, 1, {{0, 2}, {4, 2}}, "o...o..........."},
        {"eighth, quarter rest, eighth", 4, 2, 16, 1, {{0, 2}, {6, 2}}, "o.....o........."},
        // Quarters and longer never carry beams.
        {"eighth then quarter", 4, 2, 16, 1, {{0, 2}, {2, 4}}, "o.o............."},
        {"quarter then eighth", 4, 2, 16, 1, {{0, 4}, {4, 2}}, "o...o..........."},
        {"two quarters", 4, 2, 16, 1, {{0, 4}, {4, 4}}, "o...o..........."},
        {"a lone eighth", 4, 2, 16, 1, {{8, 2}}, "........o......."},
    };
    for (const BeamCase& c : cases) EXPECT_EQ(BeamsOf(c), c.beams) << c.what;
}

// Voice assignment may lengthen a chord to close a short gap; beaming sees the
// lengthened chord.
TEST(Beaming, SeesChordsAsVoiceAssignmentLeftThem) {
    const BeamCase cases[] = {
        // A sixteenth followed by a sixteenth's silence becomes an eighth.
        {"sixteenth, gap, sixteenth", 4, 2, 16, 1, {{0, 1}, {2, 1}}, "[.]............."},
        // An eighth followed by a sixteenth's silence becomes a dotted eighth,
        // which is never beamed onward.
        {"eighth, short gap, eighth", 4, 2, 16, 1, {{0, 2}, {3, 2}}, "o..o............"},
    };
    for (const BeamCase& c : cases) EXPECT_EQ(BeamsOf(c), c.beams) << c.what;
}

TEST(Beaming, BarLinesAndRepeatedMeters) {
    const BeamCase cases[] = {
        {"no beam over the bar line", 4, 2, 16, 2, Every(12, 20, 2), "............[.].|[.]............."},
        {"no beam over the bar line in 3/8", 3, 3, 16, 2, Every(0, 12, 2), "[.=.].|[.=.]."},
        // After the first measure the meter fields are blank; the later
        // measures beam like their meter all the same.
        {"3/4 repeated", 3, 2, 16, 3, Every(0, 36, 2), Repeat("|[.].[.].[.].", 3).substr(1)},
        {"6/8 repeated", 6, 3, 16, 2, Every(0, 24, 2), "[.=.].[.=.].|[.=.].[.=.]."},
    };
    for (const BeamCase& c : cases) EXPECT_EQ(BeamsOf(c), c.beams) << c.what;
}

// 3/4 in the first measure, 4/4 from the second on: each measure beams by
// the meter in force, also where the meter is only repeated.
TEST(Beaming, MeterChangesTakeEffectAtTheirMeasure) {
    MidiFile file;
    file.Conductor().TimeSignature(0, 3, 2).TimeSignature(3 * kQuarter, 4, 2);
    MidiTrack& track = file.AddTrack();
    for (uint32_t t = 0; t < 3 * kQuarter + 2 * kWhole; t += kEighth) track.Note(t, kEighth, 72);
    track.EndAt(3 * kQuarter + 2 * kWhole);
    ScopedMidi midi(file);
    ScopedTrack parsed(midi.get(), 0, 16, 0, 'G');
    std::vector<SMeasure*> m = Measures(parsed.get());
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m[2]->bNumerator, 0);  // shown only where it changes
    EXPECT_EQ(BeamPicture(parsed.get(), 0), "[.].[.].[.].|[.=.=.].[.=.=.].|[.=.=.].[.=.=.].");
}

// Two voices: long high notes over a running bass of eighths. Each voice is
// beamed on its own, and every chord of a voice, with notes or without, carries
// the voice's number.
TEST(Beaming, NumbersEveryChordOfEveryVoice) {
    MidiFile file;
    MidiTrack& track = file.AddTrack();
    for (uint32_t t = 0; t < 2 * kWhole; t += kQuarter) track.Note(t, kQuarter, 79);
    for (uint32_t t = 0; t < 2 * kWhole; t += kEighth) track.Note(t, kEighth, 48);
    track.EndAt(2 * kWhole);
    ScopedMidi midi(file);
    ScopedTrack parsed(midi.get(), 0, 16, 0, 'G');
    std::vector<SMeasure*> measures = Measures(parsed.get());
    ASSERT_EQ(measures.size(), 2u);
    for (const SMeasure* m : measures) {
        ASSERT_EQ(m->bVoices, 2);
        for (uint32_t k = 0; k < m->bSections; ++k) {
            std::vector<SChord*> chords = Chords(SectionAt(m, k));
            ASSERT_EQ(chords.size(), 2u);
            for (size_t v = 0; v < chords.size(); ++v) EXPECT_EQ(chords[v]->bVoice, v) << "section " << k;
        }
    }
    EXPECT_EQ(BeamPicture(parsed.get(), 0), "o...o...o...o...|o...o...o...o...");
    EXPECT_EQ(BeamPicture(parsed.get(), 1), "[.=.=.].[.=.=.].|[.=.=.].[.=.=.].");
}

}  // namespace
