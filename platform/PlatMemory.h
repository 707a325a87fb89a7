// Pages of virtual memory of the platform layer.
#pragma once

#include <cstddef>

namespace qelt::plat {

// The size of one page of virtual memory.
size_t PageSize();

// Maps size bytes (rounded up to whole pages) of zero-filled, readable and
// writable memory. With a null address the system chooses the place; with an
// address the pages are placed exactly there or not at all (existing
// mappings are never replaced). Null on failure.
void* MapPages(size_t size, const void* address);

// Unmaps the pages of [address, address + size) (size rounded up to pages):
// a whole block that MapPages gave, with the size it was asked for. In
// sanitizer builds each block is a root region of the leak checker, which
// knows blocks only whole.
bool UnmapPages(void* address, size_t size);

// Describes the mapping at or after address: when address lies inside a
// mapping, size is that mapping's size, base its start and state 0; when it
// lies before a mapping, size is the distance to it, base the address and
// state 1. False (all zero) when nothing is found.
bool QueryRegion(const void* address, size_t& size, unsigned& state, const void*& base);

// The virtual size of the process in bytes, 0 when it cannot be read.
size_t ProcessVirtualSize();

}  // namespace qelt::plat
