#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "FileTestSupport.h"
#include "TestSupport.h"
#include "files/VFile.h"
#include "files/VFileStream.h"
#include "platform/PlatFaults.h"

namespace qelt {

using test::PosixToPath;
using test::ReadText;
using test::WriteText;

namespace {

VRefPtr<VFile> FileAt(const std::string& posix) { return AdoptRef(new VFile(PosixToPath(posix))); }

std::string Pattern(size_t size)
{
    std::string out(size, '\0');
    for (size_t i = 0; i < size; ++i)
        out[i] = static_cast<char>('a' + (i * 7) % 26);
    return out;
}

}  // namespace

TEST(VFileStream, ReadingBuffersAreSizedToTheFile)
{
    std::string dir = test::MakeTempFolder("fstream_size");
    struct {
        size_t fileSize;
        uint64_t buffer;
    } cases[] = {{100, 100}, {0, 32768}, {32768, 32768}, {50000, 32768}};
    for (const auto& c : cases) {
        std::string path = dir + "/f" + std::to_string(c.fileSize);
        WriteText(path, Pattern(c.fileSize));
        VRefPtr<VFile> file = FileAt(path);
        VFileStream stream(file.Get());
        ASSERT_EQ(stream.OpenReading(), VE_OK);
        EXPECT_EQ(stream.GetBufferSize(), c.buffer) << c.fileSize;
        EXPECT_EQ(stream.GetSize(), static_cast<long long>(c.fileSize));
        stream.CloseReading();
    }
}

TEST(VFileStream, ReadsThroughTheBufferAndAroundIt)
{
    std::string dir = test::MakeTempFolder("fstream_read");
    std::string data = Pattern(100000);
    WriteText(dir + "/f", data);
    VRefPtr<VFile> file = FileAt(dir + "/f");
    VFileStream stream(file.Get());
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    std::string got(100000, '\0');
    ASSERT_EQ(stream.GetData(got.data(), 10), VE_OK);
    ASSERT_EQ(stream.GetData(got.data() + 10, 40000), VE_OK);  // larger than the buffer
    ASSERT_EQ(stream.GetData(got.data() + 40010, 59990), VE_OK);
    EXPECT_EQ(got, data);
    unsigned long count = 0;
    EXPECT_EQ(stream.GetData(got.data(), 1, &count), QeltError(200));
    EXPECT_EQ(count, 0u);
    stream.CloseReading();

    StErrorContextInstaller errors;
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    EXPECT_EQ(stream.SetPos(100001), QeltError(200));
    stream.CloseReading();
}

TEST(VFileStream, ARefillKeepsOnlyTheBytesReallyRead)
{
    std::string dir = test::MakeTempFolder("fstream_shrink");
    WriteText(dir + "/f", Pattern(100));
    VRefPtr<VFile> file = FileAt(dir + "/f");
    VFileStream stream(file.Get());
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    // The file shrinks after the stream learnt its size.
    ASSERT_EQ(::truncate((dir + "/f").c_str(), 10), 0);
    StErrorContextInstaller errors;
    std::string got(50, '\0');
    unsigned long count = 0;
    EXPECT_EQ(stream.GetData(got.data(), 50, &count), QeltError(200));
    EXPECT_EQ(count, 10u);
    EXPECT_EQ(got.substr(0, 10), Pattern(10));
    stream.CloseReading();
}

TEST(VFileStream, WritesOverlayBufferedBytesAndFlushOnClose)
{
    std::string dir = test::MakeTempFolder("fstream_write");
    VRefPtr<VFile> file = FileAt(dir + "/f");
    ASSERT_EQ(file->Create(), VE_OK);
    VFileStream stream(file.Get());
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    ASSERT_EQ(stream.PutData("0123456789", 10), VE_OK);
    ASSERT_EQ(stream.SetPos(5), VE_OK);
    ASSERT_EQ(stream.PutData("xy", 2), VE_OK);
    EXPECT_EQ(ReadText(dir + "/f"), "");  // still buffered
    ASSERT_EQ(stream.CloseWriting(), VE_OK);
    EXPECT_EQ(ReadText(dir + "/f"), "01234xy789");

    // Reopening overwrites from 0 without cutting; the size flag makes the
    // file as long as the stream.
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    ASSERT_EQ(stream.PutData("AB", 2), VE_OK);
    ASSERT_EQ(stream.CloseWriting(false), VE_OK);
    EXPECT_EQ(ReadText(dir + "/f"), "AB234xy789");
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    ASSERT_EQ(stream.PutData("C", 1), VE_OK);
    ASSERT_EQ(stream.CloseWriting(true), VE_OK);
    EXPECT_EQ(ReadText(dir + "/f"), "CB234xy789");
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    ASSERT_EQ(stream.PutData("D", 1), VE_OK);
    ASSERT_EQ(stream.SetSize(1), VE_OK);
    ASSERT_EQ(stream.CloseWriting(true), VE_OK);
    EXPECT_EQ(ReadText(dir + "/f"), "D");
}

TEST(VFileStream, ACutShorterThanTheBufferedDataLeavesTheFileAtTheNewSize)
{
    // Bytes written through the stream (some may already be written out
    // with a small buffer), then the file cut, then the stream closed.
    struct Case {
        const char* old;
        size_t written;
        uint64_t buffer;  // 0: the default buffer
        long long cut;
        bool closeSetsSize;
    };
    const Case cases[] = {
        {"", 10, 0, 4, false},       {"", 10, 0, 4, true},         {"abcdefghijklmnopqrstuvwxyz", 10, 0, 4, false},
        {"", 20, 8, 12, false},      {"", 20, 8, 3, true},         {"", 10, 0, 0, false},
        {"abcdefghij", 10, 0, 9, true}, {"abcdefghijklmnopqrstuvwxyz", 30, 8, 17, false},
        {"", 10, 0, 9, false},          {"", 20, 8, 15, false},
    };
    const std::string dir = test::MakeTempFolder("fstream_cut_buffered");
    int number = 0;
    for (const Case& c : cases) {
        const std::string path = dir + "/f" + std::to_string(++number);
        WriteText(path, c.old);
        VRefPtr<VFile> file = FileAt(path);
        VFileStream stream(file.Get());
        ASSERT_EQ(stream.OpenWriting(), VE_OK);
        if (c.buffer != 0)
            stream.SetBufferSize(c.buffer);
        const std::string data = Pattern(c.written);
        ASSERT_EQ(stream.PutData(data.data(), static_cast<unsigned long>(data.size())), VE_OK);
        ASSERT_EQ(stream.SetSize(c.cut), VE_OK);
        EXPECT_EQ(stream.GetSize(), c.cut) << number;
        EXPECT_EQ(stream.GetPos(), c.cut) << number;
        ASSERT_EQ(stream.CloseWriting(c.closeSetsSize), VE_OK);
        EXPECT_EQ(ReadText(path), data.substr(0, static_cast<size_t>(c.cut))) << "case " << number;
    }

    // Writing goes on at the cut.
    const std::string path = dir + "/again";
    VRefPtr<VFile> file = FileAt(path);
    ASSERT_EQ(file->Create(), VE_OK);
    VFileStream stream(file.Get());
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    ASSERT_EQ(stream.PutData("0123456789", 10), VE_OK);
    ASSERT_EQ(stream.SetSize(4), VE_OK);
    ASSERT_EQ(stream.PutData("XY", 2), VE_OK);
    ASSERT_EQ(stream.CloseWriting(true), VE_OK);
    EXPECT_EQ(ReadText(path), "0123XY");
}

TEST(VFileStream, ABufferWrittenOutStartsEmpty)
{
    std::string dir = test::MakeTempFolder("fstream_writeout");
    VRefPtr<VFile> file = FileAt(dir + "/f");
    ASSERT_EQ(file->Create(), VE_OK);
    VFileStream stream(file.Get());
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    stream.SetBufferSize(8);
    ASSERT_EQ(stream.GetBufferSize(), 8u);
    const char* pieces[] = {"abcdef", "ghijkl", "mnopqrstuvwxyz", "0", "12345678"};
    std::string all;
    for (const char* piece : pieces) {
        ASSERT_EQ(stream.PutData(piece, static_cast<unsigned long>(std::strlen(piece))), VE_OK);
        all += piece;
    }
    ASSERT_EQ(stream.SetPos(2), VE_OK);
    ASSERT_EQ(stream.PutData("__", 2), VE_OK);
    all.replace(2, 2, "__");
    ASSERT_EQ(stream.CloseWriting(), VE_OK);
    EXPECT_EQ(ReadText(dir + "/f"), all);
}

TEST(VFileStream, PositioningPastTheEndWhileWritingExtendsTheFile)
{
    std::string dir = test::MakeTempFolder("fstream_extend");
    WriteText(dir + "/f", "0123456789");
    VRefPtr<VFile> file = FileAt(dir + "/f");
    VFileStream stream(file.Get());
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    ASSERT_EQ(stream.SetPos(50), VE_OK);
    EXPECT_EQ(ReadText(dir + "/f").size(), 50u);
    EXPECT_EQ(stream.GetSize(), 50);
    ASSERT_EQ(stream.CloseWriting(), VE_OK);
}

TEST(VFileStream, DestroyingAWritingStreamLosesOnlyTheBufferedBytes)
{
    std::string dir = test::MakeTempFolder("fstream_destroy");
    WriteText(dir + "/f", "old");
    VRefPtr<VFile> file = FileAt(dir + "/f");
    {
        VFileStream stream(file.Get());
        ASSERT_EQ(stream.OpenWriting(), VE_OK);
        ASSERT_EQ(stream.PutData("NEW", 3), VE_OK);
    }
    EXPECT_EQ(ReadText(dir + "/f"), "old");
}

TEST(VFileStream, AFailedFinalCutIsTheCloseResult)
{
    std::string dir = test::MakeTempFolder("fstream_cut");
    WriteText(dir + "/f", "0123456789");
    VRefPtr<VFile> file = FileAt(dir + "/f");
    VFileStream stream(file.Get());
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    ASSERT_EQ(stream.PutData("ab", 2), VE_OK);
    StErrorContextInstaller errors;
    // The first write puts out the buffer; the second is the cut to 2 bytes.
    {
        test::StTestFaults faults("write:2:EIO");
        EXPECT_EQ(stream.CloseWriting(true), QeltError(219));
    }
    EXPECT_EQ(stream.GetLastError(), QeltError(219));
    EXPECT_EQ(ReadText(dir + "/f"), "ab23456789");
}

TEST(VFileStream, OpeningWithoutAFileOrTwiceIsRefused)
{
    StErrorContextInstaller errors;
    VFileStream none(nullptr);
    EXPECT_EQ(none.OpenReading(), QeltError(205));
    EXPECT_EQ(none.OpenWriting(), QeltError(205));
    std::string dir = test::MakeTempFolder("fstream_missing");
    VRefPtr<VFile> missing = FileAt(dir + "/none");
    VFileStream stream(missing.Get());
    EXPECT_EQ(stream.OpenReading(), QeltError(600));
}

}  // namespace qelt
