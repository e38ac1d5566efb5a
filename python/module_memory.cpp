#include "module_memory.hpp"

#include <cstdint>
#include <cstdlib>
#include <utility>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace orbitcsv::python::memory {

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
// Without remapping (macOS, the BSDs, Windows, where large pages need a privilege that programs
// seldom have), the C library's realloc does as well as anything.
void* map_growing(std::size_t bytes) { return std::malloc(bytes); }
void* grow_mapping(void* memory, std::size_t, std::size_t new_bytes) { return std::realloc(memory, new_bytes); }
void unmap_growing(void* memory, std::size_t) { std::free(memory); }

// Elsewhere the interpreter's arenas may be freed in ways these could not match (on Windows by
// VirtualFree).
bool arenas_in_large_pages() { return false; }
void* map_arena(std::size_t) { return nullptr; }
void unmap_arena(void*, std::size_t) {}
void release_spare_arena() {}
#endif

}  // namespace orbitcsv::python::memory
