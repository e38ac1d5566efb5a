#include "byte_io.hpp"

#include <algorithm>
#include <cstring>

namespace orbitcsv {

std::ptrdiff_t memory_source::read_some(char* into, std::size_t capacity) {
    // Every other read waits, the first included, so that the scanner stops before each chunk.
    if (pausing_ && !rest_.empty()) {
        paused_ = !paused_;
        if (paused_) return READ_LATER;
    }
    const std::size_t count = std::min({capacity, chunk_, rest_.size()});
    if (count > 0) std::memcpy(into, rest_.data(), count);
    rest_.remove_prefix(count);
    return static_cast<std::ptrdiff_t>(count);
}

bool line_end_sink::write_all(std::string_view bytes) {
    if (line_end_ == "\n") return next_.write_all(bytes);
    std::size_t used = 0;
    while (!bytes.empty()) {
        // Room for a whole line end after the bytes copied, whatever they are.
        if (staging_.size() - used < line_end_.size() + 1) {
            if (!next_.write_all({staging_.data(), used})) return false;
            used = 0;
        }
        const std::size_t room = staging_.size() - used - line_end_.size();
        const std::size_t newline = bytes.substr(0, room).find('\n');
        const std::size_t take = newline == std::string_view::npos ? std::min(room, bytes.size()) : newline;
        std::memcpy(staging_.data() + used, bytes.data(), take);
        used += take;
        bytes.remove_prefix(take);
        if (newline != std::string_view::npos) {
            std::memcpy(staging_.data() + used, line_end_.data(), line_end_.size());
            used += line_end_.size();
            bytes.remove_prefix(1);
        }
    }
    return next_.write_all({staging_.data(), used});
}

bool output_buffer::flush() {
    handed_over_ += static_cast<std::uint64_t>(next_ - begin_);
    if (!failed_ && next_ != begin_ &&
        !sink_.write_all({begin_, static_cast<std::size_t>(next_ - begin_)})) {
        failed_ = true;
    }
    next_ = begin_;
    return !failed_;
}

}  // namespace orbitcsv
