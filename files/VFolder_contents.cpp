// What a folder holds: emptiness, deleting, listing, walking and copying
// its contents.
#include "files/VFileError.h"
#include "files/VFileIterator.h"
#include "files/VFolder.h"
#include "files/mac/XMacFile.h"
#include "platform/PlatFileOps.h"
#include "platform/PlatFolders.h"
#include "values/VTime.h"

#include <set>
#include <utility>

namespace qelt {

namespace {

// The iterator option 32 is kept for callers that pass it; it changes nothing here.
constexpr unsigned int kIterateAll = 32;

std::string PosixWithoutSlash(const VFolder& inFolder)
{
    std::string text = inFolder.GetPlatform().GetPosixText();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

// Appends the visible files (and unresolved links) and the visible
// subfolders of an existing folder, in directory order, as objects or as
// interfaces.
template <class FileRef, class FolderRef>
void AppendContents(const VFolder* inFolder, std::vector<VRefPtr<FileRef>>* outFiles,
                    std::vector<VRefPtr<FolderRef>>* outFolders)
{
    if (!inFolder->Exists())
        return;
    if (outFiles != nullptr)
        for (VFileIterator it(inFolder, kIterateFiles); it.IsValid(); ++it)
            outFiles->push_back(VRefPtr<FileRef>(it.Current()));
    if (outFolders != nullptr)
        for (VFolderIterator it(inFolder, kIterateFolders); it.IsValid(); ++it)
            outFolders->push_back(VRefPtr<FolderRef>(it.Current()));
}

}  // namespace

bool VFolder::IsEmpty() const
{
    if (!fPlatform.Exists(true))
        return true;
    const unsigned int options = kIterateFolders | kIterateFiles | kIterateInvisible;
    VFolderIterator folders(this, options);
    if (folders.IsValid())
        return false;
    VFileIterator files(this, options);
    return !files.IsValid();
}

VError VFolder::DeleteContents(bool inRemoveFolders) const
{
    VError err = VE_OK;
    if (inRemoveFolders) {
        // Each subfolder goes as a whole through the engine's removal, which
        // walks without recursion and removes links without following them.
        for (VFolderIterator it(this, kIterateFolders | kIterateInvisible | kIterateAll); it.IsValid() && err == VE_OK;
             ++it) {
            std::string path = PosixWithoutSlash(*it.Current());
            int removed = plat::RemoveTree(path.c_str());
            if (removed != 0 && removed != ENOENT)
                err = WrapFileError(it->GetPath(), PosixError(removed), VE_CANNOT_DELETE_FOLDER);
        }
    }
    for (VFileIterator it(this, kIterateFiles | kIterateInvisible | kIterateAll); it.IsValid() && err == VE_OK; ++it)
        err = it->Delete();
    return err;
}

void VFolder::GetContents(std::vector<VRefPtr<VFile>>* outFiles, std::vector<VRefPtr<VFolder>>* outFolders) const
{
    AppendContents(this, outFiles, outFolders);
}

void VFolder::GetElements(std::vector<VRefPtr<IFile>>* outFiles, std::vector<VRefPtr<IFolder>>* outFolders) const
{
    AppendContents(this, outFiles, outFolders);
}

void VFolder::Iterate(std::function<bool(IFileAttributeAccessor*)>&& inCallback, unsigned int inOptions) const
{
    if (!inCallback || !Exists())
        return;
    const bool recurse = (inOptions & kIterateRecursive) != 0;
    const bool reportFolders = (inOptions & kIterateFolders) != 0;
    const bool guardLoops = recurse && (inOptions & kIterateResolveLinks) != 0;
    const unsigned int folderOptions = (inOptions & kIterateFiles) ? kIterateFolders : inOptions;

    // One frame per folder being walked, outermost first: the walk keeps its
    // own stack, so a deep tree never deepens the C stack. With links
    // resolved, a folder already on the walk (same device and inode) is not
    // entered again.
    struct Frame {
        std::unique_ptr<VFolderIterator> folders;
        uint64_t device;
        uint64_t inode;
    };
    std::vector<Frame> stack;
    std::set<std::pair<uint64_t, uint64_t>> onWalk;

    auto enter = [&](const VFolder* inFolder) {
        if (inOptions & kIterateFiles) {
            for (VFileIterator it(inFolder, inOptions); it.IsValid(); ++it) {
                it.GetAccessor()->SetDocument(static_cast<IFile*>(it.Current()));
                if (!inCallback(it.GetAccessor()))
                    break;
            }
        }
        if (!recurse && !reportFolders)
            return;
        auto folders = std::make_unique<VFolderIterator>(inFolder, folderOptions);
        plat::FolderStatus status;
        plat::GetFolderStatus(inFolder->GetPlatform().GetPosixText(), true, status);
        if (guardLoops)
            onWalk.insert({status.device, status.inode});
        stack.push_back({std::move(folders), status.device, status.inode});
    };

    enter(this);
    while (!stack.empty()) {
        Frame& frame = stack.back();
        VFolderIterator& it = *frame.folders;
        if (!it.IsValid()) {
            onWalk.erase({frame.device, frame.inode});
            stack.pop_back();
            continue;
        }
        VRefPtr<VFolder> folder(it.Current());
        if (reportFolders) {
            it.GetAccessor()->SetDocument(static_cast<IFolder*>(folder.Get()));
            if (!inCallback(it.GetAccessor())) {
                onWalk.erase({frame.device, frame.inode});
                stack.pop_back();
                continue;
            }
        }
        ++it;
        if (!recurse)
            continue;
        if (guardLoops) {
            plat::FolderStatus status;
            if (plat::GetFolderStatus(folder->GetPlatform().GetPosixText(), true, status) == 0 &&
                onWalk.count({status.device, status.inode}) != 0)
                continue;
        }
        enter(folder.Get());
    }
}

VError VFolder::_CheckCopyDestination(const VFolder& inDestinationFolder, const VFilePath& inTarget,
                                      bool inRefuseHolder) const
{
    const VFilePath destination = inDestinationFolder.GetPath();
    std::string source = PosixWithoutSlash(*this);
    VString targetPosix;
    inTarget.GetPosixPath(targetPosix);
    std::string target;
    XMacFile::EncodePathText(targetPosix.GetCPointer(), targetPosix.GetLength(), target);
    while (target.size() > 1 && target.back() == '/')
        target.pop_back();

    // The target is the source or inside it; or it holds the source, which
    // replacing or merging into it would destroy or copy into itself.
    bool refused = IsSameFolder(&inDestinationFolder) || destination.IsChildOf(fPath) ||
                   inTarget.IsSameOrChildOf(fPath) || plat::IsSameOrInside(target.c_str(), source.c_str());
    if (inRefuseHolder && !refused)
        refused = fPath.IsSameOrChildOf(inTarget) || plat::IsSameOrInside(source.c_str(), target.c_str());
    if (!refused)
        return VE_OK;
    VString destinationText;
    destination.GetPath(destinationText);
    VFileError* error = new VFileError(fPath, VE_CANNOT_COPY_FOLDER_INTO_ITSELF);
    error->GetBag()->SetAttribute("destination", destinationText);
    _PushRetainedError(error, VE_OK);
    return VE_CANNOT_COPY_FOLDER_INTO_ITSELF;
}

VError VFolder::CopyTo(VFolder& inDestination, VFolder** outFolder, unsigned int inOptions) const
{
    VString name;
    GetName(name);
    return CopyTo(inDestination, name, outFolder, inOptions);
}

VError VFolder::CopyTo(VFolder& inDestination, const VString& inName, VFolder** outFolder,
                       unsigned int inOptions) const
{
    if (outFolder != nullptr)
        *outFolder = nullptr;
    VRefPtr<VFolder> target = AdoptRef(new VFolder(inDestination, inName, FPS_SYSTEM));
    VError err = _CheckCopyDestination(inDestination, target->GetPath(), true);
    if (err != VE_OK)
        return err;
    if (inOptions & kFolderCopyReplace)
        err = _CopyReplacing(*target, inDestination, inName, inOptions);
    else
        err = CopyContentsTo(*target, inOptions);
    if (outFolder != nullptr)
        *outFolder = target.Forget();
    return err;
}

VError VFolder::_CopyReplacing(const VFolder& inTarget, const VFolder& inDestination, const VString& inName,
                               unsigned int inOptions) const
{
    // The whole tree in one engine call: it builds the copy beside the
    // target and swaps it in only once complete, so a failure leaves the
    // target as it was.
    if (fPlatform.CopyToNonExistingFolder(inDestination, inName, true) == VE_OK)
        return VE_OK;

    // Item by item into a temporary folder beside the target, swapped in the
    // same way when everything was copied.
    std::string target = PosixWithoutSlash(inTarget);
    std::string temporary = plat::SiblingTempName(target.c_str());
    VFilePath temporaryPath;
    XMacFile::GetFilePathFromPosixPath(temporary.c_str(), true, temporaryPath);
    VRefPtr<VFolder> staging = AdoptRef(new VFolder((temporary + "/").c_str(), temporaryPath, nullptr));
    VError err = CopyContentsTo(*staging, inOptions);
    if (err == VE_OK) {
        int moved = inTarget.GetPlatform().Exists(false) ? plat::ExchangePaths(temporary.c_str(), target.c_str())
                                                          : plat::MovePath(temporary.c_str(), target.c_str(), false);
        if (moved != 0)
            err = WrapFileError(inTarget.GetPath(), PosixError(moved), VE_CANNOT_RENAME_FOLDER);
    }
    // The staging name holds either the failed copy or, after the exchange, the old target.
    plat::RemoveTree(temporary.c_str());
    return err;
}

VError VFolder::CopyContentsTo(VFolder& inDestination, unsigned int inOptions) const
{
    VFolder* parent = inDestination.RetainParentFolder(false);
    VRefPtr<VFolder> destinationParent = AdoptRef(parent);
    VError err = _CheckCopyDestination(parent != nullptr ? *parent : inDestination, inDestination.GetPath(), false);
    if (err != VE_OK)
        return err;
    const bool created = !inDestination.Exists();
    if (created && (err = inDestination.Create()) != VE_OK)
        return err;

    const bool keepGoing = (inOptions & kFolderCopyKeepGoing) != 0;
    const bool visibleOnly = (inOptions & kFolderCopyVisibleOnly) != 0;
    VError first = VE_OK;
    const unsigned int folderOptions = visibleOnly ? kIterateFolders : kIterateFolders | kIterateInvisible;
    for (VFolderIterator it(this, folderOptions); it.IsValid() && (first == VE_OK || keepGoing); ++it) {
        VString name;
        it->GetName(name);
        err = it->CopyTo(inDestination, name, nullptr, inOptions);
        if (err != VE_OK && first == VE_OK)
            first = err;
    }
    if (first == VE_OK || keepGoing) {
        const unsigned int fileOptions = visibleOnly ? kIterateFiles : kIterateFiles | kIterateInvisible;
        for (VFileIterator it(this, fileOptions); it.IsValid() && (first == VE_OK || keepGoing); ++it) {
            VString name;
            it->GetName(name);
            VRefPtr<VFile> copy = AdoptRef(new VFile(inDestination.GetPath(), name, FPS_SYSTEM));
            err = it->CopyTo(*copy, inOptions);
            if (err != VE_OK && first == VE_OK)
                first = err;
        }
    }
    // A folder made by this copy takes the source's mode and times, set
    // last since filling it changed its times.
    if (created && first == VE_OK) {
        unsigned short mode = 0;
        VTime modification, creation, access;
        if (fPlatform.GetPermissions(&mode) == VE_OK)
            inDestination.GetPlatform().SetPermissions(mode);
        if (fPlatform.GetTimeAttributes(&modification, &creation, &access) == VE_OK)
            inDestination.GetPlatform().SetTimeAttributes(&modification, nullptr, &access);
    }
    return first;
}

bool VFolder::RevealInFinder(bool inSelectFirstItem) const
{
    if (inSelectFirstItem) {
        VFileIterator files(this, kIterateFiles | kIterateResolveLinks);
        if (files.IsValid() && files->RevealInFinder() == VE_OK)
            return true;
        VFolderIterator folders(this, kIterateFolders | kIterateResolveLinks);
        if (folders.IsValid() && folders->RevealInFinder(false))
            return true;
    }
    fPlatform.RevealInFinder();
    return true;
}

}  // namespace qelt
