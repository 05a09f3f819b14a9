// The words the page shows people: names from the file, the track list,
// the status line. Tracks are shown numbered from 1, as sequencers and the
// files' own names count them ("Track 1", channel 10 for drums); the
// track list's option values stay the library's track numbers, from 0.

// Names from the file come as the library's report gives them, "title" of
// the file and of each track: one line, a karaoke tag left out, "" when the
// name names nothing (the exporter's one rule, ShownName).

// "1 measure", "2 measures".
export const counted = (count, noun) => `${count} ${noun}${count === 1 ? '' : 's'}`;

// The number people see for a track (format 0: its MIDI channel, 1 to 16).
export const shownNumber = (number) => number + 1;

// A format 0 file's channel 10 is its drum kit, whatever program it names.
export const isDrumChannel = (info, number) => info.file.format === 0 && number === 9;

// A track is named as the score names its part: by its own name, or else
// by its instrument.
export function trackLabel(track, info) {
  const number = shownNumber(track.number);
  if (!track.noteCount) return `${number} · (no notes)`;
  const instrument = isDrumChannel(info, track.number) ? 'drums' : track.instrument;
  const own = track.title ?? '';
  const name = own || instrument || `Track ${number}`;
  return name === instrument ? `${number} · ${name}` : `${number} · ${name} (${instrument})`;
}

// The library's refusal as its callers print it: "… (error 262)".
export const describeRefusal = ({ message, id }) => (id ? `${message} (error ${id})` : message);

// The track list: {value, label, disabled} in track order. A format 0 file
// offers its 16 channels, most of them silent: only those with notes are
// listed (all of them when none has any). Tracks the library refuses on
// their own are listed, disabled, with its message.
export function trackOptions(info) {
  const withNotes = info.tracks.filter((track) => track.noteCount > 0);
  const listed = info.file.format === 0 && withNotes.length ? withNotes : info.tracks;
  const options = listed.map((track) => ({ value: track.number, label: trackLabel(track, info), disabled: false }));
  for (const refusal of info.refusedTracks ?? []) {
    options.push({ value: refusal.number, label: `${shownNumber(refusal.number)} · refused: ${describeRefusal(refusal)}`, disabled: true });
  }
  return options.sort((a, b) => a.value - b.value);
}

// The track drawn first: the first with notes.
export const firstTrack = (info) => (info.tracks.find((track) => track.noteCount > 0) ?? info.tracks[0])?.number;

// The file's title, or its file name when it has none.
export function titleOf(info, fileName) {
  const sequence = info.file.title;
  return sequence ? `“${sequence}”` : fileName;
}

// "track" in a file of tracks, "channel" in a format 0 file.
const kindOf = (info) => (info.file.format === 0 ? 'channel' : 'track');

// The status line of a drawn track: what is shown, in words.
export function shownLine(info, fileName, track) {
  return `${titleOf(info, fileName)} · ${kindOf(info)} ${trackLabel(track, info)} · ${counted(track.measureCount, 'measure')}, ${counted(track.noteCount, 'note')}`;
}

// Why nothing is drawn, when the file was read.
export function emptyLine(info, fileName, trackNumber) {
  if (info.file.tracksOffered === 0) return `${fileName}: this format 1 file holds only its conductor track (tempo, meter and key), no track to show`;
  if (!info.tracks.some((track) => track.noteCount > 0)) return `${fileName}: no track of this file has notes, nothing to draw`;
  return `${fileName}: ${kindOf(info)} ${shownNumber(trackNumber)} has no notes, nothing to draw`;
}

// A Standard MIDI File starts with its header chunk ("MThd"), or is
// wrapped whole in a RIFF "RMID" file.
export function looksLikeMidi(bytes) {
  const tag = (at) => String.fromCharCode(...bytes.subarray(at, at + 4));
  return tag(0) === 'MThd' || (tag(0) === 'RIFF' && tag(8) === 'RMID');
}

// A file the library refused: its message and id, and for a file that is
// no MIDI file at all, that first.
export function refusedLine(refusal, fileName, bytes) {
  const words = describeRefusal(refusal);
  if (!fileName) return words;
  if (bytes && !looksLikeMidi(bytes)) return `${fileName} is not a MIDI file: ${words}`;
  return `${words} — ${fileName}`;
}
