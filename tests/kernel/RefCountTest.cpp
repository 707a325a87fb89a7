#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <type_traits>
#include <vector>

#include "kernel/IRefCountable.h"
#include "kernel/VObject.h"
#include "kernel/VString.h"

using namespace qelt;

namespace {

// A counted object that reports its destruction.
class Counted : public VObject, public IRefCountable {
public:
    explicit Counted(int* destroyed = nullptr) : fDestroyed(destroyed) {}
    Counted(const Counted& other) : VObject(other), IRefCountable(other), fDestroyed(other.fDestroyed) {}
    Counted& operator=(const Counted&) = default;
    ~Counted() override
    {
        if (fDestroyed != nullptr)
            ++*fDestroyed;
    }

    // The current count, read through a retain/release pair.
    int32_t Count() const
    {
        int32_t n = Retain() - 1;
        Release();
        return n;
    }

    int* fDestroyed;
};

// A counted object whose last release recycles it instead of deleting it.
class Recycled : public IRefCountable {
public:
    void DoOnRefCountZero() override { ++fZeroCalls; }
    int fZeroCalls = 0;
};

}  // namespace

TEST(RefCount, RetainReleaseAndDestruction)
{
    int destroyed = 0;
    Counted* obj = new Counted(&destroyed);
    EXPECT_EQ(obj->Retain(), 2);
    EXPECT_EQ(obj->Release(), 1);
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(obj->Release(), 0);
    EXPECT_EQ(destroyed, 1);
}

TEST(RefCount, CopyStartsWithItsOwnCount)
{
    int destroyed = 0;
    Counted* source = new Counted(&destroyed);
    for (int i = 0; i < 4; ++i)
        source->Retain();
    ASSERT_EQ(source->Count(), 5);

    Counted* copy = new Counted(*source);
    EXPECT_EQ(copy->Count(), 1);
    EXPECT_EQ(source->Count(), 5);

    // Assignment does not carry the count either.
    *copy = *source;
    EXPECT_EQ(copy->Count(), 1);

    EXPECT_EQ(copy->Release(), 0);
    EXPECT_EQ(destroyed, 1);
    for (int i = 0; i < 4; ++i)
        source->Release();
    EXPECT_EQ(source->Release(), 0);
    EXPECT_EQ(destroyed, 2);
}

TEST(RefCount, OverriddenZeroHookReplacesDeletion)
{
    Recycled obj;  // on the stack: deleting it would be a fault
    obj.Retain();
    obj.Release();
    EXPECT_EQ(obj.fZeroCalls, 0);
    EXPECT_EQ(obj.Release(), 0);
    EXPECT_EQ(obj.fZeroCalls, 1);
}

TEST(RefCount, ConcurrentPairsLeaveTheCountUnchanged)
{
    int destroyed = 0;
    Counted* obj = new Counted(&destroyed);
    constexpr int kThreads = 8;
    constexpr int kPairs = 1000000;
    std::atomic<bool> go{false};
    std::atomic<int> earlyZero{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            while (!go.load())
                std::this_thread::yield();
            for (int i = 0; i < kPairs; ++i) {
                obj->Retain();
                if (obj->Release() <= 0)
                    earlyZero.fetch_add(1);
            }
        });
    }
    go.store(true);
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(earlyZero.load(), 0);
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(obj->Count(), 1);
    obj->Release();
    EXPECT_EQ(destroyed, 1);
}

TEST(RefCount, DefaultDebugDumpWritesNothing)
{
    Counted obj;
    char buffer[16];
    std::memset(buffer, 'x', sizeof(buffer));
    int size = sizeof(buffer);
    EXPECT_EQ(obj.DebugDump(buffer, size), VTC_UTF_8);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(buffer[0], 'x');
}

namespace {

// Dumps a fixed UTF-8 text, or claims more bytes than the buffer holds.
class Dumping : public VObject {
public:
    explicit Dumping(bool overclaim) : fOverclaim(overclaim) {}
    CharSet DebugDump(char* buffer, int& size) const override
    {
        const char text[] = "caf\xC3\xA9";
        std::memcpy(buffer, text, 5);
        size = fOverclaim ? 1 << 20 : 5;
        if (fOverclaim)
            std::memset(buffer, 'a', 1024);
        return VTC_UTF_8;
    }
    bool fOverclaim;
};

}  // namespace

TEST(RefCount, DebugDumpIntoAString)
{
    VString dump("previous");
    VObject plain;
    plain.DebugDump(dump);
    EXPECT_EQ(dump.GetLength(), 0);

    VString name("previous");
    plain.DebugGetClassName(name);
    EXPECT_EQ(name.GetLength(), 0);

    Dumping text(false);
    static_cast<const VObject&>(text).DebugDump(dump);
    ASSERT_EQ(dump.GetLength(), 4);
    EXPECT_EQ(dump.GetCPointer()[3], 0xE9);

    // A count beyond the 1024-byte buffer is cut to the buffer.
    Dumping overclaim(true);
    static_cast<const VObject&>(overclaim).DebugDump(dump);
    EXPECT_EQ(dump.GetLength(), 1024);
}

TEST(RefPtr, CopyMoveAssignAndDestroy)
{
    int destroyed = 0;
    {
        // AdoptRef takes over the creator's reference.
        VRefPtr<Counted> a = AdoptRef(new Counted(&destroyed));
        ASSERT_TRUE(a);
        EXPECT_EQ(a->Count(), 1);

        VRefPtr<Counted> b(a);  // copy retains
        EXPECT_EQ(a->Count(), 2);
        EXPECT_EQ(a.Get(), b.Get());

        VRefPtr<Counted> c(std::move(b));  // move transfers
        EXPECT_FALSE(b);
        EXPECT_EQ(c->Count(), 2);

        c = c;  // self-assignment keeps the reference
        EXPECT_EQ(c->Count(), 2);

        c = nullptr;  // reassignment releases
        EXPECT_EQ(a->Count(), 1);

        Counted* raw = a.Get();
        VRefPtr<Counted> d(raw);  // from an lvalue pointer: retains
        EXPECT_EQ(raw->Count(), 2);

        Counted* handed = d.Forget();  // the reference goes to the caller
        EXPECT_FALSE(d);
        EXPECT_EQ(handed->Count(), 2);
        handed->Release();
        EXPECT_EQ(destroyed, 0);
    }
    EXPECT_EQ(destroyed, 1);
}

TEST(RefPtr, ARawPointerIsRetainedWhateverItsValueCategory)
{
    int destroyed = 0;
    Counted* raw = new Counted(&destroyed);
    {
        VRefPtr<Counted> fromRvalue(std::move(raw));  // never adopts silently
        EXPECT_EQ(raw->Count(), 2);
        VRefPtr<Counted> assigned;
        assigned = static_cast<Counted*>(raw);
        EXPECT_EQ(raw->Count(), 3);
    }
    EXPECT_EQ(raw->Count(), 1);
    raw->Release();
    EXPECT_EQ(destroyed, 1);
}

TEST(RefPtr, HolderOfABaseClassAndReassignmentToAnother)
{
    int destroyed = 0;
    Counted* first = new Counted(&destroyed);
    Counted* second = new Counted(&destroyed);
    {
        VRefPtr<IRefCountable> holder(first);  // lvalue of a derived class: retains
        EXPECT_EQ(first->Count(), 2);
        holder = second;  // retains the new, releases the old
        EXPECT_EQ(first->Count(), 1);
        EXPECT_EQ(second->Count(), 2);
        std::vector<VRefPtr<IRefCountable>> list(3, holder);
        EXPECT_EQ(second->Count(), 5);
    }
    EXPECT_EQ(second->Count(), 1);
    first->Release();
    second->Release();
    EXPECT_EQ(destroyed, 2);
}

TEST(RefPtr, AdoptingTheHeldObjectAgainReleasesTheExtraReference)
{
    int destroyed = 0;
    {
        VRefPtr<Counted> holder = AdoptRef(new Counted(&destroyed));
        Counted* raw = holder.Get();
        raw->Retain();  // a second reference, handed to the holder below
        EXPECT_EQ(raw->Count(), 2);
        holder.Adopt(raw);
        EXPECT_EQ(raw->Count(), 1);
        EXPECT_EQ(holder.Get(), raw);
        holder.Adopt(holder.Retain());
        EXPECT_EQ(raw->Count(), 1);
    }
    EXPECT_EQ(destroyed, 1);
}

// Taking over a reference has one door, AdoptRef: no constructor adopts.
static_assert(!std::is_constructible_v<VRefPtr<Counted>, Counted*, bool>);

TEST(SharedBuffer, CreateCopyAndRelease)
{
    const char bytes[] = "hello";
    SharedBuffer* buffer = SharedBuffer::Create(bytes, 5);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(buffer->GetSize(), 5u);
    EXPECT_EQ(std::memcmp(buffer->GetData(), bytes, 5), 0);
    // The bytes lie right behind the 64-bit size and the 32-bit count.
    EXPECT_EQ(static_cast<char*>(buffer->GetData()) - reinterpret_cast<char*>(buffer), 12);
    buffer->Retain();
    buffer->Release();
    EXPECT_EQ(std::memcmp(buffer->GetData(), bytes, 5), 0);
    buffer->Release();  // frees; the sanitizer reports a leak or a double free otherwise
}

TEST(SharedBuffer, EmptyAndImpossibleSizes)
{
    SharedBuffer* empty = SharedBuffer::Create("x", 0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->GetSize(), 0u);
    empty->Release();

    EXPECT_EQ(SharedBuffer::Create(SIZE_MAX), nullptr);
    EXPECT_EQ(SharedBuffer::Create(SIZE_MAX - 14), nullptr);
}
