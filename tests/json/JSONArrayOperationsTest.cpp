#include <gtest/gtest.h>

#include "JSONTextTestSupport.h"

#include <stdexcept>
#include <string>

#include "json/json.h"
#include "kernel/VString.h"
#include "runtime/VErrorContext.h"

namespace qelt {
namespace {

using test::Parse;
using test::ToStd;
using test::Write;




class Less : public IJSONValueComparator {
public:
    bool IsBefore(const VJSONValue& inFirst, const VJSONValue& inSecond) override
    {
        return inFirst.GetNumber() < inSecond.GetNumber();
    }
};

class Throwing : public IJSONValueComparator {
public:
    bool IsBefore(const VJSONValue&, const VJSONValue&) override { throw std::runtime_error("no order"); }
};

// No order at all: answers from a counter, true and false in turn.
class Nonsense : public IJSONValueComparator {
public:
    bool IsBefore(const VJSONValue&, const VJSONValue&) override { return (++fCalls % 3) != 0; }
    int fCalls = 0;
};

TEST(JSONArrayOperations, SortOrdersByTheComparatorAndRaisesTheStamp)
{
    struct Case {
        const char* start;
        const char* sorted;
    };
    const Case cases[] = {{"[3,1,2]", "[1,2,3]"}, {"[]", "[]"}, {"[5]", "[5]"},
                          {"[9,8,7,6,5,4,3,2,1,0,-1,12]", "[-1,0,1,2,3,4,5,6,7,8,9,12]"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.start);
        VJSONValue value = Parse(c.start);
        VJSONStamp* stamp = new VJSONStamp();
        value.GetArray()->SetJSONStamp(stamp);
        const uint32_t before = stamp->GetCounter();
        Less less;
        value.GetArray()->Sort(&less);
        EXPECT_EQ(Write(value), c.sorted);
        EXPECT_EQ(stamp->GetCounter(), before + 1);
        value.GetArray()->SetJSONStamp(nullptr);
        stamp->Release();
    }
}

TEST(JSONArrayOperations, SortFailuresKeepTheOrder)
{
    StErrorContextInstaller errors(false);
    VJSONValue value = Parse("[3,1,2,7,5,9,4,8,6,0,11,10]");
    Throwing throwing;
    value.GetArray()->Sort(&throwing);
    EXPECT_EQ(Write(value), "[3,1,2,7,5,9,4,8,6,0,11,10]");
    EXPECT_EQ(errors.GetLastError(), QeltError(917));

    // A comparator that is no order never takes the sort outside the array.
    VJSONValue many(JSON_array);
    for (int i = 0; i < 500; ++i)
        many.GetArray()->Push(VJSONValue(static_cast<double>(i % 17)));
    Nonsense nonsense;
    many.GetArray()->Sort(&nonsense);
    EXPECT_EQ(many.GetArray()->GetCount(), 500u);
    double sum = 0;
    for (size_t i = 0; i < 500; ++i)
        sum += many.GetArray()->GetAt(i).GetNumber();
    EXPECT_EQ(sum, 3965.0);  // the same elements, in some order

    // A shared array that this task does not use is not sorted.
    VJSONArray* shared = new VJSONArray(true);
    VJSONValue sharedValue(shared);
    shared->Release();
    {
        VJSONUser user(shared, false);
        shared->Push(VJSONValue(2.0));
        shared->Push(VJSONValue(1.0));
    }
    Less less;
    shared->Sort(&less);
    EXPECT_EQ(errors.GetLastError(), MakeVError(kSignatureVQRT, -10720));
    EXPECT_EQ(Write(sharedValue), "[2,1]");
}

TEST(JSONArrayOperations, ConcatenateAppendsCopies)
{
    VJSONValue target = Parse("[0]");
    VJSONStamp* stamp = new VJSONStamp();
    target.GetArray()->SetJSONStamp(stamp);
    EXPECT_TRUE(target.GetArray()->Concatenate(*Parse("[]").GetArray()));
    EXPECT_EQ(stamp->GetCounter(), 0u);
    VJSONValue other = Parse("[1,{\"k\":2}]");
    EXPECT_TRUE(target.GetArray()->Concatenate(*other.GetArray()));
    EXPECT_EQ(Write(target), "[0,1,{\"k\":2}]");
    EXPECT_EQ(stamp->GetCounter(), 1u);
    target.GetArray()->SetJSONStamp(nullptr);
    stamp->Release();

    // Onto itself: every element once more.
    VJSONValue self = Parse("[1,[2]]");
    EXPECT_TRUE(self.GetArray()->Concatenate(*self.GetArray()));
    EXPECT_EQ(Write(self), "[1,[2],1,[2]]");
}

TEST(JSONArrayOperations, JoinAsStringFollowsItsOptions)
{
    VJSONValue value = Parse("[\"a\",\"\",null,3]");
    const struct {
        bool keepEmpty;
        bool nullAsText;
        const char* text;
    } cases[] = {{false, false, "a-3"}, {true, false, "a--3"}, {false, true, "a-null-3"}, {true, true, "a--null-3"}};
    for (const auto& c : cases) {
        VString text("old");
        value.GetArray()->JoinAsString(VString("-"), text, c.keepEmpty, c.nullAsText);
        EXPECT_EQ(ToStd(text), c.text);
    }
    VString text("old");
    Parse("[]").GetArray()->JoinAsString(VString("-"), text, true, true);
    EXPECT_EQ(ToStd(text), "");
    Parse("[[1,2],3]").GetArray()->JoinAsString(VString(";"), text, false, false);
    EXPECT_EQ(ToStd(text), "1,2;3");
}

TEST(JSONArrayOperations, SelectedRowsAreRunsOfSelectedElements)
{
    const struct {
        const char* elements;
        const char* selection;
        const char* result;
    } cases[] = {
        {"[1,2,3,4,5]", "[2,3,5]", "{\"ranges\":[{\"start\":1,\"end\":2},{\"start\":4,\"end\":4}]}"},
        {"[\"a\",\"b\"]", "[]", "{\"ranges\":[]}"},
        {"[1,1,2]", "[1]", "{\"ranges\":[{\"start\":0,\"end\":1}]}"},
        {"[1,1,2]", "[0.9999995,2]", "{\"ranges\":[{\"start\":0,\"end\":2}]}"},
        {"[null,{},3]", "[null,{}]", "{\"ranges\":[{\"start\":0,\"end\":0}]}"},
        {"[1,2]", "5", "{\"ranges\":[]}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.elements);
        VJSONValue elements = Parse(c.elements);
        EXPECT_EQ(Write(elements.GetArray()->GetSelectedRows(Parse(c.selection))), c.result);
    }
    VJSONValue objects = Parse("[{},{}]");
    VJSONValue selection(JSON_array);
    selection.GetArray()->Push(objects.GetArray()->GetAt(1));
    EXPECT_EQ(Write(objects.GetArray()->GetSelectedRows(selection)), "{\"ranges\":[{\"start\":1,\"end\":1}]}");
}

}  // namespace
}  // namespace qelt
