// The server's API as the page calls it: JSON in, JSON out.

/**
 * @typedef {object} Answer
 * @property {number} status  the HTTP status (0 when the connection failed)
 * @property {any} data       the parsed JSON body; {error} for a body that is not JSON; null for none
 */

/**
 * Calls the server.
 * @param {string} method
 * @param {string} path
 * @param {any} [body]    sent as JSON, or as it is when `type` is given
 * @param {string} [type] the body's content type when it is not JSON
 * @returns {Promise<Answer>}
 */
export async function api(method, path, body, type) {
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

/**
 * The server's reason for a failed answer.
 * @param {Answer} res
 * @returns {string}
 */
export function errorText(res) {
  return (res.data && res.data.error) || `The host answered ${res.status}.`;
}

/**
 * The path of a document, or of one of its parts.
 * @param {string} id
 * @param {string} [part] "drawing", "layers", "menu", "selection"
 * @returns {string}
 */
export function documentPath(id, part) {
  return `/api/documents/${encodeURIComponent(id)}${part ? `/${part}` : ''}`;
}
