// The readable notation of a drum track: what stages A, D, H and I do
// instead of their pitched rules when the track is on a percussion staff
// (STrack::bPercussion, set only under the option bDrumStaff). Stage F's
// two voices are in voices.cpp, beside its pitched rule.
//
// After these: every drum hit lasts until the next hit of its limb, up to
// the next beat; every note stands on its drum's step with its drum's head
// and mark (drum_kit.h), without an accidental; no measure has a key; the
// first measure shows the percussion clef and no clef follows; the hands'
// voice (0) has its stems up and the feet's (1) down.
#ifndef VASTREL_DRUM_STAFF_H
#define VASTREL_DRUM_STAFF_H

#include "notation.h"

// A (readable): the lengths of the hits starting in the nSlots slots of a
// measure of the given meter, whose first slot is pFirst. A drum's MIDI note
// lasts as long as the drum machine needed to trigger it (often a 64th), and
// a drummer reads a groove from where the hits fall, not from how long they
// ring: each hit is written to last until the next hit of the same limb
// (hands or feet), so that a run of eighths on the hi-hat reads as eighths,
// but never past the next beat, where the count would be hidden in a long
// value (a lone kick on one reads as a quarter, a rest after it). Nothing
// reaches past the bar line; and stage A writes a hit as one value, the
// first of those its length would be tied from, so no drum note is tied.
void LengthenDrumHits(const SSlot* pFirst, uint32_t nSlots, const SMeasure* pMeasure, uint8_t bResolution);

// A (readable): one drum struck twice at one onset is one hit (a sequencer
// that layers a sound sends the same key twice, which a pitched staff shows
// as a unison): in each of the nSlots slots from pFirst, a hit whose key an
// earlier hit of the slot has is left out of the slot.
void MergeDoubledHits(SSlot* pFirst, uint32_t nSlots);

// D (readable): every placed note of the measure on its drum's step, with
// its head and mark and no accidental; the measure has no key.
void PlaceDrumNotes(SMeasure* pMeasure, const SMeasureIndex& index);

// H (readable): the percussion clef on the first measure and never a
// change; steps are already drawing positions.
void KeepPercussionClef(int32_t& nClefInEffect, SMeasure* pMeasure);

// I (readable): the hands' voice stems up, the feet's down, whatever the
// heights (the two voices never swap, so a drummer's eye follows them).
void ChooseDrumStems(SMeasure* pMeasure, const SMeasureIndex& index);

// The voice of a drum key: 0 the hands, 1 the feet.
uint32_t DrumVoice(uint8_t bKey);

#endif
