// Random UUIDs of the platform layer, from the kernel's random source.
#pragma once

namespace qelt::plat {

// Fills 16 bytes with a new random (version 4, RFC 4122 variant) UUID.
// False, with the bytes unchanged, when no random bytes can be had.
bool GenerateRandomUUID(unsigned char outBytes[16]);

}  // namespace qelt::plat
