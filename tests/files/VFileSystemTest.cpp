#include "files/VFile.h"
#include "files/VFileSystem.h"
#include "files/VFileSystemNamespace.h"
#include "files/VFolder.h"
#include "json/VJSONArray.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"
#include "process/VProcess.h"

#include "FolderTestSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace qelt;
using qelt::test::Codes;
using qelt::test::FolderAt;
using qelt::test::PosixToPath;

namespace {

std::string PosixOf(const IFileSystemObject* inObject)
{
    VString text;
    inObject->GetPlatformPath(text, FPS_POSIX);
    return to_string(text);
}

VJSONValue Entry(const char* name, const char* path, const char* parent, VJSONValue writable)
{
    VJSONObject* object = new VJSONObject();
    if (name)
        object->SetProperty(VString("name"), VJSONValue(VString(name)));
    if (path)
        object->SetProperty(VString("path"), VJSONValue(VString(path)));
    if (parent)
        object->SetProperty(VString("parent"), VJSONValue(VString(parent)));
    object->SetProperty(VString("writable"), writable);
    VJSONValue value(object);
    object->Release();
    return value;
}

}  // namespace

TEST(VFileSystem, NamesQuotaAndWritableFlag)
{
    VRefPtr<VFolder> root = FolderAt(qelt::test::MakeTempFolder("fs-quota"));
    for (const char* bad : {"a/b", ""}) {
        StErrorContextInstaller errors;
        VError err = 0;
        EXPECT_EQ(VFileSystem::Create(VString(bad), root.Get(), 0, 0, 0, &err), nullptr) << bad;
        EXPECT_EQ(err, QeltError(686)) << bad;
        EXPECT_EQ(qelt::test::LastParameter(errors, "name"), bad);
    }
    VRefPtr<VFileSystem> dotted = AdoptRef(VFileSystem::Create(VString(".DATA"), root.Get(), 0));
    EXPECT_NE(dotted.Get(), nullptr);

    VRefPtr<VFileSystem> fs = AdoptRef(VFileSystem::Create(VString("Q"), root.Get(), kFileSystemWritable, 100, 40));
    EXPECT_EQ(fs->Request(60), VE_OK);
    EXPECT_EQ(fs->Request(1), QeltError(685));
    EXPECT_EQ(fs->Relinquish(10), VE_OK);
    EXPECT_EQ(fs->Request(10), VE_OK);
    EXPECT_EQ(fs->Relinquish(500), VE_OK);
    EXPECT_EQ(fs->GetAvailable(), 100u);  // never more than the quota

    // More in use than the quota leaves nothing available, never a huge figure.
    VRefPtr<VFileSystem> over = AdoptRef(VFileSystem::Create(VString("O"), root.Get(), kFileSystemWritable, 100, 140));
    EXPECT_EQ(over->GetAvailable(), 0u);
    EXPECT_EQ(over->Request(1), QeltError(685));

    VRefPtr<VFileSystem> readOnly = AdoptRef(VFileSystem::Create(VString("R"), root.Get(), 0, 100, 0));
    EXPECT_EQ(readOnly->Request(1), QeltError(684));
    EXPECT_EQ(readOnly->Relinquish(1), QeltError(684));
}

TEST(VFileSystem, TemporaryFileSystemDeletesItsRoot)
{
    std::string root = qelt::test::MakeTempFolder("fs-temp") + "/scratch";
    mkdir(root.c_str(), 0755);
    qelt::test::WriteText(root + "/f", "f");
    VFileSystem* fs = VFileSystem::Create(VString("T"), FolderAt(root).Get(), kFileSystemTemporary);
    fs->Release();
    struct stat st;
    EXPECT_NE(stat(root.c_str(), &st), 0);
}

TEST(VFileSystemNamespace, RegistrationLookupsAndParentChain)
{
    VRefPtr<VFolder> root = FolderAt(qelt::test::MakeTempFolder("ns"));
    VRefPtr<VFileSystemNamespace> parent = AdoptRef(new VFileSystemNamespace(nullptr));
    VRefPtr<VFileSystemNamespace> child = AdoptRef(new VFileSystemNamespace(parent.Get()));
    EXPECT_EQ(parent->RegisterFileSystem(VString("UP"), root.Get(), 0), VE_OK);
    EXPECT_EQ(child->RegisterFileSystem(VString("SECRET"), root.Get(), kFileSystemPrivate), VE_OK);
    EXPECT_EQ(child->RegisterFileSystem(VString("DATA"), root.Get(), kFileSystemWritable), VE_OK);

    struct Case {
        const char* name;
        unsigned int options;
        bool found;
    } cases[] = {
        {"SECRET", 0, true}, {"SECRET", kFileSystemPublicOnly, false}, {"UP", 0, false},
        {"UP", kFileSystemSearchParents, true}, {"data", 0, false}, {"DATA", 3, true},
    };
    for (const Case& c : cases) {
        VRefPtr<VFileSystem> fs = AdoptRef(child->RetainFileSystem(VString(c.name), c.options));
        EXPECT_EQ(fs.Get() != nullptr, c.found) << c.name << " options " << c.options;
    }

    // A second registration under a name replaces the first.
    VRefPtr<VFileSystem> first = AdoptRef(child->RetainFileSystem(VString("DATA")));
    EXPECT_EQ(child->RegisterFileSystem(VString("DATA"), root.Get(), 0), VE_OK);
    VRefPtr<VFileSystem> second = AdoptRef(child->RetainFileSystem(VString("DATA")));
    EXPECT_NE(first.Get(), second.Get());
    EXPECT_FALSE(second->IsWritable());

    VFileSystemMap map;
    child->RetainMapOfFileSystems(map, kFileSystemSearchParents | kFileSystemPublicOnly);
    EXPECT_EQ(map.size(), 2u);
    EXPECT_EQ(map.count(VString("SECRET")), 0u);
    child->UnregisterFileSystem(VString("DATA"));
    EXPECT_EQ(VRefPtr<VFileSystem>(AdoptRef(child->RetainFileSystem(VString("DATA")))).Get(), nullptr);
}

TEST(VFileSystemNamespace, PathsWithFileSystemStayInsideTheRoot)
{
    std::string rootText = qelt::test::MakeTempFolder("ns-paths");
    mkdir((rootText + "/docs").c_str(), 0755);
    qelt::test::WriteText(rootText + "/docs/a.txt", "a");
    VRefPtr<VFileSystemNamespace> space = AdoptRef(new VFileSystemNamespace(nullptr));
    space->RegisterFileSystem(VString("DATA"), FolderAt(rootText).Get(), kFileSystemWritable);

    struct Case {
        const char* text;
        bool parsed;
        const char* relative;
    } cases[] = {
        {"/DATA/docs/a.txt", true, "docs/a.txt"}, {"/DATA/", true, ""},      {"/DATA", false, ""},
        {"DATA/docs", false, ""},                 {"/DATA/../x", false, ""}, {"/DATA/docs/../../x", false, ""},
        {"/NONE/x", false, ""},                   {"//x", false, ""},        {"/DATA/docs/./b/../a.txt", true, "docs/a.txt"},
    };
    for (const Case& c : cases) {
        VRefPtr<VFileSystem> fs;
        VString relative;
        EXPECT_EQ(space->ParsePathWithFileSystem(VString(c.text), fs, relative), c.parsed) << c.text;
        if (c.parsed) {
            EXPECT_EQ(to_string(fs->GetName()), "DATA") << c.text;
            EXPECT_EQ(to_string(relative), c.relative) << c.text;
        }
    }

    VRefPtr<IFile> asFile = AdoptRef(space->RetainFile(VString("/DATA/docs/"), nullptr, 0, true));
    EXPECT_EQ(asFile.Get(), nullptr);
    VRefPtr<IFolder> docs = AdoptRef(space->RetainFolder(VString("/DATA/docs/"), nullptr, 0, true));
    ASSERT_NE(docs.Get(), nullptr);
    EXPECT_EQ(PosixOf(docs.Get()), rootText + "/docs/");
    EXPECT_EQ(to_string(docs->GetPathWithFileSystem()), "/DATA/docs/");
    VRefPtr<IFile> file = AdoptRef(space->RetainFile(VString("/DATA/docs/a.txt"), nullptr, 0, false));
    ASSERT_NE(file.Get(), nullptr);
    EXPECT_NE(file->GetFileSystem(), nullptr);
    EXPECT_TRUE(file->Exists());
    EXPECT_EQ(to_string(file->GetPathWithFileSystem()), "/DATA/docs/a.txt");

    // Relative texts go against the base; plain texts only with the flag.
    VRefPtr<IFile> relative = AdoptRef(space->RetainFile(VString("a.txt"), docs.Get(), 0, false));
    ASSERT_NE(relative.Get(), nullptr);
    EXPECT_TRUE(relative->Exists());
    EXPECT_EQ(VRefPtr<IFile>(AdoptRef(space->RetainFile(VString("../../x"), docs.Get(), 0, false))).Get(), nullptr);
    VRefPtr<IFile> plain = AdoptRef(space->RetainFile(VString("/tmp/x.txt"), nullptr, 0, true));
    ASSERT_NE(plain.Get(), nullptr);
    EXPECT_EQ(plain->GetFileSystem(), nullptr);
    EXPECT_EQ(VRefPtr<IFile>(AdoptRef(space->RetainFile(VString("/tmp/x.txt"), nullptr, 0, false))).Get(), nullptr);
    EXPECT_EQ(VRefPtr<IFolder>(AdoptRef(space->RetainFolder(VString("/tmp/x"), nullptr, 0, true))).Get(), nullptr);
    EXPECT_EQ(VRefPtr<IFolder>(AdoptRef(space->RetainFolder(VString(), nullptr, 0, true))).Get(), nullptr);
}

TEST(VFileSystemNamespace, DefinitionEntriesLoadOneByOne)
{
    std::string base = qelt::test::MakeTempFolder("ns-load");
    VRefPtr<VFileSystemNamespace> space = AdoptRef(new VFileSystemNamespace(nullptr));
    VRefPtr<VJSONArray> entries = AdoptRef(new VJSONArray());
    entries->Push(VJSONValue(VString("not an object")));
    entries->Push(Entry("Shared", (base + "/shared").c_str(), nullptr, VJSONValue(JSON_true)));
    entries->Push(Entry("Orphan", "x", "Missing", VJSONValue(JSON_true)));
    entries->Push(Entry("Sub", "inner", "Shared", VJSONValue(VString("true"))));
    entries->Push(Entry("Escape", "../../etc", "Shared", VJSONValue(JSON_true)));
    entries->Push(Entry("bad/name", "/tmp", nullptr, VJSONValue(JSON_false)));
    entries->Push(Entry("Last", "/opt\\", nullptr, VJSONValue(JSON_null)));

    StErrorContextInstaller errors;
    EXPECT_EQ(space->LoadFromJSONArray(entries.Get()), VE_OK);
    EXPECT_EQ(Codes(errors), std::vector<VError>{QeltError(686)});

    VRefPtr<VFileSystem> shared = AdoptRef(space->RetainFileSystem(VString("Shared")));
    ASSERT_NE(shared.Get(), nullptr);
    EXPECT_TRUE(shared->IsWritable());
    VRefPtr<IFolder> sharedRoot = AdoptRef(shared->RetainRootFolder());
    EXPECT_EQ(PosixOf(sharedRoot.Get()), base + "/shared/");
    VRefPtr<VFileSystem> sub = AdoptRef(space->RetainFileSystem(VString("Sub")));
    ASSERT_NE(sub.Get(), nullptr);
    EXPECT_FALSE(sub->IsWritable());  // "true" as text is not a boolean
    VRefPtr<IFolder> subRoot = AdoptRef(sub->RetainRootFolder());
    EXPECT_EQ(PosixOf(subRoot.Get()), base + "/shared/inner/");
    for (const char* skipped : {"Orphan", "Escape", "bad/name"})
        EXPECT_EQ(VRefPtr<VFileSystem>(AdoptRef(space->RetainFileSystem(VString(skipped)))).Get(), nullptr)
            << skipped;
    EXPECT_NE(VRefPtr<VFileSystem>(AdoptRef(space->RetainFileSystem(VString("Last")))).Get(), nullptr);
    EXPECT_EQ(space->LoadFromJSONArray(nullptr), VE_OK);
}

TEST(VFileSystemNamespace, ProcessStartsWithTheBuiltInFileSystems)
{
    ASSERT_NE(VProcess::sInstance, nullptr);
    VFileSystemNamespace* space = VProcess::sInstance->GetFileSystemNamespace();
    ASSERT_NE(space, nullptr);
    VRefPtr<VFileSystem> home = AdoptRef(space->RetainFileSystem(VString(".USER_HOME_DIRECTORY")));
    ASSERT_NE(home.Get(), nullptr);
    EXPECT_EQ(home->GetFlags(), kFileSystemPrivate);
    VString homeRoot;
    home->GetRoot().GetPosixPath(homeRoot);
    EXPECT_EQ(to_string(homeRoot), std::string(getenv("HOME")) + "/Documents/");
    EXPECT_EQ(VRefPtr<VFileSystem>(AdoptRef(space->RetainFileSystem(VString(".USER_HOME_DIRECTORY"), 1))).Get(),
              nullptr);
    VRefPtr<VFileSystem> resources = AdoptRef(space->RetainFileSystem(VString(".PRODUCT_RESOURCES")));
    ASSERT_NE(resources.Get(), nullptr);
    VRefPtr<VFolder> rsrc = AdoptRef(VProcess::sInstance->RetainFolder(FourCC("RSRC")));
    ASSERT_NE(rsrc.Get(), nullptr);
    EXPECT_TRUE(resources->IsAuthorized(rsrc->GetPath()));
    EXPECT_EQ(VProcess::sInstance->RetainFolder(FourCC("none")), nullptr);

    // Files of the program's folders: exact name first, then without regard to case.
    VRefPtr<VFolder> exec = AdoptRef(VProcess::sInstance->RetainFolder(FourCC("EXEC")));
    ASSERT_NE(exec.Get(), nullptr);
    EXPECT_TRUE(exec->Exists());
    VRefPtr<VFile> self = AdoptRef(VProcess::sInstance->RetainFile(FourCC("EXEC"), VString("TEST_FILES")));
    ASSERT_NE(self.Get(), nullptr);
    VString name;
    self->GetName(name);
    EXPECT_EQ(to_string(name), "test_files");
    EXPECT_EQ(VProcess::sInstance->RetainFile(FourCC("EXEC"), VString("no-such-file")), nullptr);
}

TEST(VFileSystemNamespace, DefinitionFileRegistersOrFailsWhole)
{
    std::string base = qelt::test::MakeTempFolder("ns-file");
    qelt::test::WriteText(base + "/good.json",
                          "[{\"name\": \"Shared\", \"path\": \"" + base + "/shared\", \"writable\": true}]");
    qelt::test::WriteText(base + "/bad.json", "[{\"name\": \"Broken\", \"path\": ");
    VRefPtr<VFileSystemNamespace> space = AdoptRef(new VFileSystemNamespace(nullptr));
    VRefPtr<VFile> good = AdoptRef(new VFile(PosixToPath(base + "/good.json")));
    EXPECT_EQ(space->LoadFromDefinitionFile(good.Get()), VE_OK);
    VRefPtr<VFileSystem> shared = AdoptRef(space->RetainFileSystem(VString("Shared")));
    ASSERT_NE(shared.Get(), nullptr);
    EXPECT_TRUE(shared->IsWritable());
    VString root;
    shared->GetRoot().GetPosixPath(root);
    EXPECT_EQ(to_string(root), base + "/shared/");

    StErrorContextInstaller errors;
    VRefPtr<VFile> bad = AdoptRef(new VFile(PosixToPath(base + "/bad.json")));
    EXPECT_NE(space->LoadFromDefinitionFile(bad.Get()), VE_OK);
    EXPECT_EQ(errors.GetLastError(), QeltError(687));
    EXPECT_FALSE(qelt::test::LastParameter(errors, "path").empty());
    VFileSystemMap map;
    space->RetainMapOfFileSystems(map);
    EXPECT_EQ(map.size(), 1u);
    EXPECT_EQ(space->LoadFromDefinitionFile(nullptr), QeltError(1));
}
