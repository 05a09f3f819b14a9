// MusicXML export: documents written for small files and for the bundled
// example are read back with pugixml and compared with the model they were
// written from, measure by measure and voice by voice.
#include "tool_runner.h"

#ifdef VSX_HAVE_PUGIXML

#include <functional>
#include <map>

#include "../musicxml/musicxml_reading.h"

namespace {

const std::string kExample = std::string(VSX_SOURCE_DIR) + "/examples/little-waltz.mid";

// One thing a voice shows: the MIDI key of a note (-1 for a rest) and its
// duration in divisions. A chord gives one entry per note.
using Shown = std::vector<std::pair<int, int>>;

// What the model shows in each voice of a measure, in time order.
std::map<int, Shown> ModelVoices(const SMeasure* measure) {
    std::map<int, Shown> voices;
    for (const SSection* s : LinkedSections(measure)) {
        int voice = 1;
        for (const SChord* c : Chords(s)) {
            if (c->bValue != 0) {
                int duration = 4 * kMusicXmlDivisions / c->bValue * (c->bDotted ? 3 : 2) / 2;
                if (!c->pNotes) voices[voice].push_back({-1, duration});
                for (const SNote* n : Notes(c)) voices[voice].push_back({n->bPitch, duration});
            }
            ++voice;
        }
    }
    return voices;
}

// Checks one part against the track it was written from: the attributes
// where the model shows them, every voice's notes and rests, and that every
// voice fills its measure.
void ExpectPartShowsTrack(pugi::xml_node part, const STrack* track) {
    std::vector<SMeasure*> measures = Measures(track);
    ASSERT_EQ(std::distance(part.children("measure").begin(), part.children("measure").end()),
              static_cast<long>(measures.size()));
    int numerator = 0, denominator = 0, key = 127;
    pugi::xml_node element = part.child("measure");
    for (size_t i = 0; i < measures.size(); ++i, element = element.next_sibling("measure")) {
        const SMeasure* m = measures[i];
        SCOPED_TRACE("measure " + std::to_string(i + 1));
        pugi::xml_node attributes = element.child("attributes");
        if (i == 0) {
            EXPECT_EQ(attributes.child("divisions").text().as_int(), kMusicXmlDivisions);
        }
        pugi::xml_node fifths = attributes.child("key").child("fifths");
        EXPECT_EQ(fifths ? fifths.text().as_int() : 127, m->cKey != key ? m->cKey : 127);
        key = m->cKey;
        EXPECT_EQ(attributes.child("time").child("beats").text().as_int(), m->bNumerator);
        EXPECT_EQ(attributes.child("time").child("beat-type").text().as_int(), m->bDenominator);
        if (m->bNumerator != 0) numerator = m->bNumerator, denominator = m->bDenominator;
        const char* const kClefs[] = {"", "G2 0", "F4 0", "G2 1", "F4 -1"};
        pugi::xml_node clef = attributes.child("clef");
        EXPECT_EQ(clef ? std::string(clef.child_value("sign")) + clef.child_value("line") + " " +
                             std::to_string(clef.child("clef-octave-change").text().as_int())
                       : "",
                  kClefs[m->nClef]);

        std::map<int, Shown> shown;
        std::map<int, int> filled;
        for (pugi::xml_node e : element.children()) {
            int voice = e.child("voice").text().as_int(), duration = e.child("duration").text().as_int();
            if (std::string(e.name()) == "forward") filled[voice] += duration;
            if (std::string(e.name()) != "note") continue;
            if (e.child("chord").empty()) filled[voice] += duration;
            if (!e.child("rest").attribute("measure").as_bool())
                shown[voice].push_back({e.child("pitch") ? KeyOf(e.child("pitch")) : -1, duration});
        }
        EXPECT_EQ(shown, ModelVoices(m));
        const int length = (numerator * track->bResolution + denominator - 1) / denominator *
                           (4 * kMusicXmlDivisions / track->bResolution);
        EXPECT_EQ(filled.size(), std::max<size_t>(m->bVoices, 1));
        for (const auto& voice : filled) EXPECT_EQ(voice.second, length) << "voice " << voice.first;
    }
}

struct Song {
    const char* what;
    std::function<void(MidiFile&)> write;  // conductor and one music track
    unsigned char resolution;
    char transpose;
};

const uint32_t kBar = kWhole;

}  // namespace

// Written letters, alterations, octaves and clefs must sound the model's
// keys; values, voices and fills must match it measure by measure.
TEST(MusicXml, EveryVoiceShowsTheModel) {
    const Song songs[] = {
        {"an accidental holds for its step to the bar line, in G major",
         [](MidiFile& f) {
             f.Conductor().KeySignature(0, 1);
             f.AddTrack().Note(0, kQuarter, 66).Note(kQuarter, kQuarter, 65).Note(kHalf, kQuarter, 66)
                 .Note(3 * kQuarter, kQuarter, 78).Note(kBar, kQuarter, 65).Note(kBar + kQuarter, kHalf + kQuarter, 66);
         },
         16, 0},
        {"B sharp, C flat and F double sharp, and the sign that cancels it",
         [](MidiFile& f) {
             f.Conductor().KeySignature(0, 4).KeySignature(kBar, -6).KeySignature(2 * kBar, 5);
             f.AddTrack().Note(0, kHalf, 60).Note(kHalf, kHalf, 72).Note(kBar, kHalf, 71).Note(kBar + kHalf, kHalf, 65)
                 .Note(2 * kBar, kQuarter, 67).Note(2 * kBar + kQuarter, kQuarter, 66).Note(2 * kBar + kHalf, kHalf, 67);
         },
         16, 0},
        {"F and F sharp struck together, then each alone",
         [](MidiFile& f) {
             f.AddTrack().Note(0, kQuarter, 66).Chord(kQuarter, kQuarter, {65, 66}).Note(kHalf, kHalf, 66)
                 .Chord(kBar, kHalf, {65, 66}).Note(kBar + kHalf, kQuarter, 66).Note(kBar + kHalf + kQuarter, kQuarter, 65);
         },
         16, 0},
        {"a rest drawn once for two voices",
         [](MidiFile& f) { f.AddTrack().Note(0, kQuarter, 74).Note(0, kEighth, 67).Note(kHalf, kHalf, 74).Note(kHalf, kQuarter, 67); },
         16, 0},
        {"bass clef in three flats and 3/4, with rests",
         [](MidiFile& f) {
             f.Conductor().TimeSignature(0, 3, 2).KeySignature(0, -3);
             f.AddTrack().Note(0, kQuarter, 36).Chord(2 * kQuarter, kEighth, {39, 43}).Note(3 * kQuarter, kHalf, 44);
         },
         16, 0},
        {"treble, then the octave clefs for very low and very high measures",
         [](MidiFile& f) {
             f.AddTrack().Note(0, kWhole, 67).Note(kBar, kHalf, 26).Note(kBar + kHalf, kHalf, 43)
                 .Note(2 * kBar, kHalf, 91).Note(2 * kBar + kHalf, kHalf, 100);
         },
         16, 0},
        {"two voices, a tie over the bar line, dotted values and a meter change",
         [](MidiFile& f) {
             f.Conductor().TimeSignature(0, 3, 2).TimeSignature(3 * kQuarter, 2, 2);
             f.AddTrack().Note(0, kQuarter, 74).Note(kQuarter, kQuarter, 76).Note(2 * kQuarter, kHalf, 72)
                 .Note(0, kHalf, 67).Note(3 * kQuarter + kQuarter, kEighth + kSixteenth, 71).Note(5 * kQuarter - kSixteenth, kSixteenth, 69);
         },
         16, 0},
        {"sixty-fourths and 6/8 on the finest grid",
         [](MidiFile& f) {
             f.Conductor().TimeSignature(0, 6, 3);
             f.AddTrack().Note(0, kSixteenth / 4, 60).Note(kSixteenth / 4, kSixteenth / 4, 62).Note(kEighth, kQuarter + kEighth, 64);
         },
         64, 0},
        {"transposed down a semitone into seven flats, on a coarse grid",
         [](MidiFile& f) { f.AddTrack().Note(0, kQuarter, 60).Note(kQuarter, kQuarter, 64).Note(kHalf, kHalf, 66); }, 4, -1},
    };
    for (const Song& song : songs) {
        SCOPED_TRACE(song.what);
        MidiFile file;
        song.write(file);
        ScopedMidi midi(file);
        ScopedTrack track(midi.get(), 0, song.resolution, song.transpose);
        Document document(Export(midi.get(), {track.get()}));
        ExpectPartShowsTrack(document.Score().child("part"), track.get());
    }
}

// Both hands of the bundled example, as two parts of one score.
TEST(MusicXml, BundledExample) {
    std::string bytes = ReadWholeFile(kExample);
    ASSERT_FALSE(bytes.empty()) << kExample;
    ScopedMidi midi(Bytes(bytes.begin(), bytes.end()));
    ScopedTrack right(midi.get(), 0), left(midi.get(), 1);
    Document document(Export(midi.get(), {right.get(), left.get()}));
    pugi::xml_node score = document.Score();
    EXPECT_STREQ(score.child("work").child_value("work-title"), "A Little Waltz");
    const char* const names[] = {"Right hand", "Left hand"};
    pugi::xml_node scorePart = score.child("part-list").child("score-part");
    pugi::xml_node part = score.child("part");
    for (const STrack* track : {right.get(), left.get()}) {
        SCOPED_TRACE(track->pszName);
        EXPECT_STREQ(scorePart.child_value("part-name"), names[track == left.get()]);
        EXPECT_STREQ(scorePart.child("score-instrument").child_value("instrument-name"), "Acoustic grand piano");
        EXPECT_EQ(scorePart.child("midi-instrument").child("midi-program").text().as_int(), 1);
        EXPECT_STREQ(part.attribute("id").value(), scorePart.attribute("id").value());
        ExpectPartShowsTrack(part, track);
        scorePart = scorePart.next_sibling("score-part");
        part = part.next_sibling("part");
    }
    // The tempo stands over the top part, where it changes.
    std::vector<int> tempos;
    for (pugi::xpath_node sound : score.select_nodes("part/measure/direction/sound")) tempos.push_back(sound.node().attribute("tempo").as_int());
    EXPECT_EQ(tempos, (std::vector<int>{100, 120}));
}

// Every change of tempo sounds, but a metronome mark is printed only where
// the tempo moves by more than a tenth from the last mark: a performance
// recorded with rubato does not get a mark over every measure.
TEST(MusicXml, TempoMarksLeaveOutRubato) {
    MidiFile file;
    const uint32_t bpm[] = {100, 104, 96, 120, 109, 60};
    for (uint32_t m = 0; m < 6; ++m) file.Conductor().Tempo(m * kWhole, 60000000 / bpm[m]);
    MidiTrack& track = file.AddTrack();
    for (uint32_t m = 0; m < 6; ++m) track.Note(m * kWhole, kWhole, 60);
    ScopedMidi midi(file);
    ScopedTrack parsed(midi.get(), 0);
    Document document(Export(midi.get(), {parsed.get()}));
    std::vector<int> printed, sounding;
    for (pugi::xpath_node mark : document.Score().select_nodes("part/measure/direction/direction-type/metronome"))
        printed.push_back(mark.node().child("per-minute").text().as_int());
    for (pugi::xpath_node sound : document.Score().select_nodes("part/measure//sound"))
        sounding.push_back(sound.node().attribute("tempo").as_int());
    EXPECT_EQ(sounding, (std::vector<int>{100, 104, 96, 120, 109, 60}));
    EXPECT_EQ(printed, (std::vector<int>{100, 120, 60}));
}

// The score's title and its part's name, as a musician would print them:
// the library's stand-ins for missing names and names of no letter or
// digit are left out (a part is then named by its instrument), a Latin-1
// name is read as such.
TEST(MusicXml, TitleAndPartName) {
    struct Case {
        const char* what;
        std::string sequence;  // the conductor's name; empty for none
        std::string track;     // the track's name; empty for none
        const char* title;     // null: no <work>
        const char* part;
    } cases[] = {
        {"both named", "A Song", "Lead", "A Song", "Lead"},
        {"no names: the library's stand-ins", "", "", nullptr, "Acoustic grand piano"},
        {"names of dashes and blanks", " -  - ", " - ", nullptr, "Acoustic grand piano"},
        {"Latin-1", "Pr\xe4ludium", "Fl\xf6te", "Pr\xc3\xa4ludium", "Fl\xc3\xb6te"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MidiFile file;
        if (!c.sequence.empty()) file.Conductor().Name(0, c.sequence);
        MidiTrack& track = file.AddTrack();
        if (!c.track.empty()) track.Name(0, c.track);
        track.Note(0, kQuarter, 60);
        ScopedMidi midi(file);
        ScopedTrack parsed(midi.get(), 0);
        Document document(Export(midi.get(), {parsed.get()}));
        pugi::xml_node work = document.Score().child("work");
        if (c.title) {
            EXPECT_STREQ(work.child_value("work-title"), c.title);
        } else {
            EXPECT_FALSE(work);
        }
        EXPECT_STREQ(document.Score().child("part-list").child("score-part").child_value("part-name"), c.part);
    }
}

// A part that ends early is filled up with whole-measure rests in the
// meters of the longest part, so that the parts' bar lines stay together.
TEST(MusicXml, ShorterPartFilledWithMeasureRests) {
    MidiFile file;
    file.Conductor().TimeSignature(0, 3, 2).TimeSignature(3 * kQuarter, 2, 2);
    file.AddTrack().Note(0, 3 * kQuarter, 72).Note(3 * kQuarter, kHalf, 74).Note(5 * kQuarter, kHalf, 76);
    file.AddTrack().Note(0, kQuarter, 48);
    ScopedMidi midi(file);
    ScopedTrack longer(midi.get(), 0), shorter(midi.get(), 1);
    ASSERT_EQ(longer->nMeasures, 3);
    ASSERT_EQ(shorter->nMeasures, 1);
    Document document(Export(midi.get(), {shorter.get(), longer.get()}));
    std::vector<std::string> measures;
    for (pugi::xpath_node m : document.Score().select_nodes("part[1]/measure")) {
        pugi::xml_node time = m.node().child("attributes").child("time");
        std::string shown = time ? std::string(time.child_value("beats")) + "/" + time.child_value("beat-type") + " " : "";
        for (pugi::xml_node note : m.node().children("note"))
            shown += std::string(note.child("rest").attribute("measure").as_bool() ? "measure rest " : "")
                     + note.child_value("duration") + " ";
        measures.push_back(shown);
    }
    EXPECT_EQ(measures, (std::vector<std::string>{"3/4 16 16 16 ", "2/4 measure rest 32 ", "measure rest 32 "}));
    ExpectPartShowsTrack(document.Score().child("part").next_sibling("part"), longer.get());
}

// What a reader sees of one note or rest besides its pitch and value.
std::string MarkOf(pugi::xml_node note) {
    std::string mark;
    if (pugi::xml_node pitch = note.child("pitch")) {
        mark = std::string(pitch.child_value("step")) + pitch.child_value("octave");
    } else {
        pugi::xml_node rest = note.child("rest");
        mark = std::string("rest ") + rest.child_value("display-step") + rest.child_value("display-octave");
    }
    for (pugi::xml_node beam : note.children("beam")) mark += std::string(" ") + beam.child_value();
    if (note.child("stem")) mark += std::string(" ") + note.child_value("stem");
    pugi::xml_node technical = note.child("notations").child("technical");
    if (technical) mark += std::string(" ") + technical.child_value("string") + "/" + technical.child_value("fret");
    for (pugi::xml_node tie : note.children("tie")) mark += std::string(" tie:") + tie.attribute("type").value();
    for (pugi::xml_node tied : note.child("notations").children("tied"))
        mark += std::string(" tied:") + tied.attribute("type").value();
    return mark;
}

// Beams, ties, stems and rest positions of two short tunes, as a musician
// would write them (strings and frets are marked only on a tablature staff).
TEST(MusicXml, MarksOfNotesAndRests) {
    const TrackCase cases[] = {
        {"four beamed eighths and a half tied over the bar line, then a dotted half rest",
         [](MidiTrack& t) {
             t.Note(0, kEighth, 64).Note(kEighth, kEighth, 67).Note(kQuarter, kEighth, 71).Note(kQuarter + kEighth, kEighth, 76);
             t.Note(kHalf, kHalf + kQuarter, 72).EndAt(2 * kWhole);
         },
         {"E4 begin up", "G4 continue up", "B4 continue up", "E5 end up", "C5 down tie:start tied:start",
          "C5 down tie:stop tied:stop", "rest B4"}},
        {"a low quarter in the bass clef, its rest on the bass staff's middle line",
         [](MidiTrack& t) { t.Note(0, kQuarter, 48).EndAt(kWhole); }, {"C3 up", "rest D3"}},
    };
    for (const TrackCase& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedMidi midi(c.File());
        ScopedTrack track(midi.get(), 0);
        Document document(Export(midi.get(), {track.get()}));
        std::vector<std::string> marks;
        for (pugi::xpath_node note : document.Score().select_nodes("part/measure/note")) marks.push_back(MarkOf(note.node()));
        EXPECT_EQ(marks, c.shown);
    }
}

// The tool's musicxml command: the parts it writes and where it writes them.
TEST(MusicXml, ToolCommand) {
    SKIP_WITHOUT_TOOL();
    MidiFile silent;
    silent.AddTrack().Name(0, "Silent").EndAt(kWhole);
    TempFile noNotes(silent.Build());
    TempFile out(Bytes{});
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::vector<std::string> parts;  // part names, in order
        const char* file;                // where the document goes: null for standard output
        const char* message;             // on standard error
    } cases[] = {
        {{"musicxml", kExample}, 0, {"Right hand", "Left hand"}, nullptr, ""},
        {{"musicxml", kExample, "--track", "1", "--resolution", "32"}, 0, {"Left hand"}, nullptr, ""},
        {{"musicxml", kExample, "-t", "1", "-t", "0", "-o", out.Path()}, 0, {"Left hand", "Right hand"}, out.Path(), ""},
        {{"musicxml", noNotes.Path()}, 1, {}, nullptr, "nothing to write"},
        {{"musicxml", kExample, "--resolution", "12"}, 1, {}, nullptr, "(error 257)"},
        {{"musicxml", kExample, "-t", "0", "--tablature"}, 0, {"Right hand"}, nullptr, ""},
        {{"musicxml", kExample, "-o", "/nonexistent-folder/out.musicxml"}, 1, {}, nullptr, "cannot write /nonexistent-folder/out.musicxml"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        ToolRun run = RunTool(c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        if (c.exitCode != 0) {
            EXPECT_EQ(run.out, "");
            continue;
        }
        Document document(c.file ? ReadWholeFile(c.file) : run.out);
        if (c.file) {
            EXPECT_EQ(run.out, "");
        }
        std::vector<std::string> names;
        for (pugi::xpath_node name : document.Score().select_nodes("part-list/score-part/part-name")) names.push_back(name.node().child_value());
        EXPECT_EQ(names, c.parts);
        EXPECT_EQ(document.Score().select_nodes("part[1]/measure").size(), 12u);
        const bool tablature = std::find(c.args.begin(), c.args.end(), "--tablature") != c.args.end();
        EXPECT_EQ(document.Score().select_nodes("part/measure/attributes/staves").size(), tablature ? 1u : 0u);
    }
}

// A score refused, or one that cannot be written, leaves the file it would
// have replaced as it was, and nothing half written beside it.
TEST(MusicXml, ToolKeepsTheOldFileOnFailure) {
    SKIP_WITHOUT_TOOL();
    MidiFile silent;
    silent.AddTrack().Name(0, "Silent").EndAt(kWhole);
    TempFile noNotes(silent.Build());
    TempFile out(Bytes{'o', 'l', 'd'});
    ToolRun run = RunTool({"musicxml", noNotes.Path(), "-o", out.Path()});
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_NE(run.err.find("nothing to write"), std::string::npos) << run.err;
    EXPECT_EQ(ReadWholeFile(out.Path()), "old");
    EXPECT_FALSE(std::ifstream(std::string(out.Path()) + ".part").good());
}

#else

TEST(MusicXml, NotBuilt) { GTEST_SKIP() << "pugixml, which reads the documents back, is not found for this build"; }

#endif  // VSX_HAVE_PUGIXML
