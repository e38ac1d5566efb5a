// Byte tests over 16 or 64 bytes at a time, mostly as masks: bit i is set when byte i has the
// property asked about. The scanner finds line ends and the conversion its fields through them,
// so the per-byte work of the hot path runs in vector registers: SSE2 on x86-64, NEON on arm64,
// 128-bit SIMD in WebAssembly.
// Every function reads whole vectors of 16 bytes: callers make sure those bytes are theirs to
// read. The plain versions say what each test means; they serve where no vector unit is known,
// and the tests hold the vector versions to them.
#pragma once

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

#if defined(__SSE2__)

inline __m128i load16(const char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline std::uint32_t bits(__m128i matches) {
    return static_cast<std::uint32_t>(_mm_movemask_epi8(matches));
}
inline std::uint32_t equal16(const char* p, char c) { return bits(_mm_cmpeq_epi8(load16(p), _mm_set1_epi8(c))); }
inline std::uint32_t newline16(const char* p) { return equal16(p, '\n'); }
inline std::uint32_t digit16(const char* p) {
    const __m128i from_zero = _mm_sub_epi8(load16(p), _mm_set1_epi8('0'));
    // Unsigned byte <= 9 is min(x, 9) == x.
    return bits(_mm_cmpeq_epi8(_mm_min_epu8(from_zero, _mm_set1_epi8(9)), from_zero));
}
inline std::uint32_t whitespace16(const char* p) {
    const __m128i bytes = load16(p);
    const __m128i from_tab = _mm_sub_epi8(bytes, _mm_set1_epi8('\t'));
    // Unsigned byte <= 4 is min(x, 4) == x.
    const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(from_tab, _mm_set1_epi8(4)), from_tab);
    return bits(_mm_or_si128(control, _mm_cmpeq_epi8(bytes, _mm_set1_epi8(' '))));
}
inline std::size_t count_csv_specials(const char* p, std::size_t length) {
    __m128i counts = _mm_setzero_si128();
    for (std::size_t at = 0; at < length; at += 16) {
        const __m128i bytes = load16(p + at);
        const __m128i controls = _mm_cmpeq_epi8(_mm_and_si128(bytes, _mm_set1_epi8(~0x07)), _mm_set1_epi8(0x08));
        const __m128i special = _mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(',')), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('"'))), controls);
        counts = _mm_sub_epi8(counts, special);  // a match is -1
    }
    const __m128i sums = _mm_sad_epu8(counts, _mm_setzero_si128());
    return static_cast<std::size_t>(_mm_cvtsi128_si32(sums) + _mm_extract_epi16(sums, 4));
}
class newline_finder {
public:
    std::uint64_t newlines64(const char* p) {
        const __m128i a = load16(p), b = load16(p + 16), c = load16(p + 32), d = load16(p + 48);
        lowest_ = _mm_min_epu8(lowest_, _mm_min_epu8(_mm_min_epu8(a, b), _mm_min_epu8(c, d)));
        const __m128i newline = _mm_set1_epi8('\n');
        return std::uint64_t{bits(_mm_cmpeq_epi8(a, newline))} | std::uint64_t{bits(_mm_cmpeq_epi8(b, newline))} << 16 |
               std::uint64_t{bits(_mm_cmpeq_epi8(c, newline))} << 32 | std::uint64_t{bits(_mm_cmpeq_epi8(d, newline))} << 48;
    }
    bool saw_zero() const { return bits(_mm_cmpeq_epi8(lowest_, _mm_setzero_si128())) != 0; }

private:
    __m128i lowest_ = _mm_set1_epi8(-1);
};

#elif defined(__ARM_NEON)

inline uint8x16_t load16(const char* p) { return vld1q_u8(reinterpret_cast<const std::uint8_t*>(p)); }
// NEON has no instruction that gathers one bit a byte: each matching lane keeps the bit of its
// place among eight, and lanes are added up eight at a time into the bytes of the mask.
inline uint8x16_t placed(uint8x16_t matches) {
    static constexpr std::uint8_t PLACES[16] = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
    return vandq_u8(matches, vld1q_u8(PLACES));
}
inline std::uint32_t bits(uint8x16_t matches) {
    const uint8x16_t bytes = placed(matches);
    return std::uint32_t{vaddv_u8(vget_low_u8(bytes))} | std::uint32_t{vaddv_u8(vget_high_u8(bytes))} << 8;
}
// The same for 64 bytes, as four vectors: three rounds of pairwise adds leave the eight bytes
// of the mask in order.
inline std::uint64_t bits64(uint8x16_t a, uint8x16_t b, uint8x16_t c, uint8x16_t d) {
    const uint8x16_t ab = vpaddq_u8(placed(a), placed(b));
    const uint8x16_t cd = vpaddq_u8(placed(c), placed(d));
    const uint8x16_t abcd = vpaddq_u8(ab, cd);
    return vgetq_lane_u64(vreinterpretq_u64_u8(vpaddq_u8(abcd, abcd)), 0);
}
inline std::uint32_t equal16(const char* p, char c) {
    return bits(vceqq_u8(load16(p), vdupq_n_u8(static_cast<std::uint8_t>(c))));
}
inline std::uint32_t newline16(const char* p) { return equal16(p, '\n'); }
inline std::uint32_t digit16(const char* p) { return bits(vcleq_u8(vsubq_u8(load16(p), vdupq_n_u8('0')), vdupq_n_u8(9))); }
inline std::uint32_t whitespace16(const char* p) {
    const uint8x16_t bytes = load16(p);
    const uint8x16_t control = vcleq_u8(vsubq_u8(bytes, vdupq_n_u8('\t')), vdupq_n_u8(4));
    return bits(vorrq_u8(control, vceqq_u8(bytes, vdupq_n_u8(' '))));
}
inline std::size_t count_csv_specials(const char* p, std::size_t length) {
    uint8x16_t counts = vdupq_n_u8(0);
    for (std::size_t at = 0; at < length; at += 16) {
        const uint8x16_t bytes = load16(p + at);
        const uint8x16_t controls = vceqq_u8(vandq_u8(bytes, vdupq_n_u8(0xF8)), vdupq_n_u8(0x08));
        const uint8x16_t special =
            vorrq_u8(vorrq_u8(vceqq_u8(bytes, vdupq_n_u8(',')), vceqq_u8(bytes, vdupq_n_u8('"'))), controls);
        counts = vsubq_u8(counts, special);  // a match is -1
    }
    return vaddlvq_u8(counts);
}
class newline_finder {
public:
    std::uint64_t newlines64(const char* p) {
        const uint8x16_t a = load16(p), b = load16(p + 16), c = load16(p + 32), d = load16(p + 48);
        lowest_ = vminq_u8(lowest_, vminq_u8(vminq_u8(a, b), vminq_u8(c, d)));
        const uint8x16_t newline = vdupq_n_u8('\n');
        return bits64(vceqq_u8(a, newline), vceqq_u8(b, newline), vceqq_u8(c, newline), vceqq_u8(d, newline));
    }
    bool saw_zero() const { return vminvq_u8(lowest_) == 0; }

private:
    uint8x16_t lowest_ = vdupq_n_u8(0xFF);
};

#elif defined(__wasm_simd128__)

inline v128_t load16(const char* p) { return wasm_v128_load(p); }
inline std::uint32_t bits(v128_t matches) { return wasm_i8x16_bitmask(matches); }
inline std::uint32_t equal16(const char* p, char c) { return bits(wasm_i8x16_eq(load16(p), wasm_i8x16_splat(c))); }
inline std::uint32_t newline16(const char* p) { return equal16(p, '\n'); }
inline std::uint32_t digit16(const char* p) {
    return bits(wasm_u8x16_le(wasm_i8x16_sub(load16(p), wasm_i8x16_splat('0')), wasm_i8x16_splat(9)));
}
inline std::uint32_t whitespace16(const char* p) {
    const v128_t bytes = load16(p);
    const v128_t control = wasm_u8x16_le(wasm_i8x16_sub(bytes, wasm_i8x16_splat('\t')), wasm_i8x16_splat(4));
    return bits(wasm_v128_or(control, wasm_i8x16_eq(bytes, wasm_i8x16_splat(' '))));
}
inline std::size_t count_csv_specials(const char* p, std::size_t length) {
    v128_t counts = wasm_i8x16_splat(0);
    for (std::size_t at = 0; at < length; at += 16) {
        const v128_t bytes = load16(p + at);
        const v128_t controls = wasm_i8x16_eq(wasm_v128_and(bytes, wasm_i8x16_splat(~0x07)), wasm_i8x16_splat(0x08));
        const v128_t special = wasm_v128_or(
            wasm_v128_or(wasm_i8x16_eq(bytes, wasm_i8x16_splat(',')), wasm_i8x16_eq(bytes, wasm_i8x16_splat('"'))), controls);
        counts = wasm_i8x16_sub(counts, special);  // a match is -1
    }
    const v128_t sums = wasm_u32x4_extadd_pairwise_u16x8(wasm_u16x8_extadd_pairwise_u8x16(counts));
    return static_cast<std::size_t>(wasm_i32x4_extract_lane(sums, 0)) + static_cast<std::size_t>(wasm_i32x4_extract_lane(sums, 1)) +
           static_cast<std::size_t>(wasm_i32x4_extract_lane(sums, 2)) + static_cast<std::size_t>(wasm_i32x4_extract_lane(sums, 3));
}
class newline_finder {
public:
    std::uint64_t newlines64(const char* p) {
        const v128_t a = load16(p), b = load16(p + 16), c = load16(p + 32), d = load16(p + 48);
        lowest_ = wasm_u8x16_min(lowest_, wasm_u8x16_min(wasm_u8x16_min(a, b), wasm_u8x16_min(c, d)));
        const v128_t newline = wasm_i8x16_splat('\n');
        return std::uint64_t{bits(wasm_i8x16_eq(a, newline))} | std::uint64_t{bits(wasm_i8x16_eq(b, newline))} << 16 |
               std::uint64_t{bits(wasm_i8x16_eq(c, newline))} << 32 | std::uint64_t{bits(wasm_i8x16_eq(d, newline))} << 48;
    }
    bool saw_zero() const { return bits(wasm_i8x16_eq(lowest_, wasm_i8x16_splat(0))) != 0; }

private:
    v128_t lowest_ = wasm_i8x16_splat(-1);
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
    const v128_t wanted = wasm_i8x16_splat(c);
    for (; end - p >= 64; p += 64) {
        const v128_t any = wasm_v128_or(
            wasm_v128_or(wasm_i8x16_eq(load16(p), wanted), wasm_i8x16_eq(load16(p + 16), wanted)),
            wasm_v128_or(wasm_i8x16_eq(load16(p + 32), wanted), wasm_i8x16_eq(load16(p + 48), wanted)));
        if (wasm_v128_any_true(any)) break;
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
#if defined(__SSE2__)
    return bits(_mm_cmpeq_epi8(load16(a), load16(b))) == 0xFFFF;
#elif defined(__ARM_NEON)
    return vminvq_u8(vceqq_u8(load16(a), load16(b))) == 0xFF;
#elif defined(__wasm_simd128__)
    return wasm_i8x16_all_true(wasm_i8x16_eq(load16(a), load16(b)));
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

// Where the first `c` stands among the `length` bytes at p, or `length`. Reads whole vectors,
// up to 15 bytes past the end.
inline std::size_t find_byte(const char* p, std::size_t length, char c) {
    for (std::size_t at = 0; at < length; at += 16) {
        if (const std::uint32_t hits = equal16(p + at, c)) {
            const std::size_t found = at + static_cast<std::size_t>(std::countr_zero(hits));
            return found < length ? found : length;
        }
    }
    return length;
}

}  // namespace orbitcsv::masks
