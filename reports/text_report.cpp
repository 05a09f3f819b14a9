// The text reports: what a musician reads at a glance. A file's header and
// conductor maps; a track as one block per measure with one row per voice,
// one column per section where something starts; playback positions.
#include <algorithm>
#include <sstream>

#include "musicxml.h"
#include "names.h"
#include "percussion.h"
#include "reports.h"

using Row = std::vector<std::string>;

// Rows of cells with every column as wide as its widest cell, two spaces
// apart, each line behind the indent.
static std::string AlignedRows(const std::vector<Row>& rows, const std::string& indent) {
    std::vector<size_t> widths;
    for (const Row& row : rows) {
        if (widths.size() < row.size()) widths.resize(row.size(), 0);
        for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
    }
    std::string text;
    for (const Row& row : rows) {
        std::string line = indent;
        for (size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) line += std::string(widths[i] - row[i].size() + 2, ' ');
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        text += line + "\n";
    }
    return text;
}

static std::string Counted(long count, const std::string& one, const std::string& many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

static std::string YesNo(int flag) { return flag ? "yes" : "no"; }

static std::string KeyDescription(int key) {
    std::string name = KeyName(key);
    return name.empty() ? KeyCount(key) : name + " (" + KeyCount(key) + ")";
}

// ---- info ------------------------------------------------------------------------

static std::string ConductorMaps(const SMidiFile& file) {
    std::string text;
    std::vector<Row> rows;
    for (const STimeSignature* p = file.pTimeSignatures; p; p = p->pNext)
        rows.push_back({"tick " + std::to_string(p->dwTime),
                        std::to_string(p->bNumerator) + "/" + std::to_string(p->bDenominator)});
    text += rows.empty() ? "Time signatures  none (4/4 throughout)\n" : "Time signatures\n" + AlignedRows(rows, "  ");

    rows.clear();
    for (const SKeySignature* p = file.pKeySignatures; p; p = p->pNext)
        rows.push_back({"tick " + std::to_string(p->dwTime), KeyDescription(p->cKey)});
    text += rows.empty() ? "Key signatures   none (no sharps or flats throughout)\n"
                         : "Key signatures\n" + AlignedRows(rows, "  ");

    rows.clear();
    for (const STempo* p = file.pTempos; p; p = p->pNext)
        rows.push_back({"tick " + std::to_string(p->dwTime), std::to_string(p->wTempo) + " quarter notes per minute"});
    text += rows.empty() ? "Tempos           none (120 quarter notes per minute throughout)\n"
                         : "Tempos\n" + AlignedRows(rows, "  ");
    return text;
}

static Row TrackRow(const TrackSummary& summary) {
    const STrack& track = *summary.track;
    Row row = {std::to_string(summary.number)};
    if (!track.pszName) {
        row.push_back("(no notes)");
        row.push_back("");
        row.push_back("0 notes");
        row.push_back("");
    } else {
        row.push_back(MusicXmlText(track.pszName));
        row.push_back(track.bPercussion ? std::string("drums")
                                        : std::string(track.pszInstrument ? track.pszInstrument : "") +
                                              " (program " + std::to_string(track.bProgram) + ")");
        row.push_back(Counted(track.nNotes, "note", "notes"));
        row.push_back(Counted(track.nMeasures, "measure", "measures"));
    }
    row.push_back(ChannelsText(track.wChannels));
    row.push_back("ends at tick " + std::to_string(track.dwEndTime));
    return row;
}

std::string InfoText(const std::string& path, const SMidiFile& file, unsigned tracksOffered,
                     const std::vector<TrackSummary>& tracks) {
    std::ostringstream out;
    out << "File             " << path << "\n";
    out << "Name             " << MusicXmlText(file.pszName) << "\n";
    out << "Format           " << file.wFormat
        << (file.wFormat == 0 ? " (one track chunk: each MIDI channel is a track)"
                              : " (a conductor track, then the music tracks)")
        << "\n";
    out << "Tracks           " << tracksOffered << " to choose from, numbered from 0";
    if (tracksOffered != file.wTracks) out << " (the only chunk holds the music: it is track 0)";
    out << "\n";
    out << "Division         " << file.wDivision << " ticks per quarter note\n";
    out << "Meters fill      whole halves " << YesNo(file.bMeter2) << ", quarters " << YesNo(file.bMeter4)
        << ", eighths " << YesNo(file.bMeter8) << ", 16ths " << YesNo(file.bMeter16) << ", 32nds "
        << YesNo(file.bMeter32) << ", 64ths " << YesNo(file.bMeter64) << "\n";
    out << ConductorMaps(file);

    std::vector<Row> rows;
    for (const TrackSummary& summary : tracks) rows.push_back(TrackRow(summary));
    out << "Tracks (read at 16 sections per whole note)\n" << AlignedRows(rows, "  ");
    return out.str();
}

// ---- show ------------------------------------------------------------------------

static const char kLegend[] =
    "Legend: a note is its written letter, accidental as printed (# b x bb, n natural) and octave,\n"
    "        then (sounding MIDI key[,sSfF guitar string and fret]); [..] a chord; /4 the value\n"
    "        (1 whole .. 64), '.' dotted; ^ stem up, v stem down; ~ tie; = beam to the neighbour;\n"
    "        * head on the other side of the stem; R rest @ staff step, (R..) a rest not drawn.\n";

// A note on a drum staff is named by its drum, not a pitch.
static std::string NoteText(const SNote& note, int clef) {
    std::string text;
    if (note.bTieIn) text += "~";
    text += clef == kClefPercussion ? DrumName(note.bPitch) : WrittenName(note.cStep, clef, note.nAccidental);
    if (note.bHeadFlipped) text += "*";
    text += "(" + std::to_string(note.bPitch);
    if (note.bString) text += ",s" + std::to_string(note.bString) + "f" + std::to_string(note.bFret);
    text += ")";
    if (note.bTieOut) text += "~";
    return text;
}

// Notes lowest first, however the chord keeps them.
static std::string NotesText(const SNote* first, int clef) {
    std::vector<const SNote*> notes;
    for (const SNote* p = first; p; p = p->pNext) notes.push_back(p);
    std::stable_sort(notes.begin(), notes.end(), [](const SNote* a, const SNote* b) {
        return a->cStep != b->cStep ? a->cStep < b->cStep : a->bPitch < b->bPitch;
    });
    std::string text;
    for (const SNote* note : notes) {
        if (!text.empty()) text += " ";
        text += NoteText(*note, clef);
    }
    return notes.size() > 1 ? "[" + text + "]" : text;
}

static std::string ChordText(const SChord& chord, int clef) {
    if (chord.bValue == 0) return "";
    std::string text = chord.bBeamPrev ? "=" : "";
    if (!chord.pNotes) {
        std::string rest = "R" + ValueText(chord.bValue, chord.bDotted);
        if (chord.bRestStep) rest += "@" + std::to_string(chord.bRestStep);
        else rest = "(" + rest + ")";
        if (chord.bSharedRest) rest += "(shared)";
        text += rest;
    } else {
        text += NotesText(chord.pNotes, clef) + ValueText(chord.bValue, chord.bDotted);
        text += chord.bStemUp ? "^" : "v";
    }
    if (chord.bBeamNext) text += "=";
    return text;
}

// Notes placed in a section but not yet given to a voice (a finished track has none).
static std::string PlacedText(const SNote* first, int clef) {
    std::string text;
    for (const SNote* p = first; p; p = p->pNext) {
        if (!text.empty()) text += " ";
        text += NoteText(*p, clef) + ValueText(p->bValue, p->bDotted);
    }
    return text;
}

static const SChord* ChordOfVoice(const SSection& section, int voice) {
    const SChord* chord = section.pChords;
    while (chord && voice-- > 0) chord = chord->pNext;
    return chord;
}

static bool SomethingStarts(const SSection& section) {
    if (section.pRawNotes) return true;
    for (const SChord* c = section.pChords; c; c = c->pNext)
        if (c->bValue) return true;
    return false;
}

// What is in force at a measure: the model shows meter, tempo and clef only
// where they change.
struct InForce {
    int numerator = 4;
    int denominator = 4;
    int clef = 1;
    int key = 0;
    bool first = true;
};

static std::string MeasureHeading(const SMeasure& measure, int number, const InForce& state, bool keyShown) {
    std::vector<std::string> parts;
    if (measure.bNumerator && measure.bDenominator)
        parts.push_back(std::to_string(measure.bNumerator) + "/" + std::to_string(measure.bDenominator));
    // A drum staff has no key.
    if (keyShown && measure.nClef != kClefPercussion && state.clef != kClefPercussion) {
        std::string key = "key " + KeyDescription(measure.cKey);
        std::string glyphs;
        for (const SKeyAccidental* g = measure.pKeyAccidentals; g; g = g->pNext)
            glyphs += (glyphs.empty() ? "" : " ") + WrittenName(g->bPosition, state.clef, g->nKind);
        if (!glyphs.empty()) key += ": " + glyphs;
        parts.push_back(key);
    }
    if (measure.wTempo) parts.push_back("tempo " + std::to_string(measure.wTempo));
    if (measure.nClef) parts.push_back(ClefName(measure.nClef) + " clef");
    parts.push_back(Counted(measure.bVoices, "voice", "voices"));
    if (measure.bTiedOut) parts.push_back("tied over the bar line");

    std::string text = "Measure " + std::to_string(number) + " at tick " + std::to_string(measure.dwTime) + ":";
    for (size_t i = 0; i < parts.size(); ++i) text += (i ? ", " : " ") + parts[i];
    return text + "\n";
}

static std::string MeasureGrid(const SMeasure& measure, const InForce& state, int division) {
    std::vector<const SSection*> columns;
    bool anyPlaced = false;
    for (const SSection* s = measure.pSections; s; s = s->pNext) {
        if (!SomethingStarts(*s)) continue;
        columns.push_back(s);
        if (s->pRawNotes) anyPlaced = true;
    }
    if (columns.empty()) return "  (nothing starts in this measure)\n";

    double beatTicks = 4.0 * division / state.denominator;
    std::vector<Row> rows;
    Row beats = {"beat"};
    for (const SSection* s : columns) beats.push_back(TrimmedNumber(1.0 + (s->dwTime - measure.dwTime) / beatTicks));
    rows.push_back(beats);
    for (int v = 0; v < measure.bVoices; ++v) {
        Row row = {"voice " + std::to_string(v + 1)};
        for (const SSection* s : columns) {
            const SChord* chord = ChordOfVoice(*s, v);
            row.push_back(chord ? ChordText(*chord, state.clef) : "");
        }
        rows.push_back(row);
    }
    if (anyPlaced) {
        Row row = {"placed"};
        for (const SSection* s : columns) row.push_back(PlacedText(s->pRawNotes, state.clef));
        rows.push_back(row);
    }
    return AlignedRows(rows, "  ");
}

static std::string TrackHeading(const ShowRequest& request, const SMidiFile& file, const STrack& track) {
    std::ostringstream out;
    out << MusicXmlText(file.pszName) << ", track " << request.track << ": " << MusicXmlText(track.pszName) << "\n";
    if (track.bPercussion)
        out << "Instrument  drums (" << ChannelsText(track.wChannels) << ")\n";
    else
        out << "Instrument  " << (track.pszInstrument ? track.pszInstrument : "") << " (program "
            << static_cast<int>(track.bProgram) << ")\n";
    out << "Notation    " << (request.readable ? "readable" : "classic") << "\n";
    if (track.bKeyEstimated) out << "Key         estimated from the notes (the file has no key signature)\n";
    out << "Grid        " << static_cast<int>(track.bResolution) << " sections per whole note, transposed by "
        << request.transpose << " semitones\n";
    out << "Size        " << Counted(track.nMeasures, "measure", "measures") << ", "
        << Counted(track.nSections, "section", "sections") << ", " << Counted(track.nNotes, "note", "notes")
        << ", ends at tick " << track.dwEndTime << "\n";
    return out.str();
}

static std::string StaffText(const STrack& staff, int division);

std::string ShowText(const ShowRequest& request, const SMidiFile& file, const STrack& track) {
    if (!track.pszName || !track.pFirstMeasure)
        return "Track " + std::to_string(request.track) + " has no notes; it ends at tick " +
               std::to_string(track.dwEndTime) + ".\n";
    std::string text = TrackHeading(request, file, track);
    if (track.pNextStaff) text += "Staves      2, a grand staff: the right hand's above, the left hand's below\n";
    text += std::string("\n") + kLegend;
    for (const STrack* staff = &track; staff; staff = staff->pNextStaff) {
        if (track.pNextStaff) text += "\n" + std::string(staff == &track ? "Upper staff" : "Lower staff") + "\n";
        text += StaffText(*staff, file.wDivision);
    }
    return text;
}

// The measures of one staff.
static std::string StaffText(const STrack& staff, int division) {
    std::string text;
    InForce state;
    int number = 1;
    for (const SMeasure* m = staff.pFirstMeasure; m; m = m->pNext, ++number) {
        if (m->bNumerator && m->bDenominator) {
            state.numerator = m->bNumerator;
            state.denominator = m->bDenominator;
        }
        if (m->nClef) state.clef = m->nClef;
        bool keyShown = state.first || m->pKeyAccidentals || m->cKey != state.key;
        state.key = m->cKey;
        state.first = false;
        text += "\n" + MeasureHeading(*m, number, state, keyShown) + MeasureGrid(*m, state, division);
    }
    return text;
}

// ---- position --------------------------------------------------------------------

std::string PositionText(const ShowRequest& request, const STrack& track, const std::vector<PositionAnswer>& answers) {
    std::string text = "Track " + std::to_string(request.track) + (track.pszName ? ": " + MusicXmlText(track.pszName) : "") +
                       ", " + std::to_string(request.resolution) + " sections per whole note\n";
    for (const PositionAnswer& a : answers) {
        text += "time " + std::to_string(a.musicTime) + ": ";
        if (track.pNextStaff) text += (a.staff == 1 ? "upper staff, " : "lower staff, ");
        if (!a.measure || !a.section) {
            text += "no measure (the track has no notes)\n";
            continue;
        }
        text += "measure " + std::to_string(a.measureNumber) + " (tick " + std::to_string(a.measure->dwTime) +
                "), section " + std::to_string(a.sectionIndex) + " (tick " + std::to_string(a.section->dwTime) +
                "), fraction " + TrimmedNumber(a.fraction) + "\n";
    }
    return text;
}
