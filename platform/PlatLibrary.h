// Shared libraries loaded into this process.
#pragma once

#include <string>

namespace qelt::plat {

// Loads the library at inPath with every symbol resolved at once and made
// visible to libraries loaded later. Null, with outReason set to the
// loader's message, when it cannot be loaded.
void* LoadSharedLibrary(const char* inPath, std::string& outReason);

// Unloads a library that LoadSharedLibrary gave (nothing for null).
void UnloadSharedLibrary(void* inHandle);

// The address of a symbol of a loaded library; null when it has none.
void* FindLibrarySymbol(void* inHandle, const char* inName);

}  // namespace qelt::plat
