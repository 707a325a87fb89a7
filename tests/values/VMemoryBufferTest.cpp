#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "values/VMemoryBuffer.h"

namespace qelt {

using Buffer = VMemoryBuffer<1024ul, 2ul, 1048576ul>;

TEST(VMemoryBuffer, AmortizedGrowthAddsHalfTheNeedUpTo1MiBRoundedTo1KiB)
{
    struct Case {
        uint64_t need;
        uint64_t capacity;
    };
    const Case cases[] = {
        {1, 1024},           {1024, 2048},          {1025, 2048},          {3000, 5120},
        {4194304, 5242880},  // 4 MiB: the margin is capped at 1 MiB
        {5000000, 6048768},
    };
    for (const Case& c : cases) {
        Buffer buffer;
        ASSERT_TRUE(buffer._EnlargeAmortized(c.need)) << c.need;
        EXPECT_EQ(buffer.GetAllocatedSize(), c.capacity) << c.need;
        EXPECT_EQ(buffer.GetDataSize(), 0u) << c.need;
        EXPECT_NE(buffer.GetDataPtr(), nullptr);
    }
}

TEST(VMemoryBuffer, GrowingKeepsTheBytesInUse)
{
    Buffer buffer;
    std::vector<unsigned char> expected;
    // Appending byte by byte grows geometrically and never loses bytes.
    int enlargements = 0;
    uint64_t lastCapacity = 0;
    for (int i = 0; i < 100000; ++i) {
        unsigned char b = static_cast<unsigned char>(i * 7);
        ASSERT_TRUE(buffer.AppendData(&b, 1));
        expected.push_back(b);
        if (buffer.GetAllocatedSize() != lastCapacity) {
            ++enlargements;
            lastCapacity = buffer.GetAllocatedSize();
        }
    }
    ASSERT_EQ(buffer.GetDataSize(), expected.size());
    EXPECT_EQ(std::memcmp(buffer.GetDataPtr(), expected.data(), expected.size()), 0);
    EXPECT_LT(enlargements, 20);
}

TEST(VMemoryBuffer, WritingAtAnOffsetExtendsTheSizeOnlyBeyondTheEnd)
{
    Buffer buffer;
    ASSERT_TRUE(buffer.PutDataAmortized(0, "abcdef", 6));
    ASSERT_TRUE(buffer.PutDataAmortized(2, "XY", 2));
    EXPECT_EQ(buffer.GetDataSize(), 6u);
    EXPECT_EQ(std::memcmp(buffer.GetDataPtr(), "abXYef", 6), 0);
    ASSERT_TRUE(buffer.PutDataAmortized(5, "123", 3));
    EXPECT_EQ(buffer.GetDataSize(), 8u);
    EXPECT_EQ(std::memcmp(buffer.GetDataPtr(), "abXYe123", 8), 0);
    // An offset + count that cannot be represented is refused, nothing changes.
    EXPECT_FALSE(buffer.PutDataAmortized(UINT64_MAX - 1, "12", 2));
    EXPECT_EQ(buffer.GetDataSize(), 8u);
}

TEST(VMemoryBuffer, WritesUpToTheCapacityStayInTheBlockAndOneByteMoreGrowsIt)
{
    // Each case starts from a buffer of capacity 1024 holding 1 byte.
    struct Case {
        uint64_t offset;
        uint64_t count;
        uint64_t size;
        uint64_t capacity;
    };
    const Case cases[] = {
        {1, 1023, 1024, 1024},  // ends exactly at the capacity: no growth
        {1024, 0, 1024, 1024},  // nothing written at the capacity: the size still reaches it
        {1, 1024, 1025, 2048},  // one byte beyond: grows by the amortised rule
        {1024, 1, 1025, 2048},
        {2000, 0, 2000, 3072},  // an empty write beyond the capacity still grows to reach it
        {0, 1, 1, 1024},
    };
    std::vector<unsigned char> bytes(2048, 0x5A);
    for (const Case& c : cases) {
        Buffer buffer;
        ASSERT_TRUE(buffer.AppendData("A", 1));
        ASSERT_EQ(buffer.GetAllocatedSize(), 1024u);
        ASSERT_TRUE(buffer.PutDataAmortized(c.offset, bytes.data(), c.count)) << c.offset << "+" << c.count;
        EXPECT_EQ(buffer.GetDataSize(), c.size) << c.offset << "+" << c.count;
        EXPECT_EQ(buffer.GetAllocatedSize(), c.capacity) << c.offset << "+" << c.count;
        const unsigned char* data = static_cast<const unsigned char*>(buffer.GetDataPtr());
        if (c.offset > 0) {
            EXPECT_EQ(data[0], 'A') << c.offset << "+" << c.count;
        }
        if (c.count > 0) {
            EXPECT_EQ(data[c.offset + c.count - 1], 0x5A) << c.offset << "+" << c.count;
        }
    }
}

TEST(VMemoryBuffer, AssignmentResizesToTheSourceExactly)
{
    Buffer big;
    ASSERT_TRUE(big.SetCapacityExact(4096));
    Buffer ten;
    ASSERT_TRUE(ten.PutDataAmortized(0, "0123456789", 10));

    big = ten;
    EXPECT_EQ(big.GetAllocatedSize(), 10u);
    EXPECT_EQ(big.GetDataSize(), 10u);
    EXPECT_EQ(std::memcmp(big.GetDataPtr(), "0123456789", 10), 0);
    EXPECT_NE(big.GetDataPtr(), ten.GetDataPtr());

    Buffer empty;
    big = empty;
    EXPECT_EQ(big.GetDataPtr(), nullptr);
    EXPECT_EQ(big.GetAllocatedSize(), 0u);
    EXPECT_EQ(big.GetDataSize(), 0u);

    Buffer copy(ten);
    EXPECT_EQ(copy.GetDataSize(), 10u);
    EXPECT_EQ(std::memcmp(copy.GetDataPtr(), "0123456789", 10), 0);
}

TEST(VMemoryBuffer, ExactResizeCutsTheSizeAndZeroFreesTheBlock)
{
    Buffer buffer;
    ASSERT_TRUE(buffer.PutDataAmortized(0, "abcdef", 6));
    ASSERT_TRUE(buffer.SetCapacityExact(4));
    EXPECT_EQ(buffer.GetAllocatedSize(), 4u);
    EXPECT_EQ(buffer.GetDataSize(), 4u);
    EXPECT_EQ(std::memcmp(buffer.GetDataPtr(), "abcd", 4), 0);
    EXPECT_FALSE(buffer.SetDataSize(5));
    ASSERT_TRUE(buffer.SetCapacityExact(0));
    EXPECT_EQ(buffer.GetDataPtr(), nullptr);
    EXPECT_EQ(buffer.GetDataSize(), 0u);
}

}  // namespace qelt
