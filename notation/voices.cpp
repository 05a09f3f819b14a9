// Stage F: the raw notes of every section are copied into the chords of
// voices. A note joins a chord of its own value at that section, or goes on
// a voice whose previous chord ends there (or can be made to), or opens a
// new voice. Voices belong to one measure. In the readable notation a piece
// tied from an earlier one goes into that one's voice first, inside the
// measure and over the bar line, so that no tie jumps between voices.
#include "voices.h"

#include <stddef.h>
#include <string.h>

// A measure's voice count is eight bits wide.
static const uint32_t kMaxVoices = 255;

// Where a voice's latest chord before the current section starts and ends.
struct SVoiceEnd {
    SChord* pVoice;        // the voice's chord array: chord k stands at section k
    uint32_t nSection;     // section of that chord
    uint32_t nEnd;         // the section where its value runs out
    bool bTiedOn;          // that chord holds a note tied to a later piece
    SChord** ppIndexed;    // where the index lists the voice's next chord given notes
};

// The copies of a measure's notes, one block for the whole measure: every
// raw note is copied into at most one chord.
struct SNoteCopies {
    SNote* pNext;  // the next unused record of the block
};

// What stage F works with while it fills one measure.
struct SVoicing {
    SMeasure* pMeasure;
    uint8_t bResolution;
    const SSpans* pSpans;  // the build's spans of every value on its grid
    SNoteCopies copies;
    // Each voice's chord array, and its latest chord before the section
    // being filled. Chords before that section only ever change their value,
    // never gain or lose one, so the table is brought up to date once per
    // section. The voices opened in that section have no chord before it:
    // they are the ones from nEnded on.
    SVoiceEnd aEnds[kMaxVoices];
    uint32_t nEnded;
    // The chords that got their first note in the section being filled.
    SChord* apStarted[kMaxVoices];
    uint32_t nStarted;
    // The chord that took the section's previous note; null at the start of
    // a section and after a note that was left out.
    SChord* pJoined;
    // The chords given notes, listed as they start: voice v's from
    // apIndexed[v * nPlaced] on, since a voice starts at most one chord in
    // each of the nPlaced sections with placed notes.
    SChord** apIndexed;
    uint32_t nPlaced;
    bool bKeepTies;  // the readable notation's rules for tied pieces
};

// The section where a chord starting at section k ends: a dot adds half the
// plain value. The span is looked up (a division waits long, and every
// chord's end is worked out as its section closes); a chord here is never
// shorter than one section, so the table's spans are the plain division's.
static uint32_t EndSection(const SChord* pChord, uint32_t k, const SSpans& spans) {
    return k + spans.abSpan[pChord->bValue][pChord->bDotted];
}

static SChord* LatestChord(const SVoiceEnd& end) { return end.pVoice + end.nSection; }

// Opens a voice: one chord per section, in one block, chord i appended at the
// end of section i's list, so the k-th chord of every section is voice k's
// and carries k as its voice number (the block comes zeroed, so voice 0's
// chords have theirs already).
// Returns the new voice's chords, or null when the measure already has the
// most voices its count can hold.
static SChord* AddVoice(SVoicing& voicing) {
    SMeasure* pMeasure = voicing.pMeasure;
    uint8_t bVoice = pMeasure->bVoices;
    if (bVoice >= kMaxVoices) return nullptr;
    uint32_t nSections = pMeasure->bSections;
    SChord* pVoice = AllocateRecords<SChord>(nSections);
    if (bVoice == 0) {
        SSection* pSections = pMeasure->pSections;
        ForEachSection(nSections, [pSections, pVoice](size_t i) { pSections[i].pChords = &pVoice[i]; });
    } else {
        SChord* pLastVoice = voicing.aEnds[bVoice - 1u].pVoice;
        ForEachSection(nSections, [pLastVoice, pVoice, bVoice](size_t i) {
            pVoice[i].bVoice = bVoice;
            pLastVoice[i].pNext = &pVoice[i];
        });
    }
    pMeasure->bVoices = static_cast<uint8_t>(bVoice + 1u);
    // A voice opened without a note (to keep a tied voice's place) has no
    // chord before any section: its latest is the empty one at the bar line.
    voicing.aEnds[bVoice].pVoice = pVoice;
    voicing.aEnds[bVoice].nSection = 0;
    voicing.aEnds[bVoice].nEnd = 0;
    voicing.aEnds[bVoice].bTiedOn = false;
    voicing.aEnds[bVoice].ppIndexed = voicing.apIndexed + static_cast<size_t>(bVoice) * voicing.nPlaced;
    return pVoice;
}

// The next record of the block becomes a copy of the raw note, not yet
// linked: what the note says (step, accidental, dot, ties and the rest up to
// its link, in one move, then pitch, value, head and mark in another). The
// block comes zeroed, and a placed note has no pPrev, so the links need no
// writing.
static SNote* CopyNote(SNoteCopies& copies, const SNote* pRawNote) {
    SNote* pCopy = copies.pNext++;
    memcpy(pCopy, pRawNote, offsetof(SNote, pNext));
    memcpy(SaidBetweenLinks(pCopy), SaidBetweenLinks(pRawNote), kSaidBetweenLinks);
    return pCopy;
}

// A copy of the raw note goes into the chord's notes after every note as
// high as it or higher, so a chord's notes never rise; the first note gives
// the chord its value. Raw notes arrive highest first, so a copy goes at the
// end, unless tied pieces of the section were placed before the notes above
// them.
static void AppendNoteToChord(SChord* pChord, const SNote* pRawNote, SNoteCopies& copies) {
    SNote* pCopy = CopyNote(copies, pRawNote);
    if (!pChord->pNotes) {
        pChord->pNotes = pCopy;
        pChord->bValue = pRawNote->bValue;
        pChord->bDotted = pRawNote->bDotted;
        return;
    }
    SNote** ppAt = &pChord->pNotes;
    while (*ppAt && (*ppAt)->bPitch >= pCopy->bPitch) ppAt = &(*ppAt)->pNext;
    pCopy->pNext = *ppAt;
    *ppAt = pCopy;
}

// Value and dot both the same (one test of the two differences).
static bool HasValueOf(const SChord* pChord, const SNote* pNote) {
    return ((pChord->bValue ^ pNote->bValue) | (pChord->bDotted ^ pNote->bDotted)) == 0;
}

static bool HoldsTiedNote(const SChord* pChord) {
    for (const SNote* pNote = pChord->pNotes; pNote; pNote = pNote->pNext)
        if (pNote->bTieOut) return true;
    return false;
}

// A note tied over the bar line, or to a piece not found, ties on as this.
static const uint32_t kTiedOverBar = 0xFFFF;

// Readable: how a note at section j ties on, which the notes of one chord
// must agree on (a chord whose notes' ties go on as pieces of different
// values would have to split between voices): 0 when it does not, else the
// value and dot of the piece of the same pitch it ties to in the measure, or
// kTiedOverBar.
static uint32_t TiedOnAs(const SVoicing& voicing, uint32_t j, const SNote* pNote) {
    if (!pNote->bTieOut) return 0;
    uint32_t e = j + voicing.pSpans->abSpan[pNote->bValue][pNote->bDotted];
    if (e >= voicing.pMeasure->bSections) return kTiedOverBar;
    for (const SNote* pPiece = voicing.pMeasure->pSections[e].pRawNotes; pPiece; pPiece = pPiece->pNext)
        if (pPiece->bTieIn && pPiece->bPitch == pNote->bPitch) return 1u + (pPiece->bValue * 2u + pPiece->bDotted);
    return kTiedOverBar;
}

// Whether the note at section j may join the chord with notes there: of the
// same value and dot, and in the readable notation tied on as its notes are.
static bool SharesChord(const SVoicing& voicing, const SChord* pChord, uint32_t j, const SNote* pNote) {
    if (!HasValueOf(pChord, pNote)) return false;
    return !voicing.bKeepTies || TiedOnAs(voicing, j, pChord->pNotes) == TiedOnAs(voicing, j, pNote);
}

static void SetDotted(SChord* pChord, uint8_t bDotted) {
    pChord->bDotted = bDotted;
    for (SNote* pNote = pChord->pNotes; pNote; pNote = pNote->pNext) pNote->bDotted = bDotted;
}

// A chord that stops short of the next note of its voice is stretched to
// reach it when the span from its start to that note is a plain or dotted
// value shorter than a quarter; otherwise the gap stays (later filled by a
// rest).
static void StretchToNextNote(SChord* pChord, uint32_t nSpan, uint8_t bResolution) {
    uint32_t R = bResolution;
    if (R % nSpan == 0 && R / nSpan > 4) {
        pChord->bValue = static_cast<uint8_t>(R / nSpan);
        SetDotted(pChord, 0);
    } else if (nSpan % 3 == 0 && R % (2 * (nSpan / 3)) == 0 && R / (2 * (nSpan / 3)) > 4) {
        pChord->bValue = static_cast<uint8_t>(R / (2 * (nSpan / 3)));
        SetDotted(pChord, 1);
    }
}

// A voice takes the note at j only if its chord there is empty or already
// of the note's value.
static bool CanTakeAt(const SVoicing& voicing, const SVoiceEnd& end, uint32_t j, const SNote* pNote) {
    const SChord* pChord = &end.pVoice[j];
    return pChord->bValue == 0 || SharesChord(voicing, pChord, j, pNote);
}

// The voice with a chord before section j that can take the note at j at
// the smallest distance (the lower voice of equals), or null.
// distance(end) tells how far the voice is from j, 255 for never. No voice
// after one at distance 0 can win.
template <typename Distance>
static SVoiceEnd* NearestVoice(SVoicing& voicing, uint32_t j, const SNote* pNote, Distance distance) {
    SVoiceEnd* pBest = nullptr;
    uint32_t nBest = 255;
    for (uint32_t v = 0; v < voicing.nEnded && nBest; ++v) {
        SVoiceEnd& end = voicing.aEnds[v];
        uint32_t nDistance = distance(end);
        if (nDistance >= nBest || !CanTakeAt(voicing, end, j, pNote)) continue;
        nBest = nDistance;
        pBest = &end;
    }
    return pBest;
}

// Among the voices whose latest chord has ended by section j, the one that
// ended last.
static SVoiceEnd* ClosestEndedVoice(SVoicing& voicing, uint32_t j, const SNote* pNote) {
    return NearestVoice(voicing, j, pNote, [j](const SVoiceEnd& end) { return end.nEnd <= j ? j - end.nEnd : 255u; });
}

// Among the voices still sounding at section j, one whose chord would
// overlap the note by a quarter of its plain value or half of its dotted
// one, the least overlap first. A chord tied to a later piece is never cut:
// the tie would then point into a gap.
static SVoiceEnd* SlightlyOverlappingVoice(SVoicing& voicing, uint32_t j, const SNote* pNote) {
    const SSpans& spans = *voicing.pSpans;
    return NearestVoice(voicing, j, pNote, [j, &spans](const SVoiceEnd& end) {
        if (end.nEnd <= j || end.bTiedOn) return 255u;
        uint32_t nOverlap = end.nEnd - j;
        const SChord* pChord = LatestChord(end);
        uint32_t nPlain = spans.abSpan[pChord->bValue][0];
        bool bSlight = pChord->bDotted ? nOverlap == nPlain / 2 : nOverlap == nPlain / 4;
        return bSlight ? nOverlap : 255u;
    });
}

// A chord cut where the next note of its voice starts: a dotted value loses
// its dot, a plain one becomes the dotted value of three quarters its length.
static void CutToNextNote(SChord* pChord) {
    if (pChord->bDotted) {
        SetDotted(pChord, 0);
    } else {
        pChord->bValue = static_cast<uint8_t>(pChord->bValue * 2);
        SetDotted(pChord, 1);
    }
}

static void AddToChord(SVoicing& voicing, SChord* pChord, const SNote* pNote) {
    if (!pChord->pNotes) voicing.apStarted[voicing.nStarted++] = pChord;
    AppendNoteToChord(pChord, pNote, voicing.copies);
    voicing.pJoined = pChord;
}

// A note of the same value as the one before it in the section goes to the
// same chord. Placing that note changed only its own voice: a voice it
// continued now ends at the section or as near it as before, a chord it
// joined or opened is now the first of its value in the section, and no
// other voice became able to take a note it could not take before; so the
// search would lead to the same chord again. Its copy goes right after the
// previous note's, the chord's last.
static bool JoinPreviousNote(SVoicing& voicing, uint32_t j, const SNote* pNote) {
    if (!voicing.pJoined || !SharesChord(voicing, voicing.pJoined, j, pNote)) return false;
    SNote* pTail = voicing.copies.pNext - 1;
    if (pTail->pNext)  // a tied piece below it came first: find the copy's place
        AppendNoteToChord(voicing.pJoined, pNote, voicing.copies);
    else
        pTail->pNext = CopyNote(voicing.copies, pNote);
    return true;
}

// Places the note in a voice whose previous chord ends at section j, or ends
// near it: an ended voice is preferred, stretched to the note when it fell
// short (unless it is tied on: it would overlap its own continuation); a
// voice still sounding qualifies only when it overlaps slightly, and is then
// cut to end at j.
static bool ContinueVoice(SVoicing& voicing, uint32_t j, const SNote* pNote) {
    SVoiceEnd* pEnd = ClosestEndedVoice(voicing, j, pNote);
    if (pEnd && pEnd->nEnd < j) {
        if (!pEnd->bTiedOn && LatestChord(*pEnd)->pNotes) StretchToNextNote(LatestChord(*pEnd), j - pEnd->nSection, voicing.bResolution);
    } else if (!pEnd) {
        pEnd = SlightlyOverlappingVoice(voicing, j, pNote);
        if (!pEnd) return false;
        CutToNextNote(LatestChord(*pEnd));
    }
    if (pEnd->nEnd != j) pEnd->nEnd = EndSection(LatestChord(*pEnd), pEnd->nSection, *voicing.pSpans);
    AddToChord(voicing, &pEnd->pVoice[j], pNote);
    return true;
}

// The first chord of the section with the note's value and dot takes it.
static bool JoinEqualChord(SVoicing& voicing, uint32_t j, const SNote* pNote) {
    for (SChord* pChord = voicing.pMeasure->pSections[j].pChords; pChord; pChord = pChord->pNext) {
        if (SharesChord(voicing, pChord, j, pNote)) {
            AddToChord(voicing, pChord, pNote);
            return true;
        }
    }
    return false;
}

// Readable: the first voice opened at the bar line only to keep a tied
// voice's number, and still without a note, or -1.
static int32_t EmptyVoice(const SVoicing& voicing, uint32_t j) {
    for (uint32_t v = 0; v < voicing.pMeasure->bVoices; ++v) {
        const SVoiceEnd& end = voicing.aEnds[v];
        if (end.nSection == 0 && !end.pVoice[0].pNotes && !end.pVoice[j].pNotes) return static_cast<int32_t>(v);
    }
    return -1;
}

// Readable: an empty voice takes a note that would otherwise open a voice;
// given bOnlyAbove, only a note above every note that the voices after it
// sound at j (an upper voice stays above a tied lower one rather than join
// its chord).
static bool TakeEmptyVoice(SVoicing& voicing, uint32_t j, const SNote* pNote, bool bOnlyAbove) {
    int32_t nEmpty = EmptyVoice(voicing, j);
    if (nEmpty < 0) return false;
    if (bOnlyAbove) {
        uint32_t nHighest = 0;
        bool bBelow = false;
        for (uint32_t v = static_cast<uint32_t>(nEmpty) + 1; v < voicing.pMeasure->bVoices; ++v)
            for (const SNote* pHeld = voicing.aEnds[v].pVoice[j].pNotes; pHeld; pHeld = pHeld->pNext) {
                bBelow = true;
                if (pHeld->bPitch > nHighest) nHighest = pHeld->bPitch;
            }
        if (!bBelow || pNote->bPitch <= nHighest) return false;
    }
    AddToChord(voicing, &voicing.aEnds[nEmpty].pVoice[j], pNote);
    return true;
}

// Opens a voice for the note at section j.
// False when the measure already has all the voices its count can hold.
static bool OpenVoiceWithNote(SVoicing& voicing, uint32_t j, const SNote* pNote) {
    SChord* pVoice = AddVoice(voicing);
    if (!pVoice) return false;
    AddToChord(voicing, &pVoice[j], pNote);
    return true;
}

// A chord is given a value by its first note, so the chords that started at
// section j are the ones of the section with a value: each becomes its
// voice's latest chord, and the next of its voice in the index.
static void CloseSection(SVoicing& voicing, uint32_t j) {
    uint32_t nStarted = voicing.nStarted;
    const SSpans& spans = *voicing.pSpans;
    for (uint32_t s = 0; s < nStarted; ++s) {
        SChord* pChord = voicing.apStarted[s];
        SVoiceEnd& end = voicing.aEnds[pChord->bVoice];
        end.nSection = j;
        end.nEnd = EndSection(pChord, j, spans);
        end.bTiedOn = HoldsTiedNote(pChord);
        *end.ppIndexed++ = pChord;
    }
    voicing.nStarted = 0;
    voicing.nEnded = voicing.pMeasure->bVoices;
}

// The index of the later stages: the chords given notes, voice after voice
// and in section order within each. Each voice's chords were listed as they
// started, in its own stretch of the index; the stretches close up.
static void IndexChords(SSoundingChords& index, const SVoicing& voicing) {
    const SMeasure* pMeasure = voicing.pMeasure;
    SChord** apChords = index.apChords;
    // The first voice's stay where they are (a measure given notes has one).
    index.apVoice[0] = voicing.aEnds[0].pVoice;
    index.anVoiceStart[0] = 0;
    uint32_t n = static_cast<uint32_t>(voicing.aEnds[0].ppIndexed - apChords);
    for (uint32_t v = 1; v < pMeasure->bVoices; ++v) {
        const SVoiceEnd& end = voicing.aEnds[v];
        index.apVoice[v] = end.pVoice;
        index.anVoiceStart[v] = n;
        SChord* const* ppListed = apChords + static_cast<size_t>(v) * voicing.nPlaced;
        uint32_t nChords = static_cast<uint32_t>(end.ppIndexed - ppListed);
        for (uint32_t c = 0; c < nChords; ++c) apChords[n + c] = ppListed[c];
        n += nChords;
    }
    index.anVoiceStart[pMeasure->bVoices] = n;
    index.nVoices = pMeasure->bVoices;
}

// ---- Readable: tied pieces keep their voice ------------------------------------------

// The voice of section j's chord that a piece tied from an earlier one of
// the same pitch continues: at the bar line the voice that tied that pitch
// over in the measure before (voices are opened up to it, so that it keeps
// its number); inside the measure the voice whose latest chord ends at j
// holding the earlier piece. Null when there is none, or when that chord at
// j already has another value.
static SChord* VoiceOfTiedPiece(SVoicing& voicing, const SVoicesOverBar& over, uint32_t j, const SNote* pNote) {
    SChord* pChord = nullptr;
    if (j == 0) {
        uint32_t v = over.abVoiceOfPitch[pNote->bPitch];
        if (!over.bAny || v == kNoVoice) return nullptr;
        while (voicing.pMeasure->bVoices <= v)
            if (!AddVoice(voicing)) return nullptr;
        pChord = &voicing.aEnds[v].pVoice[0];
    } else {
        for (uint32_t v = 0; v < voicing.nEnded && !pChord; ++v) {
            const SVoiceEnd& end = voicing.aEnds[v];
            if (end.nEnd != j || !end.bTiedOn) continue;
            for (const SNote* pHeld = LatestChord(end)->pNotes; pHeld; pHeld = pHeld->pNext)
                if (pHeld->bTieOut && pHeld->bPitch == pNote->bPitch) pChord = &end.pVoice[j];
        }
    }
    return pChord && (pChord->bValue == 0 || SharesChord(voicing, pChord, j, pNote)) ? pChord : nullptr;
}

// Before the other notes of section j, every piece tied from an earlier one
// goes into that one's voice, so that no note of another value takes the
// chord there first. Returns which notes of the section's list (the first
// 64) it placed, one bit each.
static uint64_t PlaceTiedPieces(SVoicing& voicing, const SVoicesOverBar& over, uint32_t j, SNote* pRawNotes) {
    uint64_t qPlaced = 0;
    uint32_t i = 0;
    for (const SNote* pNote = pRawNotes; pNote && i < 64; pNote = pNote->pNext, ++i) {
        if (!pNote->bTieIn) continue;
        SChord* pChord = VoiceOfTiedPiece(voicing, over, j, pNote);
        if (!pChord) continue;
        AddToChord(voicing, pChord, pNote);
        qPlaced |= uint64_t{1} << i;
    }
    voicing.pJoined = nullptr;
    return qPlaced;
}

// After the last section: which voice ties each pitch over the closing bar
// line (the lowest voice, where two tie the same pitch).
static void NoteTiesOverBar(const SVoicing& voicing, SVoicesOverBar& over) {
    const SMeasure* pMeasure = voicing.pMeasure;
    memset(over.abVoiceOfPitch, kNoVoice, sizeof over.abVoiceOfPitch);
    over.bAny = false;
    over.nVoices = pMeasure->bVoices;
    for (uint32_t v = pMeasure->bVoices; v-- > 0;) {
        const SVoiceEnd& end = voicing.aEnds[v];
        if (!end.bTiedOn || end.nEnd < pMeasure->bSections) continue;
        for (const SNote* pNote = LatestChord(end)->pNotes; pNote; pNote = pNote->pNext)
            if (pNote->bTieOut) over.abVoiceOfPitch[pNote->bPitch] = static_cast<uint8_t>(v);
        over.bAny = true;
    }
}

// Fills the voices of a measure with its nRawNotes placed notes, and indexes
// the chords that got them.
static void VoiceNotes(const SBuildContext& context, SVoicesOverBar& over, SMeasure* pMeasure, SMeasureIndex& index,
                       uint32_t nRawNotes) {
    const bool bKeepTies = context.options.bVoicesKeepTies != 0;
    const SPlacedSections& placed = *index.pPlaced;
    SVoicing voicing;
    voicing.bKeepTies = bKeepTies;
    voicing.pMeasure = pMeasure;
    voicing.bResolution = context.bResolution;
    voicing.pSpans = context.pSpans;
    voicing.copies.pNext = AllocateRecords<SNote>(nRawNotes);
    voicing.nEnded = 0;
    voicing.nStarted = 0;
    // Every voice opens with a note, so there are no more voices than notes,
    // but for the voices opened to keep a tied voice's number.
    voicing.nPlaced = placed.nSections;
    uint32_t nMostVoices = nRawNotes + (bKeepTies ? over.nVoices : 0);
    if (nMostVoices > kMaxVoices) nMostVoices = kMaxVoices;
    SSoundingChords& sounding = index.sounding;
    MakeRoomInIndex(index, sounding.apChords, sounding.nCapacity, static_cast<size_t>(nMostVoices) * voicing.nPlaced);
    voicing.apIndexed = sounding.apChords;
    // A section without notes starts no chord and ends none. (The list and
    // the sections read once: chords written in between might, for all the
    // compiler knows, be them.)
    SSection* pSections = pMeasure->pSections;
    const uint8_t* pbEnd = placed.abSection + placed.nSections;
    for (const uint8_t* pb = placed.abSection; pb != pbEnd; ++pb) {
        uint32_t j = *pb;
        SSection* pSection = &pSections[j];
        SNote* pNext;
        uint64_t qTied = bKeepTies ? PlaceTiedPieces(voicing, over, j, pSection->pRawNotes) : 0;
        voicing.pJoined = nullptr;
        for (SNote* pNote = pSection->pRawNotes; pNote; pNote = pNext, qTied >>= 1) {
            pNext = pNote->pNext;
            if (qTied & 1) continue;
            if (JoinPreviousNote(voicing, j, pNote)) continue;
            if (voicing.nEnded && ContinueVoice(voicing, j, pNote)) continue;
            if (bKeepTies && TakeEmptyVoice(voicing, j, pNote, true)) continue;
            if (pMeasure->bVoices && JoinEqualChord(voicing, j, pNote)) continue;
            if (bKeepTies && TakeEmptyVoice(voicing, j, pNote, false)) continue;
            // A note that finds no voice, when the measure has all it can
            // hold, is left out of the score: it goes from the placed notes
            // too, so that no section it might be dropped with keeps it.
            if (OpenVoiceWithNote(voicing, j, pNote)) continue;
            RemoveNote(pNote, pSection);
            voicing.pJoined = nullptr;
        }
        CloseSection(voicing, j);
    }
    if (bKeepTies) NoteTiesOverBar(voicing, over);
    IndexChords(sounding, voicing);
}

// The placed notes of the measure, as stage E counted them, size the block
// of copies.
void AssignVoices(const SBuildContext& context, SVoicesOverBar& over, SMeasure* pMeasure, SMeasureIndex& index) {
    if (index.nPlacedNotes) {
        VoiceNotes(context, over, pMeasure, index, index.nPlacedNotes);
        return;
    }
    // No notes, no voices: nothing to index, and no tie over the bar line.
    over.bAny = false;
    over.nVoices = 0;
    index.sounding.nVoices = 0;
    index.sounding.anVoiceStart[0] = 0;
}
