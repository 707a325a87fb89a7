#include "files/VFileSystemNamespace.h"

#include "files/IFolder.h"
#include "files/VFile.h"
#include "files/VFolder.h"
#include "json/VJSONArray.h"
#include "json/VJSONImporter.h"
#include "runtime/VErrorBase.h"
#include "values/VValueBag.h"

namespace qelt {

namespace {

bool EndsWithUnit(const VString& inText, UniChar inUnit)
{
    return !inText.IsEmpty() && inText.GetUniChar(inText.GetLength()) == inUnit;
}

// A string property of a definition entry; anything else counts as empty.
VString StringProperty(const VJSONObject& inObject, const char* inName)
{
    VString text;
    VJSONValue value = inObject.GetProperty(VString(inName));
    if (value.IsString())
        value.GetString(text);
    return text;
}

// A new file or folder on a full POSIX path that names one, else null.
IFile* PlainFile(const VString& inPath)
{
    VFilePath path(inPath, FPS_POSIX);
    return path.IsValid() && path.IsFile() ? new VFile(path) : nullptr;
}

IFolder* PlainFolder(const VString& inPath)
{
    VFilePath path(inPath, FPS_POSIX);
    return path.IsValid() && path.IsFolder() ? new VFolder(path, nullptr) : nullptr;
}

}  // namespace

bool VFileSystemNameLess::operator()(const VString& a, const VString& b) const
{
    const int common = a.GetLength() < b.GetLength() ? a.GetLength() : b.GetLength();
    const UniChar* pa = a.GetCPointer();
    const UniChar* pb = b.GetCPointer();
    for (int i = 0; i < common; ++i)
        if (pa[i] != pb[i])
            return pa[i] < pb[i];
    return a.GetLength() < b.GetLength();
}

VFileSystemNamespace::VFileSystemNamespace(VFileSystemNamespace* inParent) : fParent(inParent)
{
    if (fParent != nullptr)
        fParent->Retain();
}

VFileSystemNamespace::~VFileSystemNamespace()
{
    fFileSystems.clear();
    if (fParent != nullptr)
        fParent->Release();
}

void VFileSystemNamespace::RegisterFileSystem(VFileSystem* inFileSystem)
{
    if (inFileSystem == nullptr)
        return;
    VRefPtr<VFileSystem> replaced;  // released after the lock is let go
    StLocker lock(fLock);
    VRefPtr<VFileSystem>& slot = fFileSystems[inFileSystem->GetName()];
    replaced = std::move(slot);
    slot = inFileSystem;
}

VError VFileSystemNamespace::RegisterFileSystem(const VString& inName, IFolder* inRoot, unsigned int inFlags)
{
    VError err = VE_OK;
    VRefPtr<VFileSystem> fileSystem = AdoptRef(VFileSystem::Create(inName, inRoot, inFlags, 0, 0, &err));
    RegisterFileSystem(fileSystem.Get());
    return err;
}

void VFileSystemNamespace::UnregisterFileSystem(const VString& inName)
{
    VRefPtr<VFileSystem> removed;
    StLocker lock(fLock);
    auto it = fFileSystems.find(inName);
    if (it != fFileSystems.end()) {
        removed = std::move(it->second);
        fFileSystems.erase(it);
    }
}

VFileSystem* VFileSystemNamespace::RetainFileSystem(const VString& inName, unsigned int inOptions) const
{
    for (const VFileSystemNamespace* space = this; space != nullptr;
         space = (inOptions & kFileSystemSearchParents) ? space->fParent : nullptr) {
        StLocker lock(space->fLock);
        auto it = space->fFileSystems.find(inName);
        if (it == space->fFileSystems.end())
            continue;
        VFileSystem* found = it->second.Get();
        if ((inOptions & kFileSystemPublicOnly) && (found->GetFlags() & kFileSystemPrivate))
            return nullptr;
        found->Retain();
        return found;
    }
    return nullptr;
}

IFolder* VFileSystemNamespace::RetainFileSystemRootFolder(const VString& inName, unsigned int inOptions) const
{
    VRefPtr<VFileSystem> fileSystem = AdoptRef(RetainFileSystem(inName, inOptions));
    return fileSystem.Get() != nullptr ? fileSystem->RetainRootFolder() : nullptr;
}

VError VFileSystemNamespace::RetainMapOfFileSystems(VFileSystemMap& outMap, unsigned int inOptions) const
{
    // Parents first, outermost first, so that nearer names win; no recursion.
    std::vector<const VFileSystemNamespace*> chain;
    for (const VFileSystemNamespace* space = this; space != nullptr;
         space = (inOptions & kFileSystemSearchParents) ? space->fParent : nullptr)
        chain.push_back(space);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        StLocker lock((*it)->fLock);
        for (const auto& [name, fileSystem] : (*it)->fFileSystems) {
            if ((inOptions & kFileSystemPublicOnly) && (fileSystem->GetFlags() & kFileSystemPrivate))
                continue;
            outMap[name] = fileSystem;
        }
    }
    return VE_OK;
}

bool VFileSystemNamespace::ParsePathWithFileSystem(const VString& inPath, VRefPtr<VFileSystem>& outFileSystem,
                                                   VString& outRelativePath, unsigned int inOptions) const
{
    if (inPath.IsEmpty() || inPath.GetUniChar(1) != '/')
        return false;
    int second = 0;
    for (int i = 2; i <= inPath.GetLength() && second == 0; ++i)
        if (inPath.GetUniChar(i) == '/')
            second = i;
    if (second == 0)
        return false;
    VString name;
    VString rest;
    inPath.GetSubString(2, second - 2, name);
    if (second < inPath.GetLength())
        inPath.GetSubString(second + 1, inPath.GetLength() - second, rest);
    VRefPtr<VFileSystem> fileSystem = AdoptRef(RetainFileSystem(name, inOptions));
    if (fileSystem.Get() == nullptr)
        return false;
    const VFilePath root = fileSystem->GetRoot();
    VFilePath built(root, rest, FPS_POSIX, true);
    VString relative;
    if (!built.IsValid() || !built.GetRelativePosixPath(root, relative))
        return false;
    outFileSystem = fileSystem;
    outRelativePath = relative;
    return true;
}

IFile* VFileSystemNamespace::RetainFile(const VString& inPath, IFolder* inBaseFolder, unsigned int inOptions,
                                        bool inPlainPath) const
{
    if (inPath.IsEmpty())
        return nullptr;
    if (inPath.GetUniChar(1) == '/') {
        VRefPtr<VFileSystem> fileSystem;
        VString relative;
        if (ParsePathWithFileSystem(inPath, fileSystem, relative, inOptions) && !relative.IsEmpty() &&
            !EndsWithUnit(relative, '/')) {
            VRefPtr<IFolder> root = AdoptRef(fileSystem->RetainRootFolder());
            return root.Get() != nullptr ? root->_RetainRelativeIFile(relative, FPS_POSIX) : nullptr;
        }
        return (inBaseFolder == nullptr && inPlainPath) ? PlainFile(inPath) : nullptr;
    }
    if (inBaseFolder != nullptr)
        return inBaseFolder->_RetainRelativeIFile(inPath, FPS_POSIX);
    return inPlainPath ? PlainFile(inPath) : nullptr;
}

IFolder* VFileSystemNamespace::RetainFolder(const VString& inPath, IFolder* inBaseFolder, unsigned int inOptions,
                                            bool inPlainPath) const
{
    if (inPath.IsEmpty())
        return nullptr;
    if (inPath.GetUniChar(1) == '/') {
        VString text(inPath);
        if (!EndsWithUnit(text, '/'))
            text.AppendUniChar('/');
        VRefPtr<VFileSystem> fileSystem;
        VString relative;
        if (ParsePathWithFileSystem(text, fileSystem, relative, inOptions) &&
            (relative.IsEmpty() || EndsWithUnit(relative, '/'))) {
            VRefPtr<IFolder> root = AdoptRef(fileSystem->RetainRootFolder());
            return root.Get() != nullptr ? root->RetainRelativeFolder(relative, FPS_POSIX, nullptr) : nullptr;
        }
        return (inBaseFolder == nullptr && inPlainPath) ? PlainFolder(inPath) : nullptr;
    }
    if (inBaseFolder != nullptr)
        return inBaseFolder->RetainRelativeFolder(inPath, FPS_POSIX, nullptr);
    return inPlainPath ? PlainFolder(inPath) : nullptr;
}

IFile* VFileSystemNamespace::RetainFile(const VFileSystemNamespace* inNamespace, const VString& inPath,
                                        IFolder* inBaseFolder, unsigned int inOptions, bool inPlainPath)
{
    if (inNamespace != nullptr)
        return inNamespace->RetainFile(inPath, inBaseFolder, inOptions, inPlainPath);
    if (inPath.IsEmpty())
        return nullptr;
    if (inBaseFolder != nullptr)
        return inBaseFolder->_RetainRelativeIFile(inPath, FPS_POSIX);
    return PlainFile(inPath);
}

IFolder* VFileSystemNamespace::RetainFolder(const VFileSystemNamespace* inNamespace, const VString& inPath,
                                            IFolder* inBaseFolder, unsigned int inOptions, bool inPlainPath)
{
    if (inNamespace != nullptr)
        return inNamespace->RetainFolder(inPath, inBaseFolder, inOptions, inPlainPath);
    if (inPath.IsEmpty())
        return nullptr;
    if (inBaseFolder != nullptr)
        return inBaseFolder->RetainRelativeFolder(inPath, FPS_POSIX, nullptr);
    return PlainFolder(inPath);
}

VError VFileSystemNamespace::LoadFromDefinitionFile(VFile* inFile)
{
    if (inFile == nullptr) {
        _ThrowError(QeltError(1));
        return QeltError(1);
    }
    VJSONValue value;
    VError err = VJSONImporter::ParseFile(inFile, value, kJSONImportUndefinedOnError | kJSONImportStrict);
    if (err != VE_OK) {
        VString path;
        inFile->GetPath().GetPath(path);
        VErrorBase* error = new VErrorBase(VE_FILE_SYSTEM_DEFINITION_INVALID);
        error->GetBag()->SetAttribute("path", path);
        _PushRetainedError(error, VE_OK);
        return err;
    }
    if (value.IsArray())
        return LoadFromJSONArray(value.GetArray());
    return VE_OK;
}

VError VFileSystemNamespace::LoadFromJSONArray(const VJSONArray* inArray)
{
    if (inArray == nullptr || inArray->GetCount() == 0)
        return VE_OK;
    StLocker lock(fLock);
    for (size_t i = 0; i < inArray->GetCount(); ++i) {
        VJSONValue element = inArray->GetAt(i);
        VJSONObject* object = element.GetObject();
        if (object == nullptr)
            continue;
        VString name = StringProperty(*object, "name");
        VString path = StringProperty(*object, "path");
        VString parent = StringProperty(*object, "parent");
        VJSONValue writable = object->GetProperty(VString("writable"));
        const bool isWritable = writable.IsBool() && writable.GetBool();
        if (!path.IsEmpty() && !EndsWithUnit(path, '/') && !EndsWithUnit(path, '\\'))
            path.AppendUniChar('/');

        VRefPtr<IFolder> root;
        if (!parent.IsEmpty()) {
            VRefPtr<VFileSystem> parentSystem = AdoptRef(RetainFileSystem(parent, kFileSystemSearchParents));
            if (parentSystem.Get() == nullptr)
                continue;
            VRefPtr<IFolder> parentRoot = AdoptRef(parentSystem->RetainRootFolder());
            if (parentRoot.Get() == nullptr)
                continue;
            // A path that climbs out of the parent's root is refused.
            root = AdoptRef(parentRoot->RetainRelativeFolder(path, FPS_POSIX, parentSystem.Get()));
            if (root.Get() == nullptr)
                continue;
            root = AdoptRef(static_cast<IFolder*>(new VFolder(root->GetPath(), nullptr)));
        } else {
            root = AdoptRef(static_cast<IFolder*>(new VFolder(path, FPS_POSIX)));
        }
        RegisterFileSystem(name, root.Get(), isWritable ? kFileSystemWritable : 0);
    }
    return VE_OK;
}

}  // namespace qelt
