// The three reports of the command-line tool, each built whole in memory
// (text or JSON) before anything is printed; the web page's glue returns
// the JSON ones.
#ifndef VASTREL_REPORTS_REPORTS_H
#define VASTREL_REPORTS_REPORTS_H

#include <string>
#include <vector>

#include "vastrel.h"

// One selectable track of a file, parsed at the default resolution.
struct TrackSummary {
    unsigned number;          // the track number a caller selects (format 0: the channel)
    const STrack* track;      // the parsed track
};

// Where one playback time falls in a parsed track.
struct PositionAnswer {
    long musicTime;           // the time asked, 768 per quarter note
    const SMeasure* measure;  // null for a track without notes
    int measureNumber;        // counted from 1; 0 without a measure
    const SSection* section;  // null for a track without notes
    int sectionIndex;         // among the measure's kept sections, from 0; -1 without one
    float fraction;           // of the section already played
    int staff = 1;            // the staff asked: 1, or 2 for the lower staff of a grand staff
};

// What the show command was asked for.
struct ShowRequest {
    std::string path;
    unsigned track;
    int resolution;
    int transpose;
    bool readable = false;  // parsed in the readable notation (VSX_ParseTrackWithOptions), not the classic model
};

// The file's report and its tracks; tracksOffered is how many tracks the
// notation parsed in offers (VSX_CountTracks), which differs from the file's
// wTracks for a format 1 file whose only chunk holds the music.
std::string InfoText(const std::string& path, const SMidiFile& file, unsigned tracksOffered,
                     const std::vector<TrackSummary>& tracks);
std::string InfoJson(const std::string& path, const SMidiFile& file, unsigned tracksOffered,
                     const std::vector<TrackSummary>& tracks);

std::string ShowText(const ShowRequest& request, const SMidiFile& file, const STrack& track);
std::string ShowJson(const ShowRequest& request, const SMidiFile& file, const STrack& track);

std::string PositionText(const ShowRequest& request, const STrack& track,
                         const std::vector<PositionAnswer>& answers);
std::string PositionJson(const ShowRequest& request, const STrack& track,
                         const std::vector<PositionAnswer>& answers);

#endif
