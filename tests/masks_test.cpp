// The vector byte tests (SSE2, NEON or WebAssembly SIMD, whichever this build has) against the
// plain loops and C library calls that say what each one means, on bytes drawn from those the
// tests single out.
#include "byte_masks.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string_view>

namespace orbitcsv {
namespace {

class random_bytes {
public:
    explicit random_bytes(std::uint32_t seed) : state_(seed) {}
    // Mostly the bytes the tests look for, now and then any byte at all.
    void fill(char* bytes, std::size_t count) {
        constexpr std::string_view MARKED = std::string_view("\n\0 \t\v\f\r\x08\x0e,\"E(x9.\x7f\x80\xff" "0/:", 22);
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint32_t r = next();
            bytes[i] = r % 4 == 0 ? static_cast<char>(r >> 8) : MARKED[(r >> 8) % MARKED.size()];
        }
    }

private:
    std::uint32_t next() {
        state_ = state_ * 1103515245 + 12345;
        return state_ >> 8;
    }
    std::uint32_t state_;
};

TEST(ByteMasks, VectorTestsAgreeWithThePlainLoops) {
    random_bytes random(2026);
    alignas(64) char bytes[32 + 112 + LINE_SLACK];  // at every alignment, every length, and the room after
    for (int round = 0; round < 20000; ++round) {
        random.fill(bytes, sizeof bytes);
        const char* const p = bytes + round % 32;  // loads at every alignment
        ASSERT_EQ(masks::newline16(p), masks::plain::newline16(p));
        ASSERT_EQ(masks::whitespace16(p), masks::plain::whitespace16(p));
        ASSERT_EQ(masks::equal16(p, p[round % 16]), masks::plain::equal16(p, p[round % 16]));
        ASSERT_EQ(masks::digit16(p), masks::plain::digit16(p));

        masks::newline_finder finder;
        masks::plain::newline_finder plain_finder;
        ASSERT_EQ(finder.newlines64(p), plain_finder.newlines64(p));
        ASSERT_EQ(finder.newlines64(p + 64), plain_finder.newlines64(p + 64));
        ASSERT_EQ(finder.saw_zero(), plain_finder.saw_zero());

        // The vector count takes whole vectors, with nothing to count after `length`.
        const std::size_t length = static_cast<std::size_t>(round) % 112;
        char row[128 + 16] = {};
        std::memcpy(row, p, length);
        ASSERT_EQ(masks::count_csv_specials(row, length), masks::plain::count_csv_specials(row, length));

        const std::size_t found = masks::find_byte(padded_view({p, length + LINE_SLACK}, length), '(');
        const void* first = std::memchr(p, '(', length);
        ASSERT_EQ(found, first ? static_cast<std::size_t>(static_cast<const char*>(first) - p) : length);
        ASSERT_EQ(masks::find_first(p, length, p[round % 7]), std::memchr(p, p[round % 7], length));

        // The same bytes, then one of them changed: the first, the last, or any between.
        char copy[sizeof bytes];
        std::memcpy(copy, p, length);
        ASSERT_TRUE(masks::same_bytes(copy, p, length));
        if (length > 0) {
            const std::size_t changed = round % 3 == 0 ? 0 : round % 3 == 1 ? length - 1 : static_cast<std::size_t>(round) % length;
            copy[changed] = static_cast<char>(copy[changed] ^ (1 << (round % 8)));
            ASSERT_FALSE(masks::same_bytes(copy, p, length)) << "length " << length << ", byte " << changed;
        }
    }
}

}  // namespace
}  // namespace orbitcsv
