// Loading and failures: both files fetched whole with their bytes counted, the demo's runtime
// started on the archive, the start button enabled once everything is in, and the one line the
// page shows when something cannot work.
import { $, demo, oneFrame, qm } from './qm.js';

const canvas = $('canvas'), startButton = $('start'), note = $('note');
const files = { zaf: { name: 'quiet_moss.zaf' }, mp3: { name: 'quiet_moss.mp3' } };
let filesIn = false;

export function fail(why) {
  qm.error = why;
  note.textContent = why;
  note.hidden = false;
  startButton.hidden = true;
  $('loading').hidden = true;
}

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
    throw new Error(`${file.name} could not be loaded: ${e.message}`);
  }
  if (!res.ok) throw new Error(`${file.name} could not be loaded: HTTP ${res.status}`);
  const total = Number(res.headers.get('Content-Length')) || 0;
  const reader = res.body.getReader(), chunks = [];
  let got = 0;
  for (;;) {
    let part;
    try {
      part = await reader.read();
    } catch (e) {
      throw new Error(`${file.name} could not be loaded: ${e.message}`);
    }
    if (part.done) break;
    chunks.push(part.value);
    got += part.value.length;
    show(got, total);
  }
  if (total && got !== total) throw new Error(`${file.name} came in short: ${got} of ${total} bytes`);
  show(got, got);
  file.bytes = got;
  return new Blob(chunks);
}

const archive = fetchFile('zaf');
const soundtrack = oneFrame ? Promise.resolve(null) : fetchFile('mp3');
$('mp3-bar').parentElement.hidden = oneFrame;
const bothFiles = Promise.all([archive, soundtrack]);
bothFiles.then(([, music]) => {
  // The sound layer opens its <audio> on this URL: seeking it is seeking memory.
  if (music) qm.urls = { 'quiet_moss.mp3': URL.createObjectURL(music) };
  filesIn = true;
  enableStart();
}, (e) => fail(e.message));

// The seek bar's previews: storyboard.json says how the pictures lie in its sheet, one every
// `every` seconds from 0. Fetched once the demo's files are in, so that it never delays the
// start; without it (qm.storyboard stays null) the bar works as before.
export const storyboard = oneFrame ? Promise.resolve(null) : bothFiles.then(async () => {
  const res = await fetch('storyboard.json');
  if (!res.ok) throw new Error(`HTTP ${res.status}`);
  const sheet = await res.json();
  const img = new Image();
  img.src = sheet.image;
  await img.decode();
  return (qm.storyboard = sheet);
}).catch((e) => {
  console.warn(`no previews on the seek bar: ${e.message}`);
  return null;
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
  script.src = 'quiet_moss.js';
  document.body.appendChild(script);
}
