// The channels of a track's notes, and which tracks are drum tracks: format 1
// drum tracks, a format 0 file's channel 10, and tracks that mix channel 10
// with others.
#include "../../track/channels.h"

#include <functional>

#include "../support/test_support.h"

namespace {

const uint8_t kDrums = 9;  // channel 10
const uint8_t kKick = 36;
const uint8_t kSnare = 38;
const uint8_t kHiHat = 42;

// Chunk n of the loaded file (0: the first after the header).
unsigned char* ChunkOf(SMidiFile* file, size_t n) {
    unsigned char* chunk = file->pFirstTrack;
    for (size_t i = 0; i < n; ++i) chunk += 8 + ReadBigEndian32(chunk + 4);
    return chunk;
}

struct Format1Case {
    const char* what;
    std::function<void(MidiTrack&)> write;
    uint16_t channels;
    bool percussion;
};

TEST(Channels, OfAFormat1TrackAndWhetherItIsADrumTrack) {
    const Format1Case cases[] = {
        {"a drum track",
         [](MidiTrack& t) { t.Note(0, kEighth, kKick, kDrums).Note(kEighth, kEighth, kHiHat, kDrums); },
         0x0200, true},
        {"a piano track", [](MidiTrack& t) { t.Note(0, kQuarter, 60); }, 0x0001, false},
        {"drums under running status, between meta and system-exclusive events",
         [](MidiTrack& t) {
             t.UseRunningStatus().Name(0, "Drums").Chord(0, kEighth, {kKick, kHiHat}, kDrums);
             t.SysEx(kEighth, {0x7E, 0x7F, 0x09, 0x01, 0xF7}).Note(kEighth, kEighth, kSnare, kDrums);
         },
         0x0200, true},
        {"drums with a program and controllers on channel 1",
         [](MidiTrack& t) { t.Program(0, 0, 0).Controller(0, 7, 100, 0).Note(0, kQuarter, kSnare, kDrums); }, 0x0200,
         true},
        {"a velocity-0 note-on on channel 4 only ends a note",
         [](MidiTrack& t) { t.NoteOn(0, 60, 0, 3).Note(0, kQuarter, kKick, kDrums); }, 0x0200, true},
        {"note-on bytes inside a system-exclusive and a text event are data",
         [](MidiTrack& t) { t.SysEx(0, {0x99, 0x24, 0x40, 0xF7}).Meta(0, 0x01, {0x92, 0x3C, 0x40}).Note(0, kQuarter, 60); },
         0x0001, false},
        {"channel 10 mixed with pitched notes stays pitched",
         [](MidiTrack& t) { t.Note(0, kQuarter, kKick, kDrums).Note(0, kQuarter, 60, 0); }, 0x0201, false},
        {"controllers on channel 10 and notes on channel 2",
         [](MidiTrack& t) { t.Controller(0, 7, 100, kDrums).Note(0, kQuarter, 60, 1); }, 0x0002, false},
        {"a track without notes", [](MidiTrack& t) { t.Name(0, "Empty").EndAt(kWhole); }, 0x0000, false},
        {"the last channel", [](MidiTrack& t) { t.Note(0, kQuarter, 60, 15); }, 0x8000, false},
    };
    for (const Format1Case& c : cases) {
        SCOPED_TRACE(c.what);
        MidiFile file;
        c.write(file.AddTrack());
        // A pitched track behind it: the walk must stop at the end-of-track event.
        file.AddTrack().Note(0, kQuarter, 72, 5);
        ScopedMidi midi(file);
        uint16_t channels = NoteChannelsOfChunk(midi.get(), ChunkOf(midi.get(), 1));
        EXPECT_EQ(channels, c.channels);
        EXPECT_EQ(TrackChannels(1, 0, channels), c.channels);
        EXPECT_EQ(IsPercussionTrack(1, 0, channels), c.percussion);
    }
}

// Format 0 offers its sixteen channels as tracks: track c is channel c.
TEST(Channels, OfAFormat0FileEachTrackIsItsChannel) {
    MidiFile file(96, 0);
    file.Conductor().Tempo(0, 500000).Note(0, kQuarter, 60, 0).Note(0, kQuarter, kKick, kDrums).Note(kQuarter, kQuarter, 64, 2);
    ScopedMidi midi(file);
    uint16_t chunk = NoteChannelsOfChunk(midi.get(), midi->pFirstTrack);
    EXPECT_EQ(chunk, 0x0205);

    struct Row {
        uint16_t track;
        uint16_t channels;
        bool percussion;
    };
    const Row rows[] = {{0, 0x0001, false}, {1, 0x0000, false}, {2, 0x0004, false}, {9, 0x0200, true}, {15, 0x0000, false}};
    for (const Row& r : rows) {
        EXPECT_EQ(TrackChannels(0, r.track, chunk), r.channels) << r.track;
        EXPECT_EQ(IsPercussionTrack(0, r.track, TrackChannels(0, r.track, chunk)), r.percussion) << r.track;
    }
}

TEST(Channels, ATrackWithoutNotesIsNoDrumTrack) {
    // A format 0 file's channel 10 is its drum track only when it plays:
    // an empty channel is no part at all.
    EXPECT_TRUE(IsPercussionTrack(0, kDrums, 0x0200));
    EXPECT_FALSE(IsPercussionTrack(0, kDrums, 0x0000));
    // In format 1 the track's number says nothing about its channel.
    EXPECT_FALSE(IsPercussionTrack(1, kDrums, 0x0001));
    EXPECT_FALSE(IsPercussionTrack(1, kDrums, 0x0000));
}

TEST(Channels, AMalformedTrackIsATrackParsingError) {
    const std::function<void(MidiTrack&)> broken[] = {
        [](MidiTrack& t) { t.Note(0, kQuarter, kKick, kDrums).WithoutEnd(); },   // data ends first
        [](MidiTrack& t) { t.Name(0, "Drums").Raw(0, {0x24, 0x40}); },             // no running status after meta
    };
    for (const auto& write : broken) {
        MidiFile file;
        write(file.AddTrack());
        ScopedMidi midi(file);
        EXPECT_EQ(ErrorIdOf([&] { NoteChannelsOfChunk(midi.get(), ChunkOf(midi.get(), 1)); }), 266);
    }
}

TEST(Channels, ANoteOnCutShortByTheEndOfDataIsRefused) {
    Bytes bytes = {0x00, 0x99, 0x24};
    SByteCursor cursor{bytes.data(), bytes.data() + bytes.size()};
    EXPECT_EQ(ErrorIdOf([&] { NoteChannelsOfEvents(cursor); }), 266);
}

}  // namespace
