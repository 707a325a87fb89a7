// A registry of named file systems, with an optional parent namespace.
// Texts of the form "/NAME/rest" are resolved through it: NAME selects a file
// system and rest is a POSIX path inside its root. Each namespace guards its
// registry with its own recursive lock; names compare unit for unit.
#pragma once

#include <map>

#include "files/VFileSystem.h"
#include "kernel/IRefCountable.h"
#include "kernel/VObject.h"
#include "kernel/VString.h"
#include "runtime/VCriticalSection.h"

namespace qelt {

class IFile;
class IFolder;
class VFile;
class VJSONArray;

// Lookup options.
constexpr unsigned int kFileSystemPublicOnly = 1;  // private file systems count as absent
constexpr unsigned int kFileSystemSearchParents = 2;

// Orders names unit for unit.
struct VFileSystemNameLess {
    bool operator()(const VString& a, const VString& b) const;
};
using VFileSystemMap = std::map<VString, VRefPtr<VFileSystem>, VFileSystemNameLess>;

class VFileSystemNamespace : public VObject, public IRefCountable {
public:
    explicit VFileSystemNamespace(VFileSystemNamespace* inParent = nullptr);

    // Stores the file system under its name, replacing (and releasing) one
    // stored before under that name; null does nothing.
    void RegisterFileSystem(VFileSystem* inFileSystem);
    // A file system without quota over the root: 0 or 686.
    VError RegisterFileSystem(const VString& inName, IFolder* inRoot, unsigned int inFlags);
    void UnregisterFileSystem(const VString& inName);

    VFileSystem* RetainFileSystem(const VString& inName, unsigned int inOptions = 0) const;
    IFolder* RetainFileSystemRootFolder(const VString& inName, unsigned int inOptions = 0) const;
    // Adds this namespace's file systems (and, with option 2, first its
    // parents') to the map; a child's name hides its parents'. Returns 0.
    VError RetainMapOfFileSystems(VFileSystemMap& outMap, unsigned int inOptions = 0) const;

    // "/NAME/rest": the file system NAME and rest as a POSIX path relative to
    // its root; false for any other form, an unknown name, or a rest that
    // climbs out of the root.
    bool ParsePathWithFileSystem(const VString& inPath, VRefPtr<VFileSystem>& outFileSystem,
                                 VString& outRelativePath, unsigned int inOptions = 0) const;

    // A file or folder named by a path: "/NAME/..." through the file systems,
    // otherwise relative to the base folder, otherwise (with the plain-path
    // flag) a full POSIX path. Null when nothing fits.
    IFile* RetainFile(const VString& inPath, IFolder* inBaseFolder, unsigned int inOptions, bool inPlainPath) const;
    IFolder* RetainFolder(const VString& inPath, IFolder* inBaseFolder, unsigned int inOptions,
                          bool inPlainPath) const;
    // The same, through a namespace that may be null.
    static IFile* RetainFile(const VFileSystemNamespace* inNamespace, const VString& inPath, IFolder* inBaseFolder,
                             unsigned int inOptions, bool inPlainPath);
    static IFolder* RetainFolder(const VFileSystemNamespace* inNamespace, const VString& inPath,
                                 IFolder* inBaseFolder, unsigned int inOptions, bool inPlainPath);

    // Registers the file systems a definition file (a JSON array of objects)
    // describes.
    VError LoadFromDefinitionFile(VFile* inFile);
    VError LoadFromJSONArray(const VJSONArray* inArray);

private:
    ~VFileSystemNamespace() override;

    mutable VCriticalSection fLock;
    VFileSystemMap fFileSystems;
    VFileSystemNamespace* fParent = nullptr;
};

}  // namespace qelt
