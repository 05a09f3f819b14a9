// A file with one quarter note goes all the way through.
#include "../support/test_support.h"

TEST(Smoke, OneQuarterNoteParses) {
    MidiFile file;
    file.AddTrack().Note(0, kQuarter, 60).EndAt(kWhole);
    ScopedMidi midi(file);
    ScopedTrack track(midi.get(), 0);
    ASSERT_NE(track->pFirstMeasure, nullptr);
    EXPECT_EQ(track->nMeasures, 1);
    EXPECT_STREQ(track->pszName, "Untitled track");
}
