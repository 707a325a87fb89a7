#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <regex>

#include "FileTestSupport.h"
#include "TestSupport.h"
#include "files/VFile.h"
#include "files/VFileDesc.h"
#include "files/VFileError.h"
#include "files/VFileKind.h"
#include "files/VFileKindManager.h"
#include "files/VFolder.h"
#include "files/VURL.h"
#include "json/VJSONValue.h"
#include "platform/PlatFaults.h"
#include "values/VTime.h"

namespace qelt {

using test::Codes;
using test::LastParameter;
using test::PosixToPath;
using test::ReadText;
using test::WriteText;

namespace {

using Faults = test::StTestFaults;

VRefPtr<VFile> FileAt(const std::string& posix) { return AdoptRef(new VFile(PosixToPath(posix))); }

std::vector<VError> V(std::initializer_list<VError> codes) { return codes; }

// Whether a directory entry is there, links counted as themselves.
bool EntryIsThere(const std::string& posix)
{
    struct stat info;
    return ::lstat(posix.c_str(), &info) == 0;
}

}  // namespace

TEST(VFile, OpenFailuresRaiseTheNativeErrorThenTheFileError)
{
    std::string dir = test::MakeTempFolder("vfile_open");
    {
        StErrorContextInstaller errors;
        VFileDesc* desc = reinterpret_cast<VFileDesc*>(1);
        VRefPtr<VFile> file = FileAt(dir + "/missing.txt");
        EXPECT_EQ(file->Open(FA_READ, &desc), QeltError(600));
        EXPECT_EQ(desc, nullptr);
        EXPECT_EQ(Codes(errors), V({PosixError(ENOENT), QeltError(600)}));
        EXPECT_EQ(LastParameter(errors, "name"), "missing.txt");
        VString path;
        file->GetPath().GetPath(path);
        EXPECT_EQ(LastParameter(errors, "path"), to_string(path));
    }
    {
        Faults faults("open:1:ENOSPC");
        StErrorContextInstaller errors;
        VFileDesc* desc = nullptr;
        EXPECT_EQ(FileAt(dir + "/new")->Open(FA_READ_WRITE, &desc, kFileOptionCreate), QeltError(602));
        EXPECT_EQ(Codes(errors), V({PosixError(ENOSPC), QeltError(602)}));
        EXPECT_EQ(LastParameter(errors, "access"), "1");
        EXPECT_EQ(LastParameter(errors, "options"), "2");
    }
    {
        // A context filtering the file error's code keeps the native one out.
        StErrorContextInstaller errors(QeltError(600), 0);
        VFileDesc* desc = nullptr;
        EXPECT_EQ(FileAt(dir + "/missing.txt")->Open(FA_READ, &desc), QeltError(600));
        EXPECT_EQ(Codes(errors), V({QeltError(600)}));
    }
}

TEST(VFileError, OnlyNativeFailuresAreWrapped)
{
    VFilePath path = PosixToPath("/some/folder/name.txt");
    struct {
        VError result;
        VError fallback;
        VError returned;
        std::vector<VError> raised;
    } cases[] = {
        {VE_OK, QeltError(602), VE_OK, {}},
        {PosixError(0), QeltError(602), PosixError(0), {}},
        {QeltError(100), QeltError(602), QeltError(100), {}},
        {PosixError(ENOENT), QeltError(602), QeltError(600), {PosixError(ENOENT), QeltError(600)}},
        {PosixError(EACCES), QeltError(607), QeltError(5), {PosixError(EACCES), QeltError(5)}},
        {PosixError(EIO), QeltError(607), QeltError(607), {PosixError(EIO), QeltError(607)}},
        {MakeVError(kSignatureCARB, -43), QeltError(605), QeltError(600),
         {MakeVError(kSignatureCARB, -43), QeltError(600)}},
    };
    for (const auto& c : cases) {
        StErrorContextInstaller errors;
        EXPECT_EQ(WrapFileError(path, c.result, c.fallback), c.returned) << std::hex << c.result;
        EXPECT_EQ(Codes(errors), c.raised) << std::hex << c.result;
        if (!c.raised.empty()) {
            EXPECT_EQ(LastParameter(errors, "name"), "name.txt");
            VString text;
            path.GetPath(text);
            EXPECT_EQ(LastParameter(errors, "path"), to_string(text));
        }
    }
}

TEST(VFile, ShortReadsReportTheCountAndOnlyTheAbsoluteReadRaises)
{
    std::string dir = test::MakeTempFolder("vfile_read");
    WriteText(dir + "/four", "abcd");
    VRefPtr<VFile> file = FileAt(dir + "/four");
    char buffer[10] = {};
    size_t count = 0;
    {
        StErrorContextInstaller errors;
        EXPECT_EQ(file->GetData(buffer, 10, &count), QeltError(200));
        EXPECT_EQ(count, 4u);
        EXPECT_EQ(Codes(errors), V({QeltError(200), QeltError(200)}));
        EXPECT_EQ(LastParameter(errors, "count"), "10");
        EXPECT_EQ(LastParameter(errors, "offset"), "0");
        EXPECT_EQ(LastParameter(errors, "size"), "4");
    }
    {
        StErrorContextInstaller errors;
        VFileDesc* raw = nullptr;
        ASSERT_EQ(file->Open(FA_READ, &raw), VE_OK);
        std::unique_ptr<VFileDesc> desc(raw);
        EXPECT_EQ(desc->GetDataAtPos(buffer, 10, 0, &count), QeltError(200));
        EXPECT_EQ(count, 4u);
        EXPECT_EQ(desc->GetPos(), 4);
        EXPECT_EQ(desc->GetDataAtPos(buffer, 1, 50, &count), QeltError(200));
        EXPECT_EQ(count, 0u);
        EXPECT_TRUE(Codes(errors).empty());
    }
}

TEST(VFile, DescriptorsWriteAtOffsetsAndKeepThePositionOnSetSize)
{
    std::string dir = test::MakeTempFolder("vfile_desc");
    WriteText(dir + "/f", "0123456789abcdef");
    VFileDesc* raw = nullptr;
    ASSERT_EQ(FileAt(dir + "/f")->Open(FA_READ_WRITE, &raw), VE_OK);
    std::unique_ptr<VFileDesc> desc(raw);
    char buffer[4] = {};
    ASSERT_EQ(desc->SetPos(10, true), VE_OK);
    // From position 10 plus 5: byte 15 is the last one.
    size_t count = 0;
    EXPECT_EQ(desc->GetDataAtPos(buffer, 2, 5, &count), QeltError(200));
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(std::string(buffer, 1), "f");
    EXPECT_EQ(desc->GetPos(), 16);
    ASSERT_EQ(desc->PutData("zz", 2, 20), VE_OK);
    EXPECT_EQ(desc->GetSize(), 22);
    EXPECT_EQ(ReadText(dir + "/f"), std::string("0123456789abcdef\0\0\0\0zz", 22));
    ASSERT_EQ(desc->SetSize(3), VE_OK);
    EXPECT_EQ(desc->GetPos(), 16);
    StErrorContextInstaller errors;
    EXPECT_EQ(desc->GetDataAtPos(buffer, 1), QeltError(200));
    // A failed write reports what moved: nothing before the fault.
    Faults faults("write:1:EIO");
    size_t written = 99;
    EXPECT_EQ(desc->PutData("x", 1, 0, &written), QeltError(216));
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(Codes(errors), V({PosixError(EIO), QeltError(216)}));
}

TEST(VFile, ExistenceAndRefusalsOfInvalidPaths)
{
    std::string dir = test::MakeTempFolder("vfile_exists");
    ::symlink("nowhere", (dir + "/dangling").c_str());
    ::mkdir((dir + "/folder").c_str(), 0755);
    EXPECT_TRUE(FileAt(dir + "/dangling")->Exists());
    EXPECT_FALSE(FileAt(dir + "/folder")->Exists());
    EXPECT_FALSE(FileAt(dir + "/folder/")->Exists());

    VRefPtr<VFile> invalid = AdoptRef(new VFile(VFilePath()));
    EXPECT_FALSE(invalid->Exists());
    StErrorContextInstaller errors;
    EXPECT_EQ(invalid->Delete(), QeltError(604));
    EXPECT_EQ(Codes(errors), V({QeltError(604), QeltError(604)}));
    EXPECT_EQ(invalid->MoveToTrash(), QeltError(604));
    VFile* out = reinterpret_cast<VFile*>(1);
    EXPECT_EQ(invalid->CopyTo(PosixToPath(dir + "/x"), &out), QeltError(605));
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(FileAt(dir + "/a")->Move(VFilePath(), &out), QeltError(606));
    errors.GetContext()->Flush();

    // Deleting or trashing what is not there is no failure.
    EXPECT_EQ(FileAt(dir + "/none")->Delete(), VE_OK);
    EXPECT_EQ(FileAt(dir + "/none")->MoveToTrash(), VE_OK);
    EXPECT_TRUE(Codes(errors).empty());
}

TEST(VFile, CreateFailsOnAnExistingFileUnlessReplacing)
{
    std::string dir = test::MakeTempFolder("vfile_create");
    WriteText(dir + "/f", "content");
    StErrorContextInstaller errors;
    EXPECT_EQ(FileAt(dir + "/f")->Create(0), QeltError(607));
    EXPECT_EQ(Codes(errors), V({PosixError(EEXIST), QeltError(607)}));
    EXPECT_EQ(ReadText(dir + "/f"), "content");
    EXPECT_EQ(FileAt(dir + "/f")->Create(kFileOptionReplace), VE_OK);
    EXPECT_EQ(ReadText(dir + "/f"), "");
}

TEST(VFile, ALockHeldElsewhereRefusesAtOnceAndKeepsTheBytes)
{
    std::string dir = test::MakeTempFolder("vfile_lock");
    WriteText(dir + "/f", "kept");
    int holder = ::open((dir + "/f").c_str(), O_RDONLY);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    {
        StErrorContextInstaller errors;
        VFileDesc* desc = nullptr;
        EXPECT_EQ(FileAt(dir + "/f")->Open(FA_READ_WRITE, &desc, kFileOptionTruncate), QeltError(5));
        EXPECT_EQ(Codes(errors), V({PosixError(EACCES), QeltError(5)}));
        EXPECT_EQ(ReadText(dir + "/f"), "kept");
        EXPECT_EQ(FileAt(dir + "/f")->SetContent("lost", 4), QeltError(5));
        EXPECT_EQ(ReadText(dir + "/f"), "kept");
        // Access 3 falls back to reading and records what was asked.
        ASSERT_EQ(FileAt(dir + "/f")->Open(FA_READ_WRITE_OR_READ, &desc), VE_OK);
        EXPECT_EQ(desc->GetMode(), FA_READ_WRITE_OR_READ);
        EXPECT_EQ(desc->PutData("x", 1, 0), QeltError(216));
        delete desc;
    }
    ::close(holder);
}

TEST(VFile, CopyNeverHarmsTheSourceOrAnOldTarget)
{
    std::string dir = test::MakeTempFolder("vfile_copy");
    WriteText(dir + "/a.txt", "new");
    WriteText(dir + "/b.txt", "old");
    ::mkdir((dir + "/into").c_str(), 0755);
    VRefPtr<VFile> source = FileAt(dir + "/a.txt");
    StErrorContextInstaller errors;

    // Onto itself: refused, nothing unlinked.
    EXPECT_EQ(source->CopyTo(*source, kFileOptionReplace), QeltError(605));
    EXPECT_EQ(ReadText(dir + "/a.txt"), "new");
    EXPECT_EQ(source->CopyTo(*FileAt(dir + "/b.txt")), QeltError(605));
    EXPECT_EQ(LastParameter(errors, "options"), "0");
    {
        Faults faults("copy:1:ENOSPC");
        EXPECT_EQ(source->CopyTo(*FileAt(dir + "/b.txt"), kFileOptionReplace), QeltError(605));
    }
    EXPECT_EQ(ReadText(dir + "/b.txt"), "old");
    EXPECT_EQ(source->CopyTo(*FileAt(dir + "/b.txt"), kFileOptionReplace), VE_OK);
    EXPECT_EQ(ReadText(dir + "/b.txt"), "new");

    // A folder path as destination keeps the source's name.
    VFile* copy = nullptr;
    ASSERT_EQ(source->CopyTo(PosixToPath(dir + "/into/"), &copy), VE_OK);
    VRefPtr<VFile> held = AdoptRef(copy);
    EXPECT_EQ(ReadText(dir + "/into/a.txt"), "new");
    EXPECT_TRUE(held->Exists());
    VRefPtr<VFolder> folder = AdoptRef(new VFolder(PosixToPath(dir + "/into/")));
    EXPECT_EQ(source->CopyTo(*folder, nullptr), QeltError(605));  // the name is taken there
    ASSERT_EQ(source->CopyTo(*folder, &copy, kFileOptionReplace), VE_OK);
    held = AdoptRef(copy);
    VFile* moved = nullptr;
    ASSERT_EQ(held->Move(*AdoptRef(new VFolder(PosixToPath(dir + "/"))), &moved, kFileOptionReplace), VE_OK);
    VRefPtr<VFile> movedHeld = AdoptRef(moved);
    EXPECT_EQ(ReadText(dir + "/a.txt"), "new");
    EXPECT_FALSE(held->Exists());
    EXPECT_EQ(FileAt(dir + "/c.txt")->CopyFrom(*source), VE_OK);
    EXPECT_EQ(ReadText(dir + "/c.txt"), "new");
}

TEST(VFile, MoveAndRenameNeverReplaceUnlessAsked)
{
    std::string dir = test::MakeTempFolder("vfile_move");
    WriteText(dir + "/a", "a");
    WriteText(dir + "/b", "b");
    VRefPtr<VFile> a = FileAt(dir + "/a");
    StErrorContextInstaller errors;
    VFile* out = nullptr;
    EXPECT_EQ(a->Move(PosixToPath(dir + "/b"), &out), QeltError(606));
    EXPECT_EQ(Codes(errors).front(), PosixError(EEXIST));
    EXPECT_EQ(a->Rename(VString("b"), &out), QeltError(601));
    EXPECT_EQ(LastParameter(errors, "newname"), "b");
    EXPECT_EQ(ReadText(dir + "/b"), "b");
    EXPECT_EQ(a->Rename(VString("c:d"), &out), QeltError(614));
    EXPECT_EQ(out, nullptr);

    ASSERT_EQ(a->Rename(VString("c"), &out), VE_OK);
    VRefPtr<VFile> c = AdoptRef(out);
    EXPECT_EQ(ReadText(dir + "/c"), "a");
    EXPECT_FALSE(a->Exists());
    ASSERT_EQ(c->Move(*FileAt(dir + "/b"), kFileOptionReplace), VE_OK);
    EXPECT_EQ(ReadText(dir + "/b"), "a");
}

TEST(VFile, ContentReadsAndWrites)
{
    std::string dir = test::MakeTempFolder("vfile_content");
    VRefPtr<VFile> deep = FileAt(dir + "/x/y/z.bin");
    ASSERT_EQ(deep->SetContent("hello", 5), VE_OK);
    EXPECT_EQ(ReadText(dir + "/x/y/z.bin"), "hello");
    ASSERT_EQ(deep->SetContent("hi", 2), VE_OK);
    EXPECT_EQ(ReadText(dir + "/x/y/z.bin"), "hi");
    // A failed write leaves the old content whole, and the mode stays.
    ::chmod((dir + "/x/y/z.bin").c_str(), 0640);
    {
        Faults faults("write:1:ENOSPC");
        StErrorContextInstaller errors;
        EXPECT_EQ(deep->SetContent("replacement", 11), QeltError(216));
        EXPECT_EQ(Codes(errors), V({PosixError(ENOSPC), QeltError(216)}));
    }
    EXPECT_EQ(ReadText(dir + "/x/y/z.bin"), "hi");
    ASSERT_EQ(deep->SetContent("new", 3), VE_OK);
    struct stat st;
    ASSERT_EQ(::stat((dir + "/x/y/z.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    // Through a link the named file is replaced and the link stays.
    ::symlink("x/y/z.bin", (dir + "/link").c_str());
    ASSERT_EQ(FileAt(dir + "/link")->SetContent("via", 3), VE_OK);
    EXPECT_EQ(ReadText(dir + "/x/y/z.bin"), "via");
    ASSERT_EQ(::lstat((dir + "/link").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(FileAt(dir + "/log")->AppendContent("1", 1), VE_OK);
    ASSERT_EQ(FileAt(dir + "/log")->AppendContent("2", 1), VE_OK);
    EXPECT_EQ(ReadText(dir + "/log"), "12");

    VMemoryBuffer<1024, 2, 1048576> buffer;
    ASSERT_EQ(deep->GetContent(buffer), VE_OK);
    EXPECT_EQ(std::string(static_cast<char*>(buffer.GetDataPtr()), buffer.GetDataSize()), "via");
    WriteText(dir + "/empty", "");
    ASSERT_EQ(FileAt(dir + "/empty")->GetContent(buffer), VE_OK);
    EXPECT_EQ(buffer.GetDataSize(), 0u);
    EXPECT_EQ(buffer.GetDataPtr(), nullptr);

    // A FIFO is refused at once instead of waiting for a writer.
    ::mkfifo((dir + "/fifo").c_str(), 0600);
    StErrorContextInstaller errors;
    EXPECT_EQ(FileAt(dir + "/fifo")->GetContent(buffer), QeltError(602));
    EXPECT_EQ(Codes(errors).front(), PosixError(EINVAL));
    errors.GetContext()->Flush();

    EXPECT_FALSE(FileAt(dir + "/missing")->IsWritable());
    EXPECT_TRUE(FileAt(dir + "/log")->IsWritable());
    EXPECT_TRUE(Codes(errors).empty());
    EXPECT_FALSE(FileAt(dir + "/missing")->Exists());
}

TEST(VFile, TextContentWithMarksAndCharSets)
{
    std::string dir = test::MakeTempFolder("vfile_text");
    VRefPtr<VFile> file = FileAt(dir + "/t.txt");
    VString e_acute(VString("\xC3\xA9", 2, VTC_UTF_8));
    ASSERT_EQ(file->SetContentAsString(e_acute, VTC_UTF_8, eCRM_NONE, true), VE_OK);
    EXPECT_EQ(ReadText(dir + "/t.txt"), "\xEF\xBB\xBF\xC3\xA9");
    ASSERT_EQ(file->SetContentAsString(VString(), VTC_UTF_8, eCRM_NONE, true), VE_OK);
    EXPECT_EQ(ReadText(dir + "/t.txt"), "");

    WriteText(dir + "/t.txt", std::string("\xFF\xFE" "A\0B\0", 6));
    VString text;
    ASSERT_EQ(file->GetContentAsString(text, VTC_UTF_8, eCRM_NONE), VE_OK);
    EXPECT_EQ(to_string(text), "AB");
    WriteText(dir + "/t.txt", "a\r\nb");
    ASSERT_EQ(file->GetContentAsString(text, VTC_UTF_8, eCRM_LF), VE_OK);
    EXPECT_EQ(to_string(text), "a\nb");

    StErrorContextInstaller errors;
    EXPECT_EQ(file->SetContentAsString(VString("x"), static_cast<CharSet>(9999), eCRM_NONE, false), QeltError(208));
    EXPECT_EQ(ReadText(dir + "/t.txt"), "a\r\nb");
    EXPECT_EQ(FileAt(dir + "/none")->GetContentAsString(text, VTC_UTF_8, eCRM_NONE), QeltError(600));
    EXPECT_TRUE(text.IsEmpty());
}

TEST(VFile, ReservedCharactersEncodeAndDecode)
{
    struct {
        const char* in;
        const char* encoded;
    } cases[] = {{"a:b/c", "a%3Ab%2Fc"}, {"100%", "100%25"}, {"abc123", "abc123"}, {"", ""},
                 {"<*?|\\\">", "%3C%2A%3F%7C%5C%22%3E"}, {"a\nb", "a%0Ab"}, {"\xC3\xA9~", "\xC3\xA9~"}};
    for (const auto& c : cases) {
        VString in(c.in, static_cast<unsigned long>(std::strlen(c.in)), VTC_UTF_8);
        VString encoded = EncodeReservedFileCharacters(in);
        EXPECT_EQ(to_string(encoded), c.encoded) << c.in;
        EXPECT_EQ(to_string(DecodeReservedFileCharacters(encoded)), c.in) << c.in;
    }
    struct {
        const char* in;
        const char* decoded;
    } decodes[] = {{"%41", "A"}, {"x%4", "x%4"}, {"%%41", "\x04" "1"}, {"%", "%"}, {"%zz", ""}};
    for (const auto& d : decodes) {
        VString out = DecodeReservedFileCharacters(VString(d.in));
        if (std::string(d.in) == "%zz") {
            ASSERT_EQ(out.GetLength(), 1);
            EXPECT_EQ(out.GetCPointer()[0], 0);
        } else {
            EXPECT_EQ(to_string(out), d.decoded) << d.in;
        }
    }
    EXPECT_EQ(ExtractFile(VJSONValue()), nullptr);
    EXPECT_TRUE(WrapFile(nullptr).IsUndefined());
}

TEST(VFile, LinksAreRelativeAndDotNamesAreHidden)
{
    std::string dir = test::MakeTempFolder("vfile_links");
    ::mkdir((dir + "/a").c_str(), 0755);
    ::mkdir((dir + "/a/b").c_str(), 0755);
    ::mkdir((dir + "/a/c").c_str(), 0755);
    WriteText(dir + "/a/c/t", "target");
    VRefPtr<VFile> link = FileAt(dir + "/a/b/link");
    ASSERT_EQ(link->MAC_CreateSymbolicLink(PosixToPath(dir + "/a/c/t"), false), VE_OK);
    VString text;
    ASSERT_EQ(link->GetMacFile().ReadSymbolicLink(text), VE_OK);
    EXPECT_EQ(to_string(text), "../c/t");
    EXPECT_TRUE(link->IsAliasFile());

    VFile* resolved = link.Get();
    resolved->Retain();
    ASSERT_EQ(VFile::ResolveAliasFile(&resolved, false), VE_OK);
    VRefPtr<VFile> target = AdoptRef(resolved);
    EXPECT_NE(target.Get(), link.Get());
    VString posix;
    target->GetPlatformPath(posix, FPS_POSIX);
    EXPECT_EQ(ReadText(to_string(posix)), "target");

    // An alias of a folder: 617, or deleted when asked.
    VRefPtr<VFile> toFolder = FileAt(dir + "/a/tofolder");
    ASSERT_EQ(toFolder->CreateAlias(PosixToPath(dir + "/a/c/"), nullptr), VE_OK);
    {
        StErrorContextInstaller errors;
        EXPECT_EQ(VFile::ResolveAliasFile(toFolder, false), QeltError(617));
        EXPECT_EQ(VFile::ResolveAliasFile(toFolder, true), VE_OK);
        EXPECT_FALSE(toFolder->Exists());
        VFilePath out = PosixToPath(dir);
        EXPECT_EQ(FileAt(dir + "/a/c/t")->ResolveAlias(out), QeltError(611));
        EXPECT_FALSE(out.IsValid());
    }

    WriteText(dir + "/.profile", "");
    unsigned int attributes = 0;
    ASSERT_EQ(FileAt(dir + "/.profile")->GetFileAttributes(attributes), VE_OK);
    EXPECT_EQ(attributes & 2u, 2u);
    EXPECT_EQ(FileAt(dir + "/.profile")->SetFileAttributes(2), VE_OK);
    StErrorContextInstaller errors;
    EXPECT_EQ(FileAt(dir + "/a/c/t")->SetFileAttributes(2), QeltError(608));
    EXPECT_EQ(Codes(errors).front(), PosixError(ENOTSUP));
    EXPECT_EQ(link->MAC_SetPermissions(0600), QeltError(609));
}

TEST(VFile, CreateAndResolveAliasFollowsFileLinksAndDeletesTheOthers)
{
    std::string dir = test::MakeTempFolder("vfile_create_resolve");
    ::mkdir((dir + "/sub").c_str(), 0755);
    WriteText(dir + "/target.txt", "target");
    WriteText(dir + "/plain.txt", "plain");
    ASSERT_EQ(::symlink("target.txt", (dir + "/tofile").c_str()), 0);
    ASSERT_EQ(::symlink("sub", (dir + "/tofolder").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere", (dir + "/dangling").c_str()), 0);
    VRefPtr<VFolder> folder = AdoptRef(new VFolder(PosixToPath(dir + "/")));

    const struct {
        const char* fName;
        const char* fResultPath;  // POSIX path of the file handed back
        bool fEntryStays;         // the entry under fName is still there
    } cases[] = {
        {"plain.txt", "/plain.txt", true},
        {"missing.txt", "/missing.txt", false},
        {"tofile", "/target.txt", true},
        {"tofolder", "/tofolder", false},
        {"dangling", "/dangling", false},
    };
    for (const auto& c : cases) {
        StErrorContextInstaller errors;
        VRefPtr<VFile> file = AdoptRef(VFile::CreateAndResolveAlias(*folder, VString(c.fName), FPS_POSIX));
        ASSERT_NE(file.Get(), nullptr) << c.fName;
        VString posix;
        file->GetPlatformPath(posix, FPS_POSIX);
        EXPECT_EQ(to_string(posix), dir + c.fResultPath) << c.fName;
        EXPECT_EQ(EntryIsThere(dir + "/" + c.fName), c.fEntryStays) << c.fName;
        EXPECT_EQ(errors.GetLastError(), VE_OK) << c.fName;
    }
    EXPECT_EQ(ReadText(dir + "/target.txt"), "target");
    EXPECT_TRUE(EntryIsThere(dir + "/sub"));

    // A link that cannot be deleted: no file at all, and the link stays.
    ASSERT_EQ(::symlink("nowhere", (dir + "/stuck").c_str()), 0);
    Faults faults("unlink:1:EACCES");
    StErrorContextInstaller errors;
    EXPECT_EQ(VFile::CreateAndResolveAlias(*folder, VString("stuck"), FPS_POSIX), nullptr);
    EXPECT_NE(errors.GetLastError(), VE_OK);
    EXPECT_TRUE(EntryIsThere(dir + "/stuck"));
}

TEST(VFile, TimesRoundTripToTheMillisecond)
{
    std::string dir = test::MakeTempFolder("vfile_times");
    WriteText(dir + "/f", "x");
    VRefPtr<VFile> file = FileAt(dir + "/f");
    VTime modification, access, creation, readModification, readAccess;
    modification.FromUTCTime(2021, 3, 4, 5, 6, 7, 890);
    access.FromUTCTime(2020, 1, 2, 3, 4, 5, 6);
    ASSERT_EQ(file->SetTimeAttributes(&modification, nullptr, &access), VE_OK);
    ASSERT_EQ(file->GetTimeAttributes(&readModification, &creation, &readAccess), VE_OK);
    EXPECT_EQ(readModification.GetStamp(), modification.GetStamp());
    EXPECT_EQ(readAccess.GetStamp(), access.GetStamp());

    StErrorContextInstaller errors;
    EXPECT_EQ(FileAt(dir + "/none")->GetTimeAttributes(&readModification, nullptr, nullptr), QeltError(600));
    EXPECT_TRUE(readModification.IsNull() || readModification.GetStamp() == 0);
}

TEST(VFile, FileURLsRoundTrip)
{
    std::string dir = test::MakeTempFolder("vfile_url");
    VRefPtr<VFile> file = FileAt(dir + "/a b.txt");
    VString url;
    ASSERT_EQ(file->GetURL(url, true), VE_OK);
    EXPECT_EQ(to_string(url), "file://" + dir + "/a%20b.txt");
    VRefPtr<VFile> back = AdoptRef(new VFile(VURL(file->GetPath())));
    EXPECT_TRUE(back->IsSameFile(file.Get()));
    EXPECT_FALSE(back->IsSameFile(nullptr));
}

TEST(VFile, TemporaryFilesAreNamedFromAUUIDInTMPDIR)
{
    std::string dir = test::MakeTempFolder("vfile_tmp");
    VRefPtr<VFile> file;
    {
        test::StEnvironmentVariable tmpdir("TMPDIR", dir.c_str());
        file = AdoptRef(VFile::CreateTemporaryFile());
    }
    ASSERT_TRUE(file);
    EXPECT_TRUE(file->Exists());
    VString posix;
    file->GetPlatformPath(posix, FPS_POSIX);
    EXPECT_TRUE(std::regex_match(to_string(posix), std::regex(dir + "/qlt_[0-9A-F]{32}"))) << to_string(posix);
}

TEST(VFile, KindsOfFilesByExtensionAndEntry)
{
    std::string dir = test::MakeTempFolder("vfile_kinds");
    WriteText(dir + "/data.json", "{}");
    WriteText(dir + "/plain", "x");
    EXPECT_TRUE(FileAt(dir + "/data.json")->ConformsTo(VString("public.text")));
    EXPECT_FALSE(FileAt(dir + "/data.json")->ConformsTo(VString("public.image")));
    EXPECT_TRUE(FileAt(dir + "/plain")->ConformsTo(VString("public.data")));
    EXPECT_FALSE(FileAt(dir + "/missing.json")->ConformsTo(VString("public.text")));
    VFileKindManager::Get()->RegisterPrivateFileKind(VString("com.example.noext"), VString("no ext"),
                                                     {VString()}, {});
    EXPECT_TRUE(FileAt(dir + "/plain")->ConformsTo(VString("com.example.noext")));
    EXPECT_FALSE(FileAt(dir + "/data.json")->ConformsTo(VString("com.example.noext")));
}

TEST(VFile, VolumeFreeSpaceIsCachedPerQuotaFlag)
{
    std::string dir = test::MakeTempFolder("vfile_space");
    VRefPtr<VFile> file = FileAt(dir + "/not-yet");
    long long freeBytes = -1, total = -1;
    ASSERT_EQ(file->GetVolumeFreeSpace(&freeBytes, &total, true, 0), VE_OK);
    EXPECT_GT(total, 0);
    ASSERT_EQ(file->GetVolumeFreeSpace(&freeBytes, &total, false, 60000), VE_OK);
    EXPECT_GT(total, 0);
    StErrorContextInstaller errors;
    EXPECT_EQ(FileAt(dir + "/a/b/c")->GetVolumeFreeSpace(&freeBytes, &total, true, 1000), QeltError(600));
    EXPECT_EQ(freeBytes, 0);
    EXPECT_EQ(total, 0);
}

}  // namespace qelt
