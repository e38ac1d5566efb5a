// What the scanner makes of an input, as plain values to compare: every line, or every block.
// Shared by the scanner tests and the scanner fuzz target.
#pragma once

#include "element_block.hpp"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orbitcsv {

// A read buffer of the size asked for, kept from call to call so that large ones are not made
// afresh each time.
inline std::span<char> read_buffer(std::size_t size) {
    static std::vector<char> storage;
    if (storage.size() < size) storage.resize(size);
    return {storage.data(), size};
}

inline std::vector<std::string> lines_of(std::string_view input, std::size_t buffer_size,
                                         std::size_t read_size = SIZE_MAX) {
    memory_source source(input, read_size);
    element_scanner scanner(source, read_buffer(buffer_size));
    std::vector<std::string> lines;
    line_slot line;
    while (scanner.next_input_line(line)) lines.emplace_back(line.text());
    return lines;
}

using block_rows = std::vector<std::string>;

inline std::vector<block_rows> blocks_of(std::string_view input, std::size_t buffer_size,
                                         std::size_t read_size = SIZE_MAX) {
    memory_source source(input, read_size);
    element_scanner scanner(source, read_buffer(buffer_size));
    std::vector<block_rows> blocks;
    element_block block;
    while (scanner.find_element_block(block)) {
        blocks.emplace_back();
        for (std::size_t row = 0; row < BLOCK_ROWS; ++row) blocks.back().emplace_back(block.row(row));
    }
    return blocks;
}

}  // namespace orbitcsv
