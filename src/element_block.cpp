#include "element_block.hpp"

#include <cstring>
#include <functional>

namespace orbitcsv {

namespace {

bool starts_with(const line_slot& line, std::string_view prefix) {
    return line.length >= prefix.size() && std::memcmp(line.data, prefix.data(), prefix.size()) == 0;
}

void point_at(line_slot& line, const line_slot& source, std::size_t length) {
    line.data = source.data;
    line.length = length;
}

}  // namespace

std::size_t line_text_length(const char* piece, std::size_t length) {
    if (const void* zero = std::memchr(piece, '\0', length)) {
        length = static_cast<std::size_t>(static_cast<const char*>(zero) - piece);
    }
    // Only 0x00 to 0x1F: bytes from 0x80 up are letters of UTF-8 names and stay.
    while (length > 0 && static_cast<unsigned char>(piece[length - 1]) < 0x20) --length;
    return length;
}

bool is_epoch_line(std::string_view line) {
    constexpr auto npos = std::string_view::npos;
    return line.starts_with(EPOCH_PREFIX) && line.find("TT") != npos && line.find('=') != npos &&
           line.find("JDT") != npos;
}

bool element_scanner::next_input_line(line_slot& line) {
    if (!next_piece(line)) return false;
    line.length = line_text_length(line.data, line.length);
    return true;
}

bool element_scanner::find_element_block(element_block& block) {
    capture_ = nullptr;
    window_.current = 0;
    window_.earlier_lines = 0;
    for (;;) {
        line_slot& line = window_.slots[window_.current];
        if (!next_piece(line)) return false;
        // Stripping and the cut at a zero byte cannot touch the six prefix bytes, so the raw
        // piece is tested first and only lines that begin "Epoch " are looked at further.
        if (starts_with(line, EPOCH_PREFIX)) {
            const std::size_t length = line_text_length(line.data, line.length);
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
        name_row.data = name_row.own;
        name_row.length = 0;
    } else {
        point_at(name_row, *designation, line_text_length(designation->data, designation->length));
    }
    point_at(block.rows[1], window_.slots[window_.current], window_.slots[window_.current].length);

    capture_ = &block;
    for (std::size_t row = 2; row < BLOCK_ROWS; ++row) {
        if (!next_input_line(block.rows[row])) return false;
    }
    return true;
}

// The fast path: the whole piece is in the buffer and is handed out where it lies.
bool element_scanner::next_piece(line_slot& line) {
    if (next_ == end_ && !refill()) return false;
    const std::size_t available = static_cast<std::size_t>(end_ - next_);
    const std::size_t reach = available < LINE_PIECE_BYTES ? available : LINE_PIECE_BYTES;
    if (const void* newline = std::memchr(next_, '\n', reach)) {
        line.data = next_;
        next_ = static_cast<const char*>(newline) + 1;
        line.length = static_cast<std::size_t>(next_ - line.data);
        return true;
    }
    if (available >= LINE_PIECE_BYTES) {
        line.data = next_;
        line.length = LINE_PIECE_BYTES;
        next_ += LINE_PIECE_BYTES;
        return true;
    }
    return assemble_piece(line);
}

// The slow path: the piece runs past the end of the buffer, so it is gathered in the line's
// own storage across as many refills as it takes (many, with a tiny buffer).
bool element_scanner::assemble_piece(line_slot& line) {
    std::size_t have = static_cast<std::size_t>(end_ - next_);
    std::memcpy(line.own, next_, have);
    line.data = line.own;
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
