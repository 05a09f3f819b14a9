// The notation builder: the stages A to S in the one order they run. A walks
// the whole grid and B closes it; C to S need nothing of a later measure, nor
// the start times of sections B gives the last one, so stage A hands each
// measure it has filled to all of them before it fills the next, while the
// measure's records are still at hand. Every stage relies on what the stages
// before it left in the same measure (or in the measures before); none runs
// twice.
#include "notation.h"

#include "../platform/platform.h"
#include "../track/track.h"

struct SStage {
    char cLetter;
    TrackStage pfnTrack;      // a stage over the whole track, or
    MeasureStage pfnMeasure;  // a stage over one measure
    WalkHook pfnStart;        // what a measure stage takes before the first measure
    WalkHook pfnFinish;       // and gives back after the last
};

static const SStage kStages[] = {
    // Measures and placement. After C: measures with meter, key and tempo;
    // each section's pRawNotes holds notes of representable values, split and
    // tied at bar lines. After B the grid is gone.
    {'A', PlaceNotes, nullptr, nullptr, nullptr},
    {'B', CloseGrid, nullptr, nullptr, nullptr},
    {'C', nullptr, MergeTies, nullptr, nullptr},
    // Pitch. After E: meter, tempo and key shown only where they change; every
    // raw note has its staff step and printed accidental, highest pitch first.
    {'D', nullptr, SpellPitches, StartSpelling, FinishSpelling},
    {'E', nullptr, SortSectionNotes, nullptr, nullptr},
    // Voices. After F: every note is copied into a chord of a voice.
    {'F', nullptr, AssignVoices, nullptr, nullptr},
    // After G: voice numbers and beam pairs (in a walk that goes on to H,
    // H's pass over the notes links the pairs by G's rule).
    {'G', nullptr, BeamChords, nullptr, nullptr},
    // After H: each measure's clef; steps are drawing positions in that clef.
    {'H', nullptr, ChooseClefs, nullptr, nullptr},
    // After I: a stem direction for every beam group.
    {'I', nullptr, ChooseStems, nullptr, nullptr},
    // Rests. After O: silences filled with rests, shared across voices,
    // placed on the staff and dotted.
    {'J', nullptr, MeasureVoiceHeights, nullptr, nullptr},
    {'K', nullptr, CarryVoiceHeights, nullptr, nullptr},
    {'L', nullptr, FillRests, nullptr, nullptr},
    {'M', nullptr, ShareRests, nullptr, nullptr},
    {'N', nullptr, PlaceRests, nullptr, nullptr},
    {'O', nullptr, DotRests, nullptr, nullptr},
    // After Q: only the sections each measure needs are linked; chords carry
    // value exponents and notes in stem order; the placement lists are gone.
    {'P', nullptr, CompactSections, nullptr, nullptr},
    {'Q', nullptr, FinishChords, nullptr, nullptr},
    // After S: heads a second apart displaced; strings and frets (in a walk
    // that runs Q to S, Q's pass over the chords applies R's and S's rules
    // to each chord as it finishes it).
    {'R', nullptr, DisplaceHeads, nullptr, nullptr},
    {'S', nullptr, AssignStrings, nullptr, nullptr},
};

// ---- The sections with placed notes of a measure ---------------------------------

const SPlacedSections& ListPlacedSections(SMeasureWalk& walk, const SMeasure* pMeasure) {
    SPlacedSections& placed = walk.placed;
    const SSection* pSections = pMeasure->pSections;
    uint32_t n = 0;
    ForEachSection(pMeasure->bSections, [pSections, &placed, &n](size_t k) {
        if (pSections[k].pRawNotes) placed.abSection[n++] = static_cast<uint8_t>(k);
    });
    placed.nSections = n;
    placed.nNotes = kNotesUncounted;
    placed.bTiesKnown = false;
    placed.pMeasure = pMeasure;
    return placed;
}

// ---- The chords with notes of a measure ------------------------------------------

void GrowChordIndex(SMeasureWalk& walk, size_t nChords) {
    SSoundingChords& index = walk.sounding;
    if (!walk.hWalkHeap) {
        walk.hWalkHeap = PlatformCreateHeap();
        if (!walk.hWalkHeap) RaiseError(kMsgNoTransientHeap);
    }
    size_t nCapacity = nChords > 2u * index.nCapacity ? nChords : 2u * index.nCapacity;
    index.apChords = static_cast<SChord**>(PlatformAllocate(walk.hWalkHeap, nCapacity * sizeof(SChord*), false));
    if (!index.apChords) RaiseError(kMsgNoMemory);
    index.nCapacity = static_cast<uint32_t>(nCapacity);
}

const SSoundingChords& ListSoundingChords(SMeasureWalk& walk, const SMeasure* pMeasure) {
    SSoundingChords& index = walk.sounding;
    MakeRoomForChords(walk, static_cast<size_t>(pMeasure->bVoices) * pMeasure->bSections);
    uint32_t n = 0, v = 0;
    for (SChord* pVoice = VoiceChords(pMeasure, 0); pVoice; pVoice = pVoice->pNext, ++v) {
        index.apVoice[v] = pVoice;
        index.anVoiceStart[v] = n;
        for (uint32_t k = 0; k < pMeasure->bSections; ++k)
            if (pVoice[k].pNotes) index.apChords[n++] = &pVoice[k];
    }
    index.anVoiceStart[v] = n;
    index.nVoices = v;
    index.pMeasure = pMeasure;
    return index;
}

// ---- Running the stages -------------------------------------------------------------

static bool InRange(const SStage& stage, char cFirst, char cLast) {
    return stage.cLetter >= cFirst && stage.cLetter <= cLast;
}

// The walk takes the measure stages of the range, in the table's order, and
// what they need before the first measure.
static void StartWalk(SMeasureWalk& walk, char cFirst, char cLast) {
    static_assert(sizeof walk.apfnStages / sizeof walk.apfnStages[0] == sizeof kStages / sizeof kStages[0],
                  "room for every stage of the table");
    walk.cFirstStage = cFirst;
    walk.cLastStage = cLast;
    for (const SStage& stage : kStages) {
        if (!InRange(stage, cFirst, cLast)) continue;
        if (stage.pfnStart) stage.pfnStart(walk);
        if (stage.pfnMeasure) walk.apfnStages[walk.nStages++] = stage.pfnMeasure;
    }
}

void WalkFilledMeasure(SMeasureWalk& walk, SMeasure* pMeasure) {
    for (uint32_t i = 0; i < walk.nStages; ++i) walk.apfnStages[i](walk, pMeasure);
}

static void FinishWalk(SMeasureWalk& walk, char cFirst, char cLast) {
    for (const SStage& stage : kStages)
        if (InRange(stage, cFirst, cLast) && stage.pfnFinish) stage.pfnFinish(walk);
}

static bool AnyMeasureStage(char cFirst, char cLast) {
    for (const SStage& stage : kStages)
        if (InRange(stage, cFirst, cLast) && stage.pfnMeasure) return true;
    return false;
}

static void RunTrackStages(SBuildContext& context, char cFirst, char cLast) {
    for (const SStage& stage : kStages)
        if (InRange(stage, cFirst, cLast) && stage.pfnTrack) stage.pfnTrack(context);
}

// The track stages run first. When stage A is one of them, it hands each
// measure to the measure stages as soon as it has filled it (no stage from C
// on needs a later measure, nor anything stage B does); otherwise the
// measures go through them one after another once the track stages are done.
void RunStages(const SBuildContext& given, char cFirst, char cLast) {
    SBuildContext context = given;  // the track stages add to it
    if (!AnyMeasureStage(cFirst, cLast)) {
        RunTrackStages(context, cFirst, cLast);
        return;
    }
    SMeasureWalk walk = {};
    walk.context = given;
    try {
        StartWalk(walk, cFirst, cLast);
        if (InRange(kStages[0], cFirst, cLast)) context.pWalk = &walk;
        RunTrackStages(context, cFirst, cLast);
        if (!context.pWalk)
            for (SMeasure* pMeasure = context.pTrack->pFirstMeasure; pMeasure; pMeasure = pMeasure->pNext)
                WalkFilledMeasure(walk, pMeasure);
        FinishWalk(walk, cFirst, cLast);
    } catch (const CVastrelException&) {
        PlatformDestroyHeap(walk.hWalkHeap);
        throw;
    }
    PlatformDestroyHeap(walk.hWalkHeap);
}

void BuildNotation(SMidiFile* pFile, uint8_t bResolution, int8_t cTranspose, const SNotationOptions& options,
                   char cLastStage) {
    // A track without notes has no grid and gets no measures.
    if (g_nSlots == 0) return;
    SBuildContext context = {pFile, g_pCurrentTrack, bResolution, cTranspose, options};
    RunStages(context, 'A', cLastStage);
}
