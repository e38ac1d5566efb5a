#include "labeled_elements.hpp"

#include "byte_masks.hpp"
#include "decimal_digits.hpp"
#include "record_values.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace orbitcsv {

namespace {

constexpr double MISSING = std::numeric_limits<double>::quiet_NaN();

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }
constexpr bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
constexpr bool is_upper(char c) { return c >= 'A' && c <= 'Z'; }

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && is_whitespace(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_whitespace(text.back())) text.remove_suffix(1);
    return text;
}

std::string_view skip_blanks(std::string_view text) {
    while (!text.empty() && is_whitespace(text.front())) text.remove_prefix(1);
    return text;
}

// The first token of `text` (its bytes up to a blank) and what follows it.
std::string_view first_token(std::string_view text) {
    std::size_t end = 0;
    while (end < text.size() && !is_whitespace(text[end])) ++end;
    return text.substr(0, end);
}

// Splits `text` into its tokens, one after another.
class token_reader {
public:
    explicit token_reader(std::string_view text) : rest_(text) {}
    bool next(std::string_view& token) {
        rest_ = skip_blanks(rest_);
        if (rest_.empty()) return false;
        token = first_token(rest_);
        rest_.remove_prefix(token.size());
        return true;
    }
    std::string_view rest() const { return rest_; }

private:
    std::string_view rest_;
};

bool all_digits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), is_digit);
}

// ---- Numbers and dates ----

// A decimal ratio numerator / 10^decimals as the nearest double: one division where both are
// exact doubles, which rounds it once; strtod of the restated text otherwise.
double decimal_ratio(std::int64_t numerator, unsigned decimals, exact_decimal* exact = nullptr) {
    constexpr std::int64_t FIFTEEN_DIGITS = 1'000'000'000'000'000;
    if (exact != nullptr && numerator > -FIFTEEN_DIGITS && numerator < FIFTEEN_DIGITS && decimals < 128) {
        *exact = {numerator, static_cast<std::int8_t>(decimals)};
    }
    constexpr std::int64_t LARGEST_EXACT = std::int64_t{1} << 53;
    if (numerator >= -LARGEST_EXACT && numerator <= LARGEST_EXACT && decimals < std::size(digits::EXACT_POWERS_OF_TEN)) {
        return static_cast<double>(numerator) / digits::EXACT_POWERS_OF_TEN[decimals];
    }
    char text[48];
    const int length = std::snprintf(text, sizeof text, "%llde-%u", static_cast<long long>(numerator), decimals);
    return length > 0 ? std::strtod(text, nullptr) : MISSING;
}

// A plain decimal, digits with at most one point and no exponent, as its digits and the count
// after the point; false for anything else, or for more digits than an integer holds exactly.
bool plain_decimal(std::string_view text, std::int64_t& digits, unsigned& decimals) {
    constexpr std::size_t MOST_DIGITS = 17;
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    std::int64_t value = 0;
    std::size_t count = 0;
    bool point = false;
    decimals = 0;
    for (const char c : text) {
        if (c == '.' && !point) {
            point = true;
        } else if (is_digit(c) && count < MOST_DIGITS) {
            value = value * 10 + (c - '0');
            ++count;
            decimals += point;
        } else {
            return false;
        }
    }
    if (count == 0) return false;
    digits = negative ? -value : value;
    return true;
}

// The MJD of a Julian date written as `text` (a number): the JD less 2400000.5, worked out in
// decimal where the text is a plain decimal, so that the MJD is the double nearest to it.
double mjd_of_julian_date(std::string_view text, exact_decimal* exact = nullptr) {
    constexpr unsigned MOST_DECIMALS = 11;  // 2400000.5 in such units still fits an integer
    std::int64_t digits;
    unsigned decimals;
    if (plain_decimal(text, digits, decimals) && decimals <= MOST_DECIMALS) {
        // 2400000.5 in units of the last decimal (tenths where the text has none).
        const unsigned scale = std::max(decimals, 1u);
        std::int64_t offset = 24000005;
        for (unsigned k = 1; k < scale; ++k) offset *= 10;
        return decimal_ratio(decimals == 0 ? digits * 10 - offset : digits - offset, scale, exact);
    }
    return number_value(text) - MJD_OFFSET;
}

// Days from 1858 Nov. 17 (MJD 0) to the first of a month, by the proleptic Gregorian calendar.
std::int64_t mjd_of_month(std::int64_t year, unsigned month_number) {
    // Days from civil, counted from 1 March so that the leap day ends the year.
    const auto month = static_cast<std::int64_t>(month_number);
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t year_of_era = year - era * 400;
    const std::int64_t day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5;
    const std::int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    constexpr std::int64_t DAYS_TO_MJD_ZERO = 678881;  // from 0000 Mar. 1 to 1858 Nov. 17
    return era * 146097 + day_of_era - DAYS_TO_MJD_ZERO;
}

constexpr std::string_view MONTH_NAMES[] = {"january", "february", "march",     "april",   "may",      "june",
                                            "july",    "august",   "september", "october", "november", "december"};

// The month a name gives ("Jan.", "Sept.", "June", "Mar"), from 1; 0 for anything else.
unsigned month_of(std::string_view name) {
    if (!name.empty() && name.back() == '.') name.remove_suffix(1);
    if (name.size() < 3) return 0;
    for (unsigned month = 0; month < std::size(MONTH_NAMES); ++month) {
        const std::string_view full = MONTH_NAMES[month];
        if (name.size() > full.size()) continue;
        bool same = true;
        for (std::size_t k = 0; k < name.size() && same; ++k) same = (name[k] | 0x20) == full[k];
        if (same) return month + 1;
    }
    return 0;
}

// A date as the circulars and orbit-fitting programs write it, "2011 Sept. 10.7227" or
// "1998 Mar 8.969329", at the start of `text`, as an MJD; NaN when the text does not begin with one.
double mjd_of_date(std::string_view text, exact_decimal* exact = nullptr) {
    token_reader tokens(text);
    std::string_view year, month, day;
    if (!tokens.next(year) || !tokens.next(month) || !tokens.next(day)) return MISSING;
    const unsigned month_number = month_of(month);
    std::int64_t day_digits;
    unsigned decimals;
    if (!all_digits(year) || year.size() > 5 || month_number == 0 || !plain_decimal(day, day_digits, decimals) ||
        day_digits < 0) {
        return MISSING;
    }
    std::int64_t year_number = 0;
    for (const char c : year) year_number = year_number * 10 + (c - '0');
    const std::int64_t first = mjd_of_month(year_number, month_number);
    // Day 1 is the first; day 0, as some tables write it, the last of the month before. Worked
    // out in decimal where the days in units of the last decimal fit an integer.
    constexpr unsigned MOST_DECIMALS = 10;
    if (decimals > MOST_DECIMALS) {
        const double day_number = number_value(day);
        return day_number >= 32 ? MISSING : static_cast<double>(first - 1) + day_number;
    }
    std::int64_t unit = 1;
    for (unsigned k = 0; k < decimals; ++k) unit *= 10;
    if (day_digits / unit > 31) return MISSING;
    return decimal_ratio((first - 1) * unit + day_digits, decimals, exact);
}

// ---- Values after their labels ----

// Where a value was read: its number, in the unit the text gives, or why it could not be.
struct read_value {
    bool found = false;  // false: what follows the label is no value (the label is a word)
    double value = MISSING;
    unread_reason reason = unread_reason::none;
    std::string_view text;
    exact_decimal decimal;
};

// A value printed but not read, and why.
read_value unread(unread_reason reason, std::string_view text = {}) {
    read_value read;
    read.found = true;
    read.reason = reason;
    read.text = text;
    return read;
}

// A value read, and the decimal it was written as, where known.
read_value read_as(double value, exact_decimal decimal = {}) {
    read_value read;
    read.found = true;
    read.value = value;
    read.decimal = decimal;
    return read;
}

constexpr std::string_view SIGMA_MARK = "+/-";

// What a note quotes of a date that could not be read: its first three words.
std::string_view shown_text(std::string_view text) {
    text = skip_blanks(text);
    token_reader tokens(text);
    std::string_view token;
    for (int k = 0; k < 3 && tokens.next(token); ++k) {
    }
    return trimmed(text.substr(0, text.size() - tokens.rest().size()));
}

bool is_unit_au(std::string_view text) { return text == "AU" || text == "au"; }

// What may follow a number in its token: a unit, or punctuation that ends a phrase.
bool is_value_suffix(std::string_view suffix) {
    return suffix.empty() || suffix == "km" || is_unit_au(suffix) ||
           std::all_of(suffix.begin(), suffix.end(), [](char c) { return c == ',' || c == ';' || c == ')'; });
}

// Bit i of the words: byte i of a line of at most a piece is no blank. Made 16 bytes at a time,
// none of them past the line's end.
void nonblank_mask(std::string_view line, line_mask& words) {
    const char* const p = line.data();
    const std::size_t size = line.size();
    words = {};
    std::size_t at = 0;
    for (; at + 16 <= size; at += 16) words[at / 64] |= std::uint64_t{~masks::whitespace16(p + at) & 0xFFFFu} << (at % 64);
    if (at < size) {
        // The last bytes: from a load that ends at the line's end, where the line has 16 bytes.
        std::uint64_t last = 0;
        if (size >= 16) {
            last = (~masks::whitespace16(p + size - 16) & 0xFFFFu) >> (16 - (size - at));
        } else {
            for (std::size_t k = at; k < size; ++k) last |= std::uint64_t{!is_whitespace(p[k])} << (k - at);
        }
        words[at / 64] |= last << (at % 64);
    }
}

// The tokens of a line of at most a piece, runs of bytes between blanks, from its mask.
class line_tokens {
public:
    line_tokens(std::string_view line, const line_mask& nonblank);
    std::size_t count() const { return count_; }
    const char* data() const { return line_.data(); }
    std::size_t size() const { return line_.size(); }
    // Where token k (k < count()) begins, and one past its last byte.
    std::size_t start(std::size_t k) const { return starts_[k]; }
    std::size_t end(std::size_t k) const { return ends_[k]; }
    // Token k; empty past the last.
    std::string_view operator[](std::size_t k) const {
        return k < count_ ? line_.substr(starts_[k], ends_[k] - starts_[k]) : std::string_view();
    }
    // The line from token k on; empty past the last.
    std::string_view from(std::size_t k) const { return k < count_ ? line_.substr(starts_[k]) : std::string_view(); }

private:
    static constexpr std::size_t MOST = (LINE_PIECE_BYTES + 1) / 2;
    std::string_view line_;
    std::uint8_t starts_[MOST];
    std::uint8_t ends_[MOST];  // one past each token's last byte
    std::size_t count_ = 0;
};

line_tokens::line_tokens(std::string_view line, const line_mask& words) : line_(line) {
    constexpr std::size_t WORDS = std::tuple_size_v<line_mask>;
    // A token starts at a byte that is not a blank after one that is, and ends before a blank.
    std::size_t ends = 0;
    std::uint64_t before = 0;  // whether the last byte of the word before is no blank
    for (std::size_t w = 0; w < WORDS; ++w) {
        const std::uint64_t bits = words[w];
        const std::uint64_t after = w + 1 < WORDS ? words[w + 1] & 1 : 0;
        for (std::uint64_t starts = bits & ~(bits << 1 | before); starts != 0; starts &= starts - 1) {
            starts_[count_++] = static_cast<std::uint8_t>(64 * w + static_cast<std::size_t>(std::countr_zero(starts)));
        }
        for (std::uint64_t lasts = bits & ~(bits >> 1 | after << 63); lasts != 0; lasts &= lasts - 1) {
            ends_[ends++] = static_cast<std::uint8_t>(64 * w + static_cast<std::size_t>(std::countr_zero(lasts)) + 1);
        }
        before = bits >> 63;
    }
}

bool is_label(std::string_view token);

// Whether the three tokens after a value's say it is in kilometres: "km" next, or after the
// "+/-" and the sigma, or glued to the sigma. Only a sigma or a unit begins "+" or "k".
bool km_after(std::string_view next, std::string_view second, std::string_view third) {
    if (next.empty() || (next[0] != '+' && next[0] != 'k')) return false;
    if (next == SIGMA_MARK) return second.ends_with("km") || third == "km";
    if (next.starts_with(SIGMA_MARK)) return next.ends_with("km") || second == "km";
    return next == "km";
}

// The value glued to the label that ends `glued_at` bytes into token k, or where nothing is
// glued to it, the token after it, past an "=" standing before that. A label that begins its
// line is one whatever follows; after other text, a label followed by no number may be a word,
// and then gives nothing, unless what follows is a row of stars (how fixed-width tables print a
// value too large for its place). A value followed by "km", next or after its "+/-" and sigma,
// is given in au.
// `own_token`, where given, is set to the value's token when the value stands in the token after
// the label's, with nothing between, and to none (count()) otherwise.
read_value value_at(const line_tokens& tokens, std::size_t k, std::size_t glued_at, bool starts_line,
                    std::size_t* own_token = nullptr) {
    const char* const line = tokens.data();
    const std::size_t count = tokens.count();
    std::size_t begin = tokens.start(k) + glued_at;
    std::size_t end = tokens.end(k);
    if (own_token != nullptr) *own_token = count;
    if (begin >= end) {
        if (++k < count) {
            begin = tokens.start(k);
            end = tokens.end(k);
            if (own_token != nullptr) *own_token = k;
            if (end - begin == 1 && (line[begin] == '=' || line[begin] == ':') && ++k < count) {
                begin = tokens.start(k);
                end = tokens.end(k);
                if (own_token != nullptr) *own_token = count;
            }
        }
        if (k >= count) return starts_line ? unread(unread_reason::no_value) : read_value{};
    }
    if (line[begin] == '=') ++begin;
    const std::string_view token(line + begin, end - begin);
    double value;
    exact_decimal decimal;
    const std::size_t length = std::min(read_number({line + begin, tokens.size() - begin}, value, &decimal), token.size());
    if (length == 0) {
        if (starts_line && (token.empty() || is_label(token))) return unread(unread_reason::no_value);
        if (starts_line || token.starts_with('*')) return unread(unread_reason::not_a_number, token);
        return {};
    }
    const std::string_view suffix = token.substr(length);
    bool km = false;
    if (!suffix.empty()) {
        if (own_token != nullptr) *own_token = count;
        if (!is_value_suffix(suffix)) return unread(unread_reason::not_a_number, token);
        km = suffix == "km";
    } else {
        km = km_after(tokens[k + 1], tokens[k + 2], tokens[k + 3]);
    }
    if (km) return read_as(value / KM_PER_AU);
    return read_as(value, decimal);
}

// A perihelion time given as a Julian date; a date beyond the doubles is none.
read_value julian_time(std::string_view number) {
    exact_decimal decimal;
    const double mjd = mjd_of_julian_date(number, &decimal);
    if (!std::isfinite(mjd)) return unread(unread_reason::not_a_date, number);
    return read_as(mjd, decimal);
}

// A perihelion time written after a "T" label: a date, or a Julian date marked JD or JDT.
read_value time_after_label(std::string_view text) {
    text = skip_blanks(text);
    if (!text.empty() && text.front() == '=') text = skip_blanks(text.substr(1));
    if (text.empty() || !is_digit(text.front())) return {};
    token_reader tokens(text);
    std::string_view number, mark;
    tokens.next(number);
    if (tokens.next(mark) && (mark == "JDT" || mark == "JD") && number_length(number) == number.size()) {
        return julian_time(number);
    }
    exact_decimal decimal;
    const double mjd = mjd_of_date(text, &decimal);
    if (std::isnan(mjd)) return unread(unread_reason::not_a_date, shown_text(text));
    return read_as(mjd, decimal);
}

// ---- Which label gives which value ----

// A letter that labels a value where it begins a token, the rest of the token perhaps the value;
// the byte each label begins with gives its value.
constexpr element NO_LABEL = static_cast<element>(ELEMENT_COUNT);
constexpr std::array<element, 256> LETTER_LABELS = [] {
    std::array<element, 256> labels{};
    labels.fill(NO_LABEL);
    for (const auto& [letter, value] : {std::pair{'M', element::M}, std::pair{'n', element::n}, std::pair{'a', element::a},
                                        std::pair{'e', element::e}, std::pair{'q', element::q}, std::pair{'H', element::H},
                                        std::pair{'G', element::G}, std::pair{'T', element::Tp}}) {
        labels[static_cast<unsigned char>(letter)] = value;
    }
    return labels;
}();

// Labels that may stand wherever in a line, as words.
struct word_label {
    std::string_view word;
    element value;
};
constexpr word_label WORD_LABELS[] = {{"Peri.", element::w}, {"Node", element::Omega}, {"Incl.", element::i}};

// The bytes a token that is or holds a label begins with: the letters, the words' first
// letters, and the "[" of a Markdown link ("[H](https://...)").
constexpr std::array<bool, 256> MAY_BEGIN_LABEL = [] {
    std::array<bool, 256> may{};
    for (std::size_t byte = 0; byte < may.size(); ++byte) may[byte] = LETTER_LABELS[byte] != NO_LABEL;
    for (const word_label& label : WORD_LABELS) may[static_cast<unsigned char>(label.word[0])] = true;
    may['['] = true;
    return may;
}();

// Keeps a value read: the first readable one of each label wins, and one that could not be read
// is noted only while none that could has been.
void keep(labeled_elements& out, element which, const read_value& read) {
    const auto k = static_cast<std::size_t>(which);
    if (!read.found || !std::isnan(out.values[k])) return;
    if (read.reason == unread_reason::none) {
        out.values[k] = read.value;
        out.decimals[k] = read.decimal;
        out.unread[k] = unread_reason::none;
    } else if (out.unread[k] == unread_reason::none) {
        out.unread[k] = read.reason;
        out.unread_text[k] = read.text;
    }
}

// Whether a token is a label with nothing glued to it: a value's label standing where a value
// would, which then has none.
bool is_label(std::string_view token) {
    if (token.size() == 1) return LETTER_LABELS[static_cast<unsigned char>(token[0])] != NO_LABEL;
    return std::any_of(std::begin(WORD_LABELS), std::end(WORD_LABELS), [&](const word_label& label) { return label.word == token; });
}

// Reads the value of the label that token k is or begins with, if it is one, and no value of
// that label has been read yet.
// With a shape, what it did is noted there, or the shape made unknown where the same line of the
// next block could not be read by repeating it.
void read_label(const line_tokens& tokens, std::size_t k, labeled_elements& out, line_shape* shape) {
    const char* const token = tokens.data() + tokens.start(k);
    const std::size_t size = tokens.end(k) - tokens.start(k);
    const bool starts_line = k == 0;
    element which = NO_LABEL;
    std::size_t label_length = 1;
    bool anywhere = false;  // a word, which is a label wherever it stands
    switch (token[0]) {
        case '[':
            // A Markdown link whose text is a letter label: "[H](https://...)".
            if (size < 4 || token[2] != ']' || token[3] != '(' || token[size - 1] != ')') return;
            which = LETTER_LABELS[static_cast<unsigned char>(token[1])];
            label_length = size;
            break;
        case 'P':
        case 'N':
        case 'I':
            for (const word_label& label : WORD_LABELS) {
                if (size >= label.word.size() && std::string_view(token, label.word.size()) == label.word) {
                    which = label.value;
                    label_length = label.word.size();
                    anywhere = true;
                }
            }
            break;
        default: {
            which = LETTER_LABELS[static_cast<unsigned char>(token[0])];
            // Glued to its value, the letter is followed by the number's first byte.
            const char next = size > 1 ? token[1] : ' ';
            double value;
            if (size > 1 && !(is_digit(next) || next == '.' || next == '-' || next == '+')) return;
            if (size > 1 && read_number({token + 1, tokens.size() - tokens.start(k) - 1}, value) == 0) return;
            break;
        }
    }
    if (which == NO_LABEL) return;
    // What the reading of this label depends on beyond its token: whether one was read before,
    // and a value not in a token of its own, is not noted; the shape is then unknown.
    if (!std::isnan(out.values[static_cast<std::size_t>(which)]) || which == element::Tp) {
        if (shape != nullptr) shape->known = false;
        if (which != element::Tp) return;
        keep(out, which, time_after_label(label_length < size ? tokens.from(k).substr(label_length) : tokens.from(k + 1)));
        return;
    }
    std::size_t own_token;
    const read_value read = value_at(tokens, k, label_length, starts_line || anywhere, &own_token);
    keep(out, which, read);
    if (shape == nullptr) return;
    if (own_token >= tokens.count() || !read.found || read.reason != unread_reason::none || shape->value_count == line_shape::MOST_LABELS) {
        shape->known = false;
        return;
    }
    line_shape::value_read& noted = shape->values[shape->value_count++];
    noted.which = which;
    for (std::size_t t = 0; t < 4; ++t) {
        const std::size_t at = own_token + t;
        noted.tokens[t][0] = at < tokens.count() ? static_cast<std::uint8_t>(tokens.start(at)) : 0;
        noted.tokens[t][1] = at < tokens.count() ? static_cast<std::uint8_t>(tokens.end(at)) : 0;
    }
}

// Every label of an element line, token by token; with a shape, noting what it did there.
void read_element_line(std::string_view line, const line_mask& nonblank, labeled_elements& out, line_shape* shape) {
    const line_tokens tokens(line, nonblank);
    const char* const bytes = tokens.data();
    if (shape != nullptr) {
        shape->known = true;
        shape->size = line.size();
        shape->nonblank = nonblank;
        shape->label_starts = {};
        shape->label_count = shape->value_count = 0;
    }
    for (std::size_t k = 0; k < tokens.count(); ++k) {
        const std::size_t start = tokens.start(k);
        if (!MAY_BEGIN_LABEL[static_cast<unsigned char>(bytes[start])]) continue;
        if (shape != nullptr) {
            const std::size_t length = tokens.end(k) - start;
            if (length > line_shape::LABEL_BYTES || shape->label_count == line_shape::MOST_LABELS) {
                shape->known = false;
            } else {
                line_shape::label_token& label = shape->labels[shape->label_count++];
                label.start = static_cast<std::uint8_t>(start);
                label.length = static_cast<std::uint8_t>(length);
                std::memcpy(label.bytes, bytes + start, length);
                shape->label_starts[start / 64] |= std::uint64_t{1} << (start % 64);
            }
        }
        read_label(tokens, k, out, shape != nullptr && shape->known ? shape : nullptr);
    }
}

// Reads an element line by the shape the same line of the block before had, where its tokens
// stand where that line's did and those that may begin a label are the same bytes: each value
// from where that line's stood, read as read_label reads it. False where the line does not have
// the shape or a value is not where it was.
bool read_by_shape(std::string_view line, const line_mask& nonblank, const line_shape& shape, labeled_elements& out) {
    if (!shape.known || line.size() != shape.size || nonblank != shape.nonblank) return false;
    const char* const bytes = line.data();
    // The tokens that may begin a label stand where they did, and are the same.
    line_mask label_starts{};
    std::uint64_t before = 0;
    for (std::size_t w = 0; w < nonblank.size(); ++w) {
        for (std::uint64_t starts = nonblank[w] & ~(nonblank[w] << 1 | before); starts != 0; starts &= starts - 1) {
            const std::size_t at = 64 * w + static_cast<std::size_t>(std::countr_zero(starts));
            if (MAY_BEGIN_LABEL[static_cast<unsigned char>(bytes[at])]) label_starts[w] |= starts & -starts;
        }
        before = nonblank[w] >> 63;
    }
    if (label_starts != shape.label_starts) return false;
    for (std::size_t k = 0; k < shape.label_count; ++k) {
        const line_shape::label_token& label = shape.labels[k];
        for (std::size_t at = 0; at < label.length; ++at) {
            if (bytes[label.start + at] != label.bytes[at]) return false;
        }
    }
    // Each value where it was, a whole token read as a number, as value_at reads it. A value that
    // is not leaves the line to the full reading, which keeps what was kept here as it would.
    for (std::size_t k = 0; k < shape.value_count; ++k) {
        const auto token = [&](std::size_t t) {
            const auto& [from, to] = shape.values[k].tokens[t];
            return std::string_view(bytes + from, static_cast<std::size_t>(to - from));
        };
        const std::string_view text = token(0);
        double number;
        exact_decimal decimal;
        if (text[0] == '=' || read_number({text.data(), line.size() - shape.values[k].tokens[0][0]}, number, &decimal) != text.size()) {
            return false;
        }
        keep(out, shape.values[k].which, km_after(token(1), token(2), token(3)) ? read_as(number / KM_PER_AU) : read_as(number, decimal));
    }
    return true;
}

// The line that reports the observations a solution rests on ends a block: "From 13
// observations ...", "34 of 37 observations ...". Rows after it are not the block's.
bool is_residual_line(std::string_view line) {
    if (line.empty() || (line[0] != 'F' && !is_digit(line[0]))) return false;
    token_reader tokens(line);
    std::string_view first, second;
    if (!tokens.next(first) || !tokens.next(second)) return false;
    return (first == "From" && is_digit(second.front())) || (all_digits(first) && (second == "of" || second == "observations"));
}

// ---- The lines above the epoch line ----

constexpr std::string_view PERICENTRE_WORDS[] = {"Perihelion", "Perigee", "Perilune", "Peribarion"};
constexpr orbit_center PERICENTRE_CENTERS[] = {orbit_center::sun, orbit_center::earth, orbit_center::moon,
                                               orbit_center::barycentre};
constexpr std::string_view HEADING = "Orbital elements";

// Which pericentre line this is (an index into PERICENTRE_WORDS), or -1.
int pericentre_kind(std::string_view line) {
    const std::string_view word = first_token(skip_blanks(line));
    for (int k = 0; k < static_cast<int>(std::size(PERICENTRE_WORDS)); ++k) {
        if (word == PERICENTRE_WORDS[k]) return k;
    }
    return -1;
}

// The perihelion time a pericentre line gives: its "(JD ...)" where it prints one, else its date.
read_value pericentre_time(std::string_view line) {
    if (const std::size_t at = line.find("(JD "); at != std::string_view::npos) {
        std::string_view number = skip_blanks(line.substr(at + 4));
        number = number.substr(0, number_length(number));
        if (!number.empty()) return julian_time(number);
    }
    const std::string_view after = skip_blanks(line).substr(first_token(skip_blanks(line)).size());
    exact_decimal decimal;
    const double mjd = mjd_of_date(after, &decimal);
    if (std::isnan(mjd)) return unread(unread_reason::not_a_date, shown_text(after));
    return read_as(mjd, decimal);
}

// Text with HTML tags at its ends taken off ("<b>Orbital elements:  C/2017 U1</b>").
std::string_view without_tags(std::string_view text) {
    text = trimmed(text);
    while (!text.empty() && text.front() == '<') {
        const std::size_t end = text.find('>');
        if (end == std::string_view::npos) break;
        text = trimmed(text.substr(end + 1));
    }
    if (const std::size_t tag = text.find('<'); tag != std::string_view::npos) text = trimmed(text.substr(0, tag));
    return text;
}

// The text after an "Orbital elements:" heading ("Orbital elements (before):" too); the whole
// text where there is none. `heading` tells which.
std::string_view after_heading(std::string_view text, bool& heading) {
    heading = text.starts_with(HEADING);
    if (!heading) return text;
    const std::size_t colon = text.find(':');
    heading = colon != std::string_view::npos;
    return heading ? trimmed(text.substr(colon + 1)) : text;
}

// A line that notes something about the block between its designation and its epoch line: an
// "Id" line, "Range: ...", "A1: ..." (a word and a colon, not the heading).
bool is_note_line(std::string_view line) {
    const std::string_view text = skip_blanks(line);
    if (text.starts_with(ID_PREFIX)) return true;
    const std::string_view word = first_token(text);
    return word.size() >= 2 && word.back() == ':' && !text.starts_with(HEADING);
}

// ---- The designation ----

// A minor planet's provisional designation after its year: two letters and digits ("XX1", "BD"),
// or a survey's ("P-L", "T-2").
bool is_half_month_part(std::string_view token) {
    if (token == "P-L" || token == "T-1" || token == "T-2" || token == "T-3") return true;
    if (token.size() < 2 || !is_upper(token[0]) || !is_upper(token[1])) return false;
    return std::all_of(token.begin() + 2, token.end(), is_digit);
}

// A comet's after its year: a letter, digits and perhaps a fragment ("X1", "U1", "B2-A").
bool is_comet_half_month_part(std::string_view token) {
    if (token.empty() || !is_upper(token[0])) return false;
    std::size_t at = 1;
    while (at < token.size() && is_digit(token[at])) ++at;
    return at > 1 && (at == token.size() || token[at] == '-');
}

// The designation at the start of `text`, as the length of text it takes: "2024 AB1",
// "C/2010 X1", "P/2010 V1", "1P" of "1P/Halley"; 0 where the text begins with none.
std::size_t designation_length(std::string_view text, bool& comet_with_name) {
    comet_with_name = false;
    token_reader tokens(text);
    std::string_view first, second;
    if (!tokens.next(first)) return 0;
    tokens.next(second);
    const std::size_t second_end = second.empty() ? 0 : static_cast<std::size_t>(second.data() + second.size() - text.data());
    // Comets: a type letter after a periodic number or none, a slash, then the year or the name.
    const std::size_t slash = first.find('/');
    const auto periodic_number = [&] { return slash == 1 || all_digits(first.substr(0, slash - 1)); };
    if (slash != std::string_view::npos && slash >= 1 && periodic_number() &&
        std::string_view("PCDXIA").find(first[slash - 1]) != std::string_view::npos) {
        const std::string_view after = first.substr(slash + 1);
        if (all_digits(after) && after.size() == 4 && is_comet_half_month_part(second)) return second_end;
        if (!after.empty() && slash >= 2) {
            comet_with_name = true;  // "1P/Halley": the name follows the slash
            return slash;
        }
        return 0;
    }
    const bool year = all_digits(first) && first.size() == 4;
    const bool old_year = first.size() == 4 && is_upper(first[0]) && all_digits(first.substr(1));  // "A908"
    if ((year || old_year) && is_half_month_part(second)) return second_end;
    return 0;
}

// A name or designation ends where the annotations after it begin: a run of two blanks (the
// original layout), an "=" (an identification), a comma ("PHA, Earth MOID ..."), or a note of
// hazard standing alone.
std::string_view before_annotations(std::string_view text) {
    std::size_t end = 0;
    for (token_reader tokens(text); ;) {
        std::string_view token;
        const std::string_view before = tokens.rest();
        if (!tokens.next(token)) break;
        const auto token_start = static_cast<std::size_t>(token.data() - text.data());
        const std::size_t blanks = static_cast<std::size_t>(token.data() - before.data());
        if (end > 0 && blanks >= 2) break;
        if (end > 0 && (token.front() == '=' || token == "PHA" || token == "NEO" || token == "PHA," || token == "NEO,")) break;
        if (const std::size_t comma = token.find(','); comma != std::string_view::npos) {
            end = token_start + comma;
            break;
        }
        end = token_start + token.size();
    }
    return trimmed(text.substr(0, end));
}

// Another name given in the identifications after a designation, "= NORAD 44432 = Spektr-RG": the
// last that is a name, not a designation or a catalogue number ("= 1954 XA", "= A11e2xJ").
// `text` is what follows the designation.
std::string_view alias_name(std::string_view text) {
    if (!text.starts_with('=')) return {};
    std::string_view name;
    for (std::size_t at = 0; at != std::string_view::npos; at = text.find('=', at + 1)) {
        std::string_view alias = trimmed(text.substr(at + 1));
        alias = trimmed(alias.substr(0, alias.find('=')));
        bool comet;
        if (alias.empty() || !is_letter(alias.front()) || alias.starts_with("NORAD") || designation_length(alias, comet) > 0) {
            continue;
        }
        const bool one_token = first_token(alias).size() == alias.size();
        if (!(one_token && std::any_of(alias.begin(), alias.end(), is_digit))) name = alias;
    }
    return name;
}

void read_designation(std::string_view text, labeled_elements& out) {
    if (text.starts_with('(')) {
        const std::size_t close = text.find(')');
        if (close != std::string_view::npos) {
            const std::string_view inside = trimmed(text.substr(1, close - 1));
            out.has_number = designation_number(inside, out.number);
            text = trimmed(text.substr(close + 1));
        }
    }
    bool comet_with_name;
    const std::size_t length = designation_length(text, comet_with_name);
    if (length > 0) {
        out.designation = text.substr(0, length);
        std::string_view rest = skip_blanks(text.substr(length + (comet_with_name ? 1 : 0)));
        if (comet_with_name) {
            out.name = before_annotations(rest);
        } else if (rest.starts_with('(')) {
            // A comet's name in parentheses after its designation.
            const std::size_t close = rest.find(')');
            if (close != std::string_view::npos) out.name = trimmed(rest.substr(1, close - 1));
        }
        if (out.name.empty()) out.name = alias_name(rest);
    } else {
        std::string_view identity = before_annotations(text);
        const std::string_view rest = skip_blanks(text.substr(identity.size()));
        // A parenthesis after a name describes it ("Artemis-1 ICPS (Interim ...)").
        if (const std::size_t open = identity.find(" ("); open != std::string_view::npos) identity = trimmed(identity.substr(0, open));
        // A name is words; a lone word with digits in it is an observer's temporary designation.
        const bool designation_like = !out.has_number && !identity.empty() && first_token(identity).size() == identity.size() &&
                                      std::any_of(identity.begin(), identity.end(), is_digit);
        (designation_like ? out.designation : out.name) = identity;
        if (out.name.empty()) out.name = alias_name(rest);
    }
}

}  // namespace

block_lines lines_of_block(const element_scanner& scanner, const element_block& block) {
    block_lines lines;
    for (std::size_t row = 0; row < BLOCK_ROWS; ++row) lines.rows[row] = block.row(row).text();
    lines.above_count = scanner.lines_above(lines.above);
    lines.epoch_line = scanner.epoch_line();
    return lines;
}

bool labeled_elements::any_unread() const {
    return std::any_of(std::begin(unread), std::end(unread), [](unread_reason reason) { return reason != unread_reason::none; });
}

namespace {

// The block but for its element lines, which `read_line(row, line)` reads, row by row.
template <class Read_line>
void read_block(const block_lines& lines, labeled_elements& out, Read_line read_line) {
    // Each field set afresh (a fresh object would be built and copied, for every block).
    out.line = lines.epoch_line;
    out.name = out.designation = {};
    out.number = 0;
    out.has_number = false;
    std::fill(std::begin(out.values), std::end(out.values), MISSING);
    std::fill(std::begin(out.decimals), std::end(out.decimals), exact_decimal{});
    std::fill(std::begin(out.unread), std::end(out.unread), unread_reason::none);
    out.center = orbit_center::sun;

    // The designation: the line above the epoch line, or above an "Id" line, a pericentre line or
    // a line of notes between; a bare heading leaves none.
    std::size_t k = 0;
    for (; k < lines.above_count; ++k) {
        const std::string_view line = lines.above[k];
        if (const int kind = pericentre_kind(line); kind >= 0) {
            out.center = PERICENTRE_CENTERS[kind];
            keep(out, element::Tp, pericentre_time(line));
        } else if (!is_note_line(line)) {
            break;
        }
    }
    if (k < lines.above_count) {
        bool heading;
        const std::string_view text = after_heading(without_tags(lines.above[k]), heading);
        if (!(heading && text.empty())) read_designation(text, out);
    }
    out.formula_like = formula_like(out.name) || formula_like(out.designation);

    // The epoch, from the Julian date after "JDT".
    const std::string_view epoch_line = lines.rows[1];
    const auto epoch = static_cast<std::size_t>(element::epoch);
    if (const std::size_t mark = epoch_line.find(JDT_MARK); mark != std::string_view::npos) {
        std::string_view after = skip_blanks(epoch_line.substr(mark + JDT_MARK.size()));
        if (after.starts_with('=')) after = skip_blanks(after.substr(1));
        const std::string_view token = first_token(after);
        const std::size_t length = number_length(token);
        exact_decimal decimal;
        const double mjd = length > 0 && is_value_suffix(token.substr(length)) ? mjd_of_julian_date(token.substr(0, length), &decimal) : MISSING;
        if (std::isfinite(mjd)) {
            out.values[epoch] = mjd;
            out.decimals[epoch] = decimal;
        } else {
            out.unread[epoch] = unread_reason::no_julian_date;
            out.unread_text[epoch] = token;
        }
    }

    for (std::size_t row = 2; row < BLOCK_ROWS && !is_residual_line(lines.rows[row]); ++row) {
        const std::string_view line = lines.rows[row].substr(0, LINE_PIECE_BYTES);
        line_mask nonblank;
        nonblank_mask(line, nonblank);
        read_line(row - 2, line, nonblank);
    }
}

}  // namespace

void read_labeled_elements(const block_lines& lines, labeled_elements& out) {
    read_block(lines, out, [&](std::size_t, std::string_view line, const line_mask& nonblank) {
        read_element_line(line, nonblank, out, nullptr);
    });
}

void labeled_reader::read(const block_lines& lines, labeled_elements& out) {
    read_block(lines, out, [&](std::size_t row, std::string_view line, const line_mask& nonblank) {
        if (!read_by_shape(line, nonblank, shapes_[row], out)) read_element_line(line, nonblank, out, &shapes_[row]);
    });
}

}  // namespace orbitcsv
