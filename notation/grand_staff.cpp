// The grand staff: the grid's notes split between the hands, and the two
// staves built one after the other over the same measures.
#include "grand_staff.h"

#include "guitar.h"
#include "hands.h"

#include "../core/allocation.h"
#include "../platform/platform.h"
#include "../track/channels.h"

#include <string.h>

// ---- Tracks that hold one hand ------------------------------------------------------

static char LowerCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
static bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Whether pszWord (lower case) occurs in pszName, any case; a short word
// only where no letter touches it ("rh", not the "rh" of "rhythm").
static bool HasWord(const char* pszName, const char* pszWord, bool bWhole) {
    size_t nWord = strlen(pszWord);
    for (const char* p = pszName; *p; ++p) {
        size_t i = 0;
        while (i < nWord && p[i] && LowerCase(p[i]) == pszWord[i]) ++i;
        if (i < nWord) continue;
        if (!bWhole) return true;
        if ((p == pszName || !IsLetter(p[-1])) && !IsLetter(p[nWord])) return true;
    }
    return false;
}

bool NamesOneHand(const char* pszName) {
    if (!pszName) return false;
    // The words sequencers and engravers name a hand's track with: English,
    // German, French and Italian, and the usual abbreviations.
    static const char* const kHandWords[] = {"right", "left", "upper", "lower", "rechts", "links", "rechte",
                                             "linke", "droite", "gauche", "destra", "sinistra"};
    static const char* const kHandMarks[] = {"rh", "lh", "r.h", "l.h"};
    for (const char* pszWord : kHandWords)
        if (HasWord(pszName, pszWord, false)) return true;
    for (const char* pszMark : kHandMarks)
        if (HasWord(pszName, pszMark, true)) return true;
    return false;
}

// ---- The notes and their hands ---------------------------------------------------------

// The separation's working memory (written before it is read). Its size
// is counted in 64 bits: on a 32-bit system a track of tens of millions of
// notes would wrap it, and is refused as memory the heap cannot give.
static void* AllocateHandScratch(uint32_t nNotes) {
    uint64_t qBytes = HandScratchBytes(nNotes);
    if (qBytes > SIZE_MAX) RaiseError(kMsgNoMemory);
    return AllocateTransient<unsigned char>(static_cast<size_t>(qBytes), kMsgNoMemory, false);
}

// Grid slots of a measure in the meter the file starts with (4/4 without a
// time signature at its start): the span NeedsGrandStaff measures ranges
// over, at least one slot.
static uint32_t SlotsOfFirstMeasure(const SBuildContext& context) {
    uint32_t nNumerator = 4, nDenominator = 4;
    const STimeSignature* pMeter = context.pFile->pTimeSignatures;
    if (pMeter && pMeter->dwTime == 0 && pMeter->bNumerator && pMeter->bDenominator)
        nNumerator = pMeter->bNumerator, nDenominator = pMeter->bDenominator;
    uint32_t nSlots = (nNumerator * context.bResolution + nDenominator - 1) / nDenominator;
    return nSlots ? nSlots : 1;
}

static uint32_t CountGridNotes(const SBuildContext& context) {
    uint32_t nNotes = 0;
    for (uint32_t j = 0; j < context.nSlots; ++j)
        for (const SRawNote* pNote = context.pSlots[j].pNotes; pNote; pNote = pNote->pNext) ++nNotes;
    return nNotes;
}

// The grid's notes as the hands play them: struck at their slot, released
// as many slots later as they last (at least one), in slot order.
static void ListGridNotes(const SBuildContext& context, SHandNote* pNotes) {
    uint32_t n = 0;
    for (uint32_t j = 0; j < context.nSlots; ++j) {
        for (const SRawNote* pNote = context.pSlots[j].pNotes; pNote; pNote = pNote->pNext) {
            uint32_t nSlots = pNote->wLength * (context.bResolution / pNote->bUnit);
            pNotes[n++] = {j, j + (nSlots ? nSlots : 1), pNote->bPitch};
        }
    }
}

// Whether the two hands play together: at least a quarter of the lower
// hand's notes are struck while the upper hand sounds (or with it). A single
// line, which the separation may still hand from one hand to the other
// where it climbs or falls far, never does, and stays on one staff: a
// flute's or a fugue voice's track, and every track of a file that gives no
// program change (its program 0, the piano, is then no sign of a keyboard).
static bool HandsPlayTogether(const SHandNote* pNotes, uint32_t nNotes, const uint8_t* pbHand) {
    uint32_t nLower = 0, nTogether = 0;
    uint32_t dwUpperSounds = 0;  // the latest release of the upper hand's notes struck so far
    for (uint32_t i = 0; i < nNotes;) {
        uint32_t nEnd = i;
        while (nEnd < nNotes && pNotes[nEnd].dwOn == pNotes[i].dwOn) ++nEnd;
        for (uint32_t k = i; k < nEnd; ++k)
            if (pbHand[k] == kUpperHand && pNotes[k].dwOff > dwUpperSounds) dwUpperSounds = pNotes[k].dwOff;
        for (uint32_t k = i; k < nEnd; ++k) {
            if (pbHand[k] != kLowerHand) continue;
            ++nLower;
            nTogether += dwUpperSounds > pNotes[k].dwOn;
        }
        i = nEnd;
    }
    return nTogether * 4 >= nLower && nTogether > 0;
}

// Whether any note is struck while another sounds (or with it): notes one
// after the other are one hand's, however far they leap, and never need the
// separation (which costs several times the rest of the parse).
static bool AnyNotesTogether(const SHandNote* pNotes, uint32_t nNotes) {
    uint32_t dwSounds = 0;  // the latest release of the notes struck so far
    for (uint32_t i = 0; i < nNotes; ++i) {
        if (i > 0 && (pNotes[i].dwOn < dwSounds || pNotes[i].dwOn == pNotes[i - 1].dwOn)) return true;
        if (pNotes[i].dwOff > dwSounds) dwSounds = pNotes[i].dwOff;
    }
    return false;
}

// Moves the lower hand's notes into a grid of their own, each still in the
// order of its slot's list.
static SSlot* SplitGrid(const SBuildContext& context, const uint8_t* pbHand) {
    SSlot* pLower = AllocateTransient<SSlot>(context.nSlots, kMsgNoMemory);
    uint32_t n = 0;
    for (uint32_t j = 0; j < context.nSlots; ++j) {
        SRawNote** ppUpper = &context.pSlots[j].pNotes;
        SRawNote** ppLower = &pLower[j].pNotes;
        for (SRawNote* pNote = *ppUpper; pNote; pNote = *ppUpper) {
            if (pbHand[n++] == kLowerHand) {
                *ppUpper = pNote->pNext;
                pNote->pNext = nullptr;
                *ppLower = pNote;
                ppLower = &pNote->pNext;
            } else {
                ppUpper = &pNote->pNext;
            }
        }
    }
    return pLower;
}

// The lower staff's record: the track's own name, instrument, channels and
// note count, in the track's heap, with no heap of its own (releasing the
// track releases it; releasing it alone releases nothing).
static STrack* AddLowerStaff(STrack* pUpper) {
    STrack* pLower = AllocateRecords<STrack>(1, kMsgNoTrackRecord);
    *pLower = *pUpper;
    pLower->pFirstMeasure = nullptr;
    pLower->hHeap = nullptr;
    pLower->bStaff = 2;
    pLower->pNextStaff = nullptr;
    pUpper->pNextStaff = pLower;
    return pLower;
}

bool BuildGrandStaff(SBuildContext& context, char cLastStage) {
    STrack* pTrack = context.pTrack;
    // Drums are never split; neither is a track that holds one hand already,
    // nor a guitar's track, read on one staff with its strings.
    if ((pTrack->wChannels & kDrumChannelMask) || NamesOneHand(pTrack->pszName) || IsGuitarTrack(context)) return false;
    uint32_t nNotes = CountGridNotes(context);
    // Written in full before they are read: not cleared.
    SHandNote* pNotes = AllocateTransient<SHandNote>(nNotes, kMsgNoMemory, false);
    uint8_t* pbHand = AllocateTransient<uint8_t>(nNotes, kMsgNoMemory, false);
    ListGridNotes(context, pNotes);
    // What can be told without the hands first: a track of one note at a
    // time, and a part of another instrument that fits one staff.
    uint32_t dwMeasure = SlotsOfFirstMeasure(context);
    if (!AnyNotesTogether(pNotes, nNotes)) return false;
    if (!IsKeyboardProgram(pTrack->bProgram) && !NeedsGrandStaff(pTrack->bProgram, pNotes, nNotes, pbHand, dwMeasure))
        return false;
    SeparateHands(pNotes, nNotes, AllocateHandScratch(nNotes), pbHand);
    if (!NeedsGrandStaff(pTrack->bProgram, pNotes, nNotes, pbHand, dwMeasure) || !HandsPlayTogether(pNotes, nNotes, pbHand))
        return false;

    STrack* pLower = AddLowerStaff(pTrack);
    SSlot* pLowerSlots = SplitGrid(context, pbHand);

    // The upper staff leaves the grid and the end of the track to the lower
    // one's stage B: the lower grid's notes live beside the upper's.
    SBuildContext upper = context;
    upper.bAnotherStaffFollows = true;
    RunStages(upper, 'A', cLastStage);
    SBuildContext lower = context;
    lower.pTrack = pLower;
    lower.pSlots = pLowerSlots;
    RunStages(lower, 'A', cLastStage);
    pTrack->dwEndTime = pLower->dwEndTime;
    return true;
}
