#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "json/json.h"
#include "kernel/VCppMemMgr.h"
#include "kernel/VString.h"
#include "process/VProcess.h"
#include "runtime/VErrorContext.h"
#include "values/VBlob.h"

namespace qelt {
namespace {

VError VqRT(int inNumber) { return MakeVError(kSignatureVQRT, inNumber); }

std::string ToStd(const VString& inText)
{
    std::string out;
    for (int i = 0; i < inText.GetLength(); ++i)
        out.push_back(static_cast<char>(inText.GetCPointer()[i]));
    return out;
}

// The bytes 0, 1, ..., n - 1.
std::vector<unsigned char> Counting(size_t inCount)
{
    std::vector<unsigned char> bytes(inCount);
    for (size_t i = 0; i < inCount; ++i)
        bytes[i] = static_cast<unsigned char>(i);
    return bytes;
}

VRefPtr<VJSONObject> MakeBlob(const std::vector<unsigned char>& inBytes)
{
    return AdoptRef(VJSONBlob::Create(inBytes.data(), inBytes.size()));
}

std::vector<unsigned char> BytesOf(VJSONObject* inObject)
{
    const VJSONBlob* blob = VJSONBlob::CastJSONObject(inObject);
    EXPECT_NE(blob, nullptr);
    if (blob == nullptr || blob->GetSize() == 0)
        return {};
    const unsigned char* data = static_cast<const unsigned char*>(blob->GetData());
    return std::vector<unsigned char>(data, data + blob->GetSize());
}

// ---------------------------------------------------------------------------
// Making blobs

TEST(JSONBlob, CreateCopiesTheBytesIntoAnObjectOfTheClassBlob)
{
    std::vector<unsigned char> bytes = Counting(10);
    VRefPtr<VJSONObject> object = MakeBlob(bytes);
    ASSERT_NE(object.Get(), nullptr);
    bytes[0] = 99;  // the blob holds its own copy
    EXPECT_EQ(BytesOf(object.Get()), Counting(10));
    EXPECT_EQ(object->GetClassObject(), VJSONBlob::GetClass());
    EXPECT_EQ(VJSONBlob::GetClass(), VProcess::sInstance->GetClassStore()->GetClassObject(VString("Blob"), false).Get());
    VString name;
    object->GetClassName(name);
    EXPECT_EQ(ToStd(name), "Blob");
    EXPECT_EQ(object->GetProperty(VString("size")).GetNumber(), 10.0);
}

TEST(JSONBlob, AnEmptyBlobHasNoBufferAndNoByteAtIndexZero)
{
    VRefPtr<VJSONObject> object = AdoptRef(VJSONBlob::Create(nullptr, 0));
    const VJSONBlob* blob = VJSONBlob::CastJSONObject(object.Get());
    ASSERT_NE(blob, nullptr);
    EXPECT_EQ(blob->GetBuffer(), nullptr);
    EXPECT_EQ(blob->GetData(), nullptr);
    EXPECT_EQ(object->GetProperty(VString("size")).GetNumber(), 0.0);
    StErrorContextInstaller errors(false);
    EJSONStatus status = eJSONStatus_Done;
    EXPECT_TRUE(object->GetPropertyByIndex(0, &status).IsUndefined());
    EXPECT_EQ(status, eJSONStatus_Failed);
    EXPECT_EQ(errors.GetLastError(), VqRT(-10713));
}

TEST(JSONBlob, CastAnswersOnlyForObjectsBehindABlob)
{
    VRefPtr<VJSONObject> plain = AdoptRef(new VJSONObject());
    VRefPtr<VJSONObject> blob = MakeBlob(Counting(3));
    EXPECT_EQ(VJSONBlob::CastJSONObject(nullptr), nullptr);
    EXPECT_EQ(VJSONBlob::CastJSONObject(plain.Get()), nullptr);
    EXPECT_EQ(VJSONBlob::CastJSONObject(VJSONBlob::GetClass()), nullptr);  // a class, not a blob
    EXPECT_EQ(VJSONBlob::CastJSONObject(blob.Get()), blob->GetImplementation());
}

// ---------------------------------------------------------------------------
// Binary form

TEST(JSONBlob, TheBinaryFormIsTheSizeLittleEndianThenTheBytes)
{
    VRefPtr<VJSONObject> object = MakeBlob({0xAA, 0xBB, 0xCC});
    VJSONBlob* blob = VJSONBlob::CastJSONObject(object.Get());
    EXPECT_EQ(blob->IJSON_GetBinarySignature(), FourCC("JBlb"));
    VMemoryBuffer<1024, 2, 1048576> buffer;
    buffer.AppendData("x", 1);
    uint64_t error = 1;
    EXPECT_EQ(blob->IJSON_WriteToBuffer(buffer, &error), eJSONStatus_Done);
    EXPECT_EQ(error, 0u);
    const unsigned char expected[] = {'x', 3, 0, 0, 0, 0, 0, 0, 0, 0xAA, 0xBB, 0xCC};
    ASSERT_EQ(buffer.GetDataSize(), sizeof expected);
    EXPECT_EQ(std::memcmp(buffer.GetDataPtr(), expected, sizeof expected), 0);
}

TEST(JSONBlob, ABufferThatCannotGrowFailsTheWriteAndKeepsItsBytes)
{
    VRefPtr<VJSONObject> object = MakeBlob(Counting(4));
    VJSONBlob* blob = VJSONBlob::CastJSONObject(object.Get());
    // A buffer without a memory manager cannot get a block.
    VCppMemMgr* manager = VObject::sCppMemMgr;
    VObject::sCppMemMgr = nullptr;
    VMemoryBuffer<1024, 2, 1048576> buffer;
    uint64_t error = 0;
    EJSONStatus status;
    VError raised;
    {
        StErrorContextInstaller errors(false);
        status = blob->IJSON_WriteToBuffer(buffer, &error);
        raised = errors.GetLastError();
    }
    VObject::sCppMemMgr = manager;
    EXPECT_EQ(status, eJSONStatus_Failed);
    EXPECT_EQ(error, static_cast<uint64_t>(QeltError(100)));
    EXPECT_EQ(raised, QeltError(100));
    EXPECT_EQ(buffer.GetDataSize(), 0u);
}

TEST(JSONBlob, TheFactoryFunctionRebuildsABlobOverANewBuffer)
{
    const unsigned char bytes[] = {1, 2, 3, 4, 5};
    VRefPtr<VJSONObject> classObject;
    uint64_t error = 7;
    VRefPtr<IJSONObject> implementation =
        AdoptRef(VJSONBlob::CreateIJSONObject(nullptr, FourCC("JBlb"), bytes, sizeof bytes, classObject, &error));
    ASSERT_NE(implementation.Get(), nullptr);
    EXPECT_EQ(classObject.Get(), VJSONBlob::GetClass());
    VRefPtr<VJSONObject> object = AdoptRef(new VJSONObject(classObject.Get(), implementation.Get(), false));
    EXPECT_EQ(BytesOf(object.Get()), std::vector<unsigned char>(bytes, bytes + 5));
    EXPECT_NE(VJSONBlob::CastJSONObject(object.Get())->GetData(), bytes);

    // Zero bytes still get a buffer; a class object already there stays.
    VJSONObject* before = classObject.Get();
    VRefPtr<IJSONObject> empty =
        AdoptRef(VJSONBlob::CreateIJSONObject(nullptr, 0, nullptr, 0, classObject, nullptr));
    ASSERT_NE(empty.Get(), nullptr);
    EXPECT_EQ(classObject.Get(), before);
    const VJSONBlob* emptyBlob = dynamic_cast<const VJSONBlob*>(empty.Get());
    ASSERT_NE(emptyBlob, nullptr);
    EXPECT_NE(emptyBlob->GetBuffer(), nullptr);
    EXPECT_EQ(emptyBlob->GetSize(), 0u);
}

}  // namespace
}  // namespace qelt
