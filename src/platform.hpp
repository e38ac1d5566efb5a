// What differs between POSIX systems and Windows: the command line, the standard streams,
// opening, identifying, reading, writing and closing files, and the line end of text.
// Everything else in the program is the same code on every system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace orbitcsv::platform {

#if defined(_WIN32)
using file = void*;  // a Win32 HANDLE
// Text for people and programs on Windows ends its lines in CR LF.
inline constexpr std::string_view TEXT_LINE_END = "\r\n";
#else
using file = int;  // a file descriptor
inline constexpr std::string_view TEXT_LINE_END = "\n";
#endif

// Which file an open file or a name leads to, however it was reached (links included).
struct file_identity {
    bool regular = false;  // a file on disk, which truncating would destroy
    std::uint64_t volume = 0;
    std::uint64_t index = 0;

    bool same_as(const file_identity& other) const { return volume == other.volume && index == other.index; }
    // Whether writing to `output` would destroy this file: it is this very file, on disk.
    bool overwritten_by(const file_identity& output) const { return regular && same_as(output); }
};

// Runs `run` with the arguments of the command line, each as the bytes of its name: on POSIX
// systems as they came, on Windows converted from UTF-16 to UTF-8 (lone surrogates, which
// Windows names may hold, encoded as UTF-8 encodes any other code point), so that every name
// converts back to the exact name given. Also prepares the standard streams first.
int run_with_arguments(int argc, char** argv, int (*run)(int argc, char** argv));

file standard_input();
file standard_output();
file standard_error();

// Opens the named file for reading, byte for byte. False when it cannot be opened or is a
// directory, which opens on some systems but cannot be read.
bool open_input(const char* name, file& opened, file_identity& identity);

// The identity of the named file; false when there is no such file or it cannot be reached.
bool identify(const char* name, file_identity& identity);
// The identity of an open file; false when it has none to give.
bool identify_open(file opened, file_identity& identity);

// Opens the named file for writing, created if missing and truncated if present.
bool open_output(const char* name, file& opened);

// Stores up to `capacity` bytes at `into`: returns the count stored, 0 at the end of the
// input, or -1 when reading failed. A read that a signal interrupts is tried again, unless it is
// `interruptible`: then it returns READ_INTERRUPTED, so that the caller can run what the signal
// asks for first (the Python module's handlers). On Windows no read is interrupted.
inline constexpr std::ptrdiff_t READ_INTERRUPTED = -2;
std::ptrdiff_t read_some(file from, char* into, std::size_t capacity, bool interruptible = false);

// Writes all of `bytes`; false when that failed.
bool write_all(file to, std::string_view bytes);

// False when closing reports an error, such as data that could not be written after all.
bool close(file opened);

// Why the latest call above that failed did, as an errno value: on Windows the nearest one to
// the system's reason, EIO where there is none.
int last_error();

}  // namespace orbitcsv::platform
