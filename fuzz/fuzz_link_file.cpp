// Link files that a copy left in place of a framework's symbolic links: any
// bytes are read for their target; the "XSym" form needs four lines, and a
// target is never longer than the text.
#include <cstdlib>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "process/mac/XMacLibrary.h"

using namespace qelt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Setup();
    fuzz::Scope scope;
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string target;
    if (XMacLibrary::ParseLinkFileText(text, target) && target.size() > text.size())
        std::abort();
    return 0;
}
