// Measures and note placement: measure layout with meter, key and tempo;
// notes cut at bar lines and into values a score can show; tied pairs
// merged; the last track's end-of-track event moved to the last bar line.
#include "../support/test_support.h"

#include "../../notation/notation.h"
#include "../../smf/event_stream.h"

namespace {

// The placed notes of a measure, one word each: "<section>:<value>[.][~in][~out]".
std::string Placed(const SMeasure* m) {
    std::string text;
    for (uint32_t k = 0; k < m->bSections; ++k) {
        for (const SNote* n : RawNotes(SectionAt(m, k))) {
            if (!text.empty()) text += ' ';
            text += std::to_string(k) + ":" + std::to_string(n->bValue);
            if (n->bDotted) text += '.';
            if (n->bTieIn) text += "<";
            if (n->bTieOut) text += ">";
        }
    }
    return text;
}

// One note in 4/4 at R = 16, placed (stage A only) or placed and merged (to C).
struct PlacementCase {
    uint32_t section, slots;
    const char* first;   // the first measure after stage A
    const char* merged;  // the first measure after stage C
    const char* second;  // the second measure after stage C
};

TEST(Placement, NotesBecomeTiedChainsOfShowableValues) {
    const PlacementCase cases[] = {
        {0, 8, "0:2", "0:2", ""},
        {4, 8, "4:2", "4:2", ""},                                    // a half on beat 2
        {2, 8, "2:4.> 8:8<", "2:4.> 8:8<", ""},                      // half on the second eighth
        {2, 4, "2:8> 4:8<", "2:4", ""},                              // merged back into a quarter
        {0, 12, "0:2.", "0:2.", ""},                                 // three quarters
        {4, 6, "4:4> 8:8<", "4:4> 8:8<", ""},                        // three eighths on beat 2
        {1, 15, "1:8.> 4:4<> 8:2<", "1:8.> 4:4<> 8:2<", ""},         // a chain
        {12, 8, "12:4>", "12:4>", "0:4<"},                           // over the bar line
        {4, 16, "4:2.>", "4:2.>", "0:4<"},                           // a whole on beat 2
        {1, 2, "1:16> 2:16<", "1:8", ""},                            // an eighth off the beat
        {6, 4, "6:8> 8:8<", "6:4", ""},                              // tied eighths around the middle
        {0, 1, "0:16", "0:16", ""},
        {15, 1, "15:16", "15:16", ""},
    };
    for (const PlacementCase& c : cases) {
        MidiFile file;
        file.AddTrack().Note(c.section * kSixteenth, c.slots * kSixteenth, 60).EndAt(2 * kWhole);
        ScopedMidi midi(file);
        {
            ScopedTrack placed(midi.get(), 0, 16, 0, 'A');
            EXPECT_EQ(Placed(placed->pFirstMeasure), c.first) << c.section << "+" << c.slots;
        }
        ScopedTrack merged(midi.get(), 0, 16, 0, 'C');
        std::vector<SMeasure*> measures = Measures(merged.get());
        ASSERT_EQ(measures.size(), 2u);
        EXPECT_EQ(Placed(measures[0]), c.merged) << c.section << "+" << c.slots;
        EXPECT_EQ(Placed(measures[1]), c.second) << c.section << "+" << c.slots;
        EXPECT_EQ(measures[0]->bTiedOut, c.second[0] != '\0');
    }
}

// Stage C after stage A in the same walk passes over the sections where A
// tied no value to a later one; alone, it looks at every section with
// notes. Both merge the same pairs: chains, chords of chains, a chain
// beside an untied note of its pitch and value, notes over the bar line.
TEST(Merging, StageCAloneMergesWhatItMergesAfterStageA) {
    struct Note {
        uint32_t slot, slots;
        uint8_t key;
    };
    struct Case {
        uint8_t resolution;
        std::vector<Note> notes;
    };
    const Case cases[] = {
        {16, {{2, 4, 60}, {6, 4, 62}, {9, 2, 64}, {13, 6, 65}}},
        {16, {{2, 4, 60}, {2, 4, 64}, {4, 2, 60}, {1, 15, 67}}},
        {16, {{0, 2, 60}, {2, 4, 60}, {6, 2, 60}, {14, 20, 60}}},
        {64, {{3, 37, 60}, {1, 62, 64}, {20, 27, 67}, {40, 60, 72}}},
    };
    for (const Case& c : cases) {
        const uint32_t slot = kWhole / c.resolution;
        MidiFile file;
        auto& track = file.AddTrack();
        for (const Note& n : c.notes) track.Note(n.slot * slot, n.slots * slot, n.key);
        track.EndAt(3 * kWhole);
        ScopedMidi midi(file);
        std::vector<std::string> inWalk, alone;
        {
            ScopedTrack merged(midi.get(), 0, c.resolution, 0, 'C');
            for (SMeasure* m : Measures(merged.get())) inWalk.push_back(Placed(m));
        }
        ScopedTrack placed(midi.get(), 0, c.resolution, 0, 'B');
        RunStages(SBuildContext{midi.get(), placed.get(), c.resolution, 0}, 'C', 'C');
        for (SMeasure* m : Measures(placed.get())) alone.push_back(Placed(m));
        EXPECT_EQ(alone, inWalk) << int(c.resolution) << ": " << c.notes.front().slot;
    }
}

// One note inside one measure on other grids and meters: the same rules in
// slots of 1/R, up to the bar line of measures longer than a whole note.
TEST(Placement, NotesOnEveryGridBecomeTiedChains) {
    struct Case {
        uint8_t resolution, numerator, exponent;
        uint32_t slot, slots;
        const char* placed;
    };
    const Case cases[] = {
        {64, 4, 2, 3, 37, "3:64> 4:16<> 8:8<> 16:4<> 32:8<"},
        {64, 4, 2, 1, 62, "1:32.> 4:16<> 8:8<> 16:4<> 32:4<> 48:8<> 56:16<> 60:32.<"},
        {64, 4, 2, 20, 27, "20:8.> 32:8<> 40:16<> 44:32.<"},
        {32, 12, 3, 5, 40, "5:16.> 8:4<> 16:2<> 32:4<> 40:8<> 44:32<"},  // 48 sections
        {8, 8, 2, 3, 13, "3:8> 4:2<> 8:1<"},                             // up to the bar line of 8/4
        {4, 4, 2, 1, 3, "1:2."},                                          // a dotted half on beat 2
        {2, 12, 2, 1, 5, "1:2> 2:1<> 4:1<"},                              // wholes tied on a half-note grid
    };
    for (const Case& c : cases) {
        const uint32_t slot = kWhole / c.resolution;
        MidiFile file;
        file.Conductor().TimeSignature(0, c.numerator, c.exponent);
        file.AddTrack().Note(c.slot * slot, c.slots * slot, 60);
        ScopedMidi midi(file);
        ScopedTrack track(midi.get(), 0, c.resolution, 0, 'A');
        EXPECT_EQ(Placed(track->pFirstMeasure), c.placed) << int(c.resolution) << ": " << c.slot << "+" << c.slots;
    }
}

// The same rhythm in four measures is written the same in each: a short
// chain is listed once and then remembered, a long one listed every time.
TEST(Placement, ARhythmThatRecursIsWrittenTheSameInEveryMeasure) {
    struct Case {
        uint8_t resolution;
        uint32_t slot, slots;
        const char* placed;
    };
    const Case cases[] = {
        {16, 1, 15, "1:8.> 4:4<> 8:2<"},
        {64, 3, 37, "3:64> 4:16<> 8:8<> 16:4<> 32:8<"},
        {64, 1, 62, "1:32.> 4:16<> 8:8<> 16:4<> 32:4<> 48:8<> 56:16<> 60:32.<"},
    };
    for (const Case& c : cases) {
        const uint32_t slot = kWhole / c.resolution;
        MidiFile file;
        auto& track = file.AddTrack();
        for (uint32_t m = 0; m < 4; ++m) track.Note(m * kWhole + c.slot * slot, c.slots * slot, 60);
        ScopedMidi midi(file);
        ScopedTrack placed(midi.get(), 0, c.resolution, 0, 'A');
        std::vector<SMeasure*> measures = Measures(placed.get());
        ASSERT_EQ(measures.size(), 4u);
        for (SMeasure* pMeasure : measures) EXPECT_EQ(Placed(pMeasure), c.placed) << int(c.resolution);
    }
}

TEST(Placement, ANoteOverThreeMeasuresIsCutAtBothBarLines) {
    MidiFile file;
    file.AddTrack().Note(3 * kQuarter, kWhole + 2 * kQuarter, 60).EndAt(3 * kWhole);
    ScopedMidi midi(file);
    ScopedTrack track(midi.get(), 0, 16, 0, 'C');
    std::vector<SMeasure*> m = Measures(track.get());
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(Placed(m[0]), "12:4>");
    EXPECT_EQ(Placed(m[1]), "0:1<>");
    EXPECT_EQ(Placed(m[2]), "0:4<");
    EXPECT_EQ(m[0]->bTiedOut, 1);
    EXPECT_EQ(m[1]->bTiedOut, 1);
    EXPECT_EQ(m[2]->bTiedOut, 0);
}

TEST(Placement, PiecesOfEarlierNotesComeBeforeTheSectionsOwnNotes) {
    MidiFile file;
    file.AddTrack().Note(3 * kQuarter, kHalf, 60).Note(kWhole, kQuarter, 64).EndAt(2 * kWhole);
    ScopedMidi midi(file);
    ScopedTrack track(midi.get(), 0, 16, 0, 'C');
    SMeasure* second = track->pFirstMeasure->pNext;
    // The bar-line remainder goes after the notes of its slot.
    EXPECT_EQ(Pitches(RawNotes(SectionAt(second, 0))), (std::vector<int>{64, 60}));
}

TEST(Placement, ANoteEndingOnTheBarLineOfALongMeasureIsNotCut) {
    MidiFile file;
    file.Conductor().TimeSignature(0, 4, 1);  // 4/2: 32 sections
    file.AddTrack().Note(kQuarter, 7 * kQuarter, 60).EndAt(2 * kWhole);
    ScopedMidi midi(file);
    ScopedTrack track(midi.get(), 0, 16, 0, 'C');
    EXPECT_EQ(Placed(track->pFirstMeasure), "4:2.> 16:1<");
    EXPECT_EQ(track->pFirstMeasure->bTiedOut, 0);
}

TEST(Placement, ThreeWholeNotesInALongMeasureAreTiedWholes) {
    MidiFile file;
    file.Conductor().TimeSignature(0, 12, 2);
    file.AddTrack().Note(0, 3 * kWhole, 60).EndAt(3 * kWhole);
    ScopedMidi midi(file);
    ScopedTrack track(midi.get(), 0, 16, 0, 'C');
    EXPECT_EQ(Placed(track->pFirstMeasure), "0:1> 16:1<> 32:1<");
}

TEST(Measures, LayoutFollowsTheMeterInForceAtEachBarLine) {
    MidiFile file;
    // 3/4 for three measures, then 4/4; a time signature inside a measure
    // waits for the next bar line.
    file.Conductor().TimeSignature(0, 3, 2).TimeSignature(9 * kQuarter, 4, 2).TimeSignature(9 * kQuarter + 1, 6, 3);
    file.AddTrack().Note(0, kQuarter, 60).EndAt(9 * kQuarter + kWhole + 3 * kQuarter);
    ScopedMidi midi(file);
    ScopedTrack track(midi.get(), 0, 16, 0, 'C');
    std::vector<SMeasure*> m = Measures(track.get());
    ASSERT_EQ(m.size(), 5u);
    std::vector<std::string> meters;
    for (SMeasure* measure : m)
        meters.push_back(std::to_string(measure->bNumerator) + "/" + std::to_string(measure->bDenominator) + ":" +
                         std::to_string(measure->bSections) + "@" + std::to_string(measure->dwTime));
    EXPECT_EQ(meters, (std::vector<std::string>{"3/4:12@0", "3/4:12@288", "3/4:12@576", "4/4:16@864",
                                                "6/8:12@1248"}));
    EXPECT_EQ(track->nSections, 64);
    EXPECT_EQ(m[0]->nClef, 1);
    EXPECT_EQ(m[1]->nClef, 0);
}

TEST(Measures, SectionsOfMeterAndResolution) {
    struct Case {
        uint8_t numerator, exponent, resolution;
        int sections;  // 0: refused with 268
    };
    const Case cases[] = {
        {4, 2, 16, 16}, {3, 2, 16, 12}, {6, 3, 16, 12}, {7, 3, 4, 4},  // rounded up
        {5, 4, 2, 1},   {16, 2, 32, 128},
        {16, 2, 64, 0},  // 256 sections do not fit
        {0, 2, 16, 0},   // a meter without beats
    };
    for (const Case& c : cases) {
        MidiFile file;
        file.Conductor().TimeSignature(0, c.numerator, c.exponent);
        file.AddTrack().Note(0, kQuarter, 60);
        ScopedMidi midi(file);
        if (c.sections == 0) {
            EXPECT_EQ(ErrorIdOf([&] { VSX_ParseTrack(midi.get(), 0, c.resolution, 0); }), 268);
            continue;
        }
        ScopedTrack track(midi.get(), 0, c.resolution, 0, 'C');
        EXPECT_EQ(track->pFirstMeasure->bSections, c.sections);
    }
}

TEST(Measures, TempoInsideAMeasureAppliesToAllOfItButNotAtTheNextBarLine) {
    MidiFile file;
    file.Conductor().Tempo(kQuarter, 600000).Tempo(2 * kWhole, 1000000);
    file.AddTrack().Note(0, kQuarter, 60).EndAt(3 * kWhole);
    ScopedMidi midi(file);
    ScopedTrack track(midi.get(), 0, 16, 0, 'C');
    std::vector<SMeasure*> m = Measures(track.get());
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m[0]->wTempo, 100);
    EXPECT_EQ(m[1]->wTempo, 100);
    EXPECT_EQ(m[2]->wTempo, 60);
}

TEST(Measures, KeysMoveWithTheTransposition) {
    struct Case {
        int8_t key, transpose, expected;
    };
    const Case cases[] = {
        {2, -1, -5}, {0, 1, 7}, {0, -1, -7}, {3, -5, 4}, {5, 1, 0}, {2, 12, 2}, {2, 0, 2},
        {9, 0, -3},     // an out-of-range key byte is brought into -7..7
        {-128, 0, 4},
    };
    for (const Case& c : cases) {
        MidiFile file;
        file.Conductor().KeySignature(0, c.key);
        file.AddTrack().Note(0, kQuarter, 60);
        ScopedMidi midi(file);
        ScopedTrack track(midi.get(), 0, 16, c.transpose, 'C');
        EXPECT_EQ(track->pFirstMeasure->cKey, c.expected) << int(c.key) << " " << int(c.transpose);
    }
}

TEST(Measures, GridLevels) {
    const int expected[16] = {1, 16, 8, 16, 4, 16, 8, 16, 2, 16, 8, 16, 4, 16, 8, 16};
    for (uint32_t p = 0; p < 16; ++p) EXPECT_EQ(GridLevel(16, p), expected[p]) << p;
    EXPECT_EQ(GridLevel(16, 32), 1);
    EXPECT_EQ(GridLevel(2, 1), 2);
}

// ---- The end-of-track event of the last track ----------------------------------------

uint32_t EndOfTrackDelta(SMidiFile* midi, size_t chunkIndex) {
    unsigned char* chunk = midi->pFirstTrack;
    for (size_t i = 0; i < chunkIndex; ++i) chunk += 8 + ReadBigEndian32(chunk + 4);
    SByteCursor cursor = {chunk + 8, midi->pBuffer + midi->nFileSize + 3};
    uint32_t delta = 0;
    for (;;) {
        delta = ReadVarLen(cursor);
        unsigned char status = *cursor.pNext++;
        if (status == 0xFF && *cursor.pNext == 0x2F) return delta;
        SkipEvent(status, cursor);
    }
}

TEST(EndOfTrack, TheLastTrackIsLengthenedToItsLastBarLine) {
    MidiFile file;
    file.AddTrack().Note(0, kQuarter, 60).EndAt(kWhole);                    // not the last chunk
    file.AddTrack().Note(0, kQuarter, 60).EndAt(2 * kWhole + 8 * kSixteenth - 1);  // 40 slots
    ScopedMidi midi(file);
    Bytes before(midi->pBuffer, midi->pBuffer + midi->nFileSize);
    {
        ScopedTrack first(midi.get(), 0, 16, 0);
        EXPECT_EQ(first->dwEndTime, kWhole);
        EXPECT_EQ(Bytes(midi->pBuffer, midi->pBuffer + midi->nFileSize), before);
    }
    ScopedTrack last(midi.get(), 1, 16, 0, 'C');
    EXPECT_EQ(last->nMeasures, 3);
    EXPECT_EQ(last->nSections, 40);
    // Eight sections after the last slot: 8 · 24 ticks, plus the tick that
    // the end time lacked to fill its slot.
    EXPECT_EQ(last->dwEndTime, 2 * kWhole + 8 * kSixteenth - 1 + 8 * kSixteenth);
    EXPECT_EQ(EndOfTrackDelta(midi.get(), 2), last->dwEndTime - kQuarter);
    SMeasure* third = last->pFirstMeasure->pNext->pNext;
    EXPECT_EQ(SectionAt(third, 15)->dwTime, 2 * kWhole + 15 * kSixteenth);
    EXPECT_EQ(midi->nFileSize, before.size());
}

TEST(EndOfTrack, ADeltaGrowingIntoTheSpareBytesIsReadAgainByTheNextParse) {
    // 255/2 at R = 2 with a slot of 131070 ticks: the one-byte end-of-track
    // delta grows to four bytes, three past the end of the file.
    MidiFile file(0xFFFF);
    file.Conductor().TimeSignature(0, 255, 1);
    file.AddTrack().Note(0, 1, 60).EndAt(2);
    ScopedMidi midi(file);
    const uint32_t end = 2 + 254 * 131070;
    {
        ScopedTrack track(midi.get(), 0, 2, 0);
        EXPECT_EQ(track->dwEndTime, end);
        EXPECT_EQ(Bytes(midi->pBuffer + midi->nFileSize, midi->pBuffer + midi->nFileSize + 3),
                  (Bytes{0xFF, 0x2F, 0x00}));
        EXPECT_EQ(EndOfTrackDelta(midi.get(), 1), end - 1);
    }
    // The same track again reads the rewritten event; nothing moves any more.
    Bytes rewritten(midi->pBuffer, midi->pBuffer + midi->nFileSize + 3);
    for (int again = 0; again < 2; ++again) {
        ScopedTrack track(midi.get(), 0, 2, 0);
        EXPECT_EQ(track->dwEndTime, end);
        EXPECT_EQ(track->nMeasures, 1);
        EXPECT_EQ(Bytes(midi->pBuffer, midi->pBuffer + midi->nFileSize + 3), rewritten);
    }
}

TEST(EndOfTrack, FormatZeroChannelsAlwaysRewrite) {
    MidiFile file(96, 0);
    file.Conductor().Note(0, kQuarter, 60, 3).EndAt(kQuarter);
    ScopedMidi midi(file);
    ScopedTrack track(midi.get(), 3, 16, 0);
    EXPECT_EQ(track->dwEndTime, kWhole);
    ScopedTrack silent(midi.get(), 4, 16, 0);  // no notes: the buffer is not touched
    EXPECT_EQ(silent->dwEndTime, kWhole);
}

TEST(EndOfTrack, ARewriteThatWouldNeedMoreThanFourBytesIsRefused) {
    MidiFile file(0xFFFF);
    file.Conductor().TimeSignature(0, 255, 6);
    file.AddTrack().Note(0, 1, 60).EndAt(0x0FFFFFF0);
    ScopedMidi midi(file);
    EXPECT_EQ(ErrorIdOf([&] { VSX_ParseTrack(midi.get(), 0, 64, 0); }), 266);
}

}  // namespace
