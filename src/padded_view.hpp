// Text that may be read past its end: the conversion loads whole vectors that run past a
// value's last byte. A function that reads past the end of what it is given takes a padded_view,
// which only storage with the room after it makes; text() gives the promise up, and nothing else
// turns one into plain text.
#pragma once

#include <algorithm>
#include <cstddef>
#include <span>
#include <string_view>

namespace orbitcsv {

// The bytes after the end of every padded text that may be read, though they are not its own.
inline constexpr std::size_t LINE_SLACK = 64;

class element_scanner;

class padded_view {
public:
    padded_view() = default;
    // The first `length` bytes of `storage`, cut to what leaves LINE_SLACK bytes after them.
    padded_view(std::span<const char> storage, std::size_t length)
        : data_(storage.data()), size_(std::min(length, storage.size() < LINE_SLACK ? 0 : storage.size() - LINE_SLACK)) {}

    std::string_view text() const { return {data_, size_}; }
    const char* data() const { return data_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    char operator[](std::size_t at) const { return data_[at]; }

    // Its bytes from `at`, which is at most its size, `count` of them at most: the room after the
    // whole comes after every part of it.
    padded_view substr(std::size_t at, std::size_t count = std::string_view::npos) const {
        return {data_ + at, std::min(count, size_ - at)};
    }
    void remove_prefix(std::size_t count) {
        data_ += count;
        size_ -= count;
    }

private:
    // The scanner's lines, in a read buffer that keeps the room after its input.
    friend class element_scanner;
    padded_view(const char* data, std::size_t size) : data_(data), size_(size) {}

    static constexpr char NOTHING[LINE_SLACK + 1]{};
    const char* data_ = NOTHING;
    std::size_t size_ = 0;
};

}  // namespace orbitcsv
