// The tempo map and the notes played, in Node alone (no browser).
import { test } from 'node:test';
import assert from 'node:assert/strict';

import { notesOf, tempoMap } from '../src/player.js';

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
const model = (...measures) => ({ track: { measures: measures.map((sections) => ({ sections })) } });

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
