#include "files/mac/XMacVolumes.h"

#include <cstring>

#include "files/mac/XMacFile.h"
#include "platform/PlatClock.h"

namespace qelt {

namespace {

// The list is read again once it is this old.
constexpr uint32_t kReloadAfterMilliseconds = 2001;

std::u16string Units(const std::string& inBytes)
{
    VStr<255> text;
    XMacFile::DecodePathBytes(inBytes.data(), inBytes.size(), text);
    return std::u16string(reinterpret_cast<const char16_t*>(text.GetCPointer()),
                          static_cast<size_t>(text.GetLength()));
}

VString& Assign(VString& outText, const std::u16string& inUnits)
{
    outText.FromUniString(reinterpret_cast<const UniChar*>(inUnits.data()), static_cast<int>(inUnits.size()));
    return outText;
}

}  // namespace

XMacVolumes& XMacVolumes::Get()
{
    // Never destroyed: paths may still be converted by other statics' clean-up
    // at exit, after a destroyed cache would have lost its lock.
    static XMacVolumes* const sInstance = new XMacVolumes;
    return *sInstance;
}

std::vector<XMacVolumes::Mount> XMacVolumes::DefaultMounts()
{
    return {Mount{"/", "Disk"}};
}

XMacVolumes::XMacVolumes() = default;

XMacVolumes::~XMacVolumes() = default;

void XMacVolumes::SetSource(MountSource inSource, Clock inClock)
{
    plat::ScopedLock<plat::Mutex> lock(fMutex);
    fSource = std::move(inSource);
    fClock = std::move(inClock);
    fEntries.clear();
    fLoaded = false;
    fLastLoad = 0;
    fLoadCount = 0;
}

uint32_t XMacVolumes::_Now() const
{
    if (fClock)
        return fClock();
    return static_cast<uint32_t>(plat::MonotonicMilliseconds());
}

void XMacVolumes::_ReloadCacheIfNecessary()
{
    const uint32_t now = _Now();
    if (fLoaded && static_cast<uint32_t>(now - fLastLoad) < kReloadAfterMilliseconds)
        return;
    std::vector<Mount> mounts = fSource ? fSource() : DefaultMounts();
    fEntries.clear();
    for (Mount& mount : mounts) {
        if (mount.fName.empty())
            continue;  // a volume without a name is not listed
        Entry entry;
        entry.fMountPath = std::move(mount.fMountPath);
        entry.fName = std::move(mount.fName);
        entry.fNameText = Units(entry.fName);
        entry.fMountPathText = Units(entry.fMountPath);
        fEntries.push_back(std::move(entry));
    }
    fLastLoad = now;
    fLoaded = true;
    ++fLoadCount;
}

bool XMacVolumes::GetVolumeNameFromMountPath(const char* inMountPath, char* outName, size_t inSize)
{
    if (inMountPath == nullptr)
        return false;
    plat::ScopedLock<plat::Mutex> lock(fMutex);
    _ReloadCacheIfNecessary();
    for (const Entry& entry : fEntries) {
        if (entry.fMountPath == inMountPath) {
            if (outName != nullptr && inSize > 0) {
                const size_t count = entry.fName.size() < inSize - 1 ? entry.fName.size() : inSize - 1;
                std::memcpy(outName, entry.fName.data(), count);
                outName[count] = 0;
            }
            return true;
        }
    }
    return false;
}

bool XMacVolumes::GetRootVolumeName(VString& outName)
{
    plat::ScopedLock<plat::Mutex> lock(fMutex);
    _ReloadCacheIfNecessary();
    for (const Entry& entry : fEntries) {
        if (entry.fMountPath == "/") {
            Assign(outName, entry.fNameText);
            return true;
        }
    }
    return false;
}

bool XMacVolumes::GetMountPathFromVolumeName(const VString& inName, VString& outMountPath)
{
    plat::ScopedLock<plat::Mutex> lock(fMutex);
    _ReloadCacheIfNecessary();
    for (const Entry& entry : fEntries) {
        if (entry.fNameText.size() == static_cast<size_t>(inName.GetLength()) &&
            std::memcmp(entry.fNameText.data(), inName.GetCPointer(), entry.fNameText.size() * sizeof(UniChar)) == 0) {
            Assign(outMountPath, entry.fMountPathText);
            return true;
        }
    }
    return false;
}

uint32_t XMacVolumes::GetLoadCount()
{
    plat::ScopedLock<plat::Mutex> lock(fMutex);
    return fLoadCount;
}

}  // namespace qelt
