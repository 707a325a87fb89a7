// ICU's data, for a toolbox that links ICU's code statically.
//
// ICU's code (libicuuc, libicui18n) is linked into each program, which
// spares the dynamic loader two large libraries bound at start; its data
// (30 MB of tables) stays in the system's shared libicudata, which has no
// code to bind. The data cannot simply be linked as a shared library: ICU's
// static code reaches it by a direct reference, which in a program becomes
// a copy of all 30 MB made by the loader at every start. So the name ICU
// refers to is defined here as an empty data package, and before main the
// real package is found in libicudata with dlopen and given to ICU, which
// looks there first. Without libicudata, ICU finds no data and its services
// fail with ICU's own errors (as a program linked to it would not start).
//
// This file is linked into every program that links the toolbox, as an
// object of its own (see CMakeLists.txt), so the definition is always there.
#include <dlfcn.h>
#include <unicode/udata.h>
#include <unicode/utypes.h>
#include <unicode/uvernum.h>

#include <cstdint>

namespace {

// A common-data package ("CmnD", format 1) with an empty table of contents.
struct EmptyDataPackage {
    uint16_t headerSize;
    uint8_t magic1;
    uint8_t magic2;
    UDataInfo info;
    char padding[8];  // the header is 32 bytes
    uint32_t count;
    uint32_t reserved;
};
static_assert(sizeof(UDataInfo) + 4 + 8 == 32);

#define QELT_ICU_STRINGIFY2(x) #x
#define QELT_ICU_STRINGIFY(x) QELT_ICU_STRINGIFY2(x)

// Gives ICU the data of the shared libicudata of the version linked.
__attribute__((constructor(101))) void LoadSharedICUData()
{
    void* library = ::dlopen("libicudata.so." U_ICU_VERSION_SHORT, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr)
        return;
    const void* data = ::dlsym(library, QELT_ICU_STRINGIFY(U_ICUDATA_ENTRY_POINT));
    if (data == nullptr)
        return;
    UErrorCode status = U_ZERO_ERROR;
    udata_setCommonData(data, &status);
}

}  // namespace

extern "C" {
extern const EmptyDataPackage U_ICUDATA_ENTRY_POINT;
alignas(16) const EmptyDataPackage U_ICUDATA_ENTRY_POINT = {
    32,
    0xda,
    0x27,
    {sizeof(UDataInfo), 0, U_IS_BIG_ENDIAN, U_CHARSET_FAMILY, U_SIZEOF_UCHAR, 0, {0x43, 0x6d, 0x6e, 0x44}, {1, 0, 0, 0},
     {0, 0, 0, 0}},
    {},
    0,
    0,
};
}
