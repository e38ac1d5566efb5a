// The page's converter against the Linux program: thousands of inputs go through the page's
// own worker code (the converter module, fed chunk by chunk, and the table store that makes the
// download), and each must give the program's table, summary line and status, byte for byte,
// and the Python module's elements table. The columns the page sorts and filters by, read back
// from the table in small pieces, must be the fields of its rows; the values it plots, those of
// its elements table.
//
//   node tests/web/differential.mjs CONVERTER.wasm NATIVE_PROGRAM PYTHON PYTHON_MODULE_FOLDER
import { spawnSync } from 'node:child_process';
import { readFileSync, readdirSync } from 'node:fs';
import { join } from 'node:path';

import { blobChunks, convertInput, loadConverter, textChunks } from '../../web/convert.js';
import { CsvBytes, TableStore } from '../../web/table-store.js';
import { splitRow } from '../../web/csv.js';
import { EROS } from './sample.mjs';

const [converterPath, programPath, python, pythonModules] = process.argv.slice(2);
const converter = await loadConverter(readFileSync(converterPath));

function native(input) {
  const run = spawnSync(programPath, [], { input, maxBuffer: 1 << 30 });
  return { table: run.stdout, message: run.stderr.toString('latin1'), status: run.status, elements: elementsOf(input) };
}

// The Python module's elements tables of inputs, made in one process for all of them: asked for
// each input in turn, they are made for every input this test will ask for, the first time.
const madeElements = new Map();
const ELEMENTS_SCRIPT = `
import base64, sys, orbitcsv
for line in sys.stdin:
    sys.stdout.write(base64.b64encode(orbitcsv.convert_elements(base64.b64decode(line))).decode() + "\\n")
`;
function makeElements(inputs) {
  const run = spawnSync(python, ['-c', ELEMENTS_SCRIPT], {
    input: inputs.map((input) => input.toString('base64')).join('\n') + '\n', maxBuffer: 1 << 30,
    env: { ...process.env, PYTHONPATH: pythonModules },
  });
  if (run.status !== 0) throw new Error(`python: ${run.stderr}`);
  run.stdout.toString().trim().split('\n').forEach((line, k) => madeElements.set(inputs[k].toString('base64'), Buffer.from(line, 'base64')));
}
function elementsOf(input) {
  const key = input.toString('base64');
  if (!madeElements.has(key)) makeElements([input]);
  return madeElements.get(key);
}

// The input through the page's code, in chunks of the sizes given in turn (the last repeated).
async function page(input, sizes, { failAfter = -1 } = {}) {
  async function* chunks() {
    let at = 0;
    for (let k = 0; at < input.length; ++k) {
      if (failAfter >= 0 && at >= failAfter) throw new Error('the file went away');
      const size = sizes[Math.min(k, sizes.length - 1)];
      yield input.subarray(at, at + size);
      at += size;
    }
  }
  const store = new TableStore(0, converter.readNumbers, COLUMN_READ_BYTES);
  const elementStore = new CsvBytes();
  const result = await convertInput(converter, {
    name: 'input.txt', chunks: chunks(), onTable: (bytes) => store.addBytes(bytes), onElements: (bytes) => elementStore.addBytes(bytes),
    onNotes: (notes) => {
      store.addNotes(notes);
      elementStore.addRows(notes.elementLengths);
    },
  });
  const notes = store.finish();
  elementStore.finishRows();
  const table = Buffer.from(await store.toBlob().arrayBuffer());
  const elements = Buffer.from(await elementStore.toBlob().arrayBuffer());
  await checkColumns(store, table, notes);
  await checkPlotted(elementStore, notes);
  // Every row is noted, and the notes account for every byte after the header.
  const rows = table.toString('latin1').split('\n').length - 2;
  if (store.rowCount !== rows || store.rowStarts.values[store.rowCount] !== table.length) {
    throw new Error(`notes on ${store.rowCount} rows ending at ${store.rowStarts.values[store.rowCount]}, table of ${rows} rows and ${table.length} bytes`);
  }
  return { table, elements, message: Buffer.from(result.message).toString('latin1'), status: result.status };
}

// Small enough that a column is read back in many pieces.
const COLUMN_READ_BYTES = 1000;
const rowDecoder = new TextDecoder('utf-8', { ignoreBOM: true });

// What the converter takes for a number: a decimal as element lines write them.
const NUMBER = /^[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?$/;

// The values the scatter plot draws are the elements table's, to a float's precision, but for
// orbits about the Earth or the Moon, which it does not draw; each row of the elements table,
// read back, has them.
async function checkPlotted(elementStore, notes) {
  const names = elementStore.header.split(',');
  const rows = await elementStore.rows(Array.from({ length: notes.a.length }, (_, k) => k));
  for (const { index, fields } of rows) {
    const field = (name) => fields[names.indexOf(name)];
    const planetCentred = ['Earth', 'Moon'].includes(field('center'));
    for (const name of ['a', 'e', 'i']) {
      const expected = planetCentred || field(name) === '' ? NaN : Math.fround(Number(field(name)));
      if (!Object.is(notes[name][index], expected)) throw new Error(`row ${index}: ${name} ${notes[name][index]} noted for ${JSON.stringify(field(name))}`);
    }
  }
}

// The notes on each row against its fields (which are not numbers), and each column as the
// store reads it back, against the fields of each row decoded on its own.
async function checkColumns(store, table, notes) {
  const { titles, notNumberMarks } = converter.columns;
  const rows = [];
  for (let at = table.indexOf(10) + 1; at < table.length;) {
    const end = table.indexOf(10, at);
    rows.push(splitRow(rowDecoder.decode(table.subarray(at, end))));
    at = end + 1;
  }
  rows.forEach((fields, row) => {
    for (let column = 1; column < titles.length; ++column) {
      const noted = Boolean(notes.marks[row] & notNumberMarks[column]);
      if (noted === NUMBER.test(fields[column])) throw new Error(`row ${row}: ${JSON.stringify(fields[column])} noted as ${noted ? 'not ' : ''}a number`);
    }
  });
  for (let column = 0; column < titles.length; ++column) {
    const values = await store.column(column);
    rows.forEach((fields, row) => {
      const notNumber = column > 0 && store.marks.values[row] & notNumberMarks[column];
      const expected = column === 0 ? fields[0] : notNumber ? NaN : Number(fields[column]);
      if (!Object.is(values[row], expected)) {
        throw new Error(`row ${row}, column ${titles[column]}: ${values[row]} read back, ${JSON.stringify(fields[column])} in the table`);
      }
    });
  }
}

let inputs = 0;
let failures = 0;
async function check(label, input, expected, sizes, options) {
  ++inputs;
  let got;
  try {
    got = await page(input, sizes, options);
  } catch (error) {
    if (++failures <= 10) console.error(`DIFFERS: ${label} (chunks of ${sizes.join(', ')}): ${error.message}`);
    return;
  }
  if (got.status === expected.status && got.message === expected.message && got.table.equals(expected.table) &&
      got.elements.equals(expected.elements)) return;
  if (++failures <= 10) {
    console.error(`DIFFERS: ${label} (chunks of ${sizes.join(', ')}): status ${got.status} for ${expected.status}, ` +
      `message ${JSON.stringify(got.message)} for ${JSON.stringify(expected.message)}, ` +
      `table of ${got.table.length} bytes for ${expected.table.length}` +
      (got.table.equals(expected.table) ? '' : `, first difference at ${firstDifference(got.table, expected.table)}`) +
      (got.elements.equals(expected.elements) ? '' : `, elements table differs at ${firstDifference(got.elements, expected.elements)}`));
  }
}
function firstDifference(a, b) {
  let at = 0;
  while (at < a.length && at < b.length && a[at] === b[at]) ++at;
  return at;
}

// splitmix32: the same inputs on every run.
let seed = 0x6f726269;
function random() {
  seed = (seed + 0x9e3779b9) | 0;
  let z = seed;
  z = Math.imul(z ^ (z >>> 16), 0x85ebca6b);
  z = Math.imul(z ^ (z >>> 13), 0xc2b2ae35);
  return ((z ^ (z >>> 16)) >>> 0) / 2 ** 32;
}
const pick = (items) => items[Math.floor(random() * items.length)];
const below = (n) => Math.floor(random() * n);

const bytes = (text) => Buffer.from(text, 'latin1');

// Lines of every kind the scanner tells apart, as bytes.
function randomLine() {
  switch (below(17)) {
    case 0: return pick(['(433) Eros', '(1) Ceres', '2026 WQ7', 'C/2026 K4 (Marlowe)', '(4179) Toutatis, "revised"',
      '( 433 )', 'Eros (433)', '(11021) Foder\xc3\xa0', '\xef\xbb\xbf2026 WQ7', '<img src=x onerror=alert(1)>', '(7) Iris\xff\xfe']);
    case 1: case 2: return pick([EROS[1], 'Epoch 2026 Dec. 17.0 TT = JDT 2461026.25', 'Epoch JDT=TT', 'Epoch TT = JDT',
      'Epoch 2000 Jan. 1.5 TT = JDT 2451545.0', 'Epoch 2026 TT = JDT -1e3', 'Epoch TT = JDT 1D5', 'Epoch 2026 TT = JD 1',
      'Epoch\t2026 TT = JDT 1', 'epoch 2026 TT = JDT 1', `Epoch 2026 TT = JDT 24${below(100000)}.${pick(['5', '0', '25', '4999999'])}`]);
    case 3: case 4: case 5: case 6: return pick([...EROS.slice(2), 'T  2026 Oct. 27.73412 TT', 'q   0.3914560      Peri.  308.49213']);
    case 7: return pick(['Id. 1898 DQ', 'Id', 'Ida']);
    case 8: return pick(['', ' ', '\t', '\x1a', '\r']);
    case 9: return 'x'.repeat(pick([129, 130, 131, 132, 200, 262, 263, 400]));
    case 10: return 'Observations of the night, with residuals:  0.1-  0.2+';
    case 11: return `z\0${pick(EROS)}`;
    case 12: return pick(EROS).slice(0, below(60));
    case 13: return Array.from({ length: below(40) }, () => String.fromCharCode(below(256))).join('');
    case 14: return `${pick(EROS.slice(2)).slice(0, 20)},"${pick(['', '"', ',', '\r'])}`;
    case 15: {
      // Element lines whose values are numbers of other forms, or not numbers.
      const value = pick(['0e400', '-0e999', '1e-5', '-0', '.5', '5.', '1.5E+3', '+7', '4e38', 'x1', '+-1', '1e', 'e5', '.', '1.2.3',
        '99999999999999999999']).padEnd(11);
      return pick([`a   ${value}    Node   304.28871`, `e   ${value}    Incl.  ${value}`]);
    }
    default: return `(${below(100000)}) ${pick(['Vesta', 'Halvorsen', 'Ito', 'Jos\xc3\xa9'])}`;
  }
}

function randomInput() {
  const lines = [];
  const count = below(60);
  for (let k = 0; k < count; ++k) {
    if (below(4) === 0) {
      lines.push(pick(EROS.slice(0, 1).concat([randomLine()])), ...EROS.slice(1));  // a whole block
    } else {
      lines.push(randomLine());
    }
  }
  const end = pick(['\n', '\n', '\n', '\r\n']);
  let text = lines.join(end);
  if (below(3) > 0) text += end;
  return bytes(text);
}

// An element list: blocks one after another, as orbit computations print them.
function elementList(blocks, lineEnd = '\n') {
  const lines = [];
  for (let k = 0; k < blocks; ++k) {
    lines.push(`(${k + 1}) Minor ${k}`, `Epoch 2026 Dec. 17.0 TT = JDT 24610${String(k % 100).padStart(2, '0')}.5`, ...EROS.slice(2));
  }
  return bytes(lines.join(lineEnd) + lineEnd);
}

const SIZES = [[1], [2], [3], [7], [64], [131], [132], [4096], [1 << 20], [5, 1, 300, 2, 65536]];

// The page's column titles are the program's.
{
  ++inputs;
  const header = native(Buffer.alloc(0)).table.toString('latin1');
  if (header !== `${converter.columns.titles.join(',')}\n`) {
    ++failures;
    console.error(`DIFFERS: the program's header ${JSON.stringify(header)} and the page's titles ${converter.columns.titles.join(',')}`);
  }
}

// The fuzz corpora and the example, in chunks of every size.
const corpora = ['conversion', 'epoch', 'labels', 'scanner'].flatMap((name) => {
  const folder = join('fuzz', 'corpus', name);
  return readdirSync(folder).map((file) => join(folder, file));
});
for (const file of ['examples/circular.txt', ...corpora]) {
  const input = readFileSync(file);
  const expected = native(input);
  for (const sizes of SIZES) await check(file, input, expected, sizes);
}

// Random inputs, each in random chunks.
const randomInputs = Array.from({ length: 2000 }, randomInput);
makeElements(randomInputs);
for (let k = 0; k < randomInputs.length; ++k) {
  const input = randomInputs[k];
  const sizes = Array.from({ length: 8 }, () => pick([1, 2, 3, 5, 17, 64, 131, 1000, 1 << 16]));
  await check(`random input ${k}`, input, native(input), sizes);
}

// Element lists, LF and CR LF, and larger than the converter's buffers.
for (const [blocks, lineEnd] of [[1, '\n'], [700, '\n'], [700, '\r\n'], [6000, '\n']]) {
  const input = elementList(blocks, lineEnd);
  const expected = native(input);
  for (const sizes of [[1 << 20], [65536], [4093], [131]]) await check(`element list of ${blocks}`, input, expected, sizes);
}

// A block among prose, split once at every offset, and once into single bytes.
{
  const input = bytes(`Prose before\n${EROS.join('\n')}\nprose after\n${EROS.join('\r\n')}\r\n`);
  const expected = native(input);
  for (let at = 0; at <= input.length; ++at) await check(`split at ${at}`, input, expected, [at, input.length]);
}

// A read that fails leaves the rows converted before it, and gives the program's message.
{
  const input = elementList(3000);
  const failAt = 1 << 19;
  const got = await page(input, [65536], { failAfter: failAt });
  const whole = native(input).table;
  const before = native(input.subarray(0, failAt)).table;
  ++inputs;
  // The rows of the bytes read, but for the last, whose line the failure may have cut.
  const rows = (table) => table.toString('latin1').split('\n').length - 1;
  if (got.status !== 2 || got.message !== 'Cannot read input file input.txt\n' ||
      !whole.subarray(0, got.table.length).equals(got.table) || got.table.at(-1) !== 10 || rows(got.table) < rows(before) - 1) {
    ++failures;
    console.error(`DIFFERS: a failed read gave status ${got.status}, message ${JSON.stringify(got.message)}, ${got.table.length} bytes`);
  }
}

// The Blob reader of the worker gives the bytes as they are.
{
  const input = elementList(4000);
  const expected = native(input);
  const store = new TableStore();
  const result = await convertInput(converter, {
    name: 'blob', chunks: blobChunks(new Blob([input]), 65536), onTable: (b) => store.addBytes(b), onNotes: (n) => store.addNotes(n),
  });
  ++inputs;
  store.finish();
  if (!Buffer.from(await store.toBlob().arrayBuffer()).equals(expected.table) || result.message !== expected.message) {
    ++failures;
    console.error('DIFFERS: the table read from a Blob');
  }
}

// Pasted text, encoded as it is read in chunks of every size, gives the table of its UTF-8 bytes,
// a pair of surrogates cut by no chunk and a lone one written as U+FFFD, as TextEncoder writes it.
{
  const text = `${EROS.join('\n').replace('Eros', 'Eros \u{1F680}\u00e9 \ud800 x')}\n`.repeat(3);
  const expected = native(Buffer.from(text, 'utf8'));
  for (const size of [1, 2, 3, 5, 16, 1 << 20]) {
    ++inputs;
    const store = new TableStore();
    const result = await convertInput(converter, {
      name: 'pasted text', chunks: textChunks(text, size), onTable: (b) => store.addBytes(b), onNotes: (n) => store.addNotes(n),
    });
    store.finish();
    if (!Buffer.from(await store.toBlob().arrayBuffer()).equals(expected.table) || result.message !== expected.message) {
      ++failures;
      console.error(`DIFFERS: pasted text read ${size} characters at a time`);
    }
  }
}

// The page reads the tables' numbers through the converter, as Number() reads their text; a text
// that is not a number, the empty one included, is NaN. Some 300 kB of texts, so that they pass
// through the converter's memory in several parts.
{
  let seed = 2026;
  const random = (n) => Math.floor((seed = (seed * 1103515245 + 12345) % 2 ** 31) / 2 ** 31 * n);
  const digits = (count) => Array.from({ length: count }, () => random(10)).join('');
  const texts = ['0', '-0', '-0.0', '+7', '.5', '5.', '0.2228350', '1.4579614', '61026', '-2.4e+006', '1E-3',
    '999999999999999', '9999999999999999', '0.1000000000000000055511151231257827', '123456789012345.6', '1e999', '-1e-999'];
  for (let k = 0; k < 20000; ++k) {
    const whole = digits(random(12));
    const fraction = random(3) > 0 ? `.${digits(random(12))}` : '';
    const exponent = random(8) === 0 ? `e${['', '+', '-'][random(3)]}${random(40)}` : '';
    texts.push(`${['', '-', '+'][random(3)]}${whole || '0'}${fraction}${exponent}`);
  }
  const notNumbers = ['', '.', '-', '1.2.3', '1e', 'e5', '"4"', ' 4', '4 ', 'unknown', '0x10', 'Infinity', 'NaN'];
  const all = [...texts, ...notNumbers];
  const values = new Float64Array(all.length + 1);
  values[all.length] = 42;
  converter.readNumbers(new TextEncoder().encode(all.map((text) => `${text}\n`).join('')), values);
  ++inputs;
  const wrong = all.filter((text, k) => !Object.is(values[k], k < texts.length ? Number(text) : NaN));
  if (wrong.length > 0 || values[all.length] !== 42) {
    ++failures;
    console.error(`DIFFERS: the converter read ${wrong.length} numbers otherwise than Number(), as ${JSON.stringify(wrong.slice(0, 5))}`);
  }
}

console.log(`${inputs} inputs through the page's converter: ${inputs - failures} give the Linux program's table, summary and status and the Python module's elements table byte for byte, with notes and columns that agree with them`);
process.exitCode = failures === 0 ? 0 : 1;
