// Writes the benchmark piano pieces with the tests' MIDI writer.
#include "generate_piece.h"

#include <algorithm>
#include <vector>

namespace {

// xorshift32: small, fast and the same everywhere.
class Random {
public:
    explicit Random(uint32_t seed) : state_(seed ? seed : 1) {}
    uint32_t Next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    // 0 .. n-1
    uint32_t Below(uint32_t n) { return Next() % n; }
    bool OneIn(uint32_t n) { return Below(n) == 0; }
    template <typename T, size_t N>
    T Pick(const T (&choices)[N]) { return choices[Below(N)]; }

private:
    uint32_t state_;
};

struct Meter {
    uint8_t numerator;
    uint8_t denominatorExponent;  // 2 = quarter, 3 = eighth
};

// One meter for each block of 8 measures, in turn.
const Meter kMeters[] = {{4, 2}, {3, 2}, {6, 3}, {2, 2}, {12, 3}, {2, 1}, {5, 2}, {9, 3}};
const int kMeasuresPerMeter = 8;
// One key for each block of 12 measures; minor every other time.
const int8_t kKeys[] = {0, 1, 2, -1, -3, 4, -2, 3, -5, 5, -4, -6, 6};
const int kMeasuresPerKey = 12;
// One tempo (quarter notes per minute) for each block of 10 measures.
const uint32_t kTempi[] = {96, 120, 132, 84, 108, 144, 72};
const int kMeasuresPerTempo = 10;

// The four voices of one hand, each with a register of its own so that no
// two voices ever hold the same key (the file pairs note-ons and note-offs
// by key alone).
struct VoiceStyle {
    uint8_t low, high;        // register, keys inclusive
    const uint8_t* lengths;   // note lengths to choose from, in sixteenths
    size_t lengthCount;
    uint32_t maxChord;        // most keys struck together
};

const uint8_t kMelodyLengths[] = {2, 4, 3, 4, 6, 8, 4, 2, 8, 12, 1, 6};
const uint8_t kInnerLengths[] = {4, 8, 6, 4, 12, 8, 16};
const uint8_t kBassLengths[] = {8, 16, 4, 12, 8, 16, 24};
const VoiceStyle kVoices[] = {
    {74, 88, kMelodyLengths, sizeof kMelodyLengths, 1},
    {62, 73, kInnerLengths, sizeof kInnerLengths, 2},
    {50, 61, kInnerLengths, sizeof kInnerLengths, 2},
    {36, 49, kBassLengths, sizeof kBassLengths, 1},
};
const int kVoiceCount = 4;

uint32_t MeasureTicks(const Meter& meter, uint16_t division) {
    return meter.numerator * 4u * division >> meter.denominatorExponent;
}

const Meter& MeterOf(int measure) { return kMeters[(measure / kMeasuresPerMeter) % (sizeof kMeters / sizeof kMeters[0])]; }

void WriteConductor(MidiTrack& conductor, const PieceShape& shape, const std::vector<uint32_t>& barLines) {
    conductor.Name(0, "Benchmark piano piece");
    for (int m = 0; m < shape.measures; ++m) {
        uint32_t tick = barLines[static_cast<size_t>(m)];
        if (m % kMeasuresPerMeter == 0) {
            const Meter& meter = MeterOf(m);
            conductor.TimeSignature(tick, meter.numerator, meter.denominatorExponent);
        }
        if (m % kMeasuresPerKey == 0) {
            size_t k = static_cast<size_t>(m / kMeasuresPerKey);
            conductor.KeySignature(tick, kKeys[k % (sizeof kKeys / sizeof kKeys[0])], static_cast<uint8_t>(k % 2));
        }
        if (m % kMeasuresPerTempo == 0) {
            uint32_t bpm = kTempi[static_cast<size_t>(m / kMeasuresPerTempo) % (sizeof kTempi / sizeof kTempi[0])];
            conductor.Tempo(tick, 60000000u / bpm);
        }
    }
    conductor.EndAt(barLines.back());
}

// One hand: the voices sounding in a measure change from measure to measure;
// a voice whose last note is held over the bar line goes on from where that
// note ends.
void WriteHand(MidiTrack& track, int index, const PieceShape& shape, const std::vector<uint32_t>& barLines,
               GeneratedPiece& piece) {
    Random random(shape.seed * 2654435761u + static_cast<uint32_t>(index) * 40503u + 1);
    const uint32_t sixteenth = shape.division / 4;
    const int shift = index % 5 - 2;  // each hand a little higher or lower
    track.Name(0, "Piano " + std::to_string(index + 1));
    track.Program(0, static_cast<uint8_t>(index % 8));  // the piano family
    uint32_t voiceFree[kVoiceCount] = {0, 0, 0, 0};       // where each voice may start again
    uint8_t voiceKey[kVoiceCount];
    for (int v = 0; v < kVoiceCount; ++v) voiceKey[v] = static_cast<uint8_t>((kVoices[v].low + kVoices[v].high) / 2);

    for (int m = 0; m < shape.measures; ++m) {
        const uint32_t start = barLines[static_cast<size_t>(m)];
        const uint32_t end = barLines[static_cast<size_t>(m) + 1];
        // Sustain pedal down at the bar line, up just before the next.
        track.Controller(start, 64, 127);
        track.Controller(end - sixteenth / 2, 64, 0);

        // Melody and bass always; one or both inner voices in most measures.
        bool sounding[kVoiceCount] = {true, random.OneIn(2), random.OneIn(3), true};
        for (int v = 0; v < kVoiceCount; ++v) {
            if (!sounding[v]) continue;
            const VoiceStyle& style = kVoices[v];
            const int low = style.low + shift, high = style.high + shift;
            uint32_t tick = std::max(start, voiceFree[v]);
            while (tick < end) {
                uint32_t length = style.lengths[random.Below(static_cast<uint32_t>(style.lengthCount))] * sixteenth;
                // Most notes stop at the bar line; a third are held over it
                // (never past the last one).
                bool held = tick + length > end;
                if (held && (m + 1 == shape.measures || !random.OneIn(3))) length = end - tick;
                if (random.OneIn(7)) {                              // a rest
                    tick += std::min(length, end - tick);
                    continue;
                }
                // A step or a leap from the voice's last key, kept in its register.
                int key = voiceKey[v] + static_cast<int>(random.Below(9)) - 4;
                if (random.OneIn(6)) key += random.OneIn(2) ? 7 : -7;
                key = std::min(std::max(key, low), high);
                voiceKey[v] = static_cast<uint8_t>(key);
                const uint32_t jitter = v == 0 ? random.Below(8) : 0;  // the melody is played a little late
                const uint32_t release = 8 + random.Below(24);         // and every note a little detached
                const uint32_t keys = 1 + random.Below(style.maxChord);
                for (uint32_t k = 0; k < keys; ++k) {
                    int chordKey = key - static_cast<int>(k) * (3 + static_cast<int>(random.Below(2)));
                    if (chordKey < low) break;
                    track.Note(tick + jitter, length - release, static_cast<uint8_t>(chordKey));
                    ++piece.notes;
                    piece.events += 2;
                }
                tick += length;
            }
            voiceFree[v] = tick;
        }
    }
    piece.events += 2 * static_cast<uint64_t>(shape.measures) + 3;  // pedal, name, program, end of track
    track.EndAt(barLines.back());
}

}  // namespace

PieceShape FullPiano() { return PieceShape{}; }

PieceShape SmallPiano() {
    PieceShape shape;
    shape.measures = 2000 / 27;
    return shape;
}

GeneratedPiece GeneratePiano(const PieceShape& shape) {
    std::vector<uint32_t> barLines(1, 0);
    for (int m = 0; m < shape.measures; ++m) barLines.push_back(barLines.back() + MeasureTicks(MeterOf(m), shape.division));

    GeneratedPiece piece;
    piece.endTick = barLines.back();
    MidiFile file(shape.division);
    WriteConductor(file.Conductor(), shape, barLines);
    for (int t = 0; t < shape.tracks; ++t) WriteHand(file.AddTrack(), t, shape, barLines, piece);
    piece.bytes = file.Build();
    return piece;
}
