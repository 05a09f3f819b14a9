// The command-line tool run as a process on small files written here:
// exit codes and messages, the text a musician reads, and the JSON document.
#include <cstdlib>
#include <iterator>
#include <map>

#include "tool_runner.h"

using nlohmann::json;

namespace {

// Format 1: a conductor in 3/4 with two flats at 120, slowing to 80 in
// measure 3; a violin track, an untitled track, and a track without notes.
MidiFile SmallSong() {
    MidiFile file;
    const uint32_t bar = 3 * kQuarter;
    file.Conductor().Name(0, "Test Song").TimeSignature(0, 3, 2).KeySignature(0, -2).Tempo(0, 500000);
    file.Conductor().Tempo(2 * bar, 750000).EndAt(3 * bar);
    file.AddTrack().Name(0, "Violin I").Program(0, 40).Note(0, kQuarter, 70).Note(kQuarter, kHalf, 74).Note(bar, bar, 77);
    file.AddTrack().Note(0, bar, 58).Note(2 * bar, kQuarter, 46);
    file.AddTrack().Name(0, "Silent").Controller(0, 7, 100).EndAt(bar);
    return file;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

// Every failure: the right exit code, the library's message and id (or the
// usage line) on standard error, and nothing at all on standard output.
TEST(ToolErrors, ExitCodesAndMessages) {
    SKIP_WITHOUT_TOOL();
    TempFile song(SmallSong().Build());
    TempFile text(Bytes{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '\n'});
    TempFile empty(Bytes{});
    const std::string s = song.Path();
    struct Case {
        const char* what;
        std::vector<std::string> args;
        int exitCode;
        const char* message;
    } cases[] = {
        {"missing file", {"show", "/nonexistent/vastrel/song.mid"}, 1, "Couldn't open file! (error 230)"},
        {"missing file, info", {"info", "/nonexistent/vastrel/song.mid"}, 1, "(error 230)"},
        {"not a MIDI file", {"show", text.Path()}, 1, "Track header is not found! (error 262)"},
        {"empty file", {"info", empty.Path()}, 1, "MIDI buffer is empty! (error 261)"},
        {"track past the last", {"show", s, "--track", "3"}, 1, "Invalid track number! (error 256)"},
        {"track past the last, position", {"position", s, "--track", "7", "0"}, 1, "(error 256)"},
        {"resolution not a power of two", {"show", s, "--resolution", "12"}, 1,
         "Invalid value of minimum section duraton! (error 257)"},
        {"resolution too fine", {"show", s, "--resolution", "128"}, 1, "(error 257)"},
        {"resolution too coarse", {"position", s, "--track", "0", "--resolution", "1", "0"}, 1, "(error 257)"},
        {"resolution beyond a byte", {"show", s, "--resolution", "300"}, 2, "usage: vastrel"},
        {"negative track", {"show", s, "--track", "-1"}, 2, "usage: vastrel"},
        {"track not a number", {"show", s, "--track", "two"}, 2, "usage: vastrel"},
        {"transposition beyond a byte", {"show", s, "--transpose", "200"}, 2, "usage: vastrel"},
        {"no command", {}, 2, "usage: vastrel"},
        {"unknown command", {"play", s}, 2, "usage: vastrel"},
        {"no file", {"show"}, 2, "usage: vastrel"},
        {"position without a track", {"position", s, "0"}, 2, "usage: vastrel"},
        {"position without a time", {"position", s, "--track", "0"}, 2, "usage: vastrel"},
        {"time not a number", {"position", s, "--track", "0", "1.5"}, 2, "usage: vastrel"},
    };
    for (const Case& c : cases) {
        ToolRun run = RunTool(c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.what;
        EXPECT_TRUE(Contains(run.err, c.message)) << c.what << ": " << run.err;
        EXPECT_EQ(run.out, "") << c.what;
    }
}

TEST(ToolInfo, TextListsHeaderMapsAndTracks) {
    SKIP_WITHOUT_TOOL();
    TempFile song(SmallSong().Build());
    ToolRun run = RunTool({"info", song.Path()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const char* expected[] = {
        "Name             Test Song\n",
        "Format           1 (",
        "Tracks           3 to choose from",
        "Division         96 ticks per quarter note\n",
        "whole halves no, quarters yes, eighths yes",
        "  tick 0  3/4\n",
        "Bb major / G minor (2 flats)",
        "  tick 0    120 quarter notes per minute\n",
        "  tick 576  80 quarter notes per minute\n",
        "Violin I        Violin (program 40)",
        "3 notes",
        "Untitled track  Acoustic grand piano (program 0)",
        "(no notes)",
    };
    for (const char* line : expected) EXPECT_TRUE(Contains(run.out, line)) << line << "\n" << run.out;
}

TEST(ToolInfo, JsonCarriesTheFileRecordAndEachTrack) {
    SKIP_WITHOUT_TOOL();
    TempFile song(SmallSong().Build());
    json doc = JsonOf(RunTool({"info", song.Path(), "--json"}));
    const json& file = doc["file"];
    EXPECT_EQ(file["name"], "Test Song");
    EXPECT_EQ(file["format"], 1);
    EXPECT_EQ(file["tracks"], 3);
    EXPECT_EQ(file["division"], 96);
    EXPECT_EQ(file["firstTrackOffset"], 14);
    EXPECT_EQ(file["dataOffset"], 0);
    EXPECT_EQ(file["meter2"], 0);
    EXPECT_EQ(file["meter4"], 1);
    EXPECT_EQ(file["timeSignatures"], json::parse(R"([{"time":0,"numerator":3,"denominator":4}])"));
    EXPECT_EQ(file["keySignatures"], json::parse(R"([{"time":0,"key":-2}])"));
    EXPECT_EQ(file["tempos"], json::parse(R"([{"time":0,"tempo":120},{"time":576,"tempo":80}])"));

    ASSERT_EQ(doc["tracks"].size(), 3u);
    struct Expected {
        json name;
        json instrument;
        int program;
        int notes;
    } expected[] = {
        {"Violin I", "Violin", 40, 3},
        {"Untitled track", "Acoustic grand piano", 0, 2},
        {nullptr, nullptr, 0, 0},
    };
    for (size_t i = 0; i < 3; ++i) {
        const json& t = doc["tracks"][i];
        EXPECT_EQ(t["number"], i);
        EXPECT_EQ(t["name"], expected[i].name) << i;
        EXPECT_EQ(t["instrument"], expected[i].instrument) << i;
        EXPECT_EQ(t["program"], expected[i].program) << i;
        EXPECT_EQ(t["noteCount"], expected[i].notes) << i;
    }
    EXPECT_EQ(doc["tracks"][2]["measureCount"], 0);
    EXPECT_EQ(doc["tracks"][2]["endTime"], 3 * kQuarter);
}

// Names in MIDI files carry no encoding: the reports read a name that is
// not UTF-8 as Latin-1, as the score does, so that no byte of it is lost.
TEST(ToolInfo, NamesNotInUtf8AreReadAsLatin1) {
    SKIP_WITHOUT_TOOL();
    MidiFile file;
    file.Conductor().Name(0, "Pr\xe4ludium");
    file.AddTrack().Name(0, "Fl\xf6te").Note(0, kQuarter, 72);
    file.AddTrack().Name(0, "Caf\xc3\xa9").Note(0, kQuarter, 60);
    TempFile midi(file.Build());
    json doc = JsonOf(RunTool({"info", midi.Path(), "--json"}));
    EXPECT_EQ(doc["file"]["name"], "Pr\xc3\xa4ludium");
    EXPECT_EQ(doc["tracks"][0]["name"], "Fl\xc3\xb6te");
    EXPECT_EQ(doc["tracks"][1]["name"], "Caf\xc3\xa9");
    ToolRun text = RunTool({"info", midi.Path()});
    EXPECT_TRUE(Contains(text.out, "Pr\xc3\xa4ludium")) << text.out;
    EXPECT_TRUE(Contains(text.out, "Fl\xc3\xb6te")) << text.out;
    ToolRun show = RunTool({"show", midi.Path()});
    EXPECT_TRUE(Contains(show.out, "Pr\xc3\xa4ludium, track 0: Fl\xc3\xb6te")) << show.out;
}

// A format 0 file: the sixteen channels are the tracks, named by channel.
TEST(ToolInfo, FormatZeroListsChannels) {
    SKIP_WITHOUT_TOOL();
    MidiFile file(96, 0);
    file.Conductor().Note(0, kQuarter, 60, 2).Note(kQuarter, kQuarter, 64, 9);
    TempFile midi(file.Build());
    json doc = JsonOf(RunTool({"info", midi.Path(), "--json"}));
    ASSERT_EQ(doc["tracks"].size(), 16u);
    EXPECT_EQ(doc["tracks"][2]["name"], "Channel 03");
    EXPECT_EQ(doc["tracks"][9]["name"], "Channel 10");
    EXPECT_EQ(doc["tracks"][0]["name"], nullptr);
}

// Every record of the parsed track appears with all its keys, and the
// fields the measures fix hold what the file says.
TEST(ToolShow, JsonHasEveryRecordAndField) {
    SKIP_WITHOUT_TOOL();
    TempFile song(SmallSong().Build());
    json doc = JsonOf(RunTool({"show", song.Path(), "--track", "0", "--json"}));
    EXPECT_EQ(doc["file"]["name"], "Test Song");
    const json& track = doc["track"];
    EXPECT_EQ(track["name"], "Violin I");
    EXPECT_EQ(track["instrument"], "Violin");
    EXPECT_EQ(track["resolution"], 16);
    EXPECT_EQ(track["noteCount"], 3);
    ASSERT_EQ(track["measureCount"], 2);
    const json measures = StaffMeasures(track);
    ASSERT_EQ(measures.size(), 2u);

    const json& first = measures[0];
    EXPECT_EQ(first["number"], 1);
    EXPECT_EQ(first["time"], 0);
    EXPECT_EQ(first["numerator"], 3);
    EXPECT_EQ(first["denominator"], 4);
    EXPECT_EQ(first["key"], -2);
    EXPECT_EQ(first["tempo"], 120);
    EXPECT_EQ(measures[1]["time"], 3 * kQuarter);
    EXPECT_EQ(MeasurePitches(first), (std::vector<int>{70, 74}));
    EXPECT_EQ(MeasurePitches(measures[1]), (std::vector<int>{77}));

    const char* measureKeys[] = {"number", "time", "clef", "clefInForce", "numerator", "denominator", "key",
                                 "keyAccidentals", "tempo", "voices", "sectionCount", "tiedOut", "sections"};
    const char* sectionKeys[] = {"index", "arrayIndex", "time", "headsLeft", "chords", "rawNotes"};
    const char* chordKeys[] = {"voice", "value", "valueLog2", "dotted", "stemUp", "beamPrev", "beamNext",
                               "restStep", "sharedRest", "position", "mark", "notes"};
    const char* noteKeys[] = {"name", "step", "accidental", "pitch", "value", "dotted",
                              "tieIn", "tieOut", "headFlipped", "string", "fret"};
    size_t notes = 0;
    for (const json& m : measures) {
        for (const char* k : measureKeys) EXPECT_TRUE(m.contains(k)) << k;
        EXPECT_EQ(m["sections"].size(), m["sectionCount"].get<size_t>());
        for (const json& s : m["sections"]) {
            for (const char* k : sectionKeys) EXPECT_TRUE(s.contains(k)) << k;
            EXPECT_EQ(s["chords"].size(), m["voices"].get<size_t>());
            for (const json& c : s["chords"]) {
                for (const char* k : chordKeys) EXPECT_TRUE(c.contains(k)) << k;
                for (const json& n : c["notes"]) {
                    ++notes;
                    for (const char* k : noteKeys) EXPECT_TRUE(n.contains(k)) << k;
                }
            }
        }
    }
    EXPECT_GE(notes, 3u);
}

// Written names come back from staff steps in whatever clef the measure is
// drawn in: a scale around middle C, then one deep in the bass.
TEST(ToolShow, NoteNamesFollowStepAndClef) {
    SKIP_WITHOUT_TOOL();
    MidiFile file;
    const uint8_t treble[] = {60, 62, 64, 66, 67, 69, 71, 72};
    const uint8_t bass[] = {36, 38, 40, 41, 43, 45, 47, 48};
    MidiTrack& t = file.AddTrack();
    for (uint32_t i = 0; i < 8; ++i) t.Note(i * kEighth, kEighth, treble[i]);
    for (uint32_t i = 0; i < 8; ++i) t.Note(kWhole + i * kEighth, kEighth, bass[i]);
    TempFile midi(file.Build());
    json doc = JsonOf(RunTool({"show", midi.Path(), "--json"}));
    const json measures = StaffMeasures(doc["track"]);
    ASSERT_EQ(measures.size(), 2u);

    std::map<int, std::string> names;
    for (const json& m : measures)
        for (const json& s : m["sections"])
            for (const json& c : s["chords"])
                for (const json& n : c["notes"]) names[n["pitch"].get<int>()] = n["name"].get<std::string>();
    std::map<int, std::string> expected = {
        {60, "C4"}, {62, "D4"}, {64, "E4"}, {66, "F#4"}, {67, "G4"}, {69, "A4"}, {71, "B4"}, {72, "C5"},
        {36, "C2"}, {38, "D2"}, {40, "E2"}, {41, "F2"}, {43, "G2"}, {45, "A2"}, {47, "B2"}, {48, "C3"},
    };
    EXPECT_EQ(names, expected);
    EXPECT_EQ(measures[0]["clefInForce"], 1);
    EXPECT_EQ(measures[1]["clefInForce"], 2);

    ToolRun text = RunTool({"show", midi.Path()});
    EXPECT_TRUE(Contains(text.out, "F#4(66")) << text.out;
    EXPECT_TRUE(Contains(text.out, "C2(36")) << text.out;
    EXPECT_TRUE(Contains(text.out, "bass clef")) << text.out;
}

// The text form: a heading per measure with what it shows, a beat row and a
// row per voice; ties, rests and the track without notes.
TEST(ToolShow, TextShowsMeasuresVoicesTiesAndRests) {
    SKIP_WITHOUT_TOOL();
    MidiFile file;
    file.Conductor().Name(0, "Tied").KeySignature(0, 1).Tempo(0, 600000).TimeSignature(kWhole, 2, 2);
    // A half note on beat 3 held over the bar line, then silence.
    file.AddTrack().Name(0, "Line").Note(0, kQuarter, 67).Note(kHalf, kHalf + kQuarter, 74).EndAt(kWhole + kHalf);
    file.AddTrack().Controller(0, 7, 90);
    TempFile midi(file.Build());

    ToolRun run = RunTool({"show", midi.Path()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const char* expected[] = {
        "Tied, track 0: Line\n",
        "Measure 1 at tick 0: 4/4, key G major / E minor (1 sharp): F#5, tempo 100, treble clef",
        "tied over the bar line",
        "Measure 2 at tick 384: 2/4",
        "  beat     1",
        "  voice 1  G4(67",
        "D5(74",
        ")~/2",       // tied out of measure 1
        "~D5(74",     // tied into measure 2
        "R/",         // the silence after it
    };
    for (const char* part : expected) EXPECT_TRUE(Contains(run.out, part)) << part << "\n" << run.out;

    ToolRun silent = RunTool({"show", midi.Path(), "--track", "1"});
    EXPECT_EQ(silent.exitCode, 0);
    EXPECT_TRUE(Contains(silent.out, "Track 1 has no notes")) << silent.out;
}

// Transposition moves every pitch and the key with it.
TEST(ToolShow, TransposeMovesPitchesAndKey) {
    SKIP_WITHOUT_TOOL();
    TempFile song(SmallSong().Build());
    struct Case {
        const char* transpose;
        std::vector<int> pitches;
        int key;
    } cases[] = {
        {"0", {70, 74}, -2},
        {"2", {72, 76}, 0},
        {"-3", {67, 71}, 1},
    };
    for (const Case& c : cases) {
        json doc = JsonOf(RunTool({"show", song.Path(), "--transpose", c.transpose, "--json"}));
        const json first = StaffMeasures(doc["track"])[0];
        EXPECT_EQ(MeasurePitches(first), c.pitches) << c.transpose;
        EXPECT_EQ(first["key"], c.key) << c.transpose;
        EXPECT_EQ(doc["track"]["transpose"], std::atoi(c.transpose));
    }
}

// Playback times (768 per quarter) against a 4/4 track of running
// sixteenths at division 96, where every section is kept.
TEST(ToolPosition, TimesMapToMeasureSectionAndFraction) {
    SKIP_WITHOUT_TOOL();
    MidiFile file;
    MidiTrack& t = file.AddTrack();
    for (uint32_t i = 0; i < 32; ++i) t.Note(i * kSixteenth, kSixteenth, static_cast<uint8_t>(60 + i % 5));
    TempFile midi(file.Build());
    struct Case {
        long time;
        int measure;
        int section;
        double fraction;
    } cases[] = {
        {-50, 1, 0, 0.0},         // before the start
        {0, 1, 0, 0.0},
        {96, 1, 0, 0.5},          // half a sixteenth
        {192, 1, 1, 0.0},         // the second sixteenth
        {3072 + 576, 2, 3, 0.0},  // one whole, then three sixteenths
        {3072 + 624, 2, 3, 0.25},
        {6144, 2, 15, 1.0},       // the end of the track
        {99999, 2, 15, 1.0},
    };
    std::vector<std::string> args = {"position", midi.Path(), "--track", "0", "--json"};
    for (const Case& c : cases) args.push_back(std::to_string(c.time));
    json doc = JsonOf(RunTool(args));
    ASSERT_EQ(doc["positions"].size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        const json& p = doc["positions"][i];
        EXPECT_EQ(p["musicTime"], cases[i].time);
        EXPECT_EQ(p["measure"], cases[i].measure) << cases[i].time;
        EXPECT_EQ(p["section"], cases[i].section) << cases[i].time;
        EXPECT_NEAR(p["fraction"].get<double>(), cases[i].fraction, 1e-6) << cases[i].time;
    }

    ToolRun text = RunTool({"position", midi.Path(), "--track", "0", "96"});
    EXPECT_EQ(text.exitCode, 0);
    EXPECT_TRUE(Contains(text.out, "time 96: measure 1 (tick 0), section 0 (tick 0), fraction 0.5\n")) << text.out;
}

TEST(ToolPosition, TrackWithoutNotesHasNoMeasure) {
    SKIP_WITHOUT_TOOL();
    TempFile song(SmallSong().Build());
    json doc = JsonOf(RunTool({"position", song.Path(), "--track", "2", "--json", "0"}));
    EXPECT_EQ(doc["positions"][0]["measure"], nullptr);
    ToolRun text = RunTool({"position", song.Path(), "--track", "2", "0"});
    EXPECT_TRUE(Contains(text.out, "time 0: no measure")) << text.out;
}

// show, position and musicxml read the readable notation unless --classic
// asks for the classic model; the JSON and the text say which.
TEST(ToolNotation, ReadableByDefaultClassicOnRequest) {
    SKIP_WITHOUT_TOOL();
    TempFile song(SmallSong().Build());
    struct Case {
        std::vector<std::string> extra;
        const char* notation;
    } cases[] = {{{}, "readable"}, {{"--classic"}, "classic"}};
    for (const Case& c : cases) {
        std::vector<std::string> args = {"show", song.Path(), "--json"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        json doc = JsonOf(RunTool(args));
        EXPECT_EQ(doc["notation"], c.notation);
        const json& track = doc["track"];
        const bool readable = std::string(c.notation) == "readable";
        // The readable notation lists staves and does not repeat the measures beside them.
        EXPECT_EQ(track.contains("staves"), readable) << c.notation;
        EXPECT_EQ(track.contains("measures"), !readable) << c.notation;
        if (readable) {
            ASSERT_EQ(track["staves"].size(), 1u);
            EXPECT_EQ(track["staves"][0]["staff"], 1);
        }
        const json measures = StaffMeasures(track);
        ASSERT_EQ(measures.size(), 2u) << c.notation;
        EXPECT_EQ(MeasurePitches(measures[0]), (std::vector<int>{70, 74})) << c.notation;

        args = {"show", song.Path()};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        ToolRun text = RunTool(args);
        EXPECT_TRUE(Contains(text.out, std::string("Notation    ") + c.notation + "\n")) << text.out;

        // One staff for now: position prints the same in both notations.
        args = {"position", song.Path(), "--track", "0", "0", "300", "900"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        ToolRun position = RunTool(args);
        EXPECT_EQ(position.exitCode, 0) << position.err;
        EXPECT_TRUE(Contains(position.out, "time 900: measure 1 (tick 0), section")) << position.out;

        args = {"musicxml", song.Path(), "--track", "0"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        ToolRun musicxml = RunTool(args);
        EXPECT_EQ(musicxml.exitCode, 0) << musicxml.err;
        EXPECT_TRUE(Contains(musicxml.out, "<score-partwise")) << c.notation;
    }
}

// A piano part on a grand staff: show prints and lists both staves,
// position answers for each, the classic model keeps one staff.
TEST(ToolNotation, GrandStaffShownAndLookedUpPerStaff) {
    SKIP_WITHOUT_TOOL();
    MidiFile file;
    MidiTrack& t = file.AddTrack();
    for (uint32_t i = 0; i < 16; ++i) t.Note(i * kEighth, kEighth, static_cast<uint8_t>(i % 2 ? 76 : 72));
    for (uint32_t i = 0; i < 4; ++i) t.Note(i * kHalf, kHalf, static_cast<uint8_t>(i % 2 ? 43 : 48));
    TempFile midi(file.Build());
    json doc = JsonOf(RunTool({"show", midi.Path(), "--json"}));
    const json& staves = doc["track"]["staves"];
    ASSERT_EQ(staves.size(), 2u);
    EXPECT_EQ(staves[0]["staff"], 1);
    EXPECT_EQ(staves[1]["staff"], 2);
    ASSERT_EQ(staves[0]["measures"].size(), staves[1]["measures"].size());
    EXPECT_EQ(staves[1]["measures"][0]["clef"], kClefBass);
    EXPECT_EQ(MeasurePitches(staves[1]["measures"][0]), (std::vector<int>{43, 48}));
    ToolRun text = RunTool({"show", midi.Path()});
    EXPECT_TRUE(Contains(text.out, "Upper staff\n") && Contains(text.out, "Lower staff\n")) << text.out;
    EXPECT_FALSE(Contains(RunTool({"show", midi.Path(), "--classic"}).out, "Lower staff"));

    // 900 of 768 a quarter: the upper staff's third eighth, the lower's first half.
    json position = JsonOf(RunTool({"position", midi.Path(), "--track", "0", "--json", "0", "900"}));
    ASSERT_EQ(position["positions"].size(), 2u);
    ASSERT_EQ(position["staves"].size(), 2u);
    EXPECT_EQ(position["staves"][0]["positions"], position["positions"]);
    const json& lower = position["staves"][1]["positions"];
    EXPECT_EQ(position["positions"][1]["sectionTime"], 96);
    EXPECT_EQ(lower[1]["measure"], 1);
    EXPECT_EQ(lower[1]["sectionTime"], 96);  // a half note's staff keeps its beats
    ToolRun lines = RunTool({"position", midi.Path(), "--track", "0", "900"});
    EXPECT_TRUE(Contains(lines.out, "time 900: upper staff, measure 1") && Contains(lines.out, "time 900: lower staff, measure 1"))
        << lines.out;
}

// A format 1 file whose only chunk holds the music: the readable notation
// offers that chunk as track 0, the classic model no track at all.
TEST(ToolNotation, SingleChunkFileIsOneTrackUnlessClassic) {
    SKIP_WITHOUT_TOOL();
    MidiFile file;
    file.Conductor().Name(0, "Solo").TimeSignature(0, 3, 2).Note(0, kQuarter, 67).Note(kQuarter, kHalf, 72);
    TempFile midi(file.Build());
    const std::string path = midi.Path();

    json info = JsonOf(RunTool({"info", path, "--json"}));
    EXPECT_EQ(info["file"]["tracks"], 0);  // the file's own count, as the classic model keeps it
    EXPECT_EQ(info["file"]["tracksOffered"], 1);
    ASSERT_EQ(info["tracks"].size(), 1u);
    EXPECT_EQ(info["tracks"][0]["noteCount"], 2);
    ToolRun infoText = RunTool({"info", path});
    EXPECT_TRUE(Contains(infoText.out, "Tracks           1 to choose from")) << infoText.out;
    EXPECT_TRUE(Contains(infoText.out, "  0  Solo")) << infoText.out;

    struct Case {
        std::vector<std::string> args;
        int exitCode;
        const char* found;  // on standard output, or standard error when the run fails
    } cases[] = {
        {{"show", path}, 0, "Size        1 measure, 12 sections, 2 notes"},
        {{"show", path, "--classic"}, 1, "Invalid track number! (error 256)"},
        {{"position", path, "--track", "0", "768"}, 0, "time 768: measure 1 (tick 0), section 1"},
        {{"position", path, "--track", "0", "--classic", "768"}, 1, "(error 256)"},
        {{"musicxml", path}, 0, "<part-name>Solo</part-name>"},
        {{"musicxml", path, "--track", "0", "--classic"}, 1, "(error 256)"},
    };
    for (const Case& c : cases) {
        ToolRun run = RunTool(c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.args[0] << " " << c.args.back();
        EXPECT_TRUE(Contains(c.exitCode ? run.err : run.out, c.found)) << run.out << run.err;
    }
}

// A file without key signatures: the readable notation says its key was
// estimated from the notes, on the track and on every measure beside the
// key; the classic model keeps C major and estimates nothing.
TEST(ToolNotation, EstimatedKeyIsMarked) {
    SKIP_WITHOUT_TOOL();
    MidiFile file;
    MidiTrack& music = file.AddTrack();
    const uint8_t tune[] = {63, 67, 70, 67, 68, 72, 75, 72, 70, 74, 77, 74, 63, 67, 70, 75};  // E flat major
    for (uint32_t i = 0; i < sizeof tune; ++i) music.Note(i * kQuarter, kQuarter, tune[i]);
    TempFile midi(file.Build());
    struct Case {
        std::vector<std::string> extra;
        bool estimated;
        int key;
    } cases[] = {{{}, true, -3}, {{"--classic"}, false, 0}};
    for (const Case& c : cases) {
        std::vector<std::string> args = {"show", midi.Path(), "--json"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const json track = JsonOf(RunTool(args))["track"];
        EXPECT_EQ(track["keyEstimated"], c.estimated);
        for (const json& measure : StaffMeasures(track)) {
            EXPECT_EQ(measure["key"], c.key);
            EXPECT_EQ(measure["keyEstimated"], c.estimated);
        }
        args = {"show", midi.Path()};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        EXPECT_EQ(Contains(RunTool(args).out, "Key         estimated from the notes"), c.estimated);
    }
}
