// Decimal digits eight at a time: ASCII digits in a 64-bit word (first in memory, lowest byte
// first, as little-endian machines load them) told apart and turned into their value with a few
// multiplications instead of a step per digit. For the epoch and the values of the tables.
#pragma once

#include <bit>
#include <cstdint>

namespace orbitcsv::digits {

inline constexpr std::uint64_t POWERS_OF_10[] = {
    1,          10,          100,          1000,          10000,          100000,
    1000000,    10000000,    100000000,    1000000000,    10000000000,    100000000000,
    1000000000000, 10000000000000, 100000000000000, 1000000000000000, 10000000000000000,
    100000000000000000, 1000000000000000000, 10000000000000000000u};

// The powers of ten that doubles hold exactly: an integer of at most 2^53 over one of them is
// rounded once, by the division.
inline constexpr double EXACT_POWERS_OF_TEN[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                                 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

constexpr std::uint64_t repeated_byte(unsigned char byte) { return std::uint64_t{0x0101010101010101} * byte; }

// How many of the eight bytes of `word`, first in memory first, are digits before the first
// byte that is not. A byte is a digit when it is 0x3_ with a low nibble below ten.
inline unsigned leading_digits(std::uint64_t word) {
    const std::uint64_t x = word ^ repeated_byte('0');
    const std::uint64_t high_nibble_set = x & repeated_byte(0xF0);
    const std::uint64_t low_nibble_over_9 = ((x & repeated_byte(0x0F)) + repeated_byte(0x06)) & repeated_byte(0xF0);
    const std::uint64_t not_digit = high_nibble_set | low_nibble_over_9;
    return not_digit == 0 ? 8 : static_cast<unsigned>(std::countr_zero(not_digit)) / 8;
}

// The value of the first `count` (1 to 8) digits of `word`: moved to the top of the word behind
// zeros, then combined in pairs, fours and the eight with three multiplications.
inline std::uint64_t digits_value(std::uint64_t word, unsigned count) {
    std::uint64_t digits = (word - repeated_byte('0')) << (8 * (8 - count));
    digits = digits * 10 + (digits >> 8);
    constexpr std::uint64_t PAIRS = 0x000000FF000000FF;
    return (((digits & PAIRS) * (100 + (1000000ULL << 32))) + (((digits >> 16) & PAIRS) * (1 + (10000ULL << 32)))) >>
           32;
}

}  // namespace orbitcsv::digits
