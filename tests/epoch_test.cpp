#include "epoch_reference.hpp"
#include "orbit_record.hpp"
#include "sample_block.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace orbitcsv {
namespace {

std::string epoch_text(std::string_view line) {
    char out[EPOCH_TEXT_CAPACITY];
    return {out, epoch_mjd_text(line_with_slack(line).text(), out)};
}

TEST(EpochMjdText, ReadsLikeAtofAndWritesLikePercentG) {
    const std::pair<std::string, std::string> cases[] = {
        {"Epoch 2000 Jan. 3.0 TT = JDT 2451546.5", "51546"},
        {"Epoch TT = JDT2451546.5", "51546"},
        {"Epoch TT = JDT \t 2451546.5 (TDB)", "51546"},
        {"Epoch TT = JDT 0002451546.5000", "51546"},
        {"Epoch TT = JDT +2451546.5", "51546"},
        {"JDT 2451546.5 JDT 2400000.5", "51546"},
        // Six digits rounded half-up: 51545.25 is written 51545.3.
        {"JDT 2451545.75", "51545.3"},
        {"JDT 2451545.25", "51544.8"},
        {"JDT 2451545.123456789", "51544.6"},
        {"JDT 2451546.500000000000000000000001", "51546"},
        // Half days from JD 2400000.5 to 2499999.5: the five digits after "24", and whatever
        // makes the number go on.
        {"JDT 2400010.5", "10"},
        {"JDT 2499999.5 TT", "99999"},
        {"JDT 2461026.75", "61026.3"},
        {"JDT 2461026.5e1", "2.22103e+007"},
        {"JDT 2461026.5E", "61026"},
        {"JDT 2461026.5.5", "61026"},
        {"JDT 2500000.5", "100000"},
        // Exponential from a million up and below 10^-4, with three exponent digits.
        {"JDT 3399999.5", "999999"},
        {"JDT 3400000.0", "1e+006"},
        {"JDT 3400000.5", "1e+006"},
        {"JDT 2400000.5001220703125", "0.00012207"},
        {"JDT 2400000.5000152587890625", "1.52588e-005"},
        {"JDT 2400000.5", "0"},
        {"JDT -2451546.5", "-4.85155e+006"},
        {"JDT 1e300", "1e+300"},
        // Exponent markers E, e, D and d; a marker without digits is not part of the number.
        {"JDT 2.4515465E6", "51546"},
        {"JDT 2.4515465e+06", "51546"},
        {"JDT 2.4515465D6", "51546"},
        {"JDT 24515465d-1", "51546"},
        {"JDT 2451546.5e", "51546"},
        {"JDT 2451546.5D+x", "51546"},
        // No number reads as zero; nothing but decimal numbers is a number.
        {"Epoch TT = JDT", "-2.4e+006"},
        {"JDT x2451546.5", "-2.4e+006"},
        {"JDT - 5", "-2.4e+006"},
        {"JDT .", "-2.4e+006"},
        {"JDT inf", "-2.4e+006"},
        {"JDT nan", "-2.4e+006"},
        {"JDT 0x1p22", "-2.4e+006"},
        {"JDT .5", "-2.4e+006"},
        {"JDT 5.", "-2.4e+006"},
        // Beyond a double: infinity above, zero below.
        {"JDT 1e999", "inf"},
        {"JDT -1e999", "-inf"},
        {"JDT 1e99999999999999999999", "inf"},
        {"JDT 1e-999", "-2.4e+006"},
        {"JDT 0e999999", "-2.4e+006"},
    };
    for (const auto& [line, text] : cases) {
        EXPECT_EQ(epoch_text(line), text) << line;
        EXPECT_EQ(reference::epoch_mjd_text(line), text) << "reference, " << line;
    }
}

// Julian dates as they are written, and less tidy ones, against the slow reference.
TEST(EpochMjdText, AgreesWithTheReferenceOnManyDates) {
    std::mt19937_64 random(20261208);
    std::uniform_int_distribution<int> digits(0, 9), length(1, 12), format(0, 5);
    for (int i = 0; i < 200000; ++i) {
        std::string number = std::to_string(2400000 + static_cast<int>(random() % 200000));
        switch (format(random)) {
            case 0: number += ".5"; break;
            case 4: number += ".5 TT "; break;
            case 1: number = "1" + number.substr(1, static_cast<std::size_t>(length(random) % 7)); break;
            case 2: number.insert(static_cast<std::size_t>(length(random) % 7) + 1, "."); break;
            case 3: number += "D" + std::to_string(static_cast<int>(random() % 40) - 20); break;
            default: number += "."; break;
        }
        for (int n = length(random) % 10; n > 0; --n) number += static_cast<char>('0' + digits(random));
        const std::string line = "Epoch 2026 Dec. 17.0 TT = JDT " + number;
        ASSERT_EQ(epoch_text(line), reference::epoch_mjd_text(line)) << line;
    }
}

}  // namespace
}  // namespace orbitcsv
