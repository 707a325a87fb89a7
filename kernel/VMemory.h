// The static allocation functions of the toolbox over the process memory
// manager (VObject::sCppMemMgr).
#pragma once

#include <cstddef>

namespace qelt {

class VMemory {
public:
    // A block of size bytes, or null (also when no manager exists).
    static void* NewPtr(size_t inSize, int inTag);

    // The same, zero-filled.
    static void* NewPtrClear(size_t inSize, int inTag);

    // Frees a block from NewPtr; null is ignored.
    static void DisposePtr(void* p);

    // Resizes a block (see VCppMemMgr::Realloc): null when it cannot, the
    // old block then staying valid.
    static void* SetPtrSize(void* p, size_t inSize);
};

}  // namespace qelt
