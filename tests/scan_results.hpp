// What the scanner makes of an input, as plain values to compare: every line, or every block.
// Shared by the scanner tests and the scanner fuzz target.
#pragma once

#include "element_block.hpp"
#include "reference_scanner.hpp"

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

// How the input reaches the scanner: in reads of at most `read_size` bytes, and with `pausing`
// as a source fed chunk by chunk gives it, each read of bytes after one that has none yet.
struct reads {
    std::size_t read_size = SIZE_MAX;
    bool pausing = false;
};

inline std::vector<std::string> lines_of(std::string_view input, std::size_t buffer_size, reads how = {}) {
    memory_source source(input, how.read_size, how.pausing);
    element_scanner scanner(source, read_buffer(buffer_size));
    std::vector<std::string> lines;
    line_slot line;
    for (;;) {
        if (scanner.next_input_line(line)) {
            lines.emplace_back(line.text());
        } else if (!scanner.waiting()) {
            return lines;
        }
    }
}

using block_rows = std::vector<std::string>;

using reference::block_place;

// The blocks, and with `places` where each stands.
inline std::vector<block_rows> blocks_of(std::string_view input, std::size_t buffer_size, reads how = {},
                                         std::vector<block_place>* places = nullptr) {
    memory_source source(input, how.read_size, how.pausing);
    element_scanner scanner(source, read_buffer(buffer_size));
    if (places != nullptr) scanner.keep_places();
    std::vector<block_rows> blocks;
    element_block block;
    for (;;) {
        if (scanner.find_element_block(block)) {
            blocks.emplace_back();
            for (std::size_t row = 0; row < BLOCK_ROWS; ++row) blocks.back().emplace_back(block.row(row));
            if (places != nullptr) {
                std::string_view above[LINES_ABOVE];
                const std::size_t count = scanner.lines_above(above);
                places->push_back({scanner.epoch_line(), {above, above + count}});
            }
        } else if (!scanner.waiting()) {
            return blocks;
        }
    }
}

}  // namespace orbitcsv
