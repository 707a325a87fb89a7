#include "platform/PlatDebug.h"

#include <fcntl.h>
#include <locale.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace qelt::plat {

bool IsTracerAttached()
{
    int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buffer[4096];
    ssize_t size = ::read(fd, buffer, sizeof(buffer) - 1);
    ::close(fd);
    if (size <= 0)
        return false;
    buffer[size] = '\0';
    const char* line = std::strstr(buffer, "\nTracerPid:");
    if (line == nullptr)
        return false;
    return std::strtol(line + std::strlen("\nTracerPid:"), nullptr, 10) != 0;
}

void BreakIntoDebugger()
{
    if (IsTracerAttached())
        ::raise(SIGTRAP);
    else
        EndProcess(1);
}

void EndProcess(int status)
{
    std::fflush(nullptr);
    ::_exit(status);
}

std::string FormatLocalTimeC(const char* format)
{
    static const locale_t sCLocale = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    const time_t now = ::time(nullptr);
    struct tm local;
    if (::localtime_r(&now, &local) == nullptr)
        return std::string();
    char text[256];
    size_t size = sCLocale != static_cast<locale_t>(nullptr) ? ::strftime_l(text, sizeof(text), format, &local, sCLocale)
                                                               : ::strftime(text, sizeof(text), format, &local);
    return std::string(text, size);
}

}  // namespace qelt::plat
