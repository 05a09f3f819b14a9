// Shared test support: temporary files, scoped loads and parses, model walks.
#include "test_support.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

#include "../../core/staged_parse.h"

TempFile::TempFile(const Bytes& bytes) {
#ifdef _WIN32
    // Windows has no /tmp, and its files must be written without newline translation.
    char folder[MAX_PATH + 1] = ".\\";
    GetTempPathA(sizeof folder, folder);
    std::string pattern = std::string(folder) + "vastrel-test-XXXXXX";
    int fd = mkstemp(&pattern[0]);
    if (fd >= 0) _setmode(fd, _O_BINARY);
#else
    char pattern[] = "/tmp/vastrel-test-XXXXXX";
    int fd = mkstemp(pattern);
#endif
    if (fd < 0) throw std::runtime_error("cannot create a temporary file");
    path_ = pattern;
    size_t written = bytes.empty() ? 0 : static_cast<size_t>(write(fd, bytes.data(), bytes.size()));
    close(fd);
    if (written != bytes.size()) throw std::runtime_error("cannot write a temporary file");
}

TempFile::~TempFile() { unlink(path_.c_str()); }

ScopedMidi::ScopedMidi(const Bytes& bytes) {
    TempFile temp(bytes);
    file_ = VSX_LoadMidiFile(temp.Path());
}

ScopedMidi::~ScopedMidi() { VSX_ReleaseFile(file_); }

ScopedTrack::ScopedTrack(SMidiFile* file, unsigned short track, unsigned char resolution, char transpose)
    : track_(VSX_ParseTrack(file, track, resolution, transpose)) {}

ScopedTrack::ScopedTrack(SMidiFile* file, unsigned short track, unsigned char resolution, char transpose,
                         char lastStage)
    : track_(ParseTrackThrough(file, track, resolution, transpose, lastStage)) {}

ScopedTrack::~ScopedTrack() { VSX_ReleaseTrack(track_); }

int LoadErrorOf(const Bytes& bytes) {
    TempFile temp(bytes);
    return ErrorIdOf([&] { VSX_ReleaseFile(VSX_LoadMidiFile(temp.Path())); });
}

// Every record of a list linked through pNext, from the first one on.
template <typename T>
static std::vector<T*> ListFrom(T* first) {
    std::vector<T*> records;
    for (T* r = first; r; r = r->pNext) records.push_back(r);
    return records;
}

std::vector<SMeasure*> Measures(const STrack* track) { return ListFrom(track ? track->pFirstMeasure : nullptr); }

std::vector<SSection*> LinkedSections(const SMeasure* measure) { return ListFrom(measure->pSections); }

SSection* SectionAt(const SMeasure* measure, size_t k) { return &measure->pSections[k]; }

std::vector<SChord*> Chords(const SSection* section) { return ListFrom(section->pChords); }

SChord* ChordAt(const SMeasure* measure, size_t k, size_t voice) {
    SChord* c = SectionAt(measure, k)->pChords;
    while (c && voice--) c = c->pNext;
    return c;
}

std::vector<SNote*> Notes(const SChord* chord) { return ListFrom(chord ? chord->pNotes : nullptr); }

std::vector<SNote*> RawNotes(const SSection* section) { return ListFrom(section->pRawNotes); }

std::vector<int> Pitches(const std::vector<SNote*>& notes) {
    std::vector<int> pitches;
    for (const SNote* n : notes) pitches.push_back(n->bPitch);
    return pitches;
}

std::string CorpusDirectory() {
#ifdef VSX_CORPUS_DIR
    struct stat status;
    if (stat(VSX_CORPUS_DIR, &status) == 0 && S_ISDIR(status.st_mode)) return VSX_CORPUS_DIR;
#endif
    return "";
}
