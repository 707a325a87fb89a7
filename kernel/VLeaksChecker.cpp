#include "kernel/VLeaksChecker.h"

#include <ctime>

#include "platform/PlatBundle.h"
#include "runtime/mac/XMacStackCrawl.h"

namespace qelt {

namespace {

// The longest bundle path taken.
constexpr size_t kMaxPath = 4096;
// Frames kept per registered block.
constexpr unsigned int kFramesKept = 8;

}  // namespace

VLeaksChecker::~VLeaksChecker() = default;

bool VLeaksChecker::SetLeaksCheck(bool inEnabled)
{
    bool previous = fCheckEnabled;
    fCheckEnabled = inEnabled;
    return previous;
}

void VLeaksChecker::RegisterBlock(XMacStackCrawl& ioCrawl)
{
    if (!fCheckEnabled)
        return;
    ioCrawl.LoadFrames(static_cast<unsigned int>(fFramesToSkip < 0 ? 0 : fFramesToSkip), kFramesKept);
    if (ioCrawl.GetCount() > 0)
        fLeaksCount.fetch_add(1, std::memory_order_relaxed);
}

void VLeaksChecker::UnregisterBlock(XMacStackCrawl& ioCrawl)
{
    if (ioCrawl.GetCount() > 0)
        fLeaksCount.fetch_sub(1, std::memory_order_relaxed);
}

std::string VLeaksChecker::GetDumpFilePath(const std::string& inBundlePath, const char* inName)
{
    if (inName == nullptr || inBundlePath.empty() || inBundlePath.size() > kMaxPath)
        return std::string();
    std::string path = inBundlePath;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    // The extension of the last component only ("/x.y/Tool" has none).
    size_t slash = path.rfind('/');
    size_t dot = path.rfind('.');
    size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    if (dot != std::string::npos && dot > nameStart)
        path.erase(dot);
    if (path.empty() || path == "/")
        return std::string();
    path.append(".").append(inName).append(".leaks");
    return path;
}

FILE* VLeaksChecker::OpenDumpFile(const char* inName)
{
    return OpenDumpFile(plat::GetMainBundlePath(), inName);
}

FILE* VLeaksChecker::OpenDumpFile(const std::string& inBundlePath, const char* inName)
{
    std::string path = GetDumpFilePath(inBundlePath, inName);
    if (path.empty())
        return nullptr;
    FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr)
        return nullptr;

    char date[200];
    std::time_t now = std::time(nullptr);
    std::tm local{};
    if (::localtime_r(&now, &local) != nullptr && std::strftime(date, sizeof(date), "%A, %B %d, %Y %I:%M:%S %p\n", &local) > 0)
        std::fputs(date, file);

    int32_t count = GetLeaksCount();
    if (count == 0)
        std::fputs("No memory leaks.\n", file);
    else if (count == 1)
        std::fputs("You have one leak:\n\n", file);
    else
        std::fprintf(file, "You have %i leaks:\n\n", count);
    return file;
}

}  // namespace qelt
