#include <gtest/gtest.h>

#include "TestSupport.h"

#include <string>
#include <utility>
#include <vector>

#include "json/json.h"
#include "kernel/VCompareOptions.h"
#include "kernel/VString.h"
#include "runtime/VErrorContext.h"

namespace qelt {
namespace {

using test::ToStd;

std::vector<std::string> NamesInOrder(const VJSONObject* inObject)
{
    std::vector<std::pair<VString, VJSONValue>> properties;
    inObject->GetOwnPropertiesInOrder(properties);
    std::vector<std::string> names;
    for (const auto& property : properties)
        names.push_back(ToStd(property.first));
    return names;
}

// A fixture object: one new empty object, released at the end.
class JSONObjectTest : public ::testing::Test {
protected:
    void SetUp() override { fObject = new VJSONObject(); }
    void TearDown() override { fObject->Release(); }

    VJSONObject* fObject = nullptr;
};

TEST_F(JSONObjectTest, InsertionOrderSurvivesReplacementAndRemoval)
{
    fObject->SetProperty(VString("b"), VJSONValue(1.0));
    fObject->SetProperty(VString("a"), VJSONValue(2.0));
    fObject->SetProperty(VString("c"), VJSONValue(3.0));
    fObject->SetProperty(VString("b"), VJSONValue(4.0));
    EXPECT_EQ(NamesInOrder(fObject), (std::vector<std::string>{"b", "a", "c"}));
    EXPECT_EQ(fObject->GetProperty(VString("b")).GetNumber(), 4.0);

    fObject->RemoveProperty(VString("b"));
    VJSONPropertyMap map = fObject->GetInternalProperties();
    ASSERT_EQ(map.size(), 2u);
    EXPECT_EQ(map.at(VString("a")).second, 0u);
    EXPECT_EQ(map.at(VString("c")).second, 1u);

    fObject->SetProperty(VString("b"), VJSONValue(5.0));
    EXPECT_EQ(NamesInOrder(fObject), (std::vector<std::string>{"a", "c", "b"}));

    // Names compare exactly: case counts.
    fObject->SetProperty(VString("B"), VJSONValue(6.0));
    EXPECT_EQ(fObject->GetOwnPropertyCount(), 4u);
    EXPECT_TRUE(fObject->GetProperty(VString("x")).IsUndefined());
}

TEST_F(JSONObjectTest, UndefinedRemovesAndClearPropertyWritesTheEmptyValue)
{
    fObject->SetProperty(VString("t"), VJSONValue(JSON_true));
    fObject->SetProperty(VString("s"), VJSONValue(VString("text")));
    fObject->SetProperty(VString("o"), VJSONValue(JSON_object));
    fObject->SetProperty(VString("n"), VJSONValue(9.0));
    fObject->SetProperty(VString("gone"), VJSONValue(1.0));

    EXPECT_TRUE(fObject->SetProperty(VString("gone"), VJSONValue(JSON_undefined)));
    EXPECT_FALSE(fObject->HasOwnProperty(VString("gone")));

    fObject->ClearProperty(VString("t"));
    fObject->ClearProperty(VString("s"));
    fObject->ClearProperty(VString("o"));
    fObject->ClearProperty(VString("n"));
    fObject->ClearProperty(VString("missing"));
    EXPECT_EQ(fObject->GetProperty(VString("t")).GetType(), JSON_false);
    VJSONValue s = fObject->GetProperty(VString("s"));
    EXPECT_TRUE(s.IsString());
    EXPECT_FALSE(s.GetBool());
    EXPECT_TRUE(fObject->GetProperty(VString("o")).IsNull());
    EXPECT_EQ(fObject->GetProperty(VString("n")).GetNumber(), 0.0);
    EXPECT_FALSE(fObject->HasOwnProperty(VString("missing")));

    fObject->Clear();
    EXPECT_TRUE(fObject->IsEmpty());
}

TEST_F(JSONObjectTest, ReadsCopyWithFreshStampsAndShareContainers)
{
    VJSONValue child(JSON_object);
    fObject->SetProperty(VString("child"), child);
    VJSONValue read = fObject->GetProperty(VString("child"));
    EXPECT_EQ(read.GetObject(), child.GetObject());
    EXPECT_NE(read.GetStamp(), fObject->GetProperty(VString("child")).GetStamp());
}

TEST_F(JSONObjectTest, LockerIDIsAnOrdinaryNameOnUnsharedObjects)
{
    EXPECT_EQ(fObject->GetSharedID(), 0);
    EXPECT_FALSE(fObject->HasOwnProperty(VString("__LockerID")));
    EXPECT_TRUE(fObject->SetProperty(VString("__LockerID"), VJSONValue(5.0)));
    EXPECT_EQ(fObject->GetProperty(VString("__LockerID")).GetNumber(), 5.0);
}

TEST_F(JSONObjectTest, ClassNamesAndInstances)
{
    VString name;
    fObject->GetClassName(name);
    EXPECT_EQ(ToStd(name), "Object");
    EXPECT_TRUE(fObject->IsGenericObject());
    EXPECT_TRUE(fObject->IsInstanceOf(static_cast<VJSONClass*>(nullptr)));

    // A shared object takes the root class "Object" too, and its name.
    VJSONObject* shared = new VJSONObject(nullptr, nullptr, true);
    shared->GetClassName(name);
    EXPECT_EQ(ToStd(name), "Object");
    shared->Release();

    StErrorContextInstaller errors(false);
    EXPECT_FALSE(fObject->IsInstanceOf(fObject));
    EXPECT_EQ(errors.GetLastError(), MakeVError(kSignatureVQRT, -10745));
}

TEST_F(JSONObjectTest, MergeWithKeepsOrReplacesAndShares)
{
    fObject->SetProperty(VString("a"), VJSONValue(1.0));
    VJSONObject* other = new VJSONObject();
    VJSONValue child(JSON_object);
    other->SetProperty(VString("a"), VJSONValue(2.0));
    other->SetProperty(VString("c"), child);

    EXPECT_EQ(fObject->MergeWith(other, true), VE_OK);
    EXPECT_EQ(fObject->GetProperty(VString("a")).GetNumber(), 1.0);
    EXPECT_EQ(fObject->GetProperty(VString("c")).GetObject(), child.GetObject());
    EXPECT_EQ(fObject->MergeWith(other, false), VE_OK);
    EXPECT_EQ(fObject->GetProperty(VString("a")).GetNumber(), 2.0);
    other->Release();
}

TEST_F(JSONObjectTest, DeepEqualityIgnoresOrderAndEndsOnCycles)
{
    VCompareOptions options;
    VJSONObject* other = new VJSONObject();
    fObject->SetProperty(VString("x"), VJSONValue(1.0));
    fObject->SetProperty(VString("y"), VJSONValue(VString("s")));
    other->SetProperty(VString("y"), VJSONValue(VString("s")));
    other->SetProperty(VString("x"), VJSONValue(1.0));
    EXPECT_TRUE(fObject->DeepEqualTo(other, options));
    EXPECT_TRUE(fObject->DeepEqualTo(fObject, options));

    // Two distinct self-referencing objects of the same shape.
    fObject->SetProperty(VString("self"), VJSONValue(fObject));
    other->SetProperty(VString("self"), VJSONValue(other));
    EXPECT_TRUE(fObject->DeepEqualTo(other, options));
    other->SetProperty(VString("x"), VJSONValue(2.0));
    EXPECT_FALSE(fObject->DeepEqualTo(other, options));

    // null and undefined are not deeply equal.
    VJSONObject* a = new VJSONObject();
    VJSONObject* b = new VJSONObject();
    a->SetProperty(VString("v"), VJSONValue(JSON_null));
    b->SetProperty(VString("w"), VJSONValue(JSON_null));
    EXPECT_FALSE(a->DeepEqualTo(b, options));
    a->Release();
    b->Release();
    other->Release();
}

TEST_F(JSONObjectTest, DescriptionIsTheObjectsJSONText)
{
    fObject->SetProperty(VString("a"), VJSONValue(1.0));
    VString text;
    fObject->GetDescription(text);
    EXPECT_EQ(ToStd(text), "{\"a\":1}");
    EXPECT_EQ(fObject->GetString(text), VE_OK);
    EXPECT_EQ(ToStd(text), "[object Object]");
}

// An implementation that counts its destructions and can answer reads.
class TestImplementation : public VObject, public IJSONObject {
public:
    explicit TestImplementation(int* ioDestroyed = nullptr) : fDestroyed(ioDestroyed) {}
    ~TestImplementation() override
    {
        if (fDestroyed != nullptr)
            ++*fDestroyed;
    }

    EJSONStatus IJSON_GetProperty(const VJSONObject*, const VString& inName, VJSONValue& outValue,
                                  VDBLanguageContext*) const override
    {
        if (ToStd(inName) == "hidden")
            return eJSONStatus_Done;  // answered as undefined
        if (ToStd(inName) == "served") {
            outValue.SetNumber(7);
            return eJSONStatus_Done;
        }
        return eJSONStatus_NotHandled;
    }
    EJSONStatus IJSON_SetProperty(VJSONObject*, const VString& inName, const VJSONValue&,
                                  VDBLanguageContext*) override
    {
        ++fSets;
        return ToStd(inName) == "refused" ? eJSONStatus_Failed : eJSONStatus_NotHandled;
    }
    EJSONStatus IJSON_RemoveProperty(VJSONObject*, const VString&) override
    {
        ++fRemoves;
        return eJSONStatus_NotHandled;
    }
    EJSONStatus IJSON_BeginChangeProperties() override { return fFailBegin ? eJSONStatus_Failed : eJSONStatus_Done; }
    EJSONStatus IJSON_EndChangeProperties() override
    {
        ++fEnds;
        return eJSONStatus_Done;
    }

    int* fDestroyed;
    mutable int fSets = 0;
    int fRemoves = 0;
    int fEnds = 0;
    bool fFailBegin = false;
};

TEST(JSONObjectImplementation, HooksComeFirst)
{
    TestImplementation* implementation = new TestImplementation();
    VJSONObject* object = new VJSONObject(nullptr, implementation, static_cast<VStorageLocker*>(nullptr));
    object->SetProperty(VString("hidden"), VJSONValue(1.0));
    EXPECT_EQ(implementation->fSets, 1);
    EXPECT_TRUE(object->HasOwnProperty(VString("hidden")));
    EXPECT_TRUE(object->GetProperty(VString("hidden")).IsUndefined());
    EXPECT_FALSE(object->HasProperty(VString("hidden")));
    EXPECT_EQ(object->GetProperty(VString("served")).GetNumber(), 7);
    EXPECT_TRUE(object->HasProperty(VString("served")));
    EXPECT_FALSE(object->SetProperty(VString("refused"), VJSONValue(1.0)));

    // An undefined value becomes a removal, which the implementation sees.
    EXPECT_TRUE(object->SetProperty(VString("hidden"), VJSONValue(JSON_undefined)));
    EXPECT_EQ(implementation->fSets, 2);
    EXPECT_EQ(implementation->fRemoves, 1);
    EXPECT_FALSE(object->HasOwnProperty(VString("hidden")));

    // A failing begin sets nothing; the end is still called.
    implementation->fFailBegin = true;
    std::vector<std::pair<VString, VJSONValue>> list;
    list.emplace_back(VString("p"), VJSONValue(1.0));
    EXPECT_FALSE(object->SetProperties(list));
    EXPECT_FALSE(object->HasOwnProperty(VString("p")));
    EXPECT_EQ(implementation->fEnds, 1);
    implementation->fFailBegin = false;
    EXPECT_TRUE(object->SetProperties(list));
    EXPECT_TRUE(object->HasOwnProperty(VString("p")));

    // The default IsEmpty of an implementation lists no names.
    VJSONObject* plain = new VJSONObject(nullptr, new TestImplementation(), static_cast<VStorageLocker*>(nullptr));
    plain->GetImplementation()->Release();  // the object keeps its own reference
    EXPECT_TRUE(plain->IsEmpty());
    plain->Release();

    implementation->Release();
    object->Release();
}

TEST(JSONObjectImplementation, DefaultBinaryWriteFailsWith915)
{
    StErrorContextInstaller errors(false);
    TestImplementation implementation;
    VMemoryBuffer<1024, 2, 1048576> buffer;
    uint64_t error = 0;
    EXPECT_EQ(implementation.IJSON_WriteToBuffer(buffer, &error), eJSONStatus_Failed);
    EXPECT_EQ(error, QeltError(915));
    EXPECT_EQ(errors.GetLastError(), QeltError(915));
}

}  // namespace
}  // namespace qelt
