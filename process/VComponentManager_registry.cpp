// The registry side of the component manager: types, creators, libraries,
// shared instances and the cache of requirement checks.
#include <cstring>

#include "files/VFileError.h"
#include "files/VFilePath.h"
#include "kernel/VMemory.h"
#include "process/VComponentManager.h"
#include "process/VLibrary.h"
#include "runtime/VCriticalSection.h"
#include "runtime/VErrorBase.h"

namespace qelt {

namespace {

constexpr uint32_t kRegisterCode = 0x72656773;  // 'regs'
constexpr uint32_t kLeaveCode = 0x6c656176;     // 'leav'
constexpr uint32_t kAnyVersion = 0xFFFFFFFF;
constexpr int32_t kMinimumFormat = 0x10000;
constexpr uint32_t kMinimumRecordSize = 52;
constexpr uint32_t kRequirementsOffset = 44;

struct Registry {
    VArrayOf<uint32_t>* fTypes = nullptr;
    VArrayOf<VComponentCreator>* fProcs = nullptr;
    VArrayOf<VLibrary*>* fLibraries = nullptr;
    VArrayOf<CComponent*>* fInstances = nullptr;
    VArrayOf<uint32_t>* fChecked = nullptr;
    VArrayOf<uint8_t>* fIsAvailable = nullptr;
    VArrayOf<uint8_t>* fHasRequirements = nullptr;
    VArrayOf<uint32_t>* fChecking = nullptr;
    VCriticalSection* fAccessingTypes = nullptr;
    VCriticalSection* fAccessingInstances = nullptr;
    VCriticalSection* fAccessingChecked = nullptr;
    VCriticalSection* fAccessingChecking = nullptr;
    bool fIsInitialized = false;
};

Registry& R()
{
    static Registry sRegistry;
    return sRegistry;
}

uint32_t ReadU32(const uint8_t* inBytes, size_t inOffset)
{
    return static_cast<uint32_t>(inBytes[inOffset]) | (static_cast<uint32_t>(inBytes[inOffset + 1]) << 8) |
           (static_cast<uint32_t>(inBytes[inOffset + 2]) << 16) | (static_cast<uint32_t>(inBytes[inOffset + 3]) << 24);
}

// The information record, or null (and disposed) when it is too short for
// what it declares: format, size and requirement count are checked before a
// requirement is read.
const uint8_t* CheckedRecord(void* inRecord, int32_t& outCount)
{
    outCount = 0;
    if (inRecord == nullptr)
        return nullptr;
    const auto* bytes = static_cast<const uint8_t*>(inRecord);
    const int32_t format = static_cast<int32_t>(ReadU32(bytes, 0));
    const uint32_t size = ReadU32(bytes, 4);
    if (format < kMinimumFormat || size < kMinimumRecordSize) {
        VMemory::DisposePtr(inRecord);
        return nullptr;
    }
    const int32_t count = static_cast<int32_t>(ReadU32(bytes, 40));
    if (count < 0 || static_cast<uint64_t>(count) * 8 + kRequirementsOffset > size) {
        VMemory::DisposePtr(inRecord);
        return nullptr;
    }
    outCount = count;
    return bytes;
}

uint32_t RecordVersion(CComponent* inComponent, bool& outHasRecord)
{
    int32_t count = 0;
    const uint8_t* record = CheckedRecord(inComponent->GetComponentInfo(), count);
    outHasRecord = record != nullptr;
    if (record == nullptr)
        return 0;
    const uint32_t version = ReadU32(record, 20);
    VMemory::DisposePtr(const_cast<uint8_t*>(record));
    return version;
}

template <class Library>
Library Lookup(VLibrary* inLibrary, const char* inName)
{
    return reinterpret_cast<Library>(inLibrary->GetProcAddress(VString(inName)));
}

void RemoveType(int32_t inPos)
{
    Registry& r = R();
    r.fTypes->DeleteNth(inPos);
    r.fProcs->DeleteNth(inPos);
    r.fLibraries->DeleteNth(inPos);
}

}  // namespace

bool VComponentManager::Init()
{
    Registry& r = R();
    if (r.fIsInitialized)
        return true;
    r.fTypes = new VArrayOf<uint32_t>(10);
    r.fProcs = new VArrayOf<VComponentCreator>(10);
    r.fLibraries = new VArrayOf<VLibrary*>(10);
    r.fInstances = new VArrayOf<CComponent*>(10);
    r.fChecked = new VArrayOf<uint32_t>(10);
    r.fIsAvailable = new VArrayOf<uint8_t>(10);
    r.fHasRequirements = new VArrayOf<uint8_t>(10);
    r.fChecking = new VArrayOf<uint32_t>(10);
    r.fAccessingTypes = new VCriticalSection;
    r.fAccessingInstances = new VCriticalSection;
    r.fAccessingChecked = new VCriticalSection;
    r.fAccessingChecking = new VCriticalSection;
    r.fIsInitialized = true;
    return true;
}

void VComponentManager::DeInit()
{
    Registry& r = R();
    if (!r.fIsInitialized)
        return;
    r.fIsInitialized = false;
    // The library references the type list holds go with it.
    if (r.fLibraries != nullptr) {
        for (int32_t i = 1; i <= r.fLibraries->GetCount(); ++i) {
            if (VLibrary* library = r.fLibraries->GetNth(i); library != nullptr)
                library->Release();
        }
    }
    delete r.fTypes;
    delete r.fProcs;
    delete r.fLibraries;
    delete r.fInstances;
    delete r.fChecked;
    delete r.fIsAvailable;
    delete r.fHasRequirements;
    delete r.fChecking;
    delete r.fAccessingTypes;
    delete r.fAccessingInstances;
    delete r.fAccessingChecked;
    delete r.fAccessingChecking;
    r = Registry();
}

bool VComponentManager::IsComponentAvailable(uint32_t inType)
{
    Registry& r = R();
    if (!r.fIsInitialized)
        return false;
    StLocker lock(r.fAccessingTypes);
    return r.fTypes->FindPos(inType) != 0;
}

bool VComponentManager::ResetComponentRequirements(uint32_t inType, bool inFlag)
{
    Registry& r = R();
    const int32_t pos = r.fChecked->FindPos(inType);
    if (pos == 0)
        return false;
    const bool unavailable = pos > r.fIsAvailable->GetCount() || r.fIsAvailable->GetNth(pos) == 0;
    if (unavailable != inFlag)
        return false;
    if (!inFlag && !(pos <= r.fHasRequirements->GetCount() && r.fHasRequirements->GetNth(pos) != 0))
        return false;
    r.fChecked->DeleteNth(pos);
    r.fIsAvailable->DeleteNth(pos);
    r.fHasRequirements->DeleteNth(pos);
    return true;
}

VError VComponentManager::RegisterComponentCreator(uint32_t inType, VComponentCreator inCreator, bool inForce)
{
    Registry& r = R();
    if (!r.fIsInitialized)
        return QeltError(1000);
    StLocker types(r.fAccessingTypes);
    StLocker checked(r.fAccessingChecked);
    const int32_t pos = r.fTypes->FindPos(inType);
    if (pos != 0) {
        if (!inForce && r.fProcs->GetNth(pos) == inCreator)
            return QeltError(1002);
        r.fProcs->First()[pos - 1] = inCreator;
        return 0;
    }
    const int32_t end = r.fTypes->GetCount() + 1;
    if (!r.fProcs->AddNth(inCreator, end))
        return QeltError(100);
    if (!r.fTypes->AddNth(inType, end)) {
        r.fProcs->DeleteNth(end);
        return QeltError(100);
    }
    if (!r.fLibraries->AddNth(nullptr, end)) {
        r.fProcs->DeleteNth(end);
        r.fTypes->DeleteNth(end);
        return QeltError(100);
    }
    ResetComponentRequirements(inType, false);
    return 0;
}

VError VComponentManager::UnRegisterComponentCreator(uint32_t inType, VComponentCreator inCreator)
{
    Registry& r = R();
    if (!r.fIsInitialized)
        return QeltError(1000);
    StLocker types(r.fAccessingTypes);
    StLocker checked(r.fAccessingChecked);
    const int32_t pos = r.fTypes->FindPos(inType);
    if (pos == 0 || r.fProcs->GetNth(pos) != inCreator)
        return QeltError(1001);
    if (r.fLibraries->GetNth(pos) != nullptr) {
        r.fProcs->First()[pos - 1] = nullptr;
        return 0;
    }
    RemoveType(pos);
    ResetComponentRequirements(inType, true);
    return 0;
}

VError VComponentManager::UnRegisterComponentType(uint32_t inType)
{
    Registry& r = R();
    if (!r.fIsInitialized)
        return QeltError(1000);
    StLocker types(r.fAccessingTypes);
    const int32_t pos = r.fTypes->FindPos(inType);
    if (pos == 0)
        return QeltError(1003);
    if (VLibrary* library = r.fLibraries->GetNth(pos); library != nullptr)
        library->Release();
    RemoveType(pos);
    return 0;
}

VError VComponentManager::RegisterComponentLibrary(const VFilePath& inPath)
{
    Registry& r = R();
    if (!r.fIsInitialized) {
        _ThrowError(QeltError(1000));
        return QeltError(1000);
    }
    {
        StLocker types(r.fAccessingTypes);
        for (int32_t i = 1; i <= r.fLibraries->GetCount(); ++i) {
            VLibrary* library = r.fLibraries->GetNth(i);
            if (library != nullptr && library->IsSameFile(inPath)) {
                _ThrowError(QeltError(1002));
                return QeltError(1002);
            }
        }
    }
    auto* library = new VLibrary(inPath);
    if (!library->Load()) {
        _PushRetainedError(new VFileError(inPath, QeltError(1008)), 0);
        library->Release();
        return QeltError(100);
    }
    auto main = Lookup<VComponentLibraryMain>(library, kDEFAULT_MAIN_SYMBOL);
    auto getType = Lookup<VComponentLibraryGetType>(library, kDEFAULT_GET_TYPES_SYMBOL);
    auto create = Lookup<VComponentCreator>(library, kDEFAULT_CREATE_SYMBOL);
    if (main == nullptr || getType == nullptr || create == nullptr) {
        library->Release();
        return QeltError(1004);
    }
    {
        StLocker types(r.fAccessingTypes);
        StLocker checked(r.fAccessingChecked);
        main(kRegisterCode, library);
        uint32_t type = 0;
        for (int32_t index = 1; getType(index, &type); ++index) {
            const int32_t pos = r.fTypes->FindPos(type);
            if (pos != 0) {
                // The entry's previous library gives up its reference.
                VLibrary*& entry = r.fLibraries->First()[pos - 1];
                VLibrary* previous = entry;
                entry = library;
                library->Retain();
                if (previous != nullptr)
                    previous->Release();
            } else {
                const int32_t end = r.fTypes->GetCount() + 1;
                if (!r.fLibraries->AddNth(library, end))
                    break;
                if (!r.fProcs->AddNth(nullptr, end)) {
                    r.fLibraries->DeleteNth(end);
                    break;
                }
                if (!r.fTypes->AddNth(type, end)) {
                    r.fLibraries->DeleteNth(end);
                    r.fProcs->DeleteNth(end);
                    break;
                }
                library->Retain();
            }
            ResetComponentRequirements(type, false);
        }
    }
    library->Release();
    return 0;
}

VError VComponentManager::UnRegisterComponentLibrary(const VFilePath& inPath)
{
    Registry& r = R();
    if (!r.fIsInitialized)
        return QeltError(1000);
    StLocker types(r.fAccessingTypes);
    StLocker checked(r.fAccessingChecked);
    bool matched = false;
    for (int32_t pos = r.fLibraries->GetCount(); pos >= 1; --pos) {
        VLibrary* library = r.fLibraries->GetNth(pos);
        if (library == nullptr || !library->IsSameFile(inPath))
            continue;
        const uint32_t type = r.fTypes->GetNth(pos);
        if (r.fProcs->GetNth(pos) != nullptr) {
            r.fLibraries->First()[pos - 1] = nullptr;
        } else {
            RemoveType(pos);
            ResetComponentRequirements(type, true);
        }
        if (!matched) {
            if (auto main = Lookup<VComponentLibraryMain>(library, kDEFAULT_MAIN_SYMBOL); main != nullptr)
                main(kLeaveCode, nullptr);
        }
        matched = true;
        library->Release();
    }
    return matched ? VError(0) : QeltError(1001);
}

VError VComponentManager::RegisterComponentInstance(CComponent* inComponent)
{
    Registry& r = R();
    if (!r.fIsInitialized)
        return QeltError(1000);
    if (inComponent == nullptr)
        return QeltError(3);
    StLocker lock(r.fAccessingInstances);
    if (r.fInstances->FindPos(inComponent) != 0)
        return QeltError(1002);
    return r.fInstances->AddNth(inComponent, r.fInstances->GetCount() + 1) ? VError(0) : QeltError(100);
}

VError VComponentManager::UnRegisterComponentInstance(CComponent* inComponent)
{
    Registry& r = R();
    if (!r.fIsInitialized)
        return QeltError(1000);
    if (inComponent == nullptr)
        return QeltError(3);
    StLocker lock(r.fAccessingInstances);
    const int32_t pos = r.fInstances->FindPos(inComponent);
    if (pos == 0)
        return QeltError(1003);
    r.fInstances->DeleteNth(pos);
    return 0;
}

CComponent* VComponentManager::RetainUniqueComponent(uint32_t inType, uint32_t inFamily, bool inSkipCheck)
{
    Registry& r = R();
    if (!r.fIsInitialized)
        return nullptr;
    CComponent* component = nullptr;
    {
        StLocker types(r.fAccessingTypes);
        const int32_t pos = r.fTypes->FindPos(inType);
        if (pos == 0)
            return nullptr;
        if (VComponentCreator creator = r.fProcs->GetNth(pos); creator != nullptr) {
            component = creator(inType, inFamily);
        } else if (VLibrary* library = r.fLibraries->GetNth(pos); library != nullptr) {
            if (auto create = Lookup<VComponentCreator>(library, kDEFAULT_CREATE_SYMBOL); create != nullptr)
                component = create(inType, inFamily);
        }
    }
    if (component == nullptr || inSkipCheck)
        return component;
    if (CheckComponentRequirements(component, false))
        return component;
    component->Release();
    return nullptr;
}

CComponent* VComponentManager::RetainComponent(uint32_t inType, uint32_t inFamily)
{
    Registry& r = R();
    if (!r.fIsInitialized)
        return nullptr;
    StLocker lock(r.fAccessingInstances);
    for (int32_t i = 1; i <= r.fInstances->GetCount(); ++i) {
        CComponent* instance = r.fInstances->GetNth(i);
        if (instance->GetComponentType() == inType &&
            (inFamily == kAnyFamily || instance->GetComponentFamily() == inFamily)) {
            instance->Retain();
            return instance;
        }
    }
    CComponent* component = RetainUniqueComponent(inType, inFamily, false);
    if (component != nullptr && r.fIsInitialized && r.fInstances->FindPos(component) == 0)
        r.fInstances->AddNth(component, r.fInstances->GetCount() + 1);
    return component;
}

bool VComponentManager::RetainComponentsOfFamily(uint32_t inFamily, VArrayOf<CComponent*>* outComponents)
{
    Registry& r = R();
    if (outComponents == nullptr || !r.fIsInitialized)
        return false;
    // The types are copied, so that no types lock is held while an instance
    // is looked for (the instances lock comes first).
    std::vector<uint32_t> types;
    {
        StLocker lock(r.fAccessingTypes);
        for (int32_t i = 1; i <= r.fTypes->GetCount(); ++i)
            types.push_back(r.fTypes->GetNth(i));
    }
    for (uint32_t type : types) {
        if (CComponent* component = RetainComponent(type, inFamily); component != nullptr)
            outComponents->AddNth(component, outComponents->GetCount() + 1);
    }
    return true;
}

bool VComponentManager::CheckComponentRequirements(CComponent* inComponent, bool inKeep)
{
    Registry& r = R();
    if (inComponent == nullptr || !r.fIsInitialized)
        return false;
    const uint32_t type = inComponent->GetComponentType();
    {
        StLocker checked(r.fAccessingChecked);
        if (const int32_t pos = r.fChecked->FindPos(type); pos != 0)
            return pos <= r.fIsAvailable->GetCount() && r.fIsAvailable->GetNth(pos) != 0;
    }

    StLocker checking(r.fAccessingChecking);
    r.fChecking->AddNth(type, r.fChecking->GetCount() + 1);
    auto leave = [&r, type] {
        if (const int32_t pos = r.fChecking->FindPos(type); pos != 0)
            r.fChecking->DeleteNth(pos);
    };

    int32_t count = 0;
    const uint8_t* record = CheckedRecord(inComponent->GetComponentInfo(), count);
    if (record == nullptr) {
        leave();
        return false;
    }

    bool available = true;
    bool hasRequirements = count > 0;
    VArrayRetainedPtrOf<CComponent*> held(10, false, true);
    for (int32_t i = 0; i < count && available; ++i) {
        const uint32_t required = ReadU32(record, kRequirementsOffset + 8 * static_cast<size_t>(i));
        const uint32_t minimum = ReadU32(record, kRequirementsOffset + 8 * static_cast<size_t>(i) + 4);
        if (required == type)
            continue;
        bool known;
        {
            StLocker checked(r.fAccessingChecked);
            known = r.fChecked->FindPos(required) != 0 || r.fChecking->FindPos(required) != 0;
        }
        if (known && minimum == kAnyVersion)
            continue;
        CComponent* component = RetainUniqueComponent(required, kAnyFamily, known);
        if (component == nullptr) {
            available = false;
            if (i == 0)
                hasRequirements = false;
            break;
        }
        if (minimum != kAnyVersion) {
            bool hasRecord = false;
            const uint32_t version = RecordVersion(component, hasRecord);
            if (hasRecord)
                available = minimum <= version;
        }
        if (inKeep)
            held.AddNth(component, held.GetCount() + 1);
        else
            component->Release();
    }
    if (inKeep && available) {
        // The required components stay retained for good: each gets the
        // reference that the local list gives back when it goes.
        for (int32_t i = 1; i <= held.GetCount(); ++i)
            held.GetNth(i)->Retain();
    }
    VMemory::DisposePtr(const_cast<uint8_t*>(record));
    {
        StLocker checked(r.fAccessingChecked);
        if (r.fChecked->FindPos(type) == 0) {
            const int32_t end = r.fChecked->GetCount() + 1;
            r.fChecked->AddNth(type, end);
            r.fIsAvailable->AddNth(available ? 1 : 0, end);
            r.fHasRequirements->AddNth(hasRequirements ? 1 : 0, end);
        }
    }
    leave();
    return available;
}

}  // namespace qelt
