// Bytes through the .strings reader on a memory stream.
#include "files/VConstPtrStream.h"
#include "fuzz/FuzzSupport.h"
#include "xml/VLocalizationManager.h"

using namespace qelt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Setup();
    fuzz::Scope scope;
    VRefPtr<VLocalizationManager> manager = AdoptRef(new VLocalizationManager(0x0409));
    VConstPtrStream stream(data, size);
    manager->_AnalyzeDotStringsStream(&stream);
    VString text;
    manager->LocalizeStringWithKey(VString("a"), text);
    return 0;
}
