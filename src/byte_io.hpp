// Byte sources and sinks: the scanner reads from a byte_source, the CSV writer gathers its
// output in an output_buffer that drains into a byte_sink. The program plugs in files;
// tests, benchmarks and fuzz targets plug in memory.
#pragma once

#include "platform.hpp"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace orbitcsv {

// What read_some returns when it stores no bytes.
inline constexpr std::ptrdiff_t READ_END = 0;
inline constexpr std::ptrdiff_t READ_FAILED = -1;
// No bytes yet, but more to come: a source that is handed its input chunk by chunk (the page's)
// has given out the latest. The scanner stops where it stands and goes on when called again.
inline constexpr std::ptrdiff_t READ_LATER = -2;

class byte_source {
public:
    // Stores up to `capacity` bytes at `into`, as read(2) does: returns the count stored, or
    // READ_END, READ_FAILED or READ_LATER.
    virtual std::ptrdiff_t read_some(char* into, std::size_t capacity) = 0;

protected:
    ~byte_source() = default;
};

class file_source final : public byte_source {
public:
    explicit file_source(platform::file from) : from_(from) {}
    std::ptrdiff_t read_some(char* into, std::size_t capacity) override {
        return platform::read_some(from_, into, capacity);
    }

private:
    platform::file from_;
};

// Serves a block of memory at most `chunk` bytes per call, so that a test can make every
// read end at an awkward place. With `pausing`, each read that serves bytes is followed by one
// that answers READ_LATER, as a source fed chunk by chunk does.
class memory_source final : public byte_source {
public:
    explicit memory_source(std::string_view bytes, std::size_t chunk = SIZE_MAX, bool pausing = false)
        : rest_(bytes), chunk_(chunk == 0 ? 1 : chunk), pausing_(pausing) {}
    std::ptrdiff_t read_some(char* into, std::size_t capacity) override;

private:
    std::string_view rest_;
    std::size_t chunk_;
    bool pausing_;
    bool paused_ = false;
};

class byte_sink {
public:
    // Writes all of `bytes`; false when that failed.
    virtual bool write_all(std::string_view bytes) = 0;

protected:
    ~byte_sink() = default;
};

class file_sink final : public byte_sink {
public:
    explicit file_sink(platform::file to) : to_(to) {}
    bool write_all(std::string_view bytes) override { return platform::write_all(to_, bytes); }

private:
    platform::file to_;
};

// Text mode: every LF written becomes `line_end` (CR LF on Windows) on its way to `next`,
// through caller-owned staging storage. With an LF line end the bytes pass straight through.
class line_end_sink final : public byte_sink {
public:
    line_end_sink(byte_sink& next, std::string_view line_end, std::span<char> staging)
        : next_(next), line_end_(line_end), staging_(staging) {}
    bool write_all(std::string_view bytes) override;

private:
    byte_sink& next_;
    std::string_view line_end_;
    std::span<char> staging_;
};

// Gathers output in caller-owned storage and hands it to the sink in large writes. After the
// first failed write it drops everything and reports failure from then on.
class output_buffer {
public:
    output_buffer(byte_sink& sink, std::span<char> storage)
        : sink_(sink), begin_(storage.data()), next_(begin_), end_(begin_ + storage.size()) {}
    output_buffer(const output_buffer&) = delete;
    output_buffer& operator=(const output_buffer&) = delete;

    // Room for `bytes` more bytes, draining the buffer first when they would not fit.
    // `bytes` must not exceed the capacity. Fill the room, then commit() its new end.
    char* reserve(std::size_t bytes) {
        if (static_cast<std::size_t>(end_ - next_) < bytes) flush();
        return next_;
    }
    void commit(char* new_end) { next_ = new_end; }

    // Hands over everything gathered; false if this or any earlier write failed.
    bool flush();
    bool failed() const { return failed_; }
    // Every byte committed so far, handed over or not.
    std::uint64_t taken() const { return handed_over_ + static_cast<std::uint64_t>(next_ - begin_); }

private:
    byte_sink& sink_;
    char* begin_;
    char* next_;
    char* end_;
    std::uint64_t handed_over_ = 0;
    bool failed_ = false;
};

}  // namespace orbitcsv
