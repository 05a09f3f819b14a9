// The grand staff of the readable notation: a keyboard part played by both
// hands, or a part too wide for one staff, written on two staves that share
// its measures. The notes are split between the hands once, at their onsets
// on the grid, before stage A places any of them (hands.h), so that a held
// note or one tied over bar lines stays on the staff of the hand that struck
// it; then each staff goes through the stages as a staff of its own.
#ifndef VASTREL_GRAND_STAFF_H
#define VASTREL_GRAND_STAFF_H

#include "notation.h"

#include <stdint.h>

// Whether a track's name says it holds one hand of a keyboard part ("Piano
// right", "upper:", "LH" and the like): a file that already gives each hand
// a track of its own is not split again. pszName may be null.
bool NamesOneHand(const char* pszName);

// Builds the track of the context on a grand staff when it needs one: its
// grid's notes split between the hands, the upper hand's staff the context's
// track (bStaff 1) and the lower hand's a second track record in the same
// heap (bStaff 2, pNextStaff of the first) with as many measures, each at
// the same time and in the same meter; both run the stages up to cLastStage,
// and the end of the track is moved to its last bar line once. Returns
// false, having changed nothing, for a track that stays on one staff (a drum
// track and a guitar's track always do).
bool BuildGrandStaff(SBuildContext& context, char cLastStage);

#endif
