// Beats of the file's meters in music time (768 units per quarter note),
// for the seek slider's arrow keys: one press moves to the next beat.
import { MUSIC_PER_QUARTER } from './player.js';

// A meter's beat: its note value, or three of them in a compound meter
// (6/8, 9/8, 12/8 and the like are counted in dotted beats).
function beatOf({ numerator, denominator }) {
  const unit = (4 * MUSIC_PER_QUARTER) / denominator;
  return numerator > 3 && numerator % 3 === 0 && denominator >= 8 ? 3 * unit : unit;
}

// The meters of a file (`vastrel info --json`'s file record) as stretches
// of music time; 4/4 until the first one.
function metersOf(file) {
  const meters = [{ start: 0, beat: MUSIC_PER_QUARTER }];
  for (const meter of file.timeSignatures ?? []) {
    const start = (meter.time * MUSIC_PER_QUARTER) / file.division;
    if (start === meters[meters.length - 1].start) meters.pop();
    meters.push({ start, beat: beatOf(meter) });
  }
  return meters;
}

// The beat after `musicTime` (direction 1) or before it (-1), counted from
// the start of the meter in force; a meter change is a beat of its own.
export function beatStep(file, musicTime, direction) {
  const meters = metersOf(file);
  if (direction > 0) {
    const index = meters.findLastIndex((m) => m.start <= musicTime);
    const { start, beat } = meters[index];
    const next = start + (Math.floor((musicTime - start) / beat + 1e-9) + 1) * beat;
    const change = meters[index + 1]?.start;
    return change !== undefined && change < next ? change : next;
  }
  const index = Math.max(0, meters.findLastIndex((m) => m.start < musicTime));
  const { start, beat } = meters[index];
  return Math.max(0, start + (Math.ceil((musicTime - start) / beat - 1e-9) - 1) * beat);
}
