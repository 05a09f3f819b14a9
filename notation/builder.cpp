// The notation builder: the stages A to S in the one order they run. A walks
// the whole grid; C to S need nothing of a later measure, nor the start
// times of sections B gives the last one, so stage A hands each measure it
// has filled to all of them before it fills the next, while the measure's
// records are still at hand; B closes the grid once A is done. Every stage
// relies on what the stages before it left in the same measure (or in the
// measures before); none runs twice.
#include "notation.h"

#include "beaming.h"
#include "clefs.h"
#include "compaction.h"
#include "drum_staff.h"
#include "grand_staff.h"
#include "guitar.h"
#include "pitch_spelling.h"
#include "voices.h"

#include "../platform/platform.h"
#include "../track/track.h"

// A row of the walk over one measure.
typedef void (*MeasureRow)(SMeasureWalk& walk, SMeasure* pMeasure);
// What a row takes before the first measure and gives back after the last.
typedef void (*WalkHook)(SMeasureWalk& walk);

// The most rows a walk runs: every measure stage and every listing row.
static const uint32_t kMostRows = 32;

// Stages C to S each rely on no later measure, so they run measure by
// measure: every stage finishes a measure before the next stage starts on
// it. The walk holds the build context, the measure index the stages share
// about the measure they are at, and what each stage that needs any carries
// from one measure to the next, in a record of its own.
struct SMeasureWalk {
    SBuildContext context;
    SMeasureIndex index;
    SPlacedSections listedPlaced;  // the placed sections, when the walk lists them
    SSpans spans;                  // the build's span table (context.pSpans)
    SSpellingMemory spelling;      // D
    SBeamMeter meter;              // G
    SVoicesOverBar voices;         // F
    SClefInEffect clef;            // H
    SBeatInForce beat;             // P
    SStringsOverTrack strings;     // S
    MeasureRow apfnRows[kMostRows];
    uint32_t nRows;
};

// ---- The stages ---------------------------------------------------------------------------
// Each measure stage given what it reads: the context, its own record, the
// measure and the index.

static void MergeTiesRow(SMeasureWalk& w, SMeasure* m) { MergeTies(w.context, m, w.index); }
static void SpellPitchesRow(SMeasureWalk& w, SMeasure* m) { SpellPitches(w.context, w.spelling, m, w.index); }
static void StartSpellingRow(SMeasureWalk& w) { StartSpelling(w.spelling); }
static void FinishSpellingRow(SMeasureWalk& w) { FinishSpelling(w.spelling); }
static void SortSectionNotesRow(SMeasureWalk& w, SMeasure* m) { SortSectionNotes(m, w.index); }
static void AssignVoicesRow(SMeasureWalk& w, SMeasure* m) { AssignVoices(w.context, w.voices, m, w.index); }
static void BeamChordsRow(SMeasureWalk& w, SMeasure* m) { BeamChords(w.context, w.meter, m, w.index); }
static void ChooseClefsRow(SMeasureWalk& w, SMeasure* m) { ChooseClefs(w.context, w.clef, m, w.index); }
static void ChooseStemsRow(SMeasureWalk& w, SMeasure* m) {
    if (w.context.pTrack->bPercussion)
        ChooseDrumStems(m, w.index);
    else
        ChooseStems(m, w.index);
}
static void MeasureVoiceHeightsRow(SMeasureWalk& w, SMeasure* m) { MeasureVoiceHeights(w.context, m, w.index); }
static void CarryVoiceHeightsRow(SMeasureWalk& w, SMeasure* m) { CarryVoiceHeights(m, w.index); }
static void FillRestsRow(SMeasureWalk& w, SMeasure* m) { FillRests(w.context, m, w.index); }
static void ShareRestsRow(SMeasureWalk& w, SMeasure* m) { ShareRests(w.context, m, w.index); }
static void PlaceRestsRow(SMeasureWalk& w, SMeasure*) { PlaceRests(w.index); }
static void DotRestsRow(SMeasureWalk& w, SMeasure* m) { DotRests(w.context, m, w.index); }
static void CompactSectionsRow(SMeasureWalk& w, SMeasure* m) { CompactSections(w.context, w.beat, m, w.index); }
static void FinishChordsRow(SMeasureWalk& w, SMeasure* m) { FinishChords(w.context, m, w.index); }
static void DisplaceHeadsRow(SMeasureWalk& w, SMeasure* m) { DisplaceHeads(m, w.index); }
// S: each chord on its own by the track's rule, or the measure's notes
// gathered for a guitar's track, fingered over the track when the walk ends.
static void AssignStringsRow(SMeasureWalk& w, SMeasure* m) {
    StartMeasureStrings(w.context, w.strings, m);
    if (w.strings.eRule == kStringsClassic) AssignStrings(w.context, w.index);
    else ForEachSoundingChord(w.index.sounding, [&w](SChord* pChord, uint32_t) { FingerChordByRule(w.strings, pChord); });
    GatherGuitarNotes(w.context, w.strings, w.index);
}
static void FingerGuitarPartRow(SMeasureWalk& w) { FingerGuitarPart(w.strings, w.index); }

struct SStage {
    char cLetter;
    TrackStage pfnTrack;   // a stage over the whole track, or
    MeasureRow pfnMeasure; // a stage over one measure
    WalkHook pfnStart;     // what a measure stage takes before the first measure
    WalkHook pfnFinish;    // and gives back after the last
    uint32_t nReads;       // the parts of the measure index it reads
    uint32_t nMakes;       // and those it finds on its way
};

static const SStage kStages[] = {
    // Measures and placement. After C: measures with meter, key and tempo;
    // each section's pRawNotes holds notes of representable values, split and
    // tied at bar lines. A hands each measure to C..S as it has filled it.
    {'A', PlaceNotes, nullptr, nullptr, nullptr, 0, kPlacedSections},
    {'C', nullptr, MergeTiesRow, nullptr, nullptr, kPlacedSections, 0},
    // Pitch. After E: meter, tempo and key shown only where they change; every
    // raw note has its staff step and printed accidental, highest pitch first.
    {'D', nullptr, SpellPitchesRow, StartSpellingRow, FinishSpellingRow, kPlacedSections, 0},
    {'E', nullptr, SortSectionNotesRow, nullptr, nullptr, kPlacedSections, kPlacedNotes},
    // Voices. After F: every note is copied into a chord of a voice.
    {'F', nullptr, AssignVoicesRow, nullptr, nullptr, kPlacedSections | kPlacedNotes, kSoundingChords},
    // After G: beam pairs.
    {'G', nullptr, BeamChordsRow, nullptr, nullptr, kSoundingChords, 0},
    // After H: each measure's clef; steps are drawing positions in that clef.
    {'H', nullptr, ChooseClefsRow, nullptr, nullptr, kSoundingChords, kStruckNotes},
    // After I: a stem direction for every beam group.
    {'I', nullptr, ChooseStemsRow, nullptr, nullptr, kSoundingChords | kStruckNotes, 0},
    // Rests. After O: silences filled with rests, shared across voices,
    // placed on the staff and dotted.
    {'J', nullptr, MeasureVoiceHeightsRow, nullptr, nullptr, kSoundingChords, kSilences},
    {'K', nullptr, CarryVoiceHeightsRow, nullptr, nullptr, kSilences, 0},
    {'L', nullptr, FillRestsRow, nullptr, nullptr, kSilences, kRestStarts},
    {'M', nullptr, ShareRestsRow, nullptr, nullptr, kRestStarts, 0},
    {'N', nullptr, PlaceRestsRow, nullptr, nullptr, kSoundingChords | kRestStarts, 0},
    {'O', nullptr, DotRestsRow, nullptr, nullptr, kSilences, 0},
    // After Q: only the sections each measure needs are linked; chords carry
    // value exponents and notes in stem order; the placement lists are gone.
    {'P', nullptr, CompactSectionsRow, nullptr, nullptr, kSilences | kRestStarts, 0},
    {'Q', nullptr, FinishChordsRow, nullptr, nullptr, kPlacedSections | kSoundingChords | kSilences, 0},
    // After S: heads a second apart displaced; strings and frets (a guitar
    // part's once the last measure has passed).
    {'R', nullptr, DisplaceHeadsRow, nullptr, nullptr, kSoundingChords, 0},
    {'S', nullptr, AssignStringsRow, nullptr, FingerGuitarPartRow, kSoundingChords, 0},
    // Once A is done: the grid freed, the last measure timed, the end of
    // the track moved to its last bar line.
    {'B', CloseGrid, nullptr, nullptr, nullptr, 0, 0},
};

// ---- Stages that run together ----------------------------------------------------------
// Where a walk runs every stage of one of these, a row that applies their
// rules on one pass runs in their place: the rules are the stages' own.

// G and H: stage G's rule for beam pairs on H's pass over the notes, which
// passes every two chords of a voice anyway.
static void GAndHOnOnePass(SMeasureWalk& w, SMeasure* m) {
    SStepRange range;
    if (FollowMeter(w.meter, m)) {
        const uint8_t* abGroupNotes = w.meter.abGroupNotes;
        uint8_t R = w.context.bResolution;
        range = TallyStruckNotes(w.index, m->bSections,
                                 [abGroupNotes, R](SChord* pPrev, uint32_t p, SChord* pChord, uint32_t k) {
                                     BeamPair(abGroupNotes, R, pPrev, p, pChord, k);
                                 });
    } else {
        range = TallyStruckNotes(w.index, m->bSections);
    }
    ChooseClefForRange(w.context, w.clef, m, w.index, range);
}

// Q, R and S chord by chord, in that order for each chord: what R and S make
// of a chord depends on that chord alone, once Q has put its notes in stem
// order.
static void QRAndSOnOnePass(SMeasureWalk& w, SMeasure* m) {
    StartMeasureStrings(w.context, w.strings, m);
    const SStringsOverTrack& strings = w.strings;
    ForEachSoundingChord(w.index.sounding, [m, &strings](SChord* pChord, uint32_t k) {
        FinishChord(pChord);                                             // Q
        if (DisplaceChordHeads(pChord)) m->pSections[k].bHeadsLeft = 1;  // R
        FingerChordByRule(strings, pChord);                              // S
    });
    GatherGuitarNotes(w.context, w.strings, w.index);      // the rest of S
    SettleRestsAndFreePlacedNotes(w.context, m, w.index);  // the rest of Q
}

struct SJointRow {
    char cFirst;
    char cLast;
    MeasureRow pfnMeasure;
};

static const SJointRow kJointRows[] = {
    {'G', 'H', GAndHOnOnePass},
    {'Q', 'S', QRAndSOnOnePass},
};

// ---- Rows that list a part of the index -------------------------------------------------
// For a walk without the stage that finds the part on its way (a stage run
// alone): the part as that stage would have found it, listed from the model.

static void ListPlacedSectionsRow(SMeasureWalk& w, SMeasure* m) {
    ListPlacedSections(m, w.listedPlaced);
    w.index.pPlaced = &w.listedPlaced;
}
static void CountPlacedNotesRow(SMeasureWalk& w, SMeasure* m) { CountPlacedNotes(m, w.index); }
static void ListSoundingChordsRow(SMeasureWalk& w, SMeasure* m) { ListSoundingChords(m, w.index); }
static void ListStruckNotesRow(SMeasureWalk& w, SMeasure* m) { ListStruckNotes(m, w.index); }
static void ListSilencesRow(SMeasureWalk& w, SMeasure* m) { ListSilences(w.context, m, w.index); }
static void ListRestStartsRow(SMeasureWalk& w, SMeasure* m) { ListRestStarts(m, w.index); }

struct SListingRow {
    uint32_t nPart;
    uint32_t nReads;  // the parts it needs listed before it
    MeasureRow pfnMeasure;
};

// In an order where every row comes after those it needs.
static const SListingRow kListingRows[] = {
    {kPlacedSections, 0, ListPlacedSectionsRow},
    {kPlacedNotes, kPlacedSections, CountPlacedNotesRow},
    {kSoundingChords, 0, ListSoundingChordsRow},
    {kStruckNotes, kSoundingChords, ListStruckNotesRow},
    {kSilences, kSoundingChords, ListSilencesRow},
    {kRestStarts, 0, ListRestStartsRow},
};

static_assert(sizeof kStages / sizeof kStages[0] + sizeof kListingRows / sizeof kListingRows[0] <= kMostRows,
              "room in the walk for every measure stage and every listing row");

// ---- The index's parts before a row -------------------------------------------------------

void WalkFilledMeasure(SMeasureWalk& walk, SMeasure* pMeasure, const SPlacedSections& placed) {
    walk.index.pPlaced = &placed;
    for (uint32_t i = 0; i < walk.nRows; ++i) walk.apfnRows[i](walk, pMeasure);
}

static void AddRow(SMeasureWalk& walk, MeasureRow pfnRow) { walk.apfnRows[walk.nRows++] = pfnRow; }

// Adds the listing rows for the parts a row reads that no row before it in
// the walk makes, and those they need in turn; *pnMade gains them.
static void ListMissingParts(SMeasureWalk& walk, uint32_t nReads, uint32_t* pnMade) {
    uint32_t nMissing = nReads & ~*pnMade;
    for (const SListingRow& row : kListingRows)
        if (nMissing & row.nPart) nMissing |= row.nReads & ~*pnMade;
    for (const SListingRow& row : kListingRows) {
        if (!(nMissing & row.nPart)) continue;
        AddRow(walk, row.pfnMeasure);
        *pnMade |= row.nPart;
    }
}

// ---- Running the stages -------------------------------------------------------------

static bool InRange(char cLetter, char cFirst, char cLast) { return cLetter >= cFirst && cLetter <= cLast; }

static const SStage& StageOf(char cLetter) {
    for (const SStage& stage : kStages)
        if (stage.cLetter == cLetter) return stage;
    return kStages[0];  // not reached: every letter A..S has a row
}

// The rows of the walk, in the table's order: each measure stage of the
// range (or a joint row for stages that run together), after the listing
// rows for what it reads that no row before it makes; and what they take
// before the first measure.
static void StartWalk(SMeasureWalk& walk, char cFirst, char cLast) {
    uint32_t nMade = InRange('A', cFirst, cLast) ? StageOf('A').nMakes : 0;
    for (const SStage& stage : kStages) {
        if (!stage.pfnMeasure || !InRange(stage.cLetter, cFirst, cLast)) continue;
        if (stage.pfnStart) stage.pfnStart(walk);
        const SJointRow* pJoint = nullptr;
        for (const SJointRow& joint : kJointRows)
            if (InRange(stage.cLetter, joint.cFirst, joint.cLast) && InRange(joint.cFirst, cFirst, cLast) &&
                InRange(joint.cLast, cFirst, cLast))
                pJoint = &joint;
        if (!pJoint) {
            ListMissingParts(walk, stage.nReads, &nMade);
            AddRow(walk, stage.pfnMeasure);
        } else if (stage.cLetter == pJoint->cFirst) {
            // What any of its stages reads, before the joint row.
            uint32_t nReads = 0;
            for (char c = pJoint->cFirst; c <= pJoint->cLast; ++c) nReads |= StageOf(c).nReads;
            ListMissingParts(walk, nReads, &nMade);
            AddRow(walk, pJoint->pfnMeasure);
        }
        nMade |= stage.nMakes;
    }
}

static void FinishWalk(SMeasureWalk& walk, char cFirst, char cLast) {
    for (const SStage& stage : kStages)
        if (InRange(stage.cLetter, cFirst, cLast) && stage.pfnFinish) stage.pfnFinish(walk);
}

static bool AnyMeasureStage(char cFirst, char cLast) {
    for (const SStage& stage : kStages)
        if (InRange(stage.cLetter, cFirst, cLast) && stage.pfnMeasure) return true;
    return false;
}

static void RunTrackStages(SBuildContext& context, char cFirst, char cLast) {
    for (const SStage& stage : kStages)
        if (InRange(stage.cLetter, cFirst, cLast) && stage.pfnTrack) stage.pfnTrack(context);
}

static void MakeSpans(SSpans& spans, uint8_t R) {
    for (uint32_t b = 0; b < 256; ++b) {
        spans.abSpan[b][0] = static_cast<uint8_t>(ChordSpan(R, static_cast<uint8_t>(b), 0));
        spans.abSpan[b][1] = static_cast<uint8_t>(ChordSpan(R, static_cast<uint8_t>(b), 1));
    }
}

// When stage A is in the range, it hands each measure to the walk as soon as
// it has filled it; otherwise the measures go through the walk one after
// another once A's place has passed. The track stage B runs after them.
void RunStages(const SBuildContext& given, char cFirst, char cLast) {
    SBuildContext context = given;  // the track stages add to it
    if (!AnyMeasureStage(cFirst, cLast)) {
        RunTrackStages(context, cFirst, cLast);
        return;
    }
    SMeasureWalk walk = {};
    walk.context = given;
    MakeSpans(walk.spans, given.bResolution);
    walk.context.pSpans = &walk.spans;
    try {
        StartWalk(walk, cFirst, cLast);
        if (InRange('A', cFirst, cLast)) {
            context.pWalk = &walk;
        } else {
            for (SMeasure* pMeasure = context.pTrack->pFirstMeasure; pMeasure; pMeasure = pMeasure->pNext)
                WalkFilledMeasure(walk, pMeasure, walk.listedPlaced);
        }
        RunTrackStages(context, cFirst, cLast);
        FinishWalk(walk, cFirst, cLast);
    } catch (const CVastrelException&) {
        PlatformDestroyHeap(walk.index.hHeap);
        throw;
    }
    PlatformDestroyHeap(walk.index.hHeap);
}

void BuildNotation(SMidiFile* pFile, uint8_t bResolution, int8_t cTranspose, const SNotationOptions& options,
                   char cLastStage) {
    // A track without notes has no grid and gets no measures.
    if (g_nSlots == 0) return;
    SBuildContext context = {pFile, g_pCurrentTrack, bResolution, cTranspose, options};
    context.pSlots = g_pSlots;
    context.pRawNotes = g_pRawNotes;
    context.nSlots = g_nSlots;
    context.bGuitarPart = PlaysAsGuitarPart(context);
    if (options.bGrandStaff) {
        context.pTrack->bStaff = 1;
        if (BuildGrandStaff(context, cLastStage)) return;
    }
    RunStages(context, 'A', cLastStage);
}
