// Every file of the shared corpus of real files (public test suites and
// games, read in place; skipped when the folder is absent): each selectable
// track, at most 16, on every grid from halves to 64ths and transposed by 0,
// +7 and -12, either parses into a sound model or is refused with a table
// message, and nothing leaks. Prints how many files and parses went which way.
#include <dirent.h>
#include <stdio.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "../support/test_support.h"
#include "hostile_input.h"

namespace {

// The corpus folder's files, except its manifest, in name order.
std::vector<std::string> CorpusFiles(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = opendir(folder.c_str());
    if (!dir) return names;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == ".." || name == "MANIFEST.tsv") continue;
        names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

std::string CountsByMessage(const std::map<int, int>& counts) {
    std::string text;
    for (const auto& [id, count] : counts) text += "  " + std::to_string(id) + ": " + std::to_string(count) + "\n";
    return text.empty() ? "  none\n" : text;
}

TEST(CorpusSweep, EveryTrackParsesSoundlyOrIsRefusedWithATableMessage) {
    std::string folder = CorpusDirectory();
    if (folder.empty()) GTEST_SKIP() << "no shared corpus next to the project";
    std::vector<std::string> files = CorpusFiles(folder);
    ASSERT_FALSE(files.empty()) << folder;

    // Every grid and transposition in the classic model, and the readable
    // notation (the preset) at the common grid.
    std::vector<ParsePlan> plans = FullPlans();
    plans.push_back({16, 0, true});
    int nLoaded = 0, nParses = 0;
    std::map<int, int> refusedFiles, refusedParses;
    for (const std::string& name : files) {
        std::string path = folder + "/" + name;
        HostileRun run = ExerciseFile(path.c_str(), plans);
        for (const std::string& problem : run.problems) ADD_FAILURE() << name << ": " << problem;
        if (run.loadError != 0) {
            ++refusedFiles[run.loadError];
            continue;
        }
        ++nLoaded;
        nParses += run.parsed;
        for (const auto& [id, count] : run.refusals) refusedParses[id] += count;
    }
    printf("corpus sweep: %zu files, %d loaded, refused by message:\n%s", files.size(), nLoaded,
           CountsByMessage(refusedFiles).c_str());
    printf("parses: %d built, refused by message:\n%s", nParses, CountsByMessage(refusedParses).c_str());
    EXPECT_GT(nLoaded, 0);
}

}  // namespace
