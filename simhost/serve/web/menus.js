// The menu bar: the host's menu groups placed as the host shows them, the
// Host menu (faults), the WAI-ARIA menubar's keys and pointer, and running
// a chosen command.
import { api, documentPath, errorText } from './api.js';
import { showDialog } from './dialogs.js';
import { hostEntries, refreshItems } from './edits.js';
import { state } from './state.js';
import { $, setStatus, showResult } from './view.js';

// Where the host puts the menu groups it owns, as its menu bar shows them.
// A group the host does not know goes to a top-level menu of its own name.
const HOST_PLACES = {
  SelectObject: ['Select', 'Object'],
  About: ['Help'],
};
// The host's groups whose items are the application's: they need no drawing.
const APPLICATION_GROUPS = new Set(['About']);
// The host's own menus, in its menu bar's order; the plug-in's groups are
// placed into them after the host's items (Select › Object after All,
// Deselect, Inverse and Reselect).
const HOST_MENUS = ['File', 'Edit', 'Select', 'Object', 'Help'];

// Menu model: { label, items: [entry] }; entry: { label, run }, { label,
// items } or { label, disabled }. An item that opens a submenu names its
// group in "submenu"; the group itself is among its group's "groups".
// `application`: the items work with no drawing (the host's About group).
function groupEntries(group, application) {
  const subgroups = new Map(group.groups.map((g) => [g.name, g]));
  const entries = group.items.map((item) => {
    const sub = subgroups.get(item.submenu);
    subgroups.delete(item.submenu);
    return itemEntry(item, sub, application);
  });
  for (const sub of subgroups.values()) entries.push({ label: sub.name, items: groupEntries(sub, application) });
  return entries;
}

function itemEntry(item, subgroup, application) {
  if (subgroup) return { label: item.text, items: groupEntries(subgroup, application) };
  if (!item.choosable) return { label: item.text, disabled: true };
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
    if (entry.id) button.dataset.action = entry.id;
    if (entry.shortcut) {
      // Drawn by the style sheet beside the label, so the item's name stays its label.
      button.dataset.shortcut = entry.shortcut;
      button.setAttribute('aria-keyshortcuts', entry.shortcut.replace(/Ctrl/g, 'Control').replace(/Esc\b/, 'Escape').replace(/, /g, ' '));
    }
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

/**
 * Reads the host's menus and its list of operations that can be made to
 * fail, and builds the menu bar from them.
 * @returns {Promise<void>}
 */
export async function loadMenus() {
  const [menus, faults] = await Promise.all([api('GET', '/api/menus'), api('GET', '/api/faults')]);
  const top = HOST_MENUS.map((label) => ({ label, items: label === 'Help' ? [] : hostEntries(label) }));
  if (menus.status === 200) for (const group of menus.data.groups) placeGroup(top, group);
  else setStatus(`The menus could not be read: ${errorText(menus)}`, true);
  // Help lists the plug-ins' About group first, the page's own help after it.
  top.find((m) => m.label === 'Help').items.push(...hostEntries('Help'));
  top.push(hostMenu(faults.status === 200 ? faults.data : []));
  buildMenubar(top);
  refreshItems();
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
  if (item.getAttribute('aria-disabled') === 'true') return;  // stays open, as a desktop menu does
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

/** Keys, clicks and hover of the menu bar; a press elsewhere closes its menus. */
export function wireMenubar() {
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
    : await api('POST', documentPath(state.current, 'menu'), { item: text });
  handleCommandAnswer(res, text);
}

function handleCommandAnswer(res, text) {
  if (res.status === 202 || (res.status === 200 && res.data && res.data.dialog)) {
    setStatus(`${text} opened a dialog: answer it to go on.`);
    showDialog(res.data.dialog);
  } else if (res.status === 200) {
    showResult(res.data);
  } else if (res.status === 409 && res.data && res.data.dialog) {
    setStatus('The host has a dialog open: answer it first.', true);
    showDialog(res.data.dialog);
  } else {
    setStatus(`${text} failed: ${errorText(res)}`, true);
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
