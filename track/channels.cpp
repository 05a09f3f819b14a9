// Which channels a track's notes sound on: one walk over a track chunk that
// looks at note-ons only.
#include "channels.h"

static const unsigned char kNoteOnStatus = 0x90;

uint16_t NoteChannelsOfEvents(SByteCursor cursor) {
    uint16_t wChannels = 0;
    uint32_t dwTicks = 0;
    unsigned char bRunningStatus = 0;
    for (;;) {
        unsigned char bStatus = ReadEventHead(cursor, &dwTicks, &bRunningStatus);
        if ((bStatus & 0xF0) == kNoteOnStatus) {
            // Key, then velocity: both must be there before the velocity is read.
            if (BytesLeft(cursor) < 2) RaiseTrackParsingError();
            if (cursor.pNext[1] != 0) wChannels = static_cast<uint16_t>(wChannels | (1u << (bStatus & 0x0F)));
        }
        bRunningStatus = SkipEvent(bStatus, cursor);
        if (bRunningStatus == kStatusMeta) return wChannels;
    }
}

uint16_t NoteChannelsOfChunk(SMidiFile* pFile, unsigned char* pChunk) {
    return NoteChannelsOfEvents(TrackEvents(pFile, pChunk));
}

uint16_t TrackChannels(uint16_t wFormat, uint16_t wTrack, uint16_t wChunkChannels) {
    if (wFormat != 0) return wChunkChannels;
    return wTrack < 16 ? static_cast<uint16_t>(wChunkChannels & (1u << wTrack)) : 0;
}

bool IsPercussionTrack(uint16_t wFormat, uint16_t wTrack, uint16_t wTrackChannels) {
    if (wFormat == 0) return wTrack == kDrumChannel && wTrackChannels != 0;
    return wTrackChannels == kDrumChannelMask;
}
