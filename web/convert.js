// The converter module in the worker: the program's own scanner, conversion and CSV writer,
// compiled to WebAssembly, fed an input chunk by chunk as it is read. Also what the tests run
// under Node, to hold the page to the Linux program byte for byte.
import { LINE_FEED, splitRow } from './csv.js';

// The C library's stdio comes along with snprintf and strtod, and with it three file calls that
// the converter never makes; should one be made, it fails as on a closed file.
const WASI_ERRNO_BADF = 8;
const CHUNK_BYTES = 1 << 20;

// Streams being read. Chromium may collect a Blob's stream that nothing but its reader holds,
// and a read under way then never settles (seen on inputs of a gigabyte): each is held here
// while it is read.
const streamsBeingRead = new Set();

// Reads a Blob (a chosen file) in chunks of `size` bytes where the browser allows (a byte
// stream), as it gives them otherwise. The browser goes on reading the file into the stream
// while the caller converts a chunk; a read of our own issued ahead of time was tried and gained
// nothing.
export async function* blobChunks(blob, size = CHUNK_BYTES) {
  const stream = blob.stream();
  streamsBeingRead.add(stream);
  let byob = null;
  try {
    byob = stream.getReader({ mode: 'byob' });
  } catch {
    // not a byte stream: read as it comes
  }
  const reader = byob ?? stream.getReader();
  let buffer = new ArrayBuffer(size);
  try {
    for (;;) {
      const { done, value } = await (byob ? byob.read(new Uint8Array(buffer)) : reader.read());
      if (done) return;
      yield value;
      buffer = value.buffer;
    }
  } finally {
    streamsBeingRead.delete(stream);
    reader.cancel().catch(() => {});
  }
}

// Text (pasted) as UTF-8, in chunks of at most `size` characters as a chosen file is read, each
// encoded into one buffer used over and over: encoding the whole text at once is much slower. A
// chunk never ends between the two halves of a surrogate pair.
export async function* textChunks(text, size = CHUNK_BYTES) {
  const encoder = new TextEncoder();
  const buffer = new Uint8Array(3 * (size + 1));  // three bytes a code unit at most, a pair kept whole
  for (let at = 0; at < text.length;) {
    let end = Math.min(text.length, at + size);
    const last = text.charCodeAt(end - 1);
    if (end < text.length && last >= 0xd800 && last < 0xdc00) end += end - 1 > at ? -1 : 1;
    const { written } = encoder.encodeInto(text.slice(at, end), buffer);
    yield buffer.subarray(0, written);
    at = end;
  }
}

// Instantiates the converter module. One conversion runs at a time.
export async function loadConverter(wasmBytes) {
  const io = {
    chunk: null,     // the bytes handed over last
    offset: 0,       // how far the converter has read them
    ended: false,
    failed: false,
    onTable: null,
    onElements: null,
    onNotes: null,
    message: '',
  };
  let memory = null;
  let codes = null;
  const decoder = new TextDecoder();
  const view = (Type, pointer, count) => new Type(memory.buffer, pointer, count);
  const imports = {
    orbitcsv: {
      read_input(into, capacity) {
        if (io.failed) return codes.readFailed;
        if (io.chunk === null || io.offset === io.chunk.length) return io.ended ? codes.readEnd : codes.readLater;
        const count = Math.min(capacity, io.chunk.length - io.offset);
        view(Uint8Array, into, count).set(io.chunk.subarray(io.offset, io.offset + count));
        io.offset += count;
        return count;
      },
      write_table(bytes, length) {
        io.onTable(view(Uint8Array, bytes, length));
      },
      write_elements(bytes, length) {
        io.onElements(view(Uint8Array, bytes, length));
      },
      write_notes(lengths, elementLengths, marks, semimajorAxes, eccentricities, inclinations, count) {
        io.onNotes({
          lengths: view(Uint32Array, lengths, count),
          elementLengths: view(Uint32Array, elementLengths, count),
          marks: view(Uint16Array, marks, count),
          semimajorAxes: view(Float32Array, semimajorAxes, count),
          eccentricities: view(Float32Array, eccentricities, count),
          inclinations: view(Float32Array, inclinations, count),
        });
      },
      write_message(bytes, length) {
        io.message += decoder.decode(view(Uint8Array, bytes, length));
      },
    },
    wasi_snapshot_preview1: {
      fd_close: () => WASI_ERRNO_BADF,
      fd_seek: () => WASI_ERRNO_BADF,
      fd_write: () => WASI_ERRNO_BADF,
    },
  };
  const { instance } = await WebAssembly.instantiate(wasmBytes, imports);
  const { exports } = instance;
  memory = exports.memory;
  exports._initialize();
  // The read codes and the marks of a row, as the converter has them.
  codes = {
    readEnd: exports.read_end(),
    readFailed: exports.read_failed(),
    readLater: exports.read_later(),
    wantsMoreInput: exports.wants_more_input(),
  };
  const marks = { notNumbers: exports.not_number_marks(), layout: exports.layout_mark() };
  // The table's column titles, from its header, and the mark of each column's field that is not
  // a number (0 for the name, which has none).
  const titles = splitRow(decoder.decode(view(Uint8Array, exports.csv_header(), exports.csv_header_length() - 1)));
  const columns = { titles, notNumberMarks: titles.map((_, column) => exports.not_number_mark(column)) };
  const encoder = new TextEncoder();
  // The words for a row's marks, given its value fields (texts), as the converter words them.
  const describe = (rowMarks, values) => {
    const capacity = exports.note_field_capacity();
    const fields = view(Uint8Array, exports.note_fields(), values.length * capacity);
    const lengths = view(Uint32Array, exports.note_field_lengths(), values.length);
    values.forEach((value, field) => {
      lengths[field] = encoder.encodeInto(value, fields.subarray(field * capacity, (field + 1) * capacity)).written;
    });
    const length = exports.describe(rowMarks);
    return decoder.decode(view(Uint8Array, exports.note_text(), length));
  };
  // Numbers as the converter reads a row's values: `texts` (bytes) holds their texts, each ended
  // by a line feed; their values go to `into` from `at` on, NaN for a text that is not a number.
  // The texts pass through the converter's memory as many at a time as it takes.
  const [textsAt, textsCapacity, valuesAt] = [exports.number_texts(), exports.number_texts_capacity(), exports.number_values()];
  const readNumbers = (texts, into, at = 0) => {
    for (let from = 0; from < texts.length;) {
      let end = Math.min(texts.length, from + textsCapacity);
      if (end < texts.length) end = texts.lastIndexOf(LINE_FEED, end - 1) + 1;
      if (end <= from) throw new RangeError(`a number text of over ${textsCapacity} bytes`);
      view(Uint8Array, textsAt, end - from).set(texts.subarray(from, end));
      const count = exports.read_numbers(end - from);
      into.set(view(Float64Array, valuesAt, count), at);
      at += count;
      from = end;
    }
  };
  return { exports, io, memory, codes, marks, columns, describe, readNumbers };
}

// Converts one input as the program converts one file. `chunks` gives its bytes (an async
// iterable of Uint8Array); a failure to read them is the program's read error. The table comes
// out through onTable(bytes), the elements table through onElements(bytes) and notes on their
// rows through onNotes(notes), as they are made, as views of the converter's memory that hold
// until the next call; onChunk(bytes) sees each
// chunk before it is converted, onProgress(bytesRead) follows the reading. Resolves to
// { status, message }: the program's exit status and what it writes on standard error ("5
// records written.\n"), or { cancelled: true } when cancelled() turned true between chunks.
export async function convertInput(converter, { name, chunks, onTable, onElements = () => {}, onNotes, onChunk = () => {}, onProgress = () => {}, cancelled = () => false }) {
  const { exports, io, memory, codes } = converter;
  Object.assign(io, { chunk: null, offset: 0, ended: false, failed: false, onTable, onElements, onNotes, message: '' });
  const storage = new Uint8Array(memory.buffer, exports.input_name_storage(), exports.input_name_capacity());
  const { written } = new TextEncoder().encodeInto(name, storage);
  exports.start(written);

  let bytesRead = 0;
  try {
    for await (const chunk of chunks) {
      if (cancelled()) return { cancelled: true };
      onChunk(chunk);
      io.chunk = chunk;
      io.offset = 0;
      exports.convert();
      bytesRead += chunk.length;
      onProgress(bytesRead);
    }
  } catch {
    io.failed = true;
  }
  if (cancelled()) return { cancelled: true };
  io.chunk = null;
  io.ended = true;
  const status = exports.convert();
  if (status === codes.wantsMoreInput) throw new Error('the converter wants input after the end');
  return { status, message: io.message };
}
