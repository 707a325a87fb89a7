// The process's folder watcher. A watcher names a folder, the kinds of
// change it wants (1 modified, 2 created, 4 deleted), a handler and a
// latency; the back end finds the changes, and the watcher's task later
// receives them grouped by kind, one handler call per run of equal kinds.
// The lock guards the watch list and every watch's list of waiting changes;
// the handler runs with it held, so it must not wait for another thread that
// needs the notifier.
#pragma once

#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "files/VFilePath.h"
#include "kernel/IRefCountable.h"
#include "kernel/VObject.h"
#include "runtime/VCriticalSection.h"
#include "runtime/VMessage.h"

namespace qelt {

class VFolder;
class VTask;
class XMacFileSystemNotification;

constexpr VError VE_FOLDER_NOT_WATCHED = QeltError(650);
constexpr VError VE_FOLDER_ALREADY_WATCHED = QeltError(659);

class VFileSystemNotifier : public VObject {
public:
    enum EventKind : unsigned int { kFileModified = 1, kFileAdded = 2, kFileDeleted = 4 };

    class IEventHandler {
    public:
        virtual ~IEventHandler() = default;
        virtual void FileSystemEventHandler(const std::vector<VFilePath>& inPaths, EventKind inKind) = 0;
    };

    // One watch. The back end derives its own record from it.
    class VChangeData : public VObject, public IRefCountable {
    public:
        VChangeData(const VFilePath& inFolderPath, unsigned int inKinds, IEventHandler* inHandler, VTask* inTask,
                    XMacFileSystemNotification* inBackEnd);
        ~VChangeData() override;

        VFilePath fFolderPath;
        unsigned int fKinds;
        IEventHandler* fHandler;
        VTask* fTask;
        std::vector<std::pair<VFilePath, EventKind>> fChanges;
        XMacFileSystemNotification* fBackEnd;
    };

    // Whether the notifier a change message names still exists: messages
    // may wait in a task's queue after the notifier has gone.
    struct Liveness {
        std::mutex fMutex;
        bool fAlive = true;
    };

    // Delivers the waiting changes of one watch on the watch's task.
    class VChangeMessage : public VMessage {
    public:
        VChangeMessage(VFileSystemNotifier* inNotifier, VChangeData* inData);
        void DoExecute() override;

    protected:
        ~VChangeMessage() override;

    private:
        VFileSystemNotifier* fNotifier;
        VChangeData* fData;
        std::shared_ptr<Liveness> fLiveness;
    };

    VFileSystemNotifier();
    ~VFileSystemNotifier() override;
    VFileSystemNotifier(const VFileSystemNotifier&) = delete;
    VFileSystemNotifier& operator=(const VFileSystemNotifier&) = delete;

    // The notifier of the running process, null when it made none.
    static VFileSystemNotifier* Instance();
    // The process object registers the notifier it makes (null when it goes).
    static void SetInstance(VFileSystemNotifier* inNotifier);

    // 659 when the folder is already watched for this handler.
    VError StartWatchingForChanges(const VFolder& inFolder, unsigned int inKinds, IEventHandler* inHandler,
                                   int inLatencyMilliseconds);
    // 650 when no such watch exists.
    VError StopWatchingForChanges(const VFolder& inFolder, IEventHandler* inHandler);

    // Called by the back end: adds a watch (taking one reference), with the lock held.
    void PushChangeData(VChangeData* inData);
    // Called by the back end: posts a change message to the watch's task. A
    // watch started outside a toolbox task has none and never delivers.
    void SignalChange(VChangeData* inData);
    // Delivers the waiting changes to the handler; runs on the watch's task.
    void EventSignaledCallback(VChangeData* inData);

    VCriticalSection& GetLock() { return fLock; }

private:
    // Under the lock: a stopped watch delivers nothing more, so that its
    // handler may go as soon as the stop returns.
    static void _Detach(VChangeData* inData);

    std::shared_ptr<Liveness> fLiveness = std::make_shared<Liveness>();
    XMacFileSystemNotification* fBackEnd = nullptr;
    VCriticalSection fLock;
    std::vector<VChangeData*> fWatches;
};

}  // namespace qelt
