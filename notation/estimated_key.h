// The keys of a file that names none: estimated once per loaded file from
// how long each pitch class sounds in every bar of all its pitched tracks,
// and kept with the file for every readable parse after the first.
//
// Sequencers often write no key signature at all, and a piece in E flat then
// spelled in C major carries an accidental on every third note. The bars of
// the file's meter map are the windows of the key finding (key_finding.h):
// one key for the whole piece, and another where the music settles in it for
// a long stretch, from the first bar of that stretch.
#ifndef VASTREL_ESTIMATED_KEY_H
#define VASTREL_ESTIMATED_KEY_H

#include "../interface/score_model.h"

// Bars past this many are left out of the estimate (at two seconds a bar,
// some nine hours of music): a file whose events lie far apart in time
// would otherwise ask for a window per bar of empty time.
static const uint32_t kMostKeyBars = 1u << 14;

// The keys the measures of a file without key signatures follow, in the
// form the file's own list has (time = tick of the first bar in the key,
// the first at tick 0), made on the first call for the file and kept in its
// heap for the calls after. Null when fewer than three pitch classes sound
// in the first kMostKeyBars bars (no key can be told). Notes on channel 10 (General MIDI's drums) never count:
// a drum's key is an instrument, not a pitch. A track chunk that turns out
// malformed counts with the notes read before the fault; parsing that track
// reports the fault itself.
const SKeySignature* EstimatedKeys(SMidiFile* pFile);

#endif
