#include "process/VLibrary.h"

#include "files/IFile.h"
#include "files/VFile.h"
#include "files/VFolder.h"
#include "files/mac/XMacFile.h"
#include "process/mac/XMacLibrary.h"

namespace qelt {

namespace {

VFilePath PosixFolderPath(const std::string& inPath)
{
    VString text;
    XMacFile::DecodePathBytes(inPath.data(), inPath.size(), text);
    text.AppendUniChar(u'/');
    return VFilePath(text, FPS_POSIX);
}

}  // namespace

VLibrary::VLibrary(const VFilePath& inPath) : fPath(inPath), fPlatform(new XMacLibrary) {}

VLibrary::~VLibrary()
{
    Unload();
    delete fPlatform;
}

bool VLibrary::Load()
{
    StLocker lock(fLock);
    if (!fLoaded)
        fLoaded = fPlatform->Load(fPath);
    return fLoaded;
}

void VLibrary::Unload()
{
    StLocker lock(fLock);
    if (!fLoaded)
        return;
    fPlatform->Unload();
    fLoaded = false;
    if (fResourceFile != nullptr)
        fResourceFile->Release();
    fResourceFile = nullptr;
    fResourceFileAsked = false;
}

void* VLibrary::GetProcAddress(const VString& inName)
{
    StLocker lock(fLock);
    if (!fLoaded)
        return nullptr;
    std::string name;
    XMacFile::EncodePathText(inName.GetCPointer(), inName.GetLength(), name);
    return fPlatform->GetProcAddress(name);
}

bool VLibrary::IsSameFile(const VFilePath& inPath) const
{
    StLocker lock(fLock);
    VString mine, theirs;
    fPath.GetPosixPath(mine);
    inPath.GetPosixPath(theirs);
    return mine.EqualToStringRaw(theirs);
}

VFolder* VLibrary::RetainFolder(uint32_t inKind)
{
    StLocker lock(fLock);
    if (!fLoaded || !fPlatform->IsBundle())
        return nullptr;
    if (inKind == kBUNDLE_FOLDER)
        return new VFolder(fPath);
    const std::string folder = fPlatform->GetFolder(inKind);
    return folder.empty() ? nullptr : new VFolder(PosixFolderPath(folder));
}

VFile* VLibrary::RetainExecutableFile()
{
    StLocker lock(fLock);
    if (!fLoaded || fPlatform->GetExecutablePath().empty())
        return nullptr;
    const std::string& path = fPlatform->GetExecutablePath();
    VString text;
    XMacFile::DecodePathBytes(path.data(), path.size(), text);
    return new VFile(text, FPS_POSIX);
}

IFile* VLibrary::RetainResourceFile()
{
    StLocker lock(fLock);
    if (!fLoaded)
        return nullptr;
    // No resource file exists on this platform: the answer is cached null.
    fResourceFileAsked = true;
    if (fResourceFile != nullptr)
        fResourceFile->Retain();
    return fResourceFile;
}

}  // namespace qelt
