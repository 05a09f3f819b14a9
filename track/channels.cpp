// Which channels a track's notes sound on: one walk over a track chunk that
// looks at note-ons only.
#include "channels.h"

static const unsigned char kNoteOnStatus = 0x90;

uint16_t NoteChannelsOfEvents(SByteCursor cursor) {
    uint32_t dwChannels = 0;
    unsigned char* pEndOfTrack;
    WalkTrackEvents(
        cursor,
        [&](unsigned char bStatus, const unsigned char* pData, uint32_t) {
            // A note-on of velocity 0 is a note-off.
            if ((bStatus & 0xF0) == kNoteOnStatus && pData[1] != 0) dwChannels |= 1u << (bStatus & 0x0F);
        },
        [](unsigned char, const SByteCursor&) {}, &pEndOfTrack);
    return static_cast<uint16_t>(dwChannels);
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
