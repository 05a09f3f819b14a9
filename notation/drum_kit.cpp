// The General MIDI drum kit on a percussion staff: one row per key, 35 to 81.
//
// Staff steps as on a treble staff: 1 the space below (D4), 3 the bottom
// space (F4), 7 the third space (C5), 10 the top line (F5), 11 the space
// above (G5), 12 the first ledger line above (A5), and so on.
//
// The drum set, as drum parts are commonly written:
// - bass drum in the bottom space and pedal hi-hat (an x) in the space below
//   the staff, the only two played by the feet;
// - snare in the third space, the side stick (cross-stick) there with a
//   circled x;
// - toms one step apart from high to low, the rack toms from the top line
//   down to the line above the snare, the low tom and the floor toms below it:
//   F5 E5 D5 | B4 A4 G4;
// - metal with x heads at and above the top line: ride on the top line (its
//   bell there as a diamond), hi-hat in the space above (open hi-hat marked
//   open), crash cymbals on the ledger line above and the space over it, and
//   splash and Chinese cymbals higher again, as further crashes are written.
// General MIDI's alternatives of one drum share its place and head: the two
// bass drums, the two snares, the two ride cymbals (a drummer plays one of
// each), and closed and open hi-hat, told apart by the open mark.
//
// The rest of the kit borrows the places of the toms, which rarely play at
// the same time, with a head of its own family:
// - what a pop groove adds to the kit gets a place no other part of that
//   groove uses: hand clap (a slash) in the top space, a third above the
//   snare's backbeat; tambourine (a diamond) on the fourth line; cowbell (a
//   triangle) on the middle line; cabasa and maracas (diamonds) in the second
//   space and on the second line;
// - the Latin hand drums keep the round head and take the toms' places by
//   pitch: bongos in the top space and on the fourth line, timbales on the
//   middle line and in the second space, high conga on the second line (mute
//   marked with a plus) and low conga on the bottom line; agogos (triangles)
//   share the bongos' places;
// - small percussion above the staff, where the crash cymbals are, with heads
//   unlike theirs: wood blocks and claves (triangles), guiros and whistles
//   (slashes), cuica (round head, mute marked with a plus), triangle (a
//   triangle head, mute marked with a plus) highest; and the vibraslap (a
//   diamond) in the top space.
// Short and long guiro, short and long whistle are one instrument each, the
// note's length telling them apart. Apart from the alternatives of one drum
// and the Latin drums on the toms' places, no two instruments share both
// place and head.
#include "drum_kit.h"

// The steps named by the note drawn there on a treble staff.
enum EStaffPlace : int8_t {
    kD4 = 1, kE4 = 2, kF4 = 3, kG4 = 4, kA4 = 5, kB4 = 6, kC5 = 7,
    kD5 = 8, kE5 = 9, kF5 = 10, kG5 = 11, kA5 = 12, kB5 = 13, kC6 = 14, kD6 = 15,
};

static const uint8_t kHand = 0;
static const uint8_t kFoot = 1;

static const SDrum kKit[kLastDrumKey - kFirstDrumKey + 1] = {
    {"Acoustic bass drum", kF4, kNoteheadNormal, kFoot, kDrumMarkNone},  // 35
    {"Bass drum 1", kF4, kNoteheadNormal, kFoot, kDrumMarkNone},         // 36
    {"Side stick", kC5, kNoteheadCircleX, kHand, kDrumMarkNone},         // 37
    {"Acoustic snare", kC5, kNoteheadNormal, kHand, kDrumMarkNone},      // 38
    {"Hand clap", kE5, kNoteheadSlash, kHand, kDrumMarkNone},            // 39
    {"Electric snare", kC5, kNoteheadNormal, kHand, kDrumMarkNone},      // 40
    {"Low floor tom", kG4, kNoteheadNormal, kHand, kDrumMarkNone},       // 41
    {"Closed hi-hat", kG5, kNoteheadX, kHand, kDrumMarkNone},            // 42
    {"High floor tom", kA4, kNoteheadNormal, kHand, kDrumMarkNone},      // 43
    {"Pedal hi-hat", kD4, kNoteheadX, kFoot, kDrumMarkNone},             // 44
    {"Low tom", kB4, kNoteheadNormal, kHand, kDrumMarkNone},             // 45
    {"Open hi-hat", kG5, kNoteheadX, kHand, kDrumMarkOpen},              // 46
    {"Low-mid tom", kD5, kNoteheadNormal, kHand, kDrumMarkNone},         // 47
    {"Hi-mid tom", kE5, kNoteheadNormal, kHand, kDrumMarkNone},          // 48
    {"Crash cymbal 1", kA5, kNoteheadX, kHand, kDrumMarkNone},           // 49
    {"High tom", kF5, kNoteheadNormal, kHand, kDrumMarkNone},            // 50
    {"Ride cymbal 1", kF5, kNoteheadX, kHand, kDrumMarkNone},            // 51
    {"Chinese cymbal", kD6, kNoteheadX, kHand, kDrumMarkNone},           // 52
    {"Ride bell", kF5, kNoteheadDiamond, kHand, kDrumMarkNone},          // 53
    {"Tambourine", kD5, kNoteheadDiamond, kHand, kDrumMarkNone},         // 54
    {"Splash cymbal", kC6, kNoteheadX, kHand, kDrumMarkNone},            // 55
    {"Cowbell", kB4, kNoteheadTriangle, kHand, kDrumMarkNone},           // 56
    {"Crash cymbal 2", kB5, kNoteheadX, kHand, kDrumMarkNone},           // 57
    {"Vibraslap", kE5, kNoteheadDiamond, kHand, kDrumMarkNone},          // 58
    {"Ride cymbal 2", kF5, kNoteheadX, kHand, kDrumMarkNone},            // 59
    {"Hi bongo", kE5, kNoteheadNormal, kHand, kDrumMarkNone},            // 60
    {"Low bongo", kD5, kNoteheadNormal, kHand, kDrumMarkNone},           // 61
    {"Mute hi conga", kG4, kNoteheadNormal, kHand, kDrumMarkStopped},    // 62
    {"Open hi conga", kG4, kNoteheadNormal, kHand, kDrumMarkNone},       // 63
    {"Low conga", kE4, kNoteheadNormal, kHand, kDrumMarkNone},           // 64
    {"High timbale", kB4, kNoteheadNormal, kHand, kDrumMarkNone},        // 65
    {"Low timbale", kA4, kNoteheadNormal, kHand, kDrumMarkNone},         // 66
    {"High agogo", kE5, kNoteheadTriangle, kHand, kDrumMarkNone},        // 67
    {"Low agogo", kD5, kNoteheadTriangle, kHand, kDrumMarkNone},         // 68
    {"Cabasa", kA4, kNoteheadDiamond, kHand, kDrumMarkNone},             // 69
    {"Maracas", kG4, kNoteheadDiamond, kHand, kDrumMarkNone},            // 70
    {"Short whistle", kC6, kNoteheadSlash, kHand, kDrumMarkNone},        // 71
    {"Long whistle", kC6, kNoteheadSlash, kHand, kDrumMarkNone},         // 72
    {"Short guiro", kB5, kNoteheadSlash, kHand, kDrumMarkNone},          // 73
    {"Long guiro", kB5, kNoteheadSlash, kHand, kDrumMarkNone},           // 74
    {"Claves", kC6, kNoteheadTriangle, kHand, kDrumMarkNone},            // 75
    {"Hi wood block", kB5, kNoteheadTriangle, kHand, kDrumMarkNone},     // 76
    {"Low wood block", kA5, kNoteheadTriangle, kHand, kDrumMarkNone},    // 77
    {"Mute cuica", kA5, kNoteheadNormal, kHand, kDrumMarkStopped},       // 78
    {"Open cuica", kA5, kNoteheadNormal, kHand, kDrumMarkNone},          // 79
    {"Mute triangle", kD6, kNoteheadTriangle, kHand, kDrumMarkStopped},  // 80
    {"Open triangle", kD6, kNoteheadTriangle, kHand, kDrumMarkNone},     // 81
};

// A sound of another kit is still drawn as a drum, on the middle line where
// it reads as neither a cymbal nor the bass drum.
const SDrum kOtherPercussion = {"Percussion", kB4, kNoteheadNormal, kHand, kDrumMarkNone};

const SDrum& DrumOfKey(uint8_t bKey) {
    return IsDrumKitKey(bKey) ? kKit[bKey - kFirstDrumKey] : kOtherPercussion;
}
