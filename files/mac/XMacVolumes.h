// The process-wide cache of mounted volumes: mount path to volume name and
// back. The toolbox's path form names the root file system "/" as one
// volume, "Disk"; a test may inject another list of mounts. The list is read
// again when it is older than two seconds. Lookups are exact (names and
// mount paths compared byte for byte) and may come from any thread, also
// before the task manager exists, so the cache locks with a platform mutex.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "kernel/VObject.h"
#include "kernel/VString.h"
#include "platform/PlatSync.h"

namespace qelt {

class XMacVolumes : public VObject {
public:
    // One mounted volume: its mount path and its name, both UTF-8.
    struct Mount {
        std::string fMountPath;
        std::string fName;
    };
    using MountSource = std::function<std::vector<Mount>()>;
    using Clock = std::function<uint32_t()>;

    // The one cache of the process.
    static XMacVolumes& Get();

    // The default list: "/" named "Disk".
    static std::vector<Mount> DefaultMounts();

    // Replaces the list of mounts and the clock (null: the defaults) and
    // forgets what was loaded. For tests.
    void SetSource(MountSource inSource, Clock inClock);

    // True when the mount path is known; the name is copied into the buffer,
    // cut and NUL-terminated to inSize bytes.
    bool GetVolumeNameFromMountPath(const char* inMountPath, char* outName, size_t inSize);
    // The same for the mount path text "/" and a string (the root volume).
    bool GetRootVolumeName(VString& outName);
    bool GetMountPathFromVolumeName(const VString& inName, VString& outMountPath);

    // How many times the list was read (for tests).
    uint32_t GetLoadCount();

    XMacVolumes();
    ~XMacVolumes() override;
    XMacVolumes(const XMacVolumes&) = delete;
    XMacVolumes& operator=(const XMacVolumes&) = delete;

private:
    struct Entry {
        std::string fMountPath;
        std::string fName;
        // The same as UTF-16 units; kept out of VString so that the static
        // cache holds no block of the memory manager, which ends before it.
        std::u16string fNameText;
        std::u16string fMountPathText;
    };

    // Called with the lock held.
    void _ReloadCacheIfNecessary();
    uint32_t _Now() const;

    plat::Mutex fMutex;
    std::vector<Entry> fEntries;  // in the order listed; the first of a key wins
    MountSource fSource;
    Clock fClock;
    uint32_t fLastLoad = 0;
    bool fLoaded = false;
    uint32_t fLoadCount = 0;
};

}  // namespace qelt
