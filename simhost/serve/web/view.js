// What the page shows of the host: the status line, the drawing in its
// viewport (zoom and pan), the selection drawn over it and listed beside it.
// Drawings are shown only as <img>: their markup never enters the page's DOM
// (drawings may carry scripts).
import { state } from './state.js';

const SVG_NS = 'http://www.w3.org/2000/svg';

/**
 * The element of that id.
 * @param {string} id
 * @returns {HTMLElement}
 */
export const $ = (id) => document.getElementById(id);

/**
 * Tells the user something in the status line.
 * @param {string} text
 * @param {boolean} [isError]
 */
export function setStatus(text, isError) {
  const el = $('status');
  el.textContent = text;
  el.classList.toggle('error', !!isError);
}

/**
 * "1 object", "3 objects".
 * @param {number} n
 * @param {string} word
 * @returns {string}
 */
export function plural(n, word) {
  return `${n} ${word}${n === 1 ? '' : 's'}`;
}

const count = (n) => n.toLocaleString('en-US');

function formatMs(ms) {
  if (typeof ms !== 'number') return '? ms';
  return `${ms < 10 ? ms.toFixed(ms < 1 ? 2 : 1) : Math.round(ms)} ms`;
}

// ---------------------------------------------------------------- results

/**
 * Shows a command's result: the selection it left, and what the status says
 * of it. An application item's result (no document) only tells how it ended.
 * @param {object} result the server's answer to a command or a dialog press
 */
export function showResult(result) {
  if (!result || !Array.isArray(result.selected)) return;
  const failed = result.result !== 'ok';
  if (result.document === null) {
    // An application item: its dialog closed is its normal end.
    const dialogs = result.dialogs || [];
    const title = dialogs.length ? dialogs[dialogs.length - 1].title : '';
    if (failed) setStatus(`${result.command} returned the error ${result.code}.`, true);
    else setStatus(title ? `${title} closed.` : `${result.command} done.`);
    return;
  }
  drawSelection(result);
  const summary = selectionSummary(result);
  setStatus(failed ? `${result.command} returned the error ${result.code}. ${summary}` : summary, failed);
}

/**
 * "3 objects selected by Rasters in 4.2 ms; outlines shown for 2,000 of 89,190"
 * @param {object} result a selection as the server answers it
 * @returns {string}
 */
export function selectionSummary(result) {
  const chosen = result.selected.filter((s) => !s.kept).length;
  const parts = [result.command
    ? `${plural(chosen, 'object')} selected by ${result.command} in ${formatMs(result.commandMs ?? result.ms)}`
    : `${plural(chosen, 'object')} selected`];
  if (result.outlinesOmitted > 0) {
    parts.push(`outlines shown for ${count(result.selected.length - result.outlinesOmitted)} of ${count(result.selected.length)}`);
  }
  const kept = keptNote(result.selected.filter((s) => s.kept));
  if (kept) parts.push(kept);
  return parts.join('; ');
}

// Objects left selected from before, which the command did not select.
function keptNote(kept) {
  if (!kept.length) return '';
  if (kept.every((s) => /guide/i.test(s.layer))) {
    return `${plural(kept.length, 'guide')} still selected: the commands never deselect guides`;
  }
  return `${plural(kept.length, 'object')} still selected from before`;
}

// ---------------------------------------------------------------- selection

// The host's outline markup is parsed in a namespace of no meaning to the
// browser (so nothing in it is styled or run, and the page's policy has no
// inline style to refuse), then rebuilt as SVG elements with their
// geometry and ids; the page's style sheet draws them.
const NEUTRAL_NS = 'urn:x-simhost-outlines';

function parseOutlines(markup) {
  const doc = new DOMParser().parseFromString(`<o xmlns="${NEUTRAL_NS}">${markup || ''}</o>`, 'application/xml');
  if (doc.getElementsByTagName('parsererror').length) return [];
  return [...doc.documentElement.children].map(asSvg).filter(Boolean);
}

function asSvg(el) {
  if (/^(script|foreignObject|style)$/i.test(el.localName)) return null;
  const out = document.createElementNS(SVG_NS, el.localName);
  for (const attr of el.attributes) {
    if (attr.name === 'style' || /^on/i.test(attr.localName) || attr.name.startsWith('xmlns')) continue;
    if (attr.localName === 'href') continue;
    out.setAttribute(attr.localName, attr.value);
  }
  for (const child of el.children) {
    const svg = asSvg(child);
    if (svg) out.append(svg);
  }
  return out;
}

/**
 * Draws a selection over the drawing (outlines and boxes) and lists it.
 * @param {object|null} result a selection as the server answers it; null for none
 */
export function drawSelection(result) {
  const overlay = $('overlay');
  overlay.replaceChildren();
  const boxes = document.createElementNS(SVG_NS, 'g');
  boxes.setAttribute('class', 'bboxes');
  const outlines = document.createElementNS(SVG_NS, 'g');
  outlines.setAttribute('class', 'outlines');
  outlines.append(...parseOutlines(result ? result.outlines : ''));
  overlay.append(boxes, haloOf(outlines), outlines);
  for (const el of outlines.querySelectorAll('[data-object-id]')) {
    const box = boxOf(el);
    if (box) boxes.append(boxRect(box, el.getAttribute('data-object-id')));
  }
  fillSelectionList(result ? result.selected : []);
  // Whatever brought the answer (a command, a dialog's button, a click on
  // the art, an edit), the rest of the page takes it in from here.
  if (result) document.dispatchEvent(new CustomEvent('host-answer', { detail: result }));
}

// A light copy under the outlines keeps them readable on dark art.
function haloOf(outlines) {
  const halo = outlines.cloneNode(true);
  halo.setAttribute('class', 'halo');
  for (const el of halo.querySelectorAll('[data-object-id]')) el.removeAttribute('data-object-id');
  return halo;
}

// The element's box in the overlay's user units, its own transform included.
function boxOf(el) {
  let b;
  try { b = el.getBBox(); } catch { return null; }
  const m = $('overlay').getScreenCTM().inverse().multiply(el.getScreenCTM());
  const pts = [[b.x, b.y], [b.x + b.width, b.y], [b.x, b.y + b.height], [b.x + b.width, b.y + b.height]]
    .map(([x, y]) => new DOMPoint(x, y).matrixTransform(m));
  const xs = pts.map((p) => p.x), ys = pts.map((p) => p.y);
  const x = Math.min(...xs), y = Math.min(...ys);
  return { x, y, width: Math.max(...xs) - x, height: Math.max(...ys) - y };
}

function boxRect(box, id) {
  const r = document.createElementNS(SVG_NS, 'rect');
  for (const k of ['x', 'y', 'width', 'height']) r.setAttribute(k, box[k]);
  r.setAttribute('data-bbox-of', id);
  return r;
}

function fillSelectionList(all) {
  const selected = all.filter((s) => !s.kept);
  const kept = all.filter((s) => s.kept);
  $('selection-count').textContent = selected.length ? `(${selected.length})` : '';
  fillObjectList($('selection'), selected);
  if (!selected.length) {
    const li = document.createElement('li');
    li.className = 'none';
    li.textContent = 'Nothing selected.';
    $('selection').append(li);
  }
  $('kept').hidden = !kept.length;
  $('kept-note').textContent = keptNote(kept);
  fillObjectList($('kept-list'), kept);
}

function fillObjectList(list, objects) {
  list.replaceChildren();
  for (const s of objects) {
    const li = document.createElement('li');
    const b = document.createElement('button');
    b.type = 'button';
    b.className = 'object';
    b.title = 'Centre this object in the view';
    const id = document.createElement('span');
    id.className = 'object-id';
    id.textContent = s.id;
    const meta = document.createElement('span');
    meta.className = 'object-meta';
    meta.textContent = `${s.kind} · ${s.layer}`;
    b.append(id, meta);
    b.addEventListener('click', () => centreOn(String(s.id)));
    li.append(b);
    list.append(li);
  }
}

function outlineOf(id) {
  return [...$('overlay').querySelectorAll('[data-object-id]')].find((el) => el.getAttribute('data-object-id') === id);
}

function centreOn(id) {
  const el = outlineOf(id);
  if (!el) return;
  const r = el.getBoundingClientRect();
  const vp = $('viewport').getBoundingClientRect();
  state.view.x += vp.left + vp.width / 2 - (r.left + r.width / 2);
  state.view.y += vp.top + vp.height / 2 - (r.top + r.height / 2);
  applyView();
  for (const other of $('overlay').querySelectorAll('.focused')) other.classList.remove('focused');
  el.classList.add('focused');
}

// ---------------------------------------------------------------- zoom and pan

function applyView() {
  const { box, scale, x, y } = state.view;
  const canvas = $('canvas');
  canvas.style.width = `${box[2] * scale}px`;
  canvas.style.height = `${box[3] * scale}px`;
  canvas.style.transform = `translate(${x}px, ${y}px)`;
  $('zoom-level').textContent = `${Math.round(scale * 100)}%`;
}

function zoomAt(factor, cx, cy) {
  const v = state.view;
  const scale = Math.min(64, Math.max(0.02, v.scale * factor));
  v.x = cx - (cx - v.x) * (scale / v.scale);
  v.y = cy - (cy - v.y) * (scale / v.scale);
  v.scale = scale;
  applyView();
}

function zoomCentre(factor) {
  const vp = $('viewport');
  zoomAt(factor, vp.clientWidth / 2, vp.clientHeight / 2);
}

/**
 * Fits the drawing's box (state.view.box: its page and everything drawn) in
 * the viewport. Never the selection's extent: guides run a million units
 * each way.
 */
export function fitView() {
  const v = state.view;
  const [x0, y0, w, h] = v.box;
  const vp = $('viewport');
  const pad = 24;
  v.scale = Math.max(0.02, Math.min((vp.clientWidth - 2 * pad) / w, (vp.clientHeight - 2 * pad) / h));
  v.x = (vp.clientWidth - w * v.scale) / 2;
  v.y = (vp.clientHeight - h * v.scale) / 2;
  applyView();
}

/**
 * Moves the drawing in its viewport.
 * @param {number} dx pixels
 * @param {number} dy
 */
export function panBy(dx, dy) {
  state.view.x += dx;
  state.view.y += dy;
  applyView();
}

const viewKeys = {
  '+': () => zoomCentre(1.25), '=': () => zoomCentre(1.25), '-': () => zoomCentre(0.8), '0': fitView,
  ArrowLeft: () => panBy(40, 0), ArrowRight: () => panBy(-40, 0),
  ArrowUp: () => panBy(0, 40), ArrowDown: () => panBy(0, -40),
};

function onViewKey(e) {
  const handler = viewKeys[e.key];
  if (!handler) return;
  e.preventDefault();
  state.fitted = false;
  handler();
}

/** Zoom by wheel, buttons and keys; pan by the arrow keys (the pointer's drags are canvas.js's). */
export function wireView() {
  const vp = $('viewport');
  vp.addEventListener('wheel', (e) => {
    e.preventDefault();
    const r = vp.getBoundingClientRect();
    const delta = e.deltaMode === 1 ? e.deltaY * 16 : e.deltaY;
    zoomAt(Math.exp(-delta * 0.0015), e.clientX - r.left, e.clientY - r.top);
  }, { passive: false });
  vp.addEventListener('keydown', onViewKey);
  $('zoom-in').addEventListener('click', () => zoomCentre(1.25));
  $('zoom-out').addEventListener('click', () => zoomCentre(0.8));
  $('zoom-fit').addEventListener('click', fitView);
  new ResizeObserver(() => { if (state.fitted) fitView(); }).observe(vp);
}
