// Music time (768 units a quarter) to measure, section and fraction, with
// the one-entry cache of the last measure found.
#include "../support/test_support.h"

#include "../../core/module_state.h"

namespace {

struct Position {
    SMeasure* measure;
    SSection* section;
    float fraction;
};

Position At(SMidiFile* midi, STrack* track, long musicTime) {
    Position p = {reinterpret_cast<SMeasure*>(1), reinterpret_cast<SSection*>(1), -1.0f};
    VSX_GetPositionByMusicTime(midi, track, musicTime, &p.measure, &p.section, &p.fraction);
    return p;
}

// Index of the measure in the track, and of the section among the linked ones.
std::pair<int, int> Indices(STrack* track, const Position& p) {
    std::vector<SMeasure*> measures = Measures(track);
    for (size_t m = 0; m < measures.size(); ++m) {
        if (measures[m] != p.measure) continue;
        std::vector<SSection*> sections = LinkedSections(measures[m]);
        for (size_t s = 0; s < sections.size(); ++s)
            if (sections[s] == p.section) return {static_cast<int>(m), static_cast<int>(s)};
        return {static_cast<int>(m), -1};
    }
    return {-1, -1};
}

// Division 480 with sixteenths everywhere, so that no section is compacted away.
MidiFile Sixteenths(uint32_t measures) {
    MidiFile file(480);
    MidiTrack& track = file.AddTrack();
    for (uint32_t i = 0; i < 16 * measures; ++i) track.Note(i * 120, 120, static_cast<uint8_t>(60 + i % 12));
    return file;
}

TEST(Position, TimesMapToSectionsAndFractions) {
    ScopedMidi midi(Sixteenths(2));
    ScopedTrack track(midi.get(), 0, 16, 0);
    struct Case {
        long musicTime;
        int measure, section;
        float fraction;
    };
    const Case cases[] = {
        {-5, 0, 0, 0.0f},      // before the start: the first section
        {0, 0, 0, 0.0f},
        {1152, 0, 6, 0.0f},    // 720 ticks: exactly a section's start
        {1200, 0, 6, 0.25f},   // 750 ticks
        {3071, 0, 15, 119.0f / 120},
        {3072, 1, 0, 0.0f},    // the next measure's start
        {6143, 1, 15, 119.0f / 120},
        {6144, 1, 15, 1.0f},   // the end of the last track
        {100000, 1, 15, 1.0f},
    };
    for (const Case& c : cases) {
        Position p = At(midi.get(), track.get(), c.musicTime);
        EXPECT_EQ(Indices(track.get(), p), std::make_pair(c.measure, c.section)) << c.musicTime;
        EXPECT_NEAR(p.fraction, c.fraction, 1e-6) << c.musicTime;
    }
}

TEST(Position, TheCacheIsNeverUsedBackwards) {
    ScopedMidi midi(Sixteenths(4));
    ScopedTrack track(midi.get(), 0, 16, 0);
    EXPECT_EQ(Indices(track.get(), At(midi.get(), track.get(), 5000)).first, 1);
    EXPECT_EQ(Indices(track.get(), At(midi.get(), track.get(), 100)), std::make_pair(0, 0));
    // Forward again from the cached measure.
    for (long t = 0; t < 4 * 3072; t += 64) EXPECT_EQ(Indices(track.get(), At(midi.get(), track.get(), t)).first, t / 3072);
}

TEST(Position, TwoTracksAskedAlternately) {
    MidiFile file(480);
    file.AddTrack().Note(0, 4 * 1920, 60).EndAt(4 * 1920);
    file.AddTrack().Note(0, 480, 48).EndAt(1920);
    ScopedMidi midi(file);
    ScopedTrack first(midi.get(), 0, 16, 0);
    ScopedTrack second(midi.get(), 1, 16, 0);
    for (int round = 0; round < 3; ++round) {
        EXPECT_EQ(Indices(first.get(), At(midi.get(), first.get(), 3 * 3072)).first, 3);
        EXPECT_EQ(Indices(second.get(), At(midi.get(), second.get(), 3 * 3072)).first, 0);
    }
}

TEST(Position, AReleasedTrackIsForgottenByTheCache) {
    ScopedMidi midi(Sixteenths(3));
    STrack* track = VSX_ParseTrack(midi.get(), 0, 16, 0);
    At(midi.get(), track, 2 * 3072);
    VSX_ReleaseTrack(track);
    EXPECT_EQ(g_pCachedMeasure, nullptr);
    // A new track, possibly at the same address, starts from its own first measure.
    ScopedTrack again(midi.get(), 0, 16, 0);
    EXPECT_EQ(Indices(again.get(), At(midi.get(), again.get(), 3072)), std::make_pair(1, 0));
}

TEST(Position, NothingToPointAtGivesNullsAndZero) {
    MidiFile file;
    file.AddTrack().NoteOn(0, 60, 0).EndAt(kWhole);
    ScopedMidi midi(file);
    ScopedTrack silent(midi.get(), 0, 16, 0);
    for (STrack* track : {silent.get(), static_cast<STrack*>(nullptr)}) {
        Position p = At(midi.get(), track, 1000);
        EXPECT_EQ(p.measure, nullptr);
        EXPECT_EQ(p.section, nullptr);
        EXPECT_EQ(p.fraction, 0.0f);
    }
    Position p = At(nullptr, silent.get(), 1000);
    EXPECT_EQ(p.measure, nullptr);
}

TEST(Position, FractionsStayWithinZeroAndOne) {
    // Track 0 is not the last chunk: its last measure runs past its end, so
    // sections there start after the track's end time.
    MidiFile file(96);
    file.AddTrack().Note(0, kQuarter, 60).Note(kHalf + kEighth, kSixteenth, 62).EndAt(kHalf + kQuarter);
    file.AddTrack().Note(0, kQuarter, 60);
    ScopedMidi midi(file);
    ScopedTrack track(midi.get(), 0, 16, 0);
    for (long t = -768; t < 8 * 768; t += 7) {
        Position p = At(midi.get(), track.get(), t);
        EXPECT_GE(p.fraction, 0.0f) << t;
        EXPECT_LE(p.fraction, 1.0f) << t;
        EXPECT_NE(Indices(track.get(), p).second, -1) << t;
    }
}

// A track that is not the last chunk and ends on a bar-line-free beat: its
// last kept section (the rest after a dotted half) starts at its end time.
TEST(Position, ASectionOfNoLengthIsPlayedOnceTimeHasPassedIt) {
    MidiFile file(96);
    file.AddTrack().Note(0, 3 * kQuarter, 60).EndAt(3 * kQuarter);
    file.AddTrack().Note(0, kWhole, 60);
    ScopedMidi midi(file);
    ScopedTrack track(midi.get(), 0, 16, 0);
    ASSERT_EQ(track->dwEndTime, 3u * kQuarter);
    const std::pair<long, float> cases[] = {{2304, 0.0f}, {2311, 0.0f}, {2312, 1.0f}, {6000, 1.0f}};
    for (const auto& [musicTime, fraction] : cases) {
        Position p = At(midi.get(), track.get(), musicTime);
        EXPECT_EQ(p.section->dwTime, 3u * kQuarter) << musicTime;
        EXPECT_EQ(p.fraction, fraction) << musicTime;
    }
}

TEST(Position, HugeMusicTimesDoNotOverflow) {
    MidiFile file(0xFFFF);
    file.AddTrack().Note(0, 0xFFFF, 60);
    ScopedMidi midi(file);
    ScopedTrack track(midi.get(), 0, 16, 0);
    for (long t : {0x7FFFFFFFL, -0x7FFFFFFFL - 1, 0x12345678L}) {
        Position p = At(midi.get(), track.get(), t);
        EXPECT_NE(p.measure, nullptr);
        EXPECT_LE(p.fraction, 1.0f);
    }
    // Where long is wider than 32 bits, a time past 2^31 is still past the end.
    if (sizeof(long) > 4) {
        ScopedMidi two(Sixteenths(2));
        ScopedTrack longer(two.get(), 0, 16, 0);
        for (int64_t t : {int64_t{1} << 31, int64_t{1} << 40, INT64_MAX}) {
            Position p = At(two.get(), longer.get(), static_cast<long>(t));
            EXPECT_EQ(Indices(longer.get(), p), std::make_pair(1, 15)) << t;
            EXPECT_EQ(p.fraction, 1.0f) << t;
        }
    }
}

}  // namespace
