#!/usr/bin/env node
// Serves the built workbench (build/web/site) on 127.0.0.1:
//   node web/serve.mjs [PORT] [SITE]      (default 8016, build/web/site)
// The browser tests start it on a free port through serve().
import http from 'node:http';
import fs from 'node:fs/promises';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const TYPES = {
  '.html': 'text/html; charset=utf-8', '.mjs': 'text/javascript', '.js': 'text/javascript',
  '.css': 'text/css', '.svg': 'image/svg+xml', '.wasm': 'application/wasm', '.png': 'image/png',
};

export function serve(site, port = 0) {
  const root = path.resolve(site);
  const server = http.createServer(async (request, response) => {
    let file;
    try {
      const url = new URL(request.url, 'http://127.0.0.1');
      file = path.join(root, decodeURIComponent(url.pathname));
      if (!file.startsWith(root)) throw new Error('outside the site');
      if ((await fs.stat(file)).isDirectory()) file = path.join(file, 'index.html');
      const body = await fs.readFile(file);
      response.writeHead(200, { 'Content-Type': TYPES[path.extname(file)] ?? 'text/plain; charset=utf-8',
                                'Cache-Control': 'no-cache' });
      response.end(body);
    } catch {
      response.writeHead(404, { 'Content-Type': 'text/plain' });
      response.end('not found\n');
    }
  });
  return new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(port, '127.0.0.1', () => resolve(server));
  });
}

if (process.argv[1] === fileURLToPath(import.meta.url)) {
  const here = path.dirname(fileURLToPath(import.meta.url));
  const port = Number(process.argv[2] ?? 8016);
  const site = process.argv[3] ?? path.join(here, '..', 'build', 'web', 'site');
  const server = await serve(site, port);
  console.log(`KALVO-3 workbench: http://127.0.0.1:${server.address().port}/  (${site}; Ctrl-C ends)`);
}
