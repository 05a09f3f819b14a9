// The tempo map and the notes played, in Node alone (no browser).
import { test } from 'node:test';
import assert from 'node:assert/strict';

import { createPlayer, notesOf, tempoMap } from '../src/player.js';
import { kitVoiceOf } from '../src/drum-kit.js';

const close = (actual, expected, what) => assert.ok(Math.abs(actual - expected) < 1e-9, `${what}: ${actual}, not ${expected}`);

test('the tempo map turns music time into seconds and back, through every change of tempo', () => {
  const cases = [
    // [what, file, [music time, seconds] ...]
    ['the example: 100 a minute, then 120 from tick 11520', { division: 480, tempos: [{ time: 0, tempo: 100 }, { time: 11520, tempo: 120 }] },
      [[0, 0], [768, 0.6], [18432, 14.4], [18432 + 768, 14.9]]],
    ['no tempo before tick 960: 120 until then', { division: 480, tempos: [{ time: 960, tempo: 60 }] },
      [[0, 0], [1536, 1], [1536 + 768, 2]]],
    ['no tempo at all: 120', { division: 96, tempos: [] }, [[768, 0.5], [7680, 5]]],
    ['two tempos at one tick: the later one holds', { division: 480, tempos: [{ time: 0, tempo: 90 }, { time: 0, tempo: 60 }] },
      [[768, 1], [3072, 4]]],
    ['a division of 1000 ticks: music time is not a whole tick', { division: 1000, tempos: [{ time: 0, tempo: 60 }, { time: 500, tempo: 120 }] },
      [[384, 0.5], [768, 0.75]]],
  ];
  for (const [what, file, points] of cases) {
    const map = tempoMap(file);
    for (const [music, seconds] of points) {
      close(map.secondsAt(music), seconds, `${what}: seconds at ${music}`);
      close(map.musicAt(seconds), music, `${what}: music time at ${seconds} s`);
    }
  }
});

// A model as `vastrel show --json` gives it, reduced to what playback reads.
const note = (pitch, extra = {}) => ({ pitch, value: 0, dotted: 0, tieIn: 0, tieOut: 0, ...extra });
const chord = (value, notes, dotted = 0) => ({ value, dotted, notes });
const model = (...measures) => ({ track: { staves: [{ staff: 1, measures: measures.map((sections) => ({ sections })) }] } });

test('the notes played: one per struck note, tied pieces joined, values and dots in music time', () => {
  const map = tempoMap({ division: 480, tempos: [] });
  const cases = [
    ['a half note tied over the bar line to a quarter sounds once, for both',
      model([{ time: 0, chords: [chord(2, [note(60, { tieOut: 1 })])] }], [{ time: 960, chords: [chord(4, [note(60, { tieIn: 1 })])] }]),
      [{ pitch: 60, start: 0, end: 2304 }]],
    ['a dotted quarter and an eighth',
      model([{ time: 0, chords: [chord(4, [note(64)], 1)] }, { time: 720, chords: [chord(8, [note(62)])] }]),
      [{ pitch: 64, start: 0, end: 1152 }, { pitch: 62, start: 1152, end: 1536 }]],
    ['a chord where one note is tied on and one is struck again',
      model([{ time: 0, chords: [chord(4, [note(60, { tieOut: 1 }), note(67)])] }, { time: 480, chords: [chord(4, [note(60, { tieIn: 1 }), note(67)])] }]),
      [{ pitch: 60, start: 0, end: 1536 }, { pitch: 67, start: 0, end: 768 }, { pitch: 67, start: 768, end: 1536 }]],
    ['a rest and a voice where nothing starts are silent',
      model([{ time: 0, chords: [chord(4, []), chord(0, [])] }]),
      []],
    ['two voices, sorted by start',
      model([{ time: 240, chords: [chord(8, [note(72)])] }, { time: 0, chords: [chord(2, [note(48)])] }]),
      [{ pitch: 48, start: 0, end: 1536 }, { pitch: 72, start: 384, end: 768 }]],
  ];
  for (const [what, input, expected] of cases) assert.deepEqual(notesOf(input, map), expected, what);
});

// A stand-in for WebAudio that refuses what the real one refuses (times
// before zero) and keeps every note it is given.
class FakeParam {
  constructor(context) { this.context = context; this.value = 0; }
  check(time) { if (!(time >= 0)) throw new RangeError(`time must be a finite non-negative number: ${time}`); }
  setValueAtTime(v, t) { this.check(t); }
  linearRampToValueAtTime(v, t) { this.check(t); }
  exponentialRampToValueAtTime(v, t) { this.check(t); }
  setTargetAtTime(v, t) { this.check(t); }
}
class FakeNode {
  constructor(context) { this.context = context; this.gain = new FakeParam(context); this.frequency = new FakeParam(context); this.kind = 'oscillator'; }
  connect(node) { return node; }
  start(time) { this.context.started.push({ kind: this.kind, frequency: this.frequency.value, time }); }
  stop() {}
}
class FakeAudioContext {
  constructor() { this.currentTime = 10; this.state = 'running'; this.destination = new FakeNode(this); this.started = []; FakeAudioContext.last = this; }
  createDynamicsCompressor() { return new FakeNode(this); }
  createGain() { return new FakeNode(this); }
  createAnalyser() { return new FakeNode(this); }
  createOscillator() { return new FakeNode(this); }
  createBiquadFilter() { return new FakeNode(this); }
  createBufferSource() { const node = new FakeNode(this); node.kind = 'noise'; return node; }
  createBuffer(channels, length) { return { getChannelData: () => new Float32Array(length) }; }
  get sampleRate() { return 8000; }
  async resume() {}
}

test('playback from the middle strikes only what still sounds there, never before the start', async () => {
  globalThis.AudioContext = FakeAudioContext;
  try {
    const map = tempoMap({ division: 480, tempos: [{ time: 0, tempo: 60 }] });  // a quarter a second
    // Sorted by start: a long note, then a short one over before 768, then one after.
    const notes = [{ pitch: 48, start: 0, end: 3072 }, { pitch: 72, start: 96, end: 192 }, { pitch: 60, start: 1536, end: 2304 }];
    const player = createPlayer();
    await player.start(notes, map, 768);
    const context = FakeAudioContext.last;
    player.musicTime();
    context.currentTime += 2;  // two seconds on: every note is given to the context
    close(player.musicTime(), 768 + 2 * 768 - 0.06 * 768, 'music time on the audio clock');
    const struck = context.started.map(({ frequency, time }) => [Math.round(69 + 12 * Math.log2(frequency / 440)), +(time - 10).toFixed(3)]);
    assert.deepEqual(struck, [[48, 0.06], [60, 1.06]]);
    player.stop();
    assert.equal(player.musicTime(), null);
  } finally {
    delete globalThis.AudioContext;
  }
});

test('the kit voice of every drum key', () => {
  const cases = [[35, 'kick'], [36, 'kick'], [38, 'snare'], [40, 'snare'], [42, 'closed-hat'], [44, 'closed-hat'],
    [46, 'open-hat'], [49, 'cymbal'], [51, 'cymbal'], [57, 'cymbal'], [41, 'tom'], [50, 'tom'], [56, 'hit'], [81, 'hit'], [20, 'hit']];
  for (const [key, voice] of cases) assert.equal(kitVoiceOf(key), voice, `key ${key}`);
});

test('a drum track sounds on the kit, never as pitched notes', async () => {
  globalThis.AudioContext = FakeAudioContext;
  try {
    const map = tempoMap({ division: 480, tempos: [{ time: 0, tempo: 60 }] });
    const chord = (pitch) => ({ notes: [{ pitch, value: 4, dotted: 0, tieIn: 0, tieOut: 0 }], value: 4, dotted: 0 });
    const model = (percussion) => ({ track: { percussion, staves: [{ measures: [{ sections: [
      { time: 0, chords: [chord(36)] }, { time: 480, chords: [chord(42)] }] }] }] } });
    assert.deepEqual(notesOf(model(true), map).map((n) => n.drum), [true, true]);
    assert.deepEqual(notesOf(model(false), map).map((n) => n.drum), [undefined, undefined]);

    const player = createPlayer();
    await player.start(notesOf(model(true), map), map, 0);
    const context = FakeAudioContext.last;
    context.currentTime += 2;
    player.musicTime();
    assert.deepEqual(player.struck, { kick: 1, 'closed-hat': 1 });
    // The kick's sweep starts far above key 36's pitch (65 Hz); the hi-hat is noise.
    const pitchOf36 = 440 * 2 ** ((36 - 69) / 12);
    assert.ok(context.started.every((s) => s.kind === 'noise' || s.frequency !== pitchOf36), JSON.stringify(context.started));
    assert.deepEqual(context.started.map((s) => s.kind), ['oscillator', 'noise']);
    player.stop();
  } finally {
    delete globalThis.AudioContext;
  }
});
