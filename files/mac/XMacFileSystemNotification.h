// The platform side of the folder watcher, on inotify: a snapshot of every
// folder under a watched one (name, modification time, folder flag of each
// entry) is compared with a fresh listing of each folder the platform
// watcher names, and the differences go to the watch's change list.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "files/VFileSystemNotifier.h"
#include "kernel/VObject.h"
#include "platform/PlatFolderWatch.h"
#include "platform/PlatFolders.h"

namespace qelt {

class XMacFileSystemNotification : public VObject {
public:
    using SnapshotSet = std::map<std::string, plat::FolderSnapshot>;

    class XMacChangeData : public VFileSystemNotifier::VChangeData {
    public:
        XMacChangeData(const VFilePath& inFolderPath, const std::string& inRoot, unsigned int inKinds, VTask* inTask,
                       VFileSystemNotifier::IEventHandler* inHandler, XMacFileSystemNotification* inBackEnd);

        SnapshotSet fSnapshots;
        std::string fRoot;  // POSIX path with a final '/'
        bool fStopped = false;
    };

    explicit XMacFileSystemNotification(VFileSystemNotifier* inOwner);
    ~XMacFileSystemNotification() override;

    VError StartWatchingForChanges(const VFolder& inFolder, unsigned int inKinds,
                                   VFileSystemNotifier::IEventHandler* inHandler, int inLatencyMilliseconds);
    VError StopWatchingForChanges(VFileSystemNotifier::VChangeData* inData, bool inWasLast);

    // Snapshots the folder (and with inRecursive every folder below it,
    // without recursion) into the set.
    static void CreateDirectorySnapshot(const std::string& inKey, SnapshotSet& ioSet, bool inRecursive);
    // Compares the folder's fresh listing with its snapshot and records the
    // differences; the fresh listing is handed back. False when nothing was
    // recorded or the folder was not in the snapshot set.
    bool BuildChangeList(XMacChangeData* inData, const std::string& inKey, plat::FolderSnapshot& outFresh);
    bool AddChangeToList(XMacChangeData* inData, const std::string& inKey, const std::string& inName, bool inFolder,
                         VFileSystemNotifier::EventKind inKind);

    // The platform watcher's report for one watch: the folders that changed.
    void FoldersChanged(void* inCookie, const std::vector<std::string>& inKeys);

private:
    VFileSystemNotifier* fOwner;
    std::mutex fMutex;  // guards fLive and the start of the platform watcher
    std::set<XMacChangeData*> fLive;
    std::unique_ptr<plat::FolderWatcher> fWatcher;
    bool fStarted = false;
};

}  // namespace qelt
