// Writes Standard MIDI Files byte by byte, for the tests, the benchmarks,
// the fuzz seeds and the bundled example: events are given at absolute
// ticks and written with delta times, optionally under running status,
// behind an optional RIFF head.
//
//   MidiFile file(96);                       // format 1, 96 ticks per quarter
//   file.Conductor().TimeSignature(0, 3, 2);  // 3/4
//   file.AddTrack().Note(0, kQuarter, 60);    // C4, one quarter
//   ScopedMidi midi(file);                    // loaded through VSX_LoadMidiFile
#ifndef VASTREL_MIDI_WRITER_H
#define VASTREL_MIDI_WRITER_H

#include <stdint.h>

#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// Big-endian and variable-length encodings, as the file format wants them.
void AppendBigEndian16(Bytes& bytes, uint16_t v);
void AppendBigEndian32(Bytes& bytes, uint32_t v);
void AppendVarLen(Bytes& bytes, uint32_t v);

class MidiTrack {
public:
    // Channel messages (channel 0..15).
    MidiTrack& NoteOn(uint32_t tick, uint8_t key, uint8_t velocity = 80, uint8_t channel = 0);
    MidiTrack& NoteOff(uint32_t tick, uint8_t key, uint8_t channel = 0);
    // A note-on at tick and its note-off length ticks later.
    MidiTrack& Note(uint32_t tick, uint32_t length, uint8_t key, uint8_t channel = 0);
    // Several keys sounding together.
    MidiTrack& Chord(uint32_t tick, uint32_t length, std::initializer_list<uint8_t> keys, uint8_t channel = 0);
    MidiTrack& Program(uint32_t tick, uint8_t program, uint8_t channel = 0);
    MidiTrack& Controller(uint32_t tick, uint8_t controller, uint8_t value, uint8_t channel = 0);

    // Meta events.
    MidiTrack& Tempo(uint32_t tick, uint32_t microsecondsPerQuarter);
    MidiTrack& TimeSignature(uint32_t tick, uint8_t numerator, uint8_t denominatorExponent);
    MidiTrack& KeySignature(uint32_t tick, int8_t sharpsOrFlats, uint8_t minor = 0);
    MidiTrack& Name(uint32_t tick, const std::string& name);
    MidiTrack& Meta(uint32_t tick, uint8_t type, const Bytes& data);
    MidiTrack& SysEx(uint32_t tick, const Bytes& data);
    // Any bytes after the delta time (status included), for malformed events.
    MidiTrack& Raw(uint32_t tick, const Bytes& bytes);

    // Where the end-of-track event stands (default: at the last event's tick).
    MidiTrack& EndAt(uint32_t tick);
    // Leave the end-of-track event out.
    MidiTrack& WithoutEnd();
    // Write channel messages under running status where the status repeats.
    MidiTrack& UseRunningStatus(bool use = true);

    // The chunk: "MTrk", its length, the events.
    Bytes Chunk() const;

private:
    struct Event {
        uint32_t tick;
        int order;      // note-offs first among events of one tick
        size_t serial;  // then in the order they were added
        Bytes bytes;    // status and data
    };
    MidiTrack& Add(uint32_t tick, int order, Bytes bytes);

    std::vector<Event> events_;
    bool hasEndTick_ = false;
    uint32_t endTick_ = 0;
    bool withoutEnd_ = false;
    bool runningStatus_ = false;
};

class MidiFile {
public:
    explicit MidiFile(uint16_t division = 96, uint16_t format = 1);

    // Format 1: the first track chunk. Format 0: the only one.
    MidiTrack& Conductor();
    // Format 1: a new music chunk after those already added.
    MidiTrack& AddTrack();
    MidiTrack& Track(size_t index);  // 0 is the conductor

    // Header count to write instead of the number of chunks.
    MidiFile& DeclareTracks(uint16_t count);
    MidiFile& WrapInRiff(bool wrap = true);

    Bytes Build() const;

private:
    uint16_t division_;
    uint16_t format_;
    bool riff_ = false;
    bool declared_ = false;
    uint16_t declaredTracks_ = 0;
    std::vector<MidiTrack> tracks_;
};

#endif
