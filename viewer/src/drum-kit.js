// A small drum kit synthesised with WebAudio, for the notes of a drum
// track: General MIDI keys of channel 10 are drums, not pitches, so each is
// sounded by the kit voice nearest to it (a bass drum, a snare, hi-hats,
// cymbals, toms, and a generic hit for the rest of the kit: bells, woods,
// hand drums, shakers), built from noise and pitch sweeps.

// Keys of the General MIDI kit by the voice that plays them.
const KIT = new Map([
  [35, 'kick'], [36, 'kick'],
  [37, 'snare'], [38, 'snare'], [39, 'snare'], [40, 'snare'],
  [42, 'closed-hat'], [44, 'closed-hat'], [46, 'open-hat'],
  [49, 'cymbal'], [51, 'cymbal'], [52, 'cymbal'], [53, 'cymbal'], [55, 'cymbal'], [57, 'cymbal'], [59, 'cymbal'],
  [41, 'tom'], [43, 'tom'], [45, 'tom'], [47, 'tom'], [48, 'tom'], [50, 'tom'],
]);

// The kit voice of a drum key: 'kick', 'snare', 'closed-hat', 'open-hat',
// 'cymbal', 'tom' or 'hit'.
export const kitVoiceOf = (key) => KIT.get(key) ?? 'hit';

// The toms from low floor tom (41) to high tom (50) sweep down from 90 to
// 200 Hz, one step of the kit apart.
const TOM_KEYS = [41, 43, 45, 47, 48, 50];
const tomHertz = (key) => 90 * (200 / 90) ** (Math.max(0, TOM_KEYS.indexOf(key)) / (TOM_KEYS.length - 1));

// One second of white noise per audio context, made once and shared by
// every noisy voice.
const noises = new WeakMap();
function noiseOf(context) {
  let buffer = noises.get(context);
  if (!buffer) {
    buffer = context.createBuffer(1, context.sampleRate, context.sampleRate);
    const samples = buffer.getChannelData(0);
    for (let i = 0; i < samples.length; i += 1) samples[i] = Math.random() * 2 - 1;
    noises.set(context, buffer);
  }
  return buffer;
}

// A burst of noise through a filter, loud at once and gone after `decay`
// seconds.
function noise(context, output, when, { type, frequency, decay, level }) {
  const source = context.createBufferSource();
  source.buffer = noiseOf(context);
  const filter = context.createBiquadFilter();
  filter.type = type;
  filter.frequency.value = frequency;
  const envelope = context.createGain();
  envelope.gain.setValueAtTime(level, when);
  envelope.gain.exponentialRampToValueAtTime(0.001, when + decay);
  source.connect(filter).connect(envelope).connect(output);
  source.start(when);
  source.stop(when + decay + 0.05);
  return source;
}

// A tone whose pitch falls from `from` to `to` Hz in `sweep` seconds, gone
// after `decay` seconds: the body of a drum head.
function sweep(context, output, when, { from, to, sweep: seconds, decay, level, type = 'sine' }) {
  const oscillator = context.createOscillator();
  oscillator.type = type;
  oscillator.frequency.setValueAtTime(from, when);
  oscillator.frequency.exponentialRampToValueAtTime(to, when + seconds);
  const envelope = context.createGain();
  envelope.gain.setValueAtTime(level, when);
  envelope.gain.exponentialRampToValueAtTime(0.001, when + decay);
  oscillator.connect(envelope).connect(output);
  oscillator.start(when);
  oscillator.stop(when + decay + 0.05);
  return oscillator;
}

// Strikes drum key `key` at `when` into `output`; returns the sources
// started (each can be stopped), and the voice that played.
export function strikeDrum(context, output, key, when) {
  const voice = kitVoiceOf(key);
  const sources = [];
  switch (voice) {
  case 'kick':
    sources.push(sweep(context, output, when, { from: 150, to: 45, sweep: 0.12, decay: 0.35, level: 0.9 }));
    break;
  case 'snare':
    sources.push(noise(context, output, when, { type: 'highpass', frequency: 1500, decay: 0.18, level: 0.45 }));
    sources.push(sweep(context, output, when, { from: 240, to: 160, sweep: 0.05, decay: 0.1, level: 0.35, type: 'triangle' }));
    break;
  case 'closed-hat':
    sources.push(noise(context, output, when, { type: 'highpass', frequency: 7000, decay: 0.05, level: 0.25 }));
    break;
  case 'open-hat':
    sources.push(noise(context, output, when, { type: 'highpass', frequency: 7000, decay: 0.35, level: 0.22 }));
    break;
  case 'cymbal':
    sources.push(noise(context, output, when, { type: 'highpass', frequency: 5000, decay: 1.2, level: 0.2 }));
    break;
  case 'tom': {
    const hertz = tomHertz(key);
    sources.push(sweep(context, output, when, { from: hertz * 1.6, to: hertz, sweep: 0.08, decay: 0.4, level: 0.7 }));
    break;
  }
  default:
    sources.push(noise(context, output, when, { type: 'bandpass', frequency: 400 + (key % 12) * 250, decay: 0.08, level: 0.4 }));
  }
  return { voice, sources };
}
