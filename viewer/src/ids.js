// The exporter's ids, read here and nowhere else. Every <measure> of part P
// is pP-mM, and every note or rest pP-mM-sS-vV-nN (its copy on the
// tablature staff ends in -tab, a note of the lower staff of a grand staff
// in -staff2): M the measure from 1, S the section among the staff's
// measure's kept sections from 0. Verovio keeps these ids on what it
// draws, which is how a drawn chord is found for a position of the track.
const MEASURE_ID = /^p\d+-m(\d+)$/;
const NOTE_ID = /^p\d+-m(\d+)-s(\d+)-v\d+-n\d+(-staff2)?(?:-tab)?$/;

// The measure a measure's id names, or null for any other id.
export function measureOfId(id) {
  const match = MEASURE_ID.exec(id);
  return match ? Number(match[1]) : null;
}

// The measure, section and staff (1, or 2 for the lower staff of a grand
// staff) a note's or rest's id names, or null.
export function sectionOfId(id) {
  const match = NOTE_ID.exec(id);
  return match ? { measure: Number(match[1]), section: Number(match[2]), staff: match[3] ? 2 : 1 } : null;
}

// The id of measure M of the page's one part.
export const measureId = (measure) => `p1-m${measure}`;
