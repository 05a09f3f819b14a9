// Stage G: beams that follow the meter, the meter it carries from measure to
// measure, and its rule for two chords of a voice (which the builder also
// hands to stage H's pass over the notes).
#ifndef VASTREL_BEAMING_H
#define VASTREL_BEAMING_H

#include "notation.h"

// Values beamed at most: a 64th (shorter values do not exist).
static const uint32_t kLongestBeamed = 64;

// What stage G carries over the bar line: the meter in force (0/0 before
// the first one shown) and how many notes of each value (1..64) make one
// beam group in it.
struct SBeamMeter {
    uint32_t nNumerator;
    uint32_t nDenominator;
    uint8_t abGroupNotes[kLongestBeamed + 1];
};

// Takes up the meter the measure shows, if any; whether a meter is in force
// (no chord is beamed before the first one is shown).
bool FollowMeter(SBeamMeter& meter, const SMeasure* pMeasure);

// G: beam pairs, by the meter in force.
void BeamChords(const SBuildContext& context, SBeamMeter& meter, SMeasure* pMeasure, const SMeasureIndex& index);

// Sections covered by one beam group of value bValue in a meter where a
// group holds abGroupNotes[bValue] notes of it; 0 when the value is never
// beamed in it (or is shorter than one section).
inline uint32_t GroupSpan(const uint8_t* abGroupNotes, uint8_t bResolution, uint8_t bValue) {
    if (bValue == 0 || bValue > kLongestBeamed) return 0;
    return static_cast<uint32_t>(bResolution / bValue) * abGroupNotes[bValue];
}

// Stage G's rule for two chords with notes of one voice, P at section p and
// Q at section k after it with none between: Q continues P's beam when both
// are eighths or shorter, Q starts no later than where P would end without
// its dot (anything after that is a silence, and a dotted P is never beamed
// onward from a distance longer than its plain value), and no boundary of
// Q's group lies after P up to Q (the later chord's group decides).
inline void BeamPair(const uint8_t* abGroupNotes, uint8_t bResolution, SChord* pPrev, uint32_t p, SChord* pChord,
                     uint32_t k) {
    if (pPrev->bValue < 8 || pChord->bValue < 8) return;
    if (k - p > static_cast<uint32_t>(bResolution / pPrev->bValue)) return;
    uint32_t g = GroupSpan(abGroupNotes, bResolution, pChord->bValue);
    if (g != 0 && p / g == k / g) {
        pPrev->bBeamNext = 1;
        pChord->bBeamPrev = 1;
    }
}

#endif
