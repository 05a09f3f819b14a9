// The records a caller reads in place: one loaded MIDI file, and the notation
// model of one parsed track (measures, sections, chords, notes).
//
// Plain data, linked by raw pointers; every list ends with a null pNext.
// Times are MIDI ticks from the start of the track chunk. Note values are
// denominators of a whole note: 1 whole, 2 half, 4 quarter ... 64.
// The caller never frees or changes these records: VSX_ReleaseTrack and
// VSX_ReleaseFile destroy the private heap that holds them.
#ifndef VASTREL_SCORE_MODEL_H
#define VASTREL_SCORE_MODEL_H

#include <stdint.h>

// ---- Codes the records use -------------------------------------------------

// A printed accidental (SNote::nAccidental) or a key-signature glyph
// (SKeyAccidental::nKind: sharp, flat or natural).
enum EAccidentalCode {
    kAccidentalNone = 0,
    kAccidentalSharp = 1,
    kAccidentalFlat = 2,
    kAccidentalDoubleSharp = 3,
    kAccidentalDoubleFlat = 4,
    kAccidentalNatural = 5,
};

// A measure's clef (SMeasure::nClef).
enum EClefCode {
    kClefUnchanged = 0,        // as in the measure before
    kClefTreble = 1,
    kClefBass = 2,
    kClefTrebleOctaveUp = 3,   // treble with a small 8 above: sounds an octave above where it is drawn
    kClefBassOctaveDown = 4,   // bass with a small 8 below: sounds an octave below where it is drawn
    // Only in the readable notation:
    kClefPercussion = 5,       // a drum staff: each drum on the line or space of its own (no pitch)
    kClefTrebleOctaveDown = 6, // treble with a small 8 below (guitar): sounds an octave below where it is drawn
};

// A note's head (SNote::bNotehead); only the readable notation's drum staff
// draws heads other than the normal one.
enum ENoteheadCode {
    kNoteheadNormal = 0,
    kNoteheadX = 1,            // hi-hats and cymbals
    kNoteheadCircleX = 2,      // an x in a circle (side stick)
    kNoteheadTriangle = 3,
    kNoteheadDiamond = 4,
    kNoteheadSlash = 5,
};

// What a drum note is marked with above the staff (SNote::bDrumMark).
enum EDrumMarkCode {
    kDrumMarkNone = 0,
    kDrumMarkOpen = 1,         // "o": an open hi-hat, an open conga or triangle
    kDrumMarkStopped = 2,      // "+": a closed or muted stroke
};

// Staff steps count diatonic steps with 0 at middle C (MIDI key 60) on the
// treble staff, whose lines are steps 2, 4, 6, 8, 10. A note at treble step s
// is drawn at s + StepShiftOfClef(clef) on the staff of that clef: the bass
// staff's top line (the A below middle C, treble step -2) is drawn on step 10.
constexpr int StepShiftOfClef(int nClef) {
    return nClef == kClefBass              ? 12
           : nClef == kClefTrebleOctaveUp   ? -7
           : nClef == kClefBassOctaveDown   ? 19
           : nClef == kClefTrebleOctaveDown ? 7
                                            : 0;  // treble; a drum staff's steps are its drums' places
}

// The treble staff steps of a key signature's glyphs in the order a signature
// adds them: sharps F C G D A E B, flats B E A D G C F, each at its customary
// height (a bass clef draws every glyph two steps lower). A glyph's letter is
// its step modulo 7 (0 C, 1 D ... 6 B).
constexpr uint8_t kSharpGlyphSteps[7] = {10, 7, 11, 8, 5, 9, 6};
constexpr uint8_t kFlatGlyphSteps[7] = {6, 9, 5, 8, 4, 7, 3};

// ---- Conductor maps of a file (read from its first track chunk) ----------

struct STimeSignature {
    uint32_t dwTime;              // tick of the event
    uint8_t bNumerator;           // numerator byte as stored in the event
    uint8_t bDenominator;         // actual denominator: 2, 4, 8, 16, 32 or 64
    STimeSignature* pNext;
};

struct SKeySignature {
    uint32_t dwTime;              // tick of the event
    int8_t cKey;                  // sharps (positive) or flats (negative), as stored
    SKeySignature* pNext;
};

struct STempo {
    uint32_t dwTime;              // tick of the event
    uint16_t wTempo;              // quarter notes per minute, rounded down (3..65217)
    STempo* pNext;
};

// ---- One loaded file -------------------------------------------------------

struct SMidiFile {
    unsigned char* pData;         // Standard MIDI File data: pBuffer, or 20 bytes in behind a RIFF head
    uint32_t nDataSize;           // bytes of that data
    char* pszName;                // sequence name, or "Untitled midi"
    uint16_t wFormat;             // 0 or 1
    uint16_t wTracks;             // selectable tracks: format 1 chunks minus the conductor; format 0: 16 channels
    uint8_t bMeter2;              // 1 when every time signature spans a whole number of halves
    uint8_t bMeter4;              //   ... of quarters
    uint8_t bMeter8;              //   ... of eighths
    uint8_t bMeter16;             //   ... of sixteenths
    uint8_t bMeter32;             //   ... of 32nds
    uint8_t bMeter64;             //   ... of 64ths
    unsigned char* pBuffer;       // the whole file, then 3 spare bytes (the last end-of-track event may grow into them)
    uint32_t nFileSize;           // file size in bytes
    void* hHeap;                  // the file's private heap
    uint16_t wDivision;           // ticks per quarter note
    unsigned char* pFirstTrack;   // first chunk after the header chunk
    STimeSignature* pTimeSignatures;  // in file order
    SKeySignature* pKeySignatures;    // in file order
    STempo* pTempos;                  // in file order
};

// ---- The notation model of one track --------------------------------------

struct SNote;
struct SChord;
struct SSection;
struct SMeasure;

// One glyph of a key signature.
struct SKeyAccidental {
    int32_t nKind;                // kAccidentalSharp, kAccidentalFlat or kAccidentalNatural
    uint8_t bPosition;            // staff step where it is drawn, in the measure's clef
    SKeyAccidental* pNext;
};

// One notated note (a chord's own copy).
struct SNote {
    int8_t cStep;                 // staff step in the measure's clef (lines on 2, 4, 6, 8, 10)
    int32_t nAccidental;          // printed (EAccidentalCode): 0 none, 1 sharp, 2 flat, 3 double sharp, 4 double flat, 5 natural
    uint8_t bDotted;              // 1 when this piece is dotted
    uint8_t bTieIn;               // 1 when tied from the previous note
    uint8_t bTieOut;              // 1 when tied to the next note
    uint8_t bHeadFlipped;         // 1 when the head sits on the other side of the stem
    uint8_t bString;              // guitar string 1..6, 0 none
    uint8_t bFret;                // fret 0..24 on that string, 0 when there is no string
    SNote* pNext;                 // next note of the chord
    uint8_t bPitch;               // MIDI key after transposition
    uint8_t bValue;               // value as a denominator (undotted value of a dotted piece)
    // Readable notation only (0 in the classic model); in what was padding
    // before pPrev, so the record keeps its size and every field its place.
    uint8_t bNotehead;            // ENoteheadCode of a drum note
    uint8_t bDrumMark;            // EDrumMarkCode of a drum note
    SNote* pPrev;                 // previous note of the chord; null for the first
};

// What one voice shows at one section: a chord, a rest (a value and no
// notes), or nothing (bValue 0: a longer value goes on).
struct SChord {
    uint8_t bVoice;               // voice index within the measure
    uint8_t bValueLog2;           // log2 of bValue (0 whole ... 6 sixty-fourth); 0 when bValue is 0
    uint8_t bStemUp;              // 1 stem up, 0 down
    uint8_t bBeamPrev;            // 1 when beamed to the previous chord of the voice
    uint8_t bBeamNext;            // 1 when beamed to the next chord of the voice
    uint8_t bRestStep;            // staff step of a drawn rest (1..11); 0 otherwise
    uint8_t bDotted;              // 1 when the value is dotted
    SNote* pNotes;                // highest first with the stem down, lowest first with the stem up
    SChord* pNext;                // the next voice's chord at the same section
    uint8_t bValue;               // value as a denominator; 0 when nothing starts here
    double dPosition;             // height of the voice here, as an average staff step
    uint8_t bMark;                // working flag of the rest stages; no meaning for the caller
    uint8_t bSharedRest;          // 1 when this rest stands for equal rests of several voices
};

// One column of a measure's time grid.
struct SSection {
    uint8_t bHeadsLeft;           // 1 when a stem-down chord here has a displaced head
    SChord* pChords;              // one chord per voice, in voice order
    SSection* pNext;              // next kept section of the measure
    uint32_t dwTime;              // start tick
    SNote* pRawNotes;             // notes as placed, before voices; empty in a finished track
};

struct SMeasure {
    int32_t nClef;                // EClefCode: 0 unchanged, 1 treble, 2 bass, 3 treble 8va, 4 bass 8vb
    uint8_t bNumerator;           // meter shown here; 0 with bDenominator when unchanged
    uint8_t bDenominator;         // 2..64; 0 when unchanged
    SKeyAccidental* pKeyAccidentals;  // key-signature glyphs, only where the key changes
    uint16_t wTempo;              // quarter notes per minute; 0 when unchanged
    uint8_t bVoices;              // number of voices
    SSection* pSections;          // first section; the kept ones are linked through pNext
    SMeasure* pNext;              // next measure
    uint32_t dwTime;              // start tick
    uint8_t bSections;            // number of linked sections
    int8_t cKey;                  // key in force: sharps positive, flats negative
    uint8_t bTiedOut;             // 1 when a note is tied over the closing bar line
};

// One parsed track (format 1) or channel (format 0).
struct STrack {
    char* pszName;                // track name, "Untitled track" or "Channel NN"; null without notes
    int32_t nMeasures;            // number of measures
    int32_t nSections;            // grid slots laid out into sections
    int32_t nNotes;               // note-ons with a velocity above 0
    uint8_t bProgram;             // first non-zero program change, else 0
    char* pszInstrument;          // General MIDI instrument name (128-byte buffer); null without notes
    uint8_t bResolution;          // grid slots per whole note (2..64); 0 without notes
    SMeasure* pFirstMeasure;      // null without notes
    void* hHeap;                  // the track's private heap
    uint32_t dwEndTime;           // tick of the end-of-track event (extended to the last bar line for the last track)
    uint16_t wChannels;           // bit c set when a note of MIDI channel c (0-based) is in the track
    // Readable notation only (0 in the classic model):
    uint8_t bPercussion;          // 1 for a drum staff (its measures' clef is kClefPercussion)
    uint8_t bKeyEstimated;        // 1 when the keys were estimated from the notes (the file gives none)
    uint8_t bStaff;               // 1 for a track's first (or only) staff, 2 for the lower staff of a grand staff
    STrack* pNextStaff;           // the lower staff of a grand staff, in this track's heap (released with it), or null
};

#endif
