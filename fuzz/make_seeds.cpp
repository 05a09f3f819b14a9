// Writes the fuzz target's seed files into the folder given as the only
// argument: small files, made with the tests' MIDI writer, that each reach a
// different corner of the format or of the notation (one line each says
// which). The fuzzer mutates from these, and from the shared corpus of real
// files when that is present.
#include <stdio.h>

#include <functional>
#include <string>
#include <vector>

#include "../midiwriter/midi_writer.h"

namespace {

constexpr uint32_t Q = 96;  // ticks per quarter in most seeds

struct Seed {
    const char* name;
    std::function<Bytes()> build;
};

// A short melody with a chord, a rest and a note tied over the bar line.
void Melody(MidiTrack& track, uint8_t channel = 0, int shift = 0) {
    track.Note(0, Q, static_cast<uint8_t>(60 + shift), channel)
        .Note(Q, Q / 2, static_cast<uint8_t>(62 + shift), channel)
        .Chord(2 * Q, Q, {static_cast<uint8_t>(64 + shift), static_cast<uint8_t>(67 + shift)}, channel)
        .Note(3 * Q + Q / 2, Q, static_cast<uint8_t>(65 + shift), channel)
        .Note(5 * Q, 2 * Q, static_cast<uint8_t>(59 + shift), channel);
}

const std::vector<Seed>& Seeds() {
    static const std::vector<Seed> seeds = {
        // the smallest file that makes a measure
        {"one-quarter",
         [] {
             MidiFile f;
             f.AddTrack().Note(0, Q, 60);
             return f.Build();
         }},
        // name, tempo, meter and key changes in the conductor
        {"conductor-maps",
         [] {
             MidiFile f;
             f.Conductor()
                 .Name(0, "Seed")
                 .Tempo(0, 500000)
                 .TimeSignature(0, 3, 2)
                 .KeySignature(0, -3)
                 .TimeSignature(3 * Q, 4, 2)
                 .KeySignature(3 * Q, 2)
                 .Tempo(7 * Q, 400000);
             Melody(f.AddTrack().Name(0, "Lead").Program(0, 25));
             return f.Build();
         }},
        // several tracks, the last one rewritten at its end
        {"three-tracks",
         [] {
             MidiFile f;
             f.Conductor().TimeSignature(0, 4, 2);
             Melody(f.AddTrack().Name(0, "High"), 0, 12);
             Melody(f.AddTrack().Name(0, "Low"), 1, -24);
             f.AddTrack().Chord(0, 4 * Q, {48, 52, 55, 60}).EndAt(5 * Q);
             return f.Build();
         }},
        // format 0: channels of one chunk, running status
        {"format0-channels",
         [] {
             MidiFile f(96, 0);
             MidiTrack& t = f.Conductor().TimeSignature(0, 6, 3).UseRunningStatus();
             Melody(t, 0);
             Melody(t, 9, -12);
             t.Program(0, 33, 15).Note(Q, 3 * Q, 40, 15);
             return f.Build();
         }},
        // the same data behind a RIFF head
        {"riff",
         [] {
             MidiFile f;
             Melody(f.AddTrack());
             return f.WrapInRiff().Build();
         }},
        // 5/8, 7/16 and 3/2 one after the other
        {"odd-meters",
         [] {
             MidiFile f(120);
             f.Conductor().TimeSignature(0, 5, 3).TimeSignature(300, 7, 4).TimeSignature(510, 3, 1);
             MidiTrack& t = f.AddTrack();
             for (uint32_t tick = 0; tick < 1600; tick += 45) t.Note(tick, 40, static_cast<uint8_t>(50 + tick % 30));
             return f.Build();
         }},
        // notes over several bar lines, a whole and a dotted half
        {"long-notes",
         [] {
             MidiFile f;
             f.AddTrack().Note(0, 9 * Q, 60).Note(Q, 3 * Q, 64).Note(10 * Q, 4 * Q, 55).Note(14 * Q, 3 * Q, 57);
             return f.Build();
         }},
        // triplets and ticks off the grid
        {"uneven-ticks",
         [] {
             MidiFile f(480);
             MidiTrack& t = f.AddTrack();
             for (uint32_t i = 0; i < 12; ++i) t.Note(i * 160, 150, static_cast<uint8_t>(60 + i));
             t.Note(1931, 7, 70).Note(1999, 1, 71);
             return f.Build();
         }},
        // many voices and seconds (displaced heads)
        {"dense-chords",
         [] {
             MidiFile f;
             MidiTrack& t = f.AddTrack();
             t.Chord(0, Q, {60, 61, 62, 64, 65, 67}).Chord(0, 2 * Q, {48, 50}).Chord(Q / 4, Q / 4, {72, 74});
             t.Chord(Q, Q / 8, {40, 41}).Chord(2 * Q, 2 * Q, {43, 45, 47, 52, 57, 62, 64, 69, 76});
             return f.Build();
         }},
        // keys at the edges of the fretboard and of the staff
        {"guitar-range",
         [] {
             MidiFile f;
             MidiTrack& t = f.AddTrack().Program(0, 24);
             const uint8_t keys[] = {0, 21, 39, 40, 52, 64, 76, 88, 100, 101, 120, 127};
             for (uint32_t i = 0; i < sizeof keys; ++i) t.Note(i * Q / 2, Q / 2, keys[i]);
             return f.Build();
         }},
        // a track with controllers and a name but no note
        {"no-notes",
         [] {
             MidiFile f;
             f.AddTrack().Name(0, "Empty").Controller(0, 7, 100).Program(Q, 5).EndAt(8 * Q);
             Melody(f.AddTrack());
             return f.Build();
         }},
        // system exclusive, unknown meta and system statuses among notes
        {"sysex-and-meta",
         [] {
             MidiFile f;
             MidiTrack& t = f.AddTrack();
             t.SysEx(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7}).Meta(0, 0x7F, {1, 2, 3}).Raw(Q, {0xF8, 0, 0});
             Melody(t);
             t.Raw(2 * Q, {0xE0, 0x00, 0x40}).Raw(2 * Q, {0xD0, 0x10});
             return f.Build();
         }},
        // note-ons of velocity 0 end notes; a repeated key restarts
        {"zero-velocity-offs",
         [] {
             MidiFile f;
             f.AddTrack().NoteOn(0, 60).NoteOn(Q, 60, 0).NoteOn(Q, 62).NoteOn(Q + Q / 2, 62).NoteOff(3 * Q, 62);
             return f.Build();
         }},
        // a last track ending early: its end delta grows into the spare bytes
        {"end-near-file-end",
         [] {
             MidiFile f(1000);
             f.AddTrack().Note(0, 10, 60).EndAt(10);
             return f.Build();
         }},
        // one tick a quarter: many grid slots share a tick
        {"smallest-division",
         [] {
             MidiFile f(1);
             f.AddTrack().Note(0, 1, 60).Note(1, 2, 62).Note(3, 1, 64);
             return f.Build();
         }},
        // 32767 ticks a quarter
        {"largest-division",
         [] {
             MidiFile f(0x7FFF);
             f.AddTrack().Note(0, 0x7FFF, 60).Note(0x7FFF, 3 * 0x7FFF / 2, 67);
             return f.Build();
         }},
        // a time signature that does not fall on a bar line
        {"meter-changes-mid-measure",
         [] {
             MidiFile f;
             f.Conductor().TimeSignature(0, 3, 2).TimeSignature(Q, 2, 2).KeySignature(Q / 2, 7).KeySignature(5 * Q, -7);
             Melody(f.AddTrack());
             return f.Build();
         }},
        // the fastest tempo that is accepted, and many tempo events
        {"fast-tempo",
         [] {
             MidiFile f;
             MidiTrack& c = f.Conductor();
             for (uint32_t i = 0; i < 16; ++i) c.Tempo(i * Q / 2, 920 + i * 50000);
             Melody(f.AddTrack());
             return f.Build();
         }},
        // the header counts more chunks than there are
        {"declared-more-tracks",
         [] {
             MidiFile f;
             Melody(f.AddTrack());
             return f.DeclareTracks(5).Build();
         }},
        // a track without an end-of-track event
        {"missing-end",
         [] {
             MidiFile f;
             Melody(f.AddTrack().WithoutEnd());
             return f.Build();
         }},
    };
    return seeds;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    for (const Seed& seed : Seeds()) {
        std::string path = std::string(argv[1]) + "/" + seed.name + ".mid";
        Bytes bytes = seed.build();
        FILE* out = fopen(path.c_str(), "wb");
        if (!out || fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size() || fclose(out) != 0) {
            perror(path.c_str());
            return 1;
        }
    }
    printf("%zu seeds written to %s\n", Seeds().size(), argv[1]);
    return 0;
}
