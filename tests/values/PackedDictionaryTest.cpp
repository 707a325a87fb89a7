#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "files/VConstPtrStream.h"
#include "files/VPtrStream.h"
#include "kernel/VBoolean.h"
#include "kernel/VByte.h"
#include "kernel/VLong.h"
#include "kernel/VString.h"
#include "values/VPackedDictionary.h"

namespace qelt {

namespace {

using AttrDict = VPackedDictionary_with_backstore<VPackedValue_VValueSingle>;

std::string Narrow(const VString& s)
{
    std::string out;
    for (int i = 0; i < s.GetLength(); ++i)
        out.push_back(static_cast<char>(s.GetCPointer()[i]));
    return out;
}

std::string KeyName(int i) { return "key" + std::to_string(i); }

void AppendLongs(AttrDict& dict, int count)
{
    for (int i = 0; i < count; ++i) {
        std::string name = KeyName(i);
        dict.Append(StPackedDictionaryKey(name.data(), name.size()), VLong(i));
    }
}

// Writes the dictionary to a memory stream and reads it back into outBack.
void RoundTripThroughStream(const AttrDict& inDict, AttrDict& outBack)
{
    VPtrStream out;
    ASSERT_EQ(out.OpenWriting(), VE_OK);
    ASSERT_EQ(inDict.WriteToStream(&out, true), VE_OK);
    ASSERT_EQ(out.CloseWriting(), VE_OK);
    VConstPtrStream in(out.GetDataPtr(), out.GetDataSize());
    ASSERT_EQ(in.OpenReading(), VE_OK);
    ASSERT_EQ(outBack.ReadFromStream(&in), VE_OK);
}

}  // namespace

TEST(PackedDictionary, RecordsAreRewrittenInPlaceWhenTheSizeHolds)
{
    AttrDict dict;
    dict.Append("n", VLong(7));
    ASSERT_TRUE(dict.SetExistingValue("n", VLong(9)));
    EXPECT_FALSE(dict.NeedsPack());
    EXPECT_FALSE(dict.HasAttachedValueAt(0));
    VLong out;
    ASSERT_TRUE(dict.GetValue("n", out));
    EXPECT_EQ(out.GetLong(), 9);

    // A byte and a boolean both take 3 bytes: the record changes kind in place.
    dict.Append("b", VByte(5));
    ASSERT_TRUE(dict.SetExistingValue("b", VBoolean(true)));
    EXPECT_FALSE(dict.NeedsPack());
    EXPECT_EQ(dict.GetBackstore()[dict.GetValueOffsetAt(1)], 1);  // kind 1

    // A long (6 bytes) set to a boolean (3 bytes) attaches a clone.
    ASSERT_TRUE(dict.SetExistingValue("n", VBoolean(true)));
    EXPECT_TRUE(dict.NeedsPack());
    EXPECT_TRUE(dict.HasAttachedValueAt(0));
    EXPECT_FALSE(dict.SetExistingValue("absent", VLong(1)));
}

TEST(PackedDictionary, GrowingStringsArePackedInSlotOrder)
{
    AttrDict dict;
    dict.Append("s", VString("ab"));
    dict.Append("t", VLong(3));
    ASSERT_EQ(dict.GetValueOffsetAt(1), 5u);  // string record: 2 + 4 + 4 bytes = 5 units
    dict.SetExistingValue("s", VString("abc"));
    EXPECT_TRUE(dict.NeedsPack());

    AttrDict copy;
    copy = dict;  // packs the source first; the copy holds records only
    EXPECT_FALSE(dict.NeedsPack());
    EXPECT_EQ(dict.GetValueOffsetAt(1), 6u);
    EXPECT_EQ(copy.GetValueOffsetAt(1), 6u);
    EXPECT_FALSE(copy.HasAttachedValueAt(0));
    VString s;
    ASSERT_TRUE(copy.GetValue("s", s));
    EXPECT_EQ(Narrow(s), "abc");
    VLong t;
    ASSERT_TRUE(copy.GetValue("t", t));
    EXPECT_EQ(t.GetLong(), 3);
}

TEST(PackedDictionary, ReadingIntoAnotherKindAttachesOneObject)
{
    AttrDict dict;
    dict.Append("n", VLong(42));
    VLong direct;
    ASSERT_TRUE(dict.GetValue("n", direct));
    EXPECT_FALSE(dict.HasAttachedValueAt(0));  // loaded straight from the record
    VString text;
    ASSERT_TRUE(dict.GetValue("n", text));
    EXPECT_EQ(Narrow(text), "42");
    EXPECT_TRUE(dict.HasAttachedValueAt(0));
    const VValueSingle* attached = dict.GetValueAt(0);
    ASSERT_TRUE(dict.GetValue("n", text));
    EXPECT_EQ(dict.GetValueAt(0), attached);
    EXPECT_FALSE(dict.NeedsPack());
}

TEST(PackedDictionary, RemovingTheMiddleKeyLowersOffsets)
{
    AttrDict dict;
    dict.Append("a", VLong(1));
    dict.Append("bb", VString("xyz"));
    dict.Append("c", VLong(3));
    dict.Clear("bb");
    ASSERT_EQ(dict.GetCount(), 2u);
    EXPECT_EQ(dict.GetValueOffsetAt(1), 3u);
    EXPECT_EQ(dict.GetKeyBytesSize(), 4u);
    VLong v;
    ASSERT_TRUE(dict.GetValue("c", v));
    EXPECT_EQ(v.GetLong(), 3);
    ASSERT_TRUE(dict.GetValue("a", v));
    EXPECT_EQ(v.GetLong(), 1);
    EXPECT_FALSE(dict.GetValue("bb", v));
    dict.Clear("absent");
    EXPECT_EQ(dict.GetCount(), 2u);
}

TEST(PackedDictionary, IndexIsBuiltFromSixKeysAndGrowsWhenFull)
{
    AttrDict dict;
    AppendLongs(dict, 5);
    EXPECT_EQ(dict._Find("key4"), 4u);
    EXPECT_FALSE(dict.HasIndex());

    dict.Append("key5", VLong(5));
    EXPECT_EQ(dict._Find("key5"), 5u);
    ASSERT_TRUE(dict.HasIndex());
    EXPECT_EQ(dict.GetIndexCellCount(), 11u);
    for (int i = 6; i < 11; ++i) {
        std::string name = KeyName(i);
        dict.Append(StPackedDictionaryKey(name.data(), name.size()), VLong(i));
    }
    EXPECT_EQ(dict.GetIndexCellCount(), 11u);  // 11 keys fill 11 cells
    dict.Append("key11", VLong(11));
    EXPECT_EQ(dict.GetIndexCellCount(), 23u);
    for (int i = 0; i < 12; ++i) {
        std::string name = KeyName(i);
        VLong v;
        ASSERT_TRUE(dict.GetValue(StPackedDictionaryKey(name.data(), name.size()), v)) << name;
        EXPECT_EQ(v.GetLong(), i);
    }

    dict.Clear("key3");
    EXPECT_FALSE(dict.HasIndex());  // dropped on removal, rebuilt on the next lookup
    EXPECT_EQ(dict._Find("key11"), 10u);
    EXPECT_TRUE(dict.HasIndex());
}

TEST(PackedDictionary, AbsentKeyWithAnEmptyHomeCellComparesNothing)
{
    AttrDict dict;
    AppendLongs(dict, 8);
    dict._Find("key0");  // builds the index
    // Find a name whose home cell is empty, and one whose home cell holds
    // another key's slot.
    int checkedEmpty = 0;
    for (int i = 100; i < 200 && checkedEmpty == 0; ++i) {
        std::string name = "absent" + std::to_string(i);
        StPackedDictionaryKey key(name.data(), name.size());
        bool emptyHome = true;
        for (int k = 0; k < 8; ++k) {
            std::string present = KeyName(k);
            unsigned long long h = StPackedDictionaryKey::GetHashCode(present.data(), present.size());
            if (h % 11 == key.GetHash() % 11)
                emptyHome = false;
        }
        if (!emptyHome)
            continue;
        unsigned long long before = dict.GetCompareCount();
        EXPECT_EQ(dict._Find(key), dict.GetCount());
        EXPECT_EQ(dict.GetCompareCount(), before);
        ++checkedEmpty;
    }
    EXPECT_EQ(checkedEmpty, 1);
}

TEST(PackedDictionary, KeysSharingOneHashAreFoundAfterRemovalAndStreaming)
{
    // 17-byte keys that differ only in their 9th byte share one hash: the
    // index cells agree on it and only the keys tell them apart.
    auto name = [](char ninth) { return std::string("abcdefgh") + ninth + "jklmnopq"; };
    std::vector<std::string> names;
    for (char c = 'a'; c < 'a' + 9; ++c)
        names.push_back(name(c));
    const StPackedDictionaryKey first(names[0].data(), names[0].size());
    AttrDict dict;
    for (size_t i = 0; i < names.size(); ++i) {
        StPackedDictionaryKey key(names[i].data(), names[i].size());
        ASSERT_EQ(key.GetHash(), first.GetHash());
        dict.Append(key, VLong(static_cast<int>(i)));
    }
    auto expectAll = [&](const AttrDict& d, size_t removed, const char* when) {
        for (size_t i = 0; i < names.size(); ++i) {
            VLong value(-1);
            bool found = d.GetValue(StPackedDictionaryKey(names[i].data(), names[i].size()), value);
            EXPECT_EQ(found, i != removed) << names[i] << " " << when;
            if (found) {
                EXPECT_EQ(value.GetLong(), static_cast<int>(i)) << names[i] << " " << when;
            }
        }
        VLong value;
        const std::string absent = name('z');
        EXPECT_FALSE(d.GetValue(StPackedDictionaryKey(absent.data(), absent.size()), value)) << when;
    };
    expectAll(dict, names.size(), "appended");
    EXPECT_TRUE(dict.HasIndex());

    // Removing drops the index; the next look-up builds it again.
    dict.Clear(StPackedDictionaryKey(names[3].data(), names[3].size()));
    expectAll(dict, 3, "after removal");
    EXPECT_TRUE(dict.HasIndex());

    // An index read back from a stream carries no hashes: they are rebuilt.
    AttrDict back;
    RoundTripThroughStream(dict, back);
    if (::testing::Test::HasFatalFailure())
        return;
    EXPECT_TRUE(back.HasIndex());
    expectAll(back, 3, "read back");
}

TEST(PackedDictionary, AbsentKeyWhoseHomeChainHoldsOtherHashesComparesNothing)
{
    AttrDict dict;
    AppendLongs(dict, 8);
    dict._Find("key0");  // builds the index: 11 cells
    std::vector<unsigned long long> hashes;
    for (int k = 0; k < 8; ++k) {
        std::string present = KeyName(k);
        hashes.push_back(StPackedDictionaryKey::GetHashCode(present.data(), present.size()));
    }
    int checked = 0;
    for (int i = 100; i < 300 && checked == 0; ++i) {
        std::string name = "absent" + std::to_string(i);
        StPackedDictionaryKey key(name.data(), name.size());
        bool occupiedHome = false;
        bool sameHash = false;
        for (unsigned long long h : hashes) {
            occupiedHome = occupiedHome || h % 11 == key.GetHash() % 11;
            sameHash = sameHash || (h & 0xFFFFFFFFu) == (key.GetHash() & 0xFFFFFFFFu);
        }
        if (!occupiedHome || sameHash)
            continue;
        unsigned long long before = dict.GetCompareCount();
        EXPECT_EQ(dict._Find(key), dict.GetCount());
        EXPECT_EQ(dict.GetCompareCount(), before) << name;
        ++checked;
    }
    EXPECT_EQ(checked, 1);
}

TEST(PackedDictionary, DuplicateAppendsFindTheFirst)
{
    AttrDict dict;
    dict.Append("k", VLong(1));
    dict.Append("k", VLong(2));
    EXPECT_EQ(dict.GetCount(), 2u);
    VLong v;
    ASSERT_TRUE(dict.GetValue("k", v));
    EXPECT_EQ(v.GetLong(), 1);
}

// Small dictionaries (no index) pass keys of another hash without reading
// them: the hashes must follow every change of the keys. A model list of
// (name, value) pairs is checked against the dictionary after each step.
TEST(PackedDictionary, SmallDictionariesFindEveryKeyAfterEachChange)
{
    // Two 17-byte names sharing one hash, an empty name, a plain one.
    const std::string twinA = "abcdefghAjklmnopq";
    const std::string twinB = "abcdefghBjklmnopq";
    ASSERT_EQ(StPackedDictionaryKey::GetHashCode(twinA.data(), twinA.size()),
              StPackedDictionaryKey::GetHashCode(twinB.data(), twinB.size()));
    std::vector<std::pair<std::string, int>> model;
    AttrDict dict;
    auto key = [](const std::string& name) { return StPackedDictionaryKey(name.data(), name.size()); };
    auto append = [&](const std::string& name, int value) {
        ASSERT_TRUE(dict.Append(key(name), VLong(value)));
        model.emplace_back(name, value);
    };
    auto remove = [&](size_t at) {
        dict.Clear(key(model[at].first));
        model.erase(model.begin() + static_cast<std::ptrdiff_t>(at));
    };
    auto check = [&](const AttrDict& d, const std::string& step) {
        ASSERT_EQ(d.GetCount(), model.size()) << step;
        EXPECT_FALSE(d.HasIndex()) << step;
        for (size_t i = 0; i < model.size(); ++i) {
            VLong value(-1);
            EXPECT_EQ(d._Find(key(model[i].first)), i) << step << ": '" << model[i].first << "'";
            EXPECT_TRUE(d.GetValue(key(model[i].first), value)) << step << ": '" << model[i].first << "'";
            EXPECT_EQ(value.GetLong(), model[i].second) << step << ": '" << model[i].first << "'";
        }
        for (const std::string& name : {twinA, twinB, std::string(), std::string("plain"), std::string("absent")}) {
            bool inModel = false;
            for (const auto& entry : model)
                inModel = inModel || entry.first == name;
            if (!inModel) {
                EXPECT_EQ(d._Find(key(name)), d.GetCount()) << step << ": absent '" << name << "'";
            }
        }
        // A refused name is empty too, but never finds the empty name.
        EXPECT_EQ(d._Find(StPackedDictionaryKey::Unstorable()), d.GetCount()) << step;
    };

    append(twinA, 1);
    check(dict, "one twin");
    append(twinB, 2);
    append("", 3);
    append("plain", 4);
    check(dict, "appended");
    remove(0);
    check(dict, "first twin removed");
    remove(1);
    check(dict, "middle removed");
    append(twinA, 5);
    append("", 6);
    check(dict, "appended again");

    AttrDict copy;
    copy = dict;
    check(copy, "copy");
    AttrDict back;
    RoundTripThroughStream(dict, back);
    if (::testing::Test::HasFatalFailure())
        return;
    check(back, "read back");

    dict.ClearAll();
    model.clear();
    check(dict, "emptied");
    append("plain", 7);
    check(dict, "refilled");
}

TEST(PackedDictionary, NullListsAreRefused)
{
    VPackedDictionary<VPackedValue_VBagArray> elements;
    EXPECT_FALSE(elements.SetValue("x", nullptr));
    EXPECT_EQ(elements.GetCount(), 0u);
}

}  // namespace qelt
