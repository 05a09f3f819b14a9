// Guitar parts in the readable notation: strings and frets from the
// sounding pitch, fingered over the whole track so that a guitarist can
// play them, and the note staff in the treble clef with an 8 below; a
// guitar program below the guitar's range is no guitar part.
#include "../support/test_support.h"

#include <algorithm>
#include <functional>
#include <sstream>

namespace {

SNotationOptions GuitarOnly() {
    SNotationOptions options = {};
    options.cbSize = sizeof options;
    options.bGuitarTablature = 1;
    return options;
}

// Sounding open strings, string 1 first.
constexpr int kOpen[7] = {0, 64, 59, 55, 50, 45, 40};

// One piece of a note as the model has it.
struct Piece {
    uint32_t time;  // tick of its section
    uint32_t end;   // tick its value ends at (division 96)
    const SNote* note;
};

std::vector<Piece> PiecesOf(const STrack* track) {
    std::vector<Piece> pieces;
    for (const SMeasure* measure : Measures(track))
        for (const SSection* section : LinkedSections(measure))
            for (const SChord* chord : Chords(section))
                for (const SNote* note : Notes(chord)) {
                    uint32_t ticks = kWhole / chord->bValue;
                    if (chord->bDotted) ticks += ticks / 2;
                    pieces.push_back({section->dwTime, section->dwTime + ticks, note});
                }
    std::sort(pieces.begin(), pieces.end(), [](const Piece& a, const Piece& b) {
        return a.time != b.time ? a.time < b.time : a.note->bPitch < b.note->bPitch;
    });
    return pieces;
}

// Every piece as "key:string/fret" in time order, lowest key first at one
// time; a piece tied from the one before with "~" in front.
std::string Fingering(const STrack* track) {
    std::ostringstream out;
    for (const Piece& p : PiecesOf(track))
        out << (out.tellp() ? " " : "") << (p.note->bTieIn ? "~" : "") << int(p.note->bPitch) << ':'
            << int(p.note->bString) << '/' << int(p.note->bFret);
    return out.str();
}

// What every guitar fingering must keep to: a string and fret that sound
// the key, and no two pieces sounding at once on one string.
void ExpectPlayable(const STrack* track) {
    std::vector<Piece> pieces = PiecesOf(track);
    for (const Piece& p : pieces) {
        const SNote& n = *p.note;
        if (n.bPitch < 40 || n.bPitch > 88) continue;
        ASSERT_TRUE(n.bString >= 1 && n.bString <= 6) << int(n.bPitch);
        EXPECT_EQ(kOpen[n.bString] + n.bFret, n.bPitch);
    }
    for (size_t i = 0; i < pieces.size(); ++i)
        for (size_t j = i + 1; j < pieces.size() && pieces[j].time < pieces[i].end; ++j)
            if (pieces[i].note->bString != 0 && !pieces[j].note->bTieIn) {
                EXPECT_NE(pieces[i].note->bString, pieces[j].note->bString)
                    << int(pieces[i].note->bPitch) << " and " << int(pieces[j].note->bPitch) << " at " << pieces[j].time;
            }
}

// The highest less the lowest fret pressed over all the pieces (open strings free).
int FretSpan(const STrack* track) {
    int low = 99, high = 0;
    for (const Piece& p : PiecesOf(track))
        if (p.note->bFret > 0) {
            low = std::min<int>(low, p.note->bFret);
            high = std::max<int>(high, p.note->bFret);
        }
    return high >= low ? high - low : 0;
}

struct GuitarCase {
    const char* what;
    std::function<void(MidiTrack&)> notes;
    const char* fingering;  // as Fingering gives it
    int mostSpan;           // the frets the whole piece may span
};

TEST(ReadableGuitar, FingersWhatAGuitaristPlays) {
    const GuitarCase cases[] = {
        {"a low E: the open sixth string (the classic strings give it none)",
         [](MidiTrack& t) { t.Note(0, kQuarter, 40); }, "40:6/0", 0},
        {"an open E major chord: open strings where they fit, the others in first position",
         [](MidiTrack& t) { t.Chord(0, kWhole, {40, 47, 52, 56, 59, 64}); }, "40:6/0 47:5/2 52:4/2 56:3/1 59:2/0 64:1/0", 1},
        {"an F major barre chord: the index across the first fret",
         [](MidiTrack& t) { t.Chord(0, kWhole, {41, 48, 53, 57, 60, 65}); }, "41:6/1 48:5/3 53:4/3 57:3/2 60:2/1 65:1/1", 2},
        {"a melody over a held open A: the A string stays free for the bass",
         [](MidiTrack& t) {
             t.Note(0, kWhole, 45);
             for (uint32_t i = 0; i < 4; ++i) t.Note(i * kQuarter, kQuarter, static_cast<uint8_t>(57 + 2 * i));
         },
         "45:5/0 57:3/2 59:2/0 61:2/2 63:2/4", 4},
        {"two voices on the G string's note: the held G keeps its string, the moving voice goes above",
         [](MidiTrack& t) {
             t.Note(0, kWhole, 55);
             t.Note(0, kHalf, 57).Note(kHalf, kHalf, 58);
         },
         "55:4/5 57:3/2 58:3/3", 3},
        {"a tied note over the bar line keeps its string and fret",
         [](MidiTrack& t) { t.Note(0, 3 * kQuarter, 62).Note(3 * kQuarter, kHalf, 67).Note(5 * kQuarter, kQuarter, 69); },
         "62:2/3 67:1/3 ~67:1/3 69:1/5", 2},
        {"a run up the neck stays in one position",
         [](MidiTrack& t) {
             const uint8_t run[] = {67, 69, 71, 72, 74, 76, 77, 79};
             for (uint32_t i = 0; i < 8; ++i) t.Note(i * kEighth, kEighth, run[i]);
         },
         "67:3/12 69:3/14 71:2/12 72:2/13 74:2/15 76:1/12 77:1/13 79:1/15", 3},
    };
    for (const GuitarCase& c : cases) {
        SCOPED_TRACE(c.what);
        MidiFile file;
        MidiTrack& track = file.AddTrack();
        track.Program(0, 24);
        c.notes(track);
        ScopedMidi midi(file);
        ScopedOptionsTrack guitar(midi.get(), 0, GuitarOnly());
        ASSERT_NE(guitar.get(), nullptr);
        ExpectPlayable(guitar.get());
        EXPECT_LE(FretSpan(guitar.get()), c.mostSpan);
        std::string fingering = Fingering(guitar.get());
        EXPECT_EQ(fingering, c.fingering);
    }
}

// The pieces of a tied note share the string and fret of its first piece.
TEST(ReadableGuitar, TiedPiecesKeepTheirString) {
    MidiFile file;
    // A long E over a bar line under a moving voice that wants its string.
    file.AddTrack().Program(0, 25).Note(0, kWhole + kHalf, 64).Note(kHalf, kWhole, 69).Note(kWhole + kHalf, kHalf, 64);
    ScopedMidi midi(file);
    ScopedOptionsTrack guitar(midi.get(), 0, GuitarOnly());
    ExpectPlayable(guitar.get());
    std::vector<Piece> pieces = PiecesOf(guitar.get());
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (!pieces[i].note->bTieIn) continue;
        const Piece* from = nullptr;
        for (size_t j = 0; j < i; ++j)
            if (pieces[j].note->bPitch == pieces[i].note->bPitch && pieces[j].note->bTieOut) from = &pieces[j];
        ASSERT_NE(from, nullptr);
        EXPECT_EQ(from->note->bString, pieces[i].note->bString);
        EXPECT_EQ(from->note->bFret, pieces[i].note->bFret);
    }
}

// Which tracks get which strings and clef: a guitar part its fingering and
// the treble clef with an 8 below from the first measure on, however low or
// high it goes; another pitched track the strings of its sounding pitch
// chord by chord and the clefs its range asks for; the classic model the
// strings of the keys read an octave up.
TEST(ReadableGuitar, StringsAndClefByTrack) {
    struct Case {
        const char* what;
        uint8_t program;
        bool readable;
        int firstClef;
        const char* fingering;
    };
    const Case cases[] = {
        {"a guitar", 27, true, kClefTrebleOctaveDown, "40:6/0 76:1/12 43:6/3"},
        {"a piano", 0, true, kClefBass, "40:6/0 76:1/12 43:6/3"},
        {"a guitar in the classic model", 27, false, kClefBass, "40:0/0 76:1/0 43:0/0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MidiFile file;
        file.AddTrack().Program(0, c.program).Note(0, kWhole, 40).Note(kWhole, kWhole, 76).Note(2 * kWhole, kWhole, 43);
        ScopedMidi midi(file);
        SNotationOptions options = c.readable ? GuitarOnly() : ClassicOptions();
        ScopedOptionsTrack track(midi.get(), 0, options);
        std::vector<SMeasure*> measures = Measures(track.get());
        ASSERT_EQ(measures.size(), 3u);
        EXPECT_EQ(measures[0]->nClef, c.firstClef);
        if (c.firstClef == kClefTrebleOctaveDown) {
            EXPECT_EQ(measures[1]->nClef, kClefUnchanged);
            EXPECT_EQ(measures[2]->nClef, kClefUnchanged);
            // Drawn an octave above the sound: the low E under three ledger lines.
            EXPECT_EQ(Notes(Chords(measures[0]->pSections).at(0)).at(0)->cStep, -5);
        }
        EXPECT_EQ(Fingering(track.get()), c.fingering);
    }
}

// Which guitar-program tracks are guitar parts: those a guitar in standard
// tuning plays, at most one note in ten below its low E (key 40). A guitar
// part keeps the treble clef with an 8 below from the first measure to the
// last, however high it climbs; a bass line given a guitar sound takes the
// clefs its range asks for, as any other track. Either way a note from the
// low E up gets a string that sounds it, and a lower one none.
TEST(ReadableGuitar, GuitarPartOnlyInTheGuitarsRange) {
    struct Case {
        const char* what;
        std::vector<uint8_t> keys;  // quarter notes, four to a measure
        int firstClef;
    };
    const Case cases[] = {
        {"a riff that dips to a low D once, then climbs to the top fret",
         {38, 45, 50, 55, 59, 64, 76, 81, 86, 88, 64, 59},
         kClefTrebleOctaveDown},
        {"right at the bound: one note in ten below the low E",
         {39, 40, 43, 45, 47, 50, 52, 55, 57, 59},
         kClefTrebleOctaveDown},
        {"just past it: one note in nine below the low E", {39, 40, 43, 45, 47, 50, 52, 55, 57}, kClefBass},
        {"roots and fifths from C2 up, a bass line on a distortion guitar",
         {36, 43, 48, 55, 38, 45, 50, 57},
         kClefBass},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MidiFile file;
        MidiTrack& track = file.AddTrack().Program(0, 30);
        for (size_t i = 0; i < c.keys.size(); ++i) track.Note(static_cast<uint32_t>(i) * kQuarter, kQuarter, c.keys[i]);
        ScopedMidi midi(file);
        ScopedOptionsTrack guitar(midi.get(), 0, GuitarOnly());
        std::vector<SMeasure*> measures = Measures(guitar.get());
        ASSERT_GE(measures.size(), 2u);
        EXPECT_EQ(measures[0]->nClef, c.firstClef);
        if (c.firstClef == kClefTrebleOctaveDown) {
            for (size_t m = 1; m < measures.size(); ++m)
                EXPECT_EQ(measures[m]->nClef, kClefUnchanged) << "measure " << m;
        }
        ExpectPlayable(guitar.get());
        for (const Piece& p : PiecesOf(guitar.get())) {
            if (p.note->bPitch < 40) {
                EXPECT_EQ(p.note->bString, 0) << int(p.note->bPitch);
            }
        }
    }
}

}  // namespace
