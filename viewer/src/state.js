// The page's state, `document.body.dataset.state`, and its status line:
// written here and nowhere else.
//
//   loading  a file is read and drawn, or a page turn draws a stretch
//   ready    a track is drawn and idle
//   playing  playback is under way
//   empty    the file or the track has nothing to draw
//   error    the library refused the file, or the page failed; nothing drawn
const STATES = new Set(['loading', 'ready', 'playing', 'empty', 'error']);

export function createState(body, status) {
  return {
    get current() { return body.dataset.state; },

    // Sets the state and, when given, the status line.
    set(state, message) {
      if (!STATES.has(state)) throw new Error(`no page state "${state}"`);
      body.dataset.state = state;
      if (message !== undefined) status.textContent = message;
    },

    // The status line alone, the state as it is.
    say(message) { status.textContent = message; },

    get message() { return status.textContent; },
  };
}
