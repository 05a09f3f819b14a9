// The page: opens a MIDI file, draws the chosen track as Verovio engraves
// the library's MusicXML, plays it and follows playback with the library's
// position lookup. Any change of a control parses and draws again at once.
// A long track is drawn a stretch of measures at a time (see STRETCH).
//
// document.body.dataset.state: "loading" while a file is read and drawn,
// "ready" when a track is drawn and idle, "playing", "empty" when the file
// or the track has nothing to draw, "error" after a refusal.
import { createVastrel, VastrelError } from './vastrel.js';
import { createScore } from './score.js';
import { createPlayer, notesOf, tempoMap } from './player.js';

const EXAMPLE = 'examples/little-waltz.mid';

// Verovio lays out a whole document before it draws a page, some 2.5 ms a
// measure: a track of 1,700 measures took seconds. A long track is cut
// into stretches of about this many measures (equal ones, 80 to 180), and
// only the stretch holding the measure to show is exported and laid out;
// playback, the slider and page turning load the next one when they cross
// into it.
const STRETCH = 120;

const $ = (id) => document.getElementById(id);
const controls = {
  file: $('midi-file'),
  track: $('track'),
  resolution: $('resolution'),
  transpose: $('transpose'),
  tablature: $('tablature'),
  play: $('play'),
  allTracks: $('all-tracks'),
  seek: $('seek'),
  clock: $('clock'),
  pageNumber: $('page-number'),
  previous: $('page-previous'),
  next: $('page-next'),
  status: $('status'),
};

// The library and Verovio, both WebAssembly; without them the page can
// only say why.
let vastrel;
let score;
try {
  [vastrel, score] = await Promise.all([createVastrel(), createScore($('score'))]);
} catch (error) {
  document.body.dataset.state = 'error';
  $('status').textContent = `The page could not start: ${error.message ?? error}`;
  throw error;
}
const player = createPlayer();

// What is open: the file's report, its tempo map, the track drawn, and the
// notes playback sounds (made on the first play, kept while they hold).
let opened = null;
let shown = null;
let sounding = null;
let marked = '';
let pending = null;  // a stretch waiting for the screen to show "drawing…"

// For the page's tests and the curious (console: vastrelViewer.timings):
// the milliseconds of the last file opened and of the last drawing, the
// frames drawn while following playback, and the count of files opened.
const timings = {};
const following = { frames: 0, audioSeconds: () => player.elapsed(), level: () => player.level() };
window.vastrelViewer = {
  timings,
  following,
  vastrel,
  opens: 0,
  // The stretch drawn: its place (from 0) and count, its measures, and
  // whether another is being drawn.
  get stretch() {
    if (!shown) return null;
    const { first, last } = rangeOf(shown.stretch);
    return { index: shown.stretch, count: shown.stretches.count, first, last, loading: pending !== null };
  },
};

function setState(state, message) {
  document.body.dataset.state = state;
  controls.status.textContent = message;
}

const formatSeconds = (seconds) => {
  const whole = Math.max(0, seconds);
  const minutes = Math.floor(whole / 60);
  return `${minutes}:${(whole - minutes * 60).toFixed(1).padStart(4, '0')}`;
};

// ---- Opening a file ------------------------------------------------------

// A name from the file as one line: blanks run together, and nothing at all
// when it holds no letter or digit (" -  - " stands in for a missing title).
function nameOf(text) {
  const line = (text ?? '').replace(/\s+/g, ' ').trim();
  return /[\p{L}\p{N}]/u.test(line) ? line : '';
}

// A format 0 file's channel 10 is its drum kit, whatever program it names.
const isDrumChannel = (info, number) => info.file.format === 0 && number === 9;

// A track is named as the score names its part: by its own name, or else
// by its instrument.
function trackLabel(track, info) {
  if (!track.noteCount) return `${track.number} · (no notes)`;
  const instrument = isDrumChannel(info, track.number) ? 'drums' : track.instrument;
  const own = track.name === 'Untitled track' ? '' : nameOf(track.name);
  const name = own || instrument || `Track ${track.number}`;
  return name === instrument ? `${track.number} · ${name}` : `${track.number} · ${name} (${instrument})`;
}

// A format 0 file offers its 16 channels, most of them silent: only those
// with notes are listed (all of them when none has any).
function fillTracks(info) {
  const withNotes = info.tracks.filter((track) => track.noteCount > 0);
  const listed = info.file.format === 0 && withNotes.length ? withNotes : info.tracks;
  const options = listed.map((track) => new Option(trackLabel(track, info), track.number));
  for (const refusal of info.refusedTracks) {
    const option = new Option(`${refusal.number} · refused: ${refusal.message}`, refusal.number);
    option.disabled = true;
    options.push(option);
  }
  options.sort((a, b) => a.value - b.value);
  controls.track.replaceChildren(...options);
  controls.track.disabled = options.length === 0;
  const first = info.tracks.find((track) => track.noteCount > 0) ?? info.tracks[0];
  if (first) controls.track.value = first.number;
}

// Nothing of a refused or empty file stays on the page.
function clearDrawing() {
  player.stop();
  score.clear();
  shown = null;
  marked = '';
  controls.play.disabled = true;
  controls.play.textContent = '▶ Play';
  controls.seek.disabled = true;
  controls.seek.max = 0;
  controls.seek.value = 0;
  controls.clock.textContent = '–';
  updatePager();
}

function refuse(error, name) {
  clearDrawing();
  const message = error instanceof VastrelError ? error.describe() : String(error.message ?? error);
  setState('error', name ? `${message} — ${name}` : message);
}

async function openFile(bytes, name, chosenAt = performance.now()) {
  try {
    await showFile(bytes, name, chosenAt);
  } finally {
    window.vastrelViewer.opens += 1;
  }
}

async function showFile(bytes, name, chosenAt) {
  clearDrawing();
  sounding = null;
  setState('loading', `Opening ${name}…`);
  // Lets the status line show before the work.
  await new Promise((resolve) => setTimeout(resolve));
  const t0 = performance.now();
  let info;
  try {
    info = vastrel.load(bytes);
  } catch (error) {
    opened = null;
    controls.track.replaceChildren();
    controls.track.disabled = true;
    refuse(error, name);
    return;
  }
  opened = { name, info, map: tempoMap(info.file) };
  fillTracks(info);
  const load = performance.now() - t0;
  if (info.file.tracks === 0) {
    setState('empty', `${name}: this format 1 file holds only its conductor track (tempo, meter and key), no track to show`);
    return;
  }
  if (info.tracks.length === 0) {
    const refusal = info.refusedTracks[0];
    refuse(new VastrelError(refusal.message, refusal.id), name);
    return;
  }
  const drawn = draw();
  if (!drawn) return;
  timings.lastOpen = { file: name, bytes: bytes.length, load, ...drawn, total: performance.now() - chosenAt };
  updateStatus(timings.lastOpen.total);
}

// ---- Drawing the chosen track --------------------------------------------

function stretchesOf(measures) {
  const count = Math.max(1, Math.round(measures / STRETCH));
  return { count, size: Math.ceil(measures / count), measures };
}

const stretchOf = (measure) => Math.min(shown.stretches.count - 1, Math.floor((Math.max(1, measure) - 1) / shown.stretches.size));

function rangeOf(index) {
  const { size, measures } = shown.stretches;
  return { first: index * size + 1, last: Math.min(measures, (index + 1) * size) };
}

// Exports and lays out one stretch of the track parsed, showing its first
// page (or the page asked for, -1 the last); gives the milliseconds taken.
function drawStretch(index, page = 1) {
  const { first, last } = rangeOf(index);
  const t0 = performance.now();
  const xml = vastrel.musicXml({ tablature: controls.tablature.checked, first, last });
  const t1 = performance.now();
  const { layout, render } = score.draw(xml, page, index === 0);
  shown.stretch = index;
  marked = '';
  return { export: t1 - t0, layout, render, xmlBytes: xml.length };
}

// Lets the browser show the status line before a long piece of work.
const afterPaint = () => new Promise((resolve) => requestAnimationFrame(() => setTimeout(resolve)));

// Draws another stretch once "drawing…" is on the screen, while playback
// goes on (its highlight waits for the drawing).
async function drawStretchSoon(index, page = 1) {
  if (pending !== null) return;
  const drawing = shown;
  const { first, last } = rangeOf(index);
  pending = index;
  const playing = player.playing;
  if (!playing) document.body.dataset.state = 'loading';
  controls.status.textContent = `Drawing measures ${first}–${last}…`;
  await afterPaint();
  pending = null;
  if (shown !== drawing) return;  // another file or track came first
  try {
    const timing = drawStretch(index, page);
    timings.lastDraw = { ...timing, total: timing.export + timing.layout + timing.render };
    if (!player.playing) document.body.dataset.state = 'ready';
    updateStatus(timings.lastDraw.total);
    if (player.playing) follow(player.musicTime());
    updatePager();
  } catch (error) {
    refuse(error, opened.name);
  }
}

// Parses the chosen track with the chosen grid and transposition, and draws
// it; gives the milliseconds of each step, or null when nothing is drawn.
function draw() {
  if (!opened) return null;
  const wasPlaying = player.playing;
  const at = Number(controls.seek.value);
  clearDrawing();
  const track = Number(controls.track.value);
  const resolution = Number(controls.resolution.value);
  const transpose = Math.max(-128, Math.min(127, Math.trunc(Number(controls.transpose.value) || 0)));
  const summary = opened.info.tracks.find((t) => t.number === track);
  try {
    const t0 = performance.now();
    const measures = vastrel.parse(track, resolution, transpose);
    const t1 = performance.now();
    if (!summary?.noteCount) {
      setState('empty', `${opened.name}: track ${track} has no notes, nothing to draw`);
      return null;
    }
    shown = { track, resolution, transpose, summary, end: opened.map.toMusic(summary.endTime), stretches: stretchesOf(measures), stretch: 0 };
    controls.seek.max = Math.ceil(shown.end);
    controls.seek.value = Math.min(at, shown.end);
    const drawn = drawStretch(stretchOf(vastrel.position(Number(controls.seek.value)).measure));
    controls.seek.disabled = false;
    controls.play.disabled = false;
    follow(Number(controls.seek.value));
    updatePager();
    const timing = { parse: t1 - t0, ...drawn, total: performance.now() - t0 };
    timings.lastDraw = timing;
    setState('ready', '');
    updateStatus(timing.total);
    if (wasPlaying) play();
    return timing;
  } catch (error) {
    refuse(error, opened.name);
    return null;
  }
}

// What is drawn, and how long the drawing took.
function updateStatus(milliseconds) {
  const { info, name } = opened;
  const sequence = nameOf(info.file.name);
  const title = sequence && sequence !== 'Untitled midi' ? `“${sequence}”` : name;
  const { measureCount, noteCount } = shown.summary;
  controls.status.textContent =
    `${title} · track ${trackLabel(shown.summary, info)} · ${measureCount} measures, ${noteCount} notes · drawn in ${Math.round(milliseconds)} ms`;
}

// Pages are counted within the stretch drawn; a long track says which
// measures that stretch holds.
function updatePager() {
  const count = shown ? score.pageCount : 0;
  if (!count) {
    controls.pageNumber.textContent = '–';
    controls.previous.disabled = controls.next.disabled = true;
    return;
  }
  const { stretches, stretch } = shown;
  const { first, last } = rangeOf(stretch);
  controls.pageNumber.textContent = stretches.count > 1
    ? `page ${score.page} of ${count} · measures ${first}–${last} of ${stretches.measures}`
    : `page ${score.page} of ${count}`;
  controls.previous.disabled = score.page <= 1 && stretch === 0;
  controls.next.disabled = score.page >= count && stretch === stretches.count - 1;
}

// Turns a page, into the neighbouring stretch past the first or last page.
function turn(delta) {
  if (!shown || !score.pageCount) return;
  const page = score.page + delta;
  if (page >= 1 && page <= score.pageCount) {
    score.turn(delta);
    updatePager();
    return;
  }
  const stretch = shown.stretch + delta;
  if (stretch >= 0 && stretch < shown.stretches.count) drawStretchSoon(stretch, delta > 0 ? 1 : -1);
}

// ---- Following playback -----------------------------------------------------

// Music time -> the library's position -> the highlight, the slider and
// the clock.
function follow(musicTime) {
  if (!shown) return;
  const position = vastrel.position(musicTime);
  // The measure played is in another stretch: drawn at once when the
  // slider moves there, after "drawing…" while playing.
  if (position.measure > 0 && stretchOf(position.measure) !== shown.stretch) {
    if (player.playing) {
      drawStretchSoon(stretchOf(position.measure));
    } else if (pending === null) {
      drawStretch(stretchOf(position.measure));
      updatePager();
    }
  }
  const key = `${position.measure}:${position.section}`;
  if (key !== marked) {
    marked = key;
    const page = score.page;
    if (stretchOf(position.measure) !== shown.stretch) score.unmark();
    else if (position.measure > 0 && position.section >= 0) score.mark(position.measure, position.section);
    else score.unmark();
    if (score.page !== page) updatePager();
  }
  const { map } = opened;
  controls.clock.textContent = `measure ${position.measure} · ${formatSeconds(map.secondsAt(musicTime))} / ${formatSeconds(map.secondsAt(shown.end))}`;
}

function frame() {
  if (!player.playing) return;
  const musicTime = player.musicTime();
  following.frames += 1;
  if (musicTime >= shown.end) {
    stop();
    controls.seek.value = 0;
    follow(0);
    return;
  }
  controls.seek.value = musicTime;
  follow(musicTime);
  requestAnimationFrame(frame);
}

// The notes to sound: every track with notes, or the one drawn, on the
// grid and transposition drawn. A format 0 file's channel 10 is its drum
// kit, whose keys are no pitches: it sounds only when it is the one drawn.
function soundingNotes() {
  const { track, resolution, transpose } = shown;
  const all = controls.allTracks.checked;
  const key = `${all ? 'all' : track}:${resolution}:${transpose}`;
  if (sounding?.key === key) return sounding.notes;
  const numbers = all
    ? opened.info.tracks.filter((t) => t.noteCount > 0 && (!isDrumChannel(opened.info, t.number) || t.number === track)).map((t) => t.number)
    : [track];
  const notes = numbers.flatMap((number) => {
    try {
      return notesOf(vastrel.model(number, resolution, transpose), opened.map);
    } catch {
      return [];  // a track the library refuses on this grid stays silent
    }
  });
  notes.sort((a, b) => a.start - b.start);
  sounding = { key, notes };
  return notes;
}

async function play() {
  if (!shown) return;
  const notes = soundingNotes();
  let from = Number(controls.seek.value);
  if (from >= shown.end) from = 0;
  controls.play.textContent = '❚❚ Pause';
  setState('playing', controls.status.textContent);
  try {
    await player.start(notes, opened.map, from);
  } catch (error) {
    stop();
    controls.status.textContent = `The sound could not start: ${error.message ?? error}`;
    return;
  }
  following.frames = 0;
  requestAnimationFrame(frame);
}

function stop() {
  player.stop();
  controls.play.textContent = '▶ Play';
  if (shown) document.body.dataset.state = 'ready';
}

// ---- Controls --------------------------------------------------------------

async function openChosen(file) {
  const chosenAt = performance.now();
  const bytes = new Uint8Array(await file.arrayBuffer());
  await openFile(bytes, file.name, chosenAt);
}

controls.file.addEventListener('change', () => {
  const [file] = controls.file.files;
  if (file) openChosen(file);
  controls.file.value = '';
});

for (const control of [controls.track, controls.resolution, controls.tablature]) {
  control.addEventListener('change', draw);
}
controls.transpose.addEventListener('input', draw);

controls.play.addEventListener('click', () => (player.playing ? stop() : play()));
controls.allTracks.addEventListener('change', () => { if (player.playing) play(); });

controls.seek.addEventListener('input', () => {
  const musicTime = Number(controls.seek.value);
  if (player.playing) play();
  else follow(musicTime);
});

controls.previous.addEventListener('click', () => turn(-1));
controls.next.addEventListener('click', () => turn(1));

document.addEventListener('keydown', (event) => {
  // Keys typed into a control (or a space on a focused button) are its own.
  if (event.target.closest?.('input, select, textarea, button')) return;
  if (event.key === ' ' && shown) {
    event.preventDefault();
    if (player.playing) stop();
    else play();
  } else if (event.key === 'PageDown' || event.key === 'ArrowRight') {
    turn(1);
  } else if (event.key === 'PageUp' || event.key === 'ArrowLeft') {
    turn(-1);
  }
});

// Dropping a file anywhere on the page opens it.
let dragDepth = 0;
document.addEventListener('dragenter', (event) => {
  event.preventDefault();
  dragDepth += 1;
  document.body.classList.add('dragging');
});
document.addEventListener('dragleave', () => {
  dragDepth = Math.max(0, dragDepth - 1);
  if (!dragDepth) document.body.classList.remove('dragging');
});
document.addEventListener('dragover', (event) => event.preventDefault());
document.addEventListener('drop', (event) => {
  event.preventDefault();
  dragDepth = 0;
  document.body.classList.remove('dragging');
  const [file] = event.dataTransfer.files;
  if (file) openChosen(file);
});

let resizing = 0;
window.addEventListener('resize', () => {
  clearTimeout(resizing);
  resizing = setTimeout(() => {
    if (!shown) return;
    score.relayout();
    marked = '';
    follow(Number(controls.seek.value));
    updatePager();
  }, 200);
});

// ---- The bundled example, shown at start --------------------------------------

try {
  const response = await fetch(EXAMPLE);
  if (!response.ok) throw new Error(`${EXAMPLE}: ${response.status} ${response.statusText}`);
  await openFile(new Uint8Array(await response.arrayBuffer()), 'little-waltz.mid');
} catch (error) {
  refuse(error);
}
timings.started = performance.now();
