#include "element_block.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <functional>
#include <optional>
#include <utility>

namespace orbitcsv {

namespace {

// ---- What a line's text is ----

constexpr bool is_control(char c) { return static_cast<unsigned char>(c) < 0x20; }

// Only 0x00 to 0x1F: bytes from 0x80 up are letters of UTF-8 names and stay.
std::size_t without_trailing_controls(const char* text, std::size_t length) {
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

void point_at(line_slot& line, const char* data, std::size_t length) {
    line.data = data;
    line.length = length;
}

// ---- The epoch line ----

// Where `word` first occurs in `text`, or npos.
std::size_t find_word(std::string_view text, std::string_view word) {
    if (text.size() < word.size()) return std::string_view::npos;
    const char* p = text.data();
    const char* const last = p + text.size() - word.size();
    while ((p = masks::find_first(p, static_cast<std::size_t>(last - p) + 1, word[0]))) {
        std::size_t i = 1;
        while (i < word.size() && p[i] == word[i]) ++i;
        if (i == word.size()) return static_cast<std::size_t>(p - text.data());
        if (p++ == last) break;
    }
    return std::string_view::npos;
}

// For an epoch line, how far into it its marks reach: "Epoch " and the first "TT", "=" and
// "JDT", to the end of the last of them; 0 for any other line.
std::size_t epoch_marks_reach(std::string_view line) {
    if (!masks::starts_with(line, EPOCH_PREFIX)) return 0;
    std::size_t reach = EPOCH_PREFIX.size();
    for (const std::string_view mark : {std::string_view("TT"), std::string_view("="), std::string_view("JDT")}) {
        const std::size_t at = find_word(line, mark);
        if (at == std::string_view::npos) return 0;
        reach = std::max(reach, at + mark.size());
    }
    return reach;
}

// ---- The designation ----

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

// ---- Where lines end ----

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
    using line_starts = std::size_t[BLOCK_ROWS + 2];

    line_finder(const char* p, std::size_t available, std::size_t most_lines, line_starts& starts)
        : p_(p), limit_(std::min(available, most_lines * LINE_PIECE_BYTES)), starts_(starts) {
        starts_[0] = 0;
    }

    // Finds lines until `wanted` (at most BLOCK_ROWS + 1) are known; false when they run out.
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

    // The element rows of a block, from line `first` on.
    void take_element_rows(element_block& block, std::size_t first, bool may_hold_zero) const {
        // Unrolled: each row takes a handful of instructions, and the loop's own would add a fifth.
#pragma GCC unroll 8
        for (std::size_t row = 2; row < BLOCK_ROWS; ++row) {
            const std::string_view line = text_of_whole_line(raw_line(first + row - 2), may_hold_zero);
            point_at(block.rows[row], line.data(), line.size());
        }
    }

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

// ---- Skipping prose ----

constexpr auto PIECE_BYTES = static_cast<std::ptrdiff_t>(LINE_PIECE_BYTES);

// The byte after the last newline in [first, end), or `otherwise` when there is none.
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

// How many newlines [first, end) holds, 16 bytes at a time; nothing past `end` is read. The
// bits are cleared one by one: std::popcount, on a machine that may lack its instruction, calls
// a helper of the compiler's runtime library, which the program does without.
std::uint64_t count_newlines(const char* first, const char* end) {
    std::uint64_t count = 0;
    for (; end - first >= 16; first += 16) {
        for (std::uint32_t newlines = masks::newline16(first); newlines != 0; newlines &= newlines - 1) ++count;
    }
    for (; first != end; ++first) count += *first == '\n';
    return count;
}

// Pieces begin after every newline, and every LINE_PIECE_BYTES bytes after that. Given a piece
// start `first`, this is the start of the piece that ends just before `piece_end`.
const char* piece_start_before(const char* first, const char* piece_end) {
    const char* const line = after_last_newline(first, piece_end - 1, first);
    return line + (piece_end - 1 - line) / PIECE_BYTES * PIECE_BYTES;
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
        if ((e - line) % PIECE_BYTES == 0) return e;
    }
    line = after_last_newline(looked, end, line);
    return line + (end - line) / PIECE_BYTES * PIECE_BYTES;
}

}  // namespace

void line_slot::assign(std::string_view line) {
    length = std::min(line.size(), LINE_PIECE_BYTES);
    std::memcpy(own, line.data(), length);
    data = own;
}

std::size_t line_text_length(const char* piece, std::size_t length) {
    if (const char* const zero = masks::find_first(piece, length, '\0')) length = static_cast<std::size_t>(zero - piece);
    return without_trailing_controls(piece, length);
}

bool is_epoch_line(std::string_view line) { return epoch_marks_reach(line) != 0; }

bool epoch_line_test::learn(std::string_view line) {
    const std::size_t reach = epoch_marks_reach(line);
    if (reach == 0) return false;
    std::memcpy(marks_, line.data(), reach);
    reach_ = reach;
    return true;
}

bool element_scanner::next_input_line(line_slot& line) {
    if (!next_piece(line)) return false;
    line.length = line_text_length(line.data, line.length);
    return true;
}

bool element_scanner::find_element_block(element_block& block) {
    if (!search_block(block)) return false;
    // A read buffer too small to keep slack after its input cannot lend it to the rows.
    if (buffer_.size() < SLACK_BUFFER_BYTES) {
        for (line_slot& row : block.rows) keep_alive(row);
    }
    return true;
}

bool element_scanner::search_block(element_block& block) {
    if (stopped_at_ != stop_point::none) {
        // Taken up where it stopped: in the search, or at the element row it was reading.
        const stop_point at = std::exchange(stopped_at_, stop_point::none);
        return at == stop_point::element_rows ? read_element_rows(block, next_row_) : search(block);
    }
    capture_ = nullptr;
    if (take_block_at_hand(block)) return true;
    window_.current = 0;
    window_.earlier_lines = 0;
    return search(block);
}

// Saves the window's bookkeeping for a block right after the one before,
// as in an element list: it usually stands whole in the buffer, its epoch line among the first
// three lines of the search, and is taken in one pass where it lies. False, with nothing moved,
// leaves anything else to search().
bool element_scanner::take_block_at_hand(element_block& block) {
    constexpr std::size_t LAST_EPOCH_INDEX = 2;  // after a designation and an "Id" line
    line_finder::line_starts starts;
    line_finder lines(next_, available(), LAST_EPOCH_INDEX + 1 + ELEMENT_LINES, starts);
    if (!lines.find(LAST_EPOCH_INDEX + 1)) return false;
    std::size_t epoch = 0;
    while (!masks::starts_with(lines.raw_line(epoch), EPOCH_PREFIX)) {
        if (++epoch > LAST_EPOCH_INDEX) return false;
    }
    if (!lines.find(epoch + 1 + ELEMENT_LINES)) return false;
    const bool zero = lines.may_hold_zero();
    const std::string_view epoch_line = text_of_whole_line(lines.raw_line(epoch), zero);
    if (!is_epoch_text_(epoch_line)) return false;

    const auto designation = designation_line([&](std::size_t k) -> std::optional<std::string_view> {
        if (k > epoch) return std::nullopt;
        return lines.raw_line(epoch - k);
    });
    const std::string_view name = designation ? text_of_whole_line(*designation, zero) : std::string_view(block.rows[0].own, 0);
    point_at(block.rows[0], name.data(), name.size());
    point_at(block.rows[1], epoch_line.data(), epoch_line.size());
    lines.take_element_rows(block, epoch + 1, zero);
    block_start_ = next_;
    lines_ += epoch + 1 + ELEMENT_LINES;  // every line found ends in its newline
    next_ = lines.after(epoch + ELEMENT_LINES);
    return true;
}

// The search for an epoch line, line by line from the window's current slot, and the block.
bool element_scanner::search(element_block& block) {
    for (;;) {
        skip_to_epoch_candidate();
        line_slot& line = window_.slots[window_.current];
        if (!next_piece(line)) {
            if (waiting_) stopped_at_ = stop_point::search;
            return false;
        }
        // Stripping and the cut at a zero byte cannot touch the six prefix bytes: tested raw first.
        if (masks::starts_with({line.data, line.length}, EPOCH_PREFIX)) {
            const std::string_view text(line.data, line_text_length(line.data, line.length));
            if (is_epoch_text_(text)) {
                // The line's own newline, if it has one, is counted already.
                epoch_line_ = lines_ + 1 - (line.data[line.length - 1] == '\n');
                line.length = text.size();
                break;
            }
        }
        window_.advance();
    }

    const auto designation = designation_line([&](std::size_t k) -> std::optional<std::string_view> {
        if (k > window_.earlier_lines) return std::nullopt;
        const line_slot& line = window_.slots[(window_.current + WINDOW_SLOTS - k) % WINDOW_SLOTS];
        return std::string_view(line.data, line.length);
    });
    line_slot& name_row = block.rows[0];
    if (designation) {
        point_at(name_row, designation->data(), line_text_length(designation->data(), designation->size()));
    } else {
        point_at(name_row, name_row.own, 0);
    }
    point_at(block.rows[1], window_.slots[window_.current].data, window_.slots[window_.current].length);
    block_start_ = nullptr;
    capture_ = &block;
    return take_element_rows(block);
}

// The element lines after the epoch line: found together where they stand whole, else one by one.
bool element_scanner::take_element_rows(element_block& block) {
    if (next_ != end_) {
        line_finder::line_starts starts;
        line_finder lines(next_, available(), ELEMENT_LINES, starts);
        if (lines.find(ELEMENT_LINES)) {
            lines.take_element_rows(block, 0, lines.may_hold_zero());
            lines_ += ELEMENT_LINES;
            next_ = lines.after(ELEMENT_LINES - 1);
            return true;
        }
    }
    return read_element_rows(block, 2);
}

bool element_scanner::read_element_rows(element_block& block, std::size_t first_row) {
    for (std::size_t row = first_row; row < BLOCK_ROWS; ++row) {
        if (!next_input_line(block.rows[row])) {
            if (waiting_) {
                stopped_at_ = stop_point::element_rows;
                next_row_ = row;
            }
            return false;
        }
    }
    return true;
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
        point_at(window_.slots[window_.current], starts[kept], static_cast<std::size_t>(starts[kept - 1] - starts[kept]));
        window_.advance();
    }
    if (keeping_places_) lines_ += count_newlines(next_, candidate);
    next_ = candidate;
}

// A whole piece in the buffer is handed out where it lies; one that runs past its end is gathered
// in the line's own storage.
bool element_scanner::next_piece(line_slot& line) {
    if (next_ == end_) {
        // A piece begun before the scanner stopped to wait goes on where it was left.
        if (partial_piece_ != nullptr) return continue_piece(line);
        if (!refill()) return false;
    }
    line_finder::line_starts starts;
    line_finder lines(next_, available(), 1, starts);
    const bool whole = lines.find(1);
    // Without a newline, a piece shorter than LINE_PIECE_BYTES may go on after the buffer.
    if (!whole && available() < LINE_PIECE_BYTES) {
        line.assign({next_, available()});
        next_ = end_;
        return continue_piece(line);
    }
    point_at(line, next_, whole ? lines.raw_line(0).size() : LINE_PIECE_BYTES);
    lines_ += whole;
    next_ += line.length;
    return true;
}

// Adds to the piece begun in `line`'s own storage across as many refills as it takes, until its
// newline, a whole piece or the end of the input; with no bytes yet, the piece waits as it is.
bool element_scanner::continue_piece(line_slot& line) {
    partial_piece_ = nullptr;
    std::size_t have = line.length;
    while (have < LINE_PIECE_BYTES) {
        if (!refill()) {
            // Bytes cut off by a failed read are not a line of the input.
            if (read_failed_) return false;
            if (waiting_) {
                line.length = have;
                partial_piece_ = &line;
                return false;
            }
            break;
        }
        const std::size_t take_at_most = std::min(available(), LINE_PIECE_BYTES - have);
        const void* const newline = std::memchr(next_, '\n', take_at_most);
        const std::size_t take = newline ? static_cast<std::size_t>(static_cast<const char*>(newline) - next_) + 1 : take_at_most;
        std::memcpy(line.own + have, next_, take);
        have += take;
        next_ += take;
        if (newline) {
            ++lines_;
            break;
        }
    }
    line.length = have;
    return true;
}

// Lines that point into the read buffer move into their own storage before it is overwritten.
bool element_scanner::refill() {
    if (input_ended_) return false;
    for (line_slot& line : window_.slots) keep_alive(line);
    if (capture_ != nullptr) {
        for (line_slot& line : capture_->rows) keep_alive(line);
    }
    const std::ptrdiff_t got = source_.read_some(buffer_.data(), input_capacity());
    // Nothing is at hand then, and every line kept is in its own storage.
    waiting_ = got == READ_LATER;
    if (waiting_) return false;
    if (got <= READ_END) {
        input_ended_ = true;
        read_failed_ = got < READ_END;
        next_ = end_ = nullptr;
        return false;
    }
    next_ = buffer_.data();
    end_ = next_ + got;
    return true;
}

// A block taken in one pass left its lines, each whole, in the buffer from block_start_ on, its
// epoch line the first to begin "Epoch " and its five element lines last; the rest is worked out
// here, for the few callers that ask, rather than noted for every block.
std::uint64_t element_scanner::epoch_line() const {
    return block_start_ != nullptr ? lines_ - ELEMENT_LINES : epoch_line_;
}

std::size_t element_scanner::lines_above(std::span<std::string_view, LINES_ABOVE> out) const {
    if (block_start_ == nullptr) {
        for (std::size_t k = 1; k <= window_.earlier_lines; ++k) {
            const line_slot& line = window_.slots[(window_.current + WINDOW_SLOTS - k) % WINDOW_SLOTS];
            out[k - 1] = {line.data, line_text_length(line.data, line.length)};
        }
        return window_.earlier_lines;
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

void element_scanner::keep_alive(line_slot& line) const {
    const std::less<const char*> before;
    if (!before(line.data, buffer_.data()) && before(line.data, buffer_.data() + buffer_.size())) {
        std::memcpy(line.own, line.data, line.length);
        line.data = line.own;
    }
}

std::size_t element_scanner::input_capacity() const {
    return buffer_.size() < SLACK_BUFFER_BYTES ? buffer_.size() : buffer_.size() - LINE_SLACK;
}

}  // namespace orbitcsv
