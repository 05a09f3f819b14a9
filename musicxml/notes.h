// Notes and voices: the chords and rests of one measure written voice by
// voice on the note staff or the tablature staff, with backup and forward
// keeping every voice in time.
#ifndef VASTREL_MUSICXML_NOTES_H
#define VASTREL_MUSICXML_NOTES_H

#include <cstddef>

#include "alterations.h"
#include "musicxml.h"
#include "score_model.h"
#include "xml_writer.h"

constexpr int kWholeDivisions = 4 * kMusicXmlDivisions;

// Where the notes being written go: the part's one staff (staff 0: no
// <staff> element), staff 1 or 2 of a part with a tablature staff, or the
// upper (1) or lower (2) staff of a grand staff.
struct Staff {
    int number;              // 0 (the only staff), 1 (notes, or the upper staff) or 2 (tablature, or the lower staff)
    int voiceOffset;         // added to the model's voice number from 1
    bool tablature = false;  // the tablature staff
    bool lower = false;      // the lower staff of a grand staff (its ids say so)
};

const Staff kOnlyStaff = {0, 0};

// What every note of one measure on one staff is written with.
struct MeasureNotes {
    XmlWriter& xml;
    const SMeasure& measure;
    size_t part;                           // place in the document, from 1
    unsigned number;                       // the measure's, from 1
    Staff staff;
    int resolution;                        // the track's grid: sections per whole note
    int length;                            // divisions the measure lasts
    int shift;                             // the clef's step shift (StepShiftOfClef)
    const MeasureAlterations& alterations; // the measure's notes read back
    bool drums;                            // a drum part: unpitched notes (percussion.h)
};

// The voices of the measure, one after the other, each walked from the bar
// line. `cursor` is where the writing stands in the measure (in divisions),
// before and after: the tablature staff's voices start where the note
// staff's end.
void WriteVoices(const MeasureNotes& notes, int& cursor);

// A whole-measure rest for a measure the model has no section for.
void WriteMeasureRest(XmlWriter& xml, size_t part, unsigned measure, int length, const Staff& staff);

// A return towards the bar line, and a step over time a voice shows nothing in.
void WriteBackup(XmlWriter& xml, int duration);
void WriteForward(XmlWriter& xml, int duration, int voice, const Staff& staff);

#endif
