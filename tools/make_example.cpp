// Writes the bundled example, "A Little Waltz": twelve measures for piano,
// two hands on two tracks. Eight measures of 3/4 in G major at 100 quarter
// notes per minute, then four of 2/4 in D major at 120. It has chords, a
// second voice in the right hand, a note tied over a bar line, eighth and
// sixteenth groups, rests, and a left hand well below the treble staff.
//
//   vastrel_make_example examples/little-waltz.mid
#include <cstdio>

#include "midi_writer.h"

// Ticks at 480 per quarter note.
static const uint32_t kQ = 480;          // quarter
static const uint32_t kE = kQ / 2;       // eighth
static const uint32_t kS = kQ / 4;       // sixteenth
static const uint32_t kH = 2 * kQ;       // half
static const uint32_t kDottedQ = kQ + kE;

// MIDI keys, C4 = 60.
enum Key : uint8_t {
    D2 = 38, E2 = 40, G2 = 43, A2 = 45, B2 = 47,
    C3 = 48, Cs3 = 49, D3 = 50, E3 = 52, Fs3 = 54, G3 = 55,
    D4 = 62, Fs4 = 66, G4 = 67, A4 = 69, B4 = 71,
    C5 = 72, Cs5 = 73, D5 = 74, E5 = 76, Fs5 = 78, G5 = 79,
};

// Start of measure m (from 1): eight measures of 3/4, then 2/4.
static uint32_t Bar(int m) {
    const uint32_t kWaltzBar = 3 * kQ;
    if (m <= 8) return (m - 1) * kWaltzBar;
    return 8 * kWaltzBar + (m - 9) * 2 * kQ;
}

static const uint32_t kEnd = Bar(13);

static void Conductor(MidiTrack& t) {
    t.Name(0, "A Little Waltz");
    t.TimeSignature(0, 3, 2).KeySignature(0, 1).Tempo(0, 600000);   // 3/4, G major, 100 per minute
    t.TimeSignature(Bar(9), 2, 2).KeySignature(Bar(9), 2).Tempo(Bar(9), 500000);  // 2/4, D major, 120
    t.EndAt(kEnd);
}

static void RightHand(MidiTrack& t) {
    t.Name(0, "Right hand").Program(0, 0);
    // 1-2: up the G major chord and down again
    t.Note(Bar(1), kQ, G4).Note(Bar(1) + kQ, kE, B4).Note(Bar(1) + kQ + kE, kE, D5).Note(Bar(1) + 2 * kQ, kQ, G5);
    t.Note(Bar(2), kE, Fs5).Note(Bar(2) + kE, kE, E5).Note(Bar(2) + kQ, kQ, D5).Note(Bar(2) + 2 * kQ, kQ, C5);
    // 3: a dotted quarter
    t.Note(Bar(3), kDottedQ, B4).Note(Bar(3) + kDottedQ, kE, A4).Note(Bar(3) + 2 * kQ, kQ, G4);
    // 4-5: the C is held over the bar line
    t.Note(Bar(4), kQ, A4).Note(Bar(4) + kQ, kQ, B4).Note(Bar(4) + 2 * kQ, kH, C5);
    t.Note(Bar(5) + kQ, kE, B4).Note(Bar(5) + kQ + kE, kE, A4).Note(Bar(5) + 2 * kQ, kQ, G4);
    // 6: a melody over a held B, two voices
    t.Note(Bar(6), kQ, D5).Note(Bar(6) + kQ, kQ, E5).Note(Bar(6) + 2 * kQ, kQ, Fs5);
    t.Note(Bar(6), kH, B4);
    // 7-8: chords and rests
    t.Chord(Bar(7), kQ, {B4, D5, G5}).Chord(Bar(7) + 2 * kQ, kQ, {A4, C5, Fs5});
    t.Chord(Bar(8), kH, {B4, D5, G5});
    // 9-12, 2/4 in D major: sixteenth runs
    t.Note(Bar(9), kS, Fs5).Note(Bar(9) + kS, kS, E5).Note(Bar(9) + 2 * kS, kS, D5).Note(Bar(9) + 3 * kS, kS, Cs5);
    t.Note(Bar(9) + kQ, kE, D5).Note(Bar(9) + kQ + kE, kE, A4);
    t.Note(Bar(10), kE, B4).Note(Bar(10) + kE, kE, Cs5).Note(Bar(10) + kQ, kQ, D5);
    t.Note(Bar(11), kS, E5).Note(Bar(11) + kS, kS, Fs5).Note(Bar(11) + 2 * kS, kS, G5).Note(Bar(11) + 3 * kS, kS, E5);
    t.Note(Bar(11) + kQ, kQ, Cs5);
    t.Chord(Bar(12), kH, {D4, Fs4, A4, D5});  // the low D below the staff
    t.EndAt(kEnd);
}

// Bass note on the beat, the chord on the two after it.
static void WaltzBar(MidiTrack& t, int m, uint8_t bass, std::initializer_list<uint8_t> chord) {
    t.Note(Bar(m), kQ, bass).Chord(Bar(m) + kQ, kQ, chord).Chord(Bar(m) + 2 * kQ, kQ, chord);
}

// Four eighths, one beamed group.
static void Eighths(MidiTrack& t, int m, uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    t.Note(Bar(m), kE, a).Note(Bar(m) + kE, kE, b).Note(Bar(m) + 2 * kE, kE, c).Note(Bar(m) + 3 * kE, kE, d);
}

static void LeftHand(MidiTrack& t) {
    t.Name(0, "Left hand").Program(0, 0);
    WaltzBar(t, 1, G2, {B2, D3});
    WaltzBar(t, 2, D2, {C3, Fs3});
    WaltzBar(t, 3, G2, {B2, D3});
    WaltzBar(t, 4, D2, {C3, Fs3});
    WaltzBar(t, 5, E2, {B2, E3, G3});
    WaltzBar(t, 6, C3, {E3, G3});
    t.Note(Bar(7), kQ, D2).Chord(Bar(7) + kQ, kQ, {A2, C3, Fs3});  // rest on beat 3
    t.Note(Bar(8), kH, G2);                                         // rest on beat 3
    Eighths(t, 9, D2, A2, Fs3, A2);
    Eighths(t, 10, G2, B2, D3, B2);
    Eighths(t, 11, A2, Cs3, E3, Cs3);
    t.Chord(Bar(12), kH, {D2, A2});
    t.EndAt(kEnd);
}

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: vastrel_make_example OUTPUT.mid\n");
        return 2;
    }
    MidiFile file(480);
    Conductor(file.Conductor());
    RightHand(file.AddTrack());
    LeftHand(file.AddTrack());
    Bytes bytes = file.Build();

    std::FILE* out = std::fopen(argv[1], "wb");
    if (!out) {
        std::perror(argv[1]);
        return 1;
    }
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    if (std::fclose(out) != 0) written = false;
    if (!written) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
