// The exported calls: argument checks in their order, the chunk walk, the
// messages and texts of every failure, and what a failed call leaves behind.
#include "../support/test_support.h"

#include <string.h>

#include "../../core/errors.h"
#include "../../core/module_state.h"
#include "../../platform/fault_injection.h"
#include "../../platform/platform.h"
#include "../../smf/event_stream.h"

namespace {

MidiFile TwoTrackFile() {
    MidiFile file;
    file.AddTrack().Name(0, "Right hand").Note(0, kQuarter, 72);
    file.AddTrack().Name(0, "Left hand").Note(0, kHalf, 48);
    return file;
}

TEST(ParseTrack, ArgumentsAreCheckedInOrder) {
    ScopedMidi midi(TwoTrackFile());
    struct Case {
        unsigned short track;
        unsigned char resolution;
        int error;
    };
    const Case cases[] = {
        {2, 16, 256},  // past the last track
        {2, 1, 256},   // the track number is tested before the resolution
        {0, 1, 257},
        {0, 65, 257},
        {0, 0, 257},
        {0, 12, 257},  // not a power of two: no grid halves down to it
        {0, 48, 257},
        {0, 2, 0},
        {1, 64, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ErrorIdOf([&] { VSX_ReleaseTrack(VSX_ParseTrack(midi.get(), c.track, c.resolution, 0)); }), c.error)
            << c.track << " " << int(c.resolution);
    }
}

TEST(ParseTrack, AFileWithoutSelectableTracksRefusesEveryNumber) {
    MidiFile file;  // the conductor only
    ScopedMidi midi(file);
    EXPECT_EQ(midi->wTracks, 0);
    EXPECT_EQ(ErrorIdOf([&] { VSX_ParseTrack(midi.get(), 0, 16, 0); }), 256);
}

TEST(ParseTrack, ANullFileOrOneWithoutFirstTrackIsNotPrepared) {
    EXPECT_EQ(ErrorIdOf([&] { VSX_ParseTrack(nullptr, 0, 16, 0); }), 255);
    ScopedMidi midi(TwoTrackFile());
    unsigned char* first = midi->pFirstTrack;
    midi->pFirstTrack = nullptr;
    EXPECT_EQ(ErrorIdOf([&] { VSX_ParseTrack(midi.get(), 0, 16, 0); }), 255);
    midi->pFirstTrack = first;
}

TEST(ParseTrack, TheChunkWalkRefusesWhatIsNoTrack) {
    MidiFile file = TwoTrackFile();
    Bytes bytes = file.Build();
    // The second chunk (track 0) is renamed: walking to track 1 passes over it.
    size_t second = 14 + 8 + ReadBigEndian32(bytes.data() + 14 + 4);
    Bytes renamed = bytes;
    memcpy(&renamed[second], "XTrk", 4);
    {
        ScopedMidi midi(renamed);
        EXPECT_EQ(ErrorIdOf([&] { VSX_ParseTrack(midi.get(), 1, 16, 0); }), 258);
        EXPECT_EQ(ErrorIdOf([&] { VSX_ParseTrack(midi.get(), 0, 16, 0); }), 258);
    }
    // A chunk length that points past the data, and a header that promises
    // more chunks than there are.
    Bytes tooLong = bytes;
    tooLong[second + 4] = 0x7F;
    {
        ScopedMidi midi(tooLong);
        EXPECT_EQ(ErrorIdOf([&] { VSX_ParseTrack(midi.get(), 1, 16, 0); }), 258);
    }
    MidiFile promising = TwoTrackFile();
    promising.DeclareTracks(5);
    ScopedMidi midi(promising);
    EXPECT_EQ(ErrorIdOf([&] { VSX_ParseTrack(midi.get(), 3, 16, 0); }), 258);
}

TEST(ParseTrack, ATrackWithoutNotesHasOnlyItsEndTimeAndHeap) {
    MidiFile file;
    file.AddTrack().Name(0, "Silent").Program(0, 5).NoteOn(0, 60, 0).NoteOff(kQuarter, 60).EndAt(kWhole);
    ScopedMidi midi(file);
    Bytes before(midi->pBuffer, midi->pBuffer + midi->nFileSize);
    ScopedTrack track(midi.get(), 0);
    EXPECT_EQ(track->dwEndTime, kWhole);
    EXPECT_NE(track->hHeap, nullptr);
    EXPECT_EQ(track->pszName, nullptr);
    EXPECT_EQ(track->pszInstrument, nullptr);
    EXPECT_EQ(track->pFirstMeasure, nullptr);
    EXPECT_EQ(track->nMeasures, 0);
    EXPECT_EQ(track->nNotes, 0);
    EXPECT_EQ(track->bResolution, 0);
    EXPECT_EQ(Bytes(midi->pBuffer, midi->pBuffer + midi->nFileSize), before);
}

TEST(Release, NullIsHarmlessAndClearsTheCurrentTrack) {
    ScopedMidi midi(TwoTrackFile());
    STrack* track = VSX_ParseTrack(midi.get(), 0, 16, 0);
    EXPECT_EQ(g_pCurrentTrack, track);
    VSX_ReleaseTrack(nullptr);
    EXPECT_EQ(g_pCurrentTrack, nullptr);
    EXPECT_EQ(g_hTransientHeap, nullptr);
    VSX_ReleaseTrack(track);
    VSX_ReleaseFile(nullptr);
}

TEST(Release, TracksOfOneFileLiveSideBySideAndOutliveTheirFile) {
    int64_t heapsBefore = PlatformLiveHeaps();
    SMidiFile* midi = VSX_LoadMidiFile(TempFile(TwoTrackFile().Build()).Path());
    STrack* right = VSX_ParseTrack(midi, 0, 16, 0);
    STrack* left = VSX_ParseTrack(midi, 1, 16, 0);
    VSX_ReleaseFile(midi);
    // Nothing in a track points into its file.
    EXPECT_STREQ(right->pszName, "Right hand");
    EXPECT_STREQ(left->pszName, "Left hand");
    VSX_ReleaseTrack(right);
    VSX_ReleaseTrack(left);
    EXPECT_EQ(PlatformLiveHeaps(), heapsBefore);
}

TEST(Load, AMissingFileCannotBeOpened) {
    EXPECT_EQ(ErrorIdOf([] { VSX_LoadMidiFile("/nonexistent/file.mid"); }), 230);
    EXPECT_EQ(ErrorIdOf([] { VSX_LoadMidiFile(nullptr); }), 230);
    EXPECT_EQ(ErrorIdOf([] { VSX_LoadMidiFile("/tmp"); }), 230);  // a folder is no file
}

TEST(Load, TheBufferHasThreeSpareBytesBehindTheFile) {
    Bytes bytes = TwoTrackFile().Build();
    ScopedMidi midi(bytes);
    EXPECT_EQ(midi->nFileSize, bytes.size());
    EXPECT_EQ(Bytes(midi->pBuffer, midi->pBuffer + bytes.size()), bytes);
    // Readable without a sanitizer report.
    EXPECT_EQ(midi->pBuffer[bytes.size() + 2], 0);
}

// Every failure reaches the caller with its message id and exact text.
TEST(Errors, MessagesCarryTheirTableTexts) {
    struct Case {
        int id;
        const char* text;
    };
    const Case cases[] = {
        {230, "Couldn't open file!"},
        {231, "Couldn't allocate memory for MIDI buffer!"},
        {254, "Couldn't read file!"},
        {255, "MIDI buffer is not prepared!"},
        {256, "Invalid track number!"},
        {257, "Invalid value of minimum section duraton!"},
        {258, "Invalid track header!"},
        {259, "Couldn't create heap for note buffer!"},
        {260, "Couldn't acclocate memory for track structure!"},
        {261, "MIDI buffer is empty!"},
        {262, "Track header is not found!"},
        {263, "Invalid length of track header!"},
        {264, "Present midi format is not supported!"},
        {265, "Invalid number of ticks per quarter!"},
        {266, "Track parsing error!"},
        {267, "Couldn't allocate memory!"},
        {268, "Invalid measure time signature!"},
        {269, "Invalid temp value!"},
        {270, "Couldn't create heap for transient buffer!"},
        {271, "Couldn't allocate memory fot transient buffer sections!"},
        {272, "Couldn't allocate memory fot transient buffer notes!"},
        {273, "Coludn't allocate momery for measure sections!"},
        {274, "Track have incompatible time signatures!"},
    };
    for (const Case& c : cases) {
        try {
            RaiseError(c.id);
            ADD_FAILURE() << "no exception for " << c.id;
        } catch (const CVastrelException& e) {
            EXPECT_EQ(e.nMessageId, c.id);
            EXPECT_STREQ(e.szMessage, c.text);
        }
    }
}

TEST(Errors, ThrownThroughTheExportedCalls) {
    try {
        VSX_LoadMidiFile("/nonexistent/file.mid");
        ADD_FAILURE();
    } catch (const CVastrelException& e) {
        EXPECT_EQ(e.nMessageId, 230);
        EXPECT_STREQ(e.szMessage, "Couldn't open file!");
    }
}

TEST(Strings, InstrumentNamesByProgram) {
    struct Case {
        unsigned program;
        const char* name;
    };
    const Case cases[] = {
        {0, "Acoustic grand piano"}, {24, "Acoustic guitar (nylon)"}, {50, "Synth. strings 1"},
        {87, "Lead 8 (brass + lead)"}, {96, "Unknown"}, {119, "Unknown"}, {120, "Guitar fret noise"},
        {127, "Gunshot"},
    };
    for (const Case& c : cases) {
        char buffer[128];
        PlatformLoadString(kFirstInstrumentId + c.program, buffer, sizeof buffer);
        EXPECT_STREQ(buffer, c.name);
    }
    char cut[5];
    EXPECT_EQ(PlatformLoadString(101, cut, sizeof cut), 4);  // the limit counts the terminator
    EXPECT_STREQ(cut, "Acou");
    EXPECT_EQ(PlatformLoadString(229, cut, sizeof cut), 0);
}

// A parse that fails part-way leaves no heap, no grid and no current track,
// and the next parse works.
TEST(Failures, AFailedParseLeavesNothingBehind) {
    ScopedMidi midi(TwoTrackFile());
    int64_t heapsBefore = PlatformLiveHeaps();
    for (uint64_t allowed = 0;; ++allowed) {
        PlatformFailAfter(allowed);
        int error = ErrorIdOf([&] { VSX_ReleaseTrack(VSX_ParseTrack(midi.get(), 1, 16, 0)); });
        PlatformStopFailing();
        EXPECT_EQ(PlatformLiveHeaps(), heapsBefore) << allowed;
        EXPECT_EQ(g_pCurrentTrack, nullptr);
        EXPECT_EQ(g_hTransientHeap, nullptr);
        if (error == 0) break;
        EXPECT_TRUE(error == 259 || error == 260 || error == 267 || (error >= 270 && error <= 273)) << error;
        ASSERT_LT(allowed, 10000u);
    }
    ScopedTrack track(midi.get(), 1);
    EXPECT_EQ(track->nNotes, 1);
}

TEST(Failures, AFailedLoadReportsAMemoryMessageAndLeavesNoHeap) {
    Bytes bytes = TwoTrackFile().Build();
    TempFile temp(bytes);
    int64_t heapsBefore = PlatformLiveHeaps();
    for (uint64_t allowed = 0;; ++allowed) {
        PlatformFailAfter(allowed);
        int error = ErrorIdOf([&] { VSX_ReleaseFile(VSX_LoadMidiFile(temp.Path())); });
        PlatformStopFailing();
        EXPECT_EQ(PlatformLiveHeaps(), heapsBefore);
        if (error == 0) break;
        EXPECT_TRUE(error == 231 || error == 267) << error;
        ASSERT_LT(allowed, 1000u);
    }
}

}  // namespace
