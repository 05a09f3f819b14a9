// Starts the page: the library and Verovio (both WebAssembly), the viewer
// (viewer.js) with its controls, and the bundled example drawn.
import { createVastrel } from './vastrel.js';
import { createScore } from './score.js';
import { createPlayer } from './player.js';
import { createAhead } from './ahead.js';
import { createState } from './state.js';
import { createViewer } from './viewer.js';
import { connectControls } from './controls.js';

const EXAMPLE = 'examples/little-waltz.mid';

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
};
const state = createState(document.body, $('status'));

async function start() {
  let vastrel;
  let score;
  try {
    [vastrel, score] = await Promise.all([createVastrel(), createScore($('score'))]);
  } catch (error) {
    // Without the library or Verovio the page can only say why.
    state.set('error', `The page could not start: ${error?.message ?? error}`);
    return;
  }
  const player = createPlayer();
  const viewer = createViewer({ vastrel, score, player, ahead: createAhead(), controls, state });
  connectControls(controls, viewer);

  // For the page's tests and the curious (see README.md).
  window.vastrelViewer = {
    vastrel,
    timings: viewer.timings,
    following: viewer.following,
    get opens() { return viewer.opens; },
    get stretch() { return viewer.stretch; },
    // The notes playback has sounded, by voice: 'pitched', or the drum kit's.
    get struck() { return player.struck; },
  };

  try {
    const response = await fetch(EXAMPLE);
    if (!response.ok) throw new Error(`${EXAMPLE}: ${response.status} ${response.statusText}`);
    await viewer.open(new Uint8Array(await response.arrayBuffer()), 'little-waltz.mid');
  } catch (error) {
    viewer.refuse(error, 'little-waltz.mid');
  }
  viewer.timings.started = performance.now();
}

start();
