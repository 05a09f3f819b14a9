// Every measure stage run alone leaves the model the walk leaves: a track
// built through the stage before it, then the stage alone (which gets the
// parts of the measure index it reads from the rows that list them), must
// match the track built through the stage in one walk, field for field. So
// the facts a stage finds on its way for the later ones, and the rows that
// run stages together on one pass, give what the stages alone give.
#include "../support/test_support.h"


#include <algorithm>
#include <fstream>
#include <iterator>

#include "../../notation/notation.h"
#include "../../platform/fault_injection.h"

namespace {

// A small piece of overlapping voices, made from a seed: notes on a 32nd
// grid, some short enough to beam, some long enough to cross bar lines, from
// low bass to high treble (so that clefs change and chords share out the
// strings), with key and meter changes and a note that forms a cluster.
MidiFile GeneratedPiece(uint32_t seed) {
    uint32_t state = seed * 2654435761u + 1;
    auto next = [&state](uint32_t n) {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) % n;
    };
    MidiFile file;
    file.Conductor().KeySignature(0, static_cast<int8_t>(next(15)) - 7).TimeSignature(0, 4, 2);
    file.Conductor().KeySignature(2 * kWhole, static_cast<int8_t>(next(15)) - 7);
    file.Conductor().TimeSignature(3 * kWhole, static_cast<uint8_t>(2 + next(6)), static_cast<uint8_t>(2 + next(2)));
    MidiTrack& track = file.AddTrack();
    const uint32_t k32nd = kWhole / 32;
    const uint32_t kLengths[] = {1, 1, 2, 2, 2, 3, 4, 4, 6, 8, 12, 16, 24, 40};
    uint32_t low = 36 + next(24);
    for (uint32_t i = 0; i < 70; ++i) {
        uint32_t start = next(6 * 32);
        uint32_t length = kLengths[next(std::size(kLengths))];
        uint8_t key = static_cast<uint8_t>(low + next(48));
        track.Note(start * k32nd, length * k32nd, key);
        if (next(6) == 0) track.Note(start * k32nd, length * k32nd, static_cast<uint8_t>(key + 1 + next(2)));
    }
    track.EndAt(6 * kWhole + kQuarter);
    return file;
}

struct Piece {
    std::string what;
    Bytes bytes;
};

std::vector<Piece> Pieces() {
    std::vector<Piece> pieces;
    for (uint32_t seed : {1u, 2u, 3u, 4u})
        pieces.push_back({"generated piece " + std::to_string(seed), GeneratedPiece(seed).Build()});
    // Two voices that rest together (shared and dotted rests) and a chord of
    // seconds, stem down, whose heads move left of the stem.
    pieces.push_back({"rests together and a cluster",
                      FileOf({{0, 2, C5}, {0, 2, C4}, {8, 1, E5}, {8, 1, E4}, {12, 4, A5}, {12, 4, B5}, {12, 4, C6}})
                          .Build()});
    // A few files of the corpus, the smallest first, when it is at hand.
    std::string corpus = CorpusDirectory();
    if (!corpus.empty()) {
        for (const char* name : {"gh-jazzsoft__test-2-tracks-type-1.mid", "gh-jazzsoft__test-2-tracks-type-0.mid"}) {
            std::ifstream in(corpus + "/" + name, std::ios::binary);
            if (in) pieces.push_back({name, Bytes(std::istreambuf_iterator<char>(in), {})});
        }
    }
    return pieces;
}

// The model of track t built through stage cLast in one walk, or "" when the
// parse is refused.
std::string ThroughStage(const Bytes& bytes, unsigned short t, uint8_t resolution, char cLast) {
    ScopedMidi midi(bytes);
    std::string model;
    int id = ErrorIdOf([&] {
        ScopedTrack track(midi.get(), t, resolution, 0, cLast);
        model = DescribeModel(track.get());
    });
    return id ? "" : model;
}

// The same built through the stage before cStage, then cStage alone.
std::string StageAlone(const Bytes& bytes, unsigned short t, uint8_t resolution, char cStage) {
    ScopedMidi midi(bytes);
    std::string model;
    int id = ErrorIdOf([&] {
        ScopedTrack track(midi.get(), t, resolution, 0, static_cast<char>(cStage - 1));
        if (track->pFirstMeasure) RunStages(SBuildContext{midi.get(), track.get(), resolution, 0}, cStage, cStage);
        model = DescribeModel(track.get());
    });
    return id ? "" : model;
}

}  // namespace

TEST(Stages, EachMeasureStageAloneLeavesTheModelTheWalkLeaves) {
    for (const Piece& piece : Pieces()) {
        ScopedMidi midi(piece.bytes);
        unsigned short tracks = std::min<unsigned short>(midi->wTracks, 3);
        for (unsigned short t = 0; t < tracks; ++t) {
            for (uint8_t resolution : {16, 64}) {
                for (char stage = 'C'; stage <= 'S'; ++stage) {
                    SCOPED_TRACE(testing::Message() << piece.what << ", track " << t << ", R=" << int(resolution)
                                                    << ", stage " << stage);
                    std::string walked = ThroughStage(piece.bytes, t, resolution, stage);
                    EXPECT_EQ(StageAlone(piece.bytes, t, resolution, stage), walked);
                }
            }
        }
    }
}

// The stages that run together on one pass (G with H, Q with R and S) give
// what they give one after the other.
TEST(Stages, StagesRunTogetherLeaveTheModelTheyLeaveInTurn) {
    for (const Piece& piece : Pieces()) {
        SCOPED_TRACE(piece.what);
        for (auto [first, last] : {std::pair<char, char>{'G', 'H'}, {'Q', 'S'}}) {
            SCOPED_TRACE(testing::Message() << first << " to " << last);
            std::string inTurn;
            {
                ScopedMidi midi(piece.bytes);
                if (ErrorIdOf([&] { ScopedTrack probe(midi.get(), 0, 16, 0, 'A'); })) continue;
                ScopedTrack track(midi.get(), 0, 16, 0, static_cast<char>(first - 1));
                if (!track->pFirstMeasure) continue;
                for (char stage = first; stage <= last; ++stage)
                    RunStages(SBuildContext{midi.get(), track.get(), 16, 0}, stage, stage);
                inTurn = DescribeModel(track.get());
            }
            EXPECT_EQ(inTurn, ThroughStage(piece.bytes, 0, 16, last));
        }
    }
}

// A stage run alone that grows the index (F's chords, J's silences, the
// chords listed for S) reports a failed allocation as the library's error,
// and run again with memory to spare leaves the model the walk leaves.
TEST(Stages, AStageAloneReportsAFailedAllocation) {
    Bytes bytes = GeneratedPiece(5).Build();
    for (char stage : {'F', 'J', 'S'}) {
        std::string walked = ThroughStage(bytes, 0, 64, stage);
        for (uint64_t allowed = 0;; ++allowed) {
            SCOPED_TRACE(testing::Message() << "stage " << stage << ", " << allowed << " allocations allowed");
            ASSERT_LT(allowed, 10000u);
            ScopedMidi midi(bytes);
            ScopedTrack track(midi.get(), 0, 64, 0, static_cast<char>(stage - 1));
            PlatformFailAfter(allowed);
            int id = ErrorIdOf([&] { RunStages(SBuildContext{midi.get(), track.get(), 64, 0}, stage, stage); });
            PlatformStopFailing();
            if (id == 0) {
                EXPECT_EQ(DescribeModel(track.get()), walked);
                break;
            }
            EXPECT_TRUE(id == kMsgNoMemory || id == kMsgNoTransientHeap) << id;
        }
    }
}
