// Shared test support: temporary files, scoped loads and parses, model walks.
#include "test_support.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>
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

ScopedOptionsTrack::ScopedOptionsTrack(SMidiFile* file, unsigned short track)
    : track_(VSX_ParseTrackWithOptions(file, track, 16, 0, nullptr)) {}

ScopedOptionsTrack::ScopedOptionsTrack(SMidiFile* file, unsigned short track, const SNotationOptions& options,
                                       char transpose)
    : track_(VSX_ParseTrackWithOptions(file, track, 16, transpose, &options)) {}

ScopedOptionsTrack::~ScopedOptionsTrack() { VSX_ReleaseTrack(track_); }

SNotationOptions ClassicOptions() {
    SNotationOptions options = {};
    options.cbSize = sizeof options;
    return options;
}

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

namespace {

void DescribeNote(std::ostringstream& out, const SNote* n) {
    out << " (" << int(n->cStep) << ' ' << n->nAccidental << ' ' << int(n->bDotted) << int(n->bTieIn)
        << int(n->bTieOut) << int(n->bHeadFlipped) << ' ' << int(n->bString) << '/' << int(n->bFret) << ' '
        << int(n->bPitch) << ':' << int(n->bValue) << ')';
}

// A height to the last bit.
uint64_t BitsOf(double d) {
    uint64_t bits;
    memcpy(&bits, &d, sizeof bits);
    return bits;
}

}  // namespace

std::string DescribeModel(const STrack* track) {
    std::ostringstream out;
    out << (track->pszName ? track->pszName : "-") << '|' << (track->pszInstrument ? track->pszInstrument : "-")
        << ' ' << track->nMeasures << ' ' << track->nSections << ' ' << track->nNotes << ' ' << int(track->bProgram)
        << ' ' << int(track->bResolution) << ' ' << track->dwEndTime << '\n';
    for (const SMeasure* m = track->pFirstMeasure; m; m = m->pNext) {
        out << "measure " << m->dwTime << ": " << m->nClef << ' ' << int(m->bNumerator) << '/' << int(m->bDenominator)
            << ' ' << m->wTempo << ' ' << int(m->bVoices) << ' ' << int(m->bSections) << ' ' << int(m->cKey) << ' '
            << int(m->bTiedOut) << " glyphs";
        for (const SKeyAccidental* g = m->pKeyAccidentals; g; g = g->pNext)
            out << ' ' << g->nKind << '@' << int(g->bPosition);
        out << '\n';
        for (const SSection* s = m->pSections; s; s = s->pNext) {
            out << "  section " << (s - m->pSections) << ' ' << s->dwTime << ' ' << int(s->bHeadsLeft) << " placed";
            for (const SNote* n = s->pRawNotes; n; n = n->pNext) DescribeNote(out, n);
            out << '\n';
            for (const SChord* c = s->pChords; c; c = c->pNext) {
                out << "    chord " << int(c->bVoice) << ' ' << int(c->bValueLog2) << ' ' << int(c->bStemUp)
                    << int(c->bBeamPrev) << int(c->bBeamNext) << ' ' << int(c->bRestStep) << ' ' << int(c->bDotted)
                    << ' ' << int(c->bValue) << ' ' << BitsOf(c->dPosition) << ' ' << int(c->bMark) << int(c->bSharedRest);
                const SNote* previous = nullptr;
                for (const SNote* n = c->pNotes; n; previous = n, n = n->pNext) {
                    DescribeNote(out, n);
                    out << (n->pPrev == previous ? "" : "!");
                }
                out << '\n';
            }
        }
    }
    return out.str();
}

MidiFile FileOf(const std::vector<NoteAt>& notes, uint8_t numerator, uint8_t exponent) {
    MidiFile file;
    file.Conductor().TimeSignature(0, numerator, exponent);
    MidiTrack& track = file.AddTrack();
    for (const NoteAt& n : notes) track.Note(n.section * kSection, n.sections * kSection, n.key);
    track.EndAt(numerator * kWhole / (1u << exponent));
    return file;
}

std::string CorpusDirectory() {
#ifdef VSX_CORPUS_DIR
    struct stat status;
    if (stat(VSX_CORPUS_DIR, &status) == 0 && S_ISDIR(status.st_mode)) return VSX_CORPUS_DIR;
#endif
    return "";
}
