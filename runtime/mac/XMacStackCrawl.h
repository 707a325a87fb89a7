// A captured call stack: at most 48 return addresses of the calling thread,
// innermost first, printable to a C stream or into a string with demangled
// symbol names.
#pragma once

#include <cstdint>
#include <cstdio>

namespace qelt {

class VString;

class XMacStackCrawl {
public:
    static constexpr int kMaxFrames = 48;

    XMacStackCrawl() = default;
    XMacStackCrawl(const XMacStackCrawl&) = default;
    XMacStackCrawl& operator=(const XMacStackCrawl&) = default;
    virtual ~XMacStackCrawl();

    // Captures the calling stack, skips `skip` frames and keeps at most
    // `count` of the rest (never more than 48).
    void LoadFrames(unsigned int skip, unsigned int count);

    // One line per frame, innermost first, numbered from count - 1 down to 0:
    // "  :: frame %u: %s\n" with the frame's symbol line.
    void Dump(FILE* stream) const;

    // Appends one line per frame, innermost first:
    // "   {n} 0x<address> - <symbol>\n"; "<inline>" when no symbol is known.
    void Dump(VString& ioString) const;

    bool operator<(const XMacStackCrawl& other) const;

    int32_t GetCount() const { return fCount; }
    const void* GetFrame(int index) const { return index >= 0 && index < fCount ? fFrames[index] : nullptr; }

private:
    void* fFrames[kMaxFrames] = {};
    int32_t fCount = 0;
};

}  // namespace qelt
