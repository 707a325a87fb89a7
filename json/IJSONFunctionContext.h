// What a called JSON function receives: the object or array it was called
// on, its parameters (numbered from 1), where its result goes, and typed
// getters that raise the toolbox's parameter-type errors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "json/IJSONObject.h"
#include "json/VJSONValue.h"
#include "kernel/IRefCountable.h"
#include "kernel/VString.h"

namespace qelt {

class VJSONArray;
class VJSONClass;

class IJSONFunctionContext {
public:
    virtual VJSONObject* GetThisObject() const = 0;
    virtual VJSONArray* GetThisArray() const = 0;
    virtual void SetResult(const VJSONValue& inValue, unsigned char inLegacyKind) = 0;
    virtual void GetResult(VJSONValue& outValue) const = 0;
    virtual unsigned char GetResultLegacyValueKind() const = 0;
    virtual bool GetResultIsExpected() const = 0;
    virtual EJSONStatus GetParametersAsJSONValues(std::vector<VJSONValue>** outValues) const = 0;
    // Not handled by default.
    virtual EJSONStatus GetParameterList(void** outList, int* outCount, void** outExtra, bool* outFlag);
    virtual CDBVqBaseContext* GetBaseContext() const = 0;
    virtual VDBLanguageContext* GetLanguageContext() const = 0;
    virtual int GetParamCount() const = 0;
    // Undefined for an index below 1 or above the count.
    virtual VJSONValue GetParam(int inIndex) const = 0;
    // True with the first byte and the size of a blob parameter; false (and
    // 'VqRT' 54 unless optional) for anything else.
    virtual bool GetBlobParam(int inIndex, bool inOptional, const void** outData, size_t* outSize) const;
    virtual VJSONObject* GetScopeThisObject() const = 0;
    virtual VJSONObject* GetScopeFunctionObject() const = 0;
    virtual ~IJSONFunctionContext();

    // Typed getters: a parameter of another type clears the check flag and
    // throws 'VqRT' 7 (number), 8 (string), 55 (boolean) or 54 (object or
    // array); the call goes on with the parameter's own view of the value.
    double GetNumberParam(int inIndex) const;
    // An absent (undefined) parameter answers false without error.
    bool GetNumberOptParam(int inIndex, double* outNumber) const;
    // Truncated toward zero and clamped to the 32-bit range; NaN gives 0.
    int32_t GetLongParam(int inIndex) const;
    bool GetBoolParam(int inIndex) const;
    VString GetStringParam(int inIndex) const;
    VRefPtr<VJSONObject> GetObjectParam(int inIndex) const;
    VRefPtr<VJSONArray> GetArrayParam(int inIndex) const;
    // The class owning the function being called, or null.
    VJSONClass* GetScopeClass() const;

    bool GetParamCheckFlag() const { return fParamCheck; }

protected:
    void _ParamError(int inNumber, bool inThrow = true) const;

private:
    mutable bool fParamCheck = true;
};

// Truncates toward zero into the 32-bit range (NaN gives 0).
int32_t JSONNumberToInt32(double inNumber);

}  // namespace qelt
