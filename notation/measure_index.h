// The measure index: what the later stages of one measure share about it
// (the sections where notes were placed, the chords sounding, the silences
// of every voice, where rests start, the notes struck at each section), so
// that no stage looks at every section or chord again. Each part is made by
// the row of the stage table that finds it on its way (stage A, E, F, H, J,
// L) or, where the walk does not run that stage, by the row that lists it
// from the model as the stages before have left it; the builder hands the
// index to the stages that read it.
#ifndef VASTREL_MEASURE_INDEX_H
#define VASTREL_MEASURE_INDEX_H

#include "../core/errors.h"
#include "../interface/score_model.h"
#include "../platform/platform.h"

#include <stddef.h>

// ---- Sets of sections -----------------------------------------------------------------
// A set of the sections of one measure is four words: section k is bit k % 64
// of word k / 64. A measure of n sections fills the first SetWords(n) words;
// the others stay empty.

inline uint32_t SetWords(uint32_t nSections) { return (nSections + 63) / 64; }

inline void AddToSet(uint64_t* pqSet, uint32_t k) { pqSet[k / 64] |= uint64_t{1} << (k % 64); }

// Adds section k to pqSet, and to pqAgain when pqSet held it already
// (without a branch: whether it did is as good as random).
inline void AddToSetNotingRepeats(uint64_t* pqSet, uint64_t* pqAgain, uint32_t k) {
    uint64_t q = uint64_t{1} << (k % 64);
    pqAgain[k / 64] |= pqSet[k / 64] & q;
    pqSet[k / 64] |= q;
}

inline bool AnyInSet(const uint64_t* pqSet) { return (pqSet[0] | pqSet[1] | pqSet[2] | pqSet[3]) != 0; }

// ---- The parts of the index -------------------------------------------------------------

// The sections of one measure that hold placed notes, in order: what stages
// C to F walk instead of every section. Those stages only take placed notes
// away (ties merged, heads dropped, notes no voice can hold), so a section
// listed may have none left, and one not listed has none. aqTiedOn holds the
// sections where a value is tied to a later one, the only ones where stage C
// can merge a pair.
struct SPlacedSections {
    uint32_t nSections;
    uint8_t abSection[256];  // section numbers, ascending
    uint64_t aqTiedOn[4];
};

// The chords with notes of one measure, voice after voice and in section
// order within each: what the stages that concern notes walk instead of
// every chord of every section. No stage after F gives a chord notes or
// takes them away, so one index serves every later stage of the measure.
struct SSoundingChords {
    uint32_t nVoices;
    SChord* apVoice[255];        // the chord array of each voice
    uint32_t anVoiceStart[256];  // voice v's chords are apChords[anVoiceStart[v] .. anVoiceStart[v + 1])
    SChord** apChords;           // in the index's own heap
    uint32_t nCapacity;          // entries apChords has room for
};

// The section index of a chord of voice v in the index.
inline uint32_t SectionOf(const SSoundingChords& sounding, uint32_t v, const SChord* pChord) {
    return static_cast<uint32_t>(pChord - sounding.apVoice[v]);
}

// Calls visit(chord, k) for every chord with notes of the measure, voice
// after voice, with the section k it stands at.
template <typename Visit>
inline void ForEachSoundingChord(const SSoundingChords& sounding, Visit visit) {
    for (uint32_t v = 0; v < sounding.nVoices; ++v) {
        const SChord* pVoice = sounding.apVoice[v];
        SChord* const* ppEnd = sounding.apChords + sounding.anVoiceStart[v + 1];
        for (SChord* const* ppChord = sounding.apChords + sounding.anVoiceStart[v]; ppChord != ppEnd; ++ppChord)
            visit(*ppChord, static_cast<uint32_t>(*ppChord - pVoice));
    }
}

// Staff steps of some notes, summed and counted.
struct SStepTally {
    int32_t nSum;
    int32_t nCount;
};

// The notes every voice strikes at each section (stage I's weights), tallied
// on the pass over the notes that finds the measure's range for stage H, and
// how far H has moved every step since (each sum is short of nShift for each
// note).
struct SStruckNotes {
    int32_t nShift;
    SStepTally aAt[256];
};

// Sections [bFirst, bEnd) of a voice where it sounds nothing.
struct SSilence {
    SChord* pVoice;  // the voice's chord array
    uint8_t bFirst;
    uint8_t bEnd;
};

// The silences of every voice of one measure, voice after voice and in
// order within each: what stages K and L fill and O and Q walk; and the
// sections where chords with notes start, or-ed together (stage P).
struct SVoiceSilences {
    uint32_t nSilences;
    SSilence* pSilences;   // in the index's own heap
    uint32_t nCapacity;    // entries pSilences has room for
    uint32_t nChordStarts;
};

// The sections where stage L started a rest, and those where it started
// rests in two or more voices (the only ones where stage M can share one),
// in the nWords words the measure's sections fill: stages M to P pass over
// the others.
struct SRestStarts {
    uint32_t nWords;
    uint64_t aqStarts[4];
    uint64_t aqMeet[4];
};

// The index of the measure the walk is at. Each part holds the current
// measure's facts once the row that makes it has run on that measure.
struct SMeasureIndex {
    const SPlacedSections* pPlaced;  // A, or the listing row
    uint32_t nPlacedNotes;           // the placed notes left once E has sorted them
    SSoundingChords sounding;        // F
    SStruckNotes struck;             // H's pass over the notes
    SVoiceSilences silences;         // J
    SRestStarts rests;               // L
    void* hHeap;                     // holds the arrays; null until one is needed
};

// The parts, as the rows of the stage table name what they read and make.
enum EIndexPart : uint32_t {
    kPlacedSections = 1u << 0,
    kPlacedNotes = 1u << 1,
    kSoundingChords = 1u << 2,
    kStruckNotes = 1u << 3,
    kSilences = 1u << 4,
    kRestStarts = 1u << 5,
};

// Gives an array of the index room for nEntries entries of nSize bytes when
// it has room for fewer (its capacity in *pnCapacity): a new array twice as
// large at least, from the index's heap, made on first need. The heap goes
// when the walk ends; an outgrown array stays in it until then.
void* GrowIndexArray(SMeasureIndex& index, uint32_t* pnCapacity, size_t nEntries, size_t nSize);

template <typename T>
inline void MakeRoomInIndex(SMeasureIndex& index, T*& pArray, uint32_t& nCapacity, size_t nEntries) {
    if (nEntries > nCapacity) pArray = static_cast<T*>(GrowIndexArray(index, &nCapacity, nEntries, sizeof(T)));
}

#endif
