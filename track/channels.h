// The MIDI channels a track's notes sound on, and which tracks are drum
// tracks: General MIDI plays channel 10 as its drum kit.
#ifndef VASTREL_CHANNELS_H
#define VASTREL_CHANNELS_H

#include "../smf/midi_file.h"

// Channel 10 as the file counts it (0-based), and its bit in a channel mask.
static const uint8_t kDrumChannel = 9;
static const uint16_t kDrumChannelMask = 1u << kDrumChannel;

// The channels on which the events from the cursor up to the end-of-track
// event sound a note: bit c (0..15) set when a note-on of channel c with a
// velocity above 0 occurs. A note-on of velocity 0 ends a note and other
// channel messages sound none, so neither counts. Running status, meta and
// system-exclusive events are read as every event loop of the library reads
// them; a malformed event or data that ends before the end-of-track event
// raise "Track parsing error!" (266).
uint16_t NoteChannelsOfEvents(SByteCursor cursor);

// The same for the track chunk at pChunk (checked with IsTrackChunkAt).
uint16_t NoteChannelsOfChunk(SMidiFile* pFile, unsigned char* pChunk);

// The channels of track wTrack's notes, given those of its chunk: format 1
// reads every channel of the track's own chunk; format 0 offers each channel
// of its one chunk as a track of its own (track c is channel c), so only
// that channel's bit can be set.
uint16_t TrackChannels(uint16_t wFormat, uint16_t wTrack, uint16_t wChunkChannels);

// Whether track wTrack, whose notes sound on wTrackChannels, is a drum track.
// Format 0: the track of channel 10, when it has notes. Format 1: a track
// whose notes are all on channel 10. A track that mixes channel 10 with
// other channels is not: a drum staff would lose its pitched notes, so the
// whole track stays pitched and its drum notes are drawn at their keys'
// pitches. A track without notes is not either.
bool IsPercussionTrack(uint16_t wFormat, uint16_t wTrack, uint16_t wTrackChannels);

#endif
