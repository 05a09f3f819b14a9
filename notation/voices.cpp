// Stage F: the raw notes of every section are copied into the chords of
// voices. A note joins a chord of its own value at that section, or goes on
// a voice whose previous chord ends there (or can be made to), or opens a
// new voice. Voices belong to one measure.
#include "notation.h"

// A measure's voice count is eight bits wide.
static const uint32_t kMaxVoices = 255;

// Where a voice's latest chord before the current section starts.
struct SVoiceEnd {
    uint8_t bSection;   // section index of that chord
    SChord* pChord;     // the chord; null while the voice has none before the current section
};

// Opens a voice: one chord per section, in one block, chord i appended at the
// end of section i's list, so the k-th chord of every section is voice k's
// and carries k as its voice number.
// Returns the new voice's chords, or null when the measure already has the
// most voices its count can hold.
static SChord* AddVoice(SMeasure* pMeasure) {
    if (pMeasure->bVoices >= kMaxVoices) return nullptr;
    SChord* pLastVoice = pMeasure->bVoices ? VoiceChords(pMeasure, pMeasure->bVoices - 1u) : nullptr;
    SChord* pVoice = AllocateRecords<SChord>(pMeasure->bSections);
    for (uint32_t i = 0; i < pMeasure->bSections; ++i) {
        pVoice[i].bVoice = pMeasure->bVoices;
        if (pLastVoice)
            pLastVoice[i].pNext = &pVoice[i];
        else
            pMeasure->pSections[i].pChords = &pVoice[i];
    }
    ++pMeasure->bVoices;
    return pVoice;
}

// The copies of a measure's notes, one block for the whole measure: every
// raw note is copied into at most one chord.
struct SNoteCopies {
    SNote* pNext;  // the next unused record of the block
};

// A copy of the raw note goes at the end of the chord's notes; the first note
// gives the chord its value. Raw notes arrive highest first, so a chord's
// notes never rise.
static void AppendNoteToChord(SChord* pChord, const SNote* pRawNote, SNoteCopies& copies) {
    SNote* pCopy = copies.pNext++;
    *pCopy = *pRawNote;
    pCopy->pNext = nullptr;
    if (!pChord->pNotes) {
        pChord->pNotes = pCopy;
        pChord->bValue = pRawNote->bValue;
        pChord->bDotted = pRawNote->bDotted;
        return;
    }
    SNote* pTail = pChord->pNotes;
    while (pTail->pNext) pTail = pTail->pNext;
    pTail->pNext = pCopy;
}

static bool HasValueOf(const SChord* pChord, const SNote* pNote) {
    return pChord->bValue == pNote->bValue && pChord->bDotted == pNote->bDotted;
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

// What stage F works with while it fills one measure.
struct SVoicing {
    SMeasure* pMeasure;
    uint8_t bResolution;
    SNoteCopies copies;
    // Each voice's latest chord before the section being filled. Chords
    // before that section only ever change their value, never gain or lose
    // one, so the table is brought up to date once per section.
    SVoiceEnd aEnds[kMaxVoices];
    bool bAnyEnd;
    // The chords that got their first note in the section being filled.
    SChord* apStarted[kMaxVoices];
    uint32_t nStarted;
};

// The chord a voice has at section j.
static SChord* ChordAtSection(const SVoiceEnd& end, uint32_t j) { return end.pChord + (j - end.bSection); }

// The section where the voice's latest chord ends.
static uint32_t EndSection(const SVoiceEnd& end, uint8_t bResolution) {
    uint32_t nPlain = bResolution / end.pChord->bValue;
    return end.bSection + (end.pChord->bDotted ? nPlain + nPlain / 2 : nPlain);
}

// A voice takes the note at j only if its chord there is empty or already
// of the note's value.
static bool CanTakeAt(const SVoiceEnd& end, uint32_t j, const SNote* pNote) {
    const SChord* pChord = ChordAtSection(end, j);
    return pChord->bValue == 0 || HasValueOf(pChord, pNote);
}

// The voice that can take the note at section j at the smallest distance
// (the lower voice of equals), or null. distance(end, nEnd) tells how far a
// voice whose latest chord ends at section nEnd is from j, 255 for never.
template <typename Distance>
static SVoiceEnd* NearestVoice(SVoicing& voicing, uint32_t j, const SNote* pNote, Distance distance) {
    SVoiceEnd* pBest = nullptr;
    uint32_t nBest = 255;
    for (uint32_t v = 0; v < voicing.pMeasure->bVoices; ++v) {
        SVoiceEnd& end = voicing.aEnds[v];
        if (!end.pChord) continue;
        uint32_t nDistance = distance(end, EndSection(end, voicing.bResolution));
        if (nDistance >= nBest || !CanTakeAt(end, j, pNote)) continue;
        nBest = nDistance;
        pBest = &end;
    }
    return pBest;
}

// Among the voices whose latest chord has ended by section j, the one that
// ended last.
static SVoiceEnd* ClosestEndedVoice(SVoicing& voicing, uint32_t j, const SNote* pNote) {
    return NearestVoice(voicing, j, pNote, [j](const SVoiceEnd&, uint32_t nEnd) { return nEnd <= j ? j - nEnd : 255u; });
}

// Among the voices still sounding at section j, one whose chord would
// overlap the note by a quarter of its plain value or half of its dotted
// one, the least overlap first.
static SVoiceEnd* SlightlyOverlappingVoice(SVoicing& voicing, uint32_t j, const SNote* pNote) {
    uint8_t R = voicing.bResolution;
    return NearestVoice(voicing, j, pNote, [j, R](const SVoiceEnd& end, uint32_t nEnd) {
        if (nEnd <= j) return 255u;
        uint32_t nOverlap = nEnd - j;
        uint32_t nPlain = R / end.pChord->bValue;
        bool bSlight = end.pChord->bDotted ? nOverlap == nPlain / 2 : nOverlap == nPlain / 4;
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
}

// Places the note in a voice whose previous chord ends at section j, or ends
// near it: an ended voice is preferred, stretched to the note when it fell
// short; a voice still sounding qualifies only when it overlaps slightly, and
// is then cut to end at j.
static bool ContinueVoice(SVoicing& voicing, uint32_t j, const SNote* pNote) {
    if (SVoiceEnd* pEnded = ClosestEndedVoice(voicing, j, pNote)) {
        if (EndSection(*pEnded, voicing.bResolution) < j)
            StretchToNextNote(pEnded->pChord, j - pEnded->bSection, voicing.bResolution);
        AddToChord(voicing, ChordAtSection(*pEnded, j), pNote);
        return true;
    }
    if (SVoiceEnd* pRunning = SlightlyOverlappingVoice(voicing, j, pNote)) {
        CutToNextNote(pRunning->pChord);
        AddToChord(voicing, ChordAtSection(*pRunning, j), pNote);
        return true;
    }
    return false;
}

// The first chord of the section with the note's value and dot takes it.
static bool JoinEqualChord(SVoicing& voicing, uint32_t j, const SNote* pNote) {
    for (SChord* pChord = voicing.pMeasure->pSections[j].pChords; pChord; pChord = pChord->pNext) {
        if (HasValueOf(pChord, pNote)) {
            AddToChord(voicing, pChord, pNote);
            return true;
        }
    }
    return false;
}

// Opens a voice for the note at section j. False when the measure already
// has all the voices its count can hold.
static bool OpenVoiceWithNote(SVoicing& voicing, uint32_t j, const SNote* pNote) {
    SChord* pVoice = AddVoice(voicing.pMeasure);
    if (!pVoice) return false;
    voicing.aEnds[voicing.pMeasure->bVoices - 1u].pChord = nullptr;
    AddToChord(voicing, &pVoice[j], pNote);
    return true;
}

static uint32_t CountRawNotes(const SMeasure* pMeasure, const SPlacedSections& placed) {
    uint32_t nRawNotes = 0;
    for (uint32_t i = 0; i < placed.nSections; ++i)
        for (const SNote* pNote = pMeasure->pSections[placed.abSection[i]].pRawNotes; pNote; pNote = pNote->pNext)
            ++nRawNotes;
    return nRawNotes;
}

void AssignVoices(SMeasureWalk& walk, SMeasure* pMeasure) {
    const SPlacedSections& placed = PlacedSections(walk, pMeasure);
    uint32_t nRawNotes = CountRawNotes(pMeasure, placed);
    if (nRawNotes == 0) return;
    SVoicing voicing;
    voicing.pMeasure = pMeasure;
    voicing.bResolution = walk.context.bResolution;
    voicing.copies.pNext = AllocateRecords<SNote>(nRawNotes);
    voicing.bAnyEnd = false;
    // A section without notes starts no chord and ends none.
    for (uint32_t i = 0; i < placed.nSections; ++i) {
        uint32_t j = placed.abSection[i];
        SSection* pSection = &pMeasure->pSections[j];
        voicing.nStarted = 0;
        SNote* pNext;
        for (SNote* pNote = pSection->pRawNotes; pNote; pNote = pNext) {
            pNext = pNote->pNext;
            if (voicing.bAnyEnd && ContinueVoice(voicing, j, pNote)) continue;
            if (pMeasure->bVoices && JoinEqualChord(voicing, j, pNote)) continue;
            // A note that finds no voice, when the measure has all it can
            // hold, is left out of the score: it goes from the placed notes
            // too, so that no section it might be dropped with keeps it.
            if (!OpenVoiceWithNote(voicing, j, pNote)) RemoveNote(pNote, pSection);
        }
        // A chord is given a value by its first note, so the chords that
        // started here are the ones of this section with a value.
        for (uint32_t i = 0; i < voicing.nStarted; ++i) {
            SChord* pChord = voicing.apStarted[i];
            voicing.aEnds[pChord->bVoice].bSection = static_cast<uint8_t>(j);
            voicing.aEnds[pChord->bVoice].pChord = pChord;
            voicing.bAnyEnd = true;
        }
    }
}
