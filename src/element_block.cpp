#include "element_block.hpp"

#include "byte_masks.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <functional>

namespace orbitcsv {

namespace {

bool starts_with(const line_slot& line, std::string_view prefix) {
    return line.length >= prefix.size() && std::memcmp(line.data, prefix.data(), prefix.size()) == 0;
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

// The same for a piece whose text has no zero byte, with the usual end, one newline after a
// printable byte, settled first.
std::size_t zero_free_text_length(const char* piece, std::size_t length) {
    if (length >= 2 && piece[length - 1] == '\n' && !is_control(piece[length - 2])) return length - 1;
    return without_trailing_controls(piece, length);
}

// Whether `word` occurs in `text`: memchr finds its first byte, the rest is compared in place.
bool contains(std::string_view text, std::string_view word) {
    if (text.size() < word.size()) return false;
    const char* p = text.data();
    const char* const last = p + text.size() - word.size();
    while ((p = static_cast<const char*>(std::memchr(p, word[0], static_cast<std::size_t>(last - p) + 1)))) {
        std::size_t i = 1;
        while (i < word.size() && p[i] == word[i]) ++i;
        if (i == word.size()) return true;
        if (p++ == last) break;
    }
    return false;
}

// The ends of lines that follow one another from a start, each just after its newline.
struct line_run {
    std::size_t ends[BLOCK_ROWS - 1];  // the epoch line and the element lines at most
    std::size_t count = 0;
    bool zero = false;  // a zero byte stands in one of the lines
};

// The next `wanted` lines, when all stand whole in the `available` bytes from `p` and none is
// longer than a piece: found in one pass, 64 bytes at a time while `readable` allows and byte by
// byte after that. Fewer ends mean they do not, and the lines are to be read one by one.
line_run find_lines(const char* p, std::size_t wanted, std::size_t available, std::size_t readable) {
    line_run run;
    std::size_t line_start = 0;
    // Takes the newline or zero byte at `hit`; false once the run is whole or a line too long.
    const auto take = [&](std::size_t hit) {
        if (p[hit] != '\n') {
            run.zero = true;
            return true;
        }
        if (hit + 1 - line_start > LINE_PIECE_BYTES) return false;
        run.ends[run.count++] = hit + 1;
        line_start = hit + 1;
        return run.count < wanted;
    };
    // The lines cannot reach past this; a longer one is caught at its newline, or by the count.
    available = std::min(available, wanted * LINE_PIECE_BYTES);
    std::size_t at = 0;
    for (const std::size_t limit = readable < 64 ? 0 : std::min(available, readable - 63); at < limit; at += 64) {
        std::uint64_t hits = masks::newline_or_zero64(p + at);
        if (available - at < 64) hits &= (std::uint64_t{1} << (available - at)) - 1;
        for (; hits != 0; hits &= hits - 1) {
            if (!take(at + static_cast<std::size_t>(std::countr_zero(hits)))) return run;
        }
    }
    for (; at < available; ++at) {
        if ((p[at] == '\n' || p[at] == '\0') && !take(at)) return run;
    }
    return run;
}

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
    for (const char* e = first; (e = static_cast<const char*>(std::memchr(e, 'E', static_cast<std::size_t>(end - e))));
         ++e) {
        const auto have = static_cast<std::size_t>(end - e);
        if (have >= EPOCH_PREFIX.size() ? std::memcmp(e, EPOCH_PREFIX.data(), EPOCH_PREFIX.size()) != 0
                                        : std::memcmp(e, EPOCH_PREFIX.data(), have) != 0) {
            continue;
        }
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
    if (const void* zero = std::memchr(piece, '\0', length)) {
        length = static_cast<std::size_t>(static_cast<const char*>(zero) - piece);
    }
    return without_trailing_controls(piece, length);
}

bool is_epoch_line(std::string_view line) {
    return line.starts_with(EPOCH_PREFIX) && contains(line, "TT") && contains(line, "=") && contains(line, "JDT");
}

bool element_scanner::next_input_line(line_slot& line) {
    if (!next_piece(line)) return false;
    line.length = piece_text_length(line);
    return true;
}

std::size_t element_scanner::piece_text_length(const line_slot& piece) const {
    return piece_has_zero_ ? line_text_length(piece.data, piece.length)
                           : zero_free_text_length(piece.data, piece.length);
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

bool element_scanner::find_element_block(element_block& block) {
    capture_ = nullptr;
    window_.current = 0;
    window_.earlier_lines = 0;
    line_run run;  // the epoch line and the element lines, when found in one pass
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
        run = next_ != end_ ? find_lines(next_, BLOCK_ROWS - 1, static_cast<std::size_t>(end_ - next_), readable())
                            : line_run{};
        if (run.count == BLOCK_ROWS - 1) {
            point_at(line, next_, run.ends[0]);
            piece_has_zero_ = run.zero;
            next_ += run.ends[0];
        } else if (!next_piece(line)) {
            return false;
        }
        // Stripping and the cut at a zero byte cannot touch the six prefix bytes, so the raw
        // piece is tested first and only lines that begin "Epoch " are looked at further.
        if (starts_with(line, EPOCH_PREFIX)) {
            const std::size_t length = piece_text_length(line);
            if (is_epoch_line({line.data, length})) {
                line.length = length;
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
    // The element lines: from the run that held the epoch line, or from a run of their own.
    constexpr std::size_t ELEMENT_LINES = BLOCK_ROWS - 2;
    const std::size_t first_end = run.count == BLOCK_ROWS - 1 ? run.ends[0] : 0;  // where they start in the run
    if (run.count != BLOCK_ROWS - 1 && next_ != end_) {
        run = find_lines(next_, ELEMENT_LINES, static_cast<std::size_t>(end_ - next_), readable());
    }
    if (run.count >= ELEMENT_LINES) {
        const char* const lines = next_ - first_end;
        std::size_t start = first_end;
        for (std::size_t row = 2; row < BLOCK_ROWS; ++row) {
            const std::size_t end = run.ends[run.count - BLOCK_ROWS + row];
            point_at(block.rows[row], lines + start,
                     run.zero ? line_text_length(lines + start, end - start)
                              : zero_free_text_length(lines + start, end - start));
            start = end;
        }
        next_ = lines + start;
        return true;
    }
    for (std::size_t row = 2; row < BLOCK_ROWS; ++row) {
        if (!next_input_line(block.rows[row])) return false;
    }
    return true;
}

// The fast path: the whole piece is in the buffer and is handed out where it lies.
bool element_scanner::next_piece(line_slot& line) {
    if (next_ == end_ && !refill()) return false;
    const auto available = static_cast<std::size_t>(end_ - next_);
    const line_run run = find_lines(next_, 1, available, readable());
    // Without a newline, a piece shorter than LINE_PIECE_BYTES may go on after the buffer.
    if (run.count == 0 && available < LINE_PIECE_BYTES) return assemble_piece(line);
    const std::size_t length = run.count == 1 ? run.ends[0] : LINE_PIECE_BYTES;
    point_at(line, next_, length);
    piece_has_zero_ = run.zero;
    next_ += length;
    return true;
}

// The slow path: the piece runs past the end of the buffer, so it is gathered in the line's
// own storage across as many refills as it takes (many, with a tiny buffer).
bool element_scanner::assemble_piece(line_slot& line) {
    std::size_t have = static_cast<std::size_t>(end_ - next_);
    std::memcpy(line.own, next_, have);
    line.data = line.own;
    piece_has_zero_ = true;  // not looked for here; the text is measured in full
    next_ = end_;
    while (have < LINE_PIECE_BYTES) {
        if (!refill()) {
            // Bytes cut off by a failed read are not a line of the input.
            if (read_failed_) return false;
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
    const std::ptrdiff_t got = source_.read_some(buffer_.data(), buffer_.size());
    if (got <= 0) {
        input_ended_ = true;
        read_failed_ = got < 0;
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
    const auto keep = [this](line_slot& line) {
        if (holds(line.data)) {
            std::memcpy(line.own, line.data, line.length);
            line.data = line.own;
        }
    };
    for (line_slot& line : window_.slots) keep(line);
    if (capture_ != nullptr) {
        for (line_slot& line : capture_->rows) keep(line);
    }
}

bool element_scanner::holds(const char* byte) const {
    const std::less<const char*> before;
    return !before(byte, buffer_.data()) && before(byte, buffer_.data() + buffer_.size());
}

}  // namespace orbitcsv
