#include "record_values.hpp"

#include "byte_masks.hpp"
#include "decimal_digits.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

namespace orbitcsv {

namespace {

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The digits at p, and where they end.
const char* skip_digits(const char* p, const char* end) {
    while (p != end && is_digit(*p)) ++p;
    return p;
}

// Where the number that the text begins with ends, by the form is_number states; null when the
// text does not begin with one.
const char* number_end(const char* p, const char* end) {
    if (p != end && (*p == '-' || *p == '+')) ++p;
    const char* const integer_end = skip_digits(p, end);
    bool any_digit = integer_end != p;
    p = integer_end;
    if (p != end && *p == '.') {
        const char* const fraction_end = skip_digits(p + 1, end);
        any_digit = any_digit || fraction_end != p + 1;
        p = fraction_end;
    }
    if (!any_digit) return nullptr;
    if (p != end && (*p == 'e' || *p == 'E')) {
        const char* exponent = p + 1;
        if (exponent != end && (*exponent == '-' || *exponent == '+')) ++exponent;
        const char* const exponent_end = skip_digits(exponent, end);
        // A marker with no digits after it is not part of the number.
        if (exponent_end != exponent) p = exponent_end;
    }
    return p;
}

#if defined(__cpp_lib_to_chars)
// A number too large or too small for a double, which std::from_chars leaves unread: infinity
// when its first significant digit stands at a positive power of ten, else zero. Only the
// extremes get here, far from where the two meet.
double beyond_range(const char* p, const char* end) {
    const char* const digits_end = std::find_if(p, end, [](char c) { return c == 'e' || c == 'E'; });
    const char* const point = std::find(p, digits_end, '.');
    const char* first_significant = p;
    while (first_significant != digits_end && (*first_significant == '0' || *first_significant == '.')) ++first_significant;
    if (first_significant == digits_end) return 0.0;
    // The power of ten of the first significant digit, before the exponent.
    const long magnitude = first_significant < point ? point - first_significant - 1 : point - first_significant;
    long exponent = 0;
    if (digits_end != end) {
        const char* e = digits_end + 1;
        const bool negative = *e == '-';
        if (*e == '-' || *e == '+') ++e;
        for (; e != end; ++e) exponent = std::min(exponent * 10 + (*e - '0'), 100000L);
        if (negative) exponent = -exponent;
    }
    return magnitude + exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
}

// The value of an unsigned number of the form is_number states.
double parse_unsigned(const char* p, const char* end) {
    double value = 0;
    if (std::from_chars(p, end, value, std::chars_format::general).ec == std::errc::result_out_of_range) {
        return beyond_range(p, end);
    }
    return value;
}
#else
// Without the C++ library's reading of doubles (libc++ before 17, the page's), strtod reads the
// number from a copy on the stack that ends where it does: no number is longer than a line. The
// "C" locale is the only one the programs that use this run in.
double parse_unsigned(const char* p, const char* end) {
    const auto length = std::min(static_cast<std::size_t>(end - p), LINE_CAPACITY);
    char text[LINE_CAPACITY + 1];
    std::memcpy(text, p, length);
    text[length] = '\0';
    return std::strtod(text, nullptr);
}
#endif

// The value of a text known to be a number.
double value_of_number(std::string_view text) {
    const char* p = text.data();
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    const double magnitude = parse_unsigned(p, text.data() + text.size());
    return negative ? -magnitude : magnitude;
}

constexpr std::string_view FORMULA_STARTS = "=+-@";

// Whether a value field is a number. The usual form, digits with at most one point after a sign
// or none, is told from two masks of one 16-byte load (the field has room for it): nearly every
// value; any other is read by the rules.
bool field_is_number(const text_field<FIELD_CAPACITY>& field) {
    static_assert(FIELD_CAPACITY >= 16);
    const std::size_t length = field.length;
    if (length > 0 && length <= 16) {
        const std::uint32_t within = masks::low_bits(length);
        const std::uint32_t digits = masks::digit16(field.text) & within;
        const std::uint32_t points = masks::equal16(field.text, '.') & within;
        const std::uint32_t sign = field.text[0] == '-' || field.text[0] == '+' ? 1 : 0;
        if (digits != 0 && (digits | points | sign) == within && (points & (points - 1)) == 0) return true;
    }
    return is_number(field.view());
}

constexpr std::string_view NOT_NUMBERS_WORDS = "Not numbers: ";

// The title of table column `column` (0 is the name), from the header.
std::string_view column_title(std::size_t column) {
    std::string_view header = CSV_HEADER.substr(0, CSV_HEADER.size() - 1);
    for (; column > 0; --column) header.remove_prefix(header.find(',') + 1);
    return header.substr(0, header.find(','));
}


// The value of `count` (0 to 15) digits at `p`, eight at a time, from bytes that may be read
// eight past the digits.
std::uint64_t digits_at(const char* p, unsigned count) {
    if constexpr (std::endian::native == std::endian::little) {
        const auto word_at = [](const char* at) {
            std::uint64_t word;
            std::memcpy(&word, at, 8);
            return word;
        };
        if (count == 0) return 0;
        if (count <= 8) return digits::digits_value(word_at(p), count);
        return digits::digits_value(word_at(p), count - 8) * digits::POWERS_OF_10[8] +
               digits::digits_value(word_at(p + count - 8), 8);
    } else {
        std::uint64_t number = 0;
        for (unsigned at = 0; at < count; ++at) number = number * 10 + static_cast<unsigned>(p[at] - '0');
        return number;
    }
}

constexpr bool is_exponent_start(const char* p) {
    return (p[0] == 'e' || p[0] == 'E') && (is_digit(p[1]) || ((p[1] == '-' || p[1] == '+') && is_digit(p[2])));
}

}  // namespace

// Nearly every value is digits with a point or none, fifteen characters at most and no exponent:
// such a one is told from two masks of its first 16 bytes, copied where they may be read past
// (and past the text's end, as zeros), and read exactly in two steps of eight digits. Any other
// number is read by the rules.
std::size_t read_number(std::string_view text, double& value, exact_decimal* exact) {
    char window[48] = {};
    if (text.size() >= 32) {
        std::memcpy(window, text.data(), 32);
    } else {
        std::memcpy(window, text.data(), text.size());
    }
    const std::size_t sign = window[0] == '-' || window[0] == '+' ? 1 : 0;
    const char* const q = window + sign;
    const std::uint32_t digits = masks::digit16(q);
    const std::uint32_t points = masks::equal16(q, '.');
    const auto length = static_cast<unsigned>(std::countr_one(digits | points));
    const std::uint32_t point_bits = points & masks::low_bits(length);
    if ((digits & masks::low_bits(length)) == 0) return 0;  // no digit: no number
    if (length < 16 && (point_bits & (point_bits - 1)) == 0 && !is_exponent_start(q + length)) {
        const unsigned point = point_bits != 0 ? static_cast<unsigned>(std::countr_zero(point_bits)) : length;
        const unsigned decimals = point_bits != 0 ? length - point - 1 : 0;
        const std::uint64_t number = digits_at(q, point) * digits::POWERS_OF_10[decimals] + digits_at(q + point + 1, decimals);
        const double magnitude = static_cast<double>(number) / digits::EXACT_POWERS_OF_TEN[decimals];
        value = window[0] == '-' ? -magnitude : magnitude;
        if (exact != nullptr) {
            const auto whole = static_cast<std::int64_t>(number);
            *exact = {window[0] == '-' ? -whole : whole, static_cast<std::int8_t>(decimals)};
        }
        return sign + length;
    }
    const std::size_t length_read = number_length(text);
    if (length_read != 0) value = value_of_number(text.substr(0, length_read));
    return length_read;
}

std::size_t number_length(std::string_view text) {
    const char* const end = number_end(text.data(), text.data() + text.size());
    return end != nullptr ? static_cast<std::size_t>(end - text.data()) : 0;
}

bool formula_like(std::string_view text) {
    return !text.empty() && FORMULA_STARTS.find(text.front()) != std::string_view::npos;
}

bool is_number(std::string_view text) {
    const char* const end = number_end(text.data(), text.data() + text.size());
    return end != nullptr && end == text.data() + text.size();
}

double number_value(std::string_view text) {
    double value;
    return !text.empty() && read_number(text, value) == text.size() ? value : std::numeric_limits<double>::quiet_NaN();
}

bool designation_number(std::string_view number, std::int64_t& value) {
    constexpr std::size_t MOST_DIGITS = 18;
    while (!number.empty() && is_whitespace(number.front())) number.remove_prefix(1);
    while (!number.empty() && is_whitespace(number.back())) number.remove_suffix(1);
    if (number.empty() || number.size() > MOST_DIGITS || !std::all_of(number.begin(), number.end(), is_digit)) return false;
    value = 0;
    for (const char c : number) value = value * 10 + (c - '0');
    return true;
}

row_marks mark_row(const orbit_record& record) {
    row_marks marks = formula_like(record.name.view()) || formula_like(record.number.view()) ? FORMULA_MARK : 0;
    [&]<std::size_t... Field>(std::index_sequence<Field...>) {
        ((marks |= static_cast<row_marks>(!field_is_number(record.*VALUE_FIELDS[Field]) << Field)), ...);
    }(std::make_index_sequence<VALUE_COUNT>{});
    return marks;
}

std::size_t describe_marks(row_marks marks, std::span<const std::string_view, VALUE_COUNT> values, char* out) {
    note_writer note(out);
    if (marks & LAYOUT_MARK) {
        note.add(LAYOUT_WORDS);
    } else if (marks & NOT_NUMBER_MARKS) {
        note.add(NOT_NUMBERS_WORDS);
        bool first = true;
        for (std::size_t field = 0; field < VALUE_COUNT; ++field) {
            if (!(marks & (1u << field))) continue;
            if (!first) note.add(", ");
            first = false;
            note.add(column_title(field + 1));
            if (values[field].empty()) {
                note.add(" empty");
            } else {
                note.add(" “");
                note.add(values[field]);
                note.add("”");
            }
        }
    }
    if (marks & FORMULA_MARK) {
        note.start_part();
        note.add(FORMULA_WORDS);
    }
    return note.length();
}

}  // namespace orbitcsv
