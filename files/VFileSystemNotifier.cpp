#include "files/VFileSystemNotifier.h"

#include "files/VFolder.h"
#include "files/mac/XMacFileSystemNotification.h"
#include "runtime/VTask.h"

#include <atomic>

namespace qelt {

namespace {

std::atomic<VFileSystemNotifier*> sInstance{nullptr};

// Paths compare unit for unit: names on Linux are byte for byte.
bool SamePath(const VFilePath& a, const VFilePath& b)
{
    VString ta;
    VString tb;
    a.GetPath(ta);
    b.GetPath(tb);
    return ta.EqualToStringRaw(tb);
}

}  // namespace

VFileSystemNotifier::VChangeData::VChangeData(const VFilePath& inFolderPath, unsigned int inKinds,
                                              IEventHandler* inHandler, VTask* inTask,
                                              XMacFileSystemNotification* inBackEnd)
    : fFolderPath(inFolderPath), fKinds(inKinds), fHandler(inHandler), fTask(inTask), fBackEnd(inBackEnd)
{
    if (fTask != nullptr)
        fTask->Retain();
}

VFileSystemNotifier::VChangeData::~VChangeData()
{
    if (fTask != nullptr)
        fTask->Release();
}

VFileSystemNotifier::VFileSystemNotifier() : fBackEnd(new XMacFileSystemNotification(this)) {}

VFileSystemNotifier::~VFileSystemNotifier()
{
    {
        StLocker lock(fLock);
        while (!fWatches.empty()) {
            VRefPtr<VChangeData> watch(fWatches.back());
            fWatches.back()->Release();
            fWatches.pop_back();
            fBackEnd->StopWatchingForChanges(watch.Get(), fWatches.empty());
        }
    }
    // Outside the lock: the back end joins its thread, which may be waiting for it.
    delete fBackEnd;
    fBackEnd = nullptr;
    VFileSystemNotifier* self = this;
    sInstance.compare_exchange_strong(self, nullptr);
}

VFileSystemNotifier* VFileSystemNotifier::Instance()
{
    return sInstance.load();
}

void VFileSystemNotifier::SetInstance(VFileSystemNotifier* inNotifier)
{
    sInstance.store(inNotifier);
}

VError VFileSystemNotifier::StartWatchingForChanges(const VFolder& inFolder, unsigned int inKinds,
                                                    IEventHandler* inHandler, int inLatencyMilliseconds)
{
    StLocker lock(fLock);
    const VFilePath path = inFolder.GetPath();
    for (VChangeData* watch : fWatches)
        if (watch->fHandler == inHandler && SamePath(watch->fFolderPath, path))
            return VE_FOLDER_ALREADY_WATCHED;
    return fBackEnd->StartWatchingForChanges(inFolder, inKinds, inHandler, inLatencyMilliseconds);
}

VError VFileSystemNotifier::StopWatchingForChanges(const VFolder& inFolder, IEventHandler* inHandler)
{
    StLocker lock(fLock);
    const VFilePath path = inFolder.GetPath();
    for (auto it = fWatches.begin(); it != fWatches.end(); ++it) {
        if ((*it)->fHandler != inHandler || !SamePath((*it)->fFolderPath, path))
            continue;
        VRefPtr<VChangeData> watch(*it);
        (*it)->Release();
        fWatches.erase(it);
        return fBackEnd->StopWatchingForChanges(watch.Get(), fWatches.empty());
    }
    return VE_FOLDER_NOT_WATCHED;
}

VFileSystemNotifier::VChangeData* VFileSystemNotifier::RetainChangeData(const VFolder& inFolder,
                                                                       IEventHandler* inHandler)
{
    StLocker lock(fLock);
    const VFilePath path = inFolder.GetPath();
    for (VChangeData* watch : fWatches) {
        if (watch->fHandler == inHandler && SamePath(watch->fFolderPath, path)) {
            watch->Retain();
            return watch;
        }
    }
    return nullptr;
}

void VFileSystemNotifier::PushChangeData(VChangeData* inData)
{
    StLocker lock(fLock);
    inData->Retain();
    fWatches.push_back(inData);
}

void VFileSystemNotifier::SignalChange(VChangeData* inData)
{
    // LATER: post a change message (holding the notifier and a reference to
    // the watch, whose execution calls EventSignaledCallback) to the watch's
    // task with VMessage::PostTo once messages exist. Until then the changes
    // wait in the watch's list; a watch without a task never delivers.
    (void)inData;
}

void VFileSystemNotifier::EventSignaledCallback(VChangeData* inData)
{
    StLocker lock(fLock);
    VRefPtr<VChangeData> watch(inData);
    std::vector<std::pair<VFilePath, EventKind>> changes;
    changes.swap(inData->fChanges);
    if (inData->fHandler == nullptr)
        return;
    std::vector<VFilePath> group;
    unsigned int current = 0;
    VString last;
    VString text;
    for (const auto& [path, kind] : changes) {
        if (kind != current) {
            if (!group.empty())
                inData->fHandler->FileSystemEventHandler(group, static_cast<EventKind>(current));
            group.clear();
            current = kind;
        }
        path.GetPath(text);
        if (!group.empty() && text.EqualToStringRaw(last))
            continue;
        group.push_back(path);
        last = text;
    }
    if (!group.empty())
        inData->fHandler->FileSystemEventHandler(group, static_cast<EventKind>(current));
}

}  // namespace qelt
