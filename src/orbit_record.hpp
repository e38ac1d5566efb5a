// Record conversion and CSV output: turns a captured element block into the eleven text fields
// of one table row, and writes the table's header and rows.
#pragma once

#include "byte_io.hpp"
#include "element_block.hpp"

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace orbitcsv {

inline constexpr std::size_t FIELD_CAPACITY = 80;
// Values are moved 16 bytes at a time, so every place that takes one has room for that.
inline constexpr std::size_t COLUMN_FIELD_ROOM = 16;
// No value is longer: a column range is at most this wide, the epoch text shorter.
inline constexpr std::size_t LONGEST_VALUE = 16;
inline constexpr double MJD_OFFSET = 2400000.5;

inline constexpr std::string_view UNNAMED = "(Unnamed)";
inline constexpr std::string_view EMPTY_MEAN_ANOMALY = "0.0";
inline constexpr std::string_view JDT_MARK = "JDT";
inline constexpr std::string_view CSV_HEADER =
    "Name,Magnitude H,Magnitude G,Mean anomaly,Arg. perihelion,Long. node,Inclination,"
    "Eccentricity,Semimajor axis,Epoch (MJD)\n";

// Space, and tab to carriage return (0x09 to 0x0D). No byte from 0x80 up is whitespace.
constexpr bool is_whitespace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

template <std::size_t Capacity>
struct text_field {
    static_assert(Capacity >= COLUMN_FIELD_ROOM);
    std::string_view view() const { return {text, length}; }
    void assign(std::string_view value) {
        assert(value.size() < Capacity);
        std::memcpy(text, value.data(), value.size());
        length = value.size();
    }
    // The same for text of a row, copied in whole 16-byte vectors: the copy reads into the
    // row's slack, and writes as far into the field's room.
    void assign_from_row(padded_view value) {
        assert(value.size() + COLUMN_FIELD_ROOM <= Capacity);
        for (std::size_t at = 0; at < value.size(); at += 16) std::memcpy(text + at, value.data() + at, 16);
        length = value.size();
    }

    char text[Capacity]{};
    std::size_t length = 0;
};

struct orbit_record {
    // A designation may fill a whole line, and its name and number are never cut.
    text_field<LINE_CAPACITY + COLUMN_FIELD_ROOM> name;
    text_field<LINE_CAPACITY + COLUMN_FIELD_ROOM> number;
    text_field<FIELD_CAPACITY> magnitude_h;
    text_field<FIELD_CAPACITY> magnitude_g;
    text_field<FIELD_CAPACITY> mean_anomaly;
    text_field<FIELD_CAPACITY> arg_perihelion;
    text_field<FIELD_CAPACITY> long_node;
    text_field<FIELD_CAPACITY> inclination;
    text_field<FIELD_CAPACITY> eccentricity;
    text_field<FIELD_CAPACITY> semimajor_axis;
    text_field<FIELD_CAPACITY> epoch_mjd;
};

// The fields after the first column (name and number), in the order of the header.
inline constexpr text_field<FIELD_CAPACITY> orbit_record::*VALUE_FIELDS[] = {
    &orbit_record::magnitude_h,    &orbit_record::magnitude_g, &orbit_record::mean_anomaly,
    &orbit_record::arg_perihelion, &orbit_record::long_node,   &orbit_record::inclination,
    &orbit_record::eccentricity,   &orbit_record::semimajor_axis, &orbit_record::epoch_mjd};

// Where each element value stands: block row (2 is the first line after the epoch line) and
// columns counted from 0, both ends included.
struct element_column {
    std::size_t row;
    std::size_t first;
    std::size_t last;
    text_field<FIELD_CAPACITY> orbit_record::*field;
};

inline constexpr element_column ELEMENT_COLUMNS[] = {
    {6, 20, 30, &orbit_record::magnitude_h},
    {6, 39, 48, &orbit_record::magnitude_g},
    {2, 2, 15, &orbit_record::mean_anomaly},
    {3, 26, 35, &orbit_record::arg_perihelion},
    {4, 26, 35, &orbit_record::long_node},
    {5, 26, 35, &orbit_record::inclination},
    {5, 2, 15, &orbit_record::eccentricity},
    {4, 2, 15, &orbit_record::semimajor_axis},
};
static_assert([] {
    for (const element_column& column : ELEMENT_COLUMNS) {
        if (column.last - column.first + 1 > LONGEST_VALUE) return false;
    }
    return true;
}());

// The longest text epoch_mjd_text writes, "-1.23457e+308" or "-0.000123457", with room to spare.
inline constexpr std::size_t EPOCH_TEXT_CAPACITY = 24;
static_assert(std::string_view("-1.23457e+308").size() <= LONGEST_VALUE);

// The name after the first "(...)" and the text inside it; with no such pair, the whole line
// and "(Unnamed)". The name is trimmed of whitespace, the number taken verbatim.
void split_designation(padded_view line, orbit_record& record);

// The bytes of columns first..last that are not whitespace, stored at `out`; returns how many.
// `out` has room for last - first + 1 bytes and never less than COLUMN_FIELD_ROOM.
std::size_t column_field(padded_view line, std::size_t first, std::size_t last, char* out);

// The Julian date after the first "JDT" of the line, less MJD_OFFSET, written as printf's %g
// writes it on the systems this table format comes from: six significant digits rounded half-up
// from the 17-digit decimal expansion, and a three-digit exponent ("-2.4e+006"). The number is
// read as atof reads it, with D and d also taken as exponent markers; text that is not a number
// reads as 0, and a value too large for a double gives "inf" or "-inf". Stores at most
// EPOCH_TEXT_CAPACITY bytes at `out` and returns how many.
std::size_t epoch_mjd_text(padded_view epoch_line, char* out);

void convert_block(const element_block& block, orbit_record& record);

// The most bytes one row can take: the first column with every byte a quote, doubled, and every
// other field at its capacity, doubled and quoted, with its comma. That is far more than a row
// written without quotes and the 16 bytes that vector copies and reads may go past it. An
// output_buffer that rows are written to must hold at least this much.
inline constexpr std::size_t CSV_ROW_CAPACITY =
    2 * (2 * LINE_CAPACITY + 2) + 9 * (2 * FIELD_CAPACITY + 3) + 1;

// Fields holding a comma, a double quote, CR or LF are quoted, as RFC 4180 asks: whether one
// does, and the text with every double quote doubled (the caller writes the quotes about it).
bool needs_quotes(std::string_view field);
char* put_escaped(char* out, std::string_view text);

void write_csv_header(output_buffer& out);
void write_csv_row(output_buffer& out, const orbit_record& record);

// One row for every block the scanner finds, converted in `block` and `record`, until the input
// ends, the scanner waits for bytes or a write fails; `each_row(block, record)` after each row
// is written. Returns the rows written.
template <class Each_row>
std::int64_t write_csv_rows(element_scanner& scanner, output_buffer& out, element_block& block, orbit_record& record,
                            Each_row each_row) {
    std::int64_t records = 0;
    // After a failed write nothing more can reach the output, so the run stops there.
    while (!out.failed() && scanner.find_element_block(block)) {
        convert_block(block, record);
        write_csv_row(out, record);
        each_row(static_cast<const element_block&>(block), static_cast<const orbit_record&>(record));
        ++records;
    }
    return records;
}

// The whole table: the header, then the rows, until the input ends or a write fails. Returns
// the rows written.
std::int64_t write_csv_table(element_scanner& scanner, output_buffer& out, element_block& block,
                             orbit_record& record);

}  // namespace orbitcsv
