// Guitar fingering over time: a shortest path through the ways of fingering
// each slice of notes that start together, costs and method in fingering.h.
#include "fingering.h"

// ---- Costs (why each: fingering.h) -----------------------------------------

// Counted in quarters, so that the position's cost, paid at every slice,
// can weigh a quarter of the others.
static const int32_t kDropCost = 4 * 100000;
static const int32_t kFrettedCost = 4 * 2;
static const int32_t kSpanCost[8] = {0, 0, 0, 0, 4 * 12, 4 * 30, 4 * 200, 4 * 500};  // by span in frets
static const uint32_t kMaxSpan = 5;       // what a hand holds beside notes it keeps down
static const uint32_t kMaxChordSpan = 7;  // what it stretches to for a chord nothing nearer sounds
static const uint32_t kMaxFingers = 4;
static const uint32_t kHandFrets = 4;  // frets under the hand without a stretch
static const int32_t kShiftCost = 4 * 4;
static const int32_t kShiftPerFret = 4 * 2;
static const int32_t kPositionCost = 1;
static const int32_t kHeldOutOfReach = 4 * 400;

static const uint32_t kChordNotes = 6;   // one note per string at most
static const uint32_t kCandidates = 8;  // fingerings of a slice kept per set of held strings
static const uint32_t kHighestFret = 24;
static const uint8_t kNoNote = 0xFF;
static const uint32_t kNoOnset = 0xFFFFFFFFu;

static inline uint32_t OpenKey(uint32_t nString) { return g_abSoundingOpenStrings[nString - 1]; }

// ---- Slices ------------------------------------------------------------------

// The notes of one onset that are to get a string, lowest key first.
struct SSlice {
    uint32_t dwOnset;
    uint32_t nNotes;  // 1..6
    uint8_t abKey[kChordNotes];
    uint32_t adwRelease[kChordNotes];
};

static bool InGuitarRange(uint8_t bKey) { return bKey >= kLowestGuitarKey && bKey <= kHighestGuitarKey; }

static uint32_t CountBits(uint64_t q) {
    uint32_t n = 0;
    for (; q; q &= q - 1) ++n;
    return n;
}

// The keys a slice of more than six notes keeps: each key once, then, while
// more than six remain, the inner key whose pitch class another key doubles
// goes first (the chord keeps its sound), else the second lowest (the low
// register is where close notes blur). The bass and the top voice stay.
// Bit k stands for key 40 + k.
static uint64_t KeysToKeep(uint64_t qKeys) {
    while (CountBits(qKeys) > kChordNotes) {
        uint32_t nLowest = 0, nHighest = 63;
        while (!(qKeys >> nLowest & 1)) ++nLowest;
        while (!(qKeys >> nHighest & 1)) --nHighest;
        uint32_t nDrop = 64;
        for (uint32_t k = nLowest + 1; k < nHighest && nDrop == 64; ++k) {
            if (!(qKeys >> k & 1)) continue;
            for (uint32_t j = k % 12; j < 64; j += 12)
                if (j != k && (qKeys >> j & 1)) nDrop = k;
        }
        if (nDrop == 64) {
            nDrop = nLowest + 1;
            while (!(qKeys >> nDrop & 1)) ++nDrop;
        }
        qKeys &= ~(1ull << nDrop);
    }
    return qKeys;
}

// Reads the next onset that has notes in the guitar's range from *pnNext on.
// Its kept notes carry a temporary mark in bString (1 + their place in the
// slice) until the path is read back; the notes it leaves out are counted.
static bool ReadSlice(SFretNote* pNotes, uint32_t nNotes, uint32_t* pnNext, SSlice* pSlice, uint32_t* pnDropped) {
    while (*pnNext < nNotes) {
        uint32_t nFirst = *pnNext, nEnd = nFirst;
        uint32_t nInRange = 0;
        uint64_t qKeys = 0;
        while (nEnd < nNotes && pNotes[nEnd].dwOnset == pNotes[nFirst].dwOnset) {
            if (InGuitarRange(pNotes[nEnd].bKey)) {
                ++nInRange;
                qKeys |= 1ull << (pNotes[nEnd].bKey - kLowestGuitarKey);
            }
            ++nEnd;
        }
        *pnNext = nEnd;
        if (nInRange == 0) continue;
        // Up to six notes all stay, a unison on two strings too; more keep
        // each key once, and six of those.
        uint64_t qKeep = nInRange > kChordNotes ? KeysToKeep(qKeys) : ~0ull;
        pSlice->dwOnset = pNotes[nFirst].dwOnset;
        pSlice->nNotes = 0;
        uint32_t anNote[kChordNotes];
        for (uint32_t i = nFirst; i < nEnd; ++i) {
            SFretNote& note = pNotes[i];
            if (!InGuitarRange(note.bKey)) continue;
            uint64_t qBit = 1ull << (note.bKey - kLowestGuitarKey);
            if (!(qKeep & qBit)) {
                ++*pnDropped;
                continue;
            }
            if (nInRange > kChordNotes) qKeep &= ~qBit;  // a repeated key is left out
            // Insertion by key, lowest first: the lowest keys reach the
            // fewest strings, so the search below places them first.
            uint32_t k = pSlice->nNotes++;
            while (k > 0 && pSlice->abKey[k - 1] > note.bKey) {
                pSlice->abKey[k] = pSlice->abKey[k - 1];
                pSlice->adwRelease[k] = pSlice->adwRelease[k - 1];
                anNote[k] = anNote[k - 1];
                --k;
            }
            pSlice->abKey[k] = note.bKey;
            pSlice->adwRelease[k] = note.dwRelease > note.dwOnset ? note.dwRelease : note.dwOnset;
            anNote[k] = i;
        }
        for (uint32_t k = 0; k < pSlice->nNotes; ++k) pNotes[anNote[k]].bString = static_cast<uint8_t>(k + 1);
        return true;
    }
    return false;
}

// ---- The fingerings of one slice ---------------------------------------------

// One way of fingering a slice: a string (or none) for each of its notes.
struct SCandidate {
    int32_t nCost;                   // what the chord asks of the hand
    uint32_t dwStrings;              // 3 bits per slice note, lowest key first: its string, 0 dropped
    uint8_t bUsed;                   // bit s - 1 for string s
    uint8_t bLow, bHigh;             // lowest and highest fret pressed; 0 when all are open
    uint8_t abNoteOn[kChordNotes];   // per string (s - 1): the slice note on it, or kNoNote
};

// The cheapest fingerings of the keys of a slice that keep off a set of
// held strings. Music repeats its chords and notes, so the lists are kept in
// a small cache by keys and held strings, and most slices find theirs there.
struct SCandidateList {
    uint8_t bHeld;
    uint8_t nKeys;  // 0: an empty entry of the cache
    uint8_t abKey[kChordNotes];
    uint32_t nCount;
    SCandidate a[kCandidates];
};

static const uint32_t kCachedLists = 64;

struct SSearch {
    const SSlice* pSlice;
    uint8_t bHeld;
    uint32_t nMaxDrops;
    SCandidateList* pList;
    uint8_t abString[kChordNotes];  // per slice note, 0 dropped
};

static void AddCandidate(SCandidateList& list, const SCandidate& c) {
    if (list.nCount == kCandidates && c.nCost >= list.a[kCandidates - 1].nCost) return;
    uint32_t k = list.nCount < kCandidates ? list.nCount++ : kCandidates - 1;
    while (k > 0 && list.a[k - 1].nCost > c.nCost) {
        list.a[k] = list.a[k - 1];
        --k;
    }
    list.a[k] = c;
}

// Prices a complete fingering and keeps it if it is among the cheapest.
static void PriceFingering(SSearch& search, uint32_t nDrops) {
    const SSlice& slice = *search.pSlice;
    SCandidate c = {};
    uint8_t abFret[kChordNotes] = {};
    uint32_t nFretted = 0;
    for (uint32_t s = 0; s < kChordNotes; ++s) c.abNoteOn[s] = kNoNote;
    for (uint32_t k = 0; k < slice.nNotes; ++k) {
        uint32_t s = search.abString[k];
        if (s == 0) continue;
        uint32_t nFret = slice.abKey[k] - OpenKey(s);
        c.abNoteOn[s - 1] = static_cast<uint8_t>(k);
        abFret[s - 1] = static_cast<uint8_t>(nFret);
        c.bUsed = static_cast<uint8_t>(c.bUsed | 1u << (s - 1));
        c.dwStrings |= s << (3 * k);
        if (nFret == 0) continue;
        ++nFretted;
        if (c.bLow == 0 || nFret < c.bLow) c.bLow = static_cast<uint8_t>(nFret);
        if (nFret > c.bHigh) c.bHigh = static_cast<uint8_t>(nFret);
    }
    // Fingers: notes on the lowest fret may share the index finger as a
    // barre, which presses every string between them, so not across an open
    // one.
    uint32_t nFingers = nFretted;
    if (nFretted > 0) {
        uint32_t nAtLow = 0, sFirst = 0, sLast = 0;
        for (uint32_t s = 1; s <= kChordNotes; ++s)
            if (c.abNoteOn[s - 1] != kNoNote && abFret[s - 1] == c.bLow) {
                ++nAtLow;
                if (sFirst == 0) sFirst = s;
                sLast = s;
            }
        bool bBarre = nAtLow >= 2;
        for (uint32_t s = sFirst + 1; bBarre && s < sLast; ++s)
            if (c.abNoteOn[s - 1] != kNoNote && abFret[s - 1] == 0) bBarre = false;
        if (bBarre) nFingers = 1 + nFretted - nAtLow;
    }
    if (nFingers > kMaxFingers) return;
    c.nCost = static_cast<int32_t>(nDrops) * kDropCost + kSpanCost[c.bHigh - c.bLow] +
              kFrettedCost * static_cast<int32_t>(nFretted);
    AddCandidate(*search.pList, c);
}

// Tries every free string for note k and the notes above it, keeping the
// pressed frets within a stretch.
static void SearchStrings(SSearch& search, uint32_t k, uint32_t bUsed, uint32_t nDrops, uint32_t nFretted,
                          uint32_t nLow, uint32_t nHigh) {
    const SSlice& slice = *search.pSlice;
    if (k == slice.nNotes) {
        PriceFingering(search, nDrops);
        return;
    }
    // What the notes placed so far cost can only grow: once it reaches the
    // dearest kept fingering, nothing below here is kept.
    const SCandidateList& list = *search.pList;
    int32_t nSoFar = static_cast<int32_t>(nDrops) * kDropCost + kFrettedCost * static_cast<int32_t>(nFretted) +
                     kSpanCost[nHigh - nLow];
    if (list.nCount == kCandidates && nSoFar >= list.a[kCandidates - 1].nCost) return;
    uint32_t nKey = slice.abKey[k];
    for (uint32_t s = 1; s <= kChordNotes; ++s) {
        if ((bUsed | search.bHeld) & (1u << (s - 1))) continue;
        if (nKey < OpenKey(s) || nKey > OpenKey(s) + kHighestFret) continue;
        uint32_t nFret = nKey - OpenKey(s);
        uint32_t nNewLow = nLow, nNewHigh = nHigh;
        if (nFret > 0) {
            if (nNewLow == 0 || nFret < nNewLow) nNewLow = nFret;
            if (nFret > nNewHigh) nNewHigh = nFret;
            if (nNewHigh - nNewLow > kMaxChordSpan) continue;
        }
        search.abString[k] = static_cast<uint8_t>(s);
        SearchStrings(search, k + 1, bUsed | 1u << (s - 1), nDrops, nFretted + (nFret > 0), nNewLow, nNewHigh);
    }
    if (nDrops < search.nMaxDrops) {
        search.abString[k] = 0;
        SearchStrings(search, k + 1, bUsed, nDrops + 1, nFretted, nLow, nHigh);
    }
}

// Lists the cheapest fingerings of the slice beside the held strings,
// dropping the fewest notes that make one possible (all of them at worst).
static void ListCandidates(const SSlice& slice, uint8_t bHeld, SCandidateList& list) {
    list.bHeld = bHeld;
    list.nKeys = static_cast<uint8_t>(slice.nNotes);
    for (uint32_t k = 0; k < slice.nNotes; ++k) list.abKey[k] = slice.abKey[k];
    list.nCount = 0;
    SSearch search = {&slice, bHeld, 0, &list, {}};
    for (; list.nCount == 0 && search.nMaxDrops <= slice.nNotes; ++search.nMaxDrops)
        SearchStrings(search, 0, 0, 0, 0, 0, 0);
}

static const SCandidateList& CandidatesOf(const SSlice& slice, uint8_t bHeld, SCandidateList* pCache) {
    uint32_t nHash = bHeld;
    for (uint32_t k = 0; k < slice.nNotes; ++k) nHash = nHash * 31 + slice.abKey[k];
    SCandidateList& list = pCache[nHash % kCachedLists];
    bool bSame = list.nKeys == slice.nNotes && list.bHeld == bHeld;
    for (uint32_t k = 0; bSame && k < slice.nNotes; ++k) bSame = list.abKey[k] == slice.abKey[k];
    if (!bSame) ListCandidates(slice, bHeld, list);
    return list;
}

// ---- The path ------------------------------------------------------------------

// A partial fingering of the track up to a slice: its cost, where the hand
// is, and what still sounds on each string.
struct SHand {
    int32_t nCost;
    uint8_t bHeld;                       // bit s - 1 when string s still sounds at the next onset
    uint32_t adwHeldUntil[kChordNotes];  // per held string: when its note stops
    uint8_t abHeldFret[kChordNotes];     // per held string: that note's fret
    uint8_t bPosition;                   // fret of the index finger; 0 before any fretted note
    uint8_t bFrom;                       // the partial fingering of the slice before it extends
    uint32_t dwStrings;                  // the fingering it chose for its slice
};

// Two partial fingerings that leave the same hand and strings behind have
// the same future; only the cheaper is worth keeping.
static bool SameFuture(const SHand& a, const SHand& b) {
    if (a.bPosition != b.bPosition || a.bHeld != b.bHeld) return false;
    for (uint32_t s = 0; a.bHeld >> s; ++s)
        if ((a.bHeld >> s & 1) && (a.adwHeldUntil[s] != b.adwHeldUntil[s] || a.abHeldFret[s] != b.abHeldFret[s]))
            return false;
    return true;
}

// The beam after a slice: the cheapest partial fingerings, cheapest first.
struct SBeam {
    uint32_t nCount;
    SHand a[kFingeringBeam];
};

static void AddToBeam(SBeam& beam, const SHand& hand) {
    uint32_t k = beam.nCount;
    for (uint32_t i = 0; i < beam.nCount; ++i)
        if (SameFuture(beam.a[i], hand)) {
            if (hand.nCost >= beam.a[i].nCost) return;
            k = i;  // replaced by the cheaper one
            break;
        }
    if (k == beam.nCount) {
        if (beam.nCount == kFingeringBeam) {
            if (hand.nCost >= beam.a[kFingeringBeam - 1].nCost) return;
            k = kFingeringBeam - 1;
        } else {
            ++beam.nCount;
        }
    }
    while (k > 0 && beam.a[k - 1].nCost > hand.nCost) {
        beam.a[k] = beam.a[k - 1];
        --k;
    }
    beam.a[k] = hand;
}

static uint32_t Distance(uint32_t a, uint32_t b) { return a > b ? a - b : b - a; }

// Extends one partial fingering by one fingering of the slice, with the hand
// at each position worth trying.
// nHeldLow and nHeldHigh: the frets of the notes the partial fingering holds
// at this onset (0 when none is fretted); bStillHeld: its strings that still
// sound at the next.
static void Extend(const SBeam& from, uint32_t iFrom, uint32_t nHeldLow, uint32_t nHeldHigh, uint32_t bStillHeld,
                   const SSlice& slice, const SCandidate& c, uint32_t dwNextOnset, SBeam& to) {
    const SHand& prior = from.a[iFrom];
    // Held fretted notes keep their fingers down: the hand must cover them.
    uint32_t nLow = c.bLow, nHigh = c.bHigh;
    int32_t nExtra = 0;
    if (nHeldLow != 0) {
        uint32_t nBothLow = nLow == 0 || nHeldLow < nLow ? nHeldLow : nLow;
        uint32_t nBothHigh = nHeldHigh > nHigh ? nHeldHigh : nHigh;
        if (nBothHigh - nBothLow > kMaxSpan) {
            nExtra = kHeldOutOfReach;
        } else {
            // Only the stretch beyond what the chord or the held notes need
            // alone is new.
            int32_t nAlone = kSpanCost[nHeldHigh - nHeldLow];
            if (nLow != 0 && kSpanCost[nHigh - nLow] > nAlone) nAlone = kSpanCost[nHigh - nLow];
            nExtra = kSpanCost[nBothHigh - nBothLow] - nAlone;
            nLow = nBothLow;
            nHigh = nBothHigh;
        }
    }
    // Where the hand may go: nowhere when nothing is pressed; else the
    // least move that covers the pressed frets, the index on the lowest, or
    // the little finger on the highest.
    uint32_t anPosition[3];
    uint32_t nPositions = 0;
    if (nLow == 0) {
        anPosition[nPositions++] = prior.bPosition;
    } else {
        uint32_t nReachLow = nHigh >= kHandFrets ? nHigh - (kHandFrets - 1) : 1;
        if (nReachLow > nLow) nReachLow = nLow;  // a stretch: the index stays on the lowest
        if (prior.bPosition != 0) {
            uint32_t nLeast = prior.bPosition < nReachLow ? nReachLow : prior.bPosition > nLow ? nLow : prior.bPosition;
            anPosition[nPositions++] = nLeast;
        }
        anPosition[nPositions++] = nLow;
        anPosition[nPositions++] = nReachLow;
    }
    int32_t nBase = prior.nCost + c.nCost + nExtra;
    for (uint32_t i = 0; i < nPositions; ++i) {
        uint32_t nPosition = anPosition[i];
        if ((i > 0 && anPosition[0] == nPosition) || (i > 1 && anPosition[1] == nPosition)) continue;
        int32_t nCost = nBase;
        if (nLow != 0) nCost += kPositionCost * static_cast<int32_t>(nPosition);
        if (prior.bPosition != 0 && nPosition != prior.bPosition)
            nCost += kShiftCost + kShiftPerFret * static_cast<int32_t>(Distance(nPosition, prior.bPosition));
        if (to.nCount == kFingeringBeam && nCost >= to.a[kFingeringBeam - 1].nCost) continue;
        SHand next;
        next.nCost = nCost;
        next.bPosition = static_cast<uint8_t>(nPosition);
        next.bFrom = static_cast<uint8_t>(iFrom);
        next.dwStrings = c.dwStrings;
        // What stops before the next onset holds nothing there.
        next.bHeld = static_cast<uint8_t>(bStillHeld);
        for (uint32_t s = 0; s < kChordNotes; ++s) {
            if (bStillHeld >> s & 1) {
                next.adwHeldUntil[s] = prior.adwHeldUntil[s];
                next.abHeldFret[s] = prior.abHeldFret[s];
            }
            uint32_t k = c.abNoteOn[s];
            if (k == kNoNote || slice.adwRelease[k] <= dwNextOnset) continue;
            next.bHeld = static_cast<uint8_t>(next.bHeld | 1u << s);
            next.adwHeldUntil[s] = slice.adwRelease[k];
            next.abHeldFret[s] = static_cast<uint8_t>(slice.abKey[k] - OpenKey(s + 1));
        }
        AddToBeam(to, next);
    }
}

static void Advance(const SBeam& from, const SSlice& slice, uint32_t dwNextOnset, SCandidateList* pCache,
                    SBeam& to) {
    to.nCount = 0;
    for (uint32_t i = 0; i < from.nCount; ++i) {
        const SHand& prior = from.a[i];
        // The held strings were worked out against this onset.
        uint8_t bHeld = prior.bHeld;
        uint32_t nHeldLow = 0, nHeldHigh = 0, bStillHeld = 0;
        for (uint32_t s = 0; s < kChordNotes; ++s) {
            if (!(bHeld >> s & 1)) continue;
            if (prior.adwHeldUntil[s] > dwNextOnset) bStillHeld |= 1u << s;
            uint32_t nFret = prior.abHeldFret[s];
            if (nFret == 0) continue;
            if (nHeldLow == 0 || nFret < nHeldLow) nHeldLow = nFret;
            if (nFret > nHeldHigh) nHeldHigh = nFret;
        }
        const SCandidateList& list = CandidatesOf(slice, bHeld, pCache);
        for (uint32_t j = 0; j < list.nCount; ++j) {
            // The list is cheapest first: once the chord alone cannot beat
            // the beam, nothing after it can.
            const SCandidate& c = list.a[j];
            if (to.nCount == kFingeringBeam) {
                int32_t nWorst = to.a[kFingeringBeam - 1].nCost;
                if (prior.nCost + c.nCost >= nWorst) break;
                // The hand sits no lower than five frets below the chord's
                // highest (a held note may pull it down that far).
                uint32_t nFloor = c.bHigh > kMaxChordSpan + 1 ? c.bHigh - kMaxChordSpan : c.bLow ? 1 : 0;
                if (prior.nCost + c.nCost + kPositionCost * static_cast<int32_t>(nFloor) >= nWorst) continue;
            }
            Extend(from, i, nHeldLow, nHeldHigh, bStillHeld, slice, c, dwNextOnset, to);
        }
    }
}

// ---- Reading the path back -------------------------------------------------------

// Walks the slices backwards from the cheapest partial fingering of the
// last one, giving each marked note the string its step chose.
static uint32_t ReadPathBack(SFretNote* pNotes, uint32_t nNotes, const SFingeringStep* pSteps, uint32_t nSlices) {
    uint32_t nDropped = 0;
    uint32_t iHand = 0;
    uint32_t nEnd = nNotes;
    while (nSlices > 0 && nEnd > 0) {
        uint32_t nFirst = nEnd - 1;
        while (nFirst > 0 && pNotes[nFirst - 1].dwOnset == pNotes[nEnd - 1].dwOnset) --nFirst;
        bool bMarked = false;
        for (uint32_t i = nFirst; i < nEnd; ++i) bMarked = bMarked || pNotes[i].bString != 0;
        if (bMarked) {
            uint32_t dwChoice = pSteps[--nSlices].adwChoice[iHand];
            for (uint32_t i = nFirst; i < nEnd; ++i) {
                SFretNote& note = pNotes[i];
                if (note.bString == 0) continue;
                uint32_t s = dwChoice >> (3 * (note.bString - 1)) & 7;
                note.bString = static_cast<uint8_t>(s);
                note.bFret = s ? static_cast<uint8_t>(note.bKey - OpenKey(s)) : 0;
                if (s == 0) ++nDropped;
            }
            iHand = dwChoice >> 24;
        }
        nEnd = nFirst;
    }
    return nDropped;
}

uint32_t FingerNotes(SFretNote* pNotes, uint32_t nNotes, SFingeringStep* pSteps) {
    for (uint32_t i = 0; i < nNotes; ++i) {
        pNotes[i].bString = 0;
        pNotes[i].bFret = 0;
    }
    uint32_t nDropped = 0;
    SBeam aBeams[2];
    aBeams[0].nCount = 1;
    aBeams[0].a[0] = SHand{};
    uint32_t iBeam = 0, nSlices = 0, nNext = 0;
    SSlice aSlices[2];
    SCandidateList aCache[kCachedLists];
    for (uint32_t i = 0; i < kCachedLists; ++i) aCache[i].nKeys = 0;
    bool bHave = ReadSlice(pNotes, nNotes, &nNext, &aSlices[0], &nDropped);
    for (uint32_t iSlice = 0; bHave; iSlice ^= 1) {
        bool bHaveNext = ReadSlice(pNotes, nNotes, &nNext, &aSlices[iSlice ^ 1], &nDropped);
        uint32_t dwNextOnset = bHaveNext ? aSlices[iSlice ^ 1].dwOnset : kNoOnset;
        const SBeam& from = aBeams[iBeam];
        SBeam& to = aBeams[iBeam ^ 1];
        Advance(from, aSlices[iSlice], dwNextOnset, aCache, to);
        SFingeringStep& step = pSteps[nSlices++];
        for (uint32_t i = 0; i < to.nCount; ++i) step.adwChoice[i] = to.a[i].dwStrings | uint32_t(to.a[i].bFrom) << 24;
        iBeam ^= 1;
        bHave = bHaveNext;
    }
    return nDropped + ReadPathBack(pNotes, nNotes, pSteps, nSlices);
}
