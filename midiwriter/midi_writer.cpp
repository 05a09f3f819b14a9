// Byte-by-byte writer of Standard MIDI Files for the tests.
#include "midi_writer.h"

#include <algorithm>

void AppendBigEndian16(Bytes& bytes, uint16_t v) {
    bytes.push_back(static_cast<uint8_t>(v >> 8));
    bytes.push_back(static_cast<uint8_t>(v));
}

void AppendBigEndian32(Bytes& bytes, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<uint8_t>(v >> shift));
}

void AppendVarLen(Bytes& bytes, uint32_t v) {
    uint8_t groups[5];
    int n = 0;
    do {
        groups[n++] = static_cast<uint8_t>(v & 0x7F);
        v >>= 7;
    } while (v);
    while (n > 1) bytes.push_back(static_cast<uint8_t>(groups[--n] | 0x80));
    bytes.push_back(groups[0]);
}

MidiTrack& MidiTrack::Add(uint32_t tick, int order, Bytes bytes) {
    events_.push_back(Event{tick, order, events_.size(), std::move(bytes)});
    return *this;
}

MidiTrack& MidiTrack::NoteOn(uint32_t tick, uint8_t key, uint8_t velocity, uint8_t channel) {
    return Add(tick, 1, {static_cast<uint8_t>(0x90 | channel), key, velocity});
}

MidiTrack& MidiTrack::NoteOff(uint32_t tick, uint8_t key, uint8_t channel) {
    return Add(tick, 0, {static_cast<uint8_t>(0x80 | channel), key, 64});
}

MidiTrack& MidiTrack::Note(uint32_t tick, uint32_t length, uint8_t key, uint8_t channel) {
    NoteOn(tick, key, 80, channel);
    return NoteOff(tick + length, key, channel);
}

MidiTrack& MidiTrack::Chord(uint32_t tick, uint32_t length, std::initializer_list<uint8_t> keys, uint8_t channel) {
    for (uint8_t key : keys) Note(tick, length, key, channel);
    return *this;
}

MidiTrack& MidiTrack::Program(uint32_t tick, uint8_t program, uint8_t channel) {
    return Add(tick, 1, {static_cast<uint8_t>(0xC0 | channel), program});
}

MidiTrack& MidiTrack::Controller(uint32_t tick, uint8_t controller, uint8_t value, uint8_t channel) {
    return Add(tick, 1, {static_cast<uint8_t>(0xB0 | channel), controller, value});
}

MidiTrack& MidiTrack::Meta(uint32_t tick, uint8_t type, const Bytes& data) {
    Bytes bytes = {0xFF, type};
    AppendVarLen(bytes, static_cast<uint32_t>(data.size()));
    bytes.insert(bytes.end(), data.begin(), data.end());
    return Add(tick, 1, bytes);
}

MidiTrack& MidiTrack::Tempo(uint32_t tick, uint32_t us) {
    return Meta(tick, 0x51, {static_cast<uint8_t>(us >> 16), static_cast<uint8_t>(us >> 8), static_cast<uint8_t>(us)});
}

MidiTrack& MidiTrack::TimeSignature(uint32_t tick, uint8_t numerator, uint8_t denominatorExponent) {
    return Meta(tick, 0x58, {numerator, denominatorExponent, 24, 8});
}

MidiTrack& MidiTrack::KeySignature(uint32_t tick, int8_t sharpsOrFlats, uint8_t minor) {
    return Meta(tick, 0x59, {static_cast<uint8_t>(sharpsOrFlats), minor});
}

MidiTrack& MidiTrack::Name(uint32_t tick, const std::string& name) {
    return Meta(tick, 0x03, Bytes(name.begin(), name.end()));
}

MidiTrack& MidiTrack::SysEx(uint32_t tick, const Bytes& data) {
    Bytes bytes = {0xF0};
    AppendVarLen(bytes, static_cast<uint32_t>(data.size()));
    bytes.insert(bytes.end(), data.begin(), data.end());
    return Add(tick, 1, bytes);
}

MidiTrack& MidiTrack::Raw(uint32_t tick, const Bytes& bytes) { return Add(tick, 1, bytes); }

MidiTrack& MidiTrack::EndAt(uint32_t tick) {
    hasEndTick_ = true;
    endTick_ = tick;
    return *this;
}

MidiTrack& MidiTrack::WithoutEnd() {
    withoutEnd_ = true;
    return *this;
}

MidiTrack& MidiTrack::UseRunningStatus(bool use) {
    runningStatus_ = use;
    return *this;
}

Bytes MidiTrack::Chunk() const {
    std::vector<Event> events = events_;
    std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) {
        if (a.tick != b.tick) return a.tick < b.tick;
        if (a.order != b.order) return a.order < b.order;
        return a.serial < b.serial;
    });
    Bytes body;
    uint32_t now = 0;
    uint8_t running = 0;
    for (const Event& event : events) {
        AppendVarLen(body, event.tick - now);
        now = event.tick;
        uint8_t status = event.bytes.empty() ? 0 : event.bytes[0];
        bool channelMessage = status >= 0x80 && status < 0xF0;
        size_t skip = runningStatus_ && channelMessage && status == running ? 1 : 0;
        body.insert(body.end(), event.bytes.begin() + static_cast<long>(skip), event.bytes.end());
        running = channelMessage ? status : 0;
    }
    if (!withoutEnd_) {
        uint32_t end = hasEndTick_ ? endTick_ : now;
        AppendVarLen(body, end >= now ? end - now : 0);
        body.insert(body.end(), {0xFF, 0x2F, 0x00});
    }
    Bytes chunk = {'M', 'T', 'r', 'k'};
    AppendBigEndian32(chunk, static_cast<uint32_t>(body.size()));
    chunk.insert(chunk.end(), body.begin(), body.end());
    return chunk;
}

MidiFile::MidiFile(uint16_t division, uint16_t format) : division_(division), format_(format) {
    tracks_.emplace_back();
}

MidiTrack& MidiFile::Conductor() { return tracks_.front(); }

MidiTrack& MidiFile::AddTrack() {
    tracks_.emplace_back();
    return tracks_.back();
}

MidiTrack& MidiFile::Track(size_t index) { return tracks_.at(index); }

MidiFile& MidiFile::DeclareTracks(uint16_t count) {
    declared_ = true;
    declaredTracks_ = count;
    return *this;
}

MidiFile& MidiFile::WrapInRiff(bool wrap) {
    riff_ = wrap;
    return *this;
}

Bytes MidiFile::Build() const {
    Bytes smf = {'M', 'T', 'h', 'd'};
    AppendBigEndian32(smf, 6);
    AppendBigEndian16(smf, format_);
    AppendBigEndian16(smf, declared_ ? declaredTracks_ : static_cast<uint16_t>(tracks_.size()));
    AppendBigEndian16(smf, division_);
    for (const MidiTrack& track : tracks_) {
        Bytes chunk = track.Chunk();
        smf.insert(smf.end(), chunk.begin(), chunk.end());
    }
    if (!riff_) return smf;
    Bytes riff = {'R', 'I', 'F', 'F'};
    AppendBigEndian32(riff, static_cast<uint32_t>(smf.size() + 12));
    riff.insert(riff.end(), {'R', 'M', 'I', 'D', 'd', 'a', 't', 'a'});
    AppendBigEndian32(riff, static_cast<uint32_t>(smf.size()));
    riff.insert(riff.end(), smf.begin(), smf.end());
    return riff;
}
