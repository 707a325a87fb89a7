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
    // Waits for a change message that is delivering; those still queued
    // find the notifier gone.
    {
        std::lock_guard<std::mutex> alive(fLiveness->fMutex);
        fLiveness->fAlive = false;
    }
    {
        StLocker lock(fLock);
        while (!fWatches.empty()) {
            VRefPtr<VChangeData> watch(fWatches.back());
            fWatches.back()->Release();
            fWatches.pop_back();
            _Detach(watch.Get());
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
        _Detach(watch.Get());
        return fBackEnd->StopWatchingForChanges(watch.Get(), fWatches.empty());
    }
    return VE_FOLDER_NOT_WATCHED;
}

void VFileSystemNotifier::_Detach(VChangeData* inData)
{
    inData->fHandler = nullptr;
    inData->fChanges.clear();
}

void VFileSystemNotifier::PushChangeData(VChangeData* inData)
{
    StLocker lock(fLock);
    inData->Retain();
    fWatches.push_back(inData);
}

void VFileSystemNotifier::SignalChange(VChangeData* inData)
{
    if (inData->fTask == nullptr)
        return;
    VRefPtr<VChangeMessage> message = AdoptRef(new VChangeMessage(this, inData));
    message->PostTo(inData->fTask, false, 0);
}

VFileSystemNotifier::VChangeMessage::VChangeMessage(VFileSystemNotifier* inNotifier, VChangeData* inData)
    : fNotifier(inNotifier), fData(inData), fLiveness(inNotifier->fLiveness)
{
    fData->Retain();
}

VFileSystemNotifier::VChangeMessage::~VChangeMessage()
{
    fData->Release();
}

void VFileSystemNotifier::VChangeMessage::DoExecute()
{
    std::lock_guard<std::mutex> alive(fLiveness->fMutex);
    if (fLiveness->fAlive)
        fNotifier->EventSignaledCallback(fData);
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
