#include "json/VJSONFunctionContext.h"

#include <cmath>

#include "json/VJSONArray.h"
#include "json/VJSONBlob.h"
#include "json/VJSONClass.h"
#include "json/VJSONObject.h"
#include "runtime/VErrorBase.h"

namespace qelt {

// ---------------------------------------------------------------------------
// Typed parameter access

IJSONFunctionContext::~IJSONFunctionContext() = default;

EJSONStatus IJSONFunctionContext::GetParameterList(void**, int*, void**, bool*) { return eJSONStatus_NotHandled; }

void IJSONFunctionContext::_ParamError(int inNumber, bool inThrow) const
{
    fParamCheck = false;
    if (inThrow)
        _ThrowError(MakeVError(kSignatureVQRT, inNumber));
}

int32_t JSONNumberToInt32(double inNumber)
{
    if (std::isnan(inNumber))
        return 0;
    double truncated = std::trunc(inNumber);
    if (truncated >= 2147483647.0)
        return INT32_MAX;
    if (truncated <= -2147483648.0)
        return INT32_MIN;
    return static_cast<int32_t>(truncated);
}

bool IJSONFunctionContext::GetBlobParam(int inIndex, bool inOptional, const void** outData, size_t* outSize) const
{
    VJSONValue value = GetParam(inIndex);
    if (const VJSONBlob* blob = VJSONBlob::CastJSONObject(value.GetObject())) {
        *outData = blob->GetData();
        *outSize = blob->GetSize();
        return true;
    }
    *outData = nullptr;
    *outSize = 0;
    if (!inOptional)
        _ParamError(54);
    return false;
}

double IJSONFunctionContext::GetNumberParam(int inIndex) const
{
    VJSONValue value = GetParam(inIndex);
    if (!value.IsNumber())
        _ParamError(7);
    return value.GetNumber();
}

bool IJSONFunctionContext::GetNumberOptParam(int inIndex, double* outNumber) const
{
    VJSONValue value = GetParam(inIndex);
    if (value.IsNumber()) {
        *outNumber = value.GetNumber();
        return true;
    }
    _ParamError(7, !value.IsUndefined());
    return false;
}

int32_t IJSONFunctionContext::GetLongParam(int inIndex) const
{
    VJSONValue value = GetParam(inIndex);
    if (!value.IsNumber())
        _ParamError(7);
    return JSONNumberToInt32(value.GetNumber());
}

bool IJSONFunctionContext::GetBoolParam(int inIndex) const
{
    VJSONValue value = GetParam(inIndex);
    if (!value.IsBool())
        _ParamError(55);
    return value.GetBool();
}

VString IJSONFunctionContext::GetStringParam(int inIndex) const
{
    VJSONValue value = GetParam(inIndex);
    if (!value.IsString())
        _ParamError(8);
    VString text;
    value.GetString(text);
    return text;
}

VRefPtr<VJSONObject> IJSONFunctionContext::GetObjectParam(int inIndex) const
{
    VJSONValue value = GetParam(inIndex);
    if (!value.IsObject() || value.GetObject() == nullptr) {
        _ParamError(54);
        return nullptr;
    }
    return VRefPtr<VJSONObject>(value.GetObject());
}

VRefPtr<VJSONArray> IJSONFunctionContext::GetArrayParam(int inIndex) const
{
    VJSONValue value = GetParam(inIndex);
    if (value.GetArray() == nullptr) {
        _ParamError(54);
        return nullptr;
    }
    return VRefPtr<VJSONArray>(value.GetArray());
}

VJSONClass* IJSONFunctionContext::GetScopeClass() const
{
    VJSONObject* function = GetScopeFunctionObject();
    if (function == nullptr || function->GetImplementation() == nullptr)
        return nullptr;
    return function->GetImplementation()->IJSON_GetFunctionClassOwner(function);
}

// ---------------------------------------------------------------------------
// The model's own context

VJSONFunctionContext::VJSONFunctionContext(VJSONObject* inThisObject, VJSONArray* inThisArray,
                                           std::vector<VJSONValue>* inParameters, CDBVqBaseContext* inBaseContext,
                                           VDBLanguageContext* inLanguageContext)
    : fThisObject(inThisObject),
      fThisArray(inThisArray),
      fParameters(inParameters),
      fBaseContext(inBaseContext),
      fLanguageContext(inLanguageContext)
{
}

VJSONFunctionContext::VJSONFunctionContext(VJSONObject* inThisObject, VJSONArray* inThisArray,
                                           IJSONFunctionContext* inOuter)
    : fThisObject(inThisObject),
      fThisArray(inThisArray),
      fBaseContext(inOuter->GetBaseContext()),
      fLanguageContext(inOuter->GetLanguageContext()),
      fOuter(inOuter)
{
}

VJSONFunctionContext::~VJSONFunctionContext() = default;

void VJSONFunctionContext::SetResult(const VJSONValue& inValue, unsigned char inLegacyKind)
{
    if (fOuter != nullptr) {
        fOuter->SetResult(inValue, 5);
        return;
    }
    fResult = inValue;
    fLegacyKind = inLegacyKind;
}

void VJSONFunctionContext::GetResult(VJSONValue& outValue) const
{
    if (fOuter != nullptr)
        fOuter->GetResult(outValue);
    else
        outValue = fResult;
}

EJSONStatus VJSONFunctionContext::GetParametersAsJSONValues(std::vector<VJSONValue>** outValues) const
{
    if (fOuter != nullptr)
        return fOuter->GetParametersAsJSONValues(outValues);
    *outValues = fParameters;
    return eJSONStatus_Done;
}

EJSONStatus VJSONFunctionContext::GetParameterList(void** outList, int* outCount, void** outExtra, bool* outFlag)
{
    if (fOuter != nullptr)
        return fOuter->GetParameterList(outList, outCount, outExtra, outFlag);
    return eJSONStatus_NotHandled;
}

int VJSONFunctionContext::GetParamCount() const
{
    if (fOuter != nullptr)
        return fOuter->GetParamCount();
    return fParameters == nullptr ? 0 : static_cast<int>(fParameters->size());
}

VJSONValue VJSONFunctionContext::GetParam(int inIndex) const
{
    if (fOuter != nullptr)
        return fOuter->GetParam(inIndex);
    if (fParameters == nullptr || inIndex < 1 || static_cast<size_t>(inIndex) > fParameters->size())
        return VJSONValue(JSON_undefined);
    return VJSONValue((*fParameters)[static_cast<size_t>(inIndex - 1)]);
}

VJSONObject* VJSONFunctionContext::GetScopeThisObject() const
{
    return fOuter != nullptr ? fOuter->GetScopeThisObject() : nullptr;
}

VJSONObject* VJSONFunctionContext::GetScopeFunctionObject() const
{
    return fOuter != nullptr ? fOuter->GetScopeFunctionObject() : nullptr;
}

}  // namespace qelt
