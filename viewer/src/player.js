// Playback: the notes of the model sounded by a small WebAudio synthesiser
// in the file's tempo, and the one clock (the audio context's time) that
// the cursor reads.
//
// Music time counts 768 units per quarter note, whatever the file's
// division; the file's tempo map turns it into seconds and back.

import { strikeDrum } from './drum-kit.js';

export const MUSIC_PER_QUARTER = 768;

// The tempo map as stretches of music time, each with its seconds per unit.
// A file without a tempo at its start plays at 120 until its first one.
export function tempoMap(file) {
  const toMusic = (tick) => (tick * MUSIC_PER_QUARTER) / file.division;
  const stretches = [{ start: 0, seconds: 0, perUnit: 60 / (120 * MUSIC_PER_QUARTER) }];
  for (const { time, tempo } of file.tempos) {
    const last = stretches[stretches.length - 1];
    const start = toMusic(time);
    const stretch = { start, seconds: last.seconds + (start - last.start) * last.perUnit, perUnit: 60 / (tempo * MUSIC_PER_QUARTER) };
    if (start === last.start) stretches[stretches.length - 1] = { ...stretch, seconds: last.seconds };
    else stretches.push(stretch);
  }
  const find = (key, value) => {
    let low = 0;
    let high = stretches.length - 1;
    while (low < high) {
      const middle = (low + high + 1) >> 1;
      if (stretches[middle][key] <= value) low = middle;
      else high = middle - 1;
    }
    return stretches[low];
  };
  return {
    toMusic,
    secondsAt(music) {
      const s = find('start', music);
      return s.seconds + (music - s.start) * s.perUnit;
    },
    musicAt(seconds) {
      const s = find('seconds', seconds);
      return s.start + (seconds - s.seconds) / s.perUnit;
    },
  };
}

// The sounding notes of a model (`vastrel show --json` in the readable
// notation: the track's measures staff by staff) in music time, sorted by
// start: a note tied from the one before lengthens it instead of striking
// again. A tie never leaves its staff. The notes of a drum track (a
// percussion staff) are marked `drum`: their keys are drums of the kit.
export function notesOf(model, map) {
  const notes = [];
  for (const staff of model.track.staves) staffNotes(staff.measures, map, notes);
  if (model.track.percussion) for (const note of notes) note.drum = true;
  return notes.sort((a, b) => a.start - b.start);
}

function staffNotes(measures, map, notes) {
  const open = new Map();  // pitch -> the note its next tied piece lengthens
  for (const measure of measures) {
    for (const section of measure.sections) {
      const start = map.toMusic(section.time);
      for (const chord of section.chords) {
        for (const note of chord.notes) {
          // A note's own value (the piece of it in this chord), else the chord's.
          const [value, dotted] = note.value ? [note.value, note.dotted] : [chord.value, chord.dotted];
          if (!value) continue;
          const length = ((4 * MUSIC_PER_QUARTER) / value) * (dotted ? 1.5 : 1);
          let sounding = note.tieIn ? open.get(note.pitch) : undefined;
          if (sounding) sounding.end = start + length;
          else notes.push((sounding = { pitch: note.pitch, start, end: start + length }));
          if (note.tieOut) open.set(note.pitch, sounding);
          else open.delete(note.pitch);
        }
      }
    }
  }
}

// How far ahead notes are given to the audio context, in seconds.
const LOOKAHEAD = 0.6;

export function createPlayer() {
  let context = null;
  let output = null;
  let meter = null;  // what reaches the speakers, for a level to read
  let run = null;  // the playback under way: where it started and what it has scheduled
  const struck = new Map();  // notes given to the audio context, by voice ('pitched' or a kit voice)

  function audio() {
    if (!context) {
      context = new AudioContext({ latencyHint: 'interactive' });
      const compressor = context.createDynamicsCompressor();
      output = context.createGain();
      output.gain.value = 0.5;
      output.connect(compressor).connect(context.destination);
      meter = context.createAnalyser();
      compressor.connect(meter);
    }
    return context;
  }

  // One note: a triangle wave with a short attack and a gentle decay, like
  // a soft mallet.
  function strike(note, when, seconds) {
    const frequency = 440 * 2 ** ((note.pitch - 69) / 12);
    const oscillator = context.createOscillator();
    oscillator.type = 'triangle';
    oscillator.frequency.value = frequency;
    const envelope = context.createGain();
    const end = when + Math.max(0.05, seconds);
    envelope.gain.setValueAtTime(0, when);
    envelope.gain.linearRampToValueAtTime(0.22, when + 0.008);
    envelope.gain.exponentialRampToValueAtTime(0.08, when + Math.min(0.5, seconds * 0.8 + 0.01));
    envelope.gain.setTargetAtTime(0, end, 0.04);
    oscillator.connect(envelope).connect(output);
    oscillator.start(when);
    oscillator.stop(end + 0.3);
    run.voices.add(oscillator);
    oscillator.onended = () => run?.voices.delete(oscillator);
  }

  // A drum note: its key struck on the synthesised kit, however long it is
  // written. What the kit played is counted by voice.
  function hit(note, when) {
    const { voice, sources } = strikeDrum(context, output, note.pitch, when);
    struck.set(voice, (struck.get(voice) ?? 0) + 1);
    for (const source of sources) {
      run.voices.add(source);
      source.onended = () => run?.voices.delete(source);
    }
  }

  // Gives the audio context every note that starts before the lookahead.
  function schedule() {
    const { notes, map, origin, startSeconds } = run;
    const horizon = context.currentTime + LOOKAHEAD - origin + startSeconds;
    while (run.next < notes.length) {
      const note = notes[run.next];
      const noteSeconds = map.secondsAt(note.start);
      if (noteSeconds > horizon) break;
      run.next += 1;
      // A short note struck before the start, listed after a longer one
      // that still sounds there, is over already.
      const endSeconds = map.secondsAt(note.end);
      if (endSeconds <= startSeconds) continue;
      const from = Math.max(noteSeconds, startSeconds);
      if (note.drum) {
        // A drum is struck once, at its start: one struck before the start is over.
        if (noteSeconds >= startSeconds) hit(note, origin + noteSeconds - startSeconds);
      } else {
        strike(note, origin + from - startSeconds, endSeconds - from);
        struck.set('pitched', (struck.get('pitched') ?? 0) + 1);
      }
    }
  }

  return {
    get playing() { return run !== null; },

    // How many notes each voice has been given so far: 'pitched' for the
    // pitched notes, the kit's voices ('kick', 'snare' ...) for drums.
    get struck() { return Object.fromEntries(struck); },

    // Starts at a music time; `notes` from notesOf, `map` from tempoMap.
    async start(notes, map, musicTime) {
      this.stop();
      const ctx = audio();
      if (ctx.state !== 'running') await ctx.resume();
      const startSeconds = map.secondsAt(musicTime);
      let next = 0;
      // Notes that ended before the start are passed over; one still
      // sounding there is heard for what is left of it.
      while (next < notes.length && notes[next].end <= musicTime) next += 1;
      run = { notes, map, origin: ctx.currentTime + 0.06, startSeconds, next, voices: new Set() };
      schedule();
    },

    // The music time being heard now, read from the audio clock.
    musicTime() {
      if (!run) return null;
      schedule();
      const seconds = run.startSeconds + Math.max(0, context.currentTime - run.origin);
      return run.map.musicAt(seconds);
    },

    // The loudness of the sound now (root mean square of the last samples).
    level() {
      if (!meter) return 0;
      const samples = new Float32Array(meter.fftSize);
      meter.getFloatTimeDomainData(samples);
      return Math.sqrt(samples.reduce((sum, x) => sum + x * x, 0) / samples.length);
    },

    // Seconds of the audio clock since the playback under way started.
    elapsed() {
      return run ? context.currentTime - run.origin : null;
    },

    stop() {
      if (!run) return;
      const now = context.currentTime;
      for (const source of run.voices) {
        try { source.stop(now + 0.02); } catch { /* already stopped */ }
      }
      run = null;
    },
  };
}
