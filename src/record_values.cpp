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
#include <string>
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

constexpr std::size_t EPOCH_FIELD = value_field_index(&orbit_record::epoch_mjd);

constexpr std::string_view COMET_FIRST_LINE = "T ";
constexpr std::string_view COMET_SECOND_LINE = "q ";
constexpr std::string_view FORMULA_STARTS = "=+-@";

// Where the parts of a value of the usual form stand: the digits begin after the sign (0 or 1
// byte), the point at `point` (the length when there is none).
struct usual_layout {
    std::size_t sign;
    std::size_t point;
};

// A value field of the usual form, digits with at most one point after a sign or none, told from
// two masks of one 16-byte load (the field has room for it): nearly every value. False for any
// other form.
bool usual_form(const text_field<FIELD_CAPACITY>& field, usual_layout& layout) {
    static_assert(FIELD_CAPACITY >= 16);
    const std::size_t length = field.length;
    if (length == 0 || length > 16) return false;
    const std::uint32_t within = masks::low_bits(length);
    const std::uint32_t digits = masks::digit16(field.text) & within;
    const std::uint32_t points = masks::equal16(field.text, '.') & within;
    const std::uint32_t sign = field.text[0] == '-' || field.text[0] == '+' ? 1 : 0;
    if (digits == 0 || (digits | points | sign) != within || (points & (points - 1)) != 0) return false;
    layout = {sign, points != 0 ? static_cast<std::size_t>(std::countr_zero(points)) : length};
    return true;
}

// The value of `count` (0 to 16) digits at `p`, read eight at a time from the text as it lies
// (the field's room takes the whole loads).
std::uint64_t digits_at(const char* p, unsigned count) {
    if constexpr (std::endian::native == std::endian::little) {
        const auto word_at = [](const char* at) {
            std::uint64_t word;
            std::memcpy(&word, at, 8);
            return word;
        };
        if (count == 0) return 0;
        if (count <= 8) return digits::digits_value(word_at(p), count);
        return digits::digits_value(word_at(p), count - 8) * digits::POWERS_OF_10[8] + digits::digits_value(word_at(p + count - 8), 8);
    } else {
        std::uint64_t number = 0;
        for (unsigned at = 0; at < count; ++at) number = number * 10 + static_cast<unsigned>(p[at] - '0');
        return number;
    }
}

// Up to the most decimals a field of the usual form (16 bytes at most, a point among them) has.
constexpr double EXACT_POWERS_OF_TEN[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

// The value of a field of the usual form: the digits before the point and those after it, each
// read in place (gathering them side by side first made the loads wait on the stores), then
// Clinger's fast path: an integer of at most 2^53 and a power of ten up to 10^22 are exact
// doubles, so one division rounds their quotient correctly. False for one of more digits than
// an exact double holds.
bool usual_value(const text_field<FIELD_CAPACITY>& field, usual_layout layout, double& value) {
    constexpr std::uint64_t LARGEST_EXACT = std::uint64_t{1} << 53;
    const char* const text = field.text;
    const std::size_t length = field.length;
    const auto [sign, point] = layout;
    const std::size_t decimals = point < length ? length - 1 - point : 0;
    const std::uint64_t number = digits_at(text + sign, static_cast<unsigned>(point - sign)) * digits::POWERS_OF_10[decimals] +
                                 digits_at(text + point + 1, static_cast<unsigned>(decimals));
    if (number > LARGEST_EXACT) return false;
    const double magnitude = static_cast<double>(number) / EXACT_POWERS_OF_TEN[decimals];
    value = text[0] == '-' ? -magnitude : magnitude;
    return true;
}

// Whether a value field is a number.
bool field_is_number(const text_field<FIELD_CAPACITY>& field) {
    usual_layout layout;
    return usual_form(field, layout) || is_number(field.view());
}

// A value field as a number; NaN, and `number` false, where it is not one.
double read_field(const text_field<FIELD_CAPACITY>& field, bool& number) {
    usual_layout layout;
    double value;
    if (usual_form(field, layout)) {
        number = true;
        return usual_value(field, layout, value) ? value : value_of_number(field.view());
    }
    number = is_number(field.view());
    return number ? value_of_number(field.view()) : std::numeric_limits<double>::quiet_NaN();
}

// Whether field `field` of a row with `marks` has no value: its text is not a number, or the row
// is a comet block's, whose lines hold other elements than the table's but for the epoch.
bool value_missing(row_marks marks, std::size_t field) {
    return (marks & (1u << field)) || ((marks & COMET_BLOCK_MARK) && field != EPOCH_FIELD);
}

// The marks a row has besides its values': a comet block, a name or number like a formula.
row_marks block_marks(const element_block& block, const orbit_record& record) {
    row_marks marks = is_comet_block(block) ? COMET_BLOCK_MARK : 0;
    if (formula_like(record.name.view()) || formula_like(record.number.view())) marks |= FORMULA_MARK;
    return marks;
}

constexpr std::string_view COMET_WORDS = "Comet block: the table does not read its T, q and z lines";
constexpr std::string_view NOT_NUMBERS_WORDS = "Not numbers: ";
constexpr std::string_view NOTE_SEPARATOR = "; ";

// The title of table column `column` (0 is the name), from the header.
std::string_view column_title(std::size_t column) {
    std::string_view header = CSV_HEADER.substr(0, CSV_HEADER.size() - 1);
    for (; column > 0; --column) header.remove_prefix(header.find(',') + 1);
    return header.substr(0, header.find(','));
}

// Appends to a note, never past its capacity.
class note_writer {
public:
    explicit note_writer(char* out) : out_(out) {}
    void add(std::string_view text) {
        const std::size_t count = std::min(text.size(), NOTE_CAPACITY - length_);
        std::memcpy(out_ + length_, text.data(), count);
        length_ += count;
    }
    void start_part() {
        if (length_ > 0) add(NOTE_SEPARATOR);
    }
    std::size_t length() const { return length_; }

private:
    char* out_;
    std::size_t length_ = 0;
};

}  // namespace

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
    return is_number(text) ? value_of_number(text) : std::numeric_limits<double>::quiet_NaN();
}

bool is_comet_block(const element_block& block) {
    return block.row(2).text().starts_with(COMET_FIRST_LINE) && block.row(3).text().starts_with(COMET_SECOND_LINE);
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

row_marks read_row(const element_block& block, const orbit_record& record, std::span<double, VALUE_COUNT> values) {
    row_marks marks = block_marks(block, record);
    [&]<std::size_t... Field>(std::index_sequence<Field...>) {
        bool number = true;
        ((values[Field] = read_field(record.*VALUE_FIELDS[Field], number), marks |= static_cast<row_marks>(!number << Field)), ...);
    }(std::make_index_sequence<VALUE_COUNT>{});
    if (marks & COMET_BLOCK_MARK) {
        for (std::size_t field = 0; field < VALUE_COUNT; ++field) {
            if (value_missing(marks, field)) values[field] = std::numeric_limits<double>::quiet_NaN();
        }
    }
    return marks;
}

row_marks mark_row(const element_block& block, const orbit_record& record) {
    row_marks marks = block_marks(block, record);
    [&]<std::size_t... Field>(std::index_sequence<Field...>) {
        ((marks |= static_cast<row_marks>(!field_is_number(record.*VALUE_FIELDS[Field]) << Field)), ...);
    }(std::make_index_sequence<VALUE_COUNT>{});
    return marks;
}

double field_value(const orbit_record& record, row_marks marks, std::size_t field) {
    if (value_missing(marks, field)) return std::numeric_limits<double>::quiet_NaN();
    bool number;
    return read_field(record.*VALUE_FIELDS[field], number);
}

std::size_t describe_marks(row_marks marks, std::span<const std::string_view, VALUE_COUNT> values, char* out) {
    note_writer note(out);
    if (marks & COMET_BLOCK_MARK) {
        note.add(COMET_WORDS);
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
