// End-to-end: runs the built program on files written here and checks its standard output,
// standard error, exit status and the files it leaves behind.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_file(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

struct outcome {
    std::string out, err;
    int status;  // the exit status, or 128 + the signal that ended the program
};

// How the program's standard streams are set up; paths are relative to the test's folder
// unless absolute. An empty standard output path captures it; "|closed" is a pipe with no reader.
struct streams {
    std::string in = "/dev/null";
    std::string out;
    bool close_err = false;
};

class folder {
public:
    folder() {
        std::string pattern = (fs::temp_directory_path() / "orbitcsv-test-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~folder() { fs::remove_all(path_); }
    fs::path operator/(const std::string& name) const { return name.starts_with('/') ? fs::path(name) : path_ / name; }

    outcome run(const std::vector<std::string>& args, const streams& setup = {}) const {
        const fs::path out_file = path_ / ".stdout", err_file = path_ / ".stderr";
        int unread_pipe[2] = {-1, -1};
        if (setup.out == "|closed") {
            EXPECT_EQ(pipe(unread_pipe), 0);
            close(unread_pipe[0]);
        }
        const pid_t child = fork();
        if (child == 0) {
            const auto redirect = [](const fs::path& path, int flags, int fd) {
                const int opened = open(path.c_str(), flags, 0644);
                if (opened < 0 || dup2(opened, fd) < 0) _exit(120);
                close(opened);
            };
            if (chdir(path_.c_str()) != 0) _exit(122);
            redirect(*this / setup.in, O_RDONLY, STDIN_FILENO);
            if (unread_pipe[1] >= 0) {
                dup2(unread_pipe[1], STDOUT_FILENO);
                signal(SIGPIPE, SIG_DFL);
            } else {
                redirect(setup.out.empty() ? out_file : *this / setup.out, O_WRONLY | O_CREAT | O_TRUNC, STDOUT_FILENO);
            }
            redirect(err_file, O_WRONLY | O_CREAT | O_TRUNC, STDERR_FILENO);
            if (setup.close_err) close(STDERR_FILENO);
            std::vector<char*> argv{const_cast<char*>(ORBITCSV_BINARY)};
            for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            execv(ORBITCSV_BINARY, argv.data());
            _exit(121);
        }
        if (unread_pipe[1] >= 0) close(unread_pipe[1]);
        int status = 0;
        waitpid(child, &status, 0);
        outcome result{setup.out.empty() ? read_file(out_file) : "", read_file(err_file),
                       WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status)};
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
    std::map<std::string, std::string> files_after;  // contents expected afterwards; "-" for absent
};

void PrintTo(const cli_case& c, std::ostream* out) { *out << c.name; }

class Cli : public testing::TestWithParam<cli_case> {};

TEST_P(Cli, WritesTheTableMessagesStatusAndFiles) {
    const cli_case& c = GetParam();
    const folder dir;
    for (const auto& [name, bytes] : c.files) write_file(dir / name, bytes);
    const outcome result = dir.run(c.args, c.setup);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.status, c.status);
    for (const auto& [name, bytes] : c.files_after) {
        if (bytes == "-") {
            EXPECT_FALSE(fs::exists(dir / name)) << name;
        } else {
            EXPECT_EQ(read_file(dir / name), bytes) << name;
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
             {{"out.csv", "kept"}}},
    cli_case{"MissingInput", {{"out.csv", "kept"}}, {"missing.txt", "out.csv"}, {}, "",
             "Cannot open input file missing.txt\n", 2, {{"out.csv", "kept"}}},
    cli_case{"OutputInAMissingFolder", {{"in", eros("(433) Eros")}}, {"in", "no/such/out.csv"}, {}, "",
             "Cannot open output file no/such/out.csv\n", 2, {{"no", "-"}, {"in", eros("(433) Eros")}}},
    cli_case{"OutputFileFull", {{"in", eros("(433) Eros")}}, {"in", "/dev/full"}, {}, "",
             "Cannot write output file /dev/full\n", 2},
    cli_case{"StandardOutputFull", {{"in", eros("(433) Eros")}}, {"in"}, {.out = "/dev/full"}, "",
             "Cannot write standard output\n", 2},
    cli_case{"ClosedPipeEndsTheRunBySigpipe", {{"in", eros("(433) Eros")}}, {"in"}, {.out = "|closed"}, "", "",
             128 + SIGPIPE},
    cli_case{"OutputIsTheInput", {{"in", eros("(433) Eros")}}, {"in", "in"}, {}, "",
             "Output file in is the input file\n", 2, {{"in", eros("(433) Eros")}}},
    cli_case{"StandardErrorClosedKeepsTheTableClean", {{"in", eros("(433) Eros")}}, {"in", "out.csv"},
             {.close_err = true}, "", "", 0, {{"out.csv", HEADER + ROW}}},
    // Hostile input: nothing may crash, and what can be converted is.
    cli_case{"BinaryGarbage", {{"in", garbage(1 << 16) + eros("(433) Eros")}}, {"in"}, {}, HEADER + ROW,
             "1 record written.\n", 0},
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
    EXPECT_EQ(result.out, HEADER + ROW);
    EXPECT_EQ(result.err, "1 record written.\n");
    EXPECT_EQ(result.status, 0);
}

TEST(Cli, OutputThroughALinkToTheInputIsRefused) {
    const folder dir;
    write_file(dir / "in", eros("(433) Eros"));
    fs::create_symlink(dir / "in", dir / "link");
    const outcome result = dir.run({"in", "link"});
    EXPECT_EQ(result.err, "Output file link is the input file\n");
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(read_file(dir / "in"), eros("(433) Eros"));
}

}  // namespace
