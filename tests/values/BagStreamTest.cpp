#include <gtest/gtest.h>

#include "TestSupport.h"

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "files/VConstPtrStream.h"
#include "files/VPtrStream.h"
#include "kernel/VLong.h"
#include "kernel/VString.h"
#include "runtime/VErrorContext.h"
#include "values/VBagArray.h"
#include "values/VBagStreamIO.h"
#include "values/VValueBag.h"

namespace qelt {

namespace {

using Bytes = std::vector<unsigned char>;

Bytes WriteBag(const VValueBag& bag, bool swap = false)
{
    VPtrStream stream;
    stream.SetNeedSwap(swap);
    stream.OpenWriting();
    EXPECT_EQ(bag.WriteToStream(&stream), VE_OK);
    stream.CloseWriting();
    const unsigned char* p = static_cast<const unsigned char*>(stream.GetDataPtr());
    return Bytes(p, p + stream.GetDataSize());
}

VError ReadBag(VValueBag& bag, const Bytes& bytes, bool swap = false)
{
    VConstPtrStream stream(bytes.data(), bytes.size());
    stream.SetNeedSwap(swap);
    stream.OpenReading();
    VError err = bag.ReadFromStream(&stream);
    stream.CloseReading();
    return err;
}

std::string Narrow(const VString& s)
{
    std::string out;
    for (int i = 0; i < s.GetLength(); ++i)
        out.push_back(static_cast<char>(s.GetCPointer()[i]));
    return out;
}

// A bag with every usual shape: attributes of several kinds, an indexed
// attribute dictionary, children under two names, a grandchild.
VValueBag* MakeSample()
{
    VValueBag* bag = new VValueBag();
    for (int i = 0; i < 8; ++i) {
        std::string name = "attr" + std::to_string(i);
        bag->SetAttribute(StPackedDictionaryKey(name.data(), name.size()), VLong(i * 10));
    }
    bag->SetAttribute("text", VString("h\xC3\xA9llo"));
    for (int i = 0; i < 3; ++i) {
        VValueBag* child = new VValueBag();
        child->SetAttribute("id", VLong(i));
        if (i == 1) {
            VValueBag* grandChild = new VValueBag();
            grandChild->SetAttribute("deep", VString("yes"));
            child->AddElement("g", grandChild);
            grandChild->Release();
        }
        bag->AddElement(i == 2 ? "other" : "item", child);
        child->Release();
    }
    return bag;
}

void ExpectSampleContent(const VValueBag& bag)
{
    ASSERT_EQ(bag.GetAttributesCount(), 9);
    for (int i = 0; i < 8; ++i) {
        std::string name = "attr" + std::to_string(i);
        VLong v;
        ASSERT_TRUE(bag.GetAttribute(StPackedDictionaryKey(name.data(), name.size()), v));
        EXPECT_EQ(v.GetLong(), i * 10);
    }
    VString text;
    ASSERT_TRUE(bag.GetAttribute("text", text));
    EXPECT_EQ(text.GetLength(), 5);
    ASSERT_NE(bag.GetElements("item"), nullptr);
    EXPECT_EQ(bag.GetElements("item")->GetCount(), 2);
    ASSERT_NE(bag.GetElements("other"), nullptr);
    VValueBag* child = bag.GetElements("item")->RetainNth(2);
    VValueBag* grandChild = child->GetElements("g")->RetainNth(1);
    VString deep;
    EXPECT_TRUE(grandChild->GetAttribute("deep", deep));
    EXPECT_EQ(Narrow(deep), "yes");
    grandChild->Release();
    child->Release();
}

}  // namespace

TEST(BagStream, EmptyBagBytes)
{
    VValueBag* bag = new VValueBag();
    EXPECT_EQ(WriteBag(*bag), (Bytes{0x47, 0x41, 0x42, 0x56, 0x01, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(WriteBag(*bag, true), (Bytes{0x56, 0x42, 0x41, 0x47, 0x00, 0x01, 0x00, 0x00, 0x00}));
    bag->Release();
}

TEST(BagStream, OneLongAttributeBytes)
{
    VValueBag* bag = new VValueBag();
    bag->SetAttribute("a", VLong(5));
    Bytes expected{0x47, 0x41, 0x42, 0x56, 0x01, 0x00, 0x00, 0x00,  // header
                   0x01,                                            // flags
                   0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,  // key count, key bytes size
                   0x01, 0x61, 0x00,                                // "a", no index
                   0x03, 0x00, 0x00, 0x00,                          // backstore units
                   0x04, 0x00, 0x05, 0x00, 0x00, 0x00};
    EXPECT_EQ(WriteBag(*bag), expected);
    bag->Release();
}

TEST(BagStream, ChildrenAndIndexLayout)
{
    VRefPtr<VValueBag> bag = AdoptRef(new VValueBag());
    VValueBag* a = new VValueBag();
    VValueBag* b = new VValueBag();
    bag->AddElement("e", a);
    bag->AddElement("e", b);
    Bytes bytes = WriteBag(*bag);
    Bytes expected{0x47, 0x41, 0x42, 0x56, 0x01, 0x00, 0x00, 0x00, 0x02, 0x01, 0x00, 0x00, 0x00,
                   0x02, 0x00, 0x00, 0x00, 0x01, 0x65, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(bytes, expected);
    a->Release();
    b->Release();

    // Six attributes write an index of 11 cells; five write none.
    bag->Destroy();
    for (int i = 0; i < 5; ++i) {
        std::string name(1, static_cast<char>('a' + i));
        bag->SetAttribute(StPackedDictionaryKey(name.data(), 1), VLong(i));
    }
    bytes = WriteBag(*bag);
    EXPECT_EQ(bytes[9 + 8 + 10], 0);  // index flag after 5 two-byte keys
    bag->SetAttribute("f", VLong(5));
    bytes = WriteBag(*bag);
    size_t flagAt = 9 + 8 + 12;
    ASSERT_GT(bytes.size(), flagAt + 5);
    EXPECT_EQ(bytes[flagAt], 1);
    EXPECT_EQ(bytes[flagAt + 1], 11);
    VRefPtr<VValueBag> back = AdoptRef(new VValueBag());
    ASSERT_EQ(ReadBag(*back, bytes), VE_OK);
    EXPECT_EQ(back->GetAttributesDictionary().GetIndexCellCount(), 11u);
    VLong v;
    ASSERT_TRUE(back->GetAttribute("e", v));
    EXPECT_EQ(v.GetLong(), 4);
}

TEST(BagStream, RoundTripInBothByteOrders)
{
    VValueBag* bag = MakeSample();
    for (bool swap : {false, true}) {
        Bytes before = WriteBag(*bag);
        Bytes bytes = WriteBag(*bag, swap);
        EXPECT_EQ(WriteBag(*bag), before);  // writing swapped leaves the bag unchanged
        VRefPtr<VValueBag> back = AdoptRef(new VValueBag());
        ASSERT_EQ(ReadBag(*back, bytes, swap), VE_OK);
        ExpectSampleContent(*back);
        EXPECT_EQ(WriteBag(*back), before);
    }
    bag->Release();
}

TEST(BagStream, SwappedStringRecordIsBigEndian)
{
    VRefPtr<VValueBag> bag = AdoptRef(new VValueBag());
    bag->SetAttribute("s", VString("abc"));
    Bytes bytes = WriteBag(*bag, true);
    // Record: kind 10, length 3, then the units, all big-endian.
    Bytes record(bytes.end() - 12, bytes.end());
    EXPECT_EQ(record, (Bytes{0x00, 0x0A, 0x00, 0x00, 0x00, 0x03, 0x00, 'a', 0x00, 'b', 0x00, 'c'}));
    VString s;
    ASSERT_TRUE(bag->GetAttribute("s", s));
    EXPECT_EQ(Narrow(s), "abc");
}

TEST(BagStream, WriterPacksChangedValuesFirst)
{
    VRefPtr<VValueBag> bag = AdoptRef(new VValueBag());
    bag->SetAttribute("s", VString("ab"));
    bag->SetAttribute("n", VLong(1));
    bag->SetAttribute("s", VString("abcdef"));
    VRefPtr<VValueBag> back = AdoptRef(new VValueBag());
    ASSERT_EQ(ReadBag(*back, WriteBag(*bag)), VE_OK);
    VString s;
    ASSERT_TRUE(back->GetAttribute("s", s));
    EXPECT_EQ(Narrow(s), "abcdef");
    VLong n;
    ASSERT_TRUE(back->GetAttribute("n", n));
    EXPECT_EQ(n.GetLong(), 1);
}

TEST(BagStream, BadTagAndVersion)
{
    VValueBag* bag = new VValueBag();
    bag->SetAttribute("x", VLong(1));
    Bytes badTag{'X', 'B', 'A', 'G', 0x01, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(ReadBag(*bag, badTag), QeltError(207));
    EXPECT_TRUE(bag->IsEmpty());
    Bytes version2{0x47, 0x41, 0x42, 0x56, 0x02, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(ReadBag(*bag, version2), QeltError(212));
    EXPECT_TRUE(bag->IsEmpty());
    bag->Release();
}

TEST(BagStream, DamagedCountsAreRefused)
{
    const unsigned char header[] = {0x47, 0x41, 0x42, 0x56, 0x01, 0x00, 0x00, 0x00};
    auto stream = [&](Bytes body) {
        Bytes all(8 + body.size());
        std::copy(header, header + 8, all.begin());
        std::copy(body.begin(), body.end(), all.begin() + 8);
        return all;
    };
    const Bytes cases[] = {
        // key count larger than the key bytes
        stream({0x01, 0xFF, 0xFF, 0xFF, 0x7F, 0x02, 0x00, 0x00, 0x00, 0x01, 0x61, 0x00}),
        // a key length running past the key bytes
        stream({0x01, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x05, 0x61, 0x00}),
        // a huge key bytes size with little data
        stream({0x01, 0x01, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x61}),
        // a huge backstore size
        stream({0x01, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x61, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}),
        // a record longer than the backstore (a long needs 3 units)
        stream({0x01, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x61, 0x00, 0x02, 0x00, 0x00, 0x00,
                0x04, 0x00, 0x05, 0x00}),
        // a string record with a negative length
        stream({0x01, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x61, 0x00, 0x03, 0x00, 0x00, 0x00,
                0x0A, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}),
        // unused units after the records
        stream({0x01, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x61, 0x00, 0x04, 0x00, 0x00, 0x00,
                0x04, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00}),
        // a huge index cell count
        stream({0x01, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x61, 0x01, 0xFF, 0xFF, 0xFF, 0x7F}),
        // unknown flag bits
        stream({0x04}),
        // a child count far beyond the data
        stream({0x02, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x65, 0x00, 0xFF, 0xFF, 0xFF, 0xFF,
                0x00}),
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
        VValueBag* bag = new VValueBag();
        EXPECT_NE(ReadBag(*bag, cases[i]), VE_OK) << "case " << i;
        bag->Release();
    }
}

TEST(BagStream, DamagedIndexIsReplaced)
{
    VValueBag* bag = MakeSample();
    Bytes bytes = WriteBag(*bag);
    // The attribute index follows the 9 attribute keys; point every cell at a
    // slot that does not exist or empty them all.
    const auto& dict = bag->GetAttributesDictionary();
    size_t flagAt = 9 + 8 + static_cast<size_t>(dict.GetKeyBytesSize());
    ASSERT_EQ(bytes[flagAt], 1);
    unsigned int cells = bytes[flagAt + 1] | (bytes[flagAt + 2] << 8);
    for (unsigned char fill : {0x00, 0xFF}) {
        Bytes damaged = bytes;
        for (unsigned int c = 0; c < cells; ++c) {
            for (int b = 0; b < 4; ++b)
                damaged[flagAt + 5 + c * 4 + b] = fill == 0 ? (b == 0 ? 200 : 0) : 0xFF;
        }
        VRefPtr<VValueBag> back = AdoptRef(new VValueBag());
        ASSERT_EQ(ReadBag(*back, damaged), VE_OK);
        ExpectSampleContent(*back);
    }
    bag->Release();
}

TEST(BagStream, TruncatedAndRandomInputNeverCrashes)
{
    VValueBag* bag = MakeSample();
    Bytes bytes = WriteBag(*bag);
    for (size_t cut = 0; cut < bytes.size(); ++cut) {
        Bytes part(bytes.begin(), bytes.begin() + cut);
        VValueBag* back = new VValueBag();
        EXPECT_NE(ReadBag(*back, part), VE_OK) << cut;
        back->Release();
    }
    std::mt19937 random(1234);
    for (int round = 0; round < 2000; ++round) {
        Bytes damaged = bytes;
        int flips = 1 + static_cast<int>(random() % 4);
        for (int f = 0; f < flips; ++f)
            damaged[8 + random() % (damaged.size() - 8)] = static_cast<unsigned char>(random());
        VRefPtr<VValueBag> back = AdoptRef(new VValueBag());
        if (ReadBag(*back, damaged) == VE_OK) {
            // What was accepted is a whole bag: it writes and reads back.
            VRefPtr<VValueBag> again = AdoptRef(new VValueBag());
            EXPECT_EQ(ReadBag(*again, WriteBag(*back)), VE_OK) << round;
        }
    }
    bag->Release();
}

TEST(BagStream, DeepNestingIsRefused)
{
    Bytes bytes{0x47, 0x41, 0x42, 0x56, 0x01, 0x00, 0x00, 0x00};
    const Bytes level{0x02, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x65, 0x00, 0x01, 0x00, 0x00, 0x00};
    for (int i = 0; i < 5000; ++i)
        bytes.insert(bytes.end(), level.begin(), level.end());
    bytes.push_back(0x00);
    VValueBag* bag = new VValueBag();
    EXPECT_NE(ReadBag(*bag, bytes), VE_OK);
    bag->Release();
}

// Bags nest 256 levels deep (the outer bag counts as one); the 257th is
// refused as bad bag data.
TEST(BagStream, NestingLimitIsTwoHundredFiftySixLevels)
{
    const Bytes level{0x02, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x65, 0x00, 0x01, 0x00, 0x00, 0x00};
    for (int levels : {256, 257}) {
        Bytes bytes{0x47, 0x41, 0x42, 0x56, 0x01, 0x00, 0x00, 0x00};
        for (int i = 1; i < levels; ++i)
            bytes.insert(bytes.end(), level.begin(), level.end());
        bytes.push_back(0x00);
        VRefPtr<VValueBag> bag = AdoptRef(new VValueBag());
        test::StStartedProcess process;
        ASSERT_TRUE(process.IsStarted());
        StErrorContextInstaller errors(true, true);
        VError err = ReadBag(*bag, bytes);
        SCOPED_TRACE(levels);
        if (levels == 256) {
            EXPECT_EQ(err, VE_OK);
            VValueBag::StKeyPath path(255, StPackedDictionaryKey("e"));
            EXPECT_NE(bag->GetUniqueElementByPath(path), nullptr);
        } else {
            EXPECT_EQ(err, bagio::kBadBagData);
            EXPECT_EQ(errors.GetLastError(), bagio::kBadBagData);
        }
    }
}

TEST(BagStream, RecordOfAnUnknownKindIsItsKindWordAlone)
{
    Bytes bytes{0x47, 0x41, 0x42, 0x56, 0x01, 0x00, 0x00, 0x00, 0x01,  // header, flags
                0x02, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00,        // 2 keys, 4 key bytes
                0x01, 'u', 0x01, 'n', 0x00,                            // "u", "n", no index
                0x04, 0x00, 0x00, 0x00,                                // 4 units
                0x07, 0x00,                                            // kind 7: not registered
                0x04, 0x00, 0x05, 0x00, 0x00, 0x00};                   // the long 5
    VRefPtr<VValueBag> bag = AdoptRef(new VValueBag());
    ASSERT_EQ(ReadBag(*bag, bytes), VE_OK);
    VLong dest(42);
    EXPECT_TRUE(bag->GetAttribute("u", dest));
    EXPECT_EQ(dest.GetLong(), 42);
    EXPECT_EQ(bag->GetNthAttribute(1, nullptr), nullptr);
    ASSERT_TRUE(bag->GetAttribute("n", dest));
    EXPECT_EQ(dest.GetLong(), 5);
    EXPECT_EQ(WriteBag(*bag), bytes);
}

TEST(BagStream, NestingWithinTheLimitRoundTrips)
{
    VValueBag* root = new VValueBag();
    VValueBag* current = root;
    for (int i = 0; i < 200; ++i) {
        VValueBag* child = new VValueBag();
        current->AddElement("n", child);
        child->Release();
        current = child;
    }
    current->SetAttribute("leaf", VLong(1));
    VRefPtr<VValueBag> back = AdoptRef(new VValueBag());
    ASSERT_EQ(ReadBag(*back, WriteBag(*root)), VE_OK);
    VValueBag::StKeyPath path(200, StPackedDictionaryKey("n"));
    const VValueBag* walk = back->GetUniqueElementByPath(path);
    ASSERT_NE(walk, nullptr);
    VLong leaf;
    EXPECT_TRUE(walk->GetAttribute("leaf", leaf));
    root->Release();
}

TEST(BagStream, CollidingKeysDoNotMakeReadingQuadratic)
{
    // 30,000 attributes all named "a": building the index would probe
    // 450 million cells; the reader gives up the index instead.
    const unsigned int n = 30000;
    auto put32 = [](Bytes& b, unsigned int v) {
        for (int i = 0; i < 4; ++i)
            b.push_back(static_cast<unsigned char>(v >> (8 * i)));
    };
    Bytes bytes{0x47, 0x41, 0x42, 0x56, 0x01, 0x00, 0x00, 0x00, 0x01};
    put32(bytes, n);
    put32(bytes, 2 * n);
    for (unsigned int i = 0; i < n; ++i) {
        bytes.push_back(1);
        bytes.push_back('a');
    }
    bytes.push_back(0);
    put32(bytes, 3 * n);
    for (unsigned int i = 0; i < n; ++i) {
        bytes.insert(bytes.end(), {0x04, 0x00});
        put32(bytes, i);
    }
    VRefPtr<VValueBag> bag = AdoptRef(new VValueBag());
    ASSERT_EQ(ReadBag(*bag, bytes), VE_OK);
    EXPECT_EQ(bag->GetAttributesCount(), static_cast<int>(n));
    VLong v;
    ASSERT_TRUE(bag->GetAttribute("a", v));
    EXPECT_EQ(v.GetLong(), 0);
    EXPECT_FALSE(bag->GetAttributesDictionary().HasIndex());
}

TEST(BagStream, BagTravelsAsAValueOfKind200)
{
    VValueBag* bag = MakeSample();
    VPtrStream out;
    out.OpenWriting();
    out.PutValue(*bag, true);
    out.CloseWriting();
    VConstPtrStream in(out.GetDataPtr(), out.GetDataSize());
    in.OpenReading();
    VValue* value = in.GetValue();
    in.CloseReading();
    ASSERT_NE(value, nullptr);
    VValueBag* back = dynamic_cast<VValueBag*>(value);
    ASSERT_NE(back, nullptr);
    ExpectSampleContent(*back);
    back->Release();
    bag->Release();
}

// The stream and XML forms have no null: a null attribute is written as its
// kind's plain value (a null string exactly as an empty one) and reads back
// not null.
TEST(BagStream, NullValuesKeepTheLayoutOfPlainValues)
{
    VValueBag* nulls = new VValueBag();
    VValueBag* plain = new VValueBag();
    VLong nullLong(7);
    nullLong.SetNull(true);
    nulls->SetAttribute("e", VString(true));
    nulls->SetAttribute("n", nullLong);
    plain->SetAttribute("e", VString(""));
    plain->SetAttribute("n", VLong(7));
    const Bytes bytes = WriteBag(*nulls);
    EXPECT_EQ(bytes, WriteBag(*plain));
    EXPECT_EQ(WriteBag(*nulls, true), WriteBag(*plain, true));
    VString nullsXML;
    VString plainXML;
    nulls->DumpXML(nullsXML, VString("b"), false);
    plain->DumpXML(plainXML, VString("b"), false);
    EXPECT_TRUE(nullsXML.EqualToStringRaw(plainXML));

    VValueBag* read = new VValueBag();
    ASSERT_EQ(ReadBag(*read, bytes), VE_OK);
    VString e("x");
    ASSERT_TRUE(read->GetAttribute("e", e));
    EXPECT_FALSE(e.IsNull());
    EXPECT_TRUE(e.IsEmpty());
    VLong n;
    ASSERT_TRUE(read->GetAttribute("n", n));
    EXPECT_FALSE(n.IsNull());
    EXPECT_EQ(n.GetLong(), 7);
    read->Release();
    nulls->Release();
    plain->Release();
}

}  // namespace qelt
