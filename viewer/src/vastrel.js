// The vastrel library in the page: one small facade over its WebAssembly
// build (wasm/glue.cpp). One file and one parsed track are open at a time.
//
//   const vastrel = await createVastrel();
//   const info = vastrel.load(bytes);           // the file, its tracks (as `vastrel info --json`)
//   vastrel.parse(track, resolution, transpose); // gives the track's measure count
//   vastrel.position(musicTime);                // {measure, section, fraction, lowerSection}
//   vastrel.musicXml({ tablature, first, last }); // the track (measures first..last) as MusicXML
//   vastrel.model(track, resolution, transpose); // any track's model (as `vastrel show --json`)
//   vastrel.memoryBytes();                      // the module's WebAssembly memory now
//
// Every refusal of the library is thrown as a VastrelError carrying the
// library's message and id.
import createVastrelModule from './vastrel-wasm.mjs';

export class VastrelError extends Error {
  constructor(message, id) {
    super(message);
    this.name = 'VastrelError';
    this.id = id;  // the library's message id (0 for a failure of the page's own)
  }

  // As the library's callers print it: "Track header is not found! (error 262)".
  describe() {
    return this.id ? `${this.message} (error ${this.id})` : this.message;
  }
}

// The path the bytes are given to the library by, in emscripten's memory
// file system; the library reads the whole file at once, so it lives only
// for the length of the load.
const INPUT_PATH = '/input.mid';

const decoder = new TextDecoder();

export async function createVastrel() {
  const module = await createVastrelModule();
  const loadPath = module.cwrap('vsx_web_load', 'number', ['string']);

  function fail() {
    throw new VastrelError(module.UTF8ToString(module._vsx_web_error_message()), module._vsx_web_error_id());
  }

  // The text the last call made (null pointer: a failure).
  function text(pointer) {
    if (!pointer) fail();
    return decoder.decode(module.HEAPU8.subarray(pointer, pointer + module._vsx_web_text_size()));
  }

  return {
    load(bytes) {
      module.FS.writeFile(INPUT_PATH, bytes);
      try {
        return JSON.parse(text(loadPath(INPUT_PATH)));
      } finally {
        module.FS.unlink(INPUT_PATH);
      }
    },

    parse(track, resolution, transpose) {
      if (!module._vsx_web_parse(track, resolution, transpose)) fail();
      return module._vsx_web_measure_count();
    },

    position(musicTime) {
      const pointer = module._vsx_web_position(musicTime);
      if (!pointer) fail();
      const at = pointer >> 2;
      // lowerSection: the section played on the lower staff of a grand
      // staff (-1 without one), in the same measure.
      return {
        measure: module.HEAP32[at],
        section: module.HEAP32[at + 1],
        fraction: module.HEAPF32[at + 2],
        lowerSection: module.HEAP32[at + 3],
      };
    },

    // Measures first to last of the whole track (from 1; 0: from the
    // start, to the end), numbered and identified as in the whole track.
    musicXml({ tablature = false, first = 0, last = 0 } = {}) {
      return text(module._vsx_web_musicxml(tablature ? 1 : 0, first, last));
    },

    // Leaves the parsed track as it is.
    model(track, resolution, transpose) {
      return JSON.parse(text(module._vsx_web_model_json(track, resolution, transpose)));
    },

    // WebAssembly memory only grows: this is the most the library has
    // needed at once since the page started.
    memoryBytes() {
      return module.HEAPU8.length;
    },

    close() {
      module._vsx_web_close();
    },
  };
}
