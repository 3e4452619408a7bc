#!/usr/bin/env node
// The web build served from disk: a static file server on 127.0.0.1, node's standard library only.
// A file with a precompressed sibling (name.br, name.gz, made by build.sh) goes out compressed to
// a browser that takes it. Files in a build's own folder (named by 16 hex digits of its contents)
// never change, so a browser keeps them for a year; everything else it asks about each time, and
// gets a 304 while it has not changed.
// Usage: node apps/web/serve.js [DIR] [--port N]
// DIR defaults to build-web beside the repository root, N to 8080; 0 takes any free port.
'use strict';
const fs = require('fs');
const http = require('http');
const path = require('path');

const MIME_TYPES = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.wasm': 'application/wasm', // instantiateStreaming insists on it
  '.mp3': 'audio/mpeg',
  '.png': 'image/png',
  '.jpg': 'image/jpeg',
  '.css': 'text/css; charset=utf-8',
  '.json': 'application/json',
  '.zaf': 'application/octet-stream',
  '.webmanifest': 'application/manifest+json',
};
// Preferred first.
const ENCODINGS = [['br', '.br'], ['gzip', '.gz']];
const BUILD_FOLDER = /^\/[0-9a-f]{16}\//;

// URL path -> file path under one of the folders, or null when it would leave that folder.
function resolvePath(urlPath, root, mounts) {
  let base = root;
  let rest = urlPath;
  for (const [prefix, dir] of Object.entries(mounts)) {
    if (urlPath.startsWith(prefix)) {
      base = dir;
      rest = urlPath.slice(prefix.length);
      break;
    }
  }
  const file = path.join(base, rest);
  return path.relative(base, file).split(path.sep)[0] === '..' ? null : file;
}

// "bytes=a-b" / "bytes=a-" / "bytes=-n" -> [start, end] inclusive; null if absent or multi-range
// (then the whole file goes out), false if it cannot be satisfied.
function parseRange(header, size) {
  const m = /^bytes=(\d*)-(\d*)$/.exec(header || '');
  if (!m || (m[1] === '' && m[2] === '')) return null;
  let start, end;
  if (m[1] === '') {
    start = Math.max(0, size - Number(m[2]));
    end = size - 1;
  } else {
    start = Number(m[1]);
    end = m[2] === '' ? size - 1 : Math.min(Number(m[2]), size - 1);
  }
  return start <= end && start < size ? [start, end] : false;
}

// The compressed sibling the browser accepts, if any: { name, file, st }, with vary set when the
// answer depends on Accept-Encoding at all.
function chooseEncoding(file, accepted) {
  const takes = new Set(String(accepted || '').split(',').map((e) => {
    const [name, ...params] = e.trim().toLowerCase().split(';');
    return params.some((p) => /^\s*q=0(\.0*)?\s*$/.test(p)) ? '' : name.trim();
  }));
  let vary = false;
  for (const [name, suffix] of ENCODINGS) {
    let st;
    try {
      st = fs.statSync(file + suffix);
    } catch {
      continue;
    }
    vary = true;
    if (st.isFile() && takes.has(name)) return { name, file: file + suffix, st, vary };
  }
  return { vary };
}

// A conditional GET that the copy the browser holds answers.
function notModified(reqHeaders, etag, mtime) {
  const match = reqHeaders['if-none-match'];
  if (match) return match.split(',').some((tag) => ['*', etag, `W/${etag}`].includes(tag.trim()));
  const since = Date.parse(reqHeaders['if-modified-since'] || '');
  return since >= Math.floor(mtime.getTime() / 1000) * 1000;
}

function fail(res, status) {
  res.writeHead(status, { 'Content-Type': 'text/plain; charset=utf-8' });
  res.end(`${status} ${http.STATUS_CODES[status]}\n`);
}

function handle(req, res, root, mounts) {
  if (req.method !== 'GET' && req.method !== 'HEAD') return fail(res, 405);
  let urlPath;
  try {
    urlPath = decodeURIComponent(req.url.replace(/\?.*/s, ''));
  } catch {
    return fail(res, 400);
  }
  if (urlPath.includes('\0')) return fail(res, 400);
  let file = resolvePath(urlPath, root, mounts);
  if (!file) return fail(res, 404);
  fs.stat(file, (err, st) => {
    if (!err && st.isDirectory()) {
      // Relative links in the folder's index.html resolve against a URL ending in '/'.
      if (!urlPath.endsWith('/')) {
        res.writeHead(301, { Location: encodeURI(urlPath) + '/' + req.url.replace(/^[^?]*/s, '') });
        return res.end();
      }
      file = path.join(file, 'index.html');
      try {
        st = fs.statSync(file);
      } catch (e) {
        err = e;
      }
    }
    if (err || !st.isFile()) return fail(res, 404);
    const headers = {
      'Content-Type': MIME_TYPES[path.extname(file).toLowerCase()] || 'application/octet-stream',
      'Cache-Control': BUILD_FOLDER.test(urlPath) ? 'public, max-age=31536000, immutable' : 'no-cache',
    };
    const encoded = chooseEncoding(file, req.headers['accept-encoding']);
    if (encoded.vary) headers.Vary = 'Accept-Encoding';
    if (encoded.name) {
      [file, st] = [encoded.file, encoded.st];
      headers['Content-Encoding'] = encoded.name;
    } else {
      headers['Accept-Ranges'] = 'bytes';
    }
    const version = `${st.size.toString(36)}-${Math.floor(st.mtimeMs).toString(36)}`;
    headers.ETag = `"${version}${encoded.name ? `-${encoded.name}` : ''}"`;
    headers['Last-Modified'] = st.mtime.toUTCString();
    if (notModified(req.headers, headers.ETag, st.mtime)) {
      delete headers['Content-Type'];
      res.writeHead(304, headers);
      return res.end();
    }
    let status = 200;
    let start = 0;
    let end = st.size - 1;
    // A byte range of a compressed body would be a range of bytes the browser cannot use.
    const range = encoded.name ? null : parseRange(req.headers.range, st.size);
    if (range === false) {
      res.writeHead(416, { 'Content-Range': `bytes */${st.size}` });
      return res.end();
    }
    if (range) {
      [start, end] = range;
      status = 206;
      headers['Content-Range'] = `bytes ${start}-${end}/${st.size}`;
    }
    headers['Content-Length'] = end - start + 1;
    res.writeHead(status, headers);
    if (req.method === 'HEAD' || st.size === 0) return res.end();
    fs.createReadStream(file, { start, end }).on('error', () => res.destroy()).pipe(res);
  });
}

// Serves root, and each mounts[prefix] under its URL prefix ('/ref/' -> a folder of references).
function startServer({ root, port = 8080, mounts = {} }) {
  root = path.resolve(root);
  const dirs = {};
  for (const [prefix, dir] of Object.entries(mounts)) dirs[prefix] = path.resolve(dir);
  const server = http.createServer((req, res) => handle(req, res, root, dirs));
  return new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(port, '127.0.0.1', () => resolve({ server, port: server.address().port }));
  });
}

module.exports = { startServer };

if (require.main === module) {
  const args = process.argv.slice(2);
  let root = path.join(__dirname, '..', '..', 'build-web');
  let port = 8080;
  for (let i = 0; i < args.length; i++) {
    if (args[i] === '--port') port = Number(args[++i]);
    else if (args[i].startsWith('-')) port = NaN;
    else root = args[i];
  }
  if (!Number.isInteger(port) || port < 0 || port > 65535) {
    console.error('usage: serve.js [DIR] [--port N]');
    process.exit(1);
  }
  if (!fs.existsSync(root) || !fs.statSync(root).isDirectory()) {
    console.error(`serve.js: ${root}: no such folder`);
    process.exit(1);
  }
  startServer({ root, port }).then(
    ({ port: got }) => console.log(`serving ${path.resolve(root)} at http://127.0.0.1:${got}/`),
    (err) => {
      console.error(`serve.js: ${err.message}`);
      process.exit(1);
    },
  );
}
