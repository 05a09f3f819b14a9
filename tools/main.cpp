// vastrel: shows what the vastrel library makes of a Standard MIDI File.
//
//   vastrel info FILE                    header, conductor maps, tracks
//   vastrel show FILE --track 0          the notation of one track
//   vastrel position FILE --track 0 768  where a playback time falls
//   vastrel musicxml FILE -o song.musicxml  the tracks as a MusicXML score
//
// show, position and musicxml read the readable notation (the library's
// preset of notation options); --classic gives the classic model instead.
// info lists the tracks the readable notation offers.
//
// The tool reads the library only through its public header, as a score
// viewer would. Every report is built whole before it is printed, so a
// failure never leaves half a report on standard output; the MusicXML score,
// which can be large, is written as it is made once every track is parsed.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "musicxml.h"
#include "reports.h"
#include "vastrel.h"

static const char kUsage[] =
    "usage: vastrel info FILE [--json]\n"
    "       vastrel show FILE [--track N] [--resolution R] [--transpose T] [--classic] [--json]\n"
    "       vastrel position FILE --track N [--resolution R] [--classic] [--json] TIME...\n"
    "       vastrel musicxml FILE [--track N ...] [--resolution R] [--transpose T] [--tablature] [--classic]\n"
    "                        [--first-measure M] [--last-measure M]\n"
    "                             [-o OUT]\n";

struct Options {
    std::string path;
    long long track = 0;
    long long resolution = 16;
    long long transpose = 0;
    bool json = false;
    std::vector<long long> times;
    std::vector<long long> tracks;  // musicxml: the parts, all tracks with notes when empty
    std::string out;                // musicxml: the file to write instead of standard output
    bool tablature = false;         // musicxml: a guitar tablature staff under every part
    unsigned firstMeasure = 0;      // musicxml: an excerpt from this measure (1-based; 0: from the first)
    unsigned lastMeasure = 0;       //   to this one (0: to the last)
    bool classic = false;           // show, position, musicxml: the classic model, not the readable notation
};

// A loaded file and the tracks parsed from it; the tracks are released
// before their file.
class LoadedFile {
public:
    // Tracks are parsed in the readable notation, or in the classic model.
    LoadedFile(const std::string& path, bool classic)
        : file_(VSX_LoadMidiFile(path.c_str())), classic_(classic), readable_(VSX_ReadableOptions()) {}
    ~LoadedFile() {
        for (STrack* track : tracks_) VSX_ReleaseTrack(track);
        VSX_ReleaseFile(file_);
    }
    LoadedFile(const LoadedFile&) = delete;
    LoadedFile& operator=(const LoadedFile&) = delete;

    const SMidiFile& File() const { return *file_; }
    SMidiFile* FilePointer() const { return file_; }

    // The place for the track is made first, so that a parsed track is never
    // lost to a failed push_back. A failed parse leaves nothing behind.
    STrack* Parse(unsigned number, int resolution, int transpose) {
        tracks_.reserve(tracks_.size() + 1);
        tracks_.push_back(ParseAlone(number, resolution, transpose));
        return tracks_.back();
    }

    // A track the caller releases itself.
    STrack* ParseAlone(unsigned number, int resolution, int transpose) const {
        const unsigned short track = static_cast<unsigned short>(number);
        const unsigned char grid = static_cast<unsigned char>(resolution);
        const char shift = static_cast<char>(transpose);
        return classic_ ? VSX_ParseTrack(file_, track, grid, shift)
                        : VSX_ParseTrackWithOptions(file_, track, grid, shift, &readable_);
    }

    // The tracks the notation offers: the file's own count in the classic
    // model; one more than none for a file whose only chunk holds the music.
    unsigned TrackCount() const { return classic_ ? file_->wTracks : VSX_CountTracks(file_, &readable_); }

private:
    SMidiFile* file_;
    bool classic_;
    SNotationOptions readable_;
    std::vector<STrack*> tracks_;
};

static ShowRequest RequestOf(const Options& options) {
    return ShowRequest{options.path, static_cast<unsigned>(options.track), static_cast<int>(options.resolution),
                       static_cast<int>(options.transpose), !options.classic};
}

// What `info` prints of a track is its header: the counts, the end and the
// two names. Each track is released as soon as its header is copied, so that
// the tool never holds more than one model however many tracks the file has
// (the next track's parse reuses the memory instead of asking for more).
struct TrackHeader {
    STrack fields;  // the counts and the end; names pointing at the copies below, no measures, no heap
    std::string name, instrument;
};

static std::string RunInfo(const Options& options) {
    LoadedFile loaded(options.path, false);
    const unsigned count = loaded.TrackCount();
    // Reserved whole, so that the names pointed at never move.
    std::vector<TrackHeader> headers;
    headers.reserve(count);
    std::vector<TrackSummary> tracks;
    for (unsigned n = 0; n < count; ++n) {
        std::unique_ptr<STrack, void (*)(STrack*)> track(loaded.ParseAlone(n, 16, 0), VSX_ReleaseTrack);
        headers.push_back({*track, track->pszName ? track->pszName : "", track->pszInstrument ? track->pszInstrument : ""});
        TrackHeader& header = headers.back();
        header.fields.pFirstMeasure = nullptr;
        header.fields.hHeap = nullptr;
        header.fields.pNextStaff = nullptr;
        header.fields.pszName = track->pszName ? &header.name[0] : nullptr;
        header.fields.pszInstrument = track->pszInstrument ? &header.instrument[0] : nullptr;
        tracks.push_back({n, &header.fields});
    }
    return options.json ? InfoJson(options.path, loaded.File(), count, tracks)
                        : InfoText(options.path, loaded.File(), count, tracks);
}

static std::string RunShow(const Options& options) {
    ShowRequest request = RequestOf(options);
    LoadedFile loaded(options.path, options.classic);
    const STrack* track = loaded.Parse(request.track, request.resolution, request.transpose);
    return options.json ? ShowJson(request, loaded.File(), *track) : ShowText(request, loaded.File(), *track);
}

static PositionAnswer Locate(SMidiFile* file, STrack* track, long musicTime) {
    PositionAnswer answer = {musicTime, nullptr, 0, nullptr, -1, 0.0f, track->bStaff == 2 ? 2 : 1};
    SMeasure* measure = nullptr;
    SSection* section = nullptr;
    VSX_GetPositionByMusicTime(file, track, musicTime, &measure, &section, &answer.fraction);
    answer.measure = measure;
    answer.section = section;
    int number = 1;
    for (const SMeasure* m = track->pFirstMeasure; m && measure; m = m->pNext, ++number)
        if (m == measure) answer.measureNumber = number;
    if (measure) {
        int index = 0;
        for (const SSection* s = measure->pSections; s && section; s = s->pNext, ++index)
            if (s == section) answer.sectionIndex = index;
    }
    return answer;
}

static std::string RunPosition(const Options& options) {
    ShowRequest request = RequestOf(options);
    LoadedFile loaded(options.path, options.classic);
    STrack* track = loaded.Parse(request.track, request.resolution, 0);
    std::vector<PositionAnswer> answers;
    // Every staff of the track answers, the upper staff's answers first.
    for (STrack* staff = track; staff; staff = staff->pNextStaff)
        for (long long time : options.times)
            answers.push_back(Locate(loaded.FilePointer(), staff, static_cast<long>(time)));
    return options.json ? PositionJson(request, *track, answers) : PositionText(request, *track, answers);
}

// The chosen tracks (or every track with notes) as one MusicXML score,
// written as it is made: every track is parsed, and a score without notes
// refused, before the first byte goes out.
static int RunMusicXml(const Options& options) {
    LoadedFile loaded(options.path, options.classic);
    std::vector<MusicXmlPart> parts;
    const int resolution = static_cast<int>(options.resolution), transpose = static_cast<int>(options.transpose);
    for (long long n : options.tracks)
        parts.push_back({static_cast<unsigned>(n), loaded.Parse(static_cast<unsigned>(n), resolution, transpose)});
    for (unsigned n = 0; options.tracks.empty() && n < loaded.TrackCount(); ++n) {
        const STrack* track = loaded.Parse(n, resolution, transpose);
        if (track->nMeasures > 0) parts.push_back({n, track});
    }
    MusicXmlOptions musicxml;
    musicxml.tablature = options.tablature;
    musicxml.classicStrings = options.classic;
    musicxml.firstMeasure = options.firstMeasure;
    musicxml.lastMeasure = options.lastMeasure;
    if (options.out.empty()) {
        WriteMusicXml(std::cout, loaded.File(), parts, musicxml);
        return std::cout ? 0 : 1;
    }
    // Written beside OUT and renamed over it once whole, so that a refusal or
    // a failed write leaves whatever OUT held before as it was.
    const std::string partial = options.out + ".part";
    std::ofstream file(partial, std::ios::binary);
    try {
        WriteMusicXml(file, loaded.File(), parts, musicxml);
        file.close();
    } catch (...) {
        const bool refused = static_cast<bool>(file);  // not a failed write: it keeps its own message
        file.close();
        std::remove(partial.c_str());
        if (refused) throw;
    }
    if (!file || std::rename(partial.c_str(), options.out.c_str()) != 0) {
        std::remove(partial.c_str());
        throw std::runtime_error("cannot write " + options.out);
    }
    return 0;
}

static void AddFile(CLI::App* command, Options& options) {
    command->add_option("FILE", options.path, "Standard MIDI File (format 0 or 1)")->required();
    command->add_flag("--json", options.json, "print one JSON document instead of text");
}

static void AddResolution(CLI::App* command, Options& options) {
    command->add_option("--resolution,-r", options.resolution, "sections per whole note: 2, 4, 8, 16, 32 or 64")
        ->capture_default_str()
        ->check(CLI::Range(0LL, 255LL));
}

static void AddClassic(CLI::App* command, Options& options) {
    command->add_flag("--classic", options.classic,
                      "the classic model (VSX_ParseTrack) instead of the readable notation");
}

static void AddTranspose(CLI::App* command, Options& options) {
    command->add_option("--transpose", options.transpose, "semitones added to every note")
        ->capture_default_str()
        ->check(CLI::Range(-128LL, 127LL));
}

int main(int argc, char** argv) {
    Options options;
    CLI::App app{"Shows what the vastrel library makes of a Standard MIDI File.", "vastrel"};
    app.require_subcommand(1, 1);

    CLI::App* info = app.add_subcommand("info", "the file's header, conductor maps and tracks");
    AddFile(info, options);

    CLI::App* show = app.add_subcommand("show", "the notation of one track, measure by measure");
    AddFile(show, options);
    show->add_option("--track,-t", options.track, "track number (format 0: MIDI channel 0..15)")
        ->capture_default_str()
        ->check(CLI::Range(0LL, 65535LL));
    AddResolution(show, options);
    AddTranspose(show, options);
    AddClassic(show, options);

    CLI::App* position = app.add_subcommand("position", "measure, section and fraction of playback times");
    AddFile(position, options);
    position->add_option("--track,-t", options.track, "track number (format 0: MIDI channel 0..15)")
        ->required()
        ->check(CLI::Range(0LL, 65535LL));
    AddResolution(position, options);
    position->add_option("TIME", options.times, "playback times, 768 per quarter note")
        ->required()
        ->check(CLI::Range(-2147483648LL, 2147483647LL));
    AddClassic(position, options);

    CLI::App* musicxml = app.add_subcommand("musicxml", "the tracks as a MusicXML score, one part per track");
    musicxml->add_option("FILE", options.path, "Standard MIDI File (format 0 or 1)")->required();
    musicxml->add_option("--track,-t", options.tracks, "a track to write (repeatable; default: every track with notes)")
        ->check(CLI::Range(0LL, 65535LL));
    AddResolution(musicxml, options);
    AddTranspose(musicxml, options);
    musicxml->add_option("-o,--output", options.out, "write the score to this file instead of standard output");
    musicxml->add_option("--first-measure", options.firstMeasure, "an excerpt from this measure (numbered from 1)");
    musicxml->add_option("--last-measure", options.lastMeasure, "an excerpt up to this measure");
    musicxml->add_flag("--tablature", options.tablature,
                       "add a guitar tablature staff (strings and frets) to every part");
    AddClassic(musicxml, options);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::cerr << "vastrel: " << e.what() << "\n" << kUsage;
        return 2;
    }

    std::string output;
    try {
        if (musicxml->parsed()) return RunMusicXml(options);
        if (info->parsed())
            output = RunInfo(options);
        else if (show->parsed())
            output = RunShow(options);
        else
            output = RunPosition(options);
    } catch (const CVastrelException& e) {
        std::cerr << "vastrel: " << options.path << ": "
                  << std::string(e.szMessage, strnlen(e.szMessage, sizeof e.szMessage)) << " (error " << e.nMessageId
                  << ")\n";
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "vastrel: " << e.what() << "\n";
        return 1;
    }
    std::fwrite(output.data(), 1, output.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
