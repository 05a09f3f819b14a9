// Drives one file through the exported calls the way a score viewer does
// when its user opens whatever file lies around: load it, parse every
// selectable track at several grids and transpositions and keep the tracks
// side by side, read every record of the model, follow playback across each
// track, past its end and back, then release everything. What goes wrong is
// collected as text rather than failed on the spot, so the fuzz target can
// abort, the corpus sweep can count and the damaged-file tests can report.
//
// Header only: the fuzz target is built from the library sources directly,
// without the test programs' CMake targets.
#ifndef VASTREL_TESTS_HOSTILE_INPUT_H
#define VASTREL_TESTS_HOSTILE_INPUT_H

#include <limits.h>
#include <stdint.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "../../core/module_state.h"
#include "../../platform/fault_injection.h"
#include "../../platform/platform.h"
#include "../support/model_invariants.h"

// One parse of every track: the grid and the transposition, and the call.
// A plan of the readable call hands the library the options record as a
// caller built against some header would: exactly its bytes (cbSize first)
// in a block of their own, so that a read past them is seen; or a null
// record (the preset).
struct ParsePlan {
    uint8_t resolution;
    int8_t transpose;
    bool readable = false;         // VSX_ParseTrackWithOptions instead of VSX_ParseTrack
    std::vector<uint8_t> options = {};  // the caller's record; empty: a null pointer

    const SNotationOptions* Options() const {
        return options.empty() ? nullptr : reinterpret_cast<const SNotationOptions*>(options.data());
    }
    STrack* Parse(SMidiFile* file, unsigned short track) const {
        const char shift = static_cast<char>(transpose);
        return readable ? VSX_ParseTrackWithOptions(file, track, resolution, shift, Options())
                        : VSX_ParseTrack(file, track, resolution, shift);
    }
    // The tracks the plan's call offers.
    unsigned short Tracks(SMidiFile* file) const { return readable ? VSX_CountTracks(file, Options()) : file->wTracks; }
    std::string Name() const {
        std::string name = "R " + std::to_string(resolution) + " transposed " + std::to_string(transpose);
        if (!readable) return name;
        if (options.empty()) return name + " readable (preset)";
        uint32_t cbSize = 0;
        memcpy(&cbSize, options.data(), sizeof cbSize);
        return name + " readable (options of " + std::to_string(cbSize) + " bytes)";
    }
};

// Every grid with every transposition.
inline std::vector<ParsePlan> FullPlans() {
    std::vector<ParsePlan> plans;
    for (uint8_t r : {2, 4, 8, 16, 32, 64})
        for (int8_t t : {0, 7, -12}) plans.push_back({r, t});
    return plans;
}

// A viewer offers at most this many tracks of one file.
constexpr unsigned kMostTracksTried = 16;

// Tracks of more sections than this are not kept side by side.
constexpr int32_t kMostSectionsKept = 100000;

struct HostileRun {
    int loadError = 0;                  // message id that refused the file; 0 when it loaded
    int parsed = 0;                     // parses that returned a track
    std::map<int, int> refusals;        // parses refused, by message id
    std::vector<std::string> problems;  // every broken rule; empty when the library behaved
    uint64_t checksum = 0;              // of everything read, so that no read is optimised away
};

namespace hostile {

constexpr size_t kMostProblems = 60;

// Where the checksum of every read goes, so that the compiler keeps the reads
// (and the sanitizers see them).
inline volatile uint64_t g_nReadSink = 0;

inline void Problem(HostileRun& run, const std::string& what) {
    if (run.problems.size() < kMostProblems) run.problems.push_back(what);
}

// A refusal must carry an id of the error table and that id's text.
inline void CheckRefusal(HostileRun& run, const CVastrelException& e, const std::string& where) {
    int id = e.nMessageId;
    bool known = id == 230 || id == 231 || (id >= 254 && id <= 274);
    if (!known) {
        Problem(run, where + ": refused with message id " + std::to_string(id) + ", which is not in the table");
        return;
    }
    if (memchr(e.szMessage, '\0', sizeof e.szMessage) == nullptr) {
        Problem(run, where + ": message " + std::to_string(id) + " is not terminated");
        return;
    }
    char expected[256];
    PlatformLoadString(static_cast<unsigned>(id), expected, sizeof expected);
    if (expected[0] == '\0' || strcmp(expected, e.szMessage) != 0)
        Problem(run, where + ": message " + std::to_string(id) + " reads \"" + e.szMessage + "\"");
}

// A double's bits: any value, NaN included, may be summed.
inline uint64_t BitsOf(double d) {
    uint64_t bits;
    memcpy(&bits, &d, sizeof bits);
    return bits;
}

// Reads every field of every record the caller may read, following the
// lists no further than a sound model could reach (a cycle is the
// invariant checker's to report).
inline uint64_t WalkTrack(const STrack* track) {
    uint64_t sum = static_cast<uint64_t>(track->nMeasures) + track->nSections + track->nNotes + track->bProgram +
                   track->bResolution + track->dwEndTime;
    if (track->pszName) sum += strlen(track->pszName);
    if (track->pszInstrument) sum += strnlen(track->pszInstrument, 128);
    int nMeasures = 0;
    for (const SMeasure* m = track->pFirstMeasure; m && nMeasures <= track->nMeasures; m = m->pNext, ++nMeasures) {
        sum += static_cast<uint64_t>(m->nClef) + m->bNumerator + m->bDenominator + m->wTempo + m->bVoices + m->dwTime +
               m->bSections + static_cast<uint8_t>(m->cKey) + m->bTiedOut;
        int nGlyphs = 0;
        for (const SKeyAccidental* a = m->pKeyAccidentals; a && nGlyphs < 16; a = a->pNext, ++nGlyphs)
            sum += static_cast<uint64_t>(a->nKind) + a->bPosition;
        int nSections = 0;
        for (const SSection* s = m->pSections; s && nSections < 256; s = s->pNext, ++nSections) {
            sum += s->bHeadsLeft + s->dwTime + (s->pRawNotes ? 1 : 0);
            int nChords = 0;
            for (const SChord* c = s->pChords; c && nChords < 256; c = c->pNext, ++nChords) {
                sum += c->bVoice + c->bValueLog2 + c->bStemUp + c->bBeamPrev + c->bBeamNext + c->bRestStep +
                       c->bDotted + c->bValue + c->bMark + c->bSharedRest + BitsOf(c->dPosition);
                int nNotes = 0;
                for (const SNote* n = c->pNotes; n && nNotes < 1024; n = n->pNext, ++nNotes)
                    sum += static_cast<uint8_t>(n->cStep) + static_cast<uint64_t>(n->nAccidental) + n->bDotted +
                           n->bTieIn + n->bTieOut + n->bHeadFlipped + n->bString + n->bFret + n->bPitch + n->bValue +
                           (n->pPrev ? 1 : 0);
            }
        }
    }
    return sum;
}

// The loaded file's own record: the header fields and the conductor maps.
inline uint64_t CheckFile(HostileRun& run, const SMidiFile* file) {
    uint64_t sum = 0;
    if (file->pData != file->pBuffer && file->pData != file->pBuffer + 20)
        Problem(run, "pData is neither the buffer nor 20 bytes in");
    if (file->nDataSize + static_cast<uint64_t>(file->pData - file->pBuffer) != file->nFileSize)
        Problem(run, "nDataSize does not match the file size");
    if (file->pFirstTrack != file->pData + 14) Problem(run, "pFirstTrack is not 14 bytes after pData");
    if (file->wFormat > 1 || file->wDivision == 0) Problem(run, "a format or division the header check refuses");
    if (file->wFormat == 0 && file->wTracks != 16) Problem(run, "a format 0 file does not offer 16 channels");
    if (!file->pszName)
        Problem(run, "the file has no name");
    else
        sum += strlen(file->pszName);
    const uint8_t flags[] = {file->bMeter2,  file->bMeter4,  file->bMeter8,
                             file->bMeter16, file->bMeter32, file->bMeter64};
    bool anyMeter = false;
    for (uint8_t flag : flags) {
        if (flag > 1) Problem(run, "a meter flag other than 0 or 1");
        anyMeter |= flag == 1;
    }
    if (!anyMeter) Problem(run, "a file with incompatible meters was loaded");
    for (const STimeSignature* p = file->pTimeSignatures; p; p = p->pNext) {
        if (p->bDenominator < 2 || p->bDenominator > 64 || (p->bDenominator & (p->bDenominator - 1)))
            Problem(run, "time signature denominator " + std::to_string(p->bDenominator));
        sum += p->dwTime + p->bNumerator;
    }
    for (const SKeySignature* p = file->pKeySignatures; p; p = p->pNext)
        sum += p->dwTime + static_cast<uint8_t>(p->cKey);
    for (const STempo* p = file->pTempos; p; p = p->pNext) {
        if (p->wTempo < 3 || p->wTempo > 65217) Problem(run, "tempo " + std::to_string(p->wTempo));
        sum += p->dwTime + p->wTempo;
    }
    return sum;
}

// A transposed key keeps the whole byte range 0..255 (only keys pushed
// outside it leave the grid), so a pitch above the MIDI range of 127 is no
// fault of the model; the shared checker reports it all the same.
inline bool IsByteRangePitch(const std::string& violation) {
    size_t at = violation.rfind(": pitch ");
    if (at == std::string::npos) return false;
    std::string number = violation.substr(at + 8);
    if (number.empty() || number.size() > 3 || number.find_first_not_of("0123456789") != std::string::npos)
        return false;
    int pitch = std::stoi(number);
    return pitch >= 128 && pitch <= 255;
}

// One lookup: the answer must lie in the track, on a linked section, with a
// fraction within 0.0 to 1.0.
inline void LookUp(HostileRun& run, SMidiFile* file, STrack* track, long musicTime, const std::string& where) {
    SMeasure* measure = nullptr;
    SSection* section = nullptr;
    float fraction = -1.0f;
    VSX_GetPositionByMusicTime(file, track, musicTime, &measure, &section, &fraction);
    if (!(fraction >= 0.0f && fraction <= 1.0f))
        Problem(run, where + " at music time " + std::to_string(musicTime) + ": fraction " + std::to_string(fraction));
    if (!track->pFirstMeasure) return;  // nothing to point at; what is written then is the library's choice
    bool found = false;
    int nMeasures = 0;
    for (SMeasure* m = track->pFirstMeasure; m && !found && nMeasures <= track->nMeasures; m = m->pNext, ++nMeasures) {
        if (m != measure) continue;
        int nSections = 0;
        for (SSection* s = m->pSections; s && !found && nSections < 256; s = s->pNext, ++nSections)
            found = s == section;
    }
    if (!found)
        Problem(run, where + " at music time " + std::to_string(musicTime) +
                         ": the answer is not a linked section of the track");
}

// Music time of a tick, rounded up (768 units a quarter).
inline int64_t MusicTimeAt(const SMidiFile* file, int64_t tick) {
    return (tick * 768 + file->wDivision - 1) / file->wDivision;
}

// Playback across every track, past its end, backwards, at the extremes of a
// 32-bit music time, and alternating between tracks so the one-entry cache
// keeps changing hands.
inline void FollowPlayback(HostileRun& run, SMidiFile* file, const std::vector<STrack*>& tracks,
                           const std::string& where) {
    const int64_t limit = INT32_MAX / file->wDivision;  // music time × division stays in 32 bits
    for (size_t t = 0; t < tracks.size(); ++t) {
        STrack* track = tracks[t];
        if (!track) continue;
        std::string at = where + " track " + std::to_string(t);
        int64_t end = MusicTimeAt(file, track->dwEndTime);
        const int kSteps = 24;
        for (int i = 0; i <= kSteps + 2; ++i) {
            int64_t m = end * i / kSteps;
            if (m <= limit) LookUp(run, file, track, static_cast<long>(m), at);
        }
        for (int64_t m : {int64_t{-1}, int64_t{INT32_MIN}, end / 2, int64_t{0}, limit, end + 1})
            if (m <= limit) LookUp(run, file, track, static_cast<long>(m), at);
    }
    for (int i = 0; i < 8; ++i) {
        for (size_t t = 0; t < tracks.size(); ++t) {
            if (!tracks[t]) continue;
            int64_t m = MusicTimeAt(file, tracks[t]->dwEndTime) * i / 6;
            if (m <= limit)
                LookUp(run, file, tracks[t], static_cast<long>(m), where + " alternating, track " + std::to_string(t));
        }
    }
}

}  // namespace hostile

// Limits of one exercise, for callers that must stay fast whatever the input.
struct ExerciseLimits {
    bool checkInvariants = true;  // the finished model's invariants are rules too
    // The model checker follows playback to every section and finds each
    // answer by a walk from the first measure, so its cost grows with
    // sections times measures: tracks beyond this are read, not checked.
    uint64_t invariantBudget = UINT64_MAX;
    // Allocations the library may make for the whole exercise; the ones after
    // fail, so a file that asks for millions of sections ends as a refusal
    // for want of memory (which must then be clean) rather than a slow parse.
    uint64_t allocationBudget = UINT64_MAX;
    // Grid slots the parses may lay out together. Each parse walks its grid
    // several times whatever it allocates, so once an input's grids add up
    // to this the parses left are skipped.
    uint64_t slotBudget = UINT64_MAX;
    // Called with the tracks of every plan once playback has been followed,
    // while the file is still loaded (null where a parse was refused or a
    // huge track was already released): what a viewer does next with them,
    // such as exporting them, goes here and reports its faults in the run.
    void (*useTracks)(HostileRun& run, const SMidiFile& file, const std::vector<STrack*>& tracks,
                      const std::string& where) = nullptr;
};

// Loads the file at path and puts it through every plan.
inline HostileRun ExerciseFile(const char* path, const std::vector<ParsePlan>& plans,
                               const ExerciseLimits& limits = ExerciseLimits()) {
    using namespace hostile;
    HostileRun run;
    const int64_t heapsBefore = PlatformLiveHeaps();
    if (limits.allocationBudget != UINT64_MAX) PlatformFailAfter(limits.allocationBudget);
    SMidiFile* file = nullptr;
    try {
        file = VSX_LoadMidiFile(path);
    } catch (const CVastrelException& e) {
        PlatformStopFailing();
        run.loadError = e.nMessageId;
        CheckRefusal(run, e, "load");
        if (PlatformLiveHeaps() != heapsBefore) Problem(run, "a refused load leaves a heap behind");
        return run;
    }
    run.checksum += CheckFile(run, file);
    const uint32_t nFileSize = file->nFileSize, nDataSize = file->nDataSize;
    std::vector<unsigned char> before;
    uint64_t slotsLaidOut = 0;

    for (const ParsePlan& plan : plans) {
        std::string where = plan.Name();
        unsigned nOffered = 0;
        try {
            nOffered = plan.Tracks(file);
        } catch (const CVastrelException& e) {
            ++run.refusals[e.nMessageId];
            CheckRefusal(run, e, where + " counting tracks");
        }
        const unsigned nTracks = nOffered < kMostTracksTried ? nOffered : kMostTracksTried;
        std::vector<STrack*> tracks(nTracks, nullptr);
        for (unsigned t = 0; t < nTracks && slotsLaidOut < limits.slotBudget; ++t) {
            std::string at = where + " track " + std::to_string(t);
            // Only the last track may lengthen its end-of-track event in the buffer.
            bool last = file->wFormat == 0 || t + 1 == nOffered;
            if (!last) before.assign(file->pBuffer, file->pBuffer + nFileSize + 3);
            try {
                tracks[t] = plan.Parse(file, static_cast<unsigned short>(t));
                ++run.parsed;
                if (g_hTransientHeap) Problem(run, at + ": the grid outlives the parse");
            } catch (const CVastrelException& e) {
                ++run.refusals[e.nMessageId];
                CheckRefusal(run, e, at);
                VSX_ReleaseTrack(nullptr);
                if (g_pCurrentTrack || g_hTransientHeap)
                    Problem(run, at + ": a refused parse leaves a current track or grid");
            }
            if (!last && memcmp(before.data(), file->pBuffer, before.size()) != 0)
                Problem(run, at + ": parsing a track that is not the last changed the file buffer");
            slotsLaidOut += g_nSlots;  // the grid of this parse, refused or not
            if (file->nFileSize != nFileSize || file->nDataSize != nDataSize)
                Problem(run, at + ": the file's sizes changed");
            if (!tracks[t]) continue;

            run.checksum += WalkTrack(tracks[t]);
            uint64_t cost = static_cast<uint64_t>(tracks[t]->nSections) * static_cast<uint64_t>(tracks[t]->nMeasures);
            if (limits.checkInvariants && cost <= limits.invariantBudget)
                for (const std::string& violation : ModelInvariantViolations(file, tracks[t]))
                    if (!IsByteRangePitch(violation)) Problem(run, at + ": " + violation);
            // A huge track (a few bytes of delta time can ask for millions of
            // sections) is followed and released at once rather than kept.
            if (tracks[t]->nSections > kMostSectionsKept) {
                std::vector<STrack*> alone(nTracks, nullptr);
                alone[t] = tracks[t];
                FollowPlayback(run, file, alone, where);
                VSX_ReleaseTrack(tracks[t]);
                tracks[t] = nullptr;
            }
        }
        FollowPlayback(run, file, tracks, where);
        if (limits.useTracks) limits.useTracks(run, *file, tracks, where);
        bool lastPlan = &plan == &plans.back();
        if (lastPlan) {
            // Nothing in a track points into its file: the tracks of the last
            // plan are read once more after the file is gone.
            VSX_ReleaseFile(file);
            file = nullptr;
            for (STrack* track : tracks)
                if (track) run.checksum += WalkTrack(track);
        }
        // Released in reverse order of parsing, so the current track is released last of all.
        for (unsigned t = nTracks; t-- > 0;) VSX_ReleaseTrack(tracks[t]);
        if (PlatformLiveHeaps() != heapsBefore + (lastPlan ? 0 : 1))
            Problem(run, where + ": released tracks leave heaps behind");
    }
    g_nReadSink = g_nReadSink + run.checksum;
    VSX_ReleaseFile(file);
    PlatformStopFailing();
    if (PlatformLiveHeaps() != heapsBefore) Problem(run, "a released file leaves heaps behind");
    return run;
}

#endif
