// The platform side of an open file: the descriptor number and a current
// position. Answers 0 or a code and raises nothing; transfers are done at
// absolute offsets in bounded chunks, letting other tasks run between them.
#pragma once

#include <cstddef>

#include "kernel/VKernelTypes.h"
#include "kernel/VObject.h"

namespace qelt {

class XMacFileDesc : public VObject {
public:
    explicit XMacFileDesc(int inFd) : fFd(inFd) {}
    ~XMacFileDesc() override;
    XMacFileDesc(const XMacFileDesc&) = delete;
    XMacFileDesc& operator=(const XMacFileDesc&) = delete;

    int GetFd() const { return fFd; }

    VError GetSize(long long* outSize) const;
    VError SetSize(long long inSize) const;
    VError GetPos(long long* outPos) const;
    VError SetPos(long long inOffset, bool inFromStart);
    // Moves ioCount bytes at inOffset (absolute) or at the position plus
    // inOffset (relative; the position then moves past what was moved).
    // ioCount becomes the bytes really moved, also after a failure. A read
    // that meets the end gives 'qelt' 200; a write the system took only in
    // part gives 'POSX' EINVAL.
    VError GetData(void* outBuffer, size_t& ioCount, long long inOffset, bool inAbsolute);
    VError PutData(const void* inData, size_t& ioCount, long long inOffset, bool inAbsolute);
    VError Flush() const;

private:
    int fFd;
    long long fPos = 0;
};

}  // namespace qelt
