// The typed reading of XML attribute text.
#include "fuzz/FuzzSupport.h"
#include "kernel/VValue.h"
#include "values/VValueBag.h"

using namespace qelt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Setup();
    fuzz::Scope scope;
    VString text;
    fuzz::MakeText(data, size, text);
    VValueSingle* value = ParseXMLValue(text);
    if (value != nullptr) {
        VString shown;
        value->GetString(shown);
        delete value;
    }
    return 0;
}
