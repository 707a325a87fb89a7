// The array kinds in the kind registry: creation by kind, the empty raw
// form, and arrays travelling as stream values.
#include <gtest/gtest.h>

#include "files/VConstPtrStream.h"
#include "files/VPtrStream.h"
#include "kernel/VString.h"
#include "values/VArrayLong.h"
#include "values/VArrayString.h"

namespace qelt {
namespace {

TEST(VArrayKinds, RegistryCreatesEmptyArrays)
{
    const unsigned short kinds[] = {100, 101, 102, 103, 104, 105, 107, 108, 109, 110, 111};
    const unsigned short elementKinds[] = {1, 2, 3, 4, 5, 6, 8, 9, 10, 11, 12};
    for (size_t i = 0; i < sizeof(kinds) / sizeof(kinds[0]); ++i) {
        const VValueInfo* info = VValue::ValueInfoFromValueKind(kinds[i]);
        ASSERT_NE(info, nullptr) << kinds[i];
        EXPECT_EQ(info->GetKind(), kinds[i]);
        VValue* value = VValue::NewValueFromValueKind(kinds[i]);
        VArrayValue* array = dynamic_cast<VArrayValue*>(value);
        ASSERT_NE(array, nullptr) << kinds[i];
        EXPECT_EQ(array->GetCount(), 0);
        EXPECT_EQ(array->GetElemValueKind(), elementKinds[i]);
        EXPECT_EQ(array->GetValueInfo(), info);
        EXPECT_EQ(array->GetValueKind(), 65535);
        delete value;

        const unsigned char junk[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
        VValue* loaded = info->LoadFromPtr(junk);
        ASSERT_NE(dynamic_cast<VArrayValue*>(loaded), nullptr);
        EXPECT_EQ(dynamic_cast<VArrayValue*>(loaded)->GetCount(), 0);
        delete loaded;
        unsigned char swapped[4] = {1, 2, 3, 4};
        EXPECT_EQ(info->ByteSwapPtr(swapped, true), swapped);
        EXPECT_EQ(swapped[0], 1);
    }
    EXPECT_EQ(VValue::NewValueFromValueKind(106), nullptr);
    EXPECT_EQ(VValue::ValueInfoFromValueKind(12), nullptr);
}

TEST(VArrayKinds, ArraysTravelAsStreamValues)
{
    VArrayString strings;
    strings.AppendString(VString("a"));
    VArrayLong longs;
    longs.AppendLong(-4);

    VPtrStream out;
    ASSERT_EQ(out.OpenWriting(), VE_OK);
    ASSERT_EQ(out.PutValue(strings), VE_OK);
    ASSERT_EQ(out.PutValue(longs), VE_OK);
    out.CloseWriting();

    VConstPtrStream in(out.GetDataPtr(), out.GetDataSize());
    ASSERT_EQ(in.OpenReading(), VE_OK);
    VValue* first = in.GetValue();
    VArrayString* readStrings = dynamic_cast<VArrayString*>(first);
    ASSERT_NE(readStrings, nullptr);
    ASSERT_EQ(readStrings->GetCount(), 1);
    VString text;
    readStrings->GetString(text, 1);
    ASSERT_EQ(text.GetLength(), 1);
    EXPECT_EQ(text.GetCPointer()[0], 'a');
    VValue* second = in.GetValue();
    VArrayLong* readLongs = dynamic_cast<VArrayLong*>(second);
    ASSERT_NE(readLongs, nullptr);
    EXPECT_EQ(readLongs->GetCount(), 1);
    EXPECT_EQ(readLongs->GetLong(1), -4);
    delete first;
    delete second;
}

}  // namespace
}  // namespace qelt
