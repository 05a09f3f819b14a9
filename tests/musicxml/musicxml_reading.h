// Reading the exporter's documents back for the MusicXML tests: the document
// parsed with pugixml, and the parts written from parsed tracks.
#ifndef VASTREL_TESTS_MUSICXML_READING_H
#define VASTREL_TESTS_MUSICXML_READING_H

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "midi_writer.h"
#include "musicxml.h"

struct Document {
    pugi::xml_document xml;
    explicit Document(const std::string& text) { EXPECT_TRUE(xml.load_string(text.c_str())) << text.substr(0, 2000); }
    pugi::xml_node Score() const { return xml.child("score-partwise"); }
};

// One case of a table: a track written with the MIDI writer, and what the
// document shows of it, element by element.
struct TrackCase {
    const char* what;
    std::function<void(MidiTrack&)> write;
    std::vector<std::string> shown;

    // The file: this one track behind an empty conductor track.
    Bytes File() const {
        MidiFile file;
        write(file.AddTrack());
        return file.Build();
    }
};

// The tracks as parts numbered 0, 1, ... in the order given.
inline std::vector<MusicXmlPart> PartsOf(const std::vector<const STrack*>& tracks) {
    std::vector<MusicXmlPart> parts;
    for (size_t i = 0; i < tracks.size(); ++i) parts.push_back({static_cast<unsigned>(i), tracks[i]});
    return parts;
}

inline std::string Export(const SMidiFile* file, const std::vector<const STrack*>& tracks,
                          const MusicXmlOptions& options = {}) {
    return MusicXmlDocument(*file, PartsOf(tracks), options);
}

// The MIDI key a written pitch sounds.
inline int KeyOf(pugi::xml_node pitch) {
    static const std::map<std::string, int> kLetters = {{"C", 0}, {"D", 2}, {"E", 4}, {"F", 5},
                                                        {"G", 7}, {"A", 9}, {"B", 11}};
    return 12 * (pitch.child("octave").text().as_int() + 1) + kLetters.at(pitch.child_value("step")) +
           pitch.child("alter").text().as_int();
}

#endif
