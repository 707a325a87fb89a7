#include "platform/PlatUUID.h"

#include <sys/random.h>

#include <cerrno>
#include <cstring>

namespace qelt::plat {

bool GenerateRandomUUID(unsigned char outBytes[16])
{
    unsigned char bytes[16];
    size_t got = 0;
    while (got < sizeof(bytes)) {
        ssize_t n = ::getrandom(bytes + got, sizeof(bytes) - got, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        got += static_cast<size_t>(n);
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    std::memcpy(outBytes, bytes, sizeof(bytes));
    return true;
}

}  // namespace qelt::plat
