#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "kernel/VBoolean.h"
#include "kernel/VLong.h"
#include "kernel/VLong8.h"
#include "kernel/VString.h"
#include "values/StBagKey.h"
#include "values/StPackedDictionaryKey.h"
#include "values/VValueBag.h"
#include "values/_VHashKeyMap.h"

namespace qelt {

TEST(BagKey, HashesOfKnownKeys)
{
    struct Case { const char* text; unsigned long long hash; };
    const Case cases[] = {
        {"", 0},
        {"a", 354},
        {"<>", 147580},
        {"uuid", 2263794619ull},
        {"abcdefghijklmnopq", 95214241},
        {"abcdefghXjklmnopq", 95214241},  // the 9th byte of a long key is not hashed
    };
    for (const Case& c : cases) {
        StPackedDictionaryKey key(c.text);
        EXPECT_EQ(key.GetHash(), c.hash) << c.text;
        EXPECT_EQ(StPackedDictionaryKey::GetHashCode(c.text, std::strlen(c.text)), c.hash) << c.text;
    }
}

TEST(BagKey, TextKeysAreRefusedBeyond255Bytes)
{
    std::wstring exact(255, L'x');
    StPackedDictionaryKey fits(exact.c_str());
    EXPECT_EQ(fits.GetKeyLength(), 255u);
    EXPECT_TRUE(fits.IsStorable());

    std::wstring tooLong(300, L'x');
    StPackedDictionaryKey refused(tooLong.c_str());
    EXPECT_EQ(refused.GetKeyLength(), 0u);
    EXPECT_EQ(refused.GetHash(), 0u);
    EXPECT_FALSE(refused.IsStorable());

    // 128 two-byte letters need 256 bytes: refused, never cut.
    std::wstring wide(128, L'\u00e9');
    EXPECT_FALSE(StPackedDictionaryKey(wide.c_str()).IsStorable());
    EXPECT_FALSE(StPackedDictionaryKey(VString(wide.c_str())).IsStorable());

    // The byte constructor keeps every byte, but a dictionary refuses the key.
    std::string bytes(256, 'y');
    StPackedDictionaryKey longBytes(bytes.data(), bytes.size());
    EXPECT_EQ(longBytes.GetKeyLength(), 256u);
    EXPECT_FALSE(longBytes.IsStorable());
    VValueBag* bag = new VValueBag();
    EXPECT_FALSE(bag->SetAttribute(longBytes, VLong(1)));
    EXPECT_FALSE(bag->SetAttribute(refused, VLong(1)));
    EXPECT_EQ(bag->GetAttributesCount(), 0);
    bag->AddElement(refused, bag);  // refused twice over: bad name, own child
    EXPECT_EQ(bag->GetElementNamesCount(), 0);
    bag->Release();
}

TEST(BagKey, KeysFromTextAreUTF8AndCopiesKeepTheirForm)
{
    StPackedDictionaryKey fromString(VString(L"caf\u00e9"));
    ASSERT_EQ(fromString.GetKeyLength(), 5u);
    EXPECT_EQ(std::string(fromString.GetKeyPtr(), 5), "caf\xc3\xa9");
    StPackedDictionaryKey fromWide(L"caf\u00e9");
    EXPECT_TRUE(fromWide == fromString);
    EXPECT_EQ(fromWide.GetHash(), fromString.GetHash());

    StPackedDictionaryKey copyOfOwned(fromString);
    EXPECT_NE(copyOfOwned.GetKeyPtr(), fromString.GetKeyPtr());
    EXPECT_TRUE(copyOfOwned == fromString);

    static const char kLiteral[] = "level";
    StPackedDictionaryKey borrowed(kLiteral);
    StPackedDictionaryKey copyOfBorrowed(borrowed);
    EXPECT_EQ(copyOfBorrowed.GetKeyPtr(), kLiteral);

    // A lone high surrogate at the end cannot be encoded: refused.
    const UniChar lone[] = {'a', 0xD800, 0};
    EXPECT_FALSE(StPackedDictionaryKey(VString(lone)).IsStorable());
}

TEST(BagKey, IndexSizes)
{
    struct Case { unsigned long keys; unsigned long cells; };
    const Case cases[] = {{0, 5}, {4, 5}, {5, 11}, {8, 11}, {9, 23}, {2537720636ul, 4106118251ul}};
    for (const Case& c : cases)
        EXPECT_EQ(_VHashKeyMap::_ComputeHashVectorSize(c.keys), c.cells) << c.keys;
    EXPECT_EQ(_VHashKeyMap::_ComputeHashVectorSize(2537720637ul), 0u);  // beyond the table: no index
}

TEST(BagKey, HashIndexProbesLinearlyAndReportsFull)
{
    _VHashKeyMap index;
    ASSERT_TRUE(index.Rebuild(3));
    ASSERT_EQ(index.GetCount(), 5u);
    EXPECT_TRUE(index.Put(4, 0));
    EXPECT_TRUE(index.Put(9, 1));  // home 4 taken: wraps to 0
    EXPECT_EQ(index.GetCell(4), 0u);
    EXPECT_EQ(index.GetCell(0), 1u);
    EXPECT_TRUE(index.Put(0, 2));
    EXPECT_TRUE(index.Put(0, 3));
    EXPECT_TRUE(index.Put(0, 4));
    EXPECT_FALSE(index.Put(0, 5));
}

TEST(BagKey, HomeCellIsTheHashModuloTheCellCountForEverySize)
{
    // Every cell count of the size table (its ranges grow by about 1.6, so a
    // step of 5% visits each), and a few counts around the edges.
    std::set<unsigned long long> counts = {1, 2, 3, 0xFFFFFFFFull};
    for (unsigned long long keys = 0; keys <= 2537720636ull; keys = keys + keys / 20 + 1)
        counts.insert(_VHashKeyMap::_ComputeHashVectorSize(static_cast<unsigned long>(keys)));
    counts.insert(_VHashKeyMap::_ComputeHashVectorSize(2537720636ul));
    counts.erase(0);
    EXPECT_EQ(counts.size(), 42u + 4u);
    uint32_t random = 0x2545F491u;
    for (unsigned long long cells : counts) {
        uint64_t factor = _VHashKeyMap::_ModFactor(cells);
        std::vector<unsigned long long> hashes = {0, 1, 0xFFFFFFFFull, 0xFFFFFFFEull, 0x80000000ull};
        for (unsigned long long near : {cells - 1, cells, cells + 1, 2 * cells - 1, 2 * cells}) {
            if (near <= 0xFFFFFFFFull)
                hashes.push_back(near);
        }
        for (int i = 0; i < 200; ++i) {
            random ^= random << 13;
            random ^= random >> 17;
            random ^= random << 5;
            hashes.push_back(random);
        }
        for (unsigned long long hash : hashes)
            ASSERT_EQ(_VHashKeyMap::_HomeCell(hash, factor, cells), hash % cells) << hash << " over " << cells;
    }
}

// Typed keys as the logger and the error bags use them.
enum ETestLevel { kLevelDebug = 2, kLevelInfo = 4, kLevelError = 6 };

TEST(BagKey, TypedKeyWithDefaultNeverStoresTheDefault)
{
    static const StBagKeyWithDefault<ETestLevel, VLong> level("level", kLevelInfo);
    VRefPtr<VValueBag> bag = AdoptRef(new VValueBag());
    level.Set(*bag, kLevelError);
    VLong stored;
    ASSERT_TRUE(bag->GetAttribute(level, stored));
    EXPECT_EQ(stored.GetLong(), 6);
    EXPECT_EQ(level.Get(*bag), kLevelError);

    level.Set(*bag, kLevelInfo);  // the default removes the attribute
    EXPECT_EQ(bag->GetAttributesCount(), 0);
    EXPECT_EQ(level.Get(*bag), kLevelInfo);
}

TEST(BagKey, TypedKeyWithoutDefaultReportsAbsence)
{
    static const StBagKeyNoDefault<bool, VBoolean> flag("flag");
    static const StBagKeyNoDefault<VString, VString> message("message");
    static const StBagKeyNoDefault<long long, VLong8> big("big");
    static const StBagKeyNoDefault<unsigned int, VLong> count("count");
    VValueBag* bag = new VValueBag();
    bool value = true;
    EXPECT_FALSE(flag.Get(*bag, value));
    EXPECT_TRUE(value);  // unchanged

    flag.Set(*bag, false);
    EXPECT_TRUE(flag.Get(*bag, value));
    EXPECT_FALSE(value);
    message.Set(*bag, VString("hello"));
    EXPECT_TRUE(message.Get(*bag).EqualToSameKind(&static_cast<const VString&>(VString("hello")), true));
    big.Set(*bag, 1LL << 40);
    EXPECT_EQ(big.Get(*bag), 1LL << 40);
    count.Set(*bag, 4000000000u);
    EXPECT_EQ(count.Get(*bag), 4000000000u);
    bag->Release();
}

}  // namespace qelt
