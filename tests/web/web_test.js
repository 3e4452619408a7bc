#!/usr/bin/env node
// The web build in headless chromium, driven over the DevTools protocol: start-up, the player
// (pause, seeks, keys, moment links, the end), loading failures, the canvas's size, frames
// against qm-capture's reference PNGs, and an optional benchmark. Node's standard library only.
// Usage: web_test.js --web DIR --ref DIR --times 45:0.5,80,200 [--tolerance X] [--bench N]
//        [--sizes 1024x600:X,...]
// A time may carry its own tolerance (T:X); the rest take --tolerance (default 4). The first time
// is also drawn at each of --sizes (references in DIR/WxH/), each with its own tolerance.
'use strict';
const childProcess = require('child_process');
const crypto = require('crypto');
const fs = require('fs');
const http = require('http');
const os = require('os');
const path = require('path');
const { startServer } = require('../../apps/web/serve.js');

const CHROMIUM = process.env.CHROMIUM || '/usr/bin/chromium';
// Not 4:3, so that the page's fitting shows.
const WINDOW = [960, 600];
// --no-sandbox: chromium refuses to start as root without it. --use-angle=swiftshader with
// --enable-unsafe-swiftshader: WebGL on the CPU without the warnings of the automatic fallback
// (deprecated, and going). The rest keep a bare profile from reaching out.
const FLAGS = ['--headless', '--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
  '--disable-quic', '--no-first-run', '--disable-background-networking', '--disable-component-update',
  '--disable-sync', '--mute-audio', `--window-size=${WINDOW.join(',')}`];
const LIMIT_MS = { run: 480e3, launch: 30e3, load: 30e3, frames: 20e3, music: 40e3, escape: 2e3,
  render: 60e3, bench: 120e3, seek: 10e3 };
// The storyboard's picture of a moment against qm-capture's frame there, drawn at its size (8 x 8
// block means, 0-255): twice the 0.42 measured between the two (JPEG, two scalers), rounded up.
// Another moment differed by 32.5.
const PREVIEW_TOLERANCE = 1;
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// --key value pairs to options, or null where anything is unknown, missing or not a number.
function parseArgs(argv) {
  const o = { tolerance: '4', bench: '0', sizes: '' };
  for (let i = 0; i < argv.length; i += 2) o[argv[i].replace(/^--/, '')] = argv[i + 1];
  const opts = { web: o.web, ref: o.ref, times: [], tolerances: [], tolerance: Number(o.tolerance),
    bench: Number(o.bench), sizes: [] };
  for (const entry of String(o.times).split(',')) {
    const [t, tol = o.tolerance] = entry.split(':');
    opts.times.push(t);
    opts.tolerances.push(Number(tol));
  }
  for (const entry of o.sizes ? o.sizes.split(',') : []) {
    const [size, tol = o.tolerance] = entry.split(':');
    const m = /^(\d+)x(\d+)$/.exec(size);
    opts.sizes.push(m ? { size, width: +m[1], height: +m[2], tolerance: Number(tol) } : {});
  }
  const known = Object.keys(o).every((k) => k in opts);
  const numbers = opts.times.every((t) => t !== '' && Number.isFinite(Number(t)));
  const tolerances = [...opts.tolerances, ...opts.sizes.map((x) => x.tolerance)].every((x) => x > 0);
  return known && o.web && o.ref && numbers && tolerances && opts.bench >= 0 ? opts : null;
}

function withTimeout(promise, ms, what) {
  let timer;
  const error = new Error(`${what}: nothing within ${ms / 1000} s`);
  const expiry = new Promise((_, reject) => (timer = setTimeout(reject, ms, error)));
  return Promise.race([promise, expiry]).finally(() => clearTimeout(timer));
}

// Polls until fn gives something truthy; a throw (a page still loading, say) counts as not yet.
async function poll(fn, ms, what) {
  for (const end = Date.now() + ms; ; await new Promise((resolve) => setTimeout(resolve, 50))) {
    const value = await Promise.resolve().then(fn).catch(() => undefined);
    if (value) return value;
    if (Date.now() > end) throw new Error(`${what} within ${ms / 1000} s`);
  }
}

// The smallest websocket client the DevTools endpoint needs (node 18, Debian 12's, has none):
// whole text frames in, as chromium sends them; commands under 64 KiB out, masked.
function openSocket(url, onText) {
  const { hostname, port, pathname } = new URL(url);
  const headers = { Connection: 'Upgrade', Upgrade: 'websocket', 'Sec-WebSocket-Version': '13',
    'Sec-WebSocket-Key': crypto.randomBytes(16).toString('base64') };
  return new Promise((resolve, reject) => {
    const req = http.request({ hostname, port, path: pathname, headers }).on('error', reject);
    req.on('response', (res) => reject(new Error(`websocket refused: HTTP ${res.statusCode}`)));
    req.on('upgrade', (res, socket, data) => {
      socket.on('data', (chunk) => {
        for (data = Buffer.concat([data, chunk]); data.length >= 2;) {
          let [len, at] = [data[1] & 127, 2];
          if (len === 126) [len, at] = [data.length < 4 ? Infinity : data.readUInt16BE(2), 4];
          if (len === 127) [len, at] = [data.length < 10 ? Infinity : data.readUIntBE(4, 6), 10];
          if (data.length < at + len) return;
          if ((data[0] & 15) === 1) onText(data.toString('utf8', at, at + len));
          data = data.subarray(at + len);
        }
      });
      resolve({
        send(text) {
          const payload = Buffer.from(text);
          const n = payload.length;
          if (n >= 65536) throw new Error(`a ${n}-byte command is more than this client sends`);
          const head = Buffer.from(n < 126 ? [0x81, 0x80 | n] : [0x81, 0xfe, n >> 8, n & 255]);
          const mask = crypto.randomBytes(4);
          for (let i = 0; i < n; i++) payload[i] ^= mask[i & 3];
          socket.write(Buffer.concat([head, mask, payload]));
        },
        close: () => socket.destroy(),
      });
    });
    req.end();
  });
}

// What makes a page's console unclean, by DevTools event.
const ERRORS = {
  'Runtime.consoleAPICalled': (p) => p.type === 'error' &&
    `console.error: ${p.args.map((a) => a.value ?? a.description).join(' ')}`,
  'Runtime.exceptionThrown': ({ exceptionDetails: d }) =>
    `uncaught: ${d.exception?.description ?? d.text}`,
  'Log.entryAdded': ({ entry: e }) => e.level === 'error' &&
    `log: ${e.text}${e.url ? ` (${e.url})` : ''}`,
};

// One page target: commands with their replies, the load event, console errors collected.
async function connectPage(devtoolsPort) {
  const targets = await new Promise((resolve, reject) => {
    http.get(`http://127.0.0.1:${devtoolsPort}/json/list`, (res) => {
      let body = '';
      res.on('data', (c) => (body += c)).on('end', () => resolve(JSON.parse(body)));
    }).on('error', reject);
  });
  const target = targets.find((t) => t.type === 'page');
  if (!target) throw new Error('chromium shows no page target');
  const pending = new Map();
  const page = { errors: [], nextId: 1, onLoad: () => {} };
  page.socket = await openSocket(target.webSocketDebuggerUrl, (text) => {
    const { id, result, error, method, params } = JSON.parse(text);
    const waiter = pending.get(id);
    pending.delete(id);
    if (waiter && error) waiter.reject(new Error(`${waiter.method}: ${error.message}`));
    else if (waiter) waiter.resolve(result);
    if (method === 'Page.loadEventFired') page.onLoad();
    const unclean = ERRORS[method]?.(params);
    if (unclean) page.errors.push(unclean);
  });
  page.send = (method, params = {}) => withTimeout(new Promise((resolve, reject) => {
    pending.set(page.nextId, { resolve, reject, method });
    page.socket.send(JSON.stringify({ id: page.nextId++, method, params }));
  }), LIMIT_MS.load, method);
  page.evaluate = async (expression) => {
    const params = { expression, awaitPromise: true, returnByValue: true };
    const { result, exceptionDetails: e } = await page.send('Runtime.evaluate', params);
    if (e) throw new Error((e.exception?.description ?? e.text).replace(/^Error: /, ''));
    return result.value;
  };
  page.waitFor = (expression, ms, what) => poll(() => page.evaluate(expression), ms, what);
  page.open = async (url) => {
    page.errors = [];
    const loaded = new Promise((resolve) => (page.onLoad = resolve));
    await page.send('Page.navigate', { url });
    await withTimeout(loaded, LIMIT_MS.load, `loading ${url}`);
    await page.waitFor('typeof window.qm === "object"', LIMIT_MS.load, 'no window.qm');
  };
  for (const domain of ['Page', 'Runtime', 'Log']) await page.send(`${domain}.enable`);
  return page;
}

// In the page: the demo's last grabbed frame (rows bottom-up, as glReadPixels gives them) or,
// given its URL, a reference PNG (rows top-down), as the RGB means of its 8 x 8 blocks, and the
// frame's size. A reference must have the frame's size; W x H, when given, is the size wanted.
const PAGE_BLOCKS = `async (url, W, H) => {
  const f = window.qm.frame;
  if (!f || !(f.rgba instanceof Uint8Array) || f.rgba.length !== f.width * f.height * 4)
    throw new Error('qm.frame holds no RGBA frame');
  if (W && (f.width !== W || f.height !== H))
    throw new Error('qm.frame is ' + f.width + ' x ' + f.height + ', not ' + W + ' x ' + H);
  [W, H] = [f.width, f.height];
  const blocks = (rgba, bottomUp) => {
    const across = Math.ceil(W / 8), sums = new Float64Array(across * Math.ceil(H / 8) * 3);
    for (let y = 0; y < H; y++) {
      const row = (bottomUp ? H - 1 - y : y) * W * 4;
      for (let x = 0; x < W; x++) {
        const o = ((y >> 3) * across + (x >> 3)) * 3;
        for (let c = 0; c < 3; c++) sums[o + c] += rgba[row + x * 4 + c];
      }
    }
    return Array.from(sums, (s) => s / 64);
  };
  if (!url) return blocks(f.rgba, true);
  const img = new Image();
  img.src = url;
  await img.decode().catch(() => { throw new Error(url + ' did not load'); });
  if (img.naturalWidth !== W || img.naturalHeight !== H) throw new Error(url + ' is not ' + W + ' x ' + H);
  const g = new OffscreenCanvas(W, H).getContext('2d');
  g.drawImage(img, 0, 0);
  return blocks(g.getImageData(0, 0, W, H).data, false);
}`;

// In the page: whether the grabbed frame is black (all of R, G and B zero) in a rectangle given
// with y counted from the top.
const PAGE_BLACK = `(x0, y0, w, h) => {
  const f = window.qm.frame;
  for (let y = y0; y < y0 + h; y++)
    for (let x = x0; x < x0 + w; x++) {
      const o = ((f.height - 1 - y) * f.width + x) * 4;
      if (f.rgba[o] || f.rgba[o + 1] || f.rgba[o + 2]) return false;
    }
  return true;
}`;

// In the page: the grabbed frame's size and a SHA-256 of its bytes.
const PAGE_HASH = `crypto.subtle.digest('SHA-256', qm.frame.rgba).then((d) => qm.frame.width + 'x' +
  qm.frame.height + ' ' + Array.from(new Uint8Array(d), (b) => b.toString(16).padStart(2, '0')).join(''))`;

const meanDifference = (a, b) => a.reduce((sum, v, i) => sum + Math.abs(v - b[i]), 0) / a.length;

// Presses a key as a person would (down, then up), with Shift where a US keyboard needs it.
async function press(page, key) {
  const codes = { ' ': ['Space', 32], ArrowLeft: ['ArrowLeft', 37], ArrowRight: ['ArrowRight', 39],
    ArrowUp: ['ArrowUp', 38], ArrowDown: ['ArrowDown', 40], Home: ['Home', 36], End: ['End', 35],
    Escape: ['Escape', 27], Tab: ['Tab', 9], ',': ['Comma', 188], '.': ['Period', 190],
    '<': ['Comma', 188, 8], '>': ['Period', 190, 8], '?': ['Slash', 191, 8] };
  const [code, windowsVirtualKeyCode, modifiers = 0] = codes[key] ??
    (/^[a-z]$/.test(key) ? [`Key${key.toUpperCase()}`, key.toUpperCase().charCodeAt(0)]
      : [`Digit${key}`, key.charCodeAt(0)]);
  const text = key.length === 1 ? { text: key } : {};
  const event = { key, code, windowsVirtualKeyCode, modifiers };
  await page.send('Input.dispatchKeyEvent', { type: 'keyDown', ...event, ...text });
  await page.send('Input.dispatchKeyEvent', { type: 'keyUp', ...event });
}

// Clicks the middle of an element once it is shown, enabled and on top.
async function click(page, selector, what) {
  const at = await page.waitFor(`(() => {
    const b = document.querySelector('${selector}'), r = b?.getBoundingClientRect();
    const x = r?.left + r?.width / 2, y = r?.top + r?.height / 2, s = b && getComputedStyle(b);
    const shown = r?.width > 0 && r.height > 0 && s.visibility !== 'hidden' && s.opacity > 0;
    return shown && !b.disabled && b.contains(document.elementFromPoint(x, y)) && { x, y };
  })()`, LIMIT_MS.load, `no ${what} shown, enabled and on top`);
  for (const type of ['mousePressed', 'mouseReleased']) {
    await page.send('Input.dispatchMouseEvent', { type, ...at, button: 'left', clickCount: 1 });
  }
  return at;
}

// The soundtrack's position against the demo clock, in seconds (music minus clock).
const musicOffset = (page) => page.evaluate('qm.musicTime - qm.clock');
const within = (x, limit, what) => {
  const line = `${what} ${(x * 1000).toFixed(1)} ms`;
  if (!(Math.abs(x) <= limit)) throw new Error(`${line}, more than ${limit * 1000} ms`);
  return line;
};

async function runChecks(page, base, opts, check) {
  const noErrors = (what) => {
    if (page.errors.length) throw new Error(page.errors.join('; '));
    return what;
  };
  const blocksOf = (url, w = 0, h = 0) =>
    page.evaluate(`(${PAGE_BLOCKS})(${url && JSON.stringify(url)}, ${w}, ${h})`);
  const compare = async (frame, url, tolerance, above) => {
    const diff = meanDifference(frame, await blocksOf(url));
    const line = `difference ${diff.toFixed(2)}, ${above ? 'must exceed' : 'tolerance'} ${tolerance.toFixed(2)}`;
    if (above ? diff <= tolerance : diff >= tolerance) throw new Error(line);
    return line;
  };
  const ref = (t, size) => `/ref/${size ? `${size}/` : ''}frame_${t}.png`;
  const tolerance = (t) => opts.tolerances[opts.times.indexOf(String(t))];
  // Opens /?query, waits for qm[key] (left in the page: a frame is big) or fails with qm.error.
  const answer = async (query, key, ms) => {
    await page.open(`${base}?${query}`);
    const r = await page.waitFor(`qm.${key} ? 'set' : qm.error != null && String(qm.error)`,
      ms, `no qm.${key} nor qm.error (${page.errors[0] || 'no console error'})`);
    if (r !== 'set') throw new Error(`qm.error: ${r}`);
  };
  // Opens /?query and starts the demo.
  const startAt = async (query) => {
    await page.open(`${base}${query}`);
    await click(page, '#start', '#start');
    await page.waitFor('qm.frames > 0', LIMIT_MS.frames, 'no frame drawn');
  };
  // Seeks and waits for the frame; gives the time the page took, in ms.
  const seek = (t, grab = false) => page.evaluate(`(async () => {
    const begin = performance.now();
    await qm.seek(${t}, ${grab});
    return performance.now() - begin;
  })()`);

  await check('load /', () => page.open(base).then(() => noErrors('window.qm, no console errors')));
  await check('loading counts both files in bytes', async () => {
    const bars = await page.waitFor(`!document.querySelector('#start').disabled &&
      ['zaf', 'mp3'].map((k) => document.getElementById(k + '-bar').value)`, LIMIT_MS.load,
      'the start button stayed disabled');
    if (bars.some((v) => v !== 1)) throw new Error(`bars at ${bars} when start was enabled`);
    return 'archive and soundtrack at 1 when start is clickable';
  });
  await check('#start visible', async () => {
    const b = await click(page, '#start', '#start');
    return `clicked at ${Math.round(b.x)},${Math.round(b.y)}`;
  });
  await check('frames advance', async () => {
    const frames = (above, what) =>
      page.waitFor(`window.qm.frames > ${above} && window.qm.frames`, LIMIT_MS.frames, what);
    const first = await frames(0, 'no frame drawn');
    return `qm.frames ${first} -> ${await frames(first, 'frames stopped')}`;
  });
  // The soundtrack starts with entry 1, after the loading sequence, and keeps the demo's pace:
  // demo time minus music time holds still (within a frame or two at this machine's rate).
  await check('music in step', async () => {
    await page.waitFor('qm.audio?.[0] && !qm.audio[0].paused && qm.audio[0].currentTime > 1',
      LIMIT_MS.music, 'the soundtrack did not start');
    const lead = () => page.evaluate('qm.time - qm.audio[0].currentTime');
    const before = await lead();
    await sleep(4000);
    const after = await lead();
    const line = `demo clock ahead of the music by ${before.toFixed(2)} s, then ${after.toFixed(2)} s`;
    if (Math.abs(after - before) > 0.25) throw new Error(line);
    return line;
  });

  // Pause holds the frame and the music; resume goes on from the same frame with the music.
  await check('Space pauses and holds the frame', async () => {
    await press(page, ' ');
    await page.waitFor('qm.paused === true', LIMIT_MS.escape, 'qm.paused not true');
    const held = '[qm.frames, qm.frameTime, qm.clock, qm.audio[0].paused, qm.audio[0].currentTime]';
    const before = await page.evaluate(held);
    await sleep(1000);
    const after = await page.evaluate(held);
    if (JSON.stringify(before) !== JSON.stringify(after) || !after[3])
      throw new Error(`frames, frame, clock, music paused, music time moved: ${before} -> ${after}`);
    return `frame ${after[0]} at ${after[1].toFixed(3)} s held for 1 s, music paused`;
  });
  await check('Space resumes from the same frame, music in step', async () => {
    const frameTime = await page.evaluate('qm.frameTime');
    await press(page, ' ');
    await page.waitFor('qm.paused === false && qm.frames', LIMIT_MS.escape, 'qm.paused not false');
    const [next, offset] = await page.evaluate(`new Promise((resolve) => {
      const frames = qm.frames;
      const wait = () => (qm.frames > frames ? resolve([qm.frameTime, qm.musicTime - qm.clock])
        : requestAnimationFrame(wait));
      wait();
    })`);
    if (!(next > frameTime && next < frameTime + 0.25))
      throw new Error(`paused at ${frameTime.toFixed(3)} s, went on at ${next.toFixed(3)} s`);
    await sleep(2000);
    const later = await musicOffset(page);
    return `on at ${next.toFixed(3)} s; ${within(offset, 0.05, 'music after resume')}, ` +
      within(later, 0.05, '2 s later');
  });

  // Forward and backward, playing: the frame qm-capture draws, the music where the clock is.
  const jumps = [opts.times[0], opts.times[2], opts.times[1], opts.times[3], opts.times[0]];
  for (const [i, t] of jumps.entries()) {
    const way = i > 0 && Number(t) < Number(jumps[i - 1]) ? 'back' : 'forward';
    await check(`seek ${way} to ${t}`, async () => {
      const ms = await seek(t, true);
      await sleep(500);   // the music playing again
      const [c0, playing] = await page.evaluate('[qm.clock, !qm.audio[0].paused]');
      const offset = await musicOffset(page);
      if (!playing || (await page.evaluate('qm.clock')) === c0) throw new Error('music or clock stands');
      const diff = await compare(await blocksOf(null, 640, 480), ref(t), tolerance(t), false);
      const skip = await page.evaluate('qm.seekMs[qm.seekMs.length - 1]');
      return `${ms.toFixed(0)} ms (skip ${skip}), ${diff}, ${within(offset, 0.05, 'music')}`;
    });
  }
  await check('a backward seek draws what a fresh ?at= draws', async () => {
    const t = opts.times[1];
    await seek(Number(opts.times[3]));
    await seek(t, true);
    const seeked = await page.evaluate(PAGE_HASH);
    await answer(`at=${t}`, 'frame', LIMIT_MS.render);
    const fresh = await page.evaluate(PAGE_HASH);
    if (seeked !== fresh) throw new Error(`${seeked} after the seek, ${fresh} fresh`);
    return `the frame at ${t} after a seek back from ${opts.times[3]}: byte for byte (${fresh.slice(0, 12)})`;
  });

  // The times the README gives: from 0 to 10, 150 and 300, and from 300 back to 5.
  await check('seek times', async () => {
    await startAt('');
    await page.evaluate('qm.pause()');   // each frame reached stays to be looked at
    const lines = [];
    for (const [from, to] of [[0, 10], [0, 150], [0, 300], [300, 5]]) {
      await seek(from);
      const ms = await seek(to);
      const [at, ended] = await page.evaluate('[qm.frameTime, qm.ended]');
      if (ended || Math.abs(at - to) > 1 / 60) throw new Error(`${from}->${to} shows ${at} s, ended ${ended}`);
      lines.push(`${from}->${to} ${ms.toFixed(0)} ms (skip ${await page.evaluate('qm.seekMs.at(-1)')})`);
    }
    return lines.join(', ');
  });

  // Each key, from a paused frame, by what it does to the demo clock.
  await check('keys', async () => {
    await page.evaluate('qm.pause()');
    await seek(100);
    const keys = [
      ['ArrowRight', 'qm.frameTime', (a, b) => Math.abs(b - a - 5) < 0.02],
      ['ArrowLeft', 'qm.frameTime', (a, b) => Math.abs(a - b - 5) < 0.02],
      ['Home', 'qm.frameTime', (a, b) => b === 0],
      [' ', 'qm.paused', (a, b) => a === true && b === false],
      [' ', 'qm.paused', (a, b) => a === false && b === true],
      ['f', '!!document.fullscreenElement', (a, b) => !a && b],
      ['f', '!!document.fullscreenElement', (a, b) => a && !b],
    ];
    const lines = [];
    for (const [key, what, ok] of keys) {
      const before = await page.evaluate(what);
      await press(page, key);
      const after = await poll(async () => {
        const v = await page.evaluate(what);
        return ok(before, v) && { v };
      }, LIMIT_MS.seek, `${JSON.stringify(key)}: ${what} stayed ${before}`);
      lines.push(`${key === ' ' ? 'Space' : key} ${before}->${after.v}`);
    }
    return lines.join(', ');
  });
  // The bar's 42 marks stand at the entries' starts; pointing at one names that entry.
  await check('seek bar marks name their entries', async () => {
    const marks = await page.evaluate(`Array.from(document.querySelectorAll('.mark'), (m) => {
      const r = m.getBoundingClientRect();
      return [Number(m.dataset.entry), r.left + r.width / 2, r.top + r.height / 2];
    })`);
    if (marks.length !== 42 || marks.some(([e], i) => e !== i)) throw new Error(`${marks.length} marks`);
    const lines = [];
    for (const e of [0, 11, 41]) {
      const [, x, y] = marks[e];
      for (let i = 0; i < 2; i++) {   // the first move shows the controls
        await page.send('Input.dispatchMouseEvent', { type: 'mouseMoved', x, y });
      }
      const [tip, start] = await page.evaluate(`[document.querySelector('#tip').textContent,
        Module._qm_entry_start(${e})]`);
      const want = `${Math.floor(start / 60)}:${(start % 60).toFixed(1).padStart(4, '0')} · ${e} · `;
      if (!tip.startsWith(want)) throw new Error(`mark ${e} says ${JSON.stringify(tip)}, not ${want}…`);
      lines.push(tip);
    }
    return lines.join(' | ');
  });
  await check('Escape ends the demo', async () => {
    await page.evaluate('qm.play()');
    const start = Date.now();
    await press(page, 'Escape');
    await page.waitFor('window.qm.ended === true', LIMIT_MS.escape, 'qm.ended not true');
    return `qm.ended after ${Date.now() - start} ms`;
  });
  // Late ones too: a missing file, an exception in a frame.
  await check('no console errors on /', async () => noErrors('none from load to Escape'));
  await controlChecks(page, base, opts, check, { answer, blocksOf, compare, ref, seek, startAt });

  // A moment link: the demo starts there; near the end it ends, holds, and plays again from 0.
  await check('?t= starts there, the end offers play again', async () => {
    await startAt('?t=306');
    const first = await page.evaluate('qm.frameTime');
    if (Math.abs(first - 306) > 1 / 60) throw new Error(`the first frame is at ${first} s`);
    await page.waitFor('qm.ended', 10e3, 'the demo did not end');
    await page.waitFor('!document.querySelector("#again").hidden', 3e3, 'no play again');
    if (!(await page.evaluate('qm.audio[0].paused'))) throw new Error('the music plays on');
    await click(page, '#again', '#again');
    const t = await page.waitFor('!qm.ended && qm.frameTime < 1 && qm.frames > 2 && qm.frameTime + 1',
      5e3, 'play again did not start from 0');
    return noErrors(`first frame at ${first.toFixed(3)} s, ended, again from ${(t - 1).toFixed(3)} s`);
  });

  // A file that does not load: one line naming it, no start button.
  for (const name of ['quiet_moss.mp3', 'quiet_moss.zaf']) {
    await check(`without ${name}`, async () => {
      const folder = `${base}without/${name}/`;
      await page.send('Page.navigate', { url: folder });
      const said = await page.waitFor('window.qm?.error', LIMIT_MS.load, 'no qm.error');
      const shown = await page.evaluate(`[document.querySelector('#note').innerText,
        getComputedStyle(document.querySelector('#start')).display]`);
      if (!said.includes(name) || shown[0] !== said || shown[1] !== 'none' || said.includes('\n'))
        throw new Error(`said ${JSON.stringify(said)}, shown ${JSON.stringify(shown)}`);
      return said;
    });
  }

  // The canvas's size: a software renderer draws 640 x 480, scaled to the largest 4:3 box in
  // the window; the sizing rule for other renderers, device pixels included.
  await check('canvas fits the window', async () => {
    await page.open(base);
    const got = await page.waitFor(`qm.renderer && (() => {
      const c = document.querySelector('canvas'), r = c.getBoundingClientRect();
      return [c.width, c.height, r.left, r.top, r.width, r.height, qm.renderer, innerWidth, innerHeight];
    })()`, LIMIT_MS.load, 'no renderer reported');
    const [W, H] = got.slice(7), h = Math.min(H, (W * 3) / 4), w = (h * 4) / 3;
    const want = [640, 480, (W - w) / 2, (H - h) / 2, w, h];
    if (want.some((v, i) => Math.abs(v - got[i]) > 0.5))
      throw new Error(`canvas ${got.slice(0, 6)}, not ${want} (${got[6]})`);
    return `640 x 480 drawn, shown ${w} x ${h} at ${want[2]},${want[3]} (${got[6]})`;
  });
  await check('sizing rule', async () => {
    const gpu = 'ANGLE (NVIDIA, NVIDIA H100 Direct3D11)';
    const cases = [
      [[800, 600, 1, gpu, null], [800, 600, true]],
      [[1280, 720, 2, gpu, null], [2560, 1440, true]],
      [[1280, 720, 1.5, 'llvmpipe (LLVM 15.0.6, 256 bits)', null], [640, 480, false]],
      [[1280, 720, 2, 'ANGLE (Google, SwiftShader Device)', null], [640, 480, false]],
      [[1280, 720, 2, 'ANGLE (Google, SwiftShader Device)', 'window'], [2560, 1440, true]],
      [[5000, 2500, 2, gpu, null], [7680, 3840, true]],
      [[40, 30, 1, gpu, null], [64, 64, true]],
      [[1280, 720, 2, gpu, [1024, 600]], [1024, 600, false]],
    ];
    for (const [args, want] of cases) {
      const got = await page.evaluate(`Object.values(qm.drawingSize(...${JSON.stringify(args)}))`);
      if (JSON.stringify(got) !== JSON.stringify(want))
        throw new Error(`${JSON.stringify(args)}: ${got}, not ${want}`);
    }
    return `${cases.length} cases`;
  });

  // Other sizes: the frame at the first time, bars black, against qm-capture --size.
  const t0 = opts.times[0];
  for (const { size, width, height, tolerance: tol } of opts.sizes) {
    await check(`frame ${t0} at ${size}`, async () => {
      await answer(`at=${t0}&size=${size}`, 'frame', LIMIT_MS.render);
      const frame = await blocksOf(null, width, height);
      const ph = Math.min(height, Math.floor((width * 3) / 4)), pw = Math.min(width, (ph * 4) / 3);
      const [x, y] = [Math.floor((width - pw) / 2), Math.floor((height - ph) / 2)];
      const bars = x > 0 ? [[0, 0, x, height], [x + pw, 0, width - x - pw, height]]
        : [[0, 0, width, y], [0, y + ph, width, height - y - ph]];
      for (const b of bars) {
        if (!(await page.evaluate(`(${PAGE_BLACK})(${b})`))) throw new Error(`bar ${b} is not black`);
      }
      if (await page.evaluate(`(${PAGE_BLACK})(${[x, y, pw, ph]})`)) throw new Error('the picture is black');
      return `bars black, ${await compare(frame, ref(t0, size), tol, false)}`;
    });
  }
  // The device's pixels, and again after the window changes size and pixel ratio: the frame
  // drawn after the resize is qm-capture's at the new size.
  const [last] = opts.sizes.slice(-1);
  if (last) {
    await check(`resize to ${last.size} device pixels`, async () => {
      const { width, height, tolerance: tol } = last;
      await startAt('?size=window');
      const before = await page.evaluate('[canvas.width, canvas.height, innerWidth, innerHeight]');
      if (before[0] !== before[2] || before[1] !== before[3])
        throw new Error(`the canvas is ${before[0]} x ${before[1]} in a window of ${before[2]} x ${before[3]}`);
      await page.send('Emulation.setDeviceMetricsOverride',
        { width: width / 2, height: height / 2, deviceScaleFactor: 2, mobile: false });
      try {
        await page.waitFor(`canvas.width === ${width} && canvas.height === ${height}`, LIMIT_MS.load,
          `the canvas is not ${last.size}`);
        await seek(t0, true);
        return `canvas ${last.size}, ${await compare(await blocksOf(null, width, height), ref(t0, last.size), tol, false)}`;
      } finally {
        await page.send('Emulation.clearDeviceMetricsOverride');
      }
    });
  }

  const other = opts.times[1];
  let firstFrame;
  for (const [i, t] of opts.times.entries()) {
    await check(`frame ${t}`, async () => {
      await answer(`at=${encodeURIComponent(t)}`, 'frame', LIMIT_MS.render);
      const frame = await blocksOf(null, 640, 480);
      if (i === 0) firstFrame = frame;
      return compare(frame, ref(t), opts.tolerances[i], false);
    });
    // The same comparison must tell two different moments apart, or it proves nothing.
    if (i > 0 || other === undefined) continue;
    await check(`frame ${t} against reference ${other}`, async () => {
      if (!firstFrame) throw new Error('no frame to compare');
      return compare(firstFrame, ref(other), opts.tolerances[0], true);
    });
  }

  for (const t of opts.bench ? opts.times : []) {
    await check(`bench ${t}`, async () => {
      const query = `at=${encodeURIComponent(t)}&frames=${opts.bench}`;
      await answer(query, 'bench', LIMIT_MS.bench);
      const r = await page.evaluate('qm.bench');
      const fps = (r.frames * 1000 / r.ms).toFixed(1);
      return `${r.frames} frames in ${r.ms.toFixed(0)} ms, ${fps} fps`;
    });
  }
  // Playing: frames drawn in 3 s stretches from each time, the controls hidden and shown in
  // turn; the median of each.
  for (const t of opts.bench ? opts.times : []) {
    await check(`play rate ${t}`, async () => {
      await startAt(`?t=${t}`);
      const rates = { false: [], true: [] };
      for (const shown of [false, true, false, true, false, true]) {
        await page.evaluate(`document.querySelector('#controls').classList.toggle('shown', ${shown})`);
        const f0 = await page.evaluate('qm.frames');
        await sleep(3000);
        rates[shown].push(((await page.evaluate('qm.frames')) - f0) / 3);
      }
      const median = (v) => v.sort((a, b) => a - b)[1].toFixed(1);
      return `without controls ${median(rates.false)} fps, with ${median(rates.true)} fps ` +
        `(${rates.false.map((r) => r.toFixed(1))} / ${rates.true.map((r) => r.toFixed(1))})`;
    });
  }
}

// In the page: the storyboard's picture the seek bar's preview shows, and the reference frame
// at URL drawn at the preview's size, each as the RGB means of its 8 x 8 blocks.
const PAGE_PREVIEW = `async (url) => {
  const p = document.querySelector('#preview'), s = getComputedStyle(p);
  const [w, h] = [p.offsetWidth, p.offsetHeight];
  const [x, y] = s.backgroundPosition.split(' ').map((v) => -parseFloat(v));
  const picture = async (src, sx, sy, sw, sh) => {
    const img = new Image();
    img.src = src;
    await img.decode();
    const g = new OffscreenCanvas(w, h).getContext('2d');
    g.imageSmoothingQuality = 'high';
    g.drawImage(img, sx ?? 0, sy ?? 0, sw ?? img.naturalWidth, sh ?? img.naturalHeight, 0, 0, w, h);
    const rgba = g.getImageData(0, 0, w, h).data, across = w / 8, sums = new Float64Array(w * h * 3 / 64);
    for (let i = 0; i < w * h; i++)
      for (let c = 0; c < 3; c++) sums[(((i / w / 8) | 0) * across + ((i % w) >> 3)) * 3 + c] += rgba[i * 4 + c];
    return Array.from(sums, (v) => v / 64);
  };
  const sheet = /url\\("?(.*?)"?\\)/.exec(s.backgroundImage)[1];
  return [await picture(sheet, x, y, w, h), await picture(url)];
}`;

// The controls every video player has: volume, mute, speed, frame steps, the keys video sites
// use, the seek bar's previews, the media session, and what assistive technology sees.
async function controlChecks(page, base, opts, check, h) {
  const [tA, tB] = [Number(opts.times[1]), Number(opts.times[2])];
  const evaluate = (expr) => page.evaluate(expr);
  const rect = (sel) => evaluate(`(() => { const r = document.querySelector('${sel}').getBoundingClientRect();
    return { x: r.left + r.width / 2, y: r.top + r.height / 2, left: r.left, width: r.width }; })()`);
  const mouse = async (x, y, types = ['mouseMoved', 'mousePressed', 'mouseReleased']) => {
    for (const type of types) await page.send('Input.dispatchMouseEvent', { type, x, y, button: 'left', clickCount: 1 });
  };
  // Until what is read passes ok, or fails naming it.
  const until = (what, ok, label) => poll(async () => {
    const v = await evaluate(what);
    return ok(v) && { v };
  }, LIMIT_MS.seek, label).then((r) => r.v);

  await check('volume, mute and speed through qm, remembered', async () => {
    await h.startAt('?t=100');
    await evaluate('qm.volume = 0.3; qm.muted = true; qm.rate = 2');
    const a = `[qm.audio[0].volume, qm.audio[0].muted, qm.audio[0].playbackRate, qm.audio[0].preservesPitch,
      +document.querySelector('#volume').value, document.querySelector('#speed').value]`;
    const set = await evaluate(a);
    if (JSON.stringify(set) !== JSON.stringify([0.3, true, 2, true, 0.3, '2']))
      throw new Error(`volume, muted, rate, pitch kept, slider, menu: ${set}`);
    const refused = await evaluate(`[3, 0, 'fast'].filter((r) => { try { qm.rate = r; } catch { return false; }
      return true; }).concat([-0.1, 2].filter((v) => { try { qm.volume = v; } catch { return false; } return true; }))`);
    if (refused.length) throw new Error(`accepted ${refused}`);
    await h.startAt('?t=100');
    const kept = await evaluate('[qm.volume, qm.muted, qm.rate, qm.audio[0].volume, qm.audio[0].muted]');
    await evaluate('qm.volume = 1; qm.muted = false');
    if (JSON.stringify(kept) !== JSON.stringify([0.3, true, 1, 0.3, true]))
      throw new Error(`after a reload volume, muted, rate, element's volume and muted: ${kept}`);
    return `set ${set.slice(0, 4)}; after a reload ${kept.slice(0, 3)} (speed is not remembered)`;
  });

  // The demo clock and the music against wall time over 2.5 s at each speed.
  await check('speeds', async () => {
    await page.waitFor('!qm.audio[0].paused', LIMIT_MS.music, 'the soundtrack did not play');
    const lines = [];
    for (const r of [0.25, 0.5, 1, 1.5, 2]) {
      await evaluate(`qm.rate = ${r}`);
      await sleep(500);   // the music at its new pace
      const [clock, music, wall] = await evaluate(`new Promise((resolve) => {
        const at = () => [qm.clock, qm.musicTime, performance.now() / 1000];
        const a = at();
        setTimeout(() => resolve(at().map((v, i) => v - a[i])), 2500);
      })`);
      const [rc, rm] = [clock / wall / r, music / wall / r];
      const line = `${r}x: clock ${(clock / wall).toFixed(3)}, music ${(music / wall).toFixed(3)} per s`;
      if (Math.abs(rc - 1) > 0.05 || Math.abs(rm - 1) > 0.05) throw new Error(line);
      lines.push(`${line}, ${within(await evaluate('qm.musicTime - qm.clock'), 0.05, 'music')}`);
    }
    await evaluate('qm.rate = 1');
    return lines.join('; ');
  });

  // Steps by key, then one more read back, both ways: each the frame a fresh ?at= draws.
  await check('frame steps both ways draw what a fresh ?at= draws', async () => {
    await evaluate('qm.pause()');
    await h.seek(tA);
    const stepped = [];
    for (const [key, by] of [['.', 1], [',', -1]]) {
      const k0 = Math.round((await evaluate('qm.frameTime')) * 60);
      for (let i = 0; i < 3; i++) {
        await press(page, key);
        await until('Math.round(qm.frameTime * 60)', (k) => k === k0 + (i + 1) * by, `${key} did not step`);
      }
      const ms = await evaluate(`(async () => { const t0 = performance.now(); await qm.step(${by}, true);
        return performance.now() - t0; })()`);
      const k = Math.round((await evaluate('qm.frameTime')) * 60);
      if (k !== k0 + 4 * by) throw new Error(`${key} x 3 and one step from frame ${k0} reached ${k}`);
      stepped.push({ key, k, ms, hash: await evaluate(PAGE_HASH) });
    }
    for (const s of stepped) {
      await h.answer(`at=${s.k / 60}`, 'frame', LIMIT_MS.render);
      const fresh = await evaluate(PAGE_HASH);
      if (fresh !== s.hash) throw new Error(`frame ${s.k} by '${s.key}': ${s.hash} stepped, ${fresh} fresh`);
    }
    return stepped.map((s) => `'${s.key}' to frame ${s.k} byte for byte, a step ${s.ms.toFixed(0)} ms`).join(', ');
  });

  // Each key from a paused frame, by what it changes.
  await check('keys video sites use', async () => {
    await h.startAt(`?t=${tA}`);
    await evaluate('qm.pause()');
    const frame = 'qm.frameTime', d = await evaluate('qm.duration');
    const near = (t) => (a, b) => Math.abs(b - t(a)) < 0.02;
    const keys = [
      ['l', frame, near((a) => a + 10)],
      ['j', frame, near((a) => a - 10)],
      ['5', frame, near(() => d / 2)],
      ['0', frame, near(() => 0)],
      ['End', frame, near(() => Math.ceil((d - 1) * 60) / 60)],
      ['m', 'qm.muted', (a, b) => b === !a],
      ['m', 'qm.muted', (a, b) => b === !a],
      ['<', 'qm.rate', (a, b) => a === 1 && b === 0.5],
      ['>', 'qm.rate', (a, b) => b === 1],
      ['>', 'qm.rate', (a, b) => b === 1.5],
      ['<', 'qm.rate', (a, b) => b === 1],
      ['?', '!document.querySelector("#help").hidden', (a, b) => !a && b],
      ['?', '!document.querySelector("#help").hidden', (a, b) => a && !b],
      ['?', '!document.querySelector("#help").hidden', (a, b) => !a && b],
      ['Escape', '[!document.querySelector("#help").hidden, qm.ended]', (a, b) => a[0] && !b[0] && !b[1]],
    ];
    const lines = [];
    for (const [key, what, ok] of keys) {
      const before = await evaluate(what);
      await press(page, key);
      const after = await until(what, (v) => ok(before, v), `${key}: ${what} stayed ${before}`);
      lines.push(`${key} ${before}->${after}`);
    }
    // The list names every key the page answers to.
    const listed = await evaluate('document.querySelectorAll("#help tr").length');
    if (listed < 16) throw new Error(`the list of keys has ${listed} rows`);
    return `${lines.join(', ')}; ${listed} keys listed`;
  });

  await check('controls by pointer and keyboard', async () => {
    const lines = [];
    const m = await rect('#mute');
    await mouse(m.x, m.y);
    lines.push(`mute clicked: muted ${await until('qm.muted', (v) => v, 'the mute button did not mute')}`);
    await mouse(m.x, m.y);
    await until('qm.muted', (v) => !v, 'the mute button did not unmute');
    const v = await rect('#volume');
    await mouse(v.left + v.width * 0.25, v.y);
    const vol = await until('qm.volume', (x) => Math.abs(x - 0.25) < 0.1, 'the volume slider did not set the volume');
    lines.push(`volume slider clicked at a quarter: ${vol}`);
    await evaluate('qm.volume = 1; document.querySelector("#speed").focus()');
    await press(page, 'ArrowDown');
    lines.push(`speed menu, arrow down: ${await until('qm.rate', (r) => r === 1.5, 'the speed menu did not go to 1.5x')}x`);
    await evaluate('qm.rate = 1; document.activeElement.blur()');
    const k = await rect('#keys');
    await mouse(k.x, k.y);
    await until('!document.querySelector("#help").hidden', (x) => x, 'the ? button showed no list');
    await mouse(k.x, k.y);
    await until('document.querySelector("#help").hidden', (x) => x, 'the ? button left the list shown');
    return lines.join(', ');
  });

  // The bar as assistive technology sees it, reached with Tab, moved by the arrows.
  await check('seek bar is a slider, every control named', async () => {
    await evaluate('document.activeElement.blur(); qm.seek(83.5)');
    let tabs = 0;
    while (!(await evaluate('document.activeElement?.id === "bar"')) && tabs++ < 12) await press(page, 'Tab');
    if (tabs > 12) throw new Error('Tab never reached the seek bar');
    const ring = await evaluate(`getComputedStyle(document.querySelector('#track')).boxShadow`);
    if (!ring || ring === 'none') throw new Error('no focus ring on the seek bar');
    const t0 = await evaluate('qm.frameTime');
    await press(page, 'ArrowUp');
    await until('qm.frameTime', (t) => Math.abs(t - t0 - 5) < 0.02, 'ArrowUp on the bar did not move it 5 s on');
    await press(page, 'ArrowDown');
    await until('qm.frameTime', (t) => Math.abs(t - t0) < 0.02, 'ArrowDown on the bar did not move it 5 s back');
    await sleep(100);   // the controls repaint
    const { nodes } = await page.send('Accessibility.getFullAXTree');
    const named = ['button', 'slider', 'combobox', 'PopUpButton'];
    const controls = nodes.filter((n) => !n.ignored && named.includes(n.role?.value));
    const nameless = controls.filter((n) => !n.name?.value);
    if (nameless.length) throw new Error(`${nameless.length} controls without a name: ${nameless.map((n) => n.role.value)}`);
    const bar = controls.find((n) => n.name?.value === 'seek');
    // Chromium's tree leaves the value's text out; the attribute it is read from.
    const valueText = await evaluate('document.querySelector("#bar").getAttribute("aria-valuetext")');
    const want = '1 minute 23, entry 17, dot wall: bands roll down the rows';
    if (bar?.role.value !== 'slider' || valueText !== want)
      throw new Error(`the bar is ${bar?.role.value} saying ${JSON.stringify(valueText)}, not ${JSON.stringify(want)}`);
    return `Tab x ${tabs}, ring ${ring.split(')')[0]}), ${controls.length} controls named; "${valueText}"`;
  });

  // 200 % zoom of this window: the same controls, none outside the window or over another.
  await check('controls at 200 % zoom', async () => {
    const [W, H] = WINDOW.map((n) => n / 2);
    await page.send('Emulation.setDeviceMetricsOverride', { width: W, height: H, deviceScaleFactor: 2, mobile: false });
    try {
      const boxes = await until(`innerWidth === ${W} && Array.from(document.querySelectorAll('#controls > *'), (c) => {
        const r = c.getBoundingClientRect();
        return [c.id, r.left, r.top, r.right, r.bottom];
      })`, (x) => x, 'no layout at 200 %');
      for (const [id, l, t, r, b] of boxes) {
        if (l < 0 || t < 0 || r > W || b > H || r - l < 1) throw new Error(`#${id} at ${[l, t, r, b]} in ${W} x ${H}`);
        const over = boxes.find(([o, l2, t2, r2, b2]) => o !== id && l < r2 && l2 < r && t < b2 && t2 < b);
        if (over) throw new Error(`#${id} overlaps #${over[0]}`);
      }
      const bar = boxes.find(([id]) => id === 'bar');
      return `${boxes.length} controls apart within ${W} x ${H}, the bar ${(bar[3] - bar[1]).toFixed(0)} px wide`;
    } finally {
      await page.send('Emulation.clearDeviceMetricsOverride');
      await page.waitFor(`innerWidth === ${WINDOW[0]}`, LIMIT_MS.load, 'the window kept its zoom');
    }
  });

  // The preview over the bar at a moment is qm-capture's frame there, downscaled; a different
  // moment's frame differs by more.
  await check('seek preview from the storyboard', async () => {
    const sb = await until('qm.storyboard', (x) => x, 'no storyboard loaded');
    const bytes = await evaluate(`fetch(qm.storyboard.image).then((r) => r.blob()).then((b) => b.size)`);
    if (bytes > 1.5e6 || sb.every > 2) throw new Error(`a picture every ${sb.every} s in ${bytes} bytes`);
    const bar = await rect('#bar');
    const d = await evaluate('qm.duration');
    await mouse(bar.left + (bar.width * tA) / d, bar.y, ['mouseMoved', 'mouseMoved']);
    await until('!document.querySelector("#tip").hidden && document.querySelector("#preview").offsetWidth',
      (x) => x, 'no preview shown');
    const [shown, want] = await evaluate(`(${PAGE_PREVIEW})(${JSON.stringify(h.ref(tA))})`);
    const [, other] = await evaluate(`(${PAGE_PREVIEW})(${JSON.stringify(h.ref(tB))})`);
    const [same, apart] = [meanDifference(shown, want), meanDifference(shown, other)];
    const line = `${sb.count} pictures of ${sb.width} x ${sb.height} every ${sb.every} s, ${bytes} bytes; ` +
      `the preview at ${tA} differs from its frame by ${same.toFixed(2)}, from ${tB}'s by ${apart.toFixed(2)}`;
    if (!(same < PREVIEW_TOLERANCE && apart > PREVIEW_TOLERANCE)) throw new Error(line);
    return line;
  });
  await check('without the storyboard the bar still seeks', async () => {
    await h.startAt('without/storyboard.jpg/');
    await page.waitFor('qm.frames > 0 && !qm.storyboard', LIMIT_MS.frames, 'no frame');
    await evaluate('qm.pause()');
    await sleep(1000);   // the storyboard's attempt over
    const bar = await rect('#bar');
    await mouse(bar.left + bar.width / 2, bar.y);
    const d = await evaluate('qm.duration');
    const t = await until('qm.frameTime', (x) => Math.abs(x - d / 2) < 1, 'a click mid-bar did not seek there');
    const [preview, tip] = await evaluate('[document.querySelector("#preview").hidden, document.querySelector("#tip-text").textContent]');
    if (!preview || !tip) throw new Error(`preview hidden ${preview}, tip ${JSON.stringify(tip)}`);
    return `clicked mid-bar: at ${t.toFixed(2)} s; tip "${tip}" without a picture`;
  });

  await check('media session', async () => {
    const [title, art] = await evaluate(`[navigator.mediaSession.metadata.title, navigator.mediaSession.metadata.artwork[0].src]`);
    const ok = await evaluate(`fetch(${JSON.stringify(art)}).then((r) => r.ok && r.headers.get('Content-Type'))`);
    if (!title || ok !== 'image/png') throw new Error(`title ${title}, artwork ${art}: ${ok}`);
    const acts = [
      ['play()', 'qm.paused', (v) => v === false],
      ['pause()', 'qm.paused', (v) => v === true],
      [`seekto({ seekTime: ${tA} })`, 'qm.frameTime', (v) => Math.abs(v - tA) < 0.02],
      ['seekforward({})', 'qm.frameTime', (v) => Math.abs(v - tA - 10) < 0.02],
      ['seekbackward({ seekOffset: 5 })', 'qm.frameTime', (v) => Math.abs(v - tA - 5) < 0.02],
    ];
    for (const [act, what, ok] of acts) {
      await evaluate(`qm.mediaActions.${act}`);
      await until(what, ok, `${act}: ${what} not as asked`);
    }
    return `"${title}", artwork ${art.split('/').pop()}; ${acts.map(([a]) => a.split('(')[0]).join(', ')} obeyed`;
  });
}

async function main() {
  const opts = parseArgs(process.argv.slice(2));
  if (!opts) {
    console.error('usage: web_test.js --web DIR --ref DIR --times T[:X],... [--tolerance X] [--bench N] [--sizes WxH[:X],...]');
    process.exit(1);
  }
  const missing = [path.join(opts.web, 'index.html'), opts.ref].find((f) => !fs.existsSync(f));
  if (missing) console.log(`FAIL  setup: ${missing} is missing`), process.exit(1);

  let failures = 0;
  let server, chrome, page;
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'qm-web-'));
  const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'qm-web-files-'));
  // However the run ends, chromium's whole process group goes, and its profile.
  process.on('exit', () => {
    try {
      process.kill(-chrome.pid, 'SIGKILL');
    } catch {}
    for (const dir of [profile, scratch]) fs.rmSync(dir, { recursive: true, force: true, maxRetries: 5 });
  });
  const check = async (name, fn) => {
    try {
      console.log(`PASS  ${name}: ${await fn()}`);
    } catch (err) {
      failures++;
      console.log(`FAIL  ${name}: ${err.message.split('\n')[0]}`);
    }
  };
  setTimeout(() => {
    console.log(`FAIL  whole run: over ${LIMIT_MS.run / 1000} s, chromium stopped`);
    process.exit(1);
  }, LIMIT_MS.run);
  for (const signal of ['SIGINT', 'SIGTERM']) process.on(signal, () => process.exit(1));

  await check('start chromium', async () => {
    // The build again without one of its files, for the pages that must say so.
    const mounts = { '/ref/': opts.ref };
    for (const name of ['quiet_moss.mp3', 'quiet_moss.zaf', 'storyboard.jpg']) {
      const dir = fs.mkdtempSync(path.join(scratch, 'without-'));
      for (const f of fs.readdirSync(opts.web).filter((f) => f !== name && f !== 'cmake' && f !== 'cache'))
        fs.symlinkSync(path.resolve(opts.web, f), path.join(dir, f));
      mounts[`/without/${name}/`] = dir;
    }
    ({ server } = await startServer({ root: opts.web, port: 0, mounts }));
    const args = [...FLAGS, `--user-data-dir=${profile}`, '--remote-debugging-port=0', 'about:blank'];
    const stdio = ['ignore', 'ignore', 'pipe'];
    chrome = childProcess.spawn(CHROMIUM, args, { detached: true, stdio }); // a process group
    let said = '';
    chrome.stderr.on('data', (c) => (said = (said + c).slice(-400)));
    const exited = new Promise((_, reject) => chrome.on('error', reject).on('exit', (code) =>
      reject(new Error(`chromium exited (${code}): ${said.trim().split('\n').pop()}`))));
    const portFile = path.join(profile, 'DevToolsActivePort');
    const readPort = () => Number(/^(\d+)\n/.exec(fs.readFileSync(portFile, 'utf8'))[1]);
    const port = poll(readPort, LIMIT_MS.launch, 'no DevToolsActivePort');
    page = await Promise.race([exited, port.then(connectPage)]);
    return (await page.send('Browser.getVersion')).product;
  });
  if (page) await runChecks(page, `http://127.0.0.1:${server.address().port}/`, opts, check);
  process.exit(failures ? 1 : 0);
}

main();
