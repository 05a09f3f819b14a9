// The conductor maps: tempi, time and key signatures at their ticks, the
// file's name, and the meter-compatibility flags.
#include "../support/test_support.h"

#include <array>

namespace {

TEST(Conductor, AFileWithoutConductorEventsHasEmptyMapsAndEveryFlag) {
    MidiFile file;
    file.AddTrack().Note(0, kQuarter, 60);
    ScopedMidi midi(file);
    EXPECT_EQ(midi->pTimeSignatures, nullptr);
    EXPECT_EQ(midi->pKeySignatures, nullptr);
    EXPECT_EQ(midi->pTempos, nullptr);
    EXPECT_STREQ(midi->pszName, "Untitled midi");
    EXPECT_EQ((std::array<int, 6>{midi->bMeter2, midi->bMeter4, midi->bMeter8, midi->bMeter16, midi->bMeter32,
                                  midi->bMeter64}),
              (std::array<int, 6>{1, 1, 1, 1, 1, 1}));
}

TEST(Conductor, EntriesKeepFileOrderAndTheirTicks) {
    MidiFile file;
    file.Conductor()
        .Tempo(0, 500000)
        .TimeSignature(0, 4, 2)
        .KeySignature(0, 1)
        .Tempo(3 * kWhole, 600000)
        .TimeSignature(2 * kWhole, 3, 2)
        .KeySignature(5 * kWhole, static_cast<int8_t>(0xFD))
        .KeySignature(5 * kWhole, 9);
    ScopedMidi midi(file);
    ASSERT_NE(midi->pTempos, nullptr);
    EXPECT_EQ(midi->pTempos->wTempo, 120);
    ASSERT_NE(midi->pTempos->pNext, nullptr);
    EXPECT_EQ(midi->pTempos->pNext->dwTime, 3 * kWhole);
    EXPECT_EQ(midi->pTempos->pNext->wTempo, 100);
    ASSERT_NE(midi->pTimeSignatures->pNext, nullptr);
    EXPECT_EQ(midi->pTimeSignatures->pNext->dwTime, 2 * kWhole);
    EXPECT_EQ(midi->pTimeSignatures->pNext->bNumerator, 3);
    EXPECT_EQ(midi->pTimeSignatures->pNext->bDenominator, 4);
    const SKeySignature* key = midi->pKeySignatures;
    ASSERT_NE(key->pNext, nullptr);
    EXPECT_EQ(key->pNext->cKey, -3);
    ASSERT_NE(key->pNext->pNext, nullptr);
    EXPECT_EQ(key->pNext->pNext->cKey, 9);  // stored as read, no range test
}

TEST(Conductor, TempoIsQuartersPerMinuteRoundedDown) {
    struct Case {
        uint32_t microseconds;
        int tempo;  // 0: refused with 269
    };
    const Case cases[] = {
        {500000, 120}, {600000, 100}, {920, 65217}, {919, 0}, {0, 0}, {16777215, 3}, {700000, 85},
    };
    for (const Case& c : cases) {
        MidiFile file;
        file.Conductor().Tempo(0, c.microseconds);
        if (c.tempo == 0) {
            EXPECT_EQ(LoadErrorOf(file.Build()), 269) << c.microseconds;
            continue;
        }
        ScopedMidi midi(file);
        EXPECT_EQ(midi->pTempos->wTempo, c.tempo) << c.microseconds;
    }
}

TEST(Conductor, MeterFlagsSayWhichGridsStartEveryMeasure) {
    struct Case {
        uint8_t numerator, exponent;
        std::array<int, 6> flags;  // units 2, 4, 8, 16, 32, 64
    };
    const Case cases[] = {
        {4, 2, {1, 1, 1, 1, 1, 1}},
        {3, 2, {0, 1, 1, 1, 1, 1}},
        {6, 3, {0, 1, 1, 1, 1, 1}},
        {7, 3, {0, 0, 1, 1, 1, 1}},
        {5, 4, {0, 0, 0, 1, 1, 1}},
        {3, 6, {0, 0, 0, 0, 0, 1}},
        {0, 2, {1, 1, 1, 1, 1, 1}},
    };
    for (const Case& c : cases) {
        MidiFile file;
        file.Conductor().TimeSignature(0, c.numerator, c.exponent);
        ScopedMidi midi(file);
        EXPECT_EQ((std::array<int, 6>{midi->bMeter2, midi->bMeter4, midi->bMeter8, midi->bMeter16, midi->bMeter32,
                                      midi->bMeter64}),
                  c.flags)
            << int(c.numerator) << "/" << (1 << c.exponent);
    }
}

TEST(Conductor, EveryTimeSignatureOfTheFileCounts) {
    MidiFile file;
    file.Conductor().TimeSignature(0, 4, 2).TimeSignature(kWhole, 3, 3);
    ScopedMidi midi(file);
    EXPECT_EQ(midi->bMeter4, 0);  // 3/8 is not a whole number of quarters
    EXPECT_EQ(midi->bMeter8, 1);
}

TEST(Conductor, DenominatorExponentOutsideOneToSixIsRefused) {
    for (uint8_t exponent : {0, 7, 255}) {
        MidiFile file;
        file.Conductor().TimeSignature(0, 4, exponent);
        EXPECT_EQ(LoadErrorOf(file.Build()), 268) << int(exponent);
    }
}

TEST(Conductor, TheFirstNameEventNamesTheFile) {
    struct Case {
        std::vector<std::string> names;
        const char* expected;
    };
    const Case cases[] = {
        {{"First", "Second"}, "First"},
        {{""}, ""},  // an empty name still counts
        {{}, "Untitled midi"},
    };
    for (const Case& c : cases) {
        MidiFile file;
        for (const std::string& name : c.names) file.Conductor().Name(0, name);
        ScopedMidi midi(file);
        EXPECT_STREQ(midi->pszName, c.expected);
    }
}

TEST(Conductor, MalformedConductorChunksAreRefusedWithAMessage) {
    struct Case {
        const char* what;
        Bytes eventBytes;  // placed at tick 0 of the conductor
        int error;
    };
    const Case cases[] = {
        {"data byte after a meta event", {0x3C, 0x40}, 266},
        {"tempo event shorter than three bytes", {0xFF, 0x51, 0x02, 0x07, 0xA1}, 266},
        {"time signature shorter than two bytes", {0xFF, 0x58, 0x01, 0x04}, 266},
        {"key signature without data", {0xFF, 0x59, 0x00}, 266},
        {"name longer than the file", {0xFF, 0x03, 0x7F, 'a'}, 266},
    };
    for (const Case& c : cases) {
        MidiFile file;
        file.Conductor().Meta(0, 0x01, {'x'}).Raw(0, c.eventBytes);
        EXPECT_EQ(LoadErrorOf(file.Build()), c.error) << c.what;
    }
}

TEST(Conductor, AConductorWithoutEndOfTrackOrHeaderIsRefused) {
    MidiFile withoutEnd;
    withoutEnd.Conductor().Tempo(0, 500000).WithoutEnd();
    withoutEnd.DeclareTracks(1);
    EXPECT_EQ(LoadErrorOf(withoutEnd.Build()), 266);

    Bytes notATrack = MidiFile().Build();
    notATrack[14 + 3] = 'x';  // "MTrx"
    EXPECT_EQ(LoadErrorOf(notATrack), 258);

    Bytes headerOnly(notATrack.begin(), notATrack.begin() + 14);
    EXPECT_EQ(LoadErrorOf(headerOnly), 258);
}

TEST(Conductor, RunningStatusAcrossChannelMessagesIsFollowed) {
    MidiFile file;
    file.Conductor().UseRunningStatus().Controller(0, 7, 100).Controller(0, 10, 64).Tempo(kQuarter, 600000);
    ScopedMidi midi(file);
    ASSERT_NE(midi->pTempos, nullptr);
    EXPECT_EQ(midi->pTempos->dwTime, kQuarter);
}

}  // namespace
