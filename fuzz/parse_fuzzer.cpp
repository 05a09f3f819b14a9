// libFuzzer target: any bytes, written out as a file and opened through the
// exported calls like a file a user double-clicked. Every selectable track
// (at most 16) is parsed at three grids, the tracks are kept side by side,
// the whole model is read and its invariants checked, playback is followed
// across each track and past its end, the file is released and the tracks
// read once more, and everything is released. A crash, a sanitizer report, a
// leak, a refusal without a table message or a broken model stops the run.
//
// VSX_FUZZ_SKIP_INVARIANTS=1 in the environment leaves the model's
// invariants out and hunts memory faults only.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

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

// Three parses of every track per input: the common sixteenth grid, and two
// more whose grid and transposition the input's own bytes choose, so that
// over a run every grid meets every transposition while one input stays
// cheap (and always gets the same plans).
static std::vector<ParsePlan> PlansFor(const uint8_t* pData, size_t nSize) {
    uint32_t h = 2166136261u;  // FNV-1a
    for (size_t i = 0; i < nSize; ++i) h = (h ^ pData[i]) * 16777619u;
    static const uint8_t kGrids[] = {2, 4, 8, 32, 64};
    static const int8_t kShifts[] = {0, 7, -12};
    std::vector<ParsePlan> plans = {{16, 0}};
    for (int i = 0; i < 2; ++i, h /= 15) plans.push_back({kGrids[h % 5], kShifts[(h / 5) % 3]});
    return plans;
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
