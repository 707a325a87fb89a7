#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "files/VPtrStream.h"
#include "kernel/VLong.h"
#include "kernel/VString.h"
#include "values/VValueBag.h"

namespace qelt {

namespace {

constexpr int kAttributes = 40;
constexpr int kThreads = 6;

std::string Name(int i) { return "attribute_" + std::to_string(i); }

// A bag whose attribute index is not built yet (removing an attribute drops
// it): it is built again by the first look-up, whichever thread makes it.
VValueBag* MakeUnindexedBag()
{
    VValueBag* bag = new VValueBag();
    for (int i = 0; i < kAttributes; ++i) {
        std::string name = Name(i);
        bag->SetAttribute(StPackedDictionaryKey(name.data(), name.size()), VLong(i));
    }
    bag->SetAttribute("dropped", VLong(-1));
    bag->RemoveAttribute("dropped");
    return bag;
}

// Runs body(threadIndex) in kThreads threads released together, so that
// their first look-ups meet.
template <class BODY>
void RunTogether(BODY body)
{
    std::atomic<int> waiting{kThreads};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            waiting.fetch_sub(1);
            while (waiting.load() > 0)
                std::this_thread::yield();
            body(t);
        });
    }
    for (std::thread& thread : threads)
        thread.join();
}

}  // namespace

TEST(BagConcurrentRead, ThreadsReadingOneBagWhoseIndexIsNotBuiltAllFindEveryValue)
{
    VValueBag* bag = MakeUnindexedBag();
    const VValueBag* shared = bag;
    EXPECT_FALSE(shared->GetAttributesDictionary().HasIndex());
    std::vector<int> wrong(kThreads, 0);
    RunTogether([&](int t) {
        for (int round = 0; round < 20; ++round) {
            for (int k = 0; k < kAttributes; ++k) {
                int i = (k + t * 7) % kAttributes;
                std::string name = Name(i);
                StPackedDictionaryKey key(name.data(), name.size());
                // Every other thread reads the numbers as text, which makes
                // the bag attach a value object to the slot.
                if (t % 2 == 0) {
                    VLong value;
                    if (!shared->GetAttribute(key, value) || value.GetLong() != i)
                        ++wrong[t];
                } else {
                    VString value;
                    VString expected;
                    expected.FromLong(i);
                    if (!shared->GetAttribute(key, value) || !value.EqualToStringRaw(expected))
                        ++wrong[t];
                }
            }
            std::string absent = "absent_" + std::to_string(round);
            VLong value;
            if (shared->GetAttribute(StPackedDictionaryKey(absent.data(), absent.size()), value))
                ++wrong[t];
        }
    });
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(wrong[t], 0) << "thread " << t;
    EXPECT_TRUE(shared->GetAttributesDictionary().HasIndex());
    bag->Release();
}

TEST(BagConcurrentRead, ThreadsWritingOneUnindexedBagToStreamsWriteTheSameBytes)
{
    VValueBag* bag = MakeUnindexedBag();
    VPtrStream expected;
    {
        VValueBag* twin = MakeUnindexedBag();
        expected.OpenWriting();
        twin->WriteToStream(&expected);
        expected.CloseWriting();
        twin->Release();
    }
    const VValueBag* shared = bag;
    EXPECT_FALSE(shared->GetAttributesDictionary().HasIndex());
    std::vector<char> same(kThreads, 0);
    RunTogether([&](int t) {
        VPtrStream stream;
        stream.OpenWriting();
        shared->WriteToStream(&stream);
        stream.CloseWriting();
        same[t] = stream.GetDataSize() == expected.GetDataSize() &&
                  std::equal(static_cast<const char*>(stream.GetDataPtr()),
                             static_cast<const char*>(stream.GetDataPtr()) + stream.GetDataSize(),
                             static_cast<const char*>(expected.GetDataPtr()));
    });
    for (int t = 0; t < kThreads; ++t)
        EXPECT_TRUE(same[t]) << "thread " << t;
    bag->Release();
}

}  // namespace qelt
