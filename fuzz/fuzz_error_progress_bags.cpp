// Errors and progress records in their bag form, from outside: the input is
// a bag (its binary stream form when the first byte is odd, else XML text
// with the root element "r"), loaded as an error context and as a progress
// record. Every error loaded is described and saved again; a record saved
// and loaded again keeps its fields.
#include <string>

#include "files/VConstPtrStream.h"
#include "fuzz/FuzzSupport.h"
#include "json/VJSONObject.h"
#include "runtime/VErrorBase.h"
#include "runtime/VErrorContext.h"
#include "runtime/VProgressIndicatorInfo.h"
#include "values/VValueBag.h"
#include "xml/VXMLBagHandler.h"

using namespace qelt;

namespace {

// The bag the input holds; null when it holds none.
VRefPtr<VValueBag> ReadBag(const uint8_t* data, size_t size)
{
    VRefPtr<VValueBag> bag = AdoptRef(new VValueBag);
    if (size == 0)
        return nullptr;
    if ((data[0] & 1) != 0) {
        VConstPtrStream in(data + 1, size - 1);
        in.OpenReading();
        const VError error = bag->ReadFromStream(&in);
        in.CloseReading();
        return error == VE_OK ? bag : nullptr;
    }
    VString text;
    text.FromBlock(data + 1, size - 1, VTC_UTF_8);
    return LoadBagFromXML(text, VString("r"), *bag, 0) == VE_OK ? bag : nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::SetupXML();
    fuzz::Scope scope;
    VRefPtr<VValueBag> bag = ReadBag(data, size);
    if (bag.Get() == nullptr)
        return 0;

    VRefPtr<VErrorContext> errors = AdoptRef(new VErrorContext(true, true));
    errors->LoadFromBag(*bag);
    for (VErrorBase* error : errors->GetErrors()) {
        VString text;
        error->GetErrorDescription(text);
        error->GetErrorString(text);
        error->GetLocation(text);
        error->DumpToString(text);
        VRefPtr<VJSONObject> json = AdoptRef(error->CreateJSONObject());
    }
    VRefPtr<VValueBag> saved = AdoptRef(new VValueBag);
    errors->SaveToBag(*saved);
    VRefPtr<VErrorContext> again = AdoptRef(new VErrorContext(true, true));
    again->LoadFromBag(*saved);
    fuzz::Check(again->GetErrorsCount() == errors->GetErrorsCount(), "saved errors load again");
    for (size_t i = 0; i < errors->GetErrorsCount(); ++i)
        fuzz::Check(again->GetErrors()[i]->GetError() == errors->GetErrors()[i]->GetError(),
                    "an error keeps its code");

    VProgressIndicatorInfo info;
    info.LoadFromBag(*bag);
    VString message;
    info.GetMessage(message);
    info.GetRate();
    VRefPtr<VJSONObject> json = AdoptRef(new VJSONObject());
    info.GetJSONObject(*json);
    VRefPtr<VValueBag> record = AdoptRef(new VValueBag);
    VString kind;
    info.SaveToBag(*record, kind, nullptr);
    VProgressIndicatorInfo back;
    back.LoadFromBag(*record);
    fuzz::Check(back.fValue == info.fValue && back.fMax == info.fMax && back.fMessage.EqualToStringRaw(info.fMessage),
                "a saved record loads again");
    return 0;
}
