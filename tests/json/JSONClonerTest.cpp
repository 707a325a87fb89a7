#include <gtest/gtest.h>

#include "JSONTextTestSupport.h"

#include <string>

#include "json/json.h"
#include "kernel/VString.h"
#include "runtime/VErrorContext.h"

namespace qelt {
namespace {

using test::Parse;
using test::ToStd;
using test::Write;




VJSONValue Clone(const VJSONValue& inValue, uint32_t inMode = kJSONCloneCopyAll)
{
    VJSONCloner cloner(inMode);
    VJSONValue copy(inValue);
    EXPECT_EQ(cloner.CloneValue(copy), VE_OK);
    return copy;
}

TEST(JSONCloner, CopiesKeepSharedReferencesAndCycles)
{
    VJSONValue root = Parse("{\"x\":1,\"o\":{\"s\":\"t\"}}");
    VJSONValue list = Parse("[1,[2]]");
    root.SetProperty(VString("a"), list);
    root.SetProperty(VString("b"), list);
    root.SetProperty(VString("self"), root);

    VJSONValue copy = Clone(root);
    ASSERT_TRUE(copy.IsObject());
    EXPECT_NE(copy.GetObject(), root.GetObject());
    EXPECT_EQ(Write(copy, 0x2001), "{\"x\":1,\"o\":{\"s\":\"t\"},\"a\":[1,[2]],\"b\":[1,[2]],\"self\":\"[circular]\"}");
    VJSONValue a = copy.GetProperty(VString("a"));
    EXPECT_EQ(a.GetArray(), copy.GetProperty(VString("b")).GetArray());
    EXPECT_NE(a.GetArray(), list.GetArray());
    EXPECT_EQ(copy.GetProperty(VString("self")).GetObject(), copy.GetObject());
    EXPECT_NE(copy.GetProperty(VString("o")).GetObject(), root.GetProperty(VString("o")).GetObject());

    root.GetObject()->RemoveProperty(VString("self"));
    copy.GetObject()->RemoveProperty(VString("self"));
}

TEST(JSONCloner, OneClonerGivesOneCopyPerSource)
{
    VJSONValue source = Parse("{\"k\":[1]}");
    VJSONCloner cloner;
    VJSONValue first, second;
    ASSERT_EQ(cloner.CloneObject(source.GetObject(), first), VE_OK);
    ASSERT_EQ(cloner.CloneObject(source.GetObject(), second), VE_OK);
    EXPECT_EQ(first.GetObject(), second.GetObject());
    EXPECT_NE(Clone(source).GetObject(), first.GetObject());

    VJSONValue number(4.5);
    VJSONValue text(VString("t"));
    EXPECT_EQ(cloner.CloneValue(number), VE_OK);
    EXPECT_EQ(cloner.CloneValue(text), VE_OK);
    EXPECT_EQ(number.GetNumber(), 4.5);
    EXPECT_EQ(Write(text), "\"t\"");
    VJSONValue none;
    EXPECT_EQ(cloner.CloneObject(nullptr, none), VE_OK);
    EXPECT_TRUE(none.IsUndefined());
}

TEST(JSONCloner, SharingModesDecideWhatIsCopied)
{
    VJSONValue shared(JSON_undefined);
    ASSERT_EQ(VJSONImporter::ParseString(VString("{\"l\":[1,{}]}"), shared, 0x100), VE_OK);
    ASSERT_NE(shared.GetObject()->_GetStorageLocker(), nullptr);

    VJSONValue plain = Clone(shared, kJSONCloneCopyAll);
    EXPECT_NE(plain.GetObject(), shared.GetObject());
    EXPECT_EQ(plain.GetObject()->_GetStorageLocker(), nullptr);
    EXPECT_EQ(Write(plain), "{\"l\":[1,{}]}");

    VJSONValue kept = Clone(shared, kJSONCloneKeepShared);
    EXPECT_EQ(kept.GetObject(), shared.GetObject());

    VJSONValue unshared = Parse("{\"l\":[1,{}]}");
    VJSONValue together = Clone(unshared, kJSONCloneShareCopy);
    VStorageLocker* locker = together.GetObject()->_GetStorageLocker();
    ASSERT_NE(locker, nullptr);
    VJSONValue list = together.GetProperty(VString("l"));
    EXPECT_EQ(list.GetArray()->_GetStorageLocker(), locker);
    EXPECT_EQ(list.GetArray()->GetAt(1).GetObject()->_GetStorageLocker(), locker);
    EXPECT_EQ(Write(together), "{\"l\":[1,{}]}");
}

TEST(JSONCloner, NestingBeyondTheLimitFailsWith108)
{
    StErrorContextInstaller errors(false);
    VJSONValue root(JSON_array);
    VJSONValue current = root;
    for (int i = 0; i < VJSONCloner::kMaxDepth + 5; ++i) {
        VJSONValue next(JSON_array);
        current.GetArray()->Push(next);
        current = next;
    }
    VJSONCloner cloner;
    VJSONValue copy(root);
    EXPECT_EQ(cloner.CloneValue(copy), QeltError(108));
}

}  // namespace
}  // namespace qelt
