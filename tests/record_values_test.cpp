#include "record_values.hpp"
#include "sample_block.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace orbitcsv {
namespace {

TEST(IsNumber, TakesDecimalsAsElementLinesWriteThem) {
    const std::pair<std::string, bool> cases[] = {
        {"11.16", true},   {"-0.0004811", true}, {"+7", true},    {".5", true},     {"5.", true},      {"0", true},
        {"2.4e+006", true}, {"1E-3", true},      {"1e5", true},   {"", false},      {".", false},      {"-", false},
        {"+-1", false},    {"1.2.3", false},     {"1e", false},   {"1e+", false},   {"e5", false},     {"inf", false},
        {"nan", false},    {"1,5", false},       {"1 5", false},  {"0x10", false},  {"1D5", false},    {"unknown", false},
    };
    for (const auto& [text, number] : cases) EXPECT_EQ(is_number(text), number) << text;
}

// strtod, in the "C" locale the tests run in, is the reference: correctly rounded in glibc.
double reference_value(const std::string& text) { return std::strtod(text.c_str(), nullptr); }

bool same_double(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Numbers of every length a field allows, with and without point, sign and exponent.
std::string random_number(std::uint32_t& state) {
    const auto next = [&](std::uint32_t n) {
        state = state * 1103515245 + 12345;
        return (state >> 8) % n;
    };
    std::string text;
    if (next(3) == 0) text += next(2) ? '-' : '+';
    const std::uint32_t digits = 1 + next(15);
    const std::uint32_t point = next(digits + 2);
    for (std::uint32_t k = 0; k < digits; ++k) {
        if (k == point) text += '.';
        text += static_cast<char>('0' + (k == 0 && next(4) == 0 ? 0 : next(10)));
    }
    const std::string exponent = "e" + std::string(next(2) ? "-" : "") + std::to_string(next(330));
    if (next(6) == 0 && text.size() + exponent.size() <= LONGEST_VALUE) text += exponent;
    return text.substr(0, LONGEST_VALUE);
}

TEST(NumberValue, IsTheNearestDoubleAsStrtodGivesIt) {
    const std::string extremes[] = {"1e400", "-1e400", "1e-400", "4.9e-324", "2.5e-324", "1.7976931348623157e308",
                                    "9007199254740993", "9007199254740992", "0.1", "-0", "-0.0", "00000000000000.1",
                                    // longer than a written value, as a field may hold
                                    "0.000000000000000000000012345678901234567", std::string(120, '7') + ".5e-100"};
    for (const std::string& text : extremes) EXPECT_TRUE(same_double(number_value(text), reference_value(text))) << text;
    std::uint32_t state = 2026;
    for (int k = 0; k < 200000; ++k) {
        const std::string text = random_number(state);
        ASSERT_TRUE(is_number(text)) << text;
        ASSERT_TRUE(same_double(number_value(text), reference_value(text))) << text;
    }
    EXPECT_TRUE(std::isnan(number_value("x1")));
}

// mark_row's quick test of each field agrees with is_number, on fields of every form.
TEST(MarkRow, MarksTheFieldsThatAreNotNumbers) {
    const block_with_slack rows(EROS_BLOCK);
    const element_block& block = rows.block();
    orbit_record record;
    convert_block(block, record);
    std::uint32_t state = 7;
    const std::string others[] = {"", "x1", "1.2.3", "+-1", "1e", "0e400", "-1e-400", "1e400", "9999999999999999", ".", "-"};
    for (int k = 0; k < 100000; ++k) {
        std::string texts[VALUE_COUNT];
        for (std::size_t field = 0; field < VALUE_COUNT; ++field) {
            texts[field] = state % 5 == 0 ? others[(state >> 4) % std::size(others)] : random_number(state);
            state = state * 1103515245 + 12345;
            (record.*VALUE_FIELDS[field]).assign(texts[field]);
        }
        const row_marks marks = mark_row(record);
        for (std::size_t field = 0; field < VALUE_COUNT; ++field) {
            ASSERT_EQ(((marks >> field) & 1) != 0, !is_number(texts[field])) << texts[field];
        }
    }
}

TEST(MarkRow, MarksNamesAndNumbersASpreadsheetTakesForFormulas) {
    const std::pair<std::string, bool> cases[] = {
        {"(433) Eros", false}, {"(433) =HYPERLINK(\"x\")", true}, {"(433) +1", true}, {"(-1) Minus", true},
        {"(433) @SUM(A1)", true}, {"(=1) x", true}, {"(433)  =spaced", true}, {"( =1) x", false}, {"Eros=", false},
    };
    for (const auto& [designation, formula] : cases) {
        std::string lines[BLOCK_ROWS];
        std::copy(std::begin(EROS_BLOCK), std::end(EROS_BLOCK), lines);
        lines[0] = designation;
        const block_with_slack rows(lines);
        const element_block& block = rows.block();
        orbit_record record;
        convert_block(block, record);
        EXPECT_EQ((mark_row(record) & FORMULA_MARK) != 0, formula) << designation;
    }
}

TEST(DesignationNumber, IsAWholeNumberOfAtMostEighteenDigits) {
    const std::pair<std::string, std::int64_t> cases[] = {
        {"433", 433}, {" 433 ", 433}, {"\t0433\r", 433}, {"999999999999999999", 999999999999999999}, {"0", 0},
        {"1000000000000000000", -1}, {"", -1}, {" ", -1}, {"(Unnamed)", -1}, {"-5", -1}, {"+5", -1}, {"4 33", -1},
        {"1e3", -1}, {"Marlowe", -1},
    };
    for (const auto& [text, number] : cases) {
        std::int64_t value = -1;
        EXPECT_EQ(designation_number(text, value), number >= 0) << text;
        if (number >= 0) {
            EXPECT_EQ(value, number) << text;
        }
    }
}

TEST(DescribeMarks, SaysWhyInTheWordsThePageAndTheModuleShow) {
    std::string_view values[VALUE_COUNT] = {"11.16", "0.46", "x", "1", "2", "3", "", "unknown", "61026"};
    const auto describe = [&](row_marks marks) {
        char out[NOTE_CAPACITY];
        return std::string(out, describe_marks(marks, values, out));
    };
    const row_marks eccentricity = 1u << value_field_index(&orbit_record::eccentricity);
    const row_marks axis = 1u << value_field_index(&orbit_record::semimajor_axis);
    EXPECT_EQ(describe(0), "");
    EXPECT_EQ(describe(axis), "Not numbers: Semimajor axis “unknown”");
    EXPECT_EQ(describe(eccentricity | axis | 1u << 2), "Not numbers: Mean anomaly “x”, Eccentricity empty, Semimajor axis “unknown”");
    EXPECT_EQ(describe(LAYOUT_MARK | axis), "the table's columns do not fit this layout; Download elements has its values");
    EXPECT_EQ(describe(FORMULA_MARK | axis),
              "Not numbers: Semimajor axis “unknown”; Name or number begins with =, +, - or @, which a spreadsheet may "
              "take for a formula");
    // Every mark at once, with the longest values, fits.
    std::string longest(LONGEST_VALUE, '"');
    for (std::string_view& value : values) value = longest;
    EXPECT_LT(describe(NOT_NUMBER_MARKS | FORMULA_MARK).size(), NOTE_CAPACITY);
}

}  // namespace
}  // namespace orbitcsv
