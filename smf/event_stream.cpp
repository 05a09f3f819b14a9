// Big-endian numbers, variable-length quantities and event skipping over a
// bounded cursor.
#include "event_stream.h"

#include "../core/errors.h"

uint16_t ReadBigEndian16(const unsigned char* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

uint32_t ReadBigEndian32(const unsigned char* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

void RaiseTrackParsingError() { RaiseError(kMsgTrackParsingError); }

uint32_t VarLenSize(uint32_t v) {
    uint32_t n = 1;
    while (v >>= 7) ++n;
    return n;
}

void WriteVarLen(uint32_t v, unsigned char*& p) {
    for (uint32_t nShift = 7 * (VarLenSize(v) - 1); nShift > 0; nShift -= 7)
        *p++ = static_cast<unsigned char>(0x80 | ((v >> nShift) & 0x7F));
    *p++ = static_cast<unsigned char>(v & 0x7F);
}

unsigned char SkipEvent(unsigned char bStatus, SByteCursor& cursor) {
    if (bStatus == kStatusMeta) {
        unsigned char bType = ReadByte(cursor);
        uint32_t nLength = ReadVarLen(cursor);
        if (bType == kMetaEndOfTrack) return kStatusMeta;
        SkipBytes(cursor, nLength);
        return 0;
    }
    if (bStatus == 0xF0 || bStatus == 0xF7) {
        SkipBytes(cursor, ReadVarLen(cursor));
        return 0;
    }
    if (bStatus >= 0x80 && bStatus <= 0xEF) {
        SkipBytes(cursor, ChannelDataBytes(bStatus));
        return bStatus;
    }
    // The remaining system statuses are taken as two data bytes each.
    SkipBytes(cursor, 2);
    return 0;
}
