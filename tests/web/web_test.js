#!/usr/bin/env node
// The web build in chromium or Firefox (browsers.js drives them): start-up, the player (pause,
// seeks, keys, moment links, the end), every way it can fail to play, the controls as a viewer
// meets them, phones and tablets, the canvas's size, frames against qm-capture's reference
// PNGs, and an optional benchmark. Node's standard library only.
// Usage: web_test.js --web DIR --ref DIR --times 45:0.5,80,200 [--browser chromium|firefox]
//        [--tolerance X] [--bench N] [--sizes 1024x600:X,...] [--mbits M]
// In chromium the network checks (network.js) come first; --mbits sets their emulated
// connection (default 1.6 Mbit/s down).
// A time may carry its own tolerance (T:X); the rest take --tolerance (default 4). The first time
// is also drawn at each of --sizes (references in DIR/WxH/), each with its own tolerance.
'use strict';
const fs = require('fs');
const http = require('http');
const os = require('os');
const path = require('path');
const zlib = require('zlib');
const { startServer } = require('../../apps/web/serve.js');
const { launch, poll, withTimeout } = require('./browsers.js');
const { runNetworkChecks } = require('./network.js');

// Not 4:3, so that the page's fitting shows.
const WINDOW = [960, 600];
const LIMIT_MS = { run: 480e3, load: 30e3, frames: 20e3, music: 40e3, escape: 2e3,
  render: 60e3, bench: 120e3, seek: 10e3 };
// The storyboard's picture of a moment against qm-capture's frame there, drawn at its size (8 x 8
// block means, 0-255): twice the 0.42 measured between the two (JPEG, two scalers), rounded up.
// Another moment differed by 32.5.
const PREVIEW_TOLERANCE = 1;
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// --key value pairs to options, or null where anything is unknown, missing or not a number.
function parseArgs(argv) {
  const o = { tolerance: '4', bench: '0', sizes: '', browser: 'chromium', mbits: '1.6' };
  for (let i = 0; i < argv.length; i += 2) o[argv[i].replace(/^--/, '')] = argv[i + 1];
  const opts = { web: o.web, ref: o.ref, times: [], tolerances: [], tolerance: Number(o.tolerance),
    bench: Number(o.bench), sizes: [], browser: o.browser, mbits: Number(o.mbits) };
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
  const browser = ['chromium', 'firefox'].includes(opts.browser);
  const fine = numbers && tolerances && browser && opts.bench >= 0 && opts.mbits > 0;
  return known && o.web && o.ref && fine ? opts : null;
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

// Clicks the middle of an element once it is shown, enabled and on top.
async function click(page, selector, what) {
  const at = await page.waitFor(`(() => {
    const b = document.querySelector('${selector}'), r = b?.getBoundingClientRect();
    const x = r?.left + r?.width / 2, y = r?.top + r?.height / 2, s = b && getComputedStyle(b);
    const shown = r?.width > 0 && r.height > 0 && s.visibility !== 'hidden' && s.opacity > 0;
    return shown && !b.disabled && b.contains(document.elementFromPoint(x, y)) && { x, y };
  })()`, LIMIT_MS.load, `no ${what} shown, enabled and on top`);
  for (const type of ['move', 'down', 'up']) await page.mouse(type, at.x, at.y);
  return at;
}

// The soundtrack's position against the demo clock, in seconds (music minus clock).
// The median of nine readings 40 ms apart: Firefox without a sound device reports the music's
// time by a coarse clock of its own, off by up to 130 ms either way from one reading to the next.
const musicOffset = (page) => page.evaluate(`(async () => {
  const seen = [];
  for (let i = 0; i < 9; i++, await new Promise((resolve) => setTimeout(resolve, 40)))
    seen.push(qm.musicTime - qm.clock);
  return seen.sort((a, b) => a - b)[4];
})()`);
const within = (x, limit, what) => {
  const line = `${what} ${(x * 1000).toFixed(1)} ms`;
  if (!(Math.abs(x) <= limit)) throw new Error(`${line}, more than ${limit * 1000} ms`);
  return line;
};

async function runChecks(page, base, opts, check, extra) {
  // A page that runs a script before its own (a browser made to lack something) or a browser
  // started with other flags gets a browser of its own, closed after: in Firefox under WebDriver
  // the navigation after a preload script may never complete. The main page waits blank
  // meanwhile, holding no soundtrack.
  const inOwnBrowser = async (flags, fn) => {
    await page.navigate('about:blank');
    const own = await extra.launchBrowser(flags);
    try {
      return await fn(own.page);
    } finally {
      await own.quit();
    }
  };
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

  if (opts.browser === 'chromium') {
    const compareAt = async (t) => compare(await blocksOf(null, 640, 480), ref(t), tolerance(t), false);
    await runNetworkChecks({ page, base, opts, check, click, sleep, within, musicOffset, seek, compareAt,
      serve: extra.serve });
  }

  await check('load /', () => page.open(base).then(() => noErrors('window.qm, no console errors')));
  await check('loading counts both files in bytes', async () => {
    const bars = await page.waitFor(`!document.querySelector('#start').disabled &&
      ['zaf', 'mp3'].map((k) => document.getElementById(k + '-bar').value)`, LIMIT_MS.load,
      'the start button stayed disabled');
    if (bars.some((v) => v !== 1)) throw new Error(`bars at ${bars} when start was enabled`);
    return 'archive and soundtrack at 1 when start is clickable';
  });
  // The photosensitivity notice stands beside the start button and goes with it.
  const noticeShown = () => page.evaluate(`!document.querySelector('#flashes').hidden &&
    document.querySelector('#flashes').getBoundingClientRect().height > 0`);
  await check('#start visible, the flash notice with it', async () => {
    if (!(await noticeShown())) throw new Error('no flash notice before the start');
    const b = await click(page, '#start', '#start');
    if (await noticeShown()) throw new Error('the flash notice stayed after the start');
    return `clicked at ${Math.round(b.x)},${Math.round(b.y)}, notice shown, then gone`;
  });
  await check('frames advance', async () => {
    const frames = (above, what) =>
      page.waitFor(`window.qm.frames > ${above} && window.qm.frames`, LIMIT_MS.frames, what);
    const first = await frames(0, 'no frame drawn');
    return `qm.frames ${first} -> ${await frames(first, 'frames stopped')}`;
  });
  // The soundtrack starts with entry 1, after the loading sequence, and keeps the demo's pace:
  // the demo clock minus the music's time holds still (the clock now, not the last frame's:
  // on a loaded machine frames come seldom).
  await check('music in step', async () => {
    await page.waitFor('qm.audio?.[0] && !qm.audio[0].paused && qm.audio[0].currentTime > 1',
      LIMIT_MS.music, 'the soundtrack did not start');
    const lead = () => page.evaluate('qm.clock - qm.audio[0].currentTime');
    const before = await lead();
    await sleep(4000);
    const after = await lead();
    const line = `demo clock ahead of the music by ${before.toFixed(3)} s, then ${after.toFixed(3)} s`;
    if (Math.abs(after - before) > 0.25) throw new Error(line);
    return line;
  });

  // Pause holds the frame and the music; resume goes on from the same frame with the music.
  await check('Space pauses and holds the frame', async () => {
    await page.press(' ');
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
    await page.press(' ');
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
      await sleep(1000);   // the music playing again for a second
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
    ].filter(([key]) => key !== 'f' || !page.lacks.includes('fullscreen'));
    const lines = [];
    for (const [key, what, ok] of keys) {
      const before = await page.evaluate(what);
      await page.press(key);
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
        await page.mouse('move', x, y);
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
    await page.press('Escape');
    await page.waitFor('window.qm.ended === true', LIMIT_MS.escape, 'qm.ended not true');
    return `qm.ended after ${Date.now() - start} ms`;
  });
  // Late ones too: a missing file, an exception in a frame.
  await check('no console errors on /', async () => noErrors('none from load to Escape'));
  // Not yet made to run under Firefox's WebDriver: chromium only for now.
  await controlChecks(page, base, opts, check, { answer, blocksOf, compare, ref, seek, startAt });

  // What a viewer meets at the controls, from a paused frame.
  await check('the time just short of a minute', async () => {
    await startAt('');
    await page.evaluate('qm.pause()');
    await seek(59.97);
    const text = await page.evaluate(`document.querySelector('#clock').textContent`);
    if (!text.startsWith('1:00.0 /')) throw new Error(`at 59.97 s the time reads ${JSON.stringify(text)}`);
    return text;
  });
  // A held key repeats its keydown: Space and F toggle once, however long they are held.
  await check('held Space and F toggle once', async () => {
    const repeat = (key, n) => page.evaluate(`(() => { for (let i = 0; i < ${n}; i++)
      document.dispatchEvent(new KeyboardEvent('keydown', { key: '${key}', repeat: true, bubbles: true })); })()`);
    const lines = [];
    const keys = [[' ', 'qm.paused'], ['f', '!!document.fullscreenElement']]
      .filter(([key]) => key !== 'f' || !page.lacks.includes('fullscreen'));
    for (const [key, what] of keys) {
      const before = await page.evaluate(what);
      await page.press(key);
      const toggled = await page.waitFor(`${what} !== ${before} && 'yes'`, LIMIT_MS.seek, `${what} stayed`);
      await repeat(key, 3);
      await sleep(300);
      const after = await page.evaluate(what);
      if (after === before) throw new Error(`${JSON.stringify(key)} held: ${what} back to ${before}`);
      lines.push(`${key === ' ' ? 'Space' : key} ${before}->${!before} ${toggled}, held ${after}`);
      await page.press(key);   // as it was
      await page.waitFor(`${what} === ${before}`, LIMIT_MS.seek, `${what} not back`);
    }
    return lines.join(', ');
  });
  // A lost context (a GPU reset) says so, and goes on from its moment on request, with the
  // frames qm-capture draws and nothing fetched again.
  await check('a lost WebGL context goes on from its moment', async () => {
    const t = Number(opts.times[1]);
    await startAt(`?t=${t}`);
    await page.waitFor(`qm.frameTime > ${t + 0.5}`, LIMIT_MS.frames, 'the demo did not play on');
    const begin = Date.now();
    await page.evaluate(`Module.ctx.getExtension('WEBGL_lose_context').loseContext()`);
    const said = await page.waitFor('qm.error', 5000, 'no qm.error');
    const lost = Date.now() - begin;
    const [at, frames] = await page.evaluate('[qm.frameTime, qm.frames]');
    await click(page, '#note button', `the go on button (the page says "${await page.evaluate('qm.error')}")`);
    const on = await page.waitFor(`qm.frames > ${frames + 2} && !qm.error && qm.frameTime`, LIMIT_MS.frames,
      'no frames after going on');
    if (on < at - 0.05 || on > at + 3) throw new Error(`lost at ${at}, went on at ${on}`);
    const fetched = await page.evaluate(`performance.getEntriesByType('resource')
      .filter((e) => /quiet_moss\.(zaf|mp3|wasm)$/.test(e.name)).length`);
    if (fetched !== 3) throw new Error(`${fetched} fetches of the demo's files`);
    await seek(opts.times[0], true);
    const diff = await compare(await blocksOf(null, 640, 480), ref(opts.times[0]), tolerance(opts.times[0]), false);
    return noErrors(`${lost} ms to "${said}"; on at ${on.toFixed(2)} s; frame ${opts.times[0]} ${diff}`);
  });

  // Phones and tablets held both ways (chromium's device metrics and touch events), one page
  // turned from one to the next: the canvas refits at once, the bar has room (a row of its own
  // upright), every control offers a finger 44 x 44 CSS pixels, nothing overflows. At phone
  // sizes a tap hides and shows the controls, and a drag along the bar names the entry under
  // the finger and seeks where it is let go, without scrolling or zooming the page.
  if (opts.browser === 'chromium') {
    await check('phones and tablets', async () => {
      const screens = [[360, 640, 3], [640, 360, 3], [390, 844, 3], [844, 390, 3], [768, 1024, 2], [1024, 768, 2]];
      const lines = [];
      const layout = `(() => {
        const r = (e) => (typeof e === 'string' ? document.querySelector(e) : e).getBoundingClientRect();
        const targets = [...document.querySelectorAll('#controls button, #bar')].filter((e) => r(e).width);
        const c = r('canvas'), bar = r('#bar');
        return { W: innerWidth, H: innerHeight, bar: bar.width, barBelow: r('#play').top - bar.bottom,
          smallest: Math.min(...targets.flatMap((e) => [r(e).width, r(e).height])),
          canvas: [c.left, c.top, c.width, c.height], moved: scrollX + scrollY + visualViewport.scale - 1,
          overflow: document.documentElement.scrollWidth - innerWidth };
      })()`;
      try {
        for (const [i, [width, height, dpr]] of screens.entries()) {
          await page.viewport({ width, height, dpr, touch: true });
          if (i === 0) await startAt('?t=50');
          const m = await page.waitFor(`(() => { const m = ${layout};
            return m.W === ${width} && m.H === ${height} && Math.abs(m.canvas[2] - Math.min(m.W, m.H * 4 / 3)) < 1 && m; })()`,
          LIMIT_MS.seek, `no layout at ${width} x ${height}`);
          const [w, h] = [Math.min(width, (height * 4) / 3), Math.min(height, (width * 3) / 4)];
          const fits = [(width - w) / 2, (height - h) / 2, w, h].every((v, k) => Math.abs(v - m.canvas[k]) < 1);
          const upright = height > width;
          const roomy = upright ? m.bar >= width - 32 && m.barBelow >= 0 : m.bar >= width / 3;
          const line = `${width}x${height}: bar ${m.bar.toFixed(0)}, smallest ${m.smallest.toFixed(0)}`;
          if (!fits || !roomy || m.smallest < 44 || m.overflow > 0 || m.moved)
            throw new Error(`${line}, canvas ${m.canvas}, bar below ${m.barBelow}, overflow ${m.overflow}, moved ${m.moved}`);
          lines.push(line);
          if (width > 844 || height > 844) continue;
          // A tap on the picture hides the shown controls while playing, the next shows them.
          await page.evaluate('qm.play()');
          const shown = `document.querySelector('#controls').classList.contains('shown')`;
          for (const want of [false, true]) {
            if (want) await sleep(300);
            else await page.waitFor(shown, LIMIT_MS.seek, 'no controls to hide');
            await page.touch([[width / 2, height / 3]]);
            await page.waitFor(`${shown} === ${want}`, 5000, `${width}x${height}: a tap left the controls ${want ? 'hidden' : 'shown'}`);
          }
          const bar = await page.evaluate(`(() => { const r = document.querySelector('#bar').getBoundingClientRect();
            return [r.left, r.width, r.top + r.height / 2]; })()`);
          const path = [0.2, 0.35, 0.5, 0.7].map((f) => [bar[0] + f * bar[1], bar[2]]);
          const seeks = await page.evaluate('qm.seekMs.length');
          await page.touch(path);
          const [t, tip] = await page.evaluate(`[0.7 * qm.duration, document.querySelector('#tip').textContent]`);
          const name = await page.evaluate(`qm.entryAt(${t}).text`);
          if (!tip.endsWith(name)) throw new Error(`dragged to ${t.toFixed(1)} s, the tip says ${JSON.stringify(tip)}`);
          const at = await page.waitFor(`qm.seekMs.length > ${seeks} && !qm.ended && qm.frameTime`, LIMIT_MS.seek, 'no seek on release');
          if (at < t - 0.05 || at > t + 2) throw new Error(`dragged to ${t.toFixed(2)} s, the frame is at ${at}`);
          if (await page.evaluate('scrollX + scrollY + visualViewport.scale - 1')) throw new Error('the page moved');
          lines.push('tap, drag');
        }
        return noErrors(lines.join('; '));
      } finally {
        await page.viewport(null);
      }
    });
  }

  // A moment link: the demo starts there; near the end it ends, holds, and plays again from 0.
  await check('?t= starts there, the end offers play again', async () => {
    // The player's first frame (the loading sequence's before it stand at 0), taken in the page:
    // a busy browser answers late, frames later.
    await page.open(`${base}?t=306`);
    await page.evaluate(`void (window.qmFirstFrame = new Promise((resolve) => {
      const look = () => (qm.frameTime > 0 ? resolve(qm.frameTime) : requestAnimationFrame(look));
      look();
    }))`);
    await click(page, '#start', '#start');
    const first = await withTimeout(page.evaluate('qmFirstFrame'), LIMIT_MS.frames, 'no frame drawn');
    if (Math.abs(first - 306) > 1 / 60) throw new Error(`the first frame is at ${first} s`);
    await page.waitFor('qm.ended', 10e3, 'the demo did not end');
    await page.waitFor('!document.querySelector("#again").hidden', 3e3, 'no play again');
    if (!(await page.evaluate('qm.audio[0].paused'))) throw new Error('the music plays on');
    await click(page, '#again', '#again');
    const t = await page.waitFor('!qm.ended && qm.frameTime < 1 && qm.frames > 2 && qm.frameTime + 1',
      5e3, 'play again did not start from 0');
    return noErrors(`first frame at ${first.toFixed(3)} s, ended, again from ${(t - 1).toFixed(3)} s`);
  });

  // Every way the page cannot play ends within 5 s in one line naming what is missing, no start
  // button and no console error (but the browser's own note of a file it did not get).
  const failures = [
    ['without quiet_moss.mp3', 'without/quiet_moss.mp3/', null, 'quiet_moss.mp3'],
    ['without quiet_moss.zaf', 'without/quiet_moss.zaf/', null, 'quiet_moss.zaf'],
    ['a soundtrack that is not audio', 'not-audio/', null, 'soundtrack'],
    ['no WebAssembly', '', 'delete globalThis.WebAssembly;', 'WebAssembly'],
    ['no WebGL', '', 'HTMLCanvasElement.prototype.getContext = () => null;', 'WebGL'],
  ];
  const saysWhy = async (p, url, preload, word) => {
    const begin = Date.now();
    await p.navigate(url, preload);
    const said = await p.waitFor('window.qm?.error', 5000, 'no qm.error');
    const ms = Date.now() - begin;
    const shown = await p.evaluate(`[document.querySelector('#note').innerText,
      getComputedStyle(document.querySelector('#start')).display]`);
    if (!said.includes(word) || shown[0] !== said || shown[1] !== 'none' || said.includes('\n'))
      throw new Error(`said ${JSON.stringify(said)}, shown ${JSON.stringify(shown)}`);
    await sleep(500);   // an error that follows the line
    const errors = p.errors.filter((e) => !e.startsWith('network:'));
    if (errors.length) throw new Error(errors.join('; '));
    return `${ms} ms: ${said}`;
  };
  for (const [name, folder, preload, word] of failures) {
    await check(name, () => (preload ? inOwnBrowser([], (p) => saysWhy(p, base + folder, preload, word))
      : saysWhy(page, base + folder, null, word)));
  }
  if (opts.browser === 'chromium') {
    await check('chromium --disable-3d-apis',
      () => inOwnBrowser(['--disable-3d-apis'], (p) => saysWhy(p, base, null, 'WebGL')));
  }
  // A server that compresses the files on the fly, with the compressed length.
  await check('files compressed on the fly', async () => {
    await page.open(extra.compressedBase);
    // The soundtrack streams: its entry is there once all of it is in.
    await page.waitFor(`!document.querySelector('#start').disabled && qm.arrived >= qm.duration || qm.error`,
      LIMIT_MS.load, 'nothing');
    const [error, encodings] = await page.evaluate(`[qm.error, performance.getEntriesByType('resource')
      .filter((e) => /quiet_moss\.(zaf|mp3)$/.test(e.name)).map((e) => e.encodedBodySize < e.decodedBodySize)]`);
    if (error) throw new Error(error);
    if (encodings.length !== 2 || !encodings.every(Boolean)) throw new Error(`compressed: ${encodings}`);
    return noErrors('both came in compressed, start offered');
  });

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
      await page.viewport({ width: width / 2, height: height / 2, dpr: 2 });
      try {
        const sizes = '[canvas.width, canvas.height, innerWidth, innerHeight, devicePixelRatio]';
        await page.waitFor(`canvas.width === ${width} && canvas.height === ${height}`, LIMIT_MS.load,
          `the canvas is not ${last.size}`).catch(async (e) => {
          throw new Error(`${e.message}: canvas, window, pixel ratio ${await page.evaluate(sizes)}`);
        });
        await seek(t0, true);
        return `canvas ${last.size}, ${await compare(await blocksOf(null, width, height), ref(t0, last.size), tol, false)}`;
      } finally {
        await page.viewport(null);
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
  // A link to this moment keeps the size the page was asked to draw at. Late: in Firefox a
  // clipboard write leaves the next navigation hanging.
  await check('copy link keeps ?size=', async () => {
    await startAt('?size=720x960&t=50');
    await page.evaluate('qm.pause()');
    const link = await page.evaluate(`document.querySelector('#link').click(), qm.link`);
    const q = new URL(link).searchParams;
    const t = Number(q.get('t')), clock = await page.evaluate('qm.clock');
    if (q.get('size') !== '720x960' || Math.abs(t - clock) > 0.01) throw new Error(link);
    return link;
  });
  // Hidden controls are out of Tab's reach: Tab brings them back first. Last, on the page left
  // paused above: in Firefox under WebDriver the navigation after a Tab may never complete.
  await check('Tab reaches the controls only shown', async () => {
    await page.evaluate('qm.play()');
    const hidden = await page.waitFor(`!document.querySelector('#controls').classList.contains('shown') &&
      getComputedStyle(document.querySelector('#play')).visibility === 'hidden' && 'hidden'`, 5e3,
    'the controls, hidden, stayed within reach');
    await page.press('Tab');
    const [inside, shown, seen] = await page.evaluate(`[
      document.querySelector('#controls').contains(document.activeElement),
      document.querySelector('#controls').classList.contains('shown'),
      getComputedStyle(document.activeElement).visibility]`);
    if (hidden !== 'hidden' || !inside || !shown || seen !== 'visible')
      throw new Error(`hidden play button ${hidden}; after Tab: focus in the controls ${inside}, shown ${shown}, ${seen}`);
    return `hidden: ${hidden}; Tab: ${await page.evaluate(`document.activeElement.getAttribute('aria-label')`)} focused, shown`;
  });
  // Last, in a browser of its own (a preload script).
  await check('no full screen where the browser has none', () => inOwnBrowser([], async (p) => {
    await p.open(base, { preload: 'delete Element.prototype.requestFullscreen;' });
    await click(p, '#start', '#start');
    await p.waitFor('qm.frames > 0', LIMIT_MS.frames, 'no frame drawn');
    const shown = await p.evaluate(`getComputedStyle(document.querySelector('#full')).display`);
    await p.press('f');
    await sleep(300);
    if (shown !== 'none') throw new Error(`the full screen button shows (${shown})`);
    if (p.errors.length) throw new Error(p.errors.join('; '));
    return 'no button, F does nothing, no console error';
  }));
}

// A server in front of another that compresses the demo's files on the fly, as some hosts
// do: gzip, with the compressed length.
function compressingProxy(port) {
  const proxy = http.createServer((req, res) => {
    http.get({ port, path: req.url }, (up) => {
      const parts = [];
      up.on('data', (c) => parts.push(c)).on('end', () => {
        let body = Buffer.concat(parts);
        const headers = { ...up.headers };
        if (/\.(zaf|mp3)$/.test(req.url)) {
          body = zlib.gzipSync(body);
          Object.assign(headers, { 'content-encoding': 'gzip', 'content-length': body.length });
          delete headers['accept-ranges'];
        }
        res.writeHead(up.statusCode, headers);
        res.end(body);
      });
    });
  });
  return new Promise((resolve) => proxy.listen(0, '127.0.0.1', () => resolve(proxy)));
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
  const mouse = async (x, y, types = ['move', 'down', 'up']) => {
    for (const type of types) await page.mouse(type, x, y);
  };
  // Until what is read passes ok, or fails naming it.
  const until = (what, ok, label) => poll(async () => {
    const v = await evaluate(what);
    return ok(v) && { v };
  }, LIMIT_MS.seek, label).then((r) => r.v);

  await check('volume, mute and speed through qm, remembered', async () => {
    await h.startAt('?t=100');
    await evaluate('(qm.volume = 0.3, qm.muted = true, qm.rate = 2)');
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
    await evaluate('(qm.volume = 1, qm.muted = false)');
    if (JSON.stringify(kept) !== JSON.stringify([0.3, true, 1, 0.3, true]))
      throw new Error(`after a reload volume, muted, rate, element's volume and muted: ${kept}`);
    return `set ${set.slice(0, 4)}; after a reload ${kept.slice(0, 3)} (speed is not remembered)`;
  });

  // The demo clock and the music against wall time over 5 s at each speed (long enough that one
  // nudge of the clock onto the music, up to 30 ms, stays within the 5 % even at 0.25x).
  await check('speeds', async () => {
    await page.waitFor('!qm.audio[0].paused', LIMIT_MS.music, 'the soundtrack did not play');
    const lines = [];
    for (const r of [0.25, 0.5, 1, 1.5, 2]) {
      await evaluate(`qm.rate = ${r}`);
      await sleep(500);   // the music at its new pace
      const [clock, music, wall] = await evaluate(`new Promise((resolve) => {
        const at = () => [qm.clock, qm.musicTime, performance.now() / 1000];
        const a = at();
        setTimeout(() => resolve(at().map((v, i) => v - a[i])), 5000);
      })`);
      const [rc, rm] = [clock / wall / r, music / wall / r];
      const line = `${r}x: clock ${(clock / wall).toFixed(3)}, music ${(music / wall).toFixed(3)} per s`;
      if (Math.abs(rc - 1) > 0.05 || Math.abs(rm - 1) > 0.05) throw new Error(line);
      lines.push(`${line}, ${within(await musicOffset(page), 0.05, 'music')}`);
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
        await page.press(key);
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
      await page.press(key);
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
    // Its middle: where the thumb's room at either end, which browsers draw differently, cancels.
    await evaluate('qm.volume = 1');
    await mouse(v.left + v.width / 2, v.y);
    const vol = await until('qm.volume', (x) => Math.abs(x - 0.5) <= 0.05, 'the volume slider did not set the volume');
    lines.push(`volume slider clicked in its middle: ${vol}`);
    await evaluate('(qm.volume = 1, document.querySelector("#speed").focus())');
    await page.press('ArrowDown');
    lines.push(`speed menu, arrow down: ${await until('qm.rate', (r) => r === 1.5, 'the speed menu did not go to 1.5x')}x`);
    await evaluate('(qm.rate = 1, document.activeElement.blur())');
    const k = await rect('#keys');
    await mouse(k.x, k.y);
    await until('!document.querySelector("#help").hidden', (x) => x, 'the ? button showed no list');
    await mouse(k.x, k.y);
    await until('document.querySelector("#help").hidden', (x) => x, 'the ? button left the list shown');
    return lines.join(', ');
  });

  // The bar as assistive technology sees it, reached with Tab, moved by the arrows.
  await check('seek bar is a slider, every control named', async () => {
    await evaluate('(document.activeElement.blur(), qm.seek(83.5))');
    let tabs = 0;
    while (!(await evaluate('document.activeElement?.id === "bar"')) && tabs++ < 12) await page.press('Tab');
    if (tabs > 12) throw new Error('Tab never reached the seek bar');
    // Firefox under WebDriver: its Tab moves the focus but is not taken as the keyboard's, so no
    // ring is drawn there; chromium shows whether the page draws one.
    const ring = page.lacks.includes('keyboard focus') ? 'not seen (WebDriver)'
      : await evaluate(`getComputedStyle(document.querySelector('#bar')).outlineStyle`);
    if (!ring || ring === 'none') throw new Error('no focus ring on the seek bar');
    const t0 = await evaluate('qm.frameTime');
    await page.press('ArrowUp');
    await until('qm.frameTime', (t) => Math.abs(t - t0 - 5) < 0.02, 'ArrowUp on the bar did not move it 5 s on');
    await page.press('ArrowDown');
    await until('qm.frameTime', (t) => Math.abs(t - t0) < 0.02, 'ArrowDown on the bar did not move it 5 s back');
    await sleep(100);   // the controls repaint
    // A name for every control: as chromium's accessibility tree gives it, else as the page says.
    const named = await (opts.browser === 'chromium' ? page.send('Accessibility.getFullAXTree').then(({ nodes }) => nodes
      .filter((n) => !n.ignored && ['button', 'slider', 'combobox', 'PopUpButton'].includes(n.role?.value))
      .map((n) => [n.role.value, n.name?.value]))
      : evaluate(`Array.from(document.querySelectorAll('#controls button, #controls input, #controls select, #bar'),
        (c) => [c.getAttribute('role') || c.tagName, c.getAttribute('aria-label') || c.textContent.trim()])`));
    const nameless = named.filter(([, name]) => !name);
    if (named.length < 8 || nameless.length) throw new Error(`controls without a name: ${nameless.map(([r]) => r)}`);
    const valueText = await evaluate('document.querySelector("#bar").getAttribute("aria-valuetext")');
    const role = await evaluate('document.querySelector("#bar").getAttribute("role")');
    const want = '1 minute 23, entry 17, dot wall: bands roll down the rows';
    if (role !== 'slider' || valueText !== want)
      throw new Error(`the bar is ${role} saying ${JSON.stringify(valueText)}, not ${JSON.stringify(want)}`);
    return `Tab x ${tabs}, ring ${ring}, ${named.length} controls named; "${valueText}"`;
  });

  // 200 % zoom of this window: the same controls, none outside the window or over another.
  await check('controls at 200 % zoom', async () => {
    const [W, H] = WINDOW.map((n) => n / 2);
    const width = await evaluate('innerWidth');
    await page.viewport({ width: W, height: H, dpr: 2 });
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
      await page.viewport(null);
      await page.waitFor(`innerWidth === ${width}`, LIMIT_MS.load, 'the window kept its zoom');
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
    await mouse(bar.left + (bar.width * tA) / d, bar.y, ['move', 'move']);
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
    console.error('usage: web_test.js --web DIR --ref DIR --times T[:X],... [--browser chromium|firefox] ' +
      '[--tolerance X] [--bench N] [--sizes WxH[:X],...] [--mbits M]');
    process.exit(1);
  }
  const missing = [path.join(opts.web, 'index.html'), opts.ref].find((f) => !fs.existsSync(f));
  if (missing) console.log(`FAIL  setup: ${missing} is missing`), process.exit(1);

  let failures = 0;
  let server, compressing, browser, mounts;
  const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'qm-web-'));
  const browsers = [];
  // However the run ends, the browsers' process groups go, and their profiles.
  process.on('exit', () => {
    for (const b of browsers) b.close();
    fs.rmSync(scratch, { recursive: true, force: true, maxRetries: 5 });
  });
  // A browser of the kind under test on a fresh profile, with flags of its own.
  const launchBrowser = async (flags = []) => {
    const profile = fs.mkdtempSync(path.join(scratch, 'profile-'));
    const b = await launch(opts.browser, { profile, flags });
    browsers.push(b);
    return b;
  };
  const check = async (name, fn) => {
    try {
      console.log(`PASS  ${name}: ${await fn()}`);
    } catch (err) {
      failures++;
      console.log(`FAIL  ${name}: ${err.message.split('\n')[0]}`);
    }
  };
  setTimeout(() => {
    console.log(`FAIL  whole run: over ${LIMIT_MS.run / 1000} s, ${opts.browser} stopped`);
    process.exit(1);
  }, LIMIT_MS.run);
  for (const signal of ['SIGINT', 'SIGTERM']) process.on(signal, () => process.exit(1));

  await check(`start ${opts.browser}`, async () => {
    // The build again without one of its files (in the build's folder), or with something else
    // for a soundtrack, for the pages that must say so.
    mounts = { '/ref/': opts.ref };
    const build = fs.readdirSync(opts.web).find((f) => /^[0-9a-f]{16}$/.test(f));
    const variants = { 'without/quiet_moss.mp3': null, 'without/quiet_moss.zaf': null,
      'without/storyboard.jpg': null,
      'not-audio': ['quiet_moss.mp3', 'quiet_moss.zaf'] };
    const link = (from, to, skip) => {
      for (const f of fs.readdirSync(from).filter((f) => !skip(f)))
        fs.symlinkSync(path.resolve(from, f), path.join(to, f));
    };
    for (const [folder, swap] of Object.entries(variants)) {
      const dir = fs.mkdtempSync(path.join(scratch, 'variant-'));
      const gone = swap ? swap[0] : path.basename(folder);
      link(opts.web, dir, (f) => ['cmake', 'cache', build].includes(f));
      fs.mkdirSync(path.join(dir, build));
      link(path.join(opts.web, build), path.join(dir, build), (f) => f === gone);
      if (swap) fs.symlinkSync(path.resolve(opts.web, build, swap[1]), path.join(dir, build, swap[0]));
      mounts[`/${folder}/`] = dir;
    }
    ({ server } = await startServer({ root: opts.web, port: 0, mounts }));
    compressing = await compressingProxy(server.address().port);
    browser = await launchBrowser(opts.browser === 'chromium' ? [`--window-size=${WINDOW.join(',')}`] : []);
    return browser.version;
  });
  // serve(root): another folder, or none, at the same address (the service worker is the
  // address's).
  const port = server?.address().port;
  const serve = async (root) => {
    await new Promise((resolve) => {
      server.close(resolve);
      server.closeAllConnections();
    });
    if (root) ({ server } = await startServer({ root, port, mounts }));
  };
  const extra = { launchBrowser, serve, compressedBase: `http://127.0.0.1:${compressing?.address().port}/` };
  if (browser) await runChecks(browser.page, `http://127.0.0.1:${port}/`, opts, check, extra);
  process.exit(failures ? 1 : 0);
}

main();
