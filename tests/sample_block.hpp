// The block of Eros as a circular prints it, and ways to give lines the slack that rows have.
// Shared by the conversion tests and the benchmarks.
#pragma once

#include "element_block.hpp"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace orbitcsv {

inline constexpr std::string_view EROS_BLOCK[BLOCK_ROWS] = {
    "(433) Eros",
    "Epoch 2026 Dec. 17.0 TT = JDT 2461026.5",
    "M 197.25843                    (2000.0)             P               Q",
    "n   0.55976121     Peri.  178.88312    +0.41273645     -0.90984721",
    "a   1.4579614      Node   304.28871    +0.85203301     +0.38772165",
    "e   0.2228350      Incl.  10.82780     +0.32197486     +0.14762093",
    "P   3.62           H   11.16       G   0.46      U     2",
};

// A line kept as the scanner keeps its rows, with LINE_SLACK readable bytes after it, for the
// functions that load whole vectors past a value's end, in storage of exactly that size, so that
// AddressSanitizer sees a read past them. Cut to a piece when longer.
class line_with_slack {
public:
    explicit line_with_slack(std::string_view text)
        : length_(std::min(text.size(), LINE_PIECE_BYTES)), storage_(new char[length_ + LINE_SLACK]()) {
        std::memcpy(storage_.get(), text.data(), length_);
    }
    padded_view text() const { return {{storage_.get(), length_ + LINE_SLACK}, length_}; }

private:
    std::size_t length_;
    std::unique_ptr<char[]> storage_;
};

// A block whose rows are the lines given, each kept as line_with_slack keeps it.
class block_with_slack {
public:
    template <class Lines>
    explicit block_with_slack(const Lines& lines) {
        lines_.reserve(BLOCK_ROWS);
        for (std::size_t row = 0; row < BLOCK_ROWS; ++row) block_.rows[row] = lines_.emplace_back(lines[row]).text();
    }
    const element_block& block() const { return block_; }

private:
    std::vector<line_with_slack> lines_;
    element_block block_;
};

}  // namespace orbitcsv
