// The pointer on the drawing, as in an editor: a click picks the object
// under it (Shift adds or removes, Ctrl or Cmd picks the object itself, not
// its top-level group), a drag draws a marquee and picks what it touches
// (Shift adds), Space+drag or the middle button pans. The drawing is an
// image: the host finds what lies under a point or a rectangle.
import { change } from './edits.js';
import { state } from './state.js';
import { $, panBy } from './view.js';

// How far a press moves, in pixels, before it is a drag and not a click.
const DRAG_SLOP = 4;

/**
 * A point of the window in the drawing's own coordinates (its root's user
 * units): the canvas shows the drawing's box at state.view.scale, moved
 * by state.view.x and y in the viewport.
 * @param {number} clientX
 * @param {number} clientY
 * @returns {number[]} [x, y]
 */
export function toDrawing(clientX, clientY) {
  const vp = $('viewport').getBoundingClientRect();
  const { box, scale, x, y } = state.view;
  return [box[0] + (clientX - vp.left - x) / scale, box[1] + (clientY - vp.top - y) / scale];
}

function pickPoint(e) {
  const deep = e.ctrlKey || e.metaKey;
  change('pick', { point: toDrawing(e.clientX, e.clientY), mode: e.shiftKey ? 'toggle' : 'set', deep });
}

function pickRect(press, e) {
  const [x0, y0] = toDrawing(press.x0, press.y0);
  const [x1, y1] = toDrawing(e.clientX, e.clientY);
  const rect = [Math.min(x0, x1), Math.min(y0, y1), Math.abs(x1 - x0), Math.abs(y1 - y0)];
  change('pick', { rect, mode: e.shiftKey ? 'add' : 'set', deep: e.ctrlKey || e.metaKey });
}

// The marquee, drawn in the viewport's pixels while the drag lasts.
function drawMarquee(press, e) {
  const vp = $('viewport').getBoundingClientRect();
  const m = $('marquee');
  m.hidden = false;
  m.style.left = `${Math.min(press.x0, e.clientX) - vp.left}px`;
  m.style.top = `${Math.min(press.y0, e.clientY) - vp.top}px`;
  m.style.width = `${Math.abs(e.clientX - press.x0)}px`;
  m.style.height = `${Math.abs(e.clientY - press.y0)}px`;
}

function canPick() {
  return state.current !== null && state.hasDrawing;
}

/** Picking, the marquee, and panning by Space+drag and the middle button. */
export function wireCanvas() {
  const vp = $('viewport');
  let press = null;  // {id, x0, y0, x, y, pan, dragged}
  vp.addEventListener('pointerdown', (e) => {
    const pan = e.button === 1 || (e.button === 0 && state.spaceHeld);
    if (!pan && (e.button !== 0 || !canPick())) return;
    press = { id: e.pointerId, x0: e.clientX, y0: e.clientY, x: e.clientX, y: e.clientY, pan, dragged: false };
    vp.setPointerCapture(e.pointerId);
    vp.focus({ preventScroll: true });
    if (pan) vp.classList.add('panning');
  });
  vp.addEventListener('pointermove', (e) => {
    if (!press || e.pointerId !== press.id) return;
    press.dragged ||= Math.hypot(e.clientX - press.x0, e.clientY - press.y0) > DRAG_SLOP;
    if (press.pan) panBy(e.clientX - press.x, e.clientY - press.y);
    else if (press.dragged) drawMarquee(press, e);
    press.x = e.clientX;
    press.y = e.clientY;
  });
  vp.addEventListener('pointerup', (e) => {
    if (!press || e.pointerId !== press.id) return;
    const done = press;
    press = null;
    vp.classList.remove('panning');
    $('marquee').hidden = true;
    if (done.pan) return;
    if (done.dragged) pickRect(done, e);
    else pickPoint(e);
  });
  vp.addEventListener('pointercancel', () => {
    press = null;
    vp.classList.remove('panning');
    $('marquee').hidden = true;
  });
  // The middle button would start the browser's own scrolling.
  vp.addEventListener('mousedown', (e) => { if (e.button === 1) e.preventDefault(); });
  wireSpace(vp);
}

// Space held over the page (not on a button, which Space presses) turns a
// drag into a pan, as in editors.
function wireSpace(vp) {
  const onSpace = (e) => e.key === ' ' && !(e.target.closest && e.target.closest('button, input, [role=menuitem], dialog'));
  document.addEventListener('keydown', (e) => {
    if (!onSpace(e)) return;
    e.preventDefault();
    state.spaceHeld = true;
    vp.classList.add('space');
  });
  document.addEventListener('keyup', (e) => {
    if (e.key !== ' ') return;
    state.spaceHeld = false;
    vp.classList.remove('space');
  });
  window.addEventListener('blur', () => { state.spaceHeld = false; vp.classList.remove('space'); });
}
