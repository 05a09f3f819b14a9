// Stage S in the readable notation: strings from the sounding pitch, and a
// guitar's track fingered over the whole track. The measure walk hands stage S
// one measure at a time, but a held note keeps its string for as long as it
// sounds and the hand's path runs through the whole piece: so a guitar's
// track's notes are gathered measure by measure, in time order, and fingered
// once the walk has passed the last measure.
// After this: every note of a pitched track from key 40 to 88 has a string
// and a fret that sound it (a guitar's track's, unless its chord cannot be
// played whole); the pieces of a tied note share one.
#include "guitar.h"

#include <string.h>

// ---- Deciding the rule ---------------------------------------------------------------

// At most one note in kNotesPerLowNote below the lowest string. A guitar
// part dips under E2 now and then: a drop-D riff, a surf guitar tuned a
// half step down (its lowest string sounds E flat 2), a final low note. A
// bass line played on a guitar sound lives down there: on the corpus's
// guitar programs the share below E2 is at most 6 % for guitar parts and at
// least 27 % for bass lines, with nothing in between.
static const uint32_t kNotesPerLowNote = 10;

bool PlaysAsGuitarPart(const SBuildContext& context) {
    if (!IsGuitarTrack(context)) return false;
    uint32_t nNotes = 0, nLow = 0;
    for (uint32_t j = 0; j < context.nSlots; ++j)
        for (const SRawNote* pNote = context.pSlots[j].pNotes; pNote; pNote = pNote->pNext) {
            ++nNotes;
            nLow += pNote->bPitch < kLowestGuitarKey;
        }
    return uint64_t{nLow} * kNotesPerLowNote <= nNotes;
}

static EStringRule RuleOfTrack(const SBuildContext& context) {
    if (!context.options.bGuitarTablature) return kStringsClassic;
    if (context.pTrack->bPercussion) return kStringsNone;
    return IsGuitarTrack(context) ? kStringsOverTrack : kStringsAtSound;
}

// The rule is decided at the first measure, once the stages before have
// said what the track is (a drum staff, say); a guitar's track then counts
// grid slots from measure to measure.
void StartMeasureStrings(const SBuildContext& context, SStringsOverTrack& strings, const SMeasure* pMeasure) {
    if (strings.eRule == kStringsUndecided) {
        strings.eRule = RuleOfTrack(context);
        strings.bNumerator = 4;
        strings.bDenominator = 4;
    }
    if (strings.eRule != kStringsOverTrack) return;
    strings.nMeasureSlot += strings.nMeasureSlots;
    if (pMeasure->bNumerator != 0 && pMeasure->bDenominator != 0) {
        strings.bNumerator = pMeasure->bNumerator;
        strings.bDenominator = pMeasure->bDenominator;
    }
    strings.nMeasureSlots = SectionsOfMeter(strings.bNumerator, strings.bDenominator, context.bResolution);
}

// ---- Gathering a guitar's track's notes ----------------------------------------------------

// Room for nEntries entries in an array of the index's heap, keeping the
// nKept entries it holds.
template <typename T>
static void KeepRoom(SMeasureIndex& index, T*& pArray, uint32_t& nCapacity, uint32_t nKept, size_t nEntries) {
    if (nEntries <= nCapacity) return;
    T* pOld = pArray;
    MakeRoomInIndex(index, pArray, nCapacity, nEntries);
    if (nKept) memcpy(pArray, pOld, nKept * sizeof(T));
}

// The measure's chords in section order (every voice's at one section
// together), counted out by section: the fingering reads the notes in the
// order they start.
static uint32_t ChordsInTimeOrder(SStringsOverTrack& strings, SMeasureIndex& index) {
    const SSoundingChords& sounding = index.sounding;
    uint32_t nChords = sounding.anVoiceStart[sounding.nVoices];
    KeepRoom(index, strings.pChords, strings.nChordCapacity, 0, nChords);
    uint32_t anStart[257] = {};
    ForEachSoundingChord(sounding, [&anStart](SChord*, uint32_t k) { ++anStart[k + 1]; });
    for (uint32_t k = 1; k <= 256; ++k) anStart[k] += anStart[k - 1];
    SChordAt* pChords = strings.pChords;
    ForEachSoundingChord(sounding, [&anStart, pChords](SChord* pChord, uint32_t k) {
        pChords[anStart[k]++] = SChordAt{pChord, k};
    });
    return nChords;
}

// One piece of a note: a piece tied from the note the pitch holds, ending
// where this one starts, lengthens that note; any other starts a new one.
static void GatherPiece(SStringsOverTrack& strings, SNote* pNote, uint32_t dwOnset, uint32_t dwRelease) {
    uint32_t& nTied = strings.anTiedNote[pNote->bPitch];
    uint32_t nFretNote;
    if (pNote->bTieIn && nTied != 0 && strings.pNotes[nTied - 1].dwRelease == dwOnset) {
        nFretNote = nTied - 1;
        strings.pNotes[nFretNote].dwRelease = dwRelease;
    } else {
        nFretNote = strings.nNotes++;
        SFretNote& note = strings.pNotes[nFretNote];
        note.dwOnset = dwOnset;
        note.dwRelease = dwRelease;
        note.bKey = pNote->bPitch;
    }
    nTied = pNote->bTieOut ? nFretNote + 1 : 0;
    strings.pPieces[strings.nPieces++] = SStringPiece{pNote, nFretNote};
}

void GatherGuitarNotes(const SBuildContext& context, SStringsOverTrack& strings, SMeasureIndex& index) {
    if (strings.eRule != kStringsOverTrack) return;
    uint32_t nChords = ChordsInTimeOrder(strings, index);
    uint32_t nPieces = 0;
    for (uint32_t i = 0; i < nChords; ++i)
        for (const SNote* pNote = strings.pChords[i].pChord->pNotes; pNote; pNote = pNote->pNext) ++nPieces;
    KeepRoom(index, strings.pNotes, strings.nNoteCapacity, strings.nNotes, size_t{strings.nNotes} + nPieces);
    KeepRoom(index, strings.pPieces, strings.nPieceCapacity, strings.nPieces, size_t{strings.nPieces} + nPieces);
    for (uint32_t i = 0; i < nChords; ++i) {
        const SChordAt& at = strings.pChords[i];
        SChord* pChord = at.pChord;
        uint32_t dwOnset = strings.nMeasureSlot + at.nSection;
        uint32_t dwRelease = dwOnset + context.pSpans->abSpan[pChord->bValue][pChord->bDotted != 0];
        for (SNote* pNote = pChord->pNotes; pNote; pNote = pNote->pNext) GatherPiece(strings, pNote, dwOnset, dwRelease);
    }
}

// ---- Fingering the part -------------------------------------------------------------

void FingerGuitarPart(SStringsOverTrack& strings, SMeasureIndex& index) {
    if (strings.eRule != kStringsOverTrack || strings.nNotes == 0) return;
    SFingeringStep* pSteps = nullptr;
    uint32_t nStepCapacity = 0;
    MakeRoomInIndex(index, pSteps, nStepCapacity, strings.nNotes);
    FingerNotes(strings.pNotes, strings.nNotes, pSteps);
    for (uint32_t i = 0; i < strings.nPieces; ++i) {
        const SStringPiece& piece = strings.pPieces[i];
        piece.pNote->bString = strings.pNotes[piece.nFretNote].bString;
        piece.pNote->bFret = strings.pNotes[piece.nFretNote].bFret;
    }
}
