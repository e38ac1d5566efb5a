// The page's worker: converts the inputs one after another, as the program converts files,
// keeps their tables and elements tables, and answers the page's questions about them (rows to
// show, an order to show them in, the elements of rows to draw, the scatter plot's picture).
// The page's main thread only draws.
import { blobChunks, convertInput, loadConverter, textChunks } from './convert.js';
import { InputSample, PassedOver, whyNoRecords } from './diagnose.js';
import { ScatterData } from './scatter-data.js';
import { CsvBytes, TableStore } from './table-store.js';

// The converter module, put in here when the page is built.
const CONVERTER_BASE64 = '@CONVERTER_WASM_BASE64@';
const PROGRESS_INTERVAL_MS = 100;

const converter = loadConverter(Uint8Array.from(atob(CONVERTER_BASE64), (c) => c.charCodeAt(0)));
// The page titles the table's columns as the converter's header does.
converter.then(({ columns }) => self.postMessage({ type: 'columns', titles: columns.titles }), () => {});
const tables = new Map();     // input id -> TableStore
const elementTables = new Map();  // input id -> CsvBytes of the elements table
const scatters = new Map();   // input id -> ScatterData
const orders = new Map();     // input id -> the row order last asked for
const cancelled = new Set();  // input ids
let queue = Promise.resolve();

// `input` is a chosen file (a Blob) or pasted text (a string), which is encoded here as it is
// read.
async function convert({ id, input, name }) {
  if (cancelled.has(id)) {
    self.postMessage({ type: 'cancelled', id });
    return;
  }
  const pasted = typeof input === 'string';
  // The bytes of pasted text are counted as they are read.
  const size = pasted ? input.length : input.size;
  self.postMessage({ type: 'started', id, size });
  const loaded = await converter;
  const store = new TableStore(size, loaded.readNumbers);
  const elements = new CsvBytes(size);
  const sample = new InputSample();
  const passedOver = new PassedOver();
  let shown = 0;
  const result = await convertInput(loaded, {
    name,
    chunks: pasted ? textChunks(input) : blobChunks(input),
    onTable: (written) => store.addBytes(written),
    onElements: (written) => elements.addBytes(written),
    onNotes: (notes) => {
      store.addNotes(notes);
      elements.addRows(notes.elementLengths);
    },
    onChunk: (chunk) => {
      sample.add(chunk);
      passedOver.add(chunk);
    },
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
  const scatter = new ScatterData(store.finish());
  elements.finishRows();
  tables.set(id, store);
  elementTables.set(id, elements);
  scatters.set(id, scatter);
  const reason = store.rowCount === 0 && result.status === 0 ? whyNoRecords(sample.view()) : '';
  passedOver.finish();
  self.postMessage({
    type: 'done', id, status: result.status, message: result.message, rows: store.rowCount, reason,
    passedOver: passedOver.describe(),
    scatter: { drawn: scatter.drawn, whole: scatter.whole },
  });
  // The downloads come a moment after the summary line: making a Blob copies the whole table to
  // the browser, and the page's main thread, making its URL, would wait for the copy, frozen.
  // Each is handed over once its last byte can be read.
  // Both are made at once: rows may be asked for from either as soon as the page has the summary.
  const table = store.toBlob();
  const elementsTable = elements.toBlob();
  await table.slice(-1).arrayBuffer();
  await elementsTable.slice(-1).arrayBuffer();
  self.postMessage({ type: 'table', id, table, elements: elementsTable });
}

// Rows to show: the given table indices, or positions from..to in the order last asked for
// (table order at first). Each has its fields and the words for its marks (none for an unmarked
// row).
async function rows({ id, request, from, to, indices }) {
  const store = tables.get(id);
  const { describe, columns } = await converter;
  let wanted = indices;
  if (wanted === undefined) {
    const order = orders.get(id);
    wanted = [];
    const end = Math.min(to, order ? order.length : store.rowCount);
    for (let position = from; position < end; ++position) wanted.push(order ? order[position] : position);
  }
  const found = (await store.rows(wanted)).map((row) => {
    // The value fields, after the name and number.
    const values = columns.titles.slice(1).map((_, k) => row.fields[k + 1] ?? '');
    return { index: row.index, fields: row.fields, marked: row.marks !== 0, note: row.marks === 0 ? '' : describe(row.marks, values) };
  });
  self.postMessage({ type: 'rows', id, request, rows: found });
}

// The elements table's columns that hold texts; the others hold numbers.
const TEXT_ELEMENTS = new Set(['name', 'designation', 'center', 'note']);
const encoder = new TextEncoder();

// The elements of the given rows, as their labels give them: each by the elements table's
// column names, numbers as numbers (NaN where missing), read at once as the converter reads
// values, texts as texts.
async function elementRows({ id, request, indices }) {
  const store = elementTables.get(id);
  const { readNumbers } = await converter;
  const names = store.header.split(',');
  const numberColumns = names.flatMap((name, k) => (TEXT_ELEMENTS.has(name) ? [] : [k]));
  const rows = await store.rows(indices);
  const numbers = new Float64Array(rows.length * numberColumns.length);
  readNumbers(encoder.encode(rows.map(({ fields }) => numberColumns.map((k) => `${fields[k] ?? ''}\n`).join('')).join('')), numbers);
  const found = rows.map(({ index, fields }, r) => {
    const row = { index };
    let number = r * numberColumns.length;
    names.forEach((name, k) => {
      row[name] = TEXT_ELEMENTS.has(name) ? fields[k] ?? '' : numbers[number++];
    });
    return row;
  });
  self.postMessage({ type: 'elements', id, request, rows: found });
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

// The scatter plot's picture of a view, handed over with its memory.
async function picture({ id, request, view }) {
  const drawn = scatters.get(id).picture(view);
  const buffers = [drawn.dots?.buffer ?? drawn.pixels.buffer];
  self.postMessage({ type: 'picture', id, request, picture: drawn }, buffers);
}

// The name of the drawn row nearest a place on the scatter plot, if one is near.
async function nearest({ id, request, near }) {
  const index = scatters.get(id).nearest(near);
  let name = null;
  if (index >= 0) [{ fields: [name] }] = await tables.get(id).rows([index]);
  self.postMessage({ type: 'nearest', id, request, index, name });
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
    case 'elements':
      reply(elementRows(data));
      break;
    case 'order':
      reply(order(data));
      break;
    case 'picture':
      reply(picture(data));
      break;
    case 'nearest':
      reply(nearest(data));
      break;
  }
};
