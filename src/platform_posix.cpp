// The platform layer on POSIX.1-2008 systems (Linux, macOS, the BSDs), and on WASI, whose C
// library gives the same calls for files.
#include "platform.hpp"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#if defined(__linux__)
#include <sys/mman.h>
#endif

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

#if defined(__linux__)
void* map_growing(std::size_t bytes) {
    void* const memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return nullptr;
    // The whole mapping, which stays one piece that mremap can move, keeps the advice as it grows.
    // A refusal leaves small pages.
    (void)madvise(memory, bytes, MADV_HUGEPAGE);
    return memory;
}

void* grow_mapping(void* memory, std::size_t bytes, std::size_t new_bytes) {
    void* const grown = mremap(memory, bytes, new_bytes, MREMAP_MAYMOVE);
    return grown == MAP_FAILED ? nullptr : grown;
}

void unmap_growing(void* memory, std::size_t bytes) { (void)munmap(memory, bytes); }

namespace {
constexpr std::size_t LARGE_PAGE_BYTES = std::size_t{2} << 20;
// The second half of the last large page mapped for two arenas, until it is asked for.
void* spare_arena = nullptr;
}  // namespace

bool arenas_in_large_pages() { return true; }

void* map_arena(std::size_t bytes) {
    const bool half_page = bytes == LARGE_PAGE_BYTES / 2;
    if (half_page && spare_arena != nullptr) return std::exchange(spare_arena, nullptr);
    if (!half_page) {
        void* const memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        return memory == MAP_FAILED ? nullptr : memory;
    }
    // A large page needs an address that is a multiple of its size: twice as much is mapped, and
    // what lies around the aligned page unmapped again.
    void* const mapped = mmap(nullptr, 2 * LARGE_PAGE_BYTES, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return nullptr;
    char* const first = static_cast<char*>(mapped);
    const std::uintptr_t offset = reinterpret_cast<std::uintptr_t>(first) % LARGE_PAGE_BYTES;
    char* const page = offset == 0 ? first : first + (LARGE_PAGE_BYTES - offset);
    if (page != first) (void)munmap(first, static_cast<std::size_t>(page - first));
    (void)munmap(page + LARGE_PAGE_BYTES, static_cast<std::size_t>(first + 2 * LARGE_PAGE_BYTES - (page + LARGE_PAGE_BYTES)));
    (void)madvise(page, LARGE_PAGE_BYTES, MADV_HUGEPAGE);  // a refusal leaves small pages
    spare_arena = page + bytes;
    return page;
}

void unmap_arena(void* memory, std::size_t bytes) { (void)munmap(memory, bytes); }

void release_spare_arena() {
    if (spare_arena != nullptr) (void)munmap(std::exchange(spare_arena, nullptr), LARGE_PAGE_BYTES / 2);
}
#else
// Without remapping (macOS, the BSDs, WASI), the C library's realloc does as well as anything.
void* map_growing(std::size_t bytes) { return std::malloc(bytes); }
void* grow_mapping(void* memory, std::size_t, std::size_t new_bytes) { return std::realloc(memory, new_bytes); }
void unmap_growing(void* memory, std::size_t) { std::free(memory); }

// Elsewhere the interpreter's arenas may be freed in ways these could not match.
bool arenas_in_large_pages() { return false; }
void* map_arena(std::size_t) { return nullptr; }
void unmap_arena(void*, std::size_t) {}
void release_spare_arena() {}
#endif

}  // namespace orbitcsv::platform
