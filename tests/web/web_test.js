#!/usr/bin/env node
// The web build in headless chromium, driven over the DevTools protocol: start-up, Escape, frames
// against qm-capture's reference PNGs, and an optional benchmark. Node's standard library only.
// Usage: web_test.js --web DIR --ref DIR --times 45:0.5,80,200 [--tolerance X] [--bench N]
// A time may carry its own tolerance (T:X); the rest take --tolerance (default 4).
'use strict';
const childProcess = require('child_process');
const crypto = require('crypto');
const fs = require('fs');
const http = require('http');
const os = require('os');
const path = require('path');
const { startServer } = require('../../apps/web/serve.js');

const CHROMIUM = process.env.CHROMIUM || '/usr/bin/chromium';
// --no-sandbox: chromium refuses to start as root without it. --use-angle=swiftshader with
// --enable-unsafe-swiftshader: WebGL on the CPU without the warnings of the automatic fallback
// (deprecated, and going). The rest keep a bare profile from reaching out.
const FLAGS = ['--headless', '--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
  '--disable-quic', '--no-first-run', '--disable-background-networking', '--disable-component-update',
  '--disable-sync', '--mute-audio', '--window-size=800,600'];
const LIMIT_MS = { run: 300e3, launch: 30e3, load: 30e3, frames: 20e3, music: 40e3, escape: 2e3,
  render: 60e3, bench: 120e3 };
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// --key value pairs to options, or null where anything is unknown, missing or not a number.
function parseArgs(argv) {
  const o = { tolerance: '4', bench: '0' };
  for (let i = 0; i < argv.length; i += 2) o[argv[i].replace(/^--/, '')] = argv[i + 1];
  const opts = { web: o.web, ref: o.ref, times: [], tolerances: [], tolerance: Number(o.tolerance),
    bench: Number(o.bench) };
  for (const entry of String(o.times).split(',')) {
    const [t, tol = o.tolerance] = entry.split(':');
    opts.times.push(t);
    opts.tolerances.push(Number(tol));
  }
  const known = Object.keys(o).every((k) => k in opts);
  const numbers = opts.times.every((t) => t !== '' && Number.isFinite(Number(t)));
  const tolerances = opts.tolerances.every((x) => x > 0);
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

// In the page: the demo's frame (rows bottom-up, as glReadPixels gives them) or, given its URL,
// a reference PNG (rows top-down), as the RGB means of its 8 x 8 blocks: 80 x 60 x 3 values.
const PAGE_BLOCKS = `async (url) => {
  const W = 640, H = 480, f = window.qm.frame;
  const blocks = (rgba, bottomUp) => {
    const sums = new Float64Array(80 * 60 * 3);
    for (let y = 0; y < H; y++) {
      const row = (bottomUp ? H - 1 - y : y) * W * 4;
      for (let x = 0; x < W; x++) {
        const o = ((y >> 3) * 80 + (x >> 3)) * 3;
        for (let c = 0; c < 3; c++) sums[o + c] += rgba[row + x * 4 + c];
      }
    }
    return Array.from(sums, (s) => s / 64);
  };
  if (!url && f.width === W && f.height === H && f.rgba instanceof Uint8Array &&
      f.rgba.length === W * H * 4) return blocks(f.rgba, true);
  if (!url) throw new Error('qm.frame is not 640 x 480 RGBA bytes: ' + f.width + ' x ' + f.height);
  const img = new Image();
  img.src = url;
  await img.decode().catch(() => { throw new Error(url + ' did not load'); });
  if (img.naturalWidth !== W || img.naturalHeight !== H) throw new Error(url + ' is not 640 x 480');
  const g = new OffscreenCanvas(W, H).getContext('2d');
  g.drawImage(img, 0, 0);
  return blocks(g.getImageData(0, 0, W, H).data, false);
}`;

const meanDifference = (a, b) => a.reduce((sum, v, i) => sum + Math.abs(v - b[i]), 0) / a.length;

async function runChecks(page, base, opts, check) {
  const noErrors = (what) => {
    if (page.errors.length) throw new Error(page.errors.join('; '));
    return what;
  };
  await check('load /', () => page.open(base).then(() => noErrors('window.qm, no console errors')));
  await check('#start visible', async () => {
    // The button may wait, disabled, for the runtime to load.
    const b = await page.waitFor(`(() => {
      const b = document.querySelector('#start'), r = b?.getBoundingClientRect();
      const x = r?.left + r?.width / 2, y = r?.top + r?.height / 2, s = b && getComputedStyle(b);
      const shown = r?.width > 0 && r.height > 0 && s.visibility !== 'hidden' && s.opacity > 0;
      return shown && !b.disabled && b.contains(document.elementFromPoint(x, y)) && { x, y };
    })()`, LIMIT_MS.load, 'no #start shown, enabled and on top');
    for (const type of ['mousePressed', 'mouseReleased']) {
      await page.send('Input.dispatchMouseEvent', { type, ...b, button: 'left', clickCount: 1 });
    }
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
  await check('Escape ends the demo', async () => {
    const key = { key: 'Escape', code: 'Escape', windowsVirtualKeyCode: 27 };
    const start = Date.now();
    await page.send('Input.dispatchKeyEvent', { type: 'keyDown', ...key });
    await page.send('Input.dispatchKeyEvent', { type: 'keyUp', ...key });
    await page.waitFor('window.qm.ended === true', LIMIT_MS.escape, 'qm.ended not true');
    return `qm.ended after ${Date.now() - start} ms`;
  });
  // Late ones too: a missing file, an exception in a frame.
  await check('no console errors on /', async () => noErrors('none from load to Escape'));

  const blocksOf = (t) => page.evaluate(`(${PAGE_BLOCKS})(${t && `"/ref/frame_${t}.png"`})`);
  const compare = async (frame, t, tolerance, above) => {
    const diff = meanDifference(frame, await blocksOf(t));
    const line = `difference ${diff.toFixed(2)}, ${above ? 'must exceed' : 'tolerance'} ${tolerance.toFixed(2)}`;
    if (above ? diff <= tolerance : diff >= tolerance) throw new Error(line);
    return line;
  };
  // Opens /?query, waits for qm[key] (left in the page: a frame is big) or fails with qm.error.
  const answer = async (query, key, ms) => {
    await page.open(`${base}?${query}`);
    const r = await page.waitFor(`qm.${key} ? 'set' : qm.error != null && String(qm.error)`,
      ms, `no qm.${key} nor qm.error (${page.errors[0] || 'no console error'})`);
    if (r !== 'set') throw new Error(`qm.error: ${r}`);
  };
  const other = opts.times[1];
  let firstFrame;
  for (const [i, t] of opts.times.entries()) {
    await check(`frame ${t}`, async () => {
      await answer(`at=${encodeURIComponent(t)}`, 'frame', LIMIT_MS.render);
      const frame = await blocksOf(null);
      if (i === 0) firstFrame = frame;
      return compare(frame, t, opts.tolerances[i], false);
    });
    // The same comparison must tell two different moments apart, or it proves nothing.
    if (i > 0 || other === undefined) continue;
    await check(`frame ${t} against reference ${other}`, async () => {
      if (!firstFrame) throw new Error('no frame to compare');
      return compare(firstFrame, other, opts.tolerances[0], true);
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
}

async function main() {
  const opts = parseArgs(process.argv.slice(2));
  if (!opts) {
    console.error('usage: web_test.js --web DIR --ref DIR --times T[:X],... [--tolerance X] [--bench N]');
    process.exit(1);
  }
  const missing = [path.join(opts.web, 'index.html'), opts.ref].find((f) => !fs.existsSync(f));
  if (missing) console.log(`FAIL  setup: ${missing} is missing`), process.exit(1);

  let failures = 0;
  let server, chrome, page;
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'qm-web-'));
  // However the run ends, chromium's whole process group goes, and its profile.
  process.on('exit', () => {
    try {
      process.kill(-chrome.pid, 'SIGKILL');
    } catch {}
    fs.rmSync(profile, { recursive: true, force: true, maxRetries: 5 });
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
    ({ server } = await startServer({ root: opts.web, port: 0, mounts: { '/ref/': opts.ref } }));
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
