// What the scanner makes of an input, as plain values to compare: every line, or every block.
// Shared by the scanner tests and the scanner fuzz target.
#pragma once

#include "element_block.hpp"
#include "reference_scanner.hpp"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orbitcsv {

// A read buffer allocated at exactly the size asked for, so that AddressSanitizer sees a read
// past it.
class read_buffer {
public:
    explicit read_buffer(std::size_t size) : bytes_(new char[size]), size_(size) {}
    operator std::span<char>() const { return {bytes_.get(), size_}; }

private:
    std::unique_ptr<char[]> bytes_;
    std::size_t size_;
};

// How the input reaches the scanner: in reads of at most `read_size` bytes, and with `pausing`
// as a source fed chunk by chunk gives it, each read of bytes after one that has none yet.
struct reads {
    std::size_t read_size = SIZE_MAX;
    bool pausing = false;
};

inline std::vector<std::string> lines_of(std::string_view input, std::size_t buffer_size, reads how = {}) {
    memory_source source(input, how.read_size, how.pausing);
    const read_buffer buffer(buffer_size);
    element_scanner scanner(source, buffer);
    std::vector<std::string> lines;
    padded_view line;
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
    const read_buffer buffer(buffer_size);
    element_scanner scanner(source, buffer);
    if (places != nullptr) scanner.keep_places();
    std::vector<block_rows> blocks;
    element_block block;
    for (;;) {
        if (scanner.find_element_block(block)) {
            blocks.emplace_back();
            for (std::size_t row = 0; row < BLOCK_ROWS; ++row) blocks.back().emplace_back(block.row(row).text());
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
