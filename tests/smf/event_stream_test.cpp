// Variable-length quantities, event skipping and running status over a
// bounded cursor.
#include "../../smf/event_stream.h"

#include "../support/test_support.h"

namespace {

SByteCursor Over(Bytes& bytes) { return SByteCursor{bytes.data(), bytes.data() + bytes.size()}; }

struct VarLenCase {
    Bytes bytes;
    uint32_t value;
    size_t length;
    bool shortest;  // the form the writer produces
};

const VarLenCase kVarLenCases[] = {
    {{0x00}, 0, 1, true},
    {{0x7F}, 127, 1, true},
    {{0x81, 0x00}, 128, 2, true},
    {{0xFF, 0x7F}, 16383, 2, true},
    {{0x81, 0x80, 0x80, 0x00}, 2097152, 4, true},
    {{0xFF, 0xFF, 0xFF, 0x7F}, 268435455, 4, true},
    {{0x40, 0x99}, 64, 1, false},  // stops at the first byte with the top bit clear
    // A fifth group shifts the oldest bits out of the 32-bit value.
    {{0x8F, 0xFF, 0xFF, 0xFF, 0x7F}, 0xFFFFFFFF, 5, false},
};

TEST(VarLen, ReadsValueAndAdvancesPastLastByte) {
    for (const VarLenCase& c : kVarLenCases) {
        Bytes bytes = c.bytes;
        SByteCursor cursor = Over(bytes);
        EXPECT_EQ(ReadVarLen(cursor), c.value);
        EXPECT_EQ(static_cast<size_t>(cursor.pNext - bytes.data()), c.length);
    }
}

TEST(VarLen, WritesTheShortestForm) {
    for (const VarLenCase& c : kVarLenCases) {
        if (!c.shortest) continue;
        unsigned char buffer[8] = {};
        unsigned char* p = buffer;
        WriteVarLen(c.value, p);
        EXPECT_EQ(Bytes(buffer, p), c.bytes) << c.value;
        EXPECT_EQ(VarLenSize(c.value), c.length);
    }
}

TEST(VarLen, AQuantityCutOffByTheEndOfDataIsRefused) {
    Bytes bytes = {0x81, 0x80};
    SByteCursor cursor = Over(bytes);
    EXPECT_EQ(ErrorIdOf([&] { ReadVarLen(cursor); }), 266);
}

struct SkipCase {
    const char* what;
    Bytes bytes;  // status first, then the data
    size_t stepped;  // bytes stepped over after the status
    unsigned char result;
};

TEST(SkipEvent, StepsOverDataAndReturnsRunningStatus) {
    const SkipCase cases[] = {
        {"note-on", {0x90, 60, 100, 0xAA}, 2, 0x90},
        {"program change", {0xC5, 7, 0xAA}, 1, 0xC5},
        {"channel pressure", {0xD0, 7, 0xAA}, 1, 0xD0},
        {"pitch bend", {0xE3, 0, 64, 0xAA}, 2, 0xE3},
        {"controller", {0xB0, 7, 100, 0xAA}, 2, 0xB0},
        {"system exclusive", {0xF0, 3, 1, 2, 3, 0xAA}, 4, 0},
        {"escape", {0xF7, 1, 9, 0xAA}, 2, 0},
        {"text meta", {0xFF, 0x01, 5, 'h', 'e', 'l', 'l', 'o', 0xAA}, 7, 0},
        {"end of track", {0xFF, 0x2F, 0x00, 0xAA}, 2, 0xFF},
        {"timing clock", {0xF8, 1, 2, 0xAA}, 2, 0},
        {"song select", {0xF3, 1, 2, 0xAA}, 2, 0},
    };
    for (const SkipCase& c : cases) {
        Bytes bytes = c.bytes;
        SByteCursor cursor = Over(bytes);
        cursor.pNext++;  // past the status
        EXPECT_EQ(SkipEvent(bytes[0], cursor), c.result) << c.what;
        EXPECT_EQ(static_cast<size_t>(cursor.pNext - bytes.data() - 1), c.stepped) << c.what;
    }
}

TEST(SkipEvent, DataRunningPastTheEndIsRefused) {
    const Bytes cases[] = {
        {0x90, 60},                  // note-on missing its velocity
        {0xF0, 10, 1, 2},            // system exclusive longer than the data
        {0xFF, 0x01, 0x7F, 'a'},     // text longer than the data
        {0xFF},                      // meta without its type
    };
    for (Bytes bytes : cases) {
        SByteCursor cursor = Over(bytes);
        cursor.pNext++;
        EXPECT_EQ(ErrorIdOf([&] { SkipEvent(bytes[0], cursor); }), 266);
    }
}

TEST(EventHead, RunningStatusCarriesChannelMessagesOnly) {
    // delta 0 note-on; delta 5 with running status; delta 0 program change, then data under it.
    Bytes bytes = {0x00, 0x90, 60, 100, 0x05, 62, 100, 0x00, 0xC1, 7, 0x00, 8};
    SByteCursor cursor = Over(bytes);
    uint32_t ticks = 0;
    unsigned char running = 0;
    EXPECT_EQ(ReadEventHead(cursor, &ticks, &running), 0x90);
    running = SkipEvent(0x90, cursor);
    EXPECT_EQ(ReadEventHead(cursor, &ticks, &running), 0x90);
    EXPECT_EQ(ticks, 5u);
    running = SkipEvent(0x90, cursor);
    EXPECT_EQ(ReadEventHead(cursor, &ticks, &running), 0xC1);
    running = SkipEvent(0xC1, cursor);
    EXPECT_EQ(ReadEventHead(cursor, &ticks, &running), 0xC1);
}

TEST(EventHead, DataByteWithoutRunningStatusIsAParsingError) {
    Bytes first = {0x00, 0x3C, 0x40};
    SByteCursor cursor = Over(first);
    uint32_t ticks = 0;
    unsigned char running = 0;
    EXPECT_EQ(ErrorIdOf([&] { ReadEventHead(cursor, &ticks, &running); }), 266);

    // After a system-exclusive event no status is in force.
    Bytes afterSysEx = {0x00, 0xF0, 0x01, 0xF7, 0x00, 0x3C, 0x40};
    cursor = Over(afterSysEx);
    running = 0;
    unsigned char status = ReadEventHead(cursor, &ticks, &running);
    running = SkipEvent(status, cursor);
    EXPECT_EQ(ErrorIdOf([&] { ReadEventHead(cursor, &ticks, &running); }), 266);
}

// The unchecked reader of common event heads must read exactly what
// ReadEventHead reads wherever it takes an event, and take every channel
// message with a delta of up to four bytes: every delta length from one to
// five bytes, before each kind of status byte, a data byte under each kind
// of running status (none, a channel message's), and before a system event.
TEST(EventHead, ShortChannelHeadsReadAsTheCheckedReaderReadsThem) {
    const Bytes deltas[] = {{0x00}, {0x7F}, {0x81, 0x00}, {0xFF, 0x7F}, {0x81, 0x80, 0x00}, {0xFF, 0xFF, 0x7F},
                            {0x81, 0x80, 0x80, 0x00}, {0xFF, 0xFF, 0xFF, 0x7F}, {0x8F, 0xFF, 0xFF, 0xFF, 0x7F}};
    const unsigned char firstBytes[] = {0x90, 0x80, 0xC3, 0xDF, 0xEF, 0xF0, 0xF7, 0xFF, 0x40, 0x00, 0x7F};
    const unsigned char runningStatuses[] = {0, 0x90, 0xC1, 0xE2};
    for (const Bytes& delta : deltas) {
        for (unsigned char first : firstBytes) {
            for (unsigned char runningBefore : runningStatuses) {
                Bytes bytes = delta;
                bytes.insert(bytes.end(), {first, 0x3C, 0x40, 0x00, 0x00, 0x00, 0x00});
                SByteCursor fast = Over(bytes);
                uint32_t fastTicks = 7;
                unsigned char fastRunning = runningBefore;
                unsigned char status = ReadShortChannelHead(fast, &fastTicks, &fastRunning);
                bool channel = (first >= 0x80 ? first : runningBefore) >= 0x80 &&
                               (first >= 0x80 ? first : runningBefore) < 0xF0;
                EXPECT_EQ(status != 0, channel && delta.size() <= 4)
                    << delta.size() << " delta bytes, " << int(first) << " after " << int(runningBefore);
                if (!status) {
                    EXPECT_EQ(fast.pNext, bytes.data());  // nothing read
                    EXPECT_EQ(fastTicks, 7u);
                    EXPECT_EQ(fastRunning, runningBefore);
                    continue;
                }
                SByteCursor checked = Over(bytes);
                uint32_t checkedTicks = 7;
                unsigned char checkedRunning = runningBefore;
                EXPECT_EQ(status, ReadEventHead(checked, &checkedTicks, &checkedRunning));
                EXPECT_EQ(fast.pNext, checked.pNext);
                EXPECT_EQ(fastTicks, checkedTicks);
                EXPECT_EQ(fastRunning, checkedRunning);
            }
        }
    }
}

TEST(BigEndian, ReadsChunkNumbers) {
    const unsigned char bytes[] = {0x12, 0x34, 0x56, 0x78};
    EXPECT_EQ(ReadBigEndian16(bytes), 0x1234);
    EXPECT_EQ(ReadBigEndian32(bytes), 0x12345678u);
}

}  // namespace
