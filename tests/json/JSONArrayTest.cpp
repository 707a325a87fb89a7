#include <gtest/gtest.h>

#include "TestSupport.h"

#include <string>
#include <vector>

#include "json/json.h"
#include "kernel/VCompareOptions.h"
#include "kernel/VString.h"
#include "runtime/VErrorContext.h"

namespace qelt {
namespace {

using test::ToStd;

class JSONArrayTest : public ::testing::Test {
protected:
    void SetUp() override { fArray = new VJSONArray(static_cast<VStorageLocker*>(nullptr)); }
    void TearDown() override { fArray->Release(); }

    void PushNumbers(std::initializer_list<double> inNumbers)
    {
        for (double n : inNumbers)
            ASSERT_TRUE(fArray->Push(VJSONValue(n)));
    }

    VJSONArray* fArray = nullptr;
};

TEST_F(JSONArrayTest, ReadingOutOfRange)
{
    PushNumbers({1, 2});
    EXPECT_EQ(fArray->GetAt(1).GetNumber(), 2.0);
    EXPECT_TRUE(fArray->GetAt(2).IsUndefined());
    VJSONValue value(5.0);
    const uint32_t stamp = value.GetStamp();
    EXPECT_FALSE(fArray->GetAt(7, value));
    EXPECT_TRUE(value.IsUndefined());
    EXPECT_EQ(value.GetStamp(), stamp);
    EXPECT_TRUE(fArray->GetAt(0, value));
    EXPECT_NE(value.GetStamp(), stamp);
    EXPECT_EQ(fArray->GetStampAt(9), 0u);
    EXPECT_NE(fArray->GetStampAt(0), 0u);
    const uint32_t before = fArray->GetStampAt(0);
    fArray->TouchStampAt(0);
    EXPECT_GT(fArray->GetStampAt(0), before);
    fArray->TouchStampAt(99);  // nothing
}

TEST_F(JSONArrayTest, SetAtNeverGrowsAndResizeFillsWithNull)
{
    PushNumbers({1, 2, 3});
    EXPECT_TRUE(fArray->SetAt(3, VJSONValue(9.0)));
    EXPECT_EQ(fArray->GetCount(), 3u);
    EXPECT_TRUE(fArray->SetAt(1, VJSONValue(8.0)));
    EXPECT_EQ(fArray->GetAt(1).GetNumber(), 8.0);
    EXPECT_TRUE(fArray->SetAt_unchecked(2, VJSONValue(7.0)));
    EXPECT_EQ(fArray->GetAt(2).GetNumber(), 7.0);
    EXPECT_FALSE(fArray->SetAt_unchecked(5, VJSONValue(7.0)));

    fArray->Clear();
    EXPECT_TRUE(fArray->Resize(5));
    ASSERT_EQ(fArray->GetCount(), 5u);
    for (size_t i = 0; i < 5; ++i)
        EXPECT_TRUE(fArray->GetAt(i).IsNull());
    EXPECT_TRUE(fArray->Resize(2));
    EXPECT_EQ(fArray->GetCount(), 2u);

    // A count no memory can hold is refused and changes nothing.
    EXPECT_FALSE(fArray->Resize(static_cast<size_t>(-1)));
    EXPECT_FALSE(fArray->Resize(static_cast<size_t>(-1), JSON_object));
    EXPECT_EQ(fArray->GetCount(), 2u);
}

TEST_F(JSONArrayTest, ResizeWithObjectsSharesOneObjectAndCountsEveryLink)
{
    ASSERT_TRUE(fArray->Resize(3, JSON_object));
    ASSERT_EQ(fArray->GetCount(), 3u);
    VJSONObject* first = fArray->GetAt(0).GetObject();
    ASSERT_NE(first, nullptr);
    fArray->GetAt(1).SetProperty(VString("seen"), VJSONValue(1.0));
    EXPECT_EQ(fArray->GetAt(2).GetProperty(VString("seen")).GetNumber(), 1.0);
    EXPECT_EQ(fArray->GetAt(2).GetObject(), first);

    // Every element is a link of the graph.
    ASSERT_NE(fArray->GetGraph(), nullptr);
    EXPECT_EQ(first->GetGraph(), fArray->GetGraph());
    EXPECT_EQ(first->GetInternalCount(), 3);
    EXPECT_EQ(first->GetRefCount(), 3);
    EXPECT_EQ(fArray->GetGraph()->GetInternalReferences(), 3);
    EXPECT_EQ(fArray->GetGraph()->GetTotalReferences(), 4);

    // Removing two of them keeps the counts exact.
    fArray->RemoveAt(0, 2);
    EXPECT_EQ(first->GetInternalCount(), 1);
    EXPECT_EQ(first->GetRefCount(), 1);
    EXPECT_EQ(fArray->GetGraph()->GetInternalReferences(), 1);
}

TEST_F(JSONArrayTest, RemoveAtClampsAndRaisesTheStamp)
{
    VJSONStamp* stamp = new VJSONStamp();
    fArray->SetJSONStamp(stamp);
    PushNumbers({1, 2, 3});
    const uint32_t afterPush = stamp->GetCounter();
    EXPECT_EQ(afterPush, 3u);
    fArray->RemoveAt(1, 100);
    EXPECT_EQ(fArray->GetCount(), 1u);
    EXPECT_EQ(stamp->GetCounter(), 4u);
    fArray->RemoveAt(3, 1);
    EXPECT_EQ(stamp->GetCounter(), 4u);
    fArray->RemoveAt(0, 0);
    EXPECT_EQ(fArray->GetCount(), 1u);
    EXPECT_EQ(stamp->GetCounter(), 5u);
    fArray->RemoveAt(0, static_cast<size_t>(-1));  // no overflow of the range end
    EXPECT_EQ(fArray->GetCount(), 0u);
    stamp->Release();
}

TEST(JSONArrayText, ViewsOfElements)
{
    VJSONValue list(JSON_array);
    VJSONArray* array = list.GetArray();
    array->Push(VJSONValue(1.0));
    array->Push(VJSONValue(VString("a")));
    array->Push(VJSONValue(JSON_null));
    VJSONValue inner(JSON_array);
    inner.GetArray()->Push(VJSONValue(2.0));
    inner.GetArray()->Push(VJSONValue(3.0));
    array->Push(inner);
    array->Push(VJSONValue(JSON_object));
    VString text;
    EXPECT_EQ(list.GetString(text), VE_OK);
    EXPECT_EQ(ToStd(text), "1,a,,2,3,[object Object]");

    VString empty(true);
    EXPECT_EQ(VJSONValue(JSON_array).GetString(empty), VE_OK);
    EXPECT_FALSE(empty.IsNull());
    EXPECT_TRUE(empty.IsEmpty());
}

TEST(JSONArrayText, AnArrayInsideItselfAnswers900)
{
    StErrorContextInstaller errors(false);
    VJSONValue list(JSON_array);
    list.GetArray()->Push(VJSONValue(1.0));
    list.GetArray()->Push(list);
    list.GetArray()->Push(VJSONValue(2.0));
    VString text;
    EXPECT_EQ(list.GetString(text), QeltError(900));
    EXPECT_EQ(errors.GetLastError(), QeltError(900));
    EXPECT_EQ(ToStd(text), "1,,");
}

TEST(JSONArrayEquality, DeepEqualityAndCycles)
{
    VCompareOptions options;
    VJSONValue a(JSON_array);
    VJSONValue b(JSON_array);
    for (VJSONValue* v : {&a, &b}) {
        v->GetArray()->Push(VJSONValue(1.0));
        v->GetArray()->Push(VJSONValue(VString("s")));
        VJSONValue object(JSON_object);
        object.SetProperty(VString("k"), VJSONValue(2.0));
        v->GetArray()->Push(object);
    }
    EXPECT_TRUE(a.DeepEqualTo(b, options));
    EXPECT_TRUE(a.GetArray()->DeepEqualTo(a.GetArray(), options));

    VJSONValue n(JSON_array);
    n.GetArray()->Push(VJSONValue(JSON_null));
    VJSONValue u(JSON_array);
    u.GetArray()->Push(VJSONValue(JSON_undefined));
    EXPECT_FALSE(n.DeepEqualTo(u, options));

    // Two arrays that each contain themselves.
    a.GetArray()->Push(a);
    b.GetArray()->Push(b);
    EXPECT_TRUE(a.DeepEqualTo(b, options));
    b.GetArray()->Push(VJSONValue(1.0));
    EXPECT_FALSE(a.DeepEqualTo(b, options));
}

TEST(JSONArraySwap, SwapValuesExchangesAndKeepsCountsExact)
{
    VJSONValue list(JSON_array);
    VJSONArray* array = list.GetArray();
    VJSONValue oldChild(JSON_object);
    array->Push(oldChild);
    VJSONValue newChild(JSON_object);
    std::vector<VJSONValue> values;
    values.push_back(newChild);
    values.push_back(VJSONValue(3.0));
    ASSERT_TRUE(array->SwapValues(values));
    ASSERT_EQ(array->GetCount(), 2u);
    EXPECT_EQ(array->GetAt(0).GetObject(), newChild.GetObject());
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].GetObject(), oldChild.GetObject());
    EXPECT_EQ(oldChild.GetObject()->GetInternalCount(), 0);
    EXPECT_EQ(newChild.GetObject()->GetInternalCount(), 1);
    EXPECT_EQ(array->GetGraph()->GetInternalReferences(), 1);
}

}  // namespace
}  // namespace qelt
