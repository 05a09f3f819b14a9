// Inputs and whole-file walks of the benchmark programs.
#include "bench_inputs.h"

#include "../platform/fault_injection.h"
#include "../smf/midi_file.h"

#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>
#include <utility>

BenchFile::BenchFile(const Bytes& bytes) {
    const char* directory = getenv("TMPDIR");
    std::string pattern = std::string(directory && *directory ? directory : "/tmp") + "/vastrel-bench-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int descriptor = mkstemp(name.data());
    if (descriptor < 0) throw std::runtime_error("cannot create a temporary file");
    path_ = name.data();
    size_t written = 0;
    while (written < bytes.size()) {
        ssize_t n = write(descriptor, bytes.data() + written, bytes.size() - written);
        if (n <= 0) {
            close(descriptor);
            unlink(path_.c_str());
            throw std::runtime_error("cannot write " + path_);
        }
        written += static_cast<size_t>(n);
    }
    close(descriptor);
}

BenchFile::~BenchFile() { unlink(path_.c_str()); }

LoadedMidi::LoadedMidi(const std::string& path) : file_(VSX_LoadMidiFile(path.c_str())) {}

LoadedMidi::~LoadedMidi() { VSX_ReleaseFile(file_); }

std::string CorpusDirectory() {
    std::string directory;
    if (const char* env = getenv("VSX_CORPUS")) directory = env;
#ifdef VSX_CORPUS_DIR
    if (directory.empty()) directory = VSX_CORPUS_DIR;
#endif
    struct stat status;
    if (directory.empty() || stat(directory.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) return "";
    return directory;
}

std::vector<std::string> LargestCorpusFiles(size_t count) {
    std::string directory = CorpusDirectory();
    std::vector<std::pair<off_t, std::string>> files;
    if (directory.empty()) return {};
    if (DIR* dir = opendir(directory.c_str())) {
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name.size() < 4 || name.compare(name.size() - 4, 4, ".mid") != 0) continue;
            std::string path = directory + "/" + name;
            struct stat status;
            if (stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode)) files.emplace_back(status.st_size, path);
        }
        closedir(dir);
    }
    std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    std::vector<std::string> chosen;
    for (const auto& file : files) {
        if (chosen.size() == count) break;
        try {
            LoadedMidi midi(file.second);
            chosen.push_back(file.second);
        } catch (const CVastrelException&) {
            // Not a file the library takes: leave it out.
        }
    }
    return chosen;
}

std::vector<unsigned char*> ChunksOfEveryTrack(SMidiFile* file) {
    std::vector<unsigned char*> chunks;
    unsigned char* chunk = file->pFirstTrack;
    if (file->wFormat == 0) {
        if (IsTrackChunkAt(file, chunk)) chunks.assign(file->wTracks, chunk);
        return chunks;
    }
    for (uint32_t n = 0; n <= file->wTracks && IsTrackChunkAt(file, chunk); ++n) {
        if (n > 0) chunks.push_back(chunk);
        chunk += kChunkHeadBytes + ReadBigEndian32(chunk + 4);
    }
    return chunks;
}

uint64_t ScanEvents(SMidiFile* file, unsigned char* chunk) {
    SByteCursor cursor = TrackEvents(file, chunk);
    uint32_t ticks = 0;
    unsigned char running = 0;
    uint64_t events = 0;
    do {
        unsigned char status = ReadEventHead(cursor, &ticks, &running);
        running = SkipEvent(status, cursor);
        ++events;
    } while (running != kStatusMeta);
    return events;
}

ParseTotals ParseEveryTrack(SMidiFile* file, unsigned char resolution, std::vector<STrack*>* tracks,
                            const SNotationOptions* options) {
    ParseTotals totals;
    const unsigned short count = options ? VSX_CountTracks(file, options) : file->wTracks;
    for (unsigned short t = 0; t < count; ++t) {
        uint64_t before = PlatformBytesAllocated();
        STrack* track = nullptr;
        try {
            track = options ? VSX_ParseTrackWithOptions(file, t, resolution, 0, options)
                            : VSX_ParseTrack(file, t, resolution, 0);
        } catch (const CVastrelException&) {
            ++totals.failed;
            continue;
        }
        totals.trackBytes += PlatformBytesAllocated() - before;
        totals.notes += static_cast<uint64_t>(track->nNotes);
        totals.measures += static_cast<uint64_t>(track->nMeasures);
        if (tracks) tracks->push_back(track);
        else VSX_ReleaseTrack(track);
    }
    return totals;
}

void ReleaseTracks(std::vector<STrack*>& tracks) {
    for (STrack* track : tracks) VSX_ReleaseTrack(track);
    tracks.clear();
}
