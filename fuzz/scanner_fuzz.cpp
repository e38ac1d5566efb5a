// Any bytes: the lines and blocks the scanner finds are those of the rules read plainly, and do
// not depend on the size of its read buffer, on how short the reads come back, nor on stops to
// wait for bytes between reads, so the paths for blocks that stand whole in a large buffer agree
// with the line-by-line reading that short reads force, the lines a search keeps survive their
// moves to the front of a small buffer, and a scanner fed chunk by chunk agrees with one that
// reads a file.
#include "reference_scanner.hpp"
#include "scan_results.hpp"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace orbitcsv;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto lines = lines_of(input, DEFAULT_READ_BUFFER_BYTES);
    // The epoch line test that remembers the latest epoch line answers as the plain one, line by line.
    epoch_line_test is_epoch_text;
    for (const std::string& line : lines) {
        if (is_epoch_text(line) != is_epoch_line(line)) {
            std::fprintf(stderr, "scanner fuzz: the remembering epoch test differs on \"%s\"\n", line.c_str());
            std::abort();
        }
    }
    const auto blocks = blocks_of(input, DEFAULT_READ_BUFFER_BYTES);
    std::vector<block_place> expected_places;
    if (lines != reference::lines_of(input) || blocks != reference::blocks_of(input, &expected_places)) {
        std::fprintf(stderr, "scanner fuzz: the lines or blocks differ from the rules read plainly\n");
        std::abort();
    }
    // Read sizes around a piece and one that the input picks, into the smallest buffer and one a
    // little larger that the input picks too.
    const std::size_t picked = size > 0 ? 1 + data[0] % 300 : 1;
    const std::size_t buffer = MIN_READ_BUFFER_BYTES + (size > 1 ? data[size - 1] % 200 : 0);
    for (const std::size_t read_size : {std::size_t{1}, std::size_t{7}, std::size_t{131}, std::size_t{132}, picked}) {
        std::vector<block_place> places;
        if (blocks_of(input, buffer, {read_size, true}, &places) != blocks || places != expected_places) {
            std::fprintf(stderr, "scanner fuzz: where blocks stand differs, buffer of %zu, reads of %zu\n", buffer, read_size);
            std::abort();
        }
        if (lines_of(input, MIN_READ_BUFFER_BYTES, {read_size}) != lines || blocks_of(input, MIN_READ_BUFFER_BYTES) != blocks ||
            blocks_of(input, DEFAULT_READ_BUFFER_BYTES, {read_size}) != blocks ||
            blocks_of(input, buffer, {read_size, true}) != blocks || lines_of(input, buffer, {read_size, true}) != lines) {
            std::fprintf(stderr, "scanner fuzz: buffer of %zu or reads of %zu (with or without waits) differ\n", buffer, read_size);
            std::abort();
        }
    }
    return 0;
}
