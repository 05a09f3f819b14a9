// Reading alterations back: the model keeps each note as a notation program
// draws it (a staff step and the accidental printed, if any), MusicXML wants
// its <alter>. A musician reads it from the staff: an accidental lasts for
// its staff step to the end of the measure, and any other step takes the key
// signature. Reading it this way keeps the library's spelling (B sharp stays
// B sharp, not C).
#ifndef VASTREL_MUSICXML_ALTERATIONS_H
#define VASTREL_MUSICXML_ALTERATIONS_H

#include <utility>
#include <vector>

#include "score_model.h"

// Alteration (semitones) that a key signature of `key` sharps (positive) or
// flats (negative) gives the letter 0 C, 1 D ... 6 B.
int KeyAlteration(int key, int letter);

// The alterations of one measure's notes, read all at once when the measure
// is reached; the working lists are kept from measure to measure so that a
// long score allocates them once.
class MeasureAlterations {
public:
    // Reads every note of `measure`, whose staff steps are drawn in a clef of
    // that step shift (StepShiftOfClef).
    void Read(const SMeasure& measure, int shift);
    // The alteration of one of the measure's notes (0 for any other note).
    int Of(const SNote* note) const;

private:
    struct NoteAlteration {
        const SNote* note;
        int alteration;
    };
    using OnStep = std::pair<int, const SNote*>;  // a note by its treble step

    static constexpr int kUnchanged = 99;
    // Every step in treble coordinates that an 8-bit staff step in any clef
    // can give (a sound model keeps to -36 ... 114).
    static constexpr int kLowestStep = -160;
    static constexpr int kSteps = 320;

    static bool Before(const NoteAlteration& a, const NoteAlteration& b);
    void ReadStep(int key, int treble, const OnStep* first, const OnStep* last);

    std::vector<NoteAlteration> byNote_;  // sorted by note once the measure is read
    std::vector<OnStep> onSteps_;         // one section's notes by treble step
    std::vector<int> changed_;            // by treble step: alteration of the last sign, or kUnchanged
    std::vector<int> signs_;              // one step's printed signs in one section
};

#endif
