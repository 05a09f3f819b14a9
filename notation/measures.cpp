// Stages A, B and C: the grid cut into measures, every note placed in its
// section as a tied chain of values a score can show, the grid freed, the
// last track's end-of-track event moved to the last bar line, and tied pairs
// of equal values merged.
#include "notation.h"
#include "pitch_spelling.h"

#include "../platform/platform.h"
#include "../smf/event_stream.h"
#include "../track/track.h"

#include <math.h>

// Ticks of k grid slots: k·4·D/R, truncated.
static uint32_t SlotTicks(const SBuildContext& context, uint64_t nSlots) {
    return static_cast<uint32_t>(nSlots * 4u * context.pFile->wDivision / context.bResolution);
}

uint8_t GridLevel(uint8_t bResolution, uint32_t nPosition) {
    // The largest power of two up to R that divides p is p's lowest set bit,
    // capped at R (the bar line, p = 0, is a multiple of everything).
    uint32_t c = nPosition & (0u - nPosition);
    if (nPosition == 0 || c > bResolution) c = bResolution;
    return static_cast<uint8_t>(bResolution / c);
}

// The level used for plain values: a point of level 4 (a quarter-note beat)
// may start a half note too.
static uint8_t PlainValueLevel(uint8_t bResolution, uint32_t nPosition) {
    uint8_t bLevel = GridLevel(bResolution, nPosition);
    return bLevel == 4 ? 2 : bLevel;
}

// A length as a reduced fraction wLength/bUnit of a whole note.
struct SLength {
    uint32_t wLength;
    uint8_t bUnit;
};

// Where stage A stands in the file's conductor lists, and what it has read
// there. Measures start at grid slot times, which never decrease, so each
// list is read once for the whole track.
struct SConductorCursor {
    const STimeSignature* pMeter;  // next time signature not yet read
    const SKeySignature* pKey;     // next key signature not yet read
    const STempo* pTempo;          // next tempo not yet read
    uint8_t bNumerator;            // meter in force
    uint8_t bDenominator;
    int nKey;                      // key in force, as stored
    uint16_t wTempo;               // tempo in force
};

// Where stage A appends the next placed note of each section of the measure
// being filled, so that a section holding many notes costs no more per note
// than one holding few.
struct SSectionTails {
    SNote** appTail[255];
};

// ---- Measure creation -----------------------------------------------------------------

// Measures are created in time order, so each conductor list is walked once
// for the whole track: the cursor keeps its place and what it has read.
static void StartConductorCursor(const SMidiFile* pFile, SConductorCursor& cursor) {
    cursor.pMeter = pFile->pTimeSignatures;
    cursor.pKey = pFile->pKeySignatures;
    cursor.pTempo = pFile->pTempos;
    cursor.bNumerator = 4;
    cursor.bDenominator = 4;
    cursor.nKey = 0;
    cursor.wTempo = 120;
}

// The last entry of a conductor list at or before the measure's start wins.
static void LookupMeterAndKey(const SBuildContext& context, SConductorCursor& cursor, SMeasure* pMeasure) {
    for (; cursor.pMeter && cursor.pMeter->dwTime <= pMeasure->dwTime; cursor.pMeter = cursor.pMeter->pNext) {
        cursor.bNumerator = cursor.pMeter->bNumerator;
        cursor.bDenominator = cursor.pMeter->bDenominator;
    }
    for (; cursor.pKey && cursor.pKey->dwTime <= pMeasure->dwTime; cursor.pKey = cursor.pKey->pNext)
        cursor.nKey = cursor.pKey->cKey;
    // A transposition by t semitones moves the key by 7·t fifths, taken back
    // into -7..7; a key byte outside that range is brought back the same way.
    pMeasure->bNumerator = cursor.bNumerator;
    pMeasure->bDenominator = cursor.bDenominator;
    pMeasure->cKey = static_cast<int8_t>(NormalisedKey(cursor.nKey + 7 * context.cTranspose));
}

// A tempo change anywhere inside the measure applies to all of it.
static void LookupTempo(const SBuildContext& context, SConductorCursor& cursor, SMeasure* pMeasure) {
    uint64_t nEnd = pMeasure->dwTime + static_cast<uint64_t>(4u) * context.pFile->wDivision * pMeasure->bSections /
                                           context.bResolution;
    for (; cursor.pTempo && cursor.pTempo->dwTime < nEnd; cursor.pTempo = cursor.pTempo->pNext)
        cursor.wTempo = cursor.pTempo->wTempo;
    pMeasure->wTempo = cursor.wTempo;
}

static void AllocateSections(SMeasure* pMeasure) {
    pMeasure->pSections = AllocateRecords<SSection>(pMeasure->bSections, kMsgNoMeasureSections);
    for (uint32_t k = 0; k + 1 < pMeasure->bSections; ++k) pMeasure->pSections[k].pNext = &pMeasure->pSections[k + 1];
}

// Sections of a measure: numerator·R/denominator, rounded up. A meter of no
// beats, or one too long for 255 sections on this grid, has no layout.
static uint8_t SectionsOfMeter(const SMeasure* pMeasure, uint8_t bResolution) {
    double dSections = ceil(pMeasure->bNumerator * static_cast<double>(bResolution) / pMeasure->bDenominator);
    if (pMeasure->bNumerator == 0 || dSections > 255) RaiseError(kMsgInvalidTimeSignature);
    return static_cast<uint8_t>(dSections);
}

static SMeasure* CreateMeasure(const SBuildContext& context, SConductorCursor& cursor, uint32_t dwTime,
                               uint32_t nFirstSlot) {
    SMeasure* pMeasure = AllocateRecords<SMeasure>(1);
    pMeasure->dwTime = dwTime;
    LookupMeterAndKey(context, cursor, pMeasure);
    pMeasure->bSections = SectionsOfMeter(pMeasure, context.bResolution);
    AllocateSections(pMeasure);
    // Sections past the grid (only in the last measure) are timed by stage B.
    for (uint32_t k = 0; k < pMeasure->bSections && nFirstSlot + k < g_nSlots; ++k)
        pMeasure->pSections[k].dwTime = g_pSlots[nFirstSlot + k].dwTime;
    LookupTempo(context, cursor, pMeasure);
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
static void AppendAt(SSectionTails& tails, uint32_t p, uint8_t bPitch, uint8_t bValue, uint8_t bDotted,
                     uint8_t bTieIn, uint8_t bTieOut) {
    tails.appTail[p] = AppendPlacedNote(tails.appTail[p], bPitch, bValue, bDotted, bTieIn, bTieOut);
}

static void StartSectionTails(SSectionTails& tails, SMeasure* pMeasure) {
    for (uint32_t k = 0; k < pMeasure->bSections; ++k) tails.appTail[k] = &pMeasure->pSections[k].pRawNotes;
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

static SLength ReducedLength(uint32_t nSlots, uint8_t bResolution) {
    SLength length = {nSlots, bResolution};
    HalveWhileEven(length.wLength, length.bUnit);
    return length;
}

static uint32_t SlotsOf(SLength length, uint8_t bResolution) {
    return length.wLength * (bResolution / length.bUnit);
}

// The strongest point strictly inside a note's span (the earliest of equals),
// or p itself for a note of one slot.
static uint32_t StrongestPoint(uint32_t p, uint8_t bResolution, SLength length) {
    uint32_t nSpan = SlotsOf(length, bResolution);
    if (nSpan <= 1) return p;
    // The first point of the coarsest grid step that has one inside the span.
    for (uint32_t c = bResolution; c > 1; c >>= 1) {
        uint32_t q = (p / c + 1) * c;
        if (q < p + nSpan) return q;
    }
    return p + 1;
}

// Writes a note as tied values the score can show: a single value 1/u on a
// point of level u or stronger, a dotted value for three units that cross no
// point stronger than their half, and otherwise a cut at the strongest inner
// point.
static void DecomposeNote(SSectionTails& tails, uint32_t p, uint8_t bResolution, uint8_t bPitch, SLength length,
                   uint8_t bTieIn, uint8_t bTieOut) {
    for (;;) {
        if (length.wLength == 1 && length.bUnit >= PlainValueLevel(bResolution, p)) {
            AppendAt(tails, p, bPitch, length.bUnit, 0, bTieIn, bTieOut);
            return;
        }
        // Three whole notes have no dotted value to become: they are cut instead.
        uint8_t bDottedValue = static_cast<uint8_t>(length.bUnit >> 1);
        if (length.wLength == 3 && bDottedValue != 0 && length.bUnit >= GridLevel(bResolution, p)) {
            uint32_t m3 = StrongestPoint(p, bResolution, length);
            if (bDottedValue <= GridLevel(bResolution, m3)) {
                AppendAt(tails, p, bPitch, bDottedValue, 1, bTieIn, bTieOut);
                return;
            }
        }
        uint32_t m = StrongestPoint(p, bResolution, length);
        SLength first = ReducedLength(m - p, bResolution);
        SLength second = ReducedLength(SlotsOf(length, bResolution) - (m - p), bResolution);
        DecomposeNote(tails, p, bResolution, bPitch, first, bTieIn, 1);
        p = m;
        length = second;
        bTieIn = 1;
    }
}

// The measure stage A is filling, and where its appends go.
struct SMeasureFill {
    SMeasure* pMeasure;
    SSectionTails tails;
    SRawNote** ppRemainderTail;  // end of the next measure's first slot list; null until a note crosses
};

static void StartFill(SMeasureFill& fill, SMeasure* pMeasure) {
    fill.pMeasure = pMeasure;
    StartSectionTails(fill.tails, pMeasure);
    fill.ppRemainderTail = nullptr;
}

// A remainder goes after the notes that start in the next measure's first
// slot and after the remainders placed there before it.
static void AppendRemainder(SMeasureFill& fill, uint32_t nSlot, SRawNote* pRest) {
    if (!fill.ppRemainderTail) {
        fill.ppRemainderTail = &g_pSlots[nSlot].pNotes;
        while (*fill.ppRemainderTail) fill.ppRemainderTail = &(*fill.ppRemainderTail)->pNext;
    }
    *fill.ppRemainderTail = pRest;
    fill.ppRemainderTail = &pRest->pNext;
}

// Places raw note n, which starts in slot j at position p of the measure. A
// note that crosses the bar line is cut there; its remainder goes to the first
// slot of the next measure, to be placed (and cut again) when the walk gets there.
static void PlaceRawNote(const SBuildContext& context, SMeasureFill& fill, uint32_t p, uint32_t j, SRawNote* pNote) {
    uint8_t R = context.bResolution;
    uint32_t S = fill.pMeasure->bSections;
    SLength length = {pNote->wLength, pNote->bUnit};
    uint32_t nSpan = SlotsOf(length, R);
    if (p + nSpan > S) {
        length = ReducedLength(S - p, R);
        SLength remainder = ReducedLength(nSpan - (S - p), R);
        pNote->bTieOut = 1;
        SRawNote* pRest = static_cast<SRawNote*>(PlatformAllocate(g_hTransientHeap, sizeof(SRawNote), true));
        if (!pRest) RaiseError(kMsgNoMemory);
        pRest->bPitch = pNote->bPitch;
        pRest->wLength = remainder.wLength;
        pRest->bUnit = remainder.bUnit;
        pRest->bTieIn = 1;
        AppendRemainder(fill, j - p + S, pRest);
        fill.pMeasure->bTiedOut = 1;
    }
    DecomposeNote(fill.tails, p, R, pNote->bPitch, length, pNote->bTieIn, pNote->bTieOut);
}

// Stage A: walk the slots, opening a measure whenever the last one is full,
// and place every note of each slot at its position.
void PlaceNotes(const SBuildContext& context) {
    STrack* pTrack = context.pTrack;
    pTrack->bResolution = context.bResolution;
    SMeasureFill fill;
    uint32_t p = 0;
    SConductorCursor cursor;
    StartConductorCursor(context.pFile, cursor);
    for (uint32_t j = 0; j < g_nSlots; ++j) {
        if (j == 0) {
            StartFill(fill, CreateMeasure(context, cursor, 0, 0));
            fill.pMeasure->nClef = 1;
            pTrack->pFirstMeasure = fill.pMeasure;
            pTrack->nMeasures = 1;
            pTrack->nSections = 1;
            p = 0;
        } else {
            ++p;
            ++pTrack->nSections;
            if (p == fill.pMeasure->bSections) {
                SMeasure* pNext = CreateMeasure(context, cursor, g_pSlots[j].dwTime, j);
                fill.pMeasure->pNext = pNext;
                StartFill(fill, pNext);
                ++pTrack->nMeasures;
                p = 0;
            }
        }
        for (SRawNote* pNote = g_pSlots[j].pNotes; pNote; pNote = pNote->pNext)
            PlaceRawNote(context, fill, p, j, pNote);
    }
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

void CloseGrid(const SBuildContext& context) {
    DestroyTransientHeap();

    // The last measure and the position of the last slot in it.
    SMeasure* pLast = context.pTrack->pFirstMeasure;
    uint32_t nSlotsBefore = 0;
    while (pLast->pNext) {
        nSlotsBefore += pLast->bSections;
        pLast = pLast->pNext;
    }
    uint32_t p = static_cast<uint32_t>(context.pTrack->nSections) - 1 - nSlotsBefore;

    for (uint32_t k = 1; k < pLast->bSections; ++k)
        pLast->pSections[k].dwTime = pLast->pSections[0].dwTime + SlotTicks(context, k);

    if (g_pEndOfTrackEvent) ExtendEndOfTrack(context, SlotTicks(context, pLast->bSections - p - 1));
}

// ---- Stage C ------------------------------------------------------------------------------

// Two tied notes of one value, pitch and no dot become one note of twice the
// length. One pass merges pairs only: four tied quarters become two halves.
void MergeTies(SMeasureWalk& walk, SMeasure* pMeasure) {
    uint8_t R = walk.context.bResolution;
    const SPlacedSections& placed = PlacedSections(walk, pMeasure);
    for (uint32_t i = 0; i < placed.nSections; ++i) {
        uint32_t k = placed.abSection[i];
        for (SNote* pNote = pMeasure->pSections[k].pRawNotes; pNote; pNote = pNote->pNext) {
            if (!pNote->bTieOut || pNote->bDotted || pNote->bValue <= 1) continue;
            uint32_t e = k + R / pNote->bValue;
            if (e >= pMeasure->bSections) continue;  // the tie leads into the next measure
            SSection* pEnd = &pMeasure->pSections[e];
            for (SNote* pTied = pEnd->pRawNotes; pTied; pTied = pTied->pNext) {
                if (pTied->bTieIn && !pTied->bDotted && pTied->bPitch == pNote->bPitch &&
                    pTied->bValue == pNote->bValue) {
                    pNote->bValue = static_cast<uint8_t>(pNote->bValue / 2);
                    pNote->bTieOut = pTied->bTieOut;
                    RemoveNote(pTied, pEnd);
                    break;
                }
            }
        }
    }
}
