// The notation builder: the stages A to S in the one order they run. Each
// stage is one walk over the whole track and relies on what the stages
// before it left; none runs twice.
#include "notation.h"

#include "../track/track.h"

struct SStage {
    char cLetter;
    StageFunction pfnRun;
};

static const SStage kStages[] = {
    // Measures and placement. After C: measures with meter, key and tempo;
    // each section's pRawNotes holds notes of representable values, split and
    // tied at bar lines; the grid is gone.
    {'A', PlaceNotes},
    {'B', CloseGrid},
    {'C', MergeTies},
    // Pitch. After E: meter, tempo and key shown only where they change; every
    // raw note has its staff step and printed accidental, highest pitch first.
    {'D', SpellPitches},
    {'E', SortSectionNotes},
    // Voices. After F: every note is copied into a chord of a voice.
    {'F', AssignVoices},
    // After G: voice numbers and beam pairs.
    {'G', BeamChords},
    // After H: each measure's clef; steps are drawing positions in that clef.
    {'H', ChooseClefs},
    // After I: a stem direction for every beam group.
    {'I', ChooseStems},
    // Rests. After O: silences filled with rests, shared across voices,
    // placed on the staff and dotted.
    {'J', MeasureVoiceHeights},
    {'K', CarryVoiceHeights},
    {'L', FillRests},
    {'M', ShareRests},
    {'N', PlaceRests},
    {'O', DotRests},
    // After Q: only the sections each measure needs are linked; chords carry
    // value exponents and notes in stem order; the placement lists are gone.
    {'P', CompactSections},
    {'Q', FinishChords},
    // After S: heads a second apart displaced; strings and frets.
    {'R', DisplaceHeads},
    {'S', AssignStrings},
};

void BuildNotation(SMidiFile* pFile, uint8_t bResolution, int8_t cTranspose, char cLastStage) {
    // A track without notes has no grid and gets no measures.
    if (g_nSlots == 0) return;
    SBuildContext context = {pFile, g_pCurrentTrack, bResolution, cTranspose};
    for (const SStage& stage : kStages) {
        if (stage.cLetter > cLastStage) break;
        stage.pfnRun(context);
    }
}
