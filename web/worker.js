// The page's worker: converts the inputs one after another, as the program converts files,
// keeps their tables, and answers the page's questions about them (rows to show, an order to
// show them in). The page's main thread only draws.
import { blobChunks, convertInput, loadConverter } from './convert.js';
import { TableStore } from './table-store.js';

// The converter module, put in here when the page is built.
const CONVERTER_BASE64 = '@CONVERTER_WASM_BASE64@';
const PROGRESS_INTERVAL_MS = 100;

const converter = loadConverter(Uint8Array.from(atob(CONVERTER_BASE64), (c) => c.charCodeAt(0)));
const tables = new Map();     // input id -> TableStore
const orders = new Map();     // input id -> the row order last asked for
const cancelled = new Set();  // input ids
let queue = Promise.resolve();

async function convert({ id, input, name }) {
  if (cancelled.has(id)) {
    self.postMessage({ type: 'cancelled', id });
    return;
  }
  const store = new TableStore(input.size);
  let shown = 0;
  self.postMessage({ type: 'started', id, size: input.size });
  const result = await convertInput(await converter, {
    name,
    chunks: blobChunks(input),
    onTable: (bytes) => store.addBytes(bytes),
    onNotes: (notes) => store.addNotes(notes),
    onProgress: (bytesRead) => {
      const now = performance.now();
      if (now - shown < PROGRESS_INTERVAL_MS) return;
      shown = now;
      self.postMessage({ type: 'progress', id, bytesRead, rows: store.rowCount });
    },
    cancelled: () => cancelled.has(id),
  });
  if (result.cancelled) {
    self.postMessage({ type: 'cancelled', id });
    return;
  }
  const notes = store.finish();
  tables.set(id, store);
  self.postMessage({ type: 'done', id, status: result.status, message: result.message, rows: store.rowCount, notes },
    Object.values(notes).map((values) => values.buffer));
  // The download comes a moment after the summary line: making the Blob copies the whole table.
  self.postMessage({ type: 'table', id, table: store.toBlob() });
}

// Rows to show: the given table indices, or positions from..to in the order last asked for
// (table order at first).
async function rows({ id, request, from, to, indices }) {
  const store = tables.get(id);
  let wanted = indices;
  if (wanted === undefined) {
    const order = orders.get(id);
    wanted = [];
    const end = Math.min(to, order ? order.length : store.rowCount);
    for (let position = from; position < end; ++position) wanted.push(order ? order[position] : position);
  }
  self.postMessage({ type: 'rows', id, request, rows: await store.rows(wanted) });
}

// Orders are made one after another, each waiting for the one asked for before it (which may
// need a column read first): the last asked for is the one kept, whichever takes longer.
let ordering = Promise.resolve();
function order({ id, request, sortColumn, descending, filter }) {
  const made = ordering.then(async () => {
    const store = tables.get(id);
    const result = await store.order({ sortColumn, descending, filter });
    orders.set(id, result);
    self.postMessage({ type: 'order', id, request, count: result.length });
  });
  ordering = made.catch(() => {});
  return made;
}

self.onmessage = ({ data }) => {
  const reply = (work) => work.catch((error) => self.postMessage({ type: 'error', id: data.id, request: data.request, error: String(error) }));
  switch (data.type) {
    case 'convert':
      queue = queue.then(() => reply(convert(data)));
      break;
    case 'cancel':
      cancelled.add(data.id);
      break;
    case 'rows':
      reply(rows(data));
      break;
    case 'order':
      reply(order(data));
      break;
  }
};
