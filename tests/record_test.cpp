#include "orbit_record.hpp"
#include "sample_block.hpp"
#include "string_sink.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orbitcsv {
namespace {

TEST(SplitDesignation, NumberFromFirstParenthesesNameTrimmed) {
    const std::string long_name(120, 'N');
    const struct {
        std::string line, name, number;
    } cases[] = {
        {"(433) Eros", "Eros", "433"},
        {"2026 WQ7", "2026 WQ7", "(Unnamed)"},
        {" \t(1) Ceres \r", "Ceres", "1"},
        {"Eros (433)", "", "433"},
        {"(433 Eros", "(433 Eros", "(Unnamed)"},
        {")433( Eros", ")433( Eros", "(Unnamed)"},
        {"( 433 )", "", " 433 "},
        {"", "", "(Unnamed)"},
        {"(433) Eros (again)", "Eros (again)", "433"},
        {"() x", "x", ""},
        {"(1) " + long_name, long_name, "1"},
        {"(" + long_name + ")", "", long_name},
    };
    orbit_record record;
    for (const auto& c : cases) {
        split_designation(line_with_slack(c.line).text(), record);
        EXPECT_EQ(record.name.view(), c.name) << c.line;
        EXPECT_EQ(record.number.view(), c.number) << c.line;
    }
}

TEST(ColumnField, KeepsNonBlankBytesOfTheRangeWithinTheLine) {
    const struct {
        std::string line;
        std::size_t first, last;
        std::string field;
    } cases[] = {
        {"M 319.31943", 2, 15, "319.31943"},
        {"M", 2, 15, ""},
        {"M ", 2, 15, ""},
        {"M 0.1 5\t6", 2, 15, "0.156"},
        {"M 123456789012345678", 2, 15, "12345678901234"},
        {"ab", 1, 1, "b"},
        {"ab\xc3\xa9", 2, 5, "\xc3\xa9"},
    };
    for (const auto& c : cases) {
        char out[FIELD_CAPACITY];
        EXPECT_EQ(std::string_view(out, column_field(line_with_slack(c.line).text(), c.first, c.last, out)), c.field)
            << c.line;
    }
}

// Converts a block given as its seven lines and returns the CSV row written for it.
std::string row_for(const std::vector<std::string>& lines) {
    const block_with_slack rows(lines);
    const element_block& block = rows.block();
    orbit_record record;
    convert_block(block, record);
    string_sink sink;
    std::vector<char> storage(CSV_ROW_CAPACITY);
    output_buffer out(sink, storage);
    write_csv_row(out, record);
    EXPECT_TRUE(out.flush());
    return sink.written;
}

const std::vector<std::string> EROS(std::begin(EROS_BLOCK), std::end(EROS_BLOCK));

std::vector<std::string> with(std::vector<std::string> lines, std::size_t row, std::string text) {
    lines[row] = std::move(text);
    return lines;
}

TEST(CsvRow, TakesEachValueFromItsColumns) {
    EXPECT_EQ(row_for(EROS), "Eros 433,11.16,0.46,197.25843,178.88312,304.28871,10.82780,0.2228350,1.4579614,61026\n");
}

TEST(CsvRow, EmptyElementLinesLeaveEmptyFieldsAndDefaultMeanAnomaly) {
    EXPECT_EQ(row_for({"", "Epoch TT = JDT", "", "", "", "", "P   3.62"}),
              " (Unnamed),,,0.0,,,,,,-2.4e+006\n");
}

TEST(CsvRow, QuotesFieldsWithCommasQuotesAndLineBreaksOnly) {
    const struct {
        std::vector<std::string> block;
        std::string row_start;
    } cases[] = {
        {with(EROS, 0, "(4179) Toutatis, revised"), "\"Toutatis, revised 4179\",11.16,"},
        {with(EROS, 0, "(4\"179\") To\"ut"), "\"To\"\"ut 4\"\"179\"\"\",11.16,"},
        {with(EROS, 0, "(1) A\rB"), "\"A\rB 1\",11.16,"},
        {with(EROS, 0, "(1) Jos\xc3\xa9"), "Jos\xc3\xa9 1,11.16,"},
        // Other control bytes are kept as they stand, unquoted.
        {with(EROS, 0, "(1\t2) A\tB\x0b\x0e"), "A\tB\x0b\x0e 1\t2,11.16,"},
        {with(EROS, 6, "P   3.62           H   11,16       G   0.46"), "Eros 433,\"11,16\",0.46,"},
    };
    for (const auto& c : cases) EXPECT_EQ(row_for(c.block).substr(0, c.row_start.size()), c.row_start);
}

}  // namespace
}  // namespace orbitcsv
