// The JSON reports: every field of every record the library hands out, under
// the key names listed in docs/cli.md. Lists become arrays in list order;
// heap handles and buffer addresses are left out, pointers into the file
// data become offsets.
#include <nlohmann/json.hpp>

#include "musicxml.h"
#include "names.h"
#include "percussion.h"
#include "reports.h"

using Json = nlohmann::ordered_json;

// Names from the file as the score writes them: UTF-8 kept, anything else
// read as Latin-1, so that no byte of a name is lost.
static Json Text(const char* text) { return text ? Json(MusicXmlText(text)) : Json(nullptr); }

// Every text is UTF-8 by now; anything else would become U+FFFD rather
// than failing the whole document.
static std::string Dump(const Json& j) {
    return j.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

static Json FileJson(const std::string& path, const SMidiFile& file) {
    Json j;
    j["path"] = path;
    j["name"] = Text(file.pszName);
    j["title"] = ShownName(file.pszName, "Untitled midi");
    j["format"] = file.wFormat;
    j["tracks"] = file.wTracks;
    j["division"] = file.wDivision;
    j["fileSize"] = file.nFileSize;
    j["dataOffset"] = file.pData && file.pBuffer ? file.pData - file.pBuffer : 0;
    j["dataSize"] = file.nDataSize;
    j["firstTrackOffset"] = file.pFirstTrack && file.pData ? file.pFirstTrack - file.pData : 0;
    j["meter2"] = file.bMeter2;
    j["meter4"] = file.bMeter4;
    j["meter8"] = file.bMeter8;
    j["meter16"] = file.bMeter16;
    j["meter32"] = file.bMeter32;
    j["meter64"] = file.bMeter64;

    Json meters = Json::array();
    for (const STimeSignature* p = file.pTimeSignatures; p; p = p->pNext)
        meters.push_back({{"time", p->dwTime}, {"numerator", p->bNumerator}, {"denominator", p->bDenominator}});
    j["timeSignatures"] = meters;

    Json keys = Json::array();
    for (const SKeySignature* p = file.pKeySignatures; p; p = p->pNext)
        keys.push_back({{"time", p->dwTime}, {"key", p->cKey}});
    j["keySignatures"] = keys;

    Json tempos = Json::array();
    for (const STempo* p = file.pTempos; p; p = p->pNext) tempos.push_back({{"time", p->dwTime}, {"tempo", p->wTempo}});
    j["tempos"] = tempos;
    return j;
}

static Json NoteJson(const SNote& note, int clef) {
    Json j;
    // A note on a drum staff is named by its drum.
    j["name"] = clef == kClefPercussion ? DrumName(note.bPitch) : WrittenName(note.cStep, clef, note.nAccidental);
    j["step"] = note.cStep;
    j["accidental"] = note.nAccidental;
    j["pitch"] = note.bPitch;
    j["value"] = note.bValue;
    j["dotted"] = note.bDotted;
    j["tieIn"] = note.bTieIn;
    j["tieOut"] = note.bTieOut;
    j["headFlipped"] = note.bHeadFlipped;
    j["string"] = note.bString;
    j["fret"] = note.bFret;
    j["notehead"] = note.bNotehead;
    j["drumMark"] = note.bDrumMark;
    return j;
}

static Json NotesJson(const SNote* first, int clef) {
    Json notes = Json::array();
    for (const SNote* p = first; p; p = p->pNext) notes.push_back(NoteJson(*p, clef));
    return notes;
}

static Json ChordJson(const SChord& chord, int clef) {
    Json j;
    j["voice"] = chord.bVoice;
    j["value"] = chord.bValue;
    j["valueLog2"] = chord.bValueLog2;
    j["dotted"] = chord.bDotted;
    j["stemUp"] = chord.bStemUp;
    j["beamPrev"] = chord.bBeamPrev;
    j["beamNext"] = chord.bBeamNext;
    j["restStep"] = chord.bRestStep;
    j["sharedRest"] = chord.bSharedRest;
    j["position"] = chord.dPosition;
    j["mark"] = chord.bMark;
    j["notes"] = NotesJson(chord.pNotes, clef);
    return j;
}

static Json SectionJson(const SMeasure& measure, const SSection& section, int index, int clef) {
    Json j;
    j["index"] = index;
    j["arrayIndex"] = &section - measure.pSections;
    j["time"] = section.dwTime;
    j["headsLeft"] = section.bHeadsLeft;
    Json chords = Json::array();
    for (const SChord* c = section.pChords; c; c = c->pNext) chords.push_back(ChordJson(*c, clef));
    j["chords"] = chords;
    j["rawNotes"] = NotesJson(section.pRawNotes, clef);
    return j;
}

static Json MeasureJson(const SMeasure& measure, int number, int clefInForce) {
    Json j;
    j["number"] = number;
    j["time"] = measure.dwTime;
    j["clef"] = measure.nClef;
    j["clefInForce"] = clefInForce;
    j["numerator"] = measure.bNumerator;
    j["denominator"] = measure.bDenominator;
    j["key"] = measure.cKey;
    Json glyphs = Json::array();
    for (const SKeyAccidental* g = measure.pKeyAccidentals; g; g = g->pNext)
        glyphs.push_back({{"kind", g->nKind}, {"position", g->bPosition}});
    j["keyAccidentals"] = glyphs;
    j["tempo"] = measure.wTempo;
    j["voices"] = measure.bVoices;
    j["sectionCount"] = measure.bSections;
    j["tiedOut"] = measure.bTiedOut;
    Json sections = Json::array();
    int index = 0;
    for (const SSection* s = measure.pSections; s; s = s->pNext)
        sections.push_back(SectionJson(measure, *s, index++, clefInForce));
    j["sections"] = sections;
    return j;
}

static Json TrackJson(unsigned number, const STrack& track) {
    Json j;
    j["number"] = number;
    j["name"] = Text(track.pszName);
    j["title"] = ShownName(track.pszName, "Untitled track");
    j["instrument"] = Text(track.pszInstrument);
    j["program"] = track.bProgram;
    j["resolution"] = track.bResolution;
    j["measureCount"] = track.nMeasures;
    j["sectionCount"] = track.nSections;
    j["noteCount"] = track.nNotes;
    j["endTime"] = track.dwEndTime;
    Json channels = Json::array();
    for (int c = 0; c < 16; ++c)
        if (track.wChannels & (1u << c)) channels.push_back(c + 1);
    j["channels"] = channels;
    j["percussion"] = track.bPercussion != 0;
    j["keyEstimated"] = track.bKeyEstimated != 0;
    return j;
}

// A key estimated from the notes (the file gives none) is marked so on
// every measure, beside the key itself.
static void MarkKeysEstimated(Json& measures, const STrack& track) {
    for (Json& measure : measures) measure["keyEstimated"] = track.bKeyEstimated != 0;
}

std::string InfoJson(const std::string& path, const SMidiFile& file, unsigned tracksOffered,
                     const std::vector<TrackSummary>& tracks) {
    Json j;
    j["file"] = FileJson(path, file);
    j["file"]["tracksOffered"] = tracksOffered;
    Json list = Json::array();
    for (const TrackSummary& summary : tracks) list.push_back(TrackJson(summary.number, *summary.track));
    j["tracks"] = list;
    return Dump(j);
}

static Json StaffMeasuresJson(const STrack& staff) {
    Json measures = Json::array();
    int clef = 1;
    int number = 1;
    for (const SMeasure* m = staff.pFirstMeasure; m; m = m->pNext, ++number) {
        if (m->nClef) clef = m->nClef;
        measures.push_back(MeasureJson(*m, number, clef));
    }
    MarkKeysEstimated(measures, staff);
    return measures;
}

std::string ShowJson(const ShowRequest& request, const SMidiFile& file, const STrack& track) {
    Json t = TrackJson(request.track, track);
    t["transpose"] = request.transpose;
    // The readable notation lists its staves (two for a grand staff: the
    // upper first), each with measures of the classic shape.
    if (request.readable) {
        Json staves = Json::array();
        for (const STrack* staff = &track; staff; staff = staff->pNextStaff)
            staves.push_back(Json{{"staff", staff->bStaff ? staff->bStaff : 1}, {"measures", StaffMeasuresJson(*staff)}});
        t["staves"] = std::move(staves);
    } else {
        t["measures"] = StaffMeasuresJson(track);
    }
    Json j;
    j["notation"] = request.readable ? "readable" : "classic";
    j["file"] = FileJson(request.path, file);
    j["track"] = t;
    return Dump(j);
}

std::string PositionJson(const ShowRequest& request, const STrack& track, const std::vector<PositionAnswer>& answers) {
    // The first staff's answers, and for a grand staff every staff's.
    Json list = Json::array();
    Json staves = Json::array();
    for (const PositionAnswer& a : answers) {
        Json p;
        p["musicTime"] = a.musicTime;
        if (a.measure && a.section) {
            p["measure"] = a.measureNumber;
            p["measureTime"] = a.measure->dwTime;
            p["section"] = a.sectionIndex;
            p["sectionTime"] = a.section->dwTime;
        } else {
            p["measure"] = nullptr;
            p["measureTime"] = nullptr;
            p["section"] = nullptr;
            p["sectionTime"] = nullptr;
        }
        p["fraction"] = a.fraction;
        if (a.staff == 1) list.push_back(p);
        if (!track.pNextStaff) continue;
        if (staves.size() < static_cast<size_t>(a.staff)) staves.push_back(Json{{"staff", a.staff}, {"positions", Json::array()}});
        staves[static_cast<size_t>(a.staff) - 1]["positions"].push_back(p);
    }
    Json j;
    j["path"] = request.path;
    j["track"] = request.track;
    j["trackName"] = Text(track.pszName);
    j["resolution"] = request.resolution;
    j["positions"] = list;
    if (track.pNextStaff) j["staves"] = staves;
    return Dump(j);
}
