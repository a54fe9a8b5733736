// The documents the host holds: the list, opening one (file picker or drop,
// with the upload's progress), showing one (its drawing, page, layers and
// held selection) and closing one.
import { api, documentPath, errorText } from './api.js';
import { fillLayers, refreshItems } from './edits.js';
import { state } from './state.js';
import { $, drawSelection, fitView, plural, selectionSummary, setStatus } from './view.js';

/**
 * Lists the host's documents again.
 * @param {boolean} [follow] show another document when the shown one is gone
 * @returns {Promise<void>}
 */
export async function refreshDocuments(follow = true) {
  const res = await api('GET', '/api/documents');
  if (res.status !== 200) { setStatus(`The documents could not be listed: ${errorText(res)}`, true); return; }
  state.docs = res.data;
  if (follow && !state.docs.some((d) => String(d.id) === String(state.current))) {
    await showDocument(state.docs.length ? state.docs[0].id : null);
  }
  fillDocumentList();
}

function fillDocumentList() {
  const list = $('documents');
  list.replaceChildren();
  for (const d of state.docs) {
    const li = document.createElement('li');
    const isCurrent = String(d.id) === String(state.current);
    li.classList.toggle('current', isCurrent);
    const open = document.createElement('button');
    open.type = 'button';
    open.className = 'doc';
    if (isCurrent) open.setAttribute('aria-current', 'true');
    const name = document.createElement('span');
    name.className = 'doc-name';
    name.textContent = d.name;
    const meta = document.createElement('span');
    meta.className = 'doc-meta';
    meta.textContent = `${plural(d.objects, 'object')}, ${plural(d.layers, 'layer')}`;
    open.append(name, meta);
    open.addEventListener('click', () => showDocument(d.id).then(fillDocumentList));
    const close = document.createElement('button');
    close.type = 'button';
    close.className = 'close';
    close.textContent = '×';
    close.setAttribute('aria-label', `Close ${d.name}`);
    close.addEventListener('click', () => closeDocument(d.id));
    li.append(open, close);
    list.append(li);
  }
  if (!state.docs.length) {
    const li = document.createElement('li');
    li.className = 'none';
    li.textContent = 'No drawing open.';
    list.append(li);
  }
}

async function closeDocument(id) {
  const res = await api('DELETE', documentPath(id));
  if (res.status >= 400) { setStatus(`The drawing could not be closed: ${errorText(res)}`, true); return; }
  await refreshDocuments();
}

// The drawing's box, from the attributes of its root element only. The
// drawing is read only up to that start tag, never parsed as a whole nor put
// into the page (its styles and scripts must not reach the page).
function rootAttributes(head) {
  const text = head.replace(/<!--[\s\S]*?-->|<\?[\s\S]*?\?>|<!DOCTYPE(?:[^[>]|\[[\s\S]*?\])*>/gi, '');
  const tag = /<(?:[\w.-]+:)?svg\b((?:[^>"']|"[^"]*"|'[^']*')*)>/.exec(text);
  if (!tag) return null;
  const attributes = {};
  for (const m of tag[1].matchAll(/([\w:.-]+)\s*=\s*(?:"([^"]*)"|'([^']*)')/g)) attributes[m[1]] = m[2] ?? m[3];
  return attributes;
}

function drawingBox(attributes) {
  if (!attributes) return null;
  const vb = (attributes.viewBox || '').trim().split(/[\s,]+/).map(Number);
  if (vb.length === 4 && vb.every(Number.isFinite) && vb[2] > 0 && vb[3] > 0) return vb;
  const w = parseFloat(attributes.width), h = parseFloat(attributes.height);
  return [0, 0, w > 0 ? w : 300, h > 0 ? h : 150];
}

// Reads the drawing until its root start tag is complete, then stops.
async function readDrawingHead(url) {
  const response = await fetch(url);
  if (!response.ok || !response.body) return null;
  const reader = response.body.getReader();
  const decoder = new TextDecoder();
  let head = '';
  for (;;) {
    const { done, value } = await reader.read();
    if (value) head += decoder.decode(value, { stream: true });
    const attributes = rootAttributes(head);
    if (attributes || done || head.length > (1 << 22)) {
      reader.cancel().catch(() => {});
      return attributes;
    }
  }
}

async function showDocument(id) {
  state.current = id;
  const entry = state.docs.find((d) => String(d.id) === String(id));
  $('empty').hidden = id !== null;
  $('empty').textContent = 'Open an SVG drawing, or drop one here.';
  $('canvas').hidden = id === null;
  $('doc-title').textContent = entry ? entry.name : '';
  fillLayers([]);
  drawSelection(null);
  state.answer = null;    // until the host's answer for this one
  state.revision = null;  // the drawing loaded below is the current one
  state.hasDrawing = false;
  refreshItems();
  if (id === null) { setStatus('Open a drawing to begin.'); return; }
  const drawing = documentPath(id, 'drawing');
  // The host frames the drawing when it can; else its root element says.
  const [box, layers] = await Promise.all([entry && entry.viewBox ? entry.viewBox : readDrawingHead(drawing).then(drawingBox),
                                           api('GET', documentPath(id, 'layers'))]);
  state.view.box = box || [0, 0, 300, 150];
  $('overlay').setAttribute('viewBox', state.view.box.join(' '));
  placePage(entry && entry.page);
  const drawn = imageShown($('drawing'));
  $('drawing').src = drawing;
  $('drawing').alt = entry ? `Drawing ${entry.name}` : 'Drawing';
  if (layers.status === 200) fillLayers(layers.data);
  state.fitted = true;
  fitView();
  await showHeldSelection(id);
  return { drawn };  // resolves once the drawing shows (wrapped: not awaited here)
}

// The selection the host holds for the document, whoever made it.
async function showHeldSelection(id) {
  const res = await api('GET', documentPath(id, 'selection'));
  if (String(state.current) !== String(id)) return;
  if (res.status !== 200) { setStatus('Choose a command from Select › Object.'); return; }
  drawSelection(res.data);
  setStatus(res.data.selected.length ? selectionSummary(res.data) : 'Choose a command from Select › Object.');
}

// Resolves once the image has loaded or failed.
function imageShown(img) {
  return new Promise((resolve) => {
    img.addEventListener('load', resolve, { once: true });
    img.addEventListener('error', resolve, { once: true });
  });
}

// The page (artboard) on the pasteboard, in the canvas's units: shares of
// the drawing's box, so it follows every zoom. A document the host finds
// no page in has none.
function placePage(page) {
  const el = $('page');
  const [bx, by, bw, bh] = state.view.box;
  el.hidden = !page;
  $('canvas').classList.toggle('has-page', !!page);
  if (!page) return;
  el.style.left = `${((page[0] - bx) / bw) * 100}%`;
  el.style.top = `${((page[1] - by) / bh) * 100}%`;
  el.style.width = `${(page[2] / bw) * 100}%`;
  el.style.height = `${(page[3] / bh) * 100}%`;
}

function formatBytes(n) {
  if (n < 1024) return `${n} bytes`;
  if (n < 1024 * 1024) return `${(n / 1024).toFixed(0)} KB`;
  return `${(n / (1024 * 1024)).toFixed(1)} MB`;
}

// Sends a drawing, telling how far the upload is, then that the host reads it.
function uploadFile(file) {
  return new Promise((resolve) => {
    const xhr = new XMLHttpRequest();
    xhr.open('POST', `/api/documents?name=${encodeURIComponent(file.name)}`);
    xhr.setRequestHeader('Content-Type', 'application/octet-stream');
    xhr.setRequestHeader('Accept', 'application/json');
    const sent = (loaded) => setStatus(`Uploading ${file.name}: ${formatBytes(loaded)} of ${formatBytes(file.size)}…`);
    xhr.upload.addEventListener('loadstart', () => sent(0));
    xhr.upload.addEventListener('progress', (e) => sent(e.loaded));
    xhr.upload.addEventListener('load', () => setStatus(`Reading ${file.name}…`));
    xhr.addEventListener('load', () => {
      let data = null;
      try { data = xhr.responseText ? JSON.parse(xhr.responseText) : null; } catch { data = { error: xhr.responseText }; }
      resolve({ status: xhr.status, data });
    });
    xhr.addEventListener('error', () => resolve({ status: 0, data: { error: 'the connection failed' } }));
    xhr.send(file);
  });
}

async function openFile(file) {
  const res = await uploadFile(file);
  if (res.status === 413) { setStatus(`${file.name} is too large for the host.`, true); return; }
  if (res.status !== 201 && res.status !== 200) { setStatus(`${file.name} could not be opened: ${errorText(res)}`, true); return; }
  setStatus(`Drawing ${res.data.name}…`);
  await refreshDocuments(false);
  const { drawn } = await showDocument(res.data.id);
  setStatus(`Drawing ${res.data.name}…`);
  fillDocumentList();
  await drawn;
  setStatus(`Opened ${res.data.name}: ${plural(res.data.objects, 'object')} on ${plural(res.data.layers, 'layer')}.`);
}

// A document with no drawing (a JSON document) still has its layers and
// selection; the view says so instead of showing a broken image.
function wireDrawing() {
  const img = $('drawing');
  img.addEventListener('error', () => {
    if (!img.getAttribute('src')) return;
    state.hasDrawing = false;
    refreshItems();
    $('canvas').classList.add('no-drawing');
    $('empty').textContent = 'This document has no drawing to show; its selection is listed beside.';
    $('empty').hidden = false;
  });
  img.addEventListener('load', () => {
    state.hasDrawing = true;
    refreshItems();
    $('canvas').classList.remove('no-drawing');
  });
}

// Drawings come from the file picker, or dropped anywhere on the page.
function wireFiles() {
  const input = $('file-input');
  input.addEventListener('change', () => {
    const files = [...input.files];
    input.value = '';
    files.reduce((p, f) => p.then(() => openFile(f)), Promise.resolve());
  });
  const vp = $('viewport');
  let depth = 0;
  const hint = (on) => { $('drop-hint').hidden = !on; };
  document.addEventListener('dragenter', (e) => { if (hasFiles(e)) { depth++; hint(true); } });
  document.addEventListener('dragleave', () => { if (--depth <= 0) { depth = 0; hint(false); } });
  document.addEventListener('dragover', (e) => { if (hasFiles(e)) e.preventDefault(); });
  document.addEventListener('drop', (e) => {
    if (!hasFiles(e)) return;
    e.preventDefault();
    depth = 0;
    hint(false);
    [...e.dataTransfer.files].reduce((p, f) => p.then(() => openFile(f)), Promise.resolve());
  });
  vp.addEventListener('dblclick', () => { if (state.current === null) input.click(); });
}

function hasFiles(e) {
  return e.dataTransfer && [...e.dataTransfer.types].includes('Files');
}

async function deselectAll() {
  if (state.current === null) return;
  const res = await api('DELETE', documentPath(state.current, 'selection'));
  if (res.status !== 200) { setStatus(`The selection could not be cleared: ${errorText(res)}`, true); return; }
  drawSelection(res.data);
  setStatus('Nothing selected.');
}


/** Opening drawings (picker, drop), the drawing's image, Deselect all. */
export function wireDocuments() {
  wireFiles();
  wireDrawing();
  $('deselect-all').addEventListener('click', deselectAll);
}
