#include "byte_io.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace orbitcsv {

std::ptrdiff_t fd_source::read_some(char* into, std::size_t capacity) {
    for (;;) {
        const ssize_t got = ::read(fd_, into, capacity);
        if (got >= 0 || errno != EINTR) return got;
    }
}

std::ptrdiff_t memory_source::read_some(char* into, std::size_t capacity) {
    const std::size_t count = std::min({capacity, chunk_, rest_.size()});
    if (count > 0) std::memcpy(into, rest_.data(), count);
    rest_.remove_prefix(count);
    return static_cast<std::ptrdiff_t>(count);
}

bool fd_sink::write_all(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t put = ::write(fd_, bytes.data(), bytes.size());
        if (put < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        // A write of a non-empty buffer that stores nothing would loop for ever.
        if (put == 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(put));
    }
    return true;
}

bool output_buffer::flush() {
    if (!failed_ && next_ != begin_ &&
        !sink_.write_all({begin_, static_cast<std::size_t>(next_ - begin_)})) {
        failed_ = true;
    }
    next_ = begin_;
    return !failed_;
}

}  // namespace orbitcsv
