// End-to-end: runs the built program on files written here and checks its standard output,
// standard error, exit status and the files it leaves behind.
#include "run_program.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace orbitcsv::testing_support;

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_file(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

#if defined(_WIN32)
const std::string LINE_END = "\r\n";
// What Windows cannot do, or does otherwise, by case name.
const std::map<std::string, std::string> NOT_HERE = {
    {"OutputFileFull", "no /dev/full"},
    {"StandardOutputFull", "no /dev/full"},
    {"ClosedPipeEndsTheRunBySigpipe", "no SIGPIPE: a closed pipe is a write error"},
};
#elif defined(ORBITCSV_PROGRAM_UNDER_WASI)
const std::string LINE_END = "\n";
const std::map<std::string, std::string> NOT_HERE = {
    {"ClosedPipeEndsTheRunBySigpipe", "WASI has no signals: a closed pipe is a write error"},
    {"StandardInputClosed", "Node puts /dev/null in place of a standard stream closed at its start"},
    {"StandardOutputClosed", "Node puts /dev/null in place of a standard stream closed at its start"},
};
#else
const std::string LINE_END = "\n";
const std::map<std::string, std::string> NOT_HERE = {
    {"ClosedPipeIsAWriteError", "SIGPIPE ends the program instead"},
};
#endif

// The table and the messages as text mode writes them: each LF the platform's line end.
std::string as_text(const std::string& lines) {
    std::string text;
    for (const char c : lines) {
        if (c == '\n') {
            text += LINE_END;
        } else {
            text += c;
        }
    }
    return text;
}

struct outcome {
    std::string out, err;
    int status;  // the exit status, or 128 + the signal that ended the program
};

const std::string CLOSED = "|closed";
const std::string PIPE_WITHOUT_READER = "|pipe without reader";

// How the program's standard streams are set up; paths are relative to the test's folder
// unless absolute. An empty standard output path captures it.
struct streams {
    std::string in = NULL_DEVICE;
    std::string out;
    bool close_err = false;
};

class folder {
public:
    folder() {
        std::random_device random;
        do {
            path_ = fs::temp_directory_path() / ("orbitcsv-test-" + std::to_string(random()));
        } while (!fs::create_directory(path_));
    }
    ~folder() { fs::remove_all(path_); }
    // Names are UTF-8 text.
    fs::path operator/(const std::string& name) const {
        const fs::path path = utf8_path(name);
        return path.is_absolute() ? path : path_ / path;
    }

    outcome run(const std::vector<std::string>& args, const streams& setup = {}) const {
        const fs::path out_file = path_ / ".stdout", err_file = path_ / ".stderr";
        const auto stream = [&](const std::string& name, const fs::path& otherwise) {
            if (name == CLOSED) return child_stream{child_stream::closed, {}};
            if (name == PIPE_WITHOUT_READER) return child_stream{child_stream::pipe_without_reader, {}};
            return child_stream{child_stream::file, name.empty() ? otherwise : *this / name};
        };
        const int status = run_program(args, path_, stream(setup.in, {}), stream(setup.out, out_file),
                                       setup.close_err ? child_stream{child_stream::closed, {}}
                                                       : child_stream{child_stream::file, err_file});
        outcome result{setup.out.empty() ? read_file(out_file) : "", read_file(err_file), status};
        fs::remove(out_file);
        fs::remove(err_file);
        return result;
    }

private:
    fs::path path_;
};

const std::string HEADER =
    "Name,Magnitude H,Magnitude G,Mean anomaly,Arg. perihelion,Long. node,Inclination,"
    "Eccentricity,Semimajor axis,Epoch (MJD)\n";

const std::string EROS_LINES[] = {
    "Epoch 2000 Jan. 3.0 TT = JDT 2451546.5",
    "M 319.31943",
    "n   0.55974128     Peri.  178.63711",
    "a   1.4582472      Node   304.40070",
    "e   0.2229193      Incl.   10.82830",
    "P   1.76           H   11.16       G   0.46",
};
const std::string EROS_VALUES = ",11.16,0.46,319.31943,178.63711,304.40070,10.82830,0.2229193,1.4582472,51546\n";

// The epoch line and element lines of Eros under `designation`, with `end` after every line.
std::string eros(const std::string& designation, const std::string& end = "\n") {
    std::string text = designation + end;
    for (const std::string& line : EROS_LINES) text += line + end;
    return text;
}

struct cli_case {
    const char* name;
    std::map<std::string, std::string> files;  // written into the test's folder first
    std::vector<std::string> args;
    streams setup;
    std::string out, err;
    int status;
    // Tables expected afterwards, "-" for a file that must not exist, "=" for one that must hold
    // what was written to it before the run.
    std::map<std::string, std::string> files_after;
};

void PrintTo(const cli_case& c, std::ostream* out) { *out << c.name; }

class Cli : public testing::TestWithParam<cli_case> {};

TEST_P(Cli, WritesTheTableMessagesStatusAndFiles) {
    const cli_case& c = GetParam();
    if (const auto skip = NOT_HERE.find(c.name); skip != NOT_HERE.end()) GTEST_SKIP() << skip->second;
    const folder dir;
    for (const auto& [name, bytes] : c.files) write_file(dir / name, bytes);
    const outcome result = dir.run(c.args, c.setup);
    EXPECT_EQ(result.out, as_text(c.out));
    EXPECT_EQ(result.err, as_text(c.err));
    EXPECT_EQ(result.status, c.status);
    for (const auto& [name, expected] : c.files_after) {
        if (expected == "-") {
            EXPECT_FALSE(fs::exists(dir / name)) << name;
        } else {
            EXPECT_EQ(read_file(dir / name), expected == "=" ? c.files.at(name) : as_text(expected)) << name;
        }
    }
}

const std::string ROW = "Eros 433" + EROS_VALUES;

// Bytes of every value, none of them making an epoch line.
std::string garbage(std::size_t size) {
    std::string bytes(size, '\0');
    std::uint32_t state = 2026;
    for (char& byte : bytes) {
        state = state * 1664525 + 1013904223;
        byte = static_cast<char>(state >> 24);
    }
    return bytes;
}

std::string without_last_line(const std::string& text) {
    return text.substr(0, text.rfind('\n', text.size() - 2) + 1);
}

const std::string EPOCH_LINE = EROS_LINES[0] + "\n";
const std::string WITH_ZERO_BYTES = std::string("\0", 1) + EPOCH_LINE + std::string("(433) Er\0os\n", 12) + EPOCH_LINE +
                                    std::string("M 319\0.31943\n", 13) + EROS_LINES[2] + "\n" +
                                    std::string("\0a   1.4582472      Node   304.40070\n", 37) + EROS_LINES[4] +
                                    "\n" + EROS_LINES[5] + "\x1a\n";
const std::string PROSE = "Observations of the night, with residuals:\n  0.1-  0.2+\n\n";
const std::string LONG_NAME(120, 'L');
// Longer than any message is put together in: it is written in pieces.
const std::string LONG_FILE_NAME = std::string(5000, 'n') + ".txt";

INSTANTIATE_TEST_SUITE_P(Runs, Cli, testing::Values(
    cli_case{"OneBlockFromAFile", {{"in", PROSE + eros("(433) Eros") + PROSE}}, {"in"}, {},
             HEADER + ROW, "1 record written.\n", 0},
    cli_case{"EmptyInput", {{"in", ""}}, {"in"}, {}, HEADER, "0 records written.\n", 0},
    cli_case{"FiltersStandardInput", {{"in", eros("(433) Eros") + eros("(433) Eros") + eros("(433) Eros")}}, {},
             {.in = "in"}, HEADER + ROW + ROW + ROW, "3 records written.\n", 0},
    cli_case{"WritesTheNamedOutputAndIgnoresMoreArguments", {{"in", eros("(433) Eros")}}, {"in", "out.csv", "x", "y"},
             {}, "", "1 record written.\n", 0, {{"out.csv", HEADER + ROW}, {"x", "-"}}},
    cli_case{"CrLfLikeLf", {{"in", eros("(433) Eros", "\r\n")}}, {"in"}, {}, HEADER + ROW, "1 record written.\n", 0},
    cli_case{"LongLinesInPiecesLongNamesWhole",
             {{"in", eros("(1) " + LONG_NAME) + eros("(9) " + std::string(127, 'p') + "(2) Second")}}, {"in"}, {},
             HEADER + LONG_NAME + " 1" + EROS_VALUES + "Second 2" + EROS_VALUES, "2 records written.\n", 0},
    cli_case{"KeepsUtf8LettersAtTheEnd", {{"in", eros("(1234) Jos\xc3\xa9")}}, {"in"}, {},
             HEADER + "Jos\xc3\xa9 1234" + EROS_VALUES, "1 record written.\n", 0},
    cli_case{"QuotesAFirstColumnWithAComma", {{"in", eros("(4179) Toutatis, \"revised\"")}}, {"in"}, {},
             HEADER + "\"Toutatis, \"\"revised\"\" 4179\"" + EROS_VALUES, "1 record written.\n", 0},
    cli_case{"NoNameFromAnEarlierSearch", {{"in", eros("(433) Eros") + eros("Id. 1898 DQ").substr(12)}}, {"in"}, {},
             HEADER + ROW + " (Unnamed)" + EROS_VALUES, "2 records written.\n", 0},
    cli_case{"StandardInputADirectory", {}, {}, {.in = "."}, HEADER, "Cannot read standard input\n", 2},
    cli_case{"InputADirectory", {{"out.csv", "kept"}}, {".", "out.csv"}, {}, "", "Cannot open input file .\n", 2,
             {{"out.csv", "="}}},
    cli_case{"MissingInput", {{"out.csv", "kept"}}, {"missing.txt", "out.csv"}, {}, "",
             "Cannot open input file missing.txt\n", 2, {{"out.csv", "="}}},
    cli_case{"MissingInputNamedInUtf8", {}, {"\u039b\u03b5\u03af\u03c0\u03b5\u03b9-\u7121\u3044.txt"}, {}, "",
             "Cannot open input file \u039b\u03b5\u03af\u03c0\u03b5\u03b9-\u7121\u3044.txt\n", 2},
    cli_case{"MissingInputWithALongName", {}, {LONG_FILE_NAME}, {}, "", "Cannot open input file " + LONG_FILE_NAME + "\n", 2},
    cli_case{"NamesOutsideTheAnsiCodePage", {{"\u03a9\u03bc\u03ad\u03b3\u03b1-\u8ecc\u9053.txt", eros("(433) Eros")}},
             {"\u03a9\u03bc\u03ad\u03b3\u03b1-\u8ecc\u9053.txt", "\u51fa\u529b-\u03b1\u03b2\u03b3.csv"}, {}, "",
             "1 record written.\n", 0, {{"\u51fa\u529b-\u03b1\u03b2\u03b3.csv", HEADER + ROW}}},
    cli_case{"OutputInAMissingFolder", {{"in", eros("(433) Eros")}}, {"in", "no/such/out.csv"}, {}, "",
             "Cannot open output file no/such/out.csv\n", 2, {{"no", "-"}, {"in", "="}}},
    cli_case{"OutputFileFull", {{"in", eros("(433) Eros")}}, {"in", "/dev/full"}, {}, "",
             "Cannot write output file /dev/full\n", 2},
    cli_case{"StandardOutputFull", {{"in", eros("(433) Eros")}}, {"in"}, {.out = "/dev/full"}, "",
             "Cannot write standard output\n", 2},
    cli_case{"ClosedPipeEndsTheRunBySigpipe", {{"in", eros("(433) Eros")}}, {"in"}, {.out = PIPE_WITHOUT_READER}, "",
             "", STATUS_SIGPIPE},
    cli_case{"ClosedPipeIsAWriteError", {{"in", eros("(433) Eros")}}, {"in"}, {.out = PIPE_WITHOUT_READER}, "",
             "Cannot write standard output\n", 2},
    cli_case{"StandardOutputClosed", {{"in", eros("(433) Eros")}}, {"in"}, {.out = CLOSED}, "",
             "Cannot write standard output\n", 2},
    cli_case{"StandardInputClosed", {}, {}, {.in = CLOSED}, HEADER, "Cannot read standard input\n", 2},
    cli_case{"OutputIsTheInput", {{"in", eros("(433) Eros")}}, {"in", "in"}, {}, "",
             "Output file in is the input file\n", 2, {{"in", "="}}},
    cli_case{"StandardErrorClosedKeepsTheTableClean", {{"in", eros("(433) Eros")}}, {"in", "out.csv"},
             {.close_err = true}, "", "", 0, {{"out.csv", HEADER + ROW}}},
    // Hostile input: nothing may crash, and what can be converted is.
    cli_case{"BinaryGarbage", {{"in", garbage(1 << 16) + eros("(433) Eros")}}, {"in"}, {}, HEADER + ROW,
             "1 record written.\n", 0},
    cli_case{"SubstituteByteInStandardInputIsAnOrdinaryByte", {{"in", PROSE + "\x1a after it\n" + eros("(433) Eros")}},
             {}, {.in = "in"}, HEADER + ROW, "1 record written.\n", 0},
    cli_case{"ZeroBytesEndLinesAnd1AIsStripped", {{"in", WITH_ZERO_BYTES}}, {"in"}, {},
             HEADER + "Er 433,11.16,0.46,319,178.63711,,10.82830,0.2229193,,51546\n", "1 record written.\n", 0},
    cli_case{"LinesEndedByCrAloneAreOneLongLine", {{"in", eros("(433) Eros", "\r")}}, {"in"}, {}, HEADER,
             "0 records written.\n", 0},
    cli_case{"NothingButEpochLines", {{"in", [] {
                 std::string text;
                 for (int i = 0; i < 100; ++i) text += EPOCH_LINE;
                 return text;
             }()}},
             {"in"}, {}, HEADER + [] {
                 std::string rows;
                 for (int i = 0; i < 16; ++i) {
                     rows += " (Unnamed),TT=JDT24,,och2000Jan.,DT2451546,DT2451546,DT2451546,och2000Jan.,"
                             "och2000Jan.,51546\n";
                 }
                 return rows;
             }(), "16 records written.\n", 0},
    cli_case{"BlockCutShortAtTheEnd", {{"in", eros("(433) Eros") + without_last_line(eros("(1) Ceres"))}}, {"in"}, {},
             HEADER + ROW, "1 record written.\n", 0},
    // With its newline a line of 130 bytes is one piece; one of 131 is two, the second empty.
    cli_case{"DesignationsFillingALine",
             {{"in", eros("(" + std::string(128, 'n') + ")") + "\n" + eros("(" + std::string(129, 'n') + ")")}},
             {"in"}, {}, HEADER + " " + std::string(128, 'n') + EROS_VALUES + " (Unnamed)" + EROS_VALUES,
             "2 records written.\n", 0},
    cli_case{"InputUnderARegularFile", {{"in", "text"}}, {"in/x"}, {}, "", "Cannot open input file in/x\n", 2}),
    [](const auto& info) { return info.param.name; });

TEST(Cli, FiftyMegabyteLineWithoutNewlineAfterABlock) {
    const folder dir;
    write_file(dir / "in", eros("(433) Eros") + std::string(50'000'000, 'x'));
    const outcome result = dir.run({"in"});
    EXPECT_EQ(result.out, as_text(HEADER + ROW));
    EXPECT_EQ(result.err, as_text("1 record written.\n"));
    EXPECT_EQ(result.status, 0);
}

// Names reach the file system as given: absolute, or relative to the working directory and
// leaving it through "..".
TEST(Cli, NamesAbsoluteAndRelative) {
    const folder dir;
    write_file(dir / "in", eros("(433) Eros"));
    const auto utf8 = [](const fs::path& path) {
        const std::u8string text = path.u8string();
        return std::string(text.begin(), text.end());
    };
    const std::string absolute_in = utf8(dir / "in");
    const std::string relative_out = utf8(fs::path("..") / (dir / "in").parent_path().filename() / "out.csv");
    const outcome result = dir.run({absolute_in, relative_out});
    EXPECT_EQ(result.err, as_text("1 record written.\n"));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(read_file(dir / "out.csv"), as_text(HEADER + ROW));

    const outcome missing = dir.run({utf8(dir / "missing.txt")});
    EXPECT_EQ(missing.err, as_text("Cannot open input file " + utf8(dir / "missing.txt") + "\n"));
    EXPECT_EQ(missing.status, 2);
}

TEST(Cli, OutputThroughALinkToTheInputIsRefused) {
    for (const bool hard : {true, false}) {
        const folder dir;
        write_file(dir / "in", eros("(433) Eros"));
        if (hard) {
            fs::create_hard_link(dir / "in", dir / "link");
        } else {
#if defined(_WIN32)
            continue;  // symbolic links need a privilege that Windows users rarely hold
#else
            fs::create_symlink(dir / "in", dir / "link");
#endif
        }
        const outcome result = dir.run({"in", "link"});
        EXPECT_EQ(result.err, as_text("Output file link is the input file\n")) << (hard ? "hard link" : "symbolic link");
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(read_file(dir / "in"), eros("(433) Eros"));
    }
}

// Spelled out once without as_text: on Windows every line of the table and every message ends
// in CR LF, and no other byte differs.
TEST(Cli, WindowsTextEndsEveryLineInCrLf) {
#if !defined(_WIN32)
    GTEST_SKIP() << "text lines end in LF here";
#endif
    const folder dir;
    write_file(dir / "in", eros("(4179) Toutatis, \"A\rB\"") + eros("(433) Eros", "\r\n"));
    const outcome result = dir.run({"in"});
    EXPECT_EQ(result.out,
              "Name,Magnitude H,Magnitude G,Mean anomaly,Arg. perihelion,Long. node,Inclination,"
              "Eccentricity,Semimajor axis,Epoch (MJD)\r\n"
              "\"Toutatis, \"\"A\rB\"\" 4179\"" + EROS_VALUES.substr(0, EROS_VALUES.size() - 1) + "\r\n" +
              "Eros 433" + EROS_VALUES.substr(0, EROS_VALUES.size() - 1) + "\r\n");
    EXPECT_EQ(result.err, "2 records written.\r\n");
}

}  // namespace
