// Code loaded at run time from a dynamic library file or from a bundle
// folder (Name.ext/Contents/{Info.plist, MacOS/<exe>, Resources/}), and its
// functions found by name. A bundle's executable is loaded RTLD_GLOBAL, so
// that its symbols serve what is loaded after it. Every operation holds the
// library's own lock, so one library may be shared between tasks.
#pragma once

#include <cstdint>

#include "files/VFilePath.h"
#include "kernel/IRefCountable.h"
#include "kernel/VObject.h"
#include "runtime/VCriticalSection.h"

namespace qelt {

class IFile;
class VFile;
class VFolder;
class XMacLibrary;

// The folders of a loaded bundle that RetainFolder answers.
enum BundleFolderKind : uint32_t {
    kBUNDLE_FOLDER = 1,
    kBUNDLE_EXECUTABLE_FOLDER = 2,
    kBUNDLE_RESOURCES_FOLDER = 3,
    kBUNDLE_PLUGINS_FOLDER = 5,
    kBUNDLE_FRAMEWORKS_FOLDER = 6,
    kBUNDLE_SUPPORT_FOLDER = 7,
};

class VLibrary : public VObject, public IRefCountable {
public:
    explicit VLibrary(const VFilePath& inPath);
    ~VLibrary() override;

    VLibrary(const VLibrary&) = delete;
    VLibrary& operator=(const VLibrary&) = delete;

    // Loads once; true when loaded, also when it already was. A failure
    // pushes 'qelt' 1010 on the path with the loader's "reason".
    bool Load();
    void Unload();
    bool IsLoaded() const { return fLoaded; }

    // The function of that name, or null when not loaded or not found.
    void* GetProcAddress(const VString& inName);

    // Whether the path is this library's: compared exactly, since another
    // letter case names another file here.
    bool IsSameFile(const VFilePath& inPath) const;

    const VFilePath& GetPath() const { return fPath; }

    // A folder of a loaded bundle (one reference for the caller), or null.
    VFolder* RetainFolder(uint32_t inKind);
    // The bundle's executable file, or null.
    VFile* RetainExecutableFile();
    // No resource file exists here: always null.
    IFile* RetainResourceFile();

private:
    mutable VCriticalSection fLock;
    VFilePath fPath;
    XMacLibrary* fPlatform;
    IFile* fResourceFile = nullptr;
    bool fResourceFileAsked = false;
    bool fLoaded = false;
};

}  // namespace qelt
