// orbitcsv: copies the orbital-element blocks of minor planets found in free text into a CSV
// table. Usage: orbitcsv [input [output]]; standard input and output stand in for missing names.
#include "byte_io.hpp"
#include "element_block.hpp"
#include "orbit_record.hpp"
#include "platform.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <initializer_list>
#include <string_view>

namespace {

using namespace orbitcsv;

constexpr int STATUS_DONE = 0;
constexpr int STATUS_FAILED = 2;

// Messages, with %s where the file name goes.
constexpr std::string_view CANNOT_OPEN_INPUT = "Cannot open input file %s\n";
constexpr std::string_view CANNOT_OPEN_OUTPUT = "Cannot open output file %s\n";
constexpr std::string_view OUTPUT_IS_INPUT = "Output file %s is the input file\n";
constexpr std::string_view CANNOT_READ_INPUT = "Cannot read input file %s\n";
constexpr std::string_view CANNOT_READ_STDIN = "Cannot read standard input\n";
constexpr std::string_view CANNOT_WRITE_OUTPUT = "Cannot write output file %s\n";
constexpr std::string_view CANNOT_WRITE_STDOUT = "Cannot write standard output\n";

constexpr std::size_t OUTPUT_BUFFER_BYTES = 256 * 1024;
constexpr std::size_t TEXT_STAGING_BYTES = 64 * 1024;

// Everything the run works in, fixed in size and alive from start to end. The scanner keeps
// LINE_SLACK bytes of its buffer free of input, so each read asks for a round 256 KiB.
char input_storage[DEFAULT_READ_BUFFER_BYTES + LINE_SLACK];
char output_storage[OUTPUT_BUFFER_BYTES];
char table_staging[TEXT_STAGING_BYTES];
char message_text[4096];
char message_staging[256];
element_block block;
orbit_record record;

// Standard error in text mode, as the table is. The pieces of a message are put together
// first, so that it goes out in one write; only a message that names a file of thousands of
// bytes is written piece by piece.
void write_error(std::initializer_list<std::string_view> pieces) {
    file_sink error(platform::standard_error());
    line_end_sink error_text(error, platform::TEXT_LINE_END, message_staging);
    std::size_t length = 0;
    for (const std::string_view piece : pieces) length += piece.size();
    // When even this fails there is nobody left to tell.
    if (length <= sizeof message_text) {
        char* p = message_text;
        for (const std::string_view piece : pieces) p = std::copy(piece.begin(), piece.end(), p);
        (void)error_text.write_all({message_text, length});
        return;
    }
    for (const std::string_view piece : pieces) {
        if (!error_text.write_all(piece)) return;
    }
}

// The message with the file name where its %s stands.
void report(std::string_view format, const char* name = nullptr) {
    constexpr std::string_view NAME_MARK = "%s";
    const std::size_t at = format.find(NAME_MARK);
    if (at == std::string_view::npos) return write_error({format});
    std::string_view after = format;
    after.remove_prefix(at + NAME_MARK.size());
    write_error({{format.data(), at}, name != nullptr ? std::string_view(name) : std::string_view(), after});
}

void report_summary(std::int64_t records) {
    char count[24];
    const char* const end = std::to_chars(count, count + sizeof count, records).ptr;
    write_error({{count, static_cast<std::size_t>(end - count)}, records == 1 ? " record written.\n" : " records written.\n"});
}

int run_conversion(int argc, char** argv) {
    const char* const input_name = argc > 1 ? argv[1] : nullptr;
    const char* const output_name = argc > 2 ? argv[2] : nullptr;

    platform::file input = platform::standard_input();
    platform::file_identity input_identity;
    if (input_name != nullptr && !platform::open_input(input_name, input, input_identity)) {
        // Refused before the output is touched.
        report(CANNOT_OPEN_INPUT, input_name);
        return STATUS_FAILED;
    }

    platform::file output = platform::standard_output();
    if (output_name != nullptr) {
        // Opening the output truncates it, which must never happen to the input file.
        platform::file_identity output_identity;
        if (input_identity.regular && platform::identify(output_name, output_identity) &&
            input_identity.same_as(output_identity)) {
            report(OUTPUT_IS_INPUT, output_name);
            return STATUS_FAILED;
        }
        if (!platform::open_output(output_name, output)) {
            report(CANNOT_OPEN_OUTPUT, output_name);
            return STATUS_FAILED;
        }
    }

    file_source source(input);
    element_scanner scanner(source, input_storage);
    file_sink sink(output);
    line_end_sink table_text(sink, platform::TEXT_LINE_END, table_staging);
    output_buffer out(table_text, output_storage);

    const std::int64_t records = write_csv_table(scanner, out, block, record);

    // Rows converted before a read error stay in the output; the error is still reported.
    bool read_ok = !scanner.read_failed();
    bool write_ok = out.flush();
    read_ok = platform::close(input) && read_ok;
    write_ok = platform::close(output) && write_ok;
    if (!read_ok) report(input_name != nullptr ? CANNOT_READ_INPUT : CANNOT_READ_STDIN, input_name);
    if (!write_ok) report(output_name != nullptr ? CANNOT_WRITE_OUTPUT : CANNOT_WRITE_STDOUT, output_name);
    if (!read_ok || !write_ok) return STATUS_FAILED;

    report_summary(records);
    return STATUS_DONE;
}

}  // namespace

int main(int argc, char** argv) {
    return platform::run_with_arguments(argc, argv, run_conversion);
}
