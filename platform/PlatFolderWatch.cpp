#include "platform/PlatFolderWatch.h"

#include "platform/PlatClock.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace qelt::plat {

namespace {

constexpr uint32_t kFolderEvents = IN_CREATE | IN_DELETE | IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVED_FROM |
                                   IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

int64_t Now()
{
    return static_cast<int64_t>(MonotonicMilliseconds());
}

}  // namespace

std::vector<WatchEvent> SplitWatchEvents(const void* buffer, size_t size)
{
    std::vector<WatchEvent> events;
    const char* bytes = static_cast<const char*>(buffer);
    size_t offset = 0;
    while (size - offset >= sizeof(struct inotify_event)) {
        // Copied out: the buffer need not be aligned for the header.
        struct inotify_event header;
        std::memcpy(&header, bytes + offset, sizeof(header));
        offset += sizeof(header);
        if (header.len > size - offset)
            break;
        offset += header.len;
        events.push_back(WatchEvent{header.wd, header.mask});
    }
    return events;
}

FolderWatcher::FolderWatcher(Handler handler) : fHandler(std::move(handler)) {}

FolderWatcher::~FolderWatcher()
{
    {
        std::lock_guard<std::mutex> lock(fMutex);
        fStop = true;
    }
    if (fWake >= 0) {
        uint64_t one = 1;
        (void)!write(fWake, &one, sizeof(one));
    }
    if (fThread.joinable())
        fThread.join();
    if (fInotify >= 0)
        close(fInotify);
    if (fWake >= 0)
        close(fWake);
}

int FolderWatcher::Start()
{
    std::lock_guard<std::mutex> lock(fMutex);
    if (fThread.joinable())
        return 0;
    fInotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fInotify < 0)
        return errno;
    fWake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fWake < 0) {
        int err = errno;
        close(fInotify);
        fInotify = -1;
        return err;
    }
    try {
        fThread = std::thread([this] { _Run(); });
    } catch (...) {
        close(fInotify);
        close(fWake);
        fInotify = fWake = -1;
        return EAGAIN;
    }
    return 0;
}

int FolderWatcher::_AddFolderLocked(void* cookie, Watch& watch, const std::string& key)
{
    int wd = inotify_add_watch(fInotify, key.c_str(), kFolderEvents);
    if (wd < 0)
        return errno;
    Descriptor& d = fDescriptors[wd];
    if (d.users.empty())
        d.key = key;
    d.users.insert(cookie);
    watch.descriptors.insert(wd);
    return 0;
}

void FolderWatcher::_DropDescriptorLocked(void* cookie, int wd)
{
    auto it = fDescriptors.find(wd);
    if (it == fDescriptors.end())
        return;
    it->second.users.erase(cookie);
    if (it->second.users.empty()) {
        inotify_rm_watch(fInotify, wd);
        fDescriptors.erase(it);
    }
}

int FolderWatcher::AddWatch(void* cookie, const std::string& rootKey, int latencyMilliseconds,
                            const std::vector<std::string>& folderKeys)
{
    std::lock_guard<std::mutex> lock(fMutex);
    if (fInotify < 0)
        return EBADF;
    if (fWatches.count(cookie) != 0)
        return EEXIST;
    Watch& watch = fWatches[cookie];
    watch.root = rootKey;
    watch.latency = latencyMilliseconds < 0 ? 0 : latencyMilliseconds;
    int err = _AddFolderLocked(cookie, watch, rootKey);
    for (size_t i = 0; err == 0 && i < folderKeys.size(); ++i) {
        if (folderKeys[i] == rootKey)
            continue;
        err = _AddFolderLocked(cookie, watch, folderKeys[i]);
        if (err == ENOENT || err == ENOTDIR)
            err = 0;  // gone since it was listed: nothing to watch there
    }
    if (err != 0) {
        for (int wd : watch.descriptors)
            _DropDescriptorLocked(cookie, wd);
        fWatches.erase(cookie);
    }
    return err;
}

int FolderWatcher::AddFolder(void* cookie, const std::string& folderKey)
{
    std::lock_guard<std::mutex> lock(fMutex);
    auto it = fWatches.find(cookie);
    if (it == fWatches.end())
        return ENOENT;
    return _AddFolderLocked(cookie, it->second, folderKey);
}

void FolderWatcher::RemoveWatch(void* cookie, bool wait)
{
    std::unique_lock<std::mutex> lock(fMutex);
    auto it = fWatches.find(cookie);
    if (it != fWatches.end()) {
        for (int wd : it->second.descriptors)
            _DropDescriptorLocked(cookie, wd);
        fWatches.erase(it);
    }
    if (wait && std::this_thread::get_id() != fThread.get_id())
        fIdle.wait(lock, [&] { return fInFlight != cookie; });
}

size_t FolderWatcher::CountFolderWatches() const
{
    std::lock_guard<std::mutex> lock(fMutex);
    return fDescriptors.size();
}

void FolderWatcher::_NoteLocked(void* cookie, Watch& watch, const std::string& key, int64_t now)
{
    (void)cookie;
    if (watch.pending.keys.empty())
        watch.pending.deadline = now + watch.latency;
    watch.pending.keys.insert(key);
}

void FolderWatcher::_ReadEvents()
{
    char buffer[16384];
    for (;;) {
        ssize_t n = read(fInotify, buffer, sizeof(buffer));
        if (n <= 0)
            return;
        std::lock_guard<std::mutex> lock(fMutex);
        int64_t now = Now();
        for (const WatchEvent& event : SplitWatchEvents(buffer, static_cast<size_t>(n))) {
            if (event.mask & IN_Q_OVERFLOW) {
                for (auto& [cookie, watch] : fWatches)
                    _NoteLocked(cookie, watch, watch.root, now);
                continue;
            }
            auto found = fDescriptors.find(event.wd);
            if (found == fDescriptors.end())
                continue;
            if (event.mask & IN_IGNORED) {
                for (void* cookie : found->second.users) {
                    auto w = fWatches.find(cookie);
                    if (w != fWatches.end())
                        w->second.descriptors.erase(event.wd);
                }
                fDescriptors.erase(found);
                continue;
            }
            const std::string key = found->second.key;
            for (void* cookie : found->second.users) {
                auto w = fWatches.find(cookie);
                if (w == fWatches.end())
                    continue;
                Watch& watch = w->second;
                if (event.mask & (IN_DELETE_SELF | IN_MOVE_SELF)) {
                    // Only the root's own loss matters; a subfolder's shows in its parent.
                    struct stat st;
                    if (key == watch.root && stat(watch.root.c_str(), &st) == 0)
                        _NoteLocked(cookie, watch, watch.root, now);
                    continue;
                }
                _NoteLocked(cookie, watch, key, now);
            }
        }
    }
}

void FolderWatcher::_Deliver()
{
    for (;;) {
        void* cookie = nullptr;
        std::vector<std::string> keys;
        {
            std::lock_guard<std::mutex> lock(fMutex);
            int64_t now = Now();
            for (auto& [c, watch] : fWatches) {
                if (!watch.pending.keys.empty() && watch.pending.deadline <= now) {
                    cookie = c;
                    keys.assign(watch.pending.keys.begin(), watch.pending.keys.end());
                    watch.pending.keys.clear();
                    break;
                }
            }
            if (cookie == nullptr)
                return;
            fInFlight = cookie;
        }
        if (fHandler)
            fHandler(cookie, keys);
        {
            std::lock_guard<std::mutex> lock(fMutex);
            fInFlight = nullptr;
        }
        fIdle.notify_all();
    }
}

void FolderWatcher::_Run()
{
    for (;;) {
        int timeout = -1;
        {
            std::lock_guard<std::mutex> lock(fMutex);
            if (fStop)
                return;
            int64_t now = Now();
            for (auto& [cookie, watch] : fWatches) {
                if (watch.pending.keys.empty())
                    continue;
                int64_t wait = watch.pending.deadline - now;
                if (wait < 0)
                    wait = 0;
                if (timeout < 0 || wait < timeout)
                    timeout = static_cast<int>(wait > INT_MAX ? INT_MAX : wait);
            }
        }
        struct pollfd fds[2] = {{fInotify, POLLIN, 0}, {fWake, POLLIN, 0}};
        int rc = poll(fds, 2, timeout);
        if (rc < 0 && errno != EINTR)
            return;
        if (fds[1].revents & POLLIN) {
            uint64_t value;
            (void)!read(fWake, &value, sizeof(value));
        }
        if (fds[0].revents & POLLIN)
            _ReadEvents();
        _Deliver();
    }
}

}  // namespace qelt::plat
