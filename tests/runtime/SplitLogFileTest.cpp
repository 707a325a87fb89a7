// The split log file: part names, opening, appending and splitting.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "TestSupport.h"
#include "files/VFilePath.h"
#include "files/VFolder.h"
#include "kernel/StStringConverter.h"
#include "kernel/VString.h"
#include "runtime/VSplitableLogFile.h"

using namespace qelt;

namespace {

VFolder FolderPath(const std::string& posix)
{
    return VFolder(VFilePath(VString((posix + "/").c_str()), FPS_POSIX));
}

std::string Part(const std::string& folder, int number, const std::string& name = "log")
{
    return folder + "/" + name + "_" + std::to_string(number) + ".txt";
}

bool Exists(const std::string& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream(path) << text;
}

long Size(const std::string& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 ? static_cast<long>(info.st_size) : -1;
}

}  // namespace

TEST(SplitLogFile, PartNamesAreTheBaseNameTheNumberAndTheExtension)
{
    VString name;
    VSplitableLogFile::BuildLogFileName(VString("2026-12-08_10-00-00_log"), 3, name);
    EXPECT_EQ(to_string(name), "2026-12-08_10-00-00_log_3.txt");
    VSplitableLogFile::BuildLogFileNameWithExt(VString("a"), 12, VString(".log"), name);
    EXPECT_EQ(to_string(name), "a_12.log");
    VSplitableLogFile::BuildLogFileNameWithExt(VString("a"), 1, VString(), name);
    EXPECT_EQ(to_string(name), "a_1.txt");
}

TEST(SplitLogFile, OpeningAppendsToAnExistingPartAndCreatesAMissingOne)
{
    const std::string folder = test::MakeTempFolder("split_open");
    WriteFile(Part(folder, 1), "old\n");
    {
        VSplitableLogFile file(FolderPath(folder), VString("log"), 1, false);
        ASSERT_TRUE(file.Open(false, false));
        file.AppendString("new\n");
        file.AppendString(VString("more\n"));
    }
    EXPECT_EQ(ReadFile(Part(folder, 1)), "old\nnew\nmore\n");

    // Truncation empties the part.
    {
        VSplitableLogFile file(FolderPath(folder), VString("log"), 1, true);
        ASSERT_TRUE(file.Open(true, false));
        file.AppendFormattedString("%d %s\n", 7, "fresh");
    }
    EXPECT_EQ(ReadFile(Part(folder, 1)), "7 fresh\n");

    // A missing folder is created with its parents.
    const std::string deep = folder + "/a/b/c";
    VSplitableLogFile file(FolderPath(deep), VString("log"), 4, false);
    ASSERT_TRUE(file.Open(false, false));
    file.AppendString("x");
    file.Close();
    EXPECT_EQ(ReadFile(Part(deep, 4)), "x");
}

TEST(SplitLogFile, TheSearchOpensTheFirstFreePart)
{
    const std::string folder = test::MakeTempFolder("split_search");
    WriteFile(Part(folder, 1), "");
    WriteFile(Part(folder, 2), "");
    VSplitableLogFile file(FolderPath(folder), VString("log"), 1, false);
    file.SetLogNumber(1, false);  // closed: only the number changes
    EXPECT_FALSE(file.IsOpen());
    ASSERT_TRUE(file.Open(false, true));
    EXPECT_EQ(file.GetLogNumber(), 3);
    VString name;
    file.GetCurrentFileName(name);
    EXPECT_EQ(to_string(name), "log_3.txt");
    EXPECT_TRUE(Exists(Part(folder, 3)));
}

TEST(SplitLogFile, AnEmptyFolderOrNameOpensNothingAndAppendsNothing)
{
    const std::string folder = test::MakeTempFolder("split_empty");
    VSplitableLogFile noFolder(VFolder(VFilePath()), VString("log"), 1, false);
    EXPECT_FALSE(noFolder.Open(false, false));
    noFolder.AppendString("lost");
    EXPECT_EQ(noFolder.CheckLogSize(), 0);

    VSplitableLogFile noName(FolderPath(folder), VString(), 1, false);
    EXPECT_FALSE(noName.Open(false, false));
    noName.AppendString("lost");
    EXPECT_FALSE(Exists(folder + "/_1.txt"));
}

TEST(SplitLogFile, APartSplitsOnceItHoldsMoreThanTenMebibytes)
{
    const std::string folder = test::MakeTempFolder("split_size");
    WriteFile(Part(folder, 1), "");
    ASSERT_EQ(::truncate(Part(folder, 1).c_str(), 10485760), 0);
    VSplitableLogFile file(FolderPath(folder), VString("log"), 1, false);
    ASSERT_TRUE(file.Open(false, false));
    EXPECT_EQ(file.CheckLogSize(), 0);
    file.AppendString("a");  // exactly 10 MiB before: appended to part 1
    file.Flush();
    EXPECT_EQ(Size(Part(folder, 1)), 10485761);
    EXPECT_FALSE(Exists(Part(folder, 2)));
    file.AppendString("b");  // the part is now too large: part 2 begins
    file.Close();
    EXPECT_EQ(file.GetLogNumber(), 2);
    EXPECT_EQ(ReadFile(Part(folder, 2)), "b");
}

TEST(SplitLogFile, ASplitDeletesOnlyThePartThatLeavesTheWindow)
{
    struct Case { int from; int kept; bool firstDeleted; };
    const Case cases[] = {{49, 50, false}, {50, 50, true}, {50, 0, false}, {3, 2, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.from) + " kept " + std::to_string(c.kept));
        const std::string folder = test::MakeTempFolder("split_window");
        const int firstVictim = c.from + 1 - c.kept;
        for (int i = 1; i < c.from; ++i)
            WriteFile(Part(folder, i), "p");
        // Neighbours of the deleted part's name stay.
        WriteFile(Part(folder, 1) + ".bak", "keep");
        WriteFile(folder + "/log_1.txt_", "keep");
        WriteFile(Part(folder, c.from), "");
        ASSERT_EQ(::truncate(Part(folder, c.from).c_str(), VSplitableLogFile::kSplitSize), 0);

        VSplitableLogFile file(FolderPath(folder), VString("log"), c.from, false);
        file.SetMaxLogsToKeep(c.kept);
        ASSERT_TRUE(file.Open(false, false));
        EXPECT_EQ(file.CheckLogSize(), c.from + 1);
        file.Close();
        EXPECT_TRUE(Exists(Part(folder, c.from + 1)));
        EXPECT_EQ(!Exists(Part(folder, c.firstDeleted ? firstVictim : 1)), c.firstDeleted);
        EXPECT_TRUE(Exists(Part(folder, 1) + ".bak"));
        EXPECT_TRUE(Exists(folder + "/log_1.txt_"));
        int parts = 0;
        for (int i = 1; i <= c.from + 1; ++i)
            parts += Exists(Part(folder, i)) ? 1 : 0;
        EXPECT_EQ(parts, c.from + 1 - (c.firstDeleted ? 1 : 0));
    }
}

TEST(SplitLogFile, TheDefaultWindowKeepsFiftyParts)
{
    const std::string folder = test::MakeTempFolder("split_default");
    VSplitableLogFile file(FolderPath(folder), VString("log"), 1, false);
    EXPECT_EQ(file.GetMaxLogsToKeep(), 50);
    EXPECT_EQ(VSplitableLogFile::sDefaultMaxLogsToKeep, 50);
}
