// A drum track written as a MusicXML percussion part: the clef, unpitched
// notes at their drums' places with their heads and marks, one instrument
// per drum played with its key on channel 10; and, over the shared corpus,
// that exactly the tracks whose notes are all on channel 10 become such parts.
#include "../support/test_support.h"

#ifdef VSX_HAVE_PUGIXML

#include <dirent.h>

#include <map>
#include <set>

#include "../../notation/drum_kit.h"
#include "musicxml_reading.h"
#include "staff_steps.h"

namespace {

constexpr uint8_t kDrums = 9;  // channel 10, counted from 0

// The keys of the kit drawn with an x: hi-hats and cymbals.
const std::set<int> kCymbalKeys = {42, 44, 46, 49, 51, 52, 55, 57, 59};

// The MIDI key an unpitched note's instrument plays, through its part's
// midi-instrument.
std::map<std::string, int> UnpitchedKeys(pugi::xml_node score) {
    std::map<std::string, int> keys;
    for (pugi::xpath_node node : score.select_nodes("part-list/score-part/midi-instrument[midi-unpitched]"))
        keys[node.node().attribute("id").value()] = node.node().child("midi-unpitched").text().as_int() - 1;
    return keys;
}

}  // namespace

TEST(DrumPart, NotesInstrumentsAndClef) {
    MidiFile file;
    file.Conductor().TimeSignature(0, 4, 2);
    file.AddTrack()
        .Note(0, 4, 36, kDrums)
        .Note(0, 4, 42, kDrums)
        .Note(0, 4, 49, kDrums)
        .Note(kEighth, 4, 46, kDrums)
        .Note(kQuarter, 4, 38, kDrums)
        .Note(kQuarter, 4, 62, kDrums)
        .EndAt(kWhole);
    ScopedMidi midi(file);
    ScopedOptionsTrack track(midi.get());
    ASSERT_TRUE(track->bPercussion);
    MusicXmlOptions withTablature;
    withTablature.tablature = true;
    Document document(Export(midi.get(), {track.get()}, withTablature));
    pugi::xml_node score = document.Score();

    pugi::xml_node scorePart = score.child("part-list").child("score-part");
    EXPECT_STREQ(scorePart.child_value("part-name"), "Drums");
    std::map<std::string, int> keys = UnpitchedKeys(score);
    EXPECT_EQ(keys.size(), 6u) << "one instrument per drum played";
    for (pugi::xml_node instrument : scorePart.children("score-instrument")) {
        std::string id = instrument.attribute("id").value();
        ASSERT_TRUE(keys.count(id)) << id;
        EXPECT_EQ(instrument.child_value("instrument-name"), std::string(DrumOfKey(keys[id]).pszName));
    }
    for (pugi::xml_node midiInstrument : scorePart.children("midi-instrument"))
        EXPECT_EQ(midiInstrument.child("midi-channel").text().as_int(), 10);

    pugi::xml_node part = score.child("part");
    pugi::xml_node attributes = part.child("measure").child("attributes");
    EXPECT_STREQ(attributes.child("clef").child_value("sign"), "percussion");
    EXPECT_FALSE(attributes.child("staves")) << "a drum part has no tablature staff";
    int notes = 0;
    for (pugi::xpath_node node : part.select_nodes(".//note[not(rest)]")) {
        pugi::xml_node note = node.node();
        ++notes;
        EXPECT_FALSE(note.child("pitch"));
        ASSERT_TRUE(note.child("unpitched"));
        const int key = keys.at(note.child("instrument").attribute("id").value());
        const SDrum& drum = DrumOfKey(static_cast<uint8_t>(key));
        pugi::xml_node unpitched = note.child("unpitched");
        static const char* const kLetters[] = {"C", "D", "E", "F", "G", "A", "B"};
        EXPECT_STREQ(unpitched.child_value("display-step"), kLetters[LetterOf(drum.cStep)]) << key;
        EXPECT_EQ(unpitched.child("display-octave").text().as_int(), OctaveOf(drum.cStep)) << key;
        EXPECT_EQ(std::string(note.child_value("notehead")), kCymbalKeys.count(key) ? "x" : "") << key;
        pugi::xml_node technical = note.child("notations").child("technical");
        EXPECT_EQ(bool(technical.child("open")), key == 46) << key;
        EXPECT_EQ(bool(technical.child("stopped")), key == 62) << key;
        EXPECT_FALSE(technical.child("string")) << key;
        EXPECT_STREQ(note.child_value("stem"), drum.bFoot ? "down" : "up") << key;
    }
    EXPECT_EQ(notes, 6);
}

// Over the corpus, through the exporter: every track whose notes are all on
// channel 10 (or a format 0 file's channel 10) is a percussion part of
// unpitched notes only, with an x head on every hi-hat and cymbal; no other
// part has a percussion clef or an unpitched note.
TEST(DrumPart, CorpusDrumTracksArePercussionParts) {
    const std::string corpus = CorpusDirectory();
    if (corpus.empty()) GTEST_SKIP() << "the shared corpus is not here";
    std::vector<std::string> names;
    if (DIR* dir = opendir(corpus.c_str())) {
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name.size() > 4 && name.substr(name.size() - 4) == ".mid") names.push_back(name);
        }
        closedir(dir);
    }
    int drumParts = 0, otherParts = 0;
    for (const std::string& name : names) {
        const std::string path = corpus + "/" + name;
        SMidiFile* file = nullptr;
        if (ErrorIdOf([&] { file = VSX_LoadMidiFile(path.c_str()); }) != 0) continue;
        const SNotationOptions options = VSX_ReadableOptions();
        std::vector<STrack*> tracks;
        std::vector<bool> drums;
        for (unsigned short t = 0; t < VSX_CountTracks(file, &options); ++t) {
            STrack* track = nullptr;
            if (ErrorIdOf([&] { track = VSX_ParseTrackWithOptions(file, t, 16, 0, &options); }) != 0) continue;
            if (track->nMeasures == 0) {
                VSX_ReleaseTrack(track);
                continue;
            }
            tracks.push_back(track);
            drums.push_back(file->wFormat == 0 ? t == kDrums : track->wChannels == (1u << kDrums));
        }
        if (!tracks.empty()) {
            Document document(Export(file, std::vector<const STrack*>(tracks.begin(), tracks.end())));
            std::map<std::string, int> keys = UnpitchedKeys(document.Score());
            size_t i = 0;
            for (pugi::xml_node part : document.Score().children("part")) {
                const bool percussionClef = part.select_node(".//clef[sign='percussion']");
                size_t pitched = part.select_nodes(".//note/pitch").size();
                size_t unpitched = part.select_nodes(".//note/unpitched").size();
                EXPECT_EQ(percussionClef, bool(drums[i])) << name << " part " << i + 1;
                if (drums[i]) {
                    ++drumParts;
                    EXPECT_EQ(pitched, 0u) << name << " part " << i + 1;
                    for (pugi::xpath_node node : part.select_nodes(".//note[unpitched]")) {
                        int key = keys.at(node.node().child("instrument").attribute("id").value());
                        if (kCymbalKeys.count(key)) {
                            EXPECT_STREQ(node.node().child_value("notehead"), "x") << name << " key " << key;
                        }
                    }
                } else {
                    ++otherParts;
                    EXPECT_EQ(unpitched, 0u) << name << " part " << i + 1;
                }
                ++i;
            }
        }
        for (STrack* track : tracks) VSX_ReleaseTrack(track);
        VSX_ReleaseFile(file);
    }
    EXPECT_GT(drumParts, 0);
    std::printf("corpus: %d drum parts, %d other parts\n", drumParts, otherParts);
}

#else

TEST(DrumPart, NotBuilt) { GTEST_SKIP() << "pugixml, which reads the documents back, is not found for this build"; }

#endif
