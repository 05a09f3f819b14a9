// Note collection: the grid, pairing of note-ons with what ends them, names,
// programs, transposition and lengths in slots. Inspected on the grid itself,
// before any measure is built.
#include "../support/test_support.h"

#include "../../core/module_state.h"
#include "../../smf/midi_file.h"
#include "../../track/track.h"

#include "../../platform/platform.h"

namespace {

// Runs note collection alone on track 0 (format 0: the given channel) and
// keeps the grid for inspection.
class Collected {
public:
    Collected(const MidiFile& file, uint8_t resolution = 16, int8_t transpose = 0, uint8_t channel = 0)
        : midi_(file) {
        unsigned char* chunk = midi_->pFirstTrack;
        if (midi_->wFormat == 1) chunk += 8 + ReadBigEndian32(chunk + 4);
        void* heap = PlatformCreateHeap();
        track_ = static_cast<STrack*>(PlatformAllocate(heap, sizeof(STrack), true));
        track_->hHeap = heap;
        g_pCurrentTrack = track_;
        bool last = midi_->wFormat == 0 || midi_->wTracks == 1;
        CollectTrackNotes(midi_.get(), chunk, resolution, midi_->wFormat == 0 ? channel : 0, last, transpose);
    }
    ~Collected() { VSX_ReleaseTrack(track_); }

    STrack* track() const { return track_; }
    // Pitches and lengths (in slots of the resolution) of the notes of slot j.
    std::vector<std::pair<int, uint32_t>> Slot(uint32_t j, uint8_t resolution = 16) const {
        std::vector<std::pair<int, uint32_t>> notes;
        for (SRawNote* n = g_pSlots[j].pNotes; n; n = n->pNext)
            notes.push_back({n->bPitch, n->wLength * (resolution / n->bUnit)});
        return notes;
    }

private:
    ScopedMidi midi_;
    STrack* track_ = nullptr;
};

}  // namespace

namespace {

using Notes = std::vector<std::pair<int, uint32_t>>;

TEST(Grid, SlotsOfFourDOverRTicks) {
    // D = 96, R = 16: one slot is 24 ticks.
    MidiFile file(96);
    file.AddTrack().Note(50, 24, 60).EndAt(385);
    Collected c(file);
    EXPECT_EQ(g_nSlots, 17u);  // ceil(385 / 24)
    EXPECT_EQ(c.Slot(2), (Notes{{60, 1}}));  // tick 50 lies in slot 2
    EXPECT_EQ(c.track()->dwEndTime, 385u);
}

TEST(Grid, SlotsOfAFractionOfATickStartAtTheTickBefore) {
    // Slot j starts at tick j·4D/R rounded down, and a note goes into the
    // slot whose span holds its tick, however the fractions fall.
    struct Case {
        uint16_t division;
        uint8_t resolution;
        std::vector<uint32_t> starts;                       // of slots 0, 1, 2, ...
        std::vector<std::pair<uint32_t, uint32_t>> notes;   // tick, slot
    };
    const Case cases[] = {
        {5, 16, {0, 1, 2, 3, 5, 6, 7, 8, 10}, {{1, 0}, {2, 1}, {4, 3}, {5, 4}, {6, 4}, {7, 5}}},  // 1.25 ticks
        {7, 64, {0, 0, 0, 1, 1, 2, 2, 3, 3, 3}, {{1, 2}, {2, 4}, {3, 6}}},                         // 0.4375 ticks
        {392, 16, {0, 98, 196, 294}, {{97, 0}, {98, 1}, {293, 2}}},
    };
    for (const Case& k : cases) {
        MidiFile file(k.division);
        MidiTrack& track = file.AddTrack();
        for (const auto& note : k.notes) track.Note(note.first, 1, static_cast<uint8_t>(60 + note.second));
        track.EndAt(4u * k.division);
        {
            Collected c(file, k.resolution);
            for (const auto& note : k.notes) {
                ASSERT_NE(g_pSlots[note.second].pNotes, nullptr) << k.division << " tick " << note.first;
                EXPECT_EQ(g_pSlots[note.second].pNotes->bPitch, 60 + note.second) << k.division << " tick " << note.first;
            }
        }
        // The grid's slots become the first measure's sections (4/4: one
        // whole note, R sections), which keep their start ticks.
        ScopedMidi midi(file);
        ScopedTrack built(midi.get(), 0, k.resolution, 0, 'A');
        for (uint32_t j = 0; j < k.starts.size(); ++j)
            EXPECT_EQ(SectionAt(built->pFirstMeasure, j)->dwTime, k.starts[j])
                << k.division << "/" << int(k.resolution) << " slot " << j;
    }
}

TEST(Grid, LengthsRoundToTheNearestSlotAndHalvesRoundUp) {
    struct Case {
        uint32_t ticks;  // at 24 ticks a slot
        uint32_t slots;
    };
    const Case cases[] = {
        {10, 1},   // 0.4
        {24, 1},   // 1.0
        {35, 1},   // 1.46
        {36, 2},   // 1.5
        {60, 3},   // 2.5
        {59, 2},   // 2.46
        {96, 4},   // a quarter
        {240, 10},
    };
    for (const Case& k : cases) {
        MidiFile file(96);
        file.AddTrack().Note(0, k.ticks, 60).EndAt(kWhole);
        Collected c(file);
        EXPECT_EQ(c.Slot(0), (Notes{{60, k.slots}})) << k.ticks;
    }
}

TEST(Grid, TheSlotLengthsReciprocalIsFormedFirst) {
    // D = 392, R = 16: 147 ticks are 1.4999999999999998 slots, so one slot.
    MidiFile file(392);
    file.AddTrack().Note(0, 147, 60).EndAt(4 * 392);
    Collected c(file);
    EXPECT_EQ(c.Slot(0), (Notes{{60, 1}}));
}

TEST(Grid, LengthsAreReducedFractionsOfAWhole) {
    MidiFile file(96);
    file.AddTrack().Note(0, kQuarter, 60).Note(kQuarter, 3 * kSixteenth, 62).Note(kHalf, 10 * kSixteenth, 64)
        .EndAt(2 * kWhole);
    Collected c(file);
    SRawNote* quarter = g_pSlots[0].pNotes;
    SRawNote* dottedEighth = g_pSlots[4].pNotes;
    SRawNote* tenSlots = g_pSlots[8].pNotes;
    EXPECT_EQ(std::make_pair(quarter->wLength, int(quarter->bUnit)), std::make_pair(1u, 4));
    EXPECT_EQ(std::make_pair(dottedEighth->wLength, int(dottedEighth->bUnit)), std::make_pair(3u, 16));
    EXPECT_EQ(std::make_pair(tenSlots->wLength, int(tenSlots->bUnit)), std::make_pair(5u, 8));
}

TEST(Grid, LengthAndUnitLoseEveryFactorOfTwoTheyShareAndNoOther) {
    struct Case {
        uint32_t length;
        uint8_t unit;
        uint32_t reducedLength;
        uint8_t reducedUnit;
    };
    const Case cases[] = {
        {6, 16, 3, 8},      {3, 16, 3, 16},  {64, 64, 1, 1},         {96, 64, 3, 2},
        {12, 64, 3, 16},    {40, 8, 5, 1},   {1u << 20, 2, 1u << 19, 1},
        {0, 16, 0, 16},     {8, 0, 8, 0},  // a zero stays as it is, and so does the other
    };
    for (const Case& k : cases) {
        uint32_t length = k.length;
        uint8_t unit = k.unit;
        HalveWhileEven(length, unit);
        EXPECT_EQ(std::make_pair(length, int(unit)), std::make_pair(k.reducedLength, int(k.reducedUnit)))
            << k.length << "/" << int(k.unit);
    }
}

TEST(Grid, HalvingAgreesWithHalvingOneStepAtATime) {
    auto stepwise = [](uint32_t length, uint8_t unit) {
        while (length && unit && length % 2 == 0 && unit % 2 == 0) {
            length /= 2;
            unit /= 2;
        }
        return std::make_pair(length, int(unit));
    };
    std::vector<uint32_t> lengths;
    for (uint32_t n = 0; n <= 1024; ++n) lengths.push_back(n);
    for (uint32_t shift = 10; shift < 32; ++shift) {
        lengths.push_back(1u << shift);
        lengths.push_back(3u << (shift - 2));
    }
    for (uint32_t length : lengths) {
        for (int unit = 0; unit < 256; ++unit) {
            uint32_t l = length;
            uint8_t u = static_cast<uint8_t>(unit);
            HalveWhileEven(l, u);
            ASSERT_EQ(std::make_pair(l, int(u)), stepwise(length, static_cast<uint8_t>(unit))) << length << "/" << unit;
        }
    }
}

TEST(Pairing, ANoteOnOfASoundingKeyEndsIt) {
    MidiFile file(96);
    file.AddTrack().NoteOn(0, 60).NoteOn(48, 60).NoteOff(144, 60).EndAt(kWhole);
    Collected c(file);
    EXPECT_EQ(c.Slot(0), (Notes{{60, 2}}));  // 48 ticks
    EXPECT_EQ(c.Slot(2), (Notes{{60, 4}}));  // 96 ticks, to the note-off
}

TEST(Pairing, KeysArePairedAcrossChannelsInFormatOne) {
    MidiFile file(96);
    file.AddTrack().NoteOn(0, 60, 80, 1).NoteOff(kQuarter, 60, 2).EndAt(kWhole);
    Collected c(file);
    EXPECT_EQ(c.Slot(0), (Notes{{60, 4}}));
}

TEST(Pairing, NotesStillSoundingEndWithTheTrack) {
    MidiFile file(96);
    file.AddTrack().NoteOn(0, 60).NoteOff(kQuarter, 62).EndAt(kHalf);
    Collected c(file);
    EXPECT_EQ(c.Slot(0), (Notes{{60, 8}}));
}

TEST(Pairing, ANoteOnAtTheVeryEndOfTheTrackKeepsInsideTheGrid) {
    MidiFile file(96);
    file.AddTrack().Note(0, kQuarter, 60).NoteOn(kWhole, 64).EndAt(kWhole);
    Collected c(file);
    EXPECT_EQ(g_nSlots, 16u);
    EXPECT_EQ(c.Slot(15), (Notes{{64, 1}}));
}

TEST(Pairing, AllNotesAtTickZeroOfAnEmptyTrackShareOneSlot) {
    MidiFile file(96);
    file.AddTrack().NoteOn(0, 60).NoteOn(0, 64).EndAt(0);
    Collected c(file);
    EXPECT_EQ(g_nSlots, 1u);
    EXPECT_EQ(c.Slot(0), (Notes{{60, 1}, {64, 1}}));
}

TEST(Channels, FormatZeroCollectsTheChosenChannelOnly) {
    MidiFile file(96, 0);
    file.Conductor()
        .Name(0, "Sequence")
        .Program(0, 9, 1)
        .Program(0, 33, 2)
        .Note(0, kQuarter, 60, 2)
        .Note(0, kHalf, 64, 1)
        .NoteOn(kQuarter, 67, 80, 2)
        .NoteOff(kQuarter + 24, 67, 1)  // another channel's note-off does not end it
        .NoteOff(kHalf, 67, 2)
        .EndAt(kWhole);
    Collected c(file, 16, 0, 2);
    EXPECT_EQ(c.track()->nNotes, 2);
    EXPECT_EQ(c.Slot(0), (Notes{{60, 4}}));
    EXPECT_EQ(c.Slot(4), (Notes{{67, 4}}));
    EXPECT_STREQ(c.track()->pszName, "Channel 03");
    EXPECT_EQ(c.track()->bProgram, 33);
    EXPECT_STREQ(c.track()->pszInstrument, "Electric bass (finger)");
}

TEST(Names, TrackNamesAndInstruments) {
    struct Case {
        std::vector<std::string> names;
        std::vector<uint8_t> programs;
        const char* name;
        const char* instrument;
    };
    const Case cases[] = {
        {{}, {}, "Untitled track", "Acoustic grand piano"},
        {{"Flute", "Later"}, {}, "Flute", "Acoustic grand piano"},
        {{""}, {}, "", "Acoustic grand piano"},
        {{}, {0, 5, 7}, "Untitled track", "Chorused piano"},  // the first non-zero program wins
        {{}, {96}, "Untitled track", "Unknown"},
    };
    for (const Case& k : cases) {
        MidiFile file(96);
        MidiTrack& track = file.AddTrack();
        for (const std::string& name : k.names) track.Name(0, name);
        for (uint8_t program : k.programs) track.Program(0, program);
        track.Note(0, kQuarter, 60);
        Collected c(file);
        EXPECT_STREQ(c.track()->pszName, k.name);
        EXPECT_STREQ(c.track()->pszInstrument, k.instrument);
    }
}

TEST(Names, FormatZeroChannelsAreNumberedFromOne) {
    for (uint8_t channel : {0, 9, 15}) {
        MidiFile file(96, 0);
        file.Conductor().Note(0, kQuarter, 60, channel);
        Collected c(file, 16, 0, channel);
        char expected[16];
        snprintf(expected, sizeof expected, "Channel %02d", channel + 1);
        EXPECT_STREQ(c.track()->pszName, expected);
    }
}

TEST(Transposition, KeysOutsideTheByteRangeLeaveTheGrid) {
    MidiFile file(96);
    file.AddTrack().Note(0, kQuarter, 2).Note(0, kQuarter, 10).Note(0, kQuarter, 3).EndAt(kWhole);
    Collected c(file, 16, -5);
    EXPECT_EQ(c.Slot(0), (Notes{{5, 4}}));
    EXPECT_EQ(c.track()->nNotes, 3);  // the count stays

    Collected unchanged(file, 16, 0);
    EXPECT_EQ(unchanged.Slot(0), (Notes{{2, 4}, {10, 4}, {3, 4}}));

    MidiFile high(96);
    high.AddTrack().Note(0, kQuarter, 127).Note(0, kQuarter, 100);
    Collected up(high, 16, 127);
    EXPECT_EQ(up.Slot(0), (Notes{{254, 4}, {227, 4}}));  // the byte range, not the MIDI range
}

TEST(Malformed, EventsRunningPastTheDataAreRefused) {
    struct Case {
        const char* what;
        Bytes raw;
    };
    const Case cases[] = {
        {"note-on cut short", {0x90, 60}},
        {"data byte without status", {0x3C, 0x40}},
        {"name longer than the file", {0xFF, 0x03, 0x40, 'x'}},
    };
    for (const Case& k : cases) {
        MidiFile file(96);
        file.AddTrack().Note(0, kQuarter, 60).Raw(kQuarter, k.raw).WithoutEnd();
        ScopedMidi midi(file);
        EXPECT_EQ(ErrorIdOf([&] { VSX_ParseTrack(midi.get(), 0, 16, 0); }), 266) << k.what;
    }
    MidiFile withoutEnd(96);
    withoutEnd.AddTrack().Note(0, kQuarter, 60).WithoutEnd();
    ScopedMidi midi(withoutEnd);
    EXPECT_EQ(ErrorIdOf([&] { VSX_ParseTrack(midi.get(), 0, 16, 0); }), 266);
}

// Most events are read without a check per byte; what that reading leaves
// to the checked one may also stand in the middle of a track, far from the
// end of the data: a delta padded to five bytes is still read, and a data
// byte with no running status in force (after a meta event) still refused.
TEST(Malformed, UncommonEventsInTheMiddleOfATrack) {
    MidiFile padded(96);
    // A note-off 128 ticks after its note-on, under the delta 80 80 80 81 00.
    padded.AddTrack()
        .Raw(0, {0x90, 60, 80, 0x80, 0x80, 0x80, 0x81, 0x00, 0x80, 60, 0})
        .Note(kQuarter, kQuarter, 62)  // 96 ticks after the note-off: tick 224
        .EndAt(kWhole);
    Collected c(padded);
    EXPECT_EQ(c.Slot(0), (Notes{{60, 5}}));  // 128 ticks, slots of 24
    EXPECT_EQ(c.Slot(9), (Notes{{62, 4}}));

    MidiFile noStatus(96);
    noStatus.AddTrack()
        .Note(0, kQuarter, 60)
        .Raw(kQuarter, {0xFF, 0x01, 0x00, 0x00, 0x3C, 0x40})  // an empty text, then 3C 40 at delta 0
        .Note(kHalf, kHalf, 62);
    ScopedMidi midi(noStatus);
    EXPECT_EQ(ErrorIdOf([&] { VSX_ParseTrack(midi.get(), 0, 16, 0); }), 266);
}

TEST(Malformed, AnEndTimeTooFarAwayForAGridIsRefused) {
    MidiFile file(96);
    file.AddTrack().Note(0, kQuarter, 60).EndAt(0x0FFFFFFF);
    ScopedMidi midi(file);
    EXPECT_EQ(ErrorIdOf([&] { VSX_ParseTrack(midi.get(), 0, 64, 0); }), 271);
}

TEST(Malformed, ATickSumThatWrapsKeepsEveryNoteInsideTheGrid) {
    // Seventeen deltas of 2^28 - 1 ticks: the 32-bit tick sum wraps, and notes
    // seem to start after the end of the track.
    Bytes events;
    for (uint8_t key = 60; key < 77; ++key) events.insert(events.end(), {0xFF, 0xFF, 0xFF, 0x7F, 0x90, key, 80});
    events.insert(events.end(), {0x00, 0xFF, 0x2F, 0x00});
    Bytes bytes = MidiFile(1).Build();
    bytes[11] = 2;  // two chunks
    bytes.insert(bytes.end(), {'M', 'T', 'r', 'k'});
    AppendBigEndian32(bytes, static_cast<uint32_t>(events.size()));
    bytes.insert(bytes.end(), events.begin(), events.end());
    ScopedMidi midi(bytes);
    for (unsigned char resolution : {2, 16, 64}) {
        int error = ErrorIdOf([&] { VSX_ReleaseTrack(VSX_ParseTrack(midi.get(), 0, resolution, 0)); });
        EXPECT_TRUE(error == 0 || error == 271) << error;
    }
}

}  // namespace
