// Staff steps read back as letters and octaves: the one copy of the letter
// and octave arithmetic that the MusicXML exporter and the tool's reports
// share.
//
// The model draws every note at a staff step in its measure's clef. Counted
// in treble coordinates, step 0 is C4 (middle C) and each step is one letter
// up; a clef moves where that letter is drawn by its step shift
// (StepShiftOfClef in score_model.h).
#ifndef VASTREL_MUSICXML_STAFF_STEPS_H
#define VASTREL_MUSICXML_STAFF_STEPS_H

#include "score_model.h"

// Division rounding towards minus infinity, so that the steps below C4 land
// in octave 3 and lower.
inline int FloorDiv(int a, int b) {
    int q = a / b;
    if (a % b != 0 && (a < 0) != (b < 0)) --q;
    return q;
}

// The step in treble coordinates of a note drawn at `step` in a clef of that
// shift. Steps are 8-bit and the clef shift is added in 8 bits, so a note
// far outside its clef's range can wrap; MIDI keys 0..255 have treble steps
// -36..114, which tells the wrapped ones apart.
inline int TrebleStep(int step, int shift) {
    int treble = step - shift;
    if (treble < -42) treble += 256;
    if (treble > 118) treble -= 256;
    return treble;
}

inline int LetterOf(int treble) { return treble - 7 * FloorDiv(treble, 7); }  // 0 C, 1 D ... 6 B
inline int OctaveOf(int treble) { return 4 + FloorDiv(treble, 7); }          // scientific: C4 is middle C

// MIDI key of the unaltered letter at a treble step.
inline int NaturalKey(int treble) {
    static const int kSemitones[] = {0, 2, 4, 5, 7, 9, 11};
    return 60 + 12 * FloorDiv(treble, 7) + kSemitones[LetterOf(treble)];
}

#endif
