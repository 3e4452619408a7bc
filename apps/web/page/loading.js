// Loading and failures: what the browser lacks, asked first; the archive fetched whole and the
// soundtrack streamed, both with their bytes counted; the start button enabled once the archive
// and the music's first seconds are in; the offline copy kept once everything is; and the one
// line the page shows when something cannot work.
import { $, demo, here, oneFrame, qm } from './qm.js';

const startButton = $('start'), note = $('note');
const files = { zaf: { name: 'quiet_moss.zaf' }, mp3: { name: 'quiet_moss.mp3' } };
let filesIn = false;   // the archive and the music's first seconds fetched, the music playable
// Music the start waits for: the loading sequence and the opening play for about 11 s before
// the music is needed, and a connection that brought these seconds in time brings the rest
// faster than it plays.
const FIRST_SECONDS = 5;
// This build's files lie beside the page's modules (publish.js names their folder by the build).
qm.build = new URL(here('.')).pathname.split('/').filter(Boolean).pop() || '';

export function fail(why) {
  qm.error = why;
  note.textContent = why;
  note.hidden = false;
  startButton.hidden = true;
  $('flashes').hidden = true;
  $('loading').hidden = true;
}

export const AGAIN = 'reload the page to try again.';

// Fetches a file, handing each part to take as it arrives and counting its bytes into the bar
// of the same key.
async function fetchFile(key, take) {
  const file = files[key];
  const show = (got, total) => {
    $(`${key}-bar`).value = total ? got / total : 0;
    const mb = (n) => (n / 1e6).toFixed(1);
    $(`${key}-bytes`).textContent = total ? `${mb(got)} of ${mb(total)} MB` : `${mb(got)} MB`;
  };
  let res;
  try {
    res = await fetch(here(file.name));
  } catch (e) {
    throw new Error(`${file.name} could not be loaded (${e.message}): ${AGAIN}`);
  }
  if (!res.ok) throw new Error(`${file.name} could not be loaded (HTTP ${res.status}): ${AGAIN}`);
  // A server that compresses on the fly counts the compressed bytes: the bar then counts
  // without a total.
  const encoded = (res.headers.get('Content-Encoding') || 'identity') !== 'identity';
  const total = encoded ? 0 : Number(res.headers.get('Content-Length')) || 0;
  const reader = res.body.getReader();
  let got = 0;
  for (;;) {
    let part;
    try {
      part = await reader.read();
    } catch (e) {
      throw new Error(`${file.name} could not be loaded (${e.message}): ${AGAIN}`);
    }
    if (part.done) break;
    take(part.value);
    got += part.value.length;
    show(got, total);
  }
  if (total && got !== total) throw new Error(`${file.name} came in short (${got} of ${total} bytes): ${AGAIN}`);
  show(got, got);
}

async function fetchWhole(key) {
  const parts = [];
  await fetchFile(key, (part) => parts.push(part));
  return new Blob(parts);
}

// What the demo needs of the browser, asked before anything is fetched.
function missing() {
  if (typeof WebAssembly !== 'object')
    return 'This browser cannot run WebAssembly, which the demo is made of: open the link in a current Chrome, Firefox, Edge or Safari.';
  const gl = document.createElement('canvas').getContext('webgl');
  if (!gl)
    return 'This browser offers no WebGL to draw the demo with: turn on hardware acceleration in its settings, or open the link in another browser.';
  gl.getExtension('WEBGL_lose_context')?.loseContext();
  return null;
}

// Whether the browser decodes the soundtrack: its first bytes, before start is offered.
function playable(url) {
  const probe = new Audio();
  if (!probe.canPlayType('audio/mpeg')) return Promise.resolve(false);
  return new Promise((resolve) => {
    probe.preload = 'metadata';
    probe.onloadedmetadata = () => resolve(true);
    probe.onerror = () => resolve(false);
    probe.src = url;
    // A browser slow to look is given the benefit of the doubt; playing would still tell.
    setTimeout(resolve, 5000, true);
  }).finally(() => {
    probe.onerror = null;
    probe.removeAttribute('src');
  });
}
export const CANNOT_PLAY = 'This browser cannot play the soundtrack (quiet_moss.mp3, MP3 audio): open the link in another browser.';

// The soundtrack's <audio> element, which the sound layer opens, fed through a MediaSource as
// the file arrives; where the browser has none for MP3, the file whole first. in(t, ahead)
// tells whether the music from t on is there to play; arrival(t, ahead) resolves once it is.
// The file is asked for once `after` is in: sharing a slow connection would delay both.
function streamSoundtrack(after) {
  const audio = new Audio();
  audio.preload = 'auto';
  qm.elements = { [files.mp3.name]: audio };
  const music = { audio, done: false, waiting: [] };
  music.in = (t, ahead = 1) => {
    if (music.done) return true;
    const b = audio.buffered;
    for (let i = 0; i < b.length; i++) if (b.start(i) <= t + 0.1 && b.end(i) >= t + ahead) return true;
    return false;
  };
  music.arrival = (t, ahead) => new Promise((resolve) => {
    if (music.in(t, ahead)) resolve();
    else music.waiting.push({ t, ahead, resolve });
  });
  const arrived = () => {
    const ready = music.waiting.filter((w) => music.in(w.t, w.ahead));
    music.waiting = music.waiting.filter((w) => !ready.includes(w));
    for (const w of ready) w.resolve();
  };
  if (!window.MediaSource?.isTypeSupported('audio/mpeg')) {
    music.fetched = after.then(() => fetchWhole('mp3')).then(async (blob) => {
      const url = URL.createObjectURL(blob);
      if (!(await playable(url))) throw new Error(CANNOT_PLAY);
      audio.src = url;
      music.done = true;
      arrived();
    });
    return music;
  }
  const source = new MediaSource(), queue = [];
  let buffer = null, fetched = false, appended = 0;
  // One append at a time, of everything that came in meanwhile; the end once all is in.
  const pump = () => {
    if (!buffer || buffer.updating || qm.error) return;
    if (queue.length) {
      const bytes = new Uint8Array(queue.reduce((n, p) => n + p.length, 0));
      queue.splice(0).reduce((at, p) => (bytes.set(p, at), at + p.length), 0);
      buffer.appendBuffer(bytes);
      appended += bytes.length;
    } else if (fetched && source.readyState === 'open') {
      source.endOfStream();
      music.done = true;
    }
    arrived();
  };
  source.addEventListener('sourceopen', () => {
    buffer = source.addSourceBuffer('audio/mpeg');
    buffer.addEventListener('updateend', () => {
      // The decoder passes over bytes that are no MP3 without a word: 64 KB and no sound is one.
      if (appended >= 65536 && !audio.buffered.length) fail(CANNOT_PLAY);
      pump();
    });
    buffer.addEventListener('error', () => fail(CANNOT_PLAY));
    pump();
  }, { once: true });
  audio.src = URL.createObjectURL(source);
  music.fetched = after.then(() => fetchFile('mp3', (part) => {
    queue.push(part);
    pump();
  })).then(() => {
    fetched = true;
    pump();
  });
  return music;
}

const why = missing();
if (why) fail(why);
const never = new Promise(() => {});
export const archive = why ? never : fetchWhole('zaf');
export const soundtrack = why || oneFrame ? null : streamSoundtrack(archive);
$('mp3-bar').parentElement.hidden = oneFrame;
Promise.all([archive, soundtrack?.arrival(0, FIRST_SECONDS)]).then(() => {
  filesIn = true;
  enableStart();
}, (e) => fail(e.message));
soundtrack?.fetched.then(() => {
  // Kept for the next visit; the worker fetches what the browser has just cached.
  navigator.serviceWorker?.register('sw.js').catch(() => {});
}, (e) => fail(e.message));

// The demo time up to which the music has arrived, from the start.
Object.defineProperty(qm, 'arrived', {
  get() {
    if (!soundtrack || soundtrack.done) return qm.duration;
    const b = soundtrack.audio.buffered;
    return b.length && b.start(0) < 0.1 ? Math.min(demo.musicOrigin + b.end(0), qm.duration) : 0;
  },
});

// The seek bar's previews: storyboard.json says how the pictures lie in its sheet, one every
// `every` seconds from 0. Fetched once the demo's files are in, so that it never delays the
// start or the music; without it (qm.storyboard stays null) the bar works as before.
if (soundtrack) soundtrack.fetched.then(async () => {
  const res = await fetch(here('storyboard.json'));
  if (!res.ok) throw new Error(`HTTP ${res.status}`);
  const sheet = await res.json();
  sheet.image = new URL(sheet.image, res.url).href;
  const img = new Image();
  img.src = sheet.image;
  await img.decode();
  qm.storyboard = sheet;
}).catch((e) => console.warn(`no previews on the seek bar: ${e.message}`));

export function enableStart() {
  if (!demo.runtime || !filesIn || qm.error) return;
  $('loading').hidden = true;
  startButton.disabled = false;
  startButton.textContent = 'start';
}

Object.assign(qm, { fail });
