#include "files/mac/XMacFileSystemNotification.h"

#include "files/VFolder.h"
#include "files/mac/XMacFile.h"
#include "runtime/VTask.h"

#include <vector>

namespace qelt {

XMacFileSystemNotification::XMacChangeData::XMacChangeData(const VFilePath& inFolderPath, const std::string& inRoot,
                                                            unsigned int inKinds, VTask* inTask,
                                                            VFileSystemNotifier::IEventHandler* inHandler,
                                                            XMacFileSystemNotification* inBackEnd)
    : VChangeData(inFolderPath, inKinds, inHandler, inTask, inBackEnd), fRoot(inRoot)
{
}

XMacFileSystemNotification::XMacFileSystemNotification(VFileSystemNotifier* inOwner) : fOwner(inOwner) {}

XMacFileSystemNotification::~XMacFileSystemNotification()
{
    // Joins the platform thread; afterwards no report can arrive.
    fWatcher.reset();
    std::lock_guard<std::mutex> lock(fMutex);
    for (XMacChangeData* data : fLive)
        data->Release();
    fLive.clear();
}

VError XMacFileSystemNotification::StartWatchingForChanges(const VFolder& inFolder, unsigned int inKinds,
                                                           VFileSystemNotifier::IEventHandler* inHandler,
                                                           int inLatencyMilliseconds)
{
    std::string root = inFolder.GetPlatform().GetPosixText();
    if (root.empty() || root.back() != '/')
        root += '/';
    {
        std::lock_guard<std::mutex> lock(fMutex);
        if (!fStarted) {
            auto watcher = std::make_unique<plat::FolderWatcher>(
                [this](void* cookie, const std::vector<std::string>& keys) { FoldersChanged(cookie, keys); });
            int err = watcher->Start();
            if (err != 0)
                return PosixError(err);
            fWatcher = std::move(watcher);
            fStarted = true;
        }
    }
    VRefPtr<XMacChangeData> data = AdoptRef(
        new XMacChangeData(inFolder.GetPath(), root, inKinds, VTask::GetCurrent(), inHandler, this));
    CreateDirectorySnapshot(root, data->fSnapshots, true);
    std::vector<std::string> folders;
    folders.reserve(data->fSnapshots.size());
    for (const auto& entry : data->fSnapshots)
        folders.push_back(entry.first);
    {
        std::lock_guard<std::mutex> lock(fMutex);
        data->Retain();
        fLive.insert(data.Get());
    }
    int err = fWatcher->AddWatch(data.Get(), root, inLatencyMilliseconds, folders);
    if (err != 0) {
        // Nothing of the watch is kept.
        std::lock_guard<std::mutex> lock(fMutex);
        fLive.erase(data.Get());
        data->Release();
        return PosixError(err);
    }
    fOwner->PushChangeData(data.Get());
    return VE_OK;
}

VError XMacFileSystemNotification::StopWatchingForChanges(VFileSystemNotifier::VChangeData* inData, bool)
{
    XMacChangeData* data = static_cast<XMacChangeData*>(inData);
    data->fStopped = true;
    if (fWatcher)
        fWatcher->RemoveWatch(data, false);
    std::lock_guard<std::mutex> lock(fMutex);
    if (fLive.erase(data) != 0)
        data->Release();
    return VE_OK;
}

void XMacFileSystemNotification::CreateDirectorySnapshot(const std::string& inKey, SnapshotSet& ioSet,
                                                         bool inRecursive)
{
    std::vector<std::string> pending{inKey};
    while (!pending.empty()) {
        std::string key = std::move(pending.back());
        pending.pop_back();
        plat::FolderSnapshot& snapshot = ioSet[key];
        plat::TakeFolderSnapshot(key, snapshot);
        if (!inRecursive)
            continue;
        for (const auto& [name, info] : snapshot)
            if (info.isFolder)
                pending.push_back(key + name + "/");
    }
}

bool XMacFileSystemNotification::AddChangeToList(XMacChangeData* inData, const std::string& inKey,
                                                 const std::string& inName, bool inFolder,
                                                 VFileSystemNotifier::EventKind inKind)
{
    if ((inData->fKinds & inKind) == 0)
        return false;
    std::string full = inKey + inName;
    if (inFolder)
        full += '/';
    VFilePath path;
    XMacFile::GetFilePathFromPosixPath(full.c_str(), inFolder, path);
    StLocker lock(fOwner->GetLock());
    inData->fChanges.emplace_back(path, inKind);
    return true;
}

bool XMacFileSystemNotification::BuildChangeList(XMacChangeData* inData, const std::string& inKey,
                                                 plat::FolderSnapshot& outFresh)
{
    auto found = inData->fSnapshots.find(inKey);
    if (found == inData->fSnapshots.end())
        return false;
    const plat::FolderSnapshot& old = found->second;
    plat::TakeFolderSnapshot(inKey, outFresh);
    bool recorded = false;
    if (inData->fKinds & VFileSystemNotifier::kFileDeleted) {
        for (const auto& [name, info] : old)
            if (outFresh.count(name) == 0)
                recorded |= AddChangeToList(inData, inKey, name, info.isFolder, VFileSystemNotifier::kFileDeleted);
    }
    for (const auto& [name, info] : outFresh) {
        auto before = old.find(name);
        if (before == old.end())
            recorded |= AddChangeToList(inData, inKey, name, info.isFolder, VFileSystemNotifier::kFileAdded);
        else if (!before->second.isFolder &&
                 (before->second.seconds != info.seconds || before->second.nanoseconds != info.nanoseconds))
            recorded |= AddChangeToList(inData, inKey, name, info.isFolder, VFileSystemNotifier::kFileModified);
    }
    return recorded;
}

void XMacFileSystemNotification::FoldersChanged(void* inCookie, const std::vector<std::string>& inKeys)
{
    VRefPtr<XMacChangeData> data;
    {
        std::lock_guard<std::mutex> lock(fMutex);
        auto it = fLive.find(static_cast<XMacChangeData*>(inCookie));
        if (it == fLive.end())
            return;
        data = *it;
    }
    for (const std::string& key : inKeys) {
        if (data->fStopped)
            return;
        plat::FolderSnapshot fresh;
        const bool known = data->fSnapshots.count(key) != 0;
        if (known && BuildChangeList(data.Get(), key, fresh))
            fOwner->SignalChange(data.Get());
        if (!known)
            continue;
        // Renew only what was compared: folders that went lose their
        // snapshots (and those below them); new folders are snapshotted and
        // watched.
        plat::FolderSnapshot& old = data->fSnapshots[key];
        for (const auto& [name, info] : old) {
            if (!info.isFolder || (fresh.count(name) != 0 && fresh[name].isFolder))
                continue;
            const std::string gone = key + name + "/";
            for (auto it = data->fSnapshots.lower_bound(gone);
                 it != data->fSnapshots.end() && it->first.compare(0, gone.size(), gone) == 0;)
                it = data->fSnapshots.erase(it);
        }
        std::vector<std::string> added;
        for (const auto& [name, info] : fresh)
            if (info.isFolder && (old.count(name) == 0 || !old[name].isFolder))
                added.push_back(key + name + "/");
        data->fSnapshots[key] = std::move(fresh);
        for (const std::string& folder : added) {
            SnapshotSet below;
            CreateDirectorySnapshot(folder, below, true);
            for (auto& [subKey, snapshot] : below) {
                fWatcher->AddFolder(data.Get(), subKey);
                data->fSnapshots[subKey] = std::move(snapshot);
            }
        }
    }
}

}  // namespace qelt
