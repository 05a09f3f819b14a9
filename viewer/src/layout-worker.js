// Lays out a stretch of a track away from the page's thread, so that
// playback crossing into it shows it at once: Verovio (its own copy in
// this worker) loads the MusicXML with the page's options and draws every
// page, and the page of each measure is looked up. The page then only puts
// the drawn SVG on the screen.
//
// Asked {ticket, xml, options, first, last}; answers {ticket, pages,
// pageOf} (pageOf[M]: the page, from 1, that shows measure M) or {ticket,
// error}.
import createVerovioModule from '../verovio/verovio-module.mjs';
import { VerovioToolkit } from '../verovio/verovio.mjs';
import { measureId } from './ids.js';

const toolkit = createVerovioModule().then((module) => new VerovioToolkit(module));

self.onmessage = async ({ data: { ticket, xml, options, first, last } }) => {
  try {
    const verovio = await toolkit;
    verovio.setOptions(options);
    if (!verovio.loadData(xml)) throw new Error('Verovio could not read the MusicXML of this stretch');
    const pages = [];
    for (let page = 1, count = verovio.getPageCount(); page <= count; page += 1) pages.push(verovio.renderToSVG(page));
    const pageOf = {};
    for (let measure = first; measure <= last; measure += 1) pageOf[measure] = verovio.getPageWithElement(measureId(measure));
    self.postMessage({ ticket, pages, pageOf });
  } catch (error) {
    self.postMessage({ ticket, error: String(error?.message ?? error) });
  }
};
