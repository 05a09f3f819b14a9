// The notation builder: nineteen stages, A to S, run once each in the order
// of the table in builder.cpp; A over the whole track, C to S measure by
// measure, each measure as soon as A has filled it, and B over the whole
// track last. This header lists the stages by the file that holds them, with
// the operations they share; a stage that carries something from one measure
// to the next is declared beside its record, in the header of its file
// (pitch_spelling.h, beaming.h, clefs.h, compaction.h). A measure stage is
// given the build context, its own record if it has one, the measure, and
// the measure index (measure_index.h) where it reads or makes a part of it.
#ifndef VASTREL_NOTATION_H
#define VASTREL_NOTATION_H

#include "../core/allocation.h"
#include "../core/bits.h"
#include "../core/errors.h"
#include "../core/grid.h"
#include "../core/module_state.h"
#include "../interface/vastrel.h"
#include "measure_index.h"
#include "tablature.h"

#include <stddef.h>
#include <string.h>

struct SMeasureWalk;

// The sections every value covers on one grid, as ChordSpan gives them,
// plain (abSpan[value][0]) and dotted (abSpan[value][1]): made once for the
// build, so that a chord's span is looked up rather than divided out.
struct SSpans {
    uint8_t abSpan[256][2];
};

// What every stage is given.
struct SBuildContext {
    SMidiFile* pFile;      // the file (conductor maps, division, buffer)
    STrack* pTrack;        // the track under construction (g_pCurrentTrack)
    uint8_t bResolution;   // R: grid slots per whole note, a power of two 2..64
    int8_t cTranspose;     // semitones added to every key
    // The rules of the readable notation the build follows (all off: the
    // classic model), a normalised copy: its own size, each flag 0 or 1.
    SNotationOptions options = {};
    // The grid note collection left, for stages A and B: its slots, the
    // notes they hold, and how many slots there are (0 for a track without
    // notes).
    SSlot* pSlots = nullptr;
    SRawNote* pRawNotes = nullptr;
    uint32_t nSlots = 0;
    // The span of every value on the grid (null until the builder has made
    // the table, which it does before the first measure stage).
    const SSpans* pSpans = nullptr;
    // What stage A leaves for stage B: the last measure and the grid slot it
    // starts at, so that B need not follow the whole list of measures, long
    // out of the cache, to reach it.
    SMeasure* pLastMeasure = nullptr;
    uint32_t nLastMeasureSlot = 0;
    uint32_t nLastMeasureSections = 0;  // its sections as laid out (compaction thins them)
    // Where stage A hands each measure it has filled, when the measure
    // stages run in the same build (null when they do not): every note of
    // that measure is placed by then, and it goes through them while its
    // records are still at hand.
    SMeasureWalk* pWalk = nullptr;
    // Whether the track is read as guitar music (guitar.h): decided once,
    // over the grid's notes, before the first stage runs.
    bool bGuitarPart = false;
    // The first staff of a grand staff (grand_staff.h): its stage B times
    // its last measure but leaves the grid, which holds the lower staff's
    // notes too, and the end of the track to the lower staff's.
    bool bAnotherStaffFollows = false;
};

// A stage over the whole track (A, B).
typedef void (*TrackStage)(SBuildContext& context);

// Runs stages A to cLastStage (A..S) over the grid that note collection left,
// under the given (normalised) options. A track without notes gets no stage
// at all.
void BuildNotation(SMidiFile* pFile, uint8_t bResolution, int8_t cTranspose, const SNotationOptions& options,
                   char cLastStage = 'S');

// Runs the stages cFirst to cLast of the table on a track (the tests run one
// stage alone this way). A measure stage whose range leaves out the stage
// that finds a part of the measure index on its way gets that part from the
// row that lists it from the model.
void RunStages(const SBuildContext& context, char cFirst, char cLast);

// Runs the walk's rows on a measure stage A has filled; placed lists the
// sections where A put its notes.
void WalkFilledMeasure(SMeasureWalk& walk, SMeasure* pMeasure, const SPlacedSections& placed);

// ---- Rows that list a part of the measure index from the model -------------------------
// For a walk that leaves out the stage that finds the part on its way. They
// follow the measure's linked sections, so they answer before and after
// stage P has thinned them.

// The section after the last linked one: the measure's section count until
// stage P thins it, and past every section it keeps after.
uint32_t LinkedExtent(const SMeasure* pMeasure);
void ListPlacedSections(const SMeasure* pMeasure, SPlacedSections& placed);  // as A finds them
void CountPlacedNotes(const SMeasure* pMeasure, SMeasureIndex& index);      // as E counts them
void ListSoundingChords(const SMeasure* pMeasure, SMeasureIndex& index);    // as F indexes them
void ListStruckNotes(const SMeasure* pMeasure, SMeasureIndex& index);       // as H's pass tallies them
void ListSilences(const SBuildContext& context, const SMeasure* pMeasure, SMeasureIndex& index);  // as J notes them
void ListRestStarts(const SMeasure* pMeasure, SMeasureIndex& index);        // as L notes them

// ---- measures.cpp: measures and note placement (A, B, C) ---------------------

// A: measures, sections, notes split into values; lists each measure's
// placed sections for the measure stages as it hands the measure over.
void PlaceNotes(SBuildContext& context);
// B: grid freed, last measure timed, end-of-track extended. It reads what A
// left in the context, so it runs only after A in the same build.
void CloseGrid(SBuildContext& context);
// C: two tied equal values become one of double length.
void MergeTies(const SBuildContext& context, SMeasure* pMeasure, const SMeasureIndex& index);

// The largest power of two up to n (n > 0).
constexpr uint32_t HighestPowerOfTwo(uint32_t n) {
    n |= n >> 1;
    n |= n >> 2;
    n |= n >> 4;
    n |= n >> 8;
    n |= n >> 16;
    return n - (n >> 1);
}

// The largest power of two up to R that divides position p: p's lowest set
// bit, capped at R (the bar line, p = 0, is a multiple of everything).
inline uint32_t PointStep(uint8_t bResolution, uint32_t nPosition) {
    uint32_t c = nPosition & (0u - nPosition);
    return nPosition == 0 || c > bResolution ? bResolution : c;
}

// Level of position p in a measure on grid R: R / (largest power of two up to
// R dividing p). 1 at the bar line; smaller is stronger.
inline uint8_t GridLevel(uint8_t bResolution, uint32_t nPosition) {
    return static_cast<uint8_t>(bResolution / PointStep(bResolution, nPosition));
}

// Appends a placed note of the given value at *ppTail (the end of a
// section's pRawNotes); returns where the note after it goes.
SNote** AppendPlacedNote(SNote** ppTail, uint8_t bPitch, uint8_t bValue, uint8_t bDotted, uint8_t bTieIn,
                         uint8_t bTieOut);
// Takes a placed note out of its section and frees it.
void RemoveNote(SNote* pNote, SSection* pSection);
// What a note says lies before its link and between its two links (pitch,
// value, head and mark), so stages E and F move it in two pieces; a placed
// note has no pPrev.
static_assert(offsetof(SNote, pNext) < offsetof(SNote, bPitch) && offsetof(SNote, bDrumMark) < offsetof(SNote, pPrev),
              "a note's own fields before and between its links");
static const size_t kSaidBetweenLinks = offsetof(SNote, pPrev) - offsetof(SNote, bPitch);
inline unsigned char* SaidBetweenLinks(SNote* pNote) {
    return reinterpret_cast<unsigned char*>(pNote) + offsetof(SNote, bPitch);
}
inline const unsigned char* SaidBetweenLinks(const SNote* pNote) {
    return reinterpret_cast<const unsigned char*>(pNote) + offsetof(SNote, bPitch);
}

// ---- pitch_spelling.cpp: pitch spelling and key signatures (D, E) -----------
// D (SpellPitches) and its accidental memory: pitch_spelling.h.

// E: raw notes of a section by descending pitch; counts them for F.
void SortSectionNotes(SMeasure* pMeasure, SMeasureIndex& index);

// ---- voices.cpp: voice assignment (F) ------------------------------------------
// F (AssignVoices) and what it carries over the bar line: voices.h.

// ---- beaming.cpp: beaming (G) ----------------------------------------------------
// G (BeamChords), its meter and its rule for two chords: beaming.h.

// ---- clefs.cpp: clef selection (H) -----------------------------------------------
// H (ChooseClefs) and the clef it carries: clefs.h.

// ---- stems.cpp: stems and note-head layout (I, R, note order) -------------------

// The lowest and highest staff step of some notes; nLowest > nHighest when
// there are none.
struct SStepRange {
    int32_t nLowest;
    int32_t nHighest;
};

// Stage H's pass over the notes of the measure: tallies in index.struck the
// notes every voice strikes at each of its nSections sections (stage I's
// weights) and returns the range of every step (stage H's clef). The pass
// passes every chord with notes of a voice after the one before it, so it
// also calls pair(previous, p, chord, k) for every two of them (sections p
// and k), with which the builder gives it stage G's rule for beam pairs.
template <typename VisitPair>
inline SStepRange TallyStruckNotes(SMeasureIndex& index, uint32_t nSections, VisitPair pair) {
    const SSoundingChords& sounding = index.sounding;
    SStepTally* aStruck = index.struck.aAt;
    memset(aStruck, 0, nSections * sizeof aStruck[0]);
    SStepRange range = {127, -128};
    for (uint32_t v = 0; v < sounding.nVoices; ++v) {
        SChord* pPrev = nullptr;
        uint32_t p = 0;
        for (uint32_t i = sounding.anVoiceStart[v]; i < sounding.anVoiceStart[v + 1]; ++i) {
            SChord* pChord = sounding.apChords[i];
            uint32_t k = SectionOf(sounding, v, pChord);
            if (pPrev) pair(pPrev, p, pChord, k);
            SStepTally chord = {0, 0};
            for (const SNote* pNote = pChord->pNotes; pNote; pNote = pNote->pNext) {
                chord.nSum += pNote->cStep;
                ++chord.nCount;
                if (pNote->cStep < range.nLowest) range.nLowest = pNote->cStep;
                if (pNote->cStep > range.nHighest) range.nHighest = pNote->cStep;
            }
            SStepTally& at = aStruck[k];
            at.nSum += chord.nSum;
            at.nCount += chord.nCount;
            pPrev = pChord;
            p = k;
        }
    }
    index.struck.nShift = 0;
    return range;
}

// The pass with no rule for pairs.
inline SStepRange TallyStruckNotes(SMeasureIndex& index, uint32_t nSections) {
    return TallyStruckNotes(index, nSections, [](SChord*, uint32_t, SChord*, uint32_t) {});
}

// I: stem direction per beam group.
void ChooseStems(SMeasure* pMeasure, const SMeasureIndex& index);
// R: heads a second apart moved across the stem.
void DisplaceHeads(SMeasure* pMeasure, const SMeasureIndex& index);

// R's rule for one chord with notes: whether a head moved left of a
// stem-down stem. A lone note has nothing to move.
inline bool DisplaceChordHeads(const SChord* pChord) {
    bool bHeadLeft = false;
    const SNote* pPrevious = pChord->pNotes;
    for (SNote* pNote = pPrevious->pNext; pNote; pPrevious = pNote, pNote = pNote->pNext) {
        int nDistance = pNote->cStep - pPrevious->cStep;
        if (nDistance > -2 && nDistance < 2) pNote->bHeadFlipped = pPrevious->bHeadFlipped ? 0 : 1;
        if (pNote->bHeadFlipped && !pChord->bStemUp) bHeadLeft = true;
    }
    return bHeadLeft;
}

// Voice assignment leaves a chord's notes highest first, which suits a stem
// down (the stem hangs from the top note). A stem-up chord is read from the
// bottom, so its list is turned round as it is walked: every note's next
// becomes its previous and the last note the head. Stage Q calls this for
// every chord with notes; most hold one note, which reads the same both ways.
inline void OrderChordNotes(SChord* pChord) {
    SNote* pFirst = pChord->pNotes;
    if (pFirst && !pFirst->pNext) {
        pFirst->pPrev = nullptr;
        return;
    }
    SNote* pPrevious = nullptr;
    if (!pChord->bStemUp) {
        for (SNote* pNote = pChord->pNotes; pNote; pNote = pNote->pNext) {
            pNote->pPrev = pPrevious;
            pPrevious = pNote;
        }
        return;
    }
    for (SNote* pNote = pChord->pNotes; pNote;) {
        SNote* pOlderNext = pNote->pNext;
        pNote->pNext = pPrevious;
        pNote->pPrev = pOlderNext;
        pPrevious = pNote;
        pNote = pOlderNext;
    }
    pChord->pNotes = pPrevious;
}

// ---- rests.cpp: rests and dotted rests (J to O) -----------------------------------

// J: height where a voice sounds; notes the measure's silences.
void MeasureVoiceHeights(const SBuildContext& context, SMeasure* pMeasure, SMeasureIndex& index);
// K: height carried into silences.
void CarryVoiceHeights(SMeasure* pMeasure, const SMeasureIndex& index);
// L: rest values for silences; notes where rests start.
void FillRests(const SBuildContext& context, SMeasure* pMeasure, SMeasureIndex& index);
// M: equal rests of several voices merged.
void ShareRests(const SBuildContext& context, SMeasure* pMeasure, const SMeasureIndex& index);
// N: staff step of every drawn rest.
void PlaceRests(const SMeasureIndex& index);
// O: rest + rest of half or double value -> one dotted rest.
void DotRests(const SBuildContext& context, SMeasure* pMeasure, const SMeasureIndex& index);

// ---- compaction.cpp: section compaction and final pass (P, Q) ---------------------
// P (CompactSections) and the beat it carries, Q (FinishChords) and its
// rule for one chord: compaction.h.

// ---- tablature.cpp: guitar tablature (S) ----------------------------------------

// S: string and fret for every note.
void AssignStrings(const SBuildContext& context, const SMeasureIndex& index);

// Guitar music is written an octave above its sound: the classic strings
// read the keys as written pitch, and the strings of the sounding pitch are
// those of the key an octave up.
inline constexpr uint32_t kOctaveOfWrittenGuitar = 12;

// S's rule for one chord of two notes or more: the notes share out the
// strings (tablature.cpp). Each note is fingered as the key nRaise
// semitones above its own.
void FingerChordNotes(SChord* pChord, uint32_t nRaise = 0);
// S's rule for one chord: a lone note always gets its preferred string. A
// pitch no string reaches has no fingering, string and fret 0, as the note
// has them already: written without asking, since whether a string reaches
// the pitch changes from note to note.
inline void FingerChord(SChord* pChord, uint32_t nRaise = 0) {
    SNote* pNote = pChord->pNotes;
    if (pNote->pNext) {
        FingerChordNotes(pChord, nRaise);
        return;
    }
    uint32_t nKey = pNote->bPitch + nRaise;
    SFingering first = nKey <= 0xFF ? kFirstChoices.aOfPitch[nKey] : SFingering{0, 0};
    pNote->bString = first.bString;
    pNote->bFret = first.bFret;
}

// The sections of a measure of the meter on grid R: numerator·R/denominator,
// rounded up (measures.cpp).
uint8_t SectionsOfMeter(uint8_t bNumerator, uint8_t bDenominator, uint8_t bResolution);

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

// Calls visit(i) for every section i of n, four at a time: some walks do
// little at each section, and on a fine grid a measure has many, so the
// loop's own counting is kept small (a size_t count, which cannot wrap,
// lets the compiler step pointers).
template <typename Visit>
inline void ForEachSection(size_t n, Visit visit) {
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        visit(i);
        visit(i + 1);
        visit(i + 2);
        visit(i + 3);
    }
    for (; i < n; ++i) visit(i);
}

// Sections covered by a chord of value bValue (dotted: half as much again) on grid R.
inline uint32_t ChordSpan(uint8_t bResolution, uint8_t bValue, uint8_t bDotted) {
    if (bValue == 0) return 1;
    uint32_t nSpan = bResolution / bValue;
    if (nSpan == 0) nSpan = 1;
    return bDotted ? nSpan + nSpan / 2 : nSpan;
}

#endif
