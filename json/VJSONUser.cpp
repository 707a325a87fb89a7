#include "json/VJSONUser.h"

#include "json/VJSONArray.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"

namespace qelt {

VJSONUser::VJSONUser(VRefPtr<VStorageLocker>&& inLocker, bool inTryOnly) : fLocker(std::move(inLocker))
{
    _Start(inTryOnly);
}

VJSONUser::VJSONUser(const VJSONObject* inObject, bool inTryOnly)
{
    if (inObject != nullptr)
        fLocker = inObject->GetStorageLocker();
    _Start(inTryOnly);
}

VJSONUser::VJSONUser(const VJSONArray* inArray, bool inTryOnly)
{
    if (inArray != nullptr)
        fLocker = inArray->GetStorageLocker();
    _Start(inTryOnly);
}

VJSONUser::VJSONUser(const VJSONValue& inValue, bool inTryOnly)
{
    if (const VJSONObject* object = inValue.GetObject())
        fLocker = object->GetStorageLocker();
    else if (const VJSONArray* array = inValue.GetArray())
        fLocker = array->GetStorageLocker();
    _Start(inTryOnly);
}

void VJSONUser::_Start(bool inTryOnly)
{
    if (!fLocker) {
        // Nothing to use, nothing to end.
        fInUse = true;
        return;
    }
    fInUse = inTryOnly ? fLocker->TryToUse() : fLocker->Use();
}

VJSONUser::~VJSONUser()
{
    if (fLocker && fInUse)
        fLocker->EndUse();
    fLocker.Clear();
}

}  // namespace qelt
