// MusicXML export as a library: the ids a viewer maps drawn elements back
// with, the guitar tablature staff, names from the file as XML text, and
// the document written to a stream as it is made.
#include "../support/test_support.h"

#ifdef VSX_HAVE_PUGIXML

#include <functional>
#include <memory>
#include <regex>
#include <set>
#include <sstream>

#include "musicxml_reading.h"
#include "vastrel.h"

namespace {

struct Song {
    const char* what;
    std::function<void(MidiFile&)> write;  // conductor and music tracks
};

// Small files whose models have what ids must tell apart: several voices, a
// rest drawn once for two voices, chords, ties over the bar line, a meter
// change, and a second part shorter than the first.
const Song kSongs[] = {
    {"two voices, a shared rest and a chord",
     [](MidiFile& f) {
         f.AddTrack().Note(0, kQuarter, 74).Note(0, kEighth, 67).Note(kHalf, kHalf, 74).Chord(kHalf, kQuarter, {60, 64});
     }},
    {"a tie over the bar line in 3/4, then 2/4",
     [](MidiFile& f) {
         f.Conductor().TimeSignature(0, 3, 2).TimeSignature(3 * kQuarter, 2, 2);
         f.AddTrack().Note(0, kHalf, 72).Note(kHalf, kHalf, 76).Note(5 * kQuarter, kQuarter, 79);
     }},
    {"a long part and a short one",
     [](MidiFile& f) {
         f.AddTrack().Note(0, kWhole, 72).Note(kWhole, kWhole, 74).Note(2 * kWhole, kHalf, 76);
         f.AddTrack().Chord(0, kHalf, {48, 55}).Note(kHalf, kEighth, 43);
     }},
};

// Where a note element of the document says it comes from.
struct NoteId {
    unsigned part, measure, section, voice, note;
    bool tablature;
};

bool ParseNoteId(const std::string& id, NoteId& parsed) {
    static const std::regex kNoteId("p([0-9]+)-m([0-9]+)-s([0-9]+)-v([0-9]+)-n([0-9]+)(-tab)?");
    std::smatch m;
    if (!std::regex_match(id, m, kNoteId)) return false;
    parsed = {static_cast<unsigned>(std::stoul(m[1])), static_cast<unsigned>(std::stoul(m[2])),
              static_cast<unsigned>(std::stoul(m[3])), static_cast<unsigned>(std::stoul(m[4])),
              static_cast<unsigned>(std::stoul(m[5])), m[6].matched};
    return true;
}

// The section a playback lookup finds at a section's start, by its index
// among the measure's kept sections (as `vastrel position` prints it).
int LookedUpSection(SMidiFile* file, STrack* track, const SSection* section) {
    SMeasure* measure = nullptr;
    SSection* found = nullptr;
    float fraction = 0;
    const long musicTime = static_cast<long>(section->dwTime) * 768 / file->wDivision;
    VSX_GetPositionByMusicTime(file, track, musicTime, &measure, &found, &fraction);
    int index = 0;
    for (const SSection* s = measure ? measure->pSections : nullptr; s; s = s->pNext, ++index)
        if (s == found) return index;
    return -1;
}

// Every note element's id names the part, measure, kept section, voice and
// chord note it was written from; the playback lookup finds that section at
// its start; every note and rest of the model is written once per staff;
// ids are unique and every measure has one.
TEST(MusicXmlIds, NameWhereEveryNoteComesFrom) {
    for (const Song& song : kSongs) {
        for (bool tablature : {false, true}) {
            SCOPED_TRACE(std::string(song.what) + (tablature ? ", with tablature" : ""));
            MidiFile file;
            song.write(file);
            ScopedMidi midi(file);
            std::vector<std::unique_ptr<ScopedTrack>> scoped;
            std::vector<const STrack*> tracks;
            for (unsigned short t = 0; t < midi->wTracks; ++t) {
                scoped.push_back(std::make_unique<ScopedTrack>(midi.get(), t));
                tracks.push_back(scoped.back()->get());
            }
            MusicXmlOptions options;
            options.tablature = tablature;
            Document document(Export(midi.get(), tracks, options));

            std::set<std::string> ids;
            size_t elements = 0;
            std::map<const SNote*, int> written;  // staff 1 or 2 -> counted in bits
            std::map<const SChord*, int> rests;
            unsigned partNumber = 0;
            for (pugi::xml_node part : document.Score().children("part")) {
                const STrack* track = tracks[partNumber++];
                const std::vector<SMeasure*> measures = Measures(track);
                unsigned measureNumber = 0;
                for (pugi::xml_node measure : part.children("measure")) {
                    ++measureNumber;
                    const std::string measureId = measure.attribute("id").value();
                    EXPECT_EQ(measureId, "p" + std::to_string(partNumber) + "-m" + std::to_string(measureNumber));
                    ids.insert(measureId);
                    ++elements;
                    for (pugi::xml_node note : measure.children("note")) {
                        const std::string id = note.attribute("id").value();
                        ids.insert(id);
                        ++elements;
                        if (id == measureId + "-rest") {
                            EXPECT_TRUE(measureNumber > measures.size() || measures[measureNumber - 1]->bVoices == 0) << id;
                            continue;
                        }
                        NoteId from;
                        ASSERT_TRUE(ParseNoteId(id, from)) << id;
                        EXPECT_EQ(from.part, partNumber);
                        EXPECT_EQ(from.measure, measureNumber);
                        ASSERT_LE(from.measure, measures.size()) << id;
                        const std::vector<SSection*> kept = LinkedSections(measures[from.measure - 1]);
                        ASSERT_LT(from.section, kept.size()) << id;
                        const SSection* section = kept[from.section];
                        EXPECT_EQ(LookedUpSection(midi.get(), const_cast<STrack*>(track), section),
                                  static_cast<int>(from.section)) << id;
                        std::vector<SChord*> chords = Chords(section);
                        ASSERT_LE(from.voice, chords.size()) << id;
                        const SChord* chord = chords[from.voice - 1];
                        EXPECT_EQ(from.tablature, note.child_value("staff") == std::string("2")) << id;
                        if (!note.child("pitch")) {
                            EXPECT_EQ(chord->pNotes, nullptr) << id;
                            EXPECT_FALSE(from.tablature) << id << ": guitar tablature shows no rests";
                            rests[chord] |= 1;
                            continue;
                        }
                        std::vector<SNote*> notes = Notes(chord);
                        ASSERT_LT(from.note, notes.size()) << id;
                        EXPECT_EQ(KeyOf(note.child("pitch")), notes[from.note]->bPitch) << id;
                        written[notes[from.note]] |= from.tablature ? 2 : 1;
                    }
                }
            }
            EXPECT_EQ(ids.size(), elements) << "ids repeat";
            for (const std::string& id : ids) EXPECT_TRUE(std::isalpha(static_cast<unsigned char>(id[0]))) << id;
            // Each note of the model once on the note staff, and on the
            // tablature staff where it has a string; each rest on the note
            // staff alone.
            for (const STrack* track : tracks)
                for (const SMeasure* m : Measures(track))
                    for (const SSection* s : LinkedSections(m))
                        for (const SChord* c : Chords(s)) {
                            if (c->bValue == 0) continue;
                            if (!c->pNotes) {
                                EXPECT_EQ(rests[c], 1);
                            }
                            for (const SNote* n : Notes(c))
                                EXPECT_EQ(written[n], tablature && n->bString != 0 ? 3 : 1) << int(n->bPitch);
                        }
        }
    }
}

// ---- Grand staff ------------------------------------------------------------------

// A piano piece on a grand staff is one part on two staves joined by a
// brace: clefs numbered, every note on its staff, the lower staff's voices
// after a backup and numbered after the upper's, and ids that stay unique
// and name the lower staff's own sections and notes.
TEST(MusicXmlGrandStaff, OnePartOnTwoStaves) {
    MidiFile file;
    MidiTrack& music = file.AddTrack();
    const uint8_t kTune[] = {72, 74, 76, 79, 76, 74, 72, 67};
    for (uint32_t i = 0; i < 32; ++i) music.Note(i * kEighth, kEighth, kTune[i % 8]);
    // The bass tied over the second bar line, and a chord.
    music.Note(0, kWhole, 48).Note(kWhole, kWhole + kHalf, 43).Chord(2 * kWhole + kHalf, kHalf, {41, 48});
    music.Note(3 * kWhole, kWhole, 36);
    ScopedMidi midi(file);
    SNotationOptions readable = VSX_ReadableOptions();
    STrack* track = VSX_ParseTrackWithOptions(midi.get(), 0, 16, 0, &readable);
    std::unique_ptr<STrack, void (*)(STrack*)> release(track, VSX_ReleaseTrack);
    ASSERT_NE(track->pNextStaff, nullptr);
    const STrack* staves[] = {track, track->pNextStaff};
    Document document(Export(midi.get(), {track}));
    pugi::xml_node part = document.Score().child("part");
    pugi::xml_node attributes = part.child("measure").child("attributes");
    EXPECT_EQ(attributes.child("staves").text().as_int(), 2);
    EXPECT_STREQ(attributes.child_value("part-symbol"), "brace");
    EXPECT_STREQ(attributes.find_child_by_attribute("clef", "number", "1").child_value("sign"), "G");
    EXPECT_STREQ(attributes.find_child_by_attribute("clef", "number", "2").child_value("sign"), "F");

    std::set<std::string> ids;
    size_t elements = 0;
    int pitched[3] = {0, 0, 0};
    unsigned measureNumber = 0;
    for (pugi::xml_node measure : part.children("measure")) {
        ++measureNumber;
        int staffBefore = 1;
        bool backedUp = false;
        for (pugi::xml_node child : measure.children()) {
            if (std::string(child.name()) == "backup") backedUp = true;
            if (std::string(child.name()) != "note") continue;
            const std::string id = child.attribute("id").value();
            ids.insert(id);
            ++elements;
            const int staff = child.child("staff").text().as_int();
            ASSERT_TRUE(staff == 1 || staff == 2) << id;
            const bool lower = id.size() > 7 && id.compare(id.size() - 7, 7, "-staff2") == 0;
            EXPECT_EQ(lower, staff == 2) << id;
            // The lower staff follows the upper, after a backup to the bar line.
            EXPECT_GE(staff, staffBefore) << id;
            if (staff == 2 && staffBefore == 1) {
                EXPECT_TRUE(backedUp) << id;
            }
            staffBefore = staff;
            if (staff == 2) {
                EXPECT_GE(child.child("voice").text().as_int(), 5) << id;
            }
            NoteId from;
            if (!ParseNoteId(lower ? id.substr(0, id.size() - 7) : id, from)) continue;  // a whole-measure rest
            const std::vector<SSection*> kept = LinkedSections(Measures(staves[staff - 1]).at(from.measure - 1));
            ASSERT_LT(from.section, kept.size()) << id;
            const SChord* chord = Chords(kept[from.section]).at(from.voice - 1);
            if (!child.child("pitch")) continue;
            ++pitched[staff];
            EXPECT_EQ(KeyOf(child.child("pitch")), Notes(chord).at(from.note)->bPitch) << id;
        }
    }
    EXPECT_EQ(measureNumber, static_cast<unsigned>(track->nMeasures));
    EXPECT_EQ(ids.size(), elements) << "ids repeat";
    for (int staff : {1, 2}) {
        int notes = 0;
        for (const SMeasure* m : Measures(staves[staff - 1]))
            for (const SSection* s : LinkedSections(m))
                for (const SChord* c : Chords(s)) notes += c->bValue ? static_cast<int>(Notes(c).size()) : 0;
        EXPECT_EQ(pitched[staff], notes) << "staff " << staff;
    }
}

// ---- Tablature ------------------------------------------------------------------

// What the tablature staff of a part shows, note by note: "key string/fret",
// "rest" for a rest.
std::vector<std::string> TablatureNotes(pugi::xml_node part) {
    std::vector<std::string> shown;
    for (pugi::xpath_node n : part.select_nodes("measure/note[staff='2']")) {
        pugi::xml_node note = n.node();
        if (!note.child("pitch")) {
            shown.push_back("rest");
            continue;
        }
        pugi::xml_node technical = note.child("notations").child("technical");
        shown.push_back(std::to_string(KeyOf(note.child("pitch"))) + " " + technical.child_value("string") + "/" +
                        technical.child_value("fret"));
    }
    return shown;
}

// The MIDI key of each tuned line of the tablature staff, string 1 first.
std::vector<int> TuningOf(pugi::xml_node part) {
    std::vector<int> strings(6, -1);
    pugi::xml_node details = part.child("measure").child("attributes").find_child_by_attribute("staff-details", "number", "2");
    EXPECT_EQ(details.child("staff-lines").text().as_int(), 6);
    for (pugi::xml_node tuning : details.children("staff-tuning")) {
        pugi::xml_document pitch;
        pugi::xml_node p = pitch.append_child("pitch");
        p.append_child("step").text().set(tuning.child_value("tuning-step"));
        p.append_child("octave").text().set(tuning.child_value("tuning-octave"));
        const int line = tuning.attribute("line").as_int();
        if (line >= 1 && line <= 6) strings[6 - line] = KeyOf(p);
    }
    return strings;
}

// The tablature staff shows the model's strings and frets, on a staff tuned
// so that every fret is the note's key less its open string's (what
// notation programs check); notes without a string are left off and their
// voice keeps time; the note staff keeps what it showed without tablature.
TEST(MusicXmlTablature, ShowsTheModelsStringsAndFrets) {
    const TrackCase cases[] = {
        {"open low E, a scale up the D string's reach, open high E and its 24th fret",
         [](MidiTrack& t) {
             t.Note(0, kQuarter, 52).Note(kQuarter, kQuarter, 62).Note(kHalf, kQuarter, 64).Note(3 * kQuarter, kQuarter, 76);
             t.Note(kWhole, kWhole, 100);
         },
         {"52 6/0", "62 4/0", "64 4/2", "76 1/0", "100 1/24"}},
        {"below the low E and above the 24th fret: no string, left off",
         [](MidiTrack& t) { t.Note(0, kHalf, 40).Note(kHalf, kQuarter, 101).Note(3 * kQuarter, kQuarter, 67); },
         {"67 3/0"}},
        {"a chord with a note below the low E keeps the others on their strings",
         [](MidiTrack& t) { t.Chord(0, kHalf, {43, 59, 64}).EndAt(kWhole); },
         {"59 5/2", "64 4/2"}},
        {"E and F both want the low E string: the chord lists F first (stem down, highest first), E is left off",
         [](MidiTrack& t) { t.Chord(0, kWhole, {52, 53, 64}); },
         {"53 6/1", "64 4/2"}},
        {"a half tied over the bar line: the fret again, held",
         [](MidiTrack& t) { t.Note(0, kHalf, 60).Note(kHalf, kHalf + kQuarter, 64).EndAt(2 * kWhole); },
         {"60 5/3", "64 4/2", "64 4/2"}},
    };
    for (const TrackCase& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedMidi midi(c.File());
        ScopedTrack track(midi.get(), 0);
        MusicXmlOptions options;
        options.tablature = true;
        options.classicStrings = true;
        Document tab(Export(midi.get(), {track.get()}, options));
        Document plain(Export(midi.get(), {track.get()}));
        pugi::xml_node part = tab.Score().child("part");

        pugi::xml_node attributes = part.child("measure").child("attributes");
        EXPECT_EQ(attributes.child("staves").text().as_int(), 2);
        EXPECT_STREQ(attributes.find_child_by_attribute("clef", "number", "2").child_value("sign"), "TAB");
        const std::vector<int> tuning = TuningOf(part);
        EXPECT_EQ(tuning, (std::vector<int>{76, 71, 67, 62, 57, 52}));

        std::vector<std::string> shown = TablatureNotes(part);
        EXPECT_EQ(std::count(shown.begin(), shown.end(), "rest"), 0) << "rests are left to the note staff";
        std::vector<std::string> expected = c.shown;
        std::sort(shown.begin(), shown.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(shown, expected);
        for (pugi::xpath_node n : part.select_nodes("measure/note[staff='2'][pitch]")) {
            pugi::xml_node technical = n.node().child("notations").child("technical");
            const int string = technical.child("string").text().as_int();
            ASSERT_TRUE(string >= 1 && string <= 6);
            EXPECT_EQ(technical.child("fret").text().as_int(), KeyOf(n.node().child("pitch")) - tuning[string - 1]);
        }

        // Ties are drawn on the note staff alone; a fret held on from a
        // tie is in parentheses.
        for (pugi::xpath_node n : part.select_nodes("measure/note[staff='2'][pitch]")) {
            EXPECT_FALSE(n.node().child("notations").child("tied")) << n.node().attribute("id").value();
            const bool held = n.node().find_child_by_attribute("tie", "type", "stop");
            EXPECT_EQ(n.node().child("notehead").attribute("parentheses").as_bool(), held) << n.node().attribute("id").value();
        }
        EXPECT_EQ(part.select_nodes("measure/note[staff='1']/notations/tied").size(),
                  plain.Score().select_nodes("part/measure/note/notations/tied").size());

        // Every voice of each staff fills its measure; the note staff's
        // notes are those of the document without tablature.
        for (pugi::xml_node measure : part.children("measure")) {
            std::map<std::string, int> filled;
            for (pugi::xml_node e : measure.children()) {
                const std::string name = e.name();
                if ((name == "note" && !e.child("chord")) || name == "forward")
                    filled[std::string(e.child_value("staff")) + ":" + e.child_value("voice")] += e.child("duration").text().as_int();
            }
            for (const auto& voice : filled) EXPECT_EQ(voice.second, 4 * kMusicXmlDivisions) << voice.first;
        }
        std::vector<std::string> staffOne, alone;
        for (pugi::xpath_node n : part.select_nodes("measure/note[staff='1']")) staffOne.push_back(n.node().attribute("id").value());
        for (pugi::xpath_node n : plain.Score().select_nodes("part/measure/note")) alone.push_back(n.node().attribute("id").value());
        EXPECT_EQ(staffOne, alone);
        EXPECT_TRUE(plain.Score().select_nodes("//staff").empty());
        EXPECT_TRUE(plain.Score().select_nodes("//technical").empty()) << "strings and frets only with tablature";
        EXPECT_TRUE(tab.Score().select_nodes("//note[staff='1']/notations/technical").empty());
        EXPECT_TRUE(plain.Score().select_nodes("//staves").empty());
    }
}

// ---- Records made by hand ------------------------------------------------------

// The exporter reads whatever records it is given: every 8-bit staff step in
// every clef (a sound model keeps to a fraction of them, and wraps the far
// ones) gives a letter and an octave MusicXML knows, one whole note a
// measure, without reading outside the exporter's tables.
TEST(MusicXmlRecords, EveryStaffStepInEveryClef) {
    SMidiFile file = {};
    char name[] = "Steps";
    file.pszName = name;
    file.wFormat = 1;
    for (int clef = 1; clef <= 4; ++clef) {
        SCOPED_TRACE("clef " + std::to_string(clef));
        std::vector<SNote> notes(256);
        std::vector<SChord> chords(256);
        std::vector<SSection> sections(256);
        std::vector<SMeasure> measures(256);
        for (int i = 0; i < 256; ++i) {
            notes[i] = {};
            notes[i].cStep = static_cast<int8_t>(i - 128);
            notes[i].nAccidental = i % 6;
            notes[i].bPitch = 60;
            notes[i].bValue = 1;
            chords[i] = {};
            chords[i].bValue = 1;
            chords[i].pNotes = &notes[i];
            sections[i] = {};
            sections[i].pChords = &chords[i];
            measures[i] = {};
            measures[i].nClef = i == 0 ? clef : 0;
            measures[i].bNumerator = i == 0 ? 4 : 0;
            measures[i].bDenominator = i == 0 ? 4 : 0;
            measures[i].bVoices = 1;
            measures[i].pSections = &sections[i];
            measures[i].bSections = 1;
            measures[i].pNext = i + 1 < 256 ? &measures[i + 1] : nullptr;
        }
        STrack track = {};
        track.nMeasures = 256;
        track.bResolution = 16;
        track.pFirstMeasure = &measures[0];
        Document document(MusicXmlDocument(file, PartsOf({&track})));
        size_t pitches = 0;
        for (pugi::xpath_node pitch : document.Score().select_nodes("part/measure/note/pitch")) {
            const int octave = pitch.node().child("octave").text().as_int();
            EXPECT_TRUE(octave >= 0 && octave <= 9) << octave;
            EXPECT_NE(std::string("CDEFGAB").find(pitch.node().child_value("step")), std::string::npos);
            ++pitches;
        }
        EXPECT_EQ(pitches, 256u);
    }
}

// ---- Names ----------------------------------------------------------------------

// Names in MIDI files are bytes of no stated encoding: the characters XML
// reserves are escaped, UTF-8 is kept, anything else is read as Latin-1,
// and control characters are dropped; a reader gets the name back.
TEST(MusicXmlText, NamesFromTheFileAreXmlText) {
    const struct {
        const char* what;
        std::string name;      // bytes in the file
        std::string readBack;  // UTF-8 text a reader gets
    } cases[] = {
        {"the characters XML reserves", "Bass & Drums <live> \"take 2\"", "Bass & Drums <live> \"take 2\""},
        {"UTF-8 kept", "Caf\xC3\xA9 \xE2\x99\xAB", "Caf\xC3\xA9 \xE2\x99\xAB"},
        {"Latin-1 converted", "Caf\xE9", "Caf\xC3\xA9"},
        {"control characters dropped", "A\x01" "B\x1F" "C\x7F", "ABC\x7F"},
        {"an overlong UTF-8 form read as Latin-1", "\xC0\xAF", "\xC3\x80\xC2\xAF"},
        {"a UTF-16 surrogate in UTF-8 form read as Latin-1", "\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xC2\x80"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MidiFile file;
        file.Conductor().Name(0, c.name);
        file.AddTrack().Name(0, c.name).Note(0, kQuarter, 60);
        ScopedMidi midi(file);
        ScopedTrack track(midi.get(), 0);
        const std::string text = Export(midi.get(), {track.get()});
        Document document(text);
        EXPECT_EQ(document.Score().child("work").child_value("work-title"), c.readBack);
        EXPECT_EQ(document.Score().child("part-list").child("score-part").child_value("part-name"), c.readBack);
        EXPECT_EQ(text.find("<live>"), std::string::npos);
    }
}

// A name is shown on one line, without a karaoke tag, and not at all when it
// names nothing; the score, the tool's reports and the page show it so.
TEST(ShownName, NamesThatNameSomething) {
    const struct {
        const char* name;
        const char* standIn;
        std::string shown;
    } cases[] = {
        {"  Prelude \t in  C ", "Untitled midi", "Prelude in C"},
        {" -  - ", "Untitled midi", ""},
        {"@TMary Was A Little Lamb", "Untitled midi", "Mary Was A Little Lamb"},
        {"@T Karaoke title", "Untitled midi", "Karaoke title"},
        {"@T", "Untitled midi", ""},
        {"Untitled track", "Untitled track", ""},
        {"Untitled track", "Untitled midi", "Untitled track"},
        {"Caf\xE9", "Untitled track", "Caf\xC3\xA9"},
        {nullptr, "Untitled track", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(ShownName(c.name, c.standIn), c.shown) << (c.name ? c.name : "null");

    MidiFile file;
    file.Conductor().Name(0, "@TSong  of  songs");
    file.AddTrack().Name(0, " - ").Program(0, 73).Note(0, kQuarter, 60);
    ScopedMidi midi(file);
    ScopedTrack track(midi.get(), 0);
    Document document(Export(midi.get(), {track.get()}));
    EXPECT_EQ(std::string(document.Score().child("work").child_value("work-title")), "Song of songs");
    EXPECT_EQ(std::string(document.Score().child("part-list").child("score-part").child_value("part-name")), "Flute");
}

// ---- Writing to a stream ----------------------------------------------------------

// A stream buffer that keeps what it is given, and how: the size of each
// write, and a failure once `limit` bytes have come.
class RecordingBuffer : public std::streambuf {
public:
    explicit RecordingBuffer(size_t limit = std::string::npos) : limit_(limit) {}
    std::string text;
    std::vector<size_t> writes;

protected:
    std::streamsize xsputn(const char* data, std::streamsize size) override {
        if (text.size() + static_cast<size_t>(size) > limit_) return 0;
        text.append(data, static_cast<size_t>(size));
        writes.push_back(static_cast<size_t>(size));
        return size;
    }
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        char ch = traits_type::to_char_type(c);
        return xsputn(&ch, 1) == 1 ? c : traits_type::eof();
    }

private:
    size_t limit_;
};

// A piece of a few hundred measures in two parts, several voices each.
MidiFile LongPiece() {
    MidiFile file;
    file.AddTrack();
    file.AddTrack();
    for (uint32_t bar = 0; bar < 300; ++bar) {
        const uint32_t at = bar * kWhole;
        const uint8_t step = static_cast<uint8_t>(bar % 7);
        file.Track(1).Note(at, kEighth, 72 + step).Note(at + kEighth, kEighth, 74).Note(at + kQuarter, kHalf, 76).Note(at, kHalf, 67);
        file.Track(2).Chord(at, kHalf, {48, 52, 55}).Note(at + kHalf, kQuarter, 43 + step % 5);
    }
    return file;
}

// The stream gets the document in blocks as it is made, the same bytes as
// the whole string; a stream that fails stops the export with an error,
// and a score without notes is refused before anything is written.
TEST(MusicXmlStream, WrittenInBlocksAsTheWholeDocument) {
    ScopedMidi midi(LongPiece());
    ScopedTrack right(midi.get(), 0), left(midi.get(), 1);
    for (bool tablature : {false, true}) {
        SCOPED_TRACE(tablature ? "with tablature" : "notes only");
        MusicXmlOptions options;
        options.tablature = tablature;
        const std::vector<MusicXmlPart> parts = PartsOf({right.get(), left.get()});
        const std::string whole = MusicXmlDocument(*midi.get(), parts, options);
        RecordingBuffer buffer;
        std::ostream out(&buffer);
        WriteMusicXml(out, *midi.get(), parts, options);
        EXPECT_EQ(buffer.text, whole);
        EXPECT_GT(buffer.writes.size(), 4u) << "the document comes in blocks while it is made";
        for (size_t size : buffer.writes) EXPECT_LE(size, 64u * 1024u);
        Document document(whole);
        EXPECT_EQ(document.Score().select_nodes("part/measure").size(), 2 * static_cast<size_t>(right->nMeasures));

        RecordingBuffer failing(whole.size() / 2);
        std::ostream broken(&failing);
        EXPECT_THROW(WriteMusicXml(broken, *midi.get(), parts, options), std::runtime_error);
        EXPECT_LT(failing.text.size(), whole.size());
    }

    MidiFile silent;
    silent.AddTrack().Name(0, "Silent").EndAt(kWhole);
    ScopedMidi empty(silent);
    ScopedTrack nothing(empty.get(), 0);
    RecordingBuffer buffer;
    std::ostream out(&buffer);
    for (const std::vector<MusicXmlPart>& parts : {std::vector<MusicXmlPart>{}, PartsOf({nothing.get()})}) {
        EXPECT_THROW(WriteMusicXml(out, *empty.get(), parts), std::runtime_error);
        EXPECT_THROW(MusicXmlDocument(*empty.get(), parts), std::runtime_error);
    }
    EXPECT_EQ(buffer.text, "");
}

// ---- Excerpts -------------------------------------------------------------------

// A piece whose meter, key, tempo and clef change along the way, with a
// second part that ends early: what is in force at a measure is then not
// what the first measure shows.
MidiFile ChangingPiece() {
    MidiFile file;
    file.Conductor()
        .TimeSignature(0, 4, 2)
        .KeySignature(0, 1)
        .Tempo(0, 500000)
        .TimeSignature(2 * kWhole, 3, 2)
        .KeySignature(2 * kWhole, -2)
        .Tempo(2 * kWhole, 400000);
    MidiTrack& melody = file.AddTrack();
    uint32_t at = 0;
    for (int bar = 0; bar < 10; ++bar) {
        const uint32_t length = bar < 2 ? kWhole : 3 * kQuarter;
        // From the fifth measure on, low notes: the bass clef.
        const uint8_t base = bar < 4 ? 67 : 40;
        melody.Note(at, kQuarter, base).Chord(at + kQuarter, kHalf, {uint8_t(base + 4), uint8_t(base + 7)});
        at += length;
    }
    file.AddTrack().Note(0, kWhole, 48).Note(kWhole, kHalf, 50);
    return file;
}

// What a measure of a document holds in force: the last key, meter, clef
// (of staff 1) and tempo written up to it, as "fifths/beats/beat-type/sign/tempo".
std::string InForce(pugi::xml_node part, unsigned through) {
    std::string fifths = "-", beats = "-", type = "-", sign = "-", tempo = "-";
    unsigned count = 0;
    for (pugi::xml_node measure : part.children("measure")) {
        if (++count > through) break;
        for (pugi::xml_node attributes : measure.children("attributes")) {
            if (attributes.child("key")) fifths = attributes.child("key").child_value("fifths");
            if (attributes.child("time")) {
                beats = attributes.child("time").child_value("beats");
                type = attributes.child("time").child_value("beat-type");
            }
            for (pugi::xml_node clef : attributes.children("clef"))
                if (std::string(clef.attribute("number").value()) != "2") sign = clef.child_value("sign");
        }
        for (pugi::xpath_node sound : measure.select_nodes(".//sound[@tempo]"))
            tempo = sound.node().attribute("tempo").value();
    }
    return fifths + "/" + beats + "/" + type + "/" + sign + "/" + tempo;
}

// A measure's notes, forwards and backups as text, attributes and tempo left out.
std::string MusicOf(pugi::xml_node measure) {
    std::ostringstream text;
    for (pugi::xml_node child : measure.children())
        if (std::string(child.name()) != "attributes" && std::string(child.name()) != "direction" &&
            std::string(child.name()) != "sound")
            child.print(text, "", pugi::format_raw);
    return text.str();
}

// An excerpt holds the same measures as the whole document, with the same
// numbers, ids and notes; its first measure shows the key, meter, clef and
// tempo in force there; a last measure past the end means the end, and a
// range holding no measure is refused before anything is written.
TEST(MusicXmlExcerpt, TheMeasuresOfTheWholeWithWhatIsInForce) {
    ScopedMidi midi(ChangingPiece());
    ScopedTrack melody(midi.get(), 0), bass(midi.get(), 1);
    const unsigned count = static_cast<unsigned>(melody->nMeasures);
    ASSERT_GE(count, 10u);
    struct Range {
        unsigned first, last;        // asked for
        unsigned wantFirst, wantLast; // written (0, 0: refused)
    };
    const Range kRanges[] = {
        {0, 0, 1, count},          {1, 0, 1, count},      {2, 3, 2, 3},   {3, 3, 3, 3},
        {4, 0, 4, count},          {6, 8, 6, 8},          {7, 99, 7, count}, {count, count, count, count},
        {count + 1, 0, 0, 0},      {99, 100, 0, 0},       {5, 4, 0, 0},
    };
    for (bool tablature : {false, true}) {
        MusicXmlOptions whole;
        whole.tablature = tablature;
        Document all(Export(midi.get(), {melody.get(), bass.get()}, whole));
        for (const Range& range : kRanges) {
            SCOPED_TRACE("measures " + std::to_string(range.first) + " to " + std::to_string(range.last) +
                         (tablature ? ", with tablature" : ""));
            MusicXmlOptions options = whole;
            options.firstMeasure = range.first;
            options.lastMeasure = range.last;
            if (range.wantFirst == 0) {
                RecordingBuffer buffer;
                std::ostream out(&buffer);
                EXPECT_THROW(WriteMusicXml(out, *midi.get(), PartsOf({melody.get(), bass.get()}), options),
                             std::runtime_error);
                EXPECT_EQ(buffer.text, "");
                continue;
            }
            Document excerpt(Export(midi.get(), {melody.get(), bass.get()}, options));
            pugi::xml_node wholePart = all.Score().child("part");
            for (pugi::xml_node part : excerpt.Score().children("part")) {
                std::vector<pugi::xml_node> wholeMeasures;
                for (pugi::xml_node m : wholePart.children("measure")) wholeMeasures.push_back(m);
                std::vector<pugi::xml_node> measures;
                for (pugi::xml_node m : part.children("measure")) measures.push_back(m);
                ASSERT_EQ(measures.size(), range.wantLast - range.wantFirst + 1);
                for (size_t i = 0; i < measures.size(); ++i) {
                    const pugi::xml_node same = wholeMeasures[range.wantFirst - 1 + i];
                    EXPECT_STREQ(measures[i].attribute("number").value(), same.attribute("number").value());
                    EXPECT_STREQ(measures[i].attribute("id").value(), same.attribute("id").value());
                    EXPECT_EQ(MusicOf(measures[i]), MusicOf(same)) << same.attribute("id").value();
                }
                const std::string inForce = InForce(wholePart, range.wantFirst);
                // The top part carries the tempo; the other has none in either document.
                EXPECT_EQ(InForce(part, 1), inForce) << part.attribute("id").value();
                EXPECT_EQ(measures[0].child("attributes").child_value("divisions"), std::to_string(kMusicXmlDivisions));
                if (tablature) {
                    EXPECT_STREQ(measures[0].child("attributes").child_value("staves"), "2");
                }
                wholePart = wholePart.next_sibling("part");
            }
        }
        // The changes are in force past measure 4: the clef, key, meter and
        // tempo the excerpts from there start with differ from measure 1's.
        EXPECT_NE(InForce(all.Score().child("part"), 6), InForce(all.Score().child("part"), 1));
        EXPECT_EQ(InForce(all.Score().child("part"), 6).substr(0, 10), "-2/3/4/F/1");
    }
}

// A guitar part of the readable notation: its note staff in the treble clef
// with an 8 below, and the TAB staff tuned as the guitar sounds, E2 A2 D3 G3
// B3 E4, so that every fret is the sounding key less its open string's.
TEST(MusicXmlTablature, ReadableGuitarTunedAsItSounds) {
    MidiFile file;
    file.AddTrack().Program(0, 24).Chord(0, kWhole, {40, 47, 52, 56, 59, 64}).Note(kWhole, kWhole, 45);
    ScopedMidi midi(file);
    const SNotationOptions readable = VSX_ReadableOptions();
    STrack* track = VSX_ParseTrackWithOptions(midi.get(), 0, 16, 0, &readable);
    MusicXmlOptions options;
    options.tablature = true;
    Document tab(Export(midi.get(), {track}, options));
    pugi::xml_node part = tab.Score().child("part");
    EXPECT_EQ(TuningOf(part), (std::vector<int>{64, 59, 55, 50, 45, 40}));
    pugi::xml_node clef = part.child("measure").child("attributes").find_child_by_attribute("clef", "number", "1");
    EXPECT_STREQ(clef.child_value("sign"), "G");
    EXPECT_EQ(clef.child("clef-octave-change").text().as_int(), -1);
    std::vector<std::string> shown = TablatureNotes(part);
    std::sort(shown.begin(), shown.end());
    EXPECT_EQ(shown, (std::vector<std::string>{"40 6/0", "45 5/0", "47 5/2", "52 4/2", "56 3/1", "59 2/0", "64 1/0"}));
    VSX_ReleaseTrack(track);
}

}  // namespace

#else

TEST(MusicXmlDocument, NotBuilt) { GTEST_SKIP() << "pugixml, which reads the documents back, is not found for this build"; }

#endif  // VSX_HAVE_PUGIXML
