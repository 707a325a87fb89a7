#include <gtest/gtest.h>

#include "TestSupport.h"

#include <string>

#include <sys/stat.h>

#include "FileTestSupport.h"
#include "files/VFile.h"
#include "files/VFilePath.h"
#include "files/VURL.h"
#include "files/mac/XMacFile.h"
#include "kernel/VCppMemMgr.h"
#include "runtime/VErrorContext.h"

namespace qelt {
namespace {

// UTF-8 test text as a string (decoded by the kernel's converter).
using test::S;

std::string Out(const VString& inText)
{
    std::string out;
    std::string bytes;
    XMacFile::EncodePathText(inText.GetCPointer(), inText.GetLength(), bytes);
    return bytes;
}

std::string Own(const VFilePath& inPath)
{
    VString text;
    inPath.GetPath(text);
    return Out(text);
}

std::string Posix(const VFilePath& inPath)
{
    VString text;
    inPath.GetPosixPath(text);
    return Out(text);
}

// The bytes handed to the system for a path, and back.
std::string SystemBytes(const VFilePath& inPath)
{
    char* text = XMacFile::AllocatePosixPathFromFilePath(inPath);
    EXPECT_NE(text, nullptr);
    std::string bytes = text == nullptr ? std::string() : std::string(text);
    VObject::sCppMemMgr->Free(text);
    return bytes;
}

VFilePath FromSystem(const std::string& inBytes, bool inFolder = false)
{
    VFilePath path;
    XMacFile::GetFilePathFromPosixPath(inBytes.c_str(), inFolder, path);
    return path;
}

TEST(VFilePath, StepsAreFoldedWhenTheTextIsSet)
{
    struct Case {
        const char* fText;
        bool fValid;
        const char* fStored;
    };
    const Case cases[] = {
        {"Disk:a::b", true, "Disk:b"},
        {"Disk:a:b:::c", true, "Disk:c"},
        {"Disk:a::", true, "Disk:"},
        {"Disk:a:b:c::::d:", true, "Disk:d:"},
        {"Disk::b", true, "b"},
        {"Disk:a:b::::c", true, "c"},
        {"Disk::", true, ""},
        {"Disk:a:::::b", false, "::b"},  // steps above the volume
        {":a", false, ":a"},
        {"a:::", false, ":"},
        {"", false, ""},
        {"Disk:a:b", true, "Disk:a:b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fText);
        VFilePath path(S(c.fText));
        EXPECT_EQ(path.IsValid(), c.fValid);
        EXPECT_EQ(Own(path), c.fStored);
    }

    VString withZero = S("Disk:a");
    withZero.AppendUniChar(0);
    withZero.AppendString(S("b"));
    EXPECT_FALSE(VFilePath(withZero).IsValid());

    VFilePath empty(S("Disk::"));
    EXPECT_TRUE(empty.IsValid());
    EXPECT_FALSE(empty.IsFolder());
    EXPECT_FALSE(empty.IsFile());
    EXPECT_EQ(Posix(empty), "");
}

TEST(VFilePath, FoldingManyStepsTakesOnePass)
{
    // Each step removes one element; a fold that moved the rest of the text
    // at every step would take minutes here.
    const int count = 200000;
    std::string text = "Disk:";
    for (int i = 0; i < count; ++i)
        text += "a:";
    text.append(static_cast<size_t>(count), ':');
    text += "x";
    VFilePath path(S(text));
    EXPECT_TRUE(path.IsValid());
    EXPECT_EQ(Own(path), "Disk:x");
}

TEST(VFilePath, FullPosixPathsConvertBothWays)
{
    struct Case {
        const char* fPosix;
        const char* fOwn;
        const char* fBack;  // the POSIX text of the stored path
    };
    const Case cases[] = {
        {"/", "Disk:", "/"},
        {"/home/u/x/", "Disk:home:u:x:", "/home/u/x/"},
        {"/home/u/x", "Disk:home:u:x", "/home/u/x"},
        {"/x//y", "Disk:x:y", "/x/y"},
        {"//x///y//", "Disk:x:y:", "/x/y/"},
        {"/a/./b", "Disk:a:b", "/a/b"},
        {"/a/b/..", "Disk:a:", "/a/"},
        {"/a/b/../c", "Disk:a:c", "/a/c"},
        {"/a/.", "Disk:a:", "/a/"},
        {"/..", "Disk:", "/"},
        {"/../../a", "Disk:a", "/a"},
        {"/a:b/c", "Disk:a/b:c", "/a:b/c"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fPosix);
        VFilePath path(S(c.fPosix), FPS_POSIX);
        EXPECT_TRUE(path.IsValid());
        EXPECT_EQ(Own(path), c.fOwn);
        EXPECT_EQ(Posix(path), c.fBack);
        EXPECT_EQ(Out(path.GetPath(FPS_POSIX)), c.fBack);
    }
    // A volume without an entry is read as a folder at the root.
    VString posix;
    EXPECT_FALSE(XMacFile::HFSFullPathToPosix(S("USB:a:b"), posix));
    EXPECT_EQ(Out(posix), "/USB/a/b");
    EXPECT_TRUE(XMacFile::HFSFullPathToPosix(S("Disk:x:a/b"), posix));
    EXPECT_EQ(Out(posix), "/x/a:b");
    EXPECT_EQ(Posix(VFilePath(S(":a"))), "");
}

TEST(VFilePath, NamesOfAnyBytesRoundTripByteForByte)
{
    const std::string names[] = {
        "caf\xC3\xA9",          // NFC
        "cafe\xCC\x81",         // NFD: kept decomposed
        "caf\xE9",              // Latin-1
        "\xC0\x80",             // overlong NUL
        "\xE2\x82",             // cut sequence
        "\xED\xA0\x80",         // encoded surrogate
        "\xF4\x90\x80\x80",     // beyond U+10FFFF
        "\x80\xBF\xFE\xFF",     // lone continuation and never-used bytes
        "\xF0\x9F\x98\x80 ok",  // outside the basic plane
        "a:b",
    };
    for (const std::string& name : names) {
        for (const std::string& posix : {"/" + name, "/d/" + name + "/", "/" + name + "/" + name}) {
            SCOPED_TRACE(posix);
            VFilePath path = FromSystem(posix);
            EXPECT_TRUE(path.IsValid());
            EXPECT_EQ(SystemBytes(path), posix);
        }
    }
    // Ill-formed bytes are kept as units above U+DC00; NFC and NFD stay apart.
    VFilePath latin = FromSystem("/caf\xE9");
    VString name;
    latin.GetName(name);
    ASSERT_EQ(name.GetLength(), 4);
    EXPECT_EQ(name.GetCPointer()[3], 0xDCE9);
    EXPECT_FALSE(FromSystem("/caf\xC3\xA9").IsSameOrChildOf(FromSystem("/cafe\xCC\x81/")));
    VFilePath overlong = FromSystem("/\xC0\x80");
    overlong.GetName(name);
    ASSERT_EQ(name.GetLength(), 2);
    EXPECT_EQ(name.GetCPointer()[0], 0xDCC0);
    EXPECT_EQ(name.GetCPointer()[1], 0xDC80);

    EXPECT_EQ(Own(FromSystem("/a/b", true)), "Disk:a:b:");
    EXPECT_EQ(SystemBytes(VFilePath()), "");

    // File URLs for the system are a POSIX text and a folder flag.
    std::string url;
    bool folder = false;
    EXPECT_TRUE(XMacFile::CreateNSURLFromFilePath(FromSystem("/d/caf\xE9/", false), url, folder));
    EXPECT_EQ(url, "/d/caf\xE9/");
    EXPECT_TRUE(folder);
    EXPECT_FALSE(XMacFile::CreateNSURLFromFilePath(VFilePath(), url, folder));
    VFilePath fromURL;
    XMacFile::GetFilePathFromNSURL("/d/x", true, fromURL);
    EXPECT_EQ(Own(fromURL), "Disk:d:x:");
    XMacFile::GetFilePathFromNSURL(nullptr, true, fromURL);
    EXPECT_FALSE(fromURL.IsValid());
}

// Path texts reach the system and come back without Unicode normalisation,
// though strings can be normalised: a name of e and a combining acute accent
// keeps its two units and is stored as those bytes.
TEST(VFilePath, DecomposedNamesAreNeitherComposedNorDecomposed)
{
    const std::string folder = test::MakeTempFolder("nfd_names");
    const UniChar decomposed[] = {'e', 0x0301, 0};
    VFilePath path = test::PosixToPath(folder + "/");
    path.ToSubFile(VString(decomposed));
    VString name;
    path.GetName(name);
    ASSERT_EQ(name.GetLength(), 2);
    VFile file(path);
    ASSERT_EQ(file.Create(), VE_OK);
    struct stat info;
    EXPECT_EQ(::stat((folder + "/e\xCC\x81").c_str(), &info), 0);
    EXPECT_NE(::stat((folder + "/\xC3\xA9").c_str(), &info), 0);

    // Back from the system, and through a file URL made from the path.
    VFilePath back = FromSystem(folder + "/e\xCC\x81");
    back.GetName(name);
    EXPECT_EQ(name.GetLength(), 2);
    VFilePath fromURL;
    ASSERT_TRUE(VURL(path).GetFilePath(fromURL));
    fromURL.GetName(name);
    EXPECT_EQ(name.GetLength(), 2);
    EXPECT_EQ(Own(fromURL), Own(path));

    // A composed name is a different file.
    const UniChar composed[] = {0x00E9, 0};
    VFilePath other = test::PosixToPath(folder + "/");
    other.ToSubFile(VString(composed));
    EXPECT_FALSE(VFile(other).Exists());
}

TEST(VFilePath, HiddenNamesAreSeenInTheLastElement)
{
    const struct {
        const char* fPath;
        bool fHidden;
    } cases[] = {{"/a/.b/", true}, {"/a/.b", true}, {".x", true}, {"/a/b", false}, {"/", false},
                 {"/.a/b", false}, {".", false}, {"", false}, {"a/..", true}};
    for (const auto& c : cases)
        EXPECT_EQ(XMacFile::PosixNameBeginsWithDot(c.fPath), c.fHidden) << c.fPath;
    EXPECT_FALSE(XMacFile::PosixNameBeginsWithDot(nullptr));
}

TEST(VFilePath, RelativeTextsConvertByTheirOwnRules)
{
    struct Case {
        const char* fIn;
        const char* fOut;
    };
    const Case toOwn[] = {
        {"../a", ":a"}, {"a/./b", "a:b"}, {"a/", "a:"},       {"a:b", "a/b"},  {"a//b", "a:b"},
        {"./a", "a"},   {"a/../b", "a::b"}, {"a/..", "a::"}, {"a/.", "a:"},    {"../../a", "::a"},
        {"", ""},       {"..a/.b", "..a:.b"},
    };
    for (const Case& c : toOwn) {
        SCOPED_TRACE(c.fIn);
        VString text = S(c.fIn);
        VURL::Convert(text, eURL_POSIX_STYLE, eURL_HFS_STYLE, true);
        EXPECT_EQ(Out(text), c.fOut);
    }
    const Case toPosix[] = {
        {":a", "a"},        {":", ""},          {"a::b", "a/../b"}, {"a:::b", "a/../../b"},
        {"::a", "../a"},    {"a:b:", "a/b/"},   {"x/y", "x:y"},     {"a::", "a/../"},
        {"::", "../"},
    };
    for (const Case& c : toPosix) {
        SCOPED_TRACE(c.fIn);
        VString text = S(c.fIn);
        VURL::Convert(text, eURL_HFS_STYLE, eURL_POSIX_STYLE, true);
        EXPECT_EQ(Out(text), c.fOut);
    }
    VString text = S("a:b/c\\d");
    VURL::Convert(text, eURL_HFS_STYLE, eURL_WIN_STYLE, false);
    VURL::Convert(text, eURL_WIN_STYLE, eURL_HFS_STYLE, false);
    EXPECT_EQ(Out(text), "a:b/c\\d");
    VURL::Convert(text, eURL_WIN_STYLE, eURL_POSIX_STYLE, false);
    EXPECT_EQ(Out(text), "a:b/c/d");
    VURL::Convert(text, eURL_POSIX_STYLE, eURL_WIN_STYLE, false);
    EXPECT_EQ(Out(text), "a:b\\c\\d");
}

TEST(VFilePath, RelativePathsAreJoinedToTheirBase)
{
    const VFilePath base(S("Disk:f:"));
    EXPECT_EQ(Own(VFilePath(base, S("../x"), FPS_POSIX)), "Disk:x");
    EXPECT_EQ(Own(VFilePath(base, S("x//y"), FPS_POSIX)), "Disk:f:x:y");
    EXPECT_EQ(Own(VFilePath(base, S("a/b/"), FPS_POSIX, true)), "Disk:f:a:b:");
    EXPECT_EQ(Own(VFilePath(base, S("/etc/x"), FPS_POSIX)), "Disk:etc:x");
    EXPECT_EQ(Own(VFilePath(base, S("g::h"))), "Disk:f:h");

    VFilePath fromFile(VFilePath(S("Disk:f")), S("a"), FPS_POSIX, true);
    EXPECT_FALSE(fromFile.IsValid());
    EXPECT_EQ(Own(fromFile), "");
}

TEST(VFilePath, ParentsFoldersAndDepth)
{
    struct Case {
        const char* fText;
        const char* fParent;  // "" when none
        const char* fFolder;
        int fDepth;
    };
    const Case cases[] = {
        {"Disk:", "", "Disk:", 1},
        {"Disk:a:", "Disk:", "Disk:a:", 2},
        {"Disk:f", "Disk:", "Disk:", 2},
        {"Disk:a:b", "Disk:a:", "Disk:a:", 3},
        {"Disk:a:b:", "Disk:a:", "Disk:a:b:", 3},
        {"b", "", "", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fText);
        const VFilePath path(S(c.fText));
        EXPECT_EQ(path.GetDepth(), c.fDepth);
        EXPECT_EQ(path.HasParent(), *c.fParent != 0);
        VFilePath parent;
        EXPECT_EQ(path.GetParent(parent), *c.fParent != 0);
        EXPECT_EQ(Own(parent), c.fParent);
        VFilePath edited(path);
        edited.ToParent();
        EXPECT_EQ(Own(edited), c.fParent);
        EXPECT_EQ(edited.IsValid(), *c.fParent != 0);
        VFilePath folder;
        EXPECT_EQ(path.GetFolder(folder), *c.fFolder != 0);
        EXPECT_EQ(Own(folder), c.fFolder);
        edited = path;
        EXPECT_EQ(Own(edited.ToFolder()), c.fFolder);
    }
    VFilePath invalid(S(":x:"));
    VFilePath out(S("Disk:"));
    EXPECT_FALSE(invalid.GetParent(out));
    EXPECT_FALSE(out.IsValid());
    EXPECT_EQ(invalid.GetDepth(), 0);

    VFilePath folder(S("Disk:a:"));
    folder.ToSubFolder(S("b")).ToSubFile(S("c.txt"));
    EXPECT_EQ(Own(folder), "Disk:a:b:c.txt");
    folder.ToSubFile(S("d"));  // not a folder: nothing
    EXPECT_EQ(Own(folder), "Disk:a:b:c.txt");
}

TEST(VFilePath, NamesAreReadAndReplaced)
{
    VString name;
    VFilePath(S("Disk:")).GetName(name);
    EXPECT_EQ(Out(name), "Disk");
    VFilePath(S("Disk:")).GetFolderName(name);
    EXPECT_EQ(Out(name), "Disk");
    const VFilePath tool(S("Disk:Apps:Tool.app:"));
    tool.GetFolderName(name, false);
    EXPECT_EQ(Out(name), "Tool");
    tool.GetFolderName(name, true);
    EXPECT_EQ(Out(name), "Tool.app");
    tool.GetFileName(name);
    EXPECT_EQ(Out(name), "");
    const VFilePath file(S("Disk:a:f.tar.gz"));
    file.GetFileName(name, false);
    EXPECT_EQ(Out(name), "f.tar");
    file.GetName(name);
    EXPECT_EQ(Out(name), "f.tar.gz");

    VFilePath path(S("Disk:a:"));
    EXPECT_TRUE(path.SetFileName(S("x")));
    EXPECT_EQ(Own(path), "Disk:a:x");
    path.FromFullPath(S("Disk:a:f.txt"));
    EXPECT_TRUE(path.SetFileName(S("x"), false));
    EXPECT_EQ(Own(path), "Disk:a:x.txt");
    EXPECT_TRUE(path.SetName(S("y.md")));
    EXPECT_EQ(Own(path), "Disk:a:y.md");
    path.FromFullPath(S("Disk:a:b.app:"));
    EXPECT_TRUE(path.SetName(S("c")));
    EXPECT_EQ(Own(path), "Disk:a:c:");
    EXPECT_TRUE(path.SetFolderName(S("d.bundle")));
    EXPECT_EQ(Own(path), "Disk:a:d.bundle:");
    EXPECT_TRUE(path.SetFolderName(S("e"), false));
    EXPECT_EQ(Own(path), "Disk:a:e.bundle:");

    {
        StErrorContextInstaller errors(false);
        EXPECT_FALSE(path.SetName(S("b:c")));
        EXPECT_EQ(errors.GetLastError(), QeltError(614));
        EXPECT_FALSE(path.SetFileName(S("b:c")));
        EXPECT_EQ(Own(path), "Disk:a:e.bundle:");
        EXPECT_TRUE(path.IsValid());
    }

    // Names that would make a step up or more elements change nothing.
    {
        StErrorContextInstaller errors(false);
        EXPECT_FALSE(path.SetFolderName(S("x:")));
        EXPECT_EQ(errors.GetLastError(), QeltError(614));
    }
    EXPECT_FALSE(path.SetName(S("")));
    EXPECT_FALSE(path.SetFolderName(S("")));
    path.ToSubFolder(S(""));
    EXPECT_EQ(Own(path), "Disk:a:e.bundle:");
    EXPECT_TRUE(path.IsValid());

    VFilePath root(S("Disk:"));
    EXPECT_FALSE(root.SetName(S("Other")));
    EXPECT_FALSE(root.IsValid());
    EXPECT_EQ(Own(root), "");
}

TEST(VFilePath, ExtensionsBelongToTheLastElement)
{
    struct Case {
        const char* fText;
        const char* fExtension;
    };
    const Case cases[] = {
        {"Disk:a.b:", "b"},      {"Disk:a.", ""},           {"Disk:x.y:file", ""}, {"Disk:a.:", ""},
        {"Disk:.profile", "profile"}, {"Disk:a:f.tar.gz", "gz"}, {":x.y:", ""},
    };
    VString extension;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fText);
        VFilePath(S(c.fText)).GetExtension(extension);
        EXPECT_EQ(Out(extension), c.fExtension);
    }

    struct Edit {
        const char* fText;
        const char* fExtension;
        const char* fResult;
    };
    const Edit edits[] = {
        {"Disk:a.:", "app", "Disk:a.app:"}, {"Disk:a:", "app", "Disk:a.app:"}, {"Disk:a.b:", "", "Disk:a:"},
        {"Disk:f.txt", "md", "Disk:f.md"},  {"Disk:f", "md", "Disk:f.md"},     {"Disk:f.", "md", "Disk:f.md"},
        {"Disk:x.y:f", "", "Disk:x.y:f"},   {"Disk:f.txt", "", "Disk:f"},
        {"Disk:a:.kis:", "", "Disk:a:.kis:"}, {"Disk:.profile", "", "Disk:.profile"},
    };
    for (const Edit& e : edits) {
        SCOPED_TRACE(e.fText);
        VFilePath path(S(e.fText));
        EXPECT_TRUE(path.SetExtension(S(e.fExtension)));
        EXPECT_EQ(Own(path), e.fResult);
    }
    EXPECT_TRUE(VFilePath(S("Disk:a:Tool.app:")).MatchExtension(S("app")));
    EXPECT_TRUE(VFilePath(S("Disk:a:f.TXT")).MatchExtension(S("txt")));
    EXPECT_FALSE(VFilePath(S("Disk:a:ftxt")).MatchExtension(S("txt")));
}

TEST(VFilePath, ContainmentComparesUnitForUnit)
{
    const VFilePath folder(S("Disk:f:"));
    EXPECT_FALSE(folder.IsChildOf(folder));
    EXPECT_TRUE(folder.IsSameOrChildOf(folder));
    const VFilePath below(S("Disk:f:a:b:"));
    EXPECT_TRUE(below.IsChildOf(folder));
    EXPECT_TRUE(below.IsChildOfRawPath(folder));
    EXPECT_TRUE(below.IsSameOrChildOf(folder));
    EXPECT_FALSE(VFilePath(S("Disk:fg:a")).IsChildOf(folder));
    EXPECT_FALSE(below.IsChildOf(VFilePath(S("Disk:f"))));  // a file is no folder

    // Names that collation would take as equal are different places.
    EXPECT_FALSE(VFilePath(S("Disk:cafe:x")).IsSameOrChildOf(VFilePath(S("Disk:caf\xC3\xA9:"))));
    EXPECT_FALSE(VFilePath(S("Disk:A:x")).IsChildOf(VFilePath(S("Disk:a:"))));
    EXPECT_FALSE(VFilePath(S("Disk:A:x")).IsChildOfRawPath(VFilePath(S("Disk:a:"))));
    VString relative;
    EXPECT_FALSE(VFilePath(S("Disk:A:x")).GetRelativePath(VFilePath(S("Disk:a:")), relative));
    EXPECT_EQ(Out(relative), "Disk:A:x");

    EXPECT_TRUE(below.GetRelativePosixPath(folder, relative));
    EXPECT_EQ(Out(relative), "a/b/");
    EXPECT_TRUE(below.GetRelativePath(folder, relative));
    EXPECT_EQ(Out(relative), "a:b:");
    EXPECT_FALSE(folder.GetRelativePosixPath(below, relative));
    EXPECT_EQ(Out(relative), "/f/");
    EXPECT_FALSE(VFilePath(S(":x")).GetRelativePosixPath(folder, relative));
    EXPECT_EQ(Out(relative), "");
}

TEST(VFilePath, BlanksGoFromTheEndsAndAroundSeparators)
{
    VFilePath path(S("  Disk : a b :  c  "));
    path.RemoveBlanks();
    EXPECT_EQ(Own(path), "Disk:a b:c");
    VString text = S(" : ");
    VFilePath::_RemoveBlanks(text);
    EXPECT_EQ(Out(text), ":");
}

TEST(VFilePath, RelativePosixTextsAreResolved)
{
    struct Case {
        const char* fIn;
        bool fOk;
        const char* fOut;
    };
    const Case cases[] = {
        {"a/./b", true, "a/b"},  {"a/b/../c", true, "a/c"}, {"a/b/../../c", true, "c"},
        {"./a", true, "./a"},    {"../a", true, "../a"},    {"../../a", true, "../../a"},
        {"a/..", true, "a/.."},  {"", true, ""},            {"a//b", false, "a//b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fIn);
        VString text = S(c.fIn);
        EXPECT_EQ(VFilePath::ResolveRelativePosix(text), c.fOk);
        EXPECT_EQ(Out(text), c.fOut);
    }
    VString own = S("a:b::c");
    EXPECT_TRUE(VFilePath::_ResolveRelative(own));
    EXPECT_EQ(Out(own), "a:c");
    own = S(":a");
    EXPECT_FALSE(VFilePath::_ResolveRelative(own));
}

}  // namespace
}  // namespace qelt
