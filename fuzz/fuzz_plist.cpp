// Property lists from outside: the platform reader takes any bytes as the
// text of an Info.plist and answers with values or a refusal, never a crash
// or a hang; what it reads is also read through the file form.
#include <cstdio>
#include <string>
#include <unistd.h>

#include "fuzz/FuzzSupport.h"
#include "platform/PlatBundle.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    qelt::plat::PlistValues values;
    bool ok = qelt::plat::ParsePlistText(text, values);
    qelt::fuzz::Check(ok || values.empty(), "a refused list gives no values");

    char path[] = "/tmp/qelt_fuzz_plist_XXXXXX";
    int fd = ::mkstemp(path);
    if (fd < 0)
        return 0;
    bool written = ::write(fd, data, size) == static_cast<ssize_t>(size);
    ::close(fd);
    if (written) {
        qelt::plat::PlistValues fromFile;
        bool fileOk = qelt::plat::ReadPlistFile(path, fromFile);
        qelt::fuzz::Check(fileOk == ok && fromFile == values, "the file reads as its text does");
    }
    ::unlink(path);
    return 0;
}
