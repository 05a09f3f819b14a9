// Speed and memory of the whole pipeline on large inputs: loading, the bare
// event scan every parse is compared with, the full parse at two grids (all
// tracks kept, as a viewer keeps them, and each released at once),
// stage-by-stage cumulative parse times, and position lookups as a player
// makes them. A summary of the headline figures follows the table.
//
//   vastrel_bench                          everything
//   vastrel_bench --benchmark_filter=Parse  only the parses
#include <benchmark/benchmark.h>

#include "../core/staged_parse.h"
#include "../platform/platform.h"
#include "../smf/event_stream.h"
#include "bench_inputs.h"
#include "generate_piece.h"

#include <stdio.h>
#include <unistd.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

const long kMusicUnitsPerQuarter = 768;
const int kLookupsPerSecond = 60;

// A generated piece and the file it was written to, made on first use.
struct Piece {
    explicit Piece(const PieceShape& shape) : generated(GeneratePiano(shape)), file(generated.bytes) {}
    GeneratedPiece generated;
    BenchFile file;
};

Piece& FullPiece() {
    static Piece piece(FullPiano());
    return piece;
}

Piece& SmallPiece() {
    static Piece piece(SmallPiano());
    return piece;
}

Piece& PieceNamed(int index) { return index == 0 ? FullPiece() : SmallPiece(); }
const char* kPieceNames[] = {"full", "small"};

// ---- Loading ---------------------------------------------------------------------

// Reading the file, checking its header and building the conductor maps.
void LoadOnly(benchmark::State& state, const std::string& path) {
    uint64_t bytes = 0;
    for (auto _ : state) {
        SMidiFile* file = VSX_LoadMidiFile(path.c_str());
        bytes = file->nFileSize;
        benchmark::DoNotOptimize(file->pTimeSignatures);
        VSX_ReleaseFile(file);
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes * state.iterations()));
}

// ---- The baseline: one pass over the events of every track ------------------------

void EventScan(benchmark::State& state, const std::string& path, uint64_t notes) {
    LoadedMidi midi(path);
    std::vector<unsigned char*> chunks = ChunksOfEveryTrack(midi.get());
    uint64_t events = 0, bytes = 0;
    for (unsigned char* chunk : chunks) bytes += ReadBigEndian32(chunk + 4);
    for (auto _ : state) {
        events = 0;
        for (unsigned char* chunk : chunks) events += ScanEvents(midi.get(), chunk);
        benchmark::DoNotOptimize(events);
    }
    // Items are notes, so that the scan's rate reads like the parse's.
    state.SetItemsProcessed(static_cast<int64_t>(notes * state.iterations()));
    state.SetBytesProcessed(static_cast<int64_t>(bytes * state.iterations()));
    state.counters["events"] = static_cast<double>(events);
}

// ---- The full parse of every track ------------------------------------------------

// Gives the free memory of the C library and of the library's heaps (the
// chunks destroyed heaps keep for the next ones) back to the system, so that
// every round starts with memory it has not touched yet, the worst case of a
// viewer opening a new file. Otherwise whether freed memory is kept or
// returned depends on trimming rules, and with them on the size of the input.
void ReturnFreeMemory() {
    PlatformReturnKeptMemory();
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

// A viewer keeps every track of the file (keep = true): the heaps of all
// tracks are alive together and their memory is fresh each time. Releasing
// each track at once lets the next reuse its memory, which shows how much of
// the cost is first touches of new memory. The tracks are parsed in the
// classic model, or in the readable notation (the preset).
void ParseAll(benchmark::State& state, const std::string& path, unsigned char resolution, bool keep,
              const SNotationOptions* options = nullptr) {
    LoadedMidi midi(path);
    std::vector<STrack*> tracks;
    ParseTotals totals;
    for (auto _ : state) {
        totals = ParseEveryTrack(midi.get(), resolution, keep ? &tracks : nullptr, options);
        state.PauseTiming();
        ReleaseTracks(tracks);
        ReturnFreeMemory();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(totals.notes * state.iterations()));
    state.counters["notes"] = static_cast<double>(totals.notes);
    state.counters["measures"] = static_cast<double>(totals.measures);
    state.counters["track_bytes/note"] =
        totals.notes ? static_cast<double>(totals.trackBytes) / static_cast<double>(totals.notes) : 0.0;
    if (totals.failed) state.counters["failed_tracks"] = totals.failed;
}

// The least a parse that keeps its model can spend on memory: as many bytes
// as the parses of every track leave in their heaps, taken from one of the
// library's heaps in blocks the size of one voice's chords in a 4/4 measure
// at R = 16, and every cache line written once, as building the records does.
void FreshMemory(benchmark::State& state, const std::string& path, unsigned char resolution) {
    uint64_t bytes;
    {
        LoadedMidi midi(path);
        bytes = ParseEveryTrack(midi.get(), resolution, nullptr).trackBytes;
    }
    const size_t kBlock = 16 * sizeof(SChord);
    for (auto _ : state) {
        void* heap = PlatformCreateHeap();
        for (uint64_t taken = 0; taken < bytes; taken += kBlock) {
            auto* block = static_cast<volatile char*>(PlatformAllocate(heap, kBlock, true));
            if (!block) {
                state.SkipWithError("out of memory");
                break;
            }
            for (size_t i = 0; i < kBlock; i += 64) block[i] = 1;
        }
        state.PauseTiming();
        PlatformDestroyHeap(heap);
        ReturnFreeMemory();
        state.ResumeTiming();
    }
    state.counters["MB"] = static_cast<double>(bytes) / 1e6;
}

// Every track parsed through one builder stage and no further. The
// difference between neighbouring stages is not simply what a stage costs:
// some stages find facts on their way that later stages read, and where a
// build runs G with H, or Q with R and S, they share one pass, so a build
// that stops between them runs them apart. It shows where the time of a
// parse goes, roughly, and what stopping early saves.
void ParseThrough(benchmark::State& state, const std::string& path, char lastStage) {
    LoadedMidi midi(path);
    uint64_t notes = 0;
    for (auto _ : state) {
        notes = 0;
        for (unsigned short t = 0; t < midi.get()->wTracks; ++t) {
            STrack* track = ParseTrackThrough(midi.get(), t, 16, 0, lastStage);
            notes += static_cast<uint64_t>(track->nNotes);
            VSX_ReleaseTrack(track);
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(notes * state.iterations()));
}

// ---- Position lookups -----------------------------------------------------------

// Music times a player asks for: kLookupsPerSecond a second of music at the
// tempo in force, from the start to the end of the track.
std::vector<long> PlaybackTimes(const SMidiFile* file, const STrack* track) {
    std::vector<long> times;
    double quarters = 0;
    const STempo* tempo = file->pTempos;
    uint16_t bpm = 120;
    for (;;) {
        double ticks = quarters * file->wDivision;
        if (ticks > track->dwEndTime) break;
        while (tempo && tempo->dwTime <= ticks) {
            bpm = tempo->wTempo;
            tempo = tempo->pNext;
        }
        times.push_back(static_cast<long>(quarters * kMusicUnitsPerQuarter));
        quarters += bpm / 60.0 / kLookupsPerSecond;
    }
    return times;
}

std::vector<long> RandomTimes(const SMidiFile* file, const STrack* track, size_t count) {
    std::mt19937 random(12345);
    long end = static_cast<long>(static_cast<uint64_t>(track->dwEndTime) * kMusicUnitsPerQuarter / file->wDivision);
    std::uniform_int_distribution<long> time(0, end);
    std::vector<long> times(count);
    for (long& t : times) t = time(random);
    return times;
}

void Lookups(benchmark::State& state, const std::vector<long>& times, SMidiFile* file,
             const std::vector<STrack*>& tracks) {
    SMeasure* measure = nullptr;
    SSection* section = nullptr;
    float fraction = 0;
    for (auto _ : state) {
        for (long t : times)
            for (STrack* track : tracks) {
                VSX_GetPositionByMusicTime(file, track, t, &measure, &section, &fraction);
                benchmark::DoNotOptimize(section);
            }
    }
    double lookups = static_cast<double>(times.size() * tracks.size());
    state.SetItemsProcessed(static_cast<int64_t>(lookups * static_cast<double>(state.iterations())));
    state.counters["s/lookup"] =
        benchmark::Counter(lookups, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

enum LookupKind { kForward, kRandom, kForwardTwoTracks };

// Forward: one track followed through the whole piece. Random: times in no
// order. Two tracks: a viewer following two staves, asking for each in turn.
void PositionLookups(benchmark::State& state, LookupKind kind) {
    LoadedMidi midi(FullPiece().file.Path());
    std::vector<STrack*> tracks;
    tracks.push_back(VSX_ParseTrack(midi.get(), 0, 16, 0));
    if (kind == kForwardTwoTracks) tracks.push_back(VSX_ParseTrack(midi.get(), 1, 16, 0));
    std::vector<long> times = kind == kRandom ? RandomTimes(midi.get(), tracks[0], 100000)
                                              : PlaybackTimes(midi.get(), tracks[0]);
    Lookups(state, times, midi.get(), tracks);
    ReleaseTracks(tracks);
}

// ---- Summary of the headline figures ----------------------------------------------

// The console table, then the figures the targets are stated in.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    explicit SummaryReporter(bool color) : ConsoleReporter(color ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred) runs_[run.benchmark_name()] = run;
        ConsoleReporter::ReportRuns(runs);
    }

    void Summarize() const {
        printf("\nSummary (CPU time; full piece unless said otherwise)\n");
        const Run* parse16 = Find("Parse/full/R16");
        const Run* parse64 = Find("Parse/full/R64");
        const Run* small16 = Find("Parse/small/R16");
        const Run* scan = Find("EventScan/full");
        const Run* reusing16 = Find("ParseReleasingEach/full/R16");
        if (parse16) {
            printf("  notes/s at R=16:            %12.0f   (target >= 5,000,000)\n", Counter(*parse16, "items_per_second"));
            printf("  track heap bytes/note R=16: %12.1f   (target < 1024)\n", Counter(*parse16, "track_bytes/note"));
        }
        if (reusing16)
            printf("  notes/s at R=16, each track released at once: %.0f\n", Counter(*reusing16, "items_per_second"));
        if (const Run* readable16 = Find("ParseReadable/full/R16"); readable16 && parse16)
            printf("  readable / classic at R=16: %12.2f x\n", Seconds(*readable16) / Seconds(*parse16));
        if (const Run* oneStaff16 = Find("ParseReadableOneStaff/full/R16"); oneStaff16 && parse16)
            printf("  same, one staff per track:  %12.2f x (target <= 1.3)\n", Seconds(*oneStaff16) / Seconds(*parse16));
        if (parse64) {
            printf("  notes/s at R=64:            %12.0f\n", Counter(*parse64, "items_per_second"));
            printf("  track heap bytes/note R=64: %12.1f\n", Counter(*parse64, "track_bytes/note"));
        }
        if (parse16 && scan)
            printf("  parse R=16 / bare scan:     %12.1f x (target <= 15)\n", Seconds(*parse16) / Seconds(*scan));
        if (reusing16 && scan)
            printf("  same, each released at once:%12.1f x\n", Seconds(*reusing16) / Seconds(*scan));
        if (parse64 && scan)
            printf("  parse R=64 / bare scan:     %12.1f x\n", Seconds(*parse64) / Seconds(*scan));
        for (const Run* parse : {parse16, parse64}) {
            if (!parse) continue;
            int grid = parse == parse16 ? 16 : 64;
            const Run* memory = Find("FreshMemory/full/R" + std::to_string(grid));
            if (!memory) continue;
            printf("  the model's memory alone:   %12.1f ms at R=%d; the parse with all tracks kept takes %.2f x that"
                   " (target <= 2), the memory %.1f x the bare scan\n",
                   1e3 * Seconds(*memory), grid, Seconds(*parse) / Seconds(*memory),
                   scan ? Seconds(*memory) / Seconds(*scan) : 0.0);
        }
        Linearity("all tracks kept", parse16, small16);
        Linearity("each released at once", reusing16, Find("ParseReleasingEach/small/R16"));
        if (const Run* forward = Find("PositionLookups/forward"))
            printf("  ns per forward lookup:      %12.1f   (target < 100)\n", 1e9 * Counter(*forward, "s/lookup"));
        if (const Run* random = Find("PositionLookups/random"))
            printf("  ns per random lookup:       %12.1f\n", 1e9 * Counter(*random, "s/lookup"));
        if (const Run* two = Find("PositionLookups/forward_two_tracks"))
            printf("  ns per lookup, two tracks:  %12.1f\n", 1e9 * Counter(*two, "s/lookup"));
    }

private:
    // How much more the full piece costs than the small one, scaled to 27 times the notes.
    static void Linearity(const char* how, const Run* full, const Run* small) {
        if (!full || !small) return;
        double noteRatio = Counter(*full, "notes") / Counter(*small, "notes");
        double costRatio = Seconds(*full) / Seconds(*small);
        printf("  linearity, %s: %.2f x the notes cost %.2f x the time; for 27 x the notes %.1f x (target <= 30)\n",
               how, noteRatio, costRatio, costRatio * 27.0 / noteRatio);
    }

    const Run* Find(const std::string& name) const {
        auto it = runs_.find(name);
        return it == runs_.end() ? nullptr : &it->second;
    }
    static double Counter(const Run& run, const std::string& name) {
        auto it = run.counters.find(name);
        return it == run.counters.end() ? 0.0 : it->second.value;
    }
    static double Seconds(const Run& run) { return run.cpu_accumulated_time / static_cast<double>(run.iterations); }

    std::map<std::string, Run> runs_;
};

void RegisterAll() {
    for (int p = 0; p < 2; ++p) {
        std::string name = kPieceNames[p];
        benchmark::RegisterBenchmark(("Load/" + name).c_str(), [p](benchmark::State& state) {
            LoadOnly(state, PieceNamed(p).file.Path());
        })->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("EventScan/" + name).c_str(), [p](benchmark::State& state) {
            EventScan(state, PieceNamed(p).file.Path(), PieceNamed(p).generated.notes);
        })->Unit(benchmark::kMillisecond);
        for (unsigned char resolution : {16, 64}) {
            std::string grid = "/R" + std::to_string(resolution);
            benchmark::RegisterBenchmark(("Parse/" + name + grid).c_str(), [p, resolution](benchmark::State& state) {
                ParseAll(state, PieceNamed(p).file.Path(), resolution, true);
            })->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(("ParseReleasingEach/" + name + grid).c_str(),
                                         [p, resolution](benchmark::State& state) {
                                             ParseAll(state, PieceNamed(p).file.Path(), resolution, false);
                                         })->Unit(benchmark::kMillisecond);
        }
    }
    // The readable notation on the same piece and grid as Parse/full/R16:
    // every rule, and every rule but the grand staff (the piece is a piano
    // piece: the grand staff writes each track on two staves, its hands
    // separated).
    benchmark::RegisterBenchmark("ParseReadable/full/R16", [](benchmark::State& state) {
        const SNotationOptions preset = VSX_ReadableOptions();
        ParseAll(state, FullPiece().file.Path(), 16, true, &preset);
    })->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("ParseReadableOneStaff/full/R16", [](benchmark::State& state) {
        SNotationOptions oneStaff = VSX_ReadableOptions();
        oneStaff.bGrandStaff = 0;
        ParseAll(state, FullPiece().file.Path(), 16, true, &oneStaff);
    })->Unit(benchmark::kMillisecond);
    for (unsigned char resolution : {16, 64}) {
        benchmark::RegisterBenchmark(("FreshMemory/full/R" + std::to_string(resolution)).c_str(),
                                     [resolution](benchmark::State& state) {
                                         FreshMemory(state, FullPiece().file.Path(), resolution);
                                     })->Unit(benchmark::kMillisecond);
    }
    // '@' comes before 'A': note collection alone, no builder stage.
    for (char stage = '@'; stage <= 'S'; ++stage) {
        std::string name = stage == '@' ? std::string("collection") : std::string(1, stage);
        benchmark::RegisterBenchmark(("ParseThrough/full/R16/" + name).c_str(), [stage](benchmark::State& state) {
            ParseThrough(state, FullPiece().file.Path(), stage);
        })->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark("PositionLookups/forward", PositionLookups, kForward)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("PositionLookups/random", PositionLookups, kRandom)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("PositionLookups/forward_two_tracks", PositionLookups, kForwardTwoTracks)
        ->Unit(benchmark::kMillisecond);

    // The largest real files, read where they lie.
    for (const std::string& path : LargestCorpusFiles(4)) {
        std::string name = path.substr(path.find_last_of('/') + 1);
        benchmark::RegisterBenchmark(("Corpus/Load/" + name).c_str(), [path](benchmark::State& state) {
            LoadOnly(state, path);
        })->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("Corpus/EventScan/" + name).c_str(), [path](benchmark::State& state) {
            uint64_t notes;
            {
                LoadedMidi midi(path);
                notes = ParseEveryTrack(midi.get(), 16, nullptr).notes;
            }
            EventScan(state, path, notes);
        })->Unit(benchmark::kMicrosecond);
        for (unsigned char resolution : {16, 64})
            benchmark::RegisterBenchmark(("Corpus/Parse/" + name + "/R" + std::to_string(resolution)).c_str(),
                                         [path, resolution](benchmark::State& state) {
                                             ParseAll(state, path, resolution, true);
                                         })->Unit(benchmark::kMicrosecond);
    }
}

}  // namespace

// Colours as the library's own reporter would choose them: on a terminal,
// unless --benchmark_color says otherwise.
bool WantsColor(int argc, char** argv) {
    bool color = isatty(fileno(stdout)) != 0;
    const std::string flag = "--benchmark_color=";
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.compare(0, flag.size(), flag) != 0) continue;
        std::string value = arg.substr(flag.size());
        if (value == "false" || value == "no" || value == "0") color = false;
        else if (value == "true" || value == "yes" || value == "1") color = true;
    }
    return color;
}

int main(int argc, char** argv) {
    const bool color = WantsColor(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RegisterAll();
    printf("full piece: %llu notes, %zu bytes; small piece: %llu notes, %zu bytes\n",
           static_cast<unsigned long long>(FullPiece().generated.notes), FullPiece().generated.bytes.size(),
           static_cast<unsigned long long>(SmallPiece().generated.notes), SmallPiece().generated.bytes.size());
    SummaryReporter reporter(color);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.Summarize();
    benchmark::Shutdown();
    return 0;
}
