// The notation builder: the stages A to S in the one order they run. A and
// B walk the whole track; C to S need nothing of a later measure, so each
// measure goes through all of them before the next one starts, while its
// records are still at hand. Every stage relies on what the stages before it
// left in the same measure (or in the measures before); none runs twice.
#include "notation.h"

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
    // tied at bar lines; the grid is gone.
    {'A', PlaceNotes, nullptr, nullptr, nullptr},
    {'B', CloseGrid, nullptr, nullptr, nullptr},
    {'C', nullptr, MergeTies, nullptr, nullptr},
    // Pitch. After E: meter, tempo and key shown only where they change; every
    // raw note has its staff step and printed accidental, highest pitch first.
    {'D', nullptr, SpellPitches, StartSpelling, FinishSpelling},
    {'E', nullptr, SortSectionNotes, StartSorting, FinishSorting},
    // Voices. After F: every note is copied into a chord of a voice.
    {'F', nullptr, AssignVoices, nullptr, nullptr},
    // After G: voice numbers and beam pairs.
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
    // After S: heads a second apart displaced; strings and frets.
    {'R', nullptr, DisplaceHeads, nullptr, nullptr},
    {'S', nullptr, AssignStrings, nullptr, nullptr},
};

static bool InRange(const SStage& stage, char cFirst, char cLast) {
    return stage.cLetter >= cFirst && stage.cLetter <= cLast;
}

// The measure stages of the range, measure after measure. The table lists
// the track stages first, so they have all run by now.
static void WalkMeasures(const SBuildContext& context, char cFirst, char cLast) {
    SMeasureWalk walk = {};
    walk.context = context;
    for (const SStage& stage : kStages)
        if (InRange(stage, cFirst, cLast) && stage.pfnStart) stage.pfnStart(walk);
    for (SMeasure* pMeasure = context.pTrack->pFirstMeasure; pMeasure; pMeasure = pMeasure->pNext)
        for (const SStage& stage : kStages)
            if (InRange(stage, cFirst, cLast) && stage.pfnMeasure) stage.pfnMeasure(walk, pMeasure);
    for (const SStage& stage : kStages)
        if (InRange(stage, cFirst, cLast) && stage.pfnFinish) stage.pfnFinish(walk);
}

void RunStages(const SBuildContext& context, char cFirst, char cLast) {
    bool bAnyMeasureStage = false;
    for (const SStage& stage : kStages) {
        if (!InRange(stage, cFirst, cLast)) continue;
        if (stage.pfnTrack) stage.pfnTrack(context);
        if (stage.pfnMeasure) bAnyMeasureStage = true;
    }
    if (bAnyMeasureStage) WalkMeasures(context, cFirst, cLast);
}

void BuildNotation(SMidiFile* pFile, uint8_t bResolution, int8_t cTranspose, char cLastStage) {
    // A track without notes has no grid and gets no measures.
    if (g_nSlots == 0) return;
    SBuildContext context = {pFile, g_pCurrentTrack, bResolution, cTranspose};
    RunStages(context, 'A', cLastStage);
}
