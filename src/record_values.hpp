// A converted row's values as numbers, and the marks that tell a reader of the table why a row is
// not what it seems: a value field whose text is not a number, columns that do not fit the
// block's layout, a name that a spreadsheet would run as a formula. The table itself keeps every
// text as it is; the page marks its rows with these.
#pragma once

#include "element_block.hpp"
#include "orbit_record.hpp"

#include <algorithm>
#include <cstddef>
#include <cstring>
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
// then columns that hold other values than the block's labels give (a comet's block, an
// orbit-fitting program's), then a name or number that a spreadsheet would take for a formula.
using row_marks = std::uint16_t;
inline constexpr row_marks NOT_NUMBER_MARKS = (1u << VALUE_COUNT) - 1;
inline constexpr row_marks LAYOUT_MARK = 1u << VALUE_COUNT;
inline constexpr row_marks FORMULA_MARK = 1u << (VALUE_COUNT + 1);

// A number is a decimal as element lines write them: a sign or none, digits with at most one
// point (one digit at least), then an exponent marked e or E with digits, or none ("-0.0004811",
// "11.16", "2.4e+006"). Anything else, the empty text included, is not.
bool is_number(std::string_view text);

// How many bytes of the text's start are a number of that form; 0 when it does not begin with
// one.
std::size_t number_length(std::string_view text);

// A value as the decimal the text wrote it, where that is one of at most 15 significant digits:
// `digits` times 10^-`places` (places < 0: none is known). No other decimal of so few digits
// reads as the same double, so its shortest text, which the elements table writes, is this one's.
struct exact_decimal {
    std::int64_t digits = 0;
    std::int8_t places = -1;
};

// The number that `text` begins with, of the form is_number states: how many of its bytes it
// takes (0 where it begins with none), its value at `value` as number_value gives it, and at
// `exact`, where it is a decimal of at most 15 digits with no exponent, that decimal.
std::size_t read_number(std::string_view text, double& value, exact_decimal* exact = nullptr);

// The double nearest to what a number denotes, as Python's float() and strtod give it (infinity
// beyond the largest double, zero below the smallest); NaN for a text that is not a number.
// Texts of at most a line, as value fields and labeled values are.
double number_value(std::string_view text);

// A name or number that begins with =, +, - or @, which a spreadsheet may run as a formula.
bool formula_like(std::string_view text);
inline constexpr std::string_view LAYOUT_WORDS =
    "the table's columns do not fit this layout; Download elements has its values";
inline constexpr std::string_view FORMULA_WORDS =
    "Name or number begins with =, +, - or @, which a spreadsheet may take for a formula";

// The number of a designation as a whole number: the number field's text when it is 1 to 18
// digits, whitespace around them allowed. False for anything else ("(Unnamed)" too).
bool designation_number(std::string_view number, std::int64_t& value);

// A converted row's marks of its own: which value fields are not numbers, and a name or number
// like a formula. Whether its columns fit the layout is for the reader of labels to say.
row_marks mark_row(const orbit_record& record);

// The words that say why a row is marked, for a person, joined by "; ": the words of
// LAYOUT_WORDS (and then nothing of its values), "Not numbers: Semimajor axis “unknown”,
// Eccentricity empty", "Name or number begins with ...". `values` are the row's value fields.
// Writes at most NOTE_CAPACITY bytes at `out` and returns how many; nothing for a row with no
// marks.
inline constexpr std::size_t NOTE_CAPACITY = 1024;
std::size_t describe_marks(row_marks marks, std::span<const std::string_view, VALUE_COUNT> values, char* out);

// Appends to a note of NOTE_CAPACITY bytes, never past it; its parts are joined by "; ".
class note_writer {
public:
    explicit note_writer(char* out) : out_(out) {}
    void add(std::string_view text) {
        const std::size_t count = std::min(text.size(), NOTE_CAPACITY - length_);
        std::memcpy(out_ + length_, text.data(), count);
        length_ += count;
    }
    void start_part() {
        if (length_ > 0) add("; ");
    }
    std::size_t length() const { return length_; }

private:
    char* out_;
    std::size_t length_ = 0;
};

}  // namespace orbitcsv
