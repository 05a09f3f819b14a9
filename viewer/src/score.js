// The drawing: Verovio engraves the library's MusicXML one page at a time,
// each drawn page is tagged with the measures and sections of the model,
// and one cursor owns the `playing` class.
//
// Verovio keeps the exporter's ids (ids.js) on the elements it draws. After
// a page is drawn, every measure gets data-measure="M" and every chord or
// rest (the note's chord group, or the note or rest itself when it stands
// alone) gets data-measure, data-section="S" and data-staff (1, or 2 on the
// lower staff of a grand staff, whose sections are its own), so that the
// cursor finds the chords of a section, and tests find what `vastrel
// position` names.
import createVerovioModule from '../verovio/verovio-module.mjs';
import { VerovioToolkit } from '../verovio/verovio.mjs';
import { measureId, measureOfId, sectionOfId } from './ids.js';

const SVG_NS = 'http://www.w3.org/2000/svg';

// Zoom of the engraving (Verovio's percent): a staff about 45 px high.
const SCALE = 55;

export async function createScore(container) {
  const toolkit = new VerovioToolkit(await createVerovioModule());
  // The document shown: its MusicXML, whether it shows the title, and
  // where its pages come from: this page's toolkit, which draws a page
  // when asked, or pages drawn ahead in the layout worker (`adopt`).
  let shown = null;  // {xml, title, count, svg(page), pageOf(measure)}
  let page = 0;
  let sections = new Map();  // "M:T:S" -> the chord and rest groups drawn for section S of staff T (1, or 2 below a grand staff) of measure M
  let measures = new Map();  // M -> the measure group drawn
  const cursor = createCursor();

  // A page fills the width of the score area and the height left in the
  // window, so that a turned page shows whole without scrolling. A stretch
  // from the middle of a track is drawn without the title.
  function pageOptions(title) {
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
      header: title ? 'auto' : 'none',
    };
  }

  // Lays out a document in this page's toolkit; its pages are drawn when
  // shown.
  function layOut(xml, title) {
    toolkit.setOptions(pageOptions(title));
    if (!toolkit.loadData(xml)) throw new Error('Verovio could not read the MusicXML of this track');
    return {
      xml,
      title,
      count: toolkit.getPageCount(),
      svg: (number) => toolkit.renderToSVG(number),
      pageOf: (measure) => toolkit.getPageWithElement(measureId(measure)),
    };
  }

  // Tags what one page drew and indexes it for the cursor.
  function tagPage(svg) {
    sections = new Map();
    measures = new Map();
    for (const element of svg.querySelectorAll('g.measure')) {
      const measure = measureOfId(element.id);
      if (measure === null) continue;
      element.dataset.measure = measure;
      measures.set(measure, element);
    }
    for (const element of svg.querySelectorAll('g.note, g.rest')) {
      const at = sectionOfId(element.id);
      if (!at) continue;
      const group = element.parentElement.closest('g.chord, g.tabGrp') ?? element;
      group.dataset.measure = at.measure;
      group.dataset.section = at.section;
      group.dataset.staff = at.staff;
      const key = `${at.measure}:${at.staff}:${at.section}`;
      if (!sections.has(key)) sections.set(key, new Set());
      sections.get(key).add(group);
    }
  }

  // A page's SVG as the element the score area holds.
  function pageElement(svg) {
    const element = document.createElement('div');
    element.className = 'page';
    element.innerHTML = svg;
    return element;
  }

  // Shows a page; `ready`, the page's element made before, saves making
  // it now.
  function showPage(number, ready = null) {
    cursor.clear();
    page = Math.min(Math.max(1, number), shown.count);
    const t0 = performance.now();
    container.replaceChildren(ready ?? pageElement(shown.svg(page)));
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
      try {
        shown = layOut(musicXml, title);
      } catch (error) {
        this.clear();
        throw error;
      }
      const layout = performance.now() - t0;
      const render = showPage(first < 0 ? shown.count : first);
      return { layout, render };
    },

    // The options a document is laid out with now: what the layout worker
    // is given, and what a document it laid out must still match.
    options: pageOptions,

    // Makes the first page of a document laid out ahead into an element
    // before it is shown, so that showing it (adopt) only puts it in place.
    preparePage(prepared) {
      prepared.firstPage ??= pageElement(prepared.pages[0] ?? '');
    },

    // Shows a document laid out ahead ({xml, title, options, pages,
    // pageOf}), at its first page (or the page asked for; -1 the last);
    // false, and nothing changed, when the window changed size since.
    adopt(prepared, first = 1) {
      if (JSON.stringify(prepared.options) !== JSON.stringify(pageOptions(prepared.title))) return false;
      const { xml, title, pages, pageOf } = prepared;
      shown = { xml, title, count: pages.length, svg: (number) => pages[number - 1], pageOf: (measure) => pageOf[measure] ?? 0 };
      showPage(first < 0 ? shown.count : first, first === 1 ? prepared.firstPage : null);
      return true;
    },

    // The page is laid out anew for the window's size, keeping the measure
    // shown first in view.
    relayout() {
      if (!shown) return;
      const first = measureOfId(container.querySelector('g.measure')?.id ?? '');
      shown = layOut(shown.xml, shown.title);
      showPage(first ? shown.pageOf(first) || 1 : 1);
    },

    clear() {
      cursor.clear();
      container.replaceChildren();
      shown = null;
      page = 0;
      sections = new Map();
      measures = new Map();
    },

    get page() { return page; },
    get pageCount() { return shown ? shown.count : 0; },
    turn(delta) { if (shown) showPage(page + delta); },

    // Marks measure M and section S as the ones being played (and, on a
    // grand staff, section `lower` of the lower staff; -1 for none),
    // turning to the page that shows them.
    mark(measure, section, lower = -1) {
      if (!measures.has(measure) && shown) {
        const target = shown.pageOf(measure);
        if (target && target !== page) showPage(target);
      }
      const chords = [...(sections.get(`${measure}:1:${section}`) ?? []), ...(sections.get(`${measure}:2:${lower}`) ?? [])];
      cursor.show(measures.get(measure), chords);
    },

    // Whether measure M is on the page shown.
    showsMeasure(measure) { return measures.has(measure); },

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
