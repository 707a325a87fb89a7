#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "json/json.h"
#include "kernel/VString.h"
#include "runtime/VErrorContext.h"

namespace qelt {
namespace {

// Counts the objects made by NewCounted that have been destroyed: each holds
// an implementation that the object releases last in its destruction.
int gDestroyed = 0;

class CountingImplementation : public VObject, public IJSONObject {
public:
    ~CountingImplementation() override { ++gDestroyed; }
};

VJSONObject* NewCounted()
{
    CountingImplementation* implementation = new CountingImplementation();
    VJSONObject* object = new VJSONObject(nullptr, implementation, static_cast<VStorageLocker*>(nullptr));
    implementation->Release();
    return object;
}

class JSONGraphTest : public ::testing::Test {
protected:
    void SetUp() override { gDestroyed = 0; }
};

TEST_F(JSONGraphTest, AnObjectInsideItselfIsFreed)
{
    VJSONObject* object = NewCounted();
    object->SetProperty(VString("self"), VJSONValue(object));
    ASSERT_NE(object->GetGraph(), nullptr);
    EXPECT_TRUE(object->GetGraph()->HasCycle());
    EXPECT_EQ(object->GetRefCount(), 2);
    object->Release();
    EXPECT_EQ(gDestroyed, 1);
}

TEST_F(JSONGraphTest, TwoObjectsReferringToEachOtherAreFreedWithTheLastOutsideReference)
{
    VJSONObject* a = NewCounted();
    VJSONObject* b = NewCounted();
    a->SetProperty(VString("b"), VJSONValue(b));
    b->SetProperty(VString("a"), VJSONValue(a));
    b->Release();  // b is now held by a only
    EXPECT_EQ(gDestroyed, 0);
    ASSERT_NE(a->GetGraph(), nullptr);
    EXPECT_EQ(a->GetGraph()->GetTotalReferences(), 3);
    EXPECT_EQ(a->GetGraph()->GetInternalReferences(), 2);
    a->Release();
    EXPECT_EQ(gDestroyed, 2);
}

TEST_F(JSONGraphTest, ACycleHeldByAThirdObjectLivesUntilThePropertyGoes)
{
    VJSONObject* holder = NewCounted();
    VJSONObject* a = NewCounted();
    VJSONObject* b = NewCounted();
    holder->SetProperty(VString("a"), VJSONValue(a));
    a->SetProperty(VString("b"), VJSONValue(b));
    b->SetProperty(VString("a"), VJSONValue(a));
    a->Release();
    b->Release();
    EXPECT_EQ(gDestroyed, 0);
    EXPECT_EQ(holder->GetProperty(VString("a")).GetObject()->GetProperty(VString("b")).GetType(), JSON_object);

    holder->RemoveProperty(VString("a"));
    EXPECT_EQ(gDestroyed, 2);
    // The released pair left the graph's figures: only the holder remains.
    ASSERT_NE(holder->GetGraph(), nullptr);
    EXPECT_EQ(holder->GetGraph()->GetTotalReferences(), holder->GetRefCount());
    EXPECT_EQ(holder->GetGraph()->GetInternalReferences(), 0);
    holder->Release();
    EXPECT_EQ(gDestroyed, 3);
}

TEST_F(JSONGraphTest, ClearingOrReplacingTheOnlyLinkToACycleFreesIt)
{
    for (int way = 0; way < 3; ++way) {
        gDestroyed = 0;
        VJSONObject* holder = NewCounted();
        VJSONObject* a = NewCounted();
        VJSONObject* b = NewCounted();
        holder->SetProperty(VString("a"), VJSONValue(a));
        a->SetProperty(VString("b"), VJSONValue(b));
        b->SetProperty(VString("a"), VJSONValue(a));
        a->Release();
        b->Release();
        if (way == 0)
            holder->Clear();
        else if (way == 1)
            holder->SetProperty(VString("a"), VJSONValue(1.0));
        else
            holder->SetProperty(VString("a"), VJSONValue(JSON_undefined));
        EXPECT_EQ(gDestroyed, 2) << way;
        holder->Release();
        EXPECT_EQ(gDestroyed, 3) << way;
    }
}

TEST_F(JSONGraphTest, ArraysDroppingACycleFreeIt)
{
    for (int way = 0; way < 3; ++way) {
        gDestroyed = 0;
        VJSONArray* array = new VJSONArray(static_cast<VStorageLocker*>(nullptr));
        VJSONObject* a = NewCounted();
        VJSONObject* b = NewCounted();
        array->Push(VJSONValue(1.0));
        array->Push(VJSONValue(a));
        a->SetProperty(VString("b"), VJSONValue(b));
        b->SetProperty(VString("a"), VJSONValue(a));
        a->Release();
        b->Release();
        if (way == 0)
            array->RemoveAt(1, 1);
        else if (way == 1)
            array->Resize(1);
        else
            array->Clear();
        EXPECT_EQ(gDestroyed, 2) << way;
        array->Release();
    }
}

TEST_F(JSONGraphTest, ATreeIsNeverEmptiedByTheGraph)
{
    VJSONObject* root = NewCounted();
    VJSONObject* child = NewCounted();
    VJSONObject* leaf = NewCounted();
    root->SetProperty(VString("child"), VJSONValue(child));
    child->SetProperty(VString("leaf"), VJSONValue(leaf));
    leaf->Release();
    ASSERT_NE(root->GetGraph(), nullptr);
    EXPECT_FALSE(root->GetGraph()->HasCycle());
    root->RemoveProperty(VString("child"));
    // The outside reference keeps the subtree whole.
    EXPECT_EQ(gDestroyed, 0);
    EXPECT_EQ(child->GetProperty(VString("leaf")).GetType(), JSON_object);
    child->Release();
    EXPECT_EQ(gDestroyed, 2);
    root->Release();
    EXPECT_EQ(gDestroyed, 3);
}

TEST_F(JSONGraphTest, TheSameObjectTwiceIsNoCycleToFree)
{
    VJSONObject* container = NewCounted();
    VJSONObject* value = NewCounted();
    container->SetProperty(VString("x"), VJSONValue(value));
    container->SetProperty(VString("y"), VJSONValue(value));
    ASSERT_NE(container->GetGraph(), nullptr);
    EXPECT_TRUE(container->GetGraph()->HasCycle());
    EXPECT_EQ(container->GetGraph()->GetInternalReferences(), 2);
    EXPECT_EQ(value->GetInternalCount(), 2);
    container->RemoveProperty(VString("x"));
    EXPECT_EQ(gDestroyed, 0);
    EXPECT_EQ(container->GetProperty(VString("y")).GetObject(), value);
    value->Release();
    EXPECT_EQ(gDestroyed, 0);
    container->Release();
    EXPECT_EQ(gDestroyed, 2);
}

// A cycle whose member is still held from outside survives the loss of its
// last link from the rest of the graph, every property in place.
TEST_F(JSONGraphTest, AMemberHeldOutsideKeepsItsCycleWholeWhenTheLastLinkGoes)
{
    for (int way = 0; way < 3; ++way) {
        SCOPED_TRACE(way);
        gDestroyed = 0;
        VRefPtr<VJSONObject> holder = AdoptRef(NewCounted());
        VJSONObject* a = NewCounted();
        VRefPtr<VJSONObject> b = AdoptRef(NewCounted());
        holder->SetProperty(VString("a"), VJSONValue(a));
        a->SetProperty(VString("b"), VJSONValue(b.Get()));
        b->SetProperty(VString("a"), VJSONValue(a));
        a->Release();  // a is held by the holder and by b; b by a and by us
        if (way == 0)
            holder->RemoveProperty(VString("a"));
        else if (way == 1)
            holder->Clear();
        else
            holder = nullptr;
        EXPECT_EQ(gDestroyed, way == 2 ? 1 : 0);
        {
            VJSONValue toA = b->GetProperty(VString("a"));
            ASSERT_EQ(toA.GetType(), JSON_object);
            EXPECT_EQ(toA.GetObject()->GetProperty(VString("b")).GetObject(), b.Get());
        }
        // The pair shares the holder's graph, which never splits: it goes
        // with the last of the three.
        b = nullptr;
        holder = nullptr;
        EXPECT_EQ(gDestroyed, 3);
    }
}

// The same array twice in one object is no cycle: the text writer gives it
// twice, and raises nothing (error 900 is for real cycles).
TEST_F(JSONGraphTest, TheSameArrayTwiceWritesAsTextWithoutError)
{
    VJSONValue inner(JSON_array);
    inner.GetArray()->Push(VJSONValue(1.0));
    VJSONValue root(JSON_object);
    root.SetProperty(VString("x"), inner);
    root.SetProperty(VString("y"), inner);
    StErrorContextInstaller errors(true, true);
    VString text;
    EXPECT_EQ(root.Stringify(text, kJSONWriteQuoted), VError(0));
    EXPECT_EQ(errors.GetLastError(), VError(0));
    std::string bytes;
    for (int i = 0; i < text.GetLength(); ++i)
        bytes += static_cast<char>(text.GetCPointer()[i]);
    EXPECT_EQ(bytes, "{\"x\":[1],\"y\":[1]}");
}

TEST_F(JSONGraphTest, SetAtTheCountIsRefusedAndNeverGrowsTheArray)
{
    VRefPtr<VJSONArray> array = AdoptRef(new VJSONArray(static_cast<VStorageLocker*>(nullptr)));
    array->Push(VJSONValue(1.0));
    VRefPtr<VJSONObject> object = AdoptRef(NewCounted());
    const int before = object->GetRefCount();
    array->SetAt(1, VJSONValue(object.Get()));
    EXPECT_EQ(array->GetCount(), 1u);
    EXPECT_EQ(array->GetAt(0).GetNumber(), 1.0);
    EXPECT_EQ(object->GetRefCount(), before);  // nothing kept a copy
    EXPECT_EQ(object->GetInternalCount(), 0);
}

TEST_F(JSONGraphTest, ConnectingTwoGraphsMergesThem)
{
    VJSONObject* left = NewCounted();
    VJSONObject* leftChild = NewCounted();
    VJSONObject* right = NewCounted();
    VJSONArray* rightChild = new VJSONArray(static_cast<VStorageLocker*>(nullptr));
    left->SetProperty(VString("c"), VJSONValue(leftChild));
    right->SetProperty(VString("c"), VJSONValue(rightChild));
    VJSONGraph* target = left->GetGraph();
    ASSERT_NE(target, nullptr);
    ASSERT_NE(right->GetGraph(), target);

    left->SetProperty(VString("r"), VJSONValue(right));
    EXPECT_EQ(right->GetGraph(), target);
    EXPECT_EQ(rightChild->GetGraph(), target);
    EXPECT_EQ(leftChild->GetGraph(), target);
    EXPECT_EQ(target->GetObjectCount(), 3u);
    EXPECT_EQ(target->GetArrayCount(), 1u);
    EXPECT_EQ(target->GetInternalReferences(), 3);

    leftChild->Release();
    right->Release();
    rightChild->Release();
    left->Release();
    EXPECT_EQ(gDestroyed, 3);
}

TEST_F(JSONGraphTest, AnArrayInsideItselfIsFreed)
{
    VJSONArray* array = new VJSONArray(static_cast<VStorageLocker*>(nullptr));
    VJSONObject* payload = NewCounted();
    array->Push(VJSONValue(payload));
    payload->Release();
    array->Push(VJSONValue(array));
    array->Release();
    EXPECT_EQ(gDestroyed, 1);
}

// An implementation that keeps one array outside the property map and
// registers it with the object's graph.
class HoldingImplementation : public VObject, public IJSONObject {
public:
    HoldingImplementation() : fHeld(JSON_array) {}
    void IJSON_DoConnectDependencies(VJSONObject* inObject) override { inObject->ConnectImplementationProperty(fHeld); }
    void IJSON_DoDisconnectDependencies(VJSONObject* inObject) override
    {
        inObject->DisconnectImplementationProperty(fHeld);
    }
    VJSONValue fHeld;
};

TEST_F(JSONGraphTest, ImplementationDependenciesCountInTheGraph)
{
    HoldingImplementation* implementation = new HoldingImplementation();
    VJSONObject* object = new VJSONObject(nullptr, implementation, static_cast<VStorageLocker*>(nullptr));
    VJSONArray* held = implementation->fHeld.GetArray();
    implementation->Release();
    ASSERT_NE(object->GetGraph(), nullptr);
    EXPECT_EQ(held->GetGraph(), object->GetGraph());
    EXPECT_EQ(held->GetInternalCount(), 1);
    EXPECT_EQ(object->GetGraph()->GetInternalReferences(), 1);

    // The held array refers back to its owner: the release still frees both.
    VJSONObject* counted = NewCounted();
    held->Push(VJSONValue(object));
    held->Push(VJSONValue(counted));
    counted->Release();
    object->Release();
    EXPECT_EQ(gDestroyed, 1);
}

// The same tree made by storing copies of its containers one by one, as
// callers build trees: the reference for the graph the importer gives.
VJSONValue StoreOneByOne(const VJSONValue& inValue)
{
    if (const VJSONObject* object = inValue.GetObject()) {
        VJSONValue copy(JSON_object);
        std::vector<std::pair<VString, VJSONValue>> properties;
        object->GetOwnPropertiesInOrder(properties);
        for (const auto& property : properties)
            copy.GetObject()->SetProperty(property.first, StoreOneByOne(property.second));
        return copy;
    }
    if (const VJSONArray* array = inValue.GetArray()) {
        VJSONValue copy(JSON_array);
        for (size_t i = 0; i < array->GetCount(); ++i)
            copy.GetArray()->Push(StoreOneByOne(array->GetAt(i)));
        return copy;
    }
    return inValue;
}

// Compares the graph fields of two trees of the same shape, container by
// container; inGraphs pairs the graphs met so far.
void ExpectSameGraphs(const VJSONValue& inActual, const VJSONValue& inExpected, const std::string& inPath,
                      std::vector<std::pair<const VJSONGraph*, const VJSONGraph*>>& ioGraphs,
                      std::vector<const void*>& ioSeen)
{
    auto compare = [&](const auto* inA, const auto* inB) {
        EXPECT_EQ(inA->GetInternalCount(), inB->GetInternalCount()) << inPath;
        EXPECT_EQ(inA->GetRefCount(), inB->GetRefCount()) << inPath;
        const VJSONGraph* a = inA->GetGraph();
        const VJSONGraph* b = inB->GetGraph();
        ASSERT_EQ(a == nullptr, b == nullptr) << inPath;
        if (a == nullptr)
            return;
        for (const auto& pair : ioGraphs) {
            if (pair.first == a || pair.second == b) {
                EXPECT_TRUE(pair.first == a && pair.second == b) << inPath << ": graphs split differently";
                return;
            }
        }
        ioGraphs.emplace_back(a, b);
        EXPECT_EQ(a->GetObjectCount(), b->GetObjectCount()) << inPath;
        EXPECT_EQ(a->GetArrayCount(), b->GetArrayCount()) << inPath;
        EXPECT_EQ(a->GetInternalReferences(), b->GetInternalReferences()) << inPath;
        EXPECT_EQ(a->GetTotalReferences(), b->GetTotalReferences()) << inPath;
        EXPECT_EQ(a->HasCycle(), b->HasCycle()) << inPath;
        EXPECT_EQ(a->IsShared(), b->IsShared()) << inPath;
    };
    ASSERT_EQ(inActual.GetType(), inExpected.GetType()) << inPath;
    // A container met again (through a cycle) is compared once.
    const void* container = inActual.GetObject() != nullptr ? static_cast<const void*>(inActual.GetObject())
                                                             : static_cast<const void*>(inActual.GetArray());
    if (container != nullptr) {
        for (const void* seen : ioSeen) {
            if (seen == container)
                return;
        }
        ioSeen.push_back(container);
    }
    if (const VJSONObject* object = inActual.GetObject()) {
        compare(object, inExpected.GetObject());
        std::vector<std::pair<VString, VJSONValue>> properties;
        object->GetOwnPropertiesInOrder(properties);
        for (const auto& property : properties) {
            std::string name;
            for (int i = 0; i < property.first.GetLength(); ++i)
                name += static_cast<char>(property.first.GetCPointer()[i]);
            ExpectSameGraphs(property.second, inExpected.GetObject()->GetOwnProperty(property.first),
                             inPath + "." + name, ioGraphs, ioSeen);
        }
    } else if (const VJSONArray* array = inActual.GetArray()) {
        compare(array, inExpected.GetArray());
        for (size_t i = 0; i < array->GetCount(); ++i)
            ExpectSameGraphs(array->GetAt(i), inExpected.GetArray()->GetAt(i),
                             inPath + "[" + std::to_string(i) + "]", ioGraphs, ioSeen);
    }
}

// An imported tree stays out of any graph until a change links one of its
// containers; the join that change makes gives it the graph that storing
// its containers one by one gives.
TEST_F(JSONGraphTest, AnImportedTreeHasTheGraphThatStoringItsContainersOneByOneGives)
{
    struct Case {
        const char* text;
        bool fails;
    };
    const Case cases[] = {
        {"{}", false},
        {"[1,2,\"x\"]", false},
        {"[[]]", false},
        {"{\"a\":{\"b\":[1,{\"c\":[]}]},\"d\":[[],[[{}]]],\"e\":3}", false},
        {"{\"a\":{\"x\":1},\"a\":{\"y\":[2]}}", false},  // the second "a" replaces the first
        {"[{\"a\":[1,[2,[3]]]},{\"b\":{}},[],{}]", false},
        {"{\"a\":[1,{\"b\":{}}],\"c\":[{\"d\":[", true},  // what was read before the failure stays
    };
    for (const Case& c : cases) {
        VJSONValue imported(JSON_undefined);
        VErrorContext errors;
        const VError error = VJSONImporter::ParseString(VString(c.text), imported, 0);
        EXPECT_EQ(error != VE_OK, c.fails) << c.text;
        const VJSONGraph* graph = imported.GetObject() != nullptr ? imported.GetObject()->GetGraph()
                                                                  : imported.GetArray()->GetGraph();
        EXPECT_EQ(graph, nullptr) << c.text;
        VJSONGraph::JoinTree(imported.GetObject(), imported.GetArray());
        const VJSONValue expected = StoreOneByOne(imported);
        std::vector<std::pair<const VJSONGraph*, const VJSONGraph*>> graphs;
        std::vector<const void*> seen;
        ExpectSameGraphs(imported, expected, c.text, graphs, seen);
    }
}

TEST_F(JSONGraphTest, ACycleMadeThroughAnImportedTreeIsFreedWithItsLastOutsideReference)
{
    VJSONValue root(JSON_undefined);
    ASSERT_EQ(VJSONImporter::ParseString(VString("{\"a\":{\"b\":[{}]},\"c\":[1]}"), root, 0), VE_OK);
    // A counted object joins the tree, and the innermost object refers back
    // to the root.
    VJSONObject* counted = NewCounted();
    root.GetObject()->SetProperty(VString("counted"), VJSONValue(counted));
    counted->Release();
    VJSONValue inner = root.GetObject()->GetPropertyWithPath(VString("a.b[0]"));
    ASSERT_TRUE(inner.IsObject());
    inner.GetObject()->SetProperty(VString("root"), root);
    ASSERT_NE(root.GetObject()->GetGraph(), nullptr);
    EXPECT_TRUE(root.GetObject()->GetGraph()->HasCycle());
    root.SetNull();
    EXPECT_EQ(gDestroyed, 0);  // the inner object is still held here
    inner.SetNull();
    EXPECT_EQ(gDestroyed, 1);
}

// Builds {"a": [sub, []], "s": other, "n": 1} where sub and other come with
// graphs of their own, either stored one by one or stored unconnected and
// then connected as a tree. The caller keeps the two subtrees' roots.
VJSONValue BuildWithConnectedSubtrees(bool inUnconnected, VJSONObject*& outSub, VJSONObject*& outOther)
{
    outSub = NewCounted();
    outSub->SetProperty(VString("child"), VJSONValue(JSON_object));
    outOther = NewCounted();
    outOther->SetProperty(VString("self"), VJSONValue(outOther));  // a cycle
    VJSONValue root(JSON_object);
    VJSONValue array(JSON_array);
    if (inUnconnected) {
        EXPECT_TRUE(array.GetArray()->_PushUnconnected(VJSONValue(outSub)));
        EXPECT_TRUE(array.GetArray()->_PushUnconnected(VJSONValue(JSON_array)));
        EXPECT_TRUE(root.GetObject()->_StoreUnconnected(VString("a"), VJSONValue(array)));
        EXPECT_TRUE(root.GetObject()->_StoreUnconnected(VString("s"), VJSONValue(outOther)));
        EXPECT_TRUE(root.GetObject()->_StoreUnconnected(VString("n"), VJSONValue(1.0)));
        VJSONGraph::ConnectTree(root);
    } else {
        array.GetArray()->Push(VJSONValue(outSub));
        array.GetArray()->Push(VJSONValue(JSON_array));
        root.GetObject()->SetProperty(VString("a"), array);
        root.GetObject()->SetProperty(VString("s"), VJSONValue(outOther));
        root.GetObject()->SetProperty(VString("n"), VJSONValue(1.0));
    }
    return root;
}

TEST_F(JSONGraphTest, ConnectingATreeJoinsSubtreesThatHaveAGraphAsStoresDo)
{
    VJSONObject* subA = nullptr;
    VJSONObject* otherA = nullptr;
    VJSONObject* subB = nullptr;
    VJSONObject* otherB = nullptr;
    VJSONValue connected = BuildWithConnectedSubtrees(true, subA, otherA);
    VJSONValue stored = BuildWithConnectedSubtrees(false, subB, otherB);
    std::vector<std::pair<const VJSONGraph*, const VJSONGraph*>> graphs;
    std::vector<const void*> seen;
    ExpectSameGraphs(connected, stored, "root", graphs, seen);
    EXPECT_EQ(otherA->GetGraph(), connected.GetObject()->GetGraph());
    EXPECT_TRUE(connected.GetObject()->GetGraph()->HasCycle());

    // The cycle goes with the last outside references.
    for (VJSONObject* object : {subA, otherA, subB, otherB})
        object->Release();
    EXPECT_EQ(gDestroyed, 0);
    connected.SetNull();
    EXPECT_EQ(gDestroyed, 2);
    stored.SetNull();
    EXPECT_EQ(gDestroyed, 4);
}

}  // namespace
}  // namespace qelt
