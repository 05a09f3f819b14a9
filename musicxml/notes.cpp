// Notes and voices of one measure.
#include "notes.h"

#include <stdexcept>
#include <string>

#include "ids.h"
#include "percussion.h"
#include "staff_steps.h"

namespace {

const char* TypeName(int value) {
    switch (value) {
    case 1: return "whole";
    case 2: return "half";
    case 4: return "quarter";
    case 8: return "eighth";
    case 16: return "16th";
    case 32: return "32nd";
    case 64: return "64th";
    default: return nullptr;
    }
}

// The printed accidental's name in MusicXML.
const char* AccidentalName(int accidental) {
    switch (accidental) {
    case kAccidentalSharp: return "sharp";
    case kAccidentalFlat: return "flat";
    case kAccidentalDoubleSharp: return "double-sharp";
    case kAccidentalDoubleFlat: return "flat-flat";
    case kAccidentalNatural: return "natural";
    default: return nullptr;
    }
}

int DurationOf(const SChord& chord) {
    if (!TypeName(chord.bValue)) throw std::runtime_error("a chord has the note value 1/" + std::to_string(chord.bValue));
    const int duration = kWholeDivisions / chord.bValue;
    return chord.bDotted ? duration + duration / 2 : duration;
}

bool IsTablature(const Staff& staff) { return staff.tablature; }

void WritePitch(XmlWriter& xml, const char* stepName, const char* octaveName, int treble, int alteration) {
    static const char* const kLetters[] = {"C", "D", "E", "F", "G", "A", "B"};
    xml.Leaf(stepName, kLetters[LetterOf(treble)]);
    if (alteration != 0) xml.Leaf("alter", alteration);
    // MusicXML knows octaves 0 to 9 only: the lowest MIDI keys (below C0)
    // and transposed keys above 131 are written in the nearest of them.
    const int octave = OctaveOf(treble);
    xml.Leaf(octaveName, octave < 0 ? 0 : octave > 9 ? 9 : octave);
}

void WriteStaffNumber(XmlWriter& xml, const Staff& staff) {
    if (staff.number != 0) xml.Leaf("staff", staff.number);
}

// One note of a chord (the origin's note-th), or a rest when note is null
// (on the note staff only). The tablature staff shows pitch, value, string
// and fret, and leaves accidentals, stems, beams and tie arcs to the staff
// above.
void WriteNote(const MeasureNotes& m, const SChord& chord, const SNote* note, const NoteOrigin& origin,
               bool chordTone) {
    XmlWriter& xml = m.xml;
    const bool tablature = IsTablature(m.staff);
    Attributes id;
    id << ElementId::Note(origin, tablature);
    xml.Open("note", id.Text());
    if (chordTone) xml.Empty("chord");
    if (note && m.drums) {
        WriteUnpitched(xml, *note);
    } else if (note) {
        xml.Open("pitch");
        WritePitch(xml, "step", "octave", TrebleStep(note->cStep, m.shift), m.alterations.Of(note));
        xml.Close("pitch");
    } else if (chord.bRestStep != 0) {
        xml.Open("rest");
        WritePitch(xml, "display-step", "display-octave", TrebleStep(chord.bRestStep, m.shift), 0);
        xml.Close("rest");
    } else {
        xml.Empty("rest");
    }
    xml.Leaf("duration", DurationOf(chord));
    if (note && note->bTieIn) xml.Empty("tie", " type=\"stop\"");
    if (note && note->bTieOut) xml.Empty("tie", " type=\"start\"");
    if (note && m.drums) WriteDrumInstrumentRef(xml, m.part, *note);
    xml.Leaf("voice", origin.voice + m.staff.voiceOffset);
    xml.Leaf("type", TypeName(chord.bValue));
    if (chord.bDotted) xml.Empty("dot");
    if (note && !tablature) {
        if (const char* accidental = AccidentalName(note->nAccidental)) xml.Leaf("accidental", accidental);
        if (chord.bValue >= 2) xml.Leaf("stem", chord.bStemUp ? "up" : "down");
        if (m.drums) WriteDrumNotehead(xml, *note);
    }
    // A fret held on from a tie is put in parentheses, as tablature shows it.
    if (note && tablature && note->bTieIn) xml.Leaf("notehead", " parentheses=\"yes\"", "normal");
    WriteStaffNumber(xml, m.staff);
    // A beam belongs to the chord; MusicXML writes it on the chord's first note.
    if (note && !tablature && !chordTone && chord.bValue >= 8 && (chord.bBeamPrev || chord.bBeamNext))
        xml.Leaf("beam", " number=\"1\"", !chord.bBeamPrev ? "begin" : chord.bBeamNext ? "continue" : "end");
    // Tie arcs are drawn on the note staff only: on the TAB staff they
    // would cross the rhythm drawn above the frets, and Verovio pairs the
    // ties of a TAB chord wrongly. The tie elements still say what sounds.
    // String and fret belong to the tablature: only its copy of a note
    // carries them.
    const bool tied = note && !tablature && (note->bTieIn || note->bTieOut);
    const bool fretted = note && tablature && note->bString != 0;
    const bool marked = note && !tablature && m.drums && HasDrumMark(*note);
    if (tied || fretted || marked) {
        xml.Open("notations");
        if (tied && note->bTieIn) xml.Empty("tied", " type=\"stop\"");
        if (tied && note->bTieOut) xml.Empty("tied", " type=\"start\"");
        if (fretted || marked) {
            xml.Open("technical");
            if (marked) WriteDrumMark(xml, *note);
            if (fretted) {
                xml.Leaf("string", note->bString);
                xml.Leaf("fret", note->bFret);
            }
            xml.Close("technical");
        }
        xml.Close("notations");
    }
    xml.Close("note");
}

// Whether a chord has anything to show on a staff. Guitar tablature under
// a note staff leaves rests to the staff above, and the notes the model
// gave no string, and so a chord of only such notes, have no place on it;
// a forward keeps the voice in time over what is left out.
bool ShowsOn(const SChord& chord, const Staff& staff) {
    if (!IsTablature(staff)) return true;
    for (const SNote* note = chord.pNotes; note; note = note->pNext)
        if (note->bString != 0) return true;
    return false;
}

void WriteChord(const MeasureNotes& m, const SChord& chord, NoteOrigin origin) {
    origin.note = 0;
    if (!chord.pNotes) WriteNote(m, chord, nullptr, origin, false);
    bool chordTone = false;
    for (const SNote* note = chord.pNotes; note; note = note->pNext, ++origin.note) {
        if (IsTablature(m.staff) && note->bString == 0) continue;
        WriteNote(m, chord, note, origin, chordTone);
        chordTone = true;
    }
}

}  // namespace

void WriteBackup(XmlWriter& xml, int duration) {
    xml.Open("backup");
    xml.Leaf("duration", duration);
    xml.Close("backup");
}

void WriteForward(XmlWriter& xml, int duration, int voice, const Staff& staff) {
    xml.Open("forward");
    xml.Leaf("duration", duration);
    xml.Leaf("voice", voice + staff.voiceOffset);
    WriteStaffNumber(xml, staff);
    xml.Close("forward");
}

// Backup returns to the bar line before the next voice, forward steps over
// a stretch where the voice shows nothing (a rest drawn once for several
// voices stands in the first of them).
void WriteVoices(const MeasureNotes& m, int& cursor) {
    const int sectionLength = kWholeDivisions / m.resolution;
    NoteOrigin origin = {m.part, m.number, 0, 0, 0, m.staff.lower};
    for (int voice = 0; voice < m.measure.bVoices; ++voice) {
        if (cursor > 0) WriteBackup(m.xml, cursor);
        cursor = 0;
        origin.voice = voice + 1;
        origin.section = 0;
        for (const SSection* section = m.measure.pSections; section; section = section->pNext, ++origin.section) {
            const SChord* chord = section->pChords;
            for (int v = 0; v < voice && chord; ++v) chord = chord->pNext;
            if (!chord || chord->bValue == 0 || !ShowsOn(*chord, m.staff)) continue;
            const int start = static_cast<int>(section - m.measure.pSections) * sectionLength;
            if (start > cursor) WriteForward(m.xml, start - cursor, origin.voice, m.staff);
            if (start < cursor) WriteBackup(m.xml, cursor - start);
            WriteChord(m, *chord, origin);
            cursor = start + DurationOf(*chord);
        }
        if (cursor < m.length) {
            WriteForward(m.xml, m.length - cursor, origin.voice, m.staff);
            cursor = m.length;
        }
    }
}

void WriteMeasureRest(XmlWriter& xml, size_t part, unsigned measure, int length, const Staff& staff) {
    Attributes id;
    id << ElementId::MeasureRest(part, measure, staff.lower);
    xml.Open("note", id.Text());
    xml.Empty("rest", " measure=\"yes\"");
    xml.Leaf("duration", length);
    xml.Leaf("voice", 1 + staff.voiceOffset);
    WriteStaffNumber(xml, staff);
    xml.Close("note");
}
