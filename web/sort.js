// The table's sorts: row indices in the order of a column's values, ties in the order given
// (table order, whichever the direction). Radix sorts of the values' bits: a comparison sort of
// a few million rows takes several seconds, these a fraction of one for numbers and a second or
// two for names.

const RADIX_BITS = 16;
const RADIX_MASK = (1 << RADIX_BITS) - 1;
// Ranges of names shorter than this are left to a comparison sort: a radix pass costs a count
// for each of its 65,536 digits, however few the names.
const FEWEST_NAMES_FOR_RADIX = 256;
// Code units of a name taken at a time: each one plus 1 (0 past the name's end) in 17 bits,
// three in the 51 bits that two 32-bit words hold.
const UNITS_AT_A_TIME = 3;
const UNIT_BITS = 17;

// 64-bit keys, as a low and a high word each, and what goes with each key (its place: a position
// or a row index), with room for the same again, where a sort pass puts them.
class Keys {
  constructor(count) {
    this.low = new Uint32Array(count);
    this.high = new Uint32Array(count);
    this.place = new Uint32Array(count);
    this.next = { low: new Uint32Array(count), high: new Uint32Array(count), place: new Uint32Array(count) };
    this.counts = new Uint32Array(1 << RADIX_BITS);
  }

  // Sorts keys [begin, end) with their places, unsigned and stable, RADIX_BITS at a time from
  // the lowest; each pass reads in order.
  sort(begin, end) {
    let { low, high, place } = this;
    let { low: nextLow, high: nextHigh, place: nextPlace } = this.next;
    const counts = this.counts;
    for (let shift = 0; shift < 64 && end > begin; shift += RADIX_BITS) {
      const word = shift < 32 ? low : high;
      const within = shift & 31;
      counts.fill(0);
      for (let k = begin; k < end; ++k) ++counts[(word[k] >>> within) & RADIX_MASK];
      if (counts[(word[begin] >>> within) & RADIX_MASK] === end - begin) continue;  // one digit for all
      let total = begin;
      for (let digit = 0; digit < counts.length; ++digit) {
        const here = counts[digit];
        counts[digit] = total;
        total += here;
      }
      for (let k = begin; k < end; ++k) {
        const to = counts[(word[k] >>> within) & RADIX_MASK]++;
        nextLow[to] = low[k];
        nextHigh[to] = high[k];
        nextPlace[to] = place[k];
      }
      [low, nextLow] = [nextLow, low];
      [high, nextHigh] = [nextHigh, high];
      [place, nextPlace] = [nextPlace, place];
    }
    if (low !== this.low) {
      this.low.set(low.subarray(begin, end), begin);
      this.high.set(high.subarray(begin, end), begin);
      this.place.set(place.subarray(begin, end), begin);
    }
  }
}

// The indices in the order of keys[index]: numbers as numbers, -0 as 0, NaN last whichever the
// direction, ties in the order given.
export function sortByNumber(indices, keys, descending) {
  // Each number's bits made an unsigned integer that orders as the number does (the sign bit
  // set for the positive, every bit flipped for the negative), all flipped again for descending.
  // Typed arrays are in the machine's byte order, little-endian where browsers run: the low
  // word of a number comes first.
  const number = new Float64Array(1);
  const bits = new Uint32Array(number.buffer);
  const flip = descending ? 0xffffffff : 0;
  const sorted = new Uint32Array(indices.length);
  const sorting = new Keys(indices.length);
  let count = 0;
  for (const index of indices) {
    if (Number.isNaN(keys[index])) continue;
    number[0] = keys[index] + 0;  // -0 + 0 is 0
    const negative = bits[1] >>> 31;
    sorting.low[count] = (negative ? ~bits[0] : bits[0]) ^ flip;
    sorting.high[count] = (negative ? ~bits[1] : bits[1] | 0x80000000) ^ flip;
    sorting.place[count] = count;
    sorted[count++] = index;
  }
  let notNumbers = count;
  for (const index of indices) {
    if (Number.isNaN(keys[index])) sorted[notNumbers++] = index;
  }
  sorting.sort(0, count);
  const numbers = sorted.slice(0, count);
  for (let k = 0; k < count; ++k) sorted[k] = numbers[sorting.place[k]];
  return sorted;
}

// The indices in the order of the texts keys[index], as < orders strings (code unit by code
// unit, a text before the longer ones it begins), ties in the order given.
export function sortByText(indices, keys, descending) {
  const order = Uint32Array.from(indices);
  sortTexts(order, 0, order.length, 0, keys, new Keys(order.length));
  if (!descending) return order;
  // Runs of equal texts from the last to the first, each in the order it has.
  const reversed = new Uint32Array(order.length);
  let to = 0;
  for (let end = order.length; end > 0;) {
    let start = end - 1;
    while (start > 0 && keys[order[start - 1]] === keys[order[end - 1]]) --start;
    reversed.set(order.subarray(start, end), to);
    to += end - start;
    end = start;
  }
  return reversed;
}

// Sorts order[begin, end), whose texts agree in their first `from` code units, by the next
// UNITS_AT_A_TIME units, then each run that agrees in those too by the units after them.
function sortTexts(order, begin, end, from, keys, sorting) {
  if (end - begin < FEWEST_NAMES_FOR_RADIX) {
    // A stable sort: equal texts keep their order.
    order.subarray(begin, end).sort((a, b) => (keys[a] < keys[b] ? -1 : keys[a] > keys[b] ? 1 : 0));
    return;
  }
  const { low, high, place } = sorting;
  for (let k = begin; k < end; ++k) {
    const text = keys[order[k]];
    const first = from < text.length ? text.charCodeAt(from) + 1 : 0;
    const second = from + 1 < text.length ? text.charCodeAt(from + 1) + 1 : 0;
    const third = from + 2 < text.length ? text.charCodeAt(from + 2) + 1 : 0;
    high[k] = (first << (2 * UNIT_BITS - 32)) | (second >>> (32 - UNIT_BITS));
    low[k] = (((second & ((1 << (32 - UNIT_BITS)) - 1)) << UNIT_BITS) | third) >>> 0;
    place[k] = order[k];
  }
  sorting.sort(begin, end);
  order.set(place.subarray(begin, end), begin);
  // Runs of the same units, sorted further unless their texts have ended.
  const runs = [];
  for (let start = begin; start < end;) {
    let stop = start + 1;
    while (stop < end && low[stop] === low[start] && high[stop] === high[start]) ++stop;
    const textGoesOn = (low[start] & ((1 << UNIT_BITS) - 1)) !== 0;
    if (stop - start > 1 && textGoesOn) runs.push(start, stop);
    start = stop;
  }
  for (let k = 0; k < runs.length; k += 2) sortTexts(order, runs[k], runs[k + 1], from + UNITS_AT_A_TIME, keys, sorting);
}
