// libFuzzer target: any bytes, written out as a file and opened through the
// exported calls like a file a user double-clicked. Every selectable track
// (at most 16) is parsed at three grids, in the classic model, in the
// readable notation and under options the input's bytes choose (an options
// record of any size a caller may declare), the tracks are kept side by side,
// the whole model is read and its invariants checked, playback is followed
// across each track and past its end, the file is released and the tracks
// read once more, and everything is released. Every plan's tracks are also
// exported as MusicXML, as a viewer does with whatever file it is given,
// with and without tablature, and the documents read back with pugixml. A
// crash, a sanitizer report, a leak, a refusal without a table message, a
// broken model or a broken document stops the run.
//
// VSX_FUZZ_SKIP_INVARIANTS=1 in the environment leaves the model's
// invariants out and hunts memory faults only.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <pugixml.hpp>

#include <set>
#include <sstream>
#include <stdexcept>

#include "../musicxml/musicxml.h"
#include "../tests/robustness/hostile_input.h"

static char g_szInputPath[64];

static void RemoveInputFile() { unlink(g_szInputPath); }

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // One file per process, so that parallel jobs do not share it; in memory
    // where the system offers a place for it.
    const char* pszFolder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    snprintf(g_szInputPath, sizeof g_szInputPath, "%s/vastrel-fuzz-%d.mid", pszFolder, static_cast<int>(getpid()));
    atexit(RemoveInputFile);
    return 0;
}

static void WriteInputFile(const uint8_t* pData, size_t nSize) {
    int fd = open(g_szInputPath, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) {
        perror(g_szInputPath);
        abort();
    }
    for (size_t nWritten = 0; nWritten < nSize;) {
        ssize_t n = write(fd, pData + nWritten, nSize - nWritten);
        if (n <= 0) {
            perror(g_szInputPath);
            abort();
        }
        nWritten += static_cast<size_t>(n);
    }
    close(fd);
}

// The options record of a caller: a size among those a caller may declare
// (none of the fields, the size alone, part of them, this header's record, a
// newer header's longer one) and flag bytes from the input's bits. The
// record is given exactly the bytes it declares (at least its size field),
// so that a read past them is a sanitizer report.
static std::vector<uint8_t> OptionsRecordFor(uint32_t bits) {
    const uint32_t kSizes[] = {0, 4, 5, sizeof(SNotationOptions), sizeof(SNotationOptions) + 8};
    const uint32_t cbSize = kSizes[bits % 5];
    bits /= 5;
    std::vector<uint8_t> record(cbSize < sizeof cbSize ? sizeof cbSize : cbSize);
    memcpy(record.data(), &cbSize, sizeof cbSize);
    // An option is on for any byte but 0: half the flags are off, the others
    // take a byte of the bits.
    for (size_t i = sizeof cbSize; i < record.size(); ++i, bits = bits >> 3 | bits << 29)
        record[i] = (bits & 1) ? static_cast<uint8_t>(bits >> 1 | 1) : 0;
    return record;
}

// Three parses of every track per input: the classic model on the common
// sixteenth grid; the readable notation (a null record or the preset's own)
// and options the input's bytes choose, on a grid with a transposition the
// input's bytes choose, so that over a run every grid meets every
// transposition and every record size while one input stays cheap (and
// always gets the same plans).
static std::vector<ParsePlan> PlansFor(const uint8_t* pData, size_t nSize) {
    uint32_t h = 2166136261u;  // FNV-1a
    for (size_t i = 0; i < nSize; ++i) h = (h ^ pData[i]) * 16777619u;
    static const uint8_t kGrids[] = {2, 4, 8, 32, 64};
    static const int8_t kShifts[] = {0, 7, -12};
    std::vector<ParsePlan> plans = {{16, 0}};
    const uint32_t bits = h * 2654435761u;  // more bits, independent of the grids'
    for (int i = 0; i < 2; ++i, h /= 15) plans.push_back({kGrids[h % 5], kShifts[(h / 5) % 3], true});
    if (bits & 1) {
        const SNotationOptions preset = VSX_ReadableOptions();
        plans[1].options.assign(reinterpret_cast<const uint8_t*>(&preset),
                                reinterpret_cast<const uint8_t*>(&preset) + sizeof preset);
    }
    plans[2].options = OptionsRecordFor(bits >> 1);
    return plans;
}

// A document must be XML, have as many measures in every part as the longest
// track, and no id twice.
static void CheckDocument(HostileRun& run, const std::string& text, size_t parts, int32_t measures,
                          const std::string& where) {
    pugi::xml_document document;
    pugi::xml_parse_result result = document.load_buffer(text.data(), text.size());
    if (!result) {
        hostile::Problem(run, where + ": the MusicXML is not XML: " + result.description());
        return;
    }
    std::set<std::string> ids;
    size_t elements = 0, partsSeen = 0;
    for (pugi::xml_node part : document.child("score-partwise").children("part")) {
        ++partsSeen;
        int32_t measuresSeen = 0;
        for (pugi::xml_node measure : part.children("measure")) {
            ++measuresSeen;
            ids.insert(measure.attribute("id").value());
            ++elements;
            for (pugi::xml_node note : measure.children("note")) {
                ids.insert(note.attribute("id").value());
                ++elements;
            }
        }
        if (measuresSeen != measures)
            hostile::Problem(run, where + ": a MusicXML part has " + std::to_string(measuresSeen) + " measures, not " +
                                      std::to_string(measures));
    }
    if (partsSeen != parts) hostile::Problem(run, where + ": the MusicXML has " + std::to_string(partsSeen) + " parts");
    if (ids.size() != elements || ids.count("")) hostile::Problem(run, where + ": MusicXML ids missing or repeated");
}

// The tracks of one plan as one score, with and without tablature. Only a
// score without any measure may be refused.
static void ExportTracks(HostileRun& run, const SMidiFile& file, const std::vector<STrack*>& tracks,
                         const std::string& where) {
    std::vector<MusicXmlPart> parts;
    int32_t measures = 0;
    for (size_t t = 0; t < tracks.size(); ++t) {
        if (!tracks[t] || tracks[t]->nMeasures <= 0) continue;
        parts.push_back({static_cast<unsigned>(t), tracks[t]});
        if (tracks[t]->nMeasures > measures) measures = tracks[t]->nMeasures;
    }
    for (bool tablature : {false, true}) {
        MusicXmlOptions options;
        options.tablature = tablature;
        const std::string at = where + (tablature ? " MusicXML with tablature" : " MusicXML");
        std::ostringstream out;
        try {
            WriteMusicXml(out, file, parts, options);
        } catch (const std::runtime_error& e) {
            if (!parts.empty()) hostile::Problem(run, at + ": " + e.what());
            continue;
        }
        if (parts.empty()) hostile::Problem(run, at + ": a score without measures was written");
        else CheckDocument(run, out.str(), parts.size(), measures, at);
    }
}

// What one input may cost. A few bytes of delta time can ask for a grid of
// millions of sections; once an input has had 30 000 allocations (a real
// file of 16 KiB needs about 5 000 for all its tracks on one grid) the rest
// fail, and those parses must end as clean refusals for want of memory. The
// model checker, whose cost grows with sections times measures, skips tracks
// beyond its budget; they are still read whole. Every parse walks its whole
// grid (up to a million slots) whatever it allocates, so an input stops
// being parsed once its grids add up to two million slots.
static ExerciseLimits FuzzLimits() {
    ExerciseLimits limits;
    limits.checkInvariants = getenv("VSX_FUZZ_SKIP_INVARIANTS") == nullptr;
    limits.invariantBudget = 2000000;
    limits.allocationBudget = 30000;
    limits.slotBudget = 2000000;
    limits.useTracks = ExportTracks;
    return limits;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    static const ExerciseLimits kLimits = FuzzLimits();
    WriteInputFile(pData, nSize);
    HostileRun run = ExerciseFile(g_szInputPath, PlansFor(pData, nSize), kLimits);
    if (!run.problems.empty()) {
        for (const std::string& problem : run.problems) fprintf(stderr, "vastrel: %s\n", problem.c_str());
        abort();
    }
    return 0;
}
