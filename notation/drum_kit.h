// The General MIDI drum kit as a drummer reads it on a five-line percussion
// staff: for every key of channel 10 its place on the staff, its notehead,
// the limb that plays it and its name. The one table of the kit; the
// readable notation of a percussion track, the exporter and the tool all
// read it.
#ifndef VASTREL_DRUM_KIT_H
#define VASTREL_DRUM_KIT_H

#include <stdint.h>

// Notehead shapes of a percussion staff (also the codes a note carries).
enum ENotehead : uint8_t {
    kNoteheadNormal = 0,    // the round head: drums with a skin
    kNoteheadX = 1,         // cymbals and hi-hats
    kNoteheadCircleX = 2,   // an x in a circle: the side stick (cross-stick)
    kNoteheadTriangle = 3,  // bells and woods: cowbell, agogos, claves, wood blocks, triangle
    kNoteheadDiamond = 4,   // the ride's bell, and shakers and jingles
    kNoteheadSlash = 5,     // hand clap, guiros, whistles
};

// What a drum's note carries above it besides its head.
enum EDrumMark : uint8_t {
    kDrumMarkNone = 0,
    kDrumMarkOpen = 1,     // the small circle: open hi-hat
    kDrumMarkStopped = 2,  // the plus sign: a muted stroke (mute hi conga, mute cuica, mute triangle)
};

// One drum of the kit.
struct SDrum {
    const char* pszName;  // General MIDI's name in sentence case ("Closed hi-hat")
    int8_t cStep;         // staff step (0 at middle C, lines on 2, 4, 6, 8, 10, as on a treble staff)
    uint8_t bNotehead;    // ENotehead
    uint8_t bFoot;        // 1: played by a foot (lower voice, stems down); 0: by the hands (upper voice, stems up)
    uint8_t bMark;        // EDrumMark
};

// General MIDI defines the keys 35 (Acoustic bass drum) to 81 (Open
// triangle) on channel 10.
static const uint8_t kFirstDrumKey = 35;
static const uint8_t kLastDrumKey = 81;

// True for a key of the General MIDI kit (35..81).
inline bool IsDrumKitKey(uint8_t bKey) { return bKey >= kFirstDrumKey && bKey <= kLastDrumKey; }

// The drum a key of channel 10 plays. A key outside the kit (other kits'
// extra sounds, 0..34 and 82..127) gets kOtherPercussion: a normal head on
// the middle line, played by the hands, named "Percussion".
const SDrum& DrumOfKey(uint8_t bKey);

extern const SDrum kOtherPercussion;

#endif
