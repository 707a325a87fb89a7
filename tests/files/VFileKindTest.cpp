#include <gtest/gtest.h>

#include "files/VFileKind.h"
#include "files/VFileKindManager.h"
#include "files/VResourceFile.h"
#include "kernel/StStringConverter.h"
#include "kernel/VString.h"
#include "values/VArrayString.h"

namespace qelt {

namespace {

std::vector<VString> List(std::initializer_list<const char*> items)
{
    std::vector<VString> out;
    for (const char* item : items)
        out.emplace_back(item);
    return out;
}

}  // namespace

TEST(VFileKindManager, PublicKindsAreBuiltOnceAndShared)
{
    VFileKindManager* manager = VFileKindManager::Get();
    ASSERT_NE(manager, nullptr);
    VRefPtr<VFileKind> first = AdoptRef(manager->RetainFileKind(VString("public.jpeg")));
    VRefPtr<VFileKind> second = AdoptRef(manager->RetainFileKind(VString("public.jpeg")));
    ASSERT_TRUE(first);
    EXPECT_EQ(first.Get(), second.Get());
    EXPECT_TRUE(first->IsPublic());
    VString text;
    EXPECT_TRUE(first->GetPreferredExtension(text));
    EXPECT_EQ(to_string(text), "jpeg");
    text = "x";
    EXPECT_FALSE(first->GetPreferredOsKind(text));
    EXPECT_TRUE(text.IsEmpty());
    EXPECT_TRUE(first->ConformsTo(VString("public.image")));
    EXPECT_TRUE(first->ConformsTo(VString("public.data")));
    EXPECT_FALSE(first->ConformsTo(VString("public.text")));
    EXPECT_FALSE(first->ConformsTo(VString("com.example.unknown")));
    EXPECT_EQ(manager->RetainFileKind(VString("com.example.unknown")), nullptr);
}

TEST(VFileKindManager, PrivateKindsShadowAndAreFoundByExtensionAndOsKind)
{
    VFileKindManager* manager = VFileKindManager::Get();
    manager->RegisterPrivateFileKind(VString("com.example.doc"), List({"DOCX"}), VString("Example"),
                                     List({"exd", "exdoc"}), List({"public.data"}));
    VRefPtr<VFileKind> kind = AdoptRef(manager->RetainFirstFileKindMatchingWithExtension(VString("exdoc")));
    ASSERT_TRUE(kind);
    EXPECT_EQ(to_string(kind->GetID()), "com.example.doc");
    EXPECT_FALSE(kind->IsPublic());
    VRefPtr<VFileKind> byOs = AdoptRef(manager->RetainFirstFileKindMatchingWithOsKind(VString("DOCX")));
    EXPECT_EQ(byOs.Get(), kind.Get());
    EXPECT_EQ(manager->RetainFirstFileKindMatchingWithOsKind(VString("docx")), nullptr);
    std::vector<VString> parents;
    EXPECT_TRUE(kind->GetParentIDs(parents));
    EXPECT_EQ(parents.size(), 1u);

    // Registering again under the same identifier replaces the kind.
    manager->RegisterPrivateFileKind(VString("com.example.doc"), VString("Other"), List({"exo"}), {});
    VRefPtr<VFileKind> replaced = AdoptRef(manager->RetainFileKind(VString("com.example.doc")));
    EXPECT_EQ(to_string(replaced->GetDescription()), "Other");
    EXPECT_FALSE(replaced->GetParentIDs(parents));
    EXPECT_TRUE(parents.empty());

    // An extension the manager has not seen is looked up among the public kinds.
    VRefPtr<VFileKind> png = AdoptRef(manager->RetainFirstFileKindMatchingWithExtension(VString("png")));
    ASSERT_TRUE(png);
    EXPECT_EQ(to_string(png->GetID()), "public.png");
    EXPECT_EQ(manager->RetainFirstFileKindMatchingWithExtension(VString("nosuchext")), nullptr);
}

TEST(VFileKindManager, LocalizedStringsOfIndexZeroAndOneOnly)
{
    VFileKindManager* manager = VFileKindManager::Get();
    VString text("unchanged");
    manager->GetLocalizedString(2, text);
    EXPECT_EQ(to_string(text), "unchanged");
    manager->GetLocalizedString(0, text);
    EXPECT_EQ(to_string(text), "All");
    manager->RegisterLocalizedString(1, VString());
    manager->RegisterLocalizedString(5, VString("x"));
    manager->GetLocalizedString(1, text);
    EXPECT_EQ(to_string(text), "All readable documents");
    manager->RegisterLocalizedString(1, VString("Documents"));
    manager->GetLocalizedString(1, text);
    EXPECT_EQ(to_string(text), "Documents");
    manager->RegisterLocalizedString(1, VString("All readable documents"));
}

namespace {

// Two string lists: number 7 ("STR#" named "greetings") with two strings,
// number 9 with none.
class TestResourceFile : public VResourceFile {
public:
    bool* fReleased = nullptr;
    void DoReleaseWork() override { *fReleased = true; }
    VError GetResourceIDByName(const VString& inType, const VString& inName, int* outID) const override
    {
        if (to_string(inType) == "STR#" && to_string(inName) == "greetings") {
            *outID = 7;
            return VE_OK;
        }
        return QeltError(401);
    }
    bool GetStringFromList(VString& out, int inListID, int inIndex) const override
    {
        if (inListID != 7 || inIndex > 2)
            return false;
        out = (inIndex == 1) ? VString("hello") : VString("bye");
        return true;
    }
    bool NeedsReleaseWork() const override { return true; }
};

}  // namespace

TEST(VResourceFile, StringListsByNumberAndByName)
{
    bool released = false;
    VRefPtr<TestResourceFile> file = AdoptRef(new TestResourceFile);
    file->fReleased = &released;
    VArrayString list;
    ASSERT_TRUE(file->GetStringList(VString("greetings"), list));
    ASSERT_EQ(list.GetCount(), 2);
    EXPECT_TRUE(file->GetStringList(9, list));
    EXPECT_EQ(list.GetCount(), 0);
    list.AppendString(VString("kept"));
    EXPECT_FALSE(file->GetStringList(VString("missing"), list));
    EXPECT_EQ(list.GetCount(), 1);
    file = nullptr;
    EXPECT_TRUE(released);
}

}  // namespace qelt
