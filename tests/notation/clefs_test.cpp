// Clef selection: the clef of every measure from the ledger lines its notes
// need, with hysteresis (three lines make the very first clef change, four
// any later one), the lock of a tie over the bar line, silent measures passed
// over, and notes and key-signature glyphs moved to the drawing positions of
// the clef in effect.
#include "../support/test_support.h"

#include "../../notation/clefs.h"

#include <climits>

namespace {

TEST(LedgerLines, CountOneLineForEveryTwoStepsOutsideTheStaff) {
    struct Case {
        int64_t step;
        uint32_t lines;
    };
    // The staff spans steps 2 (bottom line) to 10 (top line); the far ends
    // are the lowest and highest drawing positions an 8-bit step can take.
    const Case cases[] = {
        {12, 1}, {13, 1}, {14, 2}, {11, 0}, {10, 0}, {2, 0}, {1, 0},
        {0, 1},  {-1, 1}, {-2, 2}, {-14, 8}, {20, 5}, {-135, 68}, {146, 68},
    };
    for (const Case& c : cases) EXPECT_EQ(LedgerLines(c.step), c.lines) << c.step;
}

// The white key on treble staff step s (step 0 = middle C).
uint8_t WhiteKey(int s) {
    static const int kSemitones[] = {0, 2, 4, 5, 7, 9, 11};
    int octave = (s >= 0 ? s : s - 6) / 7;
    return static_cast<uint8_t>(60 + 12 * octave + kSemitones[s - 7 * octave]);
}

struct Bar {
    std::vector<int> steps;  // whole notes on these treble steps; none: a silent measure
    int tiedStep = INT_MIN;  // a note on this step from beat 4 over the bar line (INT_MIN: none)
};

// Per measure, the staff steps of all chord notes in walk order.
std::vector<std::vector<int>> StepsByMeasure(const STrack* track) {
    std::vector<std::vector<int>> steps;
    for (const SMeasure* m : Measures(track)) {
        steps.emplace_back();
        for (uint32_t k = 0; k < m->bSections; ++k)
            for (const SChord* c : Chords(SectionAt(m, k)))
                for (const SNote* n : Notes(c)) steps.back().push_back(n->cStep);
    }
    return steps;
}

std::vector<std::vector<int>> GlyphsByMeasure(const STrack* track) {
    std::vector<std::vector<int>> glyphs;
    for (const SMeasure* m : Measures(track)) {
        glyphs.emplace_back();
        for (const SKeyAccidental* g = m->pKeyAccidentals; g; g = g->pNext) glyphs.back().push_back(g->bPosition);
    }
    return glyphs;
}

// A 4/4 track of the bars, keys changing at the given measures.
Bytes BarsFile(const std::vector<Bar>& bars, const std::vector<std::pair<uint32_t, int8_t>>& keys = {}) {
    MidiFile file;
    for (const auto& key : keys) file.Conductor().KeySignature(key.first * kWhole, key.second);
    MidiTrack& track = file.AddTrack();
    for (size_t i = 0; i < bars.size(); ++i) {
        for (int s : bars[i].steps) track.Note(i * kWhole, kWhole, WhiteKey(s));
        if (bars[i].tiedStep != INT_MIN) track.Note(i * kWhole + 3 * kQuarter, kHalf, WhiteKey(bars[i].tiedStep));
    }
    track.EndAt(bars.size() * kWhole);
    return file.Build();
}

// Parses the file up to stage G and through H (two loads, so that neither
// parse sees the other's end-of-track rewrite) and checks the clefs, and that
// every note and glyph moved by the shift of the clef in effect.
void ExpectClefs(const Bytes& bytes, const std::vector<int>& clefs, const std::string& what) {
    ScopedMidi before(bytes), after(bytes);
    ScopedTrack g(before.get(), 0, 16, 0, 'G');
    ScopedTrack h(after.get(), 0, 16, 0, 'H');
    std::vector<SMeasure*> measures = Measures(h.get());
    ASSERT_EQ(measures.size(), clefs.size()) << what;
    std::vector<int> actual;
    for (const SMeasure* m : measures) actual.push_back(m->nClef);
    EXPECT_EQ(actual, clefs) << what;

    std::vector<std::vector<int>> stepsBefore = StepsByMeasure(g.get()), stepsAfter = StepsByMeasure(h.get());
    std::vector<std::vector<int>> glyphsBefore = GlyphsByMeasure(g.get()), glyphsAfter = GlyphsByMeasure(h.get());
    int inEffect = 1;
    for (size_t i = 0; i < clefs.size(); ++i) {
        if (clefs[i] != 0) inEffect = clefs[i];
        std::vector<int> shifted = stepsBefore[i];
        for (int& s : shifted) s += StepShiftOfClef(inEffect);
        EXPECT_EQ(stepsAfter[i], shifted) << what << ": notes of measure " << i;
        std::vector<int> lowered = glyphsBefore[i];
        if (inEffect == kClefBass || inEffect == kClefBassOctaveDown)
            for (int& p : lowered) p -= 2;
        EXPECT_EQ(glyphsAfter[i], lowered) << what << ": key glyphs of measure " << i;
    }
}

struct ClefCase {
    const char* what;
    std::vector<Bar> bars;
    std::vector<int> clefs;  // nClef per measure: 0 unchanged, 1..4 the clef starting there
};

void RunClefCases(const std::vector<ClefCase>& cases) {
    for (const ClefCase& c : cases) {
        ExpectClefs(BarsFile(c.bars), c.clefs, c.what);
    }
}

TEST(Clefs, FirstClefChangesAtThreeLedgerLines) {
    RunClefCases({
        {"within the treble staff", {{{0, 10}}}, {1}},
        {"low: bass, which ties with bass octave-down and wins", {{{-14, -4}}}, {2}},
        {"three lines below the treble staff already call for bass", {{{-4, -2}}}, {2}},
        {"very low: bass octave-down", {{{-20, -10}}}, {4}},
        {"bass needs three lines: bass octave-down", {{{-16, -8}}}, {4}},
        {"very high: treble octave-up", {{{14, 24}}}, {3}},
        {"high but within two lines: treble", {{{12, 14}}}, {1}},
        // Keys 0 and 127: 18 lines below treble, 24 above bass octave-down.
        {"the lowest and the highest key: treble", {{{-35, 39}}}, {1}},
        {"the highest keys: treble octave-up", {{{33, 39}}}, {3}},
        {"the lowest keys: bass octave-down", {{{-35, -28}}}, {4}},
    });
}

TEST(Clefs, LaterChangesNeedFourLedgerLines) {
    RunClefCases({
        {"three lines below treble keep treble", {{{0, 10}}, {{-4, -2}}}, {1, 0}},
        {"four lines below treble: bass", {{{0, 10}}, {{-6, -2}}}, {1, 2}},
        {"bass keeps three lines above", {{{-14, -4}}, {{-4, 4}}}, {2, 0}},
        {"bass back to treble", {{{-14, -4}}, {{0, 10}}}, {2, 1}},
        {"treble to bass octave-down", {{{0, 10}}, {{-20, -10}}}, {1, 4}},
        {"treble to plain bass when bass needs three lines", {{{0, 10}}, {{-16, -8}}}, {1, 2}},
        {"bass to plain treble when treble needs three lines", {{{-14, -4}}, {{6, 16}}}, {2, 1}},
        {"bass to treble octave-up", {{{-14, -4}}, {{14, 24}}}, {2, 3}},
        {"bass to bass octave-down", {{{-14, -4}}, {{-24, -14}}}, {2, 4}},
        {"treble octave-up holds at three lines", {{{14, 24}}, {{2, 10}}}, {3, 0}},
        {"treble octave-up back to treble", {{{14, 24}}, {{0, 10}}}, {3, 1}},
        {"treble octave-up to bass", {{{14, 24}}, {{-14, -4}}}, {3, 2}},
        {"treble octave-up to bass octave-down", {{{14, 24}}, {{-20, -10}}}, {3, 4}},
        {"treble octave-up to plain bass", {{{14, 24}}, {{-16, -8}}}, {3, 2}},
        {"bass octave-down holds at two lines", {{{-20, -10}}, {{-14, -4}}}, {4, 0}},
        {"bass octave-down to bass", {{{-20, -10}}, {{-8, 2}}}, {4, 2}},
        {"bass octave-down to treble octave-up", {{{-20, -10}}, {{14, 24}}}, {4, 3}},
        {"bass octave-down to plain treble", {{{-20, -10}}, {{6, 16}}}, {4, 1}},
        // Bass and bass octave-down both need four lines: the plain clef,
        // tried first, wins, and is taken although it needs four lines.
        {"equal costs favour plain bass", {{{0, 10}}, {{-18, -1}}}, {1, 2}},
        {"equal costs favour plain bass from treble octave-up", {{{14, 24}}, {{-18, -1}}}, {3, 2}},
        {"back and forth", {{{0, 10}}, {{-14, -4}}, {{-4, 4}}, {{2, 12}}, {{-2, 8}}}, {1, 2, 0, 1, 0}},
    });
}

TEST(Clefs, ATieOverTheBarLineKeepsTheClef) {
    RunClefCases({
        // The tied note sounds on into the low measure: treble stays; the
        // next low measure, with no tie into it, turns to bass.
        {"treble kept", {{{0, 10}, 4}, {{-14, -4}}, {{-14, -4}}}, {1, 0, 2}},
        // Bass stays over a tie, and its notes are still drawn as bass notes.
        {"bass kept and shifted", {{{-14, -4}, -6}, {{8, 14}}}, {2, 0}},
        {"the lock lasts one bar line only", {{{-14, -4}, -6}, {{8, 14}}, {{8, 14}}}, {2, 0, 1}},
    });
}

TEST(Clefs, SilentMeasuresArePassedOver) {
    RunClefCases({
        {"silence between bass measures", {{{-14, -4}}, {}, {{-4, 4}}}, {2, 0, 0}},
        {"silence does not bring back the first threshold", {{{0, 10}}, {}, {{-4, -2}}}, {1, 0, 0}},
        {"silent first measure, then bass at three lines", {{}, {{-4, -2}}}, {1, 2}},
        {"silent first measure, then treble", {{}, {{0, 10}}}, {1, 0}},
        {"silent first measure, then treble octave-up", {{}, {}, {{14, 24}}}, {1, 0, 3}},
    });
}

// Key glyphs are drawn two steps lower under the bass clefs, naturals too,
// and a key change in a silent measure follows the clef in effect there.
TEST(Clefs, KeyGlyphsFollowTheClefInEffect) {
    const std::vector<Bar> bars = {{{-14, -4}}, {}, {{-4, 4}}, {{0, 10}}, {{-20, -10}}, {{-14, -4}}};
    // Two sharps; two flats in the silent measure; naturals; one sharp back in
    // treble; three sharps in bass octave-down; three flats after it.
    const std::vector<std::pair<uint32_t, int8_t>> keys = {{0, 2}, {1, -2}, {2, 0}, {3, 1}, {4, 3}, {5, -3}};
    ExpectClefs(BarsFile(bars, keys), {2, 0, 0, 1, 4, 0}, "key changes");
    ScopedMidi midi(BarsFile(bars, keys));
    ScopedTrack h(midi.get(), 0, 16, 0, 'H');
    std::vector<std::vector<int>> glyphs = GlyphsByMeasure(h.get());
    ASSERT_EQ(glyphs.size(), 6u);
    for (size_t i = 0; i < glyphs.size(); ++i) EXPECT_FALSE(glyphs[i].empty()) << "measure " << i;
}

// Readable (bFirstClefFromNotes): a part that enters after silent measures
// shows the clef of its first notes from the first measure, with its key
// glyphs drawn for that clef there; the classic model shows the treble clef
// and changes where the notes enter.
TEST(Clefs, APartEnteringLateStartsInItsOwnClef) {
    struct Case {
        const char* what;
        std::vector<Bar> bars;
        std::vector<int> classic, readable;
    } const cases[] = {
        {"a bass part entering in measure 3", {{}, {}, {{-14, -4}}}, {1, 0, 2}, {2, 0, 0}},
        {"a very low part: bass octave-down from the start", {{}, {{-20, -10}}}, {1, 4}, {4, 0}},
        {"a treble part entering late changes nothing", {{}, {{0, 10}}}, {1, 0}, {1, 0}},
        {"notes in the first measure: as before", {{{-14, -4}}, {}, {{0, 10}}}, {2, 0, 1}, {2, 0, 1}},
    };
    SNotationOptions options = {};
    options.cbSize = sizeof options;
    options.bFirstClefFromNotes = 1;
    for (const Case& c : cases) {
        // Two sharps from the start, drawn in every silent measure's place.
        ScopedMidi classicFile(BarsFile(c.bars, {{0, 2}})), readableFile(BarsFile(c.bars, {{0, 2}}));
        ScopedTrack classic(classicFile.get(), 0, 16, 0);
        STrack* readable = VSX_ParseTrackWithOptions(readableFile.get(), 0, 16, 0, &options);
        std::vector<int> classicClefs, readableClefs;
        for (const SMeasure* m : Measures(classic.get())) classicClefs.push_back(m->nClef);
        for (const SMeasure* m : Measures(readable)) readableClefs.push_back(m->nClef);
        EXPECT_EQ(classicClefs, c.classic) << c.what;
        EXPECT_EQ(readableClefs, c.readable) << c.what;
        // The first measure's glyphs: two steps lower under a bass clef.
        std::vector<int> treble = GlyphsByMeasure(classic.get())[0], first = GlyphsByMeasure(readable)[0];
        bool lowered = c.readable[0] == kClefBass || c.readable[0] == kClefBassOctaveDown;
        for (int& g : treble) g -= lowered && c.classic[0] == kClefTreble ? 2 : 0;
        EXPECT_EQ(first, treble) << c.what;
        VSX_ReleaseTrack(readable);
    }
}

}  // namespace
