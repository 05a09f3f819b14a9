// The page's pure helpers, in Node alone: how a track is cut into
// stretches, the beats the slider's arrow keys move by, the exporter's ids,
// and the words people read.
import { test } from 'node:test';
import assert from 'node:assert/strict';

import { rangeOf, stretchesOf, stretchOf } from '../src/stretches.js';
import { beatStep } from '../src/beats.js';
import { measureId, measureOfId, sectionOfId } from '../src/ids.js';
import { counted, emptyLine, looksLikeMidi, refusedLine, shownLine, trackOptions } from '../src/labels.js';

test('a track is cut into equal stretches of 80 to 180 measures, each measure in one', () => {
  const cases = [
    // [measures, stretches, size]
    [0, 1, 0],
    [12, 1, 12],
    [179, 1, 179],
    [180, 2, 90],
    [400, 3, 134],
    [1734, 14, 124],
  ];
  for (const [measures, count, size] of cases) {
    const stretches = stretchesOf(measures);
    assert.deepEqual(stretches, { count, size, measures }, `${measures} measures`);
    // Every measure falls in the stretch whose range holds it, and the
    // ranges follow one another to the last measure.
    let expectedFirst = 1;
    for (let index = 0; index < count && measures; index += 1) {
      const { first, last } = rangeOf(stretches, index);
      assert.equal(first, expectedFirst, `${measures} measures: stretch ${index} starts after the one before`);
      assert.equal(stretchOf(stretches, first), index);
      assert.equal(stretchOf(stretches, last), index);
      expectedFirst = last + 1;
    }
    if (measures) assert.equal(expectedFirst, measures + 1, `${measures} measures: the last stretch ends the track`);
    assert.equal(stretchOf(stretches, 0), 0, 'measure 0 (no notes) falls in the first');
  }
});

test('the slider moves by beats of the meter in force, a meter change being a beat of its own', () => {
  // 480 ticks a quarter note: 3/4 from the start, 6/8 from tick 2880 (music
  // time 4608), 2/2 from tick 5760 (music time 9216).
  const file = { division: 480, timeSignatures: [
    { time: 0, numerator: 3, denominator: 4 },
    { time: 2880, numerator: 6, denominator: 8 },
    { time: 5760, numerator: 2, denominator: 2 },
  ] };
  const cases = [
    // [what, from, direction, to]
    ['from the start, a quarter on', 0, 1, 768],
    ['between beats, to the next', 100, 1, 768],
    ['between beats, back to the one before', 900, -1, 768],
    ['on a beat, back a beat', 1536, -1, 768],
    ['never before the start', 0, -1, 0],
    ['a dotted quarter in 6/8', 4608, 1, 4608 + 1152],
    ['the last 6/8 beat stops at the change to 2/2', 9000, 1, 9216],
    ['back from the change, the last 6/8 beat', 9216, -1, 4608 + 3 * 1152],
    ['a half note in 2/2', 9216, 1, 9216 + 1536],
  ];
  for (const [what, from, direction, to] of cases) assert.equal(beatStep(file, from, direction), to, what);
  // Without a meter, 4/4.
  assert.equal(beatStep({ division: 96, timeSignatures: [] }, 10, 1), 768);
});

test("the exporter's ids name measures and sections, and nothing else", () => {
  const cases = [
    // [id, measure of a measure id, section of a note id]
    ['p1-m12', 12, null],
    ['p1-m3-s0-v1-n0', null, { measure: 3, section: 0, staff: 1 }],
    ['p1-m3-s7-v2-n1-tab', null, { measure: 3, section: 7, staff: 1 }],
    ['p1-m3-s2-v1-n0-staff2', null, { measure: 3, section: 2, staff: 2 }],
    ['p1-m3-rest-staff2', null, null],
    ['p1-m3-x', null, null],
    ['m-1234567', null, null],
  ];
  for (const [id, measure, section] of cases) {
    assert.equal(measureOfId(id), measure, id);
    assert.deepEqual(sectionOfId(id), section, id);
  }
  assert.equal(measureOfId(measureId(45)), 45);
});

// A file's report as `vastrel info --json` gives it, with what the words
// read: the titles the report gives (the exporter's rule for names, tested
// with it, makes them: "" for a name that names nothing).
const track = (number, title, instrument, noteCount, measureCount = 4, percussion = false) => ({ number, title, instrument, noteCount, measureCount, percussion });
const info = (format, tracks, { title = '', refusedTracks = [], count = tracks.length } = {}) =>
  ({ file: { format, title, tracks: count, tracksOffered: count }, tracks, refusedTracks });

test('the track list numbers tracks from 1 and keeps track numbers as values', () => {
  const cases = [
    ['a named track, its instrument beside', info(1, [track(0, 'Melody', 'Flute', 5)]), [[0, '1 · Melody (Flute)', false]]],
    ['a name that names nothing gives way to the instrument', info(1, [track(0, '', 'Oboe', 5), track(1, '', 'Viola', 3)]),
      [[0, '1 · Oboe', false], [1, '2 · Viola', false]]],
    ['a track without notes says so', info(1, [track(0, 'Conductor', '', 0), track(1, 'Bass', 'Tuba', 2)]),
      [[0, '1 · (no notes)', false], [1, '2 · Bass (Tuba)', false]]],
    ['format 0: the channels with notes, channel 10 as drums', info(0, [track(0, 'Channel 01', 'Piano', 0), track(2, 'Channel 03', 'Piano', 4), track(9, 'Channel 10', 'Piano', 4, 4, true)]),
      [[2, '3 · Channel 03 (Piano)', false], [9, '10 · Channel 10 (drums)', false]]],
    ['format 1: a drum track (the library says percussion) is drums, whatever its program; a mixed one keeps its instrument',
      info(1, [track(0, '', 'Piano', 4, 4, true), track(1, 'Kit', 'Piano', 4, 4, true), track(2, 'Band', 'Organ', 4)]),
      [[0, '1 · drums', false], [1, '2 · Kit (drums)', false], [2, '3 · Band (Organ)', false]]],
    ['a refused track, disabled, with the message and its id, in track order',
      info(1, [track(0, 'A', 'Harp', 1), track(2, 'C', 'Harp', 1)], { refusedTracks: [{ number: 1, message: 'Track parsing error!', id: 266 }] }),
      [[0, '1 · A (Harp)', false], [1, '2 · refused: Track parsing error! (error 266)', true], [2, '3 · C (Harp)', false]]],
  ];
  for (const [what, report, expected] of cases) {
    assert.deepEqual(trackOptions(report).map((o) => [o.value, o.label, o.disabled]), expected, what);
  }
});

test('the words people read: titles, counts, why nothing is drawn, and refusals', () => {
  assert.equal(counted(1, 'measure'), '1 measure');
  assert.equal(counted(2, 'note'), '2 notes');
  assert.equal(counted(0, 'note'), '0 notes');

  const one = track(0, 'Solo', 'Flute', 1, 1);
  assert.equal(shownLine(info(1, [one], { title: 'Song' }), 'song.kar', one), '“Song” · track 1 · Solo (Flute) · 1 measure, 1 note');
  assert.equal(shownLine(info(0, [track(3, 'Channel 04', 'Piano', 8)]), 'a.mid', track(3, 'Channel 04', 'Piano', 8)), 'a.mid · channel 4 · Channel 04 (Piano) · 4 measures, 8 notes');

  const silent = info(1, [track(0, 'A', 'Harp', 0), track(1, 'B', 'Harp', 0)]);
  assert.equal(emptyLine(silent, 'quiet.mid', 1), 'quiet.mid: no track of this file has notes, nothing to draw');
  const mixed = info(1, [track(0, 'A', 'Harp', 0), track(1, 'B', 'Harp', 3)]);
  assert.equal(emptyLine(mixed, 'some.mid', 0), 'some.mid: track 1 has no notes, nothing to draw');
  assert.match(emptyLine(info(1, [], { count: 0 }), 'c.mid'), /only its conductor track/);

  const bytes = (text) => new Uint8Array(Buffer.from(text, 'latin1'));
  assert.ok(looksLikeMidi(bytes('MThd\0\0\0\x06')));
  assert.ok(looksLikeMidi(bytes('RIFF\0\0\0\0RMIDdata')));
  assert.ok(!looksLikeMidi(bytes('This is text')));
  assert.ok(!looksLikeMidi(bytes('')));
  const header = { message: 'Track header is not found!', id: 262 };
  assert.equal(refusedLine(header, 'notes.txt', bytes('This is text')), 'notes.txt is not a MIDI file: Track header is not found! (error 262)');
  assert.equal(refusedLine(header, 'cut.mid', bytes('MThd\0\0')), 'Track header is not found! (error 262) — cut.mid');
  assert.equal(refusedLine({ message: 'the file could not be read', id: 0 }, 'x.mid'), 'the file could not be read — x.mid');
});
