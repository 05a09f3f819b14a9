// Reading the bytes of a Standard MIDI File: big-endian numbers, variable-
// length quantities and events, through a cursor that knows where the data
// ends. Every reader refuses to step past that end with "Track parsing
// error!" (266), so no event loop can read outside the file.
#ifndef VASTREL_EVENT_STREAM_H
#define VASTREL_EVENT_STREAM_H

#include <stdint.h>

// A read position and the first byte that may not be read.
struct SByteCursor {
    unsigned char* pNext;
    unsigned char* pEnd;
};

static const unsigned char kStatusMeta = 0xFF;
static const unsigned char kMetaEndOfTrack = 0x2F;

uint16_t ReadBigEndian16(const unsigned char* p);
uint32_t ReadBigEndian32(const unsigned char* p);

// Bytes left before the end.
inline uint32_t BytesLeft(const SByteCursor& cursor) {
    return static_cast<uint32_t>(cursor.pEnd - cursor.pNext);
}

// Raises "Track parsing error!" (266): the data ends, or an event is malformed.
[[noreturn]] void RaiseTrackParsingError();

// The readers every event loop calls for every event are inline: a track of
// a large file has a million events.

// One byte; 266 at the end of the data.
inline unsigned char ReadByte(SByteCursor& cursor) {
    if (cursor.pNext >= cursor.pEnd) RaiseTrackParsingError();
    return *cursor.pNext++;
}
// Steps over nBytes; 266 when fewer are left.
inline void SkipBytes(SByteCursor& cursor, uint32_t nBytes) {
    if (nBytes > BytesLeft(cursor)) RaiseTrackParsingError();
    cursor.pNext += nBytes;
}
// A variable-length quantity: 7 bits a byte, most significant first. Groups
// beyond the fourth shift the oldest bits out of the 32-bit result.
inline uint32_t ReadVarLen(SByteCursor& cursor) {
    // Most deltas are a single byte: it is read before the loop.
    unsigned char b = ReadByte(cursor);
    uint32_t v = b & 0x7F;
    while (b & 0x80) {
        b = ReadByte(cursor);
        v = (v << 7) + (b & 0x7F);
    }
    return v;
}
// Writes v (at most 0x0FFFFFFF) as a variable-length quantity at p and leaves p
// after it.
void WriteVarLen(uint32_t v, unsigned char*& p);
// Bytes that WriteVarLen needs for v.
uint32_t VarLenSize(uint32_t v);

// Data bytes of a channel message (status 0x80..0xEF): one for a program
// change (0xCn) or channel pressure (0xDn), two for every other.
inline uint32_t ChannelDataBytes(unsigned char bStatus) {
    // By the status's high four bits (a table: every event asks).
    static const uint8_t kDataBytes[16] = {2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 1, 1, 2, 2};
    return kDataBytes[static_cast<uint32_t>(bStatus) >> 4];
}

// Steps over the data of one event whose status is given (the cursor stands
// after the status byte, or at the first data byte under running status) and
// returns the running status to keep: the status itself for channel
// messages, 0 after meta, system-exclusive and other system events, and 0xFF
// for the end-of-track meta event (cursor right after its length byte).
unsigned char SkipEvent(unsigned char bStatus, SByteCursor& cursor);

// The head of the next event, as every event loop reads it: adds the delta
// time to *pdwTicks and returns the status, stepping over a status byte and
// making it the running status, or returning the running status for an event
// that starts with a data byte. With no running status in force that is a
// parsing error (266).
inline unsigned char ReadEventHead(SByteCursor& cursor, uint32_t* pdwTicks, unsigned char* pbRunningStatus) {
    *pdwTicks += ReadVarLen(cursor);
    if (cursor.pNext >= cursor.pEnd) RaiseTrackParsingError();
    if (*cursor.pNext >= 0x80) {
        *pbRunningStatus = *cursor.pNext++;
        return *pbRunningStatus;
    }
    if (*pbRunningStatus == 0) RaiseTrackParsingError();
    return *pbRunningStatus;
}

// The most bytes a channel message takes when its delta time has at most
// four: the delta, a status byte and two data bytes. Where that many are
// left, one check covers every byte of such an event.
static const uint32_t kShortChannelEventBytes = 7;

// ReadEventHead for the common event, where the cursor has at least
// kShortChannelEventBytes left: a channel message (its own status byte or the
// running status) whose delta takes at most four bytes, read without a check
// per byte. It leaves the cursor at the first data byte, which is there, as
// is the second. Any other event (a system event, a longer delta, a data
// byte without running status) returns 0 with nothing read, for
// ReadEventHead to read or refuse. The running status is 0 or a channel
// message's status, as every event loop keeps it (SkipEvent's result).
inline unsigned char ReadShortChannelHead(SByteCursor& cursor, uint32_t* pdwTicks, unsigned char* pbRunningStatus) {
    unsigned char* p = cursor.pNext;
    uint32_t dwDelta = *p++;
    if (dwDelta >= 0x80) {
        // Two to four bytes (seven bits each, so no group is shifted out).
        dwDelta = ((dwDelta & 0x7F) << 7) | (*p & 0x7Fu);
        if (*p++ >= 0x80) {
            dwDelta = (dwDelta << 7) | (*p & 0x7Fu);
            if (*p++ >= 0x80) {
                dwDelta = (dwDelta << 7) | (*p & 0x7Fu);
                if (*p++ >= 0x80) return 0;
            }
        }
    }
    // Only 0x80..0xEF are channel messages; a running status is one or 0, none.
    unsigned char bStatus = *p;
    if (bStatus >= 0x80) {
        if (bStatus >= 0xF0) return 0;
        ++p;
        *pbRunningStatus = bStatus;
    } else {
        bStatus = *pbRunningStatus;
        if (bStatus == 0) return 0;
    }
    *pdwTicks += dwDelta;
    cursor.pNext = p;
    return bStatus;
}

// Steps over a system event (rare next to channel messages) on a copy of the
// cursor, so that the event loops can keep theirs in registers.
inline unsigned char SkipSystemEvent(unsigned char bStatus, SByteCursor& cursor) {
    SByteCursor copy = cursor;
    unsigned char bRunningStatus = SkipEvent(bStatus, copy);
    cursor.pNext = copy.pNext;
    return bRunningStatus;
}

// A track chunk's events up to its end-of-track event, as the passes that
// read every event walk them. Every channel message goes to
// onChannel(bStatus, pData, dwTicks), its data bytes known to be there;
// every other event to onSystem(bStatus, cursor), the cursor after its
// status byte, before it is stepped over. Returns the tick of the
// end-of-track event and, in *ppEndOfTrack, where that event starts. Away
// from the end of the data most events are channel messages with short
// deltas, each read under one check of the bytes left.
template <typename FChannel, typename FSystem>
inline uint32_t WalkTrackEvents(SByteCursor cursor, FChannel onChannel, FSystem onSystem,
                                unsigned char** ppEndOfTrack) {
    uint32_t dwTicks = 0;
    unsigned char bRunningStatus = 0;
    // An event that starts before pShortEnd has kShortChannelEventBytes left.
    unsigned char* pShortEnd =
        BytesLeft(cursor) >= kShortChannelEventBytes ? cursor.pEnd - (kShortChannelEventBytes - 1) : cursor.pNext;
    for (;;) {
        while (cursor.pNext < pShortEnd) {
            unsigned char bStatus = ReadShortChannelHead(cursor, &dwTicks, &bRunningStatus);
            if (!bStatus) break;
            onChannel(bStatus, static_cast<const unsigned char*>(cursor.pNext), dwTicks);
            // The next event's address must not wait for this one's status to
            // be read and looked up: the loop goes on only after the common
            // two data bytes, and leaves it after the rare one-byte messages
            // (program change, channel pressure), rather than add the length.
            if ((bStatus & 0xE0) == 0xC0) {
                cursor.pNext += 1;
                break;
            }
            cursor.pNext += 2;
        }
        unsigned char* pEvent = cursor.pNext;
        unsigned char bStatus = ReadEventHead(cursor, &dwTicks, &bRunningStatus);
        if (bStatus < 0xF0) {
            uint32_t nData = ChannelDataBytes(bStatus);
            if (nData > BytesLeft(cursor)) RaiseTrackParsingError();
            onChannel(bStatus, static_cast<const unsigned char*>(cursor.pNext), dwTicks);
            cursor.pNext += nData;
            continue;
        }
        onSystem(bStatus, cursor);
        bRunningStatus = SkipSystemEvent(bStatus, cursor);
        if (bRunningStatus == kStatusMeta) {
            *ppEndOfTrack = pEvent;
            return dwTicks;
        }
    }
}

#endif
