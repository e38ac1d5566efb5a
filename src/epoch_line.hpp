// The line that starts an element block.
#pragma once

#include "byte_masks.hpp"
#include "line_pieces.hpp"

#include <cstddef>
#include <string_view>

namespace orbitcsv {

inline constexpr std::string_view EPOCH_PREFIX = "Epoch ";

// The epoch line's words: "Epoch " at the start, and "TT", "=" and "JDT" anywhere; case-sensitive.
bool is_epoch_line(std::string_view line);

// is_epoch_line for one line after another. The blocks of a list mostly share their epoch, so
// an epoch line mostly repeats the one before it as far as its Julian date: a line that repeats
// the latest epoch line's bytes as far as that line's words reach is one, told by a comparison.
class epoch_line_test {
public:
    bool operator()(std::string_view line) {
        // An equality test, not masks::starts_with: natively that is string_view's three-way
        // compare, which costs more for a prefix known only at run time.
        if (reach_ != 0 && line.size() >= reach_ && masks::same_bytes(line.data(), words_, reach_)) return true;
        return learn(line);
    }

private:
    // The full test; an epoch line's bytes as far as its words reach are remembered.
    bool learn(std::string_view line);

    char words_[LINE_CAPACITY]{};
    std::size_t reach_ = 0;  // 0 until an epoch line has been seen
};

}  // namespace orbitcsv
