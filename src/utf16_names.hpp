// File names on Windows are sequences of 16-bit units, UTF-16 as a rule but not always: a lone
// surrogate is a valid unit of a name. The program carries names as bytes, so they are
// converted to WTF-8, which is UTF-8 that also encodes a lone surrogate the way UTF-8 encodes
// any code point of its range. Valid UTF-16 thus becomes plain UTF-8, and every name converts
// back to exactly the units it came from.
#pragma once

#include <string>
#include <string_view>

namespace orbitcsv {

std::string wtf8_from_utf16(std::u16string_view units);

// The inverse of wtf8_from_utf16. Each byte that does not fit the encoding becomes U+FFFD.
std::u16string utf16_from_wtf8(std::string_view bytes);

}  // namespace orbitcsv
