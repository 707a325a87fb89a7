// The UUID value: text forms, tolerant reader, null handling, raw and
// stream forms, comparison and generation.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "files/VPtrStream.h"
#include "kernel/VString.h"
#include "values/VUUID.h"

using namespace qelt;

namespace {

std::string Text(const VString& s)
{
    std::string out;
    for (int i = 0; i < s.GetLength(); ++i)
        out += static_cast<char>(s.GetCPointer()[i]);
    return out;
}

std::string Hex(const VUUID& u)
{
    VString s;
    u.GetString(s);
    return Text(s);
}

}  // namespace

TEST(VUUIDTest, TextForm)
{
    VUUIDBuffer buffer;
    for (int i = 0; i < 16; ++i)
        buffer.fBytes[i] = static_cast<unsigned char>(i);
    VUUID u(buffer);
    EXPECT_FALSE(u.IsNull());
    EXPECT_EQ(Hex(u), "000102030405060708090A0B0C0D0E0F");
    EXPECT_EQ(Hex(VUUID()), std::string(32, '0'));
    EXPECT_TRUE(VUUID().IsNull());
}

TEST(VUUIDTest, TolerantReader)
{
    VUUID u;
    u.FromString(VString("0a1b2c3e-5f60-7182-93a5-b5c6e7f80912"));
    EXPECT_EQ(Hex(u), "0A1B2C3E5F60718293A5B5C6E7F80912");
    EXPECT_FALSE(u.IsNull());

    u.FromString(VString("abc"));
    const unsigned char expected[16] = {'a', 'b', 'c', ' ', ' ', ' ', ' ', ' ',
                                        ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
    EXPECT_EQ(std::memcmp(u.GetBytes(), expected, 16), 0);
    EXPECT_FALSE(u.IsNull());
    u.FromString(VString(""));
    EXPECT_EQ(u.GetBytes()[0], ' ');
    EXPECT_EQ(u.GetBytes()[15], ' ');

    u.FromString(VString(std::string(32, '0').c_str()));
    EXPECT_FALSE(u.IsNull());
    VUUID fromBuffer;
    fromBuffer.FromBuffer(std::string(32, '0').c_str());
    EXPECT_TRUE(fromBuffer.IsNull());
}

TEST(VUUIDTest, FromCText)
{
    VUUID u;
    u.FromBuffer("0a1b2c3e5f60718293a5b5c6e7f80912");
    EXPECT_EQ(Hex(u), "0A1B2C3E5F60718293A5B5C6E7F80912");
    u.FromBuffer("12345678901234567890");  // 20 characters: unchanged
    EXPECT_EQ(Hex(u), "0A1B2C3E5F60718293A5B5C6E7F80912");
    u.FromBuffer("AB");
    EXPECT_EQ(Hex(u), "41420000000000000000000000000000");
}

TEST(VUUIDTest, IsUUIDString)
{
    EXPECT_TRUE(VUUID::IsUUIDString(VString("0A1B2C3E5F60718293A5B5C6E7F80912")));
    EXPECT_FALSE(VUUID::IsUUIDString(VString("0a1B2C3E5F60718293A5B5C6E7F80912")));
    EXPECT_FALSE(VUUID::IsUUIDString(VString("0A1B2C3E5F60718293A5B5C6E7F8091")));
    EXPECT_FALSE(VUUID::IsUUIDString(VString("0A1B2C3E5F60718293A5B5C6E7F809123")));
    EXPECT_FALSE(VUUID::IsUUIDString(VString(std::string(32, '0').c_str())));
    EXPECT_TRUE(VUUID::IsUUIDString(VString(std::string(32, '0').c_str()), true));
}

TEST(VUUIDTest, NullZeroesBytesAndCachedText)
{
    VUUID u;
    u.FromString(VString("0A1B2C3E5F60718293A5B5C6E7F80912"));
    VString* cached = u.GetCachedConvertedString(true);
    ASSERT_NE(cached, nullptr);
    EXPECT_EQ(Text(*cached), "0A1B2C3E5F60718293A5B5C6E7F80912");
    EXPECT_FALSE(cached->IsNull());
    u.SetNull(true);
    EXPECT_EQ(Hex(u), std::string(32, '0'));
    EXPECT_TRUE(cached->IsNull());
    u.Regenerate();
    EXPECT_FALSE(u.IsNull());
    EXPECT_FALSE(cached->IsNull());
    EXPECT_EQ(Text(*cached), Hex(u));
    VUUID none;
    EXPECT_EQ(none.GetCachedConvertedString(false), nullptr);
}

TEST(VUUIDTest, ComparisonAndKind)
{
    VUUID a("00000000000000000000000000000001");
    VUUID b("01000000000000000000000000000000");
    EXPECT_TRUE(a < b);
    EXPECT_EQ(a.CompareToSameKind(&b), CR_SMALLER);
    EXPECT_EQ(a.CompareTo(VString("x")), CR_UNRELEVANT);
    EXPECT_EQ(VUUID::sInfo.CompareTwoPtrToData(a.GetBytes(), b.GetBytes()), CR_SMALLER);

    VValue* generated = VValue::NewValueFromValueKind(13);
    ASSERT_NE(generated, nullptr);
    EXPECT_TRUE(generated->IsNull());
    delete generated;
    VValue* loaded = VUUID::sInfo.LoadFromPtr(b.GetBytes());
    EXPECT_EQ(*static_cast<VUUID*>(loaded), b);
    EXPECT_FALSE(loaded->IsNull());
    delete loaded;
    unsigned char raw[16] = {0};
    EXPECT_EQ(VUUID::sInfo.ByteSwapPtr(raw, true), raw);
}

TEST(VUUIDTest, GeneratedUUIDsDiffer)
{
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        VUUID u(static_cast<unsigned char>(1));
        EXPECT_FALSE(u.IsNull());
        EXPECT_TRUE(VUUID::IsUUIDString(VString(Hex(u).c_str())));
        seen.insert(Hex(u));
    }
    EXPECT_EQ(seen.size(), 100u);
}

TEST(VUUIDTest, StreamBodyIsNeverSwapped)
{
    VUUID u("0A1B2C3E5F60718293A5B5C6E7F80912");
    VPtrStream stream;
    stream.SetNeedSwap(true);
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    EXPECT_EQ(u.WriteToStream(&stream), VE_OK);
    stream.CloseWriting();
    ASSERT_EQ(stream.GetDataSize(), 16u);
    EXPECT_EQ(std::memcmp(stream.GetDataPtr(), u.GetBytes(), 16), 0);
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    VUUID back;
    EXPECT_EQ(back.ReadFromStream(&stream), VE_OK);
    EXPECT_EQ(back, u);
    stream.CloseReading();

    VString json;
    u.GetJSONString(json, 1);
    EXPECT_EQ(Text(json), "\"0A1B2C3E5F60718293A5B5C6E7F80912\"");
}
