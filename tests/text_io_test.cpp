#include "byte_io.hpp"
#include "string_sink.hpp"
#include "utf16_names.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orbitcsv {
namespace {

std::string through_line_end_sink(const std::vector<std::string>& pieces, std::string_view line_end,
                                  std::size_t staging_size) {
    string_sink sink;
    std::vector<char> staging(staging_size);
    line_end_sink text(sink, line_end, staging);
    for (const std::string& piece : pieces) EXPECT_TRUE(text.write_all(piece));
    return sink.written;
}

TEST(LineEndSink, TurnsEveryLfIntoTheLineEndWhateverTheStagingSize) {
    const std::string long_line(70000, 'x');
    const struct {
        std::vector<std::string> pieces;
        std::string crlf;
    } cases[] = {
        {{""}, ""},
        {{"no line end"}, "no line end"},
        {{"\n"}, "\r\n"},
        {{"\n\n\n"}, "\r\n\r\n\r\n"},
        {{"a\nb\n", "c\n"}, "a\r\nb\r\nc\r\n"},
        {{"a\rb\n"}, "a\rb\r\n"},
        {{"a\r\n"}, "a\r\r\n"},
        {{long_line + "\n" + long_line}, long_line + "\r\n" + long_line},
    };
    for (const auto& c : cases) {
        for (const std::size_t staging : {3, 4, 5, 64, 65536}) {
            EXPECT_EQ(through_line_end_sink(c.pieces, "\r\n", staging), c.crlf) << "staging of " << staging;
        }
        std::string lf;
        for (const std::string& piece : c.pieces) lf += piece;
        EXPECT_EQ(through_line_end_sink(c.pieces, "\n", 3), lf);
    }
}

TEST(LineEndSink, ReportsAFailedWrite) {
    struct failing_sink final : byte_sink {
        bool write_all(std::string_view) override { return false; }
    } failing;
    char staging[8];
    line_end_sink text(failing, "\r\n", staging);
    EXPECT_FALSE(text.write_all("a\nb\n"));
}

TEST(Utf16Names, ConvertToWtf8AndBackExactly) {
    const struct {
        std::u16string units;
        std::string bytes;
    } cases[] = {
        {u"", ""},
        {u"orbit.txt", "orbit.txt"},
        {u"\u03a9\u03bc\u03ad\u03b3\u03b1", "\xce\xa9\xce\xbc\xce\xad\xce\xb3\xce\xb1"},
        {u"\u8ecc\u9053", "\xe8\xbb\x8c\xe9\x81\x93"},
        {u"\U0001F320", "\xf0\x9f\x8c\xa0"},  // a surrogate pair is one code point
        {std::u16string{0xD83C}, "\xed\xa0\xbc"},  // lone surrogates, as Windows names may hold
        {std::u16string{0xDF20, u'x'}, "\xed\xbc\xa0x"},
        {std::u16string{u'a', 0xD83C, 0xD83C, 0xDF20}, "a\xed\xa0\xbc\xf0\x9f\x8c\xa0"},
        {u"\u007f\u0080\u07ff\u0800\uffff", "\x7f\xc2\x80\xdf\xbf\xe0\xa0\x80\xef\xbf\xbf"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(wtf8_from_utf16(c.units), c.bytes) << c.bytes;
        EXPECT_EQ(utf16_from_wtf8(c.bytes), c.units) << c.bytes;
    }
}

TEST(Utf16Names, BytesOutsideTheEncodingBecomeReplacementCharacters) {
    const std::pair<std::string, std::u16string> cases[] = {
        {"\x80", u"\ufffd"},
        {"a\xff" "b", u"a\ufffdb"},
        {"\xc3", u"\ufffd"},
        {"\xc0\xaf", u"\ufffd\ufffd"},  // an overlong '/' must not pass for one
        {"\xf4\x90\x80\x80", u"\ufffd\ufffd\ufffd\ufffd"},
        {"\xe8\xbb" "x", u"\ufffd\ufffdx"},  // each byte of a cut sequence on its own
    };
    for (const auto& [bytes, units] : cases) EXPECT_EQ(utf16_from_wtf8(bytes), units) << bytes;
}

}  // namespace
}  // namespace orbitcsv
