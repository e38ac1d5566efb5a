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
// The table's rows end with it; number texts handed to the converter too.
export const LINE_FEED = 0x0a;
const QUOTE = 0x22;

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
