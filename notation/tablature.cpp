// Stage S: a string and a fret for every note, chord by chord, as a guitarist
// in standard tuning would first try to finger it.
#include "tablature.h"

#include "notation.h"

static const uint8_t kNoFret = 255;

uint8_t FretOnString(uint8_t bPitch, uint8_t bString) {
    if (bString < 1 || bString > 6) return kNoFret;
    int32_t nFret = bPitch - g_anOpenStrings[bString - 1];
    return nFret >= 0 && nFret <= kHighestFret ? static_cast<uint8_t>(nFret) : kNoFret;
}

// A chord of two notes or more: every note first asks for its preferred
// string, in list order; a note that lost it then moves to the nearest free
// lower string that still reaches it. Moving up would need a fret below the
// nut, so it never does. The list order (lowest first with the stem up,
// highest first with the stem down) decides who keeps a string two notes
// want. Most chords have no such note, and their list is walked once. Each
// note is fingered as the key nRaise above it (an octave for the strings of
// the sounding pitch); a key raised past the byte has no string.
void FingerChordNotes(SChord* pChord, uint32_t nRaise) {
    uint32_t nUsed = 0;  // bit s for string s
    bool bAnyLost = false;
    for (SNote* pNote = pChord->pNotes; pNote; pNote = pNote->pNext) {
        uint32_t nKey = pNote->bPitch + nRaise;
        if (nKey > 0xFF) continue;
        SFingering first = kFirstChoices.aOfPitch[nKey];
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
        uint32_t nKey = pNote->bPitch + nRaise;
        if (nKey > 0xFF) continue;
        uint8_t s = PreferredString(static_cast<uint8_t>(nKey));
        if (s == 0) continue;
        for (uint8_t k = static_cast<uint8_t>(s + 1); k <= 6; ++k) {
            uint8_t bFret = FretOnString(static_cast<uint8_t>(nKey), k);
            if ((nUsed & (1u << k)) || bFret == kNoFret) continue;
            pNote->bString = k;
            pNote->bFret = bFret;
            nUsed |= 1u << k;
            break;
        }
    }
}

// Every chord is fingered on its own, so the order they come in does not
// matter.
void AssignStrings(const SBuildContext&, const SMeasureIndex& index) {
    ForEachSoundingChord(index.sounding, [](SChord* pChord, uint32_t) { FingerChord(pChord); });
}
