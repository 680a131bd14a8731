#!/usr/bin/env node
// Serves the built workbench (build/web/site) on 127.0.0.1:
//   node web/serve.mjs [PORT] [SITE]      (default 8016, build/web/site)
// The browser tests start it on a free port through serve().
import http from 'node:http';
import fs from 'node:fs/promises';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import zlib from 'node:zlib';

const TYPES = {
  '.html': 'text/html; charset=utf-8', '.mjs': 'text/javascript', '.js': 'text/javascript',
  '.css': 'text/css', '.svg': 'image/svg+xml', '.wasm': 'application/wasm', '.png': 'image/png',
  '.md': 'text/plain; charset=utf-8',
};
// Sent gzip-compressed to a browser that takes it (the .wasm to a fifth).
const COMPRESSED = new Set(['.html', '.mjs', '.js', '.css', '.svg', '.wasm', '.md']);
const gzipped = new Map();   // file -> { mtime, body }

async function gzipOf(file, body) {
  const { mtimeMs } = await fs.stat(file);
  const kept = gzipped.get(file);
  if (kept?.mtime === mtimeMs) return kept.body;
  const packed = zlib.gzipSync(body, { level: 9 });
  gzipped.set(file, { mtime: mtimeMs, body: packed });
  return packed;
}

export function serve(site, port = 0) {
  const root = path.resolve(site);
  const server = http.createServer(async (request, response) => {
    let file;
    try {
      const url = new URL(request.url, 'http://127.0.0.1');
      file = path.join(root, decodeURIComponent(url.pathname));
      if (!file.startsWith(root)) throw new Error('outside the site');
      if ((await fs.stat(file)).isDirectory()) file = path.join(file, 'index.html');
      let body = await fs.readFile(file);
      const headers = { 'Content-Type': TYPES[path.extname(file)] ?? 'text/plain; charset=utf-8',
                        'Cache-Control': 'no-cache', 'Vary': 'Accept-Encoding' };
      if (COMPRESSED.has(path.extname(file)) && /\bgzip\b/.test(request.headers['accept-encoding'] ?? '')) {
        body = await gzipOf(file, body);
        headers['Content-Encoding'] = 'gzip';
      }
      headers['Content-Length'] = body.length;
      response.writeHead(200, headers);
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
