// Stage G: joins consecutive short chords of a voice by beams. Beams follow the meter: for every note value a
// group table says how many notes of that value make one beam group, and a
// beam never crosses a group boundary, a silence or a bar line.
// After this: bBeamPrev/bBeamNext link the chords of each beam group.
#include "notation.h"

// Notes per beam group, indexed by note value (1..64; 0 = never beamed).
static const uint32_t kLongestValue = 64;
typedef uint8_t BeamGroupTable[kLongestValue + 1];

// Stores one entry; values shorter than a 64th do not exist and are left out.
static void SetGroup(BeamGroupTable& groups, uint32_t nValue, uint32_t nNotes) {
    if (nValue <= kLongestValue) groups[nValue] = static_cast<uint8_t>(nNotes);
}

// The group table of meter n/d. The beat is the denominator in simple meters
// and three of them in compound meters: eighths in 6/8 go in threes (a dotted
// quarter), in 4/4 in fours (a half), in 3/4 in twos (a quarter, so that the
// three beats stay visible). Sixteenths and shorter group within a beat or
// half of one.
static void BuildGroupTable(BeamGroupTable& groups, uint32_t n, uint32_t d) {
    for (uint32_t v = 0; v <= kLongestValue; ++v) groups[v] = 0;
    if (n == 3) {
        SetGroup(groups, d, 3);
        SetGroup(groups, 2 * d, 2);
    } else if (n % 3 != 0) {
        SetGroup(groups, d, 2);
        SetGroup(groups, 2 * d, 4);
    } else {
        SetGroup(groups, d / 2, n / 2);
        SetGroup(groups, d, 3);
        SetGroup(groups, 2 * d, 6);
    }
    SetGroup(groups, 4 * d, 4);
    SetGroup(groups, 8 * d, 8);
    SetGroup(groups, 16 * d, 8);
}

// Sections covered by one beam group of value bValue; 0 when the value is
// never beamed in this meter (or is shorter than one section).
static uint32_t GroupSpan(const BeamGroupTable& groups, uint8_t bResolution, uint8_t bValue) {
    if (bValue == 0 || bValue > kLongestValue) return 0;
    return static_cast<uint32_t>(bResolution / bValue) * groups[bValue];
}

// Whether the chord Q continues the beam of the chord P before it in voice v.
static bool JoinsBeam(const BeamGroupTable& groups, uint8_t bResolution, const SSoundingChords& sounding, uint32_t v,
                      const SChord* pPrev, const SChord* pChord) {
    // Only eighths and shorter carry beams.
    if (pPrev->bValue < 8 || pChord->bValue < 8) return false;
    // Q must start no later than where P would end without its dot: anything
    // after that is a silence, and a dotted P is never beamed onward from a
    // distance longer than its plain value.
    uint32_t p = SectionOf(sounding, v, pPrev), k = SectionOf(sounding, v, pChord);
    if (k - p > static_cast<uint32_t>(bResolution / pPrev->bValue)) return false;
    // The later chord's group decides: no group boundary after P up to Q.
    uint32_t g = GroupSpan(groups, bResolution, pChord->bValue);
    return g != 0 && p / g == k / g;
}

// Links the beam pairs among the chords with notes of voice v, each with the
// one before it. The first chord of the measure has none, so no beam runs
// over a bar line.
static void BeamVoice(const BeamGroupTable& groups, uint8_t bResolution, const SSoundingChords& sounding, uint32_t v) {
    for (uint32_t i = sounding.anVoiceStart[v] + 1; i < sounding.anVoiceStart[v + 1]; ++i) {
        SChord* pPrev = sounding.apChords[i - 1];
        SChord* pChord = sounding.apChords[i];
        if (JoinsBeam(groups, bResolution, sounding, v, pPrev, pChord)) {
            pPrev->bBeamNext = 1;
            pChord->bBeamPrev = 1;
        }
    }
}

// The meter in force is the last one shown; none before the first. Its
// group table serves every measure until the next meter is shown.
void BeamChords(SMeasureWalk& walk, SMeasure* pMeasure) {
    if (pMeasure->bNumerator != 0 && pMeasure->bDenominator != 0) {
        walk.nBeamNumerator = pMeasure->bNumerator;
        walk.nBeamDenominator = pMeasure->bDenominator;
        BuildGroupTable(walk.abBeamGroupNotes, walk.nBeamNumerator, walk.nBeamDenominator);
    }
    if (walk.nBeamDenominator == 0) return;
    const SSoundingChords& sounding = SoundingChords(walk, pMeasure);
    for (uint32_t v = 0; v < sounding.nVoices; ++v)
        BeamVoice(walk.abBeamGroupNotes, walk.context.pTrack->bResolution, sounding, v);
}
