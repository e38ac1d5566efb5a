#include "labeled_elements.hpp"
#include "sample_block.hpp"
#include "scan_results.hpp"
#include "string_sink.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace orbitcsv {
namespace {

// The elements table's rows (without the header) for `input`, read as `how` says into a buffer of
// `buffer_size` by the plain reading of each block; they are the same from the reader that
// repeats the shapes of lines.
std::string elements_csv(std::string_view input, reads how = {}, std::size_t buffer_size = DEFAULT_READ_BUFFER_BYTES) {
    string_sink sink;
    std::vector<char> storage(1 << 16);
    output_buffer out(sink, storage);
    memory_source source(input, how.read_size, how.pausing);
    const read_buffer buffer(buffer_size);
    element_scanner scanner(source, buffer);
    scanner.keep_places();
    element_block block;
    labeled_elements elements;
    labeled_elements repeated;
    labeled_reader reader;
    string_sink repeated_sink;
    std::vector<char> repeated_storage(1 << 16);
    output_buffer repeated_out(repeated_sink, repeated_storage);
    while (scanner.find_element_block(block)) {
        read_labeled_elements(lines_of_block(scanner, block), elements);
        write_elements_row(out, elements);
        reader.read(lines_of_block(scanner, block), repeated);
        write_elements_row(repeated_out, repeated);
    }
    EXPECT_TRUE(out.flush() && repeated_out.flush());
    EXPECT_EQ(repeated_sink.written, sink.written) << "the reader that repeats shapes";
    return sink.written;
}

// Collapses every run of blanks to one, as text copied from a web page has them.
std::string collapsed(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c == ' ' && !out.empty() && out.back() == ' ') continue;
        out += c;
    }
    return out;
}

struct layout_case {
    const char* name;
    std::string input;
    std::string rows;  // the elements table's rows
};

void PrintTo(const layout_case& c, std::ostream* out) { *out << c.name; }

class Layouts : public testing::TestWithParam<layout_case> {};

// Each layout gives its printed values, and the same with its blanks collapsed, at any buffer
// size of the scanner.
TEST_P(Layouts, GiveTheValuesTheTextPrints) {
    const layout_case& c = GetParam();
    EXPECT_EQ(elements_csv(c.input), c.rows);
    EXPECT_EQ(elements_csv(collapsed(c.input)), c.rows) << "blanks collapsed";
    EXPECT_EQ(elements_csv(c.input, {7}, MIN_READ_BUFFER_BYTES), c.rows) << "reads of 7 into the smallest buffer";
    // Block after block, the reader that repeats shapes reads them as the plain reading does.
    elements_csv(c.input + c.input + collapsed(c.input) + c.input);
}

const std::string EROS =
    "(433) Eros\n"
    "Epoch 2026 Dec. 17.0 TT = JDT 2461026.5\n"
    "M 197.25843                    (2000.0)             P               Q\n"
    "n   0.55976121     Peri.  178.88312    +0.41273645     -0.90984721\n"
    "a   1.4579614      Node   304.28871    +0.85203301     +0.38772165\n"
    "e   0.2228350      Incl.  10.82780     +0.32197486     +0.14762093\n"
    "P   3.62           H   11.16       G   0.46      U     2\n";

const std::string FITTED =
    "Orbital elements:\n"
    "1996 XX1\n"
    "   Perihelion 1998 Mar 8.969329 TT = 23:15:50 (JD 2450881.469329)\n"
    "Epoch 1997 Oct 13.0 TT = JDT 2450734.5   Earth MOID: 0.0615   Ma: 0.0049\n"
    "M 322.34260              (2000.0)            P               Q\n"
    "n   0.25622619     Peri.   72.47318     -0.50277681     -0.86441429\n"
    "a   2.45501241     Node    47.71084      0.79213697     -0.46159019\n"
    "e   0.5741560      Incl.    0.14296      0.34602670     -0.19930484\n"
    "P   3.85           H   15.8     U  8.4     q 1.04545221  Q 3.86457261\n";

INSTANTIATE_TEST_SUITE_P(Published, Layouts, testing::Values(
    layout_case{"CircularMinorPlanet", "prose\n" + EROS,
                "3,Eros,433,,11.16,0.46,197.25843,178.88312,304.28871,10.8278,0.55976121,1.4579614,,0.222835,,61026,Sun,\n"},
    layout_case{"CircularComet",
                "    C/2010 X1 (Elenin)\n"
                "Epoch 2011 Aug. 27.0 TT = JDT 2455800.5\n"
                "T 2011 Sept. 10.7227 TT                                 MPC\n"
                "q   0.482465             (2000.0)            P               Q\n"
                "z  -0.000057       Peri.  343.8056      +0.6023511      +0.7980000\n"
                " +/-0.000002       Node   323.2267      -0.7287563      +0.5399437\n"
                "e   1.000028       Incl.    1.8392      -0.3257108      +0.2676879\n",
                "2,Elenin,,C/2010 X1,,,,343.8056,323.2267,1.8392,,,0.482465,1.000028,55814.7227,55800,Sun,\n"},
    layout_case{"PeriodicCometWithItsName",
                "1P/Halley\nEpoch 1986 Feb. 19.0 TT = JDT 2446480.5\nT 1986 Feb. 9.45891 TT\nq 0.587104\n"
                "n 0.01296 Peri. 111.84658\na 17.94 Node 58.14397\ne 0.967277 Incl. 162.23932\n",
                "2,Halley,,1P,,,,111.84658,58.14397,162.23932,0.01296,17.94,0.587104,0.967277,46470.45891,46480,Sun,\n"},
    layout_case{"FittingProgramAboveAHeading", "x\n" + FITTED,
                "5,,,1996 XX1,15.8,,322.3426,72.47318,47.71084,0.14296,0.25622619,2.45501241,1.04545221,0.574156,"
                "50880.969329,50734,Sun,\n"},
    layout_case{"SigmasAndDesignationAfterTheHeading",
                "Orbital elements: 1996 XX1\n"
                "   Perihelion 1998 Mar 8.977252 +/- 0.109 TT (JD 2450881.477252)\n"
                "Epoch 1997 Oct 12.0 TT = JDT 2450733.5   Earth MOID: 0.0613   Ma: 0.0049\n"
                "M     322.109164 +/-   0.0574     (More MOIDs or area/mass goes here)\n"
                "n   0.256058518 +/- 0.000205      Peri.  72.530699 +/-   0.0861\n"
                "a   2.456084084 +/- 0.00131       Node   47.657952 +/-   0.0576\n"
                "e   0.57438774 +/- 0.000178       Incl.   0.143216 +/-   0.000294\n"
                "H   16.6    G 0.15     U  7.1   P 3.85012 +/- .00021\n",
                "3,,,1996 XX1,16.6,0.15,322.109164,72.530699,47.657952,0.143216,0.256058518,2.456084084,,0.57438774,"
                "50880.977252,50733,Sun,\n"},
    layout_case{"PerigeeInKilometresGluedToTheLabel",
                "2009 BD\n"
                "   Perigee 2009 Jan 25.247396 TT; A1=5.76e-11, A2=-1.29e-12\n"
                "Epoch 2009 Jan 22.0 TT = JDT 2454853.5                  OrbitFit\n"
                "q685927.806km       (2000.0)            P               Q\n"
                "H   28.6  G 0.15   Peri.   86.73833      0.01481057     -0.49410657\n"
                "                   Node   119.50263     -0.32898297      0.81855881\n"
                "e   2.9230182      Incl.   92.82529      0.94421970      0.29295079\n"
                "From 173 observations 2009 Jan. 16-2011 June 20; mean residual 0\".294.\n",
                "3,,,2009 BD,28.6,0.15,,86.73833,119.50263,92.82529,,,0.004585144178793449,2.9230182,54856.247396,54853,"
                "Earth,\n"},
    layout_case{"PeriluneWithAKilometreSigma",
                "Orbital elements: 1997 ZZ99\n"
                "   Perilune 1997 Apr 22.543629 +/- 0.021 TT (JD 2450561.043629)\n"
                "Epoch 1997 Apr 22.5 TT = JDT 2450561.0                  OrbitFit\n"
                "q 24606.5028 +/- 3.345 km         (More MOIDs or area/mass here)\n"
                "H   22.9  G 0.15                  Peri.  111.16531 +/- 0.0321\n"
                "z 934.123 +/- 3.14159             Node   193.85513 +/- 0.145\n"
                "e 659.1509995 +/- 3.456           Incl.    7.32769 +/- 0.0056\n"
                "From 33 of 35 observations 1997 Apr. 21-22; mean residual 1\".128.\n",
                "3,,,1997 ZZ99,22.9,0.15,,111.16531,193.85513,7.32769,,,0.00016448431174094245,659.1509995,50560.543629,"
                "50560.5,Moon,\n"},
    layout_case{"LabelsAfterTheVectorsAndAnEqualsSign",
                "(470) Kilia\n"
                "Epoch 2013 Nov. 4.0 TT = JDT 2456600.5                  MPC\n"
                "M  54.47380              (2000.0)            P               Q\n"
                "n   0.26424476     Peri.   47.60658     -0.75565416     +0.65480399             T = 2456394.35096 JDT\n"
                "a   2.4050925      Node   173.25052     -0.63179958     -0.72278517             q =     2.1781735\n"
                "e   0.0943494      Incl.    7.22565     -0.17267333     -0.22093739\n"
                "P   3.73           H   10.07          G   0.15           U   0\n",
                "2,Kilia,470,,10.07,0.15,54.4738,47.60658,173.25052,7.22565,0.26424476,2.4050925,2.1781735,0.0943494,"
                "56393.85096,56600,Sun,\n"},
    layout_case{"MarkdownLabelAndHtmlHeading",
                "<b>Orbital elements:  2023 OV1</b>\n"
                "   Perihelion 2023 Apr 13.12937 +/- 82.9 TT =  3:06:17 (JD 2460047.62937)\n"
                "Epoch 2023 Jul 23.0 TT = JDT 2460148.5   Earth MOID: 0.0009   Ve: 0.0507\n"
                "M 110.49561384 +/- 60               (J2000 ecliptic)             Auto-Find\n"
                "n   1.09541911 +/- 0.502            Peri.   53.27510 +/- 46\n"
                "a   0.93199984 +/- 0.285            Node   117.10053 +/- 60\n"
                "e   0.1951036 +/- 0.194             Incl.   11.07695 +/- 13\n"
                "P   0.90/328.64d           [H](https://example.org/sizes.html) 25.27  G  0.15   U 12.3  SR\n",
                "3,,,2023 OV1,25.27,0.15,110.49561384,53.2751,117.10053,11.07695,1.09541911,0.93199984,,0.1951036,"
                "60047.12937,60148,Sun,\n"},
    layout_case{"NotesBetweenNameAndEpochAndAFractionalEpoch",
                "GIOTTO\nRange: 1985 07 02   1986 04 03\n   Perihelion 1985 Mar 3.579075 TT\n"
                "Epoch 1985 Jul 15.25 TT = JDT 2446262.25\nM 159.31240\nn 1.19405856 Peri. 204.65838\n"
                "a 0.8799385 Node 281.74779\ne 0.1783803 Incl. 2.10274\nP H 32.0 G 0.15\n",
                "4,GIOTTO,,,32,0.15,159.3124,204.65838,281.74779,2.10274,1.19405856,0.8799385,,0.1783803,46127.579075,"
                "46261.75,Sun,\n"}),
    [](const auto& info) { return info.param.name; });

struct designation_case {
    const char* line;
    const char* name;
    const char* number;  // "" where there is none
    const char* designation;
};

TEST(LabeledElements, TakeDesignationsApart) {
    const designation_case cases[] = {
        {"(433) Eros", "Eros", "433", ""},
        {"(262623)", "", "262623", ""},
        {"2024 AB1", "", "", "2024 AB1"},
        {"2024 AB1          PHA, Earth MOID = 0.0173 AU", "", "", "2024 AB1"},
        {"2024 AB1 = 1954 XA", "", "", "2024 AB1"},
        {"(29075) 1950 DA", "", "29075", "1950 DA"},
        {"(4179) Toutatis, revised", "Toutatis", "4179", ""},
        {"(11021) Foder\xc3\xa0", "Foder\xc3\xa0", "11021", ""},
        {"P/2010 V1 (Siding Spring)", "Siding Spring", "", "P/2010 V1"},
        {"DRS044", "", "", "DRS044"},
        {"(null)  AGD1002", "", "", "AGD1002"},
        {"Orbital elements (before):  C/2017 U1 </b>", "", "", "C/2017 U1"},
        {"2000-045A = NORAD 26463 = Cluster II-FM5 Rumba", "Cluster II-FM5 Rumba", "", "2000-045A"},
        {"ZTF104t = A11rypW = ZTF104y", "", "", "ZTF104t"},
        {"Artemis-1 ICPS (Interim Cryogenic Propulsion Stage)", "Artemis-1 ICPS", "", ""},
        {"Orbital elements:", "", "", ""},
        {"", "", "", ""},
    };
    for (const designation_case& c : cases) {
        block_lines lines;
        lines.rows[1] = "Epoch 2000 Jan. 1.5 TT = JDT 2451545.0";
        lines.above[0] = c.line;
        lines.above_count = 1;
        labeled_elements elements;
        read_labeled_elements(lines, elements);
        EXPECT_EQ(elements.name, c.name) << c.line;
        EXPECT_EQ(elements.has_number ? std::to_string(elements.number) : "", c.number) << c.line;
        EXPECT_EQ(elements.designation, c.designation) << c.line;
    }
}

// A value printed but not readable is missing, and the note says which and why; so it is for a
// Julian date, a perihelion date, and a name that a spreadsheet would run.
TEST(LabeledElements, NoteWhatCouldNotBeRead) {
    const std::string input =
        "=HYPERLINK(1)\nEpoch 2026 Dec. 17.0 TT = JDT soon\nT 2026 Smarch 3.5 TT\nq   0.39 Peri. ********\n"
        "a unknown Node 21.5\ne 1.1 Incl. 139.1\nP H 13.2\n";
    EXPECT_EQ(elements_csv(input),
              "2,,,=HYPERLINK(1),13.2,,,,21.5,139.1,,,0.39,1.1,,,Sun,\"Not read: Peri. “********” (not a number), "
              "a “unknown” (not a number), T “2026 Smarch 3.5” (not a date), JDT “soon” (no Julian date after it); Name or "
              "number begins with =, +, - or @, which a spreadsheet may take for a formula\"\n");
}

// Dates written with more decimals than an integer holds in units of the last are read as doubles.
TEST(LabeledElements, ReadDatesOfManyDecimals) {
    const std::string input = "(1) A\nEpoch 2000 Jan. 1.5 TT = JDT 2451545.00000000000001\nT 2000 Jan. 1.500000000000001 TT\n"
                              "q 1\ne 0.5\nn 1\nP\n";
    EXPECT_EQ(elements_csv(input), "2,A,1,,,,,,,,1,,1,0.5,51544.5,51544.5,Sun,\n");
}

// Where the table's columns hold what the labels give, the two agree: every value that stands
// within its columns as a number is the labeled one, and the epoch is the Julian date less
// 2400000.5, in blocks of the circulars' minor-planet layout with random values and widths.
TEST(LabeledElements, AgreeWithTheTableColumnsOfTheMinorPlanetLayout) {
    std::mt19937 random(20261210);
    const auto number = [&](int integer, int decimals) {
        std::string text = std::to_string(std::uniform_int_distribution<int>(0, 359)(random) % static_cast<int>(std::pow(10, integer)));
        text += '.';
        for (int k = 0; k < decimals; ++k) text += static_cast<char>('0' + random() % 10);
        return text;
    };
    const auto pad = [](std::string text, std::size_t width) { return text + std::string(width > text.size() ? width - text.size() : 1, ' '); };
    std::string input;
    for (int block = 0; block < 300; ++block) {
        const int jd_decimals = static_cast<int>(random() % 9);
        input += "(" + std::to_string(block + 1) + ") Name\n";
        input += "Epoch 2026 Dec. 17.0 TT = JDT 24" + std::to_string(10000 + random() % 90000) +
                 (jd_decimals > 0 ? "." + std::string(static_cast<std::size_t>(jd_decimals), '5') : "") + "\n";
        input += "M " + pad(number(3, static_cast<int>(random() % 11)), 29) + "(2000.0)\n";
        input += "n   " + pad(number(1, 8), 15) + "Peri.  " + pad(number(3, static_cast<int>(random() % 6)), 13) + "+0.41273645\n";
        input += "a   " + pad(number(2, 7), 15) + "Node   " + pad(number(3, 5), 13) + "+0.85203301\n";
        input += "e   " + pad(number(0, 7), 15) + "Incl.  " + pad(number(2, 5), 13) + "+0.32197486\n";
        input += "P   3.62           H   " + pad(number(2, 2), 12) + "G   " + pad(number(0, 2), 10) + "U     2\n";
    }
    memory_source source(input);
    const read_buffer buffer(DEFAULT_READ_BUFFER_BYTES);
    element_scanner scanner(source, buffer);
    scanner.keep_places();
    element_block block;
    orbit_record record;
    labeled_elements elements;
    labeled_elements plain;
    labeled_reader reader;
    int blocks = 0;
    while (scanner.find_element_block(block)) {
        ++blocks;
        convert_block(block, record);
        reader.read(lines_of_block(scanner, block), elements);
        read_labeled_elements(lines_of_block(scanner, block), plain);
        for (std::size_t k = 0; k < ELEMENT_COUNT; ++k) {
            EXPECT_TRUE(elements.values[k] == plain.values[k] || (std::isnan(elements.values[k]) && std::isnan(plain.values[k])));
        }
        EXPECT_EQ(elements.number, blocks);
        for (const element_column& column : ELEMENT_COLUMNS) {
            const std::string_view line = block.row(column.row).text();
            // Within its columns: blanks, or the line's end, on both sides of the value.
            const bool within = line.size() <= column.first || line[column.first] == ' ' ||
                                (column.first > 0 && line[column.first - 1] == ' ');
            const bool whole = line.size() <= column.last + 1 || line[column.last + 1] == ' ';
            const double table = number_value((record.*column.field).view());
            if (!within || !whole || std::isnan(table)) continue;
            const auto field = value_field_index(column.field);
            static constexpr element LABELS[] = {element::H, element::G, element::M, element::w, element::Omega,
                                                 element::i, element::e, element::a};
            EXPECT_EQ(elements.value(LABELS[field]), table) << line;
        }
        // The Julian date less 2400000.5 worked out in decimal, then read: the nearest double.
        const std::string_view epoch_line = block.row(1).text();
        std::string jd(epoch_line.substr(epoch_line.find("JDT") + 4));
        if (jd.find('.') == std::string::npos) jd += ".0";
        const std::size_t decimals = jd.size() - jd.find('.') - 1;
        const long long scaled = std::stoll(jd.substr(0, jd.find('.')) + jd.substr(jd.find('.') + 1)) -
                                 24000005 * static_cast<long long>(std::pow(10, decimals - 1));
        const long long unit = static_cast<long long>(std::pow(10, decimals));
        std::string fraction = std::to_string(scaled % unit);
        fraction.insert(0, decimals - fraction.size(), '0');
        EXPECT_EQ(elements.value(element::epoch), std::strtod((std::to_string(scaled / unit) + "." + fraction).c_str(), nullptr))
            << epoch_line;
        EXPECT_TRUE(columns_fit_labels(record, elements)) << epoch_line << " " << record.magnitude_h.view() << " "
                                                          << record.magnitude_g.view() << " " << record.mean_anomaly.view();
    }
    EXPECT_EQ(blocks, 300);
}

}  // namespace
}  // namespace orbitcsv
