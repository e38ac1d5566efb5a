#include "utf16_names.hpp"

namespace orbitcsv {

namespace {

constexpr bool is_high_surrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
constexpr bool is_low_surrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }
constexpr char16_t REPLACEMENT = 0xFFFD;

void append_code_point(std::string& out, char32_t point) {
    if (point < 0x80) {
        out += static_cast<char>(point);
    } else if (point < 0x800) {
        out += static_cast<char>(0xC0 | point >> 6);
        out += static_cast<char>(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
        out += static_cast<char>(0xE0 | point >> 12);
        out += static_cast<char>(0x80 | (point >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | point >> 18);
        out += static_cast<char>(0x80 | (point >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (point >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    }
}

void append_units(std::u16string& out, char32_t point) {
    if (point < 0x10000) {
        out += static_cast<char16_t>(point);
    } else {
        out += static_cast<char16_t>(0xD800 + ((point - 0x10000) >> 10));
        out += static_cast<char16_t>(0xDC00 + ((point - 0x10000) & 0x3FF));
    }
}

}  // namespace

std::string wtf8_from_utf16(std::u16string_view units) {
    std::string out;
    out.reserve(units.size() * 3);
    for (std::size_t i = 0; i < units.size(); ++i) {
        char32_t point = units[i];
        // A pair combines into one code point; a surrogate without its partner stands alone.
        if (is_high_surrogate(point) && i + 1 < units.size() && is_low_surrogate(units[i + 1])) {
            point = 0x10000 + ((point - 0xD800) << 10) + (units[++i] - 0xDC00);
        }
        append_code_point(out, point);
    }
    return out;
}

std::u16string utf16_from_wtf8(std::string_view bytes) {
    // The smallest code point each sequence length may carry; shorter forms are not valid.
    constexpr char32_t SMALLEST[] = {0, 0, 0x80, 0x800, 0x10000};
    std::u16string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead >= 0xC0 && lead < 0xE0 ? 2 : lead >= 0xE0 && lead < 0xF0 ? 3
                                                 : lead >= 0xF0 && lead < 0xF5 ? 4 : 0;
        char32_t point = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
        std::size_t taken = 1;
        while (taken < length && i + taken < bytes.size() && (static_cast<unsigned char>(bytes[i + taken]) & 0xC0) == 0x80) {
            point = point << 6 | (static_cast<unsigned char>(bytes[i + taken]) & 0x3F);
            ++taken;
        }
        if (length == 0 || taken < length || point < SMALLEST[length] || point > 0x10FFFF) {
            out += REPLACEMENT;
            i += 1;
            continue;
        }
        append_units(out, point);
        i += taken;
    }
    return out;
}

}  // namespace orbitcsv
