// Text through the XLIFF reader into a localisation manager.

#include "fuzz/FuzzSupport.h"
#include "values/VValueBag.h"
#include "xml/VLocalizationManager.h"

using namespace qelt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::SetupXML();
    fuzz::Scope scope;
    if (size == 0)
        return 0;
    const bool avoidCheck = (data[0] & 0x2) != 0;
    VString text;
    fuzz::MakeText(data, size, text);
    VRefPtr<VLocalizationManager> manager = AdoptRef(new VLocalizationManager(0x0C0C));
    manager->_AnalyzeXLIFFContent(text, avoidCheck);
    manager->_AnalyzeXLIFFContent(text, !avoidCheck);
    VString found;
    manager->LocalizeStringWithKey(VString("k"), found);
    std::vector<VString> texts;
    manager->LocalizeGroupOfStringsWithAStrSharpID(1, texts);
    manager->GetOrderedStringsOfGroup(VString("g"), texts);
    VRefPtr<const VValueBag> bag = AdoptRef(manager->RetainGroupBag(VString("g")));
    return 0;
}
