// What the benchmark programs share: generated pieces as files that
// VSX_LoadMidiFile can open, the largest files of the shared corpus, the bare
// event scan that every parse is compared with, and a parse of every track
// that counts notes and track heap bytes.
#ifndef VASTREL_BENCH_INPUTS_H
#define VASTREL_BENCH_INPUTS_H

#include <stdint.h>

#include <string>
#include <vector>

#include "../interface/vastrel.h"
#include "midi_writer.h"

// A temporary file holding the given bytes, removed at the end of its life.
class BenchFile {
public:
    explicit BenchFile(const Bytes& bytes);
    ~BenchFile();
    BenchFile(const BenchFile&) = delete;
    BenchFile& operator=(const BenchFile&) = delete;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// A file loaded through VSX_LoadMidiFile and released at the end of the scope.
class LoadedMidi {
public:
    explicit LoadedMidi(const std::string& path);
    ~LoadedMidi();
    LoadedMidi(const LoadedMidi&) = delete;
    LoadedMidi& operator=(const LoadedMidi&) = delete;
    SMidiFile* get() const { return file_; }

private:
    SMidiFile* file_ = nullptr;
};

// The shared corpus folder, or "" when there is none (VSX_CORPUS env wins).
std::string CorpusDirectory();
// Paths of the largest .mid files of the corpus that load, largest first.
std::vector<std::string> LargestCorpusFiles(size_t count);

// The track chunk each selectable track reads: format 1, the chunks after
// the conductor; format 0, the one chunk once per channel.
std::vector<unsigned char*> ChunksOfEveryTrack(SMidiFile* file);

// One pass over the events of a chunk with the library's event readers, the
// least any parse must do. Returns the number of events.
uint64_t ScanEvents(SMidiFile* file, unsigned char* chunk);

struct ParseTotals {
    uint64_t notes = 0;        // STrack::nNotes summed
    uint64_t trackBytes = 0;   // track heap bytes live after the parses
    uint64_t measures = 0;
    uint32_t failed = 0;       // tracks the library refused
};

// Parses every track at resolution R and keeps the tracks in *tracks (to be
// released with ReleaseTracks), or releases each at once when tracks is null:
// in the classic model, or in the readable notation (the preset) when asked.
// options: null for the classic model, else the readable notation's.
ParseTotals ParseEveryTrack(SMidiFile* file, unsigned char resolution, std::vector<STrack*>* tracks,
                            const SNotationOptions* options = nullptr);
void ReleaseTracks(std::vector<STrack*>& tracks);

#endif
