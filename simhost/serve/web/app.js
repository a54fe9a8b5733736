// The page of `simhost serve`: the host's menus, the drawing with the
// selection drawn over it, the document's layers and selection, and the
// host's dialogs. Everything shown comes from the server's API; the page
// never puts a drawing's markup into its own DOM (drawings may carry
// scripts), it shows them only as <img>.
'use strict';

const SVG_NS = 'http://www.w3.org/2000/svg';
const $ = (id) => document.getElementById(id);

// Where the host puts the menu groups it owns, as its menu bar shows them.
// A group the host does not know goes to a top-level menu of its own name.
const HOST_PLACES = {
  SelectObject: ['Select', 'Object'],
  About: ['Help'],
};
// The host's groups whose items are the application's: they need no drawing.
const APPLICATION_GROUPS = new Set(['About']);

const state = {
  docs: [],
  current: null,          // id of the document shown
  results: new Map(),     // document id -> last command result
  dialog: null,           // the dialog shown, as the host holds it
  dialogLook: 0,          // counts looks at the host's dialog and presses, newest wins
  view: { box: [0, 0, 300, 150], scale: 1, x: 0, y: 0 },
};

// ---------------------------------------------------------------- API

async function api(method, path, body, type) {
  const init = { method, headers: { Accept: 'application/json' } };
  if (body !== undefined) {
    init.body = type ? body : JSON.stringify(body);
    init.headers['Content-Type'] = type || 'application/json';
  }
  const response = await fetch(path, init);
  let data = null;
  if (response.status !== 204) {
    const text = await response.text();
    try { data = text ? JSON.parse(text) : null; } catch { data = { error: text || response.statusText }; }
  }
  return { status: response.status, data };
}

function errorText(res) {
  return (res.data && res.data.error) || `The host answered ${res.status}.`;
}

// ---------------------------------------------------------------- status

function setStatus(text, isError) {
  const el = $('status');
  el.textContent = text;
  el.classList.toggle('error', !!isError);
}

function plural(n, word) {
  return `${n} ${word}${n === 1 ? '' : 's'}`;
}

// ---------------------------------------------------------------- menus

// Menu model: { label, items: [entry] }; entry: { label, run }, { label,
// items } or { label, disabled }. An item that opens a submenu names its
// group in "submenu"; the group itself is among its group's "groups".
// `application`: the items work with no drawing (the host's About group).
function groupEntries(group, application) {
  const subgroups = new Map((group.groups || []).map((g) => [g.name, g]));
  const entries = (group.items || []).map((item) => {
    const sub = subgroups.get(item.submenu);
    subgroups.delete(item.submenu);
    return itemEntry(item, sub, application);
  });
  for (const sub of subgroups.values()) entries.push({ label: sub.text || sub.name, items: groupEntries(sub, application) });
  return entries;
}

function itemEntry(item, subgroup, application) {
  if (subgroup) return { label: item.text, items: groupEntries(subgroup, application) };
  if (item.choosable === false) return { label: item.text, disabled: true };
  return { label: item.text, run: () => runCommand(item.text, application) };
}

function placeGroup(top, group) {
  const path = HOST_PLACES[group.name] || [group.name];
  let menu = top.find((m) => m.label === path[0]);
  if (!menu) top.push(menu = { label: path[0], items: [] });
  for (const label of path.slice(1)) {
    let sub = menu.items.find((e) => e.label === label && e.items);
    if (!sub) menu.items.push(sub = { label, items: [] });
    menu = sub;
  }
  menu.items.push(...groupEntries(group, APPLICATION_GROUPS.has(group.name)));
}

function hostMenu(operations) {
  const failing = (mode) => operations.map((op) => ({ label: op, run: () => setFault(op, mode) }));
  return {
    label: 'Host',
    items: [
      { label: 'Fail once', items: failing('once') },
      { label: 'Fail always', items: failing('always') },
      { label: 'Clear faults', run: clearFaults },
    ],
  };
}

function buildMenuList(entries, list) {
  for (const entry of entries) {
    const li = document.createElement('li');
    li.setAttribute('role', 'none');
    const button = document.createElement('button');
    button.type = 'button';
    button.setAttribute('role', 'menuitem');
    button.tabIndex = -1;
    button.textContent = entry.label;
    li.append(button);
    if (entry.items) {
      button.setAttribute('aria-haspopup', 'menu');
      button.setAttribute('aria-expanded', 'false');
      const sub = document.createElement('ul');
      sub.setAttribute('role', 'menu');
      sub.setAttribute('aria-label', entry.label);
      sub.className = 'menu';
      sub.hidden = true;
      buildMenuList(entry.items, sub);
      li.append(sub);
    } else if (entry.disabled) {
      button.setAttribute('aria-disabled', 'true');
    } else {
      menuActions.set(button, entry.run);
    }
    list.append(li);
  }
}

const menuActions = new WeakMap();

function buildMenubar(top) {
  const bar = $('menubar');
  bar.replaceChildren();
  buildMenuList(top, bar);
  const first = bar.querySelector('[role=menuitem]');
  if (first) first.tabIndex = 0;
}

async function loadMenus() {
  const [menus, faults] = await Promise.all([api('GET', '/api/menus'), api('GET', '/api/faults')]);
  const top = [];
  if (menus.status === 200) for (const group of menus.data.groups || []) placeGroup(top, group);
  else setStatus(`The menus could not be read: ${errorText(menus)}`, true);
  top.push(hostMenu(faultOperations(faults.data)));
  buildMenubar(top);
}

function faultOperations(data) {
  const list = Array.isArray(data) ? data : (data && (data.operations || data.names)) || [];
  return list.map((op) => (typeof op === 'string' ? op : op.label || op.name));
}

// Keyboard and pointer behaviour of a WAI-ARIA menubar.
const menuNav = {
  submenu: (item) => (item.getAttribute('aria-haspopup') ? item.nextElementSibling : null),
  items: (list) => [...list.children].map((li) => li.firstElementChild),
  listOf: (item) => item.parentElement.parentElement,
  isTop: (item) => menuNav.listOf(item).id === 'menubar',
  parentItem: (item) => menuNav.listOf(item).previousElementSibling,
  topOf(item) { while (!menuNav.isTop(item)) item = menuNav.parentItem(item); return item; },
};

function openMenu(item, focus) {
  const sub = menuNav.submenu(item);
  if (!sub) return;
  for (const sibling of menuNav.items(menuNav.listOf(item))) if (sibling !== item) closeMenu(sibling);
  sub.hidden = false;
  item.setAttribute('aria-expanded', 'true');
  placeMenu(sub);
  const items = menuNav.items(sub);
  if (focus === 'first') items[0].focus();
  if (focus === 'last') items[items.length - 1].focus();
}

// Keeps an open menu inside the window: to the left of its item near the
// right edge, moved up near the bottom, scrolling itself when taller than
// the window. A submenu shown inline (narrow screens) grows its top menu,
// which is placed again.
function placeMenu(menu) {
  const margin = 4;
  if (getComputedStyle(menu).position === 'static') {
    const top = menu.closest('.menubar > li > .menu');
    if (top) placeMenu(top);
    return;
  }
  menu.classList.remove('flip', 'scrolls');
  menu.style.top = '';
  menu.style.maxHeight = '';
  if (menu.getBoundingClientRect().right > window.innerWidth - margin) menu.classList.add('flip');
  const isTop = menu.parentElement.parentElement.id === 'menubar';
  const r = menu.getBoundingClientRect();
  const room = window.innerHeight - margin - (isTop ? r.top : margin);
  if (r.height > room) {
    menu.classList.add('scrolls');
    menu.style.maxHeight = `${room}px`;
  }
  const over = menu.getBoundingClientRect().bottom - (window.innerHeight - margin);
  if (over > 0 && !isTop) menu.style.top = `${menu.offsetTop - over}px`;
}

function closeMenu(item) {
  const sub = menuNav.submenu(item);
  if (!sub || sub.hidden) return;
  for (const child of menuNav.items(sub)) closeMenu(child);
  sub.hidden = true;
  item.setAttribute('aria-expanded', 'false');
}

function closeAllMenus() {
  for (const item of menuNav.items($('menubar'))) closeMenu(item);
}

function anyMenuOpen() {
  return menuNav.items($('menubar')).some((i) => i.getAttribute('aria-expanded') === 'true');
}

function focusTop(item) {
  for (const i of menuNav.items($('menubar'))) i.tabIndex = i === item ? 0 : -1;
  item.focus();
}

function moveTop(item, step) {
  const tops = menuNav.items($('menubar'));
  const current = menuNav.topOf(item);
  const next = tops[(tops.indexOf(current) + step + tops.length) % tops.length];
  const wasOpen = anyMenuOpen();
  closeAllMenus();
  focusTop(next);
  if (wasOpen) openMenu(next, 'first');
}

function activate(item) {
  if (menuNav.submenu(item)) { openMenu(item, 'first'); return; }
  const run = menuActions.get(item);
  const top = menuNav.topOf(item);
  closeAllMenus();
  focusTop(top);
  if (run) run();
}

function moveWithin(item, key) {
  const items = menuNav.items(menuNav.listOf(item));
  const i = items.indexOf(item);
  const target = { ArrowDown: i + 1, ArrowUp: i - 1, Home: 0, End: items.length - 1 }[key];
  items[(target + items.length) % items.length].focus();
}

function focusByLetter(item, letter) {
  const items = menuNav.items(menuNav.listOf(item));
  const start = items.indexOf(item);
  for (let k = 1; k <= items.length; k++) {
    const candidate = items[(start + k) % items.length];
    if (candidate.textContent.trim().toLowerCase().startsWith(letter)) { candidate.focus(); return; }
  }
}

const topKeys = {
  ArrowRight: (item) => moveTop(item, 1),
  ArrowLeft: (item) => moveTop(item, -1),
  ArrowDown: (item) => openMenu(item, 'first'),
  ArrowUp: (item) => openMenu(item, 'last'),
  Enter: (item) => openMenu(item, 'first'),
  ' ': (item) => openMenu(item, 'first'),
  Escape: () => closeAllMenus(),
  Home: () => focusTop(menuNav.items($('menubar'))[0]),
  End: () => { const t = menuNav.items($('menubar')); focusTop(t[t.length - 1]); },
};

const innerKeys = {
  ArrowDown: moveWithin, ArrowUp: moveWithin, Home: moveWithin, End: moveWithin,
  ArrowRight: (item) => (menuNav.submenu(item) ? openMenu(item, 'first') : moveTop(item, 1)),
  ArrowLeft: (item) => {
    const parent = menuNav.parentItem(item);
    if (menuNav.isTop(parent)) moveTop(item, -1);
    else { closeMenu(parent); parent.focus(); }
  },
  Enter: activate,
  ' ': activate,
  Escape: (item) => {
    const parent = menuNav.parentItem(item);
    closeMenu(parent);
    parent.focus();
  },
  Tab: () => closeAllMenus(),
};

function onMenuKey(event) {
  const item = event.target.closest('[role=menuitem]');
  if (!item) return;
  const table = menuNav.isTop(item) ? topKeys : innerKeys;
  const handler = table[event.key];
  if (handler) {
    if (event.key !== 'Tab') event.preventDefault();
    handler(item, event.key);
  } else if (event.key.length === 1 && /\S/.test(event.key)) {
    focusByLetter(item, event.key.toLowerCase());
  }
}

function onMenuClick(event) {
  const item = event.target.closest('[role=menuitem]');
  if (!item) return;
  if (menuNav.isTop(item) && item.getAttribute('aria-expanded') === 'true') {
    closeAllMenus();
    return;
  }
  if (menuNav.isTop(item)) focusTop(item);
  activate(item);
}

function onMenuHover(event) {
  const item = event.target.closest('[role=menuitem]');
  if (!item || !anyMenuOpen()) return;
  if (menuNav.isTop(item)) {
    if (item.getAttribute('aria-expanded') !== 'true') { closeAllMenus(); focusTop(item); openMenu(item); }
    return;
  }
  item.focus();
  // Submenus shown inline (narrow screens) open on a click or tap only:
  // opened by hover, they would push the list about under the pointer.
  const nested = menuNav.listOf(item).querySelector(':scope > li > .menu');
  if (nested && getComputedStyle(nested).position === 'static') return;
  for (const sibling of menuNav.items(menuNav.listOf(item))) if (sibling !== item) closeMenu(sibling);
  if (menuNav.submenu(item)) openMenu(item);
}

function wireMenubar() {
  const bar = $('menubar');
  bar.addEventListener('keydown', onMenuKey);
  bar.addEventListener('click', onMenuClick);
  bar.addEventListener('pointerover', onMenuHover);
  document.addEventListener('pointerdown', (e) => { if (!bar.contains(e.target)) closeAllMenus(); });
}

// ---------------------------------------------------------------- commands

async function runCommand(text, application) {
  if (!application && state.current === null) { setStatus('Open a drawing first.', true); return; }
  setStatus(`Running ${text}…`);
  const res = application
    ? await api('POST', '/api/menu', { item: text })
    : await api('POST', `/api/documents/${encodeURIComponent(state.current)}/menu`, { item: text });
  handleCommandAnswer(res, text);
}

function handleCommandAnswer(res, text) {
  if (res.status === 202 || (res.status === 200 && res.data && res.data.dialog)) {
    setStatus(`${text || 'The command'} opened a dialog: answer it to go on.`);
    showDialog(res.data.dialog);
  } else if (res.status === 200) {
    showResult(res.data);
  } else if (res.status === 409 && res.data && res.data.dialog) {
    setStatus('The host has a dialog open: answer it first.', true);
    showDialog(res.data.dialog);
  } else {
    setStatus(`${text || 'The command'} failed: ${errorText(res)}`, true);
  }
}

async function setFault(operation, mode) {
  const res = await api('POST', '/api/faults', { operation, mode });
  if (res.status >= 400) setStatus(`The fault could not be set: ${errorText(res)}`, true);
  else setStatus(`The host now fails ${operation} ${mode === 'once' ? 'once' : 'on every call'}.`);
}

async function clearFaults() {
  const res = await api('DELETE', '/api/faults');
  if (res.status >= 400) setStatus(`The faults could not be cleared: ${errorText(res)}`, true);
  else setStatus('The host fails nothing now.');
}

function showResult(result) {
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
  state.results.set(state.current, result);
  drawSelection(result);
  const summary = selectionSummary(result);
  setStatus(failed ? `${result.command} returned the error ${result.code}. ${summary}` : summary, failed);
}

const count = (n) => n.toLocaleString('en-US');

// "3 objects selected by Rasters in 4.2 ms; outlines shown for 2,000 of 89,190"
function selectionSummary(result) {
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
  if (kept.every((s) => /guide/i.test(s.layer || ''))) {
    return `${plural(kept.length, 'guide')} still selected: the commands never deselect guides`;
  }
  return `${plural(kept.length, 'object')} still selected from before`;
}

async function deselectAll() {
  if (state.current === null) return;
  const res = await api('DELETE', `/api/documents/${encodeURIComponent(state.current)}/selection`);
  if (res.status !== 200) { setStatus(`The selection could not be cleared: ${errorText(res)}`, true); return; }
  state.results.set(state.current, res.data);
  drawSelection(res.data);
  setStatus('Nothing selected.');
}

function formatMs(ms) {
  if (typeof ms !== 'number') return '? ms';
  return `${ms < 10 ? ms.toFixed(ms < 1 ? 2 : 1) : Math.round(ms)} ms`;
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

function drawSelection(result) {
  const overlay = $('overlay');
  overlay.replaceChildren();
  const boxes = document.createElementNS(SVG_NS, 'g');
  boxes.setAttribute('class', 'bboxes');
  const outlines = document.createElementNS(SVG_NS, 'g');
  outlines.setAttribute('class', 'outlines');
  outlines.append(...parseOutlines(result ? result.outlines : ''));
  overlay.append(boxes, haloOf(outlines), outlines);
  const given = new Map((result ? result.selected : []).filter((s) => s.bbox).map((s) => [String(s.id), s.bbox]));
  for (const el of outlines.querySelectorAll('[data-object-id]')) {
    const id = el.getAttribute('data-object-id');
    const box = given.has(id) ? boxFromField(given.get(id)) : boxOf(el);
    if (box) boxes.append(boxRect(box, id));
  }
  fillSelectionList(result ? result.selected : []);
}

// A light copy under the outlines keeps them readable on dark art.
function haloOf(outlines) {
  const halo = outlines.cloneNode(true);
  halo.setAttribute('class', 'halo');
  for (const el of halo.querySelectorAll('[data-object-id]')) el.removeAttribute('data-object-id');
  return halo;
}

function boxFromField(b) {
  if (Array.isArray(b)) return { x: b[0], y: b[1], width: b[2], height: b[3] };
  if ('left' in b) return { x: b.left, y: b.top, width: b.right - b.left, height: b.bottom - b.top };
  return b;
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
    meta.textContent = `${s.kind || s.type || ''} · ${s.layer || ''}`;
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

// ---------------------------------------------------------------- view

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

// Fits the drawing's box: its page and everything drawn. Never the
// selection's extent: guides run a million units each way.
function fitView() {
  const v = state.view;
  const [x0, y0, w, h] = v.box;
  const x1 = x0 + w, y1 = y0 + h;
  const vp = $('viewport');
  const pad = 24;
  const scale = Math.max(0.02, Math.min((vp.clientWidth - 2 * pad) / (x1 - x0), (vp.clientHeight - 2 * pad) / (y1 - y0)));
  v.scale = scale;
  v.x = (vp.clientWidth - (x1 - x0) * scale) / 2 - (x0 - v.box[0]) * scale;
  v.y = (vp.clientHeight - (y1 - y0) * scale) / 2 - (y0 - v.box[1]) * scale;
  applyView();
}

function wireView() {
  const vp = $('viewport');
  vp.addEventListener('wheel', (e) => {
    e.preventDefault();
    const r = vp.getBoundingClientRect();
    const delta = e.deltaMode === 1 ? e.deltaY * 16 : e.deltaY;
    zoomAt(Math.exp(-delta * 0.0015), e.clientX - r.left, e.clientY - r.top);
  }, { passive: false });
  let drag = null;
  vp.addEventListener('pointerdown', (e) => {
    if (e.button !== 0 && e.button !== 1) return;
    drag = { id: e.pointerId, x: e.clientX, y: e.clientY };
    vp.setPointerCapture(e.pointerId);
    vp.classList.add('panning');
  });
  vp.addEventListener('pointermove', (e) => {
    if (!drag || e.pointerId !== drag.id) return;
    state.view.x += e.clientX - drag.x;
    state.view.y += e.clientY - drag.y;
    drag.x = e.clientX; drag.y = e.clientY;
    applyView();
  });
  const end = () => { drag = null; vp.classList.remove('panning'); };
  vp.addEventListener('pointerup', end);
  vp.addEventListener('pointercancel', end);
  vp.addEventListener('keydown', onViewKey);
  $('zoom-in').addEventListener('click', () => zoomCentre(1.25));
  $('zoom-out').addEventListener('click', () => zoomCentre(0.8));
  $('zoom-fit').addEventListener('click', fitView);
  new ResizeObserver(() => { if (state.fitted) fitView(); }).observe(vp);
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

function panBy(dx, dy) {
  state.view.x += dx;
  state.view.y += dy;
  applyView();
}

// ---------------------------------------------------------------- documents

// `follow`: show another document when the shown one is gone.
async function refreshDocuments(follow = true) {
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
  const res = await api('DELETE', `/api/documents/${encodeURIComponent(id)}`);
  if (res.status >= 400) { setStatus(`The drawing could not be closed: ${errorText(res)}`, true); return; }
  state.results.delete(id);
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
  if (id === null) { setStatus('Open a drawing to begin.'); return; }
  const base = `/api/documents/${encodeURIComponent(id)}`;
  const [root, layers] = await Promise.all([readDrawingHead(`${base}/drawing`), api('GET', `${base}/layers`)]);
  state.view.box = drawingBox(entry && entry.viewBox ? { viewBox: String(entry.viewBox) } : root) || [0, 0, 300, 150];
  $('overlay').setAttribute('viewBox', state.view.box.join(' '));
  placePage(entry && entry.page);
  const drawn = imageShown($('drawing'));
  $('drawing').src = `${base}/drawing`;
  $('drawing').alt = entry ? `Drawing ${entry.name}` : 'Drawing';
  if (layers.status === 200) fillLayers(layers.data);
  state.fitted = true;
  fitView();
  await showHeldSelection(id);
  return { drawn };  // resolves once the drawing shows (wrapped: not awaited here)
}

// The selection the host holds for the document, whoever made it.
async function showHeldSelection(id) {
  const res = await api('GET', `/api/documents/${encodeURIComponent(id)}/selection`);
  if (String(state.current) !== String(id)) return;
  if (res.status !== 200) { setStatus('Choose a command from Select › Object.'); return; }
  state.results.set(id, res.data);
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
// the drawing's box, so it follows every zoom.
function placePage(page) {
  const el = $('page');
  const [bx, by, bw, bh] = state.view.box;
  const valid = Array.isArray(page) && page.length === 4 && page[2] > 0 && page[3] > 0;
  el.hidden = !valid;
  $('canvas').classList.toggle('has-page', valid);
  if (!valid) return;
  el.style.left = `${((page[0] - bx) / bw) * 100}%`;
  el.style.top = `${((page[1] - by) / bh) * 100}%`;
  el.style.width = `${(page[2] / bw) * 100}%`;
  el.style.height = `${(page[3] / bh) * 100}%`;
}

function fillLayers(layers) {
  const body = $('layers');
  body.replaceChildren();
  for (const layer of layers) {
    const tr = document.createElement('tr');
    const name = document.createElement('th');
    name.scope = 'row';
    name.textContent = layer.name;
    tr.append(name, flagCell(layer.visible, 'visible', 'hidden'), flagCell(layer.editable, 'editable', 'locked'));
    if (!layer.visible) tr.classList.add('off');
    body.append(tr);
  }
}

function flagCell(on, yes, no) {
  const td = document.createElement('td');
  td.className = on ? 'flag on' : 'flag off';
  td.textContent = on ? '●' : '○';
  td.title = on ? yes : no;
  const label = document.createElement('span');
  label.className = 'visually-hidden';
  label.textContent = on ? ` ${yes}` : ` ${no}`;
  td.append(label);
  return td;
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
    $('canvas').classList.add('no-drawing');
    $('empty').textContent = 'This document has no drawing to show; its selection is listed beside.';
    $('empty').hidden = false;
  });
  img.addEventListener('load', () => $('canvas').classList.remove('no-drawing'));
}

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

// ---------------------------------------------------------------- dialogs

function showDialog(dialog) {
  if (!dialog) return;
  if (!state.dialog) state.opener = document.activeElement;
  state.dialog = dialog;
  $('modal-title').textContent = dialog.title || '';
  const body = $('modal-body');
  const buttons = $('modal-buttons');
  body.replaceChildren();
  buttons.replaceChildren();
  for (const item of dialog.items || []) {
    if (item.kind === 'button') buttons.append(dialogButton(item));
    else if (item.text) {
      const p = document.createElement('p');
      p.textContent = item.text;
      body.append(p);
    }
  }
  for (const el of document.querySelectorAll('body > header, body > main')) el.inert = true;
  $('modal-backdrop').hidden = false;
  const first = buttons.querySelector('button');
  (first || $('modal')).focus();
}

function dialogButton(item) {
  const b = document.createElement('button');
  b.type = 'button';
  b.textContent = item.text;
  b.addEventListener('click', () => pressDialogItem(item.id));
  return b;
}

function hideDialog() {
  state.dialog = null;
  $('modal-backdrop').hidden = true;
  for (const el of document.querySelectorAll('body > header, body > main')) el.inert = false;
  const back = state.opener && document.contains(state.opener) ? state.opener : $('viewport');
  back.focus();
  state.opener = null;
}

async function pressDialogItem(id) {
  for (const b of $('modal-buttons').querySelectorAll('button')) b.disabled = true;
  const body = { item: id };
  if (state.dialog && Number.isInteger(state.dialog.id)) body.dialog = state.dialog.id;
  // A look at the host's dialog sent before the press was answered saw the
  // dialog still open: its answer must not show it again.
  state.dialogLook++;
  const res = await api('POST', '/api/dialog/press', body);
  state.dialogLook++;
  if (res.status === 200 && res.data && res.data.dialog) { showDialog(res.data.dialog); return; }
  hideDialog();
  if (res.status === 200) showResult(res.data);
  else if (res.status === 204 || res.status === 404 || res.status === 409) await syncDialog();
  else setStatus(`The dialog could not be answered: ${errorText(res)}`, true);
}

// Shows the dialog the host holds, whoever opened it; hides ours if the
// host holds none (another page answered it).
async function syncDialog() {
  const look = ++state.dialogLook;
  const res = await api('GET', '/api/dialog');
  if (look !== state.dialogLook) return;  // a press or a later look overtook it
  if (res.status === 200 && res.data.dialog) showDialog(res.data.dialog);
  else if (state.dialog) hideDialog();
}

function wireDialog() {
  $('modal').addEventListener('keydown', (e) => {
    if (e.key === 'Tab') trapFocus(e);
    if (e.key === 'Escape') {
      e.preventDefault();
      const buttons = $('modal-buttons').querySelectorAll('button');
      if (buttons.length === 1) buttons[0].click();
    }
  });
  $('modal').tabIndex = -1;
  window.addEventListener('focus', syncDialog);
  document.addEventListener('visibilitychange', () => { if (!document.hidden) syncDialog(); });
}

function trapFocus(e) {
  const focusable = [...$('modal').querySelectorAll('button:not([disabled])')];
  if (!focusable.length) { e.preventDefault(); return; }
  const first = focusable[0], last = focusable[focusable.length - 1];
  if (e.shiftKey && (document.activeElement === first || !focusable.includes(document.activeElement))) {
    e.preventDefault(); last.focus();
  } else if (!e.shiftKey && (document.activeElement === last || !focusable.includes(document.activeElement))) {
    e.preventDefault(); first.focus();
  }
}

// ---------------------------------------------------------------- start

async function start() {
  wireMenubar();
  wireView();
  wireFiles();
  wireDrawing();
  wireDialog();
  $('deselect-all').addEventListener('click', deselectAll);
  await Promise.all([loadMenus(), refreshDocuments()]);
  await syncDialog();
  document.body.classList.add('ready');
}

start().catch((err) => setStatus(`The page could not start: ${err.message}`, true));
