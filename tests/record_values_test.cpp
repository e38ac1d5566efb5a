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

// A block of Eros whose value fields are given texts, converted.
struct converted {
    element_block block;
    orbit_record record;
};

// read_row's one-pass reading of each field agrees with number_value, on fields of every form.
TEST(ReadRow, ReadsEveryFieldAsNumberValueDoes) {
    converted row;
    fill_rows(row.block, EROS_BLOCK);
    convert_block(row.block, row.record);
    std::uint32_t state = 7;
    const std::string others[] = {"", "x1", "1.2.3", "+-1", "1e", "0e400", "-1e-400", "1e400", "9999999999999999", ".", "-"};
    for (int k = 0; k < 100000; ++k) {
        std::string texts[VALUE_COUNT];
        for (std::size_t field = 0; field < VALUE_COUNT; ++field) {
            texts[field] = state % 5 == 0 ? others[(state >> 4) % std::size(others)] : random_number(state);
            state = state * 1103515245 + 12345;
            (row.record.*VALUE_FIELDS[field]).assign(texts[field]);
        }
        double values[VALUE_COUNT];
        const row_marks marks = read_row(row.block, row.record, values);
        // In two steps, as the page reads a row, the same.
        ASSERT_EQ(mark_row(row.block, row.record), marks);
        for (std::size_t field = 0; field < VALUE_COUNT; ++field) {
            const double value = field_value(row.record, marks, field);
            ASSERT_TRUE(same_double(value, values[field]) || (std::isnan(value) && std::isnan(values[field])));
            ASSERT_EQ(((marks >> field) & 1) != 0, !is_number(texts[field])) << texts[field];
            const double expected = number_value(texts[field]);
            ASSERT_TRUE(same_double(values[field], expected) || (std::isnan(values[field]) && std::isnan(expected)))
                << texts[field];
        }
    }
}

TEST(ReadRow, MarksCometBlocksAndKeepsOnlyTheirEpoch) {
    const std::pair<std::string, std::string> cases[] = {
        {"T  2026 Oct. 27.73412 TT", "q   0.3914560"}, {"T x", "q x"}, {"T\t1", "q 1"}, {"t 1", "q 1"}, {"T 1", "Q 1"},
        {"q 1", "T 1"}, {"T", "q"},
    };
    for (const auto& [first, second] : cases) {
        std::string lines[BLOCK_ROWS];
        std::copy(std::begin(EROS_BLOCK), std::end(EROS_BLOCK), lines);
        lines[2] = first;
        lines[3] = second;
        converted row;
        fill_rows(row.block, lines);
        convert_block(row.block, row.record);
        double values[VALUE_COUNT];
        const bool comet = first.starts_with("T ") && second.starts_with("q ");
        EXPECT_EQ(is_comet_block(row.block), comet) << first << " / " << second;
        const row_marks marks = read_row(row.block, row.record, values);
        EXPECT_EQ((marks & COMET_BLOCK_MARK) != 0, comet) << first;
        EXPECT_EQ(std::isnan(values[value_field_index(&orbit_record::semimajor_axis)]), comet) << first;
        EXPECT_EQ(values[value_field_index(&orbit_record::epoch_mjd)], 61026.0);
    }
}

TEST(ReadRow, MarksNamesAndNumbersASpreadsheetTakesForFormulas) {
    const std::pair<std::string, bool> cases[] = {
        {"(433) Eros", false}, {"(433) =HYPERLINK(\"x\")", true}, {"(433) +1", true}, {"(-1) Minus", true},
        {"(433) @SUM(A1)", true}, {"(=1) x", true}, {"(433)  =spaced", true}, {"( =1) x", false}, {"Eros=", false},
    };
    for (const auto& [designation, formula] : cases) {
        std::string lines[BLOCK_ROWS];
        std::copy(std::begin(EROS_BLOCK), std::end(EROS_BLOCK), lines);
        lines[0] = designation;
        converted row;
        fill_rows(row.block, lines);
        convert_block(row.block, row.record);
        double values[VALUE_COUNT];
        EXPECT_EQ((read_row(row.block, row.record, values) & FORMULA_MARK) != 0, formula) << designation;
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
    EXPECT_EQ(describe(COMET_BLOCK_MARK | axis), "Comet block: the table does not read its T, q and z lines");
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
