#include "element_block.hpp"

#include "byte_masks.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <functional>
#include <utility>

namespace orbitcsv {

namespace {

bool starts_with(const line_slot& line, std::string_view prefix) {
    return masks::starts_with(std::string_view(line.data, line.length), prefix);
}

void point_at(line_slot& line, const char* data, std::size_t length) {
    line.data = data;
    line.length = length;
}

constexpr bool is_control(char c) { return static_cast<unsigned char>(c) < 0x20; }

// Only 0x00 to 0x1F: bytes from 0x80 up are letters of UTF-8 names and stay.
std::size_t without_trailing_controls(const char* text, std::size_t length) {
    while (length > 0 && is_control(text[length - 1])) --length;
    return length;
}

// Where `word` first occurs in `text`, or npos: find_first finds its first byte, the rest is
// compared in place.
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

// The text of a line found whole, its newline the last of its bytes, as line_text_length gives
// it; where the bytes looked at held no zero byte, that takes only a look at the usual end.
std::string_view text_of_whole_line(std::string_view raw, bool may_hold_zero) {
    if (may_hold_zero) return {raw.data(), line_text_length(raw.data(), raw.size())};
    // Its newline, and then the usual end: a printable byte before it.
    const std::size_t length = raw.size() - 1;
    return {raw.data(), length > 0 && !is_control(raw[length - 1]) ? length : without_trailing_controls(raw.data(), length)};
}

// The lines that follow one another from a start, each ending just after its newline, as far
// as they stand whole in the bytes at hand and none is longer than a piece; each is found when
// first asked for. Newlines are found 64 bytes at a time while whole loads stay within the
// buffer, and byte by byte after that. A zero byte, which cuts a line's text, is so rare that
// noting whether one was among the bytes looked at is enough: may_hold_zero() may then also
// answer for one that stands beyond the lines.
class line_finder {
public:
    // `available` bytes from `p` hold data, and `readable` bytes (no fewer) may be loaded.
    line_finder(const char* p, std::size_t available, std::size_t readable)
        : p_(p), available_(available), readable_(readable) {
        starts_[0] = 0;
    }

    // Finds lines until `wanted` (at most BLOCK_ROWS + 1) are known; false when the lines at
    // hand run out first, and those that follow are to be read one by one. The state is worked
    // on in locals: the stores of line ends would otherwise make it be read back each time.
    bool find(std::size_t wanted) {
        std::size_t count = count_;
        std::size_t chunk = chunk_;
        std::size_t scanned = scanned_;
        std::uint64_t pending = pending_;
        bool zero = zero_;
        bool found = true;
        while (count < wanted) {
            if (pending == 0) {
                const std::size_t line_start = starts_[count];
                // No newline can end a line here: the data has ended, or the line under way
                // has grown longer than a piece.
                if (scanned >= std::min(available_, line_start + LINE_PIECE_BYTES)) {
                    found = false;
                    break;
                }
                chunk = scanned;
                if (chunk + 64 <= readable_) {
                    pending = finder_.newlines64(p_ + chunk);
                    scanned += 64;
                } else {
                    pending = p_[chunk] == '\n';
                    zero = zero || p_[chunk] == '\0';
                    scanned += 1;
                }
                continue;
            }
            const std::size_t end = chunk + static_cast<std::size_t>(std::countr_zero(pending)) + 1;
            pending &= pending - 1;
            // A newline past the data is a stale byte of the buffer; one more than a piece's
            // length from its line's start ends a line too long to be one. No line follows.
            if (end > available_ || end - starts_[count] > LINE_PIECE_BYTES) {
                scanned = available_;
                pending = 0;
                found = false;
                break;
            }
            starts_[++count] = end;
        }
        count_ = count;
        chunk_ = chunk;
        scanned_ = scanned;
        pending_ = pending;
        zero_ = zero;
        return found;
    }

    // Line `index`, its newline included.
    std::string_view raw_line(std::size_t index) const { return {p_ + starts_[index], starts_[index + 1] - starts_[index]}; }
    // The text of line `index`, as the rest of the program sees it.
    std::string_view text(std::size_t index, bool may_hold_zero) const {
        return text_of_whole_line(raw_line(index), may_hold_zero);
    }
    const char* after(std::size_t index) const { return p_ + starts_[index + 1]; }
    bool may_hold_zero() const { return zero_ || finder_.saw_zero(); }

private:
    const char* p_;
    std::size_t available_;
    std::size_t readable_;
    // Where each line found begins, and after them where the next would: line i is the bytes
    // from starts_[i] to starts_[i + 1].
    std::size_t starts_[BLOCK_ROWS + 2];  // a designation, an "Id" line, the epoch and element lines
    std::size_t count_ = 0;
    std::size_t scanned_ = 0;    // bytes before this have been looked at
    std::size_t chunk_ = 0;      // where the bytes of `pending_` begin
    std::uint64_t pending_ = 0;  // their newlines not yet taken, one bit each
    bool zero_ = false;
    masks::newline_finder finder_;
};

constexpr auto PIECE_BYTES = static_cast<std::ptrdiff_t>(LINE_PIECE_BYTES);

// The byte after the last newline in [first, end), or `otherwise` when there is none. The
// newline sought is usually a line's length back from `end`: 16 bytes at a time backwards
// while whole vectors fit, then byte by byte.
const char* after_last_newline(const char* first, const char* end, const char* otherwise) {
    const char* p = end;
    while (p - first >= 16) {
        p -= 16;
        // Just past the highest newline of the vector.
        if (const std::uint32_t newlines = masks::newline16(p)) return p + std::bit_width(newlines);
    }
    while (p != first) {
        if (*--p == '\n') return p + 1;
    }
    return otherwise;
}

// Pieces begin after every newline, and every LINE_PIECE_BYTES bytes after that. Given a piece
// start `first`, this is the start of the piece that ends just before `piece_end`.
const char* piece_start_before(const char* first, const char* piece_end) {
    const char* const line = after_last_newline(first, piece_end - 1, first);
    return line + (piece_end - 1 - line) / PIECE_BYTES * PIECE_BYTES;
}

// The first piece in [first, end) that begins "Epoch ", or may (its bytes run past `end`); else
// the start of the piece that `end` cuts short, or `end`. `first` is a piece start. Lines that
// begin "Epoch " are few, so this runs at memchr's speed over the rest: only the 'E's are looked
// at, and whether one begins a piece follows from the latest newline before it.
const char* find_epoch_candidate(const char* first, const char* end) {
    const char* line = first;    // where the pieces around `looked` count from
    const char* looked = first;  // newlines before this have been taken into `line`
    for (const char* e = first; (e = masks::find_first(e, static_cast<std::size_t>(end - e), 'E'));
         ++e) {
        const auto have = static_cast<std::size_t>(end - e);
        if (!masks::same_bytes(e, EPOCH_PREFIX.data(), std::min(have, EPOCH_PREFIX.size()))) continue;
        // Usually the 'E' begins a line, and the newline before it settles where pieces count from.
        line = e != looked && e[-1] == '\n' ? e : after_last_newline(looked, e, line);
        looked = e;
        if ((e - line) % PIECE_BYTES == 0) return e;
    }
    line = after_last_newline(looked, end, line);
    return line + (end - line) / PIECE_BYTES * PIECE_BYTES;
}

}  // namespace

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

// The pieces in [first, end) were passed over in bulk; the last two of them take their places
// in the window, as if read one by one.
void element_scanner::remember_skipped_pieces(const char* first, const char* end) {
    const char* const last = piece_start_before(first, end);
    if (last != first) {
        const char* const before_last = piece_start_before(first, last);
        point_at(window_.slots[window_.current], before_last, static_cast<std::size_t>(last - before_last));
        window_.current = (window_.current + 1) % WINDOW_SLOTS;
        window_.earlier_lines = 1;
    }
    point_at(window_.slots[window_.current], last, static_cast<std::size_t>(end - last));
    window_.current = (window_.current + 1) % WINDOW_SLOTS;
    if (window_.earlier_lines < 2) ++window_.earlier_lines;
}

// In an element list each block follows the one before it, so the epoch line is among the
// first lines of the search, and the block usually stands whole in the buffer. Its lines are
// then found in one pass from the start of the search and taken where they lie, with none of
// the window's bookkeeping; the rules are those of the general search in search_block. False,
// with nothing moved, when the block is not right here in full, which leaves any case out of
// the ordinary (the end of the data near, a line longer than a piece, one that begins "Epoch "
// but is no epoch line) to that search.
bool element_scanner::capture_block_at_hand(element_block& block) {
    // Designation, "Id" line, epoch line: the latest place the epoch line can take here.
    constexpr std::size_t LAST_EPOCH_INDEX = 2;
    constexpr std::size_t ELEMENT_LINES = BLOCK_ROWS - 2;
    const char* const p = next_;
    const auto available = static_cast<std::size_t>(end_ - next_);
    // Line i is the bytes from starts[i] to starts[i + 1], its newline the last of them.
    std::size_t starts[LAST_EPOCH_INDEX + BLOCK_ROWS];
    starts[0] = 0;
    std::size_t count = 0;
    std::size_t chunk = 0;       // where the newlines of `pending` were looked for
    std::size_t scanned = 0;     // bytes before this have been looked at
    std::uint64_t pending = 0;   // newlines not yet taken, one bit each
    masks::newline_finder finder;
    // Newlines are looked for 64 bytes at a time, and only in loads that lie within the data:
    // every newline seen is then one of the input's, and needs no test of its own for that.
    const auto find = [&](std::size_t wanted) {
        if (count >= wanted) return true;
        for (;;) {
            while (pending != 0) {
                const std::size_t end = chunk + static_cast<std::size_t>(std::countr_zero(pending)) + 1;
                pending &= pending - 1;
                if (end - starts[count] > LINE_PIECE_BYTES) return false;
                starts[++count] = end;
                if (count == wanted) return true;
            }
            // Past the data, or a line under way already as long as a piece: no block here.
            if (scanned + 64 > available || scanned - starts[count] >= LINE_PIECE_BYTES) return false;
            pending = finder.newlines64(p + scanned);
            chunk = scanned;
            scanned += 64;
        }
    };
    if (!find(LAST_EPOCH_INDEX + 1)) return false;
    // Stripping and the cut at a zero byte cannot touch the six prefix bytes of the raw line.
    std::size_t epoch = 0;
    while (!masks::starts_with(std::string_view(p + starts[epoch], starts[epoch + 1] - starts[epoch]), EPOCH_PREFIX)) {
        if (++epoch > LAST_EPOCH_INDEX) return false;
    }
    if (!find(epoch + 1 + ELEMENT_LINES)) return false;

    const bool zero = finder.saw_zero();
    const auto text = [&](std::size_t index) {
        return text_of_whole_line({p + starts[index], starts[index + 1] - starts[index]}, zero);
    };
    const std::string_view epoch_line = text(epoch);
    if (!is_epoch_text_(epoch_line)) return false;

    std::string_view designation;
    if (epoch >= 1) {
        designation = text(epoch - 1);
        if (masks::starts_with(designation, ID_PREFIX)) designation = epoch >= 2 ? text(epoch - 2) : "";
    }
    point_at(block.rows[0], designation.empty() ? block.rows[0].own : designation.data(), designation.size());
    point_at(block.rows[1], epoch_line.data(), epoch_line.size());
    for (std::size_t row = 2; row < BLOCK_ROWS; ++row) {
        const std::string_view line = text(epoch + row - 1);
        point_at(block.rows[row], line.data(), line.size());
    }
    next_ = p + starts[epoch + 1 + ELEMENT_LINES];
    return true;
}

bool element_scanner::find_element_block(element_block& block) {
    if (!search_block(block)) return false;
    // A read buffer too small to keep slack after its input cannot lend it to the rows.
    if (input_capacity() == buffer_.size()) {
        for (line_slot& row : block.rows) keep_alive(row);
    }
    return true;
}

bool element_scanner::search_block(element_block& block) {
    if (stopped_at_ != stop_point::none) return go_on(block);
    capture_ = nullptr;
    if (capture_block_at_hand(block)) return true;
    window_.current = 0;
    window_.earlier_lines = 0;
    return search_lines(block);
}

// A call that stopped to wait for bytes is taken up where it stopped: a search with its window
// as it was, or the element rows from the one it was reading.
bool element_scanner::go_on(element_block& block) {
    const stop_point at = std::exchange(stopped_at_, stop_point::none);
    return at == stop_point::element_rows ? read_element_rows(block, next_row_) : search_lines(block);
}

// The search for an epoch line, line by line from the window's current slot, and the capture of
// the block it heads.
bool element_scanner::search_lines(element_block& block) {
    constexpr std::size_t ELEMENT_LINES = BLOCK_ROWS - 2;
    // The epoch line and the element lines, when they stand whole in the buffer.
    line_finder lines(nullptr, 0, 0);
    bool lines_found = false;
    for (;;) {
        if (next_ != end_) {
            const char* const candidate = find_epoch_candidate(next_, end_);
            if (candidate != next_) {
                remember_skipped_pieces(next_, candidate);
                next_ = candidate;
            }
        }
        line_slot& line = window_.slots[window_.current];
        // Usually the epoch line and the five lines after it stand whole in the buffer: they are
        // then found together, and only an epoch line that is not one costs a line read alone.
        if (next_ != end_) lines = line_finder(next_, static_cast<std::size_t>(end_ - next_), readable());
        lines_found = next_ != end_ && lines.find(1 + ELEMENT_LINES);
        if (lines_found) {
            point_at(line, next_, lines.raw_line(0).size());
            next_ = lines.after(0);
        } else if (!next_piece(line)) {
            if (waiting_) stopped_at_ = stop_point::search;
            return false;
        }
        // Stripping and the cut at a zero byte cannot touch the six prefix bytes, so the raw
        // piece is tested first and only lines that begin "Epoch " are looked at further.
        if (starts_with(line, EPOCH_PREFIX)) {
            // A line read alone is measured in full.
            const std::string_view text = lines_found ? lines.text(0, lines.may_hold_zero())
                                                      : std::string_view(line.data, line_text_length(line.data, line.length));
            if (is_epoch_text_(text)) {
                line.length = text.size();
                break;
            }
        }
        window_.current = (window_.current + 1) % WINDOW_SLOTS;
        if (window_.earlier_lines < 2) ++window_.earlier_lines;
    }

    // The designation is the line above the epoch line, or the one above that when the line
    // between begins "Id". A line from before this search would belong to another object,
    // so where the look-back leaves the search the designation is empty.
    const auto back = [&](std::size_t steps) -> const line_slot* {
        if (steps > window_.earlier_lines) return nullptr;
        return &window_.slots[(window_.current + WINDOW_SLOTS - steps) % WINDOW_SLOTS];
    };
    const line_slot* designation = back(1);
    if (designation != nullptr && starts_with(*designation, ID_PREFIX)) designation = back(2);

    line_slot& name_row = block.rows[0];
    if (designation == nullptr) {
        point_at(name_row, name_row.own, 0);
    } else {
        point_at(name_row, designation->data, line_text_length(designation->data, designation->length));
    }
    point_at(block.rows[1], window_.slots[window_.current].data, window_.slots[window_.current].length);

    capture_ = &block;
    // The element lines: found with the epoch line, or found on their own.
    std::size_t first = 1;
    if (!lines_found && next_ != end_) {
        lines = line_finder(next_, static_cast<std::size_t>(end_ - next_), readable());
        lines_found = lines.find(ELEMENT_LINES);
        first = 0;
    }
    if (lines_found) {
        const bool zero = lines.may_hold_zero();
        for (std::size_t row = 2; row < BLOCK_ROWS; ++row) {
            const std::string_view text = lines.text(first + row - 2, zero);
            point_at(block.rows[row], text.data(), text.size());
        }
        next_ = lines.after(first + ELEMENT_LINES - 1);
        return true;
    }
    return read_element_rows(block, 2);
}

// The element lines from `first_row` on, read one by one.
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

// The fast path: the whole piece is in the buffer and is handed out where it lies.
bool element_scanner::next_piece(line_slot& line) {
    if (next_ == end_) {
        // A piece begun before the scanner stopped to wait goes on where it was left.
        if (partial_piece_ != nullptr) return continue_piece(line);
        if (!refill()) return false;
    }
    const auto available = static_cast<std::size_t>(end_ - next_);
    line_finder lines(next_, available, readable());
    const bool whole = lines.find(1);
    // Without a newline, a piece shorter than LINE_PIECE_BYTES may go on after the buffer.
    if (!whole && available < LINE_PIECE_BYTES) return assemble_piece(line);
    const std::size_t length = whole ? lines.raw_line(0).size() : LINE_PIECE_BYTES;
    point_at(line, next_, length);
    next_ += length;
    return true;
}

// The slow path: the piece runs past the end of the buffer, so it is gathered in the line's
// own storage across as many refills as it takes (many, with a tiny buffer).
bool element_scanner::assemble_piece(line_slot& line) {
    line.length = static_cast<std::size_t>(end_ - next_);
    std::memcpy(line.own, next_, line.length);
    line.data = line.own;
    next_ = end_;
    return continue_piece(line);
}

// Adds to the piece begun in `line`'s own storage, `line.length` bytes so far, until its newline,
// a whole piece or the end of the input. When the source has no bytes yet the piece waits, as it
// stands, for the next call.
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
        const std::size_t available = static_cast<std::size_t>(end_ - next_);
        const std::size_t wanted = LINE_PIECE_BYTES - have;
        const std::size_t reach = available < wanted ? available : wanted;
        const void* newline = std::memchr(next_, '\n', reach);
        const std::size_t take =
            newline ? static_cast<std::size_t>(static_cast<const char*>(newline) - next_) + 1 : reach;
        std::memcpy(line.own + have, next_, take);
        have += take;
        next_ += take;
        if (newline) break;
    }
    line.length = have;
    return true;
}

bool element_scanner::refill() {
    if (input_ended_) return false;
    keep_lines_alive();
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

// Lines of the window and rows of the block being captured may still point into the read
// buffer; they move into their own storage before it is overwritten.
void element_scanner::keep_lines_alive() {
    for (line_slot& line : window_.slots) keep_alive(line);
    if (capture_ != nullptr) {
        for (line_slot& line : capture_->rows) keep_alive(line);
    }
}

void element_scanner::keep_alive(line_slot& line) const {
    if (holds(line.data)) {
        std::memcpy(line.own, line.data, line.length);
        line.data = line.own;
    }
}

std::size_t element_scanner::input_capacity() const {
    return buffer_.size() >= SLACK_BUFFER_BYTES ? buffer_.size() - LINE_SLACK : buffer_.size();
}

bool element_scanner::holds(const char* byte) const {
    const std::less<const char*> before;
    return !before(byte, buffer_.data()) && before(byte, buffer_.data() + buffer_.size());
}

}  // namespace orbitcsv
