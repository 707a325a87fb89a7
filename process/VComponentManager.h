// The process-wide registry of components: objects identified by a
// four-character type, made on demand by a creator function registered in
// the process or by a component library (a loadable library or bundle that
// exports "Main", "GetNthComponentType" and "CreateComponent"). Registered
// instances are shared; each type's declared requirements (other types with
// minimum versions) are checked once and the answer cached.
//
// Locks, always taken in this order: instances, checking, types, checked.
#pragma once

#include <cstdint>
#include <vector>

#include "kernel/VKernelTypes.h"
#include "kernel/VString.h"
#include "process/VArrayOf.h"

namespace qelt {

class VFilePath;
class VFolder;
class VLibrary;

// What a component implements. The manager retains and releases it, reads
// its information record, type and family.
//
// The information record (a block freed with VMemory::DisposePtr), in
// little-endian 32-bit fields: format at 0 (at least 0x10000), size in bytes
// at 4 (at least 52), version at 20, requirement count at 40, then from 44
// one pair per requirement: required type, minimum version (0xFFFFFFFF: any).
class CComponent {
public:
    virtual int32_t Retain(const char* inDebugInfo = nullptr) = 0;
    virtual int32_t Release(const char* inDebugInfo = nullptr) = 0;
    // Kept for the components' own use; the manager never calls it.
    virtual void Reserved() {}
    virtual void* GetComponentInfo() = 0;
    virtual uint32_t GetComponentType() = 0;
    virtual uint32_t GetComponentFamily() = 0;

protected:
    virtual ~CComponent() = default;
};

typedef CComponent* (*VComponentCreator)(uint32_t inType, uint32_t inFamily);

// The exports of a component library.
constexpr const char* kDEFAULT_MAIN_SYMBOL = "Main";
constexpr const char* kDEFAULT_GET_TYPES_SYMBOL = "GetNthComponentType";
constexpr const char* kDEFAULT_CREATE_SYMBOL = "CreateComponent";
constexpr const char* kDEFAULT_LOCK_SYMBOL = "Lock";
constexpr const char* kDEFAULT_UNLOCK_SYMBOL = "UnLock";
constexpr const char* kDEFAULT_CAN_UNLOAD_SYMBOL = "CanUnloadLibrary";
// "Main" (code, library): 'regs' after registration, 'leav' before removal.
typedef int32_t (*VComponentLibraryMain)(uint32_t inCode, VLibrary* inLibrary);
// "GetNthComponentType" (index from 1, type out): true while the index
// names a type.
typedef bool (*VComponentLibraryGetType)(int32_t inIndex, uint32_t* outType);

class VComponentManager {
public:
    // Any family.
    static constexpr uint32_t kAnyFamily = 0x42424242;  // 'BBBB'

    static bool Init();
    static void DeInit();

    static bool IsComponentAvailable(uint32_t inType);
    static VError RegisterComponentCreator(uint32_t inType, VComponentCreator inCreator, bool inForce = false);
    static VError UnRegisterComponentCreator(uint32_t inType, VComponentCreator inCreator);
    static VError UnRegisterComponentType(uint32_t inType);
    static VError RegisterComponentLibrary(const VFilePath& inPath);
    static VError UnRegisterComponentLibrary(const VFilePath& inPath);
    static VError RegisterComponentInstance(CComponent* inComponent);
    static VError UnRegisterComponentInstance(CComponent* inComponent);

    // A shared instance (one reference for the caller), made when none.
    static CComponent* RetainComponent(uint32_t inType, uint32_t inFamily = kAnyFamily);
    // A new component; null when the type is unknown or its requirements
    // are not met (unless inSkipCheck).
    static CComponent* RetainUniqueComponent(uint32_t inType, uint32_t inFamily = kAnyFamily,
                                             bool inSkipCheck = false);
    static bool RetainComponentsOfFamily(uint32_t inFamily, VArrayOf<CComponent*>* outComponents);
    static bool CheckComponentRequirements(CComponent* inComponent, bool inKeep);
    static bool ResetComponentRequirements(uint32_t inType, bool inFlag);

    // No dialect could be chosen.
    static constexpr uint32_t kNoDialect = 0xFFFFFFFE;

    // The dialect to localise with, from the language folders (names that
    // contain ".lproj") of a folder: with inIsBundle, of its
    // "Contents/Resources" subfolder. inWanted 0 lets the main bundle decide
    // from its own localisations, else looks for 1033. Answers the wanted
    // dialect when a folder of it exists, else 1033 when an English folder
    // exists, else the dialect of the last language folder examined;
    // kNoDialect for a null or missing folder. Never raises an error.
    // The folder is not retained beyond the call; null means no folder.
    static uint32_t GetLocalizationLanguage(VFolder* inFolder, bool inIsBundle, uint32_t inWanted);
    // The same on a folder named by a POSIX path; null means no folder.
    static uint32_t GetLocalizationLanguage(const VString* inFolderPath, bool inIsBundle, uint32_t inWanted);

    // The localisation the main bundle prefers among its own (Info.plist
    // "CFBundleLocalizations", else its resources' ".lproj" folders); false
    // when the program has no bundle or the bundle no localisation.
    static bool GetMainBundlePreferredLocalization(VString& outLocalization);

    // Of the localisations, the first that one of the user's languages (most
    // preferred first) names, by exact dialect then by language alone; else
    // the development region when given; else the first localisation.
    static VString ChoosePreferredLocalization(const std::vector<VString>& inLocalizations,
                                               const std::vector<VString>& inUserLanguages,
                                               const VString& inDevelopmentRegion);
};

}  // namespace qelt
