// Stage S: a string and a fret for every note, chord by chord, as a guitarist
// in standard tuning would first try to finger it.
#include "tablature.h"

#include "notation.h"

// constexpr so that the table below can be worked out while compiling; the
// header's extern declaration keeps it visible to other files.
constexpr int32_t g_anOpenStrings[6] = {76, 71, 67, 62, 57, 52};

static const uint8_t kNoFret = 255;
static const int32_t kHighestFret = 24;

// The preferred string of every pitch byte and the fret there, worked out
// once: a chord's notes look them up instead of trying the strings one by
// one. The preferred string always reaches its pitch: the strings lie at
// most five semitones apart and string 1 stops at its 24th fret.
struct SFingering {
    uint8_t bString;  // 1..6, or 0
    uint8_t bFret;    // 0..24; 0 without a string
};
struct SFirstChoices {
    SFingering aOfPitch[256];
};

static constexpr SFirstChoices FirstChoiceTable() {
    SFirstChoices table = {};
    for (int32_t nPitch = 0; nPitch < 256; ++nPitch) {
        if (nPitch > g_anOpenStrings[0] + kHighestFret) continue;
        for (uint8_t s = 1; s <= 6; ++s)
            if (nPitch >= g_anOpenStrings[s - 1]) {
                table.aOfPitch[nPitch] = SFingering{s, static_cast<uint8_t>(nPitch - g_anOpenStrings[s - 1])};
                break;
            }
    }
    return table;
}

static constexpr SFirstChoices kFirstChoices = FirstChoiceTable();

uint8_t PreferredString(uint8_t bPitch) { return kFirstChoices.aOfPitch[bPitch].bString; }

uint8_t FretOnString(uint8_t bPitch, uint8_t bString) {
    if (bString < 1 || bString > 6) return kNoFret;
    int32_t nFret = bPitch - g_anOpenStrings[bString - 1];
    return nFret >= 0 && nFret <= kHighestFret ? static_cast<uint8_t>(nFret) : kNoFret;
}

// A lone note always gets its preferred string.
void FingerLoneNote(SNote* pNote) {
    SFingering first = kFirstChoices.aOfPitch[pNote->bPitch];
    if (first.bString != 0) {
        pNote->bString = first.bString;
        pNote->bFret = first.bFret;
    }
}

// A chord of two notes or more: every note first asks for its preferred
// string, in list order; a note that lost it then moves to the nearest free
// lower string that still reaches it. Moving up would need a fret below the
// nut, so it never does. The list order (lowest first with the stem up,
// highest first with the stem down) decides who keeps a string two notes
// want. Most chords have no such note, and their list is walked once.
void FingerChordNotes(SChord* pChord) {
    uint32_t nUsed = 0;  // bit s for string s
    bool bAnyLost = false;
    for (SNote* pNote = pChord->pNotes; pNote; pNote = pNote->pNext) {
        SFingering first = kFirstChoices.aOfPitch[pNote->bPitch];
        if (first.bString == 0) continue;
        if (nUsed & (1u << first.bString)) {
            bAnyLost = true;
            continue;
        }
        pNote->bString = first.bString;
        pNote->bFret = first.bFret;
        nUsed |= 1u << first.bString;
    }
    if (!bAnyLost) return;
    for (SNote* pNote = pChord->pNotes; pNote; pNote = pNote->pNext) {
        if (pNote->bString != 0) continue;
        uint8_t s = PreferredString(pNote->bPitch);
        if (s == 0) continue;
        for (uint8_t k = static_cast<uint8_t>(s + 1); k <= 6; ++k) {
            uint8_t bFret = FretOnString(pNote->bPitch, k);
            if ((nUsed & (1u << k)) || bFret == kNoFret) continue;
            pNote->bString = k;
            pNote->bFret = bFret;
            nUsed |= 1u << k;
            break;
        }
    }
}

// Every chord is fingered on its own, so the order they come in does not
// matter. Stage Q fingers them itself when this stage follows it in the walk.
void AssignStrings(SMeasureWalk& walk, SMeasure* pMeasure) {
    if (walk.pChordsSettledOf == pMeasure) return;
    const SSoundingChords& sounding = SoundingChords(walk, pMeasure);
    for (uint32_t i = 0; i < sounding.anVoiceStart[sounding.nVoices]; ++i) {
        SChord* pChord = sounding.apChords[i];
        if (pChord->pNotes->pNext) FingerChordNotes(pChord);
        else FingerLoneNote(pChord->pNotes);
    }
}
