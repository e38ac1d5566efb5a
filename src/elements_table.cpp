// The elements read by their labels, put into words and into the elements table, and held to
// the table's columns.
#include "labeled_elements.hpp"

#include "decimal_digits.hpp"
#include "record_values.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace orbitcsv {

namespace {

// The label each value is printed after, for the words of a note.
constexpr std::string_view PRINTED_LABELS[ELEMENT_COUNT] = {"H", "G", "M", "Peri.", "Node", "Incl.",
                                                            "n", "a", "q", "e", "T", "JDT"};

constexpr std::string_view NOT_READ_WORDS = "Not read: ";

// A field as the table writes one, quoted where it needs to be.
char* put_text(char* p, std::string_view text) {
    if (!needs_quotes(text)) return std::copy(text.begin(), text.end(), p);
    *p++ = '"';
    p = put_escaped(p, text);
    *p++ = '"';
    return p;
}

// A double's shortest decimal: the fewest digits that read back as it, the nearest of them to
// it, as digits and the power of ten of the last (value = digits * 10^exponent).
struct shortest_decimal {
    std::uint64_t digits;
    int exponent;
};

// Most values are decimals of at most 15 significant digits, as the text printed them, and no
// other decimal of so few digits reads as the same double: the fewest decimal places that give
// one back are found by trying each in turn, each tried by one division that rounds once (both
// numbers are exact doubles). The rest, and values beyond the range where that holds, from the
// C library's correctly rounded %e, to the fewest digits that read back.
shortest_decimal shortest(double value) {
    const double magnitude = std::fabs(value);
    if (magnitude >= 1e-5 && magnitude < 1e15) {
        for (int places = 0; places <= 15; ++places) {
            const double scaled = std::nearbyint(magnitude * digits::EXACT_POWERS_OF_TEN[places]);
            if (scaled >= 1e15) break;  // more than 15 digits: not the unique decimal of its length
            if (scaled / digits::EXACT_POWERS_OF_TEN[places] == magnitude) {
                auto digits = static_cast<std::uint64_t>(scaled);
                int exponent = -places;
                for (; digits != 0 && digits % 10 == 0; digits /= 10) ++exponent;
                return {digits, exponent};
            }
        }
    }
    char text[40];
    for (int precision = 15; precision <= 17; ++precision) {
        std::snprintf(text, sizeof text, "%.*e", precision - 1, magnitude);
        if (precision == 17 || std::strtod(text, nullptr) == magnitude) break;
    }
    // "d.ddddde-XX": the digits without the point, then the exponent of the first.
    std::uint64_t digits = 0;
    int count = 0;
    const char* p = text;
    for (; *p != 'e'; ++p) {
        if (*p == '.') continue;
        digits = digits * 10 + static_cast<unsigned>(*p - '0');
        ++count;
    }
    int exponent = std::atoi(p + 1) - (count - 1);
    for (; digits != 0 && digits % 10 == 0; digits /= 10) ++exponent;
    return {digits, exponent};
}

// A number as the elements table writes it: its shortest decimal (the one the text wrote, where
// that is known), in fixed notation where its first digit stands from 10^-4 to 10^15 and as
// "1.5e-05" beyond, as Python's repr() writes floats (but with no ".0" after a whole number);
// nothing for a missing one.
char* put_number(char* p, double value, exact_decimal decimal) {
    if (std::isnan(value)) return p;
    if (std::signbit(value)) *p++ = '-';
    if (std::isinf(value)) return std::copy_n("inf", 3, p);
    if (value == 0) {
        *p++ = '0';
        return p;
    }
    shortest_decimal found;
    if (decimal.places >= 0) {
        found = {static_cast<std::uint64_t>(decimal.digits < 0 ? -decimal.digits : decimal.digits), -decimal.places};
        for (; found.digits % 10 == 0; found.digits /= 10) ++found.exponent;
    } else {
        found = shortest(value);
    }
    const auto [digits, exponent] = found;
    char text[24];
    const int count = static_cast<int>(std::to_chars(text, text + sizeof text, digits).ptr - text);
    const int first = exponent + count - 1;  // the power of ten of the first digit
    if (first < -4 || first >= 16) {
        *p++ = text[0];
        if (count > 1) {
            *p++ = '.';
            p = std::copy(text + 1, text + count, p);
        }
        *p++ = 'e';
        *p++ = first < 0 ? '-' : '+';
        const int magnitude = first < 0 ? -first : first;
        if (magnitude < 10) *p++ = '0';
        return std::to_chars(p, p + 4, magnitude).ptr;
    }
    if (exponent >= 0) {
        p = std::copy(text, text + count, p);
        return std::fill_n(p, exponent, '0');
    }
    if (first >= 0) {
        p = std::copy(text, text + first + 1, p);
        *p++ = '.';
        return std::copy(text + first + 1, text + count, p);
    }
    *p++ = '0';
    *p++ = '.';
    p = std::fill_n(p, -first - 1, '0');
    return std::copy(text, text + count, p);
}

// The table's epoch is written to six significant digits: it holds the labeled epoch when it is
// that epoch so rounded.
bool epoch_fits(double table, double labeled) {
    if (std::isnan(labeled) || std::isnan(table)) return false;
    if (labeled == 0) return table == 0;
    const double half_unit = 0.5 * std::pow(10.0, std::floor(std::log10(std::fabs(labeled))) - 5);
    return std::fabs(table - labeled) <= half_unit * (1 + 1e-9);
}

}  // namespace

std::size_t describe_elements(const labeled_elements& elements, char* out) {
    note_writer note(out);
    if (elements.any_unread()) {
        note.add(NOT_READ_WORDS);
        bool first = true;
        for (std::size_t k = 0; k < ELEMENT_COUNT; ++k) {
            if (elements.unread[k] == unread_reason::none) continue;
            if (!first) note.add(", ");
            first = false;
            note.add(PRINTED_LABELS[k]);
            if (!elements.unread_text[k].empty()) {
                note.add(" “");
                note.add(elements.unread_text[k]);
                note.add("”");
            }
            switch (elements.unread[k]) {
                case unread_reason::no_value: note.add(" (no value)"); break;
                case unread_reason::not_a_date: note.add(" (not a date)"); break;
                case unread_reason::no_julian_date: note.add(" (no Julian date after it)"); break;
                default: note.add(" (not a number)"); break;
            }
        }
    }
    if (elements.formula_like) {
        note.start_part();
        note.add(FORMULA_WORDS);
    }
    return note.length();
}

bool columns_fit_labels(const orbit_record& record, const labeled_elements& elements) {
    struct pair {
        text_field<FIELD_CAPACITY> orbit_record::*column;
        element label;
    };
    static constexpr pair PAIRS[] = {
        {&orbit_record::magnitude_h, element::H},     {&orbit_record::magnitude_g, element::G},
        {&orbit_record::mean_anomaly, element::M},    {&orbit_record::arg_perihelion, element::w},
        {&orbit_record::long_node, element::Omega},   {&orbit_record::inclination, element::i},
        {&orbit_record::eccentricity, element::e},    {&orbit_record::semimajor_axis, element::a},
    };
    for (const auto& [column, label] : PAIRS) {
        const std::string_view text = (record.*column).view();
        const double table = number_value(text);
        const double labeled = elements.value(label);
        if (table == labeled) continue;
        // Neither a number: the column is empty, or the label's value could not be read either.
        if (std::isnan(table) && std::isnan(labeled) &&
            (text.empty() || elements.unread[static_cast<std::size_t>(label)] != unread_reason::none)) {
            continue;
        }
        return false;
    }
    return epoch_fits(number_value(record.epoch_mjd.view()), elements.value(element::epoch));
}

void write_elements_header(output_buffer& out) {
    char* const p = out.reserve(ELEMENTS_CSV_HEADER.size());
    out.commit(std::copy(ELEMENTS_CSV_HEADER.begin(), ELEMENTS_CSV_HEADER.end(), p));
}

void write_elements_row(output_buffer& out, const labeled_elements& elements) {
    char* p = out.reserve(ELEMENTS_ROW_CAPACITY);
    p = std::to_chars(p, p + 24, elements.line).ptr;
    *p++ = ',';
    p = put_text(p, elements.name);
    *p++ = ',';
    if (elements.has_number) p = std::to_chars(p, p + 24, elements.number).ptr;
    *p++ = ',';
    p = put_text(p, elements.designation);
    for (std::size_t k = 0; k < ELEMENT_COUNT; ++k) {
        *p++ = ',';
        p = put_number(p, elements.values[k], elements.decimals[k]);
    }
    *p++ = ',';
    p = put_text(p, CENTER_NAMES[static_cast<std::size_t>(elements.center)]);
    *p++ = ',';
    char note[NOTE_CAPACITY];
    p = put_text(p, {note, describe_elements(elements, note)});
    *p++ = '\n';
    out.commit(p);
}

std::int64_t write_elements_table(element_scanner& scanner, output_buffer& out, element_block& block,
                                  labeled_elements& elements) {
    write_elements_header(out);
    std::int64_t rows = 0;
    labeled_reader reader;
    while (!out.failed() && scanner.find_element_block(block)) {
        reader.read(lines_of_block(scanner, block), elements);
        write_elements_row(out, elements);
        ++rows;
    }
    return rows;
}

}  // namespace orbitcsv
