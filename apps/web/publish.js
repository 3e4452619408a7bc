#!/usr/bin/env node
// Lays a build's files out for hosting: everything in a folder named by 16 hex digits of their
// contents, so that a host may let browsers keep it for ever and the service worker can tell one
// build from the next, and at the root only what a visitor's address names: the page, the web
// app manifest and the service worker, each pointing into that folder. Files that compress get
// precompressed siblings (.br, .gz) for the server to send. Older build folders are removed.
// Usage: node apps/web/publish.js STAGE OUT   (STAGE: the build's files, flat)
'use strict';
const crypto = require('crypto');
const fs = require('fs');
const path = require('path');
const zlib = require('zlib');

// Addressed by name at the root; the rest lives in the build's folder.
const ROOT_FILES = ['index.html', 'manifest.webmanifest', 'sw.js'];
// The archive and the soundtrack are compressed already.
const COMPRESSIBLE = /\.(html|js|css|wasm|webmanifest|json|svg)$/;
const BUILD_ID = /^[0-9a-f]{16}$/;

function compress(file) {
  const bytes = fs.readFileSync(file);
  const brotli = { [zlib.constants.BROTLI_PARAM_QUALITY]: 11, [zlib.constants.BROTLI_PARAM_SIZE_HINT]: bytes.length };
  fs.writeFileSync(`${file}.br`, zlib.brotliCompressSync(bytes, { params: brotli }));
  fs.writeFileSync(`${file}.gz`, zlib.gzipSync(bytes, { level: 9 }));
}

// Returns the build's id.
function publish(stage, out) {
  const names = fs.readdirSync(stage).filter((n) => fs.statSync(path.join(stage, n)).isFile()).sort();
  for (const n of ROOT_FILES)
    if (!names.includes(n)) throw new Error(`${path.join(stage, n)} is missing`);
  const hash = crypto.createHash('sha256');
  for (const n of names) hash.update(`${n}\0`).update(fs.readFileSync(path.join(stage, n))).update('\0');
  const id = hash.digest('hex').slice(0, 16);

  const folder = path.join(out, id);
  fs.rmSync(folder, { recursive: true, force: true });
  fs.mkdirSync(folder, { recursive: true });
  const inFolder = names.filter((n) => !ROOT_FILES.includes(n));
  for (const n of inFolder) {
    fs.copyFileSync(path.join(stage, n), path.join(folder, n));
    if (COMPRESSIBLE.test(n)) compress(path.join(folder, n));
  }
  // The root files name the folder's files by the folder; the service worker learns the build
  // and what to keep from the line put before it.
  const files = ['./', 'manifest.webmanifest', ...inFolder.map((n) => `${id}/${n}`)];
  for (const n of ROOT_FILES) {
    let text = fs.readFileSync(path.join(stage, n), 'utf8');
    for (const f of inFolder) text = text.split(`"${f}"`).join(`"${id}/${f}"`);
    if (n === 'sw.js') text = `const BUILD = '${id}', FILES = ${JSON.stringify(files)};\n${text}`;
    fs.writeFileSync(path.join(out, n), text);
    compress(path.join(out, n));
  }
  for (const n of fs.readdirSync(out))
    if (BUILD_ID.test(n) && n !== id) fs.rmSync(path.join(out, n), { recursive: true, force: true });
  return id;
}

module.exports = { publish };

if (require.main === module) {
  const [stage, out] = process.argv.slice(2);
  if (!stage || !out) {
    console.error('usage: publish.js STAGE OUT');
    process.exit(1);
  }
  try {
    const id = publish(stage, out);
    const bytes = (f) => fs.statSync(path.join(out, f)).size;
    console.log(`published build ${id} in ${out}: ${(fs.readdirSync(path.join(out, id))
      .filter((n) => !/\.(br|gz)$/.test(n)).reduce((s, n) => s + bytes(path.join(id, n)), 0) / 1e6).toFixed(1)} MB`);
  } catch (e) {
    console.error(`publish.js: ${e.message}`);
    process.exit(1);
  }
}
