// The interface through which a JSON object hands part of its behaviour to
// native code. Each operation has a default that declines (status 1), so
// that the object applies its own behaviour.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "kernel/IRefCountable.h"
#include "kernel/VKernelTypes.h"
#include "values/VMemoryBuffer.h"

namespace qelt {

class VString;
class VJSONValue;
class VJSONObject;
class VJSONStamp;
class VJSONWriter;
class VJSONCloner;
class VJSONClass;
class VValueSingle;
class IJSONFunctionContext;
class VDBLanguageContext;
class CDBVqBaseContext;

// The answer of custom-object operations, native functions and calls.
enum EJSONStatus : int {
    eJSONStatus_Done = 0,        // handled
    eJSONStatus_NotHandled = 1,  // the caller's own behaviour applies
    eJSONStatus_Failed = 2       // an error has been raised
};

// An iterator an implementation may give for its values.
class IJSONIterator : public IRefCountable {
public:
    // The next value; false at the end.
    virtual bool Next(VJSONValue& outValue) = 0;
};

class IJSONObject : public IRefCountable {
public:
    ~IJSONObject() override;

    virtual EJSONStatus IJSON_GetProperty(const VJSONObject* inObject, const VString& inName, VJSONValue& outValue,
                                          VDBLanguageContext* inContext) const;
    virtual EJSONStatus IJSON_BeginChangeProperties();
    virtual EJSONStatus IJSON_EndChangeProperties();
    virtual EJSONStatus IJSON_SetProperty(VJSONObject* inObject, const VString& inName, const VJSONValue& inValue,
                                          VDBLanguageContext* inContext);
    virtual EJSONStatus IJSON_RemoveProperty(VJSONObject* inObject, const VString& inName);
    virtual bool IJSON_Clear(VJSONObject* inObject);
    // Default: whether IJSON_GetPropertyNames lists no name.
    virtual bool IJSON_IsEmpty(const VJSONObject* inObject) const;
    virtual EJSONStatus IJSON_Stringify(const VJSONObject* inObject, VJSONWriter& inWriter, VString& outText,
                                        uint64_t* outError) const;
    virtual EJSONStatus IJSON_Clone(const VJSONObject* inObject, VJSONCloner& inCloner, VJSONValue& outClone,
                                    uint64_t* outError) const;
    virtual OsType IJSON_GetBinarySignature() const;
    virtual void IJSON_GetValueToWriteToBuffer(VJSONValue& ioValue) const;
    // Default: raises 'qelt' 915, stores it in *outError and fails.
    virtual EJSONStatus IJSON_WriteToBuffer(VMemoryBuffer<1024, 2, 1048576>& ioBuffer, uint64_t* outError);
    virtual EJSONStatus IJSON_GetPropertyNames(std::vector<VString>& outNames) const;
    virtual VValueSingle* IJSON_CreateVValue() const;
    virtual EJSONStatus IJSON_GetPropertyStamp(const VString& inName, uint32_t* outStamp) const;
    virtual EJSONStatus IJSON_TouchPropertyStamp(const VString& inName);
    virtual EJSONStatus IJSON_GetDescription(const VJSONObject* inObject, VString& outDescription) const;
    virtual EJSONStatus IJSON_GetPropertyByIndex(const VJSONObject* inObject, size_t inIndex,
                                                 VJSONValue& outValue) const;
    virtual EJSONStatus IJSON_GetCountPropertiesByIndex(const VJSONObject* inObject, size_t* outCount) const;
    virtual IJSONIterator* IJSON_MakeIterator(const VJSONObject* inObject, size_t inFirst, size_t inSecond,
                                              bool inFlag) const;
    virtual EJSONStatus IJSON_GetClassName(const VJSONObject* inObject, VString& outName) const;
    virtual EJSONStatus IJSON_DeepEqualTo(const VJSONObject* inObject, const VJSONObject* inOther,
                                          bool* outEqual) const;
    // True declares the object usable by several tasks without a locker of
    // its own (unless outNeedsLocker is set).
    virtual bool IJSON_IsSharable(const VJSONObject* inObject, bool& outNeedsLocker) const;
    virtual EJSONStatus IJSON_CallAsFunction(const VJSONObject* inFunction, IJSONFunctionContext* inContext);
    virtual VJSONClass* IJSON_GetFunctionClassOwner(const VJSONObject* inFunction) const;
    virtual EJSONStatus IJSON_SetJSONStamp(VJSONStamp* inStamp);
    // Called once at the end of the object's construction / first in its
    // destruction, for an implementation that holds JSON containers.
    virtual void IJSON_DoConnectDependencies(VJSONObject* inObject);
    virtual void IJSON_DoDisconnectDependencies(VJSONObject* inObject);
};

}  // namespace qelt
