// Any bytes: every block read by its labels, each of its lines lent in storage of exactly its
// size, so that AddressSanitizer sees any read outside them; the elements table's row of a block
// is the same whatever the scanner's buffer size and however short its reads come back, the
// same from the reader that repeats the shapes of the lines before as from the plain reading,
// and ends where it should.
#include "labeled_elements.hpp"
#include "scan_results.hpp"
#include "string_sink.hpp"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace orbitcsv;

void require(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "labels fuzz: %s\n", what);
        std::abort();
    }
}

// Copies of a block's lines, each in storage of its own exact size.
class exact_lines {
public:
    std::string_view lend(std::string_view line) {
        if (line.empty()) return {};
        storage_.emplace_back(new char[line.size()]);
        std::copy(line.begin(), line.end(), storage_.back().get());
        return {storage_.back().get(), line.size()};
    }

private:
    std::vector<std::unique_ptr<char[]>> storage_;
};

// The elements table's rows of the input, read with a buffer size and reads of at most
// `read_size`, by a reader that repeats the shapes of the lines before or by the plain reading.
std::vector<std::string> element_rows(std::string_view input, std::size_t buffer_size, std::size_t read_size = SIZE_MAX,
                                      bool plain = false) {
    memory_source source(input, read_size);
    const read_buffer buffer(buffer_size);
    element_scanner scanner(source, buffer);
    scanner.keep_places();
    element_block block;
    orbit_record record;
    labeled_elements elements;
    labeled_reader reader;
    std::vector<std::string> rows;
    while (scanner.find_element_block(block)) {
        const block_lines scanned = lines_of_block(scanner, block);
        exact_lines copies;
        block_lines lent;
        for (std::size_t row = 0; row < BLOCK_ROWS; ++row) lent.rows[row] = copies.lend(scanned.rows[row]);
        for (std::size_t k = 0; k < scanned.above_count; ++k) lent.above[k] = copies.lend(scanned.above[k]);
        lent.above_count = scanned.above_count;
        lent.epoch_line = scanned.epoch_line;
        if (plain) {
            read_labeled_elements(lent, elements);
        } else {
            reader.read(lent, elements);
        }
        convert_block(block, record);
        (void)columns_fit_labels(record, elements);
        string_sink sink;
        std::vector<char> storage(ELEMENTS_ROW_CAPACITY);
        output_buffer out(sink, storage);
        write_elements_row(out, elements);
        require(out.flush(), "a row was not written");
        require(!sink.written.empty() && sink.written.back() == '\n', "a row does not end with its line feed");
        rows.push_back(sink.written);
    }
    return rows;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> rows = element_rows(input, DEFAULT_READ_BUFFER_BYTES);
    require(element_rows(input, DEFAULT_READ_BUFFER_BYTES, SIZE_MAX, true) == rows, "the reader differs from the plain reading");
    const std::size_t picked = size > 0 ? 1 + data[0] % 300 : 1;
    for (const std::size_t read_size : {std::size_t{7}, picked}) {
        require(element_rows(input, MIN_READ_BUFFER_BYTES, read_size) == rows, "the rows differ with the reads' size");
    }
    return 0;
}
