#include "files/VFile.h"
#include "files/VFileIterator.h"
#include "files/VFileSystem.h"
#include "files/VFolder.h"
#include "kernel/VIntlMgr.h"
#include "platform/PlatFaults.h"
#include "values/VTime.h"

#include "FolderTestSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <set>

using namespace qelt;
using qelt::test::Codes;
using qelt::test::FolderAt;
using qelt::test::PosixToPath;
using qelt::test::ReadText;
using qelt::test::WriteText;

namespace {

bool IsThere(const std::string& posix)
{
    struct stat st;
    return lstat(posix.c_str(), &st) == 0;
}

// The entries below a folder, as relative paths ("a/", "a/f", "link@").
std::set<std::string> Tree(const std::string& root)
{
    std::set<std::string> out;
    std::vector<std::string> pending{""};
    while (!pending.empty()) {
        std::string rel = pending.back();
        pending.pop_back();
        plat::FolderLister lister((root + "/" + rel).c_str(), plat::kListFiles | plat::kListFolders | plat::kListInvisible);
        plat::FolderEntry entry;
        while (lister.Next(entry)) {
            struct stat st;
            lstat((root + "/" + rel + entry.name).c_str(), &st);
            if (S_ISLNK(st.st_mode)) {
                out.insert(rel + entry.name + "@");
            } else if (entry.isFolder) {
                out.insert(rel + entry.name + "/");
                pending.push_back(rel + entry.name + "/");
            } else {
                out.insert(rel + entry.name);
            }
        }
    }
    return out;
}

// A small application bundle: Contents/{Info.plist, MacOS/tool (0755)},
// Versions/A/x and the relative link Versions/Current -> A.
std::string MakeBundle(const std::string& parent, const std::string& name)
{
    std::string b = parent + "/" + name;
    mkdir(b.c_str(), 0755);
    mkdir((b + "/Contents").c_str(), 0755);
    mkdir((b + "/Contents/MacOS").c_str(), 0755);
    mkdir((b + "/Versions").c_str(), 0755);
    mkdir((b + "/Versions/A").c_str(), 0755);
    WriteText(b + "/Contents/Info.plist", "<plist/>");
    WriteText(b + "/Contents/MacOS/tool", "#!/bin/sh\n");
    chmod((b + "/Contents/MacOS/tool").c_str(), 0755);
    WriteText(b + "/Versions/A/x", "x");
    symlink("A", (b + "/Versions/Current").c_str());
    WriteText(b + "/.hidden", "h");
    return b;
}

}  // namespace

TEST(VFolder, CopyRefusesTargetsThatAreOrHoldTheSource)
{
    std::string root = qelt::test::MakeTempFolder("copy-refuse");
    std::string source = MakeBundle(root, "App.app");
    mkdir((root + "/elsewhere").c_str(), 0755);
    symlink((source + "/Contents").c_str(), (root + "/elsewhere/into").c_str());
    const std::set<std::string> before = Tree(source);
    VRefPtr<VFolder> folder = FolderAt(source);

    struct Case {
        const char* what;
        std::string destination;
        const char* name;
        unsigned int options;
    } cases[] = {
        {"into itself", source, "copy", 0},
        {"into a subfolder", source + "/Contents", "copy", kFolderCopyReplace},
        {"over itself, replacing", root, "App.app", kFolderCopyReplace},
        {"through a link into itself", root + "/elsewhere/into", "copy", kFolderCopyReplace},
        {"over its own parent", root + "/..", "", kFolderCopyReplace},
    };
    for (const Case& c : cases) {
        VRefPtr<VFolder> destination = FolderAt(c.destination);
        VString name(c.name);
        if (name.IsEmpty())
            FolderAt(root)->GetName(name);
        StErrorContextInstaller errors;
        VFolder* copy = reinterpret_cast<VFolder*>(1);
        EXPECT_EQ(folder->CopyTo(*destination, name, &copy, c.options), QeltError(660)) << c.what;
        EXPECT_EQ(copy, nullptr) << c.what;
        EXPECT_EQ(qelt::test::LastParameter(errors, "destination").empty(), false) << c.what;
        EXPECT_EQ(Tree(source), before) << c.what;
    }
    // The contents copy checks before it creates anything.
    StErrorContextInstaller errors;
    VRefPtr<VFolder> inside = FolderAt(source + "/newsub");
    EXPECT_EQ(folder->CopyContentsTo(*inside, 0), QeltError(660));
    EXPECT_FALSE(IsThere(source + "/newsub"));
}

TEST(VFolder, ReplacingCopyLeavesExactlyTheSourceTreeWithLinksModesAndTimes)
{
    std::string root = qelt::test::MakeTempFolder("copy-replace");
    std::string source = MakeBundle(root, "New.app");
    struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
    utimensat(AT_FDCWD, (source + "/Versions/A/x").c_str(), times, 0);
    mkdir((root + "/dest").c_str(), 0755);
    std::string target = MakeBundle(root + "/dest", "Old.app");
    WriteText(target + "/stale", "old");

    VRefPtr<VFolder> destination = FolderAt(root + "/dest");
    VFolder* copy = nullptr;
    EXPECT_EQ(FolderAt(source)->CopyTo(*destination, VString("Old.app"), &copy, kFolderCopyReplace), VE_OK);
    VRefPtr<VFolder> held = AdoptRef(copy);
    ASSERT_NE(copy, nullptr);
    EXPECT_TRUE(copy->Exists());
    EXPECT_EQ(Tree(target), Tree(source));
    char link[64] = {};
    ASSERT_GT(readlink((target + "/Versions/Current").c_str(), link, sizeof(link) - 1), 0);
    EXPECT_STREQ(link, "A");
    struct stat st;
    ASSERT_EQ(stat((target + "/Contents/MacOS/tool").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    ASSERT_EQ(stat((target + "/Versions/A/x").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);
    // Nothing temporary is left beside the target.
    EXPECT_EQ(Tree(root + "/dest").count("Old.app/"), 1u);
    for (const std::string& entry : Tree(root + "/dest"))
        EXPECT_EQ(entry.rfind("Old.app", 0), 0u) << entry;
}

TEST(VFolder, CopyWithoutReplaceMergesAndKeepsExistingFiles)
{
    std::string root = qelt::test::MakeTempFolder("copy-merge");
    std::string source = MakeBundle(root, "Src");
    mkdir((root + "/Dst").c_str(), 0755);
    WriteText(root + "/Dst/mine", "mine");
    mkdir((root + "/Dst/Contents").c_str(), 0755);
    WriteText(root + "/Dst/Contents/Info.plist", "kept");

    VRefPtr<VFolder> parent = FolderAt(root);
    StErrorContextInstaller errors;
    VError err = FolderAt(source)->CopyTo(*parent, VString("Dst"), nullptr, kFolderCopyKeepGoing);
    EXPECT_NE(err, VE_OK);  // the Info.plist present on both sides is not replaced
    EXPECT_EQ(ReadText(root + "/Dst/Contents/Info.plist"), "kept");
    EXPECT_TRUE(IsThere(root + "/Dst/mine"));
    EXPECT_TRUE(IsThere(root + "/Dst/Contents/MacOS/tool"));
    EXPECT_TRUE(IsThere(root + "/Dst/.hidden"));
    char link[64] = {};
    ASSERT_GT(readlink((root + "/Dst/Versions/Current").c_str(), link, sizeof(link) - 1), 0);
    EXPECT_STREQ(link, "A");

    // Visible items only: the dot file stays behind.
    EXPECT_EQ(FolderAt(source)->CopyTo(*parent, VString("Visible"), nullptr, kFolderCopyVisibleOnly), VE_OK);
    EXPECT_TRUE(IsThere(root + "/Visible/Contents/Info.plist"));
    EXPECT_FALSE(IsThere(root + "/Visible/.hidden"));
}

TEST(VFolder, FailedReplacingCopyLeavesTheTargetAsItWas)
{
    if (!plat::kFaultInjection)
        GTEST_SKIP() << "built without fault injection";
    std::string root = qelt::test::MakeTempFolder("copy-fail");
    std::string source = MakeBundle(root, "New.app");
    mkdir((root + "/dest").c_str(), 0755);
    std::string target = MakeBundle(root + "/dest", "App.app");
    WriteText(target + "/old-only", "old");
    const std::set<std::string> before = Tree(target);

    {
        test::StTestFaults faults("write:2+:EIO,copy:2+:EIO");
        StErrorContextInstaller errors;
        VRefPtr<VFolder> destination = FolderAt(root + "/dest");
        EXPECT_NE(FolderAt(source)->CopyTo(*destination, VString("App.app"), nullptr, kFolderCopyReplace), VE_OK);
    }
    EXPECT_EQ(Tree(target), before);
    EXPECT_EQ(Tree(root + "/dest").size(), before.size() + 1);  // nothing left beside it
}

TEST(VFolder, ForcedDeletionRemovesReadOnlyItemsAndKeepsTheParentMode)
{
    std::string root = qelt::test::MakeTempFolder("forced");
    std::string tree = root + "/tree";
    mkdir(tree.c_str(), 0755);
    mkdir((tree + "/sub").c_str(), 0755);
    WriteText(tree + "/sub/f", "f");
    chmod((tree + "/sub/f").c_str(), 0400);
    chmod((tree + "/sub").c_str(), 0500);
    chmod(root.c_str(), 0555);
    EXPECT_EQ(FolderAt(tree)->DeleteForced(), VE_OK);
    EXPECT_FALSE(IsThere(tree));
    struct stat st;
    ASSERT_EQ(stat(root.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0555u);
    chmod(root.c_str(), 0755);

    // A failure is reported as a folder error, and the parent is still put back.
    StErrorContextInstaller errors;
    EXPECT_EQ(FolderAt(root + "/missing")->DeleteForced(), QeltError(600));
    EXPECT_EQ(Codes(errors), (std::vector<VError>{PosixError(ENOENT), QeltError(600)}));
}

TEST(VFolder, DeletionOfContentAndOfLinks)
{
    std::string root = qelt::test::MakeTempFolder("delete");
    mkdir((root + "/dotonly").c_str(), 0755);
    WriteText(root + "/dotonly/.DS_Store", "");
    {
        StErrorContextInstaller errors;
        EXPECT_FALSE(FolderAt(root + "/dotonly")->IsEmpty());
        EXPECT_EQ(FolderAt(root + "/dotonly")->Delete(false), QeltError(651));
        EXPECT_EQ(Codes(errors), (std::vector<VError>{QeltError(651), QeltError(651)}));
        EXPECT_TRUE(IsThere(root + "/dotonly/.DS_Store"));
    }
    EXPECT_EQ(FolderAt(root + "/dotonly")->Delete(true), VE_OK);
    EXPECT_FALSE(IsThere(root + "/dotonly"));
    EXPECT_TRUE(FolderAt(root + "/dotonly")->IsEmpty());

    // Delete(true) on a link to a folder removes the link, not the target's content.
    mkdir((root + "/target").c_str(), 0755);
    WriteText(root + "/target/keep", "k");
    symlink("target", (root + "/link").c_str());
    EXPECT_EQ(FolderAt(root + "/link")->Delete(true), VE_OK);
    EXPECT_FALSE(IsThere(root + "/link"));
    EXPECT_EQ(ReadText(root + "/target/keep"), "k");

    // A deep tree goes without recursion.
    std::string deep = root + "/deep";
    std::string path = deep;
    for (int i = 0; i < 150; ++i) {
        mkdir(path.c_str(), 0755);
        path += "/level";
    }
    EXPECT_EQ(FolderAt(deep)->Delete(true), VE_OK);
    EXPECT_FALSE(IsThere(deep));
}

TEST(VFolder, IteratorsSelectEntriesByOptions)
{
    std::string root = qelt::test::MakeTempFolder("iterate");
    mkdir((root + "/dotonly").c_str(), 0755);
    WriteText(root + "/dotonly/.DS_Store", "");
    mkdir((root + "/links").c_str(), 0755);
    mkdir((root + "/links/real").c_str(), 0755);
    symlink("real", (root + "/links/alias").c_str());
    mkfifo((root + "/links/fifo").c_str(), 0644);

    auto files = [](const std::string& folder, unsigned int options) {
        std::set<std::string> names;
        VRefPtr<VFolder> f = FolderAt(folder);
        for (VFileIterator it(f.Get(), options); it.IsValid(); ++it) {
            VString name;
            it->GetName(name);
            names.insert(to_string(name));
        }
        return names;
    };
    auto folders = [](const std::string& folder, unsigned int options) {
        std::set<std::string> names;
        VRefPtr<VFolder> f = FolderAt(folder);
        for (VFolderIterator it(f.Get(), options); it.IsValid(); ++it) {
            VString posix;
            it->GetPlatformPath(posix, FPS_POSIX);
            names.insert(to_string(posix));
        }
        return names;
    };
    const std::string real = root + "/links/real/";
    EXPECT_EQ(files(root + "/dotonly", kIterateFiles), std::set<std::string>{});
    EXPECT_EQ(files(root + "/dotonly", kIterateFiles | kIterateInvisible), std::set<std::string>{".DS_Store"});
    EXPECT_EQ(folders(root + "/links", kIterateFolders), std::set<std::string>{real});
    EXPECT_EQ(folders(root + "/links", kIterateFolders | kIterateResolveLinks), std::set<std::string>{real});
    EXPECT_EQ(files(root + "/links", kIterateFiles), std::set<std::string>{"alias"});
    EXPECT_EQ(files(root + "/links", kIterateFiles | kIterateResolveLinks), std::set<std::string>{});

    VRefPtr<VFolder> links = FolderAt(root + "/links");
    VFolderIterator both(links.Get(), kIterateFolders | kIterateResolveLinks);
    EXPECT_EQ(both.GetPos(), 1);
    ++both;
    EXPECT_EQ(both.GetPos(), 2);
    ++both;
    EXPECT_FALSE(both.IsValid());
    VFileIterator none(FolderAt(root + "/missing").Get(), kIterateFiles);
    EXPECT_EQ(none.GetPos(), 0);
}

TEST(VFolder, IterateWithLinksResolvedSkipsFoldersAlreadyOnTheWalk)
{
    std::string root = qelt::test::MakeTempFolder("cycle");
    mkdir((root + "/a").c_str(), 0755);
    mkdir((root + "/a/b").c_str(), 0755);
    symlink("..", (root + "/a/b/up").c_str());      // back to a
    symlink(root.c_str(), (root + "/a/root").c_str());  // back to the walk's root
    WriteText(root + "/a/b/f", "f");
    std::vector<std::string> seen;
    FolderAt(root)->Iterate(
        [&](IFileAttributeAccessor* accessor) {
            VString posix;
            if (accessor->GetFolder() != nullptr)
                accessor->GetFolder()->GetPlatformPath(posix, FPS_POSIX);
            else
                accessor->GetFile()->GetPlatformPath(posix, FPS_POSIX);
            seen.push_back(to_string(posix).substr(root.size()));
            VTime modified;
            EXPECT_EQ(accessor->GetTime(&modified, nullptr, nullptr), VE_OK);
            EXPECT_FALSE(modified.IsNull());
            return true;
        },
        kIterateRecursive | kIterateFolders | kIterateResolveLinks);
    // Each real folder once; the links lead back onto the walk and are
    // reported, not entered.
    std::multiset<std::string> got(seen.begin(), seen.end());
    EXPECT_EQ(got.count("/a/"), 2u);         // itself, then through b/up
    EXPECT_EQ(got.count("/a/b/"), 1u);
    EXPECT_LE(seen.size(), 4u);
}

TEST(VFolder, RelativesAndFileSystemConfinement)
{
    std::string root = qelt::test::MakeTempFolder("relatives");
    mkdir((root + "/fs").c_str(), 0755);
    VRefPtr<VFolder> rootFolder = FolderAt(root + "/fs");
    VRefPtr<VFileSystem> fs = AdoptRef(VFileSystem::Create(VString("DATA"), rootFolder.Get(), kFileSystemWritable));
    ASSERT_NE(fs.Get(), nullptr);
    VRefPtr<VFolder> fsRoot = AdoptRef(static_cast<VFolder*>(fs->RetainRootFolder()));
    ASSERT_NE(fsRoot.Get(), nullptr);
    EXPECT_EQ(fsRoot->GetFileSystem(), fs.Get());

    VRefPtr<VFolder> two = AdoptRef(fsRoot->RetainRelativeFolder(VString("a/b"), FPS_POSIX));
    ASSERT_NE(two.Get(), nullptr);
    EXPECT_EQ(to_string(two->GetPathWithFileSystem()), "/DATA/a/b/");
    VRefPtr<VFolder> same = AdoptRef(fsRoot->RetainRelativeFolder(VString("a/b/"), FPS_POSIX));
    EXPECT_TRUE(two->IsSameFolder(same.Get()));
    EXPECT_FALSE(two->IsSameFolder(nullptr));
    EXPECT_EQ(VRefPtr<VFolder>(AdoptRef(fsRoot->RetainRelativeFolder(VString("../x"), FPS_POSIX))).Get(), nullptr);
    VFolder outside(*fsRoot, VString("../x"), FPS_POSIX);
    EXPECT_EQ(outside.GetFileSystem(), nullptr);

    EXPECT_EQ(VRefPtr<VFolder>(AdoptRef(fsRoot->RetainParentFolder(true))).Get(), nullptr);
    VRefPtr<VFolder> parent = AdoptRef(fsRoot->RetainParentFolder(false));
    ASSERT_NE(parent.Get(), nullptr);
    EXPECT_EQ(parent->GetFileSystem(), nullptr);

    VString text;
    two->GetPlatformPath(text, static_cast<FilePathStyle>(2));
    EXPECT_TRUE(text.IsEmpty());
    VRefPtr<VFolder> a = AdoptRef(two->RetainParentFolder(false));
    EXPECT_EQ(two->GetURL(text, false), VE_OK);
    EXPECT_EQ(to_string(text), "file://" + root + "/fs/a/b/");
    EXPECT_EQ(two->GetRelativeURL(a.Get(), text, false), VE_OK);
    EXPECT_EQ(to_string(text), "b/");

    // Creation of missing parents, and a rename that never replaces.
    EXPECT_FALSE(two->Exists());
    {
        StErrorContextInstaller errors;
        EXPECT_NE(two->Create(), VE_OK);
    }
    EXPECT_EQ(two->CreateRecursive(true), VE_OK);
    EXPECT_TRUE(two->Exists());
    struct stat st;
    ASSERT_EQ(stat((root + "/fs/a").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0777u);
    mkdir((root + "/fs/a/c").c_str(), 0755);
    StErrorContextInstaller errors;
    VFolder* renamed = reinterpret_cast<VFolder*>(1);
    EXPECT_NE(two->Rename(VString("c"), &renamed), VE_OK);
    EXPECT_EQ(renamed, nullptr);
    EXPECT_EQ(qelt::test::LastParameter(errors, "newname"), "c");
    EXPECT_EQ(two->Rename(VString("d"), &renamed), VE_OK);
    VRefPtr<VFolder> held = AdoptRef(renamed);
    EXPECT_TRUE(renamed->Exists());
    EXPECT_EQ(renamed->GetFileSystem(), fs.Get());
    EXPECT_FALSE(two->Exists());
}

TEST(VFolder, MoveAndTrashGoThroughTheEngine)
{
    std::string root = qelt::test::MakeTempFolder("move");
    mkdir((root + "/a").c_str(), 0755);
    WriteText(root + "/a/f", "f");
    mkdir((root + "/into").c_str(), 0755);
    VRefPtr<VFolder> into = FolderAt(root + "/into");
    VFolder* moved = nullptr;
    EXPECT_EQ(FolderAt(root + "/a")->Move(*into, VString(), &moved), VE_OK);
    VRefPtr<VFolder> held = AdoptRef(moved);
    ASSERT_NE(moved, nullptr);
    EXPECT_EQ(ReadText(root + "/into/a/f"), "f");

    EXPECT_EQ(FolderAt(root + "/missing")->MoveToTrash(), VE_OK);
    EXPECT_EQ(moved->MoveToTrash(), VE_OK);
    EXPECT_FALSE(IsThere(root + "/into/a"));
    std::string trash = std::string(getenv("XDG_DATA_HOME")) + "/Trash/files/a/f";
    EXPECT_EQ(ReadText(trash), "f");
}

TEST(VFolder, LocalizationFoldersAndFilesAsObjects)
{
    std::string root = qelt::test::MakeTempFolder("lproj");
    mkdir((root + "/en.lproj").c_str(), 0755);
    mkdir((root + "/english.lproj").c_str(), 0755);  // found without regard to case
    WriteText(root + "/en.lproj/Strings.xlf", "en");
    WriteText(root + "/english.lproj/strings.XLF", "English");
    VFilePath resources = PosixToPath(root + "/");
    std::vector<VRefPtr<VFolder>> folders;
    EXPECT_TRUE(VIntlMgr::GetLocalizationFoldersWithDialect(1033, resources, folders));
    ASSERT_EQ(folders.size(), 2u);
    EXPECT_TRUE(folders[0]->Exists());
    EXPECT_TRUE(folders[1]->Exists());

    bool found = false;
    VRefPtr<VFile> file = AdoptRef(VIntlMgr::RetainLocalizationFile(resources, VString("Strings.xlf"), 1033, &found));
    EXPECT_TRUE(found);
    ASSERT_NE(file.Get(), nullptr);
    VString posix;
    file->GetPlatformPath(posix, FPS_POSIX);
    EXPECT_EQ(to_string(posix), root + "/english.lproj/strings.XLF");  // the last folder found wins

    EXPECT_EQ(VIntlMgr::RetainLocalizationFile(resources, VString("missing.xlf"), 1033, &found), nullptr);
    EXPECT_TRUE(found);
    std::vector<VRefPtr<VFolder>> none;
    EXPECT_FALSE(VIntlMgr::GetLocalizationFoldersWithDialect(1033, VFilePath(), none));
    EXPECT_EQ(VIntlMgr::RetainLocalizationFile(PosixToPath(root + "/en.lproj/"), VString("x"), 1033, &found),
              nullptr);
    EXPECT_FALSE(found);
}

TEST(VFolder, LinksStandingForFoldersAreResolved)
{
    std::string root = qelt::test::MakeTempFolder("alias");
    mkdir((root + "/real").c_str(), 0755);
    WriteText(root + "/file", "f");
    symlink("real", (root + "/toFolder").c_str());
    symlink("file", (root + "/toFile").c_str());
    symlink("missing", (root + "/dangling").c_str());

    VFolder* folder = FolderAt(root + "/toFolder").Forget();
    EXPECT_EQ(VFolder::ResolveAliasFolder(&folder, false), VE_OK);
    VString posix;
    folder->GetPlatformPath(posix, FPS_POSIX);
    EXPECT_EQ(to_string(posix), root + "/real/");
    folder->Release();

    {
        StErrorContextInstaller errors;
        folder = FolderAt(root + "/toFile").Forget();
        EXPECT_EQ(VFolder::ResolveAliasFolder(&folder, false), QeltError(618));
        folder->Release();
    }
    // With the flag, a link that leads nowhere is deleted and the folder
    // object stays on its own (now free) path.
    VRefPtr<VFolder> parent = FolderAt(root);
    VRefPtr<VFolder> freed = AdoptRef(VFolder::CreateAndResolveAlias(*parent, VString("dangling")));
    ASSERT_NE(freed.Get(), nullptr);
    EXPECT_FALSE(freed->Exists());
    EXPECT_FALSE(IsThere(root + "/dangling"));
    VRefPtr<VFolder> plain = AdoptRef(VFolder::CreateAndResolveAlias(*parent, VString("real")));
    ASSERT_NE(plain.Get(), nullptr);
    EXPECT_TRUE(plain->Exists());
}
