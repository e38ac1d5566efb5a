// The converter as the page runs it: the program's scanner, conversion and CSV writer behind an
// entry that the page's worker calls as the bytes of one input arrive. start() begins a table,
// convert() goes as far as the bytes handed over so far allow, and once the input has ended
// (or failed) it finishes the table and gives the summary line or the message. The input, the
// table and the messages pass through functions the worker supplies; there is no file system.
//
// Beside each row the page gets a note of it: its length in the table, which of its value
// columns are not numbers, and its semimajor axis, eccentricity and inclination for the plots.
#include "byte_io.hpp"
#include "element_block.hpp"
#include "messages.hpp"
#include "orbit_record.hpp"

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

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
// Good to a float's precision, which is what the plots draw with.
double number_value(std::string_view text) {
    constexpr double NOT_A_NUMBER = std::numeric_limits<double>::quiet_NaN();
    std::size_t at = 0;
    const auto digit = [&] { return at < text.size() && text[at] >= '0' && text[at] <= '9'; };
    const bool negative = at < text.size() && text[at] == '-';
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) ++at;
    std::uint64_t digits = 0;
    int scale = 0;  // the power of ten of the last digit taken
    int seen = 0;
    for (; digit(); ++at, ++seen) {
        if (digits < 100'000'000'000'000'000) {
            digits = digits * 10 + static_cast<unsigned>(text[at] - '0');
        } else {
            ++scale;
        }
    }
    if (at < text.size() && text[at] == '.') {
        for (++at; digit(); ++at, ++seen) {
            if (digits < 100'000'000'000'000'000) {
                digits = digits * 10 + static_cast<unsigned>(text[at] - '0');
                --scale;
            }
        }
    }
    if (seen == 0) return NOT_A_NUMBER;
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        ++at;
        const bool negative_exponent = at < text.size() && text[at] == '-';
        if (at < text.size() && (text[at] == '-' || text[at] == '+')) ++at;
        if (!digit()) return NOT_A_NUMBER;
        int exponent = 0;
        for (; digit(); ++at) exponent = std::min(exponent * 10 + (text[at] - '0'), 10000);
        scale += negative_exponent ? -exponent : exponent;
    }
    if (at != text.size()) return NOT_A_NUMBER;
    const double magnitude = static_cast<double>(digits) * std::pow(10.0, scale);
    return negative ? -magnitude : magnitude;
}

// Notes on the rows since the last handed over, handed over when full and whenever convert()
// returns.
class row_notes {
public:
    void add(const orbit_record& record, std::uint64_t length) {
        std::uint16_t not_numbers = 0;
        // Bit i stands for the value field i, in the order of the table's columns.
        for (std::size_t column = 0; column < std::size(VALUE_FIELDS); ++column) {
            if (std::isnan(number_value((record.*VALUE_FIELDS[column]).view()))) {
                not_numbers = static_cast<std::uint16_t>(not_numbers | 1u << column);
            }
        }
        lengths_[count_] = static_cast<std::uint32_t>(length);
        not_numbers_[count_] = not_numbers;
        semimajor_axes_[count_] = static_cast<float>(number_value(record.semimajor_axis.view()));
        eccentricities_[count_] = static_cast<float>(number_value(record.eccentricity.view()));
        inclinations_[count_] = static_cast<float>(number_value(record.inclination.view()));
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
constexpr std::int32_t STATUS_DONE = 0;
constexpr std::int32_t STATUS_FAILED = 2;

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
        return STATUS_FAILED;
    }
    messages::write_summary(message_sink, records, message_text);
    return STATUS_DONE;
}
