// Loading and failures: the archive fetched whole and the soundtrack streamed, both with their
// bytes counted, the demo's runtime started on the archive, the start button enabled once the
// archive and the music's first seconds are in, the offline copy kept once everything is, and
// the one line the page shows when something cannot work.
import { $, demo, oneFrame, qm } from './qm.js';

const canvas = $('canvas'), startButton = $('start'), note = $('note');
const files = { zaf: { name: 'quiet_moss.zaf' }, mp3: { name: 'quiet_moss.mp3' } };
// Music the start waits for: the loading sequence and the opening play for about 11 s before
// the music is needed, and a connection that brought these seconds in time brings the rest
// faster than it plays.
const FIRST_SECONDS = 5;
// This build's files lie beside this module (publish.js names their folder by the build).
const here = (name) => new URL(name, import.meta.url).href;
qm.build = new URL('.', import.meta.url).pathname.split('/').filter(Boolean).pop() || '';
let filesIn = false;

export function fail(why) {
  qm.error = why;
  note.textContent = why;
  note.hidden = false;
  startButton.hidden = true;
  $('loading').hidden = true;
}

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
    throw new Error(`${file.name} could not be loaded: ${e.message}`);
  }
  if (!res.ok) throw new Error(`${file.name} could not be loaded: HTTP ${res.status}`);
  // A compressed body counts its bytes as they arrive, not as they decode.
  const total = (!res.headers.get('Content-Encoding') && Number(res.headers.get('Content-Length'))) || 0;
  const reader = res.body.getReader();
  let got = 0;
  for (;;) {
    let part;
    try {
      part = await reader.read();
    } catch (e) {
      throw new Error(`${file.name} could not be loaded: ${e.message}`);
    }
    if (part.done) break;
    take(part.value);
    got += part.value.length;
    show(got, total);
  }
  if (total && got !== total) throw new Error(`${file.name} came in short: ${got} of ${total} bytes`);
  show(got, got);
}

async function fetchWhole(key) {
  const parts = [];
  await fetchFile(key, (part) => parts.push(part));
  return new Blob(parts);
}

// The soundtrack's <audio> element, which the sound layer opens, fed through a MediaSource as
// the file arrives; where the browser has none for MP3, the file whole first. in(t, ahead)
// tells whether the music from t on is there to play; arrival(t, ahead) resolves once it is.
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
    music.fetched = after.then(() => fetchWhole('mp3')).then((blob) => {
      audio.src = URL.createObjectURL(blob);
      music.done = true;
      arrived();
    });
    return music;
  }
  const source = new MediaSource(), queue = [];
  let buffer = null, fetched = false;
  // One append at a time, of everything that came in meanwhile; the end once all is in.
  const pump = () => {
    if (!buffer || buffer.updating || qm.error) return;
    if (queue.length) {
      const bytes = new Uint8Array(queue.reduce((n, p) => n + p.length, 0));
      queue.splice(0).reduce((at, p) => (bytes.set(p, at), at + p.length), 0);
      buffer.appendBuffer(bytes);
    } else if (fetched && source.readyState === 'open') {
      source.endOfStream();
      music.done = true;
    }
    arrived();
  };
  source.addEventListener('sourceopen', () => {
    buffer = source.addSourceBuffer('audio/mpeg');
    buffer.addEventListener('updateend', pump);
    buffer.addEventListener('error', () => fail(`${files.mp3.name} cannot be played by this browser`));
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

const archive = fetchWhole('zaf');
// The soundtrack after the archive: sharing a slow connection would delay both.
export const soundtrack = oneFrame ? null : streamSoundtrack(archive);
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

function enableStart() {
  if (!demo.runtime || !filesIn || qm.error) return;
  $('loading').hidden = true;
  startButton.disabled = false;
  startButton.textContent = 'start';
}

// Resolves once the runtime is up: the entries' starts are known, the first frame drawn.
let runtimeUp;
export const runtime = new Promise((resolve) => (runtimeUp = resolve));

function ready() {
  demo.runtime = true;
  for (let e = 0; e <= 42; e++) demo.starts.push(Module._qm_entry_start(e));
  demo.musicOrigin = demo.starts[1];
  runtimeUp();
  enableStart();
}

Object.assign(qm, { fail, ready });

// Starts the demo's runtime on the canvas, the archive in its file system.
export function startRuntime() {
  window.Module = {
    canvas,
    // The page has the keys; SDL listens on the canvas, which never has the focus.
    keyboardListeningElement: canvas,
    print: (text) => console.log(text),
    // The GL emulation announces itself on stderr; warnings, not errors.
    printErr: (text) => console.warn(text),
    preRun: [() => {
      addRunDependency('quiet_moss.zaf');
      archive.then(async (blob) => {
        FS.writeFile('/quiet_moss.zaf', new Uint8Array(await blob.arrayBuffer()));
        removeRunDependency('quiet_moss.zaf');
      }, () => {});
    }],
  };
  const script = document.createElement('script');
  script.src = here('quiet_moss.js');
  document.body.appendChild(script);
}
