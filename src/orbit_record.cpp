#include "orbit_record.hpp"

namespace orbitcsv {

namespace {

std::string_view trim_whitespace(std::string_view text) {
    while (!text.empty() && is_whitespace(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_whitespace(text.back())) text.remove_suffix(1);
    return text;
}

// Fields holding any of these are quoted, as RFC 4180 asks.
bool needs_quotes(std::string_view field) {
    for (const char c : field) {
        if (c == ',' || c == '"' || c == '\r' || c == '\n') return true;
    }
    return false;
}

char* put(char* out, std::string_view text) {
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

// The text with every double quote doubled; the caller writes the surrounding quotes.
char* put_escaped(char* out, std::string_view text) {
    for (const char c : text) {
        if (c == '"') *out++ = '"';
        *out++ = c;
    }
    return out;
}

char* put_field(char* out, std::string_view field) {
    if (!needs_quotes(field)) return put(out, field);
    *out++ = '"';
    out = put_escaped(out, field);
    *out++ = '"';
    return out;
}

}  // namespace

void split_designation(std::string_view line, orbit_record& record) {
    std::string_view name = line;
    const std::size_t open = line.find('(');
    const std::size_t close = open == std::string_view::npos ? open : line.find(')', open + 1);
    if (close != std::string_view::npos) {
        record.number.assign(line.substr(open + 1, close - open - 1));
        name = line.substr(close + 1);
    } else {
        record.number.assign(UNNAMED);
    }
    record.name.assign(trim_whitespace(name));
}

std::size_t column_field(std::string_view line, std::size_t first, std::size_t last, char* out) {
    if (line.size() <= first) return 0;
    const std::size_t end = last < line.size() ? last + 1 : line.size();
    std::size_t count = 0;
    for (std::size_t column = first; column < end; ++column) {
        if (!is_whitespace(line[column])) out[count++] = line[column];
    }
    return count;
}

void convert_block(const element_block& block, orbit_record& record) {
    split_designation(block.row(0), record);
    for (const element_column& column : ELEMENT_COLUMNS) {
        text_field<FIELD_CAPACITY>& field = record.*column.field;
        field.length = column_field(block.row(column.row), column.first, column.last, field.text);
    }
    if (record.mean_anomaly.length == 0) record.mean_anomaly.assign(EMPTY_MEAN_ANOMALY);
    record.epoch_mjd.length = epoch_mjd_text(block.row(1), record.epoch_mjd.text);
}

void write_csv_header(output_buffer& out) {
    out.commit(put(out.reserve(CSV_HEADER.size()), CSV_HEADER));
}

void write_csv_row(output_buffer& out, const orbit_record& record) {
    char* p = out.reserve(CSV_ROW_CAPACITY);
    // Name and number share the first column, so they are quoted together.
    const std::string_view name = record.name.view();
    const std::string_view number = record.number.view();
    if (needs_quotes(name) || needs_quotes(number)) {
        *p++ = '"';
        p = put_escaped(p, name);
        *p++ = ' ';
        p = put_escaped(p, number);
        *p++ = '"';
    } else {
        p = put(p, name);
        *p++ = ' ';
        p = put(p, number);
    }
    for (const auto field :
         {&orbit_record::magnitude_h, &orbit_record::magnitude_g, &orbit_record::mean_anomaly,
          &orbit_record::arg_perihelion, &orbit_record::long_node, &orbit_record::inclination,
          &orbit_record::eccentricity, &orbit_record::semimajor_axis, &orbit_record::epoch_mjd}) {
        *p++ = ',';
        p = put_field(p, (record.*field).view());
    }
    *p++ = '\n';
    out.commit(p);
}

}  // namespace orbitcsv
