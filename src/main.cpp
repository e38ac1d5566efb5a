// orbitcsv: copies the orbital-element blocks of minor planets found in free text into a CSV
// table. Usage: orbitcsv [input [output]]; standard input and output stand in for missing names.
#include "byte_io.hpp"
#include "element_block.hpp"
#include "messages.hpp"
#include "orbit_record.hpp"
#include "platform.hpp"

#include <cstdint>
#include <string_view>

namespace {

using namespace orbitcsv;

constexpr std::size_t OUTPUT_BUFFER_BYTES = 256 * 1024;
constexpr std::size_t TEXT_STAGING_BYTES = 64 * 1024;

// Everything the run works in, fixed in size and alive from start to end. The scanner keeps
// LINE_SLACK bytes of its buffer free of input, so each read asks for 256 KiB, less the few
// lines a search keeps at the buffer's front.
char input_storage[DEFAULT_READ_BUFFER_BYTES + LINE_SLACK];
char output_storage[OUTPUT_BUFFER_BYTES];
char table_staging[TEXT_STAGING_BYTES];
char message_text[4096];
char message_staging[256];
element_block block;
orbit_record record;

// Standard error in text mode, as the table is.
file_sink standard_error(platform::standard_error());
line_end_sink error_text(standard_error, platform::TEXT_LINE_END, message_staging);

void report(std::string_view format, const char* name = nullptr) {
    messages::write_message(error_text, format, name != nullptr ? std::string_view(name) : std::string_view(),
                            message_text);
}

int run_conversion(int argc, char** argv) {
    const char* const input_name = argc > 1 ? argv[1] : nullptr;
    const char* const output_name = argc > 2 ? argv[2] : nullptr;

    platform::file input = platform::standard_input();
    platform::file_identity input_identity;
    if (input_name != nullptr && !platform::open_input(input_name, input, input_identity)) {
        // Refused before the output is touched.
        report(messages::CANNOT_OPEN_INPUT, input_name);
        return messages::STATUS_FAILED;
    }

    platform::file output = platform::standard_output();
    if (output_name != nullptr) {
        // Opening the output truncates it, which must never happen to the input file.
        platform::file_identity output_identity;
        if (platform::identify(output_name, output_identity) && input_identity.overwritten_by(output_identity)) {
            report(messages::OUTPUT_IS_INPUT, output_name);
            return messages::STATUS_FAILED;
        }
        if (!platform::open_output(output_name, output)) {
            report(messages::CANNOT_OPEN_OUTPUT, output_name);
            return messages::STATUS_FAILED;
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
    if (!read_ok) report(input_name != nullptr ? messages::CANNOT_READ_INPUT : messages::CANNOT_READ_STDIN, input_name);
    if (!write_ok) report(output_name != nullptr ? messages::CANNOT_WRITE_OUTPUT : messages::CANNOT_WRITE_STDOUT, output_name);
    if (!read_ok || !write_ok) return messages::STATUS_FAILED;

    messages::write_summary(error_text, records, message_text);
    return messages::STATUS_DONE;
}

}  // namespace

int main(int argc, char** argv) {
    return platform::run_with_arguments(argc, argv, run_conversion);
}
