// A drum part: its instruments, and what each note says in place of a pitch.
#include "percussion.h"

#include <set>

#include "../notation/drum_kit.h"
#include "ids.h"
#include "staff_steps.h"

namespace {

std::set<int> KeysPlayed(const STrack& track) {
    std::set<int> keys;
    for (const SMeasure* m = track.pFirstMeasure; m; m = m->pNext)
        for (const SSection* s = m->pSections; s; s = s->pNext)
            for (const SChord* c = s->pChords; c; c = c->pNext)
                for (const SNote* n = c->pNotes; n; n = n->pNext) keys.insert(n->bPitch);
    return keys;
}

const char* NoteheadName(int notehead) {
    switch (notehead) {
    case kNoteheadX: return "x";
    case kNoteheadCircleX: return "circle-x";
    case kNoteheadTriangle: return "triangle";
    case kNoteheadDiamond: return "diamond";
    case kNoteheadSlash: return "slash";
    default: return nullptr;
    }
}

}  // namespace

std::string DrumName(int key) { return DrumOfKey(static_cast<uint8_t>(key)).pszName; }

void WriteDrumInstruments(XmlWriter& xml, size_t part, const STrack& track) {
    const std::set<int> keys = KeysPlayed(track);
    for (int key : keys) {
        Attributes id;
        id << ElementId::DrumInstrument(part, key);
        xml.Open("score-instrument", id.Text());
        xml.TextLeaf("instrument-name", DrumName(key));
        xml.Close("score-instrument");
    }
    for (int key : keys) {
        Attributes id;
        id << ElementId::DrumInstrument(part, key);
        xml.Open("midi-instrument", id.Text());
        xml.Leaf("midi-channel", 10);
        xml.Leaf("midi-unpitched", key + 1);  // MusicXML counts keys from 1
        xml.Close("midi-instrument");
    }
}

void WriteUnpitched(XmlWriter& xml, const SNote& note) {
    static const char* const kLetters[] = {"C", "D", "E", "F", "G", "A", "B"};
    const int treble = TrebleStep(note.cStep, StepShiftOfClef(kClefPercussion));
    xml.Open("unpitched");
    xml.Leaf("display-step", kLetters[LetterOf(treble)]);
    xml.Leaf("display-octave", OctaveOf(treble));
    xml.Close("unpitched");
}

void WriteDrumInstrumentRef(XmlWriter& xml, size_t part, const SNote& note) {
    Attributes id;
    id << ElementId::DrumInstrument(part, note.bPitch);
    xml.Empty("instrument", id.Text());
}

void WriteDrumNotehead(XmlWriter& xml, const SNote& note) {
    if (const char* name = NoteheadName(note.bNotehead)) xml.Leaf("notehead", name);
}

bool HasDrumMark(const SNote& note) { return note.bDrumMark != kDrumMarkNone; }

// MusicXML 4.0's <open/> is the small circle over an open hi-hat; <stopped/>
// the plus sign of a closed or muted stroke.
void WriteDrumMark(XmlWriter& xml, const SNote& note) {
    xml.Empty(note.bDrumMark == kDrumMarkOpen ? "open" : "stopped");
}
