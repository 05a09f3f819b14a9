// A long track is drawn a stretch of measures at a time. Verovio lays out
// a whole document before it draws a page, some 2.5 ms a measure: a track
// of 1,700 measures took seconds. So a track is cut into equal stretches of
// about STRETCH measures (80 to 180; a track of fewer than 180 measures is
// one stretch), and only the stretch holding the measure to show is
// exported and laid out.
export const STRETCH = 120;

// How a track of `measures` measures is cut.
export function stretchesOf(measures, size = STRETCH) {
  const count = Math.max(1, Math.round(measures / size));
  return { count, size: Math.ceil(measures / count), measures };
}

// The stretch (from 0) holding a measure (from 1); measure 0, a track
// without notes, falls in the first.
export function stretchOf(stretches, measure) {
  if (!stretches.size) return 0;
  return Math.min(stretches.count - 1, Math.floor((Math.max(1, measure) - 1) / stretches.size));
}

// The first and last measure of a stretch.
export function rangeOf(stretches, index) {
  const { size, measures } = stretches;
  return { first: index * size + 1, last: Math.min(measures, (index + 1) * size) };
}
