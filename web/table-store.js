// One input's tables in the worker: their bytes, kept as the converter wrote them (the downloads
// are exactly these), and where each row starts; for the table, each row's marks too. While the
// input converts the bytes go into large parts in the worker's memory, one copy each and no
// allocation per write; once it has converted they become one Blob, which the browser may keep
// out of the worker's memory, and rows are read back from it when the page shows them, sorts or
// filters, or draws their orbits.
import { blobChunks } from './convert.js';
import { LINE_FEED, fieldEnd, fieldStart, rowField, splitRow } from './csv.js';
import { sortByNumber, sortByText } from './sort.js';

const FIRST_PART_BYTES = 64 << 10;
const PART_BYTES = 16 << 20;
const PARTS_PER_PIECE = 4;  // of the download's Blob, made from 64 MiB of the table at most
const READ_BYTES = 1 << 20;  // how much of the table is read back at once, for a whole column
const NAME_COLUMN = 0;  // the name and number, before the values

// The table's bytes as text, a byte order mark at the start of a row included.
const decoder = new TextDecoder('utf-8', { ignoreBOM: true });

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

// Rows a table of an input of so many bytes is made room for at first.
function firstRows(inputBytes) {
  return Math.max(4096, Math.min(1 << 24, Math.ceil(inputBytes / INPUT_BYTES_PER_ROW)));
}

// A CSV table's bytes and where its rows start, its rows read back once it is whole.
export class CsvBytes {
  // inputBytes: the size of the input, for a first guess at the number of rows. Room made but
  // not used costs only address space: memory is taken as it is written.
  constructor(inputBytes = 0) {
    this.parts = [];          // Uint8Arrays, the last filled to `used`
    this.used = 0;
    this.rowStarts = new GrowingArray(Float64Array, firstRows(inputBytes) + 1);  // row i is bytes rowStarts[i] to rowStarts[i + 1]
    this.nextRowStart = -1;   // after the header, once it has come
    this.blob = null;
  }

  // Takes a copy of the bytes (a view into the converter's memory). Parts start small, for the
  // many inputs with small tables, and double up to PART_BYTES.
  addBytes(bytes) {
    if (this.nextRowStart < 0) {
      // The header comes first, on its own.
      this.nextRowStart = bytes.length;
      this.header = decoder.decode(bytes).replace(/\n$/, '');
    }
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
  }

  // The rows written since, by their lengths.
  addRows(lengths) {
    const count = lengths.length;
    this.rowStarts.reserve(count);
    const starts = this.rowStarts.values;
    let start = this.nextRowStart;
    for (let k = 0; k < count; ++k) {
      starts[this.rowStarts.length + k] = start;
      start += lengths[k];
    }
    this.rowStarts.length += count;
    this.nextRowStart = start;
  }

  // Every row has come: the end of the last is noted.
  finishRows() {
    this.rowStarts.append([this.nextRowStart]);
  }

  // The whole table as a Blob, for the download and for reading rows back. The browser copies
  // the parts a few at a time, each few let go once copied: copied all at once, the table is
  // held twice over at the peak; one at a time, the cost of each Blob made delays the download.
  toBlob() {
    this.parts[this.parts.length - 1] = this.parts.at(-1).subarray(0, this.used);
    const pieces = [];
    for (let k = 0; k < this.parts.length; k += PARTS_PER_PIECE) {
      pieces.push(new Blob(this.parts.slice(k, k + PARTS_PER_PIECE)));
      this.parts.fill(null, k, k + PARTS_PER_PIECE);
    }
    this.blob = new Blob(pieces, { type: 'text/csv' });
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
    for (let row = first; row < last; ++row) {
      const from = starts[row] - starts[first];
      const to = starts[row + 1] - starts[first] - 1;
      texts.push(decoder.decode(bytes.subarray(from, to)));
    }
    return texts;
  }

  // The fields of the given rows (table indices), each with its index.
  async rows(indices) {
    const result = [];
    // Runs of neighbouring rows are read together.
    for (let at = 0; at < indices.length;) {
      let end = at + 1;
      while (end < indices.length && indices[end] === indices[end - 1] + 1) ++end;
      const texts = await this.rowTexts(indices[at], indices[end - 1] + 1);
      texts.forEach((text, k) => {
        const index = indices[at + k];
        result.push({ index, fields: splitRow(text) });
      });
      at = end;
    }
    return result;
  }
}

// The table of one input, with each row's marks and what the scatter plot draws from.
export class TableStore extends CsvBytes {
  // readNumbers(texts, into, at): the converter's reader of numbers, which the columns of values
  // are read with; readBytes: how much of the table is read back at once for a whole column.
  constructor(inputBytes = 0, readNumbers = null, readBytes = READ_BYTES) {
    super(inputBytes);
    this.readNumbers = readNumbers;
    const rows = firstRows(inputBytes);
    this.marks = new GrowingArray(Uint16Array, rows);        // as the converter marks each row
    this.semimajorAxes = new GrowingArray(Float32Array, rows);
    this.eccentricities = new GrowingArray(Float32Array, rows);
    this.inclinations = new GrowingArray(Float32Array, rows);
    this.columns = new Map(); // column index -> values of every row, once asked for
    this.readBytes = readBytes;
  }

  get rowCount() {
    return this.marks.length;
  }

  addNotes(notes) {
    this.addRows(notes.lengths);
    this.marks.append(notes.marks);
    this.semimajorAxes.append(notes.semimajorAxes);
    this.eccentricities.append(notes.eccentricities);
    this.inclinations.append(notes.inclinations);
  }

  // Every row has come. Returns what the scatter plot draws from, every row's semimajor axis,
  // eccentricity, inclination and marks, which the store lets go.
  finish() {
    this.finishRows();
    const plotted = {
      a: this.semimajorAxes.view(),
      e: this.eccentricities.view(),
      i: this.inclinations.view(),
      marks: this.marks.view(),
    };
    this.semimajorAxes = this.eccentricities = this.inclinations = null;
    return plotted;
  }

  // The fields of the given rows, each with its index and marks.
  async rows(indices) {
    return (await super.rows(indices)).map((row) => ({ ...row, marks: this.marks.values[row.index] }));
  }

  // Every row's value in one column: text for the name, numbers (NaN where the field is not a
  // number) for the others. Read once, then kept. The table is read back as a stream, into one
  // buffer used over and over: fresh memory for each piece, as a Blob's arrayBuffer() gives,
  // takes longer to come than the work on it. The piece's fields are gathered one after another,
  // each ended by a line feed, and read at once: names decoded (a call for each costs more than
  // the decoding), numbers read by the converter, as it reads values.
  async column(column) {
    if (this.columns.has(column)) return this.columns.get(column);
    const count = this.rowCount;
    const starts = this.rowStarts.values;
    const values = column === NAME_COLUMN ? new Array(count) : new Float64Array(count);
    let buffer = new Uint8Array(this.readBytes);
    let fields = new Uint8Array(0);
    let held = 0;                  // bytes in the buffer, from the start of row `row` on
    let row = 0;
    for await (const chunk of blobChunks(this.blob.slice(starts[0], starts[count]), this.readBytes)) {
      if (held + chunk.length > buffer.length) {
        const larger = new Uint8Array(Math.max(2 * buffer.length, held + chunk.length));
        larger.set(buffer.subarray(0, held));
        buffer = larger;
      }
      buffer.set(chunk, held);
      held += chunk.length;
      const base = starts[row];
      let last = row;
      while (last < count && starts[last + 1] - base <= held) ++last;
      if (fields.length < buffer.length) fields = new Uint8Array(buffer.length);
      let length = 0;
      for (let from = row; from < last; ++from) {
        const to = starts[from + 1] - base - 1;  // the line feed left off
        const start = fieldStart(buffer, starts[from] - base, to, column);
        const end = fieldEnd(buffer, start, to);
        for (let at = start; at < end; ++at) fields[length++] = buffer[at];
        fields[length++] = LINE_FEED;
      }
      if (column === NAME_COLUMN) {
        const text = decoder.decode(fields.subarray(0, length));
        let at = 0;
        for (; row < last; ++row) {
          const end = text.indexOf('\n', at);
          values[row] = rowField(text.slice(at, end), column);
          at = end + 1;
        }
      } else {
        this.readNumbers(fields.subarray(0, length), values, row);
        row = last;
      }
      buffer.copyWithin(0, starts[last] - base, held);
      held -= starts[last] - base;
    }
    this.columns.set(column, values);
    return values;
  }

  // Row indices in the order asked for: sorted by a column (numbers as numbers, those that are
  // not numbers last; ties in table order) and kept to names that hold the filter text, whatever
  // its case and accents.
  async order({ sortColumn = -1, descending = false, filter = '' }) {
    let order;
    if (filter === '') {
      order = new Uint32Array(this.rowCount);
      for (let index = 0; index < order.length; ++index) order[index] = index;
    } else {
      const names = await this.foldedNames();
      const wanted = foldForSearch(filter);
      const kept = [];
      for (let index = 0; index < names.length; ++index) {
        if (names[index].includes(wanted)) kept.push(index);
      }
      order = Uint32Array.from(kept);
    }
    if (sortColumn < 0) return order;
    const keys = await this.column(sortColumn);
    return (sortColumn === NAME_COLUMN ? sortByText : sortByNumber)(order, keys, descending);
  }

  // Every row's name as foldForSearch leaves it, made once.
  async foldedNames() {
    this.folded ??= (await this.column(NAME_COLUMN)).map(foldForSearch);
    return this.folded;
  }
}

// A text as filtering compares it: lower case, accents taken off ("Foderà" as "fodera").
export function foldForSearch(text) {
  return text.normalize('NFD').replace(/\p{M}/gu, '').toLocaleLowerCase();
}
