// MusicXML export: parsed tracks written as one score-partwise document that
// any notation program opens, one part per track, from the public score
// model only (as a score viewer reads it).
#ifndef VASTREL_TOOLS_MUSICXML_H
#define VASTREL_TOOLS_MUSICXML_H

#include <string>
#include <vector>

#include "score_model.h"

// One part of the document: a parsed track and the number it was chosen by.
struct MusicXmlPart {
    unsigned number;       // track number (format 0: the MIDI channel 0..15)
    const STrack* track;   // the parsed track
};

// Divisions of a quarter note in the written durations: a 64th note is one.
constexpr int kMusicXmlDivisions = 16;

// The whole document, UTF-8. Parts with fewer measures than the longest one
// are filled up with whole-measure rests, since every part of a score has
// the same measures. Throws std::runtime_error when no part has a measure.
std::string MusicXmlDocument(const SMidiFile& file, const std::vector<MusicXmlPart>& parts);

#endif
