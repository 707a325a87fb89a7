// Type identifiers read from a property list: the declarations, their links,
// the tag queries and the conformance of files. The same fixture is read by
// the platform's Info.plist reader, which keeps only its top-level values.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "TestSupport.h"
#include "XMLTestSupport.h"
#include "files/VFile.h"
#include "platform/PlatBundle.h"
#include "xml/VUTI.h"
#include "xml/VUTIManager.h"

using namespace qelt;
using qelt::test::Utf8;

namespace {

const std::string kFixture = std::string(QELT_TEST_DATA) + "/xml/TypeDeclarations.plist";

VFile FixtureFile()
{
    return VFile(VString(kFixture.c_str()), FPS_POSIX);
}

VUTI* Find(VUTIManager& inManager, const char* inID)
{
    auto found = inManager.GetUTIs().find(VString(inID));
    return found != inManager.GetUTIs().end() ? found->second : nullptr;
}

std::string Join(const std::vector<VString>& inTexts)
{
    std::string out;
    for (const VString& text : inTexts)
        out += Utf8(text) + ";";
    return out;
}

std::string Preferred(VUTIManager& inManager, const char* inClass, const char* inTag, const char* inFilter = "")
{
    VRefPtr<VUTI> type =
        AdoptRef(inManager.UTTypeCreatePreferredIdentifierForTag(VString(inClass), VString(inTag), VString(inFilter)));
    return type ? Utf8(type->GetIdentifier()) : "<none>";
}

}  // namespace

TEST(UTI, ThePlatformReaderSeesTheTopLevelValuesOnly)
{
    plat::PlistValues values;
    ASSERT_TRUE(plat::ReadPlistFile(kFixture, values));
    EXPECT_EQ(values["CFBundleExecutable"], "Sample");
    EXPECT_EQ(values["CFBundleShortVersionString"], "2.5");
    EXPECT_EQ(values.count("UTExportedTypeDeclarations"), 0u);
}

TEST(UTI, DeclarationsAreReadAndLinked)
{
    VRefPtr<VUTIManager> manager = AdoptRef(new VUTIManager);
    VFile file = FixtureFile();
    ASSERT_TRUE(manager->LoadXMLFile(&file));
    EXPECT_EQ(manager->GetUTIsCount(), 6u);

    VUTI* child = Find(*manager, "com.example.child");
    VUTI* parent = Find(*manager, "com.example.parent");
    ASSERT_NE(child, nullptr);
    ASSERT_NE(parent, nullptr);
    EXPECT_EQ(Utf8(child->GetDescription()), "Child document");
    // The first declaration of an identifier wins; repeated texts join.
    EXPECT_EQ(Utf8(parent->GetDescription()), "Parent document");
    EXPECT_EQ(Join(child->GetExtensionsVector()), "chd;child;");
    EXPECT_EQ(Join(child->GetMIMETypesVector()), "application/x-child;");
    EXPECT_EQ(Join(parent->GetExtensionsVector()), "par;");

    // A parent declared later replaces its placeholder; an undeclared one
    // stays a placeholder that conformance ignores. A single string under
    // "UTTypeConformsTo" gives no parent.
    EXPECT_TRUE(child->IsParent(parent));
    EXPECT_TRUE(parent->IsChild(child));
    EXPECT_TRUE(child->ConformsToIdentifier(VString("com.example.parent")));
    EXPECT_FALSE(child->ConformsToIdentifier(VString("com.example.undeclared")));
    EXPECT_TRUE(child->GetParentUTIsMap().at(VString("com.example.undeclared"))->IsTemporary());
    EXPECT_TRUE(parent->GetParentUTIsMap().empty());
    std::vector<VString> extensions;
    child->GetAllExtensionsVector(extensions);
    EXPECT_EQ(Join(extensions), "chd;child;par;");

    // Mutually conforming types are linked one way only.
    VUTI* a = Find(*manager, "com.example.mutual-a");
    VUTI* b = Find(*manager, "com.example.mutual-b");
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a->IsParent(b), b->IsParent(a));
    EXPECT_FALSE(a->IsParent(a));
    EXPECT_FALSE(b->IsParent(b));
    EXPECT_TRUE(a->ConformsToExtension(VString("mut")) || b->ConformsToExtension(VString("mut")));
}

TEST(UTI, TagsFindTheirTypes)
{
    VRefPtr<VUTIManager> manager = AdoptRef(new VUTIManager);
    VFile file = FixtureFile();
    ASSERT_TRUE(manager->LoadXMLFile(&file));

    struct Case {
        const char* tagClass;
        const char* tag;
        const char* filter;
        const char* expected;
    };
    const Case cases[] = {
        {kUTTagClassFilenameExtension, "chd", "", "com.example.child"},
        {kUTTagClassFilenameExtension, "CHILD", "", "com.example.child"},
        // The child declares no "par": asking for it finds the parent.
        {kUTTagClassFilenameExtension, "par", "", "com.example.parent"},
        // Public types are preferred; a filter nobody meets finds nothing.
        {kUTTagClassFilenameExtension, "shr", "", "public.shared"},
        {kUTTagClassFilenameExtension, "shr", "com.example.other", "<none>"},
        {kUTTagClassMIMEType, "application/x-family", "", "com.example.parent"},
        {"other.class", "chd", "", "<none>"},
        {kUTTagClassFilenameExtension, "", "", "<none>"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Preferred(*manager, c.tagClass, c.tag, c.filter), c.expected) << c.tag << " " << c.filter;

    std::vector<VUTI*>* all = manager->UTTypeCreateAllIdentifiersForTag(VString(kUTTagClassMIMEType),
                                                                        VString("application/x-family"), VString());
    ASSERT_NE(all, nullptr);
    std::vector<VString> ids;
    for (VUTI* type : *all) {
        ids.push_back(type->GetIdentifier());
        type->Release();
    }
    delete all;
    EXPECT_EQ(Join(ids), "com.example.child;com.example.parent;");
    EXPECT_EQ(manager->UTTypeCreateAllIdentifiersForTag(VString(kUTTagClassMIMEType), VString(), VString()), nullptr);
}

TEST(UTI, AFileConformsByItsExtension)
{
    VRefPtr<VUTIManager> manager = AdoptRef(new VUTIManager);
    VFile fixture = FixtureFile();
    ASSERT_TRUE(manager->LoadXMLFile(&fixture));
    const std::string folder = qelt::test::MakeTempFolder("uti");
    std::ofstream(folder + "/doc.chd") << "x";
    VFile document(VString((folder + "/doc.chd").c_str()), FPS_POSIX);
    VFile missing(VString((folder + "/missing.chd").c_str()), FPS_POSIX);
    EXPECT_TRUE(manager->UTTypeConformsTo(&document, VString("com.example.parent")));
    EXPECT_FALSE(manager->UTTypeConformsTo(&document, VString("public.shared")));
    EXPECT_FALSE(manager->UTTypeConformsTo(&missing, VString("com.example.parent")));
    EXPECT_FALSE(manager->UTTypeConformsTo(nullptr, VString("com.example.parent")));
    EXPECT_FALSE(manager->LoadXMLFile(&missing));
}

TEST(UTI, TheSingletonIsMadeOnceAndMadeAgainAfterDeInit)
{
    VUTIManager* first = VUTIManager::GetUTIManager();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(VUTIManager::GetUTIManager(), first);
    const size_t count = first->GetUTIsCount();
    VRefPtr<VUTI> marker = AdoptRef(new VUTI);
    marker->SetIdentifier(VString("com.example.singleton-marker"));
    ASSERT_TRUE(first->AddNewUTI(marker.Get()));
    EXPECT_EQ(first->GetUTIsCount(), count + 1);

    // DeInit drops the manager; the next call makes a fresh, empty one
    // (its address may be the old one's again, so the marker tells them apart).
    EXPECT_TRUE(VUTIManager::DeInit());
    VUTIManager* second = VUTIManager::GetUTIManager();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->GetUTIsCount(), 0u);
    EXPECT_EQ(second->GetLocalizationManager(), nullptr);
    EXPECT_EQ(VUTIManager::GetUTIManager(), second);
    EXPECT_TRUE(VUTIManager::DeInit());
    EXPECT_TRUE(VUTIManager::DeInit());  // nothing left to drop
    EXPECT_NE(VUTIManager::GetUTIManager(), nullptr);
}
