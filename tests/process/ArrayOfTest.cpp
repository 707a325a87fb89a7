#include <gtest/gtest.h>

#include <vector>

#include "kernel/IRefCountable.h"
#include "process/VArrayOf.h"

namespace qelt {
namespace {

std::vector<uint32_t> Elements(const VArrayOf<uint32_t>& inArray)
{
    std::vector<uint32_t> out;
    for (int32_t i = 1; i <= inArray.GetCount(); ++i)
        out.push_back(inArray[i]);
    return out;
}

TEST(ArrayOf, InsertionClampsPositionsToTheNearestEnd)
{
    VArrayOf<uint32_t> array(2);
    struct Step {
        uint32_t value;
        int32_t pos;
    } steps[] = {{1, 1}, {2, 0}, {3, -5}, {4, 99}, {5, 3}, {6, 6}};
    for (const Step& s : steps)
        EXPECT_TRUE(array.AddNth(s.value, s.pos));
    EXPECT_EQ(Elements(array), (std::vector<uint32_t>{3, 2, 5, 1, 4, 6}));
    EXPECT_GE(array.GetCapacity(), 6);
    EXPECT_EQ(array.FindPos(5), 3);
    EXPECT_EQ(array.FindPos(7), 0);

    array.DeleteNth(1);
    array.DeleteNth(0);
    array.DeleteNth(9);
    EXPECT_EQ(Elements(array), (std::vector<uint32_t>{2, 5, 1, 4, 6}));
}

TEST(ArrayOf, UniqueArrayRefusesASecondCopy)
{
    VArrayOf<uint32_t> array(10, true);
    EXPECT_TRUE(array.AddNth(7, 1));
    EXPECT_FALSE(array.AddNth(7, 2));
    EXPECT_EQ(array.GetCount(), 1);
}

TEST(ArrayOf, ForeignBlockIsLeftToItsOwnerWhenTheArrayGrows)
{
    uint32_t block[2] = {10, 20};
    {
        VArrayOf<uint32_t> array(block, 2, 2);
        EXPECT_TRUE(array.AddNth(30, 3));
        EXPECT_NE(array.First(), block);
        EXPECT_EQ(Elements(array), (std::vector<uint32_t>{10, 20, 30}));
    }
    EXPECT_EQ(block[1], 20u);
}

class Counted : public IRefCountable {
public:
    explicit Counted(int* ioLive) : fLive(ioLive) { ++*fLive; }
    ~Counted() override { --*fLive; }

private:
    int* fLive;
};

TEST(ArrayOf, RetainedPointersAreReleasedWhenRemovedOrDestroyed)
{
    int live = 0;
    {
        VArrayRetainedPtrOf<Counted*> array;
        array.Append(new Counted(&live));
        array.Append(nullptr);
        array.Append(new Counted(&live));
        EXPECT_EQ(live, 2);
        array.DeleteNth(1);
        EXPECT_EQ(live, 1);
        array.DeleteNth(1);  // the null element
        EXPECT_EQ(array.GetCount(), 1);
    }
    EXPECT_EQ(live, 0);
}

TEST(ArrayOf, IteratorWalksBothWaysAndStopsOffTheEnds)
{
    VArrayOf<uint32_t> array;
    for (uint32_t v : {1u, 2u, 3u})
        array.Append(v);

    VArrayIteratorOf<uint32_t> forward(&array);
    EXPECT_EQ(forward.GetPos(), -1);
    EXPECT_EQ(forward.Next(), 1u);
    EXPECT_EQ(forward.Next(), 2u);
    EXPECT_EQ(forward.Next(), 3u);
    EXPECT_EQ(forward.Current(), 3u);
    EXPECT_EQ(forward.Next(), 0u);
    EXPECT_EQ(forward.GetPos(), 0);

    VArrayIteratorOf<uint32_t> backward(&array);
    EXPECT_EQ(backward.Previous(), 3u);
    EXPECT_EQ(backward.Previous(), 2u);
    EXPECT_EQ(backward.Previous(), 1u);
    EXPECT_EQ(backward.Previous(), 0u);
    EXPECT_EQ(backward.GetPos(), 0);

    EXPECT_EQ(backward.SetPos(9), 0);
    EXPECT_EQ(backward.SetPos(-7), 0);
    EXPECT_EQ(backward.SetPos(-1), -1);
    EXPECT_EQ(backward.SetPos(2), 2);
    EXPECT_EQ(backward.Current(), 2u);

    VArrayIteratorOf<uint32_t> none(nullptr);
    EXPECT_EQ(none.Next(), 0u);
    EXPECT_EQ(none.Last(), 0u);
}

}  // namespace
}  // namespace qelt
