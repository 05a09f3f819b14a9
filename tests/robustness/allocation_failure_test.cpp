// Out of memory at every allocation of a load and of a parse, one after the
// other: each failure is reported with its table message, no record is
// half-returned, no heap or block is left behind, and the library goes on
// working for the next call, for other files and for tracks already parsed.
#include <string.h>

#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "../../core/errors.h"
#include "../../core/module_state.h"
#include "../../platform/fault_injection.h"
#include "../support/test_support.h"

namespace {

const uint32_t W = kWhole, H = kHalf, Q = kQuarter, E = kEighth, S = kSixteenth;

// The messages of failed allocations, exactly as the table has them.
const std::map<int, std::string> kMemoryMessages = {
    {231, "Couldn't allocate memory for MIDI buffer!"},
    {259, "Couldn't create heap for note buffer!"},
    {260, "Couldn't acclocate memory for track structure!"},
    {267, "Couldn't allocate memory!"},
    {270, "Couldn't create heap for transient buffer!"},
    {271, "Couldn't allocate memory fot transient buffer sections!"},
    {272, "Couldn't allocate memory fot transient buffer notes!"},
    {273, "Coludn't allocate momery for measure sections!"},
};

// A band in three parts, made to reach every kind of record: a named
// conductor with changes of tempo, meter and key; a guitar part with chords,
// two voices, beamed runs, seconds, a dotted note and ties over bar lines; a
// click track without notes; and a bass part, the last track, that ends in
// the middle of a measure so that its end-of-track event is rewritten.
MidiFile BandFile() {
    MidiFile file;
    file.Conductor()
        .Name(0, "Band")
        .Tempo(0, 500000)
        .TimeSignature(0, 4, 2)
        .KeySignature(0, 2)
        .TimeSignature(2 * W, 3, 2)
        .KeySignature(2 * W, -3)
        .Tempo(2 * W, 400000)
        .TimeSignature(2 * W + 2 * 3 * Q, 6, 3);
    MidiTrack& guitar = file.AddTrack().Name(0, "Guitar").Program(0, 25);
    for (uint32_t i = 0; i < 8; ++i) guitar.Note(i * E, E, static_cast<uint8_t>(64 + i));
    guitar.Chord(W, H, {52, 59, 64, 67}).Note(W, Q, 76).Note(W + Q, Q, 77);  // a held chord under a melody
    guitar.Chord(W + H, Q, {60, 62}).Note(W + 3 * Q, H, 69);                 // a second; tied over the bar line
    guitar.Note(2 * W + Q, 3 * E, 71).Note(2 * W + Q + 3 * E, S, 72);
    guitar.Chord(2 * W + 3 * Q, 3 * Q + 3 * E, {45, 57, 88});  // into 6/8, over two bar lines
    file.AddTrack().Name(0, "Click").Controller(0, 7, 90).EndAt(W);
    MidiTrack& bass = file.AddTrack().Name(0, "Bass").Program(0, 33);
    bass.Note(0, W + Q, 28).Note(W + H, Q, 31).Note(2 * W, 3 * Q, 33).Note(2 * W + 3 * Q, Q, 35);
    return file;
}

// Format 0: two channels of one chunk under running status.
MidiFile ChannelsFile() {
    MidiFile file(96, 0);
    MidiTrack& chunk = file.Conductor().Name(0, "Duet").TimeSignature(0, 3, 2).KeySignature(0, -1).UseRunningStatus();
    chunk.Program(0, 40, 0).Program(0, 42, 9);
    for (uint32_t i = 0; i < 6; ++i) chunk.Note(i * Q / 2, Q / 2, static_cast<uint8_t>(72 + i), 0);
    chunk.Chord(0, 3 * Q + Q, {36, 43}, 9).Note(4 * Q, H, 38, 9);
    return file;
}

// Everything a caller can read of a track, as text: two tracks with the same
// text are the same model.
std::string Fingerprint(const STrack* track) {
    std::ostringstream out;
    out << (track->pszName ? track->pszName : "-") << '|' << (track->pszInstrument ? track->pszInstrument : "-") << '|'
        << track->nMeasures << ' ' << track->nSections << ' ' << track->nNotes << ' ' << int(track->bProgram) << ' '
        << int(track->bResolution) << ' ' << track->dwEndTime << '\n';
    for (SMeasure* m : Measures(track)) {
        out << "M" << m->dwTime << ' ' << m->nClef << ' ' << int(m->bNumerator) << '/' << int(m->bDenominator) << ' '
            << m->wTempo << ' ' << int(m->bVoices) << ' ' << int(m->bSections) << ' ' << int(m->cKey) << ' '
            << int(m->bTiedOut) << " keys";
        for (SKeyAccidental* a = m->pKeyAccidentals; a; a = a->pNext)
            out << ' ' << a->nKind << '@' << int(a->bPosition);
        out << '\n';
        for (SSection* s : LinkedSections(m)) {
            out << " S" << s->dwTime << ' ' << int(s->bHeadsLeft) << (s->pRawNotes ? " raw" : "") << '\n';
            for (SChord* c : Chords(s)) {
                out << "  C" << int(c->bVoice) << ' ' << int(c->bValue) << '^' << int(c->bValueLog2) << ' '
                    << int(c->bDotted) << int(c->bStemUp) << int(c->bBeamPrev) << int(c->bBeamNext) << ' '
                    << int(c->bRestStep) << ' ' << int(c->bSharedRest) << ' ' << c->dPosition;
                for (SNote* n : Notes(c))
                    out << " [" << int(n->bPitch) << ' ' << int(n->cStep) << ' ' << n->nAccidental << ' '
                        << int(n->bValue) << int(n->bDotted) << int(n->bTieIn) << int(n->bTieOut)
                        << int(n->bHeadFlipped) << ' ' << int(n->bString) << ':' << int(n->bFret) << ']';
                out << '\n';
            }
        }
    }
    return out.str();
}

// The file record a caller reads, as text.
std::string Fingerprint(const SMidiFile* file) {
    std::ostringstream out;
    out << file->pszName << '|' << file->wFormat << ' ' << file->wTracks << ' ' << file->wDivision << ' '
        << int(file->bMeter2) << int(file->bMeter4) << int(file->bMeter8) << int(file->bMeter16) << int(file->bMeter32)
        << int(file->bMeter64);
    for (STimeSignature* p = file->pTimeSignatures; p; p = p->pNext)
        out << " T" << p->dwTime << ':' << int(p->bNumerator) << '/' << int(p->bDenominator);
    for (SKeySignature* p = file->pKeySignatures; p; p = p->pNext) out << " K" << p->dwTime << ':' << int(p->cKey);
    for (STempo* p = file->pTempos; p; p = p->pNext) out << " Q" << p->dwTime << ':' << p->wTempo;
    return out.str();
}

// What the private heaps hold: live heaps and bytes handed out.
struct HeapState {
    int64_t heaps;
    uint64_t bytes;
    bool operator==(const HeapState& o) const { return heaps == o.heaps && bytes == o.bytes; }
};

HeapState Heaps() { return {PlatformLiveHeaps(), PlatformBytesAllocated()}; }

std::ostream& operator<<(std::ostream& out, const HeapState& h) {
    return out << h.heaps << " heaps, " << h.bytes << " bytes";
}

struct Failure {
    int id = 0;  // 0: the call succeeded
    std::string text;
};

// Runs call with every allocation after the first nAllowed failing.
template <typename Call>
Failure FailingAfter(uint64_t nAllowed, Call call) {
    Failure failure;
    PlatformFailAfter(nAllowed);
    try {
        call();
    } catch (const CVastrelException& e) {
        failure.id = e.nMessageId;
        failure.text = e.szMessage;
    } catch (...) {
        PlatformStopFailing();
        throw;
    }
    PlatformStopFailing();
    return failure;
}

// Allocations (heap creations included) that a call makes when none fails.
template <typename Call>
uint64_t AllocationsOf(Call call) {
    uint64_t before = PlatformAllocationCount();
    call();
    return PlatformAllocationCount() - before;
}

void ExpectTableMessage(const Failure& failure, const std::string& where) {
    auto known = kMemoryMessages.find(failure.id);
    if (known == kMemoryMessages.end()) {
        ADD_FAILURE() << where << ": message " << failure.id << " \"" << failure.text << "\" is not a memory failure";
        return;
    }
    EXPECT_EQ(failure.text, known->second) << where;
}

// ---- Loading ------------------------------------------------------------------------

struct LoadCase {
    const char* name;
    Bytes bytes;
};

// The file's heap, its record and its buffer come first, all reported as no
// memory for the buffer; every conductor entry and the name after them.
TEST(AllocationFailure, EveryAllocationOfALoadFailsCleanly) {
    const LoadCase cases[] = {
        {"format 1", BandFile().Build()},
        {"format 0", ChannelsFile().Build()},
        {"RIFF", BandFile().WrapInRiff().Build()},
    };
    for (const LoadCase& c : cases) {
        TempFile temp(c.bytes);
        std::string reference;
        uint64_t nClean = AllocationsOf([&] {
            ScopedMidi midi(c.bytes);
            reference = Fingerprint(midi.get());
        });
        ASSERT_GT(nClean, 4u) << c.name;
        const HeapState before = Heaps();
        for (uint64_t n = 0;; ++n) {
            std::string where = std::string(c.name) + ", allocation " + std::to_string(n) + " fails";
            SMidiFile* loaded = nullptr;
            Failure failure = FailingAfter(n, [&] { loaded = VSX_LoadMidiFile(temp.Path()); });
            if (failure.id == 0) {
                EXPECT_EQ(n, nClean) << c.name << ": a load succeeded before its last allocation";
                EXPECT_EQ(Fingerprint(loaded), reference) << where;
                VSX_ReleaseFile(loaded);
                EXPECT_EQ(Heaps(), before) << where;
                break;
            }
            EXPECT_EQ(loaded, nullptr) << where;
            EXPECT_EQ(failure.id, n < 3 ? kMsgNoMemoryForBuffer : kMsgNoMemory) << where;
            ExpectTableMessage(failure, where);
            EXPECT_EQ(Heaps(), before) << where << ": the failed load leaves memory behind";
            ASSERT_LT(n, nClean) << c.name << ": allocations keep failing past a clean load's count";
        }
    }
}

// ---- Parsing -------------------------------------------------------------------------

struct ParseCase {
    const char* name;
    Bytes bytes;
    unsigned short track;
    unsigned char resolution;
    char transpose;
    bool hasNotes;
};

// The track's heap and record come first; a track with notes then creates
// its grid (transient heap, slots, notes) before any other allocation.
const int kLeadingFailures[] = {kMsgNoTrackHeap, kMsgNoTrackRecord, kMsgNoTransientHeap, kMsgNoTransientSlots,
                                kMsgNoTransientNotes};

std::vector<ParseCase> ParseCases() {
    Bytes band = BandFile().Build(), channels = ChannelsFile().Build(), riff = BandFile().WrapInRiff().Build();
    return {
        {"guitar", band, 0, 16, 0, true},
        {"guitar on a fine grid, up a fifth", band, 0, 64, 7, true},
        {"click track without notes", band, 1, 16, 0, false},
        {"bass, the last track, down an octave", band, 2, 8, -12, true},
        {"bass on a 32nd grid", band, 2, 32, 0, true},
        {"bass behind a RIFF head", riff, 2, 16, 0, true},
        {"format 0, first channel", channels, 0, 16, 0, true},
        {"format 0, channel 10 on a quarter grid", channels, 9, 4, 7, true},
    };
}

// Fails each allocation of the parse in turn, on a freshly loaded file each
// time. After every failure: the message is the table's, nothing of the
// track is left, and the same parse, now without failures, builds the same
// model as a parse that never failed; a track of another file parsed
// beforehand is untouched and still answers position lookups.
TEST(AllocationFailure, EveryAllocationOfAParseFailsCleanly) {
    ScopedMidi otherFile(BandFile());
    ScopedTrack other(otherFile.get(), 0, 16, 0);
    const std::string otherPrint = Fingerprint(other.get());

    for (const ParseCase& c : ParseCases()) {
        // A first parse of a fresh file, and a second one after it: parsing
        // the last track rewrites its end in the buffer, and a parse that
        // failed after the rewrite leaves the second kind of file behind.
        std::string first, second;
        uint64_t nClean = 0;
        {
            ScopedMidi midi(c.bytes);
            nClean = AllocationsOf([&] {
                ScopedTrack track(midi.get(), c.track, c.resolution, c.transpose);
                first = Fingerprint(track.get());
            });
            ScopedTrack again(midi.get(), c.track, c.resolution, c.transpose);
            second = Fingerprint(again.get());
        }

        std::set<int> seen;
        for (uint64_t n = 0;; ++n) {
            std::string where = std::string(c.name) + ", allocation " + std::to_string(n) + " fails";
            ScopedMidi midi(c.bytes);
            const HeapState before = Heaps();
            STrack* parsed = nullptr;
            Failure failure =
                FailingAfter(n, [&] { parsed = VSX_ParseTrack(midi.get(), c.track, c.resolution, c.transpose); });
            if (failure.id == 0) {
                EXPECT_EQ(n, nClean) << c.name << ": a parse succeeded before its last allocation";
                EXPECT_EQ(Fingerprint(parsed), first) << where;
                VSX_ReleaseTrack(parsed);
                EXPECT_EQ(Heaps(), before) << where;
                break;
            }
            seen.insert(failure.id);
            EXPECT_EQ(parsed, nullptr) << where;
            ExpectTableMessage(failure, where);
            size_t nLeading = c.hasNotes ? std::size(kLeadingFailures) : 2;
            if (n < nLeading) {
                EXPECT_EQ(failure.id, kLeadingFailures[n]) << where;
            }

            VSX_ReleaseTrack(nullptr);
            EXPECT_EQ(g_pCurrentTrack, nullptr) << where;
            EXPECT_EQ(g_hTransientHeap, nullptr) << where;
            EXPECT_EQ(Heaps(), before) << where << ": the failed parse leaves memory behind";

            bool rewritten = memcmp(midi->pBuffer, c.bytes.data(), c.bytes.size()) != 0;
            {
                ScopedTrack retry(midi.get(), c.track, c.resolution, c.transpose);
                EXPECT_EQ(Fingerprint(retry.get()), rewritten ? second : first) << where << ", then parsed again";
            }
            EXPECT_EQ(Fingerprint(other.get()), otherPrint) << where;
            SMeasure* measure = nullptr;
            SSection* section = nullptr;
            float fraction = -1;
            VSX_GetPositionByMusicTime(otherFile.get(), other.get(), 768, &measure, &section, &fraction);
            EXPECT_EQ(measure, other->pFirstMeasure) << where;
            EXPECT_EQ(section ? section->dwTime : 0, Q) << where << ": the eighth note one quarter in";
            EXPECT_EQ(fraction, 0.0f) << where;
            ASSERT_LT(n, nClean) << c.name << ": allocations keep failing past a clean parse's count";
        }
        // Every kind of allocation failure was met on the way.
        std::set<int> expected = {kMsgNoTrackHeap, kMsgNoTrackRecord};
        if (c.hasNotes)
            expected.insert(
                {kMsgNoTransientHeap, kMsgNoTransientSlots, kMsgNoTransientNotes, kMsgNoMeasureSections, kMsgNoMemory});
        EXPECT_EQ(seen, expected) << c.name;
    }
}

}  // namespace
