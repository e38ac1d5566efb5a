// The block rules read plainly, with no speed tricks, to hold the scanner to: it must give these
// lines and blocks at every buffer size and however its input comes. Shared by the scanner's
// tests and its fuzz target.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace orbitcsv::reference {

inline constexpr std::size_t PIECE_BYTES = 131;

// The input's lines: up to a newline, kept, or 131 bytes, or the end of the input; then the text
// ends at a zero byte, and control bytes (0x00 to 0x1F) at its end are stripped.
inline std::vector<std::string> lines_of(std::string_view input) {
    std::vector<std::string> lines;
    while (!input.empty()) {
        std::size_t length = 0;
        while (length < input.size() && length < PIECE_BYTES && (length == 0 || input[length - 1] != '\n')) ++length;
        std::string text(input.substr(0, length));
        input.remove_prefix(length);
        text = text.substr(0, text.find('\0'));
        while (!text.empty() && static_cast<unsigned char>(text.back()) < 0x20) text.pop_back();
        lines.push_back(text);
    }
    return lines;
}

// "Epoch " at the start, and "TT", "=" and "JDT" anywhere.
inline bool is_epoch_line(const std::string& line) {
    return line.starts_with("Epoch ") && line.find("TT") != std::string::npos && line.find('=') != std::string::npos &&
           line.find("JDT") != std::string::npos;
}

// The blocks: each search runs from the line after the previous block to an epoch line; the
// designation is the line above it, or above that when the line between begins "Id", and empty
// where that would reach before the search; then the next five lines, whatever they hold.
inline std::vector<std::vector<std::string>> blocks_of(std::string_view input) {
    const std::vector<std::string> lines = lines_of(input);
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
        at += 5;
        search = at + 1;
    }
    return blocks;
}

}  // namespace orbitcsv::reference
