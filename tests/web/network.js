// The page over a phone's connection, and without one: web_test.js runs these first, on a fresh
// profile. A first visit through chromium's network emulation (a slow 4G: 1.6 Mbit/s down,
// 150 ms round trip) must offer its start button within 6 s and keep the music in step while the
// rest of the soundtrack arrives; the second visit starts from the service worker's copy, with
// the server stopped too; a new build served to a page with the old one kept must give the new
// one, whole.
'use strict';
const fs = require('fs');
const http = require('http');
const os = require('os');
const path = require('path');
const zlib = require('zlib');
const { publish } = require('../../apps/web/publish.js');

const START_LIMIT_MS = 6000;
// The second time nothing but the page's and the manifest's revalidations go over the network
// (their 304s), or nothing at all; what time it takes is the CPU's, held to the first visit's
// bound.
const SECOND_LIMIT_MS = START_LIMIT_MS;
const SECOND_BYTES = 20e3;
const RTT_MS = 150;
const NO_THROTTLE = { offline: false, latency: 0, downloadThroughput: -1, uploadThroughput: -1 };
const throttle = (mbits) => ({ offline: false, latency: RTT_MS, downloadThroughput: (mbits * 1e6) / 8,
  uploadThroughput: 750e3 / 8 });

// One request to the server: status, headers and the body as sent.
const get = (url, headers) => new Promise((resolve, reject) => {
  http.get(url, { headers }, (res) => {
    const parts = [];
    res.on('data', (c) => parts.push(c)).on('end', () =>
      resolve({ status: res.statusCode, headers: res.headers, body: Buffer.concat(parts) }));
  }).on('error', reject);
});
const DECODE = { br: zlib.brotliDecompressSync, gzip: zlib.gunzipSync, undefined: (b) => b };

// What serve.js sends: the compressed sibling the browser takes, with Vary; year-long caching
// for a build's folder only; a 304 for what the browser has; byte ranges only of plain bodies.
async function checkServer(base, web, id) {
  const IMMUTABLE = 'public, max-age=31536000, immutable';
  const wasm = `${id}/quiet_moss.wasm`, mp3 = `${id}/quiet_moss.mp3`;
  const cases = [
    [wasm, { 'Accept-Encoding': 'gzip, deflate, br' }, 200, 'br', IMMUTABLE],
    [wasm, { 'Accept-Encoding': 'gzip' }, 200, 'gzip', IMMUTABLE],
    [wasm, { 'Accept-Encoding': 'br;q=0, gzip' }, 200, 'gzip', IMMUTABLE],
    [wasm, {}, 200, undefined, IMMUTABLE],
    [wasm, { 'Accept-Encoding': 'br', Range: 'bytes=0-99' }, 200, 'br', IMMUTABLE],
    ['', { 'Accept-Encoding': 'br' }, 200, 'br', 'no-cache'],
    ['sw.js', {}, 200, undefined, 'no-cache'],
    [mp3, { 'Accept-Encoding': 'br', Range: 'bytes=100-199' }, 206, undefined, IMMUTABLE],
  ];
  for (const [name, headers, status, encoding, caching] of cases) {
    const r = await get(base + name, headers);
    const what = `${name || '/'} ${JSON.stringify(headers)}`;
    const h = r.headers;
    if (r.status !== status || h['content-encoding'] !== encoding || h['cache-control'] !== caching)
      throw new Error(`${what}: ${r.status}, ${h['content-encoding']}, ${h['cache-control']}`);
    const file = fs.readFileSync(path.join(web, name.endsWith('/') || !name ? `${name}index.html` : name));
    const want = status === 206 ? file.subarray(100, 200) : file;
    if (!DECODE[encoding](r.body).equals(want)) throw new Error(`${what}: not the file's bytes`);
    if (encoding && h.vary !== 'Accept-Encoding') throw new Error(`${what}: no Vary`);
    const again = await get(base + name, { ...headers, 'If-None-Match': h.etag });
    if (again.status !== 304 || again.body.length) throw new Error(`${what}: ${again.status} for its own ETag`);
  }
  return `${cases.length} cases`;
}

// t: { page, base, opts, check, click, sleep, within, musicOffset, seek, compareAt, serve }.
// serve(root) serves another folder at the same address (null: nothing at all).
async function runNetworkChecks(t) {
  const { page, base, opts, check, click, within, musicOffset } = t;
  const mbits = opts.mbits;
  // Bytes on the wire (headers and compressed bodies) since the last reset.
  let wire = 0;
  page.events['Network.dataReceived'] = (p) => (wire += p.encodedDataLength);
  page.events['Network.responseReceived'] = (p) => (wire += p.response.encodedDataLength || 0);
  await page.send('Network.enable');

  const emulate = (conditions) => page.send('Network.emulateNetworkConditions', conditions);

  // Opens the page and times it to a clickable start button: [ms, bytes on the wire]. A late
  // button is waited for a while longer, so that what follows can still be checked.
  const toStart = async () => {
    wire = 0;
    const begin = Date.now();
    await page.send('Page.navigate', { url: base });
    await page.waitFor('window.qm && !document.querySelector("#start").disabled', 60e3,
      'no start button').catch(async (e) => {
      const state = await page.evaluate(`[qm.error, qm.build, document.querySelector('#zaf-bytes').textContent,
        document.querySelector('#mp3-bytes').textContent]`).catch((why) => why.message);
      throw new Error(`${e.message} (error, build, archive, soundtrack: ${JSON.stringify(state)})`);
    });
    return [Date.now() - begin, wire];
  };
  const inTime = (ms, limit, line) => {
    if (ms > limit) throw new Error(`${line}: the start button came after ${ms} ms, over ${limit} ms`);
    return line;
  };
  const mb = (n) => `${(n / 1e6).toFixed(2)} MB`;
  const build = () => page.evaluate('qm.build');
  // The service worker of this build holds its files: what a visit without the network needs.
  const kept = (id) => page.waitFor(`(async () => {
    const r = await navigator.serviceWorker.getRegistration();
    return r?.active?.state === 'activated' && navigator.serviceWorker.controller &&
      (await caches.keys()).join() === 'quiet_moss-${id}';
  })()`, 60e3, `build ${id} not kept by its service worker alone`);
  // Plays from the start until the music has run a while; its offset at entry 1 and later.
  const musicInStep = async () => {
    const clickedAt = Date.now();
    await click(page, '#start', '#start');
    await page.waitFor('qm.frames > 0', 2000, 'no frame within 2 s of the click');
    const firstMs = Date.now() - clickedAt;
    await page.waitFor('qm.clock > Module._qm_entry_start(1) + 1', 30e3, 'entry 1 not reached');
    const atEntry = await musicOffset(page);
    await t.sleep(3000);
    const later = await musicOffset(page);
    const playing = await page.evaluate('!qm.audio[0].paused');
    if (!playing) throw new Error('the music stands');
    return `first frame ${firstMs} ms after the click; ${within(atEntry, 0.05, 'music 1 s into entry 1')}, ` +
      within(later, 0.05, '3 s later');
  };

  const firstBuild = fs.readdirSync(opts.web).find((f) => /^[0-9a-f]{16}$/.test(f));
  await check('server: compressed files, caching, 304', () => checkServer(base, opts.web, firstBuild));

  // The browser warm, as one already running is (its GPU process up, the rasteriser's shaders
  // built): a lone frame, which fetches no soundtrack and so keeps no copy; then every trace of
  // that visit cleared, so that the next is a first one.
  await check('a warm browser, and nothing kept', async () => {
    try {
      await page.open(`${base}?at=1`);
      await page.waitFor('!!qm.frame || qm.error', 60e3, 'no frame');   // a frame itself is too big to send
    } finally {
      await page.send('Network.clearBrowserCache');
      await page.send('Storage.clearDataForOrigin', { origin: new URL(base).origin, storageTypes: 'all' });
    }
    const left = await page.evaluate('caches.keys().then((k) => k.length)');
    if (left) throw new Error(`${left} caches left`);
    return 'HTTP cache, caches and service workers cleared';
  });
  await check(`first visit at ${mbits} Mbit/s, ${RTT_MS} ms`, async () => {
    await emulate(throttle(mbits));
    try {
      const [ms, bytes] = await toStart();
      if ((await build()) !== firstBuild) throw new Error(`the page is build ${await build()}, not ${firstBuild}`);
      // Started on part of the soundtrack, its bytes counted.
      const [zaf, mp3, said] = await page.evaluate(`['zaf', 'mp3'].map((k) =>
        document.getElementById(k + '-bar').value).concat(document.getElementById('mp3-bytes').textContent)`);
      const size = fs.statSync(path.join(opts.web, firstBuild, 'quiet_moss.mp3')).size;
      if (zaf !== 1 || !(mp3 > 0 && mp3 < 1) || !said.endsWith(`of ${(size / 1e6).toFixed(1)} MB`))
        throw new Error(`bars at ${zaf} and ${mp3} ("${said}") when start was enabled`);
      const played = await musicInStep();
      return inTime(ms, START_LIMIT_MS,
        `start clickable after ${ms} ms, ${mb(bytes)} on the wire, soundtrack ${(mp3 * 100).toFixed(0)}% in; ${played}`);
    } finally {
      await emulate(NO_THROTTLE).catch(() => {});   // an earlier failure says more
    }
  });

  await check(`second visit at ${mbits} Mbit/s`, async () => {
    await kept(firstBuild);
    await emulate(throttle(mbits));
    try {
      const [ms, bytes] = await toStart();
      if (bytes > SECOND_BYTES) throw new Error(`${bytes} bytes on the wire, more than ${SECOND_BYTES}`);
      return inTime(ms, SECOND_LIMIT_MS, `start clickable after ${ms} ms, ${bytes} bytes on the wire`);
    } finally {
      await emulate(NO_THROTTLE).catch(() => {});   // an earlier failure says more
    }
  });

  await check('second visit offline: start, then a seek to 200 s', async () => {
    await kept(firstBuild);
    await t.serve(null);
    await emulate({ ...NO_THROTTLE, offline: true });
    let line;
    try {
      const [ms] = await toStart();
      const played = await musicInStep();
      await t.seek(200, true);
      const [frameTime, ended] = await page.evaluate('[qm.frameTime, qm.ended]');
      if (ended || Math.abs(frameTime - 200) > 1 / 60) throw new Error(`the seek shows ${frameTime} s`);
      await t.sleep(500);
      line = inTime(ms, SECOND_LIMIT_MS, `start clickable after ${ms} ms; ${played}; at 200 s: ` +
        within(await musicOffset(page), 0.05, 'music'));
    } finally {
      await emulate(NO_THROTTLE).catch(() => {});   // an earlier failure says more
      await t.serve(opts.web);
    }
    // The reference comes from the server, back now.
    return `${line}, ${await t.compareAt(200)}`;
  });

  // Another build: the same files, one module changed, published beside the first.
  await check('a new build replaces the kept one whole', async () => {
    const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'qm-web-build-'));
    try {
      const stage = path.join(scratch, 'stage'), site = path.join(scratch, 'site');
      fs.cpSync(path.join(opts.web, 'cache', 'stage'), stage, { recursive: true });
      fs.appendFileSync(path.join(stage, 'page.js'), '// the next build\n');
      const next = publish(stage, site);
      if (next === firstBuild) throw new Error(`a changed module kept the build's name ${next}`);
      await t.serve(site);
      await toStart();
      const got = await build();
      if (got !== next) throw new Error(`the page is build ${got}, not ${next}`);
      await kept(next);
      // Nothing of the old build in the page: every file it loaded came from the new folder.
      const mixed = await page.evaluate(`performance.getEntriesByType('resource').map((e) => e.name)
        .filter((n) => n.startsWith(location.origin) && !n.includes('/ref/') && !n.includes('/${next}/'))`);
      const stray = mixed.filter((n) => !/\/(sw\.js|manifest\.webmanifest)$/.test(n));
      if (stray.length) throw new Error(`loaded outside ${next}: ${stray.join(', ')}`);
      await click(page, '#start', '#start');
      await page.waitFor('qm.frames > 0', 2000, 'no frame within 2 s of the click');
      return `build ${firstBuild} kept, build ${next} served: page, files and cache all ${next}`;
    } finally {
      await t.serve(opts.web);
      fs.rmSync(scratch, { recursive: true, force: true });
    }
  });
}

module.exports = { runNetworkChecks };
