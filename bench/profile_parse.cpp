// One parse of every track of a file, for a profiler:
//
//   vastrel_profile_parse [--resolution R] [--small | --measures M] [--repeat N] [--keep] [--write PATH] [FILE]
//
// Without FILE it parses the generated full piano piece (--small: the piece
// 27 times smaller; --measures: its first M measures). --repeat parses every track N times, so that a sampling
// profiler sees the parse rather than the generator; --keep keeps every
// track until all are parsed, as a viewer does, instead of releasing each at
// once. --write saves the
// generated piece and stops. Under callgrind, collect only the parses:
//   valgrind --tool=callgrind '--toggle-collect=*VSX_ParseTrack*' vastrel_profile_parse
// Under perf:
//   perf record -g vastrel_profile_parse --repeat 20 && perf report --no-children
#include "bench_inputs.h"
#include "generate_piece.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <memory>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    unsigned char resolution = 16;
    bool small = false;
    int repeat = 1;
    int measures = 0;
    bool keep = false;
    std::string input, output;
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--resolution") && i + 1 < argc) resolution = static_cast<unsigned char>(atoi(argv[++i]));
        else if (!strcmp(argv[i], "--small")) small = true;
        else if (!strcmp(argv[i], "--repeat") && i + 1 < argc) repeat = atoi(argv[++i]);
        else if (!strcmp(argv[i], "--measures") && i + 1 < argc) measures = atoi(argv[++i]);
        else if (!strcmp(argv[i], "--keep")) keep = true;
        else if (!strcmp(argv[i], "--write") && i + 1 < argc) output = argv[++i];
        else if (argv[i][0] == '-') {
            fprintf(stderr, "usage: %s [--resolution R] [--small | --measures M] [--repeat N] [--keep] [--write PATH] [FILE]\n", argv[0]);
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
            totals = ParseEveryTrack(midi.get(), resolution, keep ? &tracks : nullptr);
            ReleaseTracks(tracks);
        }
        double seconds = static_cast<double>(clock() - start) / CLOCKS_PER_SEC / repeat;
        printf("%u tracks at R=%u: %llu notes, %llu measures, %.1f track heap bytes per note, %u refused; "
               "%.2f ms CPU a parse of every track, %.0f notes/s\n",
               midi.get()->wTracks, resolution, static_cast<unsigned long long>(totals.notes),
               static_cast<unsigned long long>(totals.measures),
               totals.notes ? static_cast<double>(totals.trackBytes) / static_cast<double>(totals.notes) : 0.0,
               totals.failed, seconds * 1e3, seconds > 0 ? static_cast<double>(totals.notes) / seconds : 0.0);
    } catch (const CVastrelException& e) {
        fprintf(stderr, "%s (%d)\n", e.szMessage, e.nMessageId);
        return 1;
    }
    return 0;
}
