// The drawing: Verovio engraves the library's MusicXML one page at a time,
// each drawn page is tagged with the measures and sections of the model,
// and one cursor owns the `playing` class.
//
// The exporter gives every <measure> the id pP-mM and every <note> (or
// rest) pP-mM-sS-vV-nN, with -tab for its copy on the tablature staff;
// Verovio keeps those ids on the elements it draws. After a page is drawn,
// every measure gets data-measure="M" and every chord or rest (the note's
// chord group, or the note or rest itself when it stands alone) gets
// data-measure and data-section="S", so that the cursor finds the chords of
// a section, and tests find what `vastrel position` names.
import createVerovioModule from '../verovio/verovio-module.mjs';
import { VerovioToolkit } from '../verovio/verovio.mjs';

const MEASURE_ID = /^p\d+-m(\d+)$/;
const NOTE_ID = /^p\d+-m(\d+)-s(\d+)-v\d+-n\d+(?:-tab)?$/;
const SVG_NS = 'http://www.w3.org/2000/svg';

// Zoom of the engraving (Verovio's percent): a staff about 45 px high.
const SCALE = 55;

export async function createScore(container) {
  const toolkit = new VerovioToolkit(await createVerovioModule());
  let pageCount = 0;
  let page = 0;
  let sections = new Map();  // "M:S" -> the chord and rest groups drawn for section S of measure M
  let measures = new Map();  // M -> the measure group drawn
  let titled = true;         // the document starts the track: its first page shows the title
  const cursor = createCursor();

  // A page fills the width of the score area and the height left in the
  // window, so that a turned page shows whole without scrolling.
  function pageOptions() {
    const width = Math.max(480, container.clientWidth - 40);
    const height = Math.max(360, window.innerHeight - container.getBoundingClientRect().top - 32);
    return {
      scale: SCALE,
      pageWidth: Math.round((width * 100) / SCALE),
      pageHeight: Math.round((height * 100) / SCALE),
      pageMarginLeft: 60,
      pageMarginRight: 60,
      pageMarginTop: 40,
      pageMarginBottom: 40,
      adjustPageHeight: true,
      breaks: 'auto',
      footer: 'none',
      header: titled ? 'auto' : 'none',
    };
  }

  // Tags what one page drew and indexes it for the cursor.
  function tagPage(svg) {
    sections = new Map();
    measures = new Map();
    for (const element of svg.querySelectorAll('g.measure')) {
      const match = MEASURE_ID.exec(element.id);
      if (!match) continue;
      element.dataset.measure = match[1];
      measures.set(Number(match[1]), element);
    }
    for (const element of svg.querySelectorAll('g.note, g.rest')) {
      const match = NOTE_ID.exec(element.id);
      if (!match) continue;
      const group = element.parentElement.closest('g.chord, g.tabGrp') ?? element;
      group.dataset.measure = match[1];
      group.dataset.section = match[2];
      const key = `${match[1]}:${match[2]}`;
      if (!sections.has(key)) sections.set(key, new Set());
      sections.get(key).add(group);
    }
  }

  function showPage(number) {
    cursor.clear();
    page = Math.min(Math.max(1, number), pageCount);
    const t0 = performance.now();
    container.innerHTML = `<div class="page">${toolkit.renderToSVG(page)}</div>`;
    tagPage(container);
    return performance.now() - t0;
  }

  return {
    // Lays out a MusicXML document and draws its first page (or the page
    // asked for; -1 the last); gives the milliseconds of the layout and of
    // the drawing. A stretch from the middle of a track is drawn without
    // the title (`title` false).
    draw(musicXml, first = 1, title = true) {
      const t0 = performance.now();
      titled = title;
      toolkit.setOptions(pageOptions());
      if (!toolkit.loadData(musicXml)) {
        this.clear();
        throw new Error('Verovio could not read the MusicXML of this track');
      }
      pageCount = toolkit.getPageCount();
      const layout = performance.now() - t0;
      const render = showPage(first < 0 ? pageCount : first);
      return { layout, render };
    },

    // The page is laid out anew for the window's size, keeping the measure
    // shown first in view.
    relayout() {
      if (!pageCount) return;
      const first = container.querySelector('g.measure')?.id;
      toolkit.setOptions(pageOptions());
      toolkit.redoLayout();
      pageCount = toolkit.getPageCount();
      showPage(first ? toolkit.getPageWithElement(first) || 1 : 1);
    },

    clear() {
      cursor.clear();
      container.replaceChildren();
      pageCount = 0;
      page = 0;
      sections = new Map();
      measures = new Map();
    },

    get page() { return page; },
    get pageCount() { return pageCount; },
    turn(delta) { if (pageCount) showPage(page + delta); },

    // Marks measure M and section S as the ones being played, turning to
    // the page that shows them.
    mark(measure, section) {
      if (!measures.has(measure) && pageCount) {
        const target = toolkit.getPageWithElement(`p1-m${measure}`);
        if (target && target !== page) showPage(target);
      }
      cursor.show(measures.get(measure), sections.get(`${measure}:${section}`));
    },

    unmark() { cursor.clear(); },
  };
}

// Owns the highlight: a tinted band behind the measure being played, and
// the class `playing` on that measure and on the chords of the section;
// nothing else is ever given that class.
function createCursor() {
  let marked = [];
  let band = null;
  let bandMeasure = null;

  function placeBand(measure) {
    if (measure === bandMeasure) return;
    band?.remove();
    band = null;
    bandMeasure = measure;
    if (!measure) return;
    const staves = measure.querySelectorAll(':scope > g.staff');
    let box = null;
    for (const staff of staves) {
      const b = staff.getBBox();
      box = box
        ? { x: Math.min(box.x, b.x), y: Math.min(box.y, b.y), right: Math.max(box.right, b.x + b.width), bottom: Math.max(box.bottom, b.y + b.height) }
        : { x: b.x, y: b.y, right: b.x + b.width, bottom: b.y + b.height };
    }
    if (!box) return;
    const pad = 120;  // in Verovio's units: about one staff space and a half
    band = document.createElementNS(SVG_NS, 'rect');
    band.setAttribute('class', 'measure-band');
    band.style.stroke = 'none';  // Verovio's own style strokes every rect
    band.setAttribute('x', box.x);
    band.setAttribute('y', box.y - pad);
    band.setAttribute('width', box.right - box.x);
    band.setAttribute('height', box.bottom - box.y + 2 * pad);
    measure.insertBefore(band, measure.firstChild);
    measure.scrollIntoView?.({ block: 'nearest', inline: 'nearest' });
  }

  return {
    show(measure, chords) {
      for (const element of marked) element.classList.remove('playing');
      marked = measure ? [measure, ...(chords ?? [])] : [];
      for (const element of marked) element.classList.add('playing');
      placeBand(measure);
    },
    clear() {
      this.show(null, null);
    },
  };
}
