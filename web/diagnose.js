// Why an input gave no record, told from its first bytes, which the worker keeps as they pass:
// the reason a person can act on, in plain words, or '' when there is nothing to say. And the
// lines that look like epoch lines but start no block, counted as the bytes pass.

const SAMPLE_BYTES = 64 << 10;
const LF_BYTE = 0x0a;
const CR_BYTE = 0x0d;

// The first bytes of an input, kept from its chunks as they are read.
export class InputSample {
  constructor() {
    this.bytes = new Uint8Array(SAMPLE_BYTES);
    this.length = 0;
  }

  add(chunk) {
    if (this.length === SAMPLE_BYTES) return;
    const count = Math.min(chunk.length, SAMPLE_BYTES - this.length);
    this.bytes.set(chunk.subarray(0, count), this.length);
    this.length += count;
  }

  view() {
    return this.bytes.subarray(0, this.length);
  }
}

// Bytes that text does not hold: control bytes other than tab, line feed, form feed, carriage
// return and the 0x1A that old DOS files end with.
function isBinary(byte) {
  return byte < 0x20 && byte !== 0x09 && byte !== LF_BYTE && byte !== 0x0c && byte !== CR_BYTE && byte !== 0x1a;
}

export const REASONS = {
  empty: 'The input is empty.',
  utf16: 'This looks like UTF-16 text (what Windows editors call “Unicode”), which has a zero byte beside every ' +
    'letter, so no line reads as an epoch line. Save it as UTF-8 (in Notepad: File, Save as, Encoding: UTF-8) and ' +
    'convert it again.',
  carriageReturns: 'Its lines end in a carriage return alone, as on old Macs, so the whole input reads as one line and ' +
    'no block can be found. Save it with LF or CR LF line ends and convert it again.',
  binary: 'This does not look like text: many of its bytes are control bytes. orbitcsv reads plain text.',
  noEpochLine: 'No line begins with “Epoch ” and holds “TT”, “=” and “JDT”, so no element block was found. A block is ' +
    'a designation such as “(433) Eros”, an epoch line such as “Epoch 2026 Dec. 17.0 TT = JDT 2461391.5”, then five ' +
    'lines of elements.',
};

// The likeliest reason an input whose first bytes are `sample` gave no record.
export function whyNoRecords(sample) {
  if (sample.length === 0) return REASONS.empty;
  const [first, second] = sample;
  if ((first === 0xff && second === 0xfe) || (first === 0xfe && second === 0xff)) return REASONS.utf16;
  // Zero bytes at every other place: UTF-16 without its byte order mark.
  const zeros = [0, 0];
  let lineFeeds = 0;
  let carriageReturns = 0;
  let binary = 0;
  for (let at = 0; at < sample.length; ++at) {
    const byte = sample[at];
    if (byte === 0) ++zeros[at & 1];
    else if (byte === LF_BYTE) ++lineFeeds;
    else if (byte === CR_BYTE) ++carriageReturns;
    if (isBinary(byte)) ++binary;
  }
  const half = sample.length / 2;
  if (sample.length >= 4 && Math.max(...zeros) >= 0.4 * half && Math.min(...zeros) <= 0.05 * half) return REASONS.utf16;
  if (binary > 0.05 * sample.length) return REASONS.binary;
  if (lineFeeds === 0 && carriageReturns > 0) return REASONS.carriageReturns;
  return REASONS.noEpochLine;
}

const EPOCH = [...'Epoch '].map((c) => c.charCodeAt(0));
const EPOCH_MARKS = ['TT', '=', 'JDT'].map((mark) => [...mark].map((c) => c.charCodeAt(0)));
// A line longer than this is looked at as far as this: the converter reads lines in pieces of
// 131 bytes, and no epoch line it takes is longer.
const LONGEST_LINE = 4096;

const isLetterOrDigit = (byte) => (byte >= 0x30 && byte <= 0x39) || ((byte | 0x20) >= 0x61 && (byte | 0x20) <= 0x7a);

// Where `word` (bytes) first stands in `line` from `from` on, or -1.
function holds(line, word, from = 0) {
  for (let at = line.indexOf(word[0], from); at >= 0 && at + word.length <= line.length; at = line.indexOf(word[0], at + 1)) {
    let k = 1;
    while (k < word.length && line[at + k] === word[k]) ++k;
    if (k === word.length) return at;
  }
  return -1;
}

// The lines that look like epoch lines but are none the converter takes, by why: other text
// stands before "Epoch " (a comment's "# ", blanks; a letter or a digit before it makes the line
// prose, not counted), or "TT", "=" or "JDT" is missing. Counted
// from the chunks as the converter reads them, in one pass: only the lines holding an "E" are
// looked at.
export class PassedOver {
  constructor() {
    this.textBefore = 0;
    this.noJdt = 0;
    this.noTtOrEquals = 0;
    this.carried = new Uint8Array(LONGEST_LINE);  // the start of a line a chunk ended in
    this.carriedLength = 0;
    this.carrying = false;  // whether the last chunk ended inside a line
  }

  add(chunk) {
    let from = 0;
    if (this.carrying) {
      // The line the chunk before ended in goes on here.
      const end = chunk.indexOf(LF_BYTE);
      const head = chunk.subarray(0, end < 0 ? chunk.length : end);
      const room = Math.min(head.length, LONGEST_LINE - this.carriedLength);
      this.carried.set(head.subarray(0, room), this.carriedLength);
      this.carriedLength += room;
      if (end < 0) {
        this.carrying = true;
        return;
      }
      this.look(this.carried.subarray(0, this.carriedLength));
      this.carriedLength = 0;
      this.carrying = false;
      from = end + 1;
    }
    const last = chunk.lastIndexOf(LF_BYTE);
    for (let e = holds(chunk, EPOCH, from); e >= 0 && e < last; e = holds(chunk, EPOCH, e)) {
      const start = Math.max(from, chunk.lastIndexOf(LF_BYTE, e) + 1);
      const end = chunk.indexOf(LF_BYTE, e);
      this.look(chunk.subarray(start, Math.min(end, start + LONGEST_LINE)));
      e = end + 1;
    }
    if (last + 1 < chunk.length) {
      const tail = chunk.subarray(Math.max(last + 1, from), Math.max(last + 1, from) + LONGEST_LINE);
      this.carried.set(tail);
      this.carriedLength = tail.length;
      this.carrying = true;
    }
  }

  // The rest of the input: a last line without its newline.
  finish() {
    if (this.carrying) this.look(this.carried.subarray(0, this.carriedLength));
    this.carriedLength = 0;
    this.carrying = false;
  }

  look(line) {
    const at = holds(line, EPOCH);
    if (at < 0) return;
    if (at > 0) {
      if (!line.subarray(0, at).some(isLetterOrDigit)) ++this.textBefore;
    } else if (holds(line, EPOCH_MARKS[2]) < 0) ++this.noJdt;
    else if (holds(line, EPOCH_MARKS[0]) < 0 || holds(line, EPOCH_MARKS[1]) < 0) ++this.noTtOrEquals;
  }

  // In a line or two: "26 lines that look like epoch lines start no block: 25 have other text
  // before “Epoch ”, 1 has no JDT."; '' when there are none.
  describe() {
    const count = this.textBefore + this.noJdt + this.noTtOrEquals;
    if (count === 0) return '';
    const lines = (n, one, more) => `${n.toLocaleString('en')} ${n === 1 ? one : more}`;
    const why = [
      [this.textBefore, 'has other text before “Epoch ”', 'have other text before “Epoch ”'],
      [this.noJdt, 'has no JDT', 'have no JDT'],
      [this.noTtOrEquals, 'lacks “TT” or “=”', 'lack “TT” or “=”'],
    ].filter(([n]) => n > 0).map(([n, one, more]) => lines(n, one, more));
    return `${lines(count, 'line that looks like an epoch line starts', 'lines that look like epoch lines start')} no block: ` +
      `${why.join(', ')}.`;
  }
}
