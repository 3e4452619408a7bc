// The demo's runtime, quiet_moss.js and its WebAssembly: started on the canvas with the archive
// in its file system, and started again on a fresh canvas when the WebGL context is lost, from
// what is already in memory (the archive, the compiled module, the soundtrack's element).
import { demo, here, qm } from './qm.js';
import { AGAIN, archive, enableStart, fail } from './loading.js';

let compiled = null;     // the WebAssembly module, compiled once
let instanceUp = null;   // resolves the start under way, once its first frame is drawn
let starting = null;     // that start's Module: window.Module once it is up
let firstUp;
// Resolves once the first runtime is up: the entries' starts are known, the first frame drawn.
export const runtimeUp = new Promise((resolve) => (firstUp = resolve));

let script = null;
const loadScript = () => (script ??= new Promise((resolve, reject) => {
  const s = document.createElement('script');
  s.src = here('quiet_moss.js');
  s.onload = resolve;
  s.onerror = () => reject(new Error(`quiet_moss.js could not be loaded: ${AGAIN}`));
  document.body.appendChild(s);
}));

// Emscripten's hook for making the instance: from the module compiled the first time.
function instantiateWasm(imports, receive) {
  const made = compiled
    ? WebAssembly.instantiate(compiled, imports).then((instance) => ({ instance, module: compiled }))
    : WebAssembly.instantiateStreaming(fetch(here('quiet_moss.wasm')), imports);
  made.then(({ instance, module }) => {
    compiled = module;
    receive(instance, module);
  }, (e) => fail(`quiet_moss.wasm could not be loaded (${e.message}): ${AGAIN}`));
  return {};
}

// Called by the runtime's main once its first frame is drawn.
function ready() {
  // Until now the page's calls went to the old runtime, stopped where it was lost: the new one
  // cannot answer before it is up.
  window.Module = starting;
  if (!demo.runtime) {
    demo.runtime = true;
    for (let e = 0; e <= 42; e++) demo.starts.push(Module._qm_entry_start(e));
    demo.musicOrigin = demo.starts[1];
    firstUp();
    enableStart();
  }
  instanceUp();
}

// A runtime on this canvas; resolves once it is up.
export async function startRuntime(canvas) {
  let bytes;
  try {
    const [blob] = await Promise.all([archive, loadScript()]);
    bytes = new Uint8Array(await blob.arrayBuffer());
  } catch (e) {
    fail(e.message);
    return new Promise(() => {});
  }
  const up = new Promise((resolve) => (instanceUp = resolve));
  starting = {
    canvas,
    // The page has the keys; SDL listens on the canvas, which never has the focus.
    keyboardListeningElement: canvas,
    print: (text) => console.log(text),
    // The GL emulation announces itself on stderr; warnings, not errors.
    printErr: (text) => console.warn(text),
    preRun: [(m) => m.FS.writeFile('/quiet_moss.zaf', bytes)],
    instantiateWasm,
    onAbort: (what) => fail(`The demo stopped on an error (${what}): ${AGAIN}`),
  };
  window.Module ??= starting;
  QuietMoss(starting).catch(() => {});   // onAbort has said why
  return up;
}

// The lost canvas's runtime stops, and a new one starts on a fresh canvas in its place.
export function restartRuntime() {
  Module.pauseMainLoop();
  const lost = Module.canvas, fresh = lost.cloneNode(false);
  lost.replaceWith(fresh);
  for (const a of qm.audio || []) a.pause();
  qm.audio = [];
  return startRuntime(fresh);
}

Object.assign(qm, { ready });
