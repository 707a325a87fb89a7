// Stack crawls of the platform layer: return addresses of the calling
// stack, their symbols and the demangling of C++ symbol names.
#pragma once

#include <cstddef>
#include <string>

namespace qelt::plat {

// Fills frames with at most count return addresses of the calling stack,
// after skipping skip frames (this function's own frame is never included).
// Returns the number stored.
unsigned CaptureBacktrace(void** frames, unsigned skip, unsigned count);

// What is known about one code address.
struct SymbolInfo {
    std::string imagePath;          // the executable or library holding it
    std::string symbolName;         // demangled when possible; empty when unknown
    const void* imageBase = nullptr;
    const void* symbolAddress = nullptr;
};

// Looks up the image and nearest symbol of address; false when the address
// lies in no loaded image.
bool DescribeAddress(const void* address, SymbolInfo& outInfo);

// The demangled form of a C++ symbol name; false (out unchanged) when the
// name cannot be demangled.
bool DemangleSymbol(const char* name, std::string& outDemangled);

}  // namespace qelt::plat
