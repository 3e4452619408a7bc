// The controls over the picture: play and pause, the seek bar with a mark and a name for each
// scene entry, the time, a link to this moment, full screen, and the keys.
import { $, demo, qm, timeText } from './qm.js';
import { playAgain, seekBy, seekSoon, togglePlay } from './player.js';
import { runtimeUp } from './runtime.js';

// What each scene entry shows, for the seek bar's marks: one line per entry, 0 to 41, in the
// order they play; the module's name before the colon.
const ENTRIES = [
  'boot: the picture with its eight loading lights',
  'boot: the picture breaks into tiles, half of them fly off',
  'boot: the other half of the tiles follows',
  'boot: black bars slide shut from both sides',
  'mascot: spinning trails and sparks as the bars open',
  'mascot: the logo between the bars',
  'mascot: the bars close over the trails',
  'mascot: the last gaps fill with black',
  'eyes: a white band rises over the screen',
  'eyes: the white curtain parts',
  'eyes: a pair of eyes blinks and looks about',
  'eyes: the stitch net, twinkling, comes in',
  'eyes: the stitch net opens stitch by stitch',
  'eyes: the stitch net dims in the middle',
  'eyes: the white curtain closes',
  'eyes: the white band slides away',
  'dot wall: the picture tube fades in',
  'dot wall: bands roll down the rows',
  'dot wall: a lattice of bands',
  'dot wall: bands run on the diagonal',
  'dot wall: the tube fades to black',
  'bulb: a black curtain slides away',
  'bulb: the view opens from the centre line',
  'bulb: the ribbed bulb turns in its disc rings',
  'bulb: the disc rings swell',
  'bulb: the disc rings settle',
  'bulb: the view closes to a line',
  'bulb: the curtain slides back',
  'spike shell: the light beam and its scrolling text',
  'glow shells: rising out of black',
  'glow shells: swinging apart, top right label lit',
  'glow shells: swinging apart, bottom right label lit',
  'glow shells: swinging apart, top left label lit',
  'glow shells: swinging apart, bottom left label lit',
  'glow shells: sinking into black',
  'column: the swelling column among drifting sprites',
  'finale: the picture closes like a comb',
  'finale: a stack of squares grows',
  'finale: text rides the rolling wave',
  'finale: the stack of squares shrinks',
  'finale: the comb parts on the butterfly',
  'finale: the butterfly zooms and fades out',
];
const stage = $('stage'), controls = $('controls'), bar = $('bar'), tip = $('tip');
const clockText = $('clock'), playButton = $('play'), fullButton = $('full');

function entryAt(t) {
  let e = 0;
  while (e < 41 && demo.starts[e + 1] <= t) e++;
  return { entry: e, text: `${e} · ${ENTRIES[e]}` };
}

runtimeUp.then(() => {
  for (let e = 0; e < 42; e++) {
    const mark = document.createElement('div');
    mark.className = 'mark';
    mark.style.left = `${(100 * demo.starts[e]) / qm.duration}%`;
    mark.dataset.entry = e;
    bar.appendChild(mark);
  }
  bar.setAttribute('aria-valuemax', qm.duration.toFixed(1));
});

// ---- showing and hiding ------------------------------------------------------------------------

// Shown while anything is wanted of them; hidden after 2 s of play with nothing over them.
let hideTimer = 0, overControls = false;
let scrub = null;   // a press on the bar: its pointer, and the time it points at
function showControls() {
  if (!demo.started) return;
  controls.classList.add('shown');
  stage.classList.remove('idle');
  clearTimeout(hideTimer);
  hideTimer = setTimeout(() => {
    if (qm.paused || qm.ended || demo.seeking || demo.buffering || overControls || scrub ||
        controls.contains(document.activeElement)) return showControls();
    hideControls();
  }, 2000);
}
function hideControls() {
  clearTimeout(hideTimer);
  controls.classList.remove('shown');
  stage.classList.add('idle');
  tip.hidden = true;
}
stage.addEventListener('playerchange', showControls);
stage.addEventListener('pointermove', (e) => e.pointerType === 'mouse' && showControls());
stage.addEventListener('pointerdown', (e) => e.pointerType === 'mouse' && showControls());
// A tap on the picture shows the controls, or hides them while the demo plays.
stage.addEventListener('pointerup', (e) => {
  if (e.pointerType === 'mouse' || controls.contains(e.target)) return;
  const hide = controls.classList.contains('shown') && !qm.paused && !qm.ended;
  hide ? hideControls() : showControls();
});
controls.addEventListener('pointerenter', (e) => e.pointerType === 'mouse' && (overControls = true));
controls.addEventListener('pointerleave', () => (overControls = false));

// The time, the bar (with the music that has arrived drawn on it) and the play button, redrawn
// only while shown and only where they changed: while playing the time shows whole seconds, so
// the page repaints them once a second.
let shownText = '';
(function updateControls() {
  requestAnimationFrame(updateControls);
  if (!controls.classList.contains('shown')) return;
  const still = qm.paused || qm.ended || demo.seeking || demo.buffering;
  const t = scrub ? scrub.t : Math.min(still ? qm.clock : Math.floor(qm.clock), qm.duration);
  const state = qm.ended ? 'ended' : qm.paused ? 'paused' : 'playing';
  const doing = demo.seeking ? 'seeking… ' : demo.buffering ? 'buffering… ' : '';
  const text = `${doing}${timeText(t)} / ${timeText(qm.duration)}`;
  const arrived = qm.duration ? Math.floor((1000 * qm.arrived) / qm.duration) / 1000 : 0;
  if (text + state + arrived === shownText) return;
  shownText = text + state + arrived;
  clockText.textContent = text;
  $('arrived').style.transform = `scaleX(${arrived})`;
  $('fill').style.transform = `scaleX(${qm.duration ? t / qm.duration : 0})`;
  bar.setAttribute('aria-valuenow', t.toFixed(1));
  bar.setAttribute('aria-valuetext', `${timeText(t)}, ${entryAt(t).text}`);
  if (playButton.dataset.state === state) return;
  playButton.dataset.state = state;
  const name = { ended: 'play again', paused: 'play', playing: 'pause' }[state];
  playButton.setAttribute('aria-label', name);
  playButton.title = `${name} (space)`;
})();

// ---- the seek bar ------------------------------------------------------------------------------

const barTime = (x) => {
  const r = bar.getBoundingClientRect();
  return (Math.min(Math.max(x - r.left, 0), r.width) / r.width) * qm.duration;
};
// A mark under the pointer stands for its entry's start.
const pointedTime = (e) => {
  const mark = document.elementFromPoint(e.clientX, e.clientY)?.closest('.mark');
  return mark ? demo.starts[mark.dataset.entry] : barTime(e.clientX);
};
function showTip(x, t) {
  tip.textContent = `${timeText(t)} · ${entryAt(t).text}`;
  tip.hidden = false;
  // Kept within the window: on a phone the bar runs from edge to edge.
  const half = tip.offsetWidth / 2;
  tip.style.left = `${Math.min(Math.max(x, half + 4), innerWidth - half - 4) - bar.getBoundingClientRect().left}px`;
}

// Pressed on the bar, the time and the entry's name follow the pointer, and the frame follows on
// release: a click is a drag that never moved.
bar.addEventListener('pointerdown', (e) => {
  if (e.button !== 0) return;
  bar.setPointerCapture(e.pointerId);
  scrub = { id: e.pointerId, t: pointedTime(e) };
  showTip(e.clientX, scrub.t);
  showControls();
});
bar.addEventListener('pointermove', (e) => {
  if (scrub && e.pointerId !== scrub.id) return;
  const t = scrub ? (scrub.t = barTime(e.clientX)) : pointedTime(e);
  showTip(e.clientX, t);
});
const endScrub = (e, seek) => {
  if (!scrub || e.pointerId !== scrub.id) return;
  const { t } = scrub;
  scrub = null;
  if (e.pointerType !== 'mouse') setTimeout(() => (tip.hidden = true), 1500);
  if (seek) seekSoon(t);
};
bar.addEventListener('pointerup', (e) => endScrub(e, true));
bar.addEventListener('pointercancel', (e) => endScrub(e, false));
bar.addEventListener('pointerleave', () => scrub || (tip.hidden = true));

// ---- buttons and keys --------------------------------------------------------------------------

// A clicked control keeps no focus: Space is the page's key, not the button's.
controls.addEventListener('click', (e) => e.detail && document.activeElement?.blur());
$('again').addEventListener('click', () => document.activeElement?.blur());

playButton.addEventListener('click', togglePlay);
$('again').addEventListener('click', playAgain);
// Where the page cannot go full screen (some phones' browsers), it offers nothing of the kind.
const canFullscreen = typeof document.documentElement.requestFullscreen === 'function';
fullButton.hidden = !canFullscreen;
const toggleFullscreen = () => {
  if (!canFullscreen) return;
  if (document.fullscreenElement) document.exitFullscreen();
  else document.documentElement.requestFullscreen().catch(() => {});
};
fullButton.addEventListener('click', toggleFullscreen);
// This page's own query (its size) with the moment in place of any other.
$('link').addEventListener('click', () => {
  const query = new URLSearchParams(location.search);
  query.set('t', qm.clock.toFixed(2));
  qm.link = `${location.origin}${location.pathname}?${query}`;
  const said = () => showTip(bar.getBoundingClientRect().right, qm.clock);
  navigator.clipboard?.writeText(qm.link).then(() => {
    said();
    tip.textContent = 'link copied';
  }, () => {
    said();
    tip.textContent = qm.link;
  });
});

document.addEventListener('keydown', (e) => {
  if (e.ctrlKey || e.altKey || e.metaKey) return;
  // Tab brings hidden controls back before it moves into them.
  if (e.key === 'Tab') return showControls();
  const keys = {
    ' ': togglePlay,
    ArrowLeft: () => seekBy(-5),
    ArrowRight: () => seekBy(5),
    Home: () => seekSoon(0),
    f: toggleFullscreen,
    F: toggleFullscreen,
    // In full screen the browser's own Escape leaves it first.
    Escape: () => document.fullscreenElement || Module._qm_escape(),
  };
  const act = keys[e.key];
  if (!act || (!demo.started && act !== toggleFullscreen)) return;
  e.preventDefault();
  showControls();
  // A held key seeks on, but toggles only once.
  if (e.repeat && (act === togglePlay || act === toggleFullscreen)) return;
  act();
});

Object.assign(qm, { entryAt });
