// The notation builder: nineteen stages, A to S, run once each in the order
// of the table in builder.cpp; A and B over the whole track, C to S measure
// by measure, each measure as soon as A has filled it. This header lists the
// stages by the file that holds them, with the operations they share.
#ifndef VASTREL_NOTATION_H
#define VASTREL_NOTATION_H

#include "../core/allocation.h"
#include "../core/bits.h"
#include "../core/errors.h"
#include "../core/grid.h"
#include "../core/module_state.h"
#include "../interface/vastrel.h"
#include "tablature.h"

#include <stddef.h>

struct SMeasureWalk;
// A stage over one measure.
typedef void (*MeasureStage)(SMeasureWalk& walk, SMeasure* pMeasure);

// What every stage is given.
struct SBuildContext {
    SMidiFile* pFile;      // the file (conductor maps, division, buffer)
    STrack* pTrack;        // the track under construction (g_pCurrentTrack)
    uint8_t bResolution;   // R: grid slots per whole note, a power of two 2..64
    int8_t cTranspose;     // semitones added to every key
    // The rules of the readable notation the build follows (all off: the
    // classic model), a normalised copy: its own size, each flag 0 or 1.
    SNotationOptions options;
    // What stage A leaves for stage B: the last measure and the grid slot it
    // starts at (null and 0 until A has run), so that B need not follow the
    // whole list of measures, long out of the cache, to reach it.
    SMeasure* pLastMeasure = nullptr;
    uint32_t nLastMeasureSlot = 0;
    uint32_t nLastMeasureSections = 0;  // its sections as laid out (compaction thins them)
    // Where stage A hands each measure it has filled, when the measure
    // stages run in the same build (null when they do not): every note of
    // that measure is placed by then, and it goes through them while its
    // records are still in the cache.
    SMeasureWalk* pWalk = nullptr;
};

// The measure before the first had no key.
static const int kNoKey = 127;

// Staff steps stage D remembers an accidental for (-42..118).
static const uint32_t kAccidentalSteps = 161;

// What stage D carries over the bar line: what the measures before showed.
struct SShownBefore {
    uint8_t bNumerator;    // meter last shown
    uint8_t bDenominator;
    uint16_t wTempo;       // tempo last shown
    int nKey;              // key of the previous measure (kNoKey before the first)
};

// The sections of one measure that hold placed notes, in order: what stages
// C to F walk instead of every section. Those stages only take placed notes
// away (ties merged, heads dropped, notes no voice can hold), so a section
// listed may have none left, and one not listed has none.
struct SPlacedSections {
    const SMeasure* pMeasure;  // the measure listed; null before the first
    uint32_t nSections;
    uint8_t abSection[256];    // section numbers, ascending
    // The placed notes left in those sections once stage E has sorted them
    // (it passes over each on its way), for stage F to size its copies by;
    // kNotesUncounted until then.
    uint32_t nNotes;
    // When stage A made the list as it filled the measure in the same walk:
    // the sections where it tied a value to a later one of the measure, the
    // only ones where stage C can merge a pair (section k is bit k % 64 of
    // word k / 64). A list made by looking at the sections does not know.
    bool bTiesKnown;
    uint64_t aqTiedOn[4];
};
// nNotes of a list whose notes nobody has counted yet.
static const uint32_t kNotesUncounted = 0xFFFFFFFFu;

// The chords with notes of one measure, voice after voice and in section
// order within each voice: what the stages that concern notes walk instead
// of every chord of every section. No stage after F gives a chord notes or
// takes them away, so one index serves every later stage of the measure.
struct SSoundingChords {
    const SMeasure* pMeasure;   // the measure indexed; null before the first
    uint32_t nVoices;
    SChord* apVoice[255];       // the chord array of each voice
    uint32_t anVoiceStart[256]; // voice v's chords are apChords[anVoiceStart[v] .. anVoiceStart[v + 1])
    SChord** apChords;          // in the walk's own heap
    uint32_t nCapacity;         // entries apChords has room for
};

// Sections [bFirst, bEnd) of a voice where it sounds nothing.
struct SSilence {
    SChord* pVoice;  // the voice's chord array
    uint8_t bFirst;
    uint8_t bEnd;
};

// The silences of every voice of one measure, voice after voice and in
// order within each: what stages K and L fill and O walks, found once by
// stage J, which also notes where the measure's chords start (stage P).
struct SVoiceSilences {
    const SMeasure* pMeasure;  // the measure listed; null before the first
    uint32_t nSilences;
    SSilence* pSilences;       // in the walk's own heap
    uint32_t nCapacity;        // entries pSilences has room for
    uint32_t nChordStarts;     // the sections where chords with notes start, or-ed together
};

// The sections every value covers on one grid, as ChordSpan gives them,
// plain (abSpan[value][0]) and dotted (abSpan[value][1]).
struct SSpans {
    uint8_t bResolution;  // the grid; 0 before the table is made
    uint8_t abSpan[256][2];
};

// Staff steps of some notes, summed and counted (stage I).
struct SStepTally {
    int32_t nSum;
    int32_t nCount;
};

// The lowest and highest staff step of some notes; nLowest > nHighest when
// there are none.
struct SStepRange {
    int32_t nLowest;
    int32_t nHighest;
};

// Stages C to S each rely on no later measure, so they run measure by
// measure: every stage finishes a measure before the next stage starts on
// it, and the measure's records are still at hand when the next stage comes.
// What a stage carries from one measure to the next lives here, one group of
// fields per stage that needs any.
struct SMeasureWalk {
    SBuildContext context;
    // D: what was shown before; and for every staff step the section that
    // last spelt a note on it (sections numbered through the walk), the
    // alteration it left and how many heads stand on the step there.
    SShownBefore shown;
    int32_t* pnAlterations;
    uint8_t* pbHeadsOnStep;
    uint32_t anLastSpelt[kAccidentalSteps];  // 0 before any
    uint32_t nNextMeasureSection;            // the number of the next measure's first section
    // G: the meter in force (0/0 before the first one shown) and how many
    // notes of each value (1..64) make one beam group in it.
    uint32_t nBeamNumerator;
    uint32_t nBeamDenominator;
    uint8_t abBeamGroupNotes[65];
    // G and H: when H follows G in the walk, G leaves the beam pairs of
    // pBeamsDueOf to H's walk over the notes, which passes every chord anyway.
    const SMeasure* pBeamsDueOf;
    // H: the clef in effect and the measure before this one.
    int32_t nClefInEffect;
    const SMeasure* pMeasureBefore;
    // H and I: the notes every voice strikes at each section of pStruckOf
    // (null before the first), tallied as stage H finds the measure's range,
    // and how far H has moved every step since (each sum is short of
    // nStruckShift for each note).
    const SMeasure* pStruckOf;
    int32_t nStruckShift;
    SStepTally aStruck[256];
    // P: the denominator of the last meter shown.
    uint8_t bBeatDenominator;
    // C to F: the sections of the measure with placed notes.
    SPlacedSections placed;
    // G to S: the chords with notes of the measure, indexed by stage F, and
    // the heap that holds the index for the walk (null until one is needed).
    SSoundingChords sounding;
    void* hWalkHeap;
    // J to O: the silences of every voice of the measure (noted by J, filled
    // by K and L, walked by O), and the span of every value on the walk's
    // grid (F, J, M and O look spans up instead of dividing).
    SVoiceSilences silences;
    SSpans spans;
    // L to Q: the sections of pRestsOf where stage L started a rest, one bit
    // each (section k is bit k % 64 of word k / 64, in the nRestWords words
    // the measure's sections fill), so that M to Q pass over the others
    // (every section of any other measure); and those where it started rests
    // in two or more voices, the only ones where stage M can share a rest.
    const SMeasure* pRestsOf;
    uint32_t nRestWords;
    uint64_t aqRestStarts[4];
    uint64_t aqRestsMeet[4];
    // Q to S: each of the three walks every chord with notes once and settles
    // every chord by itself. When R and S follow Q in the walk, Q moves the
    // heads and fingers the strings of each chord as it finishes it, and
    // notes the measure here for R and S to pass over.
    const SMeasure* pChordsSettledOf;
    // The measure stages of the build, in the table's order, and the letters
    // of the first and last stage of the range the walk runs.
    MeasureStage apfnStages[19];
    uint32_t nStages;
    char cFirstStage;
    char cLastStage;
};

// The sections of the measure with placed notes, listed by the first of
// stages C to F to ask for them.
const SPlacedSections& ListPlacedSections(SMeasureWalk& walk, const SMeasure* pMeasure);
inline const SPlacedSections& PlacedSections(SMeasureWalk& walk, const SMeasure* pMeasure) {
    return walk.placed.pMeasure == pMeasure ? walk.placed : ListPlacedSections(walk, pMeasure);
}

// Stage F indexes the chords it gives notes as it finishes a measure; a walk
// without F lists them by looking at every chord of every voice.
const SSoundingChords& ListSoundingChords(SMeasureWalk& walk, const SMeasure* pMeasure);
// Gives the index room for nChords chords; it grows in the walk's own heap,
// which goes when the walk ends.
void GrowChordIndex(SMeasureWalk& walk, size_t nChords);
inline void MakeRoomForChords(SMeasureWalk& walk, size_t nChords) {
    if (nChords > walk.sounding.nCapacity) GrowChordIndex(walk, nChords);
}

// The chords with notes of the measure (whose voices stage F has made).
inline const SSoundingChords& SoundingChords(SMeasureWalk& walk, const SMeasure* pMeasure) {
    return walk.sounding.pMeasure == pMeasure ? walk.sounding : ListSoundingChords(walk, pMeasure);
}

// The section index of the k-th chord of voice v in the index.
inline uint32_t SectionOf(const SSoundingChords& index, uint32_t v, const SChord* pChord) {
    return static_cast<uint32_t>(pChord - index.apVoice[v]);
}

typedef void (*TrackStage)(SBuildContext& context);

// Whether the walk runs stage cStage (a letter A..S): a stage that can do a
// later stage's work on its way asks.
inline bool WalkRuns(const SMeasureWalk& walk, char cStage) {
    return cStage >= walk.cFirstStage && cStage <= walk.cLastStage;
}

// Runs stages A to cLastStage (A..S) over the grid that note collection left,
// under the given (normalised) options. A track without notes gets no stage
// at all.
void BuildNotation(SMidiFile* pFile, uint8_t bResolution, int8_t cTranspose, const SNotationOptions& options,
                   char cLastStage = 'S');

// Runs the stages cFirst to cLast of the table on a track (the tests run one
// stage alone this way).
void RunStages(const SBuildContext& context, char cFirst, char cLast);

// Runs the walk's measure stages on a measure stage A has filled.
void WalkFilledMeasure(SMeasureWalk& walk, SMeasure* pMeasure);

// What a measure stage takes before its first measure and gives back after
// the last (stage D).
typedef void (*WalkHook)(SMeasureWalk& walk);

// ---- measures.cpp: measures and note placement (A, B, C) ---------------------

void PlaceNotes(SBuildContext& context);     // A: measures, sections, notes split into values
void CloseGrid(SBuildContext& context);      // B: grid freed, last measure timed, end-of-track extended
void MergeTies(SMeasureWalk& walk, SMeasure* pMeasure);      // C: two tied equal values become one of double length

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
// What a note says lies before its link and between its two links, so stages
// E and F move it in two pieces; a placed note has no pPrev.
static_assert(offsetof(SNote, pNext) < offsetof(SNote, bPitch) && offsetof(SNote, bValue) < offsetof(SNote, pPrev),
              "a note's own fields before and between its links");

// ---- pitch_spelling.cpp: pitch spelling and key signatures (D, E) -----------

void SpellPitches(SMeasureWalk& walk, SMeasure* pMeasure);   // D: change-only meter/tempo/key, glyphs, steps, accidentals
void StartSpelling(SMeasureWalk& walk);             // D's accidental memory
void FinishSpelling(SMeasureWalk& walk);
void SortSectionNotes(SMeasureWalk& walk, SMeasure* pMeasure);  // E: raw notes of a section by descending pitch

// ---- voices.cpp: voice assignment (F) ------------------------------------------

void AssignVoices(SMeasureWalk& walk, SMeasure* pMeasure);   // F: every raw note copied into a chord of a voice

// ---- beaming.cpp: beaming (G) ----------------------------------------------------

void BeamChords(SMeasureWalk& walk, SMeasure* pMeasure);     // G: voice numbers and beam pairs

// Values beamed at most: a 64th (shorter values do not exist).
static const uint32_t kLongestBeamed = 64;

// Sections covered by one beam group of value bValue in a meter where a
// group holds abGroupNotes[bValue] notes of it; 0 when the value is never
// beamed in it (or is shorter than one section).
inline uint32_t GroupSpan(const uint8_t* abGroupNotes, uint8_t bResolution, uint8_t bValue) {
    if (bValue == 0 || bValue > kLongestBeamed) return 0;
    return static_cast<uint32_t>(bResolution / bValue) * abGroupNotes[bValue];
}

// Stage G's rule for two chords with notes of one voice, P at section p and
// Q at section k after it with none between: Q continues P's beam when both
// are eighths or shorter, Q starts no later than where P would end without
// its dot (anything after that is a silence, and a dotted P is never beamed
// onward from a distance longer than its plain value), and no boundary of
// Q's group lies after P up to Q (the later chord's group decides).
inline void BeamPair(const uint8_t* abGroupNotes, uint8_t bResolution, SChord* pPrev, uint32_t p, SChord* pChord,
                     uint32_t k) {
    if (pPrev->bValue < 8 || pChord->bValue < 8) return;
    if (k - p > static_cast<uint32_t>(bResolution / pPrev->bValue)) return;
    uint32_t g = GroupSpan(abGroupNotes, bResolution, pChord->bValue);
    if (g != 0 && p / g == k / g) {
        pPrev->bBeamNext = 1;
        pChord->bBeamPrev = 1;
    }
}

// ---- clefs.cpp: clef selection (H) -----------------------------------------------

void ChooseClefs(SMeasureWalk& walk, SMeasure* pMeasure);    // H: clef per measure, steps shifted to drawing positions

// ---- stems.cpp: stems and note-head layout (I, R, note order) -------------------

void ChooseStems(SMeasureWalk& walk, SMeasure* pMeasure);    // I: stem direction per beam group
void DisplaceHeads(SMeasureWalk& walk, SMeasure* pMeasure);  // R: heads a second apart moved across the stem
// R's rule for one chord with notes: whether a head moved left of a stem-down stem.
bool DisplaceChordHeads(const SChord* pChord);
// The notes struck at every section of the measure tallied in walk.aStruck
// (stage I's weights); returns the range of every step in the measure (stage
// H's clef).
SStepRange TallyStruckNotes(SMeasureWalk& walk, const SMeasure* pMeasure);
// Keeps the tally in step when stage H moves every note of the measure by nShift.
void ShiftStruckNotes(SMeasureWalk& walk, const SMeasure* pMeasure, SStepRange range, int32_t nShift);

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

void MeasureVoiceHeights(SMeasureWalk& walk, SMeasure* pMeasure);  // J: height where a voice sounds
void CarryVoiceHeights(SMeasureWalk& walk, SMeasure* pMeasure);    // K: height carried into silences
void FillRests(SMeasureWalk& walk, SMeasure* pMeasure);            // L: rest values for silences
void ShareRests(SMeasureWalk& walk, SMeasure* pMeasure);           // M: equal rests of several voices merged
void PlaceRests(SMeasureWalk& walk, SMeasure* pMeasure);           // N: staff step of every drawn rest
void DotRests(SMeasureWalk& walk, SMeasure* pMeasure);             // O: rest + rest of half/double value -> dotted

// Calls visit(k) for every section k of a set of the walk (aqRestStarts or
// aqRestsMeet) of the measure pRestsOf, in order. It reads the measure's
// array, so it still answers once compaction has unlinked sections.
template <typename Visit>
inline void ForEachSectionOf(const SMeasureWalk& walk, const uint64_t* pqSections, Visit visit) {
    ForEachInSet(pqSections, walk.nRestWords, visit);
}

// Whether a set of the walk (aqRestStarts or aqRestsMeet) holds any section;
// the words past the measure's nRestWords are always empty.
inline bool AnySectionOf(const uint64_t* pqSections) {
    return (pqSections[0] | pqSections[1] | pqSections[2] | pqSections[3]) != 0;
}

// Calls visit(k) for every section k of the measure pRestsOf where stage L
// started a rest, in order.
template <typename Visit>
inline void ForEachStartedRest(const SMeasureWalk& walk, Visit visit) {
    ForEachSectionOf(walk, walk.aqRestStarts, visit);
}

// Calls visit(k) for every section k of the measure where a rest may start,
// in order: where stage L has filled the measure's silences in this walk,
// only where it started one (or, given aqRestsMeet, rests in two or more
// voices); otherwise every section.
template <typename Visit>
inline void ForEachRestStart(const SMeasureWalk& walk, const SMeasure* pMeasure, Visit visit,
                             const uint64_t* pqSections = nullptr) {
    if (walk.pRestsOf == pMeasure) {
        ForEachSectionOf(walk, pqSections ? pqSections : walk.aqRestStarts, visit);
        return;
    }
    for (uint32_t k = 0; k < pMeasure->bSections; ++k) visit(k);
}

// ---- compaction.cpp: section compaction and final pass (P, Q) ---------------------

void CompactSections(SMeasureWalk& walk, SMeasure* pMeasure);  // P: keep only the coarsest grid each measure needs
void FinishChords(SMeasureWalk& walk, SMeasure* pMeasure);     // Q: value exponents, note order, raw lists freed

// ---- tablature.cpp: guitar tablature (S) ----------------------------------------

void AssignStrings(SMeasureWalk& walk, SMeasure* pMeasure);    // S: string and fret for every note
// S's rule for one chord: a lone note always gets its preferred string (and
// a chord of two notes or more shares the strings out, tablature.cpp).
// A pitch no string reaches has no fingering, string and fret 0, as the note
// has them already: written without asking, since whether a string reaches
// the pitch changes from note to note.
inline void FingerLoneNote(SNote* pNote) {
    SFingering first = kFirstChoices.aOfPitch[pNote->bPitch];
    pNote->bString = first.bString;
    pNote->bFret = first.bFret;
}
void FingerChordNotes(SChord* pChord);

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

// The walk's span table (walk.spans), made once for its grid: a chord's span
// is then looked up rather than divided out.
inline const SSpans& SpansOfWalk(SMeasureWalk& walk) {
    SSpans& spans = walk.spans;
    uint8_t R = walk.context.bResolution;
    if (spans.bResolution == R) return spans;
    for (uint32_t b = 0; b < 256; ++b) {
        spans.abSpan[b][0] = static_cast<uint8_t>(ChordSpan(R, static_cast<uint8_t>(b), 0));
        spans.abSpan[b][1] = static_cast<uint8_t>(ChordSpan(R, static_cast<uint8_t>(b), 1));
    }
    spans.bResolution = R;
    return spans;
}

#endif
