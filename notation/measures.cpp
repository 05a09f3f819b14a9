// Stages A, B and C: the grid cut into measures, every note placed in its
// section as a tied chain of values a score can show, the grid freed, the
// last track's end-of-track event moved to the last bar line, and tied pairs
// of equal values merged.
#include "estimated_key.h"
#include "notation.h"
#include "drum_staff.h"
#include "pitch_spelling.h"

#include "../core/bits.h"
#include "../core/loaded_file.h"
#include "../platform/platform.h"
#include "../smf/event_stream.h"
#include "../track/track.h"

#include <string.h>

// Ticks of k grid slots: k·4·D/R, truncated.
static uint32_t SlotTicks(const SBuildContext& context, uint64_t nSlots) {
    return static_cast<uint32_t>(nSlots * 4u * context.pFile->wDivision / context.bResolution);
}

// Where stage A stands in the file's conductor lists, and what it has read
// there. Measures start at grid slot times, which never decrease, so each
// list is read once for the whole track.
struct SConductorCursor {
    const STimeSignature* pMeter;  // next time signature not yet read
    const SKeySignature* pKey;     // next key signature not yet read
    const STempo* pTempo;          // next tempo not yet read
    uint8_t bNumerator;            // meter in force
    uint8_t bDenominator;
    uint8_t bSections;             // sections of a measure in that meter
    uint64_t nMeasureTicks;        // and its length in ticks
    int nKey;                      // key in force, as stored
    int8_t cKey;                   // and as the measure shows it (transposed, -7..7)
    uint16_t wTempo;               // tempo in force
};

// The start tick of every grid slot, k·4·D/R truncated, counted up slot by
// slot as a whole and a fraction of R so that no slot needs a division.
struct SSlotClock {
    uint32_t dwTime;       // start of the current slot (truncated, as a uint32_t)
    uint32_t nFraction;    // and what truncation left of it, in 1/R ticks
    uint32_t nWholeStep;   // ticks of one slot: nWholeStep + nFractionStep/R
    uint32_t nFractionStep;
    uint8_t bResolution;
};

// One value of a note written as tied values: where it starts in the
// measure, the value and whether it is dotted.
struct SPiece {
    uint8_t bPosition;
    uint8_t bValue;
    uint8_t bDotted;
};

// The values a note is written as, in order. A note of n slots has at most n.
struct SPieces {
    uint32_t nPieces;
    SPiece aPiece[255];
};

// The values of a note that is no single value depend only on where it
// starts and how long it lasts, and the same rhythms recur through a track:
// stage A remembers the last short chain it made for each of a thousand
// (position, length) pairs. Chains of more than five values are rare enough
// that the room is better spent on more pairs (and the table, on the stack,
// stays under 20 KB).
static const uint32_t kRememberedPieces = 5;
static const uint32_t kRememberedBits = 10;
static const uint32_t kRememberedNotes = 1u << kRememberedBits;

struct SRememberedNote {
    uint16_t wKey;  // position·256 + length + 1; 0 for none yet
    uint8_t bPieces;
    SPiece aPiece[kRememberedPieces];
};

// What stage A's appends need: the grid, the quotients R/n it divides by
// (worked out once per track), the chains it remembers, and where the next
// placed note of each section of the measure being filled goes, so that a
// section holding many notes costs no more per note than one holding few.
// The sections given notes are noted as sets (section k is bit k % 64 of
// word k / 64): so the entries used are cleared after the measure, rather
// than every section's, and the stages after A learn where the notes are.
struct SPlacement {
    uint8_t bResolution;
    uint8_t abWholeOver[65];      // R / n for every power of two n up to R
    uint8_t abLongestPlain[255];  // the longest plain value starting at each position, in slots
    SSection* pSections;          // of the measure being filled
    SNote** appTail[255];         // null while the section's list is empty
    uint64_t aqPlaced[4];         // the sections given a note in this measure
    uint64_t aqTiedOn[4];         // and those given a value tied to a later one of the measure
    SRememberedNote aRemembered[kRememberedNotes];
    SPieces pieces;  // the chain being made
};

// ---- Measure creation -----------------------------------------------------------------

static void StartSlotClock(const SBuildContext& context, SSlotClock& clock) {
    uint32_t nTicksTimesR = 4u * context.pFile->wDivision;
    clock.dwTime = 0;
    clock.nFraction = 0;
    clock.nWholeStep = nTicksTimesR / context.bResolution;
    clock.nFractionStep = nTicksTimesR % context.bResolution;
    clock.bResolution = context.bResolution;
}

static void AdvanceSlotClock(SSlotClock& clock) {
    clock.dwTime += clock.nWholeStep;
    clock.nFraction += clock.nFractionStep;
    if (clock.nFraction >= clock.bResolution) {
        clock.nFraction -= clock.bResolution;
        ++clock.dwTime;
    }
}

// Sections of a measure: numerator·R/denominator, rounded up. A meter of no
// beats, or one too long for 255 sections on this grid, has no layout.
uint8_t SectionsOfMeter(uint8_t bNumerator, uint8_t bDenominator, uint8_t bResolution) {
    if (bNumerator == 0 || bDenominator == 0) RaiseError(kMsgInvalidTimeSignature);
    uint32_t nSections = (bNumerator * static_cast<uint32_t>(bResolution) + bDenominator - 1) / bDenominator;
    if (nSections > 255) RaiseError(kMsgInvalidTimeSignature);
    return static_cast<uint8_t>(nSections);
}

// A meter's measures: their sections and their length in ticks (a tempo
// change anywhere inside a measure applies to all of it).
static void LayOutMeter(const SBuildContext& context, SConductorCursor& cursor) {
    cursor.bSections = SectionsOfMeter(cursor.bNumerator, cursor.bDenominator, context.bResolution);
    cursor.nMeasureTicks = static_cast<uint64_t>(4u) * context.pFile->wDivision * cursor.bSections / context.bResolution;
}

// The key the measures show, worked out once per key signature read: a
// transposition by t semitones moves the key by 7·t fifths, taken back into
// -7..7; a key byte outside that range is brought back the same way.
static void KeyOfMeasures(const SBuildContext& context, SConductorCursor& cursor) {
    cursor.cKey = static_cast<int8_t>(NormalisedKey(cursor.nKey + 7 * context.cTranspose));
}

// The keys the measures follow: the file's own key signatures; in the
// readable notation, a file without any is given the keys estimated from
// its notes (the track then says so). A drum staff shows no key at all.
static const SKeySignature* KeysOfFile(const SBuildContext& context) {
    SMidiFile* pFile = context.pFile;
    if (pFile->pKeySignatures || !context.options.bEstimateKey || context.pTrack->bPercussion)
        return pFile->pKeySignatures;
    const SKeySignature* pKeys = EstimatedKeys(pFile);
    if (pKeys) context.pTrack->bKeyEstimated = 1;
    return pKeys;
}

// Measures are created in time order, so each conductor list is walked once
// for the whole track: the cursor keeps its place and what it has read.
static void StartConductorCursor(const SBuildContext& context, SConductorCursor& cursor) {
    const SMidiFile* pFile = context.pFile;
    cursor.pMeter = pFile->pTimeSignatures;
    cursor.pKey = KeysOfFile(context);
    cursor.pTempo = pFile->pTempos;
    cursor.bNumerator = 4;
    cursor.bDenominator = 4;
    cursor.nKey = 0;
    KeyOfMeasures(context, cursor);
    cursor.wTempo = 120;
    LayOutMeter(context, cursor);
}

// The last entry of a conductor list at or before the measure's start wins.
static void LookupMeterAndKey(const SBuildContext& context, SConductorCursor& cursor, SMeasure* pMeasure) {
    if (cursor.pMeter && cursor.pMeter->dwTime <= pMeasure->dwTime) {
        for (; cursor.pMeter && cursor.pMeter->dwTime <= pMeasure->dwTime; cursor.pMeter = cursor.pMeter->pNext) {
            cursor.bNumerator = cursor.pMeter->bNumerator;
            cursor.bDenominator = cursor.pMeter->bDenominator;
        }
        LayOutMeter(context, cursor);
    }
    if (cursor.pKey && cursor.pKey->dwTime <= pMeasure->dwTime) {
        for (; cursor.pKey && cursor.pKey->dwTime <= pMeasure->dwTime; cursor.pKey = cursor.pKey->pNext)
            cursor.nKey = cursor.pKey->cKey;
        KeyOfMeasures(context, cursor);
    }
    pMeasure->bNumerator = cursor.bNumerator;
    pMeasure->bDenominator = cursor.bDenominator;
    pMeasure->bSections = cursor.bSections;
    pMeasure->cKey = cursor.cKey;
}

// A tempo change anywhere inside the measure applies to all of it.
static void LookupTempo(SConductorCursor& cursor, SMeasure* pMeasure) {
    uint64_t nEnd = pMeasure->dwTime + cursor.nMeasureTicks;
    for (; cursor.pTempo && cursor.pTempo->dwTime < nEnd; cursor.pTempo = cursor.pTempo->pNext)
        cursor.wTempo = cursor.pTempo->wTempo;
    pMeasure->wTempo = cursor.wTempo;
}

// Links the measure's sections and gives each the start tick of its grid
// slot (sections past the grid, only in the last measure, are timed by stage
// B).
static void LayOutSections(SMeasure* pMeasure, uint32_t nFirstSlot, uint32_t nSlots, SSlotClock& clock) {
    SSection* pSections = pMeasure->pSections;
    uint32_t S = pMeasure->bSections;
    uint32_t nTimed = nSlots - nFirstSlot < S ? nSlots - nFirstSlot : S;
    if (clock.nFractionStep == 0) {
        // Every slot a whole number of ticks (4·D a multiple of R).
        uint32_t dwTime = clock.dwTime, nStep = clock.nWholeStep;
        ForEachSection(nTimed, [pSections, dwTime, nStep](size_t k) {
            pSections[k].pNext = &pSections[k + 1];
            pSections[k].dwTime = dwTime + static_cast<uint32_t>(k) * nStep;
        });
        clock.dwTime = dwTime + nTimed * nStep;
    } else {
        for (uint32_t k = 0; k < nTimed; ++k) {
            pSections[k].pNext = &pSections[k + 1];
            pSections[k].dwTime = clock.dwTime;
            AdvanceSlotClock(clock);
        }
    }
    for (uint32_t k = nTimed; k < S; ++k) pSections[k].pNext = &pSections[k + 1];
    pSections[S - 1].pNext = nullptr;
}

// A measure starting at grid slot nFirstSlot, whose start tick the clock shows.
static SMeasure* CreateMeasure(const SBuildContext& context, SConductorCursor& cursor, SSlotClock& clock,
                               uint32_t nFirstSlot, SPlacement& placement) {
    SMeasure* pMeasure = AllocateRecords<SMeasure>(1);
    pMeasure->dwTime = clock.dwTime;
    LookupMeterAndKey(context, cursor, pMeasure);
    pMeasure->pSections = AllocateRecords<SSection>(pMeasure->bSections, kMsgNoMeasureSections);
    LayOutSections(pMeasure, nFirstSlot, context.nSlots, clock);
    placement.pSections = pMeasure->pSections;
    LookupTempo(cursor, pMeasure);
    return pMeasure;
}

// ---- Note placement ---------------------------------------------------------------------

SNote** AppendPlacedNote(SNote** ppTail, uint8_t bPitch, uint8_t bValue, uint8_t bDotted, uint8_t bTieIn,
                         uint8_t bTieOut) {
    SNote* pNote = AllocateRecords<SNote>(1);
    pNote->bPitch = bPitch;
    pNote->bValue = bValue;
    pNote->bDotted = bDotted;
    pNote->bTieIn = bTieIn;
    pNote->bTieOut = bTieOut;
    *ppTail = pNote;
    return &pNote->pNext;
}

// Stage A's append: at the end of section p of the measure being filled.
static void AppendAt(SPlacement& placement, uint32_t p, uint8_t bPitch, uint8_t bValue, uint8_t bDotted,
                     uint8_t bTieIn, uint8_t bTieOut) {
    SNote** ppTail = placement.appTail[p];
    if (!ppTail) {
        ppTail = &placement.pSections[p].pRawNotes;
        AddToSet(placement.aqPlaced, p);
    }
    placement.appTail[p] = AppendPlacedNote(ppTail, bPitch, bValue, bDotted, bTieIn, bTieOut);
}

// Hands over the sections the measure's notes went to (for the measure
// stages, which then look at no other section) and those where a value is
// tied to a later one, and forgets where the appends went, for the next
// measure.
static void HandOverPlacedSections(SPlacement& placement, uint32_t nSections, SPlacedSections& placed) {
    uint32_t n = 0;
    ForEachInSet(placement.aqPlaced, SetWords(nSections), [&placement, &placed, &n](uint32_t k) {
        placed.abSection[n++] = static_cast<uint8_t>(k);
        placement.appTail[k] = nullptr;
    });
    placed.nSections = n;
    memcpy(placed.aqTiedOn, placement.aqTiedOn, sizeof placed.aqTiedOn);
    memset(placement.aqPlaced, 0, sizeof placement.aqPlaced);
    memset(placement.aqTiedOn, 0, sizeof placement.aqTiedOn);
}

void RemoveNote(SNote* pNote, SSection* pSection) {
    for (SNote** ppLink = &pSection->pRawNotes; *ppLink; ppLink = &(*ppLink)->pNext) {
        if (*ppLink == pNote) {
            *ppLink = pNote->pNext;
            FreeToTrack(pNote);
            return;
        }
    }
}

// Lengths below are counted in grid slots: a note of n slots is n/R of a
// whole note, one value 1/u when n = R/u, and three units of 1/u when n = 3·R/u.


// The strongest point strictly inside a span of two slots or more (the
// earliest of equals): the point of the coarsest grid step up to R that has
// one inside. That step is the highest bit in which the first and the last
// slot differ; any step up to R beyond it has only the bar line to offer.
static uint32_t StrongestPoint(uint8_t bResolution, uint32_t p, uint32_t nSlots) {
    uint32_t nLast = p + nSlots - 1;
    uint32_t nStep = HighestPowerOfTwo(p ^ nLast);
    if (nStep >= bResolution) return (p | (bResolution - 1u)) + 1;
    return nLast & ~(nStep - 1);
}

// One plain value 1/u of n slots may start on a point of level u or
// stronger (n up to the point's step); a half note also on any quarter beat
// (a point of level 4): of the powers of two, those up to the longest that
// the position allows, which is worked out once per position for the track.
static uint8_t LongestPlainValueAt(uint8_t bResolution, uint32_t p) {
    uint32_t nStep = PointStep(bResolution, p);
    return static_cast<uint8_t>(nStep == bResolution / 4u ? bResolution / 2u : nStep);
}

static bool IsPlainValueAt(const SPlacement& placement, uint32_t p, uint32_t nSlots) {
    return IsPowerOfTwo(nSlots) & (nSlots <= placement.abLongestPlain[p]);
}

static void StartPlacement(SPlacement& placement, uint8_t bResolution) {
    placement.bResolution = bResolution;
    for (SRememberedNote& remembered : placement.aRemembered) remembered.wKey = 0;
    for (uint32_t n = 1; n <= bResolution; n <<= 1) placement.abWholeOver[n] = static_cast<uint8_t>(bResolution / n);
    for (uint32_t p = 0; p < 255; ++p) placement.abLongestPlain[p] = LongestPlainValueAt(bResolution, p);
    memset(placement.appTail, 0, sizeof placement.appTail);
    memset(placement.aqPlaced, 0, sizeof placement.aqPlaced);
    memset(placement.aqTiedOn, 0, sizeof placement.aqTiedOn);
}

// Three units of 1/u (u at least 2: three whole notes have no dotted value to
// become) are one dotted value when they start on a point of level u or
// stronger and their strongest inner point m is no stronger than their half.
static bool IsDottedValueAt(uint8_t bResolution, uint32_t p, uint32_t nSlots, uint32_t m) {
    uint32_t nUnit = nSlots / 3;
    return nSlots == 3 * nUnit && IsPowerOfTwo(nUnit) && 2 * nUnit <= bResolution &&
           nUnit <= PointStep(bResolution, p) && PointStep(bResolution, m) <= 2 * nUnit;
}

// Lists the values of a note of nSlots slots at position p: a single value
// where it fits, a dotted value where three units make one, and otherwise a
// cut at the strongest inner point, each part listed the same way.
static void ListPieces(const SPlacement& placement, uint32_t p, uint32_t nSlots, SPieces& pieces) {
    uint8_t R = placement.bResolution;
    if (IsPlainValueAt(placement, p, nSlots)) {
        pieces.aPiece[pieces.nPieces++] = SPiece{static_cast<uint8_t>(p), placement.abWholeOver[nSlots], 0};
        return;
    }
    uint32_t m = StrongestPoint(R, p, nSlots);
    if (IsDottedValueAt(R, p, nSlots, m)) {
        pieces.aPiece[pieces.nPieces++] = SPiece{static_cast<uint8_t>(p), placement.abWholeOver[nSlots / 3 * 2], 1};
        return;
    }
    ListPieces(placement, p, m - p, pieces);
    ListPieces(placement, m, nSlots - (m - p), pieces);
}

// The values of a note that is no single value, remembered or listed anew.
static const SPiece* PiecesOf(SPlacement& placement, uint32_t p, uint32_t nSlots, uint32_t& nPieces) {
    // The note lies inside its measure of at most 255 sections: p < 255, nSlots <= 255.
    uint16_t wKey = static_cast<uint16_t>((p << 8 | nSlots) + 1);
    // Its place in the table: the top bits of the key times 2^32/φ, which
    // scatters the pairs of a fine grid (a sum of multiples of p and nSlots
    // sends whole rows of them, a note a slot later and some slots shorter,
    // to one place, where they keep pushing each other out).
    SRememberedNote& remembered = placement.aRemembered[(wKey * 0x9E3779B1u) >> (32 - kRememberedBits)];
    if (remembered.wKey != wKey) {
        placement.pieces.nPieces = 0;
        ListPieces(placement, p, nSlots, placement.pieces);
        nPieces = placement.pieces.nPieces;
        if (nPieces > kRememberedPieces) return placement.pieces.aPiece;
        remembered.wKey = wKey;
        remembered.bPieces = static_cast<uint8_t>(nPieces);
        for (uint32_t i = 0; i < nPieces; ++i) remembered.aPiece[i] = placement.pieces.aPiece[i];
    }
    nPieces = remembered.bPieces;
    return remembered.aPiece;
}

// Writes a note of nSlots slots at position p as tied values the score can
// show: one value where it fits (most notes), otherwise a chain of them.
static inline void DecomposeNote(SPlacement& placement, uint32_t p, uint32_t nSlots, uint8_t bPitch, uint8_t bTieIn,
                                 uint8_t bTieOut) {
    if (IsPlainValueAt(placement, p, nSlots)) {
        AppendAt(placement, p, bPitch, placement.abWholeOver[nSlots], 0, bTieIn, bTieOut);
        return;
    }
    uint32_t nPieces = 0;
    const SPiece* pPieces = PiecesOf(placement, p, nSlots, nPieces);
    for (uint32_t i = 0; i + 1 < nPieces; ++i) {
        AppendAt(placement, pPieces[i].bPosition, bPitch, pPieces[i].bValue, pPieces[i].bDotted, i == 0 ? bTieIn : 1, 1);
        AddToSet(placement.aqTiedOn, pPieces[i].bPosition);
    }
    const SPiece& last = pPieces[nPieces - 1];
    AppendAt(placement, last.bPosition, bPitch, last.bValue, last.bDotted, nPieces == 1 ? bTieIn : 1, bTieOut);
}

// Readable, a drum staff: a hit is written as one value, never as tied
// values (a tie would read as a drum held on): the first of the values its
// length would be written with, a rest filling the rest.
static void KeepFirstValue(SPlacement& placement, uint32_t p, SRawNote* pNote) {
    uint32_t nSlots = pNote->wLength * placement.abWholeOver[pNote->bUnit];
    if (IsPlainValueAt(placement, p, nSlots)) return;
    uint32_t nPieces = 0;
    const SPiece* pPieces = PiecesOf(placement, p, nSlots, nPieces);
    if (nPieces < 2) return;
    uint32_t wLength = pPieces[1].bPosition - p;
    uint8_t bUnit = placement.bResolution;
    HalveNonZeroWhileEven(wLength, bUnit);
    pNote->wLength = wLength;
    pNote->bUnit = bUnit;
}

// The measure stage A is filling, and where its appends go.
struct SMeasureFill {
    SMeasure* pMeasure;
    SSlot* pSlots;  // the grid
    SPlacement placement;
    SPlacedSections placed;  // where the notes of the measure went
    uint32_t nFirstSlot;         // the measure's first grid slot
    uint32_t nNextSlot;          // and the next measure's
    SRawNote** ppRemainderTail;  // end of that slot's list of notes; null until a note crosses
};

// A remainder goes after the notes that start in the next measure's first
// slot and after the remainders placed there before it.
static void AppendRemainder(SMeasureFill& fill, SRawNote* pRest) {
    if (!fill.ppRemainderTail) {
        fill.ppRemainderTail = &fill.pSlots[fill.nNextSlot].pNotes;
        while (*fill.ppRemainderTail) fill.ppRemainderTail = &(*fill.ppRemainderTail)->pNext;
    }
    *fill.ppRemainderTail = pRest;
    fill.ppRemainderTail = &pRest->pNext;
}

// Places a raw note that starts at position p of the measure. A note that
// crosses the bar line is cut there; its remainder goes to the first slot of
// the next measure, to be placed (and cut again) when the walk gets there.
static void PlaceRawNote(SMeasureFill& fill, uint32_t p, SRawNote* pNote) {
    uint8_t R = fill.placement.bResolution;
    uint32_t S = fill.pMeasure->bSections;
    uint32_t nSlots = pNote->wLength * fill.placement.abWholeOver[pNote->bUnit];  // the unit is R/2^k
    if (p + nSlots > S) {
        pNote->bTieOut = 1;
        SRawNote* pRest = static_cast<SRawNote*>(PlatformAllocate(g_hTransientHeap, sizeof(SRawNote), true));
        if (!pRest) RaiseError(kMsgNoMemory);
        pRest->bPitch = pNote->bPitch;
        pRest->wLength = nSlots - (S - p);  // in slots: 1/R each
        pRest->bUnit = R;
        pRest->bTieIn = 1;
        AppendRemainder(fill, pRest);
        fill.pMeasure->bTiedOut = 1;
        nSlots = S - p;
    }
    DecomposeNote(fill.placement, p, nSlots, pNote->bPitch, pNote->bTieIn, pNote->bTieOut);
}

// Stage A: walk the slots measure by measure, opening the next measure where
// the last one is full, and place every note of each slot at its position.
void PlaceNotes(SBuildContext& context) {
    STrack* pTrack = context.pTrack;
    pTrack->bResolution = context.bResolution;
    uint32_t nSlots = context.nSlots;
    if (nSlots == 0) return;
    SConductorCursor cursor;
    StartConductorCursor(context, cursor);
    SSlotClock clock;
    StartSlotClock(context, clock);
    SMeasureFill fill;
    fill.pSlots = context.pSlots;
    StartPlacement(fill.placement, context.bResolution);
    SMeasure** ppMeasure = &pTrack->pFirstMeasure;
    int32_t nMeasures = 0;
    for (uint32_t j = 0; j < nSlots; j = fill.nNextSlot) {
        SMeasure* pMeasure = CreateMeasure(context, cursor, clock, j, fill.placement);
        // The first measure shows the treble clef; the lower staff of a
        // grand staff, the bass clef.
        if (nMeasures == 0) pMeasure->nClef = pTrack->bStaff == 2 ? kClefBass : kClefTreble;
        *ppMeasure = pMeasure;
        ppMeasure = &pMeasure->pNext;
        ++nMeasures;
        fill.pMeasure = pMeasure;
        fill.nFirstSlot = j;
        fill.nNextSlot = j + pMeasure->bSections;
        fill.ppRemainderTail = nullptr;
        // The last measure may reach past the grid.
        SSlot* pFirst = fill.pSlots + j;
        const SSlot* pEnd = pFirst + (nSlots - j < pMeasure->bSections ? nSlots - j : pMeasure->bSections);
        if (pTrack->bPercussion) {
            MergeDoubledHits(pFirst, static_cast<uint32_t>(pEnd - pFirst));
            LengthenDrumHits(pFirst, static_cast<uint32_t>(pEnd - pFirst), pMeasure, context.bResolution);
        }
        for (const SSlot* pSlot = pFirst; pSlot != pEnd; ++pSlot) {
            if (!pSlot->pNotes) continue;  // many slots start no note
            uint32_t p = static_cast<uint32_t>(pSlot - pFirst);
            for (SRawNote* pNote = pSlot->pNotes; pNote; pNote = pNote->pNext) {
                if (pTrack->bPercussion) KeepFirstValue(fill.placement, p, pNote);
                PlaceRawNote(fill, p, pNote);
            }
        }
        HandOverPlacedSections(fill.placement, pMeasure->bSections, fill.placed);
        if (context.pWalk) WalkFilledMeasure(*context.pWalk, pMeasure, fill.placed);
    }
    context.pLastMeasure = fill.pMeasure;
    context.nLastMeasureSlot = fill.nFirstSlot;
    context.nLastMeasureSections = fill.nNextSlot - fill.nFirstSlot;
    pTrack->nMeasures = nMeasures;
    pTrack->nSections = static_cast<int32_t>(nSlots);
}

// ---- Stage B ------------------------------------------------------------------------------

// Moves the end-of-track event that note collection found to the end of the
// last measure: its delta grows by the extension, as a variable-length
// quantity that may be up to three bytes longer and may reach into the spare
// bytes behind the file.
static void ExtendEndOfTrack(const SBuildContext& context, uint32_t dwExtension) {
    SMidiFile* pFile = context.pFile;
    unsigned char* pEvent = g_pEndOfTrackEvent;
    SByteCursor cursor = {pEvent, EndOfReadableData(pFile)};
    uint32_t dwDelta = ReadVarLen(cursor);
    uint64_t nNewDelta = static_cast<uint64_t>(dwDelta) + dwExtension;
    const unsigned char* pWritableEnd = pFile->pBuffer + pFile->nFileSize + kSpareBytes;
    // Four bytes of delta at most, and nothing written past the spare bytes.
    if (nNewDelta > 0x0FFFFFFF) RaiseError(kMsgTrackParsingError);
    uint32_t nEventBytes = VarLenSize(static_cast<uint32_t>(nNewDelta)) + 3;
    if (nEventBytes > static_cast<size_t>(pWritableEnd - pEvent)) RaiseError(kMsgTrackParsingError);

    unsigned char* p = pEvent;
    WriteVarLen(static_cast<uint32_t>(nNewDelta), p);
    *p++ = kStatusMeta;
    *p++ = kMetaEndOfTrack;
    *p++ = 0x00;
    const unsigned char* pDataEnd = pFile->pData + pFile->nDataSize;
    if (p > pDataEnd) {
        uint32_t nGrowth = static_cast<uint32_t>(p - pDataEnd);
        if (nGrowth > LoadedFile(pFile)->nGrowth) LoadedFile(pFile)->nGrowth = nGrowth;
    }
    context.pTrack->dwEndTime += dwExtension;
}

void CloseGrid(SBuildContext& context) {
    if (!context.bAnotherStaffFollows) DestroyTransientHeap();

    // The last measure, as stage A left it, and the position of the last slot in it.
    SMeasure* pLast = context.pLastMeasure;
    uint32_t p = static_cast<uint32_t>(context.pTrack->nSections) - 1 - context.nLastMeasureSlot;

    uint32_t nSections = context.nLastMeasureSections;
    for (uint32_t k = 1; k < nSections; ++k)
        pLast->pSections[k].dwTime = pLast->pSections[0].dwTime + SlotTicks(context, k);

    if (g_pEndOfTrackEvent && !context.bAnotherStaffFollows) ExtendEndOfTrack(context, SlotTicks(context, nSections - p - 1));
}

// ---- Stage C ------------------------------------------------------------------------------

// Two tied notes of one value, pitch and no dot become one note of twice the
// length. One pass merges pairs only: four tied quarters become two halves.
static inline void MergeTiesFrom(SMeasure* pMeasure, uint32_t k, uint8_t R) {
    for (SNote* pNote = pMeasure->pSections[k].pRawNotes; pNote; pNote = pNote->pNext) {
        if (!pNote->bTieOut || pNote->bDotted || pNote->bValue <= 1) continue;
        uint32_t e = k + R / pNote->bValue;
        if (e >= pMeasure->bSections) continue;  // the tie leads into the next measure
        SSection* pEnd = &pMeasure->pSections[e];
        // Pitch and value first: they rule out nearly every other note there.
        for (SNote* pTied = pEnd->pRawNotes; pTied; pTied = pTied->pNext) {
            if (pTied->bPitch == pNote->bPitch && pTied->bValue == pNote->bValue && pTied->bTieIn && !pTied->bDotted) {
                pNote->bValue = static_cast<uint8_t>(pNote->bValue / 2);
                pNote->bTieOut = pTied->bTieOut;
                RemoveNote(pTied, pEnd);
                break;
            }
        }
    }
}

// Only a value tied to a later one of the same measure starts a pair: the
// sections that hold none are passed over.
void MergeTies(const SBuildContext& context, SMeasure* pMeasure, const SMeasureIndex& index) {
    uint8_t R = context.bResolution;
    ForEachInSet(index.pPlaced->aqTiedOn, SetWords(pMeasure->bSections),
                 [pMeasure, R](uint32_t k) { MergeTiesFrom(pMeasure, k, R); });
}
