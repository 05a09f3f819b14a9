// Stage S: a string and a fret for every note, chord by chord, as a guitarist
// in standard tuning would first try to finger it.
#include "tablature.h"

#include "notation.h"

const int32_t g_anOpenStrings[6] = {76, 71, 67, 62, 57, 52};

static const uint8_t kNoFret = 255;
static const int32_t kHighestFret = 24;

uint8_t PreferredString(uint8_t bPitch) {
    if (bPitch > g_anOpenStrings[0] + kHighestFret) return 0;
    for (uint8_t s = 1; s <= 6; ++s)
        if (bPitch >= g_anOpenStrings[s - 1]) return s;
    return 0;  // below the low E
}

uint8_t FretOnString(uint8_t bPitch, uint8_t bString) {
    if (bString < 1 || bString > 6) return kNoFret;
    int32_t nFret = bPitch - g_anOpenStrings[bString - 1];
    return nFret >= 0 && nFret <= kHighestFret ? static_cast<uint8_t>(nFret) : kNoFret;
}

// One chord: every note first asks for its preferred string, in list order;
// a note that lost it then moves to the nearest free lower string that still
// reaches it. Moving up would need a fret below the nut, so it never does.
// The list order (lowest first with the stem up, highest first with the stem
// down) decides who keeps a string two notes want.
static void FingerChord(SChord* pChord) {
    bool abUsed[7] = {false, false, false, false, false, false, false};  // by string number; 0 unused
    for (SNote* pNote = pChord->pNotes; pNote; pNote = pNote->pNext) {
        uint8_t s = PreferredString(pNote->bPitch);
        if (s == 0 || abUsed[s]) continue;
        pNote->bString = s;
        pNote->bFret = FretOnString(pNote->bPitch, s);
        abUsed[s] = true;
    }
    for (SNote* pNote = pChord->pNotes; pNote; pNote = pNote->pNext) {
        if (pNote->bString != 0) continue;
        uint8_t s = PreferredString(pNote->bPitch);
        if (s == 0) continue;
        for (uint8_t k = static_cast<uint8_t>(s + 1); k <= 6; ++k) {
            uint8_t bFret = FretOnString(pNote->bPitch, k);
            if (abUsed[k] || bFret == kNoFret) continue;
            pNote->bString = k;
            pNote->bFret = bFret;
            abUsed[k] = true;
            break;
        }
    }
}

// Every chord is fingered on its own, so the order they come in does not matter.
void AssignStrings(SMeasureWalk& walk, SMeasure* pMeasure) {
    const SSoundingChords& sounding = SoundingChords(walk, pMeasure);
    for (uint32_t i = 0; i < sounding.anVoiceStart[sounding.nVoices]; ++i) FingerChord(sounding.apChords[i]);
}
