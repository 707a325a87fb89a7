// Command texts split into a child's arguments: the bytes, read as a path
// text (bytes that are not UTF-8 kept as themselves), go through the
// launcher's splitter. The first argument must be the binary path, and no
// argument may hold more bytes than the text.
#include <cstdlib>
#include <string>

#include "files/mac/XMacFile.h"
#include "fuzz/FuzzSupport.h"
#include "process/mac/XPosixProcessLauncher.h"

using namespace qelt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Setup();
    fuzz::Scope scope;

    VString text;
    XMacFile::DecodePathBytes(reinterpret_cast<const char*>(data), size, text);
    XPosixProcessLauncher launcher;
    launcher.CreateArgumentsFromFullCommandLine(text);
    const std::vector<VString>& arguments = launcher.GetArguments();
    if (arguments.empty())
        return 0;
    std::string first;
    XMacFile::EncodePathText(arguments[0].GetCPointer(), arguments[0].GetLength(), first);
    if (first != launcher.GetBinaryPath())
        std::abort();
    for (const VString& argument : arguments) {
        std::string bytes;
        XMacFile::EncodePathText(argument.GetCPointer(), argument.GetLength(), bytes);
        if (bytes.size() > size)
            std::abort();
    }
    return 0;
}
