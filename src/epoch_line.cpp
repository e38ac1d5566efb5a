#include "epoch_line.hpp"

#include <algorithm>
#include <cstring>

namespace orbitcsv {

namespace {

// Where `word` first occurs in `text`, or npos.
std::size_t find_word(std::string_view text, std::string_view word) {
    if (text.size() < word.size()) return std::string_view::npos;
    const char* p = text.data();
    const char* const last = p + text.size() - word.size();
    while ((p = masks::find_first(p, static_cast<std::size_t>(last - p) + 1, word[0]))) {
        std::size_t i = 1;
        while (i < word.size() && p[i] == word[i]) ++i;
        if (i == word.size()) return static_cast<std::size_t>(p - text.data());
        if (p++ == last) break;
    }
    return std::string_view::npos;
}

// For an epoch line, how far into it its words reach: "Epoch " and the first "TT", "=" and
// "JDT", to the end of the last of them; 0 for any other line.
std::size_t epoch_words_reach(std::string_view line) {
    if (!masks::starts_with(line, EPOCH_PREFIX)) return 0;
    std::size_t reach = EPOCH_PREFIX.size();
    for (const std::string_view word : {std::string_view("TT"), std::string_view("="), std::string_view("JDT")}) {
        const std::size_t at = find_word(line, word);
        if (at == std::string_view::npos) return 0;
        reach = std::max(reach, at + word.size());
    }
    return reach;
}

}  // namespace

bool is_epoch_line(std::string_view line) { return epoch_words_reach(line) != 0; }

bool epoch_line_test::learn(std::string_view line) {
    const std::size_t reach = epoch_words_reach(line);
    if (reach == 0) return false;
    std::memcpy(words_, line.data(), reach);
    reach_ = reach;
    return true;
}

}  // namespace orbitcsv
