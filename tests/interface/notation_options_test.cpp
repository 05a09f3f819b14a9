// The readable notation's call: how much of the caller's options record is
// read, what a null record means, that every option off builds the classic
// model, and the format 1 file whose only chunk holds the music.
#include "../support/test_support.h"

#include <dirent.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <sstream>

namespace {

// ---- Files -------------------------------------------------------------------------

// A format 1 file whose one chunk is the conductor and the music: a quarter
// note in 4/4, ending where the note ends.
MidiFile SingleChunkFile() {
    MidiFile file;
    file.Conductor().Name(0, "Solo").TimeSignature(0, 4, 2).Note(0, kQuarter, 67);
    return file;
}

// Small files of the kinds the classic rules decide: ties over bar lines,
// held notes under moving ones, chords of several values, format 0 channels.
std::vector<MidiFile> VariedFiles() {
    std::vector<MidiFile> files;
    {
        MidiFile file;  // 3/4, a half note tied over the bar line under running eighths
        file.Conductor().TimeSignature(0, 3, 2).KeySignature(0, -2);
        MidiTrack& t = file.AddTrack();
        t.Note(kQuarter, kHalf + kQuarter, 55);
        for (uint32_t i = 0; i < 12; ++i) t.Note(i * kEighth, kEighth, static_cast<uint8_t>(72 + i % 4));
        file.AddTrack().Chord(0, 3 * kQuarter, {48, 52}).Chord(3 * kQuarter, kHalf, {43, 47, 50});
        files.push_back(file);
    }
    {
        MidiFile file;  // a higher note of another value over a tied chord note
        MidiTrack& t = file.AddTrack();
        t.Chord(0, kWhole + kQuarter, {60, 64}).Note(kQuarter, kEighth, 72).Note(kHalf + kEighth, kWhole, 71);
        t.Note(kWhole + kHalf, kSixteenth, 79).EndAt(3 * kWhole);
        files.push_back(file);
    }
    {
        MidiFile file(96, 0);  // format 0: two channels and the drums
        file.Conductor().Note(0, kHalf, 60, 2).Note(kSixteenth, kQuarter + kEighth, 64, 5);
        file.Conductor().Note(0, kSixteenth, 36, 9).Note(kHalf, kSixteenth, 38, 9);
        files.push_back(file);
    }
    return files;
}

// Every field a caller reads of a track, one line per record, so that two
// models compare as text and a difference shows where it lies.
std::string ModelText(const STrack* track) {
    std::ostringstream out;
    out << "track " << (track->pszName ? track->pszName : "(null)") << " | "
        << (track->pszInstrument ? track->pszInstrument : "(null)") << " " << track->nMeasures << " "
        << track->nSections << " " << track->nNotes << " " << int(track->bProgram) << " " << int(track->bResolution)
        << " " << track->dwEndTime << "\n";
    for (const SMeasure* m = track->pFirstMeasure; m; m = m->pNext) {
        out << "measure " << m->dwTime << " clef " << m->nClef << " " << int(m->bNumerator) << "/"
            << int(m->bDenominator) << " key " << int(m->cKey) << " tempo " << m->wTempo << " voices "
            << int(m->bVoices) << " sections " << int(m->bSections) << " tied " << int(m->bTiedOut);
        for (const SKeyAccidental* g = m->pKeyAccidentals; g; g = g->pNext)
            out << " glyph " << g->nKind << "@" << int(g->bPosition);
        out << "\n";
        for (const SSection* s = m->pSections; s; s = s->pNext) {
            out << " section " << s->dwTime << " left " << int(s->bHeadsLeft) << " raw " << (s->pRawNotes != nullptr)
                << "\n";
            for (const SChord* c = s->pChords; c; c = c->pNext) {
                out << "  chord v" << int(c->bVoice) << " 1/" << int(c->bValue) << " log " << int(c->bValueLog2)
                    << " dot " << int(c->bDotted) << " up " << int(c->bStemUp) << " beam " << int(c->bBeamPrev)
                    << int(c->bBeamNext) << " rest " << int(c->bRestStep) << " shared " << int(c->bSharedRest)
                    << " at " << c->dPosition << "\n";
                const SNote* before = nullptr;
                for (const SNote* n = c->pNotes; n; before = n, n = n->pNext)
                    out << "   note " << int(n->bPitch) << " step " << int(n->cStep) << " acc " << n->nAccidental
                        << " 1/" << int(n->bValue) << " dot " << int(n->bDotted) << " tie " << int(n->bTieIn)
                        << int(n->bTieOut) << " flip " << int(n->bHeadFlipped) << " s" << int(n->bString) << "f"
                        << int(n->bFret) << " back " << (n->pPrev == before) << "\n";
            }
        }
    }
    return out.str();
}

// A parse of any kind, released at the end of the scope.
using ParsedTrack = std::unique_ptr<STrack, void (*)(STrack*)>;
ParsedTrack Parsed(STrack* track) { return ParsedTrack(track, VSX_ReleaseTrack); }

SNotationOptions EveryOptionOff() {
    SNotationOptions options = {};
    options.cbSize = sizeof options;
    return options;
}

// Corpus files, the first few by name ("" entries when there is no corpus).
std::vector<std::string> SomeCorpusFiles(size_t count) {
    std::vector<std::string> paths;
    const std::string folder = CorpusDirectory();
    if (folder.empty()) return paths;
    DIR* dir = opendir(folder.c_str());
    if (!dir) return paths;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".mid") == 0) paths.push_back(folder + "/" + name);
    }
    closedir(dir);
    std::sort(paths.begin(), paths.end());
    if (paths.size() > count) paths.resize(count);
    return paths;
}

}  // namespace

// ---- The options record ------------------------------------------------------------

// The caller's record is read no further than its cbSize says, nor than the
// library's own record: each case puts the record at the very end of a block
// of exactly the bytes the caller declares (the sanitised build sees any read
// past it), with both flags set, and looks at the second flag, the one the
// single-chunk file shows.
TEST(NotationOptions, OnlyTheRecordsDeclaredBytesAreRead) {
    ScopedMidi midi(SingleChunkFile());
    struct Case {
        uint32_t cbSize;
        size_t blockBytes;  // what the caller's record really holds
        unsigned short tracks;
    } cases[] = {
        {0, sizeof(uint32_t), 0},                               // no field counted: all off
        {4, sizeof(uint32_t), 0},                               // the size alone
        {5, 5, 0},                                              // the first flag only
        {6, 6, 1},                                              // both flags
        {sizeof(SNotationOptions), sizeof(SNotationOptions), 1},
        {sizeof(SNotationOptions) + 8, sizeof(SNotationOptions) + 8, 1},  // a newer caller's longer record
        {0xFFFFFFFFu, sizeof(SNotationOptions), 1},             // a size beyond reason reads the library's own
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> block(c.blockBytes, 0xFF);  // flags, and fields unknown here, all set
        memcpy(block.data(), &c.cbSize, sizeof c.cbSize);
        const SNotationOptions* options = reinterpret_cast<const SNotationOptions*>(block.data());
        EXPECT_EQ(VSX_CountTracks(midi.get(), options), c.tracks) << "cbSize " << c.cbSize;
        int error = ErrorIdOf([&] { Parsed(VSX_ParseTrackWithOptions(midi.get(), 0, 16, 0, options)); });
        EXPECT_EQ(error, c.tracks ? 0 : 256) << "cbSize " << c.cbSize;
    }
}

// A null record is the preset; the preset turns every option on; any byte
// but 0 turns an option on.
TEST(NotationOptions, NullIsThePresetAndAnyNonZeroByteIsOn) {
    const SNotationOptions preset = VSX_ReadableOptions();
    EXPECT_EQ(preset.cbSize, sizeof(SNotationOptions));
    EXPECT_EQ(preset.bVoicesKeepTies, 1);
    EXPECT_EQ(preset.bConductorChunkAsTrack, 1);

    ScopedMidi midi(SingleChunkFile());
    SNotationOptions two = EveryOptionOff();
    two.bConductorChunkAsTrack = 2;
    struct Case {
        const char* what;
        const SNotationOptions* options;
        unsigned short tracks;
    } cases[] = {
        {"null", nullptr, 1},
        {"preset", &preset, 1},
        {"a flag of 2", &two, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(VSX_CountTracks(midi.get(), c.options), c.tracks) << c.what;
        ParsedTrack track = Parsed(VSX_ParseTrackWithOptions(midi.get(), 0, 16, 0, c.options));
        EXPECT_EQ(track->nNotes, 1) << c.what;
    }
}

// The new call checks its arguments as VSX_ParseTrack does, in the same
// order and with the same messages; VSX_CountTracks wants a prepared file.
TEST(NotationOptions, ArgumentsAreCheckedAsTheClassicCallChecksThem) {
    MidiFile file;
    file.AddTrack().Note(0, kQuarter, 72);
    file.AddTrack().Note(0, kHalf, 48);
    ScopedMidi midi(file);
    const SNotationOptions preset = VSX_ReadableOptions();
    struct Case {
        SMidiFile* file;
        unsigned short track;
        unsigned char resolution;
    } cases[] = {
        {nullptr, 0, 16}, {midi.get(), 2, 16}, {midi.get(), 2, 1}, {midi.get(), 0, 1}, {midi.get(), 0, 12},
        {midi.get(), 0, 128}, {midi.get(), 1, 2}, {midi.get(), 0, 64},
    };
    for (const Case& c : cases) {
        int classic = ErrorIdOf([&] { Parsed(VSX_ParseTrack(c.file, c.track, c.resolution, 0)); });
        int readable = ErrorIdOf([&] { Parsed(VSX_ParseTrackWithOptions(c.file, c.track, c.resolution, 0, &preset)); });
        EXPECT_EQ(readable, classic) << c.track << " " << int(c.resolution);
    }
    EXPECT_EQ(ErrorIdOf([&] { VSX_CountTracks(nullptr, &preset); }), 255);
    EXPECT_EQ(VSX_CountTracks(midi.get(), &preset), 2);
}

// ---- Every option off: the classic model ---------------------------------------------

// With every option off (and with a record too short to turn any on), the
// call builds exactly the classic model, field for field, and rewrites the
// last track's end-of-track event as the classic call does.
TEST(NotationOptions, EveryOptionOffBuildsTheClassicModel) {
    const SNotationOptions off = EveryOptionOff();
    SNotationOptions sizeOnly = VSX_ReadableOptions();
    sizeOnly.cbSize = sizeof(uint32_t);
    std::vector<Bytes> inputs;
    for (const MidiFile& file : VariedFiles()) inputs.push_back(file.Build());
    for (const std::string& path : SomeCorpusFiles(6)) {
        Bytes bytes;
        FILE* f = fopen(path.c_str(), "rb");
        ASSERT_NE(f, nullptr) << path;
        for (int c; (c = fgetc(f)) != EOF;) bytes.push_back(static_cast<uint8_t>(c));
        fclose(f);
        if (LoadErrorOf(bytes) == 0) inputs.push_back(bytes);  // a file the library refuses has no model
    }
    for (size_t i = 0; i < inputs.size(); ++i) {
        ASSERT_EQ(LoadErrorOf(inputs[i]), 0) << "input " << i;
        for (const SNotationOptions* options : {&off, static_cast<const SNotationOptions*>(&sizeOnly)}) {
            ScopedMidi classic(inputs[i]);
            ScopedMidi readable(inputs[i]);
            ASSERT_EQ(VSX_CountTracks(readable.get(), options), classic->wTracks);
            for (unsigned short t = 0; t < classic->wTracks; ++t) {
                std::string expected, got;
                int classicError = ErrorIdOf([&] { expected = ModelText(Parsed(VSX_ParseTrack(classic.get(), t, 16, 0)).get()); });
                int readableError = ErrorIdOf(
                    [&] { got = ModelText(Parsed(VSX_ParseTrackWithOptions(readable.get(), t, 16, 0, options)).get()); });
                EXPECT_EQ(readableError, classicError) << "input " << i << ", track " << t;
                EXPECT_EQ(got, expected) << "input " << i << ", track " << t;
            }
            EXPECT_EQ(Bytes(readable->pBuffer, readable->pBuffer + readable->nFileSize),
                      Bytes(classic->pBuffer, classic->pBuffer + classic->nFileSize))
                << "input " << i;
        }
    }
}

// ---- The single-chunk file -----------------------------------------------------------

// Format 1 with one chunk that holds notes: the classic model offers no
// track and refuses track 0 with its message; the readable notation offers
// the chunk as track 0, and lengthens its end-of-track event to the bar line
// as it does the last track's. Files that do not qualify offer what they did.
TEST(NotationOptions, ASingleChunkOfMusicIsTrackZeroInTheReadableNotationOnly) {
    ScopedMidi midi(SingleChunkFile());
    EXPECT_EQ(midi->wTracks, 0);
    const SNotationOptions off = EveryOptionOff();
    EXPECT_EQ(VSX_CountTracks(midi.get(), &off), 0);
    try {
        VSX_ParseTrack(midi.get(), 0, 16, 0);
        ADD_FAILURE() << "the classic call parsed track 0";
    } catch (const CVastrelException& e) {
        EXPECT_EQ(e.nMessageId, 256);
        EXPECT_STREQ(e.szMessage, "Invalid track number!");
    }
    EXPECT_EQ(ErrorIdOf([&] { Parsed(VSX_ParseTrackWithOptions(midi.get(), 0, 16, 0, &off)); }), 256);

    EXPECT_EQ(VSX_CountTracks(midi.get(), nullptr), 1);
    const Bytes before(midi->pBuffer, midi->pBuffer + midi->nFileSize);
    {
        ParsedTrack track = Parsed(VSX_ParseTrackWithOptions(midi.get(), 0, 16, 0, nullptr));
        EXPECT_STREQ(track->pszName, "Solo");
        EXPECT_EQ(track->nNotes, 1);
        EXPECT_EQ(track->nMeasures, 1);
        EXPECT_EQ(track->dwEndTime, kWhole);  // the end-of-track event moved to the bar line
        ASSERT_NE(track->pFirstMeasure, nullptr);
        EXPECT_EQ(track->pFirstMeasure->bNumerator, 4);
    }
    EXPECT_NE(Bytes(midi->pBuffer, midi->pBuffer + midi->nFileSize), before);
    {
        // Read again after the rewrite: the same track.
        ParsedTrack again = Parsed(VSX_ParseTrackWithOptions(midi.get(), 0, 16, 0, nullptr));
        EXPECT_EQ(again->dwEndTime, kWhole);
    }
    EXPECT_EQ(ErrorIdOf([&] { Parsed(VSX_ParseTrackWithOptions(midi.get(), 1, 16, 0, nullptr)); }), 256);

    struct Case {
        const char* what;
        MidiFile file;
        unsigned short tracks;
    };
    std::vector<Case> others;
    others.push_back({"a conductor without notes", MidiFile(), 0});
    others.back().file.Conductor().Tempo(0, 500000).Controller(0, 7, 100);
    others.push_back({"a conductor with notes before a music chunk", SingleChunkFile(), 1});
    others.back().file.AddTrack().Note(0, kHalf, 48);
    others.push_back({"format 0", MidiFile(96, 0), 16});
    others.back().file.Conductor().Note(0, kQuarter, 60);
    for (const Case& c : others) {
        ScopedMidi other(c.file);
        EXPECT_EQ(VSX_CountTracks(other.get(), nullptr), c.tracks) << c.what;
        EXPECT_EQ(VSX_CountTracks(other.get(), &off), c.tracks) << c.what;
    }
}
