// vastrel: turns a Standard MIDI File into a notation model.
//
// Load a file, parse any of its tracks (format 1) or channels (format 0)
// into an STrack, follow playback with VSX_GetPositionByMusicTime, then
// release every track and the file. Every failure throws CVastrelException.
// Calls are not reentrant: make them from one thread, one at a time.
#ifndef VASTREL_H
#define VASTREL_H

#include "score_model.h"

#if defined(_WIN32)
#  if defined(VASTREL_BUILDING_LIBRARY)
#    define VSX_API __declspec(dllexport)
#  elif defined(VASTREL_STATIC)
#    define VSX_API
#  else
#    define VSX_API __declspec(dllimport)
#  endif
#else
#  define VSX_API __attribute__((visibility("default")))
#endif

// The one exception type: thrown by value, caught by this type.
struct CVastrelException {
    char szMessage[1024];         // message text from the string table, zero-terminated
    int32_t nMessageId;           // its string-table id (230, 231, 254..274)
};

// Reads the whole file and its conductor track. Never returns null.
VSX_API SMidiFile* VSX_LoadMidiFile(const char* pszPath);

// Builds the notation model of track wTrack (format 1: 0 is the first chunk
// after the conductor; format 0: the MIDI channel 0..15) on a grid of
// bResolution sections per whole note (2, 4, 8, 16, 32 or 64), transposed by
// cTranspose semitones. Parsing the file's last track lengthens its
// end-of-track event in the loaded copy to the last bar line.
VSX_API STrack* VSX_ParseTrack(SMidiFile* pFile, unsigned short wTrack,
                               unsigned char bResolution, char cTranspose);

// Maps a playback time (768 units per quarter note) to the measure and
// section being played and the fraction of that section already played.
VSX_API void VSX_GetPositionByMusicTime(SMidiFile* pFile, STrack* pTrack, long lMusicTime,
                                        SMeasure** ppMeasure, SSection** ppSection,
                                        float* pfFraction);

// Release a track (null is allowed), then its file (null is allowed).
VSX_API void VSX_ReleaseTrack(STrack* pTrack);
VSX_API void VSX_ReleaseFile(SMidiFile* pFile);

#endif
