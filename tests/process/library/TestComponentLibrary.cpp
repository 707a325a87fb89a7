// A component library for the tests: it serves the types 'tsA' and 'tsB'
// (version 3, no requirements) and counts the calls of its "Main".
#include <atomic>
#include <cstring>

#include "kernel/VMemory.h"
#include "process/VComponentManager.h"

namespace {

std::atomic<int> sRegistered{0};
std::atomic<int> sLeft{0};

class LibraryComponent : public qelt::CComponent {
public:
    LibraryComponent(uint32_t inType, uint32_t inFamily) : fType(inType), fFamily(inFamily) {}
    int32_t Retain(const char*) override { return ++fCount; }
    int32_t Release(const char*) override
    {
        int32_t count = --fCount;
        if (count == 0)
            delete this;
        return count;
    }
    void* GetComponentInfo() override
    {
        auto* record = static_cast<uint8_t*>(qelt::VMemory::NewPtrClear(52, 0));
        if (record == nullptr)
            return nullptr;
        const uint32_t format = 0x10000, size = 52, version = 3;
        std::memcpy(record, &format, 4);
        std::memcpy(record + 4, &size, 4);
        std::memcpy(record + 20, &version, 4);
        return record;
    }
    uint32_t GetComponentType() override { return fType; }
    uint32_t GetComponentFamily() override { return fFamily; }

private:
    std::atomic<int32_t> fCount{1};
    uint32_t fType;
    uint32_t fFamily;
};

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int32_t Main(uint32_t inCode, qelt::VLibrary*)
{
    if (inCode == 0x72656773)
        ++sRegistered;
    else if (inCode == 0x6c656176)
        ++sLeft;
    return 0;
}

__attribute__((visibility("default"))) bool GetNthComponentType(int32_t inIndex, uint32_t* outType)
{
    static const uint32_t kTypes[] = {0x74734100, 0x74734200};  // 'tsA\0', 'tsB\0'
    if (inIndex < 1 || inIndex > 2)
        return false;
    *outType = kTypes[inIndex - 1];
    return true;
}

__attribute__((visibility("default"))) qelt::CComponent* CreateComponent(uint32_t inType, uint32_t inFamily)
{
    return new LibraryComponent(inType, inFamily);
}

__attribute__((visibility("default"))) int TestMainCalls(int inLeaving) { return inLeaving ? sLeft.load() : sRegistered.load(); }

}  // extern "C"
