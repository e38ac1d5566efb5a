#include "orbit_record.hpp"

#include "byte_masks.hpp"

#include <bit>
#include <utility>

namespace orbitcsv {

namespace {

padded_view trim_whitespace(padded_view text) {
    while (!text.empty() && is_whitespace(text[0])) text.remove_prefix(1);
    std::size_t length = text.size();
    while (length > 0 && is_whitespace(text[length - 1])) --length;
    return text.substr(0, length);
}

// Most names and numbers fit one 16-byte copy; the bytes after the text are overwritten by
// what follows it or lie beyond the row, within the room reserved for it.
template <std::size_t Capacity>
char* put(char* out, const text_field<Capacity>& field) {
    if (field.length <= 16) {
        std::memcpy(out, field.text, 16);
    } else {
        std::memcpy(out, field.text, field.length);
    }
    return out + field.length;
}

// Every value fits one 16-byte copy: a column range is at most 16 bytes wide, the epoch text
// shorter still.
char* put_value(char* out, const text_field<FIELD_CAPACITY>& field) {
    assert(field.length <= LONGEST_VALUE);
    std::memcpy(out, field.text, LONGEST_VALUE);
    return out + field.length;
}

// A row written without quotes holds its commas and its newline among the bytes that may call
// for quotes, and no others unless some field holds one; that row is then written again, each
// field tested on its own. The row lies in reserved room: the 16 bytes after it are cleared,
// so that whole vectors can be counted.
bool holds_only_separators(char* row, std::size_t length) {
    static_assert(CSV_ROW_CAPACITY < 255 * 16);
    std::memset(row + length, 0, 16);
    return masks::count_csv_specials(row, length) == std::size(VALUE_FIELDS) + 1;
}

// Writes the row at `p` and returns its end. With Quoting, every field that needs it is quoted;
// name and number share the first column, so they are quoted together. Without, no field is
// looked at, which is the row's fast path.
template <bool Quoting>
char* put_row(char* p, const orbit_record& record) {
    if (Quoting && (needs_quotes(record.name.view()) || needs_quotes(record.number.view()))) {
        *p++ = '"';
        p = put_escaped(p, record.name.view());
        *p++ = ' ';
        p = put_escaped(p, record.number.view());
        *p++ = '"';
    } else {
        p = put(p, record.name);
        *p++ = ' ';
        p = put(p, record.number);
    }
    const auto put_field = [&](const text_field<FIELD_CAPACITY>& field) {
        *p++ = ',';
        if (Quoting && needs_quotes(field.view())) {
            *p++ = '"';
            p = put_escaped(p, field.view());
            *p++ = '"';
        } else {
            p = put_value(p, field);
        }
    };
    // Unrolled, so that each field's place in the record is a constant.
    [&]<std::size_t... Field>(std::index_sequence<Field...>) {
        (put_field(record.*VALUE_FIELDS[Field]), ...);
    }(std::make_index_sequence<std::size(VALUE_FIELDS)>{});
    *p++ = '\n';
    return p;
}

}  // namespace

bool needs_quotes(std::string_view field) {
    return field.find_first_of(",\"\r\n") != std::string_view::npos;
}

char* put_escaped(char* out, std::string_view text) {
    for (const char c : text) {
        if (c == '"') *out++ = '"';
        *out++ = c;
    }
    return out;
}

// The parts of the line are copied as rows are, in whole vectors.
void split_designation(padded_view line, orbit_record& record) {
    const std::size_t open = masks::find_byte(line, '(');
    const std::size_t after_open = open == line.size() ? open : open + 1;
    const std::size_t close = after_open + masks::find_byte(line.substr(after_open), ')');
    padded_view name = line;
    if (close < line.size()) {
        record.number.assign_from_row(line.substr(open + 1, close - open - 1));
        name = line.substr(close + 1);
    } else {
        record.number.assign(UNNAMED);
    }
    record.name.assign_from_row(trim_whitespace(name));
}

std::size_t column_field(padded_view line, std::size_t first, std::size_t last, char* out) {
    if (line.size() <= first) return 0;
    const std::size_t end = last < line.size() ? last + 1 : line.size();
    const std::size_t width = end - first;
    if (width <= 16) {
        // The usual value, one run of non-blank bytes in blanks, is found and copied through one
        // 16-byte vector of the range. The loads reach at most 31 bytes past `first`, into the
        // line's slack where the line is shorter.
        const char* const bytes = line.data() + first;
        const std::uint32_t kept = ~masks::whitespace16(bytes) & masks::low_bits(width);
        if (kept == 0) return 0;
        const int from = std::countr_zero(kept);
        const std::uint32_t run = kept >> from;
        if ((run & (run + 1)) == 0) {
            std::memcpy(out, bytes + from, 16);
            return static_cast<std::size_t>(std::countr_one(run));
        }
    }
    std::size_t count = 0;
    for (std::size_t column = first; column < end; ++column) {
        if (!is_whitespace(line[column])) out[count++] = line[column];
    }
    return count;
}

void convert_block(const element_block& block, orbit_record& record) {
    split_designation(block.row(0), record);
    const auto take = [&](const element_column& column) {
        text_field<FIELD_CAPACITY>& field = record.*column.field;
        field.length = column_field(block.row(column.row), column.first, column.last, field.text);
    };
    // Each column of the table in turn, unrolled so that its row and range are constants in the
    // code that reads it.
    [&]<std::size_t... Column>(std::index_sequence<Column...>) {
        (take(ELEMENT_COLUMNS[Column]), ...);
    }(std::make_index_sequence<std::size(ELEMENT_COLUMNS)>{});
    if (record.mean_anomaly.length == 0) record.mean_anomaly.assign(EMPTY_MEAN_ANOMALY);
    record.epoch_mjd.length = epoch_mjd_text(block.row(1), record.epoch_mjd.text);
}

void write_csv_header(output_buffer& out) {
    char* const p = out.reserve(CSV_HEADER.size());
    std::memcpy(p, CSV_HEADER.data(), CSV_HEADER.size());
    out.commit(p + CSV_HEADER.size());
}

void write_csv_row(output_buffer& out, const orbit_record& record) {
    char* const row = out.reserve(CSV_ROW_CAPACITY);
    // Rows almost never need quotes: the row is written plainly, checked in one pass, and only
    // written again with quotes when some field holds a byte that calls for them.
    char* end = put_row<false>(row, record);
    if (!holds_only_separators(row, static_cast<std::size_t>(end - row))) end = put_row<true>(row, record);
    out.commit(end);
}

// Kept a function of its own: inlined into the driver, which calls it once, the loop is compiled
// with less room in registers and takes more instructions per block.
[[gnu::noinline]] std::int64_t write_csv_table(element_scanner& scanner, output_buffer& out, element_block& block,
                                               orbit_record& record) {
    write_csv_header(out);
    return write_csv_rows(scanner, out, block, record, [](const element_block&, const orbit_record&) {});
}

}  // namespace orbitcsv
