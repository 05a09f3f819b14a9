// Stage G: joins consecutive short chords of a voice by beams. Beams follow
// the meter: for every note value a group table says how many notes of that
// value make one beam group, and a beam never crosses a group boundary, a
// silence or a bar line.
// After this: bBeamPrev/bBeamNext link the chords of each beam group.
#include "beaming.h"

// Notes per beam group, indexed by note value (1..64; 0 = never beamed).
typedef uint8_t BeamGroupTable[kLongestBeamed + 1];

// Stores one entry; values shorter than a 64th do not exist and are left out.
static void SetGroup(BeamGroupTable& groups, uint32_t nValue, uint32_t nNotes) {
    if (nValue <= kLongestBeamed) groups[nValue] = static_cast<uint8_t>(nNotes);
}

// The group table of meter n/d. The beat is the denominator in simple meters
// and three of them in compound meters: eighths in 6/8 go in threes (a dotted
// quarter), in 4/4 in fours (a half), in 3/4 in twos (a quarter, so that the
// three beats stay visible). Sixteenths and shorter group within a beat or
// half of one.
static void BuildGroupTable(BeamGroupTable& groups, uint32_t n, uint32_t d) {
    for (uint32_t v = 0; v <= kLongestBeamed; ++v) groups[v] = 0;
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

// The meter in force is the last one shown; none before the first. Its
// group table serves every measure until the next meter is shown.
bool FollowMeter(SBeamMeter& meter, const SMeasure* pMeasure) {
    if (pMeasure->bNumerator != 0 && pMeasure->bDenominator != 0) {
        meter.nNumerator = pMeasure->bNumerator;
        meter.nDenominator = pMeasure->bDenominator;
        BuildGroupTable(meter.abGroupNotes, meter.nNumerator, meter.nDenominator);
    }
    return meter.nDenominator != 0;
}

// Links the beam pairs among the chords with notes of every voice, each with
// the one before it in its voice. The first chord of the measure has none,
// so no beam runs over a bar line.
void BeamChords(const SBuildContext& context, SBeamMeter& meter, SMeasure* pMeasure, const SMeasureIndex& index) {
    if (!FollowMeter(meter, pMeasure)) return;
    const SSoundingChords& sounding = index.sounding;
    for (uint32_t v = 0; v < sounding.nVoices; ++v) {
        for (uint32_t i = sounding.anVoiceStart[v] + 1; i < sounding.anVoiceStart[v + 1]; ++i) {
            SChord* pPrev = sounding.apChords[i - 1];
            SChord* pChord = sounding.apChords[i];
            BeamPair(meter.abGroupNotes, context.bResolution, pPrev, SectionOf(sounding, v, pPrev), pChord,
                     SectionOf(sounding, v, pChord));
        }
    }
}
