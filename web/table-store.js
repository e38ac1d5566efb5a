// One input's table in the worker: its bytes, kept as the converter wrote them (the download is
// exactly these), where each row starts, and the notes on each row. The bytes go into Blobs a
// few megabytes at a time, which the browser may keep out of the worker's memory; rows are
// read back from them when the page shows them, sorts or filters.
import { COLUMN, splitRow } from './csv.js';

const PART_BYTES = 8 << 20;
const READ_BYTES = 16 << 20;  // how much of the table is read back at once, for a whole column

// A typed array that grows by doubling.
class GrowingArray {
  constructor(Type) {
    this.Type = Type;
    this.values = new Type(1024);
    this.length = 0;
  }
  append(values) {
    if (this.length + values.length > this.values.length) {
      let capacity = this.values.length;
      while (capacity < this.length + values.length) capacity *= 2;
      const larger = new this.Type(capacity);
      larger.set(this.values.subarray(0, this.length));
      this.values = larger;
    }
    this.values.set(values, this.length);
    this.length += values.length;
  }
  push(value) {
    this.append([value]);
  }
  view() {
    return this.values.subarray(0, this.length);
  }
}

export class TableStore {
  constructor() {
    this.parts = [];          // Blobs of the table so far
    this.pending = [];        // bytes not yet in a Blob
    this.pendingBytes = 0;
    this.size = 0;
    this.rowStarts = new GrowingArray(Float64Array);  // row i is bytes rowStarts[i] to rowStarts[i + 1]
    this.notNumbers = new GrowingArray(Uint16Array);
    this.semimajorAxes = new GrowingArray(Float32Array);
    this.eccentricities = new GrowingArray(Float32Array);
    this.inclinations = new GrowingArray(Float32Array);
    this.nextRowStart = -1;   // after the header, once it has come
    this.blob = null;
    this.columns = new Map(); // column index -> values of every row, once asked for
  }

  get rowCount() {
    return this.notNumbers.length;
  }

  addBytes(bytes) {
    if (this.nextRowStart < 0) this.nextRowStart = bytes.length;  // the header comes first, on its own
    this.pending.push(bytes);
    this.pendingBytes += bytes.length;
    this.size += bytes.length;
    if (this.pendingBytes >= PART_BYTES) this.seal();
  }

  addNotes(notes) {
    for (const length of notes.lengths) {
      this.rowStarts.push(this.nextRowStart);
      this.nextRowStart += length;
    }
    this.notNumbers.append(notes.notNumbers);
    this.semimajorAxes.append(notes.semimajorAxes);
    this.eccentricities.append(notes.eccentricities);
    this.inclinations.append(notes.inclinations);
  }

  seal() {
    if (this.pending.length > 0) this.parts.push(new Blob(this.pending));
    this.pending = [];
    this.pendingBytes = 0;
  }

  // The whole table as a Blob, for the download; the store reads its rows from it from now on.
  finish() {
    this.seal();
    this.rowStarts.push(this.nextRowStart);  // the end of the last row
    this.blob = new Blob(this.parts, { type: 'text/csv' });
    this.parts = [];
    return this.blob;
  }

  // The text of rows first to last - 1 (in table order), without their line feeds.
  async rowTexts(first, last) {
    const starts = this.rowStarts.values;
    if (first >= last) return [];
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
    const bit = column - 1;
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
