#include "messages.hpp"

#include <algorithm>
#include <charconv>
#include <initializer_list>

namespace orbitcsv::messages {

namespace {

void write_pieces(byte_sink& to, std::initializer_list<std::string_view> pieces, std::span<char> scratch) {
    std::size_t length = 0;
    for (const std::string_view piece : pieces) length += piece.size();
    if (length <= scratch.size()) {
        char* p = scratch.data();
        for (const std::string_view piece : pieces) p = std::copy(piece.begin(), piece.end(), p);
        (void)to.write_all({scratch.data(), length});
        return;
    }
    for (const std::string_view piece : pieces) {
        if (!to.write_all(piece)) return;
    }
}

}  // namespace

void write_message(byte_sink& to, std::string_view format, std::string_view name, std::span<char> scratch) {
    constexpr std::string_view NAME_MARK = "%s";
    const std::size_t at = format.find(NAME_MARK);
    if (at == std::string_view::npos) return write_pieces(to, {format}, scratch);
    // Not substr, whose range check could throw: the program links no C++ runtime to throw with.
    std::string_view after = format;
    after.remove_prefix(at + NAME_MARK.size());
    write_pieces(to, {{format.data(), at}, name, after}, scratch);
}

void write_summary(byte_sink& to, std::int64_t records, std::span<char> scratch) {
    char count[24];
    const char* const end = std::to_chars(count, count + sizeof count, records).ptr;
    write_pieces(to, {{count, static_cast<std::size_t>(end - count)}, records == 1 ? " record written.\n" : " records written.\n"},
                 scratch);
}

}  // namespace orbitcsv::messages
