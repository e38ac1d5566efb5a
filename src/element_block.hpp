// The element-block scanner: reads the input as line pieces, finds each epoch line, picks the
// designation line above it and captures the five element lines below it.
#pragma once

#include "byte_io.hpp"
#include "epoch_line.hpp"
#include "line_pieces.hpp"
#include "padded_view.hpp"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace orbitcsv {

inline constexpr std::size_t WINDOW_SLOTS = 4;
// The lines above an epoch line that the window keeps: a designation, an "Id" line or a
// perihelion line between, and a heading above them.
inline constexpr std::size_t LINES_ABOVE = WINDOW_SLOTS - 1;
inline constexpr std::size_t BLOCK_ROWS = 7;
inline constexpr std::size_t ELEMENT_LINES = BLOCK_ROWS - 2;
inline constexpr std::size_t DEFAULT_READ_BUFFER_BYTES = 256 * 1024;

// The smallest read buffer: the lines a search keeps across a read (those above an epoch line,
// the epoch line and the element lines after it) stay in it, a piece more fits, and the slack.
inline constexpr std::size_t MIN_READ_BUFFER_BYTES = 2048;
static_assert(MIN_READ_BUFFER_BYTES >= (LINES_ABOVE + BLOCK_ROWS) * LINE_PIECE_BYTES + LINE_SLACK);

inline constexpr std::string_view ID_PREFIX = "Id";

// The designation line, the epoch line and the five lines after it, in that order.
struct element_block {
    padded_view row(std::size_t index) const { return rows[index]; }

    padded_view rows[BLOCK_ROWS];
};

// The latest lines of the current search for an epoch line, newest in `current`.
struct search_window {
    padded_view slots[WINDOW_SLOTS];
    std::size_t current = 0;
    std::size_t earlier_lines = 0;  // lines of this search before the current one, at most LINES_ABOVE

    // The current line becomes the one before the next.
    void advance() {
        current = (current + 1) % WINDOW_SLOTS;
        if (earlier_lines < LINES_ABOVE) ++earlier_lines;
    }
};

class element_scanner {
public:
    // `buffer` is the read buffer, of MIN_READ_BUFFER_BYTES or more (a smaller one reads as a
    // failed read); the scanner gives the same lines and blocks whatever its size, and however
    // short the reads come back.
    element_scanner(byte_source& source, std::span<char> buffer);
    element_scanner(const element_scanner&) = delete;
    element_scanner& operator=(const element_scanner&) = delete;

    // The next line, as line_text_length leaves it; false at the end of the input.
    bool next_input_line(padded_view& line);

    // Captures the next whole block; false when the input ends first (a block cut short by
    // the end of the input gives nothing). The rows stay valid until the next call.
    bool find_element_block(element_block& block);

    // From here on, counts the input's lines and keeps LINES_ABOVE lines above each epoch line,
    // so that a reader can tell where each block stands and read the lines about it: a pass over
    // the prose between blocks, and a line more, that the table alone does without.
    void keep_places() { keeping_places_ = true; }
    // The input line, from 1, that holds the latest block's epoch line (the line of its first
    // byte, for a line delivered in pieces); with keep_places() from the start.
    std::uint64_t epoch_line() const;
    // The lines of the latest block's search above its epoch line, nearest first, as many as the
    // scanner holds (at most LINES_ABOVE with keep_places(), two without): the designation's and
    // any above or between. Stored at `out`; returns how many. Valid until the next call.
    std::size_t lines_above(std::span<std::string_view, LINES_ABOVE> out) const;

    // True when the input ended because reading failed rather than at its end.
    bool read_failed() const { return read_failed_; }

    // True when the latest call returned false because the source has no bytes yet
    // (READ_LATER). It then took nothing: called again once the source has bytes, it gives
    // what it would have given had they been there.
    bool waiting() const { return waiting_; }

private:
    bool take_block_at_hand(element_block& block);
    bool search(element_block& block);
    bool take_element_rows(element_block& block);
    void skip_to_epoch_candidate();
    bool next_piece(padded_view& line);
    bool piece_at(const char*& p, padded_view& line, std::uint64_t& lines) const;
    bool refill(bool keep_current);
    std::size_t lines_kept_above() const;
    padded_view window_line(std::size_t above) const;
    static padded_view lend(std::string_view in_buffer) { return {in_buffer.data(), in_buffer.size()}; }
    // A piece's text, as line_text_length leaves it.
    static padded_view text_of(padded_view piece) { return {piece.data_, line_text_length(piece.data_, piece.size_)}; }
    std::size_t available() const { return static_cast<std::size_t>(end_ - next_); }

    byte_source& source_;
    std::span<char> buffer_;
    // The input at hand is [next_, end_); the lines of a search still wanted stand before it.
    const char* next_;
    char* end_;
    bool input_ended_ = false;
    bool read_failed_ = false;
    bool waiting_ = false;
    bool keeping_places_ = false;
    std::uint64_t lines_ = 0;  // newlines before next_ (all of them only when keeping places)
    std::uint64_t epoch_line_ = 0;  // when the latest block was searched for line by line
    // Where the latest block's search began, when the block was taken in one pass; null when it
    // was searched for, and its lines above are in the window.
    const char* block_start_ = nullptr;
    // A search is under way: its window holds the lines read so far, and a call that stopped
    // because the source had no bytes yet goes on with it.
    bool searching_ = false;
    search_window window_;
    epoch_line_test epoch_test_;
};

}  // namespace orbitcsv
