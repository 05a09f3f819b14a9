// vastrel: turns a Standard MIDI File into a notation model.
//
// Load a file, parse any of its tracks (format 1) or channels (format 0)
// into an STrack (the classic model, or the readable notation with options),
// follow playback with VSX_GetPositionByMusicTime, then release every track
// and the file. Every failure throws CVastrelException.
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

// ---- The readable notation ------------------------------------------------------
//
// VSX_ParseTrack builds the classic model. The readable notation changes
// what a musician reads first where the classic rules leave it hard to read;
// each of its rules is one option of the record below, so a caller may take
// the preset or choose rule by rule. With every option off,
// VSX_ParseTrackWithOptions builds exactly what VSX_ParseTrack builds.
//
// The record grows at its end as rules are added. Its first field is its own
// size as the caller's header has it: the library reads only the first
// cbSize bytes of the caller's record and takes every field past them as
// off, so a program built against an older header keeps working with a newer
// library, and one built against a newer header with an older library. An
// option is on when its byte is not 0.
struct SNotationOptions {
    // sizeof(SNotationOptions) as the caller's header has it (the preset sets it).
    uint32_t cbSize;
    // A tied piece stays in the voice of the note it continues: inside a
    // measure (even when a higher note of another value has taken that
    // voice's chord at its section), and over bar lines, where a voice that
    // ties into the next measure goes on there with the same voice number.
    uint8_t bVoicesKeepTies;
    // A format 1 file whose only chunk holds notes offers that chunk as track
    // 0: it is both the conductor and the music (the classic model offers no
    // track at all for it). Being the last chunk, its end-of-track event is
    // lengthened as any last track's is.
    uint8_t bConductorChunkAsTrack;
    // A drum track (every note on channel 10, General MIDI's drums, or a
    // format 0 file's channel 10) on a percussion staff: each drum on its
    // line or space with its notehead, hands above and feet below in two
    // voices, no key, accidentals, transposition or clef changes.
    uint8_t bDrumStaff;
    // A keyboard part, or a part one staff cannot hold without constant
    // ledger lines or clef changes, on two staves (STrack::pNextStaff), the
    // notes split between the hands as a pianist plays them.
    uint8_t bGrandStaff;
    // A file without any key signature is spelled in a key estimated from
    // the notes of its pitched tracks (STrack::bKeyEstimated).
    uint8_t bEstimateKey;
    // A guitar track (programs 24 to 31): strings and frets from the
    // sounding pitch in standard tuning, fingered so that the hand can play
    // them, and the note staff in the treble clef with an 8 below.
    uint8_t bGuitarTablature;
    // A part that enters after measures of rests starts in the clef its
    // first notes are written in (a bass part in the bass clef from the first
    // measure), rather than in the treble clef with a change where it enters.
    uint8_t bFirstClefFromNotes;
};

// The preset: every readable rule on. It is made here, in the caller's
// header, so that its size and fields are the ones the caller is built with.
inline SNotationOptions VSX_ReadableOptions() {
    SNotationOptions options = {};
    options.cbSize = sizeof(SNotationOptions);
    options.bVoicesKeepTies = 1;
    options.bConductorChunkAsTrack = 1;
    options.bDrumStaff = 1;
    options.bGrandStaff = 1;
    options.bEstimateKey = 1;
    options.bGuitarTablature = 1;
    options.bFirstClefFromNotes = 1;
    return options;
}

// Builds the notation model of track wTrack as VSX_ParseTrack does (same
// arguments, same checks, same errors), under the rules pOptions turns on;
// a null pOptions means the preset. Track numbers count the tracks
// VSX_CountTracks gives under the same options.
VSX_API STrack* VSX_ParseTrackWithOptions(SMidiFile* pFile, unsigned short wTrack, unsigned char bResolution,
                                          char cTranspose, const SNotationOptions* pOptions);

// The tracks offered under these options (null: the preset), numbered from
// 0: the file's wTracks, and 1 for a format 1 file whose only chunk holds
// notes when bConductorChunkAsTrack is on.
VSX_API unsigned short VSX_CountTracks(SMidiFile* pFile, const SNotationOptions* pOptions);

// Maps a playback time (768 units per quarter note) to the measure and
// section being played and the fraction of that section already played.
VSX_API void VSX_GetPositionByMusicTime(SMidiFile* pFile, STrack* pTrack, long lMusicTime,
                                        SMeasure** ppMeasure, SSection** ppSection,
                                        float* pfFraction);

// Release a track (null is allowed), then its file (null is allowed).
VSX_API void VSX_ReleaseTrack(STrack* pTrack);
VSX_API void VSX_ReleaseFile(SMidiFile* pFile);

#endif
