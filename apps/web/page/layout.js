// The layout: the canvas's drawing size and its place in the window, again on every resize.
import { $, demo, oneFrame, params, qm } from './qm.js';
import { fail } from './loading.js';
import { queueSeek } from './player.js';

const SOFTWARE_RENDERERS = /swiftshader|llvmpipe|softpipe|swrast|software/i;
const SIZE_LIMITS = [64, 7680];   // what the output accepts in each dimension
const stage = $('stage');

// `?size=WxH` draws at W x H; `?size=window` at the device's pixels whatever the renderer.
function askedSize() {
  const asked = params.get('size');
  if (asked === null) return null;
  if (asked === 'window') return 'window';
  const m = /^(\d+)x(\d+)$/.exec(asked);
  const fits = (n) => n >= SIZE_LIMITS[0] && n <= SIZE_LIMITS[1];
  if (m && fits(+m[1]) && fits(+m[2])) return [+m[1], +m[2]];
  throw new Error(`size= wants WxH, each from ${SIZE_LIMITS[0]} to ${SIZE_LIMITS[1]}, or window`);
}

// At the device's pixels (the window's CSS size times devicePixelRatio), the picture placed in
// it by the demo with black bars; a software rasteriser draws 640 x 480 and the page scales it.
function drawingSize(cssW, cssH, dpr, renderer, asked) {
  if (Array.isArray(asked)) return { width: asked[0], height: asked[1], fill: false };
  if (asked !== 'window' && SOFTWARE_RENDERERS.test(renderer))
    return { width: 640, height: 480, fill: false };
  let w = Math.round(cssW * dpr), h = Math.round(cssH * dpr);
  const over = Math.max(w, h) / SIZE_LIMITS[1];
  if (over > 1) [w, h] = [Math.floor(w / over), Math.floor(h / over)];
  const fit = (n) => Math.min(SIZE_LIMITS[1], Math.max(SIZE_LIMITS[0], n));
  return { width: fit(w), height: fit(h), fill: true };
}

function rendererName() {
  const gl = Module.ctx;
  if (!gl) return '';
  const info = gl.getExtension('WEBGL_debug_renderer_info');
  return String(gl.getParameter(info ? info.UNMASKED_RENDERER_WEBGL : gl.RENDERER));
}

// Sets the canvas's pixels and its place on the page; true once it can be drawn.
function fitCanvas() {
  const canvas = Module.canvas;
  let asked;
  try {
    asked = askedSize();
  } catch (e) {
    fail(e.message);
    return false;
  }
  qm.renderer = qm.renderer || rendererName();
  qm.software = SOFTWARE_RENDERERS.test(qm.renderer);
  const W = stage.clientWidth, H = stage.clientHeight;
  const size = drawingSize(W, H, devicePixelRatio || 1, qm.renderer, asked);
  if (canvas.width !== size.width) canvas.width = size.width;
  if (canvas.height !== size.height) canvas.height = size.height;
  // Filling the window, or the largest box of the canvas's shape within it, centred.
  const scale = size.fill ? 0 : Math.min(W / size.width, H / size.height);
  const w = size.fill ? W : size.width * scale, h = size.fill ? H : size.height * scale;
  Object.assign(canvas.style, { width: `${w}px`, height: `${h}px`, left: `${(W - w) / 2}px`,
    top: `${(H - h) / 2}px` });
  return true;
}

let refitTimer = 0;
addEventListener('resize', () => {
  if (!demo.runtime || oneFrame) return;
  const canvas = Module.canvas, [w, h] = [canvas.width, canvas.height];
  if (!fitCanvas() || (w === canvas.width && h === canvas.height)) return;
  Module._qm_resize(canvas.width, canvas.height);
  // A resize clears the canvas: a paused frame is drawn again once the resizing settles.
  clearTimeout(refitTimer);
  if (demo.started && qm.paused && !qm.ended)
    refitTimer = setTimeout(() => queueSeek(qm.frameTime), 200);
});

Object.assign(qm, { drawingSize, fitCanvas });
