// Reading alterations back from the staff: what the key signature and the
// accidentals printed earlier in the measure make of each note, which the
// exporter writes as <alter>. A note reads as a musician reads it, so every
// note must sound the model's key, spelled as the library spelled it.
#include "../support/test_support.h"

#include <dirent.h>

#include <functional>
#include <string>
#include <vector>

#include "alterations.h"
#include "staff_steps.h"

namespace {

// Each measure's notes as read back from the staff, section by section and
// voice by voice ("F#4 F4 Bb3 | ..."), and whether every one sounds the
// model's key (`wrong` names those that do not).
struct Reading {
    std::string names;
    std::string wrong;
};

Reading ReadBack(const STrack* track) {
    Reading reading;
    MeasureAlterations alterations;
    int clef = kClefTreble;
    for (const SMeasure* measure = track->pFirstMeasure; measure; measure = measure->pNext) {
        if (measure->nClef != kClefUnchanged) clef = measure->nClef;
        const int shift = StepShiftOfClef(clef);
        alterations.Read(*measure, shift);
        if (measure != track->pFirstMeasure) reading.names += " |";
        for (const SSection* section = measure->pSections; section; section = section->pNext)
            for (const SChord* chord = section->pChords; chord; chord = chord->pNext)
                for (const SNote* note = chord->pNotes; note; note = note->pNext) {
                    const int treble = TrebleStep(note->cStep, shift);
                    const int alteration = alterations.Of(note);
                    std::string name(1, "CDEFGAB"[LetterOf(treble)]);
                    name += alteration > 0 ? std::string(alteration, '#') : std::string(-alteration, 'b');
                    name += std::to_string(OctaveOf(treble));
                    reading.names += " " + name;
                    if (NaturalKey(treble) + alteration != note->bPitch)
                        reading.wrong += name + " for key " + std::to_string(note->bPitch) + "; ";
                }
    }
    if (!reading.names.empty()) reading.names.erase(0, 1);
    return reading;
}

const uint32_t kBar = kWhole;

}  // namespace

// A signature adds sharps in the order F C G D A E B and flats in the order
// B E A D G C F; a letter it leaves out is natural.
TEST(ReadingAlterations, KeySignatureAltersItsLetters) {
    const struct {
        int key;
        const char* altered;  // letters the signature alters
    } cases[] = {
        {0, ""},     {1, "F"},     {2, "FC"},     {4, "FCGD"},     {7, "FCGDAEB"},
        {-1, "B"},   {-2, "BE"},   {-5, "BEADG"}, {-7, "BEADGCF"},
    };
    for (const auto& c : cases) {
        for (int letter = 0; letter < 7; ++letter) {
            const bool altered = std::string(c.altered).find("CDEFGAB"[letter]) != std::string::npos;
            EXPECT_EQ(KeyAlteration(c.key, letter), altered ? (c.key > 0 ? 1 : -1) : 0)
                << "key " << c.key << ", letter " << "CDEFGAB"[letter];
        }
    }
}

// What the key signature and the signs printed earlier in the measure make
// of each note: a sign lasts for its step (not its letter in other octaves)
// to the bar line, two notes of one letter can sound together, and the
// spelling the library chose is kept. Each case is a run of quarter notes
// in 4/4 (a chord of the keys given, or silence where none is).
TEST(ReadingAlterations, WhatTheStaffShows) {
    const struct {
        const char* what;
        std::vector<int> signatures;              // key signature of each bar, from the first (the last holds on)
        std::vector<std::vector<uint8_t>> quarters;
        const char* names;                        // as read back, measure by measure
    } cases[] = {
        {"in G major a natural lasts to the bar line, the next measure takes the key again",
         {1}, {{66}, {65}, {65}, {66}, {65}}, "F#4 F4 F4 F#4 | F4"},
        {"a sign holds for its step only, not for the same letter an octave up",
         {0}, {{66}, {78}, {66}, {77}}, "F#4 F#5 F#4 F5"},
        {"flats in three flats, and a natural that the key's flat then restores",
         {-3}, {{70}, {71}, {70}, {68}}, "Bb4 B4 Bb4 Ab4"},
        {"B sharp in C sharp major, C flat in G flat major",
         {7, -6}, {{72}, {}, {}, {}, {71}}, "B#4 | Cb5"},
        {"F and F sharp struck together, then each alone",
         {0}, {{66}, {65, 66}, {66}, {65}, {65, 66}, {66}, {65}, {66}}, "F#4 F4 F#4 F#4 F4 | F4 F#4 F#4 F4 F#4"},
        {"F and F sharp struck together in G major",
         {1}, {{65, 66}, {66}, {65}}, "F4 F#4 F#4 F4"},
        {"in B major a double sharp, the sharp that takes it back, and the double sharp again",
         {5}, {{67}, {68}, {66}, {67}}, "F##4 G#4 F#4 F##4"},
        {"in the bass clef in B flat major, steps read in that clef: a natural, held, then the key's flat",
         {-2}, {{40}, {40}, {39}, {46}}, "E2 E2 Eb2 Bb2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MidiFile file;
        for (size_t bar = 0; bar < c.signatures.size(); ++bar)
            file.Conductor().KeySignature(static_cast<uint32_t>(bar * kBar), static_cast<int8_t>(c.signatures[bar]));
        MidiTrack& track = file.AddTrack();
        for (size_t i = 0; i < c.quarters.size(); ++i)
            for (uint8_t key : c.quarters[i]) track.Note(static_cast<uint32_t>(i * kQuarter), kQuarter, key);
        ScopedMidi midi(file);
        ScopedTrack parsed(midi.get(), 0);
        const Reading reading = ReadBack(parsed.get());
        EXPECT_EQ(reading.names, c.names);
        EXPECT_EQ(reading.wrong, "");
    }
}

// Two signs on one step in one section leave the step with the one that
// restores what it had before: that one can only have been written second,
// whatever order the chord lists them in. The measure is made by hand, so
// that the chord lists them both ways: F natural and F sharp struck
// together in C major, then F alone.
TEST(ReadingAlterations, TheSignThatRestoresComesSecond) {
    for (bool naturalFirst : {true, false}) {
        SCOPED_TRACE(naturalFirst ? "natural listed first" : "sharp listed first");
        SNote natural = {};
        natural.cStep = 3;  // F4 on the treble staff
        natural.nAccidental = kAccidentalNatural;
        natural.bPitch = 65;
        SNote sharp = natural;
        sharp.nAccidental = kAccidentalSharp;
        sharp.bPitch = 66;
        (naturalFirst ? natural : sharp).pNext = naturalFirst ? &sharp : &natural;
        SNote alone = natural;
        alone.nAccidental = kAccidentalNone;
        alone.pNext = nullptr;
        SChord chords[2] = {};
        chords[0].pNotes = naturalFirst ? &natural : &sharp;
        chords[1].pNotes = &alone;
        SSection sections[2] = {};
        sections[0].pChords = &chords[0];
        sections[0].pNext = &sections[1];
        sections[1].pChords = &chords[1];
        SMeasure measure = {};
        measure.pSections = sections;
        MeasureAlterations alterations;
        alterations.Read(measure, StepShiftOfClef(kClefTreble));
        EXPECT_EQ(alterations.Of(&natural), 0);
        EXPECT_EQ(alterations.Of(&sharp), 1);
        EXPECT_EQ(alterations.Of(&alone), 0);
    }
}

// Every note of every track of the real files, read back, sounds its key.
TEST(ReadingAlterations, EveryNoteOfTheCorpusSoundsItsKey) {
    const std::string directory = CorpusDirectory();
    if (directory.empty()) GTEST_SKIP() << "the corpus of real files is not found";
    DIR* folder = opendir(directory.c_str());
    ASSERT_NE(folder, nullptr);
    size_t tracks = 0;
    while (dirent* entry = readdir(folder)) {
        const std::string name = entry->d_name;
        if (name.size() < 4 || name.compare(name.size() - 4, 4, ".mid") != 0) continue;
        SMidiFile* file = nullptr;
        try {
            file = VSX_LoadMidiFile((directory + "/" + name).c_str());
        } catch (const CVastrelException&) {
            continue;  // refused files are the loader's tests' concern
        }
        for (unsigned short number = 0; number < 16; ++number) {
            STrack* track = nullptr;
            try {
                track = VSX_ParseTrack(file, number, 16, 0);
            } catch (const CVastrelException&) {
                continue;
            }
            ++tracks;
            EXPECT_EQ(ReadBack(track).wrong, "") << name << ", track " << number;
            VSX_ReleaseTrack(track);
        }
        VSX_ReleaseFile(file);
    }
    closedir(folder);
    EXPECT_GT(tracks, 100u);
}
