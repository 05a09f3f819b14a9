// vastrel.dll from outside, as a MinGW-built viewer uses it: only the public
// header and the import library. Failures raised deep inside the DLL arrive
// as CVastrelException with the text of the DLL's own string table (this
// program has none), and every file and track takes its Win32 heap with it.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "../../interface/vastrel.h"
#include "midi_writer.h"
#include "string_list.h"

namespace {

constexpr uint32_t kQuarter = 96;


std::string TextOf(int id) {
    for (const StringEntry& e : kStringList)
        if (static_cast<int>(e.id) == id) return e.text;
    return "";
}

DWORD HeapCount() { return GetProcessHeaps(0, nullptr); }

// A file in the temporary folder, removed again.
class DiskFile {
public:
    explicit DiskFile(const Bytes& bytes) {
        char folder[MAX_PATH];
        GetTempPathA(sizeof folder, folder);
        char name[MAX_PATH];
        GetTempFileNameA(folder, "vsx", 0, name);
        path_ = name;
        HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        if (!bytes.empty()) WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(file);
    }
    ~DiskFile() { DeleteFileA(path_.c_str()); }
    const char* Path() const { return path_.c_str(); }

private:
    std::string path_;
};

// What a call threw: the id (0 for nothing) and the text.
struct Thrown {
    int id = 0;
    std::string text;
};

template <typename Call>
Thrown ThrownBy(Call call) {
    Thrown thrown;
    try {
        call();
    } catch (const CVastrelException& e) {
        thrown.id = e.nMessageId;
        thrown.text = e.szMessage;
    }
    return thrown;
}

MidiFile OneNote() {
    MidiFile file;
    file.AddTrack().Note(0, kQuarter, 60);
    return file;
}

// Loading: each broken file is refused with its message, and no heap stays.
TEST(DllCalls, LoadFailuresCarryTheDllsMessages) {
    struct Case {
        const char* what;
        Bytes bytes;
        int id;
    };
    MidiFile slowTempo;
    slowTempo.Conductor().Tempo(0, 919);
    MidiFile badMeter;
    badMeter.Conductor().TimeSignature(0, 4, 0);
    Bytes badLength = OneNote().Build();
    badLength[7] = 7;
    const Case cases[] = {
        {"empty file", Bytes{}, 261},
        {"no header", Bytes{'M', 'T', 'r', 'k', 0, 0, 0, 0}, 262},
        {"header length 7", badLength, 263},
        {"format 2", MidiFile(96, 2).Build(), 264},
        {"division 0", MidiFile(0).Build(), 265},
        {"tempo under 920 microseconds", slowTempo.Build(), 269},
        {"time signature over 2^0", badMeter.Build(), 268},
    };
    for (const Case& c : cases) {
        DiskFile disk(c.bytes);
        DWORD heaps = HeapCount();
        Thrown thrown = ThrownBy([&] { VSX_ReleaseFile(VSX_LoadMidiFile(disk.Path())); });
        EXPECT_EQ(thrown.id, c.id) << c.what;
        EXPECT_EQ(thrown.text, TextOf(c.id)) << c.what;
        EXPECT_EQ(HeapCount(), heaps) << c.what;
    }
}

// Parsing: refused arguments, a chunk of the wrong type, and a track broken
// deep inside, which the DLL catches, cleans up after and throws on.
TEST(DllCalls, ParseFailuresCarryTheDllsMessages) {
    MidiFile file;
    file.AddTrack().Note(0, kQuarter, 60);
    file.AddTrack().Note(0, kQuarter, 62).WithoutEnd();  // runs past its chunk
    Bytes bytes = file.Build();
    Bytes renamed = bytes;
    size_t second = 14 + 8 + (renamed[18] << 24 | renamed[19] << 16 | renamed[20] << 8 | renamed[21]);
    memcpy(&renamed[second], "MXrk", 4);  // the first music chunk is of another type
    DiskFile disk(bytes);
    DiskFile diskRenamed(renamed);
    SMidiFile* midi = VSX_LoadMidiFile(disk.Path());
    SMidiFile* midiRenamed = VSX_LoadMidiFile(diskRenamed.Path());

    struct Case {
        const char* what;
        SMidiFile* file;
        unsigned short track;
        unsigned char resolution;
        int id;
    };
    const Case cases[] = {
        {"track past the last", midi, 2, 16, 256},
        {"resolution 65", midi, 0, 65, 257},
        {"chunk of another type", midiRenamed, 0, 16, 258},
        {"chunk passed over of another type", midiRenamed, 1, 16, 258},
        {"track without its end", midi, 1, 16, 266},
    };
    for (const Case& c : cases) {
        DWORD heaps = HeapCount();
        Thrown thrown = ThrownBy([&] { VSX_ReleaseTrack(VSX_ParseTrack(c.file, c.track, c.resolution, 0)); });
        VSX_ReleaseTrack(nullptr);  // clears whatever a failed parse may leave
        EXPECT_EQ(thrown.id, c.id) << c.what;
        EXPECT_EQ(thrown.text, TextOf(c.id)) << c.what;
        EXPECT_EQ(HeapCount(), heaps) << c.what;
    }
    VSX_ReleaseFile(midiRenamed);
    VSX_ReleaseFile(midi);
}

// Instrument names are strings of the DLL's table, loaded into the track.
TEST(DllCalls, InstrumentNamesComeFromTheDllsTable) {
    const uint8_t programs[] = {1, 24, 40, 96, 119, 120, 127};
    for (uint8_t program : programs) {
        MidiFile file;
        file.AddTrack().Program(0, program).Note(0, kQuarter, 60);
        DiskFile disk(file.Build());
        SMidiFile* midi = VSX_LoadMidiFile(disk.Path());
        STrack* track = VSX_ParseTrack(midi, 0, 16, 0);
        ASSERT_NE(track->pszInstrument, nullptr);
        EXPECT_EQ(std::string(track->pszInstrument), TextOf(101 + program)) << int(program);
        VSX_ReleaseTrack(track);
        VSX_ReleaseFile(midi);
    }
}

// The channels of a format 0 file parsed side by side: one heap each, and
// each release takes one, in any order.
TEST(DllCalls, TracksSideBySideOwnAHeapEach) {
    MidiFile file(96, 0);
    file.Conductor().Note(0, kQuarter, 60, 0).Note(0, kQuarter, 64, 3).Note(kQuarter, kQuarter, 67, 9);
    DiskFile disk(file.Build());
    DWORD heaps = HeapCount();
    SMidiFile* midi = VSX_LoadMidiFile(disk.Path());
    EXPECT_EQ(midi->wTracks, 16);
    const unsigned short channels[] = {0, 3, 9, 15};
    std::vector<STrack*> tracks;
    for (unsigned short channel : channels) tracks.push_back(VSX_ParseTrack(midi, channel, 16, 0));
    EXPECT_EQ(HeapCount(), heaps + 1 + 4);
    EXPECT_EQ(tracks[0]->nNotes, 1);
    EXPECT_EQ(tracks[2]->nNotes, 1);
    EXPECT_STREQ(tracks[2]->pszName, "Channel 10");
    EXPECT_EQ(tracks[3]->pFirstMeasure, nullptr);  // a channel without notes
    const size_t order[] = {2, 0, 3, 1};
    for (size_t i = 0; i < 4; ++i) {
        VSX_ReleaseTrack(tracks[order[i]]);
        EXPECT_EQ(HeapCount(), heaps + 1 + 3 - i);
    }
    VSX_ReleaseFile(midi);
    EXPECT_EQ(HeapCount(), heaps);
}

// Playback positions of a track whose file went through the DLL's reader.
TEST(DllCalls, PositionsFollowThePlayHead) {
    MidiFile file;
    file.AddTrack().Note(0, kQuarter, 60).Note(kQuarter, kQuarter, 62).Note(2 * kQuarter, 2 * kQuarter, 64);
    DiskFile disk(file.Build());
    SMidiFile* midi = VSX_LoadMidiFile(disk.Path());
    STrack* track = VSX_ParseTrack(midi, 0, 4, 0);
    struct Case {
        long musicTime;  // 768 a quarter
        uint32_t sectionTime;
        float fraction;
    };
    const Case cases[] = {
        {-1, 0, 0.0f}, {0, 0, 0.0f}, {384, 0, 0.5f}, {768, kQuarter, 0.0f}, {768 + 192, kQuarter, 0.25f},
        {1536, 2 * kQuarter, 0.0f},
    };
    for (const Case& c : cases) {
        SMeasure* measure = nullptr;
        SSection* section = nullptr;
        float fraction = -1;
        VSX_GetPositionByMusicTime(midi, track, c.musicTime, &measure, &section, &fraction);
        EXPECT_EQ(measure, track->pFirstMeasure) << c.musicTime;
        ASSERT_NE(section, nullptr) << c.musicTime;
        EXPECT_EQ(section->dwTime, c.sectionTime) << c.musicTime;
        EXPECT_FLOAT_EQ(fraction, c.fraction) << c.musicTime;
    }
    VSX_ReleaseTrack(track);
    VSX_ReleaseFile(midi);
}

// The readable notation through the DLL: an options record read no further
// than its declared size (a caller of an older header), a null record as the
// preset, every option off as the classic model, and the single-chunk file.
TEST(DllCalls, NotationOptionsCrossTheDllBoundary) {
    MidiFile single;
    single.Conductor().Note(0, kQuarter, 60).Note(kQuarter, 3 * kQuarter, 64);
    DiskFile disk(single.Build());
    DWORD heaps = HeapCount();
    SMidiFile* midi = VSX_LoadMidiFile(disk.Path());
    SNotationOptions off = {};
    off.cbSize = sizeof off;
    SNotationOptions older = VSX_ReadableOptions();
    older.cbSize = 5;  // the size and the first flag only
    struct Case {
        const char* what;
        const SNotationOptions* options;
        unsigned short tracks;
    } cases[] = {{"null", nullptr, 1}, {"every option off", &off, 0}, {"an older, shorter record", &older, 0}};
    for (const Case& c : cases) {
        EXPECT_EQ(VSX_CountTracks(midi, c.options), c.tracks) << c.what;
        Thrown thrown = ThrownBy([&] { VSX_ReleaseTrack(VSX_ParseTrackWithOptions(midi, 0, 16, 0, c.options)); });
        EXPECT_EQ(thrown.id, c.tracks ? 0 : 256) << c.what;
        if (thrown.id) EXPECT_EQ(thrown.text, TextOf(256)) << c.what;
    }
    STrack* track = VSX_ParseTrackWithOptions(midi, 0, 16, 0, nullptr);
    EXPECT_EQ(track->nNotes, 2);
    EXPECT_EQ(HeapCount(), heaps + 2);
    VSX_ReleaseTrack(track);
    VSX_ReleaseFile(midi);
    EXPECT_EQ(HeapCount(), heaps);

    // Every option off: what the classic call gives. Each parse has a load
    // of its own, since parsing the last track lengthens its end in the
    // loaded copy, and a second parse would read a longer track.
    MidiFile file;
    file.AddTrack().Chord(0, 5 * kQuarter, {60, 67}).Note(kQuarter, kQuarter / 2, 72);
    DiskFile twoVoices(file.Build());
    midi = VSX_LoadMidiFile(twoVoices.Path());
    SMidiFile* again = VSX_LoadMidiFile(twoVoices.Path());
    STrack* classic = VSX_ParseTrack(midi, 0, 16, 0);
    STrack* allOff = VSX_ParseTrackWithOptions(again, 0, 16, 0, &off);
    EXPECT_EQ(allOff->nMeasures, classic->nMeasures);
    EXPECT_EQ(allOff->nSections, classic->nSections);
    EXPECT_EQ(allOff->pFirstMeasure->bVoices, classic->pFirstMeasure->bVoices);
    EXPECT_EQ(allOff->dwEndTime, classic->dwEndTime);
    VSX_ReleaseTrack(allOff);
    VSX_ReleaseTrack(classic);
    VSX_ReleaseFile(again);
    VSX_ReleaseFile(midi);
}

}  // namespace
