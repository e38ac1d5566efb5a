// A converted row read as numbers, and the marks that tell a reader which of its values are not
// elements to compute with: a value field whose text is not a number, a comet block, a name that
// a spreadsheet would run as a formula. The table itself keeps every text as it is; the page and
// the Python module both read rows through these, so that they agree on every row.
#pragma once

#include "element_block.hpp"
#include "orbit_record.hpp"

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <span>
#include <string_view>

namespace orbitcsv {

// The value fields, H to the epoch, in the order of VALUE_FIELDS and of the table's columns.
inline constexpr std::size_t VALUE_COUNT = std::size(VALUE_FIELDS);

// Where a field stands among VALUE_FIELDS.
constexpr std::size_t value_field_index(text_field<FIELD_CAPACITY> orbit_record::*field) {
    std::size_t index = 0;
    while (VALUE_FIELDS[index] != field) ++index;
    return index;
}

// Why a row is marked, one bit each: bit i (i < VALUE_COUNT) when value field i is not a number,
// then a comet block, then a name or number that a spreadsheet would take for a formula.
using row_marks = std::uint16_t;
inline constexpr row_marks NOT_NUMBER_MARKS = (1u << VALUE_COUNT) - 1;
inline constexpr row_marks COMET_BLOCK_MARK = 1u << VALUE_COUNT;
inline constexpr row_marks FORMULA_MARK = 1u << (VALUE_COUNT + 1);

// A number is a decimal as element lines write them: a sign or none, digits with at most one
// point (one digit at least), then an exponent marked e or E with digits, or none ("-0.0004811",
// "11.16", "2.4e+006"). Anything else, the empty text included, is not.
bool is_number(std::string_view text);

// How many bytes of the text's start are a number of that form; 0 when it does not begin with
// one.
std::size_t number_length(std::string_view text);

// The double nearest to what a number denotes, as Python's float() and strtod give it (infinity
// beyond the largest double, zero below the smallest); NaN for a text that is not a number.
// Texts of at most a line, as value fields and labeled values are.
double number_value(std::string_view text);

// A name or number that begins with =, +, - or @, which a spreadsheet may run as a formula.
bool formula_like(std::string_view text);
inline constexpr std::string_view FORMULA_WORDS =
    "Name or number begins with =, +, - or @, which a spreadsheet may take for a formula";

// A comet block: its first element line begins "T " and its second "q ", as the comet layouts
// of the circulars write perihelion time and distance where an asteroid's block has M and n.
bool is_comet_block(const element_block& block);

// The number of a designation as a whole number: the number field's text when it is 1 to 18
// digits, whitespace around them allowed. False for anything else ("(Unnamed)" too).
bool designation_number(std::string_view number, std::int64_t& value);

// A row converted from `block`, read: its marks, and the values of its value fields as
// number_value gives them, but NaN for every value of a comet block but its epoch: those stand
// in its lines in another sense than the table's. Most fields take one pass each.
row_marks read_row(const element_block& block, const orbit_record& record, std::span<double, VALUE_COUNT> values);

// The same in two steps, for a reader that needs the values of a few fields only (the page, for
// its pictures): the row's marks, then the value of field `field` (an index into VALUE_FIELDS).
row_marks mark_row(const element_block& block, const orbit_record& record);
double field_value(const orbit_record& record, row_marks marks, std::size_t field);

// The words that say why a row is marked, for a person, joined by "; ": "Comet block: ..." (and
// then nothing of its values), "Not numbers: Semimajor axis “unknown”, Eccentricity empty",
// "Name or number begins with ...". `values` are the row's value fields. Writes at most
// NOTE_CAPACITY bytes at `out` and returns how many; nothing for a row with no marks.
inline constexpr std::size_t NOTE_CAPACITY = 1024;
std::size_t describe_marks(row_marks marks, std::span<const std::string_view, VALUE_COUNT> values, char* out);

}  // namespace orbitcsv
