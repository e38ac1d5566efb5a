// The epoch column: the Julian date after "JDT", less MJD_OFFSET, in the %g style of the
// table format (six digits rounded half-up, three-digit exponents).
#include "orbit_record.hpp"

#include "byte_masks.hpp"
#include "decimal_digits.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace orbitcsv {

namespace {

constexpr std::size_t SIGNIFICANT_DIGITS = 6;
constexpr int EXPANSION_PRECISION = 16;  // digits after the point: 17 significant digits

// No double lies beyond 10^±400, and a line has at most 131 digits, so an exponent this large
// already decides overflow or underflow; reading stops growing it here.
constexpr long EXPONENT_LIMIT = 100000;

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }
constexpr bool is_exponent_marker(char c) { return c == 'E' || c == 'e' || c == 'D' || c == 'd'; }

// A number as atof reads it: a sign, digits with at most one point (at least one digit in
// all), then an exponent that counts only when a digit follows its marker and sign. While
// reading, the digits are also gathered into an integer for the exact path below.
struct decimal_prefix {
    bool negative = false;
    std::string_view integer_digits;
    std::string_view fraction_digits;
    bool has_exponent = false;
    long exponent = 0;
    std::uint64_t significand = 0;  // the digits without the point, as one integer
    int significant_digits = 0;     // digits from the first non-zero one on

    bool empty() const { return integer_digits.empty() && fraction_digits.empty(); }
};

using digits::POWERS_OF_10;
using digits::digits_value;
using digits::leading_digits;
using digits::repeated_byte;

// Takes the digits at the start of `text` and adds them to the significand, eight bytes at a
// time where the text is long enough. Only the exact path uses the significand, and only up to
// EXACT_SIGNIFICANT_DIGITS, so its wrapping past that is harmless.
[[gnu::always_inline]] inline std::string_view take_digits(std::string_view& text, decimal_prefix& number) {
    const char* const first = text.data();
    const char* const end = first + text.size();
    const char* p = first;
    std::uint64_t significand = number.significand;
    bool run_ended = false;
    if constexpr (std::endian::native == std::endian::little) {
        while (!run_ended && end - p >= 8) {
            std::uint64_t word;
            std::memcpy(&word, p, 8);
            const unsigned count = leading_digits(word);
            if (count == 0) break;
            significand = significand * POWERS_OF_10[count] + digits_value(word, count);
            p += count;
            run_ended = count < 8;
        }
    }
    for (; !run_ended && p != end && is_digit(*p); ++p) {
        significand = significand * 10 + static_cast<unsigned>(*p - '0');
    }
    number.significand = significand;

    const auto count = static_cast<std::size_t>(p - first);
    std::size_t leading_zeros = 0;
    if (number.significant_digits == 0) {
        while (leading_zeros < count && first[leading_zeros] == '0') ++leading_zeros;
    }
    number.significant_digits += static_cast<int>(count - leading_zeros);
    text.remove_prefix(count);
    return {first, count};
}

// The number at the start of `text`; an empty result when the text does not begin with one.
decimal_prefix read_decimal_prefix(std::string_view text) {
    decimal_prefix number;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        number.negative = text.front() == '-';
        text.remove_prefix(1);
    }
    number.integer_digits = take_digits(text, number);
    if (!text.empty() && text.front() == '.') {
        text.remove_prefix(1);
        number.fraction_digits = take_digits(text, number);
    }
    if (number.empty() || text.empty() || !is_exponent_marker(text.front())) return number;

    std::size_t at = 1;
    bool negative_exponent = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative_exponent = text[at++] == '-';
    if (at == text.size() || !is_digit(text[at])) return number;
    long exponent = 0;
    for (; at < text.size() && is_digit(text[at]); ++at) {
        exponent = std::min(exponent * 10 + (text[at] - '0'), EXPONENT_LIMIT);
    }
    number.has_exponent = true;
    number.exponent = negative_exponent ? -exponent : exponent;
    return number;
}

// A value as the integer of its significant digits (at most 17) and the power of ten of the
// first of them.
struct decimal_value {
    bool negative = false;
    std::uint64_t digits = 0;
    int count = 1;  // digits in `digits`
    int exponent = 0;
};

// The value rounded to six significant digits, half-up on the seventh: the digits as an integer
// from 100000 to 999999 (0 for zero), and the power of ten of the first.
struct six_digits {
    bool negative;
    std::uint32_t digits;
    int exponent;
};

six_digits round_to_six(decimal_value value) {
    std::uint64_t digits = value.digits;
    int count = value.count;
    int exponent = value.exponent;
    if (digits == 0) return {value.negative, 0, 0};
    for (; count > 7; --count) digits /= 10;  // only the seventh digit decides the rounding
    if (count == 7) {
        const bool up = digits % 10 >= 5;
        digits = digits / 10 + (up ? 1 : 0);
        if (digits == 1'000'000) {
            digits = 100'000;
            ++exponent;
        }
    }
    for (; count < 6; ++count) digits *= 10;
    return {value.negative, static_cast<std::uint32_t>(digits), exponent};
}

constexpr char DIGIT_PAIRS[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

std::uint64_t digit_pair(std::uint32_t pair) {
    std::uint16_t both;
    std::memcpy(&both, DIGIT_PAIRS + 2 * pair, 2);
    return both;
}

// Writes the value as %g writes it with six significant digits: fixed notation for powers of ten
// from -4 to 5, exponential with three exponent digits otherwise, trailing zeros dropped. The six
// digits are made in one word and stored whole, then cut where the point goes; `out` has
// EPOCH_TEXT_CAPACITY bytes, room for those whole-word stores.
std::size_t write_g(six_digits value, char* out) {
    char* p = out;
    if (value.negative) *p++ = '-';
    if (value.digits == 0) {
        *p++ = '0';
        return static_cast<std::size_t>(p - out);
    }
    char text[8];  // the six digits, then two spare bytes
    if constexpr (std::endian::native == std::endian::little) {
        const std::uint64_t word = digit_pair(value.digits / 10000) | digit_pair(value.digits / 100 % 100) << 16 |
                                   digit_pair(value.digits % 100) << 32;
        std::memcpy(text, &word, 8);
    } else {
        for (std::uint32_t i = 6, rest = value.digits; i > 0; rest /= 10) {
            text[--i] = static_cast<char>('0' + rest % 10);
        }
    }
    // The digits up to the last that is not a zero.
    std::size_t used = SIGNIFICANT_DIGITS;
    for (; text[used - 1] == '0'; --used) {
    }

    const int exponent = value.exponent;
    if (exponent < -4 || exponent >= static_cast<int>(SIGNIFICANT_DIGITS)) {
        *p = text[0];
        p[1] = '.';
        std::memcpy(p + 2, text + 1, 8 - 1);
        p += used > 1 ? used + 1 : 1;
        const int magnitude = exponent < 0 ? -exponent : exponent;
        p[0] = 'e';
        p[1] = exponent < 0 ? '-' : '+';
        p[2] = static_cast<char>('0' + magnitude / 100);
        std::memcpy(p + 3, DIGIT_PAIRS + 2 * (magnitude % 100), 2);
        p += 5;
    } else if (exponent >= 0) {
        // Every place of the integer part is among the six digits, trailing zeros included.
        const std::size_t integer_digits = static_cast<std::size_t>(exponent) + 1;
        std::memcpy(p, text, 8);
        p += integer_digits;
        if (used > integer_digits) {
            *p = '.';
            std::memcpy(p + 1, text + integer_digits, 8 - integer_digits);
            p += 1 + used - integer_digits;
        }
    } else {
        std::memcpy(p, "0.0000", 6);
        p += 1 - exponent;  // "0." and the zeros after the point
        std::memcpy(p, text, 8);
        p += used;
    }
    return static_cast<std::size_t>(p - out);
}

constexpr std::size_t EXACT_FRACTION_DIGITS = 8;
constexpr int EXACT_SIGNIFICANT_DIGITS = 15;  // below 2^53, and room to scale by ten
constexpr std::int64_t MJD_OFFSET_TENTHS = 24000005;
static_assert(MJD_OFFSET_TENTHS == MJD_OFFSET * 10);

// A number with `places` digits after the point, f / 10^places as an integer f over a power of
// ten, is a binary fraction exactly when 5^places divides f. Each case divides by a constant,
// which compiles to a multiplication.
[[gnu::always_inline]] inline bool is_binary_fraction(std::uint64_t f, std::size_t places) {
    switch (places) {
        case 0: return true;
        case 1: return f % 5 == 0;
        case 2: return f % 25 == 0;
        case 3: return f % 125 == 0;
        case 4: return f % 625 == 0;
        case 5: return f % 3125 == 0;
        case 6: return f % 15625 == 0;
        case 7: return f % 78125 == 0;
        default: return f % 390625 == 0;
    }
}

// How many decimal digits `n` has (1 for 0): from its binary length, then one comparison.
int decimal_digits(std::uint64_t n) {
    const int guess = static_cast<int>(std::bit_width(n | 1) * 1233 >> 12);  // bits * log10(2), rounded down
    return guess + ((n | 1) >= POWERS_OF_10[guess] ? 1 : 0);
}

// The value of `scaled` units of 10^-places, as its digits and the power of ten of the first.
decimal_value scaled_value(std::int64_t scaled, std::size_t places) {
    decimal_value value;
    value.negative = scaled < 0;
    value.digits = value.negative ? 0 - static_cast<std::uint64_t>(scaled) : static_cast<std::uint64_t>(scaled);
    value.count = decimal_digits(value.digits);
    value.exponent = value.count - 1 - static_cast<int>(places);
    return value;
}

// The usual epoch ("JDT 2451546.5") needs no floating point. With at most 15 significant
// digits and 8 after the point, the Julian date is exact as a double when its fraction is a
// binary fraction; MJD_OFFSET is one, so their difference is one too, small enough to be
// exact, and the double subtraction gives it without rounding. Its digits then come straight
// from integers. False when that does not hold.
bool exact_mjd_digits(const decimal_prefix& jd, decimal_value& mjd) {
    const std::size_t fraction_digits = jd.fraction_digits.size();
    if (jd.has_exponent || fraction_digits > EXACT_FRACTION_DIGITS ||
        jd.significant_digits > EXACT_SIGNIFICANT_DIGITS) {
        return false;
    }
    // The integer part times 10^places is a multiple of 5^places: the whole significand will do.
    if (!is_binary_fraction(jd.significand, fraction_digits)) return false;

    // Both numbers in units of 10^-scale; the offset needs one decimal.
    const std::size_t scale = fraction_digits > 0 ? fraction_digits : 1;
    auto scaled_jd = static_cast<std::int64_t>(jd.significand * (fraction_digits > 0 ? 1 : 10));
    if (jd.negative) scaled_jd = -scaled_jd;
    const std::int64_t scaled_mjd = scaled_jd - MJD_OFFSET_TENTHS * static_cast<std::int64_t>(POWERS_OF_10[scale - 1]);

    mjd = scaled_value(scaled_mjd, scale);
    return true;
}

// Nearly every epoch line writes the Julian date as seven digits, a point and one to eight
// decimals ("2451546.5"), with nothing after them that would make the number go on. Such a date
// is read here from two eight-byte words straight into the integers of the exact path above,
// with the same result in a fraction of the steps; false for anything else, which the general
// reading then takes. The words may reach past the line's end into its slack.
bool usual_mjd_digits(padded_view text, decimal_value& mjd) {
    constexpr std::int64_t JD_OF_MJD_ZERO_DAY = 2400000;  // MJD_OFFSET less its half day
    if constexpr (std::endian::native != std::endian::little) return false;
    if (text.size() < 9) return false;
    std::uint64_t integer_word, fraction_word;
    std::memcpy(&integer_word, text.data(), 8);
    std::memcpy(&fraction_word, text.data() + 8, 8);
    if (leading_digits(integer_word) != 7 || text[7] != '.') return false;
    const std::size_t places = std::min<std::size_t>(leading_digits(fraction_word), text.size() - 8);
    if (places == 0) return false;
    if (8 + places < text.size() && (is_digit(text[8 + places]) || is_exponent_marker(text[8 + places]))) return false;
    const std::uint64_t fraction = digits_value(fraction_word, static_cast<unsigned>(places));
    if (!is_binary_fraction(fraction, places)) return false;

    // In units of the last decimal: the date less the whole days of MJD_OFFSET, less its half.
    const auto unit = static_cast<std::int64_t>(POWERS_OF_10[places]);
    const std::int64_t scaled = (static_cast<std::int64_t>(digits_value(integer_word, 7)) - JD_OF_MJD_ZERO_DAY) * unit +
                                static_cast<std::int64_t>(fraction) - unit / 2;
    mjd = scaled_value(scaled, places);
    return true;
}

// Epochs are nearly always given for 0h TT, a Julian date that ends in .5, and lie between
// JD 2400000.5 and 2499999.5 (the years 1858 to 2132). For such a date, "24ddddd.5", the MJD is
// the whole number ddddd, and %g writes a whole number below a million as its digits: the
// five after "24", leading zeros dropped ("JDT 2461026.5" gives 61026, "JDT 2400000.5" gives
// 0). Returns the length written, or 0 for any other number, which the readings below then
// take. The loads may reach past the line's end into its slack.
std::size_t half_day_mjd_text(padded_view text, char* out) {
    constexpr std::size_t DATE_BYTES = 9;  // "24ddddd.5"
    if constexpr (std::endian::native != std::endian::little) return 0;
    if (text.size() < DATE_BYTES) return 0;
    std::uint64_t integer_word;
    std::memcpy(&integer_word, text.data(), 8);
    if (text[0] != '2' || text[1] != '4' || leading_digits(integer_word) != 7 || text[7] != '.' || text[8] != '5') {
        return 0;
    }
    // Nothing after the 5 may make the number go on.
    if (text.size() > DATE_BYTES && (is_digit(text[DATE_BYTES]) || is_exponent_marker(text[DATE_BYTES]))) return 0;
    // Leading zeros of the five digits go, but never the last digit: the point after them ends
    // the count of zeros at five at most, and no more than four are dropped.
    std::uint64_t day_word;
    std::memcpy(&day_word, text.data() + 2, 8);
    const auto zeros = std::min(static_cast<std::size_t>(std::countr_zero(day_word ^ repeated_byte('0'))) / 8, std::size_t{4});
    std::memcpy(out, text.data() + 2 + zeros, 8);
    return 5 - zeros;
}

// The double nearest to the number, as atof gives it: infinity past the largest double, zero
// below the smallest. strtod reads the number restated in its plain form (no D exponent, the
// exponent already capped); the program never sets a locale, so the point is a point.
double parse_julian_date(const decimal_prefix& jd) {
    if (jd.empty()) return 0.0;
    // A line holds at most LINE_PIECE_BYTES digits; sign, point, marker and exponent add ten.
    char text[LINE_CAPACITY + 16];
    char* p = text;
    if (jd.negative) *p++ = '-';
    p = std::copy(jd.integer_digits.begin(), jd.integer_digits.end(), p);
    *p++ = '.';
    p = std::copy(jd.fraction_digits.begin(), jd.fraction_digits.end(), p);
    *p++ = 'e';
    p = std::to_chars(p, text + sizeof text - 1, jd.exponent).ptr;
    *p = '\0';
    return std::strtod(text, nullptr);
}

// The 17-digit decimal expansion of a finite double, rounded to nearest. The C library's printf
// writes it exactly, as std::to_chars would; printf keeps the program free of the C++ runtime
// library, which would cost every run the time to load it.
decimal_value expand_double(double value) {
    char text[32];
    const int length = std::snprintf(text, sizeof text, "%.*e", EXPANSION_PRECISION, value);
    const char* const end = text + length;
    decimal_value expansion;
    const char* p = text;
    expansion.negative = *p == '-';
    if (expansion.negative) ++p;
    expansion.digits = static_cast<std::uint64_t>(*p++ - '0');
    for (++p; *p != 'e'; ++p) expansion.digits = expansion.digits * 10 + static_cast<std::uint64_t>(*p - '0');
    expansion.count = EXPANSION_PRECISION + 1;
    ++p;  // past the 'e'
    std::from_chars(*p == '+' ? p + 1 : p, end, expansion.exponent);
    return expansion;
}

// Where the first "JDT" of the line begins, or npos: each 'J' is found 16 bytes at a time, the
// rest compared in place. The loads reach into the line's slack.
std::size_t find_jdt(padded_view line) {
    const char* const begin = line.data();
    for (std::size_t at = 0; line.size() - at >= JDT_MARK.size(); ++at) {
        at += masks::find_byte(line.substr(at), 'J');
        if (line.size() - at < JDT_MARK.size()) break;
        if (begin[at + 1] == 'D' && begin[at + 2] == 'T') return at;
    }
    return std::string_view::npos;
}

constexpr std::string_view INFINITY_TEXT = "inf";

}  // namespace

std::size_t epoch_mjd_text(padded_view epoch_line, char* out) {
    padded_view number;
    if (const std::size_t mark = find_jdt(epoch_line); mark != std::string_view::npos) {
        number = epoch_line.substr(mark + JDT_MARK.size());
        while (!number.empty() && is_whitespace(number[0])) number.remove_prefix(1);
    }

    if (const std::size_t length = half_day_mjd_text(number, out)) return length;
    decimal_value mjd;
    if (!usual_mjd_digits(number, mjd)) {
        const decimal_prefix jd = read_decimal_prefix(number.text());
        if (!exact_mjd_digits(jd, mjd)) {
            const double value = parse_julian_date(jd) - MJD_OFFSET;
            if (std::isinf(value)) {
                char* p = out;
                if (value < 0) *p++ = '-';
                p = std::copy(INFINITY_TEXT.begin(), INFINITY_TEXT.end(), p);
                return static_cast<std::size_t>(p - out);
            }
            mjd = expand_double(value);
        }
    }
    return write_g(round_to_six(mjd), out);
}

}  // namespace orbitcsv
