// Any bytes after "JDT": the epoch text must be what the slow reference makes of the same line.
#include "epoch_reference.hpp"
#include "orbit_record.hpp"
#include "sample_block.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace orbitcsv;
    std::string line = "Epoch 2000 Jan. 3.0 TT = JDT";
    line.append(reinterpret_cast<const char*>(data), std::min(size, LINE_PIECE_BYTES - line.size()));
    char out[EPOCH_TEXT_CAPACITY];
    const std::string_view text(out, epoch_mjd_text(line_with_slack(line).text(), out));
    const std::string expected = reference::epoch_mjd_text(line);
    if (text != expected) {
        std::fprintf(stderr, "epoch fuzz: \"%s\" gives %.*s, the reference %s\n", line.c_str(),
                     static_cast<int>(text.size()), text.data(), expected.c_str());
        std::abort();
    }
    return 0;
}
