// The host's dialogs, shown in the platform's modal <dialog>: it keeps the
// rest of the page inert, moves focus in and back out, and draws the
// backdrop; the page only keeps Tab inside it. The host holds the dialog; any page may answer it, so the page
// looks again whenever it comes back into view.
import { api, errorText } from './api.js';
import { state } from './state.js';
import { $, setStatus, showResult } from './view.js';

/**
 * Shows the host's dialog, or the next one in place of the one shown.
 * @param {{id: number, title: string, items: {id: number, kind: string, text: string}[]}} dialog
 */
export function showDialog(dialog) {
  state.dialog = dialog;
  $('modal-title').textContent = dialog.title;
  const body = $('modal-body');
  const buttons = $('modal-buttons');
  body.replaceChildren();
  buttons.replaceChildren();
  for (const item of dialog.items) {
    if (item.kind === 'button') buttons.append(dialogButton(item));
    else if (item.text) {
      const p = document.createElement('p');
      p.textContent = item.text;
      body.append(p);
    }
  }
  const layer = $('modal-backdrop');
  if (!layer.open) layer.showModal();  // focuses the first button
  else buttons.querySelector('button')?.focus();  // the focused one was replaced
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
  $('modal-backdrop').close();
}

async function pressDialogItem(id) {
  for (const b of $('modal-buttons').querySelectorAll('button')) b.disabled = true;
  // A look at the host's dialog sent before the press was answered saw the
  // dialog still open: its answer must not show it again.
  state.dialogLook++;
  const res = await api('POST', '/api/dialog/press', { item: id, dialog: state.dialog?.id });
  state.dialogLook++;
  if (res.status === 200 && res.data.dialog) { showDialog(res.data.dialog); return; }
  hideDialog();
  if (res.status === 200) showResult(res.data);
  else if (res.status === 409) await syncDialog();  // another page answered it first
  else setStatus(`The dialog could not be answered: ${errorText(res)}`, true);
}

/**
 * Shows the dialog the host holds, whoever opened it; hides ours if the
 * host holds none (another page answered it).
 * @returns {Promise<void>}
 */
export async function syncDialog() {
  const look = ++state.dialogLook;
  const res = await api('GET', '/api/dialog');
  if (look !== state.dialogLook) return;  // a press or a later look overtook it
  if (res.status === 200 && res.data.dialog) showDialog(res.data.dialog);
  else if (state.dialog) hideDialog();
}

// Tab and Shift+Tab wrap around the dialog's buttons, as a modal dialog's
// keys go; the platform would let focus out to the browser's own controls.
function wrapTab(e) {
  const buttons = [...$('modal-buttons').querySelectorAll('button:not([disabled])')];
  const edge = e.shiftKey ? buttons[0] : buttons[buttons.length - 1];
  const other = e.shiftKey ? buttons[buttons.length - 1] : buttons[0];
  if (buttons.length && document.activeElement !== edge) return;
  e.preventDefault();
  other?.focus();
}

/**
 * Escape answers a dialog that has one button with it, and leaves any other
 * open: only the host closes its dialogs. Tab stays in the dialog. The page
 * looks at the host's dialog whenever it comes back into view.
 */
export function wireDialog() {
  const layer = $('modal-backdrop');
  layer.addEventListener('keydown', (e) => { if (e.key === 'Tab') wrapTab(e); });
  layer.addEventListener('cancel', (e) => {
    e.preventDefault();
    const buttons = $('modal-buttons').querySelectorAll('button:not([disabled])');
    if (buttons.length === 1) buttons[0].click();
  });
  // A browser may close a modal dialog itself (a second Escape): the host
  // still holds it, so it shows again.
  layer.addEventListener('close', () => { if (state.dialog) syncDialog(); });
  window.addEventListener('focus', syncDialog);
  document.addEventListener('visibilitychange', () => { if (!document.hidden) syncDialog(); });
}
