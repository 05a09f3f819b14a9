// MusicXML export: parsed tracks written as one MusicXML 4.0 score-partwise
// document that any notation program (and Verovio) opens, one part per
// track, from the public score model only.
//
// The document is written as it goes, measure by measure, straight to the
// stream: it costs about one walk over the model and holds only one
// measure's working state. The exporter needs nothing but the C++ standard
// library and the headers score_model.h / vastrel.h; it calls no function of
// the library, so it links with the shared or the static library alike (or
// with none, given parsed tracks).
//
// Ids, for a viewer that maps drawn elements back to the model. Every
// <measure> and every <note> carries an `id` attribute, unique in the
// document, that names where it comes from: "p1-m3" is measure 3 of the
// first part, "p1-m3-s0-v1-n0" the first note of the chord of voice 1 in
// the measure's first section, "-tab" ends its copy on the tablature staff.
// The format is given in full in docs/musicxml.md (and in ids.h).
#ifndef VASTREL_MUSICXML_H
#define VASTREL_MUSICXML_H

#include <ostream>
#include <string>
#include <vector>

#include "score_model.h"

// One part of the document: a parsed track and the number it was chosen by.
struct MusicXmlPart {
    unsigned number;       // track number (format 0: the MIDI channel 0..15)
    const STrack* track;   // the parsed track
};

struct MusicXmlOptions {
    // Each part gets a second staff: a six-line guitar TAB staff showing the
    // model's strings and frets (string 1 the highest, as in MusicXML), in
    // the note staff's rhythm: the notes above it carry the stems, beams and
    // ties, the TAB staff the frets (a fret held on from a tie in
    // parentheses). Only then do notes carry their string and fret
    // (<technical>), on the TAB staff. Notes the model gives no string
    // (below the low E, above the 24th fret, or finding no free string) are
    // left off the TAB staff, and a chord of only such notes leaves a gap
    // there.
    bool tablature = false;
    // The model's strings are the classic ones, read from the keys as
    // written guitar music an octave above its sound (open strings at keys
    // 52 ... 76): the TAB staff is tuned E3 A3 D4 G4 B4 E5 so that every fret
    // stays where the model put it. The readable notation's strings are those
    // of the sounding pitch (open strings at keys 40 ... 64), and the staff
    // is tuned E2 A2 D3 G3 B3 E4, as a guitar sounds.
    bool classicStrings = false;
    // An excerpt: only measures firstMeasure to lastMeasure are written,
    // numbered from 1 as in the whole track (0: from the first, to the
    // last; a last measure past the end of the score means the end). Ids
    // and measure numbers are those of the whole document, and the first
    // measure written shows the meter, key, clef and tempo in force there,
    // as a score excerpt starts. A range holding no measure of the score
    // (starting past its end, or ending before it starts) is refused with
    // std::runtime_error before anything is written.
    unsigned firstMeasure = 0;
    unsigned lastMeasure = 0;
};

// Divisions of a quarter note in the written durations: a 64th note is one.
constexpr int kMusicXmlDivisions = 16;

// Writes the document (the whole score, or the excerpt asked for), UTF-8, to `out`. Parts with fewer measures than
// the longest one are filled up with whole-measure rests, since every part
// of a score has the same measures. Throws std::runtime_error, before
// writing anything, when no part has a measure.
void WriteMusicXml(std::ostream& out, const SMidiFile& file, const std::vector<MusicXmlPart>& parts,
                   const MusicXmlOptions& options = {});

// A name from the file (sequence, track) as the document writes it. Names
// in MIDI files carry no encoding: UTF-8 is kept, anything else is read as
// Latin-1, and control characters, which XML cannot hold, are dropped.
std::string MusicXmlText(const char* text);

// A name from the file (a sequence or track name) as a score shows it: as
// MusicXmlText gives it, on one line with its blanks run together, a karaoke
// file's "@T" tag left out; "" when it names nothing: null, the library's
// stand-in for a missing name ("Untitled midi", "Untitled track"), or a text
// of no letter or digit (" - " where a program left a field empty). The
// page and the tool's reports show names by this one rule.
std::string ShownName(const char* name, const char* standIn);

// The same document as one string.
std::string MusicXmlDocument(const SMidiFile& file, const std::vector<MusicXmlPart>& parts,
                             const MusicXmlOptions& options = {});

#endif
