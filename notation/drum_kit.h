// The General MIDI drum kit as a drummer reads it on a five-line percussion
// staff: for every key of channel 10 its place on the staff, its notehead,
// the limb that plays it and its name. The one table of the kit; the
// readable notation of a percussion track, the exporter and the tool all
// read it.
#ifndef VASTREL_DRUM_KIT_H
#define VASTREL_DRUM_KIT_H

#include "../interface/score_model.h"

#include <stdint.h>

// Its heads and marks are the model's codes (ENoteheadCode, EDrumMarkCode in
// score_model.h): a drum note carries its drum's as they are.

// One drum of the kit.
struct SDrum {
    const char* pszName;  // General MIDI's name in sentence case ("Closed hi-hat")
    int8_t cStep;         // staff step (0 at middle C, lines on 2, 4, 6, 8, 10, as on a treble staff)
    uint8_t bNotehead;    // ENoteheadCode
    uint8_t bFoot;        // 1: played by a foot (lower voice, stems down); 0: by the hands (upper voice, stems up)
    uint8_t bMark;        // EDrumMarkCode
};

// General MIDI defines the keys 35 (Acoustic bass drum) to 81 (Open
// triangle) on channel 10.
static const uint8_t kFirstDrumKey = 35;
static const uint8_t kLastDrumKey = 81;

// True for a key of the General MIDI kit (35..81).
inline bool IsDrumKitKey(uint8_t bKey) { return bKey >= kFirstDrumKey && bKey <= kLastDrumKey; }

// The drum a key of channel 10 plays. A key outside the kit (other kits'
// extra sounds, 0..34 and 82..127) gets kOtherPercussion: a normal head on
// the middle line, played by the hands, named "Percussion".
const SDrum& DrumOfKey(uint8_t bKey);

extern const SDrum kOtherPercussion;

#endif
