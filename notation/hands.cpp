// Hand separation by the cheapest path over the onsets' splits, and the
// choice of a grand staff (see hands.h for the method and its costs).
#include "hands.h"

// ---- Costs, in semitones of hand movement -----------------------------------------

static const int32_t kComfortableSpan = 12;    // an octave: any hand
static const int32_t kReach = 16;              // a tenth: most hands, no further
static const float kStretchCost = 1.0f;        // per semitone of a chord beyond the octave
static const float kOutOfReachCost = 40.0f;    // a chord one hand cannot hold
static const float kOutOfReachStep = 10.0f;    //   and per semitone beyond the tenth
static const float kHeldShare = 0.25f;         // notes held count at this share of those struck
static const float kMoveCost = 1.0f;           // per semitone a hand moves
static const float kFastLeapCost = 1.0f;       // per semitone beyond the octave, from one onset to the next
static const float kCrossingCost = 10.0f;      // left hand sounding above the right
static const float kCrossingStep = 2.0f;       //   and per semitone of overlap
static const int32_t kIdleStretchFrom = 7;     // a fifth: wider than that, the free hand could help
static const float kIdleStretchCost = 2.0f;    // per semitone beyond it while the other hand is free
static const float kRestedMoveShare = 0.5f;    // movement of a hand that did not strike the slice before
static const int32_t kLineStep = 5;            // a fourth: the next note of a line lies this near
static const float kLineBreakCost = 8.0f;      // a line's next note handed to the other hand
static const float kRegisterPull = 0.05f;      // per semitone on the other side of middle C
static const int32_t kMiddleC = 60;

// Where a hand is thought to be before it first plays: the G above middle C
// for the right hand, the C an octave below for the left.
static const int32_t kUpperHome = 67;
static const int32_t kLowerHome = 48;

// ---- The paths -----------------------------------------------------------------

// Candidate splits kept for one slice; a slice of more notes keeps the
// splits at its widest gaps.
static const uint32_t kMaxSplits = 16;
// Notes a path remembers as still sounding; past that, the one released
// first is forgotten.
static const uint32_t kMaxHeld = 24;

struct SHeldNote {
    uint32_t dwOff;
    uint8_t bKey;
    uint8_t bHand;
};

// What a path leaves behind after a slice.
struct SHandState {
    float fCost;                    // the path's cost so far
    int32_t anLow[2];               // by hand: the lowest and highest key it struck last
    int32_t anHigh[2];
    uint32_t anPlayed[2];           // by hand: 1 + the slice it struck notes in last; 0 for never
    uint32_t nHeld;
    SHeldNote aHeld[kMaxHeld];
};

// How the cheapest path reached each split of a slice, for the walk back.
struct SSliceTrace {
    uint32_t nFirst;                // the slice's first entry in the order array
    uint8_t nSplits;
    uint8_t abSplit[kMaxSplits];    // notes (in key order) given to the left hand
    uint8_t abFrom[kMaxSplits];     // split index of the slice before on the cheapest path
};

size_t HandScratchBytes(uint32_t nNotes) {
    return static_cast<size_t>(nNotes) * (sizeof(uint32_t) + sizeof(SSliceTrace));
}

// The keys of one slice in ascending order, with what every split of it
// needs and does not depend on the path.
struct SSlice {
    uint32_t nIndex;                // slice number
    uint32_t dwOn;
    const uint32_t* pnOrder;        // note indices, by key
    uint32_t nNotes;
    const SHandNote* pNotes;
};

static int32_t KeyAt(const SSlice& slice, uint32_t k) { return slice.pNotes[slice.pnOrder[k]].bKey; }

// What the register pull costs a split: keys above middle C in the left
// hand, keys below it in the right.
static float RegisterCost(const SSlice& slice, uint32_t nSplit) {
    int32_t nSemitones = 0;
    for (uint32_t k = 0; k < slice.nNotes; ++k) {
        int32_t nKey = KeyAt(slice, k);
        if (k < nSplit && nKey > kMiddleC) nSemitones += nKey - kMiddleC;
        if (k >= nSplit && nKey < kMiddleC) nSemitones += kMiddleC - nKey;
    }
    return kRegisterPull * static_cast<float>(nSemitones);
}

static float SpanCost(int32_t nSpan) {
    if (nSpan <= kComfortableSpan) return 0;
    if (nSpan <= kReach) return kStretchCost * static_cast<float>(nSpan - kComfortableSpan);
    return kOutOfReachCost + kOutOfReachStep * static_cast<float>(nSpan - kReach);
}

// The range of keys a hand sounds: nLow > nHigh when none.
struct SRange {
    int32_t nLow = 128;
    int32_t nHigh = -1;
    bool Empty() const { return nLow > nHigh; }
    void Add(int32_t nKey) {
        if (nKey < nLow) nLow = nKey;
        if (nKey > nHigh) nHigh = nKey;
    }
};

// How far a key lies from a range of keys (0 inside it).
static int32_t Distance(int32_t nKey, int32_t nLow, int32_t nHigh) {
    return nKey < nLow ? nLow - nKey : nKey > nHigh ? nKey - nHigh : 0;
}

// The cost of striking the slice with nSplit of its lowest notes in the left
// hand after the path that left `from`, the register pull aside.
static float StepCost(const SHandState& from, const SSlice& slice, uint32_t nSplit) {
    SRange aStruck[2], aHeld[2];
    if (nSplit > 0) aStruck[kLowerHand] = {KeyAt(slice, 0), KeyAt(slice, nSplit - 1)};
    if (nSplit < slice.nNotes) aStruck[kUpperHand] = {KeyAt(slice, nSplit), KeyAt(slice, slice.nNotes - 1)};
    for (uint32_t h = 0; h < from.nHeld; ++h)
        if (from.aHeld[h].dwOff > slice.dwOn) aHeld[from.aHeld[h].bHand].Add(from.aHeld[h].bKey);

    float fCost = 0;
    SRange aSounding[2];
    for (uint32_t nHand = 0; nHand < 2; ++nHand) {
        const SRange& struck = aStruck[nHand];
        const SRange& held = aHeld[nHand];
        aSounding[nHand] = held;
        if (struck.Empty()) continue;
        aSounding[nHand].Add(struck.nLow);
        aSounding[nHand].Add(struck.nHigh);
        fCost += SpanCost(struck.nHigh - struck.nLow);
        if (!held.Empty()) {
            // What the hand struck with what it still holds: only the
            // stretch the held notes add counts, at their share.
            int32_t nSounding = aSounding[nHand].nHigh - aSounding[nHand].nLow;
            fCost += kHeldShare * (SpanCost(nSounding) - SpanCost(struck.nHigh - struck.nLow));
        }
        // The way from the keys the hand struck last: the gap between the
        // two ranges (pitch proximity: what keeps a line in its hand), and
        // a quarter of the shift of their middles (a chord moving over
        // keys it overlaps still moves the hand).
        int32_t nHome = nHand == kUpperHand ? kUpperHome : kLowerHome;
        int32_t nLastLow = from.anPlayed[nHand] ? from.anLow[nHand] : nHome;
        int32_t nLastHigh = from.anPlayed[nHand] ? from.anHigh[nHand] : nHome;
        int32_t nGap = struck.nLow > nLastHigh ? struck.nLow - nLastHigh : nLastLow > struck.nHigh ? nLastLow - struck.nHigh : 0;
        int32_t nShift2 = struck.nLow + struck.nHigh - nLastLow - nLastHigh;
        float fShift = static_cast<float>(nShift2 >= 0 ? nShift2 : -nShift2) / 2;
        // A hand that struck the slice before has no time to travel far; one
        // that rested had time to get ready.
        bool bStruckBefore = from.anPlayed[nHand] == slice.nIndex;
        fCost += kMoveCost * (static_cast<float>(nGap) + fShift / 4) * (bStruckBefore ? 1.0f : kRestedMoveShare);
        if (bStruckBefore && nGap > kComfortableSpan)
            fCost += kFastLeapCost * static_cast<float>(nGap - kComfortableSpan);
    }
    const SRange& lower = aSounding[kLowerHand];
    const SRange& upper = aSounding[kUpperHand];
    if (!lower.Empty() && !upper.Empty() && lower.nHigh > upper.nLow)
        fCost += kCrossingCost + kCrossingStep * static_cast<float>(lower.nHigh - upper.nLow);
    // A line broken: a hand that struck the slice before and strikes
    // nothing now, while the other hand strikes a note a step or a fourth
    // from it and farther from its own last keys; that note would be the
    // next of the line the resting hand was playing.
    for (uint32_t nHand = 0; nHand < 2; ++nHand) {
        uint32_t nOther = 1 - nHand;
        if (aStruck[nHand].Empty() || !aStruck[nOther].Empty() || from.anPlayed[nOther] != slice.nIndex) continue;
        int32_t nNote = nOther == kUpperHand ? aStruck[nHand].nHigh : aStruck[nHand].nLow;
        int32_t nHome = nHand == kUpperHand ? kUpperHome : kLowerHome;
        int32_t nToOther = Distance(nNote, from.anLow[nOther], from.anHigh[nOther]);
        int32_t nToOwn = from.anPlayed[nHand] ? Distance(nNote, from.anLow[nHand], from.anHigh[nHand])
                                              : Distance(nNote, nHome, nHome);
        if (nToOther <= kLineStep && nToOther < nToOwn) fCost += kLineBreakCost;
    }
    // One hand free while the other stretches over a wide chord.
    for (uint32_t nHand = 0; nHand < 2; ++nHand) {
        const SRange& struck = aStruck[nHand];
        if (struck.Empty() || !aSounding[1 - nHand].Empty()) continue;
        int32_t nSpan = struck.nHigh - struck.nLow;
        if (nSpan > kIdleStretchFrom) fCost += kIdleStretchCost * static_cast<float>(nSpan - kIdleStretchFrom);
    }
    return fCost;
}

// The state the path reaches by striking the slice with the split.
static void Advance(const SHandState& from, const SSlice& slice, uint32_t nSplit, float fCost, SHandState* pTo) {
    pTo->fCost = fCost;
    pTo->nHeld = 0;
    for (uint32_t h = 0; h < from.nHeld; ++h)
        if (from.aHeld[h].dwOff > slice.dwOn) pTo->aHeld[pTo->nHeld++] = from.aHeld[h];
    for (uint32_t nHand = 0; nHand < 2; ++nHand) {
        pTo->anLow[nHand] = from.anLow[nHand];
        pTo->anHigh[nHand] = from.anHigh[nHand];
        pTo->anPlayed[nHand] = from.anPlayed[nHand];
    }
    if (nSplit > 0) {
        pTo->anLow[kLowerHand] = KeyAt(slice, 0);
        pTo->anHigh[kLowerHand] = KeyAt(slice, nSplit - 1);
        pTo->anPlayed[kLowerHand] = slice.nIndex + 1;
    }
    if (nSplit < slice.nNotes) {
        pTo->anLow[kUpperHand] = KeyAt(slice, nSplit);
        pTo->anHigh[kUpperHand] = KeyAt(slice, slice.nNotes - 1);
        pTo->anPlayed[kUpperHand] = slice.nIndex + 1;
    }
    for (uint32_t k = 0; k < slice.nNotes; ++k) {
        const SHandNote& note = slice.pNotes[slice.pnOrder[k]];
        SHeldNote held = {note.dwOff, note.bKey, static_cast<uint8_t>(k < nSplit ? kLowerHand : kUpperHand)};
        if (pTo->nHeld < kMaxHeld) {
            pTo->aHeld[pTo->nHeld++] = held;
            continue;
        }
        // Full: forget the note released first, if it goes before this one.
        uint32_t nFirst = 0;
        for (uint32_t h = 1; h < kMaxHeld; ++h)
            if (pTo->aHeld[h].dwOff < pTo->aHeld[nFirst].dwOff) nFirst = h;
        if (pTo->aHeld[nFirst].dwOff < held.dwOff) pTo->aHeld[nFirst] = held;
    }
}

// The splits a slice of nNotes keys offers: all m + 1 of them, or for a
// larger slice the kMaxSplits at its widest gaps, in ascending order.
static uint8_t ChooseSplits(const SSlice& slice, uint8_t* pabSplit) {
    if (slice.nNotes < kMaxSplits) {
        for (uint32_t k = 0; k <= slice.nNotes; ++k) pabSplit[k] = static_cast<uint8_t>(k);
        return static_cast<uint8_t>(slice.nNotes + 1);
    }
    // Splits index at most 255 notes; the rest of a larger cluster stays
    // with the right hand.
    uint32_t nLast = slice.nNotes < 255 ? slice.nNotes : 255;
    uint8_t nChosen = 0;
    for (uint32_t nRound = 0; nRound < kMaxSplits; ++nRound) {
        int32_t nWidest = -1;
        uint32_t nAt = 0;
        for (uint32_t k = 1; k < nLast; ++k) {
            bool bTaken = false;
            for (uint32_t c = 0; c < nChosen; ++c) bTaken |= pabSplit[c] == k;
            int32_t nGap = KeyAt(slice, k) - KeyAt(slice, k - 1);
            if (!bTaken && nGap > nWidest) nWidest = nGap, nAt = k;
        }
        if (nWidest < 0) break;
        pabSplit[nChosen++] = static_cast<uint8_t>(nAt);
    }
    for (uint32_t a = 1; a < nChosen; ++a)
        for (uint32_t b = a; b > 0 && pabSplit[b - 1] > pabSplit[b]; --b) {
            uint8_t t = pabSplit[b];
            pabSplit[b] = pabSplit[b - 1];
            pabSplit[b - 1] = t;
        }
    return nChosen;
}

void SeparateHands(const SHandNote* pNotes, uint32_t nNotes, void* pScratch, uint8_t* pbHand) {
    if (nNotes == 0) return;
    uint32_t* pnOrder = static_cast<uint32_t*>(pScratch);
    SSliceTrace* pTraces = reinterpret_cast<SSliceTrace*>(pnOrder + nNotes);

    // Two layers of states: the slice before and the current one.
    SHandState aLayers[2][kMaxSplits];
    SHandState& start = aLayers[0][0];
    start = {};
    uint32_t nPreviousSplits = 1;
    uint32_t nSlices = 0;

    for (uint32_t nFirst = 0; nFirst < nNotes; ++nSlices) {
        uint32_t nEnd = nFirst + 1;
        while (nEnd < nNotes && pNotes[nEnd].dwOn == pNotes[nFirst].dwOn) ++nEnd;
        // The slice's notes by key (insertion sort: slices are small).
        for (uint32_t k = nFirst; k < nEnd; ++k) {
            uint32_t j = k;
            for (; j > nFirst && pNotes[pnOrder[j - 1]].bKey > pNotes[k].bKey; --j) pnOrder[j] = pnOrder[j - 1];
            pnOrder[j] = k;
        }
        SSlice slice = {nSlices, pNotes[nFirst].dwOn, pnOrder + nFirst, nEnd - nFirst, pNotes};
        SSliceTrace& trace = pTraces[nSlices];
        trace.nFirst = nFirst;
        trace.nSplits = ChooseSplits(slice, trace.abSplit);

        const SHandState* pFrom = aLayers[nSlices % 2];
        SHandState* pTo = aLayers[(nSlices + 1) % 2];
        for (uint32_t s = 0; s < trace.nSplits; ++s) {
            float fRegister = RegisterCost(slice, trace.abSplit[s]);
            uint32_t nBest = 0;
            float fBest = 0;
            for (uint32_t p = 0; p < nPreviousSplits; ++p) {
                float fCost = pFrom[p].fCost + StepCost(pFrom[p], slice, trace.abSplit[s]);
                if (p == 0 || fCost < fBest) fBest = fCost, nBest = p;
            }
            trace.abFrom[s] = static_cast<uint8_t>(nBest);
            Advance(pFrom[nBest], slice, trace.abSplit[s], fBest + fRegister, &pTo[s]);
        }
        nPreviousSplits = trace.nSplits;
        nFirst = nEnd;
    }

    // The cheapest path, walked back from the last slice.
    const SHandState* pLast = aLayers[nSlices % 2];
    uint32_t nSplit = 0;
    for (uint32_t s = 1; s < nPreviousSplits; ++s)
        if (pLast[s].fCost < pLast[nSplit].fCost) nSplit = s;
    uint32_t nEnd = nNotes;
    for (uint32_t nSlice = nSlices; nSlice-- > 0;) {
        const SSliceTrace& trace = pTraces[nSlice];
        for (uint32_t k = trace.nFirst; k < nEnd; ++k)
            pbHand[pnOrder[k]] = static_cast<uint8_t>(k - trace.nFirst < trace.abSplit[nSplit] ? kLowerHand : kUpperHand);
        nEnd = trace.nFirst;
        nSplit = trace.abFrom[nSplit];
    }
}

// ---- Whether a track needs two staves --------------------------------------------

bool IsKeyboardProgram(uint8_t bProgram) {
    return bProgram <= 8 || bProgram == 12 || (bProgram >= 16 && bProgram <= 21) || bProgram == 23 ||
           bProgram == 46;
}

static const uint32_t kFewestHandNotes = 4;
static const uint32_t kHandShareDivisor = 16;   // the second hand has a sixteenth of the notes at least
static const uint32_t kWideShareDivisor = 4;    // a quarter of the notes in measures too wide for a staff

bool NeedsGrandStaff(uint8_t bProgram, const SHandNote* pNotes, uint32_t nNotes, const uint8_t* pbHand,
                     uint32_t dwMeasure) {
    if (nNotes == 0) return false;
    if (IsKeyboardProgram(bProgram)) {
        uint32_t nLower = 0;
        for (uint32_t k = 0; k < nNotes; ++k) nLower += pbHand[k] == kLowerHand;
        uint32_t nFewer = nLower < nNotes - nLower ? nLower : nNotes - nLower;
        return nFewer >= kFewestHandNotes && nFewer * kHandShareDivisor >= nNotes;
    }
    // Measure by measure (the notes come by onset), the range of the keys
    // struck and how many notes lie in measures too wide for one staff.
    uint32_t nInWide = 0;
    for (uint32_t nFirst = 0; nFirst < nNotes;) {
        uint32_t nMeasure = pNotes[nFirst].dwOn / dwMeasure;
        SRange range;
        uint32_t nEnd = nFirst;
        for (; nEnd < nNotes && pNotes[nEnd].dwOn / dwMeasure == nMeasure; ++nEnd) range.Add(pNotes[nEnd].bKey);
        if (range.nHigh - range.nLow > static_cast<int32_t>(kOneStaffRange)) nInWide += nEnd - nFirst;
        nFirst = nEnd;
    }
    return nInWide * kWideShareDivisor >= nNotes;
}
