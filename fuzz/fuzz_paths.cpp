// File paths on arbitrary input. The first byte chooses the test:
// - even: the rest, cut at its first zero byte, is a full POSIX path (a '/'
//   is put in front) read as bytes from the system; written back it must be
//   byte-identical when none of its elements is empty, "." or "..", and the
//   stored own-form text is a fixed point of the folding;
// - odd: the rest gives texts in the own form (split at the first zero
//   units) that go through every setter, query and relation, with the
//   invariants of a valid path checked after each.
#include <cstring>
#include <string>

#include "files/VFilePath.h"
#include "files/VURL.h"
#include "files/mac/XMacFile.h"
#include "fuzz/FuzzSupport.h"
#include "kernel/VCppMemMgr.h"

using namespace qelt;

namespace {

// True when every element between the leading '/' and an optional trailing
// '/' is a real name.
bool HasOnlyNames(const std::string& inPath)
{
    size_t start = 1;
    while (start < inPath.size()) {
        size_t end = inPath.find('/', start);
        if (end == std::string::npos)
            end = inPath.size();
        const std::string element = inPath.substr(start, end - start);
        if (element.empty() || element == "." || element == "..")
            return false;
        if (end + 1 == inPath.size())
            break;  // a trailing '/' names a folder
        start = end + 1;
    }
    return true;
}

bool Contains(const VString& inText, UniChar inUnit) { return inText.FindUniChar(inUnit) > 0; }

void CheckValidPath(const VFilePath& inPath)
{
    if (!inPath.IsValid())
        return;
    VString text;
    inPath.GetPath(text);
    const UniChar* p = text.GetCPointer();
    for (int i = 0; i < text.GetLength(); ++i) {
        fuzz::Check(p[i] != 0, "a valid path holds no zero unit");
        fuzz::Check(i + 1 >= text.GetLength() || p[i] != u':' || p[i + 1] != u':', "a valid path holds no step");
    }
    fuzz::Check(text.IsEmpty() || p[0] != u':', "a valid path does not begin with ':'");
    fuzz::Check(text.IsEmpty() == (inPath.GetDepth() == 0), "a valid path has a depth");
    fuzz::Check(inPath.IsFolder() != inPath.IsFile() || text.IsEmpty(), "a path is a file or a folder");
}

void RoundTrip(const uint8_t* inData, size_t inSize)
{
    std::string posix = "/";
    for (size_t i = 0; i < inSize && inData[i] != 0; ++i)
        posix.push_back(static_cast<char>(inData[i]));
    VFilePath path;
    XMacFile::GetFilePathFromPosixPath(posix.c_str(), false, path);
    fuzz::Check(path.IsValid(), "a full POSIX path gives a valid path");
    CheckValidPath(path);
    char* back = XMacFile::AllocatePosixPathFromFilePath(path);
    fuzz::Check(back != nullptr, "the POSIX text of a path is made");
    if (HasOnlyNames(posix))
        fuzz::Check(posix == back, "a POSIX path comes back byte for byte");
    VObject::sCppMemMgr->Free(back);

    VString own;
    path.GetPath(own);
    VFilePath again(own);
    VString ownAgain;
    again.GetPath(ownAgain);
    fuzz::Check(again.IsValid() && ownAgain.EqualToStringRaw(own), "a stored path is set again unchanged");
}

void Exercise(const uint8_t* inData, size_t inSize)
{
    VString all;
    fuzz::MakeText(inData, inSize, all);
    // Up to four texts separated by zero units.
    VString texts[4];
    int index = 0;
    for (int i = 0; i < all.GetLength(); ++i) {
        const UniChar c = all.GetCPointer()[i];
        if (c == 0 && index < 3)
            ++index;
        else
            texts[index].AppendUniChar(c);
    }
    const VString& first = texts[0];
    const VString& second = texts[1];
    const VString& name = texts[2];

    VFilePath path(first);
    CheckValidPath(path);
    VFilePath posix(first, FPS_POSIX);
    CheckValidPath(posix);
    VFilePath base(second);
    CheckValidPath(base);

    VString out;
    path.GetPosixPath(out);
    path.GetName(out);
    path.GetFileName(out, false);
    path.GetFolderName(out, false);
    path.GetExtension(out);
    path.MatchExtension(name);
    path.HasParent();
    const bool child = path.IsChildOf(base);
    const bool same = path.IsSameOrChildOf(base);
    fuzz::Check(!child || same, "a child is the same or a child");
    fuzz::Check(path.IsChildOfRawPath(base) == child, "raw and plain containment agree");
    const bool below = path.GetRelativePath(base, out);
    fuzz::Check(below == same, "a relative path exists exactly below the base");
    path.GetRelativePosixPath(base, out);

    for (int style = 0; style < 2; ++style) {
        for (int only = 0; only < 2; ++only) {
            VFilePath joined(base, first, static_cast<FilePathStyle>(style), only != 0);
            CheckValidPath(joined);
        }
    }

    VFilePath edited(path);
    VFilePath result;
    edited.GetParent(result);
    CheckValidPath(result);
    edited.GetFolder(result);
    CheckValidPath(result);
    edited.SetName(name);
    CheckValidPath(edited);
    edited.SetFileName(name, false);
    CheckValidPath(edited);
    edited.SetFolderName(name, false);
    CheckValidPath(edited);
    if (!Contains(name, u':')) {
        edited.SetExtension(name);
        CheckValidPath(edited);
        edited.SetFileExtension(name);
        CheckValidPath(edited);
        edited.SetFolderExtension(name);
        CheckValidPath(edited);
    }
    if (!Contains(name, u':')) {
        edited.ToSubFolder(name);
        CheckValidPath(edited);
        edited.ToSubFile(name);
        CheckValidPath(edited);
    }
    edited.RemoveBlanks();
    edited.ToFolder();
    edited.ToParent();
    edited.GetDepth();

    VString text(first);
    VFilePath::ResolveRelativePosix(text);
    text = first;
    VFilePath::_ResolveRelative(text);
    text = first;
    VURL::HFS_to_POSIX(text, true);
    text = first;
    VURL::HFS_to_POSIX(text, false);
    text = first;
    VURL::POSIX_to_HFS(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Setup();
    fuzz::Scope scope;
    if (size == 0)
        return 0;
    if ((data[0] & 1) == 0)
        RoundTrip(data + 1, size - 1);
    else
        Exercise(data + 1, size - 1);
    return 0;
}
