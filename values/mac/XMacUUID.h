// Generation of new UUIDs through the platform layer.
#pragma once

namespace qelt {

struct VUUIDBuffer;

class XMacUUID {
public:
    // Fills the buffer with a new UUID, byte 0 first; false (buffer
    // unchanged) when the platform gives none.
    static bool Generate(VUUIDBuffer* outBuffer);
};

}  // namespace qelt
