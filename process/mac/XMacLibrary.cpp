#include "process/mac/XMacLibrary.h"

#include <cstdio>
#include <vector>

#include "files/VFileError.h"
#include "files/mac/XMacFile.h"
#include "kernel/VKernelTypes.h"
#include "platform/PlatBundle.h"
#include "platform/PlatFile.h"
#include "platform/PlatLibrary.h"
#include "platform/PlatRealPath.h"
#include "runtime/VErrorBase.h"

namespace qelt {

namespace {

constexpr size_t kLinkFileMaxSize = 4096;

std::string Bytes(const VString& inText)
{
    std::string bytes;
    XMacFile::EncodePathText(inText.GetCPointer(), inText.GetLength(), bytes);
    return bytes;
}

bool IsFolderOnDisk(const std::string& inPath)
{
    plat::EntryInfo info;
    return plat::GetEntryInfo(inPath.c_str(), true, info) == 0 && info.kind == plat::EntryKind::Folder;
}

std::string PosixOf(const VFilePath& inPath)
{
    VString text;
    inPath.GetPosixPath(text);
    std::string bytes = Bytes(text);
    while (bytes.size() > 1 && bytes.back() == '/')
        bytes.pop_back();
    return bytes;
}

// The elements of a path with "." dropped and ".." taking one back.
std::vector<std::string> Elements(const std::string& inPath)
{
    std::vector<std::string> elements;
    size_t at = 0;
    while (at <= inPath.size()) {
        size_t end = inPath.find('/', at);
        if (end == std::string::npos)
            end = inPath.size();
        std::string element = inPath.substr(at, end - at);
        if (element == "..") {
            if (!elements.empty())
                elements.pop_back();
        } else if (!element.empty() && element != ".") {
            elements.push_back(element);
        }
        at = end + 1;
    }
    return elements;
}

// The target, resolved against the folder, written relative to it.
std::string RelativeLinkText(const std::string& inFolder, const std::string& inTarget)
{
    std::vector<std::string> folder = Elements(inFolder);
    std::vector<std::string> target = Elements(inTarget.starts_with('/') ? inTarget : inFolder + "/" + inTarget);
    size_t common = 0;
    while (common < folder.size() && common < target.size() && folder[common] == target[common])
        ++common;
    std::string text;
    for (size_t i = common; i < folder.size(); ++i)
        text += text.empty() ? ".." : "/..";
    for (size_t i = common; i < target.size(); ++i) {
        if (!text.empty())
            text.push_back('/');
        text += target[i];
    }
    return text.empty() ? "." : text;
}

VFilePath _PosixPath(const std::string& inPath)
{
    VString text;
    XMacFile::DecodePathBytes(inPath.data(), inPath.size(), text);
    return VFilePath(text, FPS_POSIX);
}

// Adds the permission bits to the file, or to the file a link leads to.
void AddPermissions(const std::string& inFile, uint32_t inBits)
{
    std::string file;
    plat::EntryInfo info;
    if (plat::RealPath(inFile.c_str(), true, file) == 0 && plat::GetEntryInfo(file.c_str(), false, info) == 0 &&
        (info.mode & inBits) != inBits)
        plat::SetPermissions(file.c_str(), info.mode | inBits);
}

}  // namespace

bool XMacLibrary::ParseLinkFileText(const std::string& inText, std::string& outTarget)
{
    if (!inText.starts_with("XSym")) {
        outTarget = inText;
        return true;
    }
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < inText.size()) {
        size_t end = inText.find_first_of("\r\n", at);
        if (end == std::string::npos)
            end = inText.size();
        if (end > at)
            lines.push_back(inText.substr(at, end - at));
        at = end + 1;
    }
    if (lines.size() < 4)
        return false;
    outTarget = lines[3];
    return true;
}

void XMacLibrary::_PushLoaderError(const VFilePath& inPath, const char* inReason)
{
    auto* error = new VFileError(inPath, QeltError(1010));
    if (inReason != nullptr)
        error->GetBag()->SetAttribute("reason", VString(inReason));
    _PushRetainedError(error, 0);
}

void XMacLibrary::_RepairFrameworkLinks(const VFilePath& inPath)
{
    const std::string framework = PosixOf(inPath);
    VString name;
    inPath.GetFolderName(name, false);
    const std::string candidates[3] = {"Versions/Current", "Resources", Bytes(name)};
    for (const std::string& candidate : candidates) {
        const std::string file = framework + "/" + candidate;
        if (plat::GetEntryKind(file.c_str()) == plat::EntryKind::Link)
            continue;
        // A plain file of a few bytes holding the target path, or stop.
        std::string text;
        if (plat::ReadSmallFile(file.c_str(), kLinkFileMaxSize, text) != 0 || text.empty())
            return;
        std::string target;
        if (!ParseLinkFileText(text, target)) {
            _ThrowError(QeltError(617));
            return;
        }
        while (!target.empty() && (target.back() == '\n' || target.back() == '\r'))
            target.pop_back();
        if (target.empty() || target.find('\0') != std::string::npos)
            return;
        const std::string folder = file.substr(0, file.rfind('/'));
        // The link is made beside the file and renamed over it, so the
        // file stays whole until the link replaces it.
        if (plat::MakeLinkReplacing(RelativeLinkText(folder, target).c_str(), file.c_str()) != 0)
            return;
    }
}

bool XMacLibrary::Load(const VFilePath& inPath)
{
    Unload();
    const std::string path = PosixOf(inPath);
    if (!inPath.IsFolder()) {
        AddPermissions(path, 0555);
        std::string reason;
        fHandle = plat::LoadSharedLibrary(path.c_str(), reason);
        if (fHandle == nullptr)
            _PushLoaderError(inPath, reason.empty() ? nullptr : reason.c_str());
        return fHandle != nullptr;
    }

    VString extension;
    inPath.GetExtension(extension);
    const bool isFramework = extension.EqualToUSASCIICString("framework");
    if (isFramework)
        _RepairFrameworkLinks(inPath);
    if (!IsFolderOnDisk(path))
        return false;

    std::string executable;
    if (plat::GetBundleInfoValue(path, "CFBundleExecutable", executable) && !executable.empty() &&
        executable.find('/') == std::string::npos) {
        executable = path + "/Contents/MacOS/" + executable;
    } else if (isFramework) {
        VString name;
        inPath.GetFolderName(name, false);
        executable = path + "/" + Bytes(name);
    } else {
        executable.clear();
    }
    if (!executable.empty() && isFramework)
        AddPermissions(executable, 0500);
    std::string reason;
    if (!executable.empty())
        fHandle = plat::LoadSharedLibrary(executable.c_str(), reason);
    if (fHandle == nullptr) {
        if (!executable.empty())
            _PushLoaderError(_PosixPath(executable), reason.empty() ? nullptr : reason.c_str());
        _PushLoaderError(inPath, nullptr);
        return false;
    }
    fIsBundle = true;
    fBundle = path;
    fExecutable = executable;
    return true;
}

void XMacLibrary::Unload()
{
    plat::UnloadSharedLibrary(fHandle);
    fHandle = nullptr;
    fIsBundle = false;
    fBundle.clear();
    fExecutable.clear();
}

void* XMacLibrary::GetProcAddress(const std::string& inName) const
{
    return plat::FindLibrarySymbol(fHandle, inName.c_str());
}

std::string XMacLibrary::GetFolder(uint32_t inKind) const
{
    if (!fIsBundle)
        return {};
    const char* sub = nullptr;
    switch (inKind) {
        case 1:
            return fBundle;
        case 2:
            return fExecutable.substr(0, fExecutable.rfind('/'));
        case 3:
            return IsFolderOnDisk(fBundle + "/Contents") ? fBundle + "/Contents/Resources" : fBundle + "/Resources";
        case 5:
            sub = "/Contents/PlugIns";
            break;
        case 6:
            sub = "/Contents/Frameworks";
            break;
        case 7:
            sub = "/Contents/SharedSupport";
            break;
        default:
            return {};
    }
    std::string folder = fBundle + sub;
    return IsFolderOnDisk(folder) ? folder : std::string();
}

}  // namespace qelt
