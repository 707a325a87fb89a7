#include "values/mac/XMacUUID.h"

#include "platform/PlatUUID.h"
#include "values/VUUID.h"

namespace qelt {

bool XMacUUID::Generate(VUUIDBuffer* outBuffer)
{
    if (outBuffer == nullptr)
        return false;
    return plat::GenerateRandomUUID(outBuffer->fBytes);
}

}  // namespace qelt
