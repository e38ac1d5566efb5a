// Byte tests over 16 or 64 bytes at a time, mostly as masks: bit i is set when byte i has the
// property asked about. The scanner finds line ends and the conversion its fields through them,
// so the per-byte work of the hot path runs in vector registers: SSE2 on x86-64, NEON on arm64,
// 128-bit SIMD in WebAssembly.
// What each function reads is said with it: the 16-byte tests read their 16 bytes and nothing
// past them, count_csv_specials and find_byte whole vectors up to 15 bytes past the end of what
// they are given, find_first, same_bytes and starts_with nothing past it. The plain versions say
// what each test means; they serve where no vector unit is known, and the tests hold the vector
// versions to them.
#pragma once

#include "padded_view.hpp"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#elif defined(__ARM_NEON)
#include <arm_neon.h>
#elif defined(__wasm_simd128__)
#include <wasm_simd128.h>
#endif

namespace orbitcsv::masks {

namespace plain {

inline std::uint32_t equal16(const char* p, char c) {
    std::uint32_t mask = 0;
    for (int i = 0; i < 16; ++i) mask |= static_cast<std::uint32_t>(p[i] == c) << i;
    return mask;
}
inline std::uint32_t newline16(const char* p) { return equal16(p, '\n'); }
inline std::uint32_t digit16(const char* p) {
    std::uint32_t mask = 0;
    for (int i = 0; i < 16; ++i) mask |= static_cast<std::uint32_t>(p[i] >= '0' && p[i] <= '9') << i;
    return mask;
}
// Space, or tab to carriage return (0x09 to 0x0D).
inline std::uint32_t whitespace16(const char* p) {
    std::uint32_t mask = 0;
    for (int i = 0; i < 16; ++i) mask |= static_cast<std::uint32_t>(p[i] == ' ' || (p[i] >= '\t' && p[i] <= '\r')) << i;
    return mask;
}
// How many of the first `length` bytes at p may call for CSV quotes: comma, double quote, and
// the control bytes 0x08 to 0x0F, among them CR and LF. Counting the other six with them
// costs nothing that a caller who only wants to know whether there are more than the row's
// separators would mind (they are all but unknown in a table), and saves the vector versions
// a comparison: the eight bytes differ from 0x08 only in their lowest three bits.
// The vector versions count whole 16-byte vectors, so the bytes after `length` up to the next
// multiple of 16 must hold none; they count per byte lane and sum once at the end, so
// `length` stays below 255 vectors.
inline std::size_t count_csv_specials(const char* p, std::size_t length) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < length; ++i) count += p[i] == ',' || p[i] == '"' || (p[i] >= 0x08 && p[i] <= 0x0F);
    return count;
}
// Finds the newlines of 64 bytes at a time, and notes whether any byte it looked at was zero.
// Zero bytes are rare, so the vector versions keep a running minimum of the bytes and test it
// once at the end: one instruction a vector, where a second comparison and its merge into the
// mask would take two.
class newline_finder {
public:
    std::uint64_t newlines64(const char* p) {
        std::uint64_t newlines = 0;
        for (int i = 0; i < 64; ++i) {
            newlines |= std::uint64_t{p[i] == '\n'} << i;
            zero_ = zero_ || p[i] == '\0';
        }
        return newlines;
    }
    bool saw_zero() const { return zero_; }

private:
    bool zero_ = false;
};

}  // namespace plain

// One vector of 16 bytes per instruction set, with the few operations the tests above need:
// each test is then written once, below, for all three. Comparisons give lanes of all ones or
// all zeros; bitmask() gathers one bit a lane.
#if defined(__SSE2__)

struct simd8 {
    __m128i v;
    static simd8 load(const char* p) { return {_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))}; }
    static simd8 splat(char c) { return {_mm_set1_epi8(c)}; }
    friend simd8 operator==(simd8 a, simd8 b) { return {_mm_cmpeq_epi8(a.v, b.v)}; }
    friend simd8 operator-(simd8 a, simd8 b) { return {_mm_sub_epi8(a.v, b.v)}; }
    friend simd8 operator&(simd8 a, simd8 b) { return {_mm_and_si128(a.v, b.v)}; }
    friend simd8 operator|(simd8 a, simd8 b) { return {_mm_or_si128(a.v, b.v)}; }
    friend simd8 min(simd8 a, simd8 b) { return {_mm_min_epu8(a.v, b.v)}; }
    // Unsigned a <= b is min(a, b) == a.
    friend simd8 less_equal(simd8 a, simd8 b) { return min(a, b) == a; }
    std::uint32_t bitmask() const { return static_cast<std::uint32_t>(_mm_movemask_epi8(v)); }
    bool any() const { return bitmask() != 0; }
    bool all() const { return bitmask() == 0xFFFF; }
    // The sum of the bytes, as unsigned numbers.
    std::size_t sum() const {
        const __m128i sums = _mm_sad_epu8(v, _mm_setzero_si128());
        return static_cast<std::size_t>(_mm_cvtsi128_si32(sums) + _mm_extract_epi16(sums, 4));
    }
};

#elif defined(__ARM_NEON)

struct simd8 {
    uint8x16_t v;
    static simd8 load(const char* p) { return {vld1q_u8(reinterpret_cast<const std::uint8_t*>(p))}; }
    static simd8 splat(char c) { return {vdupq_n_u8(static_cast<std::uint8_t>(c))}; }
    friend simd8 operator==(simd8 a, simd8 b) { return {vceqq_u8(a.v, b.v)}; }
    friend simd8 operator-(simd8 a, simd8 b) { return {vsubq_u8(a.v, b.v)}; }
    friend simd8 operator&(simd8 a, simd8 b) { return {vandq_u8(a.v, b.v)}; }
    friend simd8 operator|(simd8 a, simd8 b) { return {vorrq_u8(a.v, b.v)}; }
    friend simd8 min(simd8 a, simd8 b) { return {vminq_u8(a.v, b.v)}; }
    friend simd8 less_equal(simd8 a, simd8 b) { return {vcleq_u8(a.v, b.v)}; }
    // NEON has no instruction that gathers one bit a byte: each matching lane keeps the bit of
    // its place among eight, and lanes are added up eight at a time into the bytes of the mask.
    uint8x16_t placed() const {
        static constexpr std::uint8_t PLACES[16] = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
        return vandq_u8(v, vld1q_u8(PLACES));
    }
    std::uint32_t bitmask() const {
        const uint8x16_t bytes = placed();
        return std::uint32_t{vaddv_u8(vget_low_u8(bytes))} | std::uint32_t{vaddv_u8(vget_high_u8(bytes))} << 8;
    }
    bool any() const { return vmaxvq_u8(v) != 0; }
    bool all() const { return vminvq_u8(v) == 0xFF; }
    std::size_t sum() const { return vaddlvq_u8(v); }
};

// The masks of four vectors as one of 64 bits: three rounds of pairwise adds leave its eight
// bytes in order.
inline std::uint64_t bitmask64(simd8 a, simd8 b, simd8 c, simd8 d) {
    const uint8x16_t ab = vpaddq_u8(a.placed(), b.placed());
    const uint8x16_t cd = vpaddq_u8(c.placed(), d.placed());
    const uint8x16_t abcd = vpaddq_u8(ab, cd);
    return vgetq_lane_u64(vreinterpretq_u64_u8(vpaddq_u8(abcd, abcd)), 0);
}

#elif defined(__wasm_simd128__)

struct simd8 {
    v128_t v;
    static simd8 load(const char* p) { return {wasm_v128_load(p)}; }
    static simd8 splat(char c) { return {wasm_i8x16_splat(c)}; }
    friend simd8 operator==(simd8 a, simd8 b) { return {wasm_i8x16_eq(a.v, b.v)}; }
    friend simd8 operator-(simd8 a, simd8 b) { return {wasm_i8x16_sub(a.v, b.v)}; }
    friend simd8 operator&(simd8 a, simd8 b) { return {wasm_v128_and(a.v, b.v)}; }
    friend simd8 operator|(simd8 a, simd8 b) { return {wasm_v128_or(a.v, b.v)}; }
    friend simd8 min(simd8 a, simd8 b) { return {wasm_u8x16_min(a.v, b.v)}; }
    friend simd8 less_equal(simd8 a, simd8 b) { return {wasm_u8x16_le(a.v, b.v)}; }
    std::uint32_t bitmask() const { return wasm_i8x16_bitmask(v); }
    bool any() const { return wasm_v128_any_true(v); }
    bool all() const { return wasm_i8x16_all_true(v); }
    std::size_t sum() const {
        const v128_t sums = wasm_u32x4_extadd_pairwise_u16x8(wasm_u16x8_extadd_pairwise_u8x16(v));
        return static_cast<std::size_t>(wasm_i32x4_extract_lane(sums, 0)) + static_cast<std::size_t>(wasm_i32x4_extract_lane(sums, 1)) +
               static_cast<std::size_t>(wasm_i32x4_extract_lane(sums, 2)) + static_cast<std::size_t>(wasm_i32x4_extract_lane(sums, 3));
    }
};

#endif

#if defined(__SSE2__) || defined(__wasm_simd128__)
inline std::uint64_t bitmask64(simd8 a, simd8 b, simd8 c, simd8 d) {
    return std::uint64_t{a.bitmask()} | std::uint64_t{b.bitmask()} << 16 | std::uint64_t{c.bitmask()} << 32 |
           std::uint64_t{d.bitmask()} << 48;
}
#endif

#if defined(__SSE2__) || defined(__ARM_NEON) || defined(__wasm_simd128__)
#define ORBITCSV_SIMD8 1

// The tests, each read as its plain version says, over the vector above. Each reads the 16
// bytes at p (newlines64 the 64) and nothing past them.
inline std::uint32_t equal16(const char* p, char c) { return (simd8::load(p) == simd8::splat(c)).bitmask(); }
inline std::uint32_t newline16(const char* p) { return equal16(p, '\n'); }
inline std::uint32_t digit16(const char* p) {
    return less_equal(simd8::load(p) - simd8::splat('0'), simd8::splat(9)).bitmask();
}
inline std::uint32_t whitespace16(const char* p) {
    const simd8 bytes = simd8::load(p);
    return (less_equal(bytes - simd8::splat('\t'), simd8::splat(4)) | (bytes == simd8::splat(' '))).bitmask();
}
// Reads whole vectors, up to 15 bytes past `length`.
inline std::size_t count_csv_specials(const char* p, std::size_t length) {
    simd8 counts = simd8::splat(0);
    for (std::size_t at = 0; at < length; at += 16) {
        const simd8 bytes = simd8::load(p + at);
        const simd8 controls = (bytes & simd8::splat(~0x07)) == simd8::splat(0x08);
        counts = counts - ((bytes == simd8::splat(',')) | (bytes == simd8::splat('"')) | controls);  // a match is -1
    }
    return counts.sum();
}
class newline_finder {
public:
    std::uint64_t newlines64(const char* p) {
        const simd8 a = simd8::load(p), b = simd8::load(p + 16), c = simd8::load(p + 32), d = simd8::load(p + 48);
        lowest_ = min(lowest_, min(min(a, b), min(c, d)));
        const simd8 newline = simd8::splat('\n');
        return bitmask64(a == newline, b == newline, c == newline, d == newline);
    }
    bool saw_zero() const { return (lowest_ == simd8::splat(0)).any(); }

private:
    simd8 lowest_ = simd8::splat(-1);
};

#else

using plain::count_csv_specials;
using plain::digit16;
using plain::equal16;
using plain::newline16;
using plain::newline_finder;
using plain::whitespace16;

#endif

// The lowest `count` bits (count <= 32).
constexpr std::uint32_t low_bits(std::size_t count) {
    return count >= 32 ? ~std::uint32_t{0} : (std::uint32_t{1} << count) - 1;
}

// memchr: the first `c` among the `length` bytes at p, or null; reads none past them. The C
// libraries of x86-64 and arm64 have a vectorised memchr; WebAssembly's looks at a word at a
// time, which made the search of prose for "Epoch " a large part of the page's conversion.
inline const char* find_first(const char* p, std::size_t length, char c) {
#if defined(__wasm_simd128__)
    const char* const end = p + length;
    // 64 bytes a step while the byte is not among them, which is nearly always.
    const simd8 wanted = simd8::splat(c);
    for (; end - p >= 64; p += 64) {
        const simd8 hit = (simd8::load(p) == wanted) | (simd8::load(p + 16) == wanted) | (simd8::load(p + 32) == wanted) |
                          (simd8::load(p + 48) == wanted);
        if (hit.any()) break;
    }
    for (; end - p >= 16; p += 16) {
        if (const std::uint32_t hits = equal16(p, c)) return p + std::countr_zero(hits);
    }
    for (; p != end; ++p) {
        if (*p == c) return p;
    }
    return nullptr;
#else
    return static_cast<const char*>(std::memchr(p, c, length));
#endif
}

// Whether the 16 bytes at a and at b are the same.
inline bool same16(const char* a, const char* b) {
#if defined(ORBITCSV_SIMD8)
    return (simd8::load(a) == simd8::load(b)).all();
#else
    return std::memcmp(a, b, 16) == 0;
#endif
}

// memcmp(a, b, length) == 0, reading none past the `length` bytes of either: in whole vectors
// from 16 bytes on, without the call (and WebAssembly's memcmp compares a byte at a time).
// Comparing each epoch line with the one before it is the one use long enough to gain.
inline bool same_bytes(const char* a, const char* b, std::size_t length) {
    if (length < 16) {
        for (std::size_t i = 0; i < length; ++i) {
            if (a[i] != b[i]) return false;
        }
        return true;
    }
    // Whole vectors, the last one ending at `length` and overlapping the one before it.
    for (std::size_t at = 0; at + 16 < length; at += 16) {
        if (!same16(a + at, b + at)) return false;
    }
    return same16(a + length - 16, b + length - 16);
}

// std::string_view::starts_with, by way of same_bytes in WebAssembly, where memcmp is a call even
// for a constant prefix; elsewhere compilers expand string_view's own in place.
inline bool starts_with(std::string_view text, std::string_view prefix) {
#if defined(__wasm_simd128__)
    return text.size() >= prefix.size() && same_bytes(text.data(), prefix.data(), prefix.size());
#else
    return text.starts_with(prefix);
#endif
}

// Where the first `c` stands in `text`, or its size. Reads whole vectors, up to 15 bytes past
// its end.
inline std::size_t find_byte(padded_view text, char c) {
    for (std::size_t at = 0; at < text.size(); at += 16) {
        if (const std::uint32_t hits = equal16(text.data() + at, c)) {
            const std::size_t found = at + static_cast<std::size_t>(std::countr_zero(hits));
            return found < text.size() ? found : text.size();
        }
    }
    return text.size();
}

}  // namespace orbitcsv::masks
