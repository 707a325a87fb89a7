#include <gtest/gtest.h>

#include "TestSupport.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "JSONCallTestSupport.h"
#include "json/json.h"
#include "kernel/VCppMemMgr.h"
#include "kernel/VString.h"
#include "process/VProcess.h"
#include "runtime/VErrorContext.h"
#include "values/VBlob.h"

namespace qelt {
namespace {

VError VqRT(int inNumber) { return MakeVError(kSignatureVQRT, inNumber); }

using test::ToStd;

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

using test::CallMember;

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

TEST(JSONBlob, ThreadsMakingBlobsAtOnceShareOneClass)
{
    // Run alone, the first of these threads makes the class while the others
    // wait for it.
    std::vector<VJSONObject*> classes(8, nullptr);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < classes.size(); ++i) {
        threads.emplace_back([&classes, i] {
            VRefPtr<VJSONObject> object = AdoptRef(VJSONBlob::Create("ab", 2));
            classes[i] = object->GetClassObject();
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    VJSONObject* blobClass = VProcess::sInstance->GetClassStore()->GetClassObject(VString("Blob"), false).Get();
    ASSERT_NE(blobClass, nullptr);
    for (VJSONObject* classObject : classes)
        EXPECT_EQ(classObject, blobClass);
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

// ---------------------------------------------------------------------------
// Reading, writing and describing

TEST(JSONBlob, PropertiesAreReadOnlyAndIndexesGiveTheBytes)
{
    VRefPtr<VJSONObject> object = MakeBlob({7, 200, 255});
    EJSONStatus status = eJSONStatus_Failed;
    EXPECT_EQ(object->GetCountPropertiesByIndex(&status), 3u);
    EXPECT_EQ(status, eJSONStatus_Done);
    EXPECT_EQ(object->GetPropertyByIndex(1, &status).GetNumber(), 200.0);
    EXPECT_EQ(object->GetPropertyByIndex(2, &status).GetNumber(), 255.0);
    {
        StErrorContextInstaller errors(false);
        EXPECT_TRUE(object->GetPropertyByIndex(3, &status).IsUndefined());
        EXPECT_EQ(status, eJSONStatus_Failed);
        EXPECT_EQ(errors.GetLastError(), VqRT(-10713));
    }
    for (const char* name : {"size", "other"}) {
        StErrorContextInstaller errors(false);
        EXPECT_FALSE(object->SetProperty(VString(name), VJSONValue(1.0))) << name;
        EXPECT_EQ(errors.GetLastError(), VqRT(-10702)) << name;
        EXPECT_FALSE(object->HasOwnProperty(VString(name))) << name;
    }
    EXPECT_EQ(object->GetProperty(VString("size")).GetNumber(), 3.0);
    bool needsLocker = true;
    EXPECT_TRUE(VJSONBlob::CastJSONObject(object.Get())->IJSON_IsSharable(object.Get(), needsLocker));
    EXPECT_FALSE(needsLocker);
}

TEST(JSONBlob, TheDescriptionCountsTheBytes)
{
    std::vector<unsigned char> bytes(1024, 'a');
    VRefPtr<VJSONObject> object = MakeBlob(bytes);
    VString description;
    object->GetDescription(description);
    EXPECT_EQ(ToStd(description), "1024 bytes");
}

TEST(JSONBlob, CloningABlobGivesTheSameObject)
{
    VRefPtr<VJSONObject> object = MakeBlob(Counting(4));
    VJSONCloner cloner;
    VJSONValue clone;
    EXPECT_EQ(object->Clone(clone, cloner), VE_OK);
    EXPECT_EQ(clone.GetObject(), object.Get());
}

TEST(JSONBlob, TheTextWriterRefusesBlobsWhereBinaryOrGenericObjectsAreRequired)
{
    VRefPtr<VJSONObject> object = MakeBlob(Counting(3));
    const struct {
        unsigned int fFlags;
        VError fError;
    } cases[] = {{kJSONWriteQuoted | kJSONWriteNoBinary, QeltError(911)},
                 {kJSONWriteQuoted | kJSONWriteGenericOnly, QeltError(914)}};
    for (const auto& c : cases) {
        StErrorContextInstaller errors(false);
        VJSONWriter writer(c.fFlags);
        VString text;
        EXPECT_EQ(writer.StringifyObject(object.Get(), text), c.fError) << c.fFlags;
    }
    // Otherwise it is written through its property names.
    VJSONWriter writer(kJSONWriteQuoted);
    VString text;
    EXPECT_EQ(writer.StringifyObject(object.Get(), text), VE_OK);
    EXPECT_EQ(ToStd(text), "{\"size\":3}");
}

// ---------------------------------------------------------------------------
// Slices

TEST(JSONBlob, SliceBoundsCountFromTheEndAndAreClamped)
{
    const double nan = std::nan("");
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        std::vector<VJSONValue> fParameters;
        size_t fFirst;  // expected bytes: [first, first + count)
        size_t fCount;
    } cases[] = {
        {{VJSONValue(2.0), VJSONValue(-1.0)}, 2, 7},
        {{VJSONValue(-3.0)}, 7, 3},
        {{VJSONValue(5.0), VJSONValue(2.0)}, 0, 0},
        {{}, 0, 10},
        {{VJSONValue(2.9), VJSONValue(-1.9)}, 2, 7},  // truncated toward zero
        {{VJSONValue(-30.0), VJSONValue(30.0)}, 0, 10},
        {{VJSONValue(JSON_undefined), VJSONValue(4.0)}, 0, 4},
        // NaN is 0 and infinities stick to the ends of the range.
        {{VJSONValue(nan)}, 0, 10},
        {{VJSONValue(3.0), VJSONValue(nan)}, 0, 0},
        {{VJSONValue(-inf)}, 0, 10},
        {{VJSONValue(inf)}, 0, 0},
        {{VJSONValue(2.0), VJSONValue(inf)}, 2, 8},
        {{VJSONValue(-inf), VJSONValue(-inf)}, 0, 0},
        {{VJSONValue(1e300), VJSONValue(-1e300)}, 0, 0},
    };
    VRefPtr<VJSONObject> object = MakeBlob(Counting(10));
    const VJSONBlob* whole = VJSONBlob::CastJSONObject(object.Get());
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const auto& c = cases[i];
        VJSONValue result;
        VError error = VE_OK;
        EXPECT_EQ(CallMember(object.Get(), "slice", c.fParameters, result, error), eJSONStatus_Done) << i;
        EXPECT_EQ(error, VE_OK) << i;
        const VJSONBlob* slice = VJSONBlob::CastJSONObject(result.GetObject());
        ASSERT_NE(slice, nullptr) << i;
        EXPECT_EQ(result.GetObject()->GetClassObject(), VJSONBlob::GetClass()) << i;
        ASSERT_EQ(slice->GetSize(), c.fCount) << i;
        if (c.fCount == 0) {
            EXPECT_EQ(slice->GetBuffer(), nullptr) << i;
            continue;
        }
        EXPECT_EQ(slice->GetBuffer(), whole->GetBuffer()) << i;  // shared, not copied
        EXPECT_EQ(slice->GetData(), static_cast<const char*>(whole->GetData()) + c.fFirst) << i;
    }
}

TEST(JSONBlob, ASliceOfASliceCountsWithinTheFirstSliceAndOutlivesIt)
{
    VRefPtr<VJSONObject> object = MakeBlob(Counting(10));
    VRefPtr<VJSONObject> first = AdoptRef(VJSONBlob::CastJSONObject(object.Get())->CreateSlice(2, 8));
    object = nullptr;  // the buffer lives on in the slices
    VRefPtr<VJSONObject> second = AdoptRef(VJSONBlob::CastJSONObject(first.Get())->CreateSlice(1, -1));
    first = nullptr;
    EXPECT_EQ(BytesOf(second.Get()), std::vector<unsigned char>({3, 4, 5, 6}));
    EXPECT_EQ(second->GetProperty(VString("size")).GetNumber(), 4.0);
}

TEST(JSONBlob, SliceOnSomethingElseFailsWithoutError)
{
    VRefPtr<VJSONObject> blob = MakeBlob(Counting(2));
    VJSONValue function = blob->GetProperty(VString("slice"));
    ASSERT_NE(function.GetObject(), nullptr);
    VRefPtr<VJSONObject> plain = AdoptRef(new VJSONObject());
    for (VJSONObject* receiver : {plain.Get(), static_cast<VJSONObject*>(nullptr)}) {
        StErrorContextInstaller errors(false);
        std::vector<VJSONValue> parameters;
        VJSONValue result;
        EXPECT_EQ(function.GetObject()->CallAsFunction(receiver, nullptr, &parameters, result), eJSONStatus_Failed);
        EXPECT_EQ(errors.GetLastError(), VE_OK);
    }
}

// ---------------------------------------------------------------------------
// The class "Blob"

TEST(JSONBlob, InstantiatingTheClassTakesNoneOrOneBlob)
{
    VJSONObject* classObject = VJSONBlob::GetClass();
    ASSERT_NE(classObject, nullptr);
    VRefPtr<VJSONObject> source = MakeBlob({9, 8, 7});
    VRefPtr<VJSONObject> plain = AdoptRef(new VJSONObject());
    const struct {
        std::vector<VJSONValue> fParameters;
        VError fError;
        int fSize;  // -1: no object made
    } cases[] = {
        {{}, VE_OK, 0},
        {{VJSONValue(source.Get())}, VE_OK, 3},
        {{VJSONValue(plain.Get())}, VqRT(54), 0},
        {{VJSONValue(2.0)}, VqRT(54), 0},
        {{VJSONValue(source.Get()), VJSONValue(source.Get())}, VqRT(58), -1},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const auto& c = cases[i];
        VJSONValue result;
        VError error = VE_OK;
        EXPECT_EQ(CallMember(classObject, "new", c.fParameters, result, error), eJSONStatus_Done) << i;
        EXPECT_EQ(error, c.fError) << i;
        if (c.fSize < 0) {
            EXPECT_TRUE(result.IsNull()) << i;
            continue;
        }
        const VJSONBlob* made = VJSONBlob::CastJSONObject(result.GetObject());
        ASSERT_NE(made, nullptr) << i;
        EXPECT_EQ(made->GetSize(), static_cast<size_t>(c.fSize)) << i;
        EXPECT_TRUE(result.GetObject()->IsInstanceOf(classObject)) << i;
    }
    // The copy has a buffer of its own.
    VJSONValue copy;
    VError error = VE_OK;
    CallMember(classObject, "new", {VJSONValue(source.Get())}, copy, error);
    EXPECT_EQ(BytesOf(copy.GetObject()), std::vector<unsigned char>({9, 8, 7}));
    EXPECT_NE(VJSONBlob::CastJSONObject(copy.GetObject())->GetBuffer(),
              VJSONBlob::CastJSONObject(source.Get())->GetBuffer());
}

TEST(JSONBlob, BlobParametersAnswerTheirBytes)
{
    VRefPtr<VJSONObject> blob = MakeBlob(Counting(6));
    VRefPtr<VJSONObject> slice = AdoptRef(VJSONBlob::CastJSONObject(blob.Get())->CreateSlice(2, 5));
    VRefPtr<VJSONObject> empty = AdoptRef(VJSONBlob::Create(nullptr, 0));
    VRefPtr<VJSONObject> plain = AdoptRef(new VJSONObject());
    std::vector<VJSONValue> parameters{VJSONValue(slice.Get()), VJSONValue(empty.Get()), VJSONValue(plain.Get())};
    VJSONFunctionContext context(nullptr, nullptr, &parameters, nullptr, nullptr);
    StErrorContextInstaller errors(false);
    const void* data = nullptr;
    size_t size = 0;
    EXPECT_TRUE(context.GetBlobParam(1, false, &data, &size));
    EXPECT_EQ(data, VJSONBlob::CastJSONObject(slice.Get())->GetData());
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(*static_cast<const unsigned char*>(data), 2);
    EXPECT_TRUE(context.GetBlobParam(2, false, &data, &size));
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_FALSE(context.GetBlobParam(3, true, &data, &size));
    EXPECT_FALSE(context.GetBlobParam(4, true, &data, &size));
    EXPECT_EQ(errors.GetLastError(), VE_OK);
    EXPECT_TRUE(context.GetParamCheckFlag());
    EXPECT_FALSE(context.GetBlobParam(3, false, &data, &size));
    EXPECT_EQ(errors.GetLastError(), VqRT(54));
    EXPECT_FALSE(context.GetParamCheckFlag());
}

// ---------------------------------------------------------------------------
// Blob values

TEST(JSONBlob, BlobValuesBecomeBlobObjectsAndComeBack)
{
    const unsigned char bytes[] = {0, 1, 0xFE, 0xFF, 42};
    for (size_t count : {sizeof bytes, size_t(0)}) {
        VBlobWithPtr value(bytes, static_cast<long long>(count));
        VJSONValue json;
        EXPECT_EQ(value.GetJSONValue(json, 0), VE_OK);
        ASSERT_NE(VJSONBlob::CastJSONObject(json.GetObject()), nullptr) << count;
        EXPECT_EQ(BytesOf(json.GetObject()), std::vector<unsigned char>(bytes, bytes + count));

        VBlobWithPtr back(bytes, 2);
        back.SetNull(true);
        EXPECT_EQ(back.FromJSONValue(json), VE_OK);
        EXPECT_FALSE(back.IsNull()) << count;
        EXPECT_TRUE(back.EqualToSameKind(&value)) << count;
    }
    // Anything but a blob object makes the value null.
    VRefPtr<VJSONObject> plain = AdoptRef(new VJSONObject());
    for (const VJSONValue& json : {VJSONValue(plain.Get()), VJSONValue(3.0), VJSONValue(JSON_null)}) {
        VBlobWithPtr back(bytes, 3);
        EXPECT_EQ(back.FromJSONValue(json), VE_OK);
        EXPECT_TRUE(back.IsNull());
        EXPECT_EQ(back.GetSize(), 0);
    }
}

// ---------------------------------------------------------------------------
// Function objects

TEST(JSONTools, OnlyFunctionObjectsAreFormulas)
{
    VRefPtr<VJSONObject> blob = MakeBlob(Counting(1));
    VJSONValue slice = blob->GetProperty(VString("slice"));
    VRefPtr<VJSONObject> plain = AdoptRef(new VJSONObject());
    EXPECT_TRUE(IsObjectAFormula(slice));
    EXPECT_TRUE(IsObjectAFormula(slice.GetObject()));
    EXPECT_FALSE(IsObjectAFormula(plain.Get()));
    EXPECT_FALSE(IsObjectAFormula(VJSONValue(plain.Get())));
    EXPECT_FALSE(IsObjectAFormula(blob.Get()));
    EXPECT_FALSE(IsObjectAFormula(VJSONBlob::GetClass()));  // a class, not a function
    EXPECT_FALSE(IsObjectAFormula(VJSONValue(1.0)));
    EXPECT_FALSE(IsObjectAFormula(VJSONValue(JSON_undefined)));
    EXPECT_FALSE(IsObjectAFormula(static_cast<const VJSONObject*>(nullptr)));
}

}  // namespace
}  // namespace qelt
