// orbitcsv: copies the orbital-element blocks of minor planets found in free text into a CSV
// table. Usage: orbitcsv [input [output]]; standard input and output stand in for missing names.
#include "byte_io.hpp"
#include "element_block.hpp"
#include "orbit_record.hpp"

#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace orbitcsv;

constexpr int STATUS_DONE = 0;
constexpr int STATUS_FAILED = 2;

constexpr const char* CANNOT_OPEN_INPUT = "Cannot open input file %s\n";
constexpr const char* CANNOT_OPEN_OUTPUT = "Cannot open output file %s\n";
constexpr const char* OUTPUT_IS_INPUT = "Output file %s is the input file\n";
constexpr const char* CANNOT_READ_INPUT = "Cannot read input file %s\n";
constexpr const char* CANNOT_READ_STDIN = "Cannot read standard input\n";
constexpr const char* CANNOT_WRITE_OUTPUT = "Cannot write output file %s\n";
constexpr const char* CANNOT_WRITE_STDOUT = "Cannot write standard output\n";
constexpr const char* SUMMARY = "%" PRId64 " record%s written.\n";

constexpr std::size_t OUTPUT_BUFFER_BYTES = 256 * 1024;

// Everything the run works in, fixed in size and alive from start to end.
char input_storage[DEFAULT_READ_BUFFER_BYTES];
char output_storage[OUTPUT_BUFFER_BYTES];
element_block block;
orbit_record record;

// A message on standard error; when even that fails there is nobody left to tell.
void report(const char* format, const char* name) {
    (void)dprintf(STDERR_FILENO, format, name);
}

// With standard error closed, the output file could be opened as descriptor 2 and the messages
// would land in the table; /dev/null takes the place first.
void keep_stderr_out_of_the_table() {
    if (fcntl(STDERR_FILENO, F_GETFD) == -1 && errno == EBADF) {
        const int placeholder = open("/dev/null", O_WRONLY);
        if (placeholder >= 0 && placeholder != STDERR_FILENO) {
            (void)dup2(placeholder, STDERR_FILENO);
            (void)close(placeholder);
        }
    }
}

bool same_file(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

int run_conversion(int argc, char** argv) {
    keep_stderr_out_of_the_table();
    const char* const input_name = argc > 1 ? argv[1] : nullptr;
    const char* const output_name = argc > 2 ? argv[2] : nullptr;

    int input_fd = STDIN_FILENO;
    struct stat input_status {};
    if (input_name != nullptr) {
        input_fd = open(input_name, O_RDONLY | O_CLOEXEC);
        // A directory opens but cannot be read: refuse it now, before the output is touched.
        if (input_fd < 0 || fstat(input_fd, &input_status) != 0 || S_ISDIR(input_status.st_mode)) {
            if (input_fd >= 0) (void)close(input_fd);
            report(CANNOT_OPEN_INPUT, input_name);
            return STATUS_FAILED;
        }
    }

    int output_fd = STDOUT_FILENO;
    if (output_name != nullptr) {
        // Opening the output truncates it, which must never happen to the input file.
        struct stat output_status {};
        if (S_ISREG(input_status.st_mode) && stat(output_name, &output_status) == 0 &&
            same_file(input_status, output_status)) {
            report(OUTPUT_IS_INPUT, output_name);
            return STATUS_FAILED;
        }
        output_fd = open(output_name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (output_fd < 0) {
            report(CANNOT_OPEN_OUTPUT, output_name);
            return STATUS_FAILED;
        }
    }

    fd_source source(input_fd);
    element_scanner scanner(source, input_storage);
    fd_sink sink(output_fd);
    output_buffer out(sink, output_storage);

    const std::int64_t records = write_csv_table(scanner, out, block, record);

    // Rows converted before a read error stay in the output; the error is still reported.
    bool read_ok = !scanner.read_failed();
    bool write_ok = out.flush();
    read_ok = close(input_fd) == 0 && read_ok;
    write_ok = close(output_fd) == 0 && write_ok;
    if (!read_ok) report(input_name != nullptr ? CANNOT_READ_INPUT : CANNOT_READ_STDIN, input_name);
    if (!write_ok) report(output_name != nullptr ? CANNOT_WRITE_OUTPUT : CANNOT_WRITE_STDOUT, output_name);
    if (!read_ok || !write_ok) return STATUS_FAILED;

    (void)dprintf(STDERR_FILENO, SUMMARY, records, records == 1 ? "" : "s");
    return STATUS_DONE;
}

}  // namespace

int main(int argc, char** argv) {
    return run_conversion(argc, argv);
}
