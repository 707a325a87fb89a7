#include "platform/PlatLibrary.h"

#include <dlfcn.h>

namespace qelt::plat {

void* LoadSharedLibrary(const char* inPath, std::string& outReason)
{
    outReason.clear();
    void* handle = ::dlopen(inPath, RTLD_NOW | RTLD_GLOBAL);
    if (handle == nullptr) {
        const char* reason = ::dlerror();
        if (reason != nullptr)
            outReason = reason;
    }
    return handle;
}

void UnloadSharedLibrary(void* inHandle)
{
    if (inHandle != nullptr)
        ::dlclose(inHandle);
}

void* FindLibrarySymbol(void* inHandle, const char* inName)
{
    return inHandle != nullptr ? ::dlsym(inHandle, inName) : nullptr;
}

}  // namespace qelt::plat
