// One parse of every track of a file, for a profiler:
//
//   vastrel_profile_parse [--resolution R] [--small | --measures M] [--repeat N] [--keep] [--readable] [--census] [--digest] [--write PATH] [FILE]
//
// Without FILE it parses the generated full piano piece (--small: the piece
// 27 times smaller; --measures: its first M measures). --repeat parses every track N times, so that a sampling
// profiler sees the parse rather than the generator; --keep keeps every
// track until all are parsed, as a viewer does, instead of releasing each at
// once. --readable parses in the readable notation. --census tells where the track heap's bytes go. --digest prints one
// checksum of every field of every parsed track (and of the file's bytes
// after the parses), so that a faster library can be shown to build the very
// same model. --write saves the
// generated piece and stops. Under callgrind, collect only the parses:
//   valgrind --tool=callgrind '--toggle-collect=*VSX_ParseTrack*' vastrel_profile_parse
// Under perf:
//   perf record -g vastrel_profile_parse --repeat 20 && perf report --no-children
#include "../core/staged_parse.h"
#include "bench_inputs.h"
#include "generate_piece.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// The portable heap hands out blocks in multiples of 16 bytes.
uint64_t Block(uint64_t bytes) { return (bytes + 15) / 16 * 16; }

struct CensusLine {
    const char* what;
    uint64_t count = 0;
    uint64_t bytes = 0;
};

// Counts the records of every track as stage O leaves them (sections and
// voices still at full size, placement lists not yet released) and the heap
// bytes they take, against the bytes a full parse leaves.
void PrintCensus(SMidiFile* file, unsigned char resolution, const ParseTotals& totals) {
    CensusLine measures{"measures"}, sections{"sections (one array a measure)"},
        chords{"chords (one array a voice and measure)"}, placed{"placed notes (released in Q)"},
        voiced{"notes in chords"}, glyphs{"key-signature glyphs"};
    for (unsigned short t = 0; t < file->wTracks; ++t) {
        STrack* track = ParseTrackThrough(file, t, resolution, 0, 'O');
        for (SMeasure* m = track->pFirstMeasure; m; m = m->pNext) {
            ++measures.count;
            measures.bytes += Block(sizeof(SMeasure));
            sections.count += m->bSections;
            sections.bytes += Block(sizeof(SSection) * m->bSections);
            chords.count += static_cast<uint64_t>(m->bVoices) * m->bSections;
            chords.bytes += m->bVoices * Block(sizeof(SChord) * m->bSections);
            for (SKeyAccidental* g = m->pKeyAccidentals; g; g = g->pNext) {
                ++glyphs.count;
                glyphs.bytes += Block(sizeof(SKeyAccidental));
            }
            for (uint32_t k = 0; k < m->bSections; ++k) {
                for (SNote* n = m->pSections[k].pRawNotes; n; n = n->pNext) {
                    ++placed.count;
                    placed.bytes += Block(sizeof(SNote));
                }
                for (SChord* c = m->pSections[k].pChords; c; c = c->pNext)
                    for (SNote* n = c->pNotes; n; n = n->pNext) {
                        ++voiced.count;
                        voiced.bytes += Block(sizeof(SNote));
                    }
            }
        }
        VSX_ReleaseTrack(track);
    }
    printf("\nWhere the track heap goes at R=%u (%llu notes, %llu bytes):\n", resolution,
           static_cast<unsigned long long>(totals.notes), static_cast<unsigned long long>(totals.trackBytes));
    uint64_t counted = 0;
    for (const CensusLine* line : {&measures, &sections, &chords, &placed, &voiced, &glyphs}) {
        printf("  %-42s %10llu records %12llu bytes %7.1f bytes/note %5.1f%%\n", line->what,
               static_cast<unsigned long long>(line->count), static_cast<unsigned long long>(line->bytes),
               static_cast<double>(line->bytes) / static_cast<double>(totals.notes),
               100.0 * static_cast<double>(line->bytes) / static_cast<double>(totals.trackBytes));
        counted += line->bytes;
    }
    uint64_t rest = totals.trackBytes > counted ? totals.trackBytes - counted : 0;
    printf("  %-42s %10s         %12llu bytes %7.1f bytes/note %5.1f%%\n", "the rest (names, working buffers, dropped)", "",
           static_cast<unsigned long long>(rest), static_cast<double>(rest) / static_cast<double>(totals.notes),
           100.0 * static_cast<double>(rest) / static_cast<double>(totals.trackBytes));
}

// FNV-1a over the fields of the model, in the order the caller reads them.
class Digest {
public:
    template <typename T>
    void Add(T value) {
        const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&value);
        for (size_t i = 0; i < sizeof value; ++i) hash_ = (hash_ ^ bytes[i]) * 1099511628211ull;
    }
    void AddText(const char* text) {
        if (!text) return Add<int>(-1);
        for (; *text; ++text) Add(*text);
        Add('\0');
    }
    uint64_t Value() const { return hash_; }

private:
    uint64_t hash_ = 14695981039346656037ull;
};

void AddTrack(Digest& d, const STrack* track) {
    d.AddText(track->pszName);
    d.AddText(track->pszInstrument);
    d.Add(track->nMeasures);
    d.Add(track->nSections);
    d.Add(track->nNotes);
    d.Add(track->bProgram);
    d.Add(track->bResolution);
    d.Add(track->dwEndTime);
    for (const SMeasure* m = track->pFirstMeasure; m; m = m->pNext) {
        d.Add(m->nClef);
        d.Add(m->bNumerator);
        d.Add(m->bDenominator);
        for (const SKeyAccidental* g = m->pKeyAccidentals; g; g = g->pNext) {
            d.Add(g->nKind);
            d.Add(g->bPosition);
        }
        d.Add(m->wTempo);
        d.Add(m->bVoices);
        d.Add(m->dwTime);
        d.Add(m->bSections);
        d.Add(m->cKey);
        d.Add(m->bTiedOut);
        for (const SSection* s = m->pSections; s; s = s->pNext) {
            d.Add(s->bHeadsLeft);
            d.Add(s->dwTime);
            d.Add(s->pRawNotes != nullptr);
            for (const SChord* c = s->pChords; c; c = c->pNext) {
                d.Add(c->bVoice);
                d.Add(c->bValueLog2);
                d.Add(c->bStemUp);
                d.Add(c->bBeamPrev);
                d.Add(c->bBeamNext);
                d.Add(c->bRestStep);
                d.Add(c->bDotted);
                d.Add(c->bValue);
                d.Add(c->dPosition);
                d.Add(c->bSharedRest);
                const SNote* previous = nullptr;
                for (const SNote* n = c->pNotes; n; previous = n, n = n->pNext) {
                    d.Add(n->cStep);
                    d.Add(n->nAccidental);
                    d.Add(n->bDotted);
                    d.Add(n->bTieIn);
                    d.Add(n->bTieOut);
                    d.Add(n->bHeadFlipped);
                    d.Add(n->bString);
                    d.Add(n->bFret);
                    d.Add(n->bPitch);
                    d.Add(n->bValue);
                    d.Add(n->pPrev == previous);
                }
            }
        }
    }
}

// Parses every track afresh, digests it (with its lower staff, where it has
// one), and digests the file's bytes last (parsing the last track rewrites
// its end-of-track event).
void PrintDigest(SMidiFile* file, unsigned char resolution, bool readable) {
    Digest all;
    const SNotationOptions preset = VSX_ReadableOptions();
    const unsigned short count = readable ? VSX_CountTracks(file, &preset) : file->wTracks;
    for (unsigned short t = 0; t < count; ++t) {
        Digest one;
        try {
            STrack* track = readable ? VSX_ParseTrackWithOptions(file, t, resolution, 0, &preset)
                                     : VSX_ParseTrack(file, t, resolution, 0);
            for (const STrack* staff = track; staff; staff = staff->pNextStaff) AddTrack(one, staff);
            VSX_ReleaseTrack(track);
        } catch (const CVastrelException& e) {
            one.Add(e.nMessageId);
        }
        all.Add(one.Value());
    }
    for (uint32_t i = 0; i < file->nFileSize; ++i) all.Add(file->pBuffer[i]);
    printf("model digest at R=%u: %016llx\n", resolution, static_cast<unsigned long long>(all.Value()));
}

}  // namespace

int main(int argc, char** argv) {
    unsigned char resolution = 16;
    bool small = false;
    int repeat = 1;
    int measures = 0;
    bool keep = false;
    bool readable = false;
    bool census = false;
    bool digest = false;
    std::string input, output;
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--resolution") && i + 1 < argc) resolution = static_cast<unsigned char>(atoi(argv[++i]));
        else if (!strcmp(argv[i], "--small")) small = true;
        else if (!strcmp(argv[i], "--repeat") && i + 1 < argc) repeat = atoi(argv[++i]);
        else if (!strcmp(argv[i], "--measures") && i + 1 < argc) measures = atoi(argv[++i]);
        else if (!strcmp(argv[i], "--keep")) keep = true;
        else if (!strcmp(argv[i], "--readable")) readable = true;
        else if (!strcmp(argv[i], "--census")) census = true;
        else if (!strcmp(argv[i], "--digest")) digest = true;
        else if (!strcmp(argv[i], "--write") && i + 1 < argc) output = argv[++i];
        else if (argv[i][0] == '-') {
            fprintf(stderr, "usage: %s [--resolution R] [--small | --measures M] [--repeat N] [--keep] [--readable] [--census] [--digest] [--write PATH] [FILE]\n", argv[0]);
            return 2;
        } else input = argv[i];
    }

    std::unique_ptr<BenchFile> generated;
    if (input.empty()) {
        PieceShape shape = small ? SmallPiano() : FullPiano();
        if (measures > 0) shape.measures = measures;
        GeneratedPiece piece = GeneratePiano(shape);
        if (!output.empty()) {
            FILE* file = fopen(output.c_str(), "wb");
            if (!file || fwrite(piece.bytes.data(), 1, piece.bytes.size(), file) != piece.bytes.size()) {
                fprintf(stderr, "cannot write %s\n", output.c_str());
                return 1;
            }
            fclose(file);
            printf("%s: %llu notes, %zu bytes\n", output.c_str(), static_cast<unsigned long long>(piece.notes),
                   piece.bytes.size());
            return 0;
        }
        generated.reset(new BenchFile(piece.bytes));
        input = generated->Path();
    }

    try {
        LoadedMidi midi(input);
        ParseTotals totals;
        clock_t start = clock();
        std::vector<STrack*> tracks;
        for (int r = 0; r < repeat; ++r) {
            const SNotationOptions preset = VSX_ReadableOptions();
            totals = ParseEveryTrack(midi.get(), resolution, keep ? &tracks : nullptr, readable ? &preset : nullptr);
            ReleaseTracks(tracks);
        }
        double seconds = static_cast<double>(clock() - start) / CLOCKS_PER_SEC / repeat;
        printf("%u tracks at R=%u: %llu notes, %llu measures, %.1f track heap bytes per note, %u refused; "
               "%.2f ms CPU a parse of every track, %.0f notes/s\n",
               midi.get()->wTracks, resolution, static_cast<unsigned long long>(totals.notes),
               static_cast<unsigned long long>(totals.measures),
               totals.notes ? static_cast<double>(totals.trackBytes) / static_cast<double>(totals.notes) : 0.0,
               totals.failed, seconds * 1e3, seconds > 0 ? static_cast<double>(totals.notes) / seconds : 0.0);
        if (census) PrintCensus(midi.get(), resolution, totals);
        if (digest) PrintDigest(midi.get(), resolution, readable);
    } catch (const CVastrelException& e) {
        fprintf(stderr, "%s (%d)\n", e.szMessage, e.nMessageId);
        return 1;
    }
    return 0;
}
