// The file container and the header chunk: what loads, what is refused and
// with which message, and that no cut-off file is read past its end.
#include "../support/test_support.h"

#include "../../platform/fault_injection.h"

namespace {

// A minimal header chunk followed by one empty track chunk.
Bytes Header(uint32_t length, uint16_t format, uint16_t tracks, uint16_t division) {
    Bytes bytes = {'M', 'T', 'h', 'd'};
    AppendBigEndian32(bytes, length);
    AppendBigEndian16(bytes, format);
    AppendBigEndian16(bytes, tracks);
    AppendBigEndian16(bytes, division);
    for (uint32_t extra = 6; extra < length; ++extra) bytes.push_back(0);
    bytes.insert(bytes.end(), {'M', 'T', 'r', 'k', 0, 0, 0, 4, 0x00, 0xFF, 0x2F, 0x00});
    return bytes;
}

struct HeaderCase {
    const char* what;
    Bytes bytes;
    int error;
};

TEST(Header, RefusalsCarryTheirMessages) {
    const HeaderCase cases[] = {
        {"empty file", {}, 261},
        {"unknown identifier", {'M', 'T', 'h', 'x', 0, 0, 0, 6, 0, 1, 0, 1, 0, 96}, 262},
        {"shorter than an identifier", {'M', 'T'}, 262},
        {"length 7", Header(7, 1, 1, 96), 263},
        {"length 5", {'M', 'T', 'h', 'd', 0, 0, 0, 5, 0, 1, 0, 1, 0, 96, 0, 0}, 263},
        {"format 2", Header(6, 2, 1, 96), 264},
        {"format 0x100", Header(6, 0x100, 1, 96), 264},
        {"division 0", Header(6, 1, 1, 0), 265},
        {"header cut short", {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1}, 263},
        {"RIFF head without data", {'R', 'I', 'F', 'F', 1, 2, 3}, 262},
    };
    for (const HeaderCase& c : cases) EXPECT_EQ(LoadErrorOf(c.bytes), c.error) << c.what;
}

TEST(Header, FieldsOfAcceptedHeaders) {
    struct Case {
        uint16_t format, tracks, division;
        uint16_t expectedTracks;
    };
    const Case cases[] = {
        {0, 1, 96, 16},       // format 0 offers its 16 channels whatever it declares
        {0, 7, 96, 16},
        {1, 1, 96, 0},        // only the conductor: nothing to select
        {1, 0, 96, 65535},    // the count minus one, in 16 bits
        {1, 3, 480, 2},
        {1, 2, 0xE728, 1},    // an SMPTE division is taken as a tick count
    };
    for (const Case& c : cases) {
        ScopedMidi midi(Header(6, c.format, c.tracks, c.division));
        EXPECT_EQ(midi->wFormat, c.format);
        EXPECT_EQ(midi->wTracks, c.expectedTracks);
        EXPECT_EQ(midi->wDivision, c.division);
        EXPECT_EQ(midi->pData, midi->pBuffer);
        EXPECT_EQ(midi->nDataSize, midi->nFileSize);
        EXPECT_EQ(midi->pFirstTrack, midi->pData + 14);
    }
}

TEST(Header, RiffWrappedDataStartsTwentyBytesIn) {
    MidiFile file;
    file.AddTrack().Note(0, kQuarter, 60);
    Bytes riff = file.WrapInRiff().Build();
    // Whatever the RIFF head says is not looked at.
    for (size_t i = 4; i < 20; ++i) riff[i] = 0xEE;
    ScopedMidi midi(riff);
    EXPECT_EQ(midi->pData, midi->pBuffer + 20);
    EXPECT_EQ(midi->nDataSize, midi->nFileSize - 20);
    EXPECT_EQ(midi->wTracks, 1);
    ScopedTrack track(midi.get(), 0);
    EXPECT_EQ(track->nNotes, 1);
}

TEST(Header, EveryPrefixOfAValidFileLoadsOrIsRefusedWithAMessage) {
    MidiFile file;
    file.Conductor().Name(0, "Song").Tempo(0, 500000).TimeSignature(0, 3, 2).KeySignature(0, -2);
    file.AddTrack().Name(0, "Melody").Program(0, 5).Note(0, kQuarter, 60).Note(kQuarter, kHalf, 64);
    Bytes whole = file.Build();
    for (Bytes riffOrNot : {whole, file.WrapInRiff().Build()}) {
        for (size_t n = 0; n <= riffOrNot.size(); ++n) {
            Bytes prefix(riffOrNot.begin(), riffOrNot.begin() + static_cast<long>(n));
            TempFile temp(prefix);
            int error = ErrorIdOf([&] {
                SMidiFile* midi = VSX_LoadMidiFile(temp.Path());
                // A file that loads must parse its track or refuse it with a message.
                int parseError = ErrorIdOf([&] { VSX_ReleaseTrack(VSX_ParseTrack(midi, 0, 16, 0)); });
                VSX_ReleaseFile(midi);
                if (parseError) throw CVastrelException{"", parseError};
            });
            EXPECT_TRUE(error == 0 || (error >= 254 && error <= 274)) << n << " bytes: " << error;
            if (n < riffOrNot.size()) {
                EXPECT_NE(error, 0) << n << " bytes";
            }
        }
    }
}

TEST(Header, AFailedLoadLeavesNoHeapBehind) {
    int64_t before = PlatformLiveHeaps();
    EXPECT_EQ(LoadErrorOf(Header(6, 2, 1, 96)), 264);
    EXPECT_EQ(LoadErrorOf({'x'}), 262);
    EXPECT_EQ(PlatformLiveHeaps(), before);
}

}  // namespace
