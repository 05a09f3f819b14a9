// The next stretch of a long track, laid out ahead of time in a worker
// (layout-worker.js) while the page shows the one before: playback that
// crosses into it then only puts drawn pages on the screen, where laying
// them out on the page's thread took a quarter of a second or more.
// The worker, with its own Verovio, starts on the first request.
export function createAhead(url = new URL('./layout-worker.js', import.meta.url)) {
  let worker = null;
  let tickets = 0;
  const waiting = new Map();  // ticket -> {resolve, reject}

  function start() {
    worker = new Worker(url, { type: 'module' });
    worker.onmessage = ({ data }) => {
      const request = waiting.get(data.ticket);
      if (!request) return;
      waiting.delete(data.ticket);
      if (data.error) request.reject(new Error(data.error));
      else request.resolve(data);
    };
    worker.onerror = (event) => {
      // A worker that cannot start fails every request; the page then
      // lays out on its own thread, as without it.
      event.preventDefault();
      for (const request of waiting.values()) request.reject(new Error(event.message || 'the layout worker failed'));
      waiting.clear();
      worker.terminate();
      worker = null;
    };
  }

  return {
    // Lays out a document ({xml, title, options, first, last}: its
    // MusicXML, whether it shows the title, Verovio's options, its
    // measures); resolves to it with its drawn pages and the page of
    // each measure, ready for score.adopt.
    prepare(document) {
      if (!worker) start();
      const ticket = (tickets += 1);
      const { xml, options, first, last } = document;
      return new Promise((resolve, reject) => {
        waiting.set(ticket, { resolve: ({ pages, pageOf }) => resolve({ ...document, pages, pageOf }), reject });
        worker.postMessage({ ticket, xml, options, first, last });
      });
    },
  };
}
