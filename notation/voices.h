// Stage F's record of what it carries over a bar line: in the readable
// notation, which voice ties each pitch into the next measure, so that the
// tied piece opens the next measure in the same voice.
#ifndef VASTREL_VOICES_H
#define VASTREL_VOICES_H

#include "notation.h"

// No voice ties this pitch over.
static const uint8_t kNoVoice = 0xFF;

struct SVoicesOverBar {
    bool bAny;                    // some voice ties a note over the last bar line
    uint32_t nVoices;             // the voices of the measure before
    uint8_t abVoiceOfPitch[256];  // the voice tying each (transposed) pitch over, or kNoVoice
};

// F: every raw note copied into a chord of a voice; indexes the chords it
// gives notes.
void AssignVoices(const SBuildContext& context, SVoicesOverBar& over, SMeasure* pMeasure, SMeasureIndex& index);

#endif
