// The player's clock and its music: start, pause, resume, seeks one after another, frame steps,
// the end, the speed, the volume, and the demo clock kept on the soundtrack's time, held at its
// frame while the music it needs is still on its way. Every change of state is announced to the
// controls as a 'playerchange' event on the stage.
import { $, FPS, demo, params, qm, timeText } from './qm.js';
import { CANNOT_PLAY, fail, soundtrack } from './loading.js';
import { restartRuntime } from './runtime.js';

const stage = $('stage'), startButton = $('start'), note = $('note');
const changed = () => stage.dispatchEvent(new Event('playerchange'));
// After the next paint: what the page changed is on screen before a long task.
const nextFrame = () => new Promise((resolve) => requestAnimationFrame(() => resolve()));
const painted = () => new Promise((resolve) => requestAnimationFrame(() => setTimeout(resolve)));
const lastFrameTime = () => Math.max(0, qm.duration - 1 / FPS);

startButton.addEventListener('click', async () => {
  if (startButton.disabled || demo.started) return;
  startButton.hidden = true;
  $('flashes').hidden = true;
  demo.started = true;
  const t = Math.min(Math.max(Number(params.get('t')) || 0, 0), lastFrameTime());
  await startAt(t);
});

// The runtime's player from demo time t, the clock running once the music plays.
async function startAt(t) {
  Module._qm_rate(sound.rate);
  if (Module._qm_start(t)) return;
  // Played once under the viewer's click, the soundtrack may play later without one (the
  // scenes start it after the loading sequence, seconds after the click).
  const a = qm.audio?.[0];
  if (a) {
    tune(a);
    a.play().catch(() => {});
    a.pause();
  }
  changed();
  await runWithMusic();
}

// A soundtrack that stops decoding half-way stops the demo with a word (the same element plays
// every start, so it is listened to once). Firefox without a sound device reports an error of
// its output too, then plays on by its own clock: music that moves on is kept, and so is music
// the page itself stopped meanwhile (a pause, a lost picture), which the next start tries again.
// Before the start, loading says what failed.
soundtrack?.audio.addEventListener('error', async () => {
  const a = soundtrack.audio, from = a.currentTime;
  await new Promise((resolve) => setTimeout(resolve, 1000));
  if (!demo.started || a.currentTime > from || qm.paused || qm.ended || qm.error || demo.seeking) return;
  hold();
  fail(CANNOT_PLAY);
});

// A lost WebGL context (a GPU reset, or the browser taking it back): the demo holds where it
// was and offers to go on from there, on a fresh canvas with nothing fetched again. Before the
// start there is no moment to keep: the runtime starts afresh under the start button.
let lostAt = null;
stage.addEventListener('webglcontextlost', () => {
  if (!demo.runtime || lostAt !== null || qm.error) return;
  if (!demo.started) return void restartRuntime();
  hold();
  lostAt = Math.min(qm.frameTime, lastFrameTime());
  const at = timeText(lostAt);
  const goOn = document.createElement('button');
  goOn.textContent = `go on from ${at}`;
  goOn.addEventListener('click', async () => {
    note.hidden = true;
    qm.error = null;
    await restartRuntime();
    qm.paused = qm.ended = false;
    const t = lostAt;
    lostAt = null;
    await startAt(t);
  });
  qm.error = `The graphics card was reset and the picture lost at ${at}: go on from there when you are ready.`;
  note.textContent = qm.error;
  note.append(document.createElement('br'), goOn);
  note.hidden = false;
  $('again').hidden = true;
}, true);

// At most ms for a promise; a timeout is no failure, only the end of waiting.
const until = (promise, ms) => {
  let timer;
  const late = new Promise((resolve) => (timer = setTimeout(resolve, ms)));
  return Promise.race([promise, late]).finally(() => clearTimeout(timer));
};

// Puts the soundtrack where the held demo clock stands and starts it; once it plays, the clock
// runs from the music's own time. Music that has not arrived yet holds the frame, buffering,
// until it has. Starting the sound can take half a second, and the music runs on meanwhile: it
// is put back to the clock once more (playing, that seek is quick), so that the picture goes on
// from its own frame. Before the music's start the scenes start it. A pause or a seek meanwhile
// makes this one stale: it leaves the clock to the newer one. Music that will not play within
// 1.5 s (or finish a seek within 5 s) leaves the clock to run without it.
let musicTurn = 0;
let musicStarting = false;   // the current turn's start under way: the follower leaves it be
// Music that says it plays may not have moved yet (Firefox): until it does, or ms have passed.
const heardMoving = (a, from, ms) => new Promise((resolve) => {
  const end = performance.now() + ms;
  const look = () => (a.currentTime > from || a.paused || performance.now() > end ? resolve() : setTimeout(look, 5));
  look();
});
async function runWithMusic() {
  const turn = ++musicTurn;
  musicStarting = true;
  try {
    await startMusic(turn);
  } finally {
    if (turn === musicTurn) musicStarting = false;
  }
}
async function startMusic(turn) {
  const a = qm.audio?.[0], c = qm.clock;
  const heard = a && c >= demo.musicOrigin;
  const seekMusic = () => {
    const seeked = new Promise((resolve) => a.addEventListener('seeked', resolve, { once: true }));
    a.currentTime = c - demo.musicOrigin;
    return seeked;
  };
  if (heard) {
    if (!soundtrack.in(c - demo.musicOrigin)) {
      demo.buffering = true;
      changed();
      await soundtrack.arrival(c - demo.musicOrigin, 1);
      if (turn !== musicTurn) return;
      demo.buffering = false;
      changed();
    }
    const seeked = seekMusic();
    await until(a.play().catch(() => {}), 1500);
    if (a.seeking) await until(seeked, 5000);
    if (turn === musicTurn && !a.paused && !a.seeking && qm.musicTime - c > 0.02) await until(seekMusic(), 5000);
    await heardMoving(a, c - demo.musicOrigin, 1000);
  } else if (a) {
    a.pause();
    a.currentTime = 0;
  }
  if (turn !== musicTurn || qm.paused || qm.ended || demo.seeking) return;
  Module._qm_run(1);
  if (heard && !a.paused && !a.seeking) Module._qm_nudge(qm.musicTime - qm.clock);
}

// Stops the clock and the music (a pause, or a seek about to run).
function hold() {
  musicTurn++;
  musicStarting = false;
  demo.buffering = false;
  Module._qm_run(0);
  qm.audio?.[0]?.pause();
}

function pause() {
  if (!demo.started || qm.ended) return Promise.resolve();
  qm.paused = true;
  hold();
  changed();
  return Promise.resolve();
}

async function resume() {
  if (!demo.started || lostAt !== null) return;
  if (qm.ended) return playAgain();
  qm.paused = false;
  await runWithMusic();
  changed();
}

export const togglePlay = () => (qm.ended || qm.paused ? resume() : pause());

// Seeks run one after another; each resolves once its frame is on screen.
let seekChain = Promise.resolve();
export function queueSeek(t, grab) {
  const run = seekChain.then(() => seekNow(t, grab));
  seekChain = run.catch(() => {});
  return run;
}

// The keys and the bar ask for many seeks in a row: only the latest still waiting runs.
let wanted = null;
export function seekSoon(t) {
  const waiting = wanted !== null;
  wanted = t;
  if (!waiting) queueSeek(() => { const w = wanted; wanted = null; return w; });
}
// dt seconds on from the seek still waiting, or from the clock.
export const seekBy = (dt) => seekSoon((wanted ?? qm.clock) + dt);

async function seekNow(t, grab) {
  if (typeof t === 'function') t = t();
  if (!demo.started || !Number.isFinite(t)) throw new Error('seek wants a number of seconds, after the start');
  t = Math.min(Math.max(t, 0), lastFrameTime());
  if (lostAt !== null) return t;   // nothing to draw with until the page goes on
  demo.seeking++;
  hold();
  changed();
  await painted();
  const begin = performance.now();
  const over = Module._qm_seek(t, grab ? 1 : 0);
  qm.seekMs.push(Math.round(performance.now() - begin));
  demo.seeking--;
  if (!over) {
    qm.ended = false;
    note.hidden = $('again').hidden = true;
    const a = qm.audio?.[0];
    if (qm.paused && a) a.currentTime = Math.max(0, t - demo.musicOrigin);
    // The clock runs once the music plays; the frame is shown meanwhile.
    if (!qm.paused) runWithMusic();
  }
  changed();
  await nextFrame();
  return t;
}

// One frame on (+1) or back (-1) from the frame on screen, or from the step still waiting,
// paused: the frame qm-capture draws for that frame's time (read back when grab is set).
let stepTo = null, stepping;
export function stepFrame(by, grab = false) {
  if (!demo.started) return Promise.resolve();
  if (!qm.paused) pause();
  const waiting = stepTo !== null, last = Math.round(lastFrameTime() * FPS);
  stepTo = Math.min(Math.max((stepTo ?? Math.round(qm.frameTime * FPS)) + by, 0), last);
  if (waiting) return stepping;   // the step still waiting goes this far instead
  return (stepping = queueSeek(() => {
    const k = stepTo;
    stepTo = null;
    return k / FPS;
  }, grab));
}

// The speed, the volume and mute: the clock and the music follow the speed at once (the music
// at its own pitch); the volume and mute are remembered across visits.
export const RATES = [0.25, 0.5, 1, 1.5, 2];
const remembered = (key, fallback) => {
  try {
    return JSON.parse(localStorage.getItem(key)) ?? fallback;
  } catch {
    return fallback;
  }
};
const remember = (key, value) => {
  try {
    localStorage.setItem(key, JSON.stringify(value));
  } catch {}   // storage off: this visit only
};
const volume = remembered('qm.volume', 1);
const sound = { rate: 1, volume: volume >= 0 && volume <= 1 ? volume : 1,
  muted: remembered('qm.muted', false) === true };

// Only what differs: chromium takes a moment over a rate or pitch setting even when unchanged,
// and a resume would start the music late.
function tune(a) {
  const want = { preservesPitch: true, defaultPlaybackRate: sound.rate, playbackRate: sound.rate,
    volume: sound.volume, muted: sound.muted };
  for (const [key, value] of Object.entries(want)) if (a[key] !== value) a[key] = value;
}

function setSound(key, value) {
  sound[key] = value;
  if (key !== 'rate') remember(`qm.${key}`, value);
  else if (demo.started) Module._qm_rate(value);   // else the start passes it on
  const a = qm.audio?.[0];
  if (a) tune(a);
  changed();
}

export const setRate = (r) => {
  if (!RATES.includes(Number(r))) throw new Error(`rate wants one of ${RATES.join(', ')}`);
  setSound('rate', Number(r));
};
export const setVolume = (v) => {
  if (!(v >= 0 && v <= 1)) throw new Error('volume wants a number from 0 to 1');
  setSound('volume', Number(v));
};
export const setMuted = (m) => setSound('muted', Boolean(m));

export function playAgain() {
  qm.paused = false;
  return queueSeek(0);
}

function ended(holdMs) {
  qm.ended = true;
  changed();
  setTimeout(() => {
    if (!qm.ended) return;
    note.textContent = 'the end';
    note.hidden = false;
    $('again').hidden = false;
  }, holdMs);
}

// The demo clock follows the music: a small difference moves the clock, by the median of the
// last five readings, 0.1 s apart (Firefox without a sound device reports the music's time by a
// coarse clock, up to 130 ms off either way from one reading to the next). Music that stopped is
// started again where the clock is; music far off (started late by the scenes after a hidden
// tab, say), or played up to where it has arrived, is put there with the clock held until it
// plays. Music still seeking is left to arrive.
let drifts = [];
setInterval(() => {
  const a = qm.audio?.[0], c = qm.clock;
  if (!a || !demo.started || qm.paused || qm.ended || demo.seeking || c < demo.musicOrigin + 0.2 ||
      demo.buffering || a.seeking || musicStarting) {
    drifts = [];
    return;
  }
  const drift = a.currentTime + demo.musicOrigin - c;
  if (a.paused) {
    runWithMusic();
  } else if (Math.abs(drift) > 1 || !soundtrack.in(a.currentTime, 0.25)) {
    hold();
    runWithMusic();
  } else if ((drifts = [...drifts.slice(-4), drift]).length === 5) {
    const typical = [...drifts].sort((x, y) => x - y)[2];
    if (Math.abs(typical) <= 0.03) return;
    Module._qm_nudge(typical);
    qm.nudges++;
    drifts = [];
  }
}, 100);

Object.assign(qm, { seek: queueSeek, play: resume, pause, end: ended, step: stepFrame });
Object.defineProperties(qm, {
  rate: { get: () => sound.rate, set: setRate, enumerable: true },
  volume: { get: () => sound.volume, set: setVolume, enumerable: true },
  muted: { get: () => sound.muted, set: setMuted, enumerable: true },
});
