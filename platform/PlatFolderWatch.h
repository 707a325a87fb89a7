// Folder watching on inotify.
//
// One FolderWatcher owns one inotify descriptor and one thread, started by
// Start and joined by the destructor. A watch (named by an opaque cookie)
// covers a root folder and the folders below it, one inotify watch each.
// Events are reduced to the keys of the folders that changed (a key is the
// folder's path with a final '/') and coalesced: the first event of a watch
// opens a window of its latency, and when the window closes the handler gets
// every key gathered in it, in bytewise order, on the watcher's thread.
// - A queue overflow names only the root of every watch.
// - The root deleted or moved away names the root when it still exists
//   (something new took its place) and nothing otherwise.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace qelt::plat {

// One record of a buffer read from an inotify descriptor.
struct WatchEvent {
    int wd = 0;
    uint32_t mask = 0;
};
// Splits such a buffer into its records, in order: each is a fixed header
// followed by a name of the length the header gives. A record whose header
// or name runs past the end of the buffer is left out, and so is all that
// follows it.
std::vector<WatchEvent> SplitWatchEvents(const void* buffer, size_t size);

class FolderWatcher {
public:
    using Handler = std::function<void(void* cookie, const std::vector<std::string>& folderKeys)>;

    explicit FolderWatcher(Handler handler);
    ~FolderWatcher();
    FolderWatcher(const FolderWatcher&) = delete;
    FolderWatcher& operator=(const FolderWatcher&) = delete;

    // Creates the inotify descriptor and the thread; 0 or an errno value.
    int Start();

    // Starts a watch of rootKey and of every folder key given (the folders
    // below it). On failure (ENOSPC past the system's watch limit, ENOENT,
    // ...) nothing of the watch is kept and the errno value is returned.
    int AddWatch(void* cookie, const std::string& rootKey, int latencyMilliseconds,
                 const std::vector<std::string>& folderKeys);

    // Adds a folder found later below a watch's root (a new subfolder).
    int AddFolder(void* cookie, const std::string& folderKey);

    // Ends a watch. With `wait`, when its handler call is running on another
    // thread, waits for it to return, so the cookie is unused afterwards;
    // without it, a handler call already under way may still run once.
    void RemoveWatch(void* cookie, bool wait = true);

    // The number of inotify watches held (for tests).
    size_t CountFolderWatches() const;

private:
    struct Pending {
        std::set<std::string> keys;
        int64_t deadline = 0;  // monotonic milliseconds
    };
    struct Watch {
        std::string root;
        int latency = 0;
        std::set<int> descriptors;
        Pending pending;
    };
    struct Descriptor {
        std::string key;
        std::set<void*> users;
    };

    void _Run();
    void _ReadEvents();
    void _Deliver();
    int _AddFolderLocked(void* cookie, Watch& watch, const std::string& key);
    void _DropDescriptorLocked(void* cookie, int wd);
    void _NoteLocked(void* cookie, Watch& watch, const std::string& key, int64_t now);

    Handler fHandler;
    int fInotify = -1;
    int fWake = -1;  // eventfd: wakes the thread for a new deadline or the stop
    bool fStop = false;
    std::thread fThread;
    mutable std::mutex fMutex;
    std::condition_variable fIdle;
    void* fInFlight = nullptr;
    std::map<void*, Watch> fWatches;
    std::map<int, Descriptor> fDescriptors;
};

}  // namespace qelt::plat
