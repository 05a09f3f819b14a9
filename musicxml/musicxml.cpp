// MusicXML export: every measure, voice, chord and rest of parsed tracks as
// MusicXML 4.0 parts, written to the stream as the model is walked. This
// file writes the document, its parts and their measures; the notes and
// voices of a measure are written by notes.cpp, their alterations read back
// by alterations.cpp, the text by xml_writer.cpp, the ids by ids.cpp.
#include "musicxml.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <streambuf>

#include "alterations.h"
#include "ids.h"
#include "notes.h"
#include "percussion.h"
#include "xml_writer.h"

namespace {

// ---- Measures ----------------------------------------------------------------------

// What a part carries from one measure to the next.
struct PartState {
    int numerator = 4;       // meter in force
    int denominator = 4;
    int clef = kClefTreble;  // clef in effect
    int lowerClef = kClefBass;  // and on the lower staff of a grand staff
    int key = 127;           // key last written (none yet)
    int printedTempo = 0;    // tempo of the last metronome mark (none yet)
    int tempo = 0;           // tempo in force (none yet)
    bool excerpt = false;    // measures before the first written were passed over
};

// The measures written, numbered from 1 as in the whole track.
struct MeasureRange {
    unsigned first;
    unsigned last;
};

// Sections a measure of the meter in force first had: numerator x R /
// denominator, rounded up; one section lasts a 1/R note.
int MeasureLength(const PartState& state, int resolution) {
    const int sections = (state.numerator * resolution + state.denominator - 1) / state.denominator;
    return sections * (kWholeDivisions / resolution);
}

// A clef; staff 0 is a part's only staff (no number).
void WriteClef(XmlWriter& xml, int clef, int staff) {
    xml.Open("clef", staff ? (Attributes() << " number=\"" << staff << "\"").Text() : "");
    if (clef == kClefPercussion) {
        xml.Leaf("sign", "percussion");
        xml.Close("clef");
        return;
    }
    const bool bass = clef == kClefBass || clef == kClefBassOctaveDown;
    xml.Leaf("sign", bass ? "F" : "G");
    xml.Leaf("line", bass ? 4 : 2);
    if (clef == kClefTrebleOctaveUp) xml.Leaf("clef-octave-change", 1);
    if (clef == kClefBassOctaveDown || clef == kClefTrebleOctaveDown) xml.Leaf("clef-octave-change", -1);
    xml.Close("clef");
}

// The second staff of a part with tablature: six lines tuned as a guitar in
// standard tuning, lowest line the low E string, so that every fret the
// model chose is the note's pitch less its string's. The readable notation
// fingers the keys as they sound (open strings at keys 40 ... 64: E2 A2 D3
// G3 B3 E4); the classic model reads them as written guitar music, an
// octave above its sound (keys 52 ... 76), and its staff is tuned in that
// octave, E3 ... E5. Either way the part sounds the file's keys.
void WriteTablatureStaff(XmlWriter& xml, bool classicStrings) {
    xml.Open("clef", " number=\"2\"");
    xml.Leaf("sign", "TAB");
    xml.Leaf("line", 5);
    xml.Close("clef");
    xml.Open("staff-details", " number=\"2\"");
    xml.Leaf("staff-lines", 6);
    static const char* const kOpenStrings[6] = {"E", "A", "D", "G", "B", "E"};
    static const int kSoundingOctaves[6] = {2, 2, 3, 3, 3, 4};
    for (int line = 1; line <= 6; ++line) {
        xml.Open("staff-tuning", (Attributes() << " line=\"" << line << "\"").Text());
        xml.Leaf("tuning-step", kOpenStrings[line - 1]);
        xml.Leaf("tuning-octave", kSoundingOctaves[line - 1] + (classicStrings ? 1 : 0));
        xml.Close("staff-tuning");
    }
    xml.Close("staff-details");
}

// How a part's staves are laid out: one staff, a staff of notes over a
// tablature staff, or a grand staff.
struct PartLayout {
    bool tablature;
    bool grand;
    bool classicStrings;  // the tablature staff tuned for the classic model's strings (MusicXmlOptions)
};

// The attributes a measure shows: divisions (and the staves) in the first
// written, then key, meter and clef where they change (on a grand staff,
// lowerClef is the lower staff's). `shown` is the
// measure whose meter and key are written (the part's own, or the longest
// part's where this part has ended). The first measure of an excerpt shows
// the meter in force even where it does not change there, as a score
// excerpt starts; its key and clef are written anyway (no key is written
// yet, and the clef in force is given).
void WriteAttributes(XmlWriter& xml, const SMeasure& shown, int clef, int lowerClef, bool first, const PartLayout& layout,
                     PartState& state) {
    const bool tablature = layout.tablature;
    const bool key = shown.cKey != state.key;
    const bool changed = shown.bNumerator != 0 && shown.bDenominator != 0;
    if (!first && !key && !changed && clef == kClefUnchanged && lowerClef == kClefUnchanged) return;
    xml.Open("attributes");
    if (first) xml.Leaf("divisions", kMusicXmlDivisions);
    if (key) {
        xml.Open("key");
        xml.Leaf("fifths", shown.cKey);
        xml.Close("key");
        state.key = shown.cKey;
    }
    if (changed) {
        state.numerator = shown.bNumerator;
        state.denominator = shown.bDenominator;
    }
    if (changed || (first && state.excerpt)) {
        xml.Open("time");
        xml.Leaf("beats", state.numerator);
        xml.Leaf("beat-type", state.denominator);
        xml.Close("time");
    }
    if (first && (tablature || layout.grand)) xml.Leaf("staves", 2);
    // Two staves of one instrument are joined by a brace, as a piano's are.
    if (first && layout.grand) xml.Leaf("part-symbol", "brace");
    if (clef != 0) {
        state.clef = clef;
        WriteClef(xml, clef, tablature || layout.grand ? 1 : 0);
    }
    if (lowerClef != 0) {
        state.lowerClef = lowerClef;
        WriteClef(xml, lowerClef, 2);
    }
    if (first && tablature) WriteTablatureStaff(xml, layout.classicStrings);
    xml.Close("attributes");
}

// A measure before an excerpt: nothing is written, but its meter, clef and
// tempo stay in force for the measures after it.
void PassMeasure(const SMeasure& own, const SMeasure* measure, const SMeasure* lower, const SMeasure& shown,
                 PartState& state) {
    if (own.bNumerator != 0 && own.bDenominator != 0) {
        state.numerator = own.bNumerator;
        state.denominator = own.bDenominator;
    }
    if (measure && measure->nClef != kClefUnchanged) state.clef = measure->nClef;
    if (lower && lower->nClef != kClefUnchanged) state.lowerClef = lower->nClef;
    if (shown.wTempo != 0) state.tempo = shown.wTempo;
    state.excerpt = true;
}

// Performances recorded with rubato change the tempo every few beats, and
// a mark over every measure hides the music: a metronome mark is printed
// where the tempo moves by more than a tenth from the one printed last;
// every change still sounds.
bool PrintsTempo(int tempo, int printed) { return printed == 0 || std::abs(tempo - printed) * 10 > printed; }

void WriteTempo(XmlWriter& xml, int tempo, bool staves, PartState& state) {
    if (!PrintsTempo(tempo, state.printedTempo)) {
        xml.Empty("sound", (Attributes() << " tempo=\"" << tempo << "\"").Text());
        return;
    }
    state.printedTempo = tempo;
    xml.Open("direction", " placement=\"above\"");
    xml.Open("direction-type");
    xml.Open("metronome");
    xml.Leaf("beat-unit", "quarter");
    xml.Leaf("per-minute", tempo);
    xml.Close("metronome");
    xml.Close("direction-type");
    if (staves) xml.Leaf("staff", 1);
    xml.Empty("sound", (Attributes() << " tempo=\"" << tempo << "\"").Text());
    xml.Close("direction");
}

// ---- Parts -------------------------------------------------------------------------

}  // namespace

std::string ShownName(const char* name, const char* standIn) {
    if (!name || std::strcmp(name, standIn) == 0) return "";
    std::string line;
    for (char c : MusicXmlText(name)) {
        bool blank = std::isspace(static_cast<unsigned char>(c)) != 0;
        if (blank && (line.empty() || line.back() == ' ')) continue;
        line += blank ? ' ' : c;
    }
    if (!line.empty() && line.back() == ' ') line.pop_back();
    if (line.compare(0, 2, "@T") == 0) {  // a karaoke file's title tag
        size_t start = line.find_first_not_of(' ', 2);
        line.erase(0, start == std::string::npos ? line.size() : start);
    }
    for (char c : line)
        if (std::isalnum(static_cast<unsigned char>(c)) || static_cast<unsigned char>(c) >= 0x80) return line;
    return "";
}

namespace {


// A part is named by its track, or else by its instrument, as a score
// names its staves.
std::string PartName(const MusicXmlPart& part) {
    std::string name = ShownName(part.track->pszName, "Untitled track");
    if (!name.empty()) return name;
    if (part.track->bPercussion) return "Drums";
    if (part.track->pszInstrument) return MusicXmlText(part.track->pszInstrument);
    return "Track " + std::to_string(part.number);
}

void WritePartList(XmlWriter& xml, const SMidiFile& file, const std::vector<MusicXmlPart>& parts) {
    xml.Open("part-list");
    for (size_t i = 0; i < parts.size(); ++i) {
        const STrack& track = *parts[i].track;
        Attributes id;
        id << ElementId::Part(i + 1);
        xml.Open("score-part", id.Text());
        xml.TextLeaf("part-name", PartName(parts[i]));
        if (track.bPercussion) {
            WriteDrumInstruments(xml, i + 1, track);
            xml.Close("score-part");
            continue;
        }
        Attributes instrument;
        instrument << ElementId::Instrument(i + 1);
        xml.Open("score-instrument", instrument.Text());
        xml.TextLeaf("instrument-name", MusicXmlText(track.pszInstrument));
        xml.Close("score-instrument");
        xml.Open("midi-instrument", instrument.Text());
        // A format 0 file's tracks are its channels; MusicXML counts from 1.
        if (file.wFormat == 0 && parts[i].number < 16) xml.Leaf("midi-channel", static_cast<int>(parts[i].number) + 1);
        xml.Leaf("midi-program", track.bProgram + 1);
        xml.Close("midi-instrument");
        xml.Close("score-part");
    }
    xml.Close("part-list");
}

// A second staff's voices (tablature, or the lower staff of a grand staff)
// follow the first staff's: from 5, or after the most voices a measure of
// the track has.
int SecondStaffVoiceOffset(const STrack& track) {
    int voices = 4;
    for (const SMeasure* m = track.pFirstMeasure; m; m = m->pNext) voices = std::max<int>(voices, m->bVoices);
    return voices;
}

// What every measure of one part is written with.
struct PartContext {
    XmlWriter& xml;
    size_t part;                      // place in the document, from 1
    const STrack& track;
    const STrack& longest;            // the part with the most measures
    bool withTempo;                   // tempo marks go over the top part only
    PartLayout layout;
    Staff notes;                      // the staff of the notes (the upper staff of a grand staff)
    Staff tab;                        // the tablature staff, with tablature
    Staff lower;                      // the lower staff of a grand staff
    MeasureAlterations& alterations;  // the working lists of reading alterations back, shared by the parts
};

// The notes of one staff's measure, or a whole-measure rest where it has
// none, from the writing's cursor (a backup first, where the staff is not
// the measure's first).
void WriteStaffMeasure(const PartContext& context, unsigned number, const SMeasure* measure, const Staff& staff,
                       int clef, int length, int& cursor) {
    XmlWriter& xml = context.xml;
    if (measure && measure->bVoices > 0) {
        const int shift = StepShiftOfClef(clef);
        context.alterations.Read(*measure, shift);
        MeasureNotes notes = {xml, *measure, context.part, number, staff,
                              context.track.bResolution, length, shift, context.alterations,
                              context.track.bPercussion != 0};
        WriteVoices(notes, cursor);
        if (context.layout.tablature) {
            notes.staff = context.tab;
            WriteVoices(notes, cursor);
        }
        return;
    }
    if (cursor > 0) WriteBackup(xml, cursor);
    WriteMeasureRest(xml, context.part, number, length, staff);
    cursor = length;
    if (context.layout.tablature) {
        WriteBackup(xml, length);
        WriteForward(xml, length, 1, context.tab);
    }
}

// One measure of a part: `measure` is the part's own (null where the part
// has ended), `lower` the lower staff's on a grand staff (null otherwise),
// `shown` the longest part's at the same place.
void WriteMeasure(const PartContext& context, unsigned number, bool first, const SMeasure* measure,
                  const SMeasure* lower, const SMeasure& shown, PartState& state) {
    XmlWriter& xml = context.xml;
    Attributes attributes;
    attributes << " number=\"" << number << "\"" << ElementId::Measure(context.part, number);
    xml.Open("measure", attributes.Text());
    int clef = measure ? measure->nClef : kClefUnchanged;
    if (first && clef == kClefUnchanged) clef = state.clef;
    int lowerClef = lower ? lower->nClef : kClefUnchanged;
    if (first && context.layout.grand && lowerClef == kClefUnchanged) lowerClef = state.lowerClef;
    WriteAttributes(xml, measure ? *measure : shown, clef, lowerClef, first, context.layout, state);
    // An excerpt starts at the tempo in force.
    const int tempo = shown.wTempo != 0 ? shown.wTempo : first ? state.tempo : 0;
    const bool staves = context.layout.tablature || context.layout.grand;
    if (context.withTempo && tempo != 0) WriteTempo(xml, tempo, staves, state);
    const int length = MeasureLength(state, measure ? context.track.bResolution : context.longest.bResolution);
    int cursor = 0;
    WriteStaffMeasure(context, number, measure, context.notes, state.clef, length, cursor);
    if (context.layout.grand) WriteStaffMeasure(context, number, lower, context.lower, state.lowerClef, length, cursor);
    xml.Close("measure");
}

// One part, as long as the longest: after its own measures end, whole-
// measure rests in the longest part's meters and keys. Only the measures of
// `range` are written; those before it are passed over for what stays in
// force.
void WritePart(const PartContext& context, const MeasureRange& range) {
    Attributes id;
    id << ElementId::Part(context.part);
    context.xml.Open("part", id.Text());
    PartState state;
    const SMeasure* measure = context.track.pFirstMeasure;
    // The lower staff of a grand staff has as many measures as the upper.
    const SMeasure* lower = context.track.pNextStaff ? context.track.pNextStaff->pFirstMeasure : nullptr;
    unsigned number = 1;
    for (const SMeasure* shown = context.longest.pFirstMeasure; shown && number <= range.last;
         shown = shown->pNext, ++number) {
        if (number < range.first) {
            PassMeasure(measure ? *measure : *shown, measure, lower, *shown, state);
        } else {
            WriteMeasure(context, number, number == range.first, measure, lower, *shown, state);
        }
        if (measure) measure = measure->pNext;
        if (lower) lower = lower->pNext;
    }
    context.xml.Close("part");
}

// The part with the most measures, which every part is filled up to.
const STrack& LongestTrack(const std::vector<MusicXmlPart>& parts) {
    size_t longest = 0;
    for (size_t i = 0; i < parts.size(); ++i)
        if (parts[i].track->nMeasures > parts[longest].track->nMeasures) longest = i;
    if (parts.empty() || parts[longest].track->nMeasures <= 0 || !parts[longest].track->pFirstMeasure)
        throw std::runtime_error("no chosen track has notes: nothing to write");
    return *parts[longest].track;
}

// The measures asked for, within the score's: from the first (1 when 0 is
// asked) to the last (the score's last when 0 is asked or when the score
// ends before). A range that holds no measure of the score is refused.
MeasureRange RangeOf(const MusicXmlOptions& options, const STrack& longest) {
    const unsigned count = static_cast<unsigned>(longest.nMeasures);
    const unsigned first = std::max(1u, options.firstMeasure);
    const unsigned last = options.lastMeasure == 0 ? count : std::min(options.lastMeasure, count);
    if (first > count)
        throw std::runtime_error("measure " + std::to_string(first) + " is past the end of the score (" +
                                 std::to_string(count) + " measures): nothing to write");
    if (first > last)
        throw std::runtime_error("measures " + std::to_string(first) + " to " + std::to_string(options.lastMeasure) +
                                 " hold no measure: nothing to write");
    return {first, last};
}

}  // namespace

void WriteMusicXml(std::ostream& out, const SMidiFile& file, const std::vector<MusicXmlPart>& parts,
                   const MusicXmlOptions& options) {
    const STrack& longest = LongestTrack(parts);
    const MeasureRange range = RangeOf(options, longest);
    XmlWriter xml(out);
    xml.Raw("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<!DOCTYPE score-partwise PUBLIC \"-//Recordare//DTD MusicXML 4.0 Partwise//EN\" "
            "\"http://www.musicxml.org/dtds/partwise.dtd\">\n");
    xml.Open("score-partwise", " version=\"4.0\"");
    const std::string title = ShownName(file.pszName, "Untitled midi");
    if (!title.empty()) {
        xml.Open("work");
        xml.TextLeaf("work-title", title);
        xml.Close("work");
    }
    xml.Open("identification");
    xml.Open("encoding");
    xml.Leaf("software", "vastrel");
    xml.Close("encoding");
    xml.Close("identification");
    WritePartList(xml, file, parts);
    MeasureAlterations alterations;
    for (size_t i = 0; i < parts.size(); ++i) {
        const STrack& track = *parts[i].track;
        // A grand staff takes the place of the tablature staff: a keyboard
        // part has no strings to show; nor has a drum part.
        const PartLayout layout = {options.tablature && !track.pNextStaff && !track.bPercussion,
                                   track.pNextStaff != nullptr, options.classicStrings};
        const Staff notes = layout.tablature || layout.grand ? Staff{1, 0} : kOnlyStaff;
        const Staff tab = {2, layout.tablature ? SecondStaffVoiceOffset(track) : 0, true};
        // The lower staff's voices are numbered after the upper's, as
        // notation programs number a piano's (from 5).
        const Staff lower = {2, layout.grand ? SecondStaffVoiceOffset(track) : 0, false, true};
        WritePart(PartContext{xml, i + 1, track, longest, i == 0, layout, notes, tab, lower, alterations}, range);
    }
    xml.Close("score-partwise");
    xml.Flush();
    out.flush();
}

namespace {

// A stream buffer that appends to a string, so that the document is made in
// place rather than copied out of a string stream at the end.
class StringAppender : public std::streambuf {
public:
    explicit StringAppender(std::string& text) : text_(text) {}

protected:
    std::streamsize xsputn(const char* data, std::streamsize size) override {
        text_.append(data, static_cast<size_t>(size));
        return size;
    }
    int_type overflow(int_type c) override {
        if (!traits_type::eq_int_type(c, traits_type::eof())) text_ += traits_type::to_char_type(c);
        return traits_type::not_eof(c);
    }

private:
    std::string& text_;
};

}  // namespace

std::string MusicXmlDocument(const SMidiFile& file, const std::vector<MusicXmlPart>& parts,
                             const MusicXmlOptions& options) {
    std::string text;
    StringAppender appender(text);
    std::ostream out(&appender);
    WriteMusicXml(out, file, parts, options);
    return text;
}
