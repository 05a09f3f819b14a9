// The file container and header, and the conductor maps read from the first
// track chunk.
#ifndef VASTREL_MIDI_FILE_H
#define VASTREL_MIDI_FILE_H

#include "../interface/score_model.h"
#include "event_stream.h"

static const uint32_t kChunkHeadBytes = 8;   // "MTrk" and a 32-bit length
static const uint32_t kHeaderChunkBytes = 14;
static const uint32_t kRiffHeadBytes = 20;

// Finds the Standard MIDI File data (bare or behind a RIFF head), checks the
// header chunk and fills pData, nDataSize, wFormat, wTracks, wDivision and
// pFirstTrack.
void CheckHeader(SMidiFile* pFile);

// True when a track chunk head ("MTrk" and its length) stands at pChunk,
// wholly inside the file's data.
bool IsTrackChunkAt(SMidiFile* pFile, const unsigned char* pChunk);

// The chunk after the track chunk at pChunk (checked with IsTrackChunkAt),
// or null when the length its head gives runs past the file's data.
unsigned char* NextChunk(SMidiFile* pFile, unsigned char* pChunk);

// A cursor over the events of the track chunk at pChunk (checked with
// IsTrackChunkAt), reaching to the end of the file's readable data.
SByteCursor TrackEvents(SMidiFile* pFile, unsigned char* pChunk);

// Reads the first track chunk into the tempo, time-signature and
// key-signature maps, names the file and sets the six meter flags.
void ReadConductorMaps(SMidiFile* pFile);

// 1 when every time signature of the file spans a whole number of 1/nUnit notes.
uint8_t IsMeterCompatible(const SMidiFile* pFile, uint8_t nUnit);

#endif
