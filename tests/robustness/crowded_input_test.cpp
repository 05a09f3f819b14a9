// Files that pile an enormous number of notes into one place: a key struck
// again and again at one tick. Every strike ends the one before, so each is
// a note of one slot, and all of them land in the same section. The parse
// must keep its cost per note (a viewer would hang otherwise), keep only two
// heads per staff step, and leave a sound model.
#include <gtest/gtest.h>

#include "midi_writer.h"
#include "../support/model_invariants.h"
#include "../support/test_support.h"

namespace {

struct Crowd {
    const char* what;
    uint32_t strikes;     // note-ons, all at tick 0
    uint8_t keys;         // cycled through from middle C up
    size_t headsKept;     // notes of the first section after spelling
};

TEST(CrowdedInput, ThousandsOfStrikesInOneSection) {
    const Crowd kCrowds[] = {
        {"one key struck 100,000 times", 100000, 1, 2},
        {"twelve keys struck 100,000 times in turn (seven steps)", 100000, 12, 14},
    };
    for (const Crowd& crowd : kCrowds) {
        SCOPED_TRACE(crowd.what);
        MidiFile file;
        MidiTrack& track = file.AddTrack();
        for (uint32_t i = 0; i < crowd.strikes; ++i) track.NoteOn(0, static_cast<uint8_t>(60 + i % crowd.keys));
        for (uint8_t k = 0; k < crowd.keys; ++k) track.NoteOff(kQuarter, static_cast<uint8_t>(60 + k));
        ScopedMidi midi(file);
        ScopedTrack parsed(midi.get(), 0, 16, 0);
        EXPECT_EQ(parsed->nNotes, static_cast<int32_t>(crowd.strikes));
        size_t heads = 0;
        for (SChord* chord : Chords(SectionAt(parsed->pFirstMeasure, 0))) heads += Notes(chord).size();
        EXPECT_EQ(heads, crowd.headsKept);
        ExpectModelInvariants(midi.get(), parsed.get(), crowd.what);
    }
}

}  // namespace
