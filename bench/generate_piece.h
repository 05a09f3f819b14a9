// A deterministic generator of large piano pieces for the benchmarks: the
// same shape always gives the same bytes, on every machine.
//
// The conductor track changes meter every 8 measures, key every 12 and tempo
// every 10. Each music track is one hand of a piano part: two to four voices
// a measure in separate registers (melody, two inner voices, bass), chords in
// the inner voices, notes held over bar lines, rests, slightly detached
// releases and a little onset jitter, as a played file has.
#ifndef VASTREL_BENCH_GENERATE_PIECE_H
#define VASTREL_BENCH_GENERATE_PIECE_H

#include <stdint.h>

#include "midi_writer.h"

struct PieceShape {
    int tracks = 16;            // music tracks behind the conductor track
    int measures = 2000;        // measures of each track
    uint16_t division = 480;    // ticks per quarter note
    uint32_t seed = 20240607;   // the same seed gives the same piece
};

struct GeneratedPiece {
    Bytes bytes;                // the Standard MIDI File, format 1
    uint64_t notes = 0;         // note-ons with a velocity above 0, all tracks
    uint64_t events = 0;        // events of the music tracks, end-of-track included
    uint32_t endTick = 0;       // tick of the last bar line
};

// The full piece: 16 tracks of 2,000 measures, about 200,000 notes.
PieceShape FullPiano();
// The same piece cut to 1/27 of its measures, for the linearity check (its
// measures are the first ones of the full piece).
PieceShape SmallPiano();

GeneratedPiece GeneratePiano(const PieceShape& shape);

#endif
