#include "json/IJSONObject.h"

#include "json/VJSONValue.h"
#include "kernel/VString.h"
#include "runtime/VErrorBase.h"

namespace qelt {

IJSONObject::~IJSONObject() = default;

EJSONStatus IJSONObject::IJSON_GetProperty(const VJSONObject*, const VString&, VJSONValue&,
                                           VDBLanguageContext*) const
{
    return eJSONStatus_NotHandled;
}

EJSONStatus IJSONObject::IJSON_BeginChangeProperties() { return eJSONStatus_NotHandled; }

EJSONStatus IJSONObject::IJSON_EndChangeProperties() { return eJSONStatus_NotHandled; }

EJSONStatus IJSONObject::IJSON_SetProperty(VJSONObject*, const VString&, const VJSONValue&, VDBLanguageContext*)
{
    return eJSONStatus_NotHandled;
}

EJSONStatus IJSONObject::IJSON_RemoveProperty(VJSONObject*, const VString&) { return eJSONStatus_NotHandled; }

bool IJSONObject::IJSON_Clear(VJSONObject*) { return true; }

bool IJSONObject::IJSON_IsEmpty(const VJSONObject*) const
{
    // Whatever the status, an empty list of names means an empty object.
    std::vector<VString> names;
    IJSON_GetPropertyNames(names);
    return names.empty();
}

EJSONStatus IJSONObject::IJSON_Stringify(const VJSONObject*, VJSONWriter&, VString&, uint64_t*) const
{
    return eJSONStatus_NotHandled;
}

EJSONStatus IJSONObject::IJSON_Clone(const VJSONObject*, VJSONCloner&, VJSONValue&, uint64_t*) const
{
    return eJSONStatus_NotHandled;
}

OsType IJSONObject::IJSON_GetBinarySignature() const { return 0; }

void IJSONObject::IJSON_GetValueToWriteToBuffer(VJSONValue&) const {}

EJSONStatus IJSONObject::IJSON_WriteToBuffer(VMemoryBuffer<1024, 2, 1048576>&, uint64_t* outError)
{
    // An object that declares a binary form must write it itself.
    const VError error = QeltError(915);
    _ThrowError(error);
    if (outError != nullptr)
        *outError = error;
    return eJSONStatus_Failed;
}

EJSONStatus IJSONObject::IJSON_GetPropertyNames(std::vector<VString>&) const { return eJSONStatus_NotHandled; }

VValueSingle* IJSONObject::IJSON_CreateVValue() const { return nullptr; }

EJSONStatus IJSONObject::IJSON_GetPropertyStamp(const VString&, uint32_t*) const { return eJSONStatus_NotHandled; }

EJSONStatus IJSONObject::IJSON_TouchPropertyStamp(const VString&) { return eJSONStatus_NotHandled; }

EJSONStatus IJSONObject::IJSON_GetDescription(const VJSONObject*, VString&) const { return eJSONStatus_NotHandled; }

EJSONStatus IJSONObject::IJSON_GetPropertyByIndex(const VJSONObject*, size_t, VJSONValue&) const
{
    return eJSONStatus_NotHandled;
}

EJSONStatus IJSONObject::IJSON_GetCountPropertiesByIndex(const VJSONObject*, size_t*) const
{
    return eJSONStatus_NotHandled;
}

IJSONIterator* IJSONObject::IJSON_MakeIterator(const VJSONObject*, size_t, size_t, bool) const { return nullptr; }

EJSONStatus IJSONObject::IJSON_GetClassName(const VJSONObject*, VString&) const { return eJSONStatus_NotHandled; }

EJSONStatus IJSONObject::IJSON_DeepEqualTo(const VJSONObject*, const VJSONObject*, bool*) const
{
    return eJSONStatus_NotHandled;
}

bool IJSONObject::IJSON_IsSharable(const VJSONObject*, bool& outNeedsLocker) const
{
    outNeedsLocker = false;
    return false;
}

EJSONStatus IJSONObject::IJSON_CallAsFunction(const VJSONObject*, IJSONFunctionContext*)
{
    return eJSONStatus_NotHandled;
}

VJSONClass* IJSONObject::IJSON_GetFunctionClassOwner(const VJSONObject*) const { return nullptr; }

EJSONStatus IJSONObject::IJSON_SetJSONStamp(VJSONStamp*) { return eJSONStatus_NotHandled; }

void IJSONObject::IJSON_DoConnectDependencies(VJSONObject*) {}

void IJSONObject::IJSON_DoDisconnectDependencies(VJSONObject*) {}

}  // namespace qelt
