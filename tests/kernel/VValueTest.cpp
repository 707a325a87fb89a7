#include <gtest/gtest.h>

#include <memory>

#include "kernel/VEmpty.h"
#include "kernel/VLong.h"
#include "kernel/VReal.h"
#include "kernel/VString.h"
#include "kernel/VValue.h"
#include "kernel/VValueInfo.h"

namespace qelt {
namespace {

// A single value that counts the calls of its flag hooks.
class HookValue : public VValueSingle {
public:
    int fNullChanged = 0;
    int fDirtyChanged = 0;

    void SetRawFlags(unsigned char inFlags) { _SetFlags(inFlags); }
    unsigned char RawFlags() const { return _GetFlags(); }

    VValue* Clone() const override { return new HookValue(*this); }
    CompareResult CompareTo(const VValueSingle&, bool) const override { return CR_EQUAL; }

protected:
    void DoNullChanged() override { ++fNullChanged; }
    void DoDirtyChanged() override { ++fDirtyChanged; }
};

// A multi-valued value that records the last indexed setter reached.
class RecordingMultiple : public VValueMultiple {
public:
    double fLastReal = -1;
    int fLastElement = -1;

    int GetCount() const override { return 0; }
    void FromReal(double inValue, int inElement) override
    {
        fLastReal = inValue;
        fLastElement = inElement;
    }
};

// A descriptor of a test kind whose values are not single values.
constexpr unsigned short kMultipleKind = 60001;
class MultipleInfo : public VValueInfo {
public:
    MultipleInfo() : VValueInfo(kMultipleKind) {}
    VValue* Generate() const override { return new RecordingMultiple(); }
    VValue* Generate(VBlob*) const override { return new RecordingMultiple(); }
    VValue* LoadFromPtr(const void*, bool) const override { return new RecordingMultiple(); }
    void* ByteSwapPtr(void* inPtr, bool) const override { return inPtr; }
};

// A second descriptor for kind 4.
class OtherLongInfo : public VValueInfo {
public:
    OtherLongInfo() : VValueInfo(VK_LONG) {}
    VValue* Generate() const override { return nullptr; }
    VValue* Generate(VBlob*) const override { return nullptr; }
    VValue* LoadFromPtr(const void*, bool) const override { return nullptr; }
    void* ByteSwapPtr(void* inPtr, bool) const override { return inPtr; }
};

TEST(VValueRegistry, NewValueFromKind)
{
    std::unique_ptr<VValue> value(VValue::NewValueFromValueKind(VK_LONG));
    ASSERT_NE(value, nullptr);
    VLong* asLong = dynamic_cast<VLong*>(value.get());
    ASSERT_NE(asLong, nullptr);
    EXPECT_EQ(asLong->GetLong(), 0);
    EXPECT_FALSE(value->IsNull());
    EXPECT_TRUE(value->IsDirty());

    for (unsigned short kind : {7, 12, 106, 150}) {
        EXPECT_EQ(VValue::NewValueFromValueKind(kind), nullptr) << kind;
        EXPECT_EQ(VValue::ValueInfoFromValueKind(kind), nullptr) << kind;
    }

    std::unique_ptr<VValue> text(VValue::NewValueFromValueKind(VK_STRING));
    ASSERT_NE(dynamic_cast<VString*>(text.get()), nullptr);
    EXPECT_FALSE(text->IsNull());
}

TEST(VValueRegistry, FallbackDescriptor)
{
    HookValue value;
    const VValueInfo* info = value.GetValueInfo();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->GetKind(), VK_UNDEFINED);
    EXPECT_EQ(info->GetKey(), VK_UNDEFINED);
    EXPECT_EQ(VValue::ValueInfoFromValueKind(VK_UNDEFINED), info);
    EXPECT_EQ(HookValue().GetValueInfo(), info);

    std::unique_ptr<VValue> generated(info->Generate());
    ASSERT_NE(dynamic_cast<VEmpty*>(generated.get()), nullptr);
    int raw = 1234;
    EXPECT_EQ(info->ByteSwapPtr(&raw, true), &raw);
    EXPECT_EQ(raw, 1234);
    EXPECT_EQ(info->CompareTwoPtrToData(&raw, &raw), CR_EQUAL);
    EXPECT_EQ(info->GetSizeOfValueDataPtr(&raw), 0u);
}

TEST(VValueRegistry, LaterRegistrationReplacesAndEitherDestructionErases)
{
    const VValueInfo* original = VValue::ValueInfoFromValueKind(VK_LONG);
    ASSERT_NE(original, nullptr);
    {
        OtherLongInfo replacement;
        EXPECT_EQ(VValue::ValueInfoFromValueKind(VK_LONG), &replacement);
    }
    // Destroying the replacement erased key 4, whichever descriptor it held.
    EXPECT_EQ(VValue::ValueInfoFromValueKind(VK_LONG), nullptr);
    EXPECT_EQ(VValue::NewValueFromValueKind(VK_LONG), nullptr);

    {
        OtherLongInfo replacement;
        VValue::RegisterValueInfo(original);
        EXPECT_EQ(VValue::ValueInfoFromValueKind(VK_LONG), original);
        VValue::UnregisterValueInfo(original);
        EXPECT_EQ(VValue::ValueInfoFromValueKind(VK_LONG), nullptr);
    }
    VValue::RegisterValueInfo(original);
    EXPECT_EQ(VValue::ValueInfoFromValueKind(VK_LONG), original);
}

TEST(VValueFlags, SetNullAndSetDirtyCallTheirHooksOnChangeOnly)
{
    HookValue value;
    value.SetRawFlags(0);
    value.SetNull(true);
    EXPECT_EQ(value.fNullChanged, 1);
    EXPECT_EQ(value.fDirtyChanged, 1);
    EXPECT_TRUE(value.IsNull());
    EXPECT_TRUE(value.IsDirty());

    value.SetNull(true);
    EXPECT_EQ(value.fNullChanged, 1);
    EXPECT_EQ(value.fDirtyChanged, 1);

    value.SetDirty(true);
    EXPECT_EQ(value.fDirtyChanged, 1);
    value.SetDirty(false);
    EXPECT_FALSE(value.IsDirty());
    EXPECT_EQ(value.fDirtyChanged, 2);

    // Leaving the null state on a clean value marks it dirty again.
    value.SetNull(false);
    EXPECT_FALSE(value.IsNull());
    EXPECT_TRUE(value.IsDirty());
    EXPECT_EQ(value.fNullChanged, 2);
    EXPECT_EQ(value.fDirtyChanged, 3);

    // Bits of derived classes are left alone.
    value.SetRawFlags(0x50);
    value.SetNull(true);
    value.SetDirty(false);
    EXPECT_EQ(value.RawFlags(), 0x51);
}

TEST(VValueFlags, InvertCompResult)
{
    struct Case {
        CompareResult in, out;
    } cases[] = {{CR_SMALLER, CR_BIGGER}, {CR_BIGGER, CR_SMALLER}, {CR_EQUAL, CR_EQUAL},
                 {CR_UNRELEVANT, CR_UNRELEVANT}};
    for (const Case& c : cases)
        EXPECT_EQ(VValue::InvertCompResult(c.in), c.out) << c.in;
}

TEST(VValueDefaults, BaseOperationsDoNothingAndReportUnsupported)
{
    HookValue value;
    VString text("x");
    // The single-value JSON defaults go through the text form; the base
    // ones report 'qelt' 2.
    EXPECT_EQ(value.VValue::FromJSONString(text, 0), QeltError(2));
    EXPECT_EQ(value.VValue::GetJSONString(text, 0), QeltError(2));
    EXPECT_EQ(value.GetJSONString(text, 0), VE_OK);
    EXPECT_TRUE(text.IsEmpty());

    char raw[4] = {1, 2, 3, 4};
    EXPECT_EQ(value.LoadFromPtr(raw), raw);
    EXPECT_EQ(value.WriteToPtr(raw), raw);
    unsigned long long size = 0;
    EXPECT_EQ(value.GetSpace(size), 0u);
    EXPECT_TRUE(value.CanBeStreamed());
    EXPECT_TRUE(value.CanBeEvaluated());
    EXPECT_EQ(value.IsVValueSingle(), &value);
    EXPECT_FALSE(value.FromValueSameKind(&value));
    EXPECT_EQ(value.Swap_CompareToSameKindPtr(raw), CR_EQUAL);
    EXPECT_TRUE(value.EqualTo(value));

    RecordingMultiple multiple;
    EXPECT_EQ(multiple.IsVValueSingle(), nullptr);
    EXPECT_FALSE(multiple.CanBeEvaluated());
    EXPECT_EQ(multiple.Clone(), nullptr);
    EXPECT_EQ(multiple.GetValueKind(), VK_UNDEFINED);
    EXPECT_EQ(multiple.CompareTo(value, false, 1), CR_UNRELEVANT);
}

TEST(VValueDefaults, MultipleSettersChainToFromReal)
{
    RecordingMultiple multiple;
    multiple.FromLong(7, 3);
    EXPECT_EQ(multiple.fLastReal, 7.0);
    EXPECT_EQ(multiple.fLastElement, 3);
    multiple.FromBoolean(1, 4);
    EXPECT_EQ(multiple.fLastReal, 1.0);
    EXPECT_EQ(multiple.fLastElement, 4);
    multiple.FromByte(-2, 5);
    EXPECT_EQ(multiple.fLastReal, -2.0);
    multiple.FromLong8(1LL << 40, 6);
    EXPECT_EQ(multiple.fLastReal, static_cast<double>(1LL << 40));
}

TEST(VValueConvert, ConvertToKeepsNullAndRefusesMultipleKinds)
{
    VLong nullLong;
    nullLong.FromLong(12);
    nullLong.SetNull(true);
    std::unique_ptr<VValueSingle> real(nullLong.ConvertTo(VK_REAL));
    ASSERT_NE(dynamic_cast<VReal*>(real.get()), nullptr);
    EXPECT_TRUE(real->IsNull());

    VLong five;
    five.FromLong(5);
    std::unique_ptr<VValueSingle> text(five.ConvertTo(VK_STRING));
    ASSERT_NE(text, nullptr);
    EXPECT_FALSE(text->IsNull());

    EXPECT_EQ(five.ConvertTo(7), nullptr);
    EXPECT_EQ(five.ConvertTo(VK_BAG), nullptr);

    // A kind whose values are not single values: the new value is deleted
    // (the leak checker of the test run would report it otherwise).
    MultipleInfo info;
    EXPECT_EQ(five.ConvertTo(kMultipleKind), nullptr);
}

}  // namespace
}  // namespace qelt
