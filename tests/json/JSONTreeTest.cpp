// How an imported tree and an object's own properties are kept: a tree an
// import makes stays out of any graph until a change links it, its parts
// live as long as someone holds them, cycles made later are still freed,
// and properties keep their insertion order in small and large objects.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "json/json.h"
#include "kernel/VCompareOptions.h"
#include "kernel/VString.h"

namespace qelt {
namespace {

// Counts the destruction of the objects made by NewTreeCounted (their
// implementation is released last when the object goes).
int gTreeCountedDestroyed = 0;

class TreeCountingImplementation : public VObject, public IJSONObject {
public:
    ~TreeCountingImplementation() override { ++gTreeCountedDestroyed; }
};

VJSONObject* NewTreeCounted()
{
    TreeCountingImplementation* implementation = new TreeCountingImplementation();
    VJSONObject* object = new VJSONObject(nullptr, implementation, static_cast<VStorageLocker*>(nullptr));
    implementation->Release();
    return object;
}

VJSONValue ImportTree(const char* inText)
{
    VJSONValue value(JSON_undefined);
    EXPECT_EQ(VJSONImporter::ParseString(VString(inText), value, 0), VE_OK) << inText;
    return value;
}

std::string TextOf(const VJSONValue& inValue)
{
    VString text;
    EXPECT_EQ(inValue.Stringify(text, 0x1), VE_OK);
    return test::ToStd(text);
}

std::vector<std::string> OrderOf(const VJSONObject* inObject)
{
    std::vector<std::string> names;
    for (VJSONPropertyConstOrderedIterator it(inObject, kJSONIterOwnOnly); it.IsValid(); ++it) {
        names.push_back(test::ToStd(it.GetName()));
    }
    return names;
}

// The text of an array of inCount pairs [i,i+1]: its tree takes more memory
// than a thread keeps of the blocks it lets go.
std::string PairsText(int inCount)
{
    std::string text = "[";
    for (int i = 0; i < inCount; ++i)
        text.append(i == 0 ? "[" : ",[").append(std::to_string(i)).append(",").append(std::to_string(i + 1)).append("]");
    text.append("]");
    return text;
}

// Built by appending, which the optimised build's string checks accept.
std::string PairText(int inFirst)
{
    std::string text("[");
    text.append(std::to_string(inFirst)).append(",").append(std::to_string(inFirst + 1)).append("]");
    return text;
}

class JSONTreeTest : public ::testing::Test {
protected:
    void SetUp() override { gTreeCountedDestroyed = 0; }
};

constexpr const char* kTreeText = R"({"a":{"b":{"c":1},"list":[1,{"e":2},[3]]},"d":[{"f":"g"}],"n":null})";

TEST_F(JSONTreeTest, AnImportedTreeJoinsNoGraphUntilAChangeLinksIt)
{
    VJSONValue root = ImportTree(kTreeText);
    ASSERT_TRUE(root.IsObject());
    VJSONValue a = root.GetObject()->GetProperty(VString("a"));
    EXPECT_EQ(root.GetObject()->GetGraph(), nullptr);
    EXPECT_EQ(a.GetObject()->GetGraph(), nullptr);

    // Linking a new object into the inner object counts the links of the
    // whole tree under it, as storing them one by one would have.
    a.GetObject()->SetProperty(VString("x"), VJSONValue(JSON_object));
    VJSONGraph* graph = a.GetObject()->GetGraph();
    ASSERT_NE(graph, nullptr);
    // a -> b, a -> list, list -> {"e"}, list -> [3], a -> x
    EXPECT_EQ(graph->GetInternalReferences(), 5);
    EXPECT_FALSE(graph->HasCycle());
    EXPECT_EQ(a.GetObject()->GetInternalCount(), 0);  // held from the unlinked root only
    // The root's link to a lies outside the graph until the root is linked.
    EXPECT_EQ(root.GetObject()->GetGraph(), nullptr);
    root.GetObject()->SetProperty(VString("y"), VJSONValue(JSON_array));
    EXPECT_EQ(root.GetObject()->GetGraph(), a.GetObject()->GetGraph());
    EXPECT_EQ(a.GetObject()->GetInternalCount(), 1);
    EXPECT_EQ(TextOf(root),
              R"({"a":{"b":{"c":1},"list":[1,{"e":2},[3]],"x":{}},"d":[{"f":"g"}],"n":null,"y":[]})");
}

TEST_F(JSONTreeTest, ARetainedInnerContainerOutlivesItsTree)
{
    struct Case {
        const char* fPath;
        const char* fText;
    };
    const Case cases[] = {
        {"a", R"({"b":{"c":1},"list":[1,{"e":2},[3]]})"},
        {"a.list", R"([1,{"e":2},[3]])"},
        {"d[0]", R"({"f":"g"})"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fPath);
        VJSONValue inner;
        {
            VJSONValue root = ImportTree(kTreeText);
            inner = root.GetObject()->GetPropertyWithPath(VString(c.fPath));
            ASSERT_TRUE(inner.IsObject() || inner.IsArray());
        }
        // The tree is gone; what was taken out of it still reads whole.
        EXPECT_EQ(TextOf(inner), c.fText);
        // It can still be changed and linked on its own.
        if (VJSONObject* object = inner.GetObject())
            object->SetProperty(VString("again"), VJSONValue(JSON_object));
        else
            inner.GetArray()->Push(VJSONValue(JSON_object));
    }
}

TEST_F(JSONTreeTest, ContainersTakenFromAcrossALargeImportOutliveItAndOneAnother)
{
    // The containers of one import share blocks of memory: taken from the
    // first, a middle and the last part of a large tree, each still reads
    // whole once the tree and the containers let go before it are gone
    // (AddressSanitizer reports a read of what was freed).
    constexpr int kCount = 6000;
    std::string text = "[";
    for (int i = 0; i < kCount; ++i) {
        if (i > 0)
            text += ",";
        text += R"({"i":)" + std::to_string(i) + R"(,"list":[)" + std::to_string(i) + R"(,{"deep":[]}]})";
    }
    text += "]";
    std::vector<VJSONValue> taken;
    {
        VJSONValue root = ImportTree(text.c_str());
        ASSERT_TRUE(root.IsArray());
        ASSERT_EQ(root.GetArray()->GetCount(), static_cast<size_t>(kCount));
        for (int i : {0, kCount / 2, kCount - 1}) {
            taken.push_back(root.GetArray()->GetAt(static_cast<size_t>(i)));
            taken.push_back(taken.back().GetObject()->GetProperty(VString("list")));
        }
    }
    const int indexes[] = {0, kCount / 2, kCount - 1};
    auto expected = [&](size_t inTaken) {
        const std::string i = std::to_string(indexes[inTaken / 2]);
        const std::string list = "[" + i + R"(,{"deep":[]}])";
        return inTaken % 2 == 0 ? R"({"i":)" + i + R"(,"list":)" + list + "}" : list;
    };
    // Let go of them one by one, the objects before the lists they hold.
    for (size_t gone = 0; gone < taken.size(); ++gone) {
        for (size_t k = gone; k < taken.size(); ++k) {
            SCOPED_TRACE(k);
            EXPECT_EQ(TextOf(taken[k]), expected(k));
        }
        // A container made outside the import goes into one made by it.
        if (VJSONArray* list = taken[gone].GetArray())
            list->Push(VJSONValue(JSON_object));
        taken[gone] = VJSONValue(JSON_null);
    }
}

TEST_F(JSONTreeTest, ContainersDroppedWhileTheImportRunsLeaveTheirNeighboursWhole)
{
    // A name given twice drops the container read first while the import
    // still carves from the memory it shares with its neighbours. Whether
    // the dropped one comes first, last or alone in its stretch of memory,
    // the containers kept must read whole after the tree is gone, and all
    // memory must be given back once they go (AddressSanitizer reports a
    // read of what was freed, LeakSanitizer memory never given back).
    struct Case {
        const char* fName;
        const char* fRepeated;  // one item of the top array
        const char* fKept;      // the text of the item's "k" once read
    };
    const Case cases[] = {
        {"object replaced by an object", R"({"k":{"x":[1,2]},"k":{"y":[3]}})", R"({"y":[3]})"},
        {"array replaced by a number", R"({"k":[[1],{"z":0}],"k":7})", "7"},
        {"kept before dropped", R"({"k":{"x":1},"d":[{"a":[]}],"d":null})", R"({"x":1})"},
        {"every container dropped", R"({"k":[],"k":{},"k":"s"})", R"("s")"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fName);
        // Enough items to fill several blocks of the import's memory.
        constexpr int kCount = 3000;
        std::string text = "[";
        for (int i = 0; i < kCount; ++i)
            text.append(i == 0 ? "" : ",").append(c.fRepeated);
        text += "]";
        std::vector<VJSONValue> kept;
        {
            VJSONValue root = ImportTree(text.c_str());
            ASSERT_TRUE(root.IsArray());
            ASSERT_EQ(root.GetArray()->GetCount(), static_cast<size_t>(kCount));
            for (int i : {0, 1, kCount / 2, kCount - 1})
                kept.push_back(root.GetArray()->GetAt(static_cast<size_t>(i)));
            EXPECT_EQ(TextOf(root.GetArray()->GetAt(kCount - 1).GetObject()->GetProperty(VString("k"))), c.fKept);
        }
        for (const VJSONValue& item : kept)
            EXPECT_EQ(TextOf(item.GetObject()->GetProperty(VString("k"))), c.fKept);
    }
}

TEST_F(JSONTreeTest, BlocksLetGoAreKeptByTheThreadAndReusedByItsNextImport)
{
    // On a thread of its own, which keeps nothing at first and gives back
    // what it keeps when it ends (LeakSanitizer checks that).
    std::thread([] {
        EXPECT_EQ(VJSONRegion::_KeptBytes(), 0u);
        constexpr int kCount = 40000;
        const std::string text = PairsText(kCount);
        std::string whole;
        VJSONValue pair;
        {
            VJSONValue root = ImportTree(text.c_str());
            ASSERT_TRUE(root.IsArray());
            whole = TextOf(root);
            pair = root.GetArray()->GetAt(kCount / 2);
        }
        // The tree is gone but for one pair: the thread keeps as many of its
        // blocks as it may.
        const size_t kept = VJSONRegion::_KeptBytes();
        EXPECT_GT(kept, VJSONRegion::kMostKeptBytes / 2);
        EXPECT_LE(kept, VJSONRegion::kMostKeptBytes);
        {
            // The next import takes them all again; what it makes, and the
            // pair kept from the first import, read whole.
            VJSONValue again = ImportTree(text.c_str());
            EXPECT_EQ(VJSONRegion::_KeptBytes(), 0u);
            EXPECT_EQ(TextOf(again), whole);
            EXPECT_EQ(TextOf(pair), PairText(kCount / 2));
        }
        pair = VJSONValue(JSON_null);
        EXPECT_GT(VJSONRegion::_KeptBytes(), 0u);
        EXPECT_LE(VJSONRegion::_KeptBytes(), VJSONRegion::kMostKeptBytes);
        // A small import reuses a kept block.
        const size_t before = VJSONRegion::_KeptBytes();
        VJSONValue small = ImportTree("[[1,2]]");
        EXPECT_LT(VJSONRegion::_KeptBytes(), before);
        EXPECT_EQ(TextOf(small), "[[1,2]]");
    }).join();
}

TEST_F(JSONTreeTest, ATreeLetGoOnAnotherThreadWhileItsImporterGoesOnKeepsWhatIsHeld)
{
    // One thread imports and hands the tree to another, which lets it go
    // while the first imports again; containers taken from the tree before
    // it went read whole on either thread until they go too.
    constexpr int kCount = 20000;
    const std::string text = PairsText(kCount);
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        VJSONValue root = ImportTree(text.c_str());
        ASSERT_TRUE(root.IsArray());
        std::vector<VJSONValue> taken;
        for (int i : {0, kCount / 2, kCount - 1})
            taken.push_back(root.GetArray()->GetAt(static_cast<size_t>(i)));
        VJSONValue takenThere = root.GetArray()->GetAt(kCount / 3);
        size_t keptThere = 0;
        std::thread other([&root, &takenThere, &keptThere, &text] {
            root = VJSONValue(JSON_null);
            EXPECT_EQ(TextOf(takenThere), PairText(kCount / 3));
            takenThere = VJSONValue(JSON_null);
            keptThere = VJSONRegion::_KeptBytes();
            // This thread's own import starts from the blocks it kept.
            VJSONValue own = ImportTree(text.c_str());
            EXPECT_EQ(TextOf(own.GetArray()->GetAt(7)), PairText(7));
        });
        VJSONValue meanwhile = ImportTree(text.c_str());
        EXPECT_EQ(TextOf(meanwhile.GetArray()->GetAt(kCount - 1)), PairText(kCount - 1));
        other.join();
        EXPECT_GT(keptThere, 0u);
        const int indexes[] = {0, kCount / 2, kCount - 1};
        for (size_t k = 0; k < taken.size(); ++k)
            EXPECT_EQ(TextOf(taken[k]), PairText(indexes[k]));
    }
}

TEST_F(JSONTreeTest, ContainersOfOneImportLetGoOnTwoThreadsAtOnceAreEachFreedOnce)
{
    // Every other pair goes to each thread, so that both let go of
    // containers of the same blocks at the same time, each counting its
    // frees down at the end of its teardown: a block freed twice or never
    // is reported by AddressSanitizer or LeakSanitizer.
    constexpr int kCount = 20000;
    const std::string text = PairsText(kCount);
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        VJSONValue lists[2] = {VJSONValue(JSON_array), VJSONValue(JSON_array)};
        {
            VJSONValue root = ImportTree(text.c_str());
            ASSERT_TRUE(root.IsArray());
            std::vector<VJSONValue> values;
            root.GetArray()->GetValues(values);
            std::vector<VJSONValue> halves[2];
            for (size_t i = 0; i < values.size(); ++i)
                halves[i % 2].push_back(values[i]);
            for (int k = 0; k < 2; ++k)
                lists[k].GetArray()->SwapValues(halves[k]);
        }
        std::thread threads[2];
        for (int k = 0; k < 2; ++k) {
            threads[k] = std::thread([&lists, k] {
                EXPECT_EQ(TextOf(lists[k].GetArray()->GetAt(1)), PairText(2 + k));
                lists[k] = VJSONValue(JSON_null);
            });
        }
        for (std::thread& thread : threads)
            thread.join();
    }
}

TEST_F(JSONTreeTest, ATreeHoldingContainersOfAnotherImportLetsBothGoWhole)
{
    // The teardown of one tree frees containers of two imports in turns;
    // the other import's tree, still held, reads whole afterwards.
    constexpr int kCount = 5000;
    VJSONValue first = ImportTree(PairsText(kCount).c_str());
    VJSONValue second = ImportTree(PairsText(kCount).c_str());
    ASSERT_TRUE(first.IsArray() && second.IsArray());
    const std::string secondText = TextOf(second);
    VJSONValue mixed(JSON_array);
    for (int i = 0; i < kCount; ++i) {
        mixed.GetArray()->Push(first.GetArray()->GetAt(static_cast<size_t>(i)));
        mixed.GetArray()->Push(second.GetArray()->GetAt(static_cast<size_t>(i)));
    }
    first = VJSONValue(JSON_null);
    mixed = VJSONValue(JSON_null);
    EXPECT_EQ(TextOf(second), secondText);
}

TEST_F(JSONTreeTest, ACycleMadeAfterAnImportIsStillFreed)
{
    // Each case closes a cycle through the imported tree with its first
    // linking change, then lets every outside reference go; the two counted
    // objects stored in leaves of the tree tell whether it was freed
    // (LeakSanitizer checks the rest).
    enum Link { kInnerToRoot, kArrayToRoot, kInnerToItself, kRootToItself, kRootReplacesInner, kRootReplacesElement };
    for (Link link : {kInnerToRoot, kArrayToRoot, kInnerToItself, kRootToItself, kRootReplacesInner,
                      kRootReplacesElement}) {
        SCOPED_TRACE(static_cast<int>(link));
        gTreeCountedDestroyed = 0;
        VJSONValue root = ImportTree(kTreeText);
        VJSONValue inner = root.GetObject()->GetProperty(VString("a"));
        VJSONValue list = inner.GetObject()->GetProperty(VString("list"));
        for (const char* leaf : {"a.list[1]", "d[0]"}) {
            VJSONObject* counted = NewTreeCounted();
            root.GetObject()->GetPropertyWithPath(VString(leaf)).GetObject()->SetProperty(VString("counted"),
                                                                                          VJSONValue(counted));
            counted->Release();
        }
        switch (link) {
            case kInnerToRoot:
                inner.GetObject()->SetProperty(VString("root"), root);
                break;
            case kArrayToRoot:
                list.GetArray()->Push(root);
                break;
            case kInnerToItself:
                inner.GetObject()->SetProperty(VString("self"), inner);
                break;
            case kRootToItself:
                root.GetObject()->SetProperty(VString("self"), root);
                break;
            case kRootReplacesInner:
                // The link to the inner object, never counted, goes as the
                // new one is counted.
                root.GetObject()->SetProperty(VString("a"), root);
                break;
            case kRootReplacesElement:
                list.GetArray()->SetAt(2, root);
                break;
        }
        list.SetNull();
        root.SetNull();
        if (link == kInnerToItself) {
            // The inner object's own cycle keeps it while it is held here;
            // the rest of the tree went with the root.
            EXPECT_EQ(gTreeCountedDestroyed, 1);
        }
        inner.SetNull();
        EXPECT_EQ(gTreeCountedDestroyed, 2);
    }
}

TEST_F(JSONTreeTest, AnObjectKeepsInsertionOrderThroughRemovalAndReinsertion)
{
    // Small objects are searched by a scan, large ones through their index:
    // both keep the same order.
    for (size_t extra : {size_t(0), size_t(3), VJSONPropertyTable::kIndexThreshold + 5}) {
        SCOPED_TRACE(extra);
        VJSONValue value(JSON_object);
        VJSONObject* object = value.GetObject();
        std::vector<std::string> expected;
        for (const char* name : {"z", "a", "m"}) {
            object->SetProperty(VString(name), VJSONValue(1.0));
            expected.push_back(name);
        }
        for (size_t i = 0; i < extra; ++i) {
            std::string name("p");
            name.append(std::to_string(i));
            object->SetProperty(VString(name.c_str()), VJSONValue(static_cast<double>(i)));
            expected.push_back(name);
        }
        EXPECT_EQ(OrderOf(object), expected);

        object->RemoveProperty(VString("a"));
        expected.erase(expected.begin() + 1);
        EXPECT_EQ(OrderOf(object), expected);
        EXPECT_FALSE(object->HasOwnProperty(VString("a")));

        object->SetProperty(VString("a"), VJSONValue(2.0));
        expected.push_back("a");
        EXPECT_EQ(OrderOf(object), expected);
        // Setting an existing name again keeps its place.
        object->SetProperty(VString("z"), VJSONValue(3.0));
        EXPECT_EQ(OrderOf(object), expected);
        EXPECT_EQ(object->GetProperty(VString("z")).GetNumber(), 3.0);
        EXPECT_EQ(object->GetProperty(VString("a")).GetNumber(), 2.0);
        // The insertion indexes handed out are 0 to n - 1 in that order.
        VJSONPropertyMap map = object->GetInternalProperties();
        ASSERT_EQ(map.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i)
            EXPECT_EQ(map.at(VString(expected[i].c_str())).second, i) << expected[i];
    }

    // An imported object, with a name the text gives twice (the last wins
    // and keeps the first place).
    VJSONValue imported = ImportTree(R"({"z":1,"a":2,"m":3,"a":4})");
    EXPECT_EQ(TextOf(imported), R"({"z":1,"a":4,"m":3})");
    imported.GetObject()->RemoveProperty(VString("z"));
    imported.GetObject()->SetProperty(VString("z"), VJSONValue(5.0));
    EXPECT_EQ(TextOf(imported), R"({"a":4,"m":3,"z":5})");
}

TEST_F(JSONTreeTest, AnObjectEmptiedAndFilledAgainAcrossTheIndexThresholdFindsEachMember)
{
    // Removing members one by one takes an object from an index down to a
    // scan and to nothing; filling it again takes it back. At every step each
    // member left is found at its value and the order is the insertion order.
    enum Order { kFirstEachTime, kLastEachTime, kMiddleEachTime };
    const size_t total = VJSONPropertyTable::kIndexThreshold + 4;
    for (Order order : {kFirstEachTime, kLastEachTime, kMiddleEachTime}) {
        SCOPED_TRACE(static_cast<int>(order));
        VJSONValue value(JSON_object);
        VJSONObject* object = value.GetObject();
        std::vector<std::string> names;
        auto check = [&] {
            EXPECT_EQ(OrderOf(object), names);
            EXPECT_EQ(object->GetOwnPropertyCount(), names.size());
            for (const std::string& name : names)
                EXPECT_EQ(object->GetProperty(VString(name.c_str())).GetNumber(), std::stod(name.substr(1))) << name;
        };
        // Adds the member "n<number>" of that number.
        auto add = [&](size_t inNumber) {
            std::string name("n");
            name.append(std::to_string(inNumber));
            object->SetProperty(VString(name.c_str()), VJSONValue(static_cast<double>(inNumber)));
            names.push_back(name);
        };
        for (int round = 0; round < 2; ++round) {
            for (size_t i = 0; i < total; ++i)
                add(i + static_cast<size_t>(round) * 100);
            check();
            while (!names.empty()) {
                const size_t at = order == kFirstEachTime  ? 0
                                  : order == kLastEachTime ? names.size() - 1
                                                           : names.size() / 2;
                object->RemoveProperty(VString(names[at].c_str()));
                EXPECT_FALSE(object->HasOwnProperty(VString(names[at].c_str())));
                names.erase(names.begin() + static_cast<std::ptrdiff_t>(at));
                check();
            }
            EXPECT_TRUE(object->IsEmpty());
        }
        // Emptied at once, with an index, then filled again.
        for (size_t i = 0; i < total; ++i)
            add(i + 500);
        object->Clear();
        names.clear();
        check();
        add(7);
        check();
    }
}

TEST(JSONPropertyTableHash, EveryUnitOfANameReachesTheIndexSlot)
{
    // Names that differ in one unit, wherever it stands, must not share the
    // index's slots: otherwise a text of such names (made on purpose, or
    // just numbered keys) turns every look-up into a walk of the table.
    // The slot is the hash's low bits; 12 of them already tell apart the
    // names of a 4096-member object.
    const uint32_t mask = 0xFFF;
    for (int length = 1; length <= 40; ++length) {
        std::u16string base(static_cast<size_t>(length), u'a');
        for (int i = 0; i < length; ++i)
            base[static_cast<size_t>(i)] = static_cast<char16_t>(u'a' + i % 26);
        const uint32_t baseSlot =
            VJSONPropertyTable::Hash(VString(reinterpret_cast<const UniChar*>(base.c_str()))) & mask;
        int sameSlot = 0;
        for (int at = 0; at < length; ++at) {
            for (char16_t unit : {u'0', u'7', u'Z', u'\u00e9'}) {
                std::u16string changed = base;
                changed[static_cast<size_t>(at)] = unit;
                if (changed == base)
                    continue;
                const uint32_t slot =
                    VJSONPropertyTable::Hash(VString(reinterpret_cast<const UniChar*>(changed.c_str()))) & mask;
                if (slot == baseSlot)
                    ++sameSlot;
            }
        }
        // By chance alone about one change in 4096 lands on the same slot.
        EXPECT_LE(sameSlot, 1) << "length " << length;
    }
}

TEST_F(JSONTreeTest, ALargeObjectFindsEveryMemberThroughItsIndex)
{
    // Names that differ only in the middle, or only in their last unit, may
    // share index slots: the index must tell them apart by their text.
    std::vector<std::string> names;
    for (int i = 0; i < 40; ++i) {
        std::string name("abcdefgh-");
        name.append(std::to_string(1000 + i)).append("-ijklmnop");
        names.push_back(name);
    }
    for (int i = 0; i < 40; ++i) {
        std::string name("k");
        name.append(std::to_string(i));
        names.push_back(name);
    }
    for (int i = 0; i < 20; ++i)
        names.push_back(std::to_string(138586300 + i));
    VJSONValue value(JSON_object);
    VJSONObject* object = value.GetObject();
    for (size_t i = 0; i < names.size(); ++i)
        object->SetProperty(VString(names[i].c_str()), VJSONValue(static_cast<double>(i)));
    ASSERT_EQ(object->GetOwnPropertyCount(), names.size());
    for (size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(object->GetProperty(VString(names[i].c_str())).GetNumber(), static_cast<double>(i)) << names[i];
    EXPECT_FALSE(object->HasOwnProperty(VString("abcdefgh-0999-ijklmnop")));
    EXPECT_FALSE(object->HasOwnProperty(VString("k40")));
    EXPECT_FALSE(object->HasOwnProperty(VString("138586320")));
    EXPECT_TRUE(object->GetProperty(VString("")).IsUndefined());

    // Every other member goes; the rest are still found at their values, the
    // removed ones are not, and the order is the insertion order.
    std::vector<std::string> kept;
    for (size_t i = 0; i < names.size(); ++i) {
        if (i % 2 == 0)
            object->RemoveProperty(VString(names[i].c_str()));
        else
            kept.push_back(names[i]);
    }
    for (size_t i = 0; i < names.size(); ++i) {
        const VJSONValue found = object->GetProperty(VString(names[i].c_str()));
        if (i % 2 == 0)
            EXPECT_TRUE(found.IsUndefined()) << names[i];
        else
            EXPECT_EQ(found.GetNumber(), static_cast<double>(i)) << names[i];
    }
    EXPECT_EQ(OrderOf(object), kept);

    // The same members read from a text.
    std::string text = "{";
    for (size_t i = 0; i < names.size(); ++i)
        text.append(i == 0 ? "\"" : ",\"").append(names[i]).append("\":").append(std::to_string(i));
    text += "}";
    VJSONValue imported = ImportTree(text.c_str());
    for (size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(imported.GetObject()->GetProperty(VString(names[i].c_str())).GetNumber(), static_cast<double>(i));
    EXPECT_TRUE(imported.GetObject()->DeepEqualTo(imported.GetObject(), VCompareOptions()));
}

TEST_F(JSONTreeTest, ANameReadAgainReplacesTheValueInItsFirstPlaceInSmallAndLargeObjects)
{
    // The importer stores an object's members in one go; a repeated name
    // must find its first entry whether the object is scanned or indexed.
    struct Case {
        const char* fText;
        const char* fExpected;
    };
    const Case cases[] = {
        {R"({"a":1,"b":2,"a":3})", R"({"a":3,"b":2})"},
        {R"({"a":1,"b":2,"c":3,"d":4,"e":5,"f":6,"g":7,"h":8,"a":9})",
         R"({"a":9,"b":2,"c":3,"d":4,"e":5,"f":6,"g":7,"h":8})"},
        {R"({"a":1,"b":2,"c":3,"d":4,"e":5,"f":6,"g":7,"h":8,"i":9,"j":10,"h":11,"i":12,"k":13})",
         R"({"a":1,"b":2,"c":3,"d":4,"e":5,"f":6,"g":7,"h":11,"i":12,"j":10,"k":13})"},
        {R"({"100001":1,"100002":2,"100003":3,"100004":4,"100005":5,"100006":6,"100007":7,"100008":8,)"
         R"("100009":9,"100001":10,"100009":11})",
         R"({"100001":10,"100002":2,"100003":3,"100004":4,"100005":5,"100006":6,"100007":7,"100008":8,)"
         R"("100009":11})"},
    };
    for (const Case& c : cases) {
        VJSONValue imported = ImportTree(c.fText);
        EXPECT_EQ(TextOf(imported), c.fExpected) << c.fText;
    }
}

}  // namespace
}  // namespace qelt
