// Loading and failures: what the browser lacks, asked first; both files fetched whole with their
// bytes counted; the start button enabled once everything is in; and the one line the page
// shows when something cannot work.
import { $, demo, oneFrame, qm } from './qm.js';

const startButton = $('start'), note = $('note');
const files = { zaf: { name: 'quiet_moss.zaf' }, mp3: { name: 'quiet_moss.mp3' } };
let filesIn = false;   // both files fetched, the soundtrack playable

export function fail(why) {
  qm.error = why;
  note.textContent = why;
  note.hidden = false;
  startButton.hidden = true;
  $('loading').hidden = true;
}

export const AGAIN = 'reload the page to try again.';

// Fetches a file whole, counting its bytes into the bar of the same key.
async function fetchFile(key) {
  const file = files[key];
  const show = (got, total) => {
    $(`${key}-bar`).value = total ? got / total : 0;
    const mb = (n) => (n / 1e6).toFixed(1);
    $(`${key}-bytes`).textContent = total ? `${mb(got)} of ${mb(total)} MB` : `${mb(got)} MB`;
  };
  let res;
  try {
    res = await fetch(file.name);
  } catch (e) {
    throw new Error(`${file.name} could not be loaded (${e.message}): ${AGAIN}`);
  }
  if (!res.ok) throw new Error(`${file.name} could not be loaded (HTTP ${res.status}): ${AGAIN}`);
  // A server that compresses on the fly counts the compressed bytes: the bar then counts
  // without a total.
  const encoded = (res.headers.get('Content-Encoding') || 'identity') !== 'identity';
  const total = encoded ? 0 : Number(res.headers.get('Content-Length')) || 0;
  const reader = res.body.getReader(), chunks = [];
  let got = 0;
  for (;;) {
    let part;
    try {
      part = await reader.read();
    } catch (e) {
      throw new Error(`${file.name} could not be loaded (${e.message}): ${AGAIN}`);
    }
    if (part.done) break;
    chunks.push(part.value);
    got += part.value.length;
    show(got, total);
  }
  if (total && got !== total) throw new Error(`${file.name} came in short (${got} of ${total} bytes): ${AGAIN}`);
  show(got, got);
  file.bytes = got;
  return new Blob(chunks);
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

const why = missing();
if (why) fail(why);
const never = new Promise(() => {});
export const archive = why ? never : fetchFile('zaf');
const soundtrack = why || oneFrame ? Promise.resolve(null) : fetchFile('mp3');
$('mp3-bar').parentElement.hidden = oneFrame;
const bothFiles = Promise.all([archive, soundtrack]);
bothFiles.then(async ([, music]) => {
  // The sound layer opens its <audio> on this URL: seeking it is seeking memory.
  if (music) {
    const url = URL.createObjectURL(music);
    if (!(await playable(url))) return fail(CANNOT_PLAY);
    qm.urls = { 'quiet_moss.mp3': url };
  }
  filesIn = true;
  enableStart();
}, (e) => fail(e.message));
// The seek bar's previews: storyboard.json says how the pictures lie in its sheet, one every
// `every` seconds from 0. Fetched once the demo's files are in, so that it never delays the
// start; without it (qm.storyboard stays null) the bar works as before.
if (!oneFrame) bothFiles.then(async () => {
  const res = await fetch('storyboard.json');
  if (!res.ok) throw new Error(`HTTP ${res.status}`);
  const sheet = await res.json();
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
