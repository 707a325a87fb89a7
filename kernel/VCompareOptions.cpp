#include "kernel/VCompareOptions.h"

#include "json/VJSONObject.h"
#include "kernel/VString.h"
#include "kernel/VTaskServices.h"

namespace qelt {

VCompareOptions::VCompareOptions() : fIntlMgr(GetCurrentTaskIntlMgr())
{
}

VCompareOptions::~VCompareOptions() = default;

VError VCompareOptions::ToJSON(VJSONObject* ioObject) const
{
    if (ioObject != nullptr)
        ioObject->SetProperty(VString("diacritical"), VJSONValue(fDiacritical != 0 ? JSON_true : JSON_false), nullptr);
    return VE_OK;
}

VError VCompareOptions::FromJSON(const VJSONObject* inObject)
{
    if (inObject == nullptr)
        return VE_OK;
    VJSONValue value = inObject->GetProperty(VString("diacritical"), nullptr);
    if (value.GetType() == JSON_false || value.GetType() == JSON_true)
        fDiacritical = value.GetBool() ? 1 : 0;
    return VE_OK;
}

}  // namespace qelt
