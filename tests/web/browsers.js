// The two browsers the page is tested in, behind one small page interface: chromium over its
// DevTools protocol, Firefox over WebDriver BiDi, both on a WebSocket. Node's standard library
// only.
//   const browser = await launch('chromium' | 'firefox', { profile, flags });
//   browser.page: open(url, { preload }), navigate(url), evaluate(expr), waitFor(expr, ms, what),
//     press(key), mouse(type, x, y), touch(points), viewport(v | null), errors, and lacks: what
//     the driver cannot do in that browser ('fullscreen', 'keyboard focus')
//   browser.version, browser.quit() (asks, then kills), browser.close() (kills)
'use strict';
const childProcess = require('child_process');
const crypto = require('crypto');
const fs = require('fs');
const http = require('http');
const path = require('path');

const LIMIT_MS = { launch: 30e3, command: 30e3 };

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

// The smallest websocket client the two endpoints need (Debian 12's node has none): text
// messages in, whole or in frames, pings answered; commands under 64 KiB out, masked. No Origin
// header: Firefox refuses a handshake that carries one. A message that cannot be handled is
// reported and passed over, never left to stop the ones after it.
function openSocket(url, onText) {
  const { hostname, port, pathname } = new URL(url);
  const headers = { Connection: 'Upgrade', Upgrade: 'websocket', 'Sec-WebSocket-Version': '13',
    'Sec-WebSocket-Key': crypto.randomBytes(16).toString('base64') };
  return new Promise((resolve, reject) => {
    const req = http.request({ hostname, port, path: pathname, headers }).on('error', reject);
    req.on('response', (res) => reject(new Error(`websocket refused: HTTP ${res.statusCode}`)));
    req.on('upgrade', (res, socket, data) => {
      let parts = [];   // a message's frames so far, until its last (FIN)
      socket.on('data', (chunk) => {
        for (data = Buffer.concat([data, chunk]); data.length >= 2;) {
          let [len, at] = [data[1] & 127, 2];
          if (len === 126) [len, at] = [data.length < 4 ? Infinity : data.readUInt16BE(2), 4];
          if (len === 127) [len, at] = [data.length < 10 ? Infinity : data.readUIntBE(4, 6), 10];
          if (data.length < at + len) return;
          const [last, opcode, payload] = [data[0] & 0x80, data[0] & 15, data.subarray(at, at + len)];
          data = data.subarray(at + len);   // past this frame whatever its handler does
          if (opcode === 9) socket.write(Buffer.concat([Buffer.from([0x8a, 0x80 | len]), Buffer.alloc(4), payload]));
          if (opcode !== 1 && opcode !== 0) continue;   // a text message's frames only
          parts.push(payload);
          if (!last) continue;
          const text = Buffer.concat(parts).toString('utf8');
          parts = [];
          try {
            onText(text);
          } catch (e) {
            console.log(`NOTE  a message from the browser not understood (${e.message}): ${text.slice(0, 120)}`);
          }
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

// Commands with ids and their replies, and the events, over one socket: both protocols share
// this shape ({id, method, params} out; {id, result | error} or {method, params} in).
async function connect(url, onEvent) {
  const pending = new Map();
  let nextId = 1, received = 0;
  const socket = await openSocket(url, (text) => {
    received++;
    const message = JSON.parse(text);
    const waiter = pending.get(message.id);
    pending.delete(message.id);
    if (waiter && message.error) {
      waiter.reject(new Error(`${waiter.method}: ${message.message || message.error.message || message.error}`));
    } else if (waiter) {
      waiter.resolve(message.result);
    } else if (message.method) {
      onEvent(message.method, message.params);
    }
  });
  // A command unanswered says whether the browser went on talking meanwhile (a stuck page) or
  // fell silent (a stuck browser).
  const send = (method, params = {}) => {
    const before = received;
    return withTimeout(new Promise((resolve, reject) => {
      pending.set(nextId, { resolve, reject, method });
      socket.send(JSON.stringify({ id: nextId++, method, params }));
    }), LIMIT_MS.command, method).catch((e) => {
      e.message += ` (${received - before} other messages from the browser meanwhile)`;
      throw e;
    });
  };
  return { send, close: socket.close };
}

// What the page's methods share: waiting, and open() as navigate() then window.qm.
function finishPage(page) {
  page.waitFor = (expression, ms, what) => poll(() => page.evaluate(expression), ms, what);
  page.open = async (url, { preload } = {}) => {
    await page.navigate(url, preload);
    await page.waitFor('typeof window.qm === "object"', LIMIT_MS.command, 'no window.qm');
  };
  return page;
}

// ---- chromium --------------------------------------------------------------------------------

// What makes a page's console unclean, by DevTools event.
const CDP_ERRORS = {
  'Runtime.consoleAPICalled': (p) => p.type === 'error' &&
    `console.error: ${p.args.map((a) => a.value ?? a.description).join(' ')}`,
  'Runtime.exceptionThrown': ({ exceptionDetails: d }) =>
    `uncaught: ${d.exception?.description ?? d.text}`,
  'Log.entryAdded': ({ entry: e }) => e.level === 'error' &&
    `${e.source === 'network' ? 'network' : 'log'}: ${e.text}${e.url ? ` (${e.url})` : ''}`,
};

// Code, key code and modifiers (8: Shift, as a US keyboard needs it) of the keys that are not a
// plain letter or digit.
const CDP_KEYS = { ' ': ['Space', 32], ArrowLeft: ['ArrowLeft', 37], ArrowRight: ['ArrowRight', 39],
  ArrowUp: ['ArrowUp', 38], ArrowDown: ['ArrowDown', 40], Home: ['Home', 36], End: ['End', 35],
  Escape: ['Escape', 27], Tab: ['Tab', 9], ',': ['Comma', 188], '.': ['Period', 190],
  '<': ['Comma', 188, 8], '>': ['Period', 190, 8], '?': ['Slash', 191, 8] };

async function cdpPage(devtoolsPort) {
  const targets = await new Promise((resolve, reject) => {
    http.get(`http://127.0.0.1:${devtoolsPort}/json/list`, (res) => {
      let body = '';
      res.on('data', (c) => (body += c)).on('end', () => resolve(JSON.parse(body)));
    }).on('error', reject);
  });
  const target = targets.find((t) => t.type === 'page');
  if (!target) throw new Error('chromium shows no page target');
  // events: handlers by DevTools event name; send: any DevTools command (the network checks').
  const page = { errors: [], onLoad: () => {}, events: {} };
  const { send } = await connect(target.webSocketDebuggerUrl, (method, params) => {
    if (method === 'Page.loadEventFired') page.onLoad();
    page.events[method]?.(params);
    const unclean = CDP_ERRORS[method]?.(params);
    if (unclean) page.errors.push(unclean);
  });
  let preloaded = null;
  page.navigate = async (url, preload) => {
    page.errors = [];
    if (preloaded) await send('Page.removeScriptToEvaluateOnNewDocument', preloaded);
    preloaded = preload ? await send('Page.addScriptToEvaluateOnNewDocument', { source: preload }) : null;
    const loaded = new Promise((resolve) => (page.onLoad = resolve));
    await send('Page.navigate', { url });
    await withTimeout(loaded, LIMIT_MS.command, `loading ${url}`);
  };
  page.evaluate = async (expression) => {
    const params = { expression, awaitPromise: true, returnByValue: true };
    const { result, exceptionDetails: e } = await send('Runtime.evaluate', params);
    if (e) throw new Error((e.exception?.description ?? e.text).replace(/^Error: /, ''));
    return result.value;
  };
  // Presses a key as a person would (down, then up).
  page.press = async (key) => {
    const [code, windowsVirtualKeyCode, modifiers = 0] = CDP_KEYS[key] ??
      (/^[a-z]$/.test(key) ? [`Key${key.toUpperCase()}`, key.toUpperCase().charCodeAt(0)]
        : [`Digit${key}`, key.charCodeAt(0)]);
    const text = key.length === 1 ? { text: key } : {};
    const event = { key, code, windowsVirtualKeyCode, modifiers };
    await send('Input.dispatchKeyEvent', { type: 'keyDown', ...event, ...text });
    await send('Input.dispatchKeyEvent', { type: 'keyUp', ...event });
  };
  // The DevTools protocol itself, for what only chromium tells (its accessibility tree).
  page.cdp = send;
  const MOUSE = { move: 'mouseMoved', down: 'mousePressed', up: 'mouseReleased' };
  page.mouse = (type, x, y) => send('Input.dispatchMouseEvent',
    { type: MOUSE[type], x, y, button: type === 'move' ? 'none' : 'left', clickCount: 1 });
  // A finger down on the first point, along the others, up at the last.
  page.touch = async (points) => {
    const at = ([x, y]) => [{ x, y }];
    await send('Input.dispatchTouchEvent', { type: 'touchStart', touchPoints: at(points[0]) });
    for (const p of points.slice(1)) await send('Input.dispatchTouchEvent', { type: 'touchMove', touchPoints: at(p) });
    await send('Input.dispatchTouchEvent', { type: 'touchEnd', touchPoints: [] });
  };
  // A phone or another window: CSS size, pixel ratio, and whether it is a touch device.
  page.viewport = async (v) => {
    if (!v) {
      await send('Emulation.clearDeviceMetricsOverride');
      return send('Emulation.setTouchEmulationEnabled', { enabled: false });
    }
    const orientation = v.width > v.height ? { type: 'landscapePrimary', angle: 90 }
      : { type: 'portraitPrimary', angle: 0 };
    await send('Emulation.setTouchEmulationEnabled', { enabled: !!v.touch, maxTouchPoints: 5 });
    return send('Emulation.setDeviceMetricsOverride', { width: v.width, height: v.height,
      deviceScaleFactor: v.dpr || 1, mobile: !!v.touch, screenOrientation: orientation });
  };
  for (const domain of ['Page', 'Runtime', 'Log']) await send(`${domain}.enable`);
  page.send = send;
  page.version = (await send('Browser.getVersion')).product;
  page.lacks = [];
  page.quit = () => send('Browser.close');
  return page;
}

// ---- Firefox ---------------------------------------------------------------------------------

// WebDriver's codes for the keys that have no character of their own.
const BIDI_KEYS = { ArrowLeft: '\uE012', ArrowRight: '\uE014', ArrowUp: '\uE013',
  ArrowDown: '\uE015', Home: '\uE011', End: '\uE010', Escape: '\uE00C', Tab: '\uE004' };

async function bidiPage(port) {
  const page = { errors: [] };
  const { send } = await connect(`ws://127.0.0.1:${port}/session`, (method, params) => {
    if (method === 'log.entryAdded' && params.level === 'error')
      page.errors.push(`${params.type === 'javascript' ? 'uncaught' : 'console.error'}: ${params.text}`);
  });
  const session = await send('session.new', { capabilities: {} });
  await send('session.subscribe', { events: ['log.entryAdded'] });
  const { contexts } = await send('browsingContext.getTree', {});
  const context = contexts[0].context;
  let preloaded = null;
  page.navigate = async (url, preload) => {
    page.errors = [];
    if (preloaded) await send('script.removePreloadScript', { script: preloaded });
    preloaded = preload ? (await send('script.addPreloadScript',
      { functionDeclaration: `() => { ${preload} }` })).script : null;
    // Waiting on the navigation itself (wait: 'complete') now and then never returns here,
    // though the page loads: the new document is asked instead, marked apart from the old one.
    await withTimeout(page.evaluate('window.qmOldPage = true'), 5000, 'marking').catch(() => {});
    await send('script.evaluate', { target: { context }, awaitPromise: false, resultOwnership: 'none',
      expression: `location.assign(${JSON.stringify(url)})` });
    const loaded = `!window.qmOldPage && document.readyState === 'complete' && location.href === ${JSON.stringify(new URL(url).href)}`;
    await withTimeout(poll(() => withTimeout(page.evaluate(loaded), 5000, 'asking'), LIMIT_MS.command + 1000,
      'loading'), LIMIT_MS.command, `loading ${url}`);
  };
  // The value through JSON, as DevTools' returnByValue gives it.
  page.evaluate = async (expression) => {
    const r = await send('script.evaluate', { target: { context }, awaitPromise: true,
      resultOwnership: 'none', expression: `(async () => JSON.stringify(await (${expression})))()` });
    if (r.type === 'exception') {
      const d = r.exceptionDetails;
      throw new Error(String(d.exception?.value?.message ?? d.text).replace(/^Error: /, ''));
    }
    return r.result.type === 'string' ? JSON.parse(r.result.value) : undefined;
  };
  const act = (source) => send('input.performActions', { context, actions: [source] });
  page.press = async (key) => {
    const value = BIDI_KEYS[key] || key;
    await act({ type: 'key', id: 'keyboard', actions: [{ type: 'keyDown', value }, { type: 'keyUp', value }] });
  };
  const pointer = (kind, actions) => act({ type: 'pointer', id: kind, parameters: { pointerType: kind },
    actions });
  const to = ([x, y]) => ({ type: 'pointerMove', x: Math.round(x), y: Math.round(y) });
  const MOUSE = { down: 'pointerDown', up: 'pointerUp' };
  page.mouse = (type, x, y) => pointer('mouse', [type === 'move' ? to([x, y])
    : { type: MOUSE[type], button: 0 }]);
  page.touch = (points) => pointer('touch', [to(points[0]), { type: 'pointerDown', button: 0 },
    ...points.slice(1).map(to), { type: 'pointerUp', button: 0 }]);
  page.viewport = (v) => send('browsingContext.setViewport', { context,
    viewport: v && { width: v.width, height: v.height }, devicePixelRatio: v ? v.dpr || 1 : null });
  page.version = `Firefox/${session.capabilities.browserVersion}`;
  page.quit = () => send('browser.close');
  // Found here: WebDriver's keys give a page no user activation, so full screen is refused, and
  // its Tab moves the focus without it counting as the keyboard's (no :focus-visible).
  page.lacks = ['fullscreen', 'keyboard focus'];
  return page;
}

// ---- launching -------------------------------------------------------------------------------

// --no-sandbox: chromium refuses to start as root without it. --use-angle=swiftshader with
// --enable-unsafe-swiftshader: WebGL on the CPU without the warnings of the automatic fallback
// (deprecated, and going). The rest keep a bare profile from reaching out.
const CHROMIUM_FLAGS = ['--headless', '--no-sandbox', '--use-angle=swiftshader',
  '--enable-unsafe-swiftshader', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync', '--mute-audio'];

// Headless Firefox finds no GL driver here: it runs in a window (under Xvfb), with WebGL on
// Mesa's llvmpipe allowed although the driver is not on its list.
const FIREFOX_PREFS = {
  'webgl.force-enabled': true,
  'media.volume_scale': '"0.0"',
  'browser.shell.checkDefaultBrowser': false,
  'datareporting.policy.dataSubmissionEnabled': false,
  'toolkit.telemetry.reportingpolicy.firstRun': false,
};

const BROWSERS = {
  chromium: {
    command: process.env.CHROMIUM || '/usr/bin/chromium',
    args: (profile, flags) => [...CHROMIUM_FLAGS, ...flags, `--user-data-dir=${profile}`,
      '--remote-debugging-port=0', 'about:blank'],
    port: (profile) => Number(/^(\d+)\n/.exec(fs.readFileSync(path.join(profile, 'DevToolsActivePort'), 'utf8'))[1]),
    page: cdpPage,
  },
  firefox: {
    command: process.env.FIREFOX || '/usr/bin/firefox-esr',
    args: (profile, flags) => {
      const prefs = Object.entries(FIREFOX_PREFS).map(([k, v]) => `user_pref("${k}", ${v});\n`);
      fs.writeFileSync(path.join(profile, 'user.js'), prefs.join(''));
      return [...flags, '--profile', profile, '--no-remote', '--remote-debugging-port', '0', 'about:blank'];
    },
    port: (profile) => JSON.parse(fs.readFileSync(path.join(profile, 'WebDriverBiDiServer.json'))).ws_port,
    page: bidiPage,
  },
};

// Starts a browser in a process group of its own on a fresh profile and connects to its page.
async function start(name, profile, flags) {
  const b = BROWSERS[name];
  const proc = childProcess.spawn(b.command, b.args(profile, flags),
    { detached: true, stdio: ['ignore', 'ignore', 'pipe'] });
  let said = '';
  proc.stderr.on('data', (c) => (said = (said + c).slice(-400)));
  const exited = new Promise((_, reject) => proc.on('error', reject).on('exit', (code) =>
    reject(new Error(`${name} exited (${code}): ${said.trim().split('\n').pop()}`))));
  const close = () => {
    try {
      process.kill(-proc.pid, 'SIGKILL');
    } catch {}
  };
  // Firefox killed while it plays sound leaves the other Firefoxes' sound (and at times their
  // navigations) wedged: asked to quit first, killed only if it will not.
  const quit = async (page) => {
    const gone = new Promise((resolve) => (proc.exitCode ?? proc.signalCode) !== null ? resolve()
      : proc.on('exit', resolve));
    page.quit().catch(() => {});   // its answer may never come: the socket goes with it
    await withTimeout(gone, 5000, `${name} quitting`).catch(() => {});
    close();
  };
  try {
    const port = poll(() => b.port(profile), LIMIT_MS.launch, `${name} gave no debugging port`);
    const page = await Promise.race([exited, port.then(b.page)]);
    return { page, close, quit: () => quit(page) };
  } catch (e) {
    close();
    throw e;
  }
}

// A browser of this kind on a fresh profile, with its page ready for the checks.
async function launch(name, { profile, flags = [] }) {
  if (!BROWSERS[name]) throw new Error(`no browser called ${name}`);
  const { page, close, quit } = await start(name, profile, flags);
  return { page: finishPage(page), version: page.version, close, quit };
}

module.exports = { launch, poll, withTimeout };
