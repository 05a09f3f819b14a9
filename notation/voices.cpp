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

// The first chord of the section with the note's value and dot takes it.
static bool JoinEqualChord(SSection* pSection, const SNote* pNote, SNoteCopies& copies) {
    for (SChord* pChord = pSection->pChords; pChord; pChord = pChord->pNext) {
        if (HasValueOf(pChord, pNote)) {
            AppendNoteToChord(pChord, pNote, copies);
            return true;
        }
    }
    return false;
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

// Places the note in a voice whose previous chord ends at section j, or
// ends near it. An ended voice (the smallest gap wins) is preferred; a voice
// still sounding qualifies only when it overlaps by a quarter of its plain
// value or half of its dotted one, and is then cut to end at j. A voice takes
// the note only if its chord at j is empty or already of the note's value.
// Equal candidates go to the lower voice.
static bool ContinueVoice(uint32_t j, SMeasure* pMeasure, const SVoiceEnd* pEnds, const SNote* pNote,
                          uint8_t bResolution, SNoteCopies& copies) {
    uint32_t nBestGap = 255, nBestRest = 255;
    const SVoiceEnd* pEnded = nullptr;
    const SVoiceEnd* pRunning = nullptr;
    SChord* pEndedAtJ = nullptr;
    SChord* pRunningAtJ = nullptr;
    SChord* pAtJ = pMeasure->pSections[j].pChords;
    for (uint32_t k = 0; k < pMeasure->bVoices; ++k, pAtJ = pAtJ->pNext) {
        const SVoiceEnd& end = pEnds[k];
        if (!end.pChord) continue;
        bool bUsable = pAtJ->bValue == 0 || HasValueOf(pAtJ, pNote);
        uint32_t g = bResolution / end.pChord->bValue;
        uint32_t e = end.bSection + (end.pChord->bDotted ? g + g / 2 : g);
        if (e <= j) {
            uint32_t nGap = j - e;
            if (nGap < nBestGap && bUsable) {
                nBestGap = nGap;
                pEnded = &end;
                pEndedAtJ = pAtJ;
            }
        } else {
            uint32_t r = e - j;
            bool bQualifies = end.pChord->bDotted ? r == g / 2 : r == g / 4;
            if (bQualifies && r < nBestRest && bUsable) {
                nBestRest = r;
                pRunning = &end;
                pRunningAtJ = pAtJ;
            }
        }
    }
    if (pEnded) {
        if (nBestGap > 0) StretchToNextNote(pEnded->pChord, j - pEnded->bSection, bResolution);
        AppendNoteToChord(pEndedAtJ, pNote, copies);
        return true;
    }
    if (pRunning) {
        SChord* pChord = pRunning->pChord;
        if (pChord->bDotted) {
            SetDotted(pChord, 0);  // a dotted value loses its third
        } else {
            pChord->bValue = static_cast<uint8_t>(pChord->bValue * 2);  // three quarters of a plain value
            SetDotted(pChord, 1);
        }
        AppendNoteToChord(pRunningAtJ, pNote, copies);
        return true;
    }
    return false;
}

// Opens a voice for the note at section j. False when the measure already
// has all the voices its count can hold.
static bool OpenVoiceWithNote(SMeasure* pMeasure, uint32_t j, const SNote* pNote, SVoiceEnd* pEnds,
                              SNoteCopies& copies) {
    SChord* pVoice = AddVoice(pMeasure);
    if (!pVoice) return false;
    pEnds[pMeasure->bVoices - 1u].pChord = nullptr;
    AppendNoteToChord(&pVoice[j], pNote, copies);
    return true;
}

static void AssignMeasureVoices(SMeasure* pMeasure, uint8_t bResolution) {
    // Each voice's latest chord before the section being filled. Chords
    // before that section only ever change their value, never gain or lose
    // one, so the table is brought up to date once per section.
    SVoiceEnd aEnds[kMaxVoices];
    bool bAnyEnd = false;
    uint32_t nRawNotes = 0;
    for (uint32_t j = 0; j < pMeasure->bSections; ++j)
        for (const SNote* pNote = pMeasure->pSections[j].pRawNotes; pNote; pNote = pNote->pNext) ++nRawNotes;
    if (nRawNotes == 0) return;
    SNoteCopies copies = {AllocateRecords<SNote>(nRawNotes)};
    for (uint32_t j = 0; j < pMeasure->bSections; ++j) {
        SSection* pSection = &pMeasure->pSections[j];
        SNote* pNext;
        for (SNote* pNote = pSection->pRawNotes; pNote; pNote = pNext) {
            pNext = pNote->pNext;
            if (bAnyEnd && ContinueVoice(j, pMeasure, aEnds, pNote, bResolution, copies)) continue;
            if (pMeasure->bVoices && JoinEqualChord(pSection, pNote, copies)) continue;
            // A note that finds no voice, when the measure has all it can
            // hold, is left out of the score: it goes from the placed notes
            // too, so that no section it might be dropped with keeps it.
            if (!OpenVoiceWithNote(pMeasure, j, pNote, aEnds, copies)) RemoveNote(pNote, pSection);
        }
        uint32_t k = 0;
        for (SChord* pChord = pSection->pChords; pChord; pChord = pChord->pNext, ++k) {
            if (pChord->bValue == 0) continue;
            aEnds[k].bSection = static_cast<uint8_t>(j);
            aEnds[k].pChord = pChord;
            bAnyEnd = true;
        }
    }
}

void AssignVoices(SMeasureWalk& walk, SMeasure* pMeasure) { AssignMeasureVoices(pMeasure, walk.context.bResolution); }
