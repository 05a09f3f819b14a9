// MusicXML export: every measure, voice, chord and rest of parsed tracks as
// MusicXML 4.0 parts, written to the stream as the model is walked.
//
// The model keeps notes as a notation program draws them: a staff step in
// the measure's clef, the accidental actually printed, a note value and a
// dot. MusicXML wants sounding letters and octaves with their alteration, so
// the written pitch is read back the way a musician reads a staff: the clef
// gives the letter and octave, the key signature and the accidentals printed
// earlier on the same step of the measure give the alteration.
#include "musicxml.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <streambuf>
#include <stdexcept>
#include <type_traits>

#include "staff_steps.h"

namespace {

const int kWholeDivisions = 4 * kMusicXmlDivisions;

// ---- Writing XML -------------------------------------------------------------------

// A number in decimal, zero-terminated, written backwards into the space that
// ends at `end` (24 characters hold any of them); returns its first character.
char* NumberText(long long number, char* end) {
    *--end = '\0';
    unsigned long long magnitude = number < 0 ? 0 - static_cast<unsigned long long>(number) : number;
    do {
        *--end = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (number < 0) *--end = '-';
    return end;
}

// An attribute list (` id="p1-m3"`) built from pieces, without formatting
// calls: every note has one.
class Attributes {
public:
    Attributes& operator<<(const char* piece) {
        const size_t length = std::strlen(piece);
        if (length_ + length < sizeof text_) {
            std::memcpy(text_ + length_, piece, length);
            length_ += length;
        }
        text_[length_] = '\0';
        return *this;
    }
    template <typename Number, typename = typename std::enable_if<std::is_integral<Number>::value>::type>
    Attributes& operator<<(Number number) {
        char digits[24];
        return *this << NumberText(static_cast<long long>(number), digits + sizeof digits);
    }
    const char* Text() const { return text_; }

private:
    char text_[128] = "";
    size_t length_ = 0;
};

// The document's text, indented two spaces a level, gathered line by line in
// a block of memory that goes to the stream whenever it fills. Tag names,
// attribute lists and leaf texts are the exporter's own and short, so one
// check of the room left serves a whole line; only names from the file are
// written a character at a time.
class XmlWriter {
public:
    explicit XmlWriter(std::ostream& out) : out_(out), block_(new char[kBlock]) {}

    // `attributes` is written as given: ` name="value"` pairs, values escaped.
    void Open(const char* name, const char* attributes = "") {
        End(Append(Append(Append(StartLine(), "<"), name), attributes), ">\n");
        ++depth_;
    }
    void Close(const char* name) {
        --depth_;
        End(Append(StartLine(), "</"), name, ">\n");
    }
    void Empty(const char* name, const char* attributes = "") {
        End(Append(Append(Append(StartLine(), "<"), name), attributes), " />\n");
    }
    // An element holding text that needs no escaping (numbers, fixed words).
    void Leaf(const char* name, const char* text) { Leaf(name, "", text); }
    void Leaf(const char* name, const char* attributes, const char* text) {
        char* at = Append(Append(Append(Append(StartLine(), "<"), name), attributes), ">");
        End(Append(Append(at, text), "</"), name, ">\n");
    }
    void Leaf(const char* name, int number) {
        char digits[24];
        Leaf(name, NumberText(number, digits + sizeof digits));
    }
    // An element holding text from the file (names), escaped.
    void TextLeaf(const char* name, const std::string& text) {
        used_ = static_cast<size_t>(Append(Append(Append(StartLine(), "<"), name), ">") - block_.get());
        for (char c : text) {
            if (used_ + kLineRoom > kBlock) Flush();
            const char* escaped = c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : c == '"' ? "&quot;" : nullptr;
            if (escaped) {
                used_ = static_cast<size_t>(Append(block_.get() + used_, escaped) - block_.get());
            } else {
                block_[used_++] = c;
            }
        }
        if (used_ + kLineRoom > kBlock) Flush();
        End(Append(block_.get() + used_, "</"), name, ">\n");
    }
    void Raw(const char* text) {
        if (std::strlen(text) + kLineRoom > kBlock - used_) Flush();
        used_ = static_cast<size_t>(Append(block_.get() + used_, text) - block_.get());
    }
    void Flush() {
        out_.write(block_.get(), static_cast<std::streamsize>(used_));
        used_ = 0;
        if (!out_) throw std::runtime_error("the MusicXML document could not be written");
    }

private:
    static constexpr size_t kBlock = 64 * 1024;
    static constexpr size_t kLineRoom = 512;  // more than any line but one with a name from the file

    static char* Append(char* at, const char* text) {
        while (*text) *at++ = *text++;
        return at;
    }
    // Makes room for a line and indents it; returns where its text goes.
    char* StartLine() {
        if (used_ + kLineRoom > kBlock) Flush();
        char* at = block_.get() + used_;
        for (int i = 0; i < depth_; ++i, at += 2) at[0] = at[1] = ' ';
        return at;
    }
    void End(char* at, const char* end) { used_ = static_cast<size_t>(Append(at, end) - block_.get()); }
    void End(char* at, const char* name, const char* end) { End(Append(at, name), end); }

    std::ostream& out_;
    std::unique_ptr<char[]> block_;
    size_t used_ = 0;
    int depth_ = 0;
};

// ---- Text from the file ------------------------------------------------------------

// The length of the well-formed UTF-8 character at text[i] that XML may hold
// (no overlong forms, surrogates, U+FFFE/U+FFFF or code points past
// U+10FFFF), or 0.
size_t Utf8Length(const std::string& text, size_t i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (length == 0 || i + length > text.size()) return 0;
    unsigned long code = length == 1 ? c : c & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
        const unsigned char next = static_cast<unsigned char>(text[i + k]);
        if ((next >> 6) != 2) return 0;
        code = (code << 6) | (next & 0x3F);
    }
    static const unsigned long kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) || code == 0xFFFE ||
        code == 0xFFFF)
        return 0;
    return length;
}

bool IsUtf8(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        const size_t length = Utf8Length(text, i);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

// ---- Alterations -------------------------------------------------------------------

// Alteration (semitones) that the key signature gives a letter. Sharps are
// added in the order F C G D A E B, flats in the order B E A D G C F.
int KeyAlteration(int key, int letter) {
    static const int kSharpOrder[] = {3, 0, 4, 1, 5, 2, 6};
    static const int kFlatOrder[] = {6, 2, 5, 1, 4, 0, 3};
    const int count = key < 0 ? -key : key;
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

struct NoteAlteration {
    const SNote* note;
    int alteration;
};

// The alterations of one measure's notes, sorted by note for lookup, and the
// working lists of the reading; kept from measure to measure so that a long
// score allocates them once.
struct MeasureAlterations {
    std::vector<NoteAlteration> byNote;
    std::vector<std::pair<int, const SNote*>> onSteps;  // one section's notes by treble step
    std::vector<int> changed;                           // by treble step: alteration of the last sign, or kUnchanged
    std::vector<int> signs;

    static constexpr int kUnchanged = 99;
    // Every step in treble coordinates that an 8-bit staff step in any clef
    // can give (a sound model keeps to -36 ... 114).
    static constexpr int kLowestStep = -160;
    static constexpr int kSteps = 320;

    static bool Before(const NoteAlteration& a, const NoteAlteration& b) {
        return std::less<const SNote*>()(a.note, b.note);
    }
    int Of(const SNote* note) const {
        const NoteAlteration key = {note, 0};
        auto it = std::lower_bound(byNote.begin(), byNote.end(), key, Before);
        return it != byNote.end() && it->note == note ? it->alteration : 0;
    }
};

// The notes of one step in one section, [first, last): their alterations,
// and what the step carries on through the measure. Within one section a
// step can hold two notes (F and F sharp struck together); when one of them
// prints nothing it either repeats the sign before it or carries the
// alteration from before the section, and the one that makes its key is
// taken.
void ReadStep(const SMeasure& measure, int treble, const std::pair<int, const SNote*>* first,
              const std::pair<int, const SNote*>* last, MeasureAlterations& work) {
    int& changed = work.changed[treble - MeasureAlterations::kLowestStep];
    const int before = changed != MeasureAlterations::kUnchanged ? changed : KeyAlteration(measure.cKey, LetterOf(treble));
    work.signs.clear();
    for (auto it = first; it != last; ++it)
        if (it->second->nAccidental != 0) {
            work.signs.push_back(AlterationOfSign(it->second->nAccidental));
            work.byNote.push_back({it->second, work.signs.back()});
        }
    for (auto it = first; it != last; ++it) {
        const SNote* note = it->second;
        if (note->nAccidental != 0) continue;
        int alteration = before;
        for (int sign : work.signs)
            if (NaturalKey(treble) + alteration != note->bPitch && NaturalKey(treble) + sign == note->bPitch)
                alteration = sign;
        work.byNote.push_back({note, alteration});
    }
    if (work.signs.empty()) return;
    // Of two signs on one step, the one that restores the earlier
    // alteration can only have come second.
    int after = work.signs.back();
    for (int sign : work.signs)
        if (sign == before) after = sign;
    changed = after;
}

// Reads the alteration of every note of a measure. An accidental lasts for
// its staff step to the end of the measure; any other step takes the key
// signature.
void ReadAlterations(const SMeasure& measure, int shift, MeasureAlterations& work) {
    work.byNote.clear();
    work.changed.assign(MeasureAlterations::kSteps, MeasureAlterations::kUnchanged);
    for (const SSection* section = measure.pSections; section; section = section->pNext) {
        // The section's notes by step, in chord order within a step (a
        // section holds few notes: each finds its place from the end).
        work.onSteps.clear();
        for (const SChord* chord = section->pChords; chord; chord = chord->pNext)
            for (const SNote* note = chord->pNotes; note; note = note->pNext) {
                work.onSteps.push_back({TrebleStep(note->cStep, shift), note});
                for (size_t k = work.onSteps.size() - 1; k > 0 && work.onSteps[k - 1].first > work.onSteps[k].first; --k)
                    std::swap(work.onSteps[k - 1], work.onSteps[k]);
            }
        for (size_t i = 0; i < work.onSteps.size();) {
            size_t end = i;
            while (end < work.onSteps.size() && work.onSteps[end].first == work.onSteps[i].first) ++end;
            ReadStep(measure, work.onSteps[i].first, work.onSteps.data() + i, work.onSteps.data() + end, work);
            i = end;
        }
    }
    std::sort(work.byNote.begin(), work.byNote.end(), MeasureAlterations::Before);
}

// ---- Values ------------------------------------------------------------------------

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
    const int duration = kWholeDivisions / chord.bValue;
    return chord.bDotted ? duration + duration / 2 : duration;
}

// ---- Notes -------------------------------------------------------------------------

// Where the notes being written go: the part's one staff (staff 0: no
// <staff> element), or staff 1 or 2 of a part with a tablature staff.
struct Staff {
    int number;       // 0 (the only staff), 1 (notes) or 2 (tablature)
    int voiceOffset;  // added to the model's voice number from 1
};

const Staff kOnlyStaff = {0, 0};

bool IsTablature(const Staff& staff) { return staff.number == 2; }

// Where a note or rest comes from, for its id.
struct NoteOrigin {
    size_t part;     // from 1
    unsigned measure;  // from 1
    int section;     // among the measure's kept sections, from 0
    int voice;       // from 1
};

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

// One note of a chord (the index-th), or a rest when note is null (on the
// note staff only). The tablature staff shows pitch, value, string and
// fret, and leaves accidentals, stems, beams and tie arcs to the staff
// above.
void WriteNote(XmlWriter& xml, const SChord& chord, const SNote* note, int index, bool chordTone, int shift,
               const MeasureAlterations& alterations, const NoteOrigin& origin, const Staff& staff) {
    Attributes id;
    id << " id=\"p" << origin.part << "-m" << origin.measure << "-s" << origin.section << "-v" << origin.voice
       << "-n" << index << (IsTablature(staff) ? "-tab\"" : "\"");
    xml.Open("note", id.Text());
    if (chordTone) xml.Empty("chord");
    if (note) {
        xml.Open("pitch");
        WritePitch(xml, "step", "octave", TrebleStep(note->cStep, shift), alterations.Of(note));
        xml.Close("pitch");
    } else if (chord.bRestStep != 0) {
        xml.Open("rest");
        WritePitch(xml, "display-step", "display-octave", TrebleStep(chord.bRestStep, shift), 0);
        xml.Close("rest");
    } else {
        xml.Empty("rest");
    }
    xml.Leaf("duration", DurationOf(chord));
    if (note && note->bTieIn) xml.Empty("tie", " type=\"stop\"");
    if (note && note->bTieOut) xml.Empty("tie", " type=\"start\"");
    xml.Leaf("voice", origin.voice + staff.voiceOffset);
    xml.Leaf("type", TypeName(chord.bValue));
    if (chord.bDotted) xml.Empty("dot");
    if (note && !IsTablature(staff)) {
        if (const char* accidental = AccidentalName(note->nAccidental)) xml.Leaf("accidental", accidental);
        if (chord.bValue >= 2) xml.Leaf("stem", chord.bStemUp ? "up" : "down");
    }
    // A fret held on from a tie is put in parentheses, as tablature shows it.
    if (note && IsTablature(staff) && note->bTieIn) xml.Leaf("notehead", " parentheses=\"yes\"", "normal");
    WriteStaffNumber(xml, staff);
    // A beam belongs to the chord; MusicXML writes it on the chord's first note.
    if (note && !IsTablature(staff) && !chordTone && chord.bValue >= 8 && (chord.bBeamPrev || chord.bBeamNext))
        xml.Leaf("beam", " number=\"1\"", !chord.bBeamPrev ? "begin" : chord.bBeamNext ? "continue" : "end");
    // Tie arcs are drawn on the note staff only: on the TAB staff they
    // would cross the rhythm drawn above the frets, and Verovio pairs the
    // ties of a TAB chord wrongly. The tie elements still say what sounds.
    const bool tied = note && !IsTablature(staff) && (note->bTieIn || note->bTieOut);
    if (note && (tied || note->bString != 0)) {
        xml.Open("notations");
        if (tied && note->bTieIn) xml.Empty("tied", " type=\"stop\"");
        if (tied && note->bTieOut) xml.Empty("tied", " type=\"start\"");
        if (note->bString != 0) {
            xml.Open("technical");
            xml.Leaf("string", note->bString);
            xml.Leaf("fret", note->bFret);
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

void WriteChord(XmlWriter& xml, const SChord& chord, int shift, const MeasureAlterations& alterations,
                const NoteOrigin& origin, const Staff& staff) {
    if (!chord.pNotes) WriteNote(xml, chord, nullptr, 0, false, shift, alterations, origin, staff);
    bool chordTone = false;
    int index = 0;
    for (const SNote* note = chord.pNotes; note; note = note->pNext, ++index) {
        if (IsTablature(staff) && note->bString == 0) continue;
        WriteNote(xml, chord, note, index, chordTone, shift, alterations, origin, staff);
        chordTone = true;
    }
}

// ---- Voices ------------------------------------------------------------------------

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

// The voices of one measure on one staff, one after the other, each walked
// from the bar line: backup returns to the bar line before the next voice,
// forward steps over a stretch where the voice shows nothing (a rest drawn
// once for several voices stands in the first of them). `cursor` is where
// the writing stands in the measure, before and after.
void WriteVoices(XmlWriter& xml, const SMeasure& measure, NoteOrigin origin, const Staff& staff, int resolution,
                 int length, int shift, const MeasureAlterations& alterations, int& cursor) {
    const int sectionLength = kWholeDivisions / resolution;
    for (int voice = 0; voice < measure.bVoices; ++voice) {
        if (cursor > 0) WriteBackup(xml, cursor);
        cursor = 0;
        origin.voice = voice + 1;
        origin.section = 0;
        for (const SSection* section = measure.pSections; section; section = section->pNext, ++origin.section) {
            const SChord* chord = section->pChords;
            for (int v = 0; v < voice && chord; ++v) chord = chord->pNext;
            if (!chord || chord->bValue == 0 || !ShowsOn(*chord, staff)) continue;
            const int start = static_cast<int>(section - measure.pSections) * sectionLength;
            if (start > cursor) WriteForward(xml, start - cursor, origin.voice, staff);
            if (start < cursor) WriteBackup(xml, cursor - start);
            WriteChord(xml, *chord, shift, alterations, origin, staff);
            cursor = start + DurationOf(*chord);
        }
        if (cursor < length) {
            WriteForward(xml, length - cursor, origin.voice, staff);
            cursor = length;
        }
    }
}

void WriteMeasureRest(XmlWriter& xml, int length, size_t part, unsigned measure, const Staff& staff) {
    Attributes id;
    id << " id=\"p" << part << "-m" << measure << "-rest\"";
    xml.Open("note", id.Text());
    xml.Empty("rest", " measure=\"yes\"");
    xml.Leaf("duration", length);
    xml.Leaf("voice", 1 + staff.voiceOffset);
    WriteStaffNumber(xml, staff);
    xml.Close("note");
}

// ---- Measures ----------------------------------------------------------------------

// What a part carries from one measure to the next.
struct PartState {
    int numerator = 4;    // meter in force
    int denominator = 4;
    int clef = 1;         // clef in effect
    int key = 127;        // key last written (none yet)
    int printedTempo = 0; // tempo of the last metronome mark (none yet)
    int tempo = 0;        // tempo in force (none yet)
    bool excerpt = false; // measures before the first written were passed over
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

void WriteClef(XmlWriter& xml, int clef, bool tablature) {
    xml.Open("clef", tablature ? " number=\"1\"" : "");
    const bool bass = clef == 2 || clef == 4;
    xml.Leaf("sign", bass ? "F" : "G");
    xml.Leaf("line", bass ? 4 : 2);
    if (clef == 3) xml.Leaf("clef-octave-change", 1);
    if (clef == 4) xml.Leaf("clef-octave-change", -1);
    xml.Close("clef");
}

// The second staff of a part with tablature: six lines tuned as a guitar in
// standard tuning, lowest line the low E string. Guitar music is written an
// octave above its sound, and the model fingers the track's keys as written
// notes (its open strings are keys 52 ... 76): the tuning is given in that
// octave, E3 A3 D4 G4 B4 E5, so that every fret the model chose is the
// written pitch less its string's, and the part sounds the file's keys.
void WriteTablatureStaff(XmlWriter& xml) {
    xml.Open("clef", " number=\"2\"");
    xml.Leaf("sign", "TAB");
    xml.Leaf("line", 5);
    xml.Close("clef");
    xml.Open("staff-details", " number=\"2\"");
    xml.Leaf("staff-lines", 6);
    static const char* const kOpenStrings[][2] = {{"E", "3"}, {"A", "3"}, {"D", "4"}, {"G", "4"}, {"B", "4"}, {"E", "5"}};
    for (int line = 1; line <= 6; ++line) {
        xml.Open("staff-tuning", (Attributes() << " line=\"" << line << "\"").Text());
        xml.Leaf("tuning-step", kOpenStrings[line - 1][0]);
        xml.Leaf("tuning-octave", kOpenStrings[line - 1][1]);
        xml.Close("staff-tuning");
    }
    xml.Close("staff-details");
}

// The attributes a measure shows: divisions (and the staves) in the first
// written, then key, meter and clef where they change. `shown` is the
// measure whose meter and key are written (the part's own, or the longest
// part's where this part has ended). The first measure of an excerpt shows
// the meter in force even where it does not change there, as a score
// excerpt starts; its key and clef are written anyway (no key is written
// yet, and the clef in force is given).
void WriteAttributes(XmlWriter& xml, const SMeasure& shown, int clef, bool first, bool tablature, PartState& state) {
    const bool key = shown.cKey != state.key;
    const bool changed = shown.bNumerator != 0 && shown.bDenominator != 0;
    if (!first && !key && !changed && clef == 0) return;
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
    if (first && tablature) xml.Leaf("staves", 2);
    if (clef != 0) {
        state.clef = clef;
        WriteClef(xml, clef, tablature);
    }
    if (first && tablature) WriteTablatureStaff(xml);
    xml.Close("attributes");
}

// A measure before an excerpt: nothing is written, but its meter, clef and
// tempo stay in force for the measures after it.
void PassMeasure(const SMeasure& own, const SMeasure* measure, const SMeasure& shown, PartState& state) {
    if (own.bNumerator != 0 && own.bDenominator != 0) {
        state.numerator = own.bNumerator;
        state.denominator = own.bDenominator;
    }
    if (measure && measure->nClef != 0) state.clef = measure->nClef;
    if (shown.wTempo != 0) state.tempo = shown.wTempo;
    state.excerpt = true;
}

// Performances recorded with rubato change the tempo every few beats, and
// a mark over every measure hides the music: a metronome mark is printed
// where the tempo moves by more than a tenth from the one printed last;
// every change still sounds.
bool PrintsTempo(int tempo, int printed) { return printed == 0 || std::abs(tempo - printed) * 10 > printed; }

void WriteTempo(XmlWriter& xml, int tempo, bool tablature, PartState& state) {
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
    if (tablature) xml.Leaf("staff", 1);
    xml.Empty("sound", (Attributes() << " tempo=\"" << tempo << "\"").Text());
    xml.Close("direction");
}

// ---- Parts -------------------------------------------------------------------------

// Whether a name from the file names anything: the library's stand-ins for
// a missing name, and names of no letter or digit (" - " where a program
// left a field empty), are no title to print.
bool Names(const char* name, const char* standIn) {
    if (!name || std::strcmp(name, standIn) == 0) return false;
    for (const char* c = name; *c; ++c)
        if (std::isalnum(static_cast<unsigned char>(*c)) || static_cast<unsigned char>(*c) >= 0x80) return true;
    return false;
}

// A part is named by its track, or else by its instrument, as a score
// names its staves.
std::string PartName(const MusicXmlPart& part) {
    if (Names(part.track->pszName, "Untitled track")) return MusicXmlText(part.track->pszName);
    if (part.track->pszInstrument) return MusicXmlText(part.track->pszInstrument);
    return "Track " + std::to_string(part.number);
}

void WritePartList(XmlWriter& xml, const SMidiFile& file, const std::vector<MusicXmlPart>& parts) {
    xml.Open("part-list");
    for (size_t i = 0; i < parts.size(); ++i) {
        const STrack& track = *parts[i].track;
        xml.Open("score-part", (Attributes() << " id=\"P" << i + 1 << "\"").Text());
        xml.TextLeaf("part-name", PartName(parts[i]));
        Attributes instrument;
        instrument << " id=\"P" << i + 1 << "-I1\"";
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

// The tablature staff's voices follow the note staff's: from 5, or after
// the most voices a measure of the track has.
int TablatureVoiceOffset(const STrack& track) {
    int voices = 4;
    for (const SMeasure* m = track.pFirstMeasure; m; m = m->pNext) voices = std::max<int>(voices, m->bVoices);
    return voices;
}

// What every measure of one part is written with.
struct PartContext {
    size_t part;             // place in the document, from 1
    const STrack& track;
    const STrack& longest;   // the part with the most measures
    bool withTempo;          // tempo marks go over the top part only
    bool tablature;
    Staff notes;             // the staff of the notes
    Staff tab;               // the tablature staff, with tablature
};

// One measure of a part: `measure` is the part's own (null where the part
// has ended), `shown` the longest part's at the same place.
void WriteMeasure(XmlWriter& xml, const PartContext& context, unsigned number, bool first, const SMeasure* measure,
                  const SMeasure& shown, PartState& state, MeasureAlterations& alterations) {
    Attributes attributes;
    attributes << " number=\"" << number << "\" id=\"p" << context.part << "-m" << number << "\"";
    xml.Open("measure", attributes.Text());
    int clef = measure ? measure->nClef : 0;
    if (first && clef == 0) clef = state.clef;
    WriteAttributes(xml, measure ? *measure : shown, clef, first, context.tablature, state);
    // An excerpt starts at the tempo in force.
    const int tempo = shown.wTempo != 0 ? shown.wTempo : first ? state.tempo : 0;
    if (context.withTempo && tempo != 0) WriteTempo(xml, tempo, context.tablature, state);
    const int length = MeasureLength(state, measure ? context.track.bResolution : context.longest.bResolution);
    if (measure && measure->bVoices > 0) {
        const int shift = ClefShift(state.clef);
        ReadAlterations(*measure, shift, alterations);
        const NoteOrigin origin = {context.part, number, 0, 0};
        const int resolution = context.track.bResolution;
        int cursor = 0;
        WriteVoices(xml, *measure, origin, context.notes, resolution, length, shift, alterations, cursor);
        if (context.tablature)
            WriteVoices(xml, *measure, origin, context.tab, resolution, length, shift, alterations, cursor);
    } else {
        WriteMeasureRest(xml, length, context.part, number, context.notes);
        if (context.tablature) {
            WriteBackup(xml, length);
            WriteForward(xml, length, 1, context.tab);
        }
    }
    xml.Close("measure");
}

// One part, as long as the longest: after its own measures end, whole-
// measure rests in the longest part's meters and keys. Only the measures of
// `range` are written; those before it are passed over for what stays in
// force.
void WritePart(XmlWriter& xml, const PartContext& context, const MeasureRange& range, MeasureAlterations& alterations) {
    xml.Open("part", (Attributes() << " id=\"P" << context.part << "\"").Text());
    PartState state;
    const SMeasure* measure = context.track.pFirstMeasure;
    unsigned number = 1;
    for (const SMeasure* shown = context.longest.pFirstMeasure; shown && number <= range.last;
         shown = shown->pNext, ++number) {
        if (number < range.first) {
            PassMeasure(measure ? *measure : *shown, measure, *shown, state);
        } else {
            WriteMeasure(xml, context, number, number == range.first, measure, *shown, state, alterations);
        }
        if (measure) measure = measure->pNext;
    }
    xml.Close("part");
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

// Names in MIDI files carry no encoding: UTF-8 is kept, anything else is
// read as Latin-1. Control characters, which XML cannot hold, are dropped.
std::string MusicXmlText(const char* text) {
    std::string clean;
    for (const char* c = text ? text : ""; *c; ++c)
        if (static_cast<unsigned char>(*c) >= 0x20 || *c == '\t' || *c == '\n') clean += *c;
    if (IsUtf8(clean)) return clean;
    std::string converted;
    for (char c : clean) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            converted += c;
        } else {
            converted += static_cast<char>(0xC0 | (b >> 6));
            converted += static_cast<char>(0x80 | (b & 0x3F));
        }
    }
    return converted;
}

void WriteMusicXml(std::ostream& out, const SMidiFile& file, const std::vector<MusicXmlPart>& parts,
                   const MusicXmlOptions& options) {
    const STrack& longest = LongestTrack(parts);
    const MeasureRange range = RangeOf(options, longest);
    XmlWriter xml(out);
    xml.Raw("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<!DOCTYPE score-partwise PUBLIC \"-//Recordare//DTD MusicXML 4.0 Partwise//EN\" "
            "\"http://www.musicxml.org/dtds/partwise.dtd\">\n");
    xml.Open("score-partwise", " version=\"4.0\"");
    if (Names(file.pszName, "Untitled midi")) {
        xml.Open("work");
        xml.TextLeaf("work-title", MusicXmlText(file.pszName));
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
        const Staff notes = options.tablature ? Staff{1, 0} : kOnlyStaff;
        const Staff tab = {2, options.tablature ? TablatureVoiceOffset(track) : 0};
        WritePart(xml, PartContext{i + 1, track, longest, i == 0, options.tablature, notes, tab}, range, alterations);
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
