// The notation builder: nineteen stages, A to S, each one walk over the
// track under construction, run once each in the order of the table in
// builder.cpp. This header lists the stages by the file that holds them,
// with the operations they share.
#ifndef VASTREL_NOTATION_H
#define VASTREL_NOTATION_H

#include "../interface/library.h"

// What every stage is given.
struct SBuildContext {
    SMidiFile* pFile;      // the file (conductor maps, division, buffer)
    STrack* pTrack;        // the track under construction (g_pCurrentTrack)
    uint8_t bResolution;   // R: grid slots per whole note, a power of two 2..64
    int8_t cTranspose;     // semitones added to every key
};

typedef void (*StageFunction)(const SBuildContext& context);

// Runs stages A to cLastStage (A..S) over the grid that note collection left.
// A track without notes gets no stage at all.
void BuildNotation(SMidiFile* pFile, uint8_t bResolution, int8_t cTranspose, char cLastStage = 'S');

// ---- measures.cpp: measures and note placement (A, B, C) ---------------------

void PlaceNotes(const SBuildContext& context);     // A: measures, sections, notes split into values
void CloseGrid(const SBuildContext& context);      // B: grid freed, last measure timed, end-of-track extended
void MergeTies(const SBuildContext& context);      // C: two tied equal values become one of double length

// Level of position p in a measure on grid R: R / (largest power of two up to
// R dividing p). 1 at the bar line; smaller is stronger.
uint8_t GridLevel(uint8_t bResolution, uint32_t nPosition);

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

// The operations of stage A.
void StartConductorCursor(const SMidiFile* pFile, SConductorCursor& cursor);
void LookupMeterAndKey(const SBuildContext& context, SConductorCursor& cursor, SMeasure* pMeasure);
void LookupTempo(const SBuildContext& context, SConductorCursor& cursor, SMeasure* pMeasure);
void AllocateSections(SMeasure* pMeasure);
uint32_t StrongestPoint(uint32_t p, uint8_t bResolution, SLength length);
void DecomposeNote(SSectionTails& tails, uint32_t p, uint8_t bResolution, uint8_t bPitch, SLength length,
                   uint8_t bTieIn, uint8_t bTieOut);
void AppendNote(SSection* pSection, uint8_t bPitch, uint8_t bValue, uint8_t bDotted, uint8_t bTieIn, uint8_t bTieOut);
void RemoveNote(SNote* pNote, SSection* pSection);

// ---- pitch_spelling.cpp: pitch spelling and key signatures (D, E) -----------

void SpellPitches(const SBuildContext& context);   // D: change-only meter/tempo/key, glyphs, steps, accidentals
void SortSectionNotes(const SBuildContext& context);  // E: raw notes of a section by descending pitch

// ---- voices.cpp: voice assignment (F) ------------------------------------------

void AssignVoices(const SBuildContext& context);   // F: every raw note copied into a chord of a voice

// ---- beaming.cpp: beaming (G) ----------------------------------------------------

void BeamChords(const SBuildContext& context);     // G: voice numbers and beam pairs

// ---- clefs.cpp: clef selection (H) -----------------------------------------------

void ChooseClefs(const SBuildContext& context);    // H: clef per measure, steps shifted to drawing positions

// ---- stems.cpp: stems and note-head layout (I, R, note order) -------------------

void ChooseStems(const SBuildContext& context);    // I: stem direction per beam group
void DisplaceHeads(const SBuildContext& context);  // R: heads a second apart moved across the stem
// Sets pPrev links and, for a stem-up chord, reverses the notes (lowest first).
void OrderChordNotes(SChord* pChord);

// ---- rests.cpp: rests and dotted rests (J to O) -----------------------------------

void MeasureVoiceHeights(const SBuildContext& context);  // J: height where a voice sounds
void CarryVoiceHeights(const SBuildContext& context);    // K: height carried into silences
void FillRests(const SBuildContext& context);            // L: rest values for silences
void ShareRests(const SBuildContext& context);           // M: equal rests of several voices merged
void PlaceRests(const SBuildContext& context);           // N: staff step of every drawn rest
void DotRests(const SBuildContext& context);             // O: rest + rest of half/double value -> dotted

// ---- compaction.cpp: section compaction and final pass (P, Q) ---------------------

void CompactSections(const SBuildContext& context);  // P: keep only the coarsest grid each measure needs
void FinishChords(const SBuildContext& context);     // Q: value exponents, note order, raw lists freed

// ---- tablature.cpp: guitar tablature (S) ----------------------------------------

void AssignStrings(const SBuildContext& context);    // S: string and fret for every note

// ---- Shared walks over voices -------------------------------------------------------
// A voice is one array of bSections chords; section k's chord list holds the
// k-th chord of every voice, in voice order. So the chords of section 0 are
// the first elements of the voices' arrays.

// The chord array of voice nVoice (0-based) of the measure, or null.
inline SChord* VoiceChords(const SMeasure* pMeasure, uint32_t nVoice) {
    SChord* pChord = pMeasure->pSections ? pMeasure->pSections[0].pChords : nullptr;
    while (pChord && nVoice--) pChord = pChord->pNext;
    return pChord;
}

// Calls visit(pVoice, nSections) with the chord array of every voice of
// every measure, measures in order and voices in order within each.
template <typename VisitVoice>
inline void ForEachVoice(const STrack* pTrack, VisitVoice visit) {
    for (SMeasure* pMeasure = pTrack->pFirstMeasure; pMeasure; pMeasure = pMeasure->pNext)
        for (SChord* pVoice = VoiceChords(pMeasure, 0); pVoice; pVoice = pVoice->pNext)
            visit(pVoice, static_cast<uint32_t>(pMeasure->bSections));
}

// Sections covered by a chord of value bValue (dotted: half as much again) on grid R.
inline uint32_t ChordSpan(uint8_t bResolution, uint8_t bValue, uint8_t bDotted) {
    if (bValue == 0) return 1;
    uint32_t nSpan = bResolution / bValue;
    if (nSpan == 0) nSpan = 1;
    return bDotted ? nSpan + nSpan / 2 : nSpan;
}

#endif
