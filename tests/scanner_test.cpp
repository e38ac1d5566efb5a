#include "reference_scanner.hpp"
#include "scan_results.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orbitcsv {
namespace {

// Reads that end before, inside and just past a 131-byte piece, into the smallest buffer, where
// the lines a search keeps move to its front before nearly every read, and whole reads into it
// and into the default one.
struct reading {
    std::size_t buffer_size;
    reads how;
};
constexpr reading READINGS[] = {{MIN_READ_BUFFER_BYTES, {1}},   {MIN_READ_BUFFER_BYTES, {2}},   {MIN_READ_BUFFER_BYTES, {7}},
                                {MIN_READ_BUFFER_BYTES, {131}}, {MIN_READ_BUFFER_BYTES, {132}}, {MIN_READ_BUFFER_BYTES, {}},
                                {DEFAULT_READ_BUFFER_BYTES, {}}};

std::ostream& operator<<(std::ostream& out, const reading& r) {
    return out << "buffer of " << r.buffer_size << ", reads of " << r.how.read_size;
}

const std::string EPOCH = "Epoch 2000 Jan. 3.0 TT = JDT 2451546.5";
const std::string ELEMENTS = "e1\ne2\ne3\ne4\ne5\n";
const block_rows ELEMENT_ROWS = {"e1", "e2", "e3", "e4", "e5"};

block_rows rows(std::string designation, std::string epoch = EPOCH) {
    block_rows all = {std::move(designation), std::move(epoch)};
    all.insert(all.end(), ELEMENT_ROWS.begin(), ELEMENT_ROWS.end());
    return all;
}

struct line_case {
    const char* name;
    std::string input;
    std::vector<std::string> lines;
};

void PrintTo(const line_case& c, std::ostream* out) { *out << c.name; }

class InputLines : public testing::TestWithParam<line_case> {};

// Reads of a few bytes with a wait before each, as when the page feeds a file chunk by chunk:
// every line and block then has a stop inside it.
constexpr reads PAUSING_READS[] = {{1, true}, {3, true}, {64, true}, {131, true}};

TEST_P(InputLines, AreTheSameForEveryBufferSize) {
    EXPECT_EQ(reference::lines_of(GetParam().input), GetParam().lines) << "the rules read plainly";
    for (const reading& r : READINGS) EXPECT_EQ(lines_of(GetParam().input, r.buffer_size, r.how), GetParam().lines) << r;
    for (const reads how : PAUSING_READS) {
        EXPECT_EQ(lines_of(GetParam().input, DEFAULT_READ_BUFFER_BYTES, how), GetParam().lines)
            << "reads of " << how.read_size << " with waits";
    }
}

const std::string X131(131, 'x');

INSTANTIATE_TEST_SUITE_P(Pieces, InputLines, testing::Values(
    line_case{"Empty", "", {}},
    line_case{"NoFinalNewline", "abc\ndef", {"abc", "def"}},
    line_case{"BlankLines", "\n\n", {"", ""}},
    line_case{"CrLfStripped", "a\r\nb\r\n", {"a", "b"}},
    line_case{"TrailingControlsStrippedSpacesKept", "a\t \t\x1a\n", {"a\t "}},
    line_case{"InnerCrKept", "a\rb\n", {"a\rb"}},
    line_case{"DeleteKept", "x\x7f\n", {"x\x7f"}},
    line_case{"Utf8EndKept", "(1234) Jos\xc3\xa9\n", {"(1234) Jos\xc3\xa9"}},
    line_case{"ZeroByteEndsLine", std::string("ab\0cd\n\0x\n", 9), {"ab", ""}},
    line_case{"LongLineInPieces", std::string(200, 'y') + "\n", {std::string(131, 'y'), std::string(69, 'y')}},
    line_case{"ExactPieceThenEmptyLine", X131 + "\nz\n", {X131, "", "z"}},
    line_case{"CrCountsTowardsThePiece", std::string(130, 'c') + "\r\n", {std::string(130, 'c'), ""}},
    line_case{"TwoPiecesNoNewline", X131 + X131, {X131, X131}}),
    [](const auto& info) { return info.param.name; });

// The scanner's test remembers the latest epoch line as far as its words reach; for every line
// in turn it must answer as is_epoch_line does, whatever came before.
TEST(EpochLineTest, AnswersAsIsEpochLineForLineAfterLine) {
    const std::string lines[] = {
        EPOCH, EPOCH, "Epoch 2000 Jan. 3.0 TT = JDT 2451547.5", "Epoch 2000 Jan. 3.0 TT = JD", "Epoch 2000 Jan. 3.0 TT",
        "Epoch 2000 Jan. 3.0 TT = JDx 1", "Epoch 2000 Jan. 3.0 TX = JDT 1", "Epoch JDT = TT", "Epoch JDT = T",
        "Epoch 2000 Jan. 3.0 TT = JDT", "Epoch 2000 Jan. 3.0 TT = JD JDT", "epoch 2000 Jan. 3.0 TT = JDT 1", "",
        "Epoch ", "Epoch 2000 Jan. 3.0 TT = JDT 2451546.5 TT = JDT", std::string(131, 'E')};
    epoch_line_test test;
    std::uint32_t state = 7;
    for (int i = 0; i < 20000; ++i) {
        state = state * 1103515245 + 12345;
        std::string line = lines[(state >> 16) % std::size(lines)];
        // Now and then one byte changed, which may move, break or make a word.
        if ((state >> 8) % 3 == 0 && !line.empty()) line[(state >> 4) % line.size()] = "TJD= xE"[(state >> 20) % 7];
        ASSERT_EQ(test(line), is_epoch_line(line)) << line;
    }
}

TEST(IsEpochLine, NeedsPrefixAndThreeMarksCaseSensitive) {
    const std::pair<std::string, bool> cases[] = {
        {EPOCH, true},
        {"Epoch JDT=TT", true},
        {"Epoch ", false},
        {"Epoch\t2000 TT = JDT 1", false},
        {"epoch 2000 TT = JDT 1", false},
        {" Epoch 2000 TT = JDT 1", false},
        {"Epoch 2000 TT JDT 1", false},
        {"Epoch 2000 = JDT 1", false},
        {"Epoch 2000 TT = JD 1", false},
        {"Epoch 2000 tt = jdt 1", false},
    };
    for (const auto& [line, expected] : cases) EXPECT_EQ(is_epoch_line(line), expected) << line;
}

struct block_case {
    const char* name;
    std::string input;
    std::vector<block_rows> blocks;
};

void PrintTo(const block_case& c, std::ostream* out) { *out << c.name; }

class ElementBlocks : public testing::TestWithParam<block_case> {};

const std::string BLOCK = EPOCH + "\n" + ELEMENTS;
const std::string PROSE_AFTER = std::string(70, 'p') + "\n" + std::string(70, 'q') + "\n" + std::string(70, 'r') + "\n";

// After a block and with prose after it, an input that ends with a whole line gives the same
// blocks after that block's. Each of its searches then starts with bytes at hand and whole
// 64-byte loads within them, as in a long element list, where a block is taken in one pass;
// alone, a short input is read line by line, and the first search of an input starts before
// anything has been read.
TEST_P(ElementBlocks, AreTheSameForEveryBufferSize) {
    const std::string& input = GetParam().input;
    EXPECT_EQ(reference::blocks_of(input), GetParam().blocks) << "the rules read plainly";
    std::vector<block_rows> after_a_block = GetParam().blocks;
    after_a_block.insert(after_a_block.begin(), rows(""));
    for (const reading& r : READINGS) {
        EXPECT_EQ(blocks_of(input, r.buffer_size, r.how), GetParam().blocks) << r;
        if (input.ends_with('\n')) {
            EXPECT_EQ(blocks_of(BLOCK + input + PROSE_AFTER, r.buffer_size, r.how), after_a_block) << "after a block, " << r;
        }
    }
    for (const reads how : PAUSING_READS) {
        for (const std::size_t size : {MIN_READ_BUFFER_BYTES, DEFAULT_READ_BUFFER_BYTES}) {
            EXPECT_EQ(blocks_of(input, size, how), GetParam().blocks)
                << "buffer of " << size << ", reads of " << how.read_size << " with waits";
        }
    }
}

// Where each block stands, its epoch line's input line and the lines above it, is the same
// however the scanner reads, and counts the lines a search passes over in bulk.
TEST_P(ElementBlocks, StandWhereThePlainRulesPutThem) {
    const std::string& input = GetParam().input;
    std::vector<block_place> expected;
    reference::blocks_of(input, &expected);
    std::vector<block_place> after_prose;
    reference::blocks_of(PROSE_AFTER + input, &after_prose);
    for (const reading& r : READINGS) {
        std::vector<block_place> places;
        blocks_of(input, r.buffer_size, r.how, &places);
        EXPECT_EQ(places, expected) << r;
        places.clear();
        blocks_of(PROSE_AFTER + input, r.buffer_size, r.how, &places);
        EXPECT_EQ(places, after_prose) << "after prose, " << r;
    }
    for (const reads how : PAUSING_READS) {
        std::vector<block_place> places;
        blocks_of(input, DEFAULT_READ_BUFFER_BYTES, how, &places);
        EXPECT_EQ(places, expected) << "reads of " << how.read_size << " with waits";
    }
}

TEST(ElementScanner, NumbersTheEpochLineAndKeepsThreeLinesAbove) {
    const std::string input = "a\nb\n" + std::string(200, 'p') + "\nOrbital elements:\n1996 XX1\n   Perihelion\n" + BLOCK +
                              "x\n" + BLOCK;
    std::vector<block_place> places;
    blocks_of(input, DEFAULT_READ_BUFFER_BYTES, {}, &places);
    const std::vector<block_place> expected = {{7, {"   Perihelion", "1996 XX1", "Orbital elements:"}}, {14, {"x"}}};
    EXPECT_EQ(places, expected);
}

INSTANTIATE_TEST_SUITE_P(Shapes, ElementBlocks, testing::Values(
    block_case{"NoEpochLine", "(1) Ceres\nprose\n", {}},
    block_case{"DesignationAbove", "prose\n(433) Eros\n" + BLOCK, {rows("(433) Eros")}},
    block_case{"IdLinePassedOver", "(433) Eros\nId. 1898 DQ\n" + BLOCK, {rows("(433) Eros")}},
    block_case{"BlankLineIsTheDesignation", "(433) Eros\n\n" + BLOCK, {rows("")}},
    block_case{"CrLfLikeLf", "(433) Eros\r\n" + EPOCH + "\r\ne1\r\ne2\r\ne3\r\ne4\r\ne5\r\n", {rows("(433) Eros")}},
    block_case{"CutShort", "(433) Eros\n" + EPOCH + "\ne1\ne2\ne3\ne4", {}},
    block_case{"EpochInsideAnotherBlockIsAnElementLine", "(1) A\n" + EPOCH + "\n" + EPOCH + "\ne2\ne3\ne4\ne5\nf\n",
               {{"(1) A", EPOCH, EPOCH, "e2", "e3", "e4", "e5"}}},
    block_case{"NoLineFromAnEarlierSearch", "(1) A\n" + BLOCK + BLOCK + "Id\n" + BLOCK,
               {rows("(1) A"), rows(""), rows("")}},
    block_case{"WindowWrapsBetweenBlocks", "(1) A\n" + BLOCK + "p\nq\nr\ns\nt\n(2) B\nId\n" + BLOCK,
               {rows("(1) A"), rows("(2) B")}},
    block_case{"PiecesTakeTheirOwnPlaces", std::string(200, 'n') + "\n" + BLOCK, {rows(std::string(69, 'n'))}},
    block_case{"EpochInASecondPiece", X131 + EPOCH + "\n" + ELEMENTS, {rows(X131)}},
    block_case{"ZeroByteAfterPrefixHidesMarks", std::string("Epoch \0TT = JDT 1\n", 18) + ELEMENTS, {}},
    // The shapes a block can take at the start of a search, where it is taken in one pass.
    block_case{"EpochLikeLineAboveTheEpochLine", "Epoch x\n" + BLOCK, {rows("Epoch x")}},
    block_case{"IdLineAtTheStartOfASearch", "Id\n" + BLOCK, {rows("")}},
    block_case{"ZeroByteInAnElementLine", "(1) A\n" + EPOCH + "\ne1\ne2\n" + std::string("e\0x\n", 4) + "e4\ne5\n" + BLOCK,
               {{"(1) A", EPOCH, "e1", "e2", "e", "e4", "e5"}, rows("")}},
    block_case{"LongElementLineInPieces", "(1) A\n" + EPOCH + "\n" + std::string(200, 'y') + "\ne2\ne3\ne4\n",
               {{"(1) A", EPOCH, std::string(131, 'y'), std::string(69, 'y'), "e2", "e3", "e4"}}},
    block_case{"EpochLineRepeatedWithoutItsMarks", BLOCK + "Epoch 2000 Jan. 3.0 TT = JD 2451546.5\n" + ELEMENTS, {rows("")}}),
    [](const auto& info) { return info.param.name; });

// A few thousand lines mixing blocks with everything that changes where lines and pieces end:
// long lines, CR LF, zero bytes, bytes from 0x80 up, epoch-like lines and "Id" lines.
std::string mixed_input() {
    const std::string lines[] = {
        "(433) Eros", EPOCH, "Id. 1898 DQ", "", "\r", std::string(130, 'c') + "\r", std::string(131, 'x'),
        std::string(200, 'y') + EPOCH, "Epoch " + std::string(140, 'z') + " TT = JDT 2451546.5",
        std::string("ab\0Epoch TT = JDT 1", 20), "Jos\xc3\xa9 \xff\xfe", "Epoch TT JDT", "e1", "M 319.31943"};
    std::string text;
    std::uint32_t state = 12345;
    for (int i = 0; i < 4000; ++i) {
        state = state * 1103515245 + 12345;
        text += lines[(state >> 16) % std::size(lines)];
        text += (state >> 8) % 5 == 0 ? "\r\n" : "\n";
    }
    return text;
}

TEST(ElementScanner, GivesTheSameBlocksForEveryBufferSizeOnMixedInput) {
    const std::string input = mixed_input();
    const std::vector<block_rows> expected = reference::blocks_of(input);
    EXPECT_GT(expected.size(), 100u);
    EXPECT_EQ(blocks_of(input, DEFAULT_READ_BUFFER_BYTES), expected);
    EXPECT_EQ(lines_of(input, DEFAULT_READ_BUFFER_BYTES), reference::lines_of(input));
    std::vector<block_place> expected_places;
    reference::blocks_of(input, &expected_places);
    for (const std::size_t size : {MIN_READ_BUFFER_BYTES, MIN_READ_BUFFER_BYTES + 1, MIN_READ_BUFFER_BYTES + 131, std::size_t{4096}}) {
        for (const std::size_t read_size : {std::size_t{1}, std::size_t{64}, std::size_t{133}, std::size_t{SIZE_MAX}}) {
            std::vector<block_place> places;
            EXPECT_EQ(blocks_of(input, size, {read_size}, &places), expected) << "buffer of " << size << ", reads of " << read_size;
            EXPECT_EQ(places, expected_places) << "buffer of " << size << ", reads of " << read_size;
        }
    }
    // Reads that come back short, as from a pipe, leave a large buffer partly filled; with a
    // wait before each, every search and block is stopped and taken up again somewhere.
    for (const std::size_t read_size : {1, 7, 100, 1000, 65536}) {
        for (const bool pausing : {false, true}) {
            EXPECT_EQ(blocks_of(input, DEFAULT_READ_BUFFER_BYTES, {read_size, pausing}), expected)
                << "reads of " << read_size << (pausing ? " with waits" : "");
        }
    }
}

TEST(ElementScanner, ReportsAReadFailureApartFromTheEnd) {
    struct failing_source final : byte_source {
        std::ptrdiff_t read_some(char* into, std::size_t) override {
            if (calls++ > 0) return -1;
            *into = '\n';
            return 1;
        }
        int calls = 0;
    } source;
    char buffer[MIN_READ_BUFFER_BYTES];
    element_scanner scanner(source, buffer);
    element_block block;
    EXPECT_FALSE(scanner.find_element_block(block));
    EXPECT_TRUE(scanner.read_failed());

    memory_source empty("");
    element_scanner at_end(empty, buffer);
    EXPECT_FALSE(at_end.find_element_block(block));
    EXPECT_FALSE(at_end.read_failed());

    // A buffer too small to keep a block's lines across a read reads as a failure, not as an end.
    memory_source one_block(BLOCK);
    element_scanner refused(one_block, std::span(buffer, MIN_READ_BUFFER_BYTES - 1));
    EXPECT_FALSE(refused.find_element_block(block));
    EXPECT_TRUE(refused.read_failed());
}

}  // namespace
}  // namespace orbitcsv
