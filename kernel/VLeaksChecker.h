// The leak checker owned by the memory manager: a counter of registered
// blocks, and the opener of the leak report file.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

namespace qelt {

class XMacStackCrawl;

class VLeaksChecker {
public:
    VLeaksChecker() = default;
    virtual ~VLeaksChecker();

    VLeaksChecker(const VLeaksChecker&) = delete;
    VLeaksChecker& operator=(const VLeaksChecker&) = delete;

    // Sets the enabled flag and returns the previous value.
    bool SetLeaksCheck(bool inEnabled);

    void SetStackFramesToSkip(int32_t inCount) { fFramesToSkip = inCount; }

    // When enabled, captures the calling stack into the crawl and counts one
    // more block when at least one frame was captured.
    void RegisterBlock(XMacStackCrawl& ioCrawl);

    // Counts one block less when the crawl holds at least one frame.
    void UnregisterBlock(XMacStackCrawl& ioCrawl);

    // Opens the leak report file next to the main bundle ("/x/Tool.app"
    // gives "/x/Tool.<name>.leaks"), writes the date and the leak count line
    // and returns the open file, which the caller closes. Null outside a
    // bundle or when the file cannot be made.
    FILE* OpenDumpFile(const char* inName);

    // The same for the bundle at bundlePath.
    FILE* OpenDumpFile(const std::string& inBundlePath, const char* inName);

    // The report path for a bundle path and a name; empty when there is none.
    static std::string GetDumpFilePath(const std::string& inBundlePath, const char* inName);

    int32_t GetLeaksCount() const { return fLeaksCount.load(std::memory_order_relaxed); }

private:
    int32_t fFramesToSkip = 4;
    std::atomic<int32_t> fLeaksCount{0};
    bool fCheckEnabled = false;
};

}  // namespace qelt
