#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel/VLong.h"
#include "kernel/VString.h"
#include "values/VBagArray.h"
#include "values/VValueBag.h"

namespace qelt {

namespace {

std::string Narrow(const VString& s)
{
    std::string out;
    for (int i = 0; i < s.GetLength(); ++i)
        out.push_back(static_cast<char>(s.GetCPointer()[i]));
    return out;
}

int RefCount(VValueBag* bag)
{
    bag->Retain();
    return bag->Release();
}

long AttrLong(const VValueBag* bag, const char* name)
{
    VLong v;
    return bag->GetAttribute(name, v) ? v.GetLong() : -1;
}

}  // namespace

TEST(ValueBag, NewBagIsEmptyCountOneAndDirty)
{
    VValueBag* bag = new VValueBag();
    EXPECT_TRUE(bag->IsEmpty());
    EXPECT_TRUE(bag->IsDirty());
    EXPECT_FALSE(bag->IsNull());
    EXPECT_EQ(RefCount(bag), 1);
    EXPECT_EQ(bag->GetValueInfo()->GetKind(), 200);
    VValue* generated = VValue::NewValueFromValueKind(200);
    ASSERT_NE(generated, nullptr);
    delete generated;
    bag->Release();
}

TEST(ValueBag, AttributesKeepOrderAndNames)
{
    VValueBag* bag = new VValueBag();
    bag->SetAttribute("b", VLong(2));
    bag->SetAttribute("a", VString("x"));
    bag->SetAttribute("b", VLong(3));
    ASSERT_EQ(bag->GetAttributesCount(), 2);
    VString name;
    const VValueSingle* v = bag->GetNthAttribute(1, &name);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(Narrow(name), "b");
    EXPECT_EQ(v->GetLong(), 3);
    EXPECT_EQ(bag->GetNthAttribute(3, &name), nullptr);
    EXPECT_TRUE(name.IsEmpty());
    bag->RemoveAttribute("b");
    EXPECT_EQ(bag->GetAttributesCount(), 1);
    EXPECT_EQ(AttrLong(bag, "b"), -1);
    bag->Release();
}

TEST(ValueBag, AppendToCDataTurnsOtherKindsIntoText)
{
    VRefPtr<VValueBag> bag = AdoptRef(new VValueBag());
    bag->AppendToCData(VString("ab"));
    bag->AppendToCData(VString("cd"));
    VString text;
    ASSERT_TRUE(bag->GetAttribute(VValueBag::CDataAttributeName(), text));
    EXPECT_EQ(Narrow(text), "abcd");

    bag->SetAttribute(VValueBag::CDataAttributeName(), VLong(5));
    bag->AppendToCData(VString("x"));
    ASSERT_TRUE(bag->GetAttribute(VValueBag::CDataAttributeName(), text));
    EXPECT_EQ(Narrow(text), "5x");
    // The change survives a copy (the copy packs the attached string).
    VValueBag* copy = bag->Clone();
    ASSERT_TRUE(copy->GetAttribute(VValueBag::CDataAttributeName(), text));
    EXPECT_EQ(Narrow(text), "5x");
    copy->Release();
}

TEST(ValueBag, ElementsAddReplaceRemove)
{
    VRefPtr<VValueBag> bag = AdoptRef(new VValueBag());
    VValueBag* child = new VValueBag();
    bag->AddElement("item", child);
    bag->AddElement("item", child);
    VBagArray* list = bag->GetElements("item");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->GetCount(), 2);
    EXPECT_EQ(RefCount(child), 3);
    bag->AddElement("item", nullptr);
    EXPECT_EQ(list->GetCount(), 2);

    VString name;
    EXPECT_EQ(bag->GetUniqueElementAnyKind(name), nullptr);  // one name, two children
    EXPECT_TRUE(name.IsEmpty());

    VValueBag* other = new VValueBag();
    EXPECT_TRUE(bag->ReplaceElement("item", other));
    EXPECT_EQ(bag->GetElements("item")->GetCount(), 1);
    EXPECT_EQ(RefCount(child), 1);
    EXPECT_FALSE(bag->ReplaceElement("item", other));  // already the only child
    EXPECT_EQ(bag->GetUniqueElementAnyKind(name), other);
    EXPECT_EQ(Narrow(name), "item");

    EXPECT_FALSE(bag->ReplaceElement("item", nullptr));
    EXPECT_EQ(bag->GetElements("item"), nullptr);
    EXPECT_EQ(bag->GetElementNamesCount(), 0);
    other->Release();
    child->Release();
}

TEST(ValueBag, ABagCannotBecomeItsOwnDescendant)
{
    VValueBag* root = new VValueBag();
    VValueBag* mid = new VValueBag();
    VValueBag* leaf = new VValueBag();
    root->AddElement("m", mid);
    mid->AddElement("l", leaf);

    root->AddElement("self", root);
    leaf->AddElement("up", root);
    EXPECT_FALSE(leaf->ReplaceElement("up", mid));
    VBagArray* list = new VBagArray();
    list->AddTail(root);
    mid->SetElements("loop", list);
    list->Release();
    EXPECT_EQ(root->GetElements("self"), nullptr);
    EXPECT_EQ(leaf->GetElementNamesCount(), 0);
    EXPECT_EQ(mid->GetElements("loop"), nullptr);
    EXPECT_EQ(mid->GetElementNamesCount(), 1);

    // A shared child under two names is fine (not a cycle).
    root->AddElement("again", leaf);
    EXPECT_EQ(root->GetElementNamesCount(), 2);
    leaf->Release();
    mid->Release();
    root->Release();
}

TEST(ValueBag, RetainUniqueElementWithAttribute)
{
    VValueBag* bag = new VValueBag();
    VValueBag* a = new VValueBag();
    VValueBag* b = new VValueBag();
    a->SetAttribute("id", VLong(1));
    bag->AddElement("x", a);
    bag->AddElement("x", b);  // lacks "id": matches the cleared value 0
    VValueBag* found = bag->RetainUniqueElementWithAttribute("x", "id", VLong(1));
    EXPECT_EQ(found, a);
    if (found)
        found->Release();
    found = bag->RetainUniqueElementWithAttribute("x", "id", VLong(0));
    EXPECT_EQ(found, b);
    if (found)
        found->Release();
    b->SetAttribute("id", VLong(1));
    EXPECT_EQ(bag->RetainUniqueElementWithAttribute("x", "id", VLong(1)), nullptr);  // two matches
    EXPECT_EQ(bag->RetainUniqueElementWithAttribute("y", "id", VLong(1)), nullptr);
    a->Release();
    b->Release();
    bag->Release();
}

TEST(ValueBag, CopiesShareNoChild)
{
    VValueBag* bag = new VValueBag();
    VValueBag* child = new VValueBag();
    child->SetAttribute("v", VLong(1));
    bag->AddElement("c", child);
    VValueBag* copy = new VValueBag(*bag);
    VValueBag* copiedChild = copy->GetElements("c")->RetainNth(1);
    EXPECT_NE(copiedChild, child);
    EXPECT_EQ(AttrLong(copiedChild, "v"), 1);
    copiedChild->Release();
    VValueBag* extra = new VValueBag();
    copy->AddElement("c", extra);
    extra->Release();
    EXPECT_EQ(bag->GetElements("c")->GetCount(), 1);
    EXPECT_EQ(RefCount(child), 2);  // held by us and by the source's list only
    child->Release();
    copy->Release();
    bag->Release();
}

TEST(BagArray, PositionsAndReferences)
{
    VBagArray* list = new VBagArray();
    VValueBag* a = new VValueBag();
    VValueBag* b = new VValueBag();
    VValueBag* c = new VValueBag();
    list->AddTail(a);
    list->AddTail(b);
    EXPECT_TRUE(list->AddNth(c, 0));
    EXPECT_EQ(list->Find(c), 1);
    EXPECT_TRUE(list->AddNth(c, 100));
    EXPECT_EQ(list->GetCount(), 4);
    EXPECT_EQ(list->Find(c), 1);  // first of two
    EXPECT_FALSE(list->AddTail(nullptr));

    VValueBag* empty = list->RetainNth(0);
    EXPECT_TRUE(empty->IsEmpty());
    EXPECT_EQ(list->Find(empty), 0);
    empty->Release();
    list->RetainNth(5)->Release();

    int before = RefCount(a);
    list->Delete(a);  // the list's reference passes to us
    EXPECT_EQ(RefCount(a), before);
    a->Release();  // the reference the list held
    a->Release();  // our own
    before = RefCount(b);
    list->DeleteNth(list->Find(b));
    EXPECT_EQ(RefCount(b), before - 1);

    VValueBag* d = new VValueBag();
    d->SetAttribute("k", VLong(9));
    list->SetNth(d, 1);
    VBagArray* copy = new VBagArray(*list);
    VValueBag* copied = copy->RetainNth(1);
    EXPECT_NE(copied, d);
    EXPECT_EQ(AttrLong(copied, "k"), 9);
    copied->Release();
    copy->Release();
    d->Release();
    b->Release();
    c->Release();
    list->Release();
}

TEST(ValueBag, DeletingAnyElementOfABagArrayRemovesExactlyThatOne)
{
    // Positions deleted from a list of four bags numbered 1 to 4, and the
    // numbers left; out of range deletes nothing.
    struct Case {
        int position;
        std::vector<long> left;
    };
    const Case cases[] = {{4, {1, 2, 3}}, {1, {2, 3, 4}}, {2, {1, 3, 4}}, {0, {1, 2, 3, 4}}, {5, {1, 2, 3, 4}}};
    for (const Case& c : cases) {
        for (bool byBag : {false, true}) {
            VRefPtr<VValueBag> parent = AdoptRef(new VValueBag());
            std::vector<VRefPtr<VValueBag>> children;
            for (long number = 1; number <= 4; ++number) {
                children.push_back(AdoptRef(new VValueBag()));
                children.back()->SetAttribute("n", VLong(number));
                parent->AddElement(StPackedDictionaryKey("e"), children.back().Get());
            }
            VBagArray* list = parent->GetElements(StPackedDictionaryKey("e"));
            ASSERT_NE(list, nullptr);
            const bool inRange = c.position >= 1 && c.position <= 4;
            if (!byBag) {
                list->DeleteNth(c.position);
            } else if (inRange) {
                VValueBag* deleted = children[static_cast<size_t>(c.position - 1)].Get();
                list->Delete(deleted);
                deleted->Release();  // the list's reference passed to us
            }
            std::vector<long> left;
            for (int i = 1; i <= list->GetCount(); ++i) {
                VRefPtr<VValueBag> child = AdoptRef(list->RetainNth(i));
                left.push_back(AttrLong(child.Get(), "n"));
            }
            EXPECT_EQ(left, c.left) << "position " << c.position << (byBag ? " by bag" : "");
            if (inRange) {
                EXPECT_EQ(RefCount(children[static_cast<size_t>(c.position - 1)].Get()), 1);
            }
        }
    }

    // Deleting the last element until none is left empties the list.
    VRefPtr<VBagArray> list = AdoptRef(new VBagArray());
    for (int i = 0; i < 3; ++i) {
        VRefPtr<VValueBag> child = AdoptRef(new VValueBag());
        list->AddTail(child.Get());
    }
    for (int count = 3; count > 0; --count) {
        list->DeleteNth(list->GetCount());
        EXPECT_EQ(list->GetCount(), count - 1);
    }
    list->DeleteNth(1);
    EXPECT_EQ(list->GetCount(), 0);
}

TEST(ValueBag, Paths)
{
    struct Case { const char* path; std::vector<std::string> keys; };
    const Case cases[] = {
        {"a/b", {"a", "b"}}, {"/a", {"", "a"}}, {"a/", {"a"}}, {"a//b", {"a", "", "b"}}, {"", {}},
    };
    for (const Case& c : cases) {
        VValueBag::StKeyPath fromUTF8;
        VValueBag::GetKeysFromUTF8PathNoCopy(c.path, fromUTF8);
        VValueBag::StKeyPath fromText;
        VValueBag::GetKeysFromPath(VString(c.path), fromText);
        ASSERT_EQ(fromUTF8.size(), c.keys.size()) << c.path;
        ASSERT_EQ(fromText.size(), c.keys.size()) << c.path;
        for (size_t i = 0; i < c.keys.size(); ++i) {
            EXPECT_EQ(std::string(fromUTF8[i].GetKeyPtr(), fromUTF8[i].GetKeyLength()), c.keys[i]) << c.path;
            EXPECT_TRUE(fromUTF8[i] == fromText[i]) << c.path;
        }
    }

    VRefPtr<VValueBag> bag = AdoptRef(new VValueBag());
    VValueBag::StKeyPath ab;
    VValueBag::GetKeysFromUTF8PathNoCopy("a/b", ab);
    VValueBag* made = bag->GetElementByPathAndCreateIfDontExists(ab);
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(bag->GetElementByPathAndCreateIfDontExists(ab), made);
    EXPECT_EQ(bag->GetUniqueElementByPath(VString("a/b")), made);
    EXPECT_EQ(bag->GetUniqueElementByPath(VString("a/c")), nullptr);

    // A segment longer than 255 bytes is refused, not cut.
    std::string longSegment(300, 'z');
    std::string longPath = "a/" + longSegment;
    VValueBag::StKeyPath longKeys;
    VValueBag::GetKeysFromPath(VString(longPath.c_str()), longKeys);
    ASSERT_EQ(longKeys.size(), 2u);
    EXPECT_FALSE(longKeys[1].IsStorable());
    EXPECT_EQ(bag->GetElementByPathAndCreateIfDontExists(longKeys), nullptr);
    EXPECT_EQ(bag->GetUniqueElementByPath(VString("a"))->GetElementNamesCount(), 1);

    VValueBag::StKeyPath xy;
    VValueBag::GetKeysFromUTF8PathNoCopy("x/y", xy);
    EXPECT_TRUE(bag->ReplaceElementByPath(xy, nullptr));  // nothing to remove
    EXPECT_EQ(bag->GetElementNamesCount(), 1);
    VValueBag* leaf = new VValueBag();
    EXPECT_TRUE(bag->ReplaceElementByPath(xy, leaf));
    EXPECT_EQ(bag->GetUniqueElementByPath(VString("x/y")), leaf);
    EXPECT_TRUE(bag->ReplaceElementByPath(xy, nullptr));
    EXPECT_EQ(bag->GetUniqueElementByPath(VString("x/y")), nullptr);
    leaf->Release();
}

TEST(ValueBag, UnionCloneAndOverride)
{
    auto makeBag = [](long attr, long childValue) {
        VValueBag* bag = new VValueBag();
        bag->SetAttribute("shared", VLong(attr));
        VValueBag* child = new VValueBag();
        child->SetAttribute("v", VLong(childValue));
        bag->AddElement("c", child);
        child->Release();
        return bag;
    };
    VValueBag* target = makeBag(1, 10);
    target->SetAttribute("own", VLong(5));
    VValueBag* source = makeBag(2, 20);
    EXPECT_TRUE(target->UnionClone(source));
    EXPECT_EQ(target->GetElements("c")->GetCount(), 2);
    EXPECT_EQ(AttrLong(target, "shared"), 2);
    EXPECT_EQ(AttrLong(target, "own"), 5);
    target->Release();

    target = makeBag(1, 10);
    EXPECT_TRUE(target->Override(source));
    ASSERT_EQ(target->GetElements("c")->GetCount(), 1);
    VValueBag* child = target->GetElements("c")->RetainNth(1);
    EXPECT_EQ(AttrLong(child, "v"), 20);
    child->Release();
    EXPECT_TRUE(target->UnionClone(nullptr));
    target->Release();
    source->Release();
}

TEST(ValueBag, MergingWithItselfWorksOnASnapshot)
{
    VValueBag* bag = new VValueBag();
    VValueBag* child = new VValueBag();
    bag->AddElement("c", child);
    child->Release();
    EXPECT_TRUE(bag->UnionClone(bag));
    EXPECT_EQ(bag->GetElements("c")->GetCount(), 2);
    EXPECT_TRUE(bag->UnionClone(bag));
    EXPECT_EQ(bag->GetElements("c")->GetCount(), 4);
    EXPECT_TRUE(bag->Override(bag));
    EXPECT_EQ(bag->GetElements("c")->GetCount(), 8);

    // Merging a child into its parent copies the child's content.
    VValueBag* parent = new VValueBag();
    VValueBag* kid = new VValueBag();
    kid->SetAttribute("k", VLong(1));
    VValueBag* grandChild = new VValueBag();
    kid->AddElement("g", grandChild);
    grandChild->Release();
    parent->AddElement("kid", kid);
    EXPECT_TRUE(parent->UnionClone(kid));
    EXPECT_EQ(AttrLong(parent, "k"), 1);
    EXPECT_EQ(parent->GetElements("g")->GetCount(), 1);
    kid->Release();
    parent->Release();
    bag->Release();
}

TEST(ValueBag, SortElementsFollowsTheTable)
{
    static const StPackedDictionaryKey kRoot("root");
    static const StPackedDictionaryKey kA("a");
    static const StPackedDictionaryKey kB("b");
    static const VValueBag::StBagElementsOrdering kTable[] = {
        {&kRoot, {&kB, &kA, nullptr}},
        {nullptr, {nullptr}},
    };
    auto names = [](VValueBag* bag) {
        std::string out;
        for (int i = 1; i <= bag->GetElementNamesCount(); ++i) {
            VString name;
            bag->GetNthElementName(i, &name);
            out += Narrow(name);
        }
        return out;
    };
    auto build = [](std::initializer_list<const char*> elementNames) {
        VValueBag* bag = new VValueBag();
        for (const char* n : elementNames) {
            VValueBag* child = new VValueBag();
            bag->AddElement(n, child);
            child->Release();
        }
        return bag;
    };
    VValueBag* ab = build({"a", "b"});
    ab->SortElements(kRoot, kTable);
    EXPECT_EQ(names(ab), "ba");
    EXPECT_EQ(ab->GetElements("a")->GetCount(), 1);
    ab->Release();

    VValueBag* axb = build({"a", "x", "b"});
    axb->SortElements(kRoot, kTable);
    EXPECT_EQ(names(axb), "axb");
    axb->Release();
}

}  // namespace qelt

#include "process/VProcess.h"

namespace qelt {

TEST(ValueBag, DebugDumpWritesUTF16Text)
{
    VValueBag* bag = new VValueBag();
    bag->SetAttribute("a", VString("x"));
    VValueBag* child = new VValueBag();
    child->SetAttribute("b", VString("y"));
    bag->AddElement("e", child);

    char buffer[256];
    int size = sizeof(buffer);
    EXPECT_EQ(bag->DebugDump(buffer, size), VTC_UTF_16_SMALLENDIAN);
    EXPECT_EQ(size, 0);  // nothing without a process object

    VProcess process;
    VProcess::sInstance = &process;
    size = sizeof(buffer);
    EXPECT_EQ(bag->DebugDump(buffer, size), VTC_UTF_16_SMALLENDIAN);
    VString text(buffer, static_cast<unsigned long>(size), VTC_UTF_16_SMALLENDIAN);
    EXPECT_EQ(Narrow(text), "a = x\n=======\n1 e :\n--\nb = y\n");
    EXPECT_EQ(RefCount(child), 2);
    size = 10;
    bag->DebugDump(buffer, size);
    EXPECT_EQ(size, 10);
    VProcess::sInstance = nullptr;

    child->Release();
    bag->Release();
}

}  // namespace qelt

namespace qelt {

namespace {

class Point : public IBaggable {
public:
    explicit Point(VError saveResult) : fSaveResult(saveResult) {}
    VError SaveToBag(VValueBag& bag, VString& kindName) const override
    {
        bag.SetAttribute("x", VString("1"));
        kindName.FromCString("point");
        return fSaveResult;
    }
    VError fSaveResult;
};

}  // namespace

TEST(ValueBag, AddElementFromABaggableObject)
{
    VRefPtr<VValueBag> bag = AdoptRef(new VValueBag());
    Point good(VE_OK);
    EXPECT_EQ(bag->AddElement(&good), VE_OK);
    ASSERT_NE(bag->GetElements("point"), nullptr);
    EXPECT_EQ(bag->GetElements("point")->GetCount(), 1);
    Point bad(QeltError(2));
    EXPECT_EQ(bag->AddElement(&bad), QeltError(2));
    EXPECT_EQ(bag->GetElements("point")->GetCount(), 1);
    EXPECT_EQ(bag->AddElement(static_cast<const IBaggable*>(nullptr)), VE_OK);
    EXPECT_EQ(good.LoadFromBag(*bag), VE_OK);
    EXPECT_EQ(good.LoadFromBagWithLoader(*bag, nullptr), VE_OK);
}

}  // namespace qelt
