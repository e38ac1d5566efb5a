// The table's rows as fields. A row is one line (no field can hold a line feed: lines end at
// one); a field holding a comma, a double quote or a carriage return is quoted, its quotes
// doubled. The first field is the name and the number, one space between them.

export const COLUMNS = ['Name', 'Magnitude H', 'Magnitude G', 'Mean anomaly', 'Arg. perihelion', 'Long. node',
  'Inclination', 'Eccentricity', 'Semimajor axis', 'Epoch (MJD)'];
// Which of a note's not-number bits stands for each column (the name has none).
export const VALUE_COLUMN_BIT = [-1, 0, 1, 2, 3, 4, 5, 6, 7, 8];
export const COLUMN = Object.fromEntries(COLUMNS.map((title, index) => [title, index]));

// The fields of one row, its line feed left off.
export function splitRow(row) {
  if (!row.includes('"')) return row.split(',');
  const fields = [];
  let at = 0;
  for (;;) {
    let field = '';
    if (row[at] === '"') {
      for (++at; at < row.length; ++at) {
        if (row[at] !== '"') {
          field += row[at];
        } else if (row[at + 1] === '"') {
          field += '"';
          ++at;
        } else {
          ++at;
          break;
        }
      }
      // Anything up to the comma belongs to the field too (the converter never writes any).
      const comma = row.indexOf(',', at);
      field += row.slice(at, comma < 0 ? row.length : comma);
      at = comma < 0 ? row.length : comma;
    } else {
      const comma = row.indexOf(',', at);
      field = row.slice(at, comma < 0 ? row.length : comma);
      at = comma < 0 ? row.length : comma;
    }
    fields.push(field);
    if (at >= row.length) return fields;
    ++at;  // the comma
  }
}
