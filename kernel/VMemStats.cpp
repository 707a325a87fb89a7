#include "kernel/VMemStats.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "files/VStream.h"
#include "kernel/VString.h"

namespace qelt {

namespace {

void AppendFormat(std::string& ioText, const char* inFormat, ...) __attribute__((format(printf, 2, 3)));

void AppendFormat(std::string& ioText, const char* inFormat, ...)
{
    char buffer[512];
    va_list args;
    va_start(args, inFormat);
    int n = std::vsnprintf(buffer, sizeof(buffer), inFormat, args);
    va_end(args);
    if (n > 0)
        ioText.append(buffer, static_cast<size_t>(n) < sizeof(buffer) ? static_cast<size_t>(n) : sizeof(buffer) - 1);
}

// A tag as its four characters, most significant byte first.
std::string TagText(int32_t inTag)
{
    uint32_t tag = static_cast<uint32_t>(inTag);
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8)
        text.push_back(static_cast<char>((tag >> shift) & 0xFF));
    return text;
}

void AppendClassesAndTags(const VMemStats& inStats, std::string& ioText)
{
    AppendFormat(ioText, "Nb Objects = %" PRId32 "\n", inStats.fNbObjects);
    for (const auto& [info, entry] : inStats.fClasses) {
        ioText.append(info != nullptr ? info->name() : "");
        AppendFormat(ioText, " : %" PRId32 "   ,  mem = %" PRId64 "\n", entry.fCount, entry.fMem);
    }
    ioText.append("\n\n");
    ioText.append("Blocks by Tags\n\n");
    for (const auto& [tag, entry] : inStats.fTags) {
        ioText.append(TagText(tag));
        AppendFormat(ioText, " : %" PRId32 "   ,  mem = %" PRId64 "\n", entry.fCount, entry.fMem);
    }
}

}  // namespace

VMemStats::~VMemStats() = default;

void VMemStats::Clear()
{
    fFreeMem = 0;
    fUsedMem = 0;
    fNbPages = 0;
    fNbObjects = 0;
    fNbSmallBlocks = 0;
    fNbFreeSmallBlocks = 0;
    fNbUsedSmallBlocks = 0;
    fNbBigBlocks = 0;
    fNbFreeBigBlocks = 0;
    fNbUsedBigBlocks = 0;
    fBiggestBlock = 0;
    fBiggestFreeBlock = 0;
}

VError VMemStats::DumpToStream(VStream* ioStream)
{
    std::string text;
    AppendFormat(text, "Used Mem = %" PRId64 "\n", fUsedMem);
    AppendFormat(text, "Free Mem = %" PRId64 "\n", fFreeMem);
    AppendFormat(text, "Biggest Free Block = %" PRIu64 "\n", fBiggestFreeBlock);
    text.append("\n\n");
    AppendClassesAndTags(*this, text);
    if (ioStream != nullptr) {
        VString line;
        line.FromBlock(text.data(), static_cast<unsigned long>(text.size()), VTC_UTF_8);
        ioStream->PutText(line);
    }
    return VE_OK;
}

void VMemStats::Dump()
{
    // The full report is built for inspection in a debugger only.
    std::string text;
    AppendFormat(text, "Used Mem = %" PRId64 "\nFree Mem = %" PRId64 "\n", fUsedMem, fFreeMem);
    AppendFormat(text, "Biggest Block = %" PRIu64 "\nBiggest Free Block = %" PRIu64 "\n", fBiggestBlock,
                 fBiggestFreeBlock);
    AppendFormat(text, "Nb Pages = %" PRId32 "\n", fNbPages);
    AppendFormat(text, "Nb Small Blocks = %" PRId32 " (used %" PRId32 ", free %" PRId32 ")\n", fNbSmallBlocks,
                 fNbUsedSmallBlocks, fNbFreeSmallBlocks);
    AppendFormat(text, "Nb Big Blocks = %" PRId32 " (used %" PRId32 ", free %" PRId32 ")\n\n", fNbBigBlocks,
                 fNbUsedBigBlocks, fNbFreeBigBlocks);
    AppendClassesAndTags(*this, text);
    (void)text;
}

}  // namespace qelt
