// The converter as the page runs it: the program's scanner, conversion and CSV writer behind an
// entry that the page's worker calls as the bytes of one input arrive. start() begins a table,
// convert() goes as far as the bytes handed over so far allow, and once the input has ended
// (or failed) it finishes the table and gives the summary line or the message. The input, the
// table and the messages pass through functions the worker supplies; there is no file system.
//
// Beside each row the page gets a note of it: its length in the table, which of its value
// columns are not numbers, and its semimajor axis, eccentricity and inclination for the plots.
#include "byte_io.hpp"
#include "byte_masks.hpp"
#include "element_block.hpp"
#include "messages.hpp"
#include "orbit_record.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>
#include <optional>
#include <utility>

namespace {

using namespace orbitcsv;

// What the worker supplies.
extern "C" {
// Stores up to `capacity` bytes of the input at `into`: the count stored, or READ_END,
// READ_FAILED or READ_LATER.
[[clang::import_module("orbitcsv"), clang::import_name("read_input")]] std::int32_t host_read_input(
    char* into, std::uint32_t capacity);
[[clang::import_module("orbitcsv"), clang::import_name("write_table")]] void host_write_table(
    const char* bytes, std::uint32_t length);
[[clang::import_module("orbitcsv"), clang::import_name("write_notes")]] void host_write_notes(
    const std::uint32_t* lengths, const std::uint16_t* not_numbers, const float* semimajor_axes,
    const float* eccentricities, const float* inclinations, std::uint32_t count);
[[clang::import_module("orbitcsv"), clang::import_name("write_message")]] void host_write_message(
    const char* bytes, std::uint32_t length);
}

class page_source final : public byte_source {
public:
    std::ptrdiff_t read_some(char* into, std::size_t capacity) override {
        return host_read_input(into, static_cast<std::uint32_t>(capacity));
    }
};

class page_sink final : public byte_sink {
public:
    explicit page_sink(void (*write)(const char*, std::uint32_t)) : write_(write) {}
    bool write_all(std::string_view bytes) override {
        write_(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
        return true;
    }

private:
    void (*write_)(const char*, std::uint32_t);
};

// A value column as a number: a decimal as element lines write them ("-0.0004811", "11.16",
// "2.4e+006"): a sign, digits with at most one point and at least one digit, and an exponent
// marked e or E with digits. Anything else, the empty field included, is not a number (NaN).
// Good to a float's precision, which is what the plots draw with. Without Value only the form
// is checked: the result is 0 for a number.
template <bool Value>
double read_number(std::string_view text) {
    constexpr double NOT_A_NUMBER = std::numeric_limits<double>::quiet_NaN();
    constexpr double POWERS_OF_TEN[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                        1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    constexpr int LARGEST_TABLE_POWER = static_cast<int>(std::size(POWERS_OF_TEN)) - 1;
    constexpr std::uint64_t DIGITS_KEPT = 100'000'000'000'000'000;  // 18 digits are more than a double holds
    const char* p = text.data();
    const char* const end = p + text.size();
    const auto digit = [&] { return p != end && *p >= '0' && *p <= '9'; };
    const bool negative = p != end && *p == '-';
    if (p != end && (*p == '-' || *p == '+')) ++p;
    std::uint64_t digits = 0;
    int scale = 0;  // the power of ten of the last digit kept
    const char* const first_digit = p;
    for (; digit(); ++p) {
        if constexpr (Value) {
            if (digits < DIGITS_KEPT) {
                digits = digits * 10 + static_cast<unsigned>(*p - '0');
            } else {
                ++scale;
            }
        }
    }
    bool any_digit = p != first_digit;
    if (p != end && *p == '.') {
        const char* const after_point = ++p;
        for (; digit(); ++p) {
            if constexpr (Value) {
                if (digits < DIGITS_KEPT) {
                    digits = digits * 10 + static_cast<unsigned>(*p - '0');
                    --scale;
                }
            }
        }
        any_digit = any_digit || p != after_point;
    }
    if (!any_digit) return NOT_A_NUMBER;
    if (p != end && (*p == 'e' || *p == 'E')) {
        ++p;
        const bool negative_exponent = p != end && *p == '-';
        if (p != end && (*p == '-' || *p == '+')) ++p;
        if (!digit()) return NOT_A_NUMBER;
        int exponent = 0;
        for (; digit(); ++p) exponent = std::min(exponent * 10 + (*p - '0'), 10000);
        scale += negative_exponent ? -exponent : exponent;
    }
    if (p != end) return NOT_A_NUMBER;
    if constexpr (!Value) return 0;
    if (digits == 0) return negative ? -0.0 : 0.0;  // zero times ten to any power, "0e400" too
    double magnitude = static_cast<double>(digits);
    if (scale >= -LARGEST_TABLE_POWER && scale <= LARGEST_TABLE_POWER) {
        magnitude = scale < 0 ? magnitude / POWERS_OF_TEN[-scale] : magnitude * POWERS_OF_TEN[scale];
    } else {
        magnitude *= std::pow(10.0, scale);
    }
    return negative ? -magnitude : magnitude;
}

// read_number's test of the form, with the form nearly every value column has (digits with at
// most one point, after a sign or none) told from two masks of one 16-byte load instead of byte
// by byte (the record's fields have room for the load): a third less time for the notes' numbers.
bool is_number(std::string_view text) {
    static_assert(COLUMN_FIELD_ROOM >= 16);
    const std::size_t length = text.size();
    if (length > 0 && length <= 16) {
        const std::uint32_t within = masks::low_bits(length);
        const std::uint32_t digits = masks::digit16(text.data()) & within;
        const std::uint32_t points = masks::equal16(text.data(), '.') & within;
        const std::uint32_t sign = text[0] == '-' || text[0] == '+' ? 1 : 0;
        if (digits != 0 && (digits | points | sign) == within && std::popcount(points) <= 1) return true;
    }
    return !std::isnan(read_number<false>(text));
}

// Notes on the rows since the last handed over, handed over when full and whenever convert()
// returns.
class row_notes {
public:
    void add(const orbit_record& record, std::uint64_t length) {
        const double semimajor_axis = read_number<true>(record.semimajor_axis.view());
        const double eccentricity = read_number<true>(record.eccentricity.view());
        const double inclination = read_number<true>(record.inclination.view());
        // Bit i stands for the value field i, in the order of the table's columns. The fields
        // read for their values above are not read again.
        const auto not_number = [&]<std::size_t Column>() -> bool {
            constexpr auto field = VALUE_FIELDS[Column];
            if constexpr (field == &orbit_record::semimajor_axis) return std::isnan(semimajor_axis);
            if constexpr (field == &orbit_record::eccentricity) return std::isnan(eccentricity);
            if constexpr (field == &orbit_record::inclination) return std::isnan(inclination);
            return !is_number((record.*field).view());
        };
        std::uint16_t not_numbers = 0;
        [&]<std::size_t... Column>(std::index_sequence<Column...>) {
            ((not_numbers |= static_cast<std::uint16_t>(not_number.template operator()<Column>() << Column)), ...);
        }(std::make_index_sequence<std::size(VALUE_FIELDS)>{});
        lengths_[count_] = static_cast<std::uint32_t>(length);
        not_numbers_[count_] = not_numbers;
        semimajor_axes_[count_] = static_cast<float>(semimajor_axis);
        eccentricities_[count_] = static_cast<float>(eccentricity);
        inclinations_[count_] = static_cast<float>(inclination);
        if (++count_ == CAPACITY) hand_over();
    }
    void hand_over() {
        if (count_ > 0) {
            host_write_notes(lengths_, not_numbers_, semimajor_axes_, eccentricities_, inclinations_,
                             static_cast<std::uint32_t>(count_));
        }
        count_ = 0;
    }

private:
    static constexpr std::size_t CAPACITY = 4096;
    std::uint32_t lengths_[CAPACITY];
    std::uint16_t not_numbers_[CAPACITY];
    float semimajor_axes_[CAPACITY];
    float eccentricities_[CAPACITY];
    float inclinations_[CAPACITY];
    std::size_t count_ = 0;
};

constexpr std::size_t OUTPUT_BUFFER_BYTES = 256 * 1024;
constexpr std::size_t NAME_CAPACITY = 4096;

// Everything a conversion works in, fixed in size, as in the program.
char input_storage[DEFAULT_READ_BUFFER_BYTES + LINE_SLACK];
char output_storage[OUTPUT_BUFFER_BYTES];
char message_text[NAME_CAPACITY + 64];
char input_name[NAME_CAPACITY];
std::size_t input_name_length = 0;
page_source source;
page_sink table_sink(host_write_table);
page_sink message_sink(host_write_message);
std::optional<element_scanner> scanner;
std::optional<output_buffer> table;
element_block block;
orbit_record record;
row_notes notes;
std::int64_t records = 0;
std::uint64_t table_bytes_noted = 0;

constexpr std::int32_t WANTS_MORE_INPUT = -1;

}  // namespace

// Where the worker puts the input's name (UTF-8) before start().
extern "C" [[clang::export_name("input_name_storage")]] char* input_name_storage() { return input_name; }
extern "C" [[clang::export_name("input_name_capacity")]] std::uint32_t input_name_capacity() { return NAME_CAPACITY; }

// Begins the table of an input whose name is the `name_length` bytes in input_name_storage().
extern "C" [[clang::export_name("start")]] void start(std::uint32_t name_length) {
    input_name_length = name_length < NAME_CAPACITY ? name_length : NAME_CAPACITY;
    scanner.emplace(source, input_storage);
    table.emplace(table_sink, output_storage);
    records = 0;
    write_csv_header(*table);
    // The header goes over first, on its own, so that the worker knows where the rows begin.
    (void)table->flush();
    table_bytes_noted = table->taken();
}

// Converts as far as the input allows. Returns WANTS_MORE_INPUT while the input has not ended;
// at its end, writes the summary line (or, when reading failed, the message) and returns the
// program's exit status, with the whole table handed over.
extern "C" [[clang::export_name("convert")]] std::int32_t convert() {
    records += write_csv_rows(*scanner, *table, block, record, [](const orbit_record& written) {
        const std::uint64_t taken = table->taken();
        notes.add(written, taken - table_bytes_noted);
        table_bytes_noted = taken;
    });
    notes.hand_over();
    if (scanner->waiting()) return WANTS_MORE_INPUT;
    (void)table->flush();  // the page's sink takes every byte
    if (scanner->read_failed()) {
        messages::write_message(message_sink, messages::CANNOT_READ_INPUT, {input_name, input_name_length},
                                message_text);
        return messages::STATUS_FAILED;
    }
    messages::write_summary(message_sink, records, message_text);
    return messages::STATUS_DONE;
}
