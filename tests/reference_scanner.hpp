// The block rules read plainly, with no speed tricks, to hold the scanner to: it must give these
// lines and blocks at every buffer size and however its input comes. Shared by the scanner's
// tests and its fuzz target.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orbitcsv::reference {

inline constexpr std::size_t PIECE_BYTES = 131;

// The input's lines, each with the input line (from 1) it begins in: up to a newline, kept, or
// 131 bytes, or the end of the input; then the text ends at a zero byte, and control bytes (0x00
// to 0x1F) at its end are stripped.
struct numbered_line {
    std::string text;
    std::uint64_t input_line;
};

inline std::vector<numbered_line> numbered_lines_of(std::string_view input) {
    std::vector<numbered_line> lines;
    std::uint64_t input_line = 1;
    while (!input.empty()) {
        std::size_t length = 0;
        while (length < input.size() && length < PIECE_BYTES && (length == 0 || input[length - 1] != '\n')) ++length;
        std::string text(input.substr(0, length));
        input.remove_prefix(length);
        const bool ends_line = text.back() == '\n';
        text = text.substr(0, text.find('\0'));
        while (!text.empty() && static_cast<unsigned char>(text.back()) < 0x20) text.pop_back();
        lines.push_back({text, input_line});
        if (ends_line) ++input_line;
    }
    return lines;
}

inline std::vector<std::string> lines_of(std::string_view input) {
    std::vector<std::string> lines;
    for (numbered_line& line : numbered_lines_of(input)) lines.push_back(std::move(line.text));
    return lines;
}

// "Epoch " at the start, and "TT", "=" and "JDT" anywhere.
inline bool is_epoch_line(const std::string& line) {
    return line.starts_with("Epoch ") && line.find("TT") != std::string::npos && line.find('=') != std::string::npos &&
           line.find("JDT") != std::string::npos;
}

// Where a block stands: the input line of its epoch line, and the lines of its search above
// that, nearest first, at most three.
struct block_place {
    std::uint64_t epoch_line;
    std::vector<std::string> above;
    bool operator==(const block_place&) const = default;
};

// The blocks: each search runs from the line after the previous block to an epoch line; the
// designation is the line above it, or above that when the line between begins "Id", and empty
// where that would reach before the search; then the next five lines, whatever they hold. With
// each, where it stands.
inline std::vector<std::vector<std::string>> blocks_of(std::string_view input, std::vector<block_place>* places = nullptr) {
    const std::vector<numbered_line> numbered = numbered_lines_of(input);
    std::vector<std::string> lines;
    for (const numbered_line& line : numbered) lines.push_back(line.text);
    std::vector<std::vector<std::string>> blocks;
    std::size_t search = 0;
    for (std::size_t at = 0; at < lines.size(); ++at) {
        if (!is_epoch_line(lines[at])) continue;
        if (at + 5 >= lines.size()) break;
        const auto above = [&](std::size_t k) { return at >= search + k ? lines[at - k] : std::string(); };
        std::string designation = at >= search + 1 ? lines[at - 1] : std::string();
        if (at >= search + 1 && designation.starts_with("Id")) designation = above(2);
        std::vector<std::string> block = {designation};
        block.insert(block.end(), lines.begin() + static_cast<std::ptrdiff_t>(at), lines.begin() + static_cast<std::ptrdiff_t>(at) + 6);
        blocks.push_back(block);
        if (places != nullptr) {
            block_place place{numbered[at].input_line, {}};
            for (std::size_t k = 1; k <= 3 && at >= search + k; ++k) place.above.push_back(lines[at - k]);
            places->push_back(place);
        }
        at += 5;
        search = at + 1;
    }
    return blocks;
}

}  // namespace orbitcsv::reference
