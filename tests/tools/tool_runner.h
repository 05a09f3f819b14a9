// Runs the built command-line tool as a child process and collects its exit
// code and both output streams, for the tool's tests.
#ifndef VASTREL_TESTS_TOOL_RUNNER_H
#define VASTREL_TESTS_TOOL_RUNNER_H

#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "../support/test_support.h"

struct ToolRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Skips the test where the tool is not built here (cross builds, tools off).
#if defined(VSX_TOOL_PATH) && !defined(_WIN32)
#define SKIP_WITHOUT_TOOL() ((void)0)
#else
#define SKIP_WITHOUT_TOOL() GTEST_SKIP() << "the command-line tool is not built for this platform"
#endif

#ifndef _WIN32
// Runs program with the arguments; the streams go to temporary files so that
// a long report cannot fill a pipe.
inline ToolRun RunProgram(const std::string& program, const std::vector<std::string>& args) {
    TempFile out(Bytes{});
    TempFile err(Bytes{});
    std::vector<std::string> words = {program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(&w[0]);
    argv.push_back(nullptr);

    ToolRun run;
    pid_t child = fork();
    if (child == 0) {
        int outFd = open(out.Path(), O_WRONLY | O_TRUNC);
        int errFd = open(err.Path(), O_WRONLY | O_TRUNC);
        if (outFd < 0 || errFd < 0) _exit(127);
        dup2(outFd, 1);
        dup2(errFd, 2);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
    run.out = ReadWholeFile(out.Path());
    run.err = ReadWholeFile(err.Path());
    return run;
}
#endif

inline ToolRun RunTool(const std::vector<std::string>& args) {
#if defined(VSX_TOOL_PATH) && !defined(_WIN32)
    return RunProgram(VSX_TOOL_PATH, args);
#else
    (void)args;
    return ToolRun{};
#endif
}

// The JSON document a successful run printed (a parse failure fails the test).
inline nlohmann::json JsonOf(const ToolRun& run) {
    EXPECT_EQ(run.exitCode, 0) << run.err;
    nlohmann::json document;
    try {
        document = nlohmann::json::parse(run.out);
    } catch (const nlohmann::json::parse_error& e) {
        ADD_FAILURE() << "not JSON: " << e.what();
    }
    return document;
}

// The measures of a track in the JSON of `vastrel show`: the first staff's
// in the readable notation (which lists staves), the track's own in the
// classic model. An empty array when the document has neither.
inline nlohmann::json StaffMeasures(const nlohmann::json& track) {
    if (track.contains("staves") && !track["staves"].empty()) return track["staves"][0].value("measures", nlohmann::json::array());
    return track.value("measures", nlohmann::json::array());
}

// Every pitch of a measure in the JSON of `vastrel show`: chord notes, and
// notes still waiting in a section before they join a voice.
inline std::vector<int> MeasurePitches(const nlohmann::json& measure) {
    std::vector<int> pitches;
    for (const auto& section : measure["sections"]) {
        for (const auto& chord : section["chords"])
            for (const auto& note : chord["notes"]) pitches.push_back(note["pitch"].get<int>());
        for (const auto& note : section["rawNotes"]) pitches.push_back(note["pitch"].get<int>());
    }
    std::sort(pitches.begin(), pitches.end());
    return pitches;
}

#endif
