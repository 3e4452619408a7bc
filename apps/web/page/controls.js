// The controls over the picture: play and pause, the seek bar with a mark and a name for each
// scene entry, the time, a link to this moment, full screen, and the keys.
import { $, demo, qm } from './qm.js';
import { runtime } from './loading.js';
import { playAgain, seekBy, seekSoon, togglePlay } from './player.js';

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
const clockText = $('clock');
const timeText = (t) => `${Math.floor(t / 60)}:${(t % 60).toFixed(1).padStart(4, '0')}`;

function entryAt(t) {
  let e = 0;
  while (e < 41 && demo.starts[e + 1] <= t) e++;
  return { entry: e, text: `${e} · ${ENTRIES[e]}` };
}

runtime.then(() => {
  for (let e = 0; e < 42; e++) {
    const mark = document.createElement('div');
    mark.className = 'mark';
    mark.style.left = `${(100 * demo.starts[e]) / qm.duration}%`;
    mark.dataset.entry = e;
    $('track').parentElement.appendChild(mark);
  }
});

let hideTimer = 0, overControls = false;
function showControls() {
  if (!demo.started) return;
  controls.classList.add('shown');
  stage.classList.remove('idle');
  clearTimeout(hideTimer);
  hideTimer = setTimeout(() => {
    if (qm.paused || qm.ended || demo.seeking || demo.buffering || overControls) return showControls();
    controls.classList.remove('shown');
    stage.classList.add('idle');
  }, 2000);
}
stage.addEventListener('playerchange', showControls);
stage.addEventListener('pointermove', showControls);
stage.addEventListener('pointerdown', showControls);
controls.addEventListener('pointerenter', () => (overControls = true));
controls.addEventListener('pointerleave', () => (overControls = false));

// The time, the bar (with the music that has arrived drawn on it) and the play button, redrawn
// only while shown and only where they changed: while playing the time shows whole seconds, so
// the page repaints them once a second.
let shownText = '';
(function updateControls() {
  requestAnimationFrame(updateControls);
  if (!controls.classList.contains('shown')) return;
  const still = qm.paused || qm.ended || demo.seeking || demo.buffering;
  const t = Math.min(still ? qm.clock : Math.floor(qm.clock), qm.duration);
  const state = demo.seeking ? 'seeking… ' : demo.buffering ? 'buffering… ' : '';
  const text = `${state}${timeText(t)} / ${timeText(qm.duration)}`;
  const arrived = qm.duration ? Math.floor((1000 * qm.arrived) / qm.duration) / 1000 : 0;
  if (text + arrived === shownText) return;
  shownText = text + arrived;
  clockText.textContent = text;
  $('arrived').style.transform = `scaleX(${arrived})`;
  $('fill').style.transform = `scaleX(${qm.duration ? t / qm.duration : 0})`;
  $('play').textContent = qm.ended ? 'again' : qm.paused ? 'play' : 'pause';
})();

const barTime = (x) => {
  const r = bar.getBoundingClientRect();
  return (Math.min(Math.max(x - r.left, 0), r.width) / r.width) * qm.duration;
};
function showTip(x, t) {
  tip.textContent = `${timeText(t)} · ${entryAt(t).text}`;
  tip.style.left = `${x - bar.getBoundingClientRect().left}px`;
  tip.hidden = false;
}
bar.addEventListener('pointermove', (e) => {
  const mark = e.target.closest('.mark');
  const t = mark ? demo.starts[mark.dataset.entry] : barTime(e.clientX);
  showTip(e.clientX, t);
});
bar.addEventListener('pointerleave', () => (tip.hidden = true));
bar.addEventListener('click', (e) => {
  const mark = e.target.closest('.mark');
  const t = mark ? demo.starts[mark.dataset.entry] : barTime(e.clientX);
  showTip(e.clientX, t);
  if (e.pointerType === 'touch') setTimeout(() => (tip.hidden = true), 2000);
  seekSoon(t);
});

// A clicked control keeps no focus: Space is the page's key, not the button's.
controls.addEventListener('click', () => document.activeElement?.blur());
$('again').addEventListener('click', () => document.activeElement?.blur());

$('play').addEventListener('click', togglePlay);
$('again').addEventListener('click', playAgain);
const toggleFullscreen = () => document.fullscreenElement ? document.exitFullscreen()
  : document.documentElement.requestFullscreen().catch(() => {});
$('full').addEventListener('click', toggleFullscreen);
$('link').addEventListener('click', () => {
  qm.link = `${location.origin}${location.pathname}?t=${qm.clock.toFixed(2)}`;
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
  act();
});

Object.assign(qm, { entryAt });
