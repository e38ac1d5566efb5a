// A slow, independent way to the epoch column, for checking the fast one: a regular expression
// finds the number, strtod reads it, printf's %.16e gives the 17 digits, the rounding to six
// is integer arithmetic, and printf's %g lays the result out (its exponent widened to three
// digits). Shared by the unit tests and the fuzz target.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <string_view>

namespace orbitcsv::reference {

inline std::string epoch_mjd_text(std::string_view line) {
    double jd = 0.0;
    if (const std::size_t mark = line.find("JDT"); mark != std::string_view::npos) {
        std::string rest(line.substr(mark + 3));
        rest.erase(0, rest.find_first_not_of(" \t\n\v\f\r"));
        static const std::regex number(R"(^[+-]?([0-9]+(\.[0-9]*)?|\.[0-9]+)([EeDd][+-]?[0-9]+)?)");
        std::smatch found;
        if (std::regex_search(rest, found, number)) {
            std::string text = found.str();
            for (char& c : text) {
                if (c == 'D' || c == 'd') c = 'e';
            }
            jd = std::strtod(text.c_str(), nullptr);
        }
    }
    const double mjd = jd - 2400000.5;
    if (std::isinf(mjd)) return mjd < 0 ? "-inf" : "inf";

    char expansion[40];
    std::snprintf(expansion, sizeof expansion, "%.16e", mjd);
    const bool negative = expansion[0] == '-';
    const char* p = expansion + (negative ? 1 : 0);
    std::uint64_t digits = static_cast<std::uint64_t>(p[0] - '0');
    for (int i = 2; i < 18; ++i) digits = digits * 10 + static_cast<std::uint64_t>(p[i] - '0');
    int exponent = std::atoi(p + 19);
    std::uint64_t six = (digits + 50'000'000'000) / 100'000'000'000;  // half-up at the 7th digit
    if (six == 1'000'000) {
        six = 100'000;
        ++exponent;
    }

    char rounded[40], shown[40];
    std::snprintf(rounded, sizeof rounded, "%s%llue%d", negative ? "-" : "", static_cast<unsigned long long>(six),
                  exponent - 5);
    std::snprintf(shown, sizeof shown, "%g", std::strtod(rounded, nullptr));
    std::string text = shown;
    if (const std::size_t e = text.find('e'); e != std::string::npos && text.size() - e == 4) {
        text.insert(e + 2, "0");
    }
    return text;
}

}  // namespace orbitcsv::reference
