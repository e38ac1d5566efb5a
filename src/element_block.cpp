#include "element_block.hpp"

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>

namespace orbitcsv {

namespace {

// The designation is the line above the epoch line, or the one above that when the line between
// begins "Id". `above(k)` is the raw line k above the epoch line, or nothing where that leaves
// the current search: a line from before it would belong to another object, so the designation
// is then empty. Stripping a line's end cannot touch its first two bytes.
template <class Above>
std::optional<std::string_view> designation_line(Above above) {
    const std::optional<std::string_view> line = above(1);
    if (line && masks::starts_with(*line, ID_PREFIX)) return above(2);
    return line;
}

// The first piece in [first, end) that begins "Epoch ", or may (it runs past `end`); else the
// start of the piece that `end` cuts short, or `end`. `first` is a piece start. Only the 'E's are
// looked at, at memchr's speed.
const char* find_epoch_candidate(const char* first, const char* end) {
    const char* line = first;    // where the pieces around `looked` count from
    const char* looked = first;  // newlines before this have been taken into `line`
    for (const char* e = first; (e = masks::find_first(e, static_cast<std::size_t>(end - e), 'E')); ++e) {
        const auto have = static_cast<std::size_t>(end - e);
        if (!masks::same_bytes(e, EPOCH_PREFIX.data(), std::min(have, EPOCH_PREFIX.size()))) continue;
        line = e != looked && e[-1] == '\n' ? e : after_last_newline(looked, e, line);
        looked = e;
        if (piece_start(line, e) == e) return e;
    }
    return piece_start(after_last_newline(looked, end, line), end);
}

}  // namespace

element_scanner::element_scanner(byte_source& source, std::span<char> buffer)
    : source_(source), buffer_(buffer), next_(buffer.data()), end_(buffer.data()) {
    // Too small a buffer could not keep a block's lines across a read.
    if (buffer_.size() < MIN_READ_BUFFER_BYTES) input_ended_ = read_failed_ = true;
}

bool element_scanner::next_input_line(padded_view& line) {
    if (!next_piece(line)) return false;
    line = text_of(line);
    return true;
}

bool element_scanner::find_element_block(element_block& block) {
    if (!searching_) {
        if (take_block_at_hand(block)) return true;
        window_.current = 0;
        window_.earlier_lines = 0;
        searching_ = true;
    }
    return search(block);
}

// A block right after the one before, as in an element list, usually stands whole in the buffer,
// its epoch line among the first three lines of the search: it is taken in one pass where it
// lies, without the window's bookkeeping. False, with nothing moved, leaves anything else to
// search().
bool element_scanner::take_block_at_hand(element_block& block) {
    constexpr std::size_t LAST_EPOCH_INDEX = 2;  // after a designation and an "Id" line
    static_assert(LAST_EPOCH_INDEX + 1 + ELEMENT_LINES <= MOST_LINES_FOUND);
    line_finder::line_starts starts;
    line_finder lines(next_, available(), LAST_EPOCH_INDEX + 1 + ELEMENT_LINES, starts);
    if (!lines.find(LAST_EPOCH_INDEX + 1)) return false;
    std::size_t epoch = 0;
    while (!masks::starts_with(lines.raw_line(epoch), EPOCH_PREFIX)) {
        if (++epoch > LAST_EPOCH_INDEX) return false;
    }
    if (!lines.find(epoch + 1 + ELEMENT_LINES)) return false;
    const bool zero = lines.may_hold_zero();
    const std::string_view epoch_line = lines.text(epoch, zero);
    if (!epoch_test_(epoch_line)) return false;

    const auto designation = designation_line([&](std::size_t k) -> std::optional<std::string_view> {
        if (k > epoch) return std::nullopt;
        return lines.raw_line(epoch - k);
    });
    block.rows[0] = designation ? lend(text_of_whole_line(*designation, zero)) : padded_view();
    block.rows[1] = lend(epoch_line);
    // Unrolled: each row takes a handful of instructions, and the loop's own would add a fifth.
#pragma GCC unroll 8
    for (std::size_t row = 2; row < BLOCK_ROWS; ++row) block.rows[row] = lend(lines.text(epoch + row - 1, zero));
    block_start_ = next_;
    lines_ += epoch + 1 + ELEMENT_LINES;  // every line found ends in its newline
    next_ = lines.after(epoch + ELEMENT_LINES);
    return true;
}

// The search for an epoch line, line by line from the window's current slot, and the block.
bool element_scanner::search(element_block& block) {
    for (;;) {
        skip_to_epoch_candidate();
        padded_view& line = window_.slots[window_.current];
        if (!next_piece(line)) return false;
        // Stripping and the cut at a zero byte cannot touch the six prefix bytes: tested raw first.
        if (masks::starts_with(line.text(), EPOCH_PREFIX)) {
            const padded_view text = text_of(line);
            if (epoch_test_(text.text())) {
                // The line's own newline, if it has one, is counted already.
                epoch_line_ = lines_ + 1 - (line.data_[line.size_ - 1] == '\n');
                line = text;
                if (take_element_rows(block)) break;
                // Declined: the next call reads the epoch line again, once its rows are at hand.
                if (waiting_) {
                    next_ = window_.slots[window_.current].data_;
                    lines_ = epoch_line_ - 1;
                }
                return false;
            }
        }
        window_.advance();
    }

    // After the element rows, which may have moved the window's lines to the buffer's front.
    const auto designation = designation_line([&](std::size_t k) -> std::optional<std::string_view> {
        if (k > window_.earlier_lines) return std::nullopt;
        return window_line(k).text();
    });
    block.rows[0] = designation ? text_of(lend(*designation)) : padded_view();
    block.rows[1] = window_line(0);
    block_start_ = nullptr;
    searching_ = false;
    return true;
}

// The five element lines after the epoch line, all of them or none.
bool element_scanner::take_element_rows(element_block& block) {
    for (;;) {
        const char* p = next_;
        std::uint64_t lines = lines_;
        std::size_t row = 2;
        while (row < BLOCK_ROWS && piece_at(p, block.rows[row], lines)) ++row;
        if (row == BLOCK_ROWS) {
            for (row = 2; row < BLOCK_ROWS; ++row) block.rows[row] = text_of(block.rows[row]);
            next_ = p;
            lines_ = lines;
            return true;
        }
        if (!refill(true)) return false;
    }
}

// Prose is passed over in bulk to the next piece that may begin "Epoch "; the last pieces passed
// over, as many as the window keeps above an epoch line, take their places in it, as if read one
// by one.
void element_scanner::skip_to_epoch_candidate() {
    if (next_ == end_) return;
    const char* const candidate = find_epoch_candidate(next_, end_);
    if (candidate == next_) return;
    const char* starts[LINES_ABOVE + 1] = {candidate};  // piece starts, the last passed over first
    // The table's designation needs two lines at most, the places of blocks all that are kept.
    const std::size_t keep = keeping_places_ ? LINES_ABOVE : 2;
    std::size_t kept = 0;
    while (kept < keep && starts[kept] != next_) {
        starts[kept + 1] = piece_start_before(next_, starts[kept]);
        ++kept;
    }
    for (; kept > 0; --kept) {
        window_.slots[window_.current] = {starts[kept], static_cast<std::size_t>(starts[kept - 1] - starts[kept])};
        window_.advance();
    }
    if (keeping_places_) lines_ += count_newlines(next_, candidate);
    next_ = candidate;
}

// The next piece, read for where the bytes at hand do not hold it whole.
bool element_scanner::next_piece(padded_view& line) {
    while (!piece_at(next_, line, lines_)) {
        if (!refill(false)) return false;
    }
    return true;
}

// The piece at `p`, where the bytes at hand hold it whole or the input has ended after it; `p`
// then moves past it and `lines` counts its newline. Pieces end after a newline, or after
// LINE_PIECE_BYTES bytes without one.
bool element_scanner::piece_at(const char*& p, padded_view& line, std::uint64_t& lines) const {
    const auto have = static_cast<std::size_t>(end_ - p);
    line_finder::line_starts starts;
    line_finder finder(p, have, 1, starts);
    std::size_t length = 0;
    if (finder.find(1)) {
        length = finder.raw_line(0).size();
        ++lines;
    } else if (have >= LINE_PIECE_BYTES || (input_ended_ && !read_failed_ && have > 0)) {
        length = std::min(have, LINE_PIECE_BYTES);
    } else {
        return false;
    }
    line = {p, length};
    p += length;
    return true;
}

// For bytes at hand that fell short. The bytes a search still wants (its lines above the current
// one, with `keep_current` that one too, and the input at hand) move to the front of the buffer,
// and the read lands after them. True when the bytes at hand are to be tried again: more came,
// or the input ended after them.
bool element_scanner::refill(bool keep_current) {
    if (input_ended_) return false;
    const std::size_t above = searching_ ? lines_kept_above() : 0;
    const char* const keep = above > 0 || (searching_ && keep_current) ? window_line(above).data_ : next_;
    if (const std::ptrdiff_t shift = keep - buffer_.data(); shift > 0) {
        std::memmove(buffer_.data(), keep, static_cast<std::size_t>(end_ - keep));
        const std::less<const char*> before;
        for (padded_view& line : window_.slots) {
            if (!before(line.data_, keep) && !before(end_, line.data_)) line.data_ -= shift;
        }
        next_ -= shift;
        end_ -= shift;
    }
    const auto room = static_cast<std::size_t>(buffer_.data() + buffer_.size() - LINE_SLACK - end_);
    const std::ptrdiff_t got = source_.read_some(end_, room);
    waiting_ = got == READ_LATER;
    if (waiting_) return false;
    if (got <= READ_END) {
        input_ended_ = true;
        read_failed_ = got < READ_END;
        return !read_failed_;
    }
    end_ += got;
    return true;
}

// The lines above the current one that the window holds and a search may still ask for: those a
// bulk pass over prose lays down without a gap.
std::size_t element_scanner::lines_kept_above() const {
    return std::min(window_.earlier_lines, keeping_places_ ? LINES_ABOVE : std::size_t{2});
}

padded_view element_scanner::window_line(std::size_t above) const {
    return window_.slots[(window_.current + WINDOW_SLOTS - above) % WINDOW_SLOTS];
}

// A block taken in one pass left its lines, each whole, in the buffer from block_start_ on, its
// epoch line the first to begin "Epoch " and its five element lines last; the rest is worked out
// here, for the few callers that ask, rather than noted for every block.
std::uint64_t element_scanner::epoch_line() const {
    return block_start_ != nullptr ? lines_ - ELEMENT_LINES : epoch_line_;
}

std::size_t element_scanner::lines_above(std::span<std::string_view, LINES_ABOVE> out) const {
    if (block_start_ == nullptr) {
        const std::size_t count = lines_kept_above();
        for (std::size_t k = 1; k <= count; ++k) out[k - 1] = text_of(window_line(k)).text();
        return count;
    }
    std::string_view lines[LINES_ABOVE];
    std::size_t count = 0;
    for (const char* line = block_start_; !masks::starts_with({line, LINE_PIECE_BYTES}, EPOCH_PREFIX); ++count) {
        const char* const end = static_cast<const char*>(std::memchr(line, '\n', LINE_PIECE_BYTES)) + 1;
        lines[count] = {line, line_text_length(line, static_cast<std::size_t>(end - line))};
        line = end;
    }
    for (std::size_t k = 0; k < count; ++k) out[k] = lines[count - 1 - k];
    return count;
}

}  // namespace orbitcsv
