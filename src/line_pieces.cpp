#include "line_pieces.hpp"

#include <bit>

namespace orbitcsv {

std::size_t line_text_length(const char* piece, std::size_t length) {
    if (const char* const zero = masks::find_first(piece, length, '\0')) length = static_cast<std::size_t>(zero - piece);
    return without_trailing_controls(piece, length);
}

// 16 bytes at a time, from the end.
const char* after_last_newline(const char* first, const char* end, const char* otherwise) {
    const char* p = end;
    while (p - first >= 16) {
        p -= 16;
        if (const std::uint32_t newlines = masks::newline16(p)) return p + std::bit_width(newlines);
    }
    while (p != first) {
        if (*--p == '\n') return p + 1;
    }
    return otherwise;
}

// 16 bytes at a time. The bits are cleared one by one: std::popcount, on a machine that may lack its instruction, calls
// a helper of the compiler's runtime library, which the program does without.
std::uint64_t count_newlines(const char* first, const char* end) {
    std::uint64_t count = 0;
    for (; end - first >= 16; first += 16) {
        for (std::uint32_t newlines = masks::newline16(first); newlines != 0; newlines &= newlines - 1) ++count;
    }
    for (; first != end; ++first) count += *first == '\n';
    return count;
}

const char* piece_start_before(const char* first, const char* piece_end) {
    return piece_start(after_last_newline(first, piece_end - 1, first), piece_end - 1);
}

}  // namespace orbitcsv

