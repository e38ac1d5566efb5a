// The block of Eros as a circular prints it, and a way to point a block's rows at given lines.
// Shared by the conversion tests and the benchmarks.
#pragma once

#include "element_block.hpp"

#include <string_view>

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

// The rows point at the lines, which must outlive the block's use.
template <class Lines>
void point_rows_at(element_block& block, const Lines& lines) {
    for (std::size_t row = 0; row < BLOCK_ROWS; ++row) {
        block.rows[row].data = lines[row].data();
        block.rows[row].length = lines[row].size();
    }
}

}  // namespace orbitcsv
