// A drum track on a percussion staff: which tracks are drum tracks (channel
// 10 alone, a format 0 file's channel 10, not a track that mixes channels),
// and how their hits are written: two voices by limb, each hit lasting until
// the next of its limb up to the beat, every drum on its step with its head
// and mark, no key, accidental, transposition or clef change.
#include "../support/test_support.h"

#include "../../notation/drum_kit.h"

#include <sstream>

namespace {

constexpr uint8_t kDrums = 9;  // channel 10, counted from 0

// Drum keys of the General MIDI kit.
enum Drum : uint8_t {
    kKick = 36,
    kSideStick = 37,
    kSnare = 38,
    kClosedHat = 42,
    kPedalHat = 44,
    kOpenHat = 46,
    kCrash = 49,
};

// Hits a drum machine writes: a 64th each (1.5 ticks at 96 a quarter, so 2).
struct Hit {
    uint32_t section;  // sixteenths from the start
    uint8_t key;
};

MidiFile DrumFile(const std::vector<Hit>& hits, uint8_t numerator = 4, uint8_t exponent = 2) {
    MidiFile file;
    file.Conductor().TimeSignature(0, numerator, exponent);
    MidiTrack& track = file.AddTrack();
    for (const Hit& hit : hits) track.Note(hit.section * kSection, 2, hit.key, kDrums);
    track.EndAt(numerator * kWhole / (1u << exponent));
    return file;
}

// One chord with notes as "section:value[keys]" (a dotted value with "."),
// then "^" or "v" for its stem.
std::string ChordText(size_t section, const SChord* chord) {
    std::vector<int> keys = Pitches(Notes(chord));
    std::sort(keys.begin(), keys.end());
    std::string text = std::to_string(section) + ":" + std::to_string(chord->bValue) + (chord->bDotted ? "." : "");
    for (size_t i = 0; i < keys.size(); ++i) text += (i ? " " : "[") + std::to_string(keys[i]);
    return text + "]" + (chord->bStemUp ? "^" : "v");
}

// Every voice of every measure, its chords with notes in time order:
// " / " between measures, " | " between voices. Rests are left out.
std::string DescribeDrums(const STrack* track) {
    std::vector<std::string> measures;
    for (const SMeasure* measure : Measures(track)) {
        std::vector<std::string> voices(measure->bVoices);
        for (const SSection* section : LinkedSections(measure)) {
            std::vector<SChord*> chords = Chords(section);
            for (size_t v = 0; v < chords.size(); ++v)
                if (chords[v]->pNotes)
                    voices[v] += (voices[v].empty() ? "" : " ") + ChordText(section - measure->pSections, chords[v]);
        }
        std::string text;
        for (size_t v = 0; v < voices.size(); ++v) text += (v ? " | " : "") + voices[v];
        measures.push_back(text);
    }
    std::string text;
    for (size_t m = 0; m < measures.size(); ++m) text += (m ? " / " : "") + measures[m];
    return text;
}

}  // namespace

// Hands above with stems up, feet below with stems down; every hit lasts
// until the next hit of its limb, but not past the next beat.
TEST(DrumStaff, TwoVoicesAndHitLengths) {
    struct Case {
        const char* what;
        std::vector<Hit> hits;
        uint8_t numerator;
        uint8_t exponent;
        const char* voices;
    } const cases[] = {
        {"a rock groove: hi-hat eighths with the snare, kick on one and three",
         {{0, kClosedHat}, {2, kClosedHat}, {4, kClosedHat}, {4, kSnare}, {6, kClosedHat}, {8, kClosedHat},
          {10, kClosedHat}, {12, kClosedHat}, {12, kSnare}, {14, kClosedHat}, {0, kKick}, {8, kKick}},
         4, 2,
         "0:8[42]^ 2:8[42]^ 4:8[38 42]^ 6:8[42]^ 8:8[42]^ 10:8[42]^ 12:8[38 42]^ 14:8[42]^ | 0:4[36]v 8:4[36]v"},
        {"a hit lasts to the next of its limb within the beat: kick on one and its last sixteenth",
         {{0, kSnare}, {0, kKick}, {3, kKick}, {4, kKick}},
         4, 2, "0:4[38]^ | 0:8.[36]v 3:16[36]v 4:4[36]v"},
        {"the pedal hi-hat goes with the feet; a lone hand hit leaves the feet's voice unopened",
         {{0, kCrash}, {4, kPedalHat}, {12, kPedalHat}, {8, kSideStick}},
         4, 2, "0:4[49]^ 8:4[37]^ | 4:4[44]v 12:4[44]v"},
        {"only the feet play: the hands' voice stays empty above them",
         {{0, kKick}, {8, kKick}},
         4, 2, " | 0:4[36]v 8:4[36]v"},
        {"in 6/8 the beat is a dotted quarter; a hit is never tied, its first value kept",
         {{0, kKick}, {6, kKick}, {0, kClosedHat}},
         6, 3, "0:4.[42]^ | 0:4.[36]v 6:8[36]v"},
        {"open and closed hi-hat on one step, each its own drum",
         {{0, kClosedHat}, {2, kOpenHat}},
         2, 2, "0:8[42]^ 2:8[46]^"},
        {"a kick and a snare each sent twice at once (a layered sound) are one hit each",
         {{0, kKick}, {0, kKick}, {4, kSnare}, {4, kSnare}, {4, kKick}},
         2, 2, "4:4[38]^ | 0:4[36]v 4:4[36]v"},
    };
    const SNotationOptions readable = VSX_ReadableOptions();
    for (const Case& c : cases) {
        ScopedMidi midi(DrumFile(c.hits, c.numerator, c.exponent));
        ScopedOptionsTrack track(midi.get(), 0, readable);
        ASSERT_TRUE(track->bPercussion) << c.what;
        EXPECT_EQ(DescribeDrums(track.get()), c.voices) << c.what;
    }
}

// Every note stands on its drum's step with its head and mark and no
// accidental, whatever the key and transposition asked for; the first
// measure shows the percussion clef and no later one a clef or a key.
TEST(DrumStaff, StepsHeadsMarksClefAndKey) {
    MidiFile file;
    file.Conductor().TimeSignature(0, 4, 2).KeySignature(0, 3, false);
    MidiTrack& track = file.AddTrack();
    for (uint8_t key = 30; key <= 85; ++key) track.Note((key - 30) * kSection, 2, key, kDrums);
    ScopedMidi midi(file);
    const SNotationOptions readable = VSX_ReadableOptions();
    for (char transpose : {0, 5, -7}) {
        ScopedOptionsTrack parsed(midi.get(), 0, readable, transpose);
        ASSERT_TRUE(parsed->bPercussion);
        std::vector<uint8_t> keys;
        bool first = true;
        for (const SMeasure* measure : Measures(parsed.get())) {
            EXPECT_EQ(measure->nClef, first ? kClefPercussion : kClefUnchanged);
            EXPECT_EQ(measure->cKey, 0);
            EXPECT_EQ(measure->pKeyAccidentals, nullptr);
            first = false;
            for (const SSection* section : LinkedSections(measure))
                for (const SChord* chord : Chords(section))
                    for (const SNote* note : Notes(chord)) {
                        const SDrum& drum = DrumOfKey(note->bPitch);
                        EXPECT_EQ(note->cStep, drum.cStep) << int(note->bPitch);
                        EXPECT_EQ(note->bNotehead, drum.bNotehead) << int(note->bPitch);
                        EXPECT_EQ(note->bDrumMark, drum.bMark) << int(note->bPitch);
                        EXPECT_EQ(note->nAccidental, kAccidentalNone) << int(note->bPitch);
                        EXPECT_EQ(note->bString, 0) << int(note->bPitch);
                        EXPECT_EQ(chord->bStemUp, drum.bFoot ? 0 : 1) << int(note->bPitch);
                        if (!note->bTieIn) keys.push_back(note->bPitch);
                    }
        }
        EXPECT_EQ(keys.size(), 56u) << "every key once, untransposed (" << int(transpose) << ")";
        for (uint8_t key : keys) EXPECT_TRUE(key >= 30 && key <= 85);
    }
}

// Which tracks are drum tracks, and the channels every track reports, in
// both notations (the classic model reports channels too, never percussion).
TEST(DrumStaff, WhichTracksArePercussion) {
    // Format 1: a drum track, a mixed track, a pitched track on channel 1.
    MidiFile format1;
    format1.Conductor().TimeSignature(0, 4, 2);
    format1.AddTrack().Note(0, kQuarter, kKick, kDrums).Note(kQuarter, kQuarter, kSnare, kDrums);
    format1.AddTrack().Note(0, kQuarter, kKick, kDrums).Note(kQuarter, kQuarter, C4, 0);
    format1.AddTrack().Note(0, kQuarter, kKick, 0);
    // Format 0: channel 1 and channel 10 in the one chunk.
    MidiFile format0(96, 0);
    format0.Conductor().Note(0, kQuarter, C4, 0).Note(0, kQuarter, kKick, kDrums);

    struct Case {
        const char* what;
        const MidiFile& file;
        unsigned short track;
        uint16_t channels;
        bool percussion;
    } const cases[] = {
        {"format 1: every note on channel 10", format1, 0, 1u << kDrums, true},
        {"format 1: channel 10 mixed with channel 1 stays pitched", format1, 1, (1u << kDrums) | 1u, false},
        {"format 1: a pitched track playing key 36", format1, 2, 1u, false},
        {"format 0: channel 10", format0, kDrums, 1u << kDrums, true},
        {"format 0: channel 1", format0, 0, 1u, false},
    };
    for (const Case& c : cases) {
        ScopedMidi midi(c.file);
        ScopedOptionsTrack readable(midi.get(), c.track, VSX_ReadableOptions());
        EXPECT_EQ(readable->wChannels, c.channels) << c.what;
        EXPECT_EQ(readable->bPercussion != 0, c.percussion) << c.what;
        const SMeasure* first = readable->pFirstMeasure;
        ASSERT_NE(first, nullptr) << c.what;
        EXPECT_EQ(first->nClef == kClefPercussion, c.percussion) << c.what;

        ScopedOptionsTrack classic(midi.get(), c.track, ClassicOptions());
        EXPECT_EQ(classic->wChannels, c.channels) << c.what;
        EXPECT_EQ(classic->bPercussion, 0) << c.what;
        EXPECT_NE(classic->pFirstMeasure->nClef, kClefPercussion) << c.what;

        SNotationOptions withoutDrums = VSX_ReadableOptions();
        withoutDrums.bDrumStaff = 0;
        EXPECT_EQ(ScopedOptionsTrack(midi.get(), c.track, withoutDrums)->bPercussion, 0) << c.what;
    }
}
