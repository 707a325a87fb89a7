// Blob values: the owning blob, the read-only view, raw and stream forms.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "files/VConstPtrStream.h"
#include "files/VPtrStream.h"
#include "json/VJSONBlob.h"
#include "json/VJSONClassStore.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"
#include "kernel/VString.h"
#include "process/VProcess.h"
#include "values/VBlob.h"

using namespace qelt;

namespace {

std::string Bytes(const VBlob& blob)
{
    std::string out(static_cast<size_t>(blob.GetSize()), '\0');
    if (!out.empty())
        blob.GetData(out.data(), blob.GetSize(), 0);
    return out;
}

constexpr VError kFewerBytes = QeltError(200);
constexpr VError kNotWritable = QeltError(204);

}  // namespace

TEST(VBlobTest, GetDataBounds)
{
    VBlobWithPtr blob("abcdefghijkl", 12);
    char out[16] = {0};
    long long read = -1;
    EXPECT_EQ(blob.GetData(out, 10, 5, &read), kFewerBytes);
    EXPECT_EQ(read, 7);
    EXPECT_EQ(std::string(out, 7), "fghijkl");
    EXPECT_EQ(blob.GetData(out, 10, 12, &read), kFewerBytes);
    EXPECT_EQ(read, 0);
    EXPECT_EQ(blob.GetData(out, 1, -1, &read), kFewerBytes);
    EXPECT_EQ(read, 0);
    VBlobWithPtr empty;
    EXPECT_EQ(empty.GetData(out, 0, 0, &read), VE_OK);
}

TEST(VBlobTest, OverwritingBytesInsideKeepsTheSize)
{
    VBlobWithPtr blob("abcdefgh", 8);
    EXPECT_EQ(blob.PutData("XY", 2, 3), VE_OK);
    EXPECT_EQ(blob.GetSize(), 8);
    EXPECT_EQ(Bytes(blob), "abcXYfgh");
    EXPECT_EQ(blob.PutData("Z", 1, 7), VE_OK);  // the last byte
    EXPECT_EQ(blob.GetSize(), 8);
    EXPECT_EQ(Bytes(blob), "abcXYfgZ");
    EXPECT_EQ(blob.PutData("12", 2, 7), VE_OK);  // past the end: grows by one
    EXPECT_EQ(blob.GetSize(), 9);
    EXPECT_EQ(Bytes(blob), "abcXYfg12");
}

TEST(VBlobTest, GapsAreZeroFilled)
{
    VBlobWithPtr blob;
    EXPECT_EQ(blob.PutData("xyz", 3, 10), VE_OK);
    EXPECT_EQ(blob.GetSize(), 13);
    EXPECT_EQ(blob.GetAllocatedSize(), 1024u);
    EXPECT_FALSE(blob.IsNull());
    EXPECT_EQ(Bytes(blob), std::string(10, '\0') + "xyz");

    // Growing through SetSize after shrinking: the old bytes do not come back.
    VBlobWithPtr grown("secret", 6);
    EXPECT_EQ(grown.SetSize(2), VE_OK);
    EXPECT_EQ(grown.SetSize(6), VE_OK);
    EXPECT_EQ(Bytes(grown), std::string("se") + std::string(4, '\0'));
    // After amortised growth the spare capacity is not what a gap shows.
    VBlobWithPtr spare;
    spare.PutData("12345678", 8, 0);
    spare.SetSize(3);
    spare.PutData("Z", 1, 6);
    EXPECT_EQ(Bytes(spare), std::string("123") + std::string(3, '\0') + "Z");
}

TEST(VBlobTest, BadOffsetsAndSizesAreRefused)
{
    VBlobWithPtr blob("abc", 3);
    EXPECT_EQ(blob.PutData("x", 1, -1), kNotWritable);
    EXPECT_EQ(blob.PutData("x", -1, 0), kNotWritable);
    EXPECT_NE(blob.SetSize(-5), VE_OK);
    EXPECT_EQ(Bytes(blob), "abc");
}

TEST(VBlobTest, ExactResizes)
{
    VBlobWithPtr blob;
    blob.PutData("abc", 3, 0);
    EXPECT_EQ(blob.GetAllocatedSize(), 1024u);
    EXPECT_EQ(blob.FromData("hello", 5), VE_OK);
    EXPECT_EQ(blob.GetAllocatedSize(), 5u);
    EXPECT_EQ(Bytes(blob), "hello");
}

TEST(VBlobTest, NullBlobsHoldNoBytes)
{
    std::string hundred(100, 'q');
    VBlobWithPtr blob(hundred.data(), 100);
    blob.SetNull(true);
    EXPECT_EQ(blob.GetSize(), 0);
    blob.SetNull(false);
    EXPECT_EQ(blob.GetSize(), 0);
    EXPECT_FALSE(blob.IsNull());

    VBlobWithPtr copySource("abcd", 4);
    copySource.SetNull(true);
    VValue* clone = copySource.Clone();
    EXPECT_TRUE(clone->IsNull());
    delete clone;
}

TEST(VBlobTest, StreamBodyWithSwap)
{
    const unsigned char body[] = {0, 0, 0, 3, 'A', 'B', 'C'};
    VConstPtrStream in(body, sizeof(body));
    in.SetNeedSwap(true);
    ASSERT_EQ(in.OpenReading(), VE_OK);
    VBlobWithPtr blob;
    EXPECT_EQ(blob.ReadFromStream(&in), VE_OK);
    in.CloseReading();
    EXPECT_EQ(Bytes(blob), "ABC");

    VPtrStream out;
    out.SetNeedSwap(true);
    ASSERT_EQ(out.OpenWriting(), VE_OK);
    EXPECT_EQ(blob.WriteToStream(&out), VE_OK);
    out.CloseWriting();
    ASSERT_EQ(out.GetDataSize(), sizeof(body));
    EXPECT_EQ(std::memcmp(out.GetDataPtr(), body, sizeof(body)), 0);
}

// A count larger than the bytes on the stream is refused before anything
// is allocated; a negative count too.
TEST(VBlobTest, StreamCountIsCheckedAgainstTheBytesThere)
{
    const unsigned char huge[] = {0x7F, 0xFF, 0xFF, 0xFF, 'A', 'B'};
    const unsigned char negative[] = {0xFF, 0xFF, 0xFF, 0xF0, 'A', 'B'};
    for (const unsigned char* body : {huge, negative}) {
        VConstPtrStream in(body, 6);
        in.SetNeedSwap(true);
        ASSERT_EQ(in.OpenReading(), VE_OK);
        VBlobWithPtr blob("keep", 4);
        EXPECT_EQ(blob.ReadFromStream(&in), kFewerBytes);
        in.CloseReading();
        EXPECT_EQ(Bytes(blob), "keep");
    }
}

TEST(VBlobTest, RawForm)
{
    VBlobWithPtr blob("hello", 5);
    unsigned char raw[16];
    unsigned long long unused = 0;
    EXPECT_EQ(blob.GetSpace(unused), 9u);
    EXPECT_EQ(blob.WriteToPtr(raw), raw + 9);
    VValue* loaded = VBlob::sInfo.LoadFromPtr(raw);
    EXPECT_EQ(Bytes(*static_cast<VBlob*>(loaded)), "hello");
    delete loaded;
    EXPECT_EQ(VBlob::sInfo.GetSizeOfValueDataPtr(raw), 9u);
    EXPECT_EQ(VBlob::sInfo.ByteSwapPtr(raw, true), raw + 4);
    EXPECT_EQ(raw[3], 5);
    VBlob::sInfo.ByteSwapPtr(raw, false);

    // A count of 0 loads nothing: the bytes stay.
    int zero = 0;
    EXPECT_EQ(blob.LoadFromPtr(&zero), reinterpret_cast<const char*>(&zero) + 4);
    EXPECT_EQ(Bytes(blob), "hello");

    VValue* generated = VValue::NewValueFromValueKind(11);
    ASSERT_NE(generated, nullptr);
    EXPECT_EQ(static_cast<VBlob*>(generated)->GetSize(), 0);
    EXPECT_FALSE(generated->IsNull());
    delete generated;
}

TEST(VBlobTest, ViewsAndConversions)
{
    const char bytes[] = "view";
    VConstBlobWithPtr view(bytes, 4);
    EXPECT_EQ(view.PutData("x", 1, 0), kNotWritable);
    view.Clear();
    EXPECT_EQ(view.GetSize(), 4);
    view.SetNull(true);
    EXPECT_EQ(view.GetSize(), 4);

    VBlobWithPtr target("old", 3);
    target.FromValue(view);
    EXPECT_EQ(target.GetSize(), 0);
    view.GetValue(target);
    EXPECT_EQ(Bytes(target), "view");

    VBlobWithPtr a("abcd", 4), b("abcd", 4), c("abcde", 5), null("abcd", 4);
    null.SetNull(true);
    EXPECT_TRUE(a.EqualToSameKind(&b));
    EXPECT_FALSE(a.EqualToSameKind(&c));
    EXPECT_FALSE(a.EqualToSameKind(&null));
    EXPECT_EQ(a.CompareTo(b), CR_UNRELEVANT);

    VBlobWithPtr fromBlob(static_cast<const VBlob&>(view));
    EXPECT_TRUE(fromBlob.IsNull());
    VConstBlobWithPtr live(bytes, 4);
    VBlobWithPtr fromLive(static_cast<const VBlob&>(live));
    EXPECT_EQ(Bytes(fromLive), "view");
}

namespace {

// A stream that cannot tell its size: it delivers a few bytes, then ends.
class UnsizedStream : public VStream {
public:
    UnsizedStream(const void* data, unsigned long size) : fData(static_cast<const char*>(data)), fSize(size) {}

protected:
    VError DoPutData(const void*, unsigned long) override { return QeltError(204); }
    VError DoGetData(void* buffer, unsigned long* count) override
    {
        unsigned long pos = static_cast<unsigned long>(GetPos());
        unsigned long n = pos < fSize ? std::min(*count, fSize - pos) : 0;
        std::memcpy(buffer, fData + pos, n);
        bool shortRead = n < *count;
        *count = n;
        return shortRead ? QeltError(200) : VE_OK;
    }
    long long DoGetSize() override { return -1; }
    VError DoSetSize(long long) override { return QeltError(204); }

private:
    const char* fData;
    unsigned long fSize;
};

}  // namespace

TEST(VBlobTest, UnsizedStreamWithALyingCount)
{
    // Claims 2 GiB less one byte, holds 3: the blob ends with what was there.
    const unsigned char body[] = {0xFF, 0xFF, 0xFF, 0x7F, 'x', 'y', 'z'};
    UnsizedStream in(body, sizeof(body));
    ASSERT_EQ(in.OpenReading(), VE_OK);
    VBlobWithPtr blob;
    EXPECT_EQ(blob.ReadFromStream(&in), QeltError(200));
    EXPECT_EQ(Bytes(blob), "xyz");
    EXPECT_LE(blob.GetAllocatedSize(), 2u << 20);
    in.CloseReading();
}

TEST(VBlobTest, JSONBlobObjectsTakeTheBlobClassOfTheRunningProcess)
{
    // Each process has a class store of its own: a blob made under a later
    // process must not keep the class of a store already torn down.
    for (int round = 0; round < 2; ++round) {
        std::unique_ptr<VProcess> process(new VProcess);
        ASSERT_TRUE(process->Init(0));
        VBlobWithPtr value("abc", 3);
        VJSONValue json;
        EXPECT_EQ(value.GetJSONValue(json, 0), VE_OK);
        VJSONObject* object = json.GetObject();
        ASSERT_NE(object, nullptr) << round;
        VRefPtr<VJSONObject> blobClass = process->GetClassStore()->GetClassObject(VString("Blob"), false);
        ASSERT_NE(blobClass.Get(), nullptr) << round;
        EXPECT_EQ(object->GetClassObject(), blobClass.Get()) << round;
        EXPECT_TRUE(object->GetProperty(VString("slice")).IsObject()) << round;
        VBlobWithPtr back;
        EXPECT_EQ(back.FromJSONValue(json), VE_OK);
        EXPECT_EQ(Bytes(back), "abc");
    }
}
