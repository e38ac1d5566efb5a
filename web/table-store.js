// One input's table in the worker: its bytes, kept as the converter wrote them (the download is
// exactly these), where each row starts, and the notes on each row. While the input converts
// the bytes go into large parts in the worker's memory, one copy each and no allocation per
// write; once it has converted they become one Blob, which the browser may keep out of the
// worker's memory, and rows are read back from it when the page shows them, sorts or filters.
import { COLUMN, VALUE_COLUMN_BIT, splitRow } from './csv.js';

const FIRST_PART_BYTES = 64 << 10;
const PART_BYTES = 16 << 20;
const READ_BYTES = 16 << 20;  // how much of the table is read back at once, for a whole column

// Rows a table of an input of so many bytes is made room for at first: an element list of
// blocks one after another has a row for every 380 bytes or so, text with prose far fewer.
const INPUT_BYTES_PER_ROW = 320;

// A typed array that grows by doubling.
class GrowingArray {
  constructor(Type, capacity) {
    this.Type = Type;
    this.values = new Type(capacity);
    this.length = 0;
  }
  // Room for `count` more values, at this.values[this.length] on.
  reserve(count) {
    if (this.length + count <= this.values.length) return;
    let capacity = this.values.length;
    while (capacity < this.length + count) capacity *= 2;
    const larger = new this.Type(capacity);
    larger.set(this.values.subarray(0, this.length));
    this.values = larger;
  }
  append(values) {
    this.reserve(values.length);
    this.values.set(values, this.length);
    this.length += values.length;
  }
  view() {
    return this.values.subarray(0, this.length);
  }
}

export class TableStore {
  // inputBytes: the size of the input, for a first guess at the number of rows. Room made but
  // not used costs only address space: memory is taken as it is written.
  constructor(inputBytes = 0) {
    const rows = Math.max(4096, Math.min(1 << 24, Math.ceil(inputBytes / INPUT_BYTES_PER_ROW)));
    this.parts = [];          // Uint8Arrays, the last filled to `used`
    this.used = 0;
    this.size = 0;
    this.rowStarts = new GrowingArray(Float64Array, rows + 1);  // row i is bytes rowStarts[i] to rowStarts[i + 1]
    this.notNumbers = new GrowingArray(Uint16Array, rows);
    this.semimajorAxes = new GrowingArray(Float32Array, rows);
    this.eccentricities = new GrowingArray(Float32Array, rows);
    this.inclinations = new GrowingArray(Float32Array, rows);
    this.nextRowStart = -1;   // after the header, once it has come
    this.blob = null;
    this.columns = new Map(); // column index -> values of every row, once asked for
  }

  get rowCount() {
    return this.notNumbers.length;
  }

  // Takes a copy of the bytes (a view into the converter's memory). Parts start small, for the
  // many inputs with small tables, and double up to PART_BYTES.
  addBytes(bytes) {
    if (this.nextRowStart < 0) this.nextRowStart = bytes.length;  // the header comes first, on its own
    for (let at = 0; at < bytes.length;) {
      let part = this.parts.at(-1);
      if (part === undefined || this.used === part.length) {
        part = new Uint8Array(Math.min(PART_BYTES, Math.max(FIRST_PART_BYTES, 2 * (part?.length ?? 0))));
        this.parts.push(part);
        this.used = 0;
      }
      const count = Math.min(bytes.length - at, part.length - this.used);
      part.set(bytes.subarray(at, at + count), this.used);
      this.used += count;
      at += count;
    }
    this.size += bytes.length;
  }

  addNotes(notes) {
    const count = notes.lengths.length;
    this.rowStarts.reserve(count);
    const starts = this.rowStarts.values;
    let start = this.nextRowStart;
    for (let k = 0; k < count; ++k) {
      starts[this.rowStarts.length + k] = start;
      start += notes.lengths[k];
    }
    this.rowStarts.length += count;
    this.nextRowStart = start;
    this.notNumbers.append(notes.notNumbers);
    this.semimajorAxes.append(notes.semimajorAxes);
    this.eccentricities.append(notes.eccentricities);
    this.inclinations.append(notes.inclinations);
  }

  // Every row has come: the end of the last is noted. Returns the notes the plots draw from,
  // handed over whole (their memory goes with them, for a transfer): which of each row's value
  // columns are not numbers (a copy, which the store keeps too), and the semimajor axes,
  // eccentricities and inclinations.
  finish() {
    this.rowStarts.append([this.nextRowStart]);
    const notes = {
      notNumbers: this.notNumbers.view().slice(),
      semimajorAxes: this.semimajorAxes.view(),
      eccentricities: this.eccentricities.view(),
      inclinations: this.inclinations.view(),
    };
    this.semimajorAxes = this.eccentricities = this.inclinations = null;
    return notes;
  }

  // The whole table as a Blob, for the download and for reading rows back; the parts let go.
  toBlob() {
    const parts = this.parts.map((part, k) => (k === this.parts.length - 1 ? part.subarray(0, this.used) : part));
    this.blob = new Blob(parts, { type: 'text/csv' });
    this.parts = null;
    return this.blob;
  }

  // The text of rows first to last - 1 (in table order), without their line feeds, once the
  // table is a Blob.
  async rowTexts(first, last) {
    if (first >= last) return [];
    const starts = this.rowStarts.values;
    const bytes = new Uint8Array(await this.blob.slice(starts[first], starts[last]).arrayBuffer());
    const texts = [];
    const decoder = new TextDecoder();
    for (let row = first; row < last; ++row) {
      const from = starts[row] - starts[first];
      const to = starts[row + 1] - starts[first] - 1;
      texts.push(decoder.decode(bytes.subarray(from, to)));
    }
    return texts;
  }

  // The fields of the given rows (table indices), each with its index and note.
  async rows(indices) {
    const result = [];
    // Runs of neighbouring rows are read together.
    for (let at = 0; at < indices.length;) {
      let end = at + 1;
      while (end < indices.length && indices[end] === indices[end - 1] + 1) ++end;
      const texts = await this.rowTexts(indices[at], indices[end - 1] + 1);
      texts.forEach((text, k) => {
        const index = indices[at + k];
        result.push({ index, fields: splitRow(text), notNumbers: this.notNumbers.values[index] });
      });
      at = end;
    }
    return result;
  }

  // Every row's value in one column: text for the name, numbers (NaN where the field is not a
  // number) for the others. Read once, then kept.
  async column(column) {
    if (this.columns.has(column)) return this.columns.get(column);
    const count = this.rowCount;
    const values = column === COLUMN.Name ? new Array(count) : new Float64Array(count);
    const bit = VALUE_COLUMN_BIT[column];
    const starts = this.rowStarts.values;
    for (let first = 0; first < count;) {
      let last = first + 1;
      while (last < count && starts[last + 1] - starts[first] < READ_BYTES) ++last;
      const texts = await this.rowTexts(first, last);
      for (let k = 0; k < texts.length; ++k) {
        const row = first + k;
        const field = splitRow(texts[k])[column];
        if (column === COLUMN.Name) {
          values[row] = field;
        } else {
          values[row] = this.notNumbers.values[row] & (1 << bit) ? NaN : Number(field);
        }
      }
      first = last;
    }
    this.columns.set(column, values);
    return values;
  }

  // Row indices in the order asked for: sorted by a column (numbers as numbers, those that are
  // not numbers last; ties in table order) and kept to names that hold the filter text, in any
  // case.
  async order({ sortColumn = -1, descending = false, filter = '' }) {
    let order = Array.from({ length: this.rowCount }, (_, index) => index);
    if (filter !== '') {
      const names = await this.column(COLUMN.Name);
      const wanted = filter.toLocaleLowerCase();
      order = order.filter((index) => names[index].toLocaleLowerCase().includes(wanted));
    }
    if (sortColumn >= 0) {
      const keys = await this.column(sortColumn);
      const sign = descending ? -1 : 1;
      const compare = sortColumn === COLUMN.Name
        ? (a, b) => (keys[a] < keys[b] ? -sign : keys[a] > keys[b] ? sign : a - b)
        : (a, b) => {
          const x = keys[a];
          const y = keys[b];
          if (Number.isNaN(x) || Number.isNaN(y)) return Number.isNaN(x) - Number.isNaN(y) || a - b;
          return x < y ? -sign : x > y ? sign : a - b;
        };
      order.sort(compare);
    }
    return Uint32Array.from(order);
  }
}
