// Hand separation by the cheapest path over the onsets' splits, and the
// choice of a grand staff (see hands.h for the method and its costs).
#include "hands.h"

#include "../core/bits.h"

// ---- Costs, in semitones of hand movement -----------------------------------------

static const int32_t kComfortableSpan = 12;    // an octave: any hand
static const int32_t kReach = 16;              // a tenth: most hands, no further
static const float kStretchCost = 1.0f;        // per semitone of a chord beyond the octave
static const float kOutOfReachCost = 40.0f;    // a chord one hand cannot hold
static const float kOutOfReachStep = 10.0f;    //   and per semitone beyond the tenth
static const float kHeldLetGoCost = 12.0f;     // held notes out of reach: the pedal holds them instead
static const float kMoveCost = 1.0f;           // per semitone a hand moves
static const float kFastLeapCost = 1.0f;       // per semitone beyond the octave, from one onset to the next
static const float kCrossingCost = 10.0f;      // left hand sounding above the right
static const float kCrossingStep = 2.0f;       //   and per semitone of overlap
static const int32_t kIdleStretchFrom = 7;     // a fifth: wider than that, the free hand could help
static const float kIdleStretchCost = 2.0f;    // per semitone beyond it while the other hand is free
static const float kRestedMoveShare = 0.5f;    // movement of a hand that did not strike the slice before
static const int32_t kLineStep = 5;            // a fourth: the next note of a line lies this near
static const float kLineBreakCost = 8.0f;      // a line's next note handed to the other hand
static const int32_t kLineLeap = 12;           // an octave: a line's leap, if nothing lies nearer
static const float kLeapBreakCost = 4.0f;      //   handed to the other hand
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
// Paths kept per split: the cheapest path to a split is not always the
// start of the cheapest path on (a hand that saves a move now may pay for
// it bars later, as the left hand that takes a broken chord's upper notes
// and must then hold the bass too), so a few runners-up go on with it.
static const uint32_t kKeptPerSplit = 3;
static const uint32_t kMaxPaths = kMaxSplits * kKeptPerSplit;
static const uint32_t kCandidatesPerSplit = kKeptPerSplit;
static const float kHopelessMargin = kOutOfReachCost;
// Notes a path remembers as still sounding; past that, the one released
// first is forgotten.
static const uint32_t kMaxHeld = 24;

struct SHeldNote {
    uint32_t dwOff;
    uint8_t bKey;
};

// The notes still sounding after a slice. Every path holds the same notes
// (they were struck at the same onsets and last as long); only the hand
// each is in differs, so the list is kept once for all paths and each path
// keeps the left hand's share as a mask over it.
struct SHeldNotes {
    uint32_t nHeld;
    SHeldNote aHeld[kMaxHeld];
};
static_assert(kMaxHeld <= 32, "a path marks its held notes in 32 bits");

// Steps of lines into one slice that a path is charged for breaking; more
// (a dense chord after another) are left out.
static const uint32_t kMaxLinks = 32;

// What a path leaves behind after a slice.
struct SHandState {
    float fCost;                    // the path's cost so far
    int32_t anLow[2];               // by hand: the keys it is over (see MoveHand)
    int32_t anHigh[2];
    uint32_t anPlayed[2];           // by hand: 1 + the slice it struck notes in last; 0 for never
    uint32_t dwLowerHeld;           // bit h: the held note h (SHeldNotes) is the left hand's
};

// How the cheapest path reached each split of a slice, for the walk back.
struct SSliceTrace {
    uint32_t nFirst;                // the slice's first entry in the order array
    uint8_t nSplits;
    uint8_t abSplit[kMaxSplits];    // notes (in key order) given to the left hand
    uint8_t nPaths;
    uint8_t abPathSplit[kMaxPaths]; // by path kept: its split of this slice
    uint8_t abFrom[kMaxPaths];      //   and the path of the slice before it goes on from
};

uint64_t HandScratchBytes(uint32_t nNotes) {
    // The two layers of paths, a trace per slice, the notes' order and
    // their keys in that order.
    return 2 * kMaxPaths * sizeof(SHandState) + uint64_t{nNotes} * (sizeof(SSliceTrace) + sizeof(uint32_t) + 1);
}

// The keys of one slice in ascending order, with what every split of it
// needs and does not depend on the path.
struct SSlice {
    uint32_t nIndex;                // slice number
    uint32_t dwOn;
    const uint32_t* pnOrder;        // note indices, by key
    const uint8_t* pbKeys;          // their keys, ascending
    uint32_t nNotes;
    const SHandNote* pNotes;
    uint32_t dwSounding;            // bit h: the held note h still sounds at the onset
    uint32_t nLinks;                // notes that go on from a note just released
    uint8_t abLinkFrom[kMaxLinks];  //   that note, by its place among the held notes
    uint8_t abLinkTo[kMaxLinks];    //   the note here, by key order
    uint8_t abLinkStep[kMaxLinks];  //   the interval between them, in semitones
};

static int32_t KeyAt(const SSlice& slice, uint32_t k) { return slice.pbKeys[k]; }

static int32_t Interval(int32_t nKey, int32_t nOther) { return nKey > nOther ? nKey - nOther : nOther - nKey; }

// The steps of lines into a slice. A line's note is followed by the next
// when it ends: the notes that can go on into this slice are those struck
// at the slice before or sounding past it, released by this onset (or
// soon after it, as a legato line overlaps); a note held on through the
// slice is not followed by another in its line. Nearest first, each of
// these and a note of the slice at most a fourth from it, neither taken
// yet, are a step of a line (pitch proximity, as voice separation reads
// lines).
static void FindLinks(const SHeldNotes& sounding, uint32_t dwBefore, SSlice* pSlice) {
    pSlice->nLinks = 0;
    uint32_t dwReleasedBy = pSlice->dwOn + (pSlice->dwOn - dwBefore) / 2;
    uint32_t nHere = pSlice->nNotes < 256 ? pSlice->nNotes : 256;
    uint32_t nTaken = 0;    // bit h: the note held at h already goes on
    while (pSlice->nLinks < kMaxLinks) {
        uint32_t nFrom = kMaxHeld, nTo = 0;
        int32_t nBest = kLineLeap + 1;
        for (uint32_t h = 0; h < sounding.nHeld; ++h) {
            const SHeldNote& held = sounding.aHeld[h];
            if (held.dwOff > dwReleasedBy || (nTaken >> h & 1)) continue;
            for (uint32_t k = 0; k < nHere; ++k) {
                int32_t nInterval = Interval(KeyAt(*pSlice, k), held.bKey);
                if (nInterval >= nBest) continue;
                bool bTaken = false;
                for (uint32_t l = 0; l < pSlice->nLinks; ++l) bTaken |= pSlice->abLinkTo[l] == k;
                if (!bTaken) nBest = nInterval, nFrom = h, nTo = k;
            }
        }
        if (nFrom == kMaxHeld) break;
        nTaken |= 1u << nFrom;
        pSlice->abLinkFrom[pSlice->nLinks] = static_cast<uint8_t>(nFrom);
        pSlice->abLinkTo[pSlice->nLinks] = static_cast<uint8_t>(nTo);
        pSlice->abLinkStep[pSlice->nLinks++] = static_cast<uint8_t>(nBest);
    }
}

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

// Where a hand is after striking keys nLow to nHigh, from over the keys
// *pnLow to *pnHigh: a hand covers an octave without moving, so it stays
// over the keys it struck lately as far as they lie within an octave of
// the new ones, and moves only as far as the new keys ask.
static void MoveHand(int32_t nLow, int32_t nHigh, int32_t* pnLow, int32_t* pnHigh) {
    if (nHigh - nLow >= kComfortableSpan) {
        *pnLow = nLow, *pnHigh = nHigh;
        return;
    }
    if (nLow < *pnLow) *pnLow = nLow;
    if (nHigh > *pnHigh) *pnHigh = nHigh;
    if (*pnHigh - *pnLow <= kComfortableSpan) return;
    if (nLow == *pnLow) *pnHigh = nLow + kComfortableSpan;
    else *pnLow = nHigh - kComfortableSpan;
}

// What every split of a slice reads of a path, found once per path rather
// than once per split: the keys each hand still holds at the slice's onset,
// and the hand that played the note each step of a line comes from (every
// such note is among the held ones, FindLinks took it from there).
struct SPathView {
    SRange aHeld[2];
    uint8_t abLinkHand[kMaxLinks];
};

static void ViewPath(const SHandState& from, const SHeldNotes& held, const SSlice& slice, SPathView* pView) {
    pView->aHeld[0] = SRange();
    pView->aHeld[1] = SRange();
    for (uint64_t q = slice.dwSounding; q; q &= q - 1) {
        uint32_t h = LowestBit(q);
        pView->aHeld[from.dwLowerHeld >> h & 1].Add(held.aHeld[h].bKey);
    }
    for (uint32_t l = 0; l < slice.nLinks; ++l)
        pView->abLinkHand[l] = static_cast<uint8_t>(from.dwLowerHeld >> slice.abLinkFrom[l] & 1);
}

// The cost of striking the slice with nSplit of its lowest notes in the left
// hand after the path that left `from` (seen through its view), the
// register pull aside.
static float StepCost(const SHandState& from, const SPathView& view, const SSlice& slice, uint32_t nSplit) {
    SRange aStruck[2];
    const SRange* aHeld = view.aHeld;
    if (nSplit > 0) aStruck[kLowerHand] = {KeyAt(slice, 0), KeyAt(slice, nSplit - 1)};
    if (nSplit < slice.nNotes) aStruck[kUpperHand] = {KeyAt(slice, nSplit), KeyAt(slice, slice.nNotes - 1)};

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
            // What the hand struck with what it still holds: the stretch
            // the held notes add, as far as the hand can keep them down;
            // past that the fingers let them go and the pedal (or nothing)
            // sustains them, which costs the same however far they lie.
            int32_t nSounding = aSounding[nHand].nHigh - aSounding[nHand].nLow;
            float fHeld = SpanCost(nSounding) - SpanCost(struck.nHigh - struck.nLow);
            fCost += fHeld < kHeldLetGoCost ? fHeld : kHeldLetGoCost;
        }
        // The way from the keys the hand is over: the gap to the keys it
        // strikes (pitch proximity), and a quarter of the shift of the
        // hand's middle (a chord moving over keys it overlaps still moves
        // the hand).
        int32_t nHome = nHand == kUpperHand ? kUpperHome : kLowerHome;
        int32_t nLastLow = from.anPlayed[nHand] ? from.anLow[nHand] : nHome;
        int32_t nLastHigh = from.anPlayed[nHand] ? from.anHigh[nHand] : nHome;
        int32_t nGap = struck.nLow > nLastHigh ? struck.nLow - nLastHigh : nLastLow > struck.nHigh ? nLastLow - struck.nHigh : 0;
        int32_t nNewLow = nLastLow, nNewHigh = nLastHigh;
        MoveHand(struck.nLow, struck.nHigh, &nNewLow, &nNewHigh);
        int32_t nShift2 = nNewLow + nNewHigh - nLastLow - nLastHigh;
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
    // A line handed to the other hand.
    for (uint32_t l = 0; l < slice.nLinks; ++l) {
        uint32_t nHand = slice.abLinkTo[l] < nSplit ? kLowerHand : kUpperHand;
        if (view.abLinkHand[l] != nHand)
            fCost += slice.abLinkStep[l] <= kLineStep ? kLineBreakCost : kLeapBreakCost;
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

// Whether two paths stand alike: the hands over the same keys, having
// played at the same slices, holding the same notes. What is left to pay
// from there is the same for both.
static bool SameState(const SHandState& a, const SHandState& b) {
    return a.dwLowerHeld == b.dwLowerHeld && a.anLow[0] == b.anLow[0] && a.anLow[1] == b.anLow[1] &&
           a.anHigh[0] == b.anHigh[0] && a.anHigh[1] == b.anHigh[1] && a.anPlayed[0] == b.anPlayed[0] &&
           a.anPlayed[1] == b.anPlayed[1];
}

// The notes held after a slice: those of the list before that still sound
// at its onset, then the slice's own; past kMaxHeld, the note released
// first is forgotten for a later one. Where each place of the new list
// comes from, for the paths' masks: below kFromSlice an old place, else
// kFromSlice + the note's key order in the slice.
static const uint32_t kFromSlice = 32;
struct SHeldAfter {
    SHeldNotes held;
    uint32_t anOrigin[kMaxHeld];
};

static void HoldSlice(const SHeldNotes& before, const SSlice& slice, SHeldAfter* pAfter) {
    SHeldNotes& held = pAfter->held;
    held.nHeld = 0;
    for (uint32_t h = 0; h < before.nHeld; ++h) {
        if (before.aHeld[h].dwOff <= slice.dwOn) continue;
        pAfter->anOrigin[held.nHeld] = h;
        held.aHeld[held.nHeld++] = before.aHeld[h];
    }
    for (uint32_t k = 0; k < slice.nNotes; ++k) {
        const SHandNote& note = slice.pNotes[slice.pnOrder[k]];
        if (held.nHeld < kMaxHeld) {
            pAfter->anOrigin[held.nHeld] = kFromSlice + k;
            held.aHeld[held.nHeld++] = {note.dwOff, note.bKey};
            continue;
        }
        uint32_t nFirst = 0;
        for (uint32_t h = 1; h < kMaxHeld; ++h)
            if (held.aHeld[h].dwOff < held.aHeld[nFirst].dwOff) nFirst = h;
        if (held.aHeld[nFirst].dwOff < note.dwOff) {
            pAfter->anOrigin[nFirst] = kFromSlice + k;
            held.aHeld[nFirst] = {note.dwOff, note.bKey};
        }
    }
}

// The state the path reaches by striking the slice with the split.
static void Advance(const SHandState& from, const SHeldAfter& after, const SSlice& slice, uint32_t nSplit, float fCost,
                    SHandState* pTo) {
    pTo->fCost = fCost;
    for (uint32_t nHand = 0; nHand < 2; ++nHand) {
        pTo->anLow[nHand] = from.anLow[nHand];
        pTo->anHigh[nHand] = from.anHigh[nHand];
        pTo->anPlayed[nHand] = from.anPlayed[nHand];
    }
    for (uint32_t nHand = 0; nHand < 2; ++nHand) {
        uint32_t nFrom = nHand == kLowerHand ? 0 : nSplit;
        uint32_t nTo = nHand == kLowerHand ? nSplit : slice.nNotes;
        if (nFrom == nTo) continue;
        if (!from.anPlayed[nHand]) pTo->anLow[nHand] = pTo->anHigh[nHand] = KeyAt(slice, nFrom);
        MoveHand(KeyAt(slice, nFrom), KeyAt(slice, nTo - 1), &pTo->anLow[nHand], &pTo->anHigh[nHand]);
        pTo->anPlayed[nHand] = slice.nIndex + 1;
    }
    uint32_t dwLower = 0;
    for (uint32_t h = 0; h < after.held.nHeld; ++h) {
        uint32_t nOrigin = after.anOrigin[h];
        bool bLower = nOrigin < kFromSlice ? (from.dwLowerHeld >> nOrigin & 1) != 0 : nOrigin - kFromSlice < nSplit;
        dwLower |= static_cast<uint32_t>(bLower) << h;
    }
    pTo->dwLowerHeld = dwLower;
}

// The splits a slice of nNotes keys offers: all m + 1 of them, or for a
// larger slice the kMaxSplits at its widest gaps, in ascending order.
static uint8_t ChooseSplits(const SSlice& slice, uint8_t* pabSplit) {
    if (slice.nNotes < kMaxSplits) {
        // A split that leaves one hand notes wider than a tenth is out of
        // its reach and never the cheapest while another split is within
        // both hands' reach: those are left out, unless no split is.
        const int32_t nLowest = KeyAt(slice, 0), nHighest = KeyAt(slice, slice.nNotes - 1);
        uint8_t nChosen = 0;
        for (uint32_t k = 0; k <= slice.nNotes; ++k) {
            bool bLowerReaches = k == 0 || KeyAt(slice, k - 1) - nLowest <= kReach;
            bool bUpperReaches = k == slice.nNotes || nHighest - KeyAt(slice, k) <= kReach;
            if (bLowerReaches && bUpperReaches) pabSplit[nChosen++] = static_cast<uint8_t>(k);
        }
        if (nChosen > 0) return nChosen;
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
    // Two layers of paths: the slice before and the current one.
    SHandState(*aLayers)[kMaxPaths] = static_cast<SHandState(*)[kMaxPaths]>(pScratch);
    SSliceTrace* pTraces = reinterpret_cast<SSliceTrace*>(aLayers + 2);
    uint32_t* pnOrder = reinterpret_cast<uint32_t*>(pTraces + nNotes);
    uint8_t* pbKeys = reinterpret_cast<uint8_t*>(pnOrder + nNotes);
    SPathView aViews[kMaxPaths];
    aLayers[0][0] = {};
    SHeldAfter aHeld[2];  // the notes held after the slice before, and after this one
    aHeld[0].held.nHeld = 0;
    uint32_t nPreviousPaths = 1;
    uint32_t nSlices = 0;
    uint32_t dwBefore = 0;

    for (uint32_t nFirst = 0; nFirst < nNotes; ++nSlices) {
        uint32_t nEnd = nFirst + 1;
        while (nEnd < nNotes && pNotes[nEnd].dwOn == pNotes[nFirst].dwOn) ++nEnd;
        // The slice's notes by key (insertion sort: slices are small).
        for (uint32_t k = nFirst; k < nEnd; ++k) {
            uint32_t j = k;
            for (; j > nFirst && pNotes[pnOrder[j - 1]].bKey > pNotes[k].bKey; --j) pnOrder[j] = pnOrder[j - 1];
            pnOrder[j] = k;
        }
        for (uint32_t k = nFirst; k < nEnd; ++k) pbKeys[k] = pNotes[pnOrder[k]].bKey;
        const SHeldNotes& held = aHeld[nSlices % 2].held;
        SHeldAfter& after = aHeld[(nSlices + 1) % 2];
        SSlice slice;
        slice.nIndex = nSlices;
        slice.dwOn = pNotes[nFirst].dwOn;
        slice.pnOrder = pnOrder + nFirst;
        slice.pbKeys = pbKeys + nFirst;
        slice.nNotes = nEnd - nFirst;
        slice.pNotes = pNotes;
        slice.dwSounding = 0;
        slice.nLinks = 0;
        for (uint32_t h = 0; h < held.nHeld; ++h)
            slice.dwSounding |= static_cast<uint32_t>(held.aHeld[h].dwOff > slice.dwOn) << h;
        if (nSlices > 0) FindLinks(held, dwBefore, &slice);
        HoldSlice(held, slice, &after);
        SSliceTrace& trace = pTraces[nSlices];
        trace.nFirst = nFirst;
        trace.nSplits = ChooseSplits(slice, trace.abSplit);
        trace.nPaths = 0;

        const SHandState* pFrom = aLayers[nSlices % 2];
        SHandState* pTo = aLayers[(nSlices + 1) % 2];
        for (uint32_t p = 0; p < nPreviousPaths; ++p) ViewPath(pFrom[p], held, slice, &aViews[p]);
        for (uint32_t s = 0; s < trace.nSplits; ++s) {
            // The cheapest paths on to this split, cheapest first: twice as
            // many as are kept, since two may arrive at the same state.
            uint32_t anBest[kCandidatesPerSplit];
            float afBest[kCandidatesPerSplit];
            uint32_t nCandidates = 0;
            for (uint32_t p = 0; p < nPreviousPaths; ++p) {
                float fCost = pFrom[p].fCost + StepCost(pFrom[p], aViews[p], slice, trace.abSplit[s]);
                uint32_t nAt = nCandidates < kCandidatesPerSplit ? nCandidates++ : kCandidatesPerSplit;
                for (; nAt > 0 && afBest[nAt - 1] > fCost; --nAt)
                    if (nAt < kCandidatesPerSplit) anBest[nAt] = anBest[nAt - 1], afBest[nAt] = afBest[nAt - 1];
                if (nAt < kCandidatesPerSplit) anBest[nAt] = p, afBest[nAt] = fCost;
            }
            float fRegister = RegisterCost(slice, trace.abSplit[s]);
            uint32_t nFirstKept = trace.nPaths;
            for (uint32_t r = 0; r < nCandidates && trace.nPaths - nFirstKept < kKeptPerSplit; ++r) {
                SHandState* pState = &pTo[trace.nPaths];
                Advance(pFrom[anBest[r]], after, slice, trace.abSplit[s], afBest[r] + fRegister, pState);
                // Paths that reach one state go on alike: only the cheapest counts.
                bool bSeen = false;
                for (uint32_t q = nFirstKept; q < trace.nPaths && !bSeen; ++q) bSeen = SameState(pTo[q], *pState);
                if (bSeen) continue;
                trace.abPathSplit[trace.nPaths] = static_cast<uint8_t>(s);
                trace.abFrom[trace.nPaths++] = static_cast<uint8_t>(anBest[r]);
            }
        }
        // Paths far dearer than the cheapest have no prospect of
        // catching up: they are dropped.
        float fCheapest = pTo[0].fCost;
        for (uint32_t p = 1; p < trace.nPaths; ++p)
            if (pTo[p].fCost < fCheapest) fCheapest = pTo[p].fCost;
        uint32_t nKept = 0;
        for (uint32_t p = 0; p < trace.nPaths; ++p) {
            if (pTo[p].fCost > fCheapest + kHopelessMargin) continue;
            pTo[nKept] = pTo[p];
            trace.abPathSplit[nKept] = trace.abPathSplit[p];
            trace.abFrom[nKept++] = trace.abFrom[p];
        }
        trace.nPaths = static_cast<uint8_t>(nKept);
        nPreviousPaths = trace.nPaths;
        dwBefore = slice.dwOn;
        nFirst = nEnd;
    }

    // The cheapest path, walked back from the last slice.
    const SHandState* pLast = aLayers[nSlices % 2];
    uint32_t nPath = 0;
    for (uint32_t p = 1; p < nPreviousPaths; ++p)
        if (pLast[p].fCost < pLast[nPath].fCost) nPath = p;
    uint32_t nEnd = nNotes;
    for (uint32_t nSlice = nSlices; nSlice-- > 0;) {
        const SSliceTrace& trace = pTraces[nSlice];
        uint32_t nSplit = trace.abSplit[trace.abPathSplit[nPath]];
        for (uint32_t k = trace.nFirst; k < nEnd; ++k)
            pbHand[pnOrder[k]] = static_cast<uint8_t>(k - trace.nFirst < nSplit ? kLowerHand : kUpperHand);
        nEnd = trace.nFirst;
        nPath = trace.abFrom[nPath];
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
