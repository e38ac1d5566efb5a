// The converter module in the worker: the program's own scanner, conversion and CSV writer,
// compiled to WebAssembly, fed an input chunk by chunk as it is read. Also what the tests run
// under Node, to hold the page to the Linux program byte for byte.

// What the module's read_input answers besides a count of bytes.
const READ_END = 0;
const READ_FAILED = -1;
const READ_LATER = -2;
// What convert() answers while the input goes on.
const WANTS_MORE_INPUT = -1;
// The C library's stdio comes along with snprintf and strtod, and with it three file calls that
// the converter never makes; should one be made, it fails as on a closed file.
const WASI_ERRNO_BADF = 8;

// Streams being read. Chromium may collect a Blob's stream that nothing but its reader holds,
// and a read under way then never settles (seen on inputs of a gigabyte): each is held here
// while it is read.
const streamsBeingRead = new Set();

// Reads a Blob (a chosen file, pasted text) in chunks of `size` bytes where the browser allows
// (a byte stream), as it gives them otherwise. The browser goes on reading the file into the
// stream while the caller converts a chunk; a read of our own issued ahead of time was tried
// and gained nothing.
export async function* blobChunks(blob, size = 1 << 20) {
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

// Instantiates the converter module. One conversion runs at a time.
export async function loadConverter(wasmBytes) {
  const io = {
    chunk: null,     // the bytes handed over last
    offset: 0,       // how far the converter has read them
    ended: false,
    failed: false,
    onTable: null,
    onNotes: null,
    message: '',
  };
  let memory = null;
  const decoder = new TextDecoder();
  const view = (Type, pointer, count) => new Type(memory.buffer, pointer, count);
  const imports = {
    orbitcsv: {
      read_input(into, capacity) {
        if (io.failed) return READ_FAILED;
        if (io.chunk === null || io.offset === io.chunk.length) return io.ended ? READ_END : READ_LATER;
        const count = Math.min(capacity, io.chunk.length - io.offset);
        view(Uint8Array, into, count).set(io.chunk.subarray(io.offset, io.offset + count));
        io.offset += count;
        return count;
      },
      write_table(bytes, length) {
        io.onTable(view(Uint8Array, bytes, length));
      },
      write_notes(lengths, notNumbers, semimajorAxes, eccentricities, inclinations, count) {
        io.onNotes({
          lengths: view(Uint32Array, lengths, count),
          notNumbers: view(Uint16Array, notNumbers, count),
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
  memory = instance.exports.memory;
  instance.exports._initialize();
  return { exports: instance.exports, io, memory };
}

// Converts one input as the program converts one file. `chunks` gives its bytes (an async
// iterable of Uint8Array); a failure to read them is the program's read error. The table comes
// out through onTable(bytes) and notes on its rows through onNotes(notes), as they are made,
// as views of the converter's memory that hold until the next call;
// onProgress(bytesRead) follows the reading. Resolves to { status, message }: the program's exit
// status and what it writes on standard error ("5 records written.\n"), or { cancelled: true }
// when cancelled() turned true between chunks.
export async function convertInput(converter, { name, chunks, onTable, onNotes, onProgress = () => {}, cancelled = () => false }) {
  const { exports, io, memory } = converter;
  Object.assign(io, { chunk: null, offset: 0, ended: false, failed: false, onTable, onNotes, message: '' });
  const storage = new Uint8Array(memory.buffer, exports.input_name_storage(), exports.input_name_capacity());
  const { written } = new TextEncoder().encodeInto(name, storage);
  exports.start(written);

  let bytesRead = 0;
  try {
    for await (const chunk of chunks) {
      if (cancelled()) return { cancelled: true };
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
  if (status === WANTS_MORE_INPUT) throw new Error('the converter wants input after the end');
  return { status, message: io.message };
}
