// A drum track as a MusicXML percussion part: one instrument per drum the
// part plays, each note unpitched at its drum's line or space with its
// notehead and mark, so that notation programs draw a drum staff and play
// every note on its drum (General MIDI's channel 10, the key as the
// instrument's unpitched sound).
#ifndef VASTREL_MUSICXML_PERCUSSION_H
#define VASTREL_MUSICXML_PERCUSSION_H

#include <cstddef>
#include <string>

#include "score_model.h"
#include "xml_writer.h"

// The part's score-instrument and midi-instrument elements: one of each per
// drum key the track plays, in key order, on MIDI channel 10.
void WriteDrumInstruments(XmlWriter& xml, size_t part, const STrack& track);

// The name of the drum a key of channel 10 plays ("Closed hi-hat").
std::string DrumName(int key);

// What stands in a drum note for the pitch: its line or space, read as the
// note a treble staff has there.
void WriteUnpitched(XmlWriter& xml, const SNote& note);

// The note's reference to its drum's instrument.
void WriteDrumInstrumentRef(XmlWriter& xml, size_t part, const SNote& note);

// The note's head where it is not the normal one.
void WriteDrumNotehead(XmlWriter& xml, const SNote& note);

// Whether the note carries a mark, and the mark (inside <technical>).
bool HasDrumMark(const SNote& note);
void WriteDrumMark(XmlWriter& xml, const SNote& note);

#endif
