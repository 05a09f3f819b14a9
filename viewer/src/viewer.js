// The page's workings: opening a file, drawing the chosen track a stretch
// at a time, playing it and following playback with the library's
// position lookup. Any change of a control parses and draws again at once.
// main.js starts it; controls.js hands it the user's actions.
import { VastrelError } from './vastrel.js';
import { notesOf, tempoMap } from './player.js';
import { beatStep } from './beats.js';
import { rangeOf, stretchOf, stretchesOf } from './stretches.js';
import { emptyLine, firstTrack, isDrumTrack, refusedLine, shownLine, trackOptions } from './labels.js';

const formatSeconds = (seconds) => {
  const whole = Math.max(0, seconds);
  const minutes = Math.floor(whole / 60);
  return `${minutes}:${(whole - minutes * 60).toFixed(1).padStart(4, '0')}`;
};

// Lets the browser show the status line before a long piece of work.
const afterPaint = () => new Promise((resolve) => requestAnimationFrame(() => setTimeout(resolve)));

// Runs a piece of work when the page has nothing else to do.
const whenIdle = (work) => (window.requestIdleCallback ? requestIdleCallback(work, { timeout: 500 }) : setTimeout(work, 50));

// A value typed into a number box, kept within the box's range (and shown
// so); what is still being typed ("-") counts as 0.
function clampedNumber(input) {
  const typed = Math.trunc(Number(input.value) || 0);
  const value = Math.max(Number(input.min), Math.min(Number(input.max), typed));
  if (input.value !== '' && value !== typed) input.value = String(value);
  return value;
}

export function createViewer({ vastrel, score, player, ahead, controls, state }) {
  // What is open: the file's name, bytes, report and tempo map; the track
  // drawn and its stretch; the notes playback sounds (made on the first
  // play, kept while they hold); the section marked; a stretch being
  // drawn, and the next one laid out ahead.
  let opened = null;
  let shown = null;
  let sounding = null;
  let marked = '';
  let pending = null;
  let next = null;  // {shown, index, promise, prepared}

  // For the page's tests and the curious (console: vastrelViewer.timings).
  const timings = {};
  const following = { frames: 0, audioSeconds: () => player.elapsed(), level: () => player.level() };
  let opens = 0;

  const range = (index) => rangeOf(shown.stretches, index);
  const stretchAt = (measure) => stretchOf(shown.stretches, measure);

  // ---- Opening a file ------------------------------------------------------

  function fillTracks(info) {
    const options = trackOptions(info).map(({ value, label, disabled }) => {
      const option = new Option(label, value);
      option.disabled = disabled;
      return option;
    });
    controls.track.replaceChildren(...options);
    controls.track.disabled = options.length === 0;
    const first = firstTrack(info);
    if (first !== undefined) controls.track.value = first;
  }

  // Nothing of a refused or empty file stays on the page.
  function clearDrawing() {
    player.stop();
    score.clear();
    shown = null;
    next = null;
    marked = '';
    controls.play.disabled = true;
    controls.play.textContent = '▶ Play';
    controls.seek.disabled = true;
    controls.seek.max = 0;
    controls.seek.value = 0;
    controls.clock.textContent = '–';
    updatePager();
  }

  // A refusal of the library, or a failure of the page, in words: nothing
  // stays drawn.
  function refuse(error, name = opened?.name, bytes = undefined) {
    clearDrawing();
    const refusal = { message: String(error?.message ?? error), id: error instanceof VastrelError ? error.id : 0 };
    state.set('error', refusedLine(refusal, name, bytes));
  }

  async function showFile(bytes, name, chosenAt) {
    clearDrawing();
    sounding = null;
    state.set('loading', `Opening ${name}…`);
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
      refuse(error, name, bytes);
      return;
    }
    opened = { name, info, map: tempoMap(info.file) };
    fillTracks(info);
    const load = performance.now() - t0;
    if (info.file.tracksOffered === 0) {
      state.set('empty', emptyLine(info, name));
      return;
    }
    if (info.tracks.length === 0) {
      const [refusal] = info.refusedTracks;
      refuse(new VastrelError(refusal.message, refusal.id), name);
      return;
    }
    const drawn = draw();
    if (!drawn) return;
    timings.lastOpen = { file: name, bytes: bytes.length, load, ...drawn, total: performance.now() - chosenAt };
  }

  // Opens a file's bytes; `chosenAt` is when the user chose it.
  async function open(bytes, name, chosenAt = performance.now()) {
    try {
      await showFile(bytes, name, chosenAt);
    } catch (error) {
      refuse(error, name);
    } finally {
      opens += 1;
    }
  }

  // Opens a file chosen or dropped; a file that cannot be read is said so.
  async function openChosen(file) {
    const chosenAt = performance.now();
    let bytes;
    try {
      bytes = new Uint8Array(await file.arrayBuffer());
    } catch (error) {
      refuse(new Error(`the file could not be read (${error?.message ?? error})`), file.name);
      opens += 1;
      return;
    }
    await open(bytes, file.name, chosenAt);
  }

  // ---- Drawing the chosen track ----------------------------------------------

  // Exports and lays out one stretch of the track parsed, showing its first
  // page (or the page asked for, -1 the last); gives the milliseconds taken.
  function drawStretch(index, page = 1) {
    const { first, last } = range(index);
    const t0 = performance.now();
    const xml = vastrel.musicXml({ tablature: shown.tablature, first, last });
    const t1 = performance.now();
    const { layout, render } = score.draw(xml, page, index === 0);
    shown.stretch = index;
    marked = '';
    prepareNext();
    return { export: t1 - t0, layout, render, xmlBytes: xml.length };
  }

  // Shows the stretch laid out ahead when it is the one asked for, ready,
  // and laid out for the window as it is now; gives the milliseconds taken,
  // or null.
  function adoptStretch(prepared, index, page) {
    if (!prepared || prepared.shown !== shown || prepared.index !== index) return null;
    const t0 = performance.now();
    if (!score.adopt(prepared.document, page)) return null;
    shown.stretch = index;
    marked = '';
    next = null;
    prepareNext();
    const render = performance.now() - t0;
    return { export: 0, layout: 0, render, total: render, xmlBytes: prepared.document.xml.length, ahead: true };
  }

  // Lays out the stretch after the one shown in the layout worker, when
  // the page is idle: exported here (the parsed track is here), laid out
  // there.
  function prepareNext() {
    const index = shown.stretch + 1;
    if (!ahead || index >= shown.stretches.count || (next?.shown === shown && next.index === index)) return;
    const entry = { shown, index, promise: null, document: null };
    next = entry;
    entry.promise = new Promise((resolve, reject) => {
      whenIdle(() => {
        if (next !== entry) {
          reject(new Error('no longer wanted'));
          return;
        }
        try {
          const { first, last } = range(index);
          const xml = vastrel.musicXml({ tablature: shown.tablature, first, last });
          ahead.prepare({ xml, title: false, options: score.options(false), first, last }).then(resolve, reject);
        } catch (error) {
          reject(error);
        }
      });
    }).then((document) => new Promise((resolve) => {
      // Its first page made ready too, when the page is idle again.
      whenIdle(() => {
        score.preparePage(document);
        entry.document = document;
        resolve(entry);
      });
    }));
    entry.promise.catch(() => { if (next === entry) next = null; });
  }

  // Draws another stretch while playback goes on, or for a page turn: at
  // once when it was laid out ahead, else once "drawing…" is on the screen
  // (the highlight waits for it; the sound does not).
  async function showStretch(index, page = 1) {
    if (pending !== null) return;
    let timing = adoptStretch(next?.document ? next : null, index, page);
    if (!timing) {
      const drawing = shown;
      const { first, last } = range(index);
      const laidOut = next?.shown === shown && next.index === index ? next.promise.catch(() => null) : null;
      pending = index;
      if (player.playing) state.say(`Drawing measures ${first}–${last}…`);
      else state.set('loading', `Drawing measures ${first}–${last}…`);
      const prepared = laidOut ? await laidOut : (await afterPaint(), null);
      pending = null;
      if (shown !== drawing) return;  // another file or track came first
      try {
        timing = adoptStretch(prepared, index, page);
        if (!timing) {
          const drawn = drawStretch(index, page);
          timing = { ...drawn, total: drawn.export + drawn.layout + drawn.render };
        }
      } catch (error) {
        refuse(error);
        return;
      }
    }
    timings.lastDraw = timing;
    state.set(player.playing ? 'playing' : 'ready', shownLine(opened.info, opened.name, shown.summary));
    if (player.playing) follow(player.musicTime());
    updatePager();
  }

  // Parses the chosen track with the chosen grid and transposition, and
  // draws it; gives the milliseconds of each step, or null when nothing is
  // drawn.
  function draw() {
    if (!opened) return null;
    const wasPlaying = player.playing;
    const at = Number(controls.seek.value);
    clearDrawing();
    const track = Number(controls.track.value);
    const resolution = Number(controls.resolution.value);
    const transpose = clampedNumber(controls.transpose);
    const summary = opened.info.tracks.find((t) => t.number === track);
    try {
      const t0 = performance.now();
      const measures = vastrel.parse(track, resolution, transpose);
      const t1 = performance.now();
      if (!summary?.noteCount) {
        state.set('empty', emptyLine(opened.info, opened.name, track));
        return null;
      }
      // A drum has no strings: the tablature toggle does not apply to a drum track.
      const drums = isDrumTrack(opened.info, track);
      controls.tablature.disabled = drums;
      shown = {
        track, resolution, transpose, tablature: controls.tablature.checked && !drums, summary,
        end: opened.map.toMusic(summary.endTime), stretches: stretchesOf(measures), stretch: 0,
      };
      controls.seek.max = Math.ceil(shown.end);
      controls.seek.value = Math.min(at, shown.end);
      const drawn = drawStretch(stretchAt(vastrel.position(Number(controls.seek.value)).measure));
      controls.seek.disabled = false;
      controls.play.disabled = false;
      follow(Number(controls.seek.value));
      updatePager();
      const timing = { parse: t1 - t0, ...drawn, total: performance.now() - t0 };
      timings.lastDraw = timing;
      state.set('ready', shownLine(opened.info, opened.name, summary));
      if (wasPlaying) play();
      return timing;
    } catch (error) {
      refuse(error);
      return null;
    }
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
    const { first, last } = range(stretch);
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
    if (stretch >= 0 && stretch < shown.stretches.count) showStretch(stretch, delta > 0 ? 1 : -1);
  }

  // ---- Following playback ------------------------------------------------------

  // Music time -> the library's position -> the highlight, the slider and
  // the clock. `again` marks the place even when it is marked already, so
  // that it is brought back into view after the pages were turned away.
  function follow(musicTime, again = false) {
    if (!shown) return;
    const position = vastrel.position(musicTime);
    // The measure played is in another stretch: drawn at once when the
    // slider moves there, while playing as soon as it can be.
    if (position.measure > 0 && stretchAt(position.measure) !== shown.stretch) {
      if (player.playing) {
        showStretch(stretchAt(position.measure));
      } else if (pending === null) {
        drawStretch(stretchAt(position.measure));
        updatePager();
      }
    }
    const key = `${position.measure}:${position.section}:${position.lowerSection}`;
    if (key !== marked || (again && position.measure > 0 && !score.showsMeasure(position.measure))) {
      marked = key;
      const page = score.page;
      if (stretchAt(position.measure) !== shown.stretch) score.unmark();
      else if (position.measure > 0 && (position.section >= 0 || position.lowerSection >= 0))
        score.mark(position.measure, position.section, position.lowerSection);
      else score.unmark();
      if (score.page !== page) updatePager();
    }
    const { map } = opened;
    controls.clock.textContent = `measure ${position.measure} · ${formatSeconds(map.secondsAt(musicTime))} / ${formatSeconds(map.secondsAt(shown.end))}`;
  }

  // One animation frame of playback. Whatever fails here stops playback
  // and says so, rather than leaving a cursor that no longer moves.
  function frame() {
    if (!player.playing) return;
    try {
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
    } catch (error) {
      player.stop();
      refuse(new Error(`playback stopped: ${error?.message ?? error}`));
      return;
    }
    requestAnimationFrame(frame);
  }

  // The notes to sound: every track with notes, or the one drawn, on the
  // grid and transposition drawn. A drum track's notes sound on the kit
  // (notesOf marks them), never at its keys' pitches.
  function soundingNotes() {
    const { track, resolution, transpose } = shown;
    const all = controls.allTracks.checked;
    const key = `${all ? 'all' : track}:${resolution}:${transpose}`;
    if (sounding?.key === key) return sounding.notes;
    const { info } = opened;
    const numbers = all
      ? info.tracks.filter((t) => t.noteCount > 0).map((t) => t.number)
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
    state.set('playing');
    try {
      await player.start(notes, opened.map, from);
    } catch (error) {
      stop();
      state.say(`The sound could not start: ${error.message ?? error}`);
      return;
    }
    following.frames = 0;
    requestAnimationFrame(frame);
  }

  function stop() {
    player.stop();
    controls.play.textContent = '▶ Play';
    if (shown) state.set('ready');
  }

  return {
    timings,
    following,
    get opens() { return opens; },
    // The stretch drawn: its place (from 0) and count, its measures,
    // whether another is being drawn, and the stretch laid out ahead and
    // ready (null while none is).
    get stretch() {
      if (!shown) return null;
      const { first, last } = range(shown.stretch);
      const ready = next?.shown === shown && next.document ? next.index : null;
      return { index: shown.stretch, count: shown.stretches.count, first, last, loading: pending !== null, ahead: ready };
    },

    open,
    openChosen,
    draw,
    turn,
    get drawn() { return shown !== null; },
    playOrPause() {
      if (player.playing) stop();
      else play();
    },
    allTracksChanged() { if (player.playing) play(); },

    // The slider moved to a music time: the cursor (and playback) goes
    // there, and its page comes back into view.
    seek(musicTime) {
      if (player.playing) play();
      else follow(musicTime, true);
    },

    // A beat on from the slider's place (direction 1) or back (-1).
    seekBeat(direction) {
      if (!shown) return;
      const to = beatStep(opened.info.file, Number(controls.seek.value), direction);
      controls.seek.value = Math.max(0, Math.min(Number(controls.seek.max), to));
      this.seek(Number(controls.seek.value));
    },

    // The window changed size: the stretch is laid out anew for it.
    relayout() {
      if (!shown) return;
      score.relayout();
      next = null;
      prepareNext();
      marked = '';
      follow(Number(controls.seek.value));
      updatePager();
    },

    refuse,
  };
}
