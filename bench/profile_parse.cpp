// One parse of every track of a file, for a profiler:
//
//   vastrel_profile_parse [--resolution R] [--small] [--write PATH] [FILE]
//
// Without FILE it parses the generated full piano piece (--small: the piece
// 27 times smaller). --write saves the generated piece and stops. Under
// callgrind, collect only the parses:
//   valgrind --tool=callgrind --toggle-collect=VSX_ParseTrack vastrel_profile_parse
#include "bench_inputs.h"
#include "generate_piece.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>

int main(int argc, char** argv) {
    unsigned char resolution = 16;
    bool small = false;
    std::string input, output;
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--resolution") && i + 1 < argc) resolution = static_cast<unsigned char>(atoi(argv[++i]));
        else if (!strcmp(argv[i], "--small")) small = true;
        else if (!strcmp(argv[i], "--write") && i + 1 < argc) output = argv[++i];
        else if (argv[i][0] == '-') {
            fprintf(stderr, "usage: %s [--resolution R] [--small] [--write PATH] [FILE]\n", argv[0]);
            return 2;
        } else input = argv[i];
    }

    std::unique_ptr<BenchFile> generated;
    if (input.empty()) {
        GeneratedPiece piece = GeneratePiano(small ? SmallPiano() : FullPiano());
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
        ParseTotals totals = ParseEveryTrack(midi.get(), resolution, nullptr);
        printf("%u tracks at R=%u: %llu notes, %llu measures, %.1f track heap bytes per note, %u refused\n",
               midi.get()->wTracks, resolution, static_cast<unsigned long long>(totals.notes),
               static_cast<unsigned long long>(totals.measures),
               totals.notes ? static_cast<double>(totals.trackBytes) / static_cast<double>(totals.notes) : 0.0,
               totals.failed);
    } catch (const CVastrelException& e) {
        fprintf(stderr, "%s (%d)\n", e.szMessage, e.nMessageId);
        return 1;
    }
    return 0;
}
