// The score viewer in a real browser: Debian's Chromium, headless, driven
// by playwright-core, against the page built by scripts/build-viewer.sh.
// What the page highlights is checked against the native tool
// (`vastrel position`), and the speed figures are printed, not asserted.
//
//   node --test viewer/test/    (after scripts/build-viewer.sh and a native build)
//
// VIEWER_SITE (default build-viewer/site), VASTREL_TOOL (default
// build/tools/vastrel), CHROMIUM (default /usr/bin/chromium) and
// VIEWER_SCREENSHOT (default build-viewer/viewer-playing.png) and
// VIEWER_GRAND_SCREENSHOT (default build-viewer/viewer-grand-staff.png)
// override the paths.
import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import { existsSync, mkdirSync, mkdtempSync, readdirSync, readFileSync, rmSync, statSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

import { startServer } from '../serve.js';

const repo = resolve(dirname(fileURLToPath(import.meta.url)), '../..');
const site = process.env.VIEWER_SITE ?? join(repo, 'build-viewer/site');
const tool = process.env.VASTREL_TOOL ?? join(repo, 'build/tools/vastrel');
const browserPath = process.env.CHROMIUM ?? '/usr/bin/chromium';
const screenshot = process.env.VIEWER_SCREENSHOT ?? join(repo, 'build-viewer/viewer-playing.png');
const grandStaffScreenshot = process.env.VIEWER_GRAND_SCREENSHOT ?? join(repo, 'build-viewer/viewer-grand-staff.png');
const corpus = join(repo, '../shared/corpus');
const example = join(repo, 'examples/little-waltz.mid');

// ---- The native tool: what the page must agree with ------------------------------

function toolJson(...args) {
  return JSON.parse(execFileSync(tool, [...args, '--json'], { encoding: 'utf8', maxBuffer: 64 << 20 }));
}

// The tool's answers for the track's (upper) staff; on a grand staff each
// gains the lower staff's section as lowerSection (null on one staff).
function positions(file, track, resolution, times) {
  const answer = toolJson('position', file, '--track', String(track), '--resolution', String(resolution), ...times.map(String));
  const lower = answer.staves?.[1]?.positions;
  return answer.positions.map((p, i) => ({ ...p, lowerSection: lower ? lower[i].section : null }));
}

// The tool's refusal of a file: "Track header is not found! (error 262)".
function refusal(file) {
  const run = spawnSync(tool, ['info', file], { encoding: 'utf8' });
  assert.equal(run.status, 1, `vastrel info ${file} should refuse the file`);
  const match = / (\S.* \(error \d+\))\s*$/.exec(run.stderr);
  assert.ok(match, run.stderr);
  return match[1].slice(match[1].indexOf(': ') + 2);
}

// ---- Small MIDI files written here ------------------------------------------------

const chunk = (type, bytes) => Buffer.concat([Buffer.from(type), Buffer.from([0, 0, bytes.length >> 8, bytes.length & 255]), Buffer.from(bytes)]);
const header = (format, tracks) => chunk('MThd', [0, format, tracks >> 8, tracks & 255, 0x01, 0xe0]);
const END = [0x00, 0xff, 0x2f, 0x00];
const TEMPO_120 = [0x00, 0xff, 0x51, 0x03, 0x07, 0xa1, 0x20];

// A format 1 file of one chunk, the conductor: nothing to choose.
const conductorOnly = Buffer.concat([header(1, 1), chunk('MTrk', [...TEMPO_120, ...END])]);
// A format 1 file of one chunk that holds the music as well: a whole note.
const musicInConductor = Buffer.concat([header(1, 1), chunk('MTrk', [...TEMPO_120, 0x00, 0x90, 60, 100, 0x8f, 0x00, 0x80, 60, 0, ...END])]);
// A format 1 file whose one music chunk holds a name and no note.
const emptyTrack = Buffer.concat([header(1, 2), chunk('MTrk', [...TEMPO_120, ...END]), chunk('MTrk', [0x00, 0xff, 0x03, 0x04, ...Buffer.from('Void'), ...END])]);

// A format 0 file: one quarter note on channel 3, then one on channel 6,
// then a bass drum on channel 10.
const twoChannels = Buffer.concat([header(0, 1), chunk('MTrk', [
  ...TEMPO_120,
  0x00, 0x92, 60, 100, 0x83, 0x60, 0x82, 60, 0,
  0x00, 0x95, 64, 100, 0x83, 0x60, 0x85, 64, 0,
  0x00, 0x99, 36, 100, 0x83, 0x60, 0x89, 36, 0,
  ...END])]);

// A format 1 file of a piano track (channel 1: a whole note) and a drum
// track (channel 10): two bars of a rock groove, closed hi-hat eighths,
// snare on two and four, bass drum on one and three, each hit a 64th.
function grooveFile() {
  const hits = [];
  for (let bar = 0; bar < 2; bar += 1) {
    for (let eighth = 0; eighth < 8; eighth += 1) hits.push([bar * 1920 + eighth * 240, 42]);
    hits.push([bar * 1920 + 480, 38], [bar * 1920 + 1440, 38], [bar * 1920, 36], [bar * 1920 + 960, 36]);
  }
  const events = [...hits.map(([t, k]) => [t, 0x99, k, 100]), ...hits.map(([t, k]) => [t + 30, 0x89, k, 0])]
    .sort((a, b) => a[0] - b[0]);
  let now = 0;
  const drums = events.flatMap(([t, status, key, velocity]) => {
    const delta = varLength(t - now);
    now = t;
    return [...delta, status, key, velocity];
  });
  return Buffer.concat([header(1, 3), chunk('MTrk', [...TEMPO_120, ...END]),
    chunk('MTrk', [0x00, 0x90, 60, 100, ...varLength(1920), 0x80, 60, 0, ...END]),
    chunk('MTrk', [...drums, ...END])]);
}

// A format 1 file whose title is Latin-1 ("Präludium", padded) and whose
// one track is named " - ", a placeholder: one quarter note.
const meta = (type, text) => [0x00, 0xff, type, text.length, ...text];
const latinNames = Buffer.concat([header(1, 2),
  chunk('MTrk', [...meta(0x03, Buffer.from('Pr\xe4ludium   in  D', 'latin1')), ...TEMPO_120, ...END]),
  chunk('MTrk', [...meta(0x03, Buffer.from(' - ')), 0x00, 0x90, 60, 100, 0x83, 0x60, 0x80, 60, 0, ...END])]);

// A format 1 file of many short tracks, each a bar of four quarter notes.
function manyTracks(count) {
  const bar = [0, 2, 4, 5].flatMap((step) => [0x00, 0x90, 60 + step, 90, 0x83, 0x60, 0x80, 60 + step, 0]);
  return Buffer.concat([header(1, count + 1), chunk('MTrk', [...TEMPO_120, ...END]), ...Array.from({ length: count }, () => chunk('MTrk', [...bar, ...END]))]);
}

// A karaoke file: its title tagged "@T", one quarter note.
const karaoke = Buffer.concat([header(1, 2),
  chunk('MTrk', [...meta(0x03, Buffer.from('@TSong of the page')), ...TEMPO_120, ...END]),
  chunk('MTrk', [0x00, 0x90, 60, 100, 0x83, 0x60, 0x80, 60, 0, ...END])]);

// A format 1 file whose third chunk starts with a data byte and no status:
// the library refuses that track alone.
const brokenTrack = Buffer.concat([header(1, 3), chunk('MTrk', [...TEMPO_120, ...END]),
  chunk('MTrk', [0x00, 0x90, 60, 100, 0x83, 0x60, 0x80, 60, 0, ...END]),
  chunk('MTrk', [0x00, 60, 100, ...END])]);

// A long piece, for the stretches a long track is drawn in: 400 measures
// at 240 quarter notes a minute (a 4/4 measure a second), 4/4 then 3/4
// from measure 201 with a key change to E flat, each measure a quarter
// note, a rest and a chord of two; the second half an octave and a half
// lower (the bass clef).
const varLength = (n) => {
  const bytes = [n & 0x7f];
  for (let rest = n >> 7; rest; rest >>= 7) bytes.unshift(0x80 | (rest & 0x7f));
  return bytes;
};
function longPiece(measures = 400) {
  const conductor = [0x00, 0xff, 0x51, 0x03, 0x03, 0xd0, 0x90, 0x00, 0xff, 0x58, 0x04, 4, 2, 24, 8];
  const music = [];
  let wait = 0;
  for (let m = 0; m < measures; m += 1) {
    const beats = m < measures / 2 ? 4 : 3;
    if (m === measures / 2) conductor.push(...varLength(measures / 2 * 4 * 480), 0xff, 0x58, 0x04, 3, 2, 24, 8, 0x00, 0xff, 0x59, 0x02, 0xfd, 0x00);
    const key = (m < measures / 2 ? 60 : 42) + (m % 12);
    music.push(...varLength(wait), 0x90, key, 90, 0x83, 0x60, 0x80, key, 0);
    music.push(0x83, 0x60, 0x90, key + 4, 90, 0x00, 0x90, key + 7, 90, ...varLength((beats - 2) * 480), 0x80, key + 4, 0, 0x00, 0x80, key + 7, 0);
    wait = 0;
  }
  return Buffer.concat([header(1, 2), chunk('MTrk', [...conductor, ...END]), chunk('MTrk', [...music, ...END])]);
}

// ---- The browser ------------------------------------------------------------------

const CHROMIUM_ARGS = [
  '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync',
  // Playback starts from a click of the test, which headless Chromium may
  // not count as a gesture: let the audio context run without one.
  '--autoplay-policy=no-user-gesture-required',
];

let server;
let context;
let page;
let profile;
const errors = [];
const speed = [];

function report(line) {
  speed.push(line);
  console.log(`speed: ${line}`);
}

// Waits until the page has finished opening one more file than `before`.
async function opened(before, timeout = 60000) {
  await page.waitForFunction((n) => window.vastrelViewer?.opens > n, before, { timeout });
  return page.evaluate(() => ({ state: document.body.dataset.state, status: document.getElementById('status').textContent }));
}

async function open(name, buffer, mimeType = 'audio/midi') {
  const before = await page.evaluate(() => window.vastrelViewer.opens);
  await page.setInputFiles('#midi-file', { name, mimeType, buffer });
  return opened(before);
}

// Every measure number drawn, over all pages (turning them), then back to
// the first page.
async function drawnMeasures() {
  const numbers = new Set();
  for (;;) {
    for (const n of await page.$$eval('g.measure[data-measure]', (all) => all.map((m) => Number(m.dataset.measure)))) numbers.add(n);
    if (await page.isDisabled('#page-next')) break;
    await page.click('#page-next');
  }
  while (!(await page.isDisabled('#page-previous'))) await page.click('#page-previous');
  return [...numbers].sort((a, b) => a - b);
}

async function seek(musicTime) {
  await page.$eval('#seek', (slider, value) => {
    slider.value = String(value);
    slider.dispatchEvent(new Event('input', { bubbles: true }));
  }, musicTime);
}

// What carries the class `playing`: the measures, and the chords and rests
// of each section as "M:T:S" (T the staff: 1, or 2 below a grand staff);
// with the count of chords and rests drawn for section S of measure M on
// the upper staff and for section lowerSection on the lower one (none
// where the section only continues what an earlier one struck).
function highlight(expected = { measure: 0, section: 0, lowerSection: null }) {
  return page.evaluate(({ measure, section, lowerSection }) => {
    const marked = [...document.querySelectorAll('.playing')];
    const measures = marked.filter((e) => e.classList.contains('measure')).map((e) => Number(e.dataset.measure));
    const chords = marked.filter((e) => !e.classList.contains('measure'));
    const sections = [...new Set(chords.map((e) => `${e.dataset.measure}:${e.dataset.staff}:${e.dataset.section}`))].sort();
    const drawnOn = (staff, at) => document.querySelectorAll(`[data-measure="${measure}"][data-staff="${staff}"][data-section="${at}"]:not(.measure)`).length;
    const drawn = { upper: drawnOn(1, section), lower: lowerSection === null || lowerSection === undefined ? 0 : drawnOn(2, lowerSection) };
    return { measures, sections, chords: chords.length, drawn };
  }, expected);
}

function assertHighlight(seen, expected, what) {
  assert.deepEqual(seen.measures, [expected.measure], `${what}: the measure marked`);
  const sections = [];
  if (seen.drawn.upper) sections.push(`${expected.measure}:1:${expected.section}`);
  if (seen.drawn.lower) sections.push(`${expected.measure}:2:${expected.lowerSection}`);
  assert.deepEqual(seen.sections, sections.sort(), `${what}: the section marked on each staff`);
  assert.equal(seen.chords, seen.drawn.upper + seen.drawn.lower, `${what}: every chord of the section is marked`);
}

async function checkPositions(file, track, resolution, times) {
  const expected = positions(file, track, resolution, times);
  for (const want of expected) {
    await seek(want.musicTime);
    assertHighlight(await highlight(want), want, `track ${track}, grid ${resolution}, music time ${want.musicTime}`);
  }
}

describe('score viewer', () => {
  before(async () => {
    assert.ok(existsSync(join(site, 'index.html')), `${site}: build the page first (scripts/build-viewer.sh)`);
    assert.ok(existsSync(tool), `${tool}: build the native tool first (cmake --build build --target vastrel_tool)`);
    server = await startServer(site, 0);
    profile = mkdtempSync(join(tmpdir(), 'vastrel-viewer-chromium-'));
    context = await chromium.launchPersistentContext(profile, {
      executablePath: browserPath,
      headless: true,
      args: CHROMIUM_ARGS,
      viewport: { width: 1280, height: 800 },
    });
    page = context.pages()[0] ?? (await context.newPage());
    page.on('pageerror', (error) => errors.push(error.message));
    await page.goto(`http://127.0.0.1:${server.address().port}/`);
    await opened(0);
  });

  after(async () => {
    await context?.close();
    server?.close();
    if (profile) rmSync(profile, { recursive: true, force: true });
    if (speed.length) console.log(`speed summary (not asserted):\n  ${speed.join('\n  ')}`);
  });

  test('the bundled example is drawn at start, every measure of its first track', async () => {
    const state = await page.evaluate(() => document.body.dataset.state);
    assert.equal(state, 'ready');
    const info = toolJson('info', example);
    const measures = info.tracks[0].measureCount;
    assert.deepEqual(await drawnMeasures(), Array.from({ length: measures }, (_, i) => i + 1));
    assert.equal(await page.$eval('#track', (s) => s.value), '0');
    const names = await page.$$eval('#track option', (all) => all.map((o) => o.textContent));
    assert.equal(names.length, info.tracks.length);
    for (const track of info.tracks) assert.ok(names.some((n) => n.includes(track.name) && n.includes(track.instrument)), `${track.name} listed`);
    const t = await page.evaluate(() => window.vastrelViewer.timings.lastOpen);
    const started = await page.evaluate(() => window.vastrelViewer.timings.started);
    report(`page start: ${Math.round(started)} ms from navigation to the example drawn (both WebAssembly modules loaded and compiled)`);
    report(`example: ${Math.round(t.total)} ms from start of the file's read to first page drawn (parse ${t.parse.toFixed(1)}, export ${t.export.toFixed(1)}, Verovio layout ${Math.round(t.layout)}, page ${Math.round(t.render)} ms)`);
  });

  test('the seek slider highlights the measure and section that `vastrel position` gives', async () => {
    const times = [0, 700, 2304, 3000, 4700, 7000, 9216, 11000, 13000, 16000, 18432, 19000, 21000, 23100, 24000];
    await checkPositions(example, 0, 16, times);
    // Most of these sections strike something: the chords are marked.
    let striking = 0;
    for (const want of positions(example, 0, 16, times)) {
      await seek(want.musicTime);
      if ((await highlight(want)).chords > 0) striking += 1;
    }
    assert.ok(striking >= 10, `${striking} of ${times.length} times mark chords`);
  });

  test('playback follows the audio clock: the highlight moves on within a second', async () => {
    await seek(0);
    const start = await highlight();
    await page.click('#play');
    await page.waitForFunction(() => document.body.dataset.state === 'playing');
    const t0 = Date.now();
    // Sound reaches the output while the first measure plays.
    await page.waitForTimeout(300);
    const level = await page.evaluate(() => window.vastrelViewer.following.level());
    await page.waitForTimeout(700);
    const [musicTime, frames, audioTime] = await page.evaluate(() => [
      Number(document.getElementById('seek').value),
      window.vastrelViewer.following.frames,
      window.vastrelViewer.following.audioSeconds(),
    ]);
    const moved = await highlight();
    await page.screenshot({ path: screenshot });
    const elapsed = (Date.now() - t0) / 1000;
    await page.click('#play');
    assert.equal(await page.evaluate(() => document.body.dataset.state), 'ready');
    // 100 quarter notes a minute: a second is 1280 units; allow for the
    // start-up of the audio output and the test's own latency.
    assert.ok(musicTime > 500 && musicTime < 2600, `music time after a second: ${musicTime}`);
    assert.ok(audioTime > 0.5, `the audio clock ran ${audioTime} s`);
    assert.ok(level > 0.005, `the synthesiser sounds: level ${level}`);
    assert.notDeepEqual([moved.measures, moved.sections], [start.measures, start.sections], 'the highlight moved on');
    const [want] = positions(example, 0, 16, [Math.floor(musicTime)]);
    assert.equal(moved.measures[0], want.measure, 'the measure marked is the one the slider shows');
    report(`following playback: ${(frames / elapsed).toFixed(0)} frames per second (${frames} frames in ${elapsed.toFixed(2)} s)`);

    // The space bar plays and pauses too, once per press, wherever the
    // focus is but in a control.
    await page.$eval('#play', (button) => button.blur());
    await page.keyboard.press(' ');
    assert.equal(await page.evaluate(() => document.body.dataset.state), 'playing');
    await page.keyboard.press(' ');
    assert.equal(await page.evaluate(() => document.body.dataset.state), 'ready');
    await page.focus('#play');
    await page.keyboard.press(' ');
    assert.equal(await page.evaluate(() => document.body.dataset.state), 'playing', 'a space on the focused button plays once');
    await page.click('#play');
  });

  test('one position lookup from JavaScript', async () => {
    const micro = await page.evaluate(() => {
      const { vastrel } = window.vastrelViewer;
      const count = 100000;
      const t0 = performance.now();
      for (let i = 0; i < count; i += 1) vastrel.position((i * 97) % 24576);
      return ((performance.now() - t0) * 1000) / count;
    });
    report(`position lookup: ${micro.toFixed(2)} µs a call (100,000 calls over the example's first track)`);
    assert.ok(micro > 0);
  });

  test('grid, track and transposition changes redraw at once', async () => {
    const svg = () => page.$eval('#score', (s) => s.innerHTML);
    const before = await svg();

    await page.selectOption('#resolution', '8');
    assert.equal(await page.evaluate(() => document.body.dataset.state), 'ready');
    assert.notEqual(await svg(), before, 'a coarser grid draws differently');
    await checkPositions(example, 0, 8, [0, 3000, 21000]);
    await page.selectOption('#resolution', '16');

    await page.selectOption('#track', '1');
    assert.equal(await page.evaluate(() => document.body.dataset.state), 'ready');
    const bass = await page.$$eval('g.clef', (all) => all.length);
    assert.ok(bass > 0);
    await checkPositions(example, 1, 16, [0, 2304, 9000, 20000]);
    await page.selectOption('#track', '0');

    const sharps = () => page.$$eval('g.measure[data-measure="1"] g.keySig g.keyAccid', (all) => all.length);
    assert.equal(await sharps(), 1, 'G major');
    await page.fill('#transpose', '2');
    assert.equal(await sharps(), 3, 'two semitones up: A major');
    await page.fill('#transpose', '0');
    assert.equal(await sharps(), 1);
  });

  test('the tablature toggle adds a guitar staff to the same track', async () => {
    await page.check('#tablature');
    assert.equal(await page.evaluate(() => document.body.dataset.state), 'ready');
    const tab = await page.$$eval('g.tabGrp[data-section]', (all) => all.length);
    assert.ok(tab > 0, 'frets drawn on a tablature staff');
    // Rests are the note staff's alone: none drawn on the TAB staff, and
    // none with an id Verovio made up.
    const rests = await page.$$eval('g.rest, g.mRest', (all) => all.map((r) => ({ id: r.id, tab: !!r.closest('g.staff')?.querySelector('g.tabGrp') })));
    assert.ok(rests.length > 0, 'the note staff shows its rests');
    assert.deepEqual(rests.filter((r) => r.tab || !/^p\d+-m\d+-/.test(r.id)), [], 'no rest on the TAB staff');
    await checkPositions(example, 0, 16, [700, 9216]);
    await page.uncheck('#tablature');
  });

  test('files the library refuses show its message, leave nothing drawn, and the page recovers', async () => {
    const scratch = mkdtempSync(join(tmpdir(), 'vastrel-viewer-'));
    try {
      const text = Buffer.from('This is a text file, not a Standard MIDI File.\n');
      const truncated = readFileSync(example).subarray(0, 200);
      for (const [name, bytes] of [['notes.txt', text], ['truncated.mid', truncated]]) {
        writeFileSync(join(scratch, name), bytes);
        const message = refusal(join(scratch, name));
        const { state, status } = await open(name, bytes, name.endsWith('.txt') ? 'text/plain' : 'audio/midi');
        assert.equal(state, 'error', name);
        assert.ok(status.includes(message), `${name}: "${status}" shows "${message}"`);
        assert.equal(status.includes('is not a MIDI file'), name === 'notes.txt', `${name}: "${status}"`);
        assert.equal(await page.$$eval('#score svg, .playing, [data-measure]', (all) => all.length), 0, `${name}: nothing drawn`);
        assert.ok(await page.isDisabled('#play'));
      }
      assert.ok(refusal(join(scratch, 'notes.txt')).includes('Track header is not found! (error 262)'));
      const { state } = await open('little-waltz.mid', readFileSync(example));
      assert.equal(state, 'ready');
      assert.equal((await drawnMeasures()).length, 12);
      const t = await page.evaluate(() => window.vastrelViewer.timings.lastOpen);
      report(`example opened again: ${Math.round(t.total)} ms from start of the file's read to first page drawn (Verovio layout ${Math.round(t.layout)}, page ${Math.round(t.render)} ms)`);
    } finally {
      rmSync(scratch, { recursive: true, force: true });
    }
  });

  test('a format 0 file lists its channels that have notes, channel 10 as drums', async () => {
    const { state } = await open('channels.mid', twoChannels);
    assert.equal(state, 'ready');
    assert.deepEqual(await page.$$eval('#track option', (all) => all.map((o) => o.value)), ['2', '5', '9']);
    assert.match(await page.$eval('#track option[value="9"]', (o) => o.textContent), /^10 · Channel 10 \(drums\)$/);
    assert.equal(await page.$eval('#track', (s) => s.value), '2');
    await page.selectOption('#track', '5');
    assert.equal(await page.evaluate(() => document.body.dataset.state), 'ready');
    assert.ok((await page.$$eval('g.measure[data-measure]', (all) => all.length)) >= 1);
  });

  test('a drum track is labelled drums, drawn on a percussion staff and played on the synthesised kit', async () => {
    const { state } = await open('groove.mid', grooveFile());
    assert.equal(state, 'ready');
    assert.match(await page.$eval('#track option[value="1"]', (o) => o.textContent), /^2 · drums$/);
    await page.selectOption('#track', '1');
    assert.equal(await page.evaluate(() => document.body.dataset.state), 'ready');
    assert.ok(await page.isDisabled('#tablature'), 'no tablature for drums');
    // Drawn from the export: unpitched notes with x heads for the hi-hat.
    const xml = await page.evaluate(() => window.vastrelViewer.vastrel.musicXml());
    assert.match(xml, /<sign>percussion<\/sign>/);
    assert.doesNotMatch(xml, /<pitch>/);
    assert.equal((xml.match(/<notehead>x<\/notehead>/g) ?? []).length, 16);
    assert.ok((await page.$$eval('g.note', (all) => all.length)) >= 24, 'every hit drawn');
    mkdirSync(join(repo, 'docs'), { recursive: true });
    await page.locator('#score').screenshot({ path: join(repo, 'docs/drum-part.png') });

    // The drum track alone, then every track: the kit's voices sound, and
    // no drum key is sounded as a pitch (only the piano's note is pitched).
    for (const all of [false, true]) {
      await page.setChecked('#all-tracks', all);
      const before = await page.evaluate(() => window.vastrelViewer.struck);
      await seek(0);
      await page.click('#play');
      await page.waitForFunction(() => document.body.dataset.state === 'playing');
      await page.waitForFunction((kicks) => (window.vastrelViewer.struck.kick ?? 0) >= kicks + 2, before.kick ?? 0, { timeout: 10000 });
      await page.click('#play');
      const after = await page.evaluate(() => window.vastrelViewer.struck);
      const gained = (voice) => (after[voice] ?? 0) - (before[voice] ?? 0);
      assert.ok(gained('closed-hat') > 0 && gained('snare') > 0, `kit voices used (${JSON.stringify(after)})`);
      assert.equal(gained('pitched'), all ? 1 : 0, 'only the piano is pitched');
    }
    await page.setChecked('#all-tracks', true);
    await page.selectOption('#track', '0');
    assert.ok(!(await page.isDisabled('#tablature')), 'the toggle is back for a pitched track');
  });

  test('a piano part on a grand staff: both staves drawn, the chords of both marked where `vastrel position` puts each staff', async (t) => {
    const file = join(corpus, 'npm-midiconvert__bwv-847.mid');
    if (!existsSync(file)) {
      t.skip(`${file} is absent`);
      return;
    }
    const { state } = await open('bwv-847.mid', readFileSync(file));
    assert.equal(state, 'ready');
    // Every chord drawn says its staff, and both staves have chords.
    const staves = await page.$$eval('[data-section]', (all) => [...new Set(all.map((e) => e.dataset.staff))].sort());
    assert.deepEqual(staves, ['1', '2']);
    const model = toolJson('show', file, '--track', '0');
    assert.deepEqual(model.track.staves.map((staff) => staff.staff), [1, 2]);
    const times = [0, 200, 700, 1536, 2000, 3100, 4700, 6000, 7400];
    const answers = positions(file, 0, 16, times);
    assert.ok(answers.every((a) => a.lowerSection !== null), 'the tool answers for the lower staff');
    await checkPositions(file, 0, 16, times);
    // Most of these times strike notes on both staves.
    let both = 0;
    for (const want of answers) {
      await seek(want.musicTime);
      const seen = await highlight(want);
      if (seen.drawn.upper && seen.drawn.lower) both += 1;
    }
    assert.ok(both >= 5, `${both} of ${times.length} times mark chords on both staves`);
    // Playback follows both staves; the picture of it goes to the docs.
    await seek(0);
    await page.click('#play');
    await page.waitForFunction(() => document.querySelectorAll('[data-staff="2"].playing').length > 0, null, { timeout: 10000 });
    await page.waitForTimeout(600);
    await page.screenshot({ path: grandStaffScreenshot });
    await page.click('#play');
    assert.equal(await page.evaluate(() => document.body.dataset.state), 'ready');
  });

  test('a format 1 file whose only chunk holds the music offers it as track 1 and draws it', async () => {
    const { state, status } = await open('solo.mid', musicInConductor);
    assert.equal(state, 'ready');
    assert.match(status, /1 measure, 1 note$/);
    assert.deepEqual(await page.$$eval('#track option', (all) => all.map((o) => o.value)), ['0']);
    assert.deepEqual(await drawnMeasures(), [1]);
  });

  test('names from the file: Latin-1 read as such, blanks run together, placeholders left out for the instrument', async () => {
    const { state, status } = await open('names.mid', latinNames);
    assert.equal(state, 'ready');
    assert.match(status, /^“Präludium in D” · track 1 · Acoustic grand piano · 1 measure, 1 note$/);
    assert.deepEqual(await page.$$eval('#track option', (all) => all.map((o) => o.textContent)), ['1 · Acoustic grand piano']);
    assert.match(await page.$eval('g.label', (e) => e.textContent), /Acoustic grand piano/, 'the part named as in the track list');
    assert.match(await page.$eval('g.pgHead', (e) => e.textContent), /Präludium/, 'the score title as in the status line');
  });

  test('a file with nothing to show says why', async () => {
    let seen = await open('conductor.mid', conductorOnly);
    assert.equal(seen.state, 'empty');
    assert.match(seen.status, /only its conductor track/);
    assert.equal(await page.$$eval('#score svg', (all) => all.length), 0);
    seen = await open('empty.mid', emptyTrack);
    assert.equal(seen.state, 'empty');
    assert.match(seen.status, /no track of this file has notes/);
    assert.equal(await page.$$eval('#score svg', (all) => all.length), 0);
  });

  test('a file dropped on the page opens', async () => {
    const before = await page.evaluate(() => window.vastrelViewer.opens);
    await page.evaluate((bytes) => {
      const transfer = new DataTransfer();
      transfer.items.add(new File([new Uint8Array(bytes)], 'dropped.mid', { type: 'audio/midi' }));
      document.body.dispatchEvent(new DragEvent('drop', { dataTransfer: transfer, bubbles: true, cancelable: true }));
    }, [...emptyTrack]);
    const { state, status } = await opened(before);
    assert.equal(state, 'empty');
    assert.match(status, /^dropped\.mid: no track of this file has notes/);
  });

  test('the largest file of the shared corpus opens', async (t) => {
    if (!existsSync(corpus)) {
      t.skip(`${corpus} is absent`);
      return;
    }
    const files = readdirSync(corpus).filter((f) => /\.midi?$/i.test(f)).map((f) => join(corpus, f));
    if (!files.length) {
      t.skip('no MIDI file in the corpus');
      return;
    }
    const largest = files.reduce((a, b) => (statSync(b).size > statSync(a).size ? b : a));
    const name = largest.slice(corpus.length + 1);
    const { state } = await open(name, readFileSync(largest));
    assert.equal(state, 'ready');
    assert.ok((await page.$$eval('g.measure[data-measure]', (all) => all.length)) > 0);
    let timing = await page.evaluate(() => window.vastrelViewer.timings.lastOpen);
    report(`${name} (${timing.bytes} bytes): ${Math.round(timing.total)} ms from start of the file's read to first page drawn (track ${await page.$eval('#track', (s) => s.value)}; parse ${timing.parse.toFixed(1)}, export ${timing.export.toFixed(1)}, Verovio layout ${Math.round(timing.layout)}, page ${Math.round(timing.render)} ms)`);

    // Its track with the most notes, drawn and followed.
    const info = toolJson('info', largest);
    const busiest = info.tracks.reduce((a, b) => (b.noteCount > a.noteCount ? b : a));
    assert.ok(busiest.noteCount >= 1000, `${name}: a track of ${busiest.noteCount} notes`);
    const t0 = await page.evaluate(() => performance.now());
    await page.selectOption('#track', String(busiest.number));
    const t1 = await page.evaluate(() => performance.now());
    assert.equal(await page.evaluate(() => document.body.dataset.state), 'ready');
    timing = await page.evaluate(() => window.vastrelViewer.timings.lastDraw);
    report(`${name}, track ${busiest.number} (${busiest.noteCount} notes, ${busiest.measureCount} measures): ${Math.round(t1 - t0)} ms to parse, export and draw its first page (export ${timing.export.toFixed(1)} ms, ${timing.xmlBytes} bytes; Verovio layout ${Math.round(timing.layout)} ms)`);
    const end = busiest.endTime * 768 / info.file.division;
    await checkPositions(largest, busiest.number, 16, [0, Math.floor(end / 3), Math.floor(end / 2), Math.floor(end - 100)]);

    // Playing every track of it from the middle, following the drawn one.
    await seek(Math.floor(end / 2));
    const started = Date.now();
    await page.click('#play');
    await page.waitForFunction(() => document.body.dataset.state === 'playing');
    const toStart = Date.now() - started;
    await page.waitForTimeout(1000);
    const [frames, audio, level, status] = await page.evaluate(() => [
      window.vastrelViewer.following.frames,
      window.vastrelViewer.following.audioSeconds(),
      window.vastrelViewer.following.level(),
      document.getElementById('status').textContent,
    ]);
    await page.click('#play');
    assert.doesNotMatch(status, /could not/);
    assert.ok(audio > 0.5, `the audio clock ran ${audio} s`);
    assert.ok(level > 0.005, `the synthesiser sounds: level ${level}`);
    report(`${name}, every track playing, the busiest followed: ${toStart} ms from the click to playing, ${(frames / audio).toFixed(0)} frames per second of the audio clock`);
  });

  test('a long track is drawn a stretch at a time, and seeking, playback and page turning cross stretches', async () => {
    const scratch = mkdtempSync(join(tmpdir(), 'vastrel-viewer-'));
    const stretch = () => page.evaluate(() => window.vastrelViewer.stretch);
    const settled = () => page.waitForFunction(() => !window.vastrelViewer.stretch?.loading && document.body.dataset.state !== 'loading');
    const drawnNow = () => page.$$eval('g.measure[data-measure]', (all) => all.map((m) => Number(m.dataset.measure)));
    try {
      // The first page of the corpus's longest piece, when it is there:
      // printed, not asserted (before the stretches: 2.7 s quiet, 4.6 s loaded).
      const gs = join(corpus, 'gh-jazzsoft__test-all-gs-sounds.mid');
      if (existsSync(gs)) {
        const { state } = await open('test-all-gs-sounds.mid', readFileSync(gs));
        assert.equal(state, 'ready');
        const t = await page.evaluate(() => window.vastrelViewer.timings.lastOpen);
        const s = await stretch();
        report(`test-all-gs-sounds.mid (${s.count} stretches): ${Math.round(t.total)} ms from start of the file's read to first page drawn (export ${t.export.toFixed(1)}, Verovio layout ${Math.round(t.layout)}, page ${Math.round(t.render)} ms)`);
      }

      const file = join(scratch, 'long.mid');
      writeFileSync(file, longPiece());
      const { state } = await open('long.mid', readFileSync(file));
      assert.equal(state, 'ready');
      const t = await page.evaluate(() => window.vastrelViewer.timings.lastOpen);
      const info = toolJson('info', file);
      assert.equal(info.tracks[0].measureCount, 400);
      let s = await stretch();
      assert.equal(s.index, 0);
      assert.ok(s.count >= 3 && s.last >= 80 && s.last <= 180, `stretches: ${JSON.stringify(s)}`);
      report(`long.mid (400 measures, ${s.count} stretches): ${Math.round(t.total)} ms from start of the file's read to first page drawn (Verovio layout ${Math.round(t.layout)} ms)`);
      const first = await drawnNow();
      assert.equal(first[0], 1);
      assert.ok(Math.max(...first) <= s.last);
      assert.match(await page.$eval('#page-number', (e) => e.textContent), new RegExp(`measures 1–${s.last} of 400`));

      // Seeking far into the piece, and back: what the tool gives.
      const end = Math.floor(info.tracks[0].endTime * 768 / info.file.division);
      await checkPositions(file, 0, 16, [Math.floor(end * 0.9), end - 100, Math.floor(end / 2), 700, Math.floor(end * 0.7)]);
      await page.selectOption('#resolution', '8');
      await checkPositions(file, 0, 8, [Math.floor(end * 0.8), 100]);
      await page.selectOption('#resolution', '16');

      // Playback from just before the end of the first stretch crosses
      // into the second, laid out ahead in the layout worker: it is shown
      // and followed at once. The frames drawn meanwhile are timed: the
      // longest gap between two, and the one where the stretch changed,
      // are printed.
      await seek(0);
      s = await stretch();
      const [before] = positions(file, 0, 16, [0]);
      assert.equal(before.measure, 1);
      const boundary = (s.last - 1) * 4 * 768;  // the last measure of the stretch (4/4)
      await seek(boundary);
      await page.waitForFunction(() => window.vastrelViewer.stretch?.ahead === 1, null, { timeout: 30000 });
      await page.evaluate(() => {
        const frames = { gaps: [], crossing: null, running: true };
        window.frameTimes = frames;
        let last = performance.now();
        let index = window.vastrelViewer.stretch.index;
        const tick = (now) => {
          const at = window.vastrelViewer.stretch?.index;
          frames.gaps.push(now - last);
          if (at !== index && frames.crossing === null) frames.crossing = now - last;
          index = at;
          last = now;
          if (frames.running) requestAnimationFrame(tick);
        };
        requestAnimationFrame(tick);
      });
      await page.click('#play');
      await page.waitForFunction((last) => Number(document.querySelector('g.measure.playing')?.dataset.measure) > last, s.last, { timeout: 10000 });
      await page.waitForTimeout(300);
      const frames = await page.evaluate(() => {
        window.frameTimes.running = false;
        return window.frameTimes;
      });
      await page.click('#play');
      await settled();
      const crossed = await page.evaluate(() => window.vastrelViewer.timings.lastDraw);
      assert.equal(crossed.ahead, true, 'the second stretch was laid out ahead');
      const sorted = [...frames.gaps].sort((a, b) => a - b);
      report(`long.mid, playback crossing into the second stretch (laid out ahead): the crossing frame ${frames.crossing?.toFixed(1)} ms after the one before (showing the stretch ${crossed.render.toFixed(1)} ms); longest gap between frames ${sorted[sorted.length - 1].toFixed(1)} ms, median ${sorted[sorted.length >> 1].toFixed(1)} ms over ${frames.gaps.length} frames`);
      const musicTime = Number(await page.$eval('#seek', (e) => e.value));
      const [want] = positions(file, 0, 16, [Math.floor(musicTime)]);
      assertHighlight(await highlight(want), want, `after playback crossed into the second stretch, music time ${musicTime}`);
      assert.equal((await stretch()).index, 1);

      // Page turning: past the last page of a stretch comes the next one,
      // and back.
      await seek(0);
      assert.equal((await stretch()).index, 0);
      for (let turns = 0; (await stretch()).index === 0 && turns < 50; turns += 1) {
        await page.click('#page-next');
        await settled();
      }
      s = await stretch();
      assert.equal(s.index, 1);
      assert.equal(Math.min(...(await drawnNow())), s.first, 'the next stretch from its first measure');
      await page.click('#page-previous');
      await settled();
      assert.equal((await stretch()).index, 0);
      assert.equal(Math.max(...(await drawnNow())), s.first - 1, 'the previous stretch at its last page');
      assert.ok(!(await page.isDisabled('#page-previous')));

      // The pages turned away from the place marked, seeking to that place
      // again brings its page back.
      await seek(700);
      const marked = () => page.$$eval('g.measure.playing', (all) => all.map((m) => Number(m.dataset.measure)));
      assert.deepEqual(await marked(), [1]);
      await page.click('#page-next');
      assert.deepEqual(await marked(), [], 'measure 1 is not on the second page');
      await seek(700);
      assert.deepEqual(await marked(), [1], 'seeking to the place marked shows it again');
    } finally {
      rmSync(scratch, { recursive: true, force: true });
    }
  });

  test('the words: a karaoke title without its tag, a refused track with its message id, no timing left on the status line', async () => {
    let seen = await open('song.kar', karaoke);
    assert.equal(seen.state, 'ready');
    assert.match(seen.status, /^“Song of the page” · track 1 · /);
    assert.doesNotMatch(seen.status, /@T|drawn in/);

    seen = await open('broken.mid', brokenTrack);
    assert.equal(seen.state, 'ready');
    const options = await page.$$eval('#track option', (all) => all.map((o) => [o.value, o.textContent, o.disabled]));
    assert.deepEqual(options.map(([value]) => value), ['0', '1']);
    assert.match(options[1][1], /^2 · refused: .+ \(error \d+\)$/, 'the refused track: its message and id');
    assert.equal(options[1][2], true);
  });

  test('the controls: transposition kept within its box, the slider moved by beats, the place marked brought back', async () => {
    await open('little-waltz.mid', readFileSync(example));
    const sharps = () => page.$$eval('g.measure[data-measure="1"] g.keySig g.keyAccid', (all) => all.length);
    for (const [typed, kept] of [['99', '48'], ['-99', '-48'], ['0', '0']]) {
      await page.fill('#transpose', typed);
      assert.equal(await page.$eval('#transpose', (e) => e.value), kept, `${typed} typed`);
      assert.equal(await page.evaluate(() => document.body.dataset.state), 'ready');
    }
    assert.equal(await sharps(), 1, 'four octaves either way keep G major');

    // The example is in 3/4: a beat is a quarter note, 768.
    await seek(100);
    await page.focus('#seek');
    for (const [key, musicTime] of [['ArrowRight', 768], ['ArrowRight', 1536], ['ArrowUp', 2304], ['ArrowLeft', 1536], ['ArrowDown', 768]]) {
      await page.keyboard.press(key);
      assert.equal(Number(await page.$eval('#seek', (e) => e.value)), musicTime, `${key}: a beat`);
      const [want] = positions(example, 0, 16, [musicTime]);
      assertHighlight(await highlight(want), want, `${key} to ${musicTime}`);
    }
    await page.$eval('#seek', (e) => e.blur());
  });

  test('a position lookup that fails during playback stops it in the error state, not a frozen cursor', async () => {
    await seek(0);
    await page.click('#play');
    await page.waitForFunction(() => document.body.dataset.state === 'playing');
    await page.evaluate(() => {
      const { vastrel } = window.vastrelViewer;
      vastrel.workingPosition = vastrel.position;
      vastrel.position = () => { throw new Error('the lookup failed on purpose'); };
    });
    await page.waitForFunction(() => document.body.dataset.state === 'error', null, { timeout: 5000 });
    const status = await page.$eval('#status', (e) => e.textContent);
    assert.match(status, /playback stopped: the lookup failed on purpose/);
    assert.equal(await page.evaluate(() => window.vastrelViewer.following.audioSeconds()), null, 'the sound stopped');
    assert.ok(await page.isDisabled('#play'));
    assert.equal(await page.$$eval('.playing, #score svg', (all) => all.length), 0);
    await page.evaluate(() => {
      const { vastrel } = window.vastrelViewer;
      vastrel.position = vastrel.workingPosition;
      delete vastrel.workingPosition;
    });
    assert.equal((await open('little-waltz.mid', readFileSync(example))).state, 'ready');
  });

  test('a file that cannot be read says so', async () => {
    const before = await page.evaluate(() => window.vastrelViewer.opens);
    await page.evaluate(() => {
      window.readableFile = File.prototype.arrayBuffer;
      File.prototype.arrayBuffer = () => Promise.reject(new Error('the disk went away'));
      const transfer = new DataTransfer();
      transfer.items.add(new File([new Uint8Array([1, 2, 3])], 'lost.mid', { type: 'audio/midi' }));
      document.body.dispatchEvent(new DragEvent('drop', { dataTransfer: transfer, bubbles: true, cancelable: true }));
    });
    const { state, status } = await opened(before);
    await page.evaluate(() => { File.prototype.arrayBuffer = window.readableFile; });
    assert.equal(state, 'error');
    assert.match(status, /could not be read \(the disk went away\) — lost\.mid/);
  });

  test("the library's memory stays under 64 MB: a file of 379 tracks, the corpus's file of most tracks, every corpus file opened in one page", async (t) => {
    const LIMIT = 64 * 2 ** 20;
    const megabytes = (bytes) => `${(bytes / 2 ** 20).toFixed(1)} MB`;
    const memory = () => page.evaluate(() => window.vastrelViewer.vastrel.memoryBytes());
    const startBytes = await memory();
    const seen = await open('many-tracks.mid', manyTracks(379));
    assert.equal(seen.state, 'ready');
    assert.equal(await page.$$eval('#track option', (all) => all.length), 379);
    const afterMany = await memory();
    report(`memory: ${megabytes(startBytes)} before, ${megabytes(afterMany)} after a file of 379 tracks`);
    assert.ok(afterMany < LIMIT, `${megabytes(afterMany)} after 379 tracks`);

    if (!existsSync(corpus)) {
      t.skip(`${corpus} is absent`);
      return;
    }
    const files = readdirSync(corpus).filter((f) => /\.midi?$/i.test(f)).sort();
    // The tracks found in each file, as the corpus's manifest counts them.
    const manifest = readFileSync(join(corpus, 'MANIFEST.tsv'), 'utf8').trim().split('\n').map((line) => line.split('\t'));
    const found = manifest[0].indexOf('tracks_found');
    const counts = new Map(manifest.slice(1).map((row) => [row[0], Number(row[found]) || 0]));
    const trackCount = (f) => counts.get(f) ?? 0;
    const most = files.reduce((a, b) => (trackCount(b) > trackCount(a) ? b : a));
    assert.equal((await open(most, readFileSync(join(corpus, most)))).state, 'ready');
    const afterMost = await memory();
    report(`memory: ${megabytes(afterMost)} after ${most} (${trackCount(most)} tracks)`);
    assert.ok(afterMost < LIMIT, `${megabytes(afterMost)} after ${most}`);

    // Every file, one after another, as a user choosing them would: the
    // time from choosing one to its first page drawn, over those drawn.
    const states = {};
    const times = [];
    for (const name of files) {
      const { state } = await open(name, readFileSync(join(corpus, name)));
      states[state] = (states[state] ?? 0) + 1;
      const last = await page.evaluate(() => window.vastrelViewer.timings.lastOpen);
      if (state === 'ready' && last.file === name) times.push(last.total);
    }
    assert.deepEqual(Object.keys(states).filter((state) => !['ready', 'empty', 'error'].includes(state)), [], JSON.stringify(states));
    const afterSweep = await memory();
    times.sort((a, b) => a - b);
    report(`corpus sweep: ${files.length} files (${Object.entries(states).map(([k, v]) => `${v} ${k}`).join(', ')}), median ${times[times.length >> 1].toFixed(0)} ms from choosing a file to its first page drawn; memory ${megabytes(afterSweep)} after`);
    assert.ok(afterSweep < LIMIT, `${megabytes(afterSweep)} after the sweep`);
  });

  test('no script error on the page', () => {
    assert.deepEqual(errors, []);
  });
});
