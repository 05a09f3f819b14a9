// Key finding: the key of music whose file names none, from how long each
// pitch class sounds, and the places where the music settles in another key
// for a long stretch.
//
// Method: profile correlation (Krumhansl and Schmuckler). The twelve summed
// durations are correlated (Pearson's r) with a key profile rotated to each
// of the 24 major and minor tonics; the best correlation names the key. The
// profiles are Albrecht and Shanahan's (2013), drawn from a large corpus of
// common-practice pieces. They were chosen over the others because:
// - Krumhansl and Kessler's listening profiles weigh the notes outside the
//   scale almost as much as those in it (2.2 to 2.9 against 3.5 to 6.4), so
//   a piece in C with a few F sharps is often taken for G, and chords on the
//   dominant pull the estimate a fifth up;
// - Temperley's Kostka-Payne profiles count in how many segments a pitch
//   class appears, not how long it sounds, which is not what a MIDI file
//   gives us;
// - Aarden's Essen profiles come from folk melodies and give the leading
//   tone of a major key little weight (5 against 22 for the dominant), which
//   harmony with its many dominant chords contradicts;
// - Albrecht and Shanahan's profiles separate scale and non-scale notes the
//   most, and were made to fix the minor mode, which the older profiles get
//   wrong most often (their raised leading tone, the sixth and the seventh
//   of the minor are weighed from real music).
// Only the key signature matters to notation, so a minor key is given as its
// relative major's signature, and where two spellings exist the one with
// fewer accidentals is chosen (D flat rather than C sharp major); the
// signature of six, G flat major / E flat minor or F sharp major / D sharp
// minor, is written with flats, since E flat minor is the far commoner name.
#ifndef VASTREL_KEY_FINDING_H
#define VASTREL_KEY_FINDING_H

#include <stddef.h>
#include <stdint.h>

// How long each pitch class sounds in some stretch of music, in any one
// unit of time (ticks or grid slots, the same for every entry and window);
// index 0 is C, 1 C sharp, ... 11 B. Drums are left out by the caller.
struct SPitchClassDurations {
    uint64_t aqDuration[12];
};

// The key found for some music.
struct SKeyEstimate {
    int8_t cKey;          // key signature: sharps (+1..+7) or flats (-1..-7), 0 for none
    uint8_t bTonic;       // pitch class of the tonic, 0 = C
    uint8_t bMinor;       // 1 for a minor key (cKey is then its relative major's signature)
    float fCorrelation;   // Pearson's r of the durations with the key's profile, -1..1;
                          // 0 when fewer than three pitch classes sound (no key can be told)
};

// The key whose profile the durations correlate with best. Music in which
// fewer than three pitch classes sound tells no key: it gets C major (no
// signature) with a correlation of 0.
SKeyEstimate EstimateKey(const SPitchClassDurations& durations);

// The key signature of a key: tonic pitch class and mode.
int8_t KeySignatureOf(uint8_t bTonic, bool bMinor);

// ---- Key changes ----------------------------------------------------------------

// Where a key takes over, from window nWindow on.
struct SKeyChange {
    uint32_t nWindow;     // the first window (measure) in the key
    int8_t cKey;          // key signature, -7..7
};

// A change needs the new key to hold for this many windows at least (with
// measures as windows: eight bars, a phrase or two); an excursion shorter
// than that, a sequence through several keys or a chromatic passage, stays
// in the key around it. The opening and closing stretches are held to it
// too, so a piece that only ends in another key has no change.
static const uint32_t kMinimumKeyStretch = 8;

// What a change of key costs in the segmentation, in units of correlation:
// the windows of the new stretch together must correlate this much better
// with the new key than with the old one. An excursion (a change and back)
// pays it twice: over sixteen measures that asks 0.125 more correlation per
// measure on average. Set from music that modulates to the dominant (its
// measures differ from the old key's only where the new leading tone
// sounds); the minimum stretch, not this cost, is what keeps chromatic
// passages and passing tonicisations from changing the key.
static const float kKeyChangeCost = 1.0f;

// Bytes of scratch FindKeyChanges needs for nWindows windows.
size_t KeyChangeScratchBytes(uint32_t nWindows);

// The keys of music given as consecutive windows (measures) of durations:
// the windows are cut into stretches of at least kMinimumKeyStretch windows
// (all of them as one stretch when there are fewer) so that the windows'
// correlations with their stretch's key, less kKeyChangeCost for every
// change, add up to the most; then every stretch is given the key of its
// summed durations (as EstimateKey), and neighbours that end up in the same
// key are joined. Windows where fewer than three pitch classes sound count
// for no key.
// Writes the stretches to pChanges in order, the first at window 0 with the
// opening key (nothing when nWindows is 0), at most nMaxChanges of them
// (nWindows / kMinimumKeyStretch + 1 is always enough), and returns how many
// it wrote. pScratch holds KeyChangeScratchBytes(nWindows) bytes, aligned
// for a 32-bit float.
uint32_t FindKeyChanges(const SPitchClassDurations* pWindows, uint32_t nWindows, void* pScratch,
                        SKeyChange* pChanges, uint32_t nMaxChanges);

#endif
