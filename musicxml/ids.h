// The ids of the document's elements, for a viewer that maps what it draws
// back to the model (Verovio keeps them as the drawn elements' ids). Every
// id is formatted here and nowhere else; docs/musicxml.md gives the format
// to the page, which parses it:
//   P<part>                            score-part and part
//   P<part>-I1                         the part's score-instrument and midi-instrument
//   P<part>-I<key + 1>                 a drum part's instrument of each drum key (percussion.h)
//   p<part>-m<measure>                 measure
//   p<part>-m<measure>-s<section>-v<voice>-n<note>
//                                      a note or rest of the model (a rest is n0)
//   p<part>-m<measure>-s<section>-v<voice>-n<note>-tab
//                                      the same note on the tablature staff
//   p<part>-m<measure>-rest            a whole-measure rest the model has no section for
//   ...-staff2                         a note, rest or whole-measure rest of the lower
//                                      staff of a grand staff (its sections are that staff's)
#ifndef VASTREL_MUSICXML_IDS_H
#define VASTREL_MUSICXML_IDS_H

#include <cstddef>

#include "xml_writer.h"

// Where a note or rest of the model comes from.
struct NoteOrigin {
    size_t part;       // place in the document, from 1
    unsigned measure;  // from 1, as in the whole track
    int section;       // among the measure's kept sections, from 0
    int voice;         // the model's voice, from 1
    int note;          // in the chord's order, from 0 (a rest: 0)
    bool lower;        // on the lower staff of a grand staff
};

// One element's id.
class ElementId {
public:
    static ElementId Part(size_t part) { return {kPart, {part, 0, 0, 0, 0, false}}; }
    static ElementId Instrument(size_t part) { return {kInstrument, {part, 0, 0, 0, 0, false}}; }
    static ElementId DrumInstrument(size_t part, int key) {
        return {kDrumInstrument, {part, 0, 0, 0, key, false}};
    }
    static ElementId Measure(size_t part, unsigned measure) { return {kMeasure, {part, measure, 0, 0, 0, false}}; }
    static ElementId MeasureRest(size_t part, unsigned measure, bool lower) {
        return {kMeasureRest, {part, measure, 0, 0, 0, lower}};
    }
    static ElementId Note(const NoteOrigin& origin, bool tablature) {
        return {tablature ? kTablatureNote : kNote, origin};
    }

    // Adds ` id="..."` to an attribute list.
    friend Attributes& operator<<(Attributes& attributes, const ElementId& id);

private:
    enum Kind { kPart, kInstrument, kDrumInstrument, kMeasure, kMeasureRest, kNote, kTablatureNote };
    ElementId(Kind kind, const NoteOrigin& origin) : kind_(kind), origin_(origin) {}

    Kind kind_;
    NoteOrigin origin_;  // as far as the element goes: a part's id uses only the part
};

#endif
