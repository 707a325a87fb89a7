#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>

#include "kernel/VString.h"
#include "runtime/mac/XMacStackCrawl.h"

namespace qelt {
namespace {

std::string DumpToStream(const XMacStackCrawl& crawl)
{
    char* buffer = nullptr;
    size_t size = 0;
    FILE* stream = open_memstream(&buffer, &size);
    crawl.Dump(stream);
    fclose(stream);
    std::string text(buffer, size);
    free(buffer);
    return text;
}

std::string DumpToString(const XMacStackCrawl& crawl)
{
    VString out;
    crawl.Dump(out);
    std::string text;
    for (int i = 0; i < out.GetLength(); ++i)
        text += static_cast<char>(out.GetCPointer()[i] < 0x80 ? out.GetCPointer()[i] : '?');
    return text;
}

// The empty statement after each capture keeps it from being a tail call,
// which an optimised build would make a jump that drops the helper's frame
// from the stack the test counts on.
#define KEEP_FRAME() asm volatile("" ::: "memory")

__attribute__((noinline)) XMacStackCrawl Capture(unsigned skip, unsigned count)
{
    XMacStackCrawl crawl;
    crawl.LoadFrames(skip, count);
    KEEP_FRAME();
    return crawl;
}

__attribute__((noinline)) void CaptureBoth(XMacStackCrawl& full, XMacStackCrawl& skipped)
{
    full.LoadFrames(0, 4);
    KEEP_FRAME();
    skipped.LoadFrames(1, 3);
    KEEP_FRAME();
}

TEST(StackCrawl, LoadsAtMostFortyEightFrames)
{
    XMacStackCrawl empty;
    EXPECT_EQ(empty.GetCount(), 0);
    XMacStackCrawl all = Capture(0, 100);
    EXPECT_GT(all.GetCount(), 0);
    EXPECT_LE(all.GetCount(), 48);
    XMacStackCrawl full, skipped;
    CaptureBoth(full, skipped);
    EXPECT_EQ(full.GetCount(), 4);
    EXPECT_EQ(skipped.GetCount(), 3);
    // The frames above the capturing function are the same, shifted by one.
    EXPECT_EQ(skipped.GetFrame(1), full.GetFrame(2));
    EXPECT_EQ(skipped.GetFrame(2), full.GetFrame(3));
    EXPECT_EQ(skipped.GetFrame(3), nullptr);
}

TEST(StackCrawl, SkippingBeyondTheStackLeavesItEmpty)
{
    XMacStackCrawl crawl = Capture(1000, 8);
    EXPECT_EQ(crawl.GetCount(), 0);
    EXPECT_EQ(DumpToStream(crawl), "");
    EXPECT_EQ(DumpToString(crawl), "");
}

TEST(StackCrawl, DumpsNumberFramesDownToZero)
{
    XMacStackCrawl crawl = Capture(0, 2);
    ASSERT_EQ(crawl.GetCount(), 2);
    std::string stream = DumpToStream(crawl);
    size_t first = stream.find("  :: frame 1: ");
    size_t second = stream.find("  :: frame 0: ");
    EXPECT_EQ(first, 0u) << stream;
    EXPECT_NE(second, std::string::npos) << stream;
    EXPECT_LT(first, second);

    std::string text = DumpToString(crawl);
    std::regex line(R"(   \{1\} 0x[0-9A-F]{16} - [^\n]+\n   \{0\} 0x[0-9A-F]{16} - [^\n]+\n)");
    EXPECT_TRUE(std::regex_match(text, line)) << text;
    char address[32];
    snprintf(address, sizeof(address), "0x%016llX",
             static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(crawl.GetFrame(0))));
    EXPECT_NE(text.find(address), std::string::npos);
}

TEST(StackCrawl, OrdersByCountThenByFrames)
{
    XMacStackCrawl empty1, empty2;
    EXPECT_FALSE(empty1 < empty2);
    XMacStackCrawl one = Capture(0, 1);
    XMacStackCrawl two = Capture(0, 2);
    EXPECT_TRUE(empty1 < one);
    EXPECT_TRUE(one < two);
    EXPECT_FALSE(two < one);
    XMacStackCrawl same = two;
    EXPECT_FALSE(same < two);
    EXPECT_FALSE(two < same);
}

}  // namespace
}  // namespace qelt
