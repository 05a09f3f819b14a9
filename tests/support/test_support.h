// What the suites share: files on disk from bytes, loaded files and parsed
// tracks that release themselves, the expectation of a library error, and
// small walks over the score model.
#ifndef VASTREL_TESTS_SUPPORT_H
#define VASTREL_TESTS_SUPPORT_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../../interface/vastrel.h"
#include "midi_writer.h"

// A temporary file that is removed again.
class TempFile {
public:
    explicit TempFile(const Bytes& bytes);
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const char* Path() const { return path_.c_str(); }

private:
    std::string path_;
};

// A file loaded through VSX_LoadMidiFile, released at the end of the scope.
class ScopedMidi {
public:
    explicit ScopedMidi(const Bytes& bytes);
    explicit ScopedMidi(const MidiFile& file) : ScopedMidi(file.Build()) {}
    ~ScopedMidi();
    ScopedMidi(const ScopedMidi&) = delete;
    ScopedMidi& operator=(const ScopedMidi&) = delete;
    SMidiFile* get() const { return file_; }
    SMidiFile* operator->() const { return file_; }

private:
    SMidiFile* file_ = nullptr;
};

// A parsed track, released at the end of the scope.
class ScopedTrack {
public:
    ScopedTrack(SMidiFile* file, unsigned short track, unsigned char resolution = 16, char transpose = 0);
    // Stops after the given builder stage ('A' to 'S'), for the stage tests.
    ScopedTrack(SMidiFile* file, unsigned short track, unsigned char resolution, char transpose, char lastStage);
    ~ScopedTrack();
    ScopedTrack(const ScopedTrack&) = delete;
    ScopedTrack& operator=(const ScopedTrack&) = delete;
    STrack* get() const { return track_; }
    STrack* operator->() const { return track_; }

private:
    STrack* track_ = nullptr;
};

// A track parsed through the options call, released at the end of the
// scope: in the readable notation (the preset) unless options are given.
class ScopedOptionsTrack {
public:
    explicit ScopedOptionsTrack(SMidiFile* file, unsigned short track = 0);
    ScopedOptionsTrack(SMidiFile* file, unsigned short track, const SNotationOptions& options, char transpose = 0);
    ~ScopedOptionsTrack();
    ScopedOptionsTrack(const ScopedOptionsTrack&) = delete;
    ScopedOptionsTrack& operator=(const ScopedOptionsTrack&) = delete;
    STrack* get() const { return track_; }
    STrack* operator->() const { return track_; }

private:
    STrack* track_ = nullptr;
};

// The options record with every rule off: the classic model through the
// options call.
SNotationOptions ClassicOptions();

// The message id a call throws, or 0 when it throws nothing.
template <typename Call>
int ErrorIdOf(Call call) {
    try {
        call();
    } catch (const CVastrelException& e) {
        return e.nMessageId;
    }
    return 0;
}

// Loads bytes and returns the message id of the failure, or 0 (the file released).
int LoadErrorOf(const Bytes& bytes);

// ---- Walks over the model ----------------------------------------------------------

std::vector<SMeasure*> Measures(const STrack* track);
// The sections linked from the measure, in order.
std::vector<SSection*> LinkedSections(const SMeasure* measure);
// Section index k of the measure's section array (before compaction: its k-th section).
SSection* SectionAt(const SMeasure* measure, size_t k);
// The chords of one section, in voice order.
std::vector<SChord*> Chords(const SSection* section);
// The chord of voice v at section index k of the array.
SChord* ChordAt(const SMeasure* measure, size_t k, size_t voice);
std::vector<SNote*> Notes(const SChord* chord);
std::vector<SNote*> RawNotes(const SSection* section);
std::vector<int> Pitches(const std::vector<SNote*>& notes);

// Every field of the track and of every measure, linked section, chord,
// note (placed or in a chord) and key glyph, as text: two models are the same
// when their descriptions are. Links are told by the order records come in
// (and a note's back link by whether it names the note before it).
std::string DescribeModel(const STrack* track);

// Ticks of common values at the default division of 96.
constexpr uint32_t kQuarter = 96;
constexpr uint32_t kWhole = 4 * kQuarter;
constexpr uint32_t kHalf = 2 * kQuarter;
constexpr uint32_t kEighth = kQuarter / 2;
constexpr uint32_t kSixteenth = kQuarter / 4;

// ---- Small pieces for the notation stages ----------------------------------------------

// At resolution 16 one section is a sixteenth.
constexpr uint32_t kSection = kSixteenth;

// Keys and their treble staff steps (0 is C4).
enum Key : uint8_t {
    G3 = 55,   // -3
    C4 = 60,   // 0
    Cs4 = 61,  // 0, sharp
    D4 = 62,   // 1
    E4 = 64,   // 2
    F4 = 65,   // 3
    G4 = 67,   // 4
    A4 = 69,   // 5
    B4 = 71,   // 6
    C5 = 72,   // 7
    D5 = 74,   // 8
    E5 = 76,   // 9
    F5 = 77,   // 10
    G5 = 79,   // 11
    A5 = 81,   // 12
    B5 = 83,   // 13
    C6 = 84,   // 14
    Cs6 = 85,  // 14, sharp
};

// One note: start section, length in sections, key.
struct NoteAt {
    uint32_t section;
    uint32_t sections;
    uint8_t key;
};

// One measure of numerator/2^exponent holding the given notes.
MidiFile FileOf(const std::vector<NoteAt>& notes, uint8_t numerator = 4, uint8_t exponent = 2);

// Where the shared corpus of real files lies ("" when absent).
std::string CorpusDirectory();

#endif
