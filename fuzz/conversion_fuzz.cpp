// The whole conversion on any bytes, through the scanner and CSV writer the program uses. Every
// table must begin with the header, hold one row per block converted, and read back, quotes
// honoured, as exactly ten fields a row.
#include "byte_io.hpp"
#include "element_block.hpp"
#include "orbit_record.hpp"
#include "string_sink.hpp"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using namespace orbitcsv;

void require(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "conversion fuzz: %s\n", what);
        std::abort();
    }
}

// Reads the CSV record at `at` as RFC 4180 has it and returns its field count; `at` moves past
// the record's LF. A quoted field may hold commas, CR, LF and doubled quotes; an unquoted one
// none of those nor a quote.
std::size_t read_record(std::string_view text, std::size_t& at) {
    for (std::size_t fields = 1;; ++fields) {
        if (at < text.size() && text[at] == '"') {
            for (++at;; ++at) {
                require(at < text.size(), "quoted field not closed");
                if (text[at] != '"') continue;
                if (at + 1 < text.size() && text[at + 1] == '"') {
                    ++at;
                    continue;
                }
                ++at;
                break;
            }
        } else {
            for (; at < text.size() && text[at] != ',' && text[at] != '\n'; ++at) {
                require(text[at] != '"' && text[at] != '\r', "quote or CR in an unquoted field");
            }
        }
        require(at < text.size(), "record without its line end");
        if (text[at++] == '\n') return fields;
    }
}

char input_storage[DEFAULT_READ_BUFFER_BYTES];
char output_storage[1 << 16];
element_block block;
orbit_record record;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    memory_source source({reinterpret_cast<const char*>(data), size});
    element_scanner scanner(source, input_storage);
    string_sink sink;
    output_buffer out(sink, output_storage);
    const std::int64_t rows = write_csv_table(scanner, out, block, record);
    require(out.flush(), "write failed");

    const std::string_view table = sink.written;
    require(table.starts_with(CSV_HEADER), "no header");
    std::int64_t records = 0;
    for (std::size_t at = 0; at < table.size(); ++records) {
        require(read_record(table, at) == 10, "a row without ten fields");
    }
    require(records == rows + 1, "rows and blocks differ");
    return 0;
}
