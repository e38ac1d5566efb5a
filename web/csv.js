// The table's rows as fields. A row is one line (no field can hold a line feed: lines end at
// one); a field holding a comma, a double quote or a carriage return is quoted, its quotes
// doubled. The first field is the name and the number, one space between them.

// The fields of one row, its line feed left off: each ends where fieldEnd says, as in the bytes.
export function splitRow(row) {
  if (!row.includes('"')) return row.split(',');
  const fields = [];
  for (let at = 0; ; ++at) {
    const end = fieldEnd(row, at, row.length, '"', ',');
    fields.push(unquoted(row.slice(at, end)));
    if (end === row.length) return fields;
    at = end;
  }
}

// A field's text: a quoted one without its quotes, a doubled quote inside as one. Anything after
// the closing quote belongs to the field too (the converter never writes any).
function unquoted(field) {
  if (field[0] !== '"') return field;
  let text = '';
  let at = 1;
  while (at < field.length) {
    if (field[at] !== '"') {
      text += field[at++];
    } else if (field[at + 1] === '"') {
      text += '"';
      at += 2;
    } else {
      ++at;
      break;
    }
  }
  return text + field.slice(at);
}

// Field `column` of a row, as splitRow(row)[column] gives it ('' past the last field), without
// taking the whole row apart: what reading one column of millions of rows needs.
export function rowField(row, column) {
  if (row.includes('"')) return splitRow(row)[column] ?? '';
  let at = 0;
  for (let k = 0; k < column; ++k) {
    at = row.indexOf(',', at) + 1;
    if (at === 0) return '';
  }
  const end = row.indexOf(',', at);
  return row.slice(at, end < 0 ? row.length : end);
}

const COMMA = 0x2c;
const QUOTE = 0x22;
const DIGIT_0 = 0x30;
const POINT = 0x2e;
const MINUS = 0x2d;
const PLUS = 0x2b;
// Exact powers of ten: a whole number below 2^53 divided by one of them is rounded once.
const POWERS_OF_TEN = Array.from({ length: 23 }, (_, power) => 10 ** power);
const MOST_EXACT_DIGITS = 15;

// Where the field that begins at row[at] ends (its comma, or `to`, the row's end): a quoted
// field goes to its closing quote (a doubled one is a quote inside it), then to the comma. The
// row is the table's bytes, or a decoded row with the quote and the comma as text.
export function fieldEnd(row, at, to, quote = QUOTE, comma = COMMA) {
  if (row[at] === quote) {
    for (++at; at < to; ++at) {
      if (row[at] !== quote) continue;
      if (row[at + 1] !== quote) break;
      ++at;
    }
  }
  while (at < to && row[at] !== comma) ++at;
  return Math.min(at, to);
}

// Where field `column` of the row bytes[from, to) (its line feed left off) begins; `to` when
// the row has fewer fields.
export function fieldStart(bytes, from, to, column) {
  let at = from;
  for (let field = 0; field < column; ++field) {
    at = fieldEnd(bytes, at, to);
    if (at === to) return to;
    ++at;
  }
  return at;
}

// The number at bytes[from..], up to the next comma or `to`, as Number() reads the same text. A
// value field the converter took for a number is a decimal as element lines write them, never
// quoted; most have few enough digits to be read here, exactly, the rest go to Number().
export function readNumber(bytes, from, to) {
  let at = from;
  const negative = bytes[at] === MINUS;
  if (negative || bytes[at] === PLUS) ++at;
  let whole = 0;
  let digits = 0;
  let decimals = -1;  // digits after the point, once there is one
  for (; at < to; ++at) {
    const digit = bytes[at] - DIGIT_0;
    if (digit >= 0 && digit <= 9) {
      whole = whole * 10 + digit;
      ++digits;
      if (decimals >= 0) ++decimals;
    } else if (bytes[at] === POINT && decimals < 0) {
      decimals = 0;
    } else {
      break;
    }
  }
  if ((at === to || bytes[at] === COMMA) && digits > 0 && digits <= MOST_EXACT_DIGITS) {
    const value = decimals > 0 ? whole / POWERS_OF_TEN[decimals] : whole;
    return negative ? -value : value;
  }
  return Number(String.fromCharCode(...bytes.subarray(from, fieldEnd(bytes, at, to))));
}
