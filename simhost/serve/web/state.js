// The page's state, every field it ever holds. The host holds the truth
// (documents, selections, the open dialog); this is what the page shows of it.

/**
 * @typedef {object} ViewState
 * @property {number[]} box   the drawing's box [x, y, width, height] in its own units
 * @property {number} scale   screen pixels per drawing unit
 * @property {number} x       the canvas's offset in the viewport, in pixels
 * @property {number} y
 */

/**
 * The one state of the page.
 * @type {{docs: object[], current: (string|null), dialog: (object|null), dialogLook: number,
 *         view: ViewState, fitted: boolean, answer: (object|null), revision: (number|null),
 *         hasDrawing: boolean, spaceHeld: boolean}}
 */
export const state = {
  docs: [],            // the documents the host holds, as GET /api/documents lists them
  current: null,       // id of the document shown
  dialog: null,        // the dialog shown, as the host holds it
  dialogLook: 0,       // counts looks at the host's dialog and presses, newest wins
  view: { box: [0, 0, 300, 150], scale: 1, x: 0, y: 0 },
  fitted: false,       // the view fits the drawing and follows the viewport's size
  answer: null,        // the host's last answer for the shown document (selection, undo, redo, layers)
  revision: null,      // the revision of the drawing shown; a newer one in an answer reloads it
  hasDrawing: false,   // the shown document has a drawing (a JSON document has none)
  spaceHeld: false,    // Space is down: a drag on the canvas pans
};
