// End to end: every track of a few multi-track files, parsed at every
// resolution and with transpositions, must come out as a sound score model
// (see model_invariants.h for what is checked).
#include <string>
#include <vector>

#include "../support/model_invariants.h"
#include "../support/test_support.h"

namespace {

const unsigned char kResolutions[] = {4, 8, 16, 32, 64};
const char kTranspositions[] = {0, 7, -12};

// Ticks of one measure in the meters used below (division 96).
const uint32_t W = kWhole, H = kHalf, Q = kQuarter, E = kEighth, S = kSixteenth, T = kSixteenth / 2;
const uint32_t k34 = 3 * Q, k68 = 6 * E;

// Parses every selectable track of the file at every resolution and
// transposition and checks the finished models.
void CheckEveryTrack(const MidiFile& file) {
    for (unsigned char resolution : kResolutions) {
        ScopedMidi midi(file);
        for (char transpose : kTranspositions) {
            for (unsigned short t = 0; t < midi->wTracks; ++t) {
                std::string what = "track " + std::to_string(t) + " at resolution " + std::to_string(resolution) +
                                   ", transposed by " + std::to_string(transpose);
                ScopedTrack track(midi.get(), t, resolution, transpose);
                ExpectModelInvariants(midi.get(), track.get(), what);
            }
        }
    }
}

// A piano part: melody with chords, runs and ties over bar lines in the right
// hand, bass with held notes under moving chords in the left, and a third
// track with inner voices a second apart. 4/4 in D major, then three flats,
// then 3/4 and 6/8 in E major with a tempo change.
MidiFile PianoFile() {
    MidiFile file;
    const uint32_t m4 = 4 * W, m6 = m4 + 2 * k34;
    file.Conductor()
        .Name(0, "Piano piece")
        .Tempo(0, 500000)
        .TimeSignature(0, 4, 2)
        .KeySignature(0, 2)
        .KeySignature(2 * W, -3)
        .TimeSignature(m4, 3, 2)
        .Tempo(m4, 600000)
        .TimeSignature(m6, 6, 3)
        .KeySignature(m6, 4);

    MidiTrack& right = file.AddTrack();
    right.Name(0, "Right hand").Program(0, 0);
    const uint8_t run[] = {72, 74, 76, 77, 79, 77, 76, 74};
    for (int i = 0; i < 8; ++i) right.Note(i * E, E, run[i]);
    right.Chord(W, H, {72, 76, 79}).Note(W + H, Q, 84).Note(W + 3 * Q, H, 86);  // tied into measure 2
    const uint8_t down[] = {81, 79, 77, 76};
    for (int i = 0; i < 4; ++i) right.Note(2 * W + Q + i * S, S, down[i]);
    right.Note(2 * W + 2 * Q, 3 * E, 74).Note(2 * W + 2 * Q + 3 * E, E, 72);
    right.Chord(3 * W, W, {67, 71, 74, 79});
    right.Note(m4, Q, 96).Note(m4 + Q, Q, 91).Note(m4 + 2 * Q, Q, 88);
    right.Chord(m4 + k34, 3 * Q, {72, 77});
    right.Note(m6, 3 * E, 76).Note(m6 + 3 * E, E, 77).Note(m6 + 4 * E, Q, 79);
    for (int i = 0; i < 8; ++i) right.Note(m6 + k68 + i * T, T, static_cast<uint8_t>(84 - i));
    right.Note(m6 + k68 + 3 * E, 3 * E + k68, 83);  // over the bar line into a third 6/8 measure

    MidiTrack& left = file.AddTrack();
    left.Name(0, "Left hand").Program(0, 32);
    left.Note(0, W, 36);
    for (int i = 0; i < 4; ++i) left.Chord(i * Q, Q, {48, 52, 55});
    left.Note(W, Q, 43).Note(W + Q, H, 45).Note(W + 3 * Q, E, 47).Note(W + 3 * Q + E, E, 48);
    left.Note(2 * W + 3 * Q, W, 41);  // beat 4 over the bar line
    left.Chord(3 * W + 3 * Q, Q, {53, 57});
    left.Note(m4, Q, 40).Note(m4 + Q, Q, 45).Note(m4 + 2 * Q, Q, 47);
    left.Chord(m4 + k34, 3 * Q, {40, 47});
    left.Note(m6, 3 * E, 45).Note(m6 + 3 * E, 3 * E, 52).Note(m6 + k68, 3 * E, 50).Note(m6 + k68 + 3 * E, 3 * E, 48);

    MidiTrack& inner = file.AddTrack();
    inner.Name(0, "Inner voices");
    inner.Note(0, H, 60).Note(0, E, 64).Note(E, E, 65).Note(Q, E, 67).Note(Q + E, E, 65);
    inner.Chord(H, Q, {60, 62, 64}).Chord(H + Q, Q, {59, 60});  // seconds: displaced heads
    inner.Note(W, W + H, 57).Chord(W + Q, E, {62, 64}).Chord(W + 3 * Q, Q, {66, 67});
    inner.Note(2 * W + Q + S, S, 70).Note(2 * W + 2 * Q + E, 3 * S, 69);
    // Nothing in measure 3: a measure without voices.
    inner.Note(m4 + E, Q, 62).Note(m4 + 3 * E, 3 * E, 64);
    inner.Chord(m6, k68 * 2, {55, 59, 62});
    return file;
}

// Meter and key changes at every bar line and notes of every length on a
// pseudo-random grid, in three tracks; the same seed every run.
MidiFile MeterChangesFile() {
    struct MeterSpan {
        uint8_t numerator, exponent;
        int8_t key;
        uint32_t ticks;  // one measure
    };
    const MeterSpan meters[] = {
        {3, 2, 0, 3 * Q}, {6, 3, -1, 6 * E}, {2, 1, 3, 2 * H}, {5, 2, -6, 5 * Q},
        {7, 3, 7, 7 * E}, {4, 2, -7, W},     {3, 3, 1, 3 * E}, {12, 3, 0, 12 * E},
    };
    MidiFile file;
    uint32_t tick = 0;
    std::vector<std::pair<uint32_t, uint32_t>> bars;  // start, length
    for (int round = 0; round < 2; ++round) {
        for (const MeterSpan& m : meters) {
            file.Conductor().TimeSignature(tick, m.numerator, m.exponent).KeySignature(tick, m.key);
            bars.push_back({tick, m.ticks});
            tick += m.ticks;
        }
    }
    const uint32_t end = tick;
    uint32_t seed = 12345;
    auto next = [&seed](uint32_t n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % n;
    };
    const uint32_t lengths[] = {T / 2, T, S, 3 * S, E, 3 * E, Q, 3 * Q, H, W, W + H};
    for (int t = 0; t < 3; ++t) {
        MidiTrack& track = file.AddTrack();
        const uint8_t low = static_cast<uint8_t>(t == 0 ? 60 : t == 1 ? 36 : 45);
        uint32_t at = 0;
        while (at < end) {
            uint32_t length = lengths[next(11)];
            int keys = 1 + static_cast<int>(next(3));
            for (int k = 0; k < keys; ++k) track.Note(at, length, static_cast<uint8_t>(low + next(40)));
            // Mostly one after the other, sometimes overlapping, sometimes a gap.
            uint32_t step = next(4) == 0 ? length / 2 : length + (next(5) == 0 ? E : 0);
            at += step < T / 2 ? T / 2 : step;
        }
    }
    return file;
}

// A format 0 file: piano on channel 0, bass on channel 1, drums on channel
// 9; the other channels have no notes and give empty tracks.
MidiFile FormatZeroFile() {
    MidiFile file(96, 0);
    MidiTrack& track = file.Conductor();
    track.TimeSignature(0, 2, 1).KeySignature(0, -2).Tempo(0, 400000);
    track.Program(0, 5, 0).Program(0, 33, 1);
    for (int bar = 0; bar < 4; ++bar) {
        uint32_t at = bar * W;
        track.Chord(at, H, {70, 74, 77}, 0).Note(at + H, Q + E, 79, 0).Note(at + H + Q + E, E, 77, 0);
        track.Note(at, Q, 34, 1).Note(at + Q, Q, 41, 1).Note(at + H, H + Q, 38, 1);  // over the bar line
        for (int i = 0; i < 8; ++i) track.Note(at + i * E, E / 2, static_cast<uint8_t>(i % 2 ? 42 : 36), 9);
    }
    return file;
}

}  // namespace

TEST(Invariants, PianoWithTwoHandsAndInnerVoices) { CheckEveryTrack(PianoFile()); }

TEST(Invariants, MeterAndKeyChangesWithNotesOfEveryLength) { CheckEveryTrack(MeterChangesFile()); }

TEST(Invariants, FormatZeroChannels) { CheckEveryTrack(FormatZeroFile()); }

TEST(Invariants, TracksOutliveTheirFile) {
    // Nothing in a track points into its file: after the file is released the
    // model still reads whole (the sanitizer build catches a stray pointer).
    for (unsigned char resolution : kResolutions) {
        TempFile temp(PianoFile().Build());
        SMidiFile* file = VSX_LoadMidiFile(temp.Path());
        std::vector<STrack*> tracks;
        for (unsigned short t = 0; t < file->wTracks; ++t) tracks.push_back(VSX_ParseTrack(file, t, resolution, 0));
        VSX_ReleaseFile(file);
        for (size_t t = 0; t < tracks.size(); ++t) {
            for (const std::string& violation : ModelInvariantViolations(nullptr, tracks[t]))
                ADD_FAILURE() << "track " << t << " at resolution " << int(resolution) << ": " << violation;
            VSX_ReleaseTrack(tracks[t]);
        }
    }
}
