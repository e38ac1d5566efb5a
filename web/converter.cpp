// The converter as the page runs it: the program's scanner, conversion and CSV writer behind an
// entry that the page's worker calls as the bytes of one input arrive. start() begins a table,
// convert() goes as far as the bytes handed over so far allow, and once the input has ended
// (or failed) it finishes the table and gives the summary line or the message. The input, the
// table and the messages pass through functions the worker supplies; there is no file system.
//
// Beside the table the converter writes the elements table, each block read by its labels, and
// beside each row the page gets a note of it: its lengths in the two tables, its marks (which of
// its value columns are not numbers, columns that do not fit its layout, a name a spreadsheet
// takes for a formula), and its semimajor axis, eccentricity and inclination as its labels give
// them, for the scatter plot (none for an orbit about the Earth or the Moon). describe() gives
// the words for a row's marks.
#include "byte_io.hpp"
#include "element_block.hpp"
#include "labeled_elements.hpp"
#include "messages.hpp"
#include "orbit_record.hpp"
#include "record_values.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string_view>

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
[[clang::import_module("orbitcsv"), clang::import_name("write_elements")]] void host_write_elements(
    const char* bytes, std::uint32_t length);
[[clang::import_module("orbitcsv"), clang::import_name("write_notes")]] void host_write_notes(
    const std::uint32_t* lengths, const std::uint32_t* element_lengths, const row_marks* marks,
    const float* semimajor_axes, const float* eccentricities, const float* inclinations, std::uint32_t count);
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

// What the page keeps of each row since the last handed over (its lengths in both tables, its
// marks and the scatter plot's values), handed over when full and whenever convert() returns.
class rows_for_page {
public:
    void add(const orbit_record& record, const labeled_elements& elements, std::uint64_t length, std::uint64_t element_length) {
        const bool fits = columns_fit_labels(record, elements);
        lengths_[count_] = static_cast<std::uint32_t>(length);
        element_lengths_[count_] = static_cast<std::uint32_t>(element_length);
        marks_[count_] = static_cast<row_marks>(mark_row(record) | (fits ? 0 : LAYOUT_MARK));
        // The scatter plot's orbits are the Sun's, about which a barycentric orbit runs as well.
        const bool planet_centred = elements.center == orbit_center::earth || elements.center == orbit_center::moon;
        const auto plotted = [&](element which) { return static_cast<float>(planet_centred ? NOT_PLOTTED : elements.value(which)); };
        semimajor_axes_[count_] = plotted(element::a);
        eccentricities_[count_] = plotted(element::e);
        inclinations_[count_] = plotted(element::i);
        if (++count_ == CAPACITY) hand_over();
    }
    void hand_over() {
        if (count_ > 0) {
            host_write_notes(lengths_, element_lengths_, marks_, semimajor_axes_, eccentricities_, inclinations_,
                             static_cast<std::uint32_t>(count_));
        }
        count_ = 0;
    }

private:
    static constexpr std::size_t CAPACITY = 4096;
    static constexpr double NOT_PLOTTED = std::numeric_limits<double>::quiet_NaN();
    std::uint32_t lengths_[CAPACITY];
    std::uint32_t element_lengths_[CAPACITY];
    row_marks marks_[CAPACITY];
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
char elements_storage[OUTPUT_BUFFER_BYTES];
char message_text[NAME_CAPACITY + 64];
char input_name[NAME_CAPACITY];
std::size_t input_name_length = 0;
page_source source;
page_sink table_sink(host_write_table);
page_sink elements_sink(host_write_elements);
page_sink message_sink(host_write_message);
std::optional<element_scanner> scanner;
std::optional<output_buffer> table;
std::optional<output_buffer> elements_table;
element_block block;
orbit_record record;
labeled_reader reader;
labeled_elements elements;
rows_for_page page_rows;
std::int64_t records = 0;
std::uint64_t table_bytes_noted = 0;
std::uint64_t element_bytes_noted = 0;

// What convert() answers while the input goes on: no exit status is negative.
constexpr std::int32_t WANTS_MORE_INPUT = -1;
static_assert(messages::STATUS_DONE >= 0 && messages::STATUS_FAILED >= 0);

// describe()'s value fields, put here by the worker, and its words. A field of the table is at
// most LONGEST_VALUE bytes; decoded and encoded again, each byte that was not UTF-8 takes three.
constexpr std::size_t NOTE_FIELD_CAPACITY = 3 * LONGEST_VALUE;
char note_fields[VALUE_COUNT][NOTE_FIELD_CAPACITY];
std::uint32_t note_field_lengths[VALUE_COUNT];
char note_text[NOTE_CAPACITY];

}  // namespace

// Where the worker puts the input's name (UTF-8) before start().
extern "C" [[clang::export_name("input_name_storage")]] char* input_name_storage() { return input_name; }
extern "C" [[clang::export_name("input_name_capacity")]] std::uint32_t input_name_capacity() { return NAME_CAPACITY; }

// Begins the table of an input whose name is the `name_length` bytes in input_name_storage().
extern "C" [[clang::export_name("start")]] void start(std::uint32_t name_length) {
    input_name_length = name_length < NAME_CAPACITY ? name_length : NAME_CAPACITY;
    scanner.emplace(source, input_storage);
    scanner->keep_places();
    reader = labeled_reader{};
    table.emplace(table_sink, output_storage);
    elements_table.emplace(elements_sink, elements_storage);
    records = 0;
    write_csv_header(*table);
    write_elements_header(*elements_table);
    // The headers go over first, on their own, so that the worker knows where the rows begin.
    (void)table->flush();
    (void)elements_table->flush();
    table_bytes_noted = table->taken();
    element_bytes_noted = elements_table->taken();
}

// Converts as far as the input allows. Returns WANTS_MORE_INPUT while the input has not ended;
// at its end, writes the summary line (or, when reading failed, the message) and returns the
// program's exit status, with the whole table handed over.
extern "C" [[clang::export_name("convert")]] std::int32_t convert() {
    records += write_csv_rows(*scanner, *table, block, record, [](const element_block& from, const orbit_record& written) {
        reader.read(lines_of_block(*scanner, from), elements);
        write_elements_row(*elements_table, elements);
        const std::uint64_t taken = table->taken();
        const std::uint64_t elements_taken = elements_table->taken();
        page_rows.add(written, elements, taken - table_bytes_noted, elements_taken - element_bytes_noted);
        table_bytes_noted = taken;
        element_bytes_noted = elements_taken;
    });
    page_rows.hand_over();
    if (scanner->waiting()) return WANTS_MORE_INPUT;
    // The page's sinks take every byte.
    (void)table->flush();
    (void)elements_table->flush();
    if (scanner->read_failed()) {
        messages::write_message(message_sink, messages::CANNOT_READ_INPUT, {input_name, input_name_length},
                                message_text);
        return messages::STATUS_FAILED;
    }
    messages::write_summary(message_sink, records, message_text);
    return messages::STATUS_DONE;
}

// Where the worker puts the value fields of a row (UTF-8, at most note_field_capacity() bytes
// each) and their lengths before describe(), and where the words come out.
extern "C" [[clang::export_name("note_fields")]] char* note_fields_storage() { return &note_fields[0][0]; }
extern "C" [[clang::export_name("note_field_capacity")]] std::uint32_t note_field_capacity() { return NOTE_FIELD_CAPACITY; }
extern "C" [[clang::export_name("note_field_lengths")]] std::uint32_t* note_field_lengths_storage() { return note_field_lengths; }
extern "C" [[clang::export_name("note_text")]] char* note_text_storage() { return note_text; }

// The words for a row's marks, given its value fields: their length at note_text().
extern "C" [[clang::export_name("describe")]] std::uint32_t describe(std::uint32_t marks) {
    std::string_view values[VALUE_COUNT];
    for (std::size_t field = 0; field < VALUE_COUNT; ++field) {
        values[field] = {note_fields[field], std::min<std::size_t>(note_field_lengths[field], NOTE_FIELD_CAPACITY)};
    }
    return static_cast<std::uint32_t>(describe_marks(static_cast<row_marks>(marks), values, note_text));
}

// The codes and marks that the worker's script shares with the converter, from here alone.
extern "C" [[clang::export_name("read_end")]] std::int32_t read_end() { return READ_END; }
extern "C" [[clang::export_name("read_failed")]] std::int32_t read_failed() { return READ_FAILED; }
extern "C" [[clang::export_name("read_later")]] std::int32_t read_later() { return READ_LATER; }
extern "C" [[clang::export_name("wants_more_input")]] std::int32_t wants_more_input() { return WANTS_MORE_INPUT; }
extern "C" [[clang::export_name("not_number_marks")]] std::uint32_t not_number_marks() { return NOT_NUMBER_MARKS; }
extern "C" [[clang::export_name("layout_mark")]] std::uint32_t layout_mark() { return LAYOUT_MARK; }

// The table's header, its line feed included, and the mark of each column's field when it is not
// a number (none for the first, the name and number).
extern "C" [[clang::export_name("csv_header")]] const char* csv_header() { return CSV_HEADER.data(); }
extern "C" [[clang::export_name("csv_header_length")]] std::uint32_t csv_header_length() { return static_cast<std::uint32_t>(CSV_HEADER.size()); }
extern "C" [[clang::export_name("not_number_mark")]] std::uint32_t not_number_mark(std::uint32_t column) {
    return column == 0 || column > VALUE_COUNT ? 0 : row_marks{1} << (column - 1);
}

// The page reads the tables' numbers (a column to sort by, the elements of the rows it draws) as
// the core reads a value: their texts are put at number_texts, each ended by a line feed, and
// read_numbers(length) puts their values at number_values, NaN for a text that is not a number,
// and returns how many. A text is at most a line, which is what the core reads a value from.
namespace {
constexpr std::size_t NUMBER_TEXT_BYTES = 64 * 1024;
char number_texts_storage[NUMBER_TEXT_BYTES];
double number_values_storage[NUMBER_TEXT_BYTES];  // as many as texts fit: an empty one is a line feed
}  // namespace

extern "C" [[clang::export_name("number_texts")]] char* number_texts() { return number_texts_storage; }
extern "C" [[clang::export_name("number_texts_capacity")]] std::uint32_t number_texts_capacity() { return NUMBER_TEXT_BYTES; }
extern "C" [[clang::export_name("number_values")]] const double* number_values() { return number_values_storage; }
extern "C" [[clang::export_name("read_numbers")]] std::uint32_t read_numbers(std::uint32_t length) {
    std::string_view texts(number_texts_storage, std::min<std::size_t>(length, NUMBER_TEXT_BYTES));
    std::uint32_t count = 0;
    for (std::size_t end; (end = texts.find('\n')) != std::string_view::npos; texts.remove_prefix(end + 1)) {
        number_values_storage[count++] = number_value(texts.substr(0, end));
    }
    return count;
}
