// The key of a file without key signatures, estimated from the notes of all
// its pitched tracks in the readable notation: spelling and accidentals
// follow it, a long stretch in another key changes it, a short excursion
// does not, drums never count, and a file's own key signatures win.
#include "../support/test_support.h"

#include <string>
#include <vector>

namespace {

const int kMajorScale[] = {0, 2, 4, 5, 7, 9, 11};

// Bars of four quarter notes on the chords I IV V I of the major key on
// `tonic` (a MIDI key), over and over: each bar the chord's root held in the
// bass and its triad broken above, from bar `first` on.
void Cadences(MidiTrack& track, uint32_t first, uint32_t bars, int tonic, uint8_t channel = 0) {
    const int roots[] = {0, 3, 4, 0};  // scale degrees
    for (uint32_t b = 0; b < bars; ++b) {
        int degree = roots[b % 4];
        uint32_t at = (first + b) * kWhole;
        track.Note(at, kWhole, static_cast<uint8_t>(tonic - 12 + kMajorScale[degree]), channel);
        for (int k = 0; k < 4; ++k) {
            int step = degree + 2 * (k % 3);
            int key = tonic + kMajorScale[step % 7] + 12 * (step / 7);
            track.Note(at + k * kQuarter, kQuarter, static_cast<uint8_t>(key), channel);
        }
    }
}

// Bars of a chromatic scale in sixteenths, from `low` up.
void Chromatic(MidiTrack& track, uint32_t first, uint32_t bars, int low) {
    for (uint32_t s = 0; s < 16 * bars; ++s)
        track.Note(first * kWhole + s * kSixteenth, kSixteenth, static_cast<uint8_t>(low + s % 24));
}

SNotationOptions EstimateKeyOnly() {
    SNotationOptions options = {};
    options.cbSize = sizeof options;
    options.bEstimateKey = 1;
    return options;
}

// The measures where the key changes or key-signature glyphs stand, from
// 1, as "measure:key", with "/glyphs" where there are any.
std::string Keys(const STrack* track) {
    std::string text;
    int number = 1, previous = 99;
    for (const SMeasure* m : Measures(track)) {
        int glyphs = 0;
        for (const SKeyAccidental* g = m->pKeyAccidentals; g; g = g->pNext) ++glyphs;
        if (m->cKey != previous || glyphs)
            text += (text.empty() ? "" : " ") + std::to_string(number) + ":" + std::to_string(m->cKey) +
                    (glyphs ? "/" + std::to_string(glyphs) : "");
        previous = m->cKey;
        ++number;
    }
    return text;
}

// Twelve bars of cadences in C major, an interlude of some bars, and twelve
// more in C: the interlude a chromatic scale, or cadences in F sharp major.
MidiFile InterludeInC(uint32_t bars, bool chromatic) {
    MidiFile file;
    MidiTrack& track = file.AddTrack();
    Cadences(track, 0, 12, 60);
    if (chromatic)
        Chromatic(track, 12, bars, 54);
    else
        Cadences(track, 12, bars, 66);
    Cadences(track, 12 + bars, 12, 60);
    return file;
}

// How many notes of the track show an accidental.
int Accidentals(const STrack* track) {
    int count = 0;
    for (const SMeasure* m : Measures(track))
        for (const SSection* s : LinkedSections(m))
            for (const SChord* c : Chords(s))
                for (const SNote* n : Notes(c)) count += n->nAccidental != 0;
    return count;
}

}  // namespace

TEST(EstimatedKey, KeysOfFilesWithoutKeySignature) {
    // Each case: a file, the keys one of its tracks shows in the readable
    // notation, and whether they were estimated.
    struct Case {
        const char* what;
        MidiFile file;
        const char* keys;  // Keys of the track, readable
        bool estimated;
        unsigned short track = 0;  // the track looked at
    };
    std::vector<Case> cases;
    {
        MidiFile file;
        Cadences(file.AddTrack(), 0, 16, 63);
        cases.push_back({"E flat major: three flats", file, "1:-3/3", true});
    }
    {
        MidiFile file;
        file.Conductor().KeySignature(0, 2);
        Cadences(file.AddTrack(), 0, 16, 63);
        cases.push_back({"the file's own key wins, however the notes sound", file, "1:2/2", false});
    }
    {
        MidiFile file;
        file.Conductor().KeySignature(0, 0);
        Cadences(file.AddTrack(), 0, 16, 63);
        cases.push_back({"so does a key signature of C major", file, "1:0", false});
    }
    {
        MidiFile file;
        Cadences(file.AddTrack(), 0, 12, 60);
        Cadences(file.AddTrack(), 12, 12, 68);
        cases.push_back({"a modulation from C to A flat, the new key in another track", file, "1:0 13:-4/4", true, 1});
    }
    cases.push_back({"a chromatic passage of two bars stays in the key", InterludeInC(2, true), "1:0", true});
    cases.push_back({"three bars in F sharp major are an excursion, not a change", InterludeInC(3, false), "1:0", true});
    {
        MidiFile file;
        Cadences(file.AddTrack(), 0, 16, 63);
        // Long drum notes on keys of B major's scale, far more than the tune.
        MidiTrack& drums = file.AddTrack();
        for (uint32_t b = 0; b < 16; ++b) drums.Chord(b * kWhole, kWhole, {35, 42, 47, 49, 51, 54, 59, 61}, 9);
        cases.push_back({"a drum track on channel 10 does not count", file, "1:-3/3", true});
    }
    {
        MidiFile file(96, 0);
        Cadences(file.Conductor(), 0, 16, 63, 2);
        for (uint32_t b = 0; b < 16; ++b) file.Conductor().Chord(b * kWhole, kWhole, {42, 47, 54, 59}, 9);
        cases.push_back({"nor do a format 0 file's drums", file, "1:-3/3", true, 2});
    }
    for (const Case& c : cases) {
        ScopedMidi midi(c.file);
        ScopedOptionsTrack readable(midi.get(), c.track, EstimateKeyOnly());
        EXPECT_EQ(Keys(readable.get()), c.keys) << c.what;
        EXPECT_EQ(readable->bKeyEstimated, c.estimated ? 1 : 0) << c.what;
    }
}

TEST(EstimatedKey, SpellingFollowsTheEstimateAndTheClassicModelKeepsC) {
    MidiFile file;
    Cadences(file.AddTrack(), 0, 16, 63);
    ScopedMidi midi(file);
    ScopedOptionsTrack readable(midi.get(), 0, EstimateKeyOnly());
    // Every note of the piece is in the key: three flats, and no accidental.
    EXPECT_EQ(Accidentals(readable.get()), 0);
    ScopedTrack classic(midi.get(), 0);
    EXPECT_EQ(Keys(classic.get()), "1:0");
    EXPECT_EQ(classic->bKeyEstimated, 0);
    EXPECT_GT(Accidentals(classic.get()), 16 * 2);  // E flat, A flat, B flat in C major
    // The whole preset spells the same way; a transposition moves the key.
    const SNotationOptions preset = VSX_ReadableOptions();
    ScopedOptionsTrack whole(midi.get(), 0, preset);
    EXPECT_EQ(Keys(whole.get()), "1:-3/3");
    STrack* up = VSX_ParseTrackWithOptions(midi.get(), 0, 16, 2, &preset);  // F major
    EXPECT_EQ(Keys(up), "1:-1/1");
    EXPECT_EQ(Accidentals(up), 0);
    VSX_ReleaseTrack(up);
}

TEST(EstimatedKey, NoPitchedNotesNoEstimate) {
    MidiFile file;
    file.AddTrack().Note(0, kWhole, 38, 9).Note(kWhole, kWhole, 42, 9);
    file.AddTrack().Note(0, kQuarter, 60);  // one pitch class tells no key
    ScopedMidi midi(file);
    ScopedOptionsTrack drums(midi.get(), 0, EstimateKeyOnly());
    ScopedOptionsTrack lone(midi.get(), 1, EstimateKeyOnly());
    EXPECT_EQ(Keys(drums.get()), "1:0");
    EXPECT_EQ(Keys(lone.get()), "1:0");
    EXPECT_EQ(drums->bKeyEstimated, 0);
    EXPECT_EQ(lone->bKeyEstimated, 0);
}
