// Why an input gave no record, told from its first bytes, which the worker keeps as they pass:
// the reason a person can act on, in plain words, or '' when there is nothing to say.

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
