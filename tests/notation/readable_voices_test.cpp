// Voices and ties in the finished model, in both notations: a tied piece
// stays in the voice of the note it continues (readable), and a chord tied
// to a later piece is never cut short or stretched (both).
#include "../support/test_support.h"

#include <sstream>

namespace {

// The notes of every voice, measure after measure (" / " between measures,
// " | " between voices): each chord with notes as
// "section:value[pitches]", a dotted value with ".", a piece tied from the
// one before with "~" in front of its pitch. Rests are left out.
std::string DescribeVoices(const STrack* track) {
    std::ostringstream out;
    bool firstMeasure = true;
    for (const SMeasure* measure : Measures(track)) {
        if (!firstMeasure) out << " / ";
        firstMeasure = false;
        for (size_t v = 0; v < measure->bVoices; ++v) {
            if (v) out << " | ";
            bool first = true;
            for (const SSection* section : LinkedSections(measure)) {
                const SChord* chord = Chords(section).at(v);
                if (!chord->pNotes) continue;
                if (!first) out << ' ';
                first = false;
                out << (section - measure->pSections) << ':' << int(chord->bValue) << (chord->bDotted ? "." : "")
                    << '[';
                // The notes from the highest, whichever way the stem points.
                std::vector<const SNote*> notes;
                for (const SNote* note : Notes(chord)) notes.push_back(note);
                std::sort(notes.begin(), notes.end(),
                          [](const SNote* a, const SNote* b) { return a->bPitch > b->bPitch; });
                for (size_t i = 0; i < notes.size(); ++i)
                    out << (i ? " " : "") << (notes[i]->bTieIn ? "~" : "") << int(notes[i]->bPitch);
                out << ']';
            }
        }
    }
    return out.str();
}

}  // namespace

TEST(Voices, TiedPiecesInBothNotations) {
    struct Case {
        const char* what;
        std::vector<NoteAt> notes;
        const char* classic;
        const char* readable;
    } const cases[] = {
        {"a higher note of another value takes the chord where the tied piece goes on",
         {{0, 5, C4}, {4, 2, C5}},
         "0:4[60] 4:8[72] | 4:16[~60]",
         "0:4[60] 4:16[~60] | 4:8[72]"},
        {"a voice tied on is not cut short for a note that starts just before its end",
         {{0, 5, C4}, {3, 1, E4}},
         "0:4[60] 4:16[~60] | 3:16[64]",
         "0:4[60] 4:16[~60] | 3:16[64]"},
        {"a lower voice tied over the bar line keeps its number",
         {{0, 4, C5}, {4, 4, D5}, {8, 4, E5}, {12, 4, F5}, {0, 24, C4}, {16, 8, G5}},
         "0:4[72] 4:4[74] 8:4[76] 12:4[77] | 0:1[60] / 0:2[79 ~60]",
         "0:4[72] 4:4[74] 8:4[76] 12:4[77] | 0:1[60] / 0:2[79] | 0:2[~60]"},
        {"an upper voice tied over the bar line keeps its number",
         {{0, 24, C5}, {0, 4, C4}, {4, 4, D4}, {8, 4, E4}, {12, 4, F4}, {16, 4, G3}},
         "0:1[72] | 0:4[60] 4:4[62] 8:4[64] 12:4[65] / 0:2[~72] | 0:4[55]",
         "0:1[72] | 0:4[60] 4:4[62] 8:4[64] 12:4[65] / 0:2[~72] | 0:4[55]"},
        {"notes whose ties go on as pieces of different values take a voice each",
         {{0, 5, G4}, {0, 5, E4}, {0, 7, C4}},
         "0:4[67 64 60] 4:16[~67 ~64] | 4:8.[~60]",
         "0:4[67 64] 4:16[~67 ~64] | 0:4[60] 4:8.[~60]"},
        {"a chord tied over the bar line stays one chord",
         {{0, 20, C4}, {0, 20, E4}, {0, 20, G4}},
         "0:1[67 64 60] / 0:4[~67 ~64 ~60]",
         "0:1[67 64 60] / 0:4[~67 ~64 ~60]"},
    };
    for (const Case& c : cases) {
        ScopedMidi midi(FileOf(c.notes));
        SNotationOptions classic = ClassicOptions();
        SNotationOptions readable = VSX_ReadableOptions();
        EXPECT_EQ(DescribeVoices(ScopedOptionsTrack(midi.get(), 0, classic).get()), c.classic) << c.what;
        EXPECT_EQ(DescribeVoices(ScopedOptionsTrack(midi.get(), 0, readable).get()), c.readable) << c.what;
    }
}
