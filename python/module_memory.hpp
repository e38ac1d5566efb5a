// The memory the Python module takes for a frame, in large pages where the system gives them.
#pragma once

#include <cstddef>

namespace orbitcsv::python::memory {

// Memory for a buffer that grows as it is written, for the frame's columns: large pages
// back it where the system gives them on request (Linux's transparent huge pages, which make the
// first touch of fresh memory far cheaper), and it grows by remapping where the system can,
// without a copy. map_growing and grow_mapping return null on failure, leaving the memory they
// were given as it was.
void* map_growing(std::size_t bytes);
void* grow_mapping(void* memory, std::size_t bytes, std::size_t new_bytes);
void unmap_growing(void* memory, std::size_t bytes);

// Memory for the Python interpreter's arenas of small objects, which a frame's millions of names
// fill: in large pages, two arenas of the usual 1 MiB to one 2 MiB page, where the system gives
// them on request. Given back by unmapping, as the interpreter's own arenas are, so either may
// free the other's: only where that holds (Linux) does arenas_in_large_pages() say yes, and only
// then may the others be called. map_arena returns null on failure; release_spare_arena gives
// back an arena mapped ahead and not handed out.
bool arenas_in_large_pages();
void* map_arena(std::size_t bytes);
void unmap_arena(void* memory, std::size_t bytes);
void release_spare_arena();

}  // namespace orbitcsv::python::memory
