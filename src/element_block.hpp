// The element-block scanner: reads the input as lines of at most 131 bytes, finds each
// epoch line, picks the designation line above it and captures the five element lines
// below it.
#pragma once

#include "byte_io.hpp"
#include "byte_masks.hpp"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace orbitcsv {

// A line holds at most LINE_CAPACITY - 1 bytes; a longer physical line is delivered in pieces
// of that size, each counted as a line of its own.
inline constexpr std::size_t LINE_CAPACITY = 132;
inline constexpr std::size_t LINE_PIECE_BYTES = LINE_CAPACITY - 1;
inline constexpr std::size_t WINDOW_SLOTS = 4;
// The lines above an epoch line that the window keeps: a designation, an "Id" line or a
// perihelion line between, and a heading above them.
inline constexpr std::size_t LINES_ABOVE = WINDOW_SLOTS - 1;
inline constexpr std::size_t BLOCK_ROWS = 7;
inline constexpr std::size_t ELEMENT_LINES = BLOCK_ROWS - 2;
inline constexpr std::size_t DEFAULT_READ_BUFFER_BYTES = 256 * 1024;

// The bytes after the end of every line the scanner hands out that may be read, though they
// are not the line's: the conversion loads whole vectors that run past a value's last byte.
inline constexpr std::size_t LINE_SLACK = 64;
// The smallest read buffer that gives up LINE_SLACK bytes for it; a smaller one (a test's) keeps
// all its bytes for input, and the scanner copies the rows of each block to their own storage.
inline constexpr std::size_t SLACK_BUFFER_BYTES = 4 * LINE_SLACK;

inline constexpr std::string_view EPOCH_PREFIX = "Epoch ";
inline constexpr std::string_view ID_PREFIX = "Id";

// Text after whose end LINE_SLACK more bytes may be read. Only a line's storage makes one, for
// the lines it holds or points to: its own bytes have that room after a whole piece, and the
// scanner's read buffer keeps that much free of input after the lines it lends.
class padded_view {
public:
    padded_view() = default;
    std::string_view text() const { return {data_, size_}; }
    // Text as text; the promise of the room after it goes unused.
    operator std::string_view() const { return text(); }

private:
    friend struct line_slot;
    padded_view(const char* data, std::size_t size) : data_(data), size_(size) {}

    static constexpr char NOTHING[LINE_SLACK + 1]{};
    const char* data_ = NOTHING;
    std::size_t size_ = 0;
};

// One line. Its bytes stay in the scanner's read buffer while that is possible, and move into
// `own` just before the read buffer is refilled, so that a line is copied only when it has to
// outlive the bytes it came from.
struct line_slot {
    line_slot() = default;
    line_slot(const line_slot&) = delete;
    line_slot& operator=(const line_slot&) = delete;

    padded_view text() const { return {data, length}; }
    // A copy of `line`, cut to a piece, in the slot's own storage.
    void assign(std::string_view line);

    const char* data = own;
    std::size_t length = 0;
    char own[LINE_CAPACITY + LINE_SLACK]{};
};

// The designation line, the epoch line and the five lines after it, in that order.
struct element_block {
    padded_view row(std::size_t index) const { return rows[index].text(); }

    line_slot rows[BLOCK_ROWS];
};

// The latest lines of the current search for an epoch line, newest in `current`.
struct search_window {
    line_slot slots[WINDOW_SLOTS];
    std::size_t current = 0;
    std::size_t earlier_lines = 0;  // lines of this search before the current one, at most LINES_ABOVE

    // The current line becomes the one before the next.
    void advance() {
        current = (current + 1) % WINDOW_SLOTS;
        if (earlier_lines < LINES_ABOVE) ++earlier_lines;
    }
};

// The text of a line piece as the rest of the program sees it: it ends at the first zero byte,
// and control bytes 0x00 to 0x1F at its end (the newline, a CR before it) are stripped.
std::size_t line_text_length(const char* piece, std::size_t length);

// "Epoch " at the start, and "TT", "=" and "JDT" anywhere; case-sensitive.
bool is_epoch_line(std::string_view line);

// is_epoch_line for one line after another. The blocks of a list mostly share their epoch, so
// an epoch line mostly repeats the one before it as far as its Julian date: a line that repeats
// the latest epoch line's bytes as far as that line's marks reach is one, told by a comparison.
class epoch_line_test {
public:
    bool operator()(std::string_view line) {
        // An equality test, not masks::starts_with: natively that is string_view's three-way
        // compare, which costs more for a prefix known only at run time.
        if (reach_ != 0 && line.size() >= reach_ && masks::same_bytes(line.data(), marks_, reach_)) return true;
        return learn(line);
    }

private:
    // The full test; an epoch line's marks are remembered.
    bool learn(std::string_view line);

    char marks_[LINE_CAPACITY]{};
    std::size_t reach_ = 0;  // 0 until an epoch line has been seen
};

class element_scanner {
public:
    // `buffer` is the read buffer, any size from one byte up; the scanner gives the same lines
    // and blocks whatever its size.
    element_scanner(byte_source& source, std::span<char> buffer) : source_(source), buffer_(buffer) {}
    element_scanner(const element_scanner&) = delete;
    element_scanner& operator=(const element_scanner&) = delete;

    // The next line, as line_text_length leaves it; false at the end of the input.
    bool next_input_line(line_slot& line);

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
    // (READ_LATER). Called again once it has, with the same line or block, the scanner goes on
    // from where it stopped, and gives what it would have given had the bytes been there.
    bool waiting() const { return waiting_; }

private:
    bool search_block(element_block& block);
    bool take_block_at_hand(element_block& block);
    bool search(element_block& block);
    bool take_element_rows(element_block& block);
    bool read_element_rows(element_block& block, std::size_t first_row);
    void skip_to_epoch_candidate();
    bool next_piece(line_slot& line);
    bool continue_piece(line_slot& line);
    bool refill();
    void keep_alive(line_slot& line) const;
    std::size_t input_capacity() const;
    std::size_t available() const { return static_cast<std::size_t>(end_ - next_); }

    byte_source& source_;
    std::span<char> buffer_;
    const char* next_ = nullptr;
    const char* end_ = nullptr;
    bool input_ended_ = false;
    bool read_failed_ = false;
    bool keeping_places_ = false;
    std::uint64_t lines_ = 0;  // newlines before next_ (all of them only when keeping places)
    std::uint64_t epoch_line_ = 0;  // when the latest block was searched for line by line
    // Where the latest block's search began, when the block was taken in one pass; null when it
    // was searched for, and its lines above are in the window.
    const char* block_start_ = nullptr;
    // A call that stopped because the source had no bytes yet (the page's, fed chunk by chunk)
    // is taken up where it stopped by the next: in the search, with its window as it was, or
    // at the element row it was reading, with the piece it had begun.
    enum class stop_point : unsigned char { none, search, element_rows };
    bool waiting_ = false;
    stop_point stopped_at_ = stop_point::none;
    std::size_t next_row_ = 0;            // with stop_point::element_rows
    line_slot* partial_piece_ = nullptr;  // its bytes so far in its own storage
    search_window window_;
    epoch_line_test is_epoch_text_;
    element_block* capture_ = nullptr;  // the block whose rows are being read, if any
};

}  // namespace orbitcsv
