#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "JSONCallTestSupport.h"
#include "TestSupport.h"
#include "files/VFile.h"
#include "json/json.h"
#include "kernel/VString.h"
#include "process/VProcess.h"
#include "runtime/VErrorContext.h"
#include "values/VTime.h"

namespace qelt {
namespace {

using test::ToStd;

VError VqRT(int inNumber) { return MakeVError(kSignatureVQRT, inNumber); }

VJSONClassStore* Root() { return VProcess::sInstance->GetClassStore(); }

using test::CallMember;

// ---------------------------------------------------------------------------
// Function contexts

TEST(JSONFunctionContext, ParametersAreNumberedFromOneAndTypedGettersRaiseTheirErrors)
{
    std::vector<VJSONValue> parameters{VJSONValue(VString("12")), VJSONValue(2.9), VJSONValue(JSON_true)};
    VJSONFunctionContext context(nullptr, nullptr, &parameters, nullptr, nullptr);
    EXPECT_EQ(context.GetParamCount(), 3);
    EXPECT_TRUE(context.GetParam(0).IsUndefined());
    EXPECT_TRUE(context.GetParam(4).IsUndefined());
    EXPECT_TRUE(context.GetParam(1).IsString());

    {
        StErrorContextInstaller errors(false);
        EXPECT_EQ(context.GetNumberParam(2), 2.9);
        EXPECT_EQ(errors.GetLastError(), VE_OK);
        EXPECT_TRUE(context.GetParamCheckFlag());
        EXPECT_EQ(context.GetNumberParam(1), 12.0);
        EXPECT_EQ(errors.GetLastError(), VqRT(7));
        EXPECT_FALSE(context.GetParamCheckFlag());
    }
    {
        StErrorContextInstaller errors(false);
        EXPECT_FALSE(context.GetBoolParam(2) && false);
        EXPECT_EQ(errors.GetLastError(), VqRT(55));
    }
    {
        StErrorContextInstaller errors(false);
        EXPECT_EQ(ToStd(context.GetStringParam(3)), "true");
        EXPECT_EQ(errors.GetLastError(), VqRT(8));
    }
    {
        StErrorContextInstaller errors(false);
        EXPECT_EQ(context.GetObjectParam(1).Get(), nullptr);
        EXPECT_EQ(errors.GetLastError(), VqRT(54));
        const void* data = &parameters;
        size_t size = 5;
        EXPECT_FALSE(context.GetBlobParam(1, false, &data, &size));
        EXPECT_EQ(data, nullptr);
        EXPECT_EQ(size, 0u);
    }
}

TEST(JSONFunctionContext, AMissingOptionalNumberClearsTheFlagWithoutError)
{
    std::vector<VJSONValue> parameters{VJSONValue(1.5), VJSONValue(JSON_null)};
    VJSONFunctionContext context(nullptr, nullptr, &parameters, nullptr, nullptr);
    StErrorContextInstaller errors(false);
    double number = -1;
    EXPECT_TRUE(context.GetNumberOptParam(1, &number));
    EXPECT_EQ(number, 1.5);
    number = -1;
    EXPECT_FALSE(context.GetNumberOptParam(3, &number));
    EXPECT_EQ(number, -1);
    EXPECT_EQ(errors.GetLastError(), VE_OK);
    EXPECT_FALSE(context.GetParamCheckFlag());
    EXPECT_FALSE(context.GetNumberOptParam(2, &number));
    EXPECT_EQ(errors.GetLastError(), VqRT(7));
}

TEST(JSONFunctionContext, LongParametersTruncateTowardZeroAndClampToThirtyTwoBits)
{
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double fIn;
        int32_t fOut;
    } cases[] = {{2.9, 2},       {-2.9, -2},         {1e12, INT32_MAX},       {-1e12, INT32_MIN},
                 {inf, INT32_MAX}, {-inf, INT32_MIN}, {std::nan(""), 0},      {2147483647.5, INT32_MAX}};
    for (const auto& c : cases) {
        std::vector<VJSONValue> parameters{VJSONValue(c.fIn)};
        VJSONFunctionContext context(nullptr, nullptr, &parameters, nullptr, nullptr);
        EXPECT_EQ(context.GetLongParam(1), c.fOut) << c.fIn;
    }
}

TEST(JSONFunctionContext, AnInnerContextForwardsResultAndParametersToItsOuterOne)
{
    std::vector<VJSONValue> parameters{VJSONValue(7.0)};
    VJSONFunctionContext outer(nullptr, nullptr, &parameters, nullptr, nullptr);
    VJSONObject* thisObject = new VJSONObject();
    VJSONFunctionContext inner(thisObject, nullptr, &outer);
    EXPECT_EQ(inner.GetThisObject(), thisObject);
    EXPECT_EQ(inner.GetParamCount(), 1);
    EXPECT_EQ(inner.GetParam(1).GetNumber(), 7.0);
    inner.SetResult(VJSONValue(3.0), 9);
    VJSONValue result;
    outer.GetResult(result);
    EXPECT_EQ(result.GetNumber(), 3.0);
    EXPECT_EQ(outer.GetResultLegacyValueKind(), 5);
    inner.GetResult(result);
    EXPECT_EQ(result.GetNumber(), 3.0);
    thisObject->Release();
}

// ---------------------------------------------------------------------------
// The root class store

TEST(JSONClassStore, TheRootStoreHoldsObjectClassAndFunctionFirstNumbered)
{
    VJSONClassStore* store = Root();
    ASSERT_NE(store, nullptr);
    EXPECT_EQ(ToStd(store->GetName()), "vq");
    // The root classes, and "Blob" once a blob has been made in this program.
    const size_t blobClass = store->GetClassObject(VString("Blob"), false).Get() != nullptr ? 1 : 0;
    EXPECT_EQ(store->GetCount(), 3u + blobClass);
    const char* names[] = {"Object", "Class", "Function"};
    for (int i = 0; i < 3; ++i) {
        VRefPtr<VJSONObject> classObject = store->GetVisibleClassObject(VString(names[i]), false);
        ASSERT_NE(classObject.Get(), nullptr) << names[i];
        EXPECT_EQ(classObject->GetProperty(VString("_id")).GetNumber(), i + 1.0);
        EXPECT_TRUE(classObject->IsInstanceOf(store->GetClassClassObject()));
    }
    EXPECT_EQ(store->GetClassObject(VString("object"), true).Get(), store->GetObjectClassObject());
    EXPECT_EQ(store->GetClassObject(VString("object"), false).Get(), nullptr);

    VRefPtr<VJSONObject> found = VProcess::sInstance->GetClassObject(VString("vq"), VString("Function"));
    EXPECT_EQ(found.Get(), store->GetFunctionClassObject());
    EXPECT_EQ(VProcess::sInstance->GetClassObject(VString("VQ"), VString("Function")).Get(), nullptr);

    // A plain object takes the class "Object"; a later class's id follows on.
    VRefPtr<VJSONObject> plain = AdoptRef(new VJSONObject());
    EXPECT_EQ(plain->GetClassObject(), store->GetObjectClassObject());
    VRefPtr<VJSONObject> later = AdoptRef(VJSONClass::Create(VString("Later"), nullptr, nullptr, VString(), 0));
    EXPECT_GT(later->GetProperty(VString("_id")).GetNumber(), 3.0);
}

TEST(JSONClassStore, NewOnARootClassFailsWithNoInstantiator)
{
    for (const char* name : {"Object", "Class", "Function"}) {
        VRefPtr<VJSONObject> classObject = Root()->GetClassObject(VString(name), false);
        VJSONValue result;
        VError error = VE_OK;
        EXPECT_EQ(CallMember(classObject.Get(), "new", {}, result, error), eJSONStatus_Done);
        EXPECT_EQ(error, VqRT(-10749)) << name;
        EXPECT_TRUE(result.IsNull()) << name;
    }
}

TEST(JSONClassStore, AStoreObjectListsVisibleClassesAndRefusesWrites)
{
    VRefPtr<VJSONClassStore> store = AdoptRef(new VJSONClassStore(VString("test")));
    VRefPtr<VJSONObject> a = AdoptRef(VJSONClass::Create(VString("A"), nullptr, nullptr, VString(), 0));
    VRefPtr<VJSONObject> a2 = AdoptRef(VJSONClass::Create(VString("A"), nullptr, nullptr, VString(), 0));
    VRefPtr<VJSONObject> hidden = AdoptRef(VJSONClass::Create(VString("H"), nullptr, nullptr, VString(), 0));
    store->AddClass(a.Get(), 0);
    store->AddClass(a2.Get(), 0);
    store->AddClass(hidden.Get(), 1);
    store->AddClass(nullptr, 0);
    EXPECT_EQ(store->GetCount(), 2u);
    EXPECT_EQ(store->GetClassObject(VString("A"), false).Get(), a2.Get());
    EXPECT_EQ(store->GetVisibleClassObject(VString("A"), false).Get(), a2.Get());
    EXPECT_EQ(store->GetClassObject(VString("H"), false).Get(), hidden.Get());
    EXPECT_EQ(store->GetVisibleClassObject(VString("H"), false).Get(), nullptr);

    VRefPtr<VJSONClassStore> first = AdoptRef(new VJSONClassStore(VString("c1")));
    VRefPtr<VJSONClassStore> second = AdoptRef(new VJSONClassStore(VString("c2")));
    store->AddComponentClass(VString("comp"), first.Get());
    store->AddComponentClass(VString("comp"), second.Get());
    EXPECT_EQ(store->GetComponentClassStore(VString("comp")).Get(), first.Get());

    VRefPtr<VJSONObject> object = AdoptRef(new VJSONObject(nullptr, store.Get(), false));
    std::vector<VString> names;
    store->IJSON_GetPropertyNames(names);
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(ToStd(names[0]), "A");
    EXPECT_EQ(object->GetProperty(VString("H")).GetObject(), hidden.Get());
    VJSONValue c1 = object->GetProperty(VString("comp"));
    VJSONValue c2 = object->GetProperty(VString("comp"));
    ASSERT_NE(c1.GetObject(), nullptr);
    EXPECT_NE(c1.GetObject(), c2.GetObject());
    EXPECT_EQ(c1.GetObject()->GetImplementation(), first.Get());

    StErrorContextInstaller errors(false);
    EXPECT_FALSE(object->SetProperty(VString("x"), VJSONValue(1.0)));
    EXPECT_EQ(errors.GetLastError(), VqRT(-10705));
    EXPECT_FALSE(object->HasOwnProperty(VString("x")));
}

// ---------------------------------------------------------------------------
// Classes and members

int gConstructed = 0;

EJSONStatus GetSize(const VJSONObject*, IJSONFunctionContext* inContext)
{
    inContext->SetResult(VJSONValue(42.0), 5);
    return eJSONStatus_Done;
}

EJSONStatus SetLimit(const VJSONObject*, IJSONFunctionContext* inContext)
{
    inContext->GetThisObject()->SetOwnProperty(VString("_limit"), inContext->GetParam(1));
    return eJSONStatus_Done;
}

EJSONStatus Identify(const VJSONObject*, IJSONFunctionContext* inContext)
{
    VJSONObject* receiver = inContext->GetThisObject();
    VJSONValue tag = receiver != nullptr ? receiver->GetOwnProperty(VString("tag")) : VJSONValue(VString("none"));
    inContext->SetResult(tag, 5);
    return eJSONStatus_Done;
}

EJSONStatus Sum(const VJSONObject*, IJSONFunctionContext* inContext)
{
    double total = 0;
    for (int i = 1; i <= inContext->GetParamCount(); ++i)
        total += inContext->GetParam(i).GetNumber();
    inContext->SetResult(VJSONValue(total), 5);
    return eJSONStatus_Done;
}

EJSONStatus Constructor(const VJSONObject*, IJSONFunctionContext*)
{
    ++gConstructed;
    return eJSONStatus_Done;
}

TEST(JSONClass, AttributesFollowTheirGettersAndSetters)
{
    VRefPtr<VJSONObject> classObject = AdoptRef(VJSONClass::Create(
        VString("Gauge"),
        {{VString("get size"), &GetSize, 0}, {VString("set limit"), &SetLimit, 0}, {VString("on change"), &Sum, 0},
         {VString(" lead"), &Sum, 0}},
        nullptr, nullptr, &VJSONClass::GenericInstantiator, VString(), 0));
    ASSERT_NE(classObject.Get(), nullptr);
    VJSONClass* aClass = VJSONClass::FromClassObject(classObject.Get());
    VRefPtr<VJSONObject> object = AdoptRef(aClass->CreateInstance(classObject.Get(), nullptr));
    ASSERT_NE(object.Get(), nullptr);

    EXPECT_EQ(object->GetProperty(VString("size")).GetNumber(), 42.0);
    EXPECT_FALSE(object->IsEmpty());
    {
        StErrorContextInstaller errors(false);
        EXPECT_FALSE(object->SetProperty(VString("size"), VJSONValue(1.0)));
        EXPECT_EQ(errors.GetLastError(), VqRT(-10702));
        EXPECT_FALSE(object->HasOwnProperty(VString("size")));
    }
    EXPECT_TRUE(object->SetProperty(VString("limit"), VJSONValue(5.0)));
    EXPECT_EQ(object->GetOwnProperty(VString("_limit")).GetNumber(), 5.0);
    EXPECT_FALSE(object->HasOwnProperty(VString("limit")));
    EXPECT_TRUE(object->GetProperty(VString("limit")).IsUndefined());

    VJSONValue onChange = object->GetProperty(VString("on change"));
    ASSERT_TRUE(onChange.IsObject());
    VString text;
    onChange.GetObject()->GetOwnProperty(VString("eventName")).GetString(text);
    EXPECT_EQ(ToStd(text), "on");
    object->GetProperty(VString(" lead")).GetObject()->GetOwnProperty(VString("eventName")).GetString(text);
    EXPECT_EQ(ToStd(text), "");
    onChange.GetObject()->GetProperty(VString("_description")).GetString(text);
    EXPECT_EQ(ToStd(text), "Gauge.on change");
    onChange.GetObject()->GetDescription(text);
    EXPECT_EQ(ToStd(text), "<<Native Function: Gauge.on change >>");
    classObject->GetDescription(text);
    EXPECT_EQ(ToStd(text), "Class: Gauge");

    std::vector<VString> getters;
    aClass->GetGetterNames(getters);
    EXPECT_EQ(getters.size(), 2u);

    // The iterators list the attributes unless told not to; an attribute's
    // stamp is the counter of the object's change stamp.
    object->SetOwnProperty(VString("own"), VJSONValue(1.0));
    for (unsigned int options : {0u, unsigned(kJSONIterSkipClassAttributes)}) {
        std::vector<std::string> listed;
        for (VJSONPropertyConstOrderedIterator it(object.Get(), options); !it.AtEnd(); ++it)
            listed.push_back(ToStd(it.GetName()));
        EXPECT_EQ(listed.size(), options == 0 ? 4u : 2u) << options;
        if (options == 0) {
            VJSONPropertyConstOrderedIterator it(object.Get(), 0);
            while (!it.AtEnd() && ToStd(it.GetName()) != "size")
                ++it;
            ASSERT_FALSE(it.AtEnd());
            EXPECT_EQ(it.GetValue(nullptr).GetNumber(), 42.0);
        }
    }
    EXPECT_EQ(object->GetJSONStamp(), nullptr);
    EXPECT_EQ(object->GetPropertyStamp(VString("size")), 0u);
    ASSERT_NE(object->GetJSONStamp(), nullptr);
}

TEST(JSONClass, ASubclassOverridesMembersForItsOwnInstancesOnly)
{
    VRefPtr<VJSONObject> base = AdoptRef(VJSONClass::Create(
        VString("Base"), {{VString("who"), &Identify, 0}, {VString("sum"), &Sum, 0}}, nullptr, nullptr,
        &VJSONClass::GenericInstantiator, VString(), 0));
    VRefPtr<VJSONObject> derived =
        AdoptRef(VJSONClass::Create(VString("Derived"), {{VString("who"), &GetSize, 0}}, base.Get(), nullptr,
                                    &VJSONClass::GenericInstantiator, VString(), 0));
    VRefPtr<VJSONObject> b = AdoptRef(VJSONClass::FromClassObject(base.Get())->CreateInstance(base.Get(), nullptr));
    VRefPtr<VJSONObject> d =
        AdoptRef(VJSONClass::FromClassObject(derived.Get())->CreateInstance(derived.Get(), nullptr));
    b->SetProperty(VString("tag"), VJSONValue(VString("b")));

    VJSONValue result;
    VError error = VE_OK;
    CallMember(d.Get(), "who", {}, result, error);
    EXPECT_EQ(result.GetNumber(), 42.0);
    CallMember(b.Get(), "who", {}, result, error);
    EXPECT_TRUE(result.IsString());
    CallMember(d.Get(), "sum", {VJSONValue(1.0), VJSONValue(2.0)}, result, error);
    EXPECT_EQ(result.GetNumber(), 3.0);

    EXPECT_TRUE(d->IsInstanceOf(base.Get()));
    EXPECT_FALSE(b->IsInstanceOf(derived.Get()));
    EXPECT_FALSE(d->IsGenericObject());
    VString name;
    d->GetClassName(name);
    EXPECT_EQ(ToStd(name), "Derived");
    VJSONObject* prototype = VJSONClass::FromClassObject(derived.Get())->GetPrototype();
    EXPECT_EQ(prototype->GetOwnPropertyCount(), 1u);

    // A second SetFunctions changes nothing.
    VJSONClass::FromClassObject(base.Get())->SetFunctions({{VString("extra"), &Sum, 0}}, nullptr, nullptr);
    EXPECT_TRUE(b->GetProperty(VString("extra")).IsUndefined());
}

TEST(JSONClass, ApplyAndCallSetTheReceiverAndArguments)
{
    VRefPtr<VJSONObject> base = AdoptRef(VJSONClass::Create(VString("Caller"), {{VString("who"), &Identify, 0}},
                                                            nullptr, nullptr, nullptr, VString(), 0));
    VJSONObject* function = VJSONClass::FromClassObject(base.Get())->GetFunctionMap().at(VString("who"));
    VRefPtr<VJSONObject> receiver = AdoptRef(new VJSONObject());
    receiver->SetProperty(VString("tag"), VJSONValue(VString("r")));
    VJSONValue result;
    VError error = VE_OK;
    VString text;

    EXPECT_EQ(CallMember(function, "apply", {VJSONValue(receiver.Get()), VJSONValue(1.0)}, result, error),
              eJSONStatus_Done);
    result.GetString(text);
    EXPECT_EQ(ToStd(text), "r");
    EXPECT_EQ(CallMember(function, "call", {VJSONValue(receiver.Get())}, result, error), eJSONStatus_Done);
    result.GetString(text);
    EXPECT_EQ(ToStd(text), "r");
    EXPECT_EQ(CallMember(function, "call", {}, result, error), eJSONStatus_Done);
    result.GetString(text);
    EXPECT_EQ(ToStd(text), "none");

    // A receiver that cannot be called.
    VRefPtr<VJSONObject> plain = AdoptRef(new VJSONObject());
    VJSONValue apply = function->GetProperty(VString("apply"));
    std::vector<VJSONValue> none;
    StErrorContextInstaller errors(false);
    EXPECT_EQ(apply.GetObject()->CallAsFunction(plain.Get(), nullptr, &none, result), eJSONStatus_Failed);
    EXPECT_EQ(errors.GetLastError(), VqRT(-10729));
}

TEST(JSONClass, ConstructorsMustRunTheirAncestorsConstructors)
{
    VRefPtr<VJSONObject> base = AdoptRef(VJSONClass::Create(VString("CBase"), {}, nullptr, &Constructor,
                                                            &VJSONClass::GenericInstantiator, VString(), 0));
    VRefPtr<VJSONObject> lazy = AdoptRef(VJSONClass::Create(VString("CLazy"), {}, base.Get(), &Constructor,
                                                            &VJSONClass::GenericInstantiator, VString(), 0));
    gConstructed = 0;
    VJSONValue result;
    VError error = VE_OK;
    CallMember(lazy.Get(), "new", {}, result, error);
    // The instance comes back, constructed to its class's level, with the
    // constructor's fault in the error context.
    ASSERT_NE(result.GetObject(), nullptr);
    EXPECT_EQ(error, VqRT(-10748));
    EXPECT_EQ(gConstructed, 1);
    EXPECT_EQ(result.GetObject()->GetConstructionLevel(), 2);
    EXPECT_FALSE(result.GetObject()->IsUnderConstruction());
    {
        VJSONFunctionContext context(result.GetObject(), nullptr, nullptr, nullptr, nullptr);
        StErrorContextInstaller errors(false);
        EXPECT_EQ(VJSONClass::CallSuperConstructor(&context), eJSONStatus_Failed);
        EXPECT_EQ(errors.GetLastError(), VqRT(-10746));
        EXPECT_EQ(VJSONClass::FinalizeInstance(result.GetObject()), VqRT(-10751));
    }

    // A class made without members cannot be instantiated yet.
    VRefPtr<VJSONObject> bare = AdoptRef(VJSONClass::Create(VString("Bare"), nullptr, nullptr, VString(), 0));
    CallMember(bare.Get(), "new", {}, result, error);
    EXPECT_TRUE(result.IsNull());
    EXPECT_EQ(error, VE_OK);

    StErrorContextInstaller errors(false);
    VRefPtr<VJSONObject> plain = AdoptRef(new VJSONObject());
    EXPECT_EQ(VJSONClass::Create(VString("Bad"), plain.Get(), nullptr, VString(), 0), nullptr);
    EXPECT_EQ(errors.GetLastError(), VqRT(-10747));
}

TEST(JSONClass, ReservedClassPropertiesAreReadOnly)
{
    VRefPtr<VJSONObject> classObject = AdoptRef(VJSONClass::Create(VString("RO"), nullptr, nullptr, VString(), 0));
    VString text;
    classObject->GetProperty(VString("name")).GetString(text);
    EXPECT_EQ(ToStd(text), "RO");
    EXPECT_EQ(classObject->GetProperty(VString("superclass")).GetObject(), Root()->GetObjectClassObject());
    StErrorContextInstaller errors(false);
    EXPECT_FALSE(classObject->SetProperty(VString("name"), VJSONValue(1.0)));
    EXPECT_EQ(errors.GetLastError(), VqRT(-10702));
    VJSONUser user(classObject.Get(), false);
    EXPECT_TRUE(classObject->SetProperty(VString("_id"), VJSONValue(1.0)));
    EXPECT_TRUE(classObject->HasOwnProperty(VString("_id")));
}


// ---------------------------------------------------------------------------
// Super objects

// A call made from inside a member function: the scope (the receiver and the
// member function running) is what a script engine would report.
class ScopedContext : public VJSONFunctionContext {
public:
    ScopedContext(VJSONObject* inScopeThis, VJSONObject* inScopeFunction, std::vector<VJSONValue>* inParameters)
        : VJSONFunctionContext(nullptr, nullptr, inParameters, nullptr, nullptr),
          fScopeThis(inScopeThis),
          fScopeFunction(inScopeFunction)
    {
    }
    VJSONObject* GetScopeThisObject() const override { return fScopeThis; }
    VJSONObject* GetScopeFunctionObject() const override { return fScopeFunction; }

private:
    VJSONObject* fScopeThis;
    VJSONObject* fScopeFunction;
};

std::string DescriptionOf(const VJSONObject* inObject)
{
    VString text;
    inObject->GetDescription(text);
    return ToStd(text);
}

TEST(JSONSuper, ReadingASuperObjectGivesANewMemberObjectAndWritingIsRefused)
{
    VRefPtr<VJSONObject> super = AdoptRef(VJSONSuper::CreateObject());
    ASSERT_NE(super.Get(), nullptr);
    EXPECT_EQ(DescriptionOf(super.Get()), "<<Super>>");
    EXPECT_EQ(super->GetClassObject(), Root()->GetObjectClassObject());
    EXPECT_FALSE(super->IsShared());

    VJSONValue first = super->GetProperty(VString("who"));
    VJSONValue second = super->GetProperty(VString("who"));
    ASSERT_TRUE(first.IsObject());
    ASSERT_TRUE(second.IsObject());
    EXPECT_NE(first.GetObject(), second.GetObject());
    EXPECT_EQ(DescriptionOf(first.GetObject()), "<<Super member: who>>");
    EXPECT_EQ(DescriptionOf(super->GetProperty(VString("")).GetObject()), "<<Super member: >>");

    // Writes and removals on either kind of object are refused and change nothing.
    for (VJSONObject* object : {super.Get(), first.GetObject()}) {
        StErrorContextInstaller errors(false);
        EXPECT_FALSE(object->SetProperty(VString("x"), VJSONValue(1.0))) << DescriptionOf(object);
        EXPECT_EQ(errors.GetLastError(), VqRT(-10705)) << DescriptionOf(object);
        EXPECT_FALSE(object->HasOwnProperty(VString("x")));
    }
    for (VJSONObject* object : {super.Get(), first.GetObject()}) {
        StErrorContextInstaller errors(false);
        object->RemoveProperty(VString("who"));
        EXPECT_EQ(errors.GetLastError(), VqRT(-10705)) << DescriptionOf(object);
    }

    // Clones are new objects of the same kind.
    for (VJSONObject* object : {super.Get(), first.GetObject()}) {
        VJSONCloner cloner;
        VJSONValue clone;
        ASSERT_EQ(cloner.CloneObject(object, clone), VE_OK);
        ASSERT_TRUE(clone.IsObject());
        EXPECT_NE(clone.GetObject(), object);
        EXPECT_EQ(DescriptionOf(clone.GetObject()), DescriptionOf(object));
    }
}

TEST(JSONSuper, ASuperMemberCallRunsTheNearestAncestorsMemberOnTheScopeReceiver)
{
    // Base has "who" and "sum"; Middle adds nothing; Leaf overrides "who".
    VRefPtr<VJSONObject> base = AdoptRef(VJSONClass::Create(
        VString("SBase"), {{VString("who"), &Identify, 0}, {VString("sum"), &Sum, 0}}, nullptr, nullptr,
        &VJSONClass::GenericInstantiator, VString(), 0));
    VRefPtr<VJSONObject> middle = AdoptRef(VJSONClass::Create(VString("SMiddle"), {}, base.Get(), nullptr,
                                                              &VJSONClass::GenericInstantiator, VString(), 0));
    VRefPtr<VJSONObject> leaf = AdoptRef(VJSONClass::Create(VString("SLeaf"), {{VString("who"), &GetSize, 0}},
                                                            middle.Get(), nullptr, &VJSONClass::GenericInstantiator,
                                                            VString(), 0));
    VJSONClass* leafClass = VJSONClass::FromClassObject(leaf.Get());
    VRefPtr<VJSONObject> receiver = AdoptRef(leafClass->CreateInstance(leaf.Get(), nullptr));
    ASSERT_NE(receiver.Get(), nullptr);
    receiver->SetProperty(VString("tag"), VJSONValue(VString("leaf instance")));
    VJSONObject* leafWho = leafClass->GetFunctionMap().at(VString("who"));

    VRefPtr<VJSONObject> super = AdoptRef(VJSONSuper::CreateObject());
    auto callSuper = [&](const char* inMember, VJSONObject* inScopeFunction, std::vector<VJSONValue> inParameters,
                         VJSONValue& outResult, VError& outError) {
        VJSONValue member = super->GetProperty(VString(inMember));
        ScopedContext context(receiver.Get(), inScopeFunction, &inParameters);
        StErrorContextInstaller errors(false);
        EJSONStatus status =
            member.GetObject()->GetImplementation()->IJSON_CallAsFunction(member.GetObject(), &context);
        context.GetResult(outResult);
        outError = errors.GetLastError();
        return status;
    };

    VJSONValue result;
    VError error = VE_OK;
    // The leaf's own "who" answers 42; super.who skips the middle class and
    // runs the base's, on the scope's receiver.
    EXPECT_EQ(callSuper("who", leafWho, {}, result, error), eJSONStatus_Done);
    EXPECT_EQ(error, VE_OK);
    VString text;
    result.GetString(text);
    EXPECT_EQ(ToStd(text), "leaf instance");
    // The parameters of the calling context reach the member.
    EXPECT_EQ(callSuper("sum", leafWho, {VJSONValue(2.0), VJSONValue(3.5)}, result, error), eJSONStatus_Done);
    EXPECT_EQ(result.GetNumber(), 5.5);

    // A member no ancestor has; a member that is there but is no function;
    // no scope class at all.
    {
        VJSONObject* prototype = VJSONClass::FromClassObject(base.Get())->GetPrototype();
        VJSONUser user(prototype, false);
        prototype->SetProperty(VString("limit"), VJSONValue(10.0));
    }
    const struct {
        const char* fMember;
        VJSONObject* fScopeFunction;
        VError fError;
    } failures[] = {
        {"missing", leafWho, VqRT(-10729)},
        {"limit", leafWho, VqRT(-10707)},
        {"who", nullptr, VqRT(-10736)},
    };
    for (const auto& f : failures) {
        EXPECT_EQ(callSuper(f.fMember, f.fScopeFunction, {}, result, error), eJSONStatus_Failed) << f.fMember;
        EXPECT_EQ(error, f.fError) << f.fMember;
    }
}

// ---------------------------------------------------------------------------
// Classes defined by files, and their removal when outdated

// A class file on disk, with its modification time set.
VRefPtr<VFile> ClassFile(const std::string& inPath, const VTime& inModified)
{
    test::WriteText(inPath, "{}");
    VRefPtr<VFile> file = AdoptRef(new VFile(VString(inPath.c_str()), FPS_POSIX));
    EXPECT_EQ(file->SetTimeAttributes(&inModified, nullptr, nullptr), VE_OK);
    return file;
}

VTime TimeAt(int inYear)
{
    VTime time;
    time.FromUTCTime(inYear, 1, 1, 0, 0, 0, 0);
    return time;
}

TEST(JSONClass, AClassIsObsoleteWhenItsFileOrAnAncestorsFileChangedOrWent)
{
    const std::string dir = test::MakeTempFolder("json_obsolete");
    VRefPtr<VFile> baseFile = ClassFile(dir + "/Base.js", TimeAt(2020));
    VRefPtr<VFile> leafFile = ClassFile(dir + "/Leaf.js", TimeAt(2020));
    VRefPtr<VJSONObject> base = AdoptRef(VJSONClass::Create(VString("OBase"), nullptr, baseFile.Get(), VString(), 0));
    VRefPtr<VJSONObject> leaf = AdoptRef(VJSONClass::Create(VString("OLeaf"), base.Get(), leafFile.Get(), VString(), 0));
    VRefPtr<VJSONObject> fileless = AdoptRef(VJSONClass::Create(VString("OFree"), base.Get(), nullptr, VString(), 0));
    VRefPtr<VJSONObject> plain = AdoptRef(VJSONClass::Create(VString("OPlain"), nullptr, nullptr, VString(), 0));
    auto obsolete = [](const VRefPtr<VJSONObject>& inClass) {
        return VJSONClass::FromClassObject(inClass.Get())->IsObsolete();
    };

    StErrorContextInstaller errors(false);
    EXPECT_FALSE(obsolete(base));
    EXPECT_FALSE(obsolete(leaf));
    EXPECT_FALSE(obsolete(fileless));
    EXPECT_FALSE(obsolete(plain));
    EXPECT_FALSE(VJSONClass::FromClassObject(Root()->GetObjectClassObject())->IsObsolete());

    // An older time is no change; a later one is.
    VTime older = TimeAt(2019);
    ASSERT_EQ(leafFile->SetTimeAttributes(&older, nullptr, nullptr), VE_OK);
    EXPECT_FALSE(obsolete(leaf));
    VTime later = TimeAt(2021);
    ASSERT_EQ(baseFile->SetTimeAttributes(&later, nullptr, nullptr), VE_OK);
    EXPECT_TRUE(obsolete(base));
    EXPECT_TRUE(obsolete(leaf));
    EXPECT_TRUE(obsolete(fileless));
    EXPECT_FALSE(obsolete(plain));

    // A file that went makes its class obsolete too; the failed reads of
    // its time raise nothing into the caller's context.
    ASSERT_EQ(::unlink((dir + "/Leaf.js").c_str()), 0);
    VTime original = TimeAt(2020);
    ASSERT_EQ(baseFile->SetTimeAttributes(&original, nullptr, nullptr), VE_OK);
    EXPECT_FALSE(obsolete(base));
    EXPECT_TRUE(obsolete(leaf));
    EXPECT_FALSE(obsolete(fileless));
    EXPECT_EQ(errors.GetLastError(), VE_OK);
}

TEST(JSONClassStore, RemoveObsoleteClassesDropsGoneOrOutdatedDefinitionsAndNamesTheFileClasses)
{
    const std::string dir = test::MakeTempFolder("json_remove_obsolete");
    VRefPtr<VFile> keptFile = ClassFile(dir + "/Kept.js", TimeAt(2020));
    VRefPtr<VFile> unlistedFile = ClassFile(dir + "/Unlisted.js", TimeAt(2020));
    VRefPtr<VFile> touchedFile = ClassFile(dir + "/Touched.js", TimeAt(2020));
    VRefPtr<VFile> hiddenFile = ClassFile(dir + "/Hidden.js", TimeAt(2020));
    auto make = [](const char* inName, VJSONObject* inSuper, IFile* inFile) {
        return AdoptRef(VJSONClass::Create(VString(inName), inSuper, inFile, VString(), 0));
    };
    VRefPtr<VJSONObject> kept = make("Kept", nullptr, keptFile.Get());
    VRefPtr<VJSONObject> unlisted = make("Unlisted", nullptr, unlistedFile.Get());
    VRefPtr<VJSONObject> touched = make("Touched", nullptr, touchedFile.Get());
    VRefPtr<VJSONObject> hidden = make("Hidden", nullptr, hiddenFile.Get());
    VRefPtr<VJSONObject> native = make("Native", nullptr, nullptr);
    VRefPtr<VJSONObject> nowFiled = make("NowFiled", nullptr, nullptr);
    VRefPtr<VJSONObject> heir = make("Heir", touched.Get(), nullptr);
    VRefPtr<VJSONObject> keptHeir = make("KeptHeir", kept.Get(), nullptr);

    VRefPtr<VJSONClassStore> store = AdoptRef(new VJSONClassStore(VString("files")));
    for (VJSONObject* classObject : {kept.Get(), unlisted.Get(), touched.Get(), native.Get(), nowFiled.Get(),
                                     heir.Get(), keptHeir.Get(), Root()->GetObjectClassObject()})
        store->AddClass(classObject, 0);
    store->AddClass(hidden.Get(), 1);
    ASSERT_EQ(store->GetCount(), 9u);

    VTime later = TimeAt(2021);
    ASSERT_EQ(touchedFile->SetTimeAttributes(&later, nullptr, nullptr), VE_OK);
    VJSONClassFileMap files;
    for (const char* name : {"Kept", "Touched", "NowFiled", "Elsewhere"})
        files[VString(name)] = VRefPtr<IFile>(keptFile.Get());

    std::vector<VString> removed;
    store->RemoveObsoleteClasses(files, removed);
    std::vector<std::string> removedNames;
    for (const VString& name : removed)
        removedNames.push_back(ToStd(name));
    std::sort(removedNames.begin(), removedNames.end());
    EXPECT_EQ(removedNames, (std::vector<std::string>{"Hidden", "Touched", "Unlisted"}));

    const struct {
        const char* fName;
        bool fKept;
    } expected[] = {
        {"Kept", true},       {"KeptHeir", true},  {"Native", true},  {"Object", true},   {"Unlisted", false},
        {"Touched", false},   {"Hidden", false},   {"Heir", false},   {"NowFiled", false},
    };
    for (const auto& e : expected) {
        EXPECT_EQ(store->GetClassObject(VString(e.fName), false).Get() != nullptr, e.fKept) << e.fName;
        EXPECT_EQ(store->GetVisibleClassObject(VString(e.fName), false).Get() != nullptr,
                  e.fKept)
            << e.fName;
    }
    EXPECT_EQ(store->GetCount(), 4u);

    // A class object that left the store lives on with its other holders.
    VString name;
    touched->GetProperty(VString("name")).GetString(name);
    EXPECT_EQ(ToStd(name), "Touched");

    // With no class files at all, every class defined by a file goes.
    removed.clear();
    store->RemoveObsoleteClasses(VJSONClassFileMap(), removed);
    ASSERT_EQ(removed.size(), 1u);
    EXPECT_EQ(ToStd(removed[0]), "Kept");
    EXPECT_EQ(store->GetCount(), 3u);
    EXPECT_NE(store->GetClassObject(VString("Object"), false).Get(), nullptr);
}

}  // namespace
}  // namespace qelt
