// MusicXML export: every measure, voice, chord and rest of a parsed track as
// a MusicXML 4.0 part, built as a pugixml tree and saved in one piece.
//
// The model keeps notes as a notation program draws them: a staff step in
// the measure's clef, the accidental actually printed, a note value and a
// dot. MusicXML wants sounding letters and octaves with their alteration, so
// the written pitch is read back the way a musician reads a staff: the clef
// gives the letter and octave, the key signature and the accidentals printed
// earlier on the same step of the measure give the alteration.
#include "musicxml.h"

#include <pugixml.hpp>

#include <map>
#include <stdexcept>

namespace {

const int kWholeDivisions = 4 * kMusicXmlDivisions;

// ---- Staff steps and pitches ------------------------------------------------------

// What the clef adds to a step counted in treble coordinates (0 = C4) to
// give its drawing position: bass +12, treble with the octave-up mark -7
// (its notes are drawn an octave below), bass with the octave-down mark +19.
int ClefShift(int clef) {
    switch (clef) {
    case 2: return 12;
    case 3: return -7;
    case 4: return 19;
    default: return 0;
    }
}

int FloorDiv(int a, int b) {
    int q = a / b;
    if (a % b != 0 && (a < 0) != (b < 0)) --q;
    return q;
}

// The step in treble coordinates of a note drawn at cStep. Steps are 8-bit
// and the clef shift is added in 8 bits, so a note far outside its clef's
// range can wrap; pitches 0..255 have treble steps -36..114, which tells the
// wrapped ones apart.
int TrebleStep(int step, int shift) {
    int treble = step - shift;
    if (treble < -42) treble += 256;
    if (treble > 118) treble -= 256;
    return treble;
}

int LetterOf(int treble) { return treble - 7 * FloorDiv(treble, 7); }  // 0 C ... 6 B
int OctaveOf(int treble) { return 4 + FloorDiv(treble, 7); }

// MIDI key of the unaltered letter at a treble step.
int NaturalKey(int treble) {
    static const int kSemitones[] = {0, 2, 4, 5, 7, 9, 11};
    return 60 + 12 * FloorDiv(treble, 7) + kSemitones[LetterOf(treble)];
}

// Alteration (semitones) that the key signature gives a letter. Sharps are
// added in the order F C G D A E B, flats in the order B E A D G C F.
int KeyAlteration(int key, int letter) {
    static const int kSharpOrder[] = {3, 0, 4, 1, 5, 2, 6};
    static const int kFlatOrder[] = {6, 2, 5, 1, 4, 0, 3};
    int count = key < 0 ? -key : key;
    for (int i = 0; i < count && i < 7; ++i)
        if ((key > 0 ? kSharpOrder : kFlatOrder)[i] == letter) return key > 0 ? 1 : -1;
    return 0;
}

// Alteration of a printed accidental: sharp, flat, double sharp, double
// flat, natural.
int AlterationOfSign(int accidental) {
    switch (accidental) {
    case 1: return 1;
    case 2: return -1;
    case 3: return 2;
    case 4: return -2;
    default: return 0;
    }
}

const char* AccidentalName(int accidental) {
    switch (accidental) {
    case 1: return "sharp";
    case 2: return "flat";
    case 3: return "double-sharp";
    case 4: return "flat-flat";
    case 5: return "natural";
    default: return nullptr;
    }
}

using Alterations = std::map<const SNote*, int>;

// Reads the alteration of every note of a measure. An accidental lasts for
// its staff step to the end of the measure; any other step takes the key
// signature. Within one section a step can hold two notes (F and F sharp
// struck together); when one of them prints nothing it either repeats the
// sign before it or carries the alteration from before the section, and
// the one that makes its key is taken.
void ReadAlterations(const SMeasure& measure, int shift, Alterations& alterations) {
    std::map<int, int> changed;  // treble step -> alteration, where an accidental was printed
    for (const SSection* section = measure.pSections; section; section = section->pNext) {
        std::map<int, std::vector<const SNote*>> onStep;
        for (const SChord* chord = section->pChords; chord; chord = chord->pNext)
            for (const SNote* note = chord->pNotes; note; note = note->pNext)
                onStep[TrebleStep(note->cStep, shift)].push_back(note);
        for (const auto& entry : onStep) {
            const int treble = entry.first;
            auto it = changed.find(treble);
            const int before = it != changed.end() ? it->second : KeyAlteration(measure.cKey, LetterOf(treble));
            std::vector<int> signs;
            for (const SNote* note : entry.second)
                if (note->nAccidental != 0) signs.push_back(alterations[note] = AlterationOfSign(note->nAccidental));
            for (const SNote* note : entry.second) {
                if (note->nAccidental != 0) continue;
                int alteration = before;
                for (int sign : signs)
                    if (NaturalKey(treble) + alteration != note->bPitch && NaturalKey(treble) + sign == note->bPitch)
                        alteration = sign;
                alterations[note] = alteration;
            }
            if (signs.empty()) continue;
            // Of two signs on one step, the one that restores the earlier
            // alteration can only have come second.
            int after = signs.back();
            for (int sign : signs)
                if (sign == before) after = sign;
            changed[treble] = after;
        }
    }
}

// ---- Values -----------------------------------------------------------------------

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

int DurationOf(const SChord& chord) {
    if (!TypeName(chord.bValue)) throw std::runtime_error("a chord has the note value 1/" + std::to_string(chord.bValue));
    int duration = kWholeDivisions / chord.bValue;
    return chord.bDotted ? duration + duration / 2 : duration;
}

// ---- Text -------------------------------------------------------------------------

bool IsUtf8(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        size_t extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : 9;
        if (extra == 9 || i + extra >= text.size()) return false;
        for (size_t k = 1; k <= extra; ++k)
            if ((static_cast<unsigned char>(text[i + k]) >> 6) != 2) return false;
        i += extra + 1;
    }
    return true;
}

// Names in MIDI files carry no encoding: UTF-8 is kept, anything else is
// read as Latin-1. Control characters, which XML cannot hold, are dropped.
std::string XmlText(const char* text) {
    std::string raw = text ? text : "";
    std::string clean;
    for (char c : raw)
        if (static_cast<unsigned char>(c) >= 0x20 || c == '\t' || c == '\n') clean += c;
    if (IsUtf8(clean)) return clean;
    std::string converted;
    for (char c : clean) {
        unsigned char b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            converted += c;
        } else {
            converted += static_cast<char>(0xC0 | (b >> 6));
            converted += static_cast<char>(0x80 | (b & 0x3F));
        }
    }
    return converted;
}

// ---- Elements ---------------------------------------------------------------------

void AddText(pugi::xml_node parent, const char* name, const std::string& text) {
    parent.append_child(name).text().set(text.c_str());
}

void AddNumber(pugi::xml_node parent, const char* name, int number) {
    parent.append_child(name).text().set(number);
}

void AddDuration(pugi::xml_node measure, const char* element, int duration, int voice) {
    pugi::xml_node node = measure.append_child(element);
    AddNumber(node, "duration", duration);
    if (voice > 0) AddNumber(node, "voice", voice);
}

void AddPitch(pugi::xml_node parent, const char* stepName, const char* octaveName, int treble, int alteration) {
    static const char* const kLetters[] = {"C", "D", "E", "F", "G", "A", "B"};
    AddText(parent, stepName, kLetters[LetterOf(treble)]);
    if (alteration != 0) AddNumber(parent, "alter", alteration);
    // MusicXML knows octaves 0 to 9 only: the lowest MIDI keys (below C0)
    // and transposed keys above 131 are written in the nearest of them.
    int octave = OctaveOf(treble);
    AddNumber(parent, octaveName, octave < 0 ? 0 : octave > 9 ? 9 : octave);
}

// One note of a chord, or a rest when note is null.
void AddNote(pugi::xml_node measure, const SChord& chord, const SNote* note, bool chordTone, int shift,
             const Alterations& alterations) {
    pugi::xml_node element = measure.append_child("note");
    if (chordTone) element.append_child("chord");
    if (note) {
        AddPitch(element.append_child("pitch"), "step", "octave", TrebleStep(note->cStep, shift), alterations.at(note));
    } else {
        pugi::xml_node rest = element.append_child("rest");
        if (chord.bRestStep != 0) AddPitch(rest, "display-step", "display-octave", TrebleStep(chord.bRestStep, shift), 0);
    }
    AddNumber(element, "duration", DurationOf(chord));
    if (note && note->bTieIn) element.append_child("tie").append_attribute("type") = "stop";
    if (note && note->bTieOut) element.append_child("tie").append_attribute("type") = "start";
    AddNumber(element, "voice", chord.bVoice + 1);
    AddText(element, "type", TypeName(chord.bValue));
    if (chord.bDotted) element.append_child("dot");
    if (!note) return;

    if (const char* accidental = AccidentalName(note->nAccidental)) AddText(element, "accidental", accidental);
    if (chord.bValue >= 2) AddText(element, "stem", chord.bStemUp ? "up" : "down");
    // A beam belongs to the chord; MusicXML writes it on the chord's first note.
    if (!chordTone && chord.bValue >= 8 && (chord.bBeamPrev || chord.bBeamNext)) {
        const char* beam = !chord.bBeamPrev ? "begin" : chord.bBeamNext ? "continue" : "end";
        pugi::xml_node node = element.append_child("beam");
        node.append_attribute("number") = 1;
        node.text().set(beam);
    }
    if (!note->bTieIn && !note->bTieOut && note->bString == 0) return;
    pugi::xml_node notations = element.append_child("notations");
    if (note->bTieIn) notations.append_child("tied").append_attribute("type") = "stop";
    if (note->bTieOut) notations.append_child("tied").append_attribute("type") = "start";
    if (note->bString != 0) {
        pugi::xml_node technical = notations.append_child("technical");
        AddNumber(technical, "string", note->bString);
        AddNumber(technical, "fret", note->bFret);
    }
}

// ---- Measures ---------------------------------------------------------------------

// What a part carries from one measure to the next.
struct PartState {
    int numerator = 4;    // meter in force
    int denominator = 4;
    int clef = 1;         // clef in effect
    int key = 127;        // key last written (none yet)
};

// Sections a measure of the meter in force first had: numerator x R /
// denominator, rounded up; one section lasts a 1/R note.
int MeasureLength(const PartState& state, int resolution) {
    int sections = (state.numerator * resolution + state.denominator - 1) / state.denominator;
    return sections * (kWholeDivisions / resolution);
}

// The attributes a measure shows: divisions in the first, then key, meter
// and clef where they change. `shown` is the measure whose meter and key are
// written (the part's own, or the longest part's where this part has ended).
void AddAttributes(pugi::xml_node measure, const SMeasure& shown, int clef, bool first, PartState& state) {
    pugi::xml_node attributes = measure.append_child("attributes");
    if (first) AddNumber(attributes, "divisions", kMusicXmlDivisions);
    if (shown.cKey != state.key) {
        AddNumber(attributes.append_child("key"), "fifths", shown.cKey);
        state.key = shown.cKey;
    }
    if (shown.bNumerator != 0 && shown.bDenominator != 0) {
        state.numerator = shown.bNumerator;
        state.denominator = shown.bDenominator;
        pugi::xml_node time = attributes.append_child("time");
        AddNumber(time, "beats", shown.bNumerator);
        AddNumber(time, "beat-type", shown.bDenominator);
    }
    if (clef != 0) {
        state.clef = clef;
        pugi::xml_node node = attributes.append_child("clef");
        bool bass = clef == 2 || clef == 4;
        AddText(node, "sign", bass ? "F" : "G");
        AddNumber(node, "line", bass ? 4 : 2);
        if (clef == 3) AddNumber(node, "clef-octave-change", 1);
        if (clef == 4) AddNumber(node, "clef-octave-change", -1);
    }
    if (!attributes.first_child()) measure.remove_child(attributes);
}

void AddTempo(pugi::xml_node measure, int tempo) {
    pugi::xml_node direction = measure.append_child("direction");
    direction.append_attribute("placement") = "above";
    pugi::xml_node metronome = direction.append_child("direction-type").append_child("metronome");
    AddText(metronome, "beat-unit", "quarter");
    AddNumber(metronome, "per-minute", tempo);
    direction.append_child("sound").append_attribute("tempo") = tempo;
}

void AddMeasureRest(pugi::xml_node measure, int length) {
    pugi::xml_node note = measure.append_child("note");
    note.append_child("rest").append_attribute("measure") = "yes";
    AddNumber(note, "duration", length);
    AddNumber(note, "voice", 1);
}

// The voices of one measure, one after the other, each walked from the
// bar line: backup returns to the bar line before the next voice, forward
// steps over a stretch where the voice shows nothing (a rest drawn once for
// several voices stands in the first of them).
void AddVoices(pugi::xml_node element, const SMeasure& measure, int resolution, int length, int shift) {
    Alterations alterations;
    ReadAlterations(measure, shift, alterations);
    const int sectionLength = kWholeDivisions / resolution;
    int cursor = 0;
    for (int voice = 0; voice < measure.bVoices; ++voice) {
        if (cursor > 0) AddDuration(element, "backup", cursor, 0);
        cursor = 0;
        for (const SSection* section = measure.pSections; section; section = section->pNext) {
            const SChord* chord = section->pChords;
            for (int v = 0; v < voice && chord; ++v) chord = chord->pNext;
            if (!chord || chord->bValue == 0) continue;
            int start = static_cast<int>(section - measure.pSections) * sectionLength;
            if (start > cursor) AddDuration(element, "forward", start - cursor, voice + 1);
            if (start < cursor) AddDuration(element, "backup", cursor - start, 0);
            if (!chord->pNotes) AddNote(element, *chord, nullptr, false, shift, alterations);
            for (const SNote* note = chord->pNotes; note; note = note->pNext)
                AddNote(element, *chord, note, note != chord->pNotes, shift, alterations);
            cursor = start + DurationOf(*chord);
        }
        if (cursor < length) {
            AddDuration(element, "forward", length - cursor, voice + 1);
            cursor = length;
        }
    }
}

std::string PartName(const MusicXmlPart& part) {
    if (part.track->pszName) return XmlText(part.track->pszName);
    return "Track " + std::to_string(part.number);
}

void AddPartList(pugi::xml_node score, const SMidiFile& file, const std::vector<MusicXmlPart>& parts) {
    pugi::xml_node list = score.append_child("part-list");
    for (size_t i = 0; i < parts.size(); ++i) {
        const STrack& track = *parts[i].track;
        const std::string id = "P" + std::to_string(i + 1);
        const std::string instrument = id + "-I1";
        pugi::xml_node part = list.append_child("score-part");
        part.append_attribute("id") = id.c_str();
        AddText(part, "part-name", PartName(parts[i]));
        pugi::xml_node score_instrument = part.append_child("score-instrument");
        score_instrument.append_attribute("id") = instrument.c_str();
        AddText(score_instrument, "instrument-name", XmlText(track.pszInstrument));
        pugi::xml_node midi = part.append_child("midi-instrument");
        midi.append_attribute("id") = instrument.c_str();
        // A format 0 file's tracks are its channels; MusicXML counts from 1.
        if (file.wFormat == 0 && parts[i].number < 16) AddNumber(midi, "midi-channel", static_cast<int>(parts[i].number) + 1);
        AddNumber(midi, "midi-program", track.bProgram + 1);
    }
}

std::vector<const SMeasure*> MeasuresOf(const STrack& track) {
    std::vector<const SMeasure*> measures;
    for (const SMeasure* m = track.pFirstMeasure; m; m = m->pNext) measures.push_back(m);
    return measures;
}

// One part; reference holds the measures of the longest part, whose meters
// and keys the measures after this part's end take.
void AddPart(pugi::xml_node score, size_t index, const STrack& track, bool withTempo,
             const std::vector<const SMeasure*>& reference, int referenceResolution) {
    pugi::xml_node part = score.append_child("part");
    part.append_attribute("id") = ("P" + std::to_string(index + 1)).c_str();
    const std::vector<const SMeasure*> own = MeasuresOf(track);
    PartState state;
    for (size_t i = 0; i < reference.size(); ++i) {
        const SMeasure* measure = i < own.size() ? own[i] : nullptr;
        pugi::xml_node element = part.append_child("measure");
        element.append_attribute("number") = static_cast<unsigned>(i + 1);
        int clef = measure ? measure->nClef : 0;
        if (i == 0 && clef == 0) clef = 1;
        AddAttributes(element, measure ? *measure : *reference[i], clef, i == 0, state);
        if (withTempo && reference[i]->wTempo != 0) AddTempo(element, reference[i]->wTempo);
        const int length = MeasureLength(state, measure ? track.bResolution : referenceResolution);
        if (measure && measure->bVoices > 0)
            AddVoices(element, *measure, track.bResolution, length, ClefShift(state.clef));
        else
            AddMeasureRest(element, length);
    }
}

struct StringWriter : pugi::xml_writer {
    std::string text;
    void write(const void* data, size_t size) override { text.append(static_cast<const char*>(data), size); }
};

}  // namespace

std::string MusicXmlDocument(const SMidiFile& file, const std::vector<MusicXmlPart>& parts) {
    size_t longest = 0;
    for (size_t i = 0; i < parts.size(); ++i)
        if (parts[i].track->nMeasures > parts[longest].track->nMeasures) longest = i;
    if (parts.empty() || parts[longest].track->nMeasures <= 0 || !parts[longest].track->pFirstMeasure)
        throw std::runtime_error("no chosen track has notes: nothing to write");
    const std::vector<const SMeasure*> reference = MeasuresOf(*parts[longest].track);

    pugi::xml_document document;
    pugi::xml_node declaration = document.append_child(pugi::node_declaration);
    declaration.append_attribute("version") = "1.0";
    declaration.append_attribute("encoding") = "UTF-8";
    document.append_child(pugi::node_doctype)
        .set_value("score-partwise PUBLIC \"-//Recordare//DTD MusicXML 4.0 Partwise//EN\" "
                   "\"http://www.musicxml.org/dtds/partwise.dtd\"");
    pugi::xml_node score = document.append_child("score-partwise");
    score.append_attribute("version") = "4.0";
    AddText(score.append_child("work"), "work-title", XmlText(file.pszName));
    AddText(score.append_child("identification").append_child("encoding"), "software", "vastrel");
    AddPartList(score, file, parts);
    // Tempo marks go over the top part only, as in a printed score.
    for (size_t i = 0; i < parts.size(); ++i)
        AddPart(score, i, *parts[i].track, i == 0, reference, parts[longest].track->bResolution);

    StringWriter writer;
    document.save(writer, "  ", pugi::format_default, pugi::encoding_utf8);
    return writer.text;
}
