// The page's main thread: takes the inputs, hands them to the worker, and draws what comes
// back (progress, the summary line, the table, the pictures). It converts nothing itself.
import { OrbitView, ScatterPlot } from './plots.js';
import { TableView } from './table-view.js';

// The worker's code, put in here when the page is built.
const WORKER_SOURCE = '@WORKER_SOURCE@';
// A module that uses one 128-bit SIMD instruction: the converter needs them.
const SIMD_PROBE = new Uint8Array([0, 97, 115, 109, 1, 0, 0, 0, 1, 5, 1, 96, 0, 1, 123, 3, 2, 1, 0, 10, 10, 1, 8, 0, 65, 0, 253, 15, 253, 98, 11]);
const ORBIT_VIEW_DEFAULT_ROWS = 8;
const PASTED_NAME = 'pasted text';

const $ = (id) => document.getElementById(id);
const runs = new Map();  // id -> the state of one input
let nextId = 1;
let nextRequest = 1;
let viewed = null;       // the run whose table is shown
let chosen = false;      // whether the person chose it ("Show table"); if not, each new one is shown
let pastes = 0;
const answers = new Map(); // request -> resolve

const worker = new Worker(URL.createObjectURL(new Blob([WORKER_SOURCE], { type: 'text/javascript' })));
function ask(message) {
  const request = nextRequest++;
  return new Promise((resolve, reject) => {
    answers.set(request, { resolve, reject });
    worker.postMessage({ ...message, request });
  });
}

function formatBytes(bytes) {
  const units = ['bytes', 'kB', 'MB', 'GB', 'TB'];
  let unit = 0;
  while (bytes >= 1000 && unit < units.length - 1) {
    bytes /= 1000;
    ++unit;
  }
  return unit === 0 ? `${bytes} bytes` : `${bytes.toFixed(bytes < 10 ? 2 : 1)} ${units[unit]}`;
}

// A download's name: the input's with `ending` (".csv") in place of its last extension.
function csvName(name, ending = '.csv') {
  const dot = name.lastIndexOf('.');
  return `${dot > 0 ? name.slice(0, dot) : name}${ending}`;
}

function make(tag, properties = {}, ...children) {
  const made = Object.assign(document.createElement(tag), properties);
  made.append(...children);
  return made;
}

// One input: a card with its name, progress, Cancel, the summary line, why nothing was read
// when nothing was, and the download. `input` is a chosen file, or pasted text as a string. A
// card converted again takes the place of `replacing`, the list item of the one cancelled.
function addInput(input, name, replacing = null) {
  const id = nextId++;
  const heading = make('h3', { id: `run-${id}`, textContent: name });
  const size = typeof input === 'string' ? input.length : input.size;
  const progress = make('progress', { max: Math.max(1, size), value: 0 });
  progress.setAttribute('aria-label', `Progress of ${name}`);
  const status = make('p', { className: 'status', textContent: 'Waiting' });
  status.setAttribute('role', 'status');
  const reason = make('p', { className: 'reason', hidden: true });
  const passedOver = make('p', { className: 'passed-over', hidden: true });
  const detail = make('p', { className: 'detail', textContent: `${formatBytes(size)} to read` });
  const cancel = make('button', { type: 'button', className: 'quiet', textContent: 'Cancel' });
  const again = make('button', { type: 'button', className: 'quiet', textContent: 'Convert again', hidden: true });
  const view = make('button', { type: 'button', className: 'quiet', textContent: 'Show table', hidden: true });
  const download = make('a', { textContent: 'Download CSV', download: csvName(name), hidden: true });
  const downloadElements = make('a', { textContent: 'Download elements', download: csvName(name, '-elements.csv'), hidden: true });
  downloadElements.title = 'Every block read by its labels: comets and every layout with their true elements';
  const card = make('section', { className: 'run' }, heading,
    make('div', { className: 'actions' }, view, download, downloadElements, cancel, again), progress, status, reason, passedOver, detail);
  card.setAttribute('aria-labelledby', heading.id);
  const item = make('li', {}, card);
  if (replacing) replacing.replaceWith(item);
  else $('runs').append(item);
  const run = { id, name, size, card, progress, status, reason, passedOver, detail, cancel, again, view, download, downloadElements, picked: new Set(), sort: { column: -1, descending: false }, filter: '', reorders: 0 };
  runs.set(id, run);
  cancel.addEventListener('click', () => {
    worker.postMessage({ type: 'cancel', id });
    cancel.disabled = true;
  });
  again.addEventListener('click', () => {
    runs.delete(id);
    addInput(input, name, item);
    runs.get(nextId - 1).cancel.focus();
  });
  view.addEventListener('click', () => {
    chosen = true;
    showRun(run);
    $('result').scrollIntoView({ behavior: 'smooth', block: 'start' });
  });
  worker.postMessage({ type: 'convert', id, input, name });
}

function finished(run, { status, message, rows, reason, passedOver, scatter }) {
  run.cancel.hidden = true;
  run.progress.value = run.progress.max;
  run.rows = rows;
  run.scatter = { ...scatter, rows };
  run.failed = status !== 0;
  run.status.textContent = message.replace(/\n$/, '');
  run.status.classList.toggle('failed', run.failed);
  run.reason.textContent = reason;
  run.reason.hidden = reason === '';
  run.passedOver.textContent = passedOver;
  run.passedOver.hidden = passedOver === '';
  run.detail.textContent = `${formatBytes(run.size)} read, ${rows.toLocaleString('en')} ${rows === 1 ? 'row' : 'rows'}` +
    (run.failed ? ': an incomplete table' : '');
  run.view.hidden = false;
  for (let row = 0; row < Math.min(rows, ORBIT_VIEW_DEFAULT_ROWS); ++row) run.picked.add(row);
  // The summary line shows first; the table and the pictures of a large input take a moment.
  setTimeout(() => {
    if (!chosen) showRun(run);
  });
}

worker.onmessage = ({ data }) => {
  if (data.request !== undefined && answers.has(data.request)) {
    const { resolve, reject } = answers.get(data.request);
    answers.delete(data.request);
    if (data.type === 'error') reject(new Error(data.error));
    else resolve(data);
    return;
  }
  if (data.type === 'columns') {
    tableView.setColumns(data.titles);
    return;
  }
  const run = runs.get(data.id);
  if (!run) return;
  switch (data.type) {
    case 'started':
      run.status.textContent = 'Converting';
      run.size = data.size;
      run.progress.max = Math.max(1, data.size);
      break;
    case 'progress':
      run.progress.value = data.bytesRead;
      run.detail.textContent = `${formatBytes(data.bytesRead)} of ${formatBytes(run.size)} read, ${data.rows.toLocaleString('en')} rows so far`;
      break;
    case 'done':
      finished(run, data);
      break;
    case 'table':
      run.download.href = URL.createObjectURL(data.table);
      run.download.hidden = false;
      run.downloadElements.href = URL.createObjectURL(data.elements);
      run.downloadElements.hidden = false;
      break;
    case 'cancelled':
      run.cancel.hidden = true;
      run.progress.hidden = true;
      run.again.hidden = false;
      run.status.textContent = 'Cancelled';
      run.detail.textContent = 'Convert again to read it from the start.';
      break;
    case 'error':
      run.cancel.hidden = true;
      run.status.textContent = `The page failed: ${data.error}`;
      run.status.classList.add('failed');
      break;
  }
};

// The table and the pictures of one run.
const tableView = new TableView($('table'), {
  fetchRows: async (from, to) => (await ask({ type: 'rows', id: viewed.id, from, to })).rows,
  onSort: async (column, descending) => {
    viewed.sort = { column, descending };
    await reorder(`Sorting by ${tableView.titles[column]}…`);
  },
  onPick: (index, picked) => {
    if (picked) viewed.picked.add(index);
    else viewed.picked.delete(index);
    drawOrbits();
  },
});
const orbitView = new OrbitView($('orbits'), $('orbit-legend'), $('orbit-tip'), $('orbit-count'));
const scatter = new ScatterPlot($('scatter'), {
  count: $('scatter-count'), tip: $('scatter-tip'), hint: $('scatter-hint'),
  ask: (message) => ask({ ...message, id: viewed.id }),
});
// What each picture drew stays on its canvas as data attributes, where the page's tests read it.
for (const canvas of [$('orbits'), $('scatter')]) {
  canvas.addEventListener('drawn', ({ detail }) => {
    for (const [key, value] of Object.entries(detail)) canvas.dataset[key] = JSON.stringify(value);
  });
}

// Asks the worker for the rows in the run's order, saying what it does meanwhile (a sort or a
// filter of millions of rows takes a moment); an answer to a question asked since is let go.
async function reorder(doing = '') {
  const run = viewed;
  const asked = ++run.reorders;
  if (doing) $('table-count').textContent = doing;
  const { count } = await ask({ type: 'order', id: run.id, sortColumn: run.sort.column, descending: run.sort.descending, filter: run.filter });
  if (viewed !== run || asked !== run.reorders) return;
  $('table-count').textContent = `${count.toLocaleString('en')} of ${run.rows.toLocaleString('en')} rows`;
  tableView.reset(count, { picked: run.picked, sort: run.sort });
}

// What the orbit view calls a row: "(433) Eros", "C/2010 X1 (Elenin)", "2026 WQ7".
function displayName({ index, name, number, designation }) {
  if (Number.isFinite(number)) return `(${number}) ${name || designation}`.trim();
  if (designation && name) return `${designation} (${name})`;
  return name || designation || `Row ${index + 1}`;
}

// The ticked rows' orbits, from their elements as their labels give them. Ticks come faster than
// the worker answers, and its answers in any order: only the latest is drawn.
let orbitRequests = 0;
async function drawOrbits() {
  const run = viewed;
  const asked = ++orbitRequests;
  const indices = [...run.picked].sort((a, b) => a - b);
  const { rows } = await ask({ type: 'elements', id: run.id, indices });
  if (viewed !== run || asked !== orbitRequests) return;
  orbitView.show(rows.map((row) => ({
    name: displayName(row),
    center: row.center, a: row.a, e: row.e, q: row.q, i: row.i, node: row.Omega, perihelion: row.w,
    meanAnomaly: row.M, n: row.n, Tp: row.Tp, epoch: row.epoch,
  })));
}

function showRun(run) {
  viewed = run;
  for (const other of runs.values()) {
    other.card.classList.toggle('viewed', other === run);
    other.view.setAttribute('aria-pressed', String(other === run));
  }
  $('result').hidden = false;
  $('result-heading').textContent = `Table of ${run.name}`;
  $('incomplete').hidden = !run.failed;
  $('filter').value = run.filter;
  // With no rows there is nothing to draw, and the pictures say so rather than stand empty.
  $('pictures').hidden = run.rows === 0;
  $('nothing-to-draw').hidden = run.rows !== 0;
  scatter.show(run.scatter);
  reorder();
  drawOrbits();
}

let filterTimer = 0;
$('filter').addEventListener('input', () => {
  clearTimeout(filterTimer);
  filterTimer = setTimeout(() => {
    if (viewed === null) return;
    viewed.filter = $('filter').value;
    reorder('Filtering…');
  }, 200);
});
for (const radio of document.querySelectorAll('input[name=scatter-y]')) {
  radio.addEventListener('change', () => scatter.setAgainst(radio.value));
}
$('zoom-in').addEventListener('click', () => scatter.zoom(0.5));
$('zoom-out').addEventListener('click', () => scatter.zoom(2));
$('zoom-reset').addEventListener('click', () => scatter.reset());
matchMedia('(prefers-color-scheme: dark)').addEventListener('change', () => {
  orbitView.draw();
  scatter.draw();
});

// Inputs: chosen, dropped anywhere on the page, or pasted.
function addFiles(files) {
  for (const file of files) addInput(file, file.name);
}
$('choose').addEventListener('change', (event) => {
  addFiles(event.target.files);
  event.target.value = '';
});
document.addEventListener('dragover', (event) => {
  event.preventDefault();
  $('drop').classList.add('over');
});
document.addEventListener('dragleave', () => $('drop').classList.remove('over'));
document.addEventListener('drop', (event) => {
  event.preventDefault();
  $('drop').classList.remove('over');
  addFiles(event.dataTransfer.files);
});
// Pasted text goes to the worker as it is, which encodes it and reads it as a file is read.
$('convert-text').addEventListener('click', () => {
  const text = $('paste').value;
  $('paste-status').textContent = text === '' ? 'There is nothing to convert: paste text into the box first.' : '';
  if (text === '') return;
  ++pastes;
  addInput(text, pastes === 1 ? PASTED_NAME : `${PASTED_NAME} ${pastes}`);
});

if (!WebAssembly.validate(SIMD_PROBE)) {
  const message = $('unsupported');
  message.textContent = 'This browser cannot run the converter: it lacks 128-bit WebAssembly SIMD, which current ' +
    'Chrome, Edge, Firefox and Safari all have. Please update it.';
  message.hidden = false;
  for (const control of [$('choose'), $('paste'), $('convert-text')]) control.disabled = true;
}
