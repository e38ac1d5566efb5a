// The elements of a block read by their labels, as a person reads them: each value is the number
// after its label ("e", "Peri.", "q", ...), wherever the layout puts it, so that the circulars'
// minor-planet and comet blocks, the element files of orbit-fitting programs and text copied with
// its blanks collapsed all give the values they print. The table keeps its columns; the typed
// surfaces (the Python module's frame, the page's pictures, the elements table) read this.
#pragma once

#include "byte_io.hpp"
#include "element_block.hpp"
#include "orbit_record.hpp"
#include "record_values.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace orbitcsv {

// The values, in the order of the elements table's columns.
enum class element : std::uint8_t { H, G, M, w, Omega, i, n, a, q, e, Tp, epoch };
inline constexpr std::size_t ELEMENT_COUNT = 12;
inline constexpr std::string_view ELEMENT_NAMES[ELEMENT_COUNT] = {"H", "G", "M", "w", "Omega", "i",
                                                                  "n", "a", "q", "e", "Tp", "epoch"};
inline constexpr double KM_PER_AU = 149597870.7;

// What the orbit is about: the Sun, unless a perigee, perilune or peribarion line says otherwise.
enum class orbit_center : std::uint8_t { sun, earth, moon, barycentre };
inline constexpr std::string_view CENTER_NAMES[] = {"Sun", "Earth", "Moon", "Barycentre"};

// Why a value that the block prints could not be read.
enum class unread_reason : std::uint8_t { none, no_value, not_a_number, not_a_date, no_julian_date };

// The lines a block is read from: its seven rows as the scanner captured them, and the lines of
// its search above the epoch line, nearest first. Views, valid while the scanner's are.
struct block_lines {
    std::string_view rows[BLOCK_ROWS];
    std::string_view above[LINES_ABOVE];
    std::size_t above_count = 0;
    std::uint64_t epoch_line = 0;
};

// The block the scanner has just given, with what it holds about it (it keeps places).
block_lines lines_of_block(const element_scanner& scanner, const element_block& block);

struct labeled_elements {
    std::uint64_t line = 0;       // the input line of the epoch line, from 1
    std::string_view name;        // empty where there is none; views into the block's lines
    std::string_view designation;
    std::int64_t number = 0;
    bool has_number = false;
    double values[ELEMENT_COUNT];  // NaN where missing
    exact_decimal decimals[ELEMENT_COUNT];
    orbit_center center = orbit_center::sun;
    // For a value printed but not read: why, and the text that stood there.
    unread_reason unread[ELEMENT_COUNT];
    std::string_view unread_text[ELEMENT_COUNT];
    bool formula_like = false;  // a name or designation a spreadsheet would take for a formula

    double value(element which) const { return values[static_cast<std::size_t>(which)]; }
    bool any_unread() const;
};

// Reads the block. Nothing is computed from other elements and nothing is filled in: a value the
// text does not print is NaN. Reads nothing outside the lines it is given.
void read_labeled_elements(const block_lines& lines, labeled_elements& out);

// Bit i set where byte i of a line of at most a piece is no blank.
using line_mask = std::array<std::uint64_t, (LINE_PIECE_BYTES + 63) / 64>;

// What the reading of an element line did, for the same line of the next block: where its tokens
// stood, those that may begin a label and their bytes, and the values it read, each with its
// token and the three tokens after it (which may say kilometres).
struct line_shape {
    static constexpr std::size_t MOST_LABELS = 16;
    static constexpr std::size_t LABEL_BYTES = 8;
    struct label_token {
        std::uint8_t start;
        std::uint8_t length;
        char bytes[LABEL_BYTES];
    };
    struct value_read {
        element which;
        std::uint8_t tokens[4][2];  // the value's token and the next three: start, end (0, 0: none)
    };
    bool known = false;
    std::size_t size = 0;
    line_mask nonblank{};
    line_mask label_starts{};
    std::size_t label_count = 0;
    label_token labels[MOST_LABELS];
    std::size_t value_count = 0;
    value_read values[MOST_LABELS];
};

// Reads blocks one after another as read_labeled_elements does, and gives the same rows, faster
// where an element list's blocks repeat the shape of the one before: an element line whose
// tokens stand where the same line's of the block before did, with the same labels, has its
// values read where those stood, without taking the line apart again.
class labeled_reader {
public:
    void read(const block_lines& lines, labeled_elements& out);

private:
    line_shape shapes_[ELEMENT_LINES];
};

// The words that say which printed values could not be read and why, and that a name would be
// taken for a formula, joined by "; "; nothing when all was read. At most NOTE_CAPACITY bytes at
// `out`; returns how many.
std::size_t describe_elements(const labeled_elements& elements, char* out);

// Whether the table's columns of a row hold the values its labels give: each value column the
// same number as its label, or neither a number, the epoch within the table's six digits of it.
// False for a layout whose columns stand elsewhere (a comet's, an orbit-fitting program's).
bool columns_fit_labels(const orbit_record& record, const labeled_elements& elements);

// The elements table, in CSV: one row per block, numbers as the shortest text that reads back
// to the same double, empty where missing, fields quoted as RFC 4180 asks.
inline constexpr std::string_view ELEMENTS_CSV_HEADER =
    "line,name,number,designation,H,G,M,w,Omega,i,n,a,q,e,Tp,epoch,center,note\n";
// The most bytes one row takes: the name, designation and note with every byte a quote, doubled
// and quoted, and every number at its longest, with the commas.
inline constexpr std::size_t ELEMENTS_ROW_CAPACITY = 2 * (2 * LINE_CAPACITY + 2) + (2 * NOTE_CAPACITY + 2) + 16 * 32;
void write_elements_header(output_buffer& out);
void write_elements_row(output_buffer& out, const labeled_elements& elements);

// The whole elements table of the scanner's input (which keeps places from the start), until the
// input ends or a write fails; returns the rows written.
std::int64_t write_elements_table(element_scanner& scanner, output_buffer& out, element_block& block,
                                  labeled_elements& elements);

}  // namespace orbitcsv
