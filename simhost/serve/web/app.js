// The page of `simhost serve`: the host's menus, the drawing with the
// selection drawn over it, the document's layers and selection, and the
// host's dialogs. Everything shown comes from the server's API.
import { wireCanvas } from './canvas.js';
import { refreshDocuments, wireDocuments } from './documents.js';
import { syncDialog, wireDialog } from './dialogs.js';
import { loadMenus, wireMenubar } from './menus.js';
import { wireEdits } from './edits.js';
import { state } from './state.js';
import { setStatus, wireView } from './view.js';

// Modules keep their names to themselves: the state is put where the
// browser's console (and a test driving the page) can read it.
window.state = state;

async function start() {
  wireMenubar();
  wireView();
  wireCanvas();
  wireEdits();
  wireDocuments();
  wireDialog();
  await Promise.all([loadMenus(), refreshDocuments()]);
  await syncDialog();
  document.body.classList.add('ready');
}

start().catch((err) => setStatus(`The page could not start: ${err.message}`, true));
