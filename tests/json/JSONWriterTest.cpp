#include <gtest/gtest.h>

#include "JSONTextTestSupport.h"

#include <initializer_list>
#include <string>
#include <vector>

#include "json/json.h"
#include "kernel/VString.h"
#include "runtime/VErrorContext.h"

namespace qelt {
namespace {

using test::Parse;
using test::ToStd;
using test::Write;




// An implementation that lists names of its own and can write itself.
class NamedImplementation : public VObject, public IJSONObject {
public:
    bool fWritesItself = false;

    EJSONStatus IJSON_GetProperty(const VJSONObject*, const VString& inName, VJSONValue& outValue,
                                  VDBLanguageContext*) const override
    {
        if (ToStd(inName) == "virtual") {
            outValue.SetNumber(9);
            return eJSONStatus_Done;
        }
        return eJSONStatus_NotHandled;
    }
    EJSONStatus IJSON_GetPropertyNames(std::vector<VString>& outNames) const override
    {
        outNames.push_back(VString("virtual"));
        return eJSONStatus_Done;
    }
    EJSONStatus IJSON_Stringify(const VJSONObject*, VJSONWriter&, VString& outText, uint64_t*) const override
    {
        if (!fWritesItself)
            return eJSONStatus_NotHandled;
        outText.FromCString("\"self\"");
        return eJSONStatus_Done;
    }
};

TEST(JSONWriter, PrettyFormIndentsEveryLevel)
{
    VJSONValue value = Parse("{\"a\":{\"b\":[1,{}]},\"c\":[]}");
    EXPECT_EQ(Write(value, 0x9), "{\n\t\"a\": {\n\t\t\"b\": [\n\t\t\t1,\n\t\t\t{}\n\t\t]\n\t},\n\t\"c\": []\n}");
}

TEST(JSONWriter, NamesAreEscapedLikeStrings)
{
    VJSONValue value(JSON_object);
    value.SetProperty(VString("q\"\n"), VJSONValue(1.0));
    EXPECT_EQ(Write(value, 0x1), "{\"q\\\"\\n\":1}");
    EXPECT_EQ(Write(value, 0x11), "{\"q\"\n\":1}");
}

TEST(JSONWriter, AFailureLeavesTheTextAsItWas)
{
    StErrorContextInstaller errors(false);
    VJSONValue root = Parse("{\"a\":1,\"b\":{\"c\":[1,2]}}");
    VJSONValue inner = root.GetProperty(VString("b"));
    inner.SetProperty(VString("loop"), root);
    VString text("kept");
    EXPECT_EQ(root.Stringify(text, kJSONWriteQuoted), QeltError(900));
    EXPECT_EQ(ToStd(text), "kept");
    VJSONWriter writer(0x1);
    EXPECT_EQ(writer.StringifyObject(root.GetObject(), text), QeltError(900));
    EXPECT_EQ(ToStd(text), "kept");
    inner.GetObject()->RemoveProperty(VString("loop"));  // breaks the cycle
}

TEST(JSONWriter, NestingBeyondTheLimitFailsWith108)
{
    StErrorContextInstaller errors(false);
    for (int depth : {VJSONWriter::kMaxDepth, VJSONWriter::kMaxDepth + 1}) {
        VJSONValue root(JSON_array);
        VJSONValue current = root;
        for (int i = 1; i < depth; ++i) {
            VJSONValue next(JSON_array);
            current.GetArray()->Push(next);
            current = next;
        }
        current.GetArray()->Push(VJSONValue(1.0));
        VString text;
        VError error = root.Stringify(text, kJSONWriteQuoted);
        if (depth <= VJSONWriter::kMaxDepth) {
            EXPECT_EQ(error, VE_OK);
            EXPECT_EQ(text.GetLength(), 2 * depth + 1);
        } else {
            EXPECT_EQ(error, QeltError(108));
        }
    }
}

TEST(JSONWriter, ObjectsNestedAtTheLimitAreRefusedExactlyAsArraysAre)
{
    // Containers nested depth deep around the number 1: only objects, or
    // objects and arrays in turn; the limit is the one arrays have.
    StErrorContextInstaller errors(false);
    for (bool mixed : {false, true}) {
        for (int depth : {VJSONWriter::kMaxDepth - 1, VJSONWriter::kMaxDepth, VJSONWriter::kMaxDepth + 1}) {
            SCOPED_TRACE(testing::Message() << (mixed ? "mixed " : "objects ") << depth);
            VJSONValue inner(1.0);
            size_t expectedLength = 1;
            for (int level = depth; level >= 1; --level) {
                const bool isArray = mixed && level % 2 == 0;
                VJSONValue container(isArray ? JSON_array : JSON_object);
                if (isArray) {
                    container.GetArray()->Push(inner);
                    expectedLength += 2;
                } else {
                    container.SetProperty(VString("k"), inner);
                    expectedLength += 6;
                }
                inner = container;
            }
            for (uint32_t flags : {0x1U, 0x1U | kJSONWritePretty}) {
                VString text;
                const VError error = inner.Stringify(text, flags);
                if (depth <= VJSONWriter::kMaxDepth) {
                    EXPECT_EQ(error, VE_OK) << flags;
                    if (flags == 0x1U) {
                        EXPECT_EQ(static_cast<size_t>(text.GetLength()), expectedLength);
                    }
                } else {
                    EXPECT_EQ(error, QeltError(108)) << flags;
                }
            }
        }
    }
}

TEST(JSONWriter, ImplementationsListNamesOrWriteThemselves)
{
    NamedImplementation* implementation = new NamedImplementation();
    VJSONObject* object = new VJSONObject(nullptr, implementation, static_cast<VStorageLocker*>(nullptr));
    implementation->Release();
    VJSONValue value(object);
    object->Release();
    value.SetProperty(VString("own"), VJSONValue(1.0));
    EXPECT_EQ(Write(value, 0x1), "{\"virtual\":9,\"own\":1}");
    implementation->fWritesItself = true;
    EXPECT_EQ(Write(value, 0x1), "\"self\"");
}

// An implementation whose getter drops the holder's member fDropped
// ("list") while the writer is inside that member.
class DroppingImplementation : public VObject, public IJSONObject {
public:
    VJSONObject* fHolder = nullptr;
    const char* fDropped = "list";

    EJSONStatus IJSON_GetProperty(const VJSONObject*, const VString& inName, VJSONValue& outValue,
                                  VDBLanguageContext*) const override
    {
        if (ToStd(inName) != "virtual")
            return eJSONStatus_NotHandled;
        if (fHolder != nullptr)
            fHolder->RemoveProperty(VString(fDropped));
        outValue.SetNumber(9);
        return eJSONStatus_Done;
    }
    EJSONStatus IJSON_GetPropertyNames(std::vector<VString>& outNames) const override
    {
        outNames.push_back(VString("virtual"));
        return eJSONStatus_Done;
    }
};

// The object of inText with, pushed on its array "list", an object whose
// getter drops "list" from it, then the elements inThen; the object keeps
// the only reference to the array.
VJSONValue HolderOfADroppedList(const char* inText, std::initializer_list<double> inThen = {})
{
    VJSONValue holder = Parse(inText);
    DroppingImplementation* implementation = new DroppingImplementation();
    VJSONObject* object = new VJSONObject(nullptr, implementation, static_cast<VStorageLocker*>(nullptr));
    implementation->Release();
    implementation->fHolder = holder.GetObject();
    VJSONValue list = holder.GetProperty(VString("list"));
    list.GetArray()->Push(VJSONValue(object));
    for (double number : inThen)
        list.GetArray()->Push(VJSONValue(number));
    object->Release();
    return holder;
}

TEST(JSONWriter, AnArrayDroppedWhileItIsWrittenIsWrittenWhole)
{
    // The array's only holder lets it go while its third element is
    // written; the writer keeps it until its last element is written.
    VJSONValue holder = HolderOfADroppedList("{\"list\":[1,\"two\"]}", {3.0});
    EXPECT_EQ(Write(holder, 0x1), "{\"list\":[1,\"two\",{\"virtual\":9},3]}");
    EXPECT_EQ(Write(holder, 0x1), "{}");
}

TEST(JSONWriter, AMemberDroppedByCodeRunWhileItIsWrittenLeavesTheOthersToBeWritten)
{
    // Writing "list" runs a getter that removes "list" from the object
    // being written: the members after it are still written, each once.
    VJSONValue holder = HolderOfADroppedList("{\"list\":[1],\"after\":1,\"more\":\"x\"}");
    EXPECT_EQ(Write(holder, 0x1), "{\"list\":[1,{\"virtual\":9}],\"after\":1,\"more\":\"x\"}");
    EXPECT_EQ(Write(holder, 0x1), "{\"after\":1,\"more\":\"x\"}");
}

TEST(JSONWriter, AnObjectDroppedWhileItIsWrittenIsWrittenWhole)
{
    // The object's only holder lets it go while its member "inner" (an
    // object whose getter runs code) is written; the members after it are
    // still read from the object.
    VJSONValue holder = Parse("{\"outer\":{\"a\":1,\"b\":\"two\"}}");
    DroppingImplementation* implementation = new DroppingImplementation();
    implementation->fDropped = "outer";
    VJSONObject* inner = new VJSONObject(nullptr, implementation, static_cast<VStorageLocker*>(nullptr));
    implementation->Release();
    implementation->fHolder = holder.GetObject();
    VJSONValue outer = holder.GetProperty(VString("outer"));
    outer.SetProperty(VString("inner"), VJSONValue(inner));
    outer.SetProperty(VString("c"), VJSONValue(3.0));
    inner->Release();
    outer = VJSONValue(JSON_null);  // the holder keeps the only reference
    EXPECT_EQ(Write(holder, 0x1), "{\"outer\":{\"a\":1,\"b\":\"two\",\"inner\":{\"virtual\":9},\"c\":3}}");
    EXPECT_EQ(Write(holder, 0x1), "{}");
}

// An implementation that writes itself with the writer it is handed.
class SelfWritingImplementation : public VObject, public IJSONObject {
public:
    VJSONValue fContent{JSON_undefined};

    EJSONStatus IJSON_Stringify(const VJSONObject*, VJSONWriter& inWriter, VString& outText,
                                uint64_t* outError) const override
    {
        *outError = static_cast<uint64_t>(inWriter.StringifyValue(fContent, outText));
        return eJSONStatus_Done;
    }
};

TEST(JSONWriter, AnImplementationWritesItselfWithTheSameWriterAndTheOuterTextStaysWhole)
{
    // Both texts are long enough to move their buffers while they are written.
    const std::string before(3000, 'x');
    const std::string inside(5000, 'y');
    SelfWritingImplementation* implementation = new SelfWritingImplementation();
    implementation->fContent = Parse(("[1,\"" + inside + "\",{\"k\":true}]").c_str());
    VJSONObject* object = new VJSONObject(nullptr, implementation, static_cast<VStorageLocker*>(nullptr));
    implementation->Release();
    VJSONValue holder(JSON_object);
    holder.SetProperty(VString("before"), VJSONValue(VString(before.c_str())));
    holder.SetProperty(VString("self"), VJSONValue(object));
    object->Release();
    holder.SetProperty(VString("after"), VJSONValue(2.0));
    EXPECT_EQ(Write(holder, 0x1),
              "{\"before\":\"" + before + "\",\"self\":[1,\"" + inside + "\",{\"k\":true}],\"after\":2}");
}

TEST(JSONPropertyIterators, OrderedIteratorFollowsInsertionOrder)
{
    VJSONValue value(JSON_object);
    for (const char* name : {"z", "a", "m"})
        value.SetProperty(VString(name), VJSONValue(VString(name)));
    auto names = [](const VJSONObject* inObject, unsigned int inOptions) {
        std::string out;
        for (VJSONPropertyConstOrderedIterator it(inObject, inOptions); it.IsValid(); it.Next()) {
            VString text;
            it.GetValue().GetString(text);
            out += ToStd(it.GetName()) + "=" + ToStd(text) + " ";
        }
        return out;
    };
    EXPECT_EQ(names(value.GetObject(), 0), "z=z a=a m=m ");
    value.GetObject()->RemoveProperty(VString("a"));
    value.SetProperty(VString("a"), VJSONValue(VString("a")));
    EXPECT_EQ(names(value.GetObject(), 0), "z=z m=m a=a ");

    // A shared object lists the same order, read by name; the locker id is no property.
    VJSONObject* shared = new VJSONObject(nullptr, nullptr, true);
    VJSONValue sharedValue(shared);
    shared->Release();
    {
        VJSONUser user(shared, false);
        for (const char* name : {"z", "m", "a"})
            shared->SetProperty(VString(name), VJSONValue(VString(name)));
    }
    EXPECT_EQ(names(shared, 0), "z=z m=m a=a ");

    VJSONValue empty(JSON_object);
    VJSONPropertyConstOrderedIterator none(empty.GetObject(), 0);
    EXPECT_TRUE(none.AtEnd());
}

TEST(JSONPropertyIterators, ImplementationNamesComeFirstUnlessLeftOut)
{
    NamedImplementation* implementation = new NamedImplementation();
    VJSONObject* object = new VJSONObject(nullptr, implementation, static_cast<VStorageLocker*>(nullptr));
    implementation->Release();
    VJSONValue value(object);
    object->Release();
    value.SetProperty(VString("own"), VJSONValue(1.0));
    for (unsigned int options : {0u, 1u, 2u, 3u}) {
        std::string out;
        for (VJSONPropertyConstOrderedIterator it(object, options); it.IsValid(); it.Next())
            out += ToStd(it.GetName()) + ":" + std::to_string(static_cast<int>(it.GetValue().GetNumber())) + " ";
        EXPECT_EQ(out, (options & 1) ? "own:1 " : "virtual:9 own:1 ") << options;
    }
    std::string unordered;
    for (VJSONPropertyConstIterator it(object); it.IsValid(); ++it)
        unordered += ToStd(it.GetName()) + " ";
    EXPECT_EQ(unordered, "virtual own ");
}

TEST(JSONPropertyIterators, SettingThroughTheIteratorNeverRemovesOwnProperties)
{
    VJSONValue value = Parse("{\"a\":1,\"b\":2}");
    for (VJSONPropertyIterator it(value.GetObject()); it.IsValid(); it.Next()) {
        it.SetValue(VJSONValue(JSON_undefined));
        if (ToStd(it.GetName()) == "b")
            it.SetValue(VJSONValue(5.0));
    }
    EXPECT_EQ(Write(value, 0x1), "{\"a\":1,\"b\":5}");
}

}  // namespace
}  // namespace qelt
