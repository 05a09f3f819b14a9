// The library for a web page: one loaded file and one parsed track (the
// one drawn) at a time, reached from JavaScript through a handful of C
// calls (viewer/src/vastrel.js wraps them). The page shows the readable
// notation: every track is parsed with the library's preset of notation
// options, for drawing, the position lookup, the export and the model alike.
//
// Every call that can fail returns 0 (or a null text) and keeps the
// library's message and id for vsx_web_error_message / vsx_web_error_id,
// so that JavaScript sees the same words as a caller catching
// CVastrelException. Texts handed out (JSON, MusicXML) live in one buffer
// until the next call that makes a text; vsx_web_text_size gives its
// length in bytes.
#include <emscripten/emscripten.h>

#include <nlohmann/json.hpp>

#include <cstring>
#include <exception>
#include <string>
#include <unordered_map>
#include <vector>

#include "musicxml.h"
#include "reports.h"
#include "vastrel.h"

namespace {

// What the page has open: the file, the track it shows and, for the
// position lookup, each measure's number.
struct Session {
    std::string path;
    SMidiFile* file = nullptr;
    STrack* track = nullptr;
    unsigned trackNumber = 0;
    std::unordered_map<const SMeasure*, int> measureNumbers;
    std::string text;
    std::string errorMessage;
    int errorId = 0;
};

Session session;

// Where a playback time falls, read by JavaScript from memory.
struct Position {
    int32_t measure;       // from 1; 0 for a track without notes
    int32_t section;       // among the measure's kept sections, from 0; -1 without one
    float fraction;        // of the section already played
    int32_t lowerSection;  // the same on the lower staff of a grand staff; -1 without one
};

Position position;

void ReleaseTrack() {
    VSX_ReleaseTrack(session.track);
    session.track = nullptr;
    session.measureNumbers.clear();
}

void ReleaseFile() {
    ReleaseTrack();
    VSX_ReleaseFile(session.file);
    session.file = nullptr;
}

// Runs one step of a call, turning what it throws into the kept error.
template <typename Step>
bool Guarded(Step step) {
    try {
        step();
        return true;
    } catch (const CVastrelException& e) {
        session.errorMessage.assign(e.szMessage, strnlen(e.szMessage, sizeof e.szMessage));
        session.errorId = e.nMessageId;
    } catch (const std::exception& e) {
        session.errorMessage = e.what();
        session.errorId = 0;
    }
    return false;
}

STrack* Parse(unsigned number, int resolution, int transpose) {
    const SNotationOptions readable = VSX_ReadableOptions();
    return VSX_ParseTrackWithOptions(session.file, static_cast<unsigned short>(number),
                                     static_cast<unsigned char>(resolution), static_cast<char>(transpose), &readable);
}

// A call made when nothing is open to answer it: an error of the glue's
// own, with no id.
bool Refuse(const char* message) {
    session.errorMessage = message;
    session.errorId = 0;
    return false;
}

bool FileOpen() { return session.file || Refuse("no file is open"); }

bool TrackShown() { return session.track || Refuse("no track is parsed"); }

const char* Text(std::string text) {
    session.text = std::move(text);
    return session.text.c_str();
}

// The tool's info report, with the tracks that the library refuses on their
// own listed apart: one broken chunk does not hide the others. The report
// is made one track at a time, each track released before the next is
// parsed: a file of hundreds of tracks then needs the memory of its
// largest one, not of all of them (WebAssembly memory, once grown, is
// never given back to the page).
std::string FileReport() {
    using Json = nlohmann::ordered_json;
    const SNotationOptions readable = VSX_ReadableOptions();
    const unsigned count = VSX_CountTracks(session.file, &readable);
    Json j = Json::parse(InfoJson(session.path, *session.file, count, {}));
    Json& tracks = j["tracks"];
    Json refused = Json::array();
    for (unsigned n = 0; n < count; ++n) {
        STrack* track = nullptr;
        std::string one;
        bool reported = Guarded([&] {
            track = Parse(n, 16, 0);
            one = InfoJson(session.path, *session.file, count, {{n, track}});
        });
        VSX_ReleaseTrack(track);
        if (reported)
            tracks.push_back(std::move(Json::parse(one)["tracks"][0]));
        else
            refused.push_back({{"number", n}, {"message", session.errorMessage}, {"id", session.errorId}});
    }
    j["refusedTracks"] = std::move(refused);
    return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

extern "C" {

// Loads the file at `path` (in emscripten's file system) in place of the one
// open, and gives the tool's info report of it as JSON, or null on failure
// (then nothing stays open).
EMSCRIPTEN_KEEPALIVE const char* vsx_web_load(const char* path) {
    ReleaseFile();
    session.path = path;
    std::string report;
    bool loaded = Guarded([&] {
        session.file = VSX_LoadMidiFile(path);
        report = FileReport();
    });
    if (!loaded) {
        ReleaseFile();
        return nullptr;
    }
    return Text(std::move(report));
}

// Parses one track of the open file in place of the track shown; 1 on
// success, 0 on failure (then no track is shown).
EMSCRIPTEN_KEEPALIVE int vsx_web_parse(int track, int resolution, int transpose) {
    ReleaseTrack();
    if (!FileOpen()) return 0;
    if (!Guarded([&] { session.track = Parse(static_cast<unsigned>(track), resolution, transpose); })) return 0;
    session.trackNumber = static_cast<unsigned>(track);
    // Both staves of a grand staff number their measures alike.
    for (const STrack* staff = session.track; staff; staff = staff->pNextStaff) {
        int number = 1;
        for (const SMeasure* m = staff->pFirstMeasure; m; m = m->pNext) session.measureNumbers[m] = number++;
    }
    return 1;
}

// The section among its measure's kept sections, from 0; -1 for none.
int SectionIndex(const SMeasure* measure, const SSection* section) {
    int index = 0;
    for (const SSection* s = measure ? measure->pSections : nullptr; s && section; s = s->pNext, ++index)
        if (s == section) return index;
    return -1;
}

// Where a playback time (768 per quarter note) falls in the track shown;
// null on failure.
EMSCRIPTEN_KEEPALIVE const Position* vsx_web_position(double musicTime) {
    if (!TrackShown()) return nullptr;
    SMeasure* measure = nullptr;
    SSection* section = nullptr;
    float fraction = 0.0f;
    const long time = musicTime < 0 ? 0 : musicTime > 2147483647.0 ? 2147483647L : static_cast<long>(musicTime);
    if (!Guarded([&] { VSX_GetPositionByMusicTime(session.file, session.track, time, &measure, &section, &fraction); }))
        return nullptr;
    position = Position{0, -1, fraction, -1};
    if (measure) {
        auto found = session.measureNumbers.find(measure);
        position.measure = found != session.measureNumbers.end() ? found->second : 0;
        position.section = SectionIndex(measure, section);
    }
    // The lower staff of a grand staff has sections of its own: the chords
    // it plays at the time are found by its own lookup.
    if (STrack* lower = session.track->pNextStaff) {
        SMeasure* lowerMeasure = nullptr;
        SSection* lowerSection = nullptr;
        float lowerFraction = 0.0f;
        if (!Guarded([&] { VSX_GetPositionByMusicTime(session.file, lower, time, &lowerMeasure, &lowerSection, &lowerFraction); }))
            return nullptr;
        position.lowerSection = SectionIndex(lowerMeasure, lowerSection);
    }
    return &position;
}

// The track shown as a MusicXML document of one part, with a guitar
// tablature staff when asked: measures first to last (from 1; 0 for from
// the start, to the end), with the ids and numbers of the whole track.
// Null on failure, a range past the end included.
EMSCRIPTEN_KEEPALIVE const char* vsx_web_musicxml(int tablature, int first, int last) {
    std::string document;
    bool written = TrackShown() && Guarded([&] {
        MusicXmlOptions options;
        options.tablature = tablature != 0;
        options.firstMeasure = first > 0 ? static_cast<unsigned>(first) : 0;
        options.lastMeasure = last > 0 ? static_cast<unsigned>(last) : 0;
        document = MusicXmlDocument(*session.file, {{session.trackNumber, session.track}}, options);
    });
    return written ? Text(std::move(document)) : nullptr;
}

// The notation model of any track of the open file, as `vastrel show
// --json` prints it: parsed for this call and released after it, so that
// the track shown stays as it is. Null on failure.
EMSCRIPTEN_KEEPALIVE const char* vsx_web_model_json(int track, int resolution, int transpose) {
    if (!FileOpen()) return nullptr;
    std::string report;
    STrack* parsed = nullptr;
    bool written = Guarded([&] {
        parsed = Parse(static_cast<unsigned>(track), resolution, transpose);
        const ShowRequest request{session.path, static_cast<unsigned>(track), resolution, transpose, true};
        report = ShowJson(request, *session.file, *parsed);
    });
    VSX_ReleaseTrack(parsed);
    return written ? Text(std::move(report)) : nullptr;
}

// The measures of the track shown (0 when none is parsed).
EMSCRIPTEN_KEEPALIVE int vsx_web_measure_count() { return session.track ? session.track->nMeasures : 0; }

EMSCRIPTEN_KEEPALIVE size_t vsx_web_text_size() { return session.text.size(); }

EMSCRIPTEN_KEEPALIVE const char* vsx_web_error_message() { return session.errorMessage.c_str(); }

EMSCRIPTEN_KEEPALIVE int vsx_web_error_id() { return session.errorId; }

// Lets the open file and track go, with the last text.
EMSCRIPTEN_KEEPALIVE void vsx_web_close() {
    ReleaseFile();
    session.text.clear();
    session.text.shrink_to_fit();
}

}  // extern "C"
