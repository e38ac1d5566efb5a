// Lines and the pieces they are read in. A line holds at most LINE_PIECE_BYTES bytes; a longer
// physical line is delivered in pieces of that size, each counted as a line of its own. Where
// lines and pieces end, and what a line's text is, are worked out here.
#pragma once

#include "byte_masks.hpp"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace orbitcsv {

inline constexpr std::size_t LINE_CAPACITY = 132;
inline constexpr std::size_t LINE_PIECE_BYTES = LINE_CAPACITY - 1;
// The lines a search finds at once: a designation, an "Id" line, the epoch and element lines.
inline constexpr std::size_t MOST_LINES_FOUND = 8;

// Pieces begin after every newline, and every LINE_PIECE_BYTES bytes after that: the start of
// the piece that holds `p`, on a line that begins at `line`.
inline const char* piece_start(const char* line, const char* p) {
    constexpr auto PIECE = static_cast<std::ptrdiff_t>(LINE_PIECE_BYTES);
    return line + (p - line) / PIECE * PIECE;
}

// The text of a line piece as the rest of the program sees it: it ends at the first zero byte,
// and control bytes 0x00 to 0x1F at its end (the newline, a CR before it) are stripped.
std::size_t line_text_length(const char* piece, std::size_t length);

constexpr bool is_control(char c) { return static_cast<unsigned char>(c) < 0x20; }

// Only 0x00 to 0x1F: bytes from 0x80 up are letters of UTF-8 names and stay.
inline std::size_t without_trailing_controls(const char* text, std::size_t length) {
    while (length > 0 && is_control(text[length - 1])) --length;
    return length;
}

// line_text_length for a line found whole, its newline its last byte: where no zero byte was seen,
// as nearly always, only its end needs a look.
[[gnu::always_inline]] inline std::string_view text_of_whole_line(std::string_view raw, bool may_hold_zero) {
    if (may_hold_zero) return {raw.data(), line_text_length(raw.data(), raw.size())};
    const std::size_t length = raw.size() - 1;
    return {raw.data(), length > 0 && !is_control(raw[length - 1]) ? length : without_trailing_controls(raw.data(), length)};
}

// The lines that follow one another from a start, each ending just after its newline, as far as
// they stand whole in the `available` bytes at `p` and none is longer than a piece; each found
// when first asked for. Newlines are found 64 bytes at a time, the last bytes one by one. A zero
// byte (which cuts a line's text) is rare enough that noting whether one was seen will do.
// Looking stops where `most_lines` lines of a piece each would end: a line longer than a piece
// is then found by its newline or by that bound, and the loop over the bytes needs no test of
// its own for it.
class line_finder {
public:
    // Line i is the bytes from starts[i] to starts[i + 1]: room for a designation, an "Id" line,
    // the epoch and element lines. Kept apart from the finder, whose numbers then stay in registers.
    using line_starts = std::size_t[MOST_LINES_FOUND + 1];

    line_finder(const char* p, std::size_t available, std::size_t most_lines, line_starts& starts)
        : p_(p), limit_(std::min(available, most_lines * LINE_PIECE_BYTES)), starts_(starts) {
        starts_[0] = 0;
    }

    // Finds lines until `wanted` (at most MOST_LINES_FOUND) are known; false when they run out.
    bool find(std::size_t wanted) {
        std::size_t count = count_;
        std::size_t chunk = chunk_;
        std::size_t scanned = scanned_;
        std::uint64_t pending = pending_;
        if (count >= wanted) return true;
        for (;;) {
            while (pending != 0) {
                const std::size_t end = chunk + static_cast<std::size_t>(std::countr_zero(pending)) + 1;
                pending &= pending - 1;
                if (end - starts_[count] > LINE_PIECE_BYTES) return stop(count, chunk, limit_, 0, false);  // too long
                starts_[++count] = end;
                if (count == wanted) return stop(count, chunk, scanned, pending, true);
            }
            chunk = scanned;
            if (scanned + 64 <= limit_) {
                pending = finder_.newlines64(p_ + chunk);
                scanned += 64;
            } else {
                if (scanned >= limit_) return stop(count, chunk, scanned, 0, false);
                pending = p_[chunk] == '\n';
                zero_ = zero_ || p_[chunk] == '\0';
                scanned += 1;
            }
        }
    }

    // Line `index`, its newline included.
    std::string_view raw_line(std::size_t index) const { return {p_ + starts_[index], starts_[index + 1] - starts_[index]}; }
    const char* after(std::size_t index) const { return p_ + starts_[index + 1]; }
    // Whether a zero byte may stand in the lines found, which then need line_text_length.
    bool may_hold_zero() const { return zero_ || finder_.saw_zero(); }

    // The text of line `index`.
    std::string_view text(std::size_t index, bool may_hold_zero) const { return text_of_whole_line(raw_line(index), may_hold_zero); }

private:
    bool stop(std::size_t count, std::size_t chunk, std::size_t scanned, std::uint64_t pending, bool found) {
        count_ = count;
        chunk_ = chunk;
        scanned_ = scanned;
        pending_ = pending;
        return found;
    }

    const char* p_;
    std::size_t limit_;  // the bytes looked at, at most
    line_starts& starts_;
    std::size_t count_ = 0;
    std::size_t scanned_ = 0;    // bytes before this have been looked at
    std::size_t chunk_ = 0;      // where the bytes of `pending_` begin
    std::uint64_t pending_ = 0;  // their newlines not yet taken, one bit each
    bool zero_ = false;
    masks::newline_finder finder_;
};

// The byte after the last newline in [first, end), or `otherwise` when there is none.
const char* after_last_newline(const char* first, const char* end, const char* otherwise);

// How many newlines [first, end) holds; nothing past `end` is read.
std::uint64_t count_newlines(const char* first, const char* end);

// Given a piece start `first`, the start of the piece that ends just before `piece_end`.
const char* piece_start_before(const char* first, const char* piece_end);

}  // namespace orbitcsv
