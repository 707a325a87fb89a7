#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "files/VConstPtrStream.h"
#include "files/VPtrStream.h"
#include "kernel/VBoolean.h"
#include "kernel/VByte.h"
#include "kernel/VLong.h"
#include "kernel/VLong8.h"
#include "kernel/VReal.h"
#include "kernel/VWord.h"
#include "runtime/VErrorContext.h"

namespace qelt {

namespace {

constexpr VError kEndOfData = QeltError(200);

std::string Contents(const VPtrStream& stream)
{
    return std::string(static_cast<const char*>(stream.GetDataPtr()), stream.GetDataSize());
}

// A stream over a copy of the bytes, open for reading.
struct ReadStream {
    explicit ReadStream(const std::string& bytes) : data(bytes), stream(data.data(), data.size())
    {
        EXPECT_EQ(stream.OpenReading(), VE_OK);
    }
    std::string data;
    VConstPtrStream stream;
};

}  // namespace

TEST(VStream, ShortReadKeepsEndOfDataUntilBytesAreGivenBack)
{
    ReadStream r("0123456789");
    VStream& s = r.stream;
    ASSERT_EQ(s.SetPos(6), VE_OK);
    char buffer[10] = {};
    unsigned long got = 99;
    EXPECT_EQ(s.GetData(buffer, 10, &got), kEndOfData);
    EXPECT_EQ(got, 4u);
    EXPECT_EQ(std::string(buffer, 4), "6789");
    EXPECT_EQ(s.GetPos(), 10);

    // Sticky: the next read returns at once and leaves the count alone.
    got = 77;
    EXPECT_EQ(s.GetData(buffer, 1, &got), kEndOfData);
    EXPECT_EQ(got, 77u);

    // Giving the 4 bytes back clears the end of data; they come again.
    EXPECT_EQ(s.UngetData(buffer, 4), VE_OK);
    EXPECT_EQ(s.GetPos(), 6);
    EXPECT_EQ(s.GetLastError(), VE_OK);
    std::memset(buffer, 0, sizeof(buffer));
    EXPECT_EQ(s.GetData(buffer, 4, &got), VE_OK);
    EXPECT_EQ(std::string(buffer, 4), "6789");
}

TEST(VStream, AnEarlierErrorStopsEveryOperation)
{
    VPtrStream s;
    ASSERT_EQ(s.OpenWriting(), VE_OK);
    ASSERT_EQ(s.PutData("abc", 3), VE_OK);
    ASSERT_EQ(s.SetPosByOffset(-5), QeltError(3));  // before the start
    EXPECT_EQ(s.GetPos(), 3);

    const int numbers[2] = {1, 2};
    EXPECT_EQ(s.PutData("def", 3), QeltError(3));
    EXPECT_EQ(s.PutLongs(numbers, 2), QeltError(3));
    EXPECT_EQ(s.PutHexBytes("x", 1), QeltError(3));
    EXPECT_EQ(s.PutValue(VLong(5)), QeltError(3));
    EXPECT_EQ(s.SetPos(0), QeltError(3));
    EXPECT_EQ(s.SetSize(0), QeltError(3));
    EXPECT_EQ(s.UngetData("a", 1), QeltError(3));
    EXPECT_EQ(s.GetPos(), 3);
    EXPECT_EQ(Contents(s), "abc");

    // Closing keeps the error; reopening replaces it.
    EXPECT_EQ(s.CloseWriting(), QeltError(3));
    ASSERT_EQ(s.OpenReading(), VE_OK);
    int read[2] = {0, 0};
    int count = 2;
    EXPECT_EQ(s.GetLongs(read, &count), kEndOfData);
    EXPECT_EQ(count, 0);  // 3 bytes: no whole number
    count = 2;
    EXPECT_EQ(s.GetLongs(read, &count), kEndOfData);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(s.GetValue(), nullptr);
}

TEST(VStream, StateRefusals)
{
    VPtrStream s;
    char byte = 0;
    // Closed: reads, writes and moves are refused and recorded.
    EXPECT_EQ(s.GetData(&byte, 1), QeltError(203));
    s.ResetLastError();
    EXPECT_EQ(s.PutData(&byte, 1), QeltError(204));
    s.ResetLastError();
    EXPECT_EQ(s.SetPos(0), QeltError(201));
    s.ResetLastError();
    // Close and flush refusals are returned but not recorded.
    EXPECT_EQ(s.CloseWriting(), QeltError(204));
    EXPECT_EQ(s.CloseReading(), QeltError(203));
    EXPECT_EQ(s.Flush(), QeltError(204));
    EXPECT_EQ(s.GetLastError(), VE_OK);

    ASSERT_EQ(s.OpenWriting(), VE_OK);
    ASSERT_EQ(s.SetPosByOffset(5), VE_OK);
    EXPECT_EQ(s.OpenReading(), QeltError(202));
    EXPECT_TRUE(s.IsWriting());
    EXPECT_FALSE(s.IsReading());
    EXPECT_EQ(s.GetLastError(), VE_OK);
    EXPECT_EQ(s.GetData(&byte, 1), QeltError(203));
    EXPECT_EQ(s.CloseWriting(), QeltError(203));

    VPtrStream refused;
    refused.SetReadOnly(true);
    EXPECT_EQ(refused.OpenWriting(), QeltError(204));
    EXPECT_FALSE(refused.IsWriting());
    refused.SetWriteOnly(true);
    EXPECT_EQ(refused.OpenReading(), QeltError(203));
}

TEST(VStream, TagSettlesTheByteOrder)
{
    const unsigned int tag = FourCC("VBAG");
    struct Case {
        bool tagSwapped;   // the data holds the tag byte-reversed
        bool swapBefore;   // swap flag before opening
        bool swapAfter;
    };
    const Case cases[] = {
        {false, false, false},
        {true, false, true},
        {false, true, false},  // native tag with the flag set clears it
        {true, true, true},
    };
    for (const Case& c : cases) {
        unsigned int first = c.tagSwapped ? __builtin_bswap32(tag) : tag;
        int value = c.tagSwapped ? static_cast<int>(__builtin_bswap32(0x01020304)) : 0x01020304;
        std::string bytes(reinterpret_cast<const char*>(&first), 4);
        bytes.append(reinterpret_cast<const char*>(&value), 4);
        VConstPtrStream s(bytes.data(), bytes.size());
        s.SetNeedSwap(c.swapBefore);
        ASSERT_EQ(s.OpenReading(tag), VE_OK);
        EXPECT_EQ(s.NeedSwap(), c.swapAfter);
        int number = 0;
        int count = 1;
        EXPECT_EQ(s.GetLongs(&number, &count), VE_OK);
        EXPECT_EQ(number, 0x01020304);
    }

    // Another tag: 207, not recorded, stream open at position 0.
    const char other[] = "XXXXrest";
    VConstPtrStream s(other, 8);
    EXPECT_EQ(s.OpenReading(tag), QeltError(207));
    EXPECT_TRUE(s.IsReading());
    EXPECT_EQ(s.GetPos(), 0);
    EXPECT_EQ(s.GetLastError(), VE_OK);

    // Too short for a tag: 207, the read's end of data stays recorded.
    VConstPtrStream tiny(other, 2);
    EXPECT_EQ(tiny.OpenReading(tag), QeltError(207));
    EXPECT_EQ(tiny.GetLastError(), kEndOfData);
}

TEST(VStream, NumberArraysSwapOnTheStreamOnly)
{
    VPtrStream s;
    s.SetBigEndian();
    ASSERT_EQ(s.OpenWriting(), VE_OK);
    const int longs[2] = {0x01020304, -2};
    const short word = 0x0A0B;
    const long long long8 = 0x0102030405060708LL;
    const double real = 1.5;
    ASSERT_EQ(s.PutLongs(longs, 2), VE_OK);
    ASSERT_EQ(s.PutWords(&word, 1), VE_OK);
    ASSERT_EQ(s.PutLong8s(&long8, 1), VE_OK);
    ASSERT_EQ(s.PutReals(&real, 1), VE_OK);
    EXPECT_EQ(longs[0], 0x01020304);  // the caller's array is unchanged
    const unsigned char expected[] = {1, 2, 3, 4, 0xFF, 0xFF, 0xFF, 0xFE, 0x0A, 0x0B, 1, 2, 3, 4, 5, 6, 7, 8,
                                      0x3F, 0xF8, 0, 0, 0, 0, 0, 0};
    ASSERT_EQ(s.GetDataSize(), sizeof(expected));
    EXPECT_EQ(std::memcmp(s.GetDataPtr(), expected, sizeof(expected)), 0);
    ASSERT_EQ(s.CloseWriting(), VE_OK);

    ASSERT_EQ(s.OpenReading(), VE_OK);
    int readLongs[2] = {};
    int count = 2;
    ASSERT_EQ(s.GetLongs(readLongs, &count), VE_OK);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(readLongs[0], 0x01020304);
    EXPECT_EQ(readLongs[1], -2);
    short readWord = 0;
    count = 1;
    ASSERT_EQ(s.GetWords(&readWord, &count), VE_OK);
    EXPECT_EQ(readWord, 0x0A0B);
    long long readLong8 = 0;
    count = 1;
    ASSERT_EQ(s.GetLong8s(&readLong8, &count), VE_OK);
    EXPECT_EQ(readLong8, long8);
    double readReal = 0;
    count = 1;
    ASSERT_EQ(s.GetReals(&readReal, &count), VE_OK);
    EXPECT_EQ(readReal, 1.5);
}

TEST(VStream, PartialArrayReadCountsWholeNumbers)
{
    ReadStream r("abcde");
    short words[3] = {};
    int count = 3;
    EXPECT_EQ(r.stream.GetWords(words, &count), kEndOfData);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(r.stream.GetPos(), 5);
}

TEST(VStream, ValuesTravelWithTheirKind)
{
    for (bool swap : {false, true}) {
        VPtrStream s;
        s.SetNeedSwap(swap);
        ASSERT_EQ(s.OpenWriting(), VE_OK);
        VByte byteValue;
        byteValue.FromLong(-2);
        VBoolean boolValue(true);
        ASSERT_EQ(s.PutValue(VLong(-123456)), VE_OK);
        ASSERT_EQ(s.PutValue(VLong8(1LL << 40)), VE_OK);
        ASSERT_EQ(s.PutValue(VReal(2.25)), VE_OK);
        ASSERT_EQ(s.PutValue(byteValue), VE_OK);
        ASSERT_EQ(s.PutValue(boolValue), VE_OK);
        ASSERT_EQ(s.PutValue(VWord(-300), false), VE_OK);  // body only
        // kind 4 then four bytes, in the stream's order
        const unsigned char* bytes = static_cast<const unsigned char*>(s.GetDataPtr());
        EXPECT_EQ(bytes[swap ? 1 : 0], 4);
        EXPECT_EQ(s.GetDataSize(), (2 + 4) + (2 + 8) + (2 + 8) + (2 + 2) + (2 + 2) + 2u);
        ASSERT_EQ(s.CloseWriting(), VE_OK);

        ASSERT_EQ(s.OpenReading(), VE_OK);
        std::unique_ptr<VValue> v1(s.GetValue());
        std::unique_ptr<VValue> v2(s.GetValue());
        std::unique_ptr<VValue> v3(s.GetValue());
        std::unique_ptr<VValue> v4(s.GetValue());
        std::unique_ptr<VValue> v5(s.GetValue());
        ASSERT_TRUE(v1 && v2 && v3 && v4 && v5);
        EXPECT_EQ(v1->GetValueInfo()->GetKind(), VK_LONG);
        EXPECT_EQ(v1->IsVValueSingle()->GetLong(), -123456);
        EXPECT_EQ(v2->IsVValueSingle()->GetLong8(), 1LL << 40);
        EXPECT_EQ(v3->IsVValueSingle()->GetReal(), 2.25);
        EXPECT_EQ(v4->IsVValueSingle()->GetByte(), -2);
        EXPECT_EQ(v5->GetValueInfo()->GetKind(), VK_BOOLEAN);
        EXPECT_TRUE(v5->IsVValueSingle()->GetBoolean());
        VWord word;
        EXPECT_EQ(word.ReadFromStream(&s), VE_OK);
        EXPECT_EQ(word.GetWord(), -300);
        EXPECT_EQ(s.GetValue(), nullptr);
        EXPECT_EQ(s.GetLastError(), kEndOfData);
    }
}

TEST(VStream, GetValueRefusesShortAndUnknownKinds)
{
    ReadStream oneByte(std::string("\x04", 1));
    EXPECT_EQ(oneByte.stream.GetValue(), nullptr);
    EXPECT_EQ(oneByte.stream.GetLastError(), kEndOfData);

    const unsigned short unknown = 7;  // no class registers kind 7
    ReadStream unknownKind(std::string(reinterpret_cast<const char*>(&unknown), 2));
    EXPECT_EQ(unknownKind.stream.GetValue(), nullptr);
}

TEST(VStream, HexBytesAreUpperCaseDigitPairs)
{
    VPtrStream s;
    ASSERT_EQ(s.OpenWriting(), VE_OK);
    const unsigned char bytes[] = {0x00, 0x9F, 0xA0, 0xFF};
    ASSERT_EQ(s.PutHexBytes(bytes, sizeof(bytes)), VE_OK);
    EXPECT_EQ(Contents(s), "009FA0FF");
}

TEST(VStream, ContentCopiesIntoAnotherStream)
{
    VPtrStream source;
    ASSERT_EQ(source.OpenWriting(), VE_OK);
    std::string bytes;
    for (int i = 0; i < 10000; ++i)
        bytes.push_back(static_cast<char>(i * 31));
    ASSERT_EQ(source.PutData(bytes.data(), bytes.size()), VE_OK);
    ASSERT_EQ(source.CloseWriting(), VE_OK);

    VPtrStream dest;
    ASSERT_EQ(dest.OpenWriting(), VE_OK);
    EXPECT_EQ(source.PutContentInto(&dest), VE_OK);
    EXPECT_FALSE(source.IsReading());
    EXPECT_EQ(Contents(dest), bytes);

    // An empty source writes nothing and closes reading.
    VPtrStream empty;
    VPtrStream dest2;
    ASSERT_EQ(dest2.OpenWriting(), VE_OK);
    EXPECT_EQ(empty.PutContentInto(&dest2), VE_OK);
    EXPECT_FALSE(empty.IsReading());
    EXPECT_EQ(dest2.GetDataSize(), 0u);

    // A destination that is not open for writing refuses.
    VPtrStream closed;
    EXPECT_EQ(source.PutContentInto(&closed), QeltError(204));
    EXPECT_FALSE(source.IsReading());
}

TEST(VConstPtrStream, ReadsWithinItsBlockOnly)
{
    const char data[] = "0123456789";
    VConstPtrStream s(data, 10);
    ASSERT_EQ(s.OpenReading(), VE_OK);
    EXPECT_EQ(s.SetPos(10), VE_OK);
    EXPECT_EQ(s.SetPos(11), kEndOfData);
    s.ResetLastError();
    ASSERT_EQ(s.SetPos(8), VE_OK);
    char buffer[4] = {};
    unsigned long got = 0;
    EXPECT_EQ(s.GetData(buffer, 4, &got), kEndOfData);
    EXPECT_EQ(got, 2u);
    EXPECT_EQ(std::string(buffer, 2), "89");
    VStream::UnderlyingData under = s.GetUnderlyingData();
    EXPECT_TRUE(under.fAvailable);
    EXPECT_EQ(under.fData, data);
    EXPECT_EQ(under.fSize, 10u);
    EXPECT_EQ(s.CloseReading(), kEndOfData);

    // Writing is refused from the open on, and recorded.
    EXPECT_EQ(s.OpenWriting(), QeltError(204));
    EXPECT_FALSE(s.IsWriting());
    EXPECT_EQ(s.GetLastError(), QeltError(204));
}

TEST(VPtrStream, GrowsToPositionsAndKeepsBytesAcrossReopen)
{
    VPtrStream s;
    ASSERT_EQ(s.OpenWriting(), VE_OK);
    ASSERT_EQ(s.PutData("abc", 3), VE_OK);
    ASSERT_EQ(s.SetPos(10), VE_OK);
    EXPECT_EQ(s.GetSize(), 10);
    ASSERT_EQ(s.PutData("xy", 2), VE_OK);
    EXPECT_EQ(s.GetSize(), 12);
    EXPECT_EQ(s.GetPos(), 12);
    // Shrinking pulls the position back.
    ASSERT_EQ(s.SetSize(11), VE_OK);
    EXPECT_EQ(s.GetPos(), 11);
    ASSERT_EQ(s.CloseWriting(), VE_OK);

    ASSERT_EQ(s.OpenReading(), VE_OK);
    EXPECT_EQ(s.GetPos(), 0);
    char buffer[3] = {};
    ASSERT_EQ(s.GetData(buffer, 3), VE_OK);
    EXPECT_EQ(std::string(buffer, 3), "abc");
    ASSERT_EQ(s.SetPos(10), VE_OK);
    ASSERT_EQ(s.GetData(buffer, 1), VE_OK);
    EXPECT_EQ(buffer[0], 'x');
    ASSERT_EQ(s.CloseReading(), VE_OK);

    // Size 0 frees the block; the stream stays usable.
    ASSERT_EQ(s.OpenWriting(), VE_OK);
    ASSERT_EQ(s.SetSize(0), VE_OK);
    EXPECT_EQ(s.GetDataPtr(), nullptr);
    EXPECT_EQ(s.GetAllocatedSize(), 0u);
    ASSERT_EQ(s.PutData("z", 1), VE_OK);
    EXPECT_EQ(Contents(s), "z");
}

TEST(VPtrStream, SingleNumbersWrittenOutsideTheBlockArriveWhole)
{
    // Each stream starts empty, so its one number makes the block: it is
    // written from a copy of the caller's variable.
    const short word = 0x0A0B;
    const int longValue = -2;
    const long long long8 = 0x0102030405060708LL;
    const double real = 1.5;
    auto written = [](auto put, const void* value, size_t size) {
        VPtrStream s;
        EXPECT_EQ(s.OpenWriting(), VE_OK);
        EXPECT_EQ(put(s), VE_OK);
        EXPECT_EQ(s.GetPos(), static_cast<long long>(size));
        return Contents(s) == std::string(static_cast<const char*>(value), size);
    };
    EXPECT_TRUE(written([&](VPtrStream& s) { return s.PutWords(&word, 1); }, &word, sizeof(word)));
    EXPECT_TRUE(written([&](VPtrStream& s) { return s.PutLongs(&longValue, 1); }, &longValue, sizeof(longValue)));
    EXPECT_TRUE(written([&](VPtrStream& s) { return s.PutLong8s(&long8, 1); }, &long8, sizeof(long8)));
    EXPECT_TRUE(written([&](VPtrStream& s) { return s.PutReals(&real, 1); }, &real, sizeof(real)));

    // No numbers: nothing is read from the array, which may be null.
    VPtrStream empty;
    ASSERT_EQ(empty.OpenWriting(), VE_OK);
    EXPECT_EQ(empty.PutLongs(nullptr, 0), VE_OK);
    EXPECT_EQ(empty.PutLong8s(nullptr, -1), VE_OK);
    EXPECT_EQ(empty.GetPos(), 0);

    // A stream that is not writing refuses the number and stores why.
    StErrorContextInstaller quiet(false);
    VPtrStream closed;
    EXPECT_NE(closed.PutLongs(&longValue, 1), VE_OK);
    EXPECT_NE(closed.GetLastError(), VE_OK);
    EXPECT_EQ(closed.GetDataSize(), 0u);
}

TEST(VPtrStream, NumbersWrittenAcrossTheBlockBoundaryAllArrive)
{
    // Writes that fit the block and writes that make it grow give the same
    // bytes, in both byte orders.
    for (bool swap : {false, true}) {
        VPtrStream s;
        s.SetNeedSwap(swap);
        ASSERT_EQ(s.OpenWriting(), VE_OK);
        const int count = 1000;  // 4000 bytes: the block grows several times
        for (int i = 0; i < count; ++i)
            ASSERT_EQ(s.PutLongs(&i, 1), VE_OK) << i;
        EXPECT_EQ(s.GetPos(), 4 * count);
        ASSERT_EQ(s.GetDataSize(), 4u * count);
        const unsigned char* data = static_cast<const unsigned char*>(s.GetDataPtr());
        for (int i = 0; i < count; ++i) {
            int value;
            unsigned char b[4];
            std::memcpy(b, data + 4 * i, 4);
            if (swap) {
                std::swap(b[0], b[3]);
                std::swap(b[1], b[2]);
            }
            std::memcpy(&value, b, 4);
            ASSERT_EQ(value, i) << "swap " << swap;
        }
        // Rewriting from the start overwrites in place and keeps the size.
        ASSERT_EQ(s.SetPos(0), VE_OK);
        const int minusOne = -1;
        ASSERT_EQ(s.PutLongs(&minusOne, 1), VE_OK);
        EXPECT_EQ(s.GetDataSize(), 4u * count);
        EXPECT_EQ(std::memcmp(s.GetDataPtr(), "\xFF\xFF\xFF\xFF", 4), 0);
    }
}

// Writes that fit the block go through the stream's write window; every
// other operation must see the position and size they made, and nothing may
// write through the window once the stream has an error. A plain model of
// bytes and position checks a long run of mixed operations.
TEST(VPtrStream, WritesThatFitTheBlockKeepPositionAndSizeInStepWithEveryOperation)
{
    std::mt19937 random(37);
    VPtrStream s;
    ASSERT_EQ(s.OpenWriting(), VE_OK);
    std::string model;
    long long pos = 0;
    auto write = [&](const std::string& bytes) {
        if (pos > static_cast<long long>(model.size()))
            model.resize(static_cast<size_t>(pos), '\0');
        if (pos + bytes.size() > model.size())
            model.resize(static_cast<size_t>(pos) + bytes.size(), '\0');
        model.replace(static_cast<size_t>(pos), bytes.size(), bytes);
        pos += static_cast<long long>(bytes.size());
    };
    for (int step = 0; step < 4000; ++step) {
        const unsigned op = random() % 10;
        if (op < 5) {
            std::string bytes(1 + random() % 9, static_cast<char>('a' + step % 26));
            ASSERT_EQ(s.PutData(bytes.data(), bytes.size()), VE_OK) << step;
            write(bytes);
        } else if (op < 7) {
            const int value = step;
            ASSERT_EQ(s.PutLongs(&value, 1), VE_OK) << step;
            write(std::string(reinterpret_cast<const char*>(&value), 4));
        } else if (op == 7) {
            const long long to = static_cast<long long>(random() % (model.size() + 16));
            ASSERT_EQ(s.SetPos(to), VE_OK) << step;
            if (to > static_cast<long long>(model.size()))
                model.resize(static_cast<size_t>(to), '\0');
            pos = to;
        } else if (op == 8) {
            const long long size = static_cast<long long>(random() % (model.size() + 8));
            ASSERT_EQ(s.SetSize(size), VE_OK) << step;
            model.resize(static_cast<size_t>(size), '\0');
            pos = std::min(pos, size);
        } else {
            ASSERT_EQ(s.SetPosByOffset(-std::min<long long>(pos, 3)), VE_OK) << step;
            pos -= std::min<long long>(pos, 3);
        }
        ASSERT_EQ(s.GetPos(), pos) << step;
        ASSERT_EQ(s.GetSize(), static_cast<long long>(model.size())) << step;
        ASSERT_EQ(s.GetDataSize(), model.size()) << step;
        ASSERT_EQ(s.GetUnderlyingData().fSize, model.size()) << step;
    }
    // Bytes past the size that a SetPos or SetSize made are not initialised:
    // compare what the model wrote itself.
    ASSERT_EQ(s.CloseWriting(), VE_OK);
    ASSERT_EQ(s.GetDataSize(), model.size());
    ASSERT_EQ(s.OpenReading(), VE_OK);
    std::string back(model.size(), '\0');
    ASSERT_EQ(s.GetData(back.data(), back.size()), VE_OK);
    EXPECT_EQ(back.size(), model.size());
}

TEST(VPtrStream, AnErrorStoredWhileWritingStopsWritesThatWouldFitTheBlock)
{
    StErrorContextInstaller quiet(false);
    VPtrStream s;
    ASSERT_EQ(s.OpenWriting(), VE_OK);
    ASSERT_EQ(s.PutData("abcd", 4), VE_OK);  // the block now has room to spare
    ASSERT_EQ(s.PutData("ef", 2), VE_OK);
    ASSERT_GT(s.GetAllocatedSize(), 8u);
    // A move before the start fails and is stored.
    const VError moved = s.SetPosByOffset(-100);
    ASSERT_NE(moved, VE_OK);
    EXPECT_EQ(s.PutData("gh", 2), moved);
    const int value = 7;
    EXPECT_EQ(s.PutLongs(&value, 1), moved);
    EXPECT_EQ(s.GetPos(), 6);
    EXPECT_EQ(Contents(s), "abcdef");
    // Once the error is cleared, writing goes on where it stopped.
    s.ResetLastError();
    ASSERT_EQ(s.PutData("gh", 2), VE_OK);
    ASSERT_EQ(s.PutData("ij", 2), VE_OK);
    EXPECT_EQ(Contents(s), "abcdefghij");
}

TEST(VPtrStream, ChangesMadeBetweenWritesApplyToTheNextWrite)
{
    // The byte order: numbers written after the swap flag changed are swapped.
    VPtrStream s;
    ASSERT_EQ(s.OpenWriting(), VE_OK);
    const int one = 1;
    ASSERT_EQ(s.PutLongs(&one, 1), VE_OK);
    ASSERT_EQ(s.PutLongs(&one, 1), VE_OK);
    s.SetNeedSwap(true);
    ASSERT_EQ(s.PutLongs(&one, 1), VE_OK);
    EXPECT_EQ(Contents(s), std::string("\x01\0\0\0\x01\0\0\0\0\0\0\x01", 12));

    // Closing: a write after the close is refused.
    ASSERT_EQ(s.CloseWriting(), VE_OK);
    StErrorContextInstaller quiet(false);
    EXPECT_NE(s.PutData("x", 1), VE_OK);
    EXPECT_EQ(s.GetDataSize(), 12u);
}

}  // namespace qelt
