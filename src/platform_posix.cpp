// The platform layer on POSIX.1-2008 systems (Linux, macOS, the BSDs), and on WASI, whose C
// library gives the same calls for files.
#include "platform.hpp"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orbitcsv::platform {

namespace {

file_identity identity_of(const struct stat& status) {
    return {S_ISREG(status.st_mode), static_cast<std::uint64_t>(status.st_dev),
            static_cast<std::uint64_t>(status.st_ino)};
}

#if !defined(__wasi__)
// A standard descriptor that was closed when the program started would be handed to the next
// file opened: the output file could become descriptor 2 and take the messages into the table,
// or the input file descriptor 1 and be taken for standard output. Each closed one is filled
// with /dev/null opened the wrong way round for its use, so using it fails as using the closed
// descriptor would (reading standard input, writing standard output); messages to a closed
// standard error go nowhere.
void fill_closed_standard_descriptors() {
    constexpr int FILLER_FLAGS[] = {O_WRONLY, O_RDONLY, O_WRONLY};
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int filler = open("/dev/null", FILLER_FLAGS[fd]);
        if (filler >= 0 && filler != fd) {
            (void)dup2(filler, fd);
            (void)::close(filler);
        }
    }
}
#endif

}  // namespace

int run_with_arguments(int argc, char** argv, int (*run)(int argc, char** argv)) {
#if defined(__wasi__)
    // A WASI program is handed its standard streams and its files by the host, which numbers
    // them itself (and there is no dup2 to fill a gap with). Nor has it a working directory of
    // its own: relative names are taken from "/". A host that gives it the file system from the
    // root names its own working directory in PWD, as the project's runner does; should changing
    // to it fail, relative names still reach the root, and opening them reports what is wrong.
    if (const char* const pwd = std::getenv("PWD"); pwd != nullptr && *pwd == '/') (void)chdir(pwd);
#else
    fill_closed_standard_descriptors();
#endif
    return run(argc, argv);
}

file standard_input() { return STDIN_FILENO; }
file standard_output() { return STDOUT_FILENO; }
file standard_error() { return STDERR_FILENO; }

bool open_input(const char* name, file& opened, file_identity& identity) {
    const int fd = open(name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat status {};
    if (fstat(fd, &status) != 0 || S_ISDIR(status.st_mode)) {
        (void)::close(fd);
        return false;
    }
    opened = fd;
    identity = identity_of(status);
    return true;
}

bool identify(const char* name, file_identity& identity) {
    struct stat status {};
    if (stat(name, &status) != 0) return false;
    identity = identity_of(status);
    return true;
}

bool identify_open(file opened, file_identity& identity) {
    struct stat status {};
    if (fstat(opened, &status) != 0) return false;
    identity = identity_of(status);
    return true;
}

bool open_output(const char* name, file& opened) {
    opened = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    return opened >= 0;
}

std::ptrdiff_t read_some(file from, char* into, std::size_t capacity, bool interruptible) {
    for (;;) {
        const ssize_t got = ::read(from, into, capacity);
        if (got >= 0 || errno != EINTR) return got;
        if (interruptible) return READ_INTERRUPTED;
    }
}

bool write_all(file to, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t put = ::write(to, bytes.data(), bytes.size());
        if (put < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        // A write of a non-empty buffer that stores nothing would loop for ever.
        if (put == 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(put));
    }
    return true;
}

bool close(file opened) { return ::close(opened) == 0; }

int last_error() { return errno; }

}  // namespace orbitcsv::platform
