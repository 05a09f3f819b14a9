// A static file server for the built page, on the loopback address only:
//   node viewer/serve.js build-viewer/site [PORT]
// Also imported by the tests, which start it on a free port.
import { createServer } from 'node:http';
import { readFile } from 'node:fs/promises';
import { extname, join, normalize, resolve, sep } from 'node:path';
import { pathToFileURL } from 'node:url';

const TYPES = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.mjs': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.wasm': 'application/wasm',
  '.mid': 'audio/midi',
  '.png': 'image/png',
  '.svg': 'image/svg+xml',
};

// Serves the files under root; resolves to the listening server.
export function startServer(root, port = 0, host = '127.0.0.1') {
  const base = resolve(root);
  const server = createServer(async (request, response) => {
    const path = decodeURIComponent(new URL(request.url, 'http://localhost').pathname);
    const file = normalize(join(base, path.endsWith('/') ? `${path}index.html` : path));
    if (file !== base && !file.startsWith(base + sep)) {
      response.writeHead(403).end();
      return;
    }
    try {
      const body = await readFile(file);
      response.writeHead(200, { 'Content-Type': TYPES[extname(file)] ?? 'application/octet-stream', 'Cache-Control': 'no-cache' });
      response.end(body);
    } catch {
      response.writeHead(404, { 'Content-Type': 'text/plain' }).end('not found');
    }
  });
  return new Promise((resolveServer, reject) => {
    server.once('error', reject);
    server.listen(port, host, () => resolveServer(server));
  });
}

if (import.meta.url === pathToFileURL(process.argv[1] ?? '').href) {
  const [root = 'build-viewer/site', port = '8080'] = process.argv.slice(2);
  const server = await startServer(root, Number(port));
  const { address, port: listening } = server.address();
  console.log(`vastrel viewer: http://${address}:${listening}/ (serving ${root}; Ctrl-C stops)`);
}
