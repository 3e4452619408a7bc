// What every part of the page shares: its elements and query, the player's state, and window.qm,
// what the demo reports to the page and what the page's tests and other checks read. The other
// modules add qm's functions: loading.js fail, ready and arrived, layout.js drawingSize and
// fitCanvas, player.js seek, play, pause, end, step, rate, volume and muted, controls.js entryAt
// and mediaActions.
export const $ = (id) => document.getElementById(id);
export const params = new URLSearchParams(location.search);
export const oneFrame = params.has('at');   // only the frame at ?at=T, no player
export const FPS = 60;                      // the player's frames per second of demo time
// A file of this build by name: beside the page's modules, wherever the page itself lies.
export const here = (name) => new URL(name, import.meta.url).href;
// m:ss.s, rounded to tenths before it is split, so that 59.96 s reads 1:00.0.
export const timeText = (t) => {
  const tenths = Math.round(t * 10);
  return `${Math.floor(tenths / 600)}:${((tenths % 600) / 10).toFixed(1).padStart(4, '0')}`;
};

export const demo = {
  runtime: false,   // the demo's runtime is up, its first frame drawn
  started: false,   // the start button was clicked
  seeking: 0,       // seeks under way
  buffering: false, // the frame held until the music it needs has arrived
  starts: [],       // entry starts in demo time, 0 to 42 (42: the end)
  musicOrigin: 0,   // the demo time at which the soundtrack starts (entry 1's start)
};

export const qm = window.qm = {
  frames: 0,          // frames drawn since the start
  time: 0,            // the demo clock at the last frame drawn
  frameTime: 0,       // that frame's own time, k / 60 for frame k
  ended: false,       // the demo has ended (its own end or Escape)
  paused: false,
  renderer: '',       // the WebGL renderer, as the browser names it
  software: false,    // ... a CPU rasteriser: the canvas then draws at 640 x 480
  error: null,        // the one line shown when something failed
  seekMs: [],         // how long each seek's skip took, in ms
  nudges: 0,          // times the demo clock was moved onto the music's time
  storyboard: null,   // the seek bar's preview sheet, once loaded (storyboard.json)
  get clock() { return demo.started ? Module._qm_clock() : 0; },
  // The soundtrack's position as demo time.
  get musicTime() {
    const a = qm.audio?.[0];
    return a ? a.currentTime + demo.musicOrigin : 0;
  },
  get duration() { return demo.starts[42] || 0; },
};
