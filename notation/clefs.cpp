// Stage H: a clef for every measure, chosen from the range of its notes with
// hysteresis so that the staff does not flip between clefs, then the notes
// and key-signature glyphs moved into the clef's drawing positions.
// After this: nClef is set where the clef changes; every cStep and every
// glyph's bPosition is a drawing position on the staff of the clef in effect.
#include "clefs.h"

#include "drum_staff.h"
#include "guitar.h"

// The clef codes are the model's (score_model.h); before the first measure
// with notes no clef is in effect yet.
static const int32_t kNoClef = 0;

// The bass clefs draw every key-signature glyph two steps lower.
static bool LowersKeyGlyphs(int32_t nClef) { return nClef == kClefBass || nClef == kClefBassOctaveDown; }

// Ledger lines the measure's range needs in each clef, indexed by clef code.
struct SClefCosts {
    uint8_t abCost[5];
};

// The ledger lines every 8-bit step needs in each clef, worked out once: a
// measure's four costs are then the larger of two rows, one for each end of
// its range.
struct SClefLines {
    uint8_t abLines[5];  // by clef code; 0 for kNoClef
};
struct SLedgerTable {
    SClefLines aOfStep[256];  // from step -128 up
};

static constexpr SLedgerTable LedgerTable() {
    SLedgerTable table = {};
    for (int32_t s = -128; s <= 127; ++s)
        for (int32_t nClef = kClefTreble; nClef <= kClefBassOctaveDown; ++nClef)
            table.aOfStep[s + 128].abLines[nClef] = static_cast<uint8_t>(LedgerLines(s + StepShiftOfClef(nClef)));
    return table;
}

static constexpr SLedgerTable kLedgerLines = LedgerTable();

// nLow and nHigh are 8-bit steps.
static SClefCosts CostsOfRange(int32_t nLow, int32_t nHigh) {
    const SClefLines& below = kLedgerLines.aOfStep[nLow + 128];
    const SClefLines& above = kLedgerLines.aOfStep[nHigh + 128];
    SClefCosts costs = {};
    for (int32_t nClef = kClefTreble; nClef <= kClefBassOctaveDown; ++nClef)
        costs.abCost[nClef] = below.abLines[nClef] > above.abLines[nClef] ? below.abLines[nClef] : above.abLines[nClef];
    return costs;
}

// The clef that needs the fewest ledger lines; on equal counts the plain
// clefs come before the octave clefs, bass octave-down before treble octave-up.
static int32_t CheapestClef(const SClefCosts& costs) {
    static const int32_t kOrder[] = {kClefTreble, kClefBass, kClefBassOctaveDown, kClefTrebleOctaveUp};
    int32_t nBest = kClefTreble;
    for (int32_t nClef : kOrder)
        if (costs.abCost[nClef] < costs.abCost[nBest]) nBest = nClef;
    return nBest;
}

// Hysteresis: the clef in effect holds while its own range needs fewer than
// nThreshold ledger lines. Otherwise the cheapest clef is taken, except that a
// jump between the treble and bass families lands on the plain clef of the
// target family when that one needs fewer than the threshold.
static int32_t NextClef(int32_t nCurrent, int32_t nBest, const SClefCosts& costs, uint32_t nThreshold) {
    if (nBest == nCurrent || costs.abCost[nCurrent] < nThreshold) return nCurrent;
    switch (nCurrent) {
        case kClefTreble:
        case kClefTrebleOctaveUp:
            if (nBest == kClefBassOctaveDown && costs.abCost[kClefBass] < nThreshold) return kClefBass;
            return nBest;
        case kClefBass:
        case kClefBassOctaveDown:
            if (nBest == kClefTrebleOctaveUp && costs.abCost[kClefTreble] < nThreshold) return kClefTreble;
            return nBest;
        default:
            return nBest;
    }
}

// Moves every note of the measure into the drawing positions of the clef.
// Steps are 8-bit; the shift wraps like the byte it is stored in.
static void ShiftNotes(const SSoundingChords& sounding, int32_t nShift) {
    for (uint32_t i = 0; i < sounding.anVoiceStart[sounding.nVoices]; ++i)
        for (SNote* pNote = sounding.apChords[i]->pNotes; pNote; pNote = pNote->pNext)
            pNote->cStep = static_cast<int8_t>(static_cast<uint8_t>(pNote->cStep + nShift));
}

// Keeps the tally of struck notes in step with notes all moved by nShift.
// When no step of the range wraps, every note's step grows by nShift, so a
// sum of n notes by n times nShift: the tally stays as it is and notes the
// shift for stage I to add. Otherwise the notes are tallied again where they
// now are.
static void ShiftStruckNotes(SMeasureIndex& index, const SMeasure* pMeasure, SStepRange range, int32_t nShift) {
    if (range.nLowest + nShift < -128 || range.nHighest + nShift > 127) {
        TallyStruckNotes(index, pMeasure->bSections);
        return;
    }
    index.struck.nShift = nShift;
}

static void LowerKeyGlyphs(SMeasure* pMeasure) {
    for (SKeyAccidental* pGlyph = pMeasure->pKeyAccidentals; pGlyph; pGlyph = pGlyph->pNext)
        pGlyph->bPosition = static_cast<uint8_t>(pGlyph->bPosition - 2);
}

// The clef in effect before the first measure with notes is kNoClef (the
// walk starts zeroed).
static int32_t ClefOfMeasure(SMeasure* pMeasure, SStepRange range, int32_t nInEffect, bool bTiedOver) {
    // Nothing to decide without notes.
    if (range.nLowest > range.nHighest) return nInEffect;
    SClefCosts costs = CostsOfRange(range.nLowest, range.nHighest);
    int32_t nBest = CheapestClef(costs);
    int32_t nClef = nInEffect;
    // A note tied over the bar line keeps the clef: the tie would
    // otherwise join two heads drawn on different staves.
    if (nBest != nInEffect && !bTiedOver) {
        if (nInEffect == kNoClef)
            nClef = NextClef(kClefTreble, nBest, costs, 3);  // the first clef: treble unless it needs 3 lines
        else
            nClef = NextClef(nInEffect, nBest, costs, 4);
    }
    // The first measure already shows the treble clef; a later first
    // decision for treble writes nothing.
    if (nClef != nInEffect && !(nInEffect == kNoClef && nClef == kClefTreble)) pMeasure->nClef = nClef;
    return nClef;
}

// ---- A staff of a grand staff ---------------------------------------------------------
// Each staff keeps its hand's clef family: the upper staff the treble clef
// (with an 8 above for high passages), the lower the bass clef (with an 8
// below). A hand that goes far into the other staff's range takes that
// staff's plain clef for as long as it stays there, as in piano music: only
// when its own family would need four ledger lines or more, and it comes
// home as soon as its own clef needs at most two. Within its family a staff
// keeps its clef while that needs fewer than four, as a single staff does.
static const uint32_t kFarFromHome = 4;
static const uint32_t kBackHome = 2;

static bool InTrebleFamily(int32_t nClef) { return nClef == kClefTreble || nClef == kClefTrebleOctaveUp; }

// The cheaper clef of a family, the plain one on equal counts.
static int32_t CheaperOfFamily(const SClefCosts& costs, int32_t nPlain, int32_t nOctave) {
    return costs.abCost[nOctave] < costs.abCost[nPlain] ? nOctave : nPlain;
}

// The clef of a staff of a grand staff whose home family is the treble's
// (bUpper) or the bass's; the first measure shows the home clef already, so
// the walk starts there.
static int32_t ClefOnGrandStaff(SMeasure* pMeasure, SStepRange range, int32_t nInEffect, bool bTiedOver,
                                bool bUpper) {
    int32_t nHome = bUpper ? kClefTreble : kClefBass;
    int32_t nAway = bUpper ? kClefBass : kClefTreble;
    if (nInEffect == kNoClef) nInEffect = nHome;
    if (range.nLowest > range.nHighest || bTiedOver) return nInEffect;
    SClefCosts costs = CostsOfRange(range.nLowest, range.nHighest);
    int32_t nHomeBest = bUpper ? CheaperOfFamily(costs, kClefTreble, kClefTrebleOctaveUp)
                               : CheaperOfFamily(costs, kClefBass, kClefBassOctaveDown);
    bool bAtHome = InTrebleFamily(nInEffect) == bUpper;
    int32_t nClef = nInEffect;
    if (!bAtHome && costs.abCost[nHomeBest] <= kBackHome) {
        nClef = nHomeBest;
    } else if (costs.abCost[nInEffect] >= kFarFromHome) {
        nClef = nHomeBest;
        if (costs.abCost[nHomeBest] >= kFarFromHome && costs.abCost[nAway] < costs.abCost[nHomeBest]) nClef = nAway;
    }
    if (nClef != nInEffect) pMeasure->nClef = nClef;
    return nClef;
}

// A guitar part is read in one clef, the treble clef with an 8 below (the
// guitar sounds an octave below its written notes): it is set at the first
// measure and never changes, whatever the range.
static int32_t GuitarClef(SMeasure* pMeasure, int32_t nInEffect) {
    if (nInEffect == kNoClef) pMeasure->nClef = kClefTrebleOctaveDown;
    return kClefTrebleOctaveDown;
}

// Readable: the first clef a part's notes are written in is shown from its
// first measure, the measures of rests before them included (their key
// glyphs drawn for it), not as a change where the notes enter. pMeasure is
// the measure of the first notes; the first measure already shows the
// treble clef.
static void ShowFirstClefFromStart(const STrack* pTrack, SMeasure* pMeasure, int32_t nClef) {
    SMeasure* pFirst = pTrack->pFirstMeasure;
    if (pFirst == pMeasure || nClef == kNoClef) return;
    pMeasure->nClef = kClefUnchanged;
    pFirst->nClef = nClef;
    if (!LowersKeyGlyphs(nClef)) return;
    for (SMeasure* pRest = pFirst; pRest != pMeasure; pRest = pRest->pNext) LowerKeyGlyphs(pRest);
}

void ChooseClefForRange(const SBuildContext& context, SClefInEffect& clef, SMeasure* pMeasure, SMeasureIndex& index,
                        SStepRange range) {
    if (context.pTrack->bPercussion) {
        KeepPercussionClef(clef.nClef, pMeasure);
        return;
    }
    const STrack* pTrack = context.pTrack;
    bool bGrandStaff = pTrack->pNextStaff || pTrack->bStaff == 2;
    int32_t nInEffect = IsGuitarPart(context) ? GuitarClef(pMeasure, clef.nClef)
                        : bGrandStaff ? ClefOnGrandStaff(pMeasure, range, clef.nClef, clef.bTiedOver, pTrack->bStaff != 2)
                                      : ClefOfMeasure(pMeasure, range, clef.nClef, clef.bTiedOver);
    if (clef.nClef == kNoClef && context.options.bFirstClefFromNotes) ShowFirstClefFromStart(pTrack, pMeasure, nInEffect);
    int32_t nShift = StepShiftOfClef(nInEffect);
    if (nShift != 0) {
        ShiftNotes(index.sounding, nShift);
        ShiftStruckNotes(index, pMeasure, range, nShift);
    }
    // A key change is drawn on the staff of the clef in effect, notes or not.
    if (LowersKeyGlyphs(nInEffect)) LowerKeyGlyphs(pMeasure);
    clef.nClef = nInEffect;
    clef.bTiedOver = pMeasure->bTiedOut != 0;
}

// The pass over every note that finds the range also tallies what stage I
// weighs stems with.
void ChooseClefs(const SBuildContext& context, SClefInEffect& clef, SMeasure* pMeasure, SMeasureIndex& index) {
    ChooseClefForRange(context, clef, pMeasure, index, TallyStruckNotes(index, pMeasure->bSections));
}
