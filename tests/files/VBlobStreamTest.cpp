#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "files/VBlobStream.h"
#include "kernel/VLong.h"
#include "values/VBlob.h"

namespace qelt {

TEST(VBlobStream, WritesIntoTheCallersBlobAndLeavesItAlive)
{
    VBlobWithPtr blob;
    {
        VBlobStream s(&blob);
        ASSERT_EQ(s.OpenWriting(), VE_OK);
        ASSERT_EQ(s.PutData("hello", 5), VE_OK);
        ASSERT_EQ(s.SetPos(8), VE_OK);  // grows the blob
        ASSERT_EQ(s.PutData("!", 1), VE_OK);
        ASSERT_EQ(s.CloseWriting(), VE_OK);
        EXPECT_EQ(s.GetBlob(), &blob);
    }
    ASSERT_EQ(blob.GetSize(), 9);
    char bytes[9] = {};
    ASSERT_EQ(blob.GetData(bytes, 9), VE_OK);
    EXPECT_EQ(std::string(bytes, 5), "hello");
    EXPECT_EQ(bytes[8], '!');
}

TEST(VBlobStream, OwnBlobKeepsBytesAcrossReopen)
{
    VBlobStream s;  // creates and deletes its own blob
    ASSERT_EQ(s.OpenWriting(), VE_OK);
    ASSERT_EQ(s.PutValue(VLong(0x01020304)), VE_OK);
    ASSERT_EQ(s.CloseWriting(), VE_OK);
    EXPECT_EQ(s.GetSize(), 6);

    ASSERT_EQ(s.OpenReading(), VE_OK);
    std::unique_ptr<VValue> value(s.GetValue());
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->IsVValueSingle()->GetLong(), 0x01020304);
    char more[4];
    unsigned long got = 9;
    EXPECT_EQ(s.GetData(more, 4, &got), QeltError(200));
    EXPECT_EQ(got, 0u);
    ASSERT_EQ(s.CloseReading(), QeltError(200));

    ASSERT_EQ(s.OpenWriting(), VE_OK);
    ASSERT_EQ(s.SetSize(2), VE_OK);
    EXPECT_EQ(s.GetBlob()->GetSize(), 2);
}

}  // namespace qelt
