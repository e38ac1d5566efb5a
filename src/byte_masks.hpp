// Byte tests over 16 or 64 bytes at a time, mostly as masks: bit i is set when byte i has the
// property asked about. The scanner finds line ends and the conversion its fields through them,
// so the per-byte work of the hot path runs in vector registers. Every function reads whole
// vectors of 16 bytes: callers make sure those bytes are theirs to read.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace orbitcsv::masks {

#if defined(__SSE2__)

inline __m128i load16(const char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline std::uint32_t bits(__m128i matches) {
    return static_cast<std::uint32_t>(_mm_movemask_epi8(matches));
}
inline std::uint32_t newline16(const char* p) {
    return bits(_mm_cmpeq_epi8(load16(p), _mm_set1_epi8('\n')));
}
inline std::uint32_t newline_or_zero16(const char* p) {
    const __m128i bytes = load16(p);
    return bits(_mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n')), _mm_cmpeq_epi8(bytes, _mm_setzero_si128())));
}
// Space, or tab to carriage return (0x09 to 0x0D).
inline std::uint32_t whitespace16(const char* p) {
    const __m128i bytes = load16(p);
    const __m128i from_tab = _mm_sub_epi8(bytes, _mm_set1_epi8('\t'));
    // Unsigned byte <= 4 is min(x, 4) == x.
    const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(from_tab, _mm_set1_epi8(4)), from_tab);
    return bits(_mm_or_si128(control, _mm_cmpeq_epi8(bytes, _mm_set1_epi8(' '))));
}
// How many of the first `length` bytes at p call for CSV quotes. The count is kept per byte lane
// (a match subtracts one) and summed once at the end, so `length` stays below 255 vectors.
// Reads whole 16-byte vectors.
inline std::size_t count_csv_specials(const char* p, std::size_t length) {
    alignas(16) static constexpr char lanes[32] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
    __m128i counts = _mm_setzero_si128();
    for (std::size_t at = 0; at < length; at += 16) {
        const __m128i bytes = load16(p + at);
        __m128i special = _mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(',')), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('"'))),
            _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\r')), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n'))));
        if (length - at < 16) special = _mm_and_si128(special, load16(lanes + 16 - (length - at)));
        counts = _mm_sub_epi8(counts, special);
    }
    const __m128i sums = _mm_sad_epu8(counts, _mm_setzero_si128());
    return static_cast<std::size_t>(_mm_cvtsi128_si32(sums) + _mm_extract_epi16(sums, 4));
}

#else

inline std::uint32_t equal16(const char* p, char c) {
    std::uint32_t mask = 0;
    for (int i = 0; i < 16; ++i) mask |= static_cast<std::uint32_t>(p[i] == c) << i;
    return mask;
}
inline std::uint32_t newline16(const char* p) { return equal16(p, '\n'); }
inline std::uint32_t newline_or_zero16(const char* p) {
    return equal16(p, '\n') | equal16(p, '\0');
}
inline std::uint32_t whitespace16(const char* p) {
    std::uint32_t mask = 0;
    for (int i = 0; i < 16; ++i) mask |= static_cast<std::uint32_t>(p[i] == ' ' || (p[i] >= '\t' && p[i] <= '\r')) << i;
    return mask;
}
inline std::size_t count_csv_specials(const char* p, std::size_t length) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < length; ++i) count += p[i] == ',' || p[i] == '"' || p[i] == '\r' || p[i] == '\n';
    return count;
}

#endif

inline std::uint64_t newline_or_zero64(const char* p) {
    return std::uint64_t{newline_or_zero16(p)} | std::uint64_t{newline_or_zero16(p + 16)} << 16 |
           std::uint64_t{newline_or_zero16(p + 32)} << 32 | std::uint64_t{newline_or_zero16(p + 48)} << 48;
}

// The lowest `count` bits (count <= 32).
constexpr std::uint32_t low_bits(std::size_t count) {
    return count >= 32 ? ~std::uint32_t{0} : (std::uint32_t{1} << count) - 1;
}

}  // namespace orbitcsv::masks
