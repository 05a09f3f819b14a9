// Stages D and E: meter, tempo and key shown only where they change, the
// glyphs of every new key signature, each raw note written as a staff step
// with the accidental a reader needs, and each section's notes put in
// descending pitch order.
#include "pitch_spelling.h"

#include <stddef.h>
#include <string.h>

// How the twelve pitch classes are written in each key. The spellings follow
// no closed rule (enharmonic choices differ from key to key), so the table is
// the definition.
constexpr SKeyPitchStep g_aKeyPitchSteps[15][12] = {
    {{ 1, 4}, { 1, 2}, { 2, 4}, { 2, 2}, { 3, 2}, { 3, 0}, { 4, 2}, { 4, 0}, { 5, 2}, { 6, 4}, { 6, 2}, { 7, 2}},  // -7
    {{ 0, 0}, { 1, 2}, { 1, 0}, { 2, 2}, { 3, 2}, { 3, 0}, { 4, 2}, { 5, 4}, { 5, 2}, { 6, 4}, { 6, 2}, { 7, 2}},  // -6
    {{ 0, 0}, { 1, 2}, { 2, 4}, { 2, 2}, { 3, 2}, { 3, 0}, { 4, 2}, { 4, 0}, { 5, 2}, { 5, 0}, { 6, 2}, { 7, 2}},  // -5
    {{ 0, 0}, { 1, 2}, { 1, 0}, { 2, 2}, { 2, 0}, { 3, 0}, { 4, 2}, { 4, 0}, { 5, 2}, { 6, 4}, { 6, 2}, { 7, 2}},  // -4
    {{ 0, 0}, { 1, 2}, { 1, 0}, { 2, 2}, { 3, 2}, { 3, 0}, { 4, 2}, { 4, 0}, { 5, 2}, { 5, 0}, { 6, 2}, { 6, 0}},  // -3
    {{ 0, 0}, { 1, 2}, { 1, 0}, { 2, 2}, { 2, 0}, { 3, 0}, { 3, 1}, { 4, 0}, { 5, 2}, { 5, 0}, { 6, 2}, { 7, 2}},  // -2
    {{ 0, 0}, { 0, 1}, { 1, 0}, { 2, 2}, { 2, 0}, { 3, 0}, { 4, 2}, { 4, 0}, { 5, 2}, { 5, 0}, { 6, 2}, { 6, 0}},  // -1
    {{ 0, 0}, { 1, 2}, { 1, 0}, { 2, 2}, { 2, 0}, { 3, 0}, { 3, 1}, { 4, 0}, { 4, 1}, { 5, 0}, { 6, 2}, { 6, 0}},  // 0
    {{ 0, 0}, { 0, 1}, { 1, 0}, { 1, 1}, { 2, 0}, { 3, 0}, { 3, 1}, { 4, 0}, { 5, 2}, { 5, 0}, { 6, 2}, { 6, 0}},  // +1
    {{ 0, 0}, { 0, 1}, { 1, 0}, { 2, 2}, { 2, 0}, { 3, 0}, { 3, 1}, { 4, 0}, { 4, 1}, { 5, 0}, { 5, 1}, { 6, 0}},  // +2
    {{ 0, 0}, { 0, 1}, { 1, 0}, { 1, 1}, { 2, 0}, { 2, 1}, { 3, 1}, { 4, 0}, { 4, 1}, { 5, 0}, { 6, 2}, { 6, 0}},  // +3
    {{-1, 1}, { 0, 1}, { 1, 0}, { 1, 1}, { 2, 0}, { 3, 0}, { 3, 1}, { 4, 0}, { 4, 1}, { 5, 0}, { 5, 1}, { 6, 0}},  // +4
    {{ 0, 0}, { 0, 1}, { 1, 0}, { 1, 1}, { 2, 0}, { 2, 1}, { 3, 1}, { 3, 3}, { 4, 1}, { 5, 0}, { 5, 1}, { 6, 0}},  // +5
    {{-1, 1}, { 0, 1}, { 0, 3}, { 1, 1}, { 2, 0}, { 2, 1}, { 3, 1}, { 4, 0}, { 4, 1}, { 5, 0}, { 5, 1}, { 6, 0}},  // +6
    {{-1, 1}, { 0, 1}, { 1, 0}, { 1, 1}, { 2, 0}, { 2, 1}, { 3, 1}, { 3, 3}, { 4, 1}, { 4, 3}, { 5, 1}, { 6, 0}},  // +7
};

// The accidental memory covers steps -42..118, step s at index s + 42. Since
// 42 is a multiple of 7, index p (a glyph's treble step) is the same letter as
// step p, and every seventh index above it is that letter again. The pitches a
// transposed note can have (0..255) reach steps -36..114 in every key.
static const uint32_t kMemorySteps = kAccidentalSteps;
static const int kStepOffset = 42;

// Every MIDI key as the key's spellings write it: its staff step (the step
// of its pitch class, 0 = the class of key 60, plus that of the C of its
// octave, counted from the octave of key 60) and the alteration. One row of
// 256 for each key -7..7 (row key + 7), worked out while compiling, so that
// spelling a note is one look-up.
struct SSpelling {
    int8_t cStep;
    uint8_t bAlteration;
};

struct SKeySpellings {
    SSpelling aaSpelling[15][256];
};

static constexpr SKeySpellings KeySpellings() {
    SKeySpellings spellings = {};
    for (int nRow = 0; nRow < 15; ++nRow) {
        for (int nPitch = 0; nPitch < 256; ++nPitch) {
            int d = nPitch - 60;
            int nOctave = d >= 0 ? d / 12 : (d - 11) / 12;  // rounded towards minus infinity
            const SKeyPitchStep& entry = g_aKeyPitchSteps[nRow][d - 12 * nOctave];
            spellings.aaSpelling[nRow][nPitch].cStep = static_cast<int8_t>(entry.cStep + 7 * nOctave);
            spellings.aaSpelling[nRow][nPitch].bAlteration = static_cast<uint8_t>(entry.nAlteration);
        }
    }
    return spellings;
}

static constexpr SKeySpellings kKeySpellings = KeySpellings();

// The spellings of every pitch in one key.
static const SSpelling* SpellingsOfKey(int8_t cKey) { return kKeySpellings.aaSpelling[NormalisedKey(cKey) + 7]; }

// Writes the note's step for the pitch as the key's spellings have it and
// returns the alteration.
static inline int32_t SpellPitchIn(const SSpelling* pSpellings, uint8_t bPitch, SNote* pNote) {
    const SSpelling& spelling = pSpellings[bPitch];
    pNote->cStep = spelling.cStep;
    return spelling.bAlteration;
}

int NormalisedKey(int nKey) {
    if (nKey >= -7 && nKey <= 7) return nKey;
    int r = nKey % 12;
    if (r < -7) r += 12;
    if (r > 7) r -= 12;
    return r;
}

int32_t SpellPitch(uint8_t bPitch, int8_t cKey, SNote* pNote) {
    return SpellPitchIn(SpellingsOfKey(cKey), bPitch, pNote);
}

void AddKeyAccidentals(int8_t cKey, SMeasure* pMeasure, int32_t nKind) {
    int nKey = NormalisedKey(cKey);
    const uint8_t* pabSteps = nKey > 0 ? kSharpGlyphSteps : kFlatGlyphSteps;
    int nGlyphs = nKey > 0 ? nKey : -nKey;
    SKeyAccidental** ppTail = &pMeasure->pKeyAccidentals;
    while (*ppTail) ppTail = &(*ppTail)->pNext;
    for (int i = 0; i < nGlyphs; ++i) {
        SKeyAccidental* pGlyph = AllocateRecords<SKeyAccidental>(1);
        pGlyph->nKind = nKind;
        pGlyph->bPosition = pabSteps[i];
        *ppTail = pGlyph;
        ppTail = &pGlyph->pNext;
    }
}

// ---- Stage D ------------------------------------------------------------------------------

// A new key lists its own sharps or flats; a return to C major lists a
// natural for each sharp or flat it cancels. Nothing cancels the old key's
// glyphs when one non-zero key follows another.
static void ShowKeyChange(SMeasure* pMeasure, SShownBefore& shown) {
    int nKey = NormalisedKey(pMeasure->cKey);
    if (nKey == shown.nKey) return;
    if (nKey > 0)
        AddKeyAccidentals(static_cast<int8_t>(nKey), pMeasure, kAccidentalSharp);
    else if (nKey < 0)
        AddKeyAccidentals(static_cast<int8_t>(nKey), pMeasure, kAccidentalFlat);
    else if (shown.nKey != kNoKey)
        AddKeyAccidentals(static_cast<int8_t>(shown.nKey), pMeasure, kAccidentalNatural);
    shown.nKey = nKey;
}

// Meter and tempo are shown only where they change (0 means: as before).
static void BlankRepeatedMeterAndTempo(SMeasure* pMeasure, SShownBefore& shown) {
    if (pMeasure->bNumerator == shown.bNumerator && pMeasure->bDenominator == shown.bDenominator) {
        pMeasure->bNumerator = 0;
        pMeasure->bDenominator = 0;
    } else {
        shown.bNumerator = pMeasure->bNumerator;
        shown.bDenominator = pMeasure->bDenominator;
    }
    if (pMeasure->wTempo == shown.wTempo)
        pMeasure->wTempo = 0;
    else
        shown.wTempo = pMeasure->wTempo;
}

// What a key signature alone makes of every step: each of its sharps or
// flats alters its letter in every octave. (The key's own table, not the
// glyphs of the measure where it began: those move to the staff of their
// clef in a later stage.) One row for each key -7..7 (row key + 7), worked
// out while compiling.
struct SKeySignatures {
    uint8_t aabAlteration[15][kMemorySteps];
};

static constexpr SKeySignatures KeySignatures() {
    SKeySignatures signatures = {};
    for (int nKey = -7; nKey <= 7; ++nKey) {
        const uint8_t* pabSteps = nKey > 0 ? kSharpGlyphSteps : kFlatGlyphSteps;
        uint8_t bKind = nKey > 0 ? kAccidentalSharp : kAccidentalFlat;
        int nGlyphs = nKey > 0 ? nKey : -nKey;
        for (int g = 0; g < nGlyphs; ++g)
            for (uint32_t i = pabSteps[g]; i < kMemorySteps; i += 7) signatures.aabAlteration[nKey + 7][i] = bKind;
    }
    return signatures;
}

static constexpr SKeySignatures kKeySignatures = KeySignatures();

// The accidental memory as one measure sees it. Sections are numbered through
// the walk; a step last spelt before the measure's first section has only
// the key signature's alteration, and one last spelt before the current
// section has no heads there.
struct SMeasureMemory {
    int32_t* pnAlterations;
    uint8_t* pbHeadsOnStep;
    uint32_t* pnLastSpelt;
    const uint8_t* pbSignature;
    uint32_t nFirstSection;
};

// An accidental is printed only where the step's current alteration differs
// from the note's; a natural sign where the note is unaltered but the step
// was not.
static constexpr int32_t PrintedAccidental(int32_t nCurrent, int32_t nAlteration) {
    return nCurrent == nAlteration       ? kAccidentalNone
           : nAlteration != kAccidentalNone ? nAlteration
                                            : kAccidentalNatural;
}

// The same for every current alteration and every note's (0..4 each), worked
// out while compiling: whether a note needs a sign is as good as random, a
// branch on it often taken the wrong way, a look-up never.
struct SPrintedAccidentals {
    uint8_t aabPrinted[8][8];  // [current][note's]
};

static constexpr SPrintedAccidentals PrintedAccidentals() {
    SPrintedAccidentals printed = {};
    for (int32_t nCurrent = 0; nCurrent < 8; ++nCurrent)
        for (int32_t nAlteration = 0; nAlteration < 8; ++nAlteration)
            printed.aabPrinted[nCurrent][nAlteration] = static_cast<uint8_t>(PrintedAccidental(nCurrent, nAlteration));
    return printed;
}

static constexpr SPrintedAccidentals kPrintedAccidentals = PrintedAccidentals();

// Spells the section's notes, with the accidentals a reader needs. One staff
// step holds at most two notes of a section (two heads side by side);
// further ones are dropped.
static void SpellSection(const SMeasureMemory& memory, SSection* pSection, uint32_t nSection,
                         const SSpelling* pSpellings) {
    SNote** ppLink = &pSection->pRawNotes;
    while (SNote* pNote = *ppLink) {
        int32_t nAlteration = SpellPitchIn(pSpellings, pNote->bPitch, pNote);
        uint8_t i = static_cast<uint8_t>(pNote->cStep + kStepOffset);
        uint32_t nLastSpelt = memory.pnLastSpelt[i];
        uint8_t bHeads = nLastSpelt == nSection ? memory.pbHeadsOnStep[i] : 0;
        if (bHeads >= 2) {
            *ppLink = pNote->pNext;
            FreeToTrack(pNote);
            continue;
        }
        // Both read, one kept: whether the step was spelt earlier in the
        // measure is as good as random too.
        uint32_t nSpeltHere = static_cast<uint32_t>(memory.pnAlterations[i]);
        uint32_t nOfKey = memory.pbSignature[i];
        uint32_t nCurrent = nLastSpelt >= memory.nFirstSection ? nSpeltHere : nOfKey;
        pNote->nAccidental = kPrintedAccidentals.aabPrinted[nCurrent][nAlteration];
        memory.pnAlterations[i] = nAlteration;
        memory.pbHeadsOnStep[i] = static_cast<uint8_t>(bHeads + 1);
        memory.pnLastSpelt[i] = nSection;
        ppLink = &pNote->pNext;
    }
}

void StartSpelling(SSpellingMemory& memory) {
    memory.pnAlterations = AllocateRecords<int32_t>(kMemorySteps);
    memory.pbHeadsOnStep = AllocateRecords<uint8_t>(kMemorySteps);
    memory.shown = SShownBefore{0, 0, 0, kNoKey};
    // No step has been spelt: each was last spelt in section 0, before any.
    memset(memory.anLastSpelt, 0, sizeof memory.anLastSpelt);
    memory.nNextMeasureSection = 1;
}

void FinishSpelling(SSpellingMemory& memory) {
    FreeToTrack(memory.pbHeadsOnStep);
    FreeToTrack(memory.pnAlterations);
}

void SpellPitches(const SBuildContext&, SSpellingMemory& carried, SMeasure* pMeasure, const SMeasureIndex& index) {
    BlankRepeatedMeterAndTempo(pMeasure, carried.shown);
    ShowKeyChange(pMeasure, carried.shown);
    // At the bar line every step forgets its accidentals and knows only the
    // key signature.
    const uint8_t* pbSignature = kKeySignatures.aabAlteration[carried.shown.nKey + 7];
    const SMeasureMemory memory = {carried.pnAlterations, carried.pbHeadsOnStep, carried.anLastSpelt, pbSignature,
                                   carried.nNextMeasureSection};
    const SSpelling* pSpellings = SpellingsOfKey(pMeasure->cKey);
    const SPlacedSections& placed = *index.pPlaced;
    SSection* pSections = pMeasure->pSections;
    const uint8_t* pbEnd = placed.abSection + placed.nSections;
    for (const uint8_t* pb = placed.abSection; pb != pbEnd; ++pb)
        SpellSection(memory, &pSections[*pb], memory.nFirstSection + *pb, pSpellings);
    carried.nNextMeasureSection += pMeasure->bSections;
}

// ---- Stage E ------------------------------------------------------------------------------

// Two placed notes exchange what they say: everything up to their link, in
// one move each way, then pitch, value, head and mark. Placed notes have no
// pPrev, so their links stay as they are.
static void ExchangeNotes(SNote* pA, SNote* pB) {
    unsigned char abSaid[offsetof(SNote, pNext)];
    memcpy(abSaid, pA, sizeof abSaid);
    memcpy(pA, pB, sizeof abSaid);
    memcpy(pB, abSaid, sizeof abSaid);
    unsigned char abBetween[kSaidBetweenLinks];
    memcpy(abBetween, SaidBetweenLinks(pA), kSaidBetweenLinks);
    memcpy(SaidBetweenLinks(pA), SaidBetweenLinks(pB), kSaidBetweenLinks);
    memcpy(SaidBetweenLinks(pB), abBetween, kSaidBetweenLinks);
}

// An exchange sort by descending pitch of a section's notes that moves note
// contents, not links. It is not stable, and the order of equal pitches it
// leaves is the one the voices are built from: P(5) Q(5) R(7) ends as R Q P.
// One note, and two, the commonest cases, take a short way. Returns how
// many notes the section has.
static uint32_t SortSection(SNote* pFirst) {
    if (!pFirst) return 0;
    SNote* pSecond = pFirst->pNext;
    if (!pSecond) return 1;
    if (!pSecond->pNext) {
        if (pFirst->bPitch < pSecond->bPitch) ExchangeNotes(pFirst, pSecond);
        return 2;
    }
    uint32_t n = 0;
    for (SNote* pA = pFirst; pA; pA = pA->pNext) {
        ++n;
        for (SNote* pB = pA->pNext; pB; pB = pB->pNext)
            if (pA->bPitch < pB->bPitch) ExchangeNotes(pA, pB);
    }
    return n;
}

// Every section's notes by descending pitch, counted on the way for stage F.
void SortSectionNotes(SMeasure* pMeasure, SMeasureIndex& index) {
    const SPlacedSections& placed = *index.pPlaced;
    // (The list and the sections read once: notes written in between might,
    // for all the compiler knows, be them.)
    SSection* pSections = pMeasure->pSections;
    const uint8_t* pbEnd = placed.abSection + placed.nSections;
    uint32_t nNotes = 0;
    for (const uint8_t* pb = placed.abSection; pb != pbEnd; ++pb) nNotes += SortSection(pSections[*pb].pRawNotes);
    index.nPlacedNotes = nNotes;
}
