// The host's own work around the plug-in's commands: its Select, Edit and
// Object items, undo and redo, the layers' eye and lock, the downloads, and
// the keys of each. Every change is the host's: the page sends it and shows
// the host's answer (the selection, what Undo and Redo would do, the
// layers, the drawing's revision).
import { api, documentPath, errorText } from './api.js';
import { showDialog } from './dialogs.js';
import { state } from './state.js';
import { $, drawSelection, plural, selectionSummary, setStatus } from './view.js';

const selectedCount = () => (state.answer ? state.answer.selected.length : 0);
const hasDocument = () => state.current !== null && state.answer !== null;
const anySelected = () => hasDocument() && selectedCount() > 0;
const hasDrawing = () => hasDocument() && state.hasDrawing;
const stepLabel = (verb, field) => (state.answer && state.answer[field] ? `${verb} ${state.answer[field]}` : verb);

/**
 * The host's items, in the menus the host shows them in, with their keys
 * (as written in the menus; Ctrl is Cmd on a Mac).
 * @type {{id: string, menu: string, label: (string|function(): string), keys?: string[],
 *         run: function(): any, enabled: function(): boolean}[]}
 */
export const ACTIONS = [
  { id: 'export', menu: 'File', label: 'Export Selection as SVG', run: () => download('export'), enabled: () => hasDrawing() && anySelected() },
  { id: 'save', menu: 'File', label: 'Save As SVG', run: () => download('svg'), enabled: hasDrawing },
  { id: 'undo', menu: 'Edit', label: () => stepLabel('Undo', 'undo'), keys: ['Ctrl+Z'], run: () => change('undo', {}), enabled: () => hasDocument() && !!state.answer.undo },
  { id: 'redo', menu: 'Edit', label: () => stepLabel('Redo', 'redo'), keys: ['Ctrl+Shift+Z', 'Ctrl+Y'], run: () => change('redo', {}), enabled: () => hasDocument() && !!state.answer.redo },
  { id: 'delete', menu: 'Edit', label: 'Delete', keys: ['Delete', 'Backspace'], run: () => edit('delete'), enabled: anySelected },
  { id: 'keep-only', menu: 'Edit', label: 'Keep Only Selection', run: () => edit('keep-only'), enabled: anySelected },
  { id: 'all', menu: 'Select', label: 'All', keys: ['Ctrl+A'], run: () => select('all'), enabled: hasDocument },
  { id: 'none', menu: 'Select', label: 'Deselect', keys: ['Esc', 'Ctrl+Shift+A'], run: () => select('none'), enabled: anySelected },
  { id: 'inverse', menu: 'Select', label: 'Inverse', run: () => select('inverse'), enabled: hasDocument },
  { id: 'reselect', menu: 'Select', label: 'Reselect', run: () => select('reselect'), enabled: hasDocument },
  { id: 'hide', menu: 'Object', label: 'Hide Selection', keys: ['Ctrl+3'], run: () => edit('hide'), enabled: anySelected },
  { id: 'lock', menu: 'Object', label: 'Lock Selection', keys: ['Ctrl+2'], run: () => edit('lock'), enabled: anySelected },
  { id: 'show-all', menu: 'Object', label: 'Show All', keys: ['Ctrl+Alt+3'], run: () => edit('show-all'), enabled: hasDocument },
  { id: 'unlock-all', menu: 'Object', label: 'Unlock All', keys: ['Ctrl+Alt+2'], run: () => edit('unlock-all'), enabled: hasDocument },
  { id: 'shortcuts', menu: 'Help', label: 'Keyboard Shortcuts', run: showShortcuts, enabled: () => true },
];

const labelOf = (action) => (typeof action.label === 'function' ? action.label() : action.label);

/**
 * The host's entries of one top-level menu, as the menu bar builds them.
 * @param {string} menu
 * @returns {{label: string, id: string, shortcut: string, run: function}[]}
 */
export function hostEntries(menu) {
  return ACTIONS.filter((a) => a.menu === menu)
    .map((a) => ({ label: labelOf(a), id: a.id, shortcut: (a.keys || []).join(', '), run: () => runAction(a) }));
}

function runAction(action) {
  if (!action.enabled()) return;
  action.run();
}

/** Each host item's label and whether it can act now, after every answer. */
export function refreshItems() {
  for (const action of ACTIONS) {
    const button = document.querySelector(`#menubar [data-action="${action.id}"]`);
    if (!button) continue;
    button.firstChild.textContent = labelOf(action);
    if (action.enabled()) button.removeAttribute('aria-disabled');
    else button.setAttribute('aria-disabled', 'true');
  }
}

// ---------------------------------------------------------------- the host's answers

/**
 * Takes in the host's answer for the shown document: the layers it lists,
 * the drawing again when its revision grew, the menu items. Called for
 * every selection drawn (drawSelection sends it as "host-answer").
 * @param {object} answer
 */
function noteAnswer(answer) {
  state.answer = answer;
  if (Array.isArray(answer.layers)) fillLayers(answer.layers);
  if (typeof answer.revision === 'number') {
    if (state.revision !== null && answer.revision !== state.revision) {
      $('drawing').src = `${documentPath(state.current, 'drawing')}?rev=${answer.revision}`;
    }
    state.revision = answer.revision;
  }
  refreshItems();
}

// "Hid 3 objects. 0 objects selected.", "Select All: 12 objects selected.";
// a pick tells only what it left selected; Reselect, what its command did.
function statusOf(answer, part, body) {
  if (body.op === 'reselect') return selectionSummary(answer);
  const selected = `${plural(answer.selected.filter((s) => !s.kept).length, 'object')} selected.`;
  if (answer.edit) return `${answer.edit.message} ${selected}`;
  if (part === 'pick' || !answer.command) return selected;
  return `${answer.command}: ${selected}`;
}

/**
 * Sends one change of the shown document to the host and shows its answer.
 * @param {string} part  the document's route: "selection", "pick", "edit", "undo", "layers/2"...
 * @param {object} body
 * @returns {Promise<object|null>} the answer, null when refused
 */
export async function change(part, body) {
  const id = state.current;
  if (id === null) { setStatus('Open a drawing first.', true); return null; }
  const res = await api('POST', documentPath(id, part), body);
  if (String(id) !== String(state.current)) return null;
  if ((res.status === 200 || res.status === 202) && res.data && res.data.dialog) {
    // Reselect ran a command that opened a dialog: the host waits for it.
    setStatus('The command opened a dialog: answer it to go on.');
    showDialog(res.data.dialog);
    return null;
  }
  if (res.status === 200) {
    drawSelection(res.data);
    setStatus(statusOf(res.data, part, body));
    return res.data;
  }
  if (res.status === 409 && res.data && res.data.dialog) {
    setStatus('The host has a dialog open: answer it first.', true);
    showDialog(res.data.dialog);
  } else {
    setStatus(errorText(res), true);
  }
  return null;
}

const select = (op) => change('selection', { op });
const edit = (op) => change('edit', { op });

// The host sends the file with its name (Content-Disposition); the browser
// saves it where downloads go.
function download(part) {
  const a = document.createElement('a');
  a.href = documentPath(state.current, part);
  a.download = '';
  document.body.append(a);
  a.click();
  a.remove();
  setStatus(part === 'svg' ? 'Saving the drawing…' : `Exporting ${plural(selectedCount(), 'object')}…`);
}

// ---------------------------------------------------------------- layers

const SVG_NS = 'http://www.w3.org/2000/svg';
// Icons drawn in a 16-unit box: the eye open or struck through, the lock shut or open.
const ICONS = {
  visible: ['M1 8s2.5-5 7-5 7 5 7 5-2.5 5-7 5-7-5-7-5z', 'M8 6a2 2 0 1 0 0 4a2 2 0 1 0 0-4z'],
  hidden: ['M1 8s2.5-5 7-5 7 5 7 5-2.5 5-7 5-7-5-7-5z', 'M2 14L14 2'],
  locked: ['M3 7h10v7H3z', 'M5 7V5a3 3 0 0 1 6 0v2'],
  editable: ['M3 7h10v7H3z', 'M5 7V3.5a3 3 0 0 1 6 0'],
};

function icon(name) {
  const svg = document.createElementNS(SVG_NS, 'svg');
  svg.setAttribute('viewBox', '0 0 16 16');
  svg.setAttribute('class', 'icon');
  svg.setAttribute('aria-hidden', 'true');
  for (const d of ICONS[name]) {
    const path = document.createElementNS(SVG_NS, 'path');
    path.setAttribute('d', d);
    svg.append(path);
  }
  return svg;
}

function flagButton(layer, index, flag) {
  const on = layer[flag];
  const td = document.createElement('td');
  td.className = on ? 'flag on' : 'flag off';
  const b = document.createElement('button');
  b.type = 'button';
  b.className = `flag-button ${flag}`;
  b.setAttribute('aria-pressed', String(on));
  const words = flag === 'visible' ? ['Hide', 'Show', 'visible', 'hidden'] : ['Lock', 'Unlock', 'editable', 'locked'];
  b.setAttribute('aria-label', `${words[on ? 0 : 1]} ${layer.name}`);
  b.title = `${layer.name} is ${words[on ? 2 : 3]}: ${words[on ? 0 : 1].toLowerCase()} it`;
  b.append(icon(on ? words[2] : words[3]));
  b.addEventListener('click', () => setLayerFlag(index, flag, !on, layer.name));
  td.append(b);
  return td;
}

async function setLayerFlag(index, flag, on, name) {
  const answer = await change(`layers/${index}`, { [flag]: on });
  if (answer && !answer.edit) {
    const word = flag === 'visible' ? (on ? 'shown' : 'hidden') : (on ? 'unlocked' : 'locked');
    setStatus(`${name} ${word}.`);
  }
}

/**
 * The document's layers, each with its eye and its lock.
 * @param {{name: string, visible: boolean, editable: boolean}[]} layers
 */
export function fillLayers(layers) {
  const body = $('layers');
  body.replaceChildren();
  layers.forEach((layer, index) => {
    const tr = document.createElement('tr');
    const name = document.createElement('th');
    name.scope = 'row';
    name.textContent = layer.name;
    tr.append(name, flagButton(layer, index, 'visible'), flagButton(layer, index, 'editable'));
    tr.classList.toggle('off', !layer.visible || !layer.editable);
    body.append(tr);
  });
}

// ---------------------------------------------------------------- keys

// "Ctrl+Shift+Z" as a test of a key event: the modifiers exactly, the key
// by its place on the keyboard (so Shift or Alt do not change it).
function matches(chord, e) {
  const parts = chord.split('+');
  const key = parts.pop();
  const mods = { Ctrl: e.ctrlKey || e.metaKey, Shift: e.shiftKey, Alt: e.altKey };
  if (Object.keys(mods).some((m) => mods[m] !== parts.includes(m))) return false;
  if (/^[A-Z]$/.test(key)) return e.code === `Key${key}`;
  if (/^\d$/.test(key)) return e.code === `Digit${key}`;
  return e.key === (key === 'Esc' ? 'Escape' : key);
}

function onKey(e) {
  if (e.defaultPrevented || $('modal-backdrop').open || $('shortcuts').open) return;
  if (e.target.closest && e.target.closest('#menubar, input, textarea, select')) return;
  const action = ACTIONS.find((a) => (a.keys || []).some((k) => matches(k, e)));
  if (!action) return;
  e.preventDefault();
  runAction(action);
}

function showShortcuts() {
  const body = $('shortcuts-keys');
  body.replaceChildren();
  for (const action of ACTIONS.filter((a) => a.keys)) {
    const tr = document.createElement('tr');
    const what = document.createElement('td');
    what.textContent = `${action.menu} › ${action.id === 'undo' ? 'Undo' : action.id === 'redo' ? 'Redo' : labelOf(action)}`;
    const keys = document.createElement('td');
    for (const k of action.keys) {
      const kbd = document.createElement('kbd');
      kbd.textContent = k;
      keys.append(kbd);
    }
    tr.append(what, keys);
    body.append(tr);
  }
  $('shortcuts').showModal();
}

/** The host's keys, its answers taken in wherever they come from, the shortcuts panel. */
export function wireEdits() {
  document.addEventListener('keydown', onKey);
  document.addEventListener('host-answer', (e) => noteAnswer(e.detail));
  $('shortcuts-close').addEventListener('click', () => $('shortcuts').close());
}
