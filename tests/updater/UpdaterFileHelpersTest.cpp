// The updater's file helpers, in process: copying one file or a folder's
// contents while creating the destination, and finding a file by its
// extension, with the errors and path parameters they raise.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "files/FileTestSupport.h"
#include "files/VFileIterator.h"
#include "files/VFolder.h"
#include "updater/UpdaterFileHelpers.h"
#include "updater/UpdaterLog.h"

using namespace qelt;
using qelt::test::Codes;
using qelt::test::LastParameter;
using qelt::test::PosixToPath;
using qelt::test::ReadText;

namespace {

// Writes a file, making its folders first.
void WriteText(const std::string& inPosix, const std::string& inText)
{
    std::filesystem::create_directories(std::filesystem::path(inPosix).parent_path());
    test::WriteText(inPosix, inText);
}

bool IsThere(const std::string& inPosix)
{
    struct stat info;
    return ::lstat(inPosix.c_str(), &info) == 0;
}

// Whether an error parameter names the path, in the toolbox's form or as a
// POSIX path.
bool NamesPath(const std::string& inParameter, const VFilePath& inPath)
{
    VString own;
    inPath.GetPath(own);
    VString posix;
    inPath.GetPosixPath(posix);
    return !inParameter.empty() && (inParameter == to_string(own) || inParameter == to_string(posix));
}

// The errors land on the main task of one process object, started for this
// suite.
class UpdaterFileHelpers : public ::testing::Test {
protected:
    static void SetUpTestSuite() { sProcess = new test::StStartedProcess; }
    static void TearDownTestSuite()
    {
        delete sProcess;
        sProcess = nullptr;
    }
    void SetUp() override
    {
        ASSERT_TRUE(sProcess->IsStarted());
        fDir = test::MakeTempFolder("file_helpers");
    }

    static test::StStartedProcess* sProcess;
    std::string fDir;
};

test::StStartedProcess* UpdaterFileHelpers::sProcess = nullptr;

TEST_F(UpdaterFileHelpers, CopyingAFileCreatesItsMissingFoldersFirst)
{
    WriteText(fDir + "/source.txt", "payload");
    StErrorContextInstaller errors;
    EXPECT_EQ(RobustCopyFile(PosixToPath(fDir + "/source.txt"), PosixToPath(fDir + "/a/b/c/copy.txt"), 0), VE_OK);
    EXPECT_EQ(ReadText(fDir + "/a/b/c/copy.txt"), "payload");
    EXPECT_EQ(ReadText(fDir + "/source.txt"), "payload");
    EXPECT_TRUE(Codes(errors).empty());
}

TEST_F(UpdaterFileHelpers, AFailedFileCopyRaisesEightWithBothPathsAndKeepsWhatWasThere)
{
    WriteText(fDir + "/source.txt", "new");
    WriteText(fDir + "/dest/existing.txt", "old");
    const struct {
        const char* fSource;
        const char* fDestination;
    } cases[] = {
        {"/missing.txt", "/dest/copy.txt"},      // no source
        {"/source.txt", "/dest/existing.txt"},   // a destination that is there already
        {"/source.txt", "/source.txt"},          // onto itself
    };
    for (const auto& c : cases) {
        const VFilePath source = PosixToPath(fDir + c.fSource);
        const VFilePath destination = PosixToPath(fDir + c.fDestination);
        StErrorContextInstaller errors;
        EXPECT_EQ(RobustCopyFile(source, destination, 0), VE_UPD_COPY_FILE_FAILED) << c.fSource << c.fDestination;
        EXPECT_EQ(errors.GetLastError(), VE_UPD_COPY_FILE_FAILED) << c.fSource << c.fDestination;
        EXPECT_TRUE(NamesPath(LastParameter(errors, "srcPath"), source)) << LastParameter(errors, "srcPath");
        EXPECT_TRUE(NamesPath(LastParameter(errors, "dstPath"), destination)) << LastParameter(errors, "dstPath");
    }
    EXPECT_EQ(ReadText(fDir + "/dest/existing.txt"), "old");
    EXPECT_EQ(ReadText(fDir + "/source.txt"), "new");
    EXPECT_FALSE(IsThere(fDir + "/dest/copy.txt"));
}

TEST_F(UpdaterFileHelpers, AFolderThatCannotBeMadeFailsTheFileCopyWithItsPath)
{
    // A file stands where the destination's parent folder should be.
    WriteText(fDir + "/source.txt", "payload");
    WriteText(fDir + "/blocker", "a file");
    const VFilePath destination = PosixToPath(fDir + "/blocker/sub/copy.txt");
    StErrorContextInstaller errors;
    VError error = RobustCopyFile(PosixToPath(fDir + "/source.txt"), destination, 0);
    EXPECT_NE(error, VE_OK);
    EXPECT_NE(error, VE_UPD_COPY_FILE_FAILED);
    EXPECT_EQ(errors.GetLastError(), error);
    EXPECT_TRUE(NamesPath(LastParameter(errors, "path"), PosixToPath(fDir + "/blocker/sub/")))
        << LastParameter(errors, "path");
    EXPECT_EQ(ReadText(fDir + "/blocker"), "a file");
}

TEST_F(UpdaterFileHelpers, CopyingAFolderContentCreatesTheDestinationAndCopiesTheTree)
{
    WriteText(fDir + "/src/top.txt", "top");
    WriteText(fDir + "/src/inner/deep.txt", "deep");
    ASSERT_EQ(::symlink("top.txt", (fDir + "/src/link").c_str()), 0);

    // Both forms: folder objects, and paths.
    for (int form = 0; form < 2; ++form) {
        const std::string target = fDir + (form == 0 ? "/out/objects/" : "/out/paths/");
        StErrorContextInstaller errors;
        if (form == 0) {
            VRefPtr<VFolder> source = AdoptRef(new VFolder(PosixToPath(fDir + "/src/")));
            VRefPtr<VFolder> destination = AdoptRef(new VFolder(PosixToPath(target)));
            EXPECT_TRUE(RobustCopyFolderContent(*source, *destination, 0));
        } else {
            EXPECT_TRUE(RobustCopyFolderContent(PosixToPath(fDir + "/src/"), PosixToPath(target), 0));
        }
        EXPECT_TRUE(Codes(errors).empty()) << form;
        EXPECT_EQ(ReadText(target + "top.txt"), "top") << form;
        EXPECT_EQ(ReadText(target + "inner/deep.txt"), "deep") << form;
        char link[64] = {};
        ASSERT_GT(::readlink((target + "link").c_str(), link, sizeof link - 1), 0) << form;
        EXPECT_EQ(std::string(link), "top.txt") << form;
    }
    EXPECT_EQ(ReadText(fDir + "/src/top.txt"), "top");
}

TEST_F(UpdaterFileHelpers, AMissingSourceFolderGivesSixFiftyWithItsPath)
{
    const VFilePath source = PosixToPath(fDir + "/nothing/");
    StErrorContextInstaller errors;
    EXPECT_FALSE(RobustCopyFolderContent(source, PosixToPath(fDir + "/out/"), 0));
    EXPECT_EQ(errors.GetLastError(), QeltError(650));
    EXPECT_TRUE(NamesPath(LastParameter(errors, "path"), source)) << LastParameter(errors, "path");
    EXPECT_FALSE(IsThere(fDir + "/out"));
}

TEST_F(UpdaterFileHelpers, AFolderCopyThatCannotCreateOrFillItsDestinationFailsWithTheDestinationPath)
{
    WriteText(fDir + "/src/top.txt", "top");
    WriteText(fDir + "/blocker", "a file");
    WriteText(fDir + "/busy/top.txt", "kept");
    const char* destinations[] = {
        "/blocker/out/",  // cannot be created
        "/src/inner/",    // inside the source
        "/busy/",         // holds a file of the same name
    };
    for (const char* name : destinations) {
        const VFilePath destination = PosixToPath(fDir + name);
        StErrorContextInstaller errors;
        EXPECT_FALSE(RobustCopyFolderContent(PosixToPath(fDir + "/src/"), destination, 0)) << name;
        EXPECT_NE(errors.GetLastError(), VE_OK) << name;
        EXPECT_TRUE(NamesPath(LastParameter(errors, "path"), destination)) << name << ": "
                                                                             << LastParameter(errors, "path");
    }
    EXPECT_EQ(ReadText(fDir + "/blocker"), "a file");
    EXPECT_EQ(ReadText(fDir + "/busy/top.txt"), "kept");
    EXPECT_EQ(ReadText(fDir + "/src/top.txt"), "top");
}

TEST_F(UpdaterFileHelpers, FindFileByExtGivesTheIteratorsFirstFileOfThatExtension)
{
    WriteText(fDir + "/list/a.log", "");
    WriteText(fDir + "/list/notes.txt", "");
    WriteText(fDir + "/list/readme.TXT", "");
    WriteText(fDir + "/list/plain", "");
    WriteText(fDir + "/list/sub.txt/inner", "");  // a folder with the extension is no file
    VRefPtr<VFolder> folder = AdoptRef(new VFolder(PosixToPath(fDir + "/list/")));

    // The files with the extension, in the order the iterator gives them.
    std::vector<std::string> texts;
    for (VFileIterator file(folder.Get(), kIterateFiles); file.IsValid(); ++file) {
        VString extension;
        file->GetPath().GetExtension(extension);
        if (extension.EqualToString(VString("txt"), false))
            texts.push_back(to_string(file->GetPath().GetPath(FPS_SYSTEM)));
    }
    ASSERT_EQ(texts.size(), 2u);

    for (int form = 0; form < 2; ++form) {
        StErrorContextInstaller errors;
        VFilePath found;
        VError error = form == 0 ? FindFileByExt(*folder, VString("txt"), found)
                                 : FindFileByExt(PosixToPath(fDir + "/list/"), VString("txt"), found);
        EXPECT_EQ(error, VE_OK) << form;
        EXPECT_EQ(to_string(found.GetPath(FPS_SYSTEM)), texts.front()) << form;
        EXPECT_TRUE(found.IsFile()) << form;
        EXPECT_TRUE(Codes(errors).empty()) << form;
    }
}

TEST_F(UpdaterFileHelpers, FindFileByExtWithoutAMatchGivesSixHundredAndAnEmptyPath)
{
    WriteText(fDir + "/list/a.log", "");
    const struct {
        std::string fFolder;
        const char* fExtension;
    } cases[] = {
        {fDir + "/list/", "txt"},
        {fDir + "/list/", "lo"},
        {fDir + "/list/", ""},
        {fDir + "/missing/", "log"},
    };
    for (const auto& c : cases) {
        VFilePath found = PosixToPath(fDir + "/list/a.log");
        EXPECT_EQ(FindFileByExt(PosixToPath(c.fFolder), VString(c.fExtension), found), QeltError(600))
            << c.fFolder << " " << c.fExtension;
        EXPECT_TRUE(found.GetPath(FPS_SYSTEM).IsEmpty()) << c.fFolder << " " << c.fExtension;
    }
}

TEST_F(UpdaterFileHelpers, FindFileByExtRefusesAPathThatIsNoFolderAtOnce)
{
    WriteText(fDir + "/list/a.log", "");
    const VFilePath before = PosixToPath(fDir + "/list/a.log");
    const VFilePath refused[] = {VFilePath(), PosixToPath(fDir + "/list/a.log")};
    for (const VFilePath& folder : refused) {
        VFilePath found = before;
        EXPECT_EQ(FindFileByExt(folder, VString("log"), found), QeltError(3));
        EXPECT_EQ(to_string(found.GetPath(FPS_SYSTEM)), to_string(before.GetPath(FPS_SYSTEM)));
    }
}

}  // namespace
